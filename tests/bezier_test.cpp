// Tests of the rational Bezier kernel: basis, evaluation, derivatives,
// curvature, length, boxes, polygons and nets, degenerate sides.
#include "bezier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "geom.h"
#include "geom_fixture.h"
#include "message.h"

namespace {

class BezierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const double lo[3] = {-1, -1, -1}, hi[3] = {1, 1, 1};
    mgn_set_geometric_tolerance(lo, hi);
    mgn_set.warnings_suppressed = false;
    mgn_set.quiet = false;
  }
  mgn_geom_store store;
};

double binomial(int n, int k) {
  double r = 1.0;
  for (int i = 1; i <= k; ++i) r = r * (n - k + i) / i;
  return r;
}

// ---------------------------------------------------------------------------
// Basis
// ---------------------------------------------------------------------------

TEST_F(BezierTest, BasisMatchesBinomialFormulaForAllOrders) {
  for (int n = 1; n <= MGN_MAX_ORDER; ++n)
    for (double t : {0.0, 0.13, 0.5, 0.77, 1.0}) {
      double b[16];
      mgn_bernstein_basis(n, t, b);
      double sum = 0.0;
      for (int i = 0; i < n; ++i) {
        const double expected = binomial(n - 1, i) * std::pow(t, i) * std::pow(1 - t, n - 1 - i);
        EXPECT_NEAR(b[i], expected, 1e-14) << "order " << n << " t " << t << " i " << i;
        sum += b[i];
      }
      EXPECT_NEAR(sum, 1.0, 1e-14);
    }
}

// Derivatives of every order agree with central differences of the next
// lower derivative, and the first and second with their own routines.
TEST_F(BezierTest, BasisDerivativesAgreeWithDifferences) {
  const double h = 1e-6;
  for (int n = 1; n <= MGN_MAX_ORDER; ++n)
    for (double t : {0.1, 0.42, 0.9}) {
      double d1[16], d2[16], k1[16], k2[16];
      mgn_bernstein_basis_derivative(n, t, d1);
      mgn_bernstein_basis_second_derivative(n, t, d2);
      mgn_bernstein_basis_kth_derivative(1, n, t, k1);
      mgn_bernstein_basis_kth_derivative(2, n, t, k2);
      for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(d1[i], k1[i], 1e-9 * (1 + std::fabs(d1[i])));
        EXPECT_NEAR(d2[i], k2[i], 1e-9 * (1 + std::fabs(d2[i])));
      }
      for (int k = 1; k <= std::min(n - 1, 5); ++k) {
        double lo[16], hi[16], dk[16];
        mgn_bernstein_basis_kth_derivative(k - 1, n, t - h, lo);
        mgn_bernstein_basis_kth_derivative(k - 1, n, t + h, hi);
        mgn_bernstein_basis_kth_derivative(k, n, t, dk);
        double scale = 1.0;
        for (int i = 0; i < n; ++i) scale = std::max(scale, std::fabs(dk[i]));
        for (int i = 0; i < n; ++i)
          EXPECT_NEAR(dk[i], (hi[i] - lo[i]) / (2 * h), 1e-5 * scale)
              << "order " << n << " k " << k << " i " << i;
      }
      double dn[16];
      mgn_bernstein_basis_kth_derivative(n, n, t, dn);
      for (int i = 0; i < n; ++i) EXPECT_EQ(dn[i], 0.0);
    }
}

// ---------------------------------------------------------------------------
// Quarter circle
// ---------------------------------------------------------------------------

struct circle_case {
  double weight;
  double radius_tol;
  double curvature_tol;
  double length_tol;
};

TEST_F(BezierTest, QuarterCircleRadiusCurvatureAndLength) {
  // The exact weight cos 45 degrees and its single-precision value as found in
  // model files: that curve is off the circle by 2.7e-9 in radius and its
  // length is pi/2 - 2.24e-9.
  for (const circle_case& c : {circle_case{std::sqrt(0.5), 1e-12, 1e-9, 1e-11},
                               circle_case{0.70710677, 1e-8, 1e-7, 3e-9}}) {
    mgn_curve* q = store.curve(1, {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {1.0, c.weight, 1.0});
    for (int i = 0; i <= 64; ++i) {
      const double t = i / 64.0;
      double p[3];
      mgn_get_curve_point(q, t, p);
      EXPECT_NEAR(std::hypot(p[0], p[1]), 1.0, c.radius_tol) << "t " << t;
      EXPECT_NEAR(mgn_get_curve_curvature(q, t), 1.0, c.curvature_tol) << "t " << t;
    }
    EXPECT_NEAR(mgn_integrate_curve_length(q, 0.0, 1.0), std::numbers::pi / 2, c.length_tol);
    // A part of the arc: the angle between its end points.
    double a[3], b[3];
    mgn_get_curve_point(q, 0.2, a);
    mgn_get_curve_point(q, 0.7, b);
    const double angle = std::atan2(b[1], b[0]) - std::atan2(a[1], a[0]);
    EXPECT_NEAR(mgn_integrate_curve_length(q, 0.2, 0.7), angle, c.length_tol);
  }
}

TEST_F(BezierTest, EndParametersReproduceEndVerticesExactly) {
  std::mt19937 rng(7);
  for (int n = 2; n <= MGN_MAX_ORDER; ++n) {
    auto pts = mgn_random_points(rng, n);
    mgn_curve* c = store.curve(n, pts, mgn_random_weights(rng, n));
    double p[3];
    mgn_get_curve_point(c, 0.0, p);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(p[k], c->vertex[0]->ctrl_point->xyz[k]);
    mgn_get_curve_point(c, 1.0, p);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(p[k], c->vertex[1]->ctrl_point->xyz[k]);
  }
  for (int n : {2, 3, 5, 16}) {
    auto pts = mgn_random_points(rng, n * n);
    mgn_surface* s = store.surface(n, n, n, pts, mgn_random_weights(rng, n * n));
    const int corner[4][3] = {{0, 0, 0}, {1, 0, n - 1}, {0, 1, n * (n - 1)}, {1, 1, n * n - 1}};
    for (const auto& c : corner) {
      double p[3];
      mgn_get_surface_point(s, c[0], c[1], p);
      for (int k = 0; k < 3; ++k) EXPECT_EQ(p[k], pts[c[2]][k]);
    }
  }
}

// ---------------------------------------------------------------------------
// Derivatives against central differences, random rational entities
// ---------------------------------------------------------------------------

struct order_case {
  int nu, nv;
};

TEST_F(BezierTest, CurveDerivativesAgreeWithCentralDifferences) {
  std::mt19937 rng(11);
  const double h = 1e-5;
  for (int n = 2; n <= MGN_MAX_ORDER; ++n) {
    mgn_curve* c = store.curve(n, mgn_random_points(rng, n), mgn_random_weights(rng, n));
    for (double t : {0.05, 0.3, 0.5, 0.71, 0.95}) {
      double d[3], dd[3], lo[3], hi[3], dlo[3], dhi[3];
      mgn_get_curve_derivative(c, t, d);
      mgn_get_curve_second_derivative(c, t, dd);
      mgn_get_curve_point(c, t - h, lo);
      mgn_get_curve_point(c, t + h, hi);
      mgn_get_curve_derivative(c, t - h, dlo);
      mgn_get_curve_derivative(c, t + h, dhi);
      double scale1 = 1.0, scale2 = 1.0;
      for (int k = 0; k < 3; ++k) {
        scale1 = std::max(scale1, std::fabs(d[k]));
        scale2 = std::max(scale2, std::fabs(dd[k]));
      }
      for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(d[k], (hi[k] - lo[k]) / (2 * h), 1e-6 * scale1) << "order " << n << " t " << t;
        EXPECT_NEAR(dd[k], (dhi[k] - dlo[k]) / (2 * h), 1e-6 * scale2) << "order " << n << " t " << t;
      }
      // The rational bases give the same derivatives as sums over the points.
      double r[16], r1[16], r2[16];
      mgn_rational_basis(n, t, c->polygon[0].data(), r);
      mgn_rational_basis_derivative(n, t, c->polygon[0].data(), r1);
      mgn_rational_basis_second_derivative(n, t, c->polygon[0].data(), r2);
      double p[3];
      mgn_get_curve_point(c, t, p);
      for (int k = 0; k < 3; ++k) {
        double s0 = 0, s1 = 0, s2 = 0;
        for (int i = 0; i < n; ++i) {
          s0 += r[i] * c->polygon[0][i]->xyz[k];
          s1 += r1[i] * c->polygon[0][i]->xyz[k];
          s2 += r2[i] * c->polygon[0][i]->xyz[k];
        }
        EXPECT_NEAR(s0, p[k], 1e-12);
        EXPECT_NEAR(s1, d[k], 1e-9 * scale1);
        EXPECT_NEAR(s2, dd[k], 1e-9 * scale2);
      }
    }
  }
}

