// Tests of point projection: local iterations on curves and surfaces (steps,
// damping, bounds, failures) and the global closest-point searches.
#include "project.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

#include "alloc_counter.h"
#include "bezier.h"
#include "geom.h"
#include "geom_fixture.h"

namespace {

class ProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const double lo[3] = {-10, -10, -10}, hi[3] = {10, 10, 10};
    mgn_set_geometric_tolerance(lo, hi);
  }
  mgn_geom_store store;
};

struct curve_state {
  double t;
  double tangent[3];
  double point[3];
};

curve_state start_on(const mgn_curve* c, double t) {
  curve_state s{t, {0, 0, 0}, {0, 0, 0}};
  mgn_get_curve_point(c, t, s.point);
  mgn_get_curve_unit_tangent(c, t, s.tangent);
  return s;
}

double distance2(const double* a, const double* b) { return mgn_get_point_square_distance(a, b); }

// Brute-force closest parameter: dense samples, then ternary refinement
// around the best sample.
double brute_curve(const mgn_curve* c, const double* target, double* t_best) {
  const int n = 100000;
  double best = HUGE_VAL;
  int ib = 0;
  for (int i = 0; i <= n; ++i) {
    double p[3];
    mgn_get_curve_point(c, static_cast<double>(i) / n, p);
    const double d = distance2(p, target);
    if (d < best) {
      best = d;
      ib = i;
    }
  }
  double lo = std::max(0.0, (ib - 1.0) / n), hi = std::min(1.0, (ib + 1.0) / n);
  for (int it = 0; it < 100; ++it) {
    const double a = lo + (hi - lo) / 3, b = hi - (hi - lo) / 3;
    double pa[3], pb[3];
    mgn_get_curve_point(c, a, pa);
    mgn_get_curve_point(c, b, pb);
    if (distance2(pa, target) < distance2(pb, target))
      hi = b;
    else
      lo = a;
  }
  *t_best = 0.5 * (lo + hi);
  double p[3];
  mgn_get_curve_point(c, *t_best, p);
  return std::min(best, distance2(p, target));
}

// ---------------------------------------------------------------------------
// Curve projection
// ---------------------------------------------------------------------------

