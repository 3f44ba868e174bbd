// Tests of the geometric utilities: coincidence, distances, line-line and
// line-plane routines, the opposite-side test, tolerances, error location.
#include "geom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

class GeomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const double lo[3] = {-1, -1, -1}, hi[3] = {1, 1, 1};
    mgn_set_geometric_tolerance(lo, hi);
  }
};

TEST_F(GeomTest, ToleranceFromModelBox) {
  const double lo[3] = {-3, 0.5, -250}, hi[3] = {4, 7, 12};
  mgn_set_geometric_tolerance(lo, hi);
  double f = 1.0;
  for (int i = 0; i < 14; ++i) f /= 10.0;
  EXPECT_EQ(mgn_tol.eps, 250 * f);
  EXPECT_EQ(mgn_tol.eps2, mgn_tol.eps * mgn_tol.eps);
  EXPECT_EQ(mgn_tol.eps3, mgn_tol.eps2 * mgn_tol.eps);
  const double zero[3] = {0, 0, 0};
  mgn_set_geometric_tolerance(zero, zero);
  EXPECT_EQ(mgn_tol.eps, f);
}

TEST_F(GeomTest, PointCoincidence) {
  const double p[3] = {1, 2, 3}, q[3] = {1, 2, 3.5};
  EXPECT_EQ(mgn_check_point_coincidence(p, p, 1e-300), 1);
  EXPECT_EQ(mgn_check_point_coincidence(p, q, 0.5), 1);  // at the distance: coincident
  EXPECT_EQ(mgn_check_point_coincidence(p, q, 0.4999), 0);
  EXPECT_EXIT(mgn_check_point_coincidence(p, p, 0.0), ::testing::ExitedWithCode(10),
              "Invalid epsilon value encountered");
}

TEST_F(GeomTest, PointDistances) {
  const double p[3] = {1, 2, 2}, origin[3] = {0, 0, 0}, x_dir[3] = {5, 0, 0};
  EXPECT_EQ(mgn_get_point_square_distance(p, origin), 9.0);
  EXPECT_NEAR(mgn_get_point_line_square_distance(p, origin, x_dir), 8.0, 1e-14);
  const double a[3] = {0, 0, 1}, n[3] = {0, 0, 1};
  EXPECT_EQ(mgn_get_point_plane_distance(p, a, n), 1.0);
  const double below[3] = {3, 3, -2};
  EXPECT_EQ(mgn_get_point_plane_distance(below, a, n), -3.0);
}

TEST_F(GeomTest, LineLineDistance) {
  // Skew lines: x axis and the line through (0, 0, 2) along y.
  const double a1[3] = {0, 0, 0}, d1[3] = {1, 0, 0}, a2[3] = {5, -1, 2}, d2[3] = {0, 3, 0};
  EXPECT_NEAR(mgn_get_line_line_square_distance(a1, a2, d1, d2), 4.0, 1e-14);
  // Parallel lines at distance 1: the fallback branch.
  const double b2[3] = {7, 1, 0}, e2[3] = {-2, 0, 0};
  EXPECT_NEAR(mgn_get_line_line_square_distance(a1, b2, d1, e2), 1.0, 1e-14);
  // The same by points.
  const double p1[3] = {0, 0, 0}, p2[3] = {1, 0, 0}, q1[3] = {3, 1, 0}, q2[3] = {4, 1, 0};
  EXPECT_NEAR(mgn_get_line_line_pnt_square_distance(p1, p2, q1, q2), 1.0, 1e-14);
  const double r1[3] = {5, -1, 2}, r2[3] = {5, 2, 2};
  EXPECT_NEAR(mgn_get_line_line_pnt_square_distance(p1, p2, r1, r2), 4.0, 1e-14);
  EXPECT_EXIT(mgn_get_line_line_pnt_square_distance(p1, p1, q1, q2), ::testing::ExitedWithCode(10),
              "Line 1 is given by zero vector");
  EXPECT_EXIT(mgn_get_line_line_pnt_square_distance(p1, p2, q1, q1), ::testing::ExitedWithCode(10),
              "Line 2 is given by zero vector");
}

TEST_F(GeomTest, ClosestPointsOfTwoLines) {
  const double a1[3] = {0, 0, 0}, d1[3] = {2, 0, 0}, a2[3] = {3, -1, 2}, d2[3] = {0, 4, 0};
  double s, t, x1[3], x2[3];
  ASSERT_EQ(mgn_get_line_line_intersection(a1, d1, a2, d2, &s, &t, x1, x2), 1);
  EXPECT_NEAR(s, 1.5, 1e-14);
  EXPECT_NEAR(t, 0.25, 1e-14);
  EXPECT_NEAR(x1[0], 3.0, 1e-14);
  EXPECT_NEAR(x2[1], 0.0, 1e-14);
  EXPECT_NEAR(x2[2], 2.0, 1e-14);
  const double par[3] = {-4, 0, 0};
  EXPECT_EQ(mgn_get_line_line_intersection(a1, d1, a2, par, &s, &t, x1, x2), 0);
}