TEST_F(BezierTest, SurfaceDerivativesAgreeWithCentralDifferences) {
  std::mt19937 rng(13);
  const double h = 1e-5;
  const order_case cases[] = {{2, 2}, {2, 5}, {3, 3}, {4, 4}, {6, 3}, {8, 9}, {12, 2}, {16, 16}};
  for (const order_case& oc : cases) {
    const int m = oc.nu * oc.nv;
    mgn_surface* s = store.surface(1, oc.nu, oc.nv, mgn_random_points(rng, m),
                                   mgn_random_weights(rng, m));
    for (double u : {0.1, 0.5, 0.83})
      for (double v : {0.07, 0.4, 0.9}) {
        double d[2][3], dd[3][3];
        mgn_get_surface_derivative(s, u, v, 0, d[0]);
        mgn_get_surface_derivative(s, u, v, 1, d[1]);
        for (int kind = 0; kind < 3; ++kind) mgn_get_surface_second_derivative(s, u, v, kind, dd[kind]);
        double pu0[3], pu1[3], pv0[3], pv1[3];
        mgn_get_surface_point(s, u - h, v, pu0);
        mgn_get_surface_point(s, u + h, v, pu1);
        mgn_get_surface_point(s, u, v - h, pv0);
        mgn_get_surface_point(s, u, v + h, pv1);
        // Second derivatives from differences of the first: uu and uv from
        // d/du at v +- h and u +- h.
        double du0[3], du1[3], dv0[3], dv1[3], duv0[3], duv1[3];
        mgn_get_surface_derivative(s, u - h, v, 0, du0);
        mgn_get_surface_derivative(s, u + h, v, 0, du1);
        mgn_get_surface_derivative(s, u, v - h, 1, dv0);
        mgn_get_surface_derivative(s, u, v + h, 1, dv1);
        mgn_get_surface_derivative(s, u, v - h, 0, duv0);
        mgn_get_surface_derivative(s, u, v + h, 0, duv1);
        double scale1 = 1.0, scale2 = 1.0;
        for (int k = 0; k < 3; ++k) {
          scale1 = std::max({scale1, std::fabs(d[0][k]), std::fabs(d[1][k])});
          scale2 = std::max({scale2, std::fabs(dd[0][k]), std::fabs(dd[1][k]), std::fabs(dd[2][k])});
        }
        const std::string where = "orders " + std::to_string(oc.nu) + "x" + std::to_string(oc.nv) +
                                  " u " + std::to_string(u) + " v " + std::to_string(v);
        for (int k = 0; k < 3; ++k) {
          EXPECT_NEAR(d[0][k], (pu1[k] - pu0[k]) / (2 * h), 1e-6 * scale1) << where;
          EXPECT_NEAR(d[1][k], (pv1[k] - pv0[k]) / (2 * h), 1e-6 * scale1) << where;
          EXPECT_NEAR(dd[0][k], (du1[k] - du0[k]) / (2 * h), 1e-6 * scale2) << where;
          EXPECT_NEAR(dd[1][k], (duv1[k] - duv0[k]) / (2 * h), 1e-6 * scale2) << where;
          EXPECT_NEAR(dd[2][k], (dv1[k] - dv0[k]) / (2 * h), 1e-6 * scale2) << where;
        }
        // Rational surface bases reproduce point and derivatives.
        const int m2 = oc.nu * oc.nv;
        std::vector<double> r(m2), ru(m2), rv(m2), ruv(m2);
        mgn_rational_surface_basis(oc.nu, oc.nv, u, v, s->net.data(), r.data());
        mgn_rational_surface_basis_derivative(oc.nu, oc.nv, u, v, 0, s->net.data(), ru.data());
        mgn_rational_surface_basis_derivative(oc.nu, oc.nv, u, v, 1, s->net.data(), rv.data());
        mgn_rational_surface_basis_second_derivative(oc.nu, oc.nv, u, v, 1, s->net.data(), ruv.data());
        double p[3];
        mgn_get_surface_point(s, u, v, p);
        for (int k = 0; k < 3; ++k) {
          double s0 = 0, su = 0, sv = 0, suv = 0;
          for (int i = 0; i < m2; ++i) {
            const double x = s->net[i]->xyz[k];
            s0 += r[i] * x;
            su += ru[i] * x;
            sv += rv[i] * x;
            suv += ruv[i] * x;
          }
          EXPECT_NEAR(s0, p[k], 1e-12) << where;
          EXPECT_NEAR(su, d[0][k], 1e-9 * scale1) << where;
          EXPECT_NEAR(sv, d[1][k], 1e-9 * scale1) << where;
          EXPECT_NEAR(suv, dd[1][k], 1e-8 * scale2) << where;
        }
      }
  }
}

