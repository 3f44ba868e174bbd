// Tests of the geometric utilities: coincidence, distances, line-line and
// line-plane routines, the opposite-side test, tolerances, error location.
#include "geom.h"

#include <gtest/gtest.h>

#include <cmath>

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

}  // namespace