TEST_F(GeomTest, ClosestPointsOfTwoSegments) {
  // Crossing segments meet at their middles.
  const double p1[3] = {0, 0, 0}, p2[3] = {2, 2, 0}, q1[3] = {0, 2, 1}, q2[3] = {2, 0, 1};
  double s, t, x1[3], x2[3];
  ASSERT_EQ(mgn_get_line_line_pnt_intersection(p1, p2, q1, q2, &s, &t, x1, x2), 1);
  EXPECT_NEAR(s, 0.5, 1e-14);
  EXPECT_NEAR(t, 0.5, 1e-14);
  EXPECT_NEAR(x1[0], 1.0, 1e-14);
  EXPECT_NEAR(x2[2], 1.0, 1e-14);
  // Parallel segments: the end of the longer one nearer to the shorter one
  // and its foot on the shorter one's line.
  const double a1[3] = {0, 0, 0}, a2[3] = {10, 0, 0}, b1[3] = {8, 1, 0}, b2[3] = {9, 1, 0};
  ASSERT_EQ(mgn_get_line_line_pnt_intersection(a1, a2, b1, b2, &s, &t, x1, x2), 0);
  EXPECT_EQ(s, 1.0);
  EXPECT_NEAR(t, 2.0, 1e-14);
  EXPECT_NEAR(x2[0], 10.0, 1e-14);
  // The shorter segment given first, running the other way.
  ASSERT_EQ(mgn_get_line_line_pnt_intersection(b2, b1, a1, a2, &s, &t, x1, x2), 0);
  EXPECT_EQ(t, 1.0);
  EXPECT_NEAR(s, -1.0, 1e-14);
  EXPECT_EXIT(mgn_get_line_line_pnt_intersection(p1, p1, q1, q2, &s, &t, x1, x2),
              ::testing::ExitedWithCode(10), "Line 1 is given by two identical points");
  EXPECT_EXIT(mgn_get_line_line_pnt_intersection(p1, p2, q2, q2, &s, &t, x1, x2),
              ::testing::ExitedWithCode(10), "Line 2 is given by two identical points");
}

TEST_F(GeomTest, LinePlaneIntersection) {
  const double a[3] = {1, 1, 5}, d[3] = {0, 0, -2}, p[3] = {0, 0, 1}, n[3] = {0, 0, 1};
  double s, x[3];
  ASSERT_EQ(mgn_get_line_plane_intersection(a, d, p, n, &s, x), 1);
  EXPECT_EQ(s, 2.0);
  EXPECT_EQ(x[2], 1.0);
  const double flat[3] = {1, 2, 0};
  EXPECT_EQ(mgn_get_line_plane_intersection(a, flat, p, n, &s, x), 0);
  const double b[3] = {1, 1, -3};
  ASSERT_EQ(mgn_get_line_plane_pnt_intersection(a, b, p, n, &s, x), 1);
  EXPECT_EQ(s, 0.5);
  EXPECT_EQ(x[0], 1.0);
  EXPECT_EXIT(mgn_get_line_plane_pnt_intersection(a, a, p, n, &s, x), ::testing::ExitedWithCode(10),
              "Line is given by two identical points");
}

TEST_F(GeomTest, OppositeSideTest) {
  const double p0[3] = {0, 0, 0}, p1[3] = {1, 0, 0}, p2[3] = {0, 1, 0};
  const double up[3] = {0.2, 0.2, 1.0}, down[3] = {5.0, -3.0, -0.5}, up2[3] = {-1, -1, 0.1};
  EXPECT_EQ(mgn_check_points_opposite_side(p0, p1, p2, up, down), 1);
  EXPECT_EQ(mgn_check_points_opposite_side(p0, p1, p2, down, up), 1);
  EXPECT_EQ(mgn_check_points_opposite_side(p0, p1, p2, up, up2), 0);
  // A point within the tolerance of the plane counts as in the plane.
  const double in_plane[3] = {0.3, 0.3, 0.1 * mgn_tol.eps};
  EXPECT_EQ(mgn_check_points_opposite_side(p0, p1, p2, in_plane, down), 0);
  EXPECT_EQ(mgn_check_points_opposite_side(p0, p1, p2, up, in_plane), 0);
  const double just_below[3] = {0.3, 0.3, -10 * mgn_tol.eps};
  EXPECT_EQ(mgn_check_points_opposite_side(p0, p1, p2, up, just_below), 1);
}

TEST_F(GeomTest, ErrorLocationKeepsTheFirstRecord) {
  mgn_error_loc = mgn_error_location{};
  const double a[3] = {1, 2, 3}, b[3] = {4, 5, 6};
  mgn_record_error_location(2, 17, a, 0.5);
  mgn_record_error_location(1, 3, b);
  EXPECT_TRUE(mgn_error_loc.recorded);
  EXPECT_EQ(mgn_error_loc.kind, 2);
  EXPECT_EQ(mgn_error_loc.id, 17);
  EXPECT_EQ(mgn_error_loc.xyz[2], 3.0);
  EXPECT_EQ(mgn_error_loc.radius, 0.5);
  mgn_error_loc = mgn_error_location{};
}