// Evaluation works on fixed local arrays: no allocation at any order.
TEST_F(BezierTest, EvaluationAllocatesNothing) {
  std::mt19937 rng(37);
  mgn_curve* c = store.curve(1, mgn_random_points(rng, 16), mgn_random_weights(rng, 16));
  mgn_surface* s = store.surface(1, 16, 16, mgn_random_points(rng, 256), mgn_random_weights(rng, 256));
  mgn_surface* s4 = store.surface(2, 4, 4, mgn_random_points(rng, 16), mgn_random_weights(rng, 16));
  double sink = 0.0;
  const long count = mgn_count_allocations([&] {
    for (double t : {0.0, 0.3, 1.0}) {
      double p[3], d[3], r[256];
      mgn_get_curve_point(c, t, p);
      mgn_get_curve_derivative(c, t, d);
      mgn_get_curve_second_derivative(c, t, d);
      sink += mgn_get_curve_tangent(c, t, d) + mgn_get_curve_unit_tangent(c, t, d);
      sink += mgn_get_curve_size(c, t) + mgn_get_curve_weight(c, t) + mgn_get_curve_curvature(c, t);
      mgn_bernstein_basis_kth_derivative(3, 16, t, r);
      mgn_rational_basis_second_derivative(16, t, c->polygon[0].data(), r);
      for (const mgn_surface* f : {s, s4}) {
        mgn_get_surface_point(f, t, 0.4, p);
        mgn_get_surface_derivative(f, t, 0.4, 1, d);
        mgn_get_surface_second_derivative(f, t, 0.4, 1, d);
        sink += mgn_get_surface_tangent_u(f, t, 0.4, d) + mgn_get_surface_normal(f, t, 0.4, d);
        sink += mgn_get_surface_size(f, t, 0.4) + mgn_get_surface_curvature(f, t, 0.4);
        mgn_rational_surface_basis_second_derivative(f->order_u, f->order_v, t, 0.4, 2,
                                                     f->net.data(), r);
      }
    }
    sink += mgn_integrate_curve_length(c, 0.0, 1.0);
    double box[6];
    mgn_get_curve_bounding_box(c, box);
  });
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(std::isfinite(sink));
}

// ---------------------------------------------------------------------------
// Elevation and splitting
// ---------------------------------------------------------------------------

TEST_F(BezierTest, ElevatedCurvePolygonReproducesPoints) {
  std::mt19937 rng(17);
  for (int n : {2, 3, 5, 9, 15}) {
    mgn_curve* c = store.curve(n, mgn_random_points(rng, n), mgn_random_weights(rng, n));
    for (int order = n + 1; order <= MGN_MAX_ORDER; order += 3) {
      mgn_ctrl_point* const* raised = mgn_get_curve_polygon_at_order(c, order);
      // The raised slot shares the vertices' control points at its ends.
      EXPECT_EQ(raised[0], c->vertex[0]->ctrl_point);
      EXPECT_EQ(raised[order - 1], c->vertex[1]->ctrl_point);
      mgn_curve view;
      view.order = static_cast<int16_t>(order);
      view.polygon.assign(1, std::vector<mgn_ctrl_point*>(raised, raised + order));
      for (double t : {0.0, 0.2, 0.5, 0.9, 1.0}) {
        double a[3], b[3];
        mgn_get_curve_point(c, t, a);
        mgn_get_curve_point(&view, t, b);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-12) << n << "->" << order;
        EXPECT_NEAR(mgn_get_curve_weight(c, t), mgn_get_curve_weight(&view, t), 1e-12);
      }
    }
  }
}

// Elevation in place with a stride, as on a column of a net: the points
// between the strided entries and the first point are left alone.
TEST_F(BezierTest, ElevationWithStrideWorksInPlace) {
  mgn_curve* c = store.curve(1, {{0, 0, 0}, {1, 2, 0}, {3, 1, 1}}, {1, 0.6, 1.3});
  std::vector<mgn_ctrl_point*> column(8);
  for (auto& q : column) q = mgn_create_ctrl_point();
  for (int i = 0; i < 3; ++i) *column[2 * i] = *c->polygon[0][i];
  for (int i = 0; i < 4; ++i) column[2 * i + 1]->xyz[0] = 99.0;
  const mgn_ctrl_point first = *column[0];
  mgn_elevate_polygon_order(column.data(), 4, 3, 2);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(column[2 * i + 1]->xyz[0], 99.0);
  EXPECT_EQ(column[0]->xyz[1], first.xyz[1]);
  EXPECT_EQ(column[6]->w, 1.3);  // the last point moved up unchanged
  mgn_curve view;
  view.order = 4;
  view.polygon.assign(1, {column[0], column[2], column[4], column[6]});
  for (double t : {0.1, 0.5, 0.85}) {
    double a[3], b[3];
    mgn_get_curve_point(c, t, a);
    mgn_get_curve_point(&view, t, b);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-14);
  }
}