TEST_F(ProjectTest, PointOnCurveReturnsItsParameterInOneOrTwoIterations) {
  std::mt19937 rng(3);
  const mgn_curve* curves[] = {
      store.curve(1, {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {1, std::sqrt(0.5), 1}),
      store.curve(2, mgn_random_points(rng, 6), mgn_random_weights(rng, 6)),
      store.curve(3, {{0, 0, 0}, {1, 0, 0}})};
  for (const mgn_curve* c : curves)
    for (double t_true : {0.1, 0.5, 0.8}) {
      double target[3];
      mgn_get_curve_point(c, t_true, target);
      // From the parameter itself and from a guess close to it.
      for (double t0 : {t_true, t_true + 1e-7}) {
        curve_state s = start_on(c, t0);
        int iterations = 0;
        const double t = mgn_project_point_curve(c, &s.t, s.tangent, s.point, target, 1e-12, 1e-12,
                                                 &iterations);
        EXPECT_NEAR(t, t_true, 1e-10) << "curve " << c->id;
        EXPECT_EQ(t, s.t);
        EXPECT_LE(iterations, 2) << "curve " << c->id << " t " << t_true << " from " << t0;
        // The caller's point and tangent describe the final parameter.
        double p[3], d[3];
        mgn_get_curve_point(c, s.t, p);
        mgn_get_curve_unit_tangent(c, s.t, d);
        for (int k = 0; k < 3; ++k) {
          EXPECT_NEAR(s.point[k], p[k], 1e-15);
          EXPECT_NEAR(s.tangent[k], d[k], 1e-15);
        }
      }
    }
}

// The foot point lies beyond the end of a straight segment: projection
// approaches t = 1 by halving steps and never leaves [0, 1]; clipping stops
// exactly at the bound.
TEST_F(ProjectTest, PointBeyondSegmentEndsAtTheBound) {
  mgn_curve* seg = store.curve(1, {{0, 0, 0}, {1, 0, 0}});
  struct end_case {
    double target[3];
    double bound;
  };
  for (const end_case& e : {end_case{{2.0, 0.5, 0.0}, 1.0}, end_case{{-0.7, -1.0, 2.0}, 0.0}}) {
    curve_state s = start_on(seg, 0.5);
    int iterations = 0;
    const double t = mgn_project_point_curve(seg, &s.t, s.tangent, s.point, e.target, 1e-12, 1e-12,
                                             &iterations);
    EXPECT_NEAR(t, e.bound, 3e-9);
    EXPECT_GE(t, 0.0);
    EXPECT_LE(t, 1.0);
    EXPECT_LT(iterations, 50);
    curve_state c = start_on(seg, 0.5);
    EXPECT_EQ(mgn_clip_point_curve(seg, &c.t, c.tangent, c.point, e.target, 1e-12, 1e-12, true), 1);
    EXPECT_EQ(c.t, e.bound);
    EXPECT_EQ(c.point[0], e.bound);
  }
}

// A target far outside an arc: the plain step overshoots by the ratio of
// the distances (here 5) and would oscillate with growing amplitude; the
// damping of reversals makes it converge to the foot.
TEST_F(ProjectTest, OscillatingIterationIsDamped) {
  mgn_curve* arc = store.curve(1, {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {1, std::sqrt(0.5), 1});
  for (double degrees : {20.0, 40.0, 75.0}) {
    const double phi = degrees * std::numbers::pi / 180.0;
    const double target[3] = {5 * std::cos(phi), 5 * std::sin(phi), 0.0};
    for (double t0 : {0.0, 1.0}) {
      curve_state s = start_on(arc, t0);
      int iterations = 0;
      mgn_project_point_curve(arc, &s.t, s.tangent, s.point, target, 1e-13, 1e-13, &iterations);
      EXPECT_NEAR(std::atan2(s.point[1], s.point[0]), phi, 1e-9) << degrees << " from " << t0;
      // The damped iteration converges linearly: more than the 50 iterations
      // of one window, which it is granted while its steps keep shrinking.
      EXPECT_LT(iterations, 200);
      curve_state c = start_on(arc, t0);
      EXPECT_EQ(mgn_clip_point_curve(arc, &c.t, c.tangent, c.point, target, 1e-13, 1e-13, true), 1);
      EXPECT_NEAR(c.t, s.t, 1e-9);
    }
  }
}

TEST_F(ProjectTest, VanishingCurveTangent) {
  // Degenerate to a point but not flagged collapsed: no tangent anywhere.
  mgn_curve* dot = store.curve(3, {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}});
  const double target[3] = {0, 0, 0};
  curve_state s{0.5, {0, 0, 0}, {1, 2, 3}};
  EXPECT_EXIT(mgn_project_point_curve(dot, &s.t, s.tangent, s.point, target, 1e-9, 1e-9),
              ::testing::ExitedWithCode(10), "Bad parameterization of curve 3 at t = 0\\.500000");
  EXPECT_EXIT(mgn_clip_point_curve(dot, &s.t, s.tangent, s.point, target, 1e-9, 1e-9, true),
              ::testing::ExitedWithCode(10), "Bad parameterization of curve 3 at t = 0\\.500000");
  s.tangent[0] = 7.0;
  EXPECT_EQ(mgn_clip_point_curve(dot, &s.t, s.tangent, s.point, target, 1e-9, 1e-9, false), 0);
  EXPECT_EQ(s.tangent[0], 0.0);
  // At an end even strict clipping reports it by its result.
  curve_state e{0.0, {0, 0, 0}, {1, 2, 3}};
  EXPECT_EQ(mgn_clip_point_curve(dot, &e.t, e.tangent, e.point, target, 1e-9, 1e-9, true), 0);
  EXPECT_EQ(e.t, 0.0);
}

TEST_F(ProjectTest, CurveProjectionFailureMessage) {
  mgn_curve* c = store.curve(4, {{0, 0, 0}, {1, 1, 0}, {2, 0, 0}});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double target[3] = {nan, 0.0, 0.0};
  curve_state s = start_on(c, 0.5);
  EXPECT_EXIT(mgn_project_point_curve(c, &s.t, s.tangent, s.point, target, 1e-9, 1e-9),
              ::testing::ExitedWithCode(10),
              "Projection of point \\[x = -?nan, y = 0\\.000000, z = 0\\.000000\\] to curve 4 "
              "failed\nat \\[t = .*\\]\nafter [0-9]+ iterations\n\\(tolerance xyz: .* t: .*\\)");
  // Without strictness clipping gives up by its result instead.
  EXPECT_EQ(mgn_clip_point_curve(c, &s.t, s.tangent, s.point, target, 1e-9, 1e-9, false), 0);
}

// ---------------------------------------------------------------------------
// Surface projection
// ---------------------------------------------------------------------------

struct surface_state {
  double u, v;
  double n[3], su[3], sv[3], p[3];
};

surface_state start_on(const mgn_surface* s, double u, double v) {
  surface_state st{u, v, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  mgn_get_surface_point_derivatives(s, u, v, st.p, st.su, st.sv);
  if (s->planar)
    for (int k = 0; k < 3; ++k) st.n[k] = s->normal[k];
  else
    mgn_get_surface_normal(s, u, v, st.n);
  return st;
}

mgn_surface* cylinder(mgn_geom_store& store, int id) {
  const double w = std::sqrt(0.5);
  return store.surface(id, 3, 2, {{2, 0, 0}, {2, 2, 0}, {0, 2, 0}, {2, 0, 3}, {2, 2, 3}, {0, 2, 3}},
                       {1, w, 1, 1, w, 1});
}

TEST_F(ProjectTest, SurfaceProjectionFindsFootPoint) {
  mgn_surface* cyl = cylinder(store, 1);
  struct foot_case {
    double u, v, offset;
  };
  for (const foot_case& f : {foot_case{0.3, 0.4, 0.0}, foot_case{0.7, 0.2, 0.5},
                             foot_case{0.1, 0.9, -1.2}}) {
    double p[3], n[3], target[3];
    mgn_get_surface_point(cyl, f.u, f.v, p);
    mgn_get_surface_normal(cyl, f.u, f.v, n);
    for (int k = 0; k < 3; ++k) target[k] = p[k] + f.offset * n[k];
    surface_state s = start_on(cyl, 0.5, 0.5);
    int iterations = 0;
    mgn_project_point_surface(cyl, &s.u, &s.v, s.n, s.su, s.sv, s.p, target, 1e-13, 1e-13,
                              &iterations);
    EXPECT_NEAR(s.u, f.u, 1e-9);
    EXPECT_NEAR(s.v, f.v, 1e-9);
    EXPECT_LT(iterations, 200);
    // The outputs describe the final parameters.
    double q[3], m[3];
    mgn_get_surface_point(cyl, s.u, s.v, q);
    mgn_get_surface_normal(cyl, s.u, s.v, m);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(s.p[k], q[k], 1e-14);
      EXPECT_NEAR(s.n[k], m[k], 1e-12);
    }
  }
}

TEST_F(ProjectTest, SurfacePointBeyondEdgeEndsAtTheBound) {
  mgn_surface* plane = store.surface(2, 2, 2, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}});
  plane->planar = true;
  plane->normal[2] = 1.0;
  struct edge_case {
    double target[3];
    double u, v;  // foot parameters clipped to the square
  };
  for (const edge_case& e : {edge_case{{1.5, 0.3, 1.0}, 1.0, 0.3}, edge_case{{0.4, -2.0, 0.5}, 0.4, 0.0},
                             edge_case{{2.0, 3.0, 0.0}, 1.0, 1.0}}) {
    surface_state s = start_on(plane, 0.5, 0.5);
    mgn_project_point_surface(plane, &s.u, &s.v, s.n, s.su, s.sv, s.p, e.target, 1e-12, 1e-12);
    EXPECT_NEAR(s.u, e.u, 3e-9);
    EXPECT_NEAR(s.v, e.v, 3e-9);
    EXPECT_TRUE(s.u >= 0.0 && s.u <= 1.0 && s.v >= 0.0 && s.v <= 1.0);
    surface_state c = start_on(plane, 0.5, 0.5);
    EXPECT_EQ(mgn_clip_point_surface(plane, &c.u, &c.v, c.n, c.su, c.sv, c.p, e.target, 1e-12,
                                     1e-12, true),
              1);
    EXPECT_EQ(c.u, e.u);
    EXPECT_NEAR(c.v, e.v, 1e-12);
  }
}