// The exact orientation tests against integer arithmetic: points with
// integer coordinates up to 2^26 (scaled by a power of two, which keeps
// them exact) give determinants that 128-bit integers hold exactly.  Most
// cases are nearly degenerate, built as coplanar (collinear) points with one
// coordinate moved by one unit, so the floating-point filter cannot decide
// and the expansion arithmetic must.
using i128 = __int128;

int exact_sign(i128 v) { return v > 0 ? 1 : (v < 0 ? -1 : 0); }

i128 det3(const long long* a, const long long* b, const long long* c, const long long* d) {
  const i128 ux = b[0] - a[0], uy = b[1] - a[1], uz = b[2] - a[2];
  const i128 vx = c[0] - a[0], vy = c[1] - a[1], vz = c[2] - a[2];
  const i128 wx = d[0] - a[0], wy = d[1] - a[1], wz = d[2] - a[2];
  return wx * (uy * vz - uz * vy) + wy * (uz * vx - ux * vz) + wz * (ux * vy - uy * vx);
}

TEST(OrientationTest, AgreesWithIntegerArithmeticOnNearlyDegenerateInput) {
  std::mt19937_64 random(20261210);
  std::uniform_int_distribution<long long> coordinate(-(1LL << 26), 1LL << 26);
  std::uniform_int_distribution<int> small(-3, 3);
  const double scales[] = {1.0, 0x1p-30, 0x1p20};
  long decided_by_expansion = 0;
  for (int round = 0; round < 20000; ++round) {
    long long p[4][3];
    for (int k = 0; k < 3; ++k) p[0][k] = coordinate(random);
    // b and c in general position, d on the plane through a, b, c along
    // integer steps, then nudged.
    const long long u[3] = {small(random), small(random), small(random)};
    const long long v[3] = {small(random), small(random), small(random)};
    const long long m = 1 + (random() % (1LL << 20)), n = 1 + (random() % (1LL << 20));
    for (int k = 0; k < 3; ++k) {
      p[1][k] = p[0][k] + m * u[k];
      p[2][k] = p[0][k] + n * v[k];
      p[3][k] = p[0][k] + (m / 3) * u[k] + (n / 5) * v[k];
    }
    if (round % 3 != 0) p[3][random() % 3] += small(random);
    const double scale = scales[round % 3];
    double q[4][3];
    for (int i = 0; i < 4; ++i)
      for (int k = 0; k < 3; ++k) q[i][k] = static_cast<double>(p[i][k]) * scale;
    const int expected = exact_sign(det3(p[0], p[1], p[2], p[3]));
    ASSERT_EQ(mgn_orient3d(q[0], q[1], q[2], q[3]), expected) << "round " << round;
    // Exchanging two points turns the sign.
    ASSERT_EQ(mgn_orient3d(q[1], q[0], q[2], q[3]), -expected) << "round " << round;
    if (expected == 0) ++decided_by_expansion;
    // The same points in one coordinate plane for the planar test.
    const i128 planar = static_cast<i128>(p[1][0] - p[0][0]) * (p[3][1] - p[0][1]) -
                        static_cast<i128>(p[1][1] - p[0][1]) * (p[3][0] - p[0][0]);
    ASSERT_EQ(mgn_orient2d(q[0], q[1], q[3], 0, 1), exact_sign(planar)) << "round " << round;
  }
  EXPECT_GT(decided_by_expansion, 1000);  // the degenerate cases were reached
}

TEST(OrientationTest, SignConventionAndRepeatedPoints) {
  const double a[3] = {0, 0, 0}, b[3] = {1, 0, 0}, c[3] = {0, 1, 0};
  const double up[3] = {0.1, 0.1, 1e-300}, down[3] = {0.1, 0.1, -1.0};
  EXPECT_EQ(mgn_orient3d(a, b, c, up), 1);  // the side (b - a) x (c - a) points to
  EXPECT_EQ(mgn_orient3d(a, b, c, down), -1);
  EXPECT_EQ(mgn_orient3d(a, b, c, b), 0);
  EXPECT_EQ(mgn_orient2d(a, b, c, 0, 1), 1);
  EXPECT_EQ(mgn_orient2d(a, c, b, 0, 1), -1);
  // Coordinates far from the origin with a small offset.
  const double big = 1e15;
  const double fa[3] = {big, big, big}, fb[3] = {big + 1, big, big}, fc[3] = {big, big + 1, big};
  const double fd[3] = {big + 0.25, big + 0.25, big + 0.125};
  EXPECT_EQ(mgn_orient3d(fa, fb, fc, fd), 1);
}

}  // namespace