TEST_F(BezierTest, SplitCurveReproducesHeadAndTail) {
  std::mt19937 rng(19);
  for (int n : {2, 3, 4, 7, 16}) {
    mgn_curve* c = store.curve(n, mgn_random_points(rng, n), mgn_random_weights(rng, n));
    for (double t : {0.25, 0.6}) {
      mgn_curve* head = store.curve(100, {{0, 0, 0}, {1, 1, 1}});
      mgn_curve* tail = store.curve(101, {{0, 0, 0}, {1, 1, 1}});
      const double v0[3] = {head->vertex[0]->xyz[0], head->vertex[0]->xyz[1], head->vertex[0]->xyz[2]};
      mgn_copy_parent_curve_polygon(head, c);
      mgn_copy_parent_curve_polygon(tail, c);
      mgn_split_curve_polygon_head(head, t);
      mgn_split_curve_polygon_tail(tail, t);
      // The copies work on their own points: the vertices did not move.
      for (int k = 0; k < 3; ++k) EXPECT_EQ(head->vertex[0]->xyz[k], v0[k]);
      for (double s : {0.0, 0.3, 0.8, 1.0}) {
        double a[3], b[3];
        mgn_get_curve_point(head, s, a);
        mgn_get_curve_point(c, t * s, b);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-12) << "head order " << n;
        mgn_get_curve_point(tail, s, a);
        mgn_get_curve_point(c, t + (1 - t) * s, b);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-12) << "tail order " << n;
      }
    }
  }
}

TEST_F(BezierTest, PieceOfParentCurveWithEndsAttachedToVertices) {
  mgn_curve* parent = store.curve(1, {{0, 0, 0}, {1, 2, 0}, {3, 2, 1}, {4, 0, 0}}, {1, 0.5, 2, 1});
  const double t1 = 0.2, t2 = 0.7;
  double a[3], b[3];
  mgn_get_curve_point(parent, t1, a);
  mgn_get_curve_point(parent, t2, b);
  // Vertices slightly off the parent, with their own sizes.
  mgn_vertex* va = store.vertex(1, {a[0] + 2e-9, a[1], a[2]});
  mgn_vertex* vb = store.vertex(2, {b[0], b[1], b[2]});
  va->ctrl_point->size = 0.5f;
  va->ctrl_point->w = mgn_get_curve_weight(parent, t1);
  vb->ctrl_point->w = mgn_get_curve_weight(parent, t2);
  mgn_curve* piece = store.curve(2, {{0, 0, 0}, {1, 0, 0}}, {}, va, vb);
  piece->order = 5;  // higher than the parent: the copy is elevated
  mgn_create_curve_ctrl_polygon(piece);
  mgn_copy_parent_curve_polygon(piece, parent);
  mgn_split_curve_polygon_head(piece, t2);
  mgn_split_curve_polygon_tail(piece, t1 / t2);
  mgn_attach_curve_polygon_ends(piece);
  EXPECT_EQ(piece->polygon[0].front(), va->ctrl_point);
  EXPECT_EQ(piece->polygon[0].back(), vb->ctrl_point);
  EXPECT_NEAR(va->xyz[0], a[0] + 1e-9, 1e-15);  // mean of the vertex and the computed end
  EXPECT_EQ(va->ctrl_point->size, 0.5f);
  for (double s : {0.1, 0.5, 0.9}) {
    double p[3], q[3];
    mgn_get_curve_point(piece, s, p);
    mgn_get_curve_point(parent, t1 + s * (t2 - t1), q);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], 1e-8);
  }
}

TEST_F(BezierTest, ElevatedAndSplitSurfaceNetsReproducePoints) {
  std::mt19937 rng(23);
  for (const order_case& oc : {order_case{2, 3}, order_case{4, 4}, order_case{5, 2}}) {
    const int m = oc.nu * oc.nv;
    mgn_surface* s = store.surface(1, oc.nu, oc.nv, mgn_random_points(rng, m),
                                   mgn_random_weights(rng, m));
    mgn_surface* raised = store.blank_surface(2, oc.nu + 3, oc.nv + 1);
    mgn_copy_parent_surface_net(raised, s);
    EXPECT_EQ(raised->net.size(), static_cast<size_t>((oc.nu + 3) * (oc.nv + 1)));
    mgn_surface* head = store.blank_surface(3, 2, 2);
    mgn_surface* tail = store.blank_surface(4, 2, 2);
    mgn_copy_parent_surface_net(head, s);
    mgn_copy_parent_surface_net(tail, s);
    const double su = 0.3, sv = 0.65;
    mgn_split_surface_net_head(head, su, sv);
    mgn_split_surface_net_tail(tail, su, sv);
    for (double u : {0.0, 0.4, 1.0})
      for (double v : {0.0, 0.7, 1.0}) {
        double a[3], b[3];
        mgn_get_surface_point(s, u, v, a);
        mgn_get_surface_point(raised, u, v, b);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-12);
        mgn_get_surface_point(head, u, v, a);
        mgn_get_surface_point(s, su * u, sv * v, b);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-12);
        mgn_get_surface_point(tail, u, v, a);
        mgn_get_surface_point(s, su + (1 - su) * u, sv + (1 - sv) * v, b);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-12);
      }
  }
}

// ---------------------------------------------------------------------------
// Polygons from the topology
// ---------------------------------------------------------------------------

TEST_F(BezierTest, CurvePolygonInnerPointsOnTheChord) {
  mgn_vertex* a = store.vertex(1, {0, 0, 0}, 1.0);
  mgn_vertex* b = store.vertex(2, {3, 6, 9}, 4.0);
  a->ctrl_point->size = 1.0f;
  b->ctrl_point->size = 4.0f;
  mgn_curve c;
  c.id = 1;
  c.order = 4;
  c.vertex[0] = a;
  c.vertex[1] = b;
  mgn_create_curve_ctrl_polygon(&c);
  ASSERT_EQ(c.polygon.size(), 13u);
  ASSERT_EQ(c.polygon[0].size(), 4u);
  EXPECT_EQ(c.polygon[0][0], a->ctrl_point);
  EXPECT_EQ(c.polygon[0][3], b->ctrl_point);
  EXPECT_NEAR(c.polygon[0][1]->xyz[1], 2.0, 1e-15);
  EXPECT_NEAR(c.polygon[0][2]->w, 3.0, 1e-15);
  EXPECT_NEAR(c.polygon[0][1]->size, 2.0f, 1e-6);
  EXPECT_TRUE(c.polygon[1].empty());
}