// A step cut down to the step limit is no sign of convergence: tolerances
// larger than such a step, as the surface mesher passes for a size far
// above the surface, must not stop the walk after its first step.
TEST_F(ProjectTest, StepCutToTheLimitNeverEndsTheCurveIteration) {
  mgn_curve* seg = store.curve(1, {{0, 0, 0}, {1, 0, 0}});
  const double target[3] = {50.0, 0.0, 0.0};
  curve_state c = start_on(seg, 0.1);
  EXPECT_EQ(mgn_clip_point_curve(seg, &c.t, c.tangent, c.point, target, 10.0, 0.5, false), 1);
  EXPECT_EQ(c.t, 1.0);
  curve_state s = start_on(seg, 0.1);
  EXPECT_GT(mgn_project_point_curve(seg, &s.t, s.tangent, s.point, target, 10.0, 0.5), 0.9);
}

TEST_F(ProjectTest, StepCutToTheLimitNeverEndsTheSurfaceIteration) {
  mgn_surface* plane = store.surface(2, 2, 2, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}});
  plane->planar = true;
  plane->normal[2] = 1.0;
  const double target[3] = {50.0, 0.5, 0.0};
  const double tol_xyz = 10.0, tol_uv = 0.5;
  surface_state c = start_on(plane, 0.1, 0.5);
  EXPECT_EQ(mgn_clip_point_surface(plane, &c.u, &c.v, c.n, c.su, c.sv, c.p, target, tol_xyz, tol_uv, false), 1);
  EXPECT_EQ(c.u, 1.0);
  EXPECT_NEAR(c.v, 0.5, 1e-12);
  surface_state s = start_on(plane, 0.1, 0.5);
  mgn_project_point_surface(plane, &s.u, &s.v, s.n, s.su, s.sv, s.p, target, tol_xyz, tol_uv);
  EXPECT_GT(s.u, 0.9);
  EXPECT_LE(s.u, 1.0);
}