// A planar square bounded by four curves (some running against their side,
// one of lower order than the surface): the net reuses the curves' points,
// the Coons interior keeps the surface flat, and the boundary follows the
// curves.
TEST_F(BezierTest, SurfaceNetFromBoundaryCurves) {
  mgn_vertex* v00 = store.vertex(1, {0, 0, 0});
  mgn_vertex* v01 = store.vertex(2, {0, 2, 0});
  mgn_vertex* v11 = store.vertex(3, {2, 2, 0});
  mgn_vertex* v10 = store.vertex(4, {2, 0, 0});
  // Side 0 (v = 0) bulges in-plane; side 2 (v = 1) runs from v11 to v01.
  mgn_curve* c0 = store.curve(1, {{0, 0, 0}, {1, -0.5, 0}, {2, 0, 0}}, {}, v00, v10);
  mgn_curve* c1 = store.curve(2, {{0, 0, 0}, {0, 1, 0}, {0, 2, 0}}, {}, v00, v01);
  mgn_curve* c2 = store.curve(3, {{2, 2, 0}, {0, 2, 0}}, {}, v11, v01);
  mgn_curve* c3 = store.curve(4, {{2, 0, 0}, {2.5, 1, 0}, {2, 2, 0}}, {}, v10, v11);
  mgn_surface s;
  s.id = 9;
  s.order_u = 3;
  s.order_v = 3;
  s.curve[0] = c0; s.curve[1] = c1; s.curve[2] = c2; s.curve[3] = c3;
  s.reversed[2] = true;
  mgn_create_surface_ctrl_polygon(&s);
  ASSERT_EQ(s.net.size(), 9u);
  EXPECT_EQ(s.net[0], v00->ctrl_point);
  EXPECT_EQ(s.net[2], v10->ctrl_point);
  EXPECT_EQ(s.net[6], v01->ctrl_point);
  EXPECT_EQ(s.net[8], v11->ctrl_point);
  EXPECT_EQ(s.net[1], c0->polygon[0][1]);
  EXPECT_EQ(s.net[3], c1->polygon[0][1]);
  EXPECT_EQ(s.net[5], c3->polygon[0][1]);
  // Side 2 was raised to order 3 for the net.
  ASSERT_EQ(c2->polygon[1].size(), 3u);
  EXPECT_EQ(s.net[7], c2->polygon[1][1]);
  for (double t : {0.0, 0.3, 0.8, 1.0}) {
    double p[3], q[3];
    mgn_get_surface_point(&s, t, 0.0, p);
    mgn_get_curve_point(c0, t, q);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], 1e-14);
    mgn_get_surface_point(&s, t, 1.0, p);
    mgn_get_curve_point(c2, 1.0 - t, q);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], 1e-14);
    mgn_get_surface_point(&s, 1.0, t, p);
    mgn_get_curve_point(c3, t, q);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], 1e-14);
  }
  double p[3];
  mgn_get_surface_point(&s, 0.37, 0.61, p);
  EXPECT_NEAR(p[2], 0.0, 1e-15);
  // Orders below those of the sides are raised to them.
  mgn_surface low = s;
  low.order_u = low.order_v = 2;
  low.net.clear();
  mgn_create_surface_ctrl_polygon(&low);
  EXPECT_EQ(low.order_u, 3);
  EXPECT_EQ(low.order_v, 3);
  ASSERT_EQ(low.net.size(), 9u);
  EXPECT_EQ(low.net[5], c3->polygon[0][1]);
}

TEST_F(BezierTest, IsoCurvePolygonFollowsTheSurfaceLine) {
  std::mt19937 rng(29);
  mgn_surface* s = store.surface(1, 4, 3, mgn_random_points(rng, 12), mgn_random_weights(rng, 12));
  for (int direction = 0; direction < 2; ++direction) {
    mgn_curve* c = store.curve(5 + direction, {{0, 0, 0}, {1, 0, 0}});
    c->order = 6;  // higher than the surface's: the line is elevated
    mgn_create_curve_ctrl_polygon(c);
    mgn_get_iso_curve_polygon(c, s, 0.35, direction);
    EXPECT_EQ(c->order, 6);
    for (double t : {0.0, 0.25, 0.6, 1.0}) {
      double a[3], b[3];
      mgn_get_curve_point(c, t, a);
      if (direction == 0)
        mgn_get_surface_point(s, t, 0.35, b);
      else
        mgn_get_surface_point(s, 0.35, t, b);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-12) << "direction " << direction;
    }
  }
}

// ---------------------------------------------------------------------------
// Tangents, normals and degenerate sides
// ---------------------------------------------------------------------------

TEST_F(BezierTest, CurveTangentFallsBackToChordWhereDerivativeVanishes) {
  // Double first point: C'(0) = 0; the chord gives the direction to P2.
  mgn_curve* c = store.curve(1, {{0, 0, 0}, {0, 0, 0}, {3, 4, 0}});
  double d[3];
  mgn_get_curve_derivative(c, 0.0, d);
  EXPECT_EQ(d[0], 0.0);
  ASSERT_EQ(mgn_get_curve_unit_tangent(c, 0.0, d), 1);
  EXPECT_NEAR(d[0], 0.6, 1e-9);
  EXPECT_NEAR(d[1], 0.8, 1e-9);
  // A curve degenerate to a point has no tangent, flagged or not.
  mgn_curve* p = store.curve(2, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}});
  EXPECT_EQ(mgn_get_curve_tangent(p, 0.5, d), 0.0);
  EXPECT_EQ(mgn_get_curve_unit_tangent(p, 0.5, d), 0);
  EXPECT_EQ(d[0], 0.0);
  p->collapsed = true;
  EXPECT_EQ(mgn_get_curve_tangent(p, 0.5, d), 0.0);
}

// Triangle-like surface: side 0 (v = 0) collapsed to the apex.
TEST_F(BezierTest, CollapsedSideHasZeroTangentAndNormalWithoutError) {
  mgn_surface* s = store.surface(3, 2, 2, {{0, 0, 0}, {0, 0, 0}, {-1, 1, 0}, {1, 1, 0}});
  mgn_vertex* apex = store.vertex(1, {0, 0, 0});
  mgn_curve* side0 = store.curve(1, {{0, 0, 0}, {0, 0, 0}}, {}, apex, apex);
  side0->collapsed = true;
  s->curve[0] = side0;
  double d[3], n[3];
  EXPECT_EQ(mgn_get_surface_tangent_u(s, 0.5, 0.0, d), 0.0);
  EXPECT_EQ(d[0], 0.0);
  EXPECT_EQ(mgn_get_surface_normal(s, 0.5, 0.0, n), 0);
  EXPECT_EQ(n[0], 0.0);
  EXPECT_EQ(n[2], 0.0);
  // Off the side the surface is regular, with normal +z.
  ASSERT_EQ(mgn_get_surface_normal(s, 0.5, 0.01, n), 1);
  EXPECT_NEAR(n[2], 1.0, 1e-12);
  // Without the flag the chord fallback finds no tangent either.
  s->curve[0] = nullptr;
  EXPECT_EQ(mgn_get_surface_tangent_u(s, 0.3, 0.0, d), 0.0);
  EXPECT_EQ(mgn_get_surface_normal(s, 0.3, 0.0, n), 0);
}

TEST_F(BezierTest, DegenerateNormalInsideTheSquareIsFatal) {
  // S_u vanishes on the whole line v = 0.5.
  mgn_surface* s = store.surface(7, 2, 2, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 1, 0}});
  double n[3];
  EXPECT_EQ(mgn_get_surface_normal(s, 0.5, 0.25, n), 1);
  EXPECT_EXIT(mgn_get_surface_normal(s, 0.5, 0.5, n), ::testing::ExitedWithCode(10),
              "Bad parameterization of surface 7 at u = 0\\.500000, v = 0\\.500000");
  // S_u and S_v parallel on u + v = 0.5: folded surface.
  mgn_surface* f = store.surface(8, 2, 2, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-1, -1, 0}});
  EXPECT_EXIT(mgn_get_surface_normal(f, 0.25, 0.25, n), ::testing::ExitedWithCode(10),
              "Bad parameterization of surface 8 at u = 0\\.250000, v = 0\\.250000");
}

TEST_F(BezierTest, ErrorLocationRecordedBeforeFatalNormal) {
  mgn_surface* s = store.surface(7, 2, 2, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 1, 0}});
  EXPECT_EXIT(
      {
        mgn_terminate_hook.collect_finished = nullptr;
        mgn_error_loc = mgn_error_location{};
        double n[3];
        struct report {
          static void check() {
            std::fprintf(stderr, "location %d %ld %.3f %.3f\n", mgn_error_loc.kind, mgn_error_loc.id,
                         mgn_error_loc.xyz[0], mgn_error_loc.xyz[1]);
          }
        };
        std::atexit(report::check);
        mgn_get_surface_normal(s, 0.5, 0.5, n);
      },
      ::testing::ExitedWithCode(10), "location 2 7 0\\.000 0\\.500");
}

// ---------------------------------------------------------------------------
// Curvature
// ---------------------------------------------------------------------------

TEST_F(BezierTest, CylinderCurvatureAndDirectionalCurvature) {
  // Quarter cylinder of radius 2 around the z axis, height 3.
  const double w = std::sqrt(0.5);
  mgn_surface* s = store.surface(1, 3, 2,
                                 {{2, 0, 0}, {2, 2, 0}, {0, 2, 0}, {2, 0, 3}, {2, 2, 3}, {0, 2, 3}},
                                 {1, w, 1, 1, w, 1});
  for (double u : {0.0, 0.3, 0.9})
    for (double v : {0.2, 1.0}) {
      EXPECT_NEAR(mgn_get_surface_curvature(s, u, v), 0.5, 1e-9);
      EXPECT_NEAR(mgn_get_surface_directional_curvature(s, u, v, 0.0), 0.5, 1e-3);
      EXPECT_NEAR(mgn_get_surface_directional_curvature(s, u, v, std::numbers::pi / 2), 0.0, 1e-3);
    }
  // A plane has curvature 0.
  mgn_surface* plane = store.surface(2, 2, 2, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}});
  EXPECT_EQ(mgn_get_surface_curvature(plane, 0.5, 0.5), 0.0);
  // A straight curve has curvature 0 up to rounding, not a residue of 1e-8.
  mgn_curve* line = store.curve(3, {{0, 0, 0}, {0.3, 0.3, 0.3}, {1, 1, 1}});
  EXPECT_LT(mgn_get_curve_curvature(line, 0.4), 1e-13);
}

// ---------------------------------------------------------------------------
// Sizes and weights
// ---------------------------------------------------------------------------

TEST_F(BezierTest, SizesInterpolatedRationally) {
  mgn_curve* c = store.curve(1, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {1, 3, 1});
  c->polygon[0][0]->size = 1.0f;
  c->polygon[0][1]->size = 2.0f;
  c->polygon[0][2]->size = 4.0f;
  // At t = 0.5: B = 1/4, 1/2, 1/4; w B = 0.25, 1.5, 0.25.
  EXPECT_NEAR(mgn_get_curve_weight(c, 0.5), 2.0, 1e-15);
  EXPECT_NEAR(mgn_get_curve_size(c, 0.5), (0.25 + 3.0 + 1.0) / 2.0, 1e-12);
  EXPECT_EQ(mgn_get_curve_size(c, 0.0), 1.0);
  mgn_surface* s = store.surface(1, 2, 2, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {1, 1, 1, 3});
  for (int k = 0; k < 4; ++k) s->net[k]->size = static_cast<float>(k + 1);
  EXPECT_NEAR(mgn_get_surface_weight(s, 0.5, 0.5), 1.5, 1e-15);
  EXPECT_NEAR(mgn_get_surface_size(s, 0.5, 0.5), (1 + 2 + 3 + 12) / 4.0 / 1.5, 1e-6);
  mgn_surface* zero = store.surface(2, 2, 2, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}});
  EXPECT_EQ(mgn_get_surface_size(zero, 0.3, 0.3), 0.0);
}

// ---------------------------------------------------------------------------
// Bounding box
// ---------------------------------------------------------------------------

TEST_F(BezierTest, BoundingBoxFindsInteriorExtrema) {
  mgn_curve* seg = store.curve(1, {{1, -2, 3}, {-1, 2, 0}});
  double box[6];
  mgn_get_curve_bounding_box(seg, box);
  const double expect[6] = {-1, -2, 0, 1, 2, 3};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(box[k], expect[k]);
  // Asymmetric bumps whose extrema lie between the samples.
  std::mt19937 rng(31);
  for (int n : {3, 4, 7, 12}) {
    auto pts = mgn_random_points(rng, n);
    mgn_curve* c = store.curve(n, pts, mgn_random_weights(rng, n));
    mgn_get_curve_bounding_box(c, box);
    double dense[6] = {1e9, 1e9, 1e9, -1e9, -1e9, -1e9};
    for (int i = 0; i <= 20000; ++i) {
      double p[3];
      mgn_get_curve_point(c, i / 20000.0, p);
      for (int k = 0; k < 3; ++k) {
        dense[k] = std::min(dense[k], p[k]);
        dense[k + 3] = std::max(dense[k + 3], p[k]);
      }
    }
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(box[k], dense[k], 2e-5) << "order " << n << " k " << k;
  }
}