TEST_F(ProjectTest, PlanarSurfaceKeepsCallerNormal) {
  // A slightly tilted normal given by the caller is kept on a planar surface
  // and replaced by the evaluated one on a non-planar one.
  const double tilted[3] = {0.0, 0.6, 0.8};
  mgn_surface* plane = store.surface(2, 2, 2, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}});
  plane->planar = true;
  const double target[3] = {0.3, 0.3, 0.0};
  for (bool planar : {true, false}) {
    plane->planar = planar;
    surface_state s = start_on(plane, 0.6, 0.7);
    for (int k = 0; k < 3; ++k) s.n[k] = tilted[k];
    mgn_project_point_surface(plane, &s.u, &s.v, s.n, s.su, s.sv, s.p, target, 1e-12, 1e-12);
    if (planar) {
      for (int k = 0; k < 3; ++k) EXPECT_EQ(s.n[k], tilted[k]);
    } else {
      EXPECT_NEAR(s.n[2], 1.0, 1e-15);
    }
  }
}

TEST_F(ProjectTest, SurfaceProjectionFailures) {
  // S_u vanishes on v = 0.5.
  mgn_surface* bad = store.surface(7, 2, 2, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 1, 0}});
  surface_state s{0.5, 0.5, {0, 0, 1}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  mgn_get_surface_point_derivatives(bad, 0.5, 0.5, s.p, s.su, s.sv);
  const double target[3] = {0.2, 0.9, 0.0};
  EXPECT_EXIT(mgn_project_point_surface(bad, &s.u, &s.v, s.n, s.su, s.sv, s.p, target, 1e-9, 1e-9),
              ::testing::ExitedWithCode(10),
              "Bad parameterization of surface 7 at u = 0\\.500000, v = 0\\.500000");
  mgn_surface* cyl = cylinder(store, 9);
  surface_state c = start_on(cyl, 0.5, 0.5);
  const double nan_target[3] = {std::numeric_limits<double>::quiet_NaN(), 1.0, 1.0};
  EXPECT_EXIT(mgn_project_point_surface(cyl, &c.u, &c.v, c.n, c.su, c.sv, c.p, nan_target, 1e-9, 1e-9),
              ::testing::ExitedWithCode(10),
              "Projection of point \\[x = -?nan, y = 1\\.000000, z = 1\\.000000\\] to surface 9 "
              "failed\nat \\[u = .*\\]\nafter [0-9]+ iterations\n\\(tolerance xyz: .* uv: .*\\)");
  EXPECT_EQ(mgn_clip_point_surface(cyl, &c.u, &c.v, c.n, c.su, c.sv, c.p, nan_target, 1e-9, 1e-9,
                                   false),
            0);
}

TEST_F(ProjectTest, LocalProjectionAllocatesNothing) {
  mgn_surface* cyl = cylinder(store, 1);
  mgn_curve* arc = store.curve(1, {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {1, std::sqrt(0.5), 1});
  const double target[3] = {1.5, 1.2, 0.7};
  surface_state s = start_on(cyl, 0.5, 0.5);
  curve_state c = start_on(arc, 0.5);
  const long count = mgn_count_allocations([&] {
    mgn_project_point_surface(cyl, &s.u, &s.v, s.n, s.su, s.sv, s.p, target, 1e-12, 1e-12);
    mgn_clip_point_surface(cyl, &s.u, &s.v, s.n, s.su, s.sv, s.p, target, 1e-12, 1e-12, true);
    mgn_project_point_curve(arc, &c.t, c.tangent, c.point, target, 1e-12, 1e-12);
    mgn_clip_point_curve(arc, &c.t, c.tangent, c.point, target, 1e-12, 1e-12, true);
  });
  EXPECT_EQ(count, 0);
}

// ---------------------------------------------------------------------------
// Global searches
// ---------------------------------------------------------------------------

// Order-8 S-shaped wave: the distance from most targets has two or three
// local minima.
mgn_curve* wave(mgn_geom_store& store) {
  return store.curve(1, {{0, 0, 0}, {1, 12, 0}, {2, -12, 0}, {3, 12, 0}, {4, -12, 0}, {5, 12, 0},
                         {6, -12, 0}, {7, 0, 0}},
                     {1, 2, 0.5, 1, 1.5, 1, 0.7, 1});
}

TEST_F(ProjectTest, ClosestPointOnCurveWithSeveralLocalMinima) {
  mgn_curve* c = wave(store);
  // Local minima: (3.5, 5, 0) at t 0.063 and 0.306 (global); (3.5, 0, 0) at
  // 0.002, 0.510 (global) and 0.994; (6.5, 2, -1) at 0.020, 0.467, 0.736 and
  // the global one at the end t = 1; (1, 1, 0) at 0.007 (global) and 0.421.
  const double targets[][3] = {{3.5, 5.0, 0.0}, {3.5, 0.0, 0.0}, {6.5, 2.0, -1.0}, {1.0, 1.0, 0.0},
                               {0.5, -2.0, 0.3}, {-2.0, 0.1, 0.0}, {2.2, 0.4, 0.0}};
  for (const auto& target : targets) {
    double t = -1.0, t_brute = -1.0;
    const double d2 = mgn_find_closest_curve_point(c, target, &t);
    const double b2 = brute_curve(c, target, &t_brute);
    EXPECT_LE(d2, b2 + 1e-12) << target[0] << " " << target[1];
    EXPECT_NEAR(std::sqrt(d2), std::sqrt(b2), 1e-9);
    double p[3];
    mgn_get_curve_point(c, t, p);
    EXPECT_NEAR(distance2(p, target), d2, 1e-15);
  }
}

TEST_F(ProjectTest, ClosestPointOnCurveInWindow) {
  mgn_curve* c = wave(store);
  // The global closest point of this target is at t = 0.306; inside the
  // window the search keeps the local minimum at t = 0.063.
  const double target[3] = {3.5, 5.0, 0.0};
  double t_all, t_win;
  const double all = mgn_find_closest_curve_point(c, target, &t_all);
  EXPECT_NEAR(t_all, 0.3057, 1e-4);
  const double window[2] = {0.02, 0.15};
  const double win = mgn_find_closest_curve_point(c, target, &t_win, window);
  EXPECT_NEAR(win, 8.96005, 1e-5);
  EXPECT_NEAR(t_win, 0.0631, 1e-4);
  // A window whose best lies on its edge gives way to the whole curve.
  const double edge_window[2] = {0.15, 0.25};
  double t_edge;
  const double edge = mgn_find_closest_curve_point(c, target, &t_edge, edge_window);
  EXPECT_NEAR(edge, all, 1e-12);
  EXPECT_NEAR(t_edge, t_all, 1e-8);
}

// Doubly curved surface of orders 5 x 5 with a checkerboard of bumps.
mgn_surface* bumps(mgn_geom_store& store) {
  std::vector<mgn_xyz> net;
  std::vector<double> w;
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 5; ++i) {
      net.push_back({i * 1.0, j * 1.0, ((i + j) % 2 ? 1.2 : -1.2) + 0.1 * i * j});
      w.push_back(1.0 + 0.1 * ((i * 3 + j) % 4));
    }
  return store.surface(1, 5, 5, net, w);
}