// ---------------------------------------------------------------------------
// Collapse, straightness, convexity
// ---------------------------------------------------------------------------

TEST_F(BezierTest, CollapseOfCurves) {
  mgn_vertex* a = store.vertex(1, {1, 1, 1});
  mgn_curve* loop = store.curve(5, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, {}, a, a);
  EXPECT_EQ(mgn_check_curve_collapse(loop), 1);
  EXPECT_TRUE(loop->collapsed);
  // A vertex fixed to the other one has the same root: still collapsed.
  mgn_vertex* child = store.vertex(2, {1, 1, 1});
  child->parent_vertex = a;
  mgn_curve* rooted = store.curve(6, {{1, 1, 1}, {1, 1, 1}}, {}, a, child);
  EXPECT_EQ(mgn_check_curve_collapse(rooted), 1);
  mgn_curve* open = store.curve(7, {{0, 0, 0}, {1, 0, 0}, {0, 0, 0}}, {}, nullptr, nullptr);
  EXPECT_EQ(mgn_check_curve_collapse(open), 0);
  EXPECT_FALSE(open->collapsed);
  mgn_curve* bad = store.curve(8, {{2, 2, 2}, {2, 2, 2}});
  const long v0 = bad->vertex[0]->id, v1 = bad->vertex[1]->id;
  EXPECT_EXIT(mgn_check_curve_collapse(bad), ::testing::ExitedWithCode(10),
              "Vertices \\(" + std::to_string(v0) + " and " + std::to_string(v1) +
                  "\\) of collapsed curve 8 are coinciding");
}

TEST_F(BezierTest, StraightnessOfCurves) {
  mgn_curve* line = store.curve(1, {{0, 0, 0}, {2, 2, 0}, {-1, -1, 0}, {3, 3, 0}});
  EXPECT_EQ(mgn_check_curve_straightness(line), 1);
  EXPECT_NEAR(line->direction[0], std::sqrt(0.5), 1e-15);
  EXPECT_NEAR(line->direction[1], std::sqrt(0.5), 1e-15);
  mgn_curve* bent = store.curve(2, {{0, 0, 0}, {1, 1e-6, 0}, {3, 3, 0}});
  EXPECT_EQ(mgn_check_curve_straightness(bent), 0);
  EXPECT_FALSE(bent->straight);
  mgn_curve* seg = store.curve(3, {{0, 0, 0}, {0, 0, 5}});
  EXPECT_EQ(mgn_check_curve_straightness(seg), 1);
  EXPECT_EQ(seg->direction[2], 1.0);
  // Closed but not collapsed: not straight.
  mgn_vertex* a = store.vertex(1, {0, 0, 0});
  mgn_curve* ring = store.curve(4, {{0, 0, 0}, {1, 0, 0}, {0, 0, 0}}, {}, a, a);
  EXPECT_EQ(mgn_check_curve_straightness(ring), 0);
  // A reversed piece of a straight parent takes the opposite direction.
  mgn_curve* piece = store.curve(5, {{3, 3, 0}, {1, 1, 0}});
  piece->parent_curve = line;
  piece->reversed = true;
  EXPECT_EQ(mgn_check_curve_straightness(piece), 1);
  EXPECT_NEAR(piece->direction[0], -std::sqrt(0.5), 1e-15);
}

TEST_F(BezierTest, ConvexityOfPlanarSurfaces) {
  mgn_set.quiet = false;
  mgn_set.warnings_suppressed = false;
  mgn_surface* convex = store.surface(1, 2, 2, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}});
  convex->planar = true;
  convex->normal[2] = 1.0;
  EXPECT_EQ(mgn_check_surface_convexity(convex), 1);
  // Corner (1, 1) pushed inward past the diagonal.
  mgn_surface* dart = store.surface(2, 2, 2, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.2, 0.2, 0}});
  dart->planar = true;
  dart->normal[2] = 1.0;
  for (int k = 0; k < 4; ++k) dart->vertex[k] = store.vertex(40 + k, {0, 0, 0});
  const long before = mgn_warning_count;
  testing::internal::CaptureStderr();
  EXPECT_EQ(mgn_check_surface_convexity(dart), 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Warning: Planar surface 2 is not convex at vertex 42\n");
  EXPECT_EQ(mgn_warning_count, before + 1);
  // Not planar: not checked.
  dart->planar = false;
  EXPECT_EQ(mgn_check_surface_convexity(dart), 1);
}

// A planar triangle-like surface: the corner on the collapsed side has no
// surface normal; the normal comes from the neighbouring sides' tangents.
TEST_F(BezierTest, ConvexityAtCollapsedCornerUsesSideTangents) {
  mgn_vertex* apex = store.vertex(1, {0, 0, 0});
  mgn_vertex* left = store.vertex(2, {-1, 1, 0});
  mgn_vertex* right = store.vertex(3, {1, 1, 0});
  mgn_curve* c0 = store.curve(1, {{0, 0, 0}, {0, 0, 0}}, {}, apex, apex);
  c0->collapsed = true;
  mgn_curve* c1 = store.curve(2, {{0, 0, 0}, {-1, 1, 0}}, {}, apex, left);
  mgn_curve* c2 = store.curve(3, {{-1, 1, 0}, {1, 1, 0}}, {}, left, right);
  mgn_curve* c3 = store.curve(4, {{0, 0, 0}, {1, 1, 0}}, {}, apex, right);
  mgn_surface s;
  s.id = 5;
  s.curve[0] = c0; s.curve[1] = c1; s.curve[2] = c2; s.curve[3] = c3;
  s.vertex[0] = apex; s.vertex[1] = left; s.vertex[2] = right; s.vertex[3] = apex;
  mgn_create_surface_ctrl_polygon(&s);
  s.planar = true;
  double n[3];
  ASSERT_EQ(mgn_get_surface_normal(&s, 0.5, 0.5, n), 1);
  for (int k = 0; k < 3; ++k) s.normal[k] = n[k];
  double corner[3];
  EXPECT_EQ(mgn_get_surface_normal(&s, 0.0, 0.0, corner), 0);
  EXPECT_EQ(mgn_check_surface_convexity(&s), 1);
  for (int k = 0; k < 3; ++k) s.normal[k] = -n[k];
  testing::internal::CaptureStderr();
  EXPECT_EQ(mgn_check_surface_convexity(&s), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning: Planar surface 5 is not convex at vertex 1\n");
}

// ---------------------------------------------------------------------------
// Curve ends on a surface
// ---------------------------------------------------------------------------

TEST_F(BezierTest, SurfaceCurveParameters) {
  mgn_curve* sides[4];
  for (int k = 0; k < 4; ++k) sides[k] = store.curve(k + 1, {{0, 0, 0}, {1, 0, 0}});
  mgn_surface s;
  s.id = 1;
  for (int k = 0; k < 4; ++k) s.curve[k] = sides[k];
  s.reversed[1] = true;
  struct side_case {
    int side;
    double start[2], end[2];
  };
  const side_case cases[] = {{0, {0, 0}, {1, 0}}, {1, {0, 1}, {0, 0}}, {2, {0, 1}, {1, 1}},
                             {3, {1, 0}, {1, 1}}};
  for (const side_case& c : cases) {
    double a[2], b[2];
    ASSERT_EQ(mgn_get_surface_curve_uv(&s, sides[c.side], a, b), 1);
    EXPECT_EQ(a[0], c.start[0]) << "side " << c.side;
    EXPECT_EQ(a[1], c.start[1]) << "side " << c.side;
    EXPECT_EQ(b[0], c.end[0]) << "side " << c.side;
    EXPECT_EQ(b[1], c.end[1]) << "side " << c.side;
  }
  // A piece [0.25, 0.5] of side 1 (reversed): 1 - t.
  mgn_curve* piece = store.curve(10, {{0, 0, 0}, {1, 0, 0}});
  piece->parent_curve = sides[1];
  piece->parent_t[0] = 0.25;
  piece->parent_t[1] = 0.5;
  double a[2], b[2];
  ASSERT_EQ(mgn_get_surface_curve_uv(&s, piece, a, b), 1);
  EXPECT_EQ(a[0], 0.0);
  EXPECT_EQ(a[1], 0.75);
  EXPECT_EQ(b[1], 0.5);
  // A piece of a piece: [0.5, 1] of [0.2, 0.6] of side 3 is [0.4, 0.6].
  mgn_curve* mid = store.curve(11, {{0, 0, 0}, {1, 0, 0}});
  mid->parent_curve = sides[3];
  mid->parent_t[0] = 0.2;
  mid->parent_t[1] = 0.6;
  mgn_curve* sub = store.curve(12, {{0, 0, 0}, {1, 0, 0}});
  sub->parent_curve = mid;
  sub->parent_t[0] = 0.5;
  sub->parent_t[1] = 1.0;
  ASSERT_EQ(mgn_get_surface_curve_uv(&s, sub, a, b), 1);
  EXPECT_EQ(a[0], 1.0);
  EXPECT_NEAR(a[1], 0.4, 1e-15);
  EXPECT_NEAR(b[1], 0.6, 1e-15);
  // A curve inside the surface and a piece of it.
  mgn_curve* inner = store.curve(13, {{0, 0, 0}, {1, 0, 0}});
  inner->parent_surface = &s;
  inner->parent_uv[0][0] = 0.2;
  inner->parent_uv[0][1] = 0.3;
  inner->parent_uv[1][0] = 0.6;
  inner->parent_uv[1][1] = 0.3;
  ASSERT_EQ(mgn_get_surface_curve_uv(&s, inner, a, b), 1);
  EXPECT_EQ(a[0], 0.2);
  EXPECT_EQ(b[0], 0.6);
  mgn_curve* inner_piece = store.curve(14, {{0, 0, 0}, {1, 0, 0}});
  inner_piece->parent_curve = inner;
  inner_piece->parent_t[0] = 0.5;
  inner_piece->parent_t[1] = 0.75;
  ASSERT_EQ(mgn_get_surface_curve_uv(&s, inner_piece, a, b), 1);
  EXPECT_NEAR(a[0], 0.4, 1e-15);
  EXPECT_NEAR(b[0], 0.5, 1e-15);
  EXPECT_EQ(a[1], 0.3);
  // Unrelated curve, and a curve inside another surface.
  mgn_curve* other = store.curve(15, {{0, 0, 0}, {1, 0, 0}});
  EXPECT_EQ(mgn_get_surface_curve_uv(&s, other, a, b), 0);
  mgn_surface t;
  EXPECT_EQ(mgn_get_surface_curve_uv(&t, inner, a, b), 0);
}

TEST_F(BezierTest, VanishingWeightOfCurvesAndNets) {
  // Weight functions in Bernstein form: a negative coefficient may leave
  // the function positive or make it vanish inside.
  struct Case {
    const char* name;
    std::vector<double> w;
    int nu, nv;
    bool vanishes;
    double u, v;  // where, when it does
  };
  const Case cases[] = {
      {"PositiveWeights", {1, 0.5, 2}, 3, 1, false, 0, 0},
      {"NegativeMiddleStillPositive", {1, -0.1, 1}, 3, 1, false, 0, 0},
      // 1 - 5t + 5t^2 is -0.25 at t = 0.5.
      {"NegativeMiddleVanishes", {1, -1.5, 1}, 3, 1, true, 0.5, 0},
      // (1 - 2t)^2 + 1e-6: positive, its coefficients only nearly touch 0.
      {"NearlyTouchingZero", {1 + 1e-6, -1 + 1e-6, 1 + 1e-6}, 3, 1, false, 0, 0},
      {"ZeroAtAnEnd", {0, 1, 1}, 3, 1, true, 0, 0},
      {"NetPositive", {1, 1, 1, 1, 0.2, 1, 1, 1, 1}, 3, 3, false, 0, 0},
      // The centre value 0.25 + 0.5 - 1 = -0.25.
      {"NetCentreNegative", {1, 1, 1, 1, -4, 1, 1, 1, 1}, 3, 3, true, 0.5, 0.5},
      {"NetCornerNegative", {1, 1, 1, 1, 1, -1}, 3, 2, true, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    double u = -1.0, v = -1.0;
    EXPECT_EQ(mgn_find_vanishing_weight(c.w.data(), c.nu, c.nv, &u, &v), c.vanishes);
    if (c.vanishes) {
      EXPECT_DOUBLE_EQ(u, c.u);
      EXPECT_DOUBLE_EQ(v, c.v);
    }
  }
}

}  // namespace