// The point and tangents of one evaluation are bit for bit those of the
// three separate queries (the smoothing starts projections from either and
// its meshes must not depend on which): inside, on the sides, at the
// corners, on a side that shrinks to a point (the tangent fallback) and on
// nets of the orders whose basis is written out and of higher ones.
TEST_F(ProjectTest, PointAndTangentsOfOneEvaluationMatchTheSeparateQueries) {
  std::mt19937 rng(7);
  // A quadrilateral whose side v = 1 shrinks to a point (not flagged as
  // collapsed: its tangent comes from the chord fallback).
  std::vector<mgn_xyz> shrinking = {{0, 0, 0}, {1, 0, 0.2}, {2, 0, 0}, {0, 1, 0.5}, {1, 1, 0.9},
                                    {2, 1, 0.5}, {1, 2, 1}, {1, 2, 1}, {1, 2, 1}};
  struct net_case {
    const char* name;
    mgn_surface* surface;
  };
  const net_case nets[] = {
      {"cylinder", cylinder(store, 1)},
      {"bumps of order 5", bumps(store)},
      {"random of order 7 x 3", store.surface(3, 7, 3, mgn_random_points(rng, 21), mgn_random_weights(rng, 21))},
      {"shrinking side", store.surface(4, 3, 3, shrinking)},
  };
  const double params[][2] = {{0.5, 0.5}, {0.123, 0.877}, {0.0, 0.4}, {1.0, 0.6}, {0.3, 0.0},
                              {0.7, 1.0}, {0.0, 0.0},     {1.0, 1.0}, {0.0, 1.0}, {1e-9, 0.999999}};
  for (const net_case& n : nets) {
    for (const auto& uv : params) {
      SCOPED_TRACE(::testing::Message() << n.name << " at " << uv[0] << ", " << uv[1]);
      double p[3], su[3], sv[3];
      const bool tangents = mgn_get_surface_point_tangents(n.surface, uv[0], uv[1], p, su, sv);
      double q[3], tu[3], tv[3];
      mgn_get_surface_point(n.surface, uv[0], uv[1], q);
      const double lu = mgn_get_surface_tangent_u(n.surface, uv[0], uv[1], tu);
      const double lv = mgn_get_surface_tangent_v(n.surface, uv[0], uv[1], tv);
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(p[k], q[k]);
        EXPECT_EQ(su[k], tu[k]);
        EXPECT_EQ(sv[k], tv[k]);
      }
      EXPECT_EQ(tangents, lu > 0.0 && lv > 0.0);
    }
  }
}

double brute_surface(const mgn_surface* s, const double* target) {
  const int n = 400;
  double best = HUGE_VAL, bu = 0, bv = 0;
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) {
      double p[3];
      mgn_get_surface_point(s, static_cast<double>(i) / n, static_cast<double>(j) / n, p);
      const double d = distance2(p, target);
      if (d < best) {
        best = d;
        bu = static_cast<double>(i) / n;
        bv = static_cast<double>(j) / n;
      }
    }
  // Pattern refinement around the best sample.
  for (double h = 1.0 / n; h > 1e-12; h *= 0.5)
    for (int j = -1; j <= 1; ++j)
      for (int i = -1; i <= 1; ++i) {
        const double u = std::clamp(bu + i * h, 0.0, 1.0), v = std::clamp(bv + j * h, 0.0, 1.0);
        double p[3];
        mgn_get_surface_point(s, u, v, p);
        const double d = distance2(p, target);
        if (d < best) {
          best = d;
          bu = u;
          bv = v;
        }
      }
  return best;
}

TEST_F(ProjectTest, ClosestPointOnDoublyCurvedSurface) {
  mgn_surface* s = bumps(store);
  const double targets[][3] = {{2.0, 2.0, 3.0}, {1.3, 2.7, -2.0}, {0.5, 3.5, 0.0}, {3.1, 0.4, 1.5},
                               {5.5, 2.0, 0.0}, {-1.0, -1.0, 2.0}, {2.2, 1.8, 0.2}};
  for (const auto& target : targets) {
    double u = -1, v = -1;
    const double d2 = mgn_find_closest_surface_point(s, target, &u, &v);
    const double b2 = brute_surface(s, target);
    EXPECT_LE(d2, b2 + 1e-10) << target[0] << " " << target[1] << " " << target[2];
    EXPECT_NEAR(std::sqrt(d2), std::sqrt(b2), 1e-7);
    double p[3];
    mgn_get_surface_point(s, u, v, p);
    EXPECT_NEAR(distance2(p, target), d2, 1e-14);
  }
}

TEST_F(ProjectTest, SubsurfaceEnclosure) {
  const double p0[3] = {0, 0, 0}, p1[3] = {1, 0, 0}, p2[3] = {1, 1, 0}, p3[3] = {0, 1, 0};
  struct enclosure_case {
    double target[3];
    int expected;
  };
  const enclosure_case cases[] = {
      {{0.5, 0.5, 3.0}, 1},    // above the inside
      {{1.0, 0.5, -1.0}, 1},   // over an edge
      {{0.0, 0.0, 2.0}, 1},    // over a corner
      {{1.001, 0.5, 0.0}, 1},  // just outside: 359.5 degrees
      {{1.01, 0.5, 0.0}, 2},   // 355 degrees: undecided
      {{1.05, 0.5, 0.0}, 0},   // outside
      {{-3.0, 0.2, 0.0}, 0},
  };
  for (const enclosure_case& c : cases)
    EXPECT_EQ(mgn_check_point_subsurface_enclosure(p0, p1, p2, p3, c.target), c.expected)
        << c.target[0] << " " << c.target[1];
  const double q[3] = {2, 0, 0}, r[3] = {3, 0, 0};
  const double t[3] = {0.5, 0.5, 0.5};
  EXPECT_EXIT(mgn_check_point_subsurface_enclosure(p0, p1, q, r, t), ::testing::ExitedWithCode(10),
              "Zero normal vector");
}

}  // namespace
