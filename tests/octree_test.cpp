// The octree: root creation, division with the balance rule, size queries,
// refinement at points, neighbourhood collection and the node index.
#include "octree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "list.h"
#include "message.h"
#include "octree_check.h"

namespace {

class OctreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mgn_set = mgn_settings{};
    mgn_tol = mgn_tolerances{};
    mgn_warning_count = 0;
  }
  // A root over the unit cube [0, 1]^3 (R = 1).
  static void unit_root() {
    const double lo[3] = {0, 0, 0};
    const double hi[3] = {1, 1, 1};
    mgn_create_root_octant(lo, hi);
  }
};

double query(const double p[3], bool check = false) {
  mgn_octant* hint = nullptr;
  return mgn_get_octree_mesh_size(&hint, p, check);
}

// Every leaf whose closed box comes within distance d (per axis) of p.
std::set<mgn_octant*> leaves_near(const double p[3], double d) {
  std::set<mgn_octant*> near;
  for (mgn_octant* leaf : octree_leaves()) {
    bool touches = true;
    for (int a = 0; a < 3; ++a) {
      if (p[a] + d < leaf->origin[a] || p[a] - d > leaf->origin[a] + leaf->size) touches = false;
    }
    if (touches) near.insert(leaf);
  }
  return near;
}

// --- root -------------------------------------------------------------------

struct root_case {
  const char* name;
  double lo[3], hi[3];
  bool origin_given;
  double origin[3];
  double root_size;         // -R, 0 for none
  double expect_size;
  double expect_origin[3];
  double expect_eps;
  const char* expect_warning;  // substring of standard error, "" for none
};

TEST_F(OctreeTest, RootCreationFromModelBoxAndSettings) {
  const root_case cases[] = {
      // A point model at the origin: R = 1 and a tolerance based on 1.
      {"point model", {0, 0, 0}, {0, 0, 0}, false, {}, 0, 1.0, {0, 0, 0}, 1e-14, ""},
      // The cube is centred on the box, with the largest extent.
      {"centred", {0, 0, 0}, {4, 2, 1}, false, {}, 0, 4.0, {0, -1, -1.5}, 4e-14, ""},
      // A given origin above the box minimum is lowered to it.
      {"origin lowered", {-1, 0, 0}, {1, 1, 1}, true, {0, -2, 0}, 0, 3.0, {-1, -2, 0}, 3e-14,
       "Warning: Root octant origin modified to [-1.000e+00 -2.000e+00  0.000e+00]\n"},
      // A given root size that is too small grows to the model.
      {"size increased", {0, 0, 0}, {2, 1, 1}, true, {0, 0, 0}, 1.0, 2.0, {0, 0, 0}, 2e-14,
       "Warning: Root octant size increased to 2.000000e+00\n"},
      // A larger given root size is kept without warning.
      {"size kept", {0, 0, 0}, {2, 1, 1}, true, {0, 0, 0}, 8.0, 8.0, {0, 0, 0}, 8e-14, ""},
  };
  for (const root_case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    mgn_set.root_origin_given = c.origin_given;
    for (int a = 0; a < 3; ++a) mgn_set.root_octant_origin[a] = c.origin[a];
    mgn_set.root_octant_size = c.root_size;
    ::testing::internal::CaptureStderr();
    mgn_create_root_octant(c.lo, c.hi);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(mgn_tree.root_size, c.expect_size);
    for (int a = 0; a < 3; ++a) {
      EXPECT_EQ(mgn_tree.root_min[a], c.expect_origin[a]);
      EXPECT_EQ(mgn_tree.root_max[a], c.expect_origin[a] + c.expect_size);
    }
    EXPECT_NEAR(mgn_tol.eps, c.expect_eps, c.expect_eps * 1e-12);
    EXPECT_DOUBLE_EQ(mgn_tol.eps2, mgn_tol.eps * mgn_tol.eps);
    if (*c.expect_warning != '\0') {
      EXPECT_EQ(err, c.expect_warning);
      EXPECT_EQ(mgn_warning_count, 1);
    } else {
      EXPECT_EQ(err, "");
      EXPECT_EQ(mgn_warning_count, 0);
    }
    // Depth from the tolerance: the finest octant is about ten tolerances.
    const int depth = static_cast<int>(std::log2(c.expect_size / mgn_tol.eps / 10) + 0.5);
    EXPECT_EQ(mgn_tree.max_depth, depth);
    EXPECT_EQ(mgn_tree.min_size, std::ldexp(c.expect_size, -depth));
    EXPECT_EQ(mgn_tree.octant_count, 1);
    EXPECT_EQ(mgn_tree.root->state, MGN_OCTANT_EMPTY);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(*mgn_octant_corner(mgn_tree.root, k), c.expect_size);
    EXPECT_TRUE(octree_invariants_hold());
  }
}

TEST_F(OctreeTest, RootSizeIsSinglePrecisionAndHoldsTheModel) {
  const double lo[3] = {0, 0, 0};
  const double hi[3] = {0.1, 0.3, 0.7};  // 0.7 rounds down in single precision
  mgn_create_root_octant(lo, hi);
  EXPECT_EQ(mgn_tree.root_size, static_cast<double>(static_cast<float>(mgn_tree.root_size)));
  EXPECT_GE(mgn_tree.root_size, 0.7);
  for (int a = 0; a < 3; ++a) {
    EXPECT_LE(mgn_tree.root_min[a], lo[a]);
    EXPECT_GE(mgn_tree.root_max[a], hi[a]);
  }
}

TEST_F(OctreeTest, TooFineUniformSizeIsReducedToTheDeepestLevel) {
  mgn_set.uniform_size = 1e-20;
  ::testing::internal::CaptureStderr();
  unit_root();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, mgn_format("Warning: Too fine uniform octree required\n"
                            "         Uniform octree depth reduced to 43\n"
                            "         Octant size reduced to %e\n",
                            std::ldexp(1.0, -43)));
  EXPECT_EQ(mgn_warning_count, 1);
  EXPECT_DOUBLE_EQ(mgn_set.uniform_size, std::ldexp(1.0, -43) * 1.05);
}

// --- queries ----------------------------------------------------------------

TEST_F(OctreeTest, QueryInterpolatesTheCornersOfTheLeaf) {
  unit_root();
  // Distinct corner values 0.1 .. 0.8 at corners 0 .. 7.
  for (int k = 0; k < 8; ++k) *mgn_octant_corner(mgn_tree.root, k) = 0.1f * (k + 1);
  // On the root boundary the distances are exactly 0 and 1: the corner
  // values come out exactly (times 0.85).
  for (int k = 0; k < 8; ++k) {
    const double p[3] = {double(k & 1), double((k >> 1) & 1), double((k >> 2) & 1)};
    EXPECT_EQ(query(p), 0.85 * (0.1f * (k + 1))) << "corner " << k;
  }
  // Midpoint of the edge x = 0..1 at y = z = 0: mean of corners 0 and 1.
  const double edge[3] = {0.5, 0, 0};
  EXPECT_NEAR(query(edge), 0.85 * 0.15, 1e-7);
  const double centre[3] = {0.5, 0.5, 0.5};
  EXPECT_NEAR(query(centre), 0.85 * 0.45, 1e-7);
  // A uniform size caps the result.
  mgn_set.uniform_size = 0.2;
  EXPECT_EQ(query(centre), 0.2);
}

TEST_F(OctreeTest, PointOnAMidPlaneGoesToTheUpperChild) {
  unit_root();
  ASSERT_EQ(mgn_divide_terminal_octant(mgn_tree.root), 1);
  const struct {
    double p[3];
    int child;
  } cases[] = {{{0.5, 0.25, 0.25}, 1}, {{0.25, 0.5, 0.25}, 2}, {{0.25, 0.25, 0.5}, 4},
               {{0.5, 0.5, 0.5}, 7},   {{0.4999, 0.4999, 0.4999}, 0}};
  for (const auto& c : cases) {
    int index = -1;
    mgn_octant* child = mgn_get_child_octant(mgn_tree.root, 0.5, c.p, &index);
    EXPECT_EQ(index, c.child);
    EXPECT_EQ(child, mgn_octant_child(mgn_tree.root, c.child));
    EXPECT_EQ(mgn_locate_leaf_octant(mgn_tree.root, c.p), child);
  }
  EXPECT_TRUE(octree_invariants_hold());
}

TEST_F(OctreeTest, HintIsUpdatedAndAStaleHintGivesTheSameSize) {
  unit_root();
  const double a[3] = {0.1, 0.1, 0.1};
  const double b[3] = {0.9, 0.8, 0.7};
  mgn_refine_octree_at_point(a, 0.01, 0.5, false);
  mgn_refine_octree_at_point(b, 0.05, 0.5, false);
  ASSERT_TRUE(octree_invariants_hold());
  mgn_octant* hint = nullptr;
  const double at_b = mgn_get_octree_mesh_size(&hint, b, true);
  EXPECT_EQ(hint, mgn_locate_leaf_octant(mgn_tree.root, b));
  // The hint of a far point, a divided octant, and the root all give the
  // leaf that contains the point.
  mgn_octant* stale = mgn_locate_leaf_octant(mgn_tree.root, a);
  EXPECT_EQ(mgn_get_octree_mesh_size(&stale, b, true), at_b);
  EXPECT_EQ(stale, hint);
  mgn_octant* divided = mgn_octant_child(mgn_tree.root, 0);
  EXPECT_EQ(mgn_get_octree_mesh_size(&divided, b, true), at_b);
  EXPECT_EQ(divided, hint);
  EXPECT_EQ(mgn_warning_count, 0);
}

TEST_F(OctreeTest, OverflowCheckWarnsNearTheRootAndStopsFarOutside) {
  unit_root();
  // 1.2 leaf sizes from the far face: warning, value extrapolated.
  const double near[3] = {-0.2, 0.5, 0.5};
  ::testing::internal::CaptureStderr();
  EXPECT_NEAR(query(near, true), 0.85, 1e-6);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Warning: Octree overflow detected (x = -2.000e-01, y =  5.000e-01, z =  5.000e-01)\n");
  EXPECT_EQ(mgn_warning_count, 1);
  // Without the check nothing is reported.
  EXPECT_NEAR(query(near, false), 0.85, 1e-6);
  EXPECT_EQ(mgn_warning_count, 1);
  // Beyond 1.5 leaf sizes the run stops.
  const double far[3] = {0.5, 0.5, 1.6};
  EXPECT_EXIT(query(far, true), ::testing::ExitedWithCode(MGN_EXIT_MANIPULATION),
              "Octree overflow detected \\(x =  5.000e-01, y =  5.000e-01, z =  1.600e\\+00\\)\n"
              "Possibly meshing out of domain");
}

TEST_F(OctreeTest, UncheckedQueryFarOutsideIsPulledBackToHalfALeaf) {
  unit_root();
  for (int k = 0; k < 8; ++k) *mgn_octant_corner(mgn_tree.root, k) = (k & 1) ? 0.5f : 0.25f;
  // Linear in x: 0.25 at x = 0, 0.5 at x = 1; far points behave as x = 1.5
  // or x = -0.5.
  const double far_high[3] = {40.0, 0.5, 0.5};
  const double far_low[3] = {-40.0, 0.5, 0.5};
  EXPECT_NEAR(query(far_high), 0.85 * 0.625, 1e-7);
  EXPECT_NEAR(query(far_low), 0.85 * 0.125, 1e-7);
}

// --- refinement ---------------------------------------------------------------

TEST_F(OctreeTest, SizesAtOrAboveHalfTheRootOnlyLowerTheRootCorners) {
  // s / 0.85 at or above R E / 2 never divides the root.  The exact border
  // is found by stepping from below.
  double at = 0.85 * 0.5;
  while (2.0 * (at / 0.85) < 1.0) at = std::nextafter(at, 1.0);
  const struct {
    double size;
    double excess;
    double corner;  // expected root corner value
  } cases[] = {
      {at, 1.0, at / 0.85},
      {0.85 * 0.6, 1.0, 0.6},
      {0.85 * 0.9, 1.0, 0.9},
      {0.85 * 1.2, 1.0, 1.0},        // above R: nothing to lower
      {0.85 * 0.4, 1.0 / 1.5, 0.4},  // R E / 2 = 1/3
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    SetUp();
    mgn_set.octant_excess = c.excess;
    unit_root();
    const double p[3] = {0.3, 0.6, 0.2};
    mgn_refine_octree_at_point(p, c.size, 0.5, false);
    EXPECT_EQ(mgn_tree.octant_count, 1);
    for (int k = 0; k < 8; ++k) EXPECT_FLOAT_EQ(*mgn_octant_corner(mgn_tree.root, k), c.corner);
    EXPECT_TRUE(octree_invariants_hold());
  }
  // Just below the border the root is divided.
  SetUp();
  unit_root();
  const double p[3] = {0.3, 0.6, 0.2};
  mgn_refine_octree_at_point(p, std::nextafter(at, 0.0), 0.5, false);
  EXPECT_GT(mgn_tree.octant_count, 1);
  EXPECT_TRUE(octree_invariants_hold());
}

TEST_F(OctreeTest, RefinementGivesTheRequestedSizeAtThePoint) {
  unit_root();
  const struct {
    double p[3];
    double size;
  } cases[] = {{{0.3, 0.3, 0.3}, 0.1},     {{0.71, 0.2, 0.9}, 0.01},
               {{0.5, 0.5, 0.5}, 0.003},   {{1.0, 1.0, 0.0}, 0.02},
               {{0.123, 0.877, 0.5}, 1e-4}};
  for (const auto& c : cases) {
    mgn_refine_octree_at_point(c.p, c.size, 0.5, false);
    ASSERT_TRUE(octree_invariants_hold());
    // The leaf reached has the level of the size (octant size from s / 0.85
    // up to twice that) and its corners carry s / 0.85.
    mgn_octant* leaf = mgn_locate_leaf_octant(mgn_tree.root, c.p);
    EXPECT_GE(leaf->size, c.size / 0.85 * (1 - 1e-9));
    EXPECT_LT(leaf->size, 2 * c.size / 0.85);
    EXPECT_NEAR(query(c.p), c.size, c.size * 1e-6);
  }
  // Earlier finer requests are not coarsened by later ones.
  const double coarse[3] = {0.7, 0.2, 0.9};
  mgn_refine_octree_at_point(coarse, 0.3, 0.5, false);
  const double fine[3] = {0.71, 0.2, 0.9};
  EXPECT_NEAR(query(fine), 0.01, 1e-8);
  EXPECT_TRUE(octree_invariants_hold());
  EXPECT_EQ(mgn_warning_count, 0);
}

TEST_F(OctreeTest, AdjacentRefinementsAtVeryDifferentSizesStayBalanced) {
  unit_root();
  const double a[3] = {0.5, 0.5, 0.5};
  const double b[3] = {0.52, 0.5, 0.5};
  const double c[3] = {0.0, 0.0, 0.0};
  mgn_refine_octree_at_point(a, 1e-5, 0.5, false);
  ASSERT_TRUE(octree_invariants_hold());
  mgn_refine_octree_at_point(b, 0.2, 0.5, false);
  mgn_refine_octree_at_point(c, 1e-4, 0.5, false);
  EXPECT_TRUE(octree_invariants_hold());
  EXPECT_NEAR(query(a), 1e-5, 1e-10);
  EXPECT_NEAR(query(c), 1e-4, 1e-9);
  // Sizes grow away from the fine point by at most one level per leaf.
  EXPECT_LT(query(b), 0.2);
}

TEST_F(OctreeTest, RandomRefinementsKeepTheInvariantsAndTheUniformCap) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  mgn_set.uniform_size = 0.05;
  unit_root();
  for (int i = 0; i < 150; ++i) {
    const double p[3] = {unit(random), unit(random), unit(random)};
    mgn_refine_octree_at_point(p, std::pow(10.0, -1 - 2 * unit(random)), 0.5, false);
  }
  EXPECT_TRUE(octree_invariants_hold());
  for (int i = 0; i < 2000; ++i) {
    const double p[3] = {unit(random), unit(random), unit(random)};
    EXPECT_LE(query(p, true), 0.05);
  }
  EXPECT_EQ(mgn_warning_count, 0);
}

TEST_F(OctreeTest, NeighboursNearThePointReachItsLevel) {
  unit_root();
  // A point near the outer corner of its octant at level 3 (the octant
  // [0.375, 0.5]^3, upper child of [0.25, 0.5]^3): the face, edge and corner
  // neighbours beyond it are divided to the same level.
  const double p[3] = {0.49, 0.49, 0.49};
  mgn_refine_octree_at_point(p, 0.85 * 0.08, 0.5, false);
  ASSERT_TRUE(octree_invariants_hold());
  for (int dx = 0; dx <= 1; ++dx) {
    for (int dy = 0; dy <= 1; ++dy) {
      for (int dz = 0; dz <= 1; ++dz) {
        const double q[3] = {0.4375 + 0.125 * dx, 0.4375 + 0.125 * dy, 0.4375 + 0.125 * dz};
        EXPECT_EQ(mgn_locate_leaf_octant(mgn_tree.root, q)->size, 0.125)
            << dx << dy << dz;
      }
    }
  }
  // The face neighbours near the point got its size at all their corners.
  const double beside[3] = {0.6, 0.49, 0.49};
  EXPECT_NEAR(query(beside), 0.85 * 0.08, 1e-7);
  // With r = 0 only the octant of the point is refined.
  SetUp();
  unit_root();
  mgn_refine_octree_at_point(p, 0.85 * 0.08, 0.0, false);
  const double q[3] = {0.5625, 0.4375, 0.4375};
  EXPECT_EQ(mgn_locate_leaf_octant(mgn_tree.root, q)->size, 0.25);
  EXPECT_TRUE(octree_invariants_hold());
}

TEST_F(OctreeTest, ClampPullsOutsidePointsIntoTheRoot) {
  unit_root();
  // Without the clamp the boundary leaf nearest to the point gets the size;
  // with it the size grows by half the distance moved (0.1), to 0.1.
  const double outside[3] = {1.1, 0.5, 0.5};
  const double moved[3] = {1.0, 0.5, 0.5};
  mgn_refine_octree_at_point(outside, 0.85 * 0.05, 0.5, false);
  EXPECT_NEAR(query(moved), 0.85 * 0.05, 1e-7);
  EXPECT_TRUE(octree_invariants_hold());
  SetUp();
  unit_root();
  mgn_refine_octree_at_point(outside, 0.85 * 0.05, 0.5, true);
  EXPECT_NEAR(query(moved), 0.85 * 0.1, 1e-7);
  EXPECT_TRUE(octree_invariants_hold());
}

TEST_F(OctreeTest, TooFineRequestsAreRefusedWithWarnings) {
  // Far from the origin the tolerance is coarse: 1e-14 x 1e12 = 0.01, so the
  // depth is 3 for a unit root.
  const double lo[3] = {1e12, 1e12, 1e12};
  const double hi[3] = {1e12 + 1, 1e12 + 1, 1e12 + 1};
  mgn_create_root_octant(lo, hi);
  ASSERT_EQ(mgn_tree.max_depth, 3);
  const double p[3] = {1e12 + 0.3, 1e12 + 0.3, 1e12 + 0.3};
  ::testing::internal::CaptureStderr();
  mgn_refine_octree_at_point(p, 1e-6, 0.0, false);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, mgn_format("Warning: Too fine octree required at point [%10.3e %10.3e %10.3e]\n"
                            "         Octree depth reduced to 3\n"
                            "         Octant size reduced to %e\n",
                            p[0], p[1], p[2], 0.125));
  EXPECT_EQ(mgn_warning_count, 1);
  mgn_octant* leaf = mgn_locate_leaf_octant(mgn_tree.root, p);
  EXPECT_EQ(leaf->size, 0.125);
  EXPECT_NEAR(query(p), 0.85 * 0.0625, 1e-7);
  // Dividing an octant of the minimum size is refused.  Within one warning
  // scope (the work on one entity) the point warning is given once, and in
  // a later scope not again for a point that prints alike (every point here
  // prints as 1.000e+12).
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(mgn_divide_terminal_octant(leaf), 0);
  mgn_open_warning_scope();
  EXPECT_EQ(mgn_divide_terminal_octant(leaf), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(mgn_warning_count, 1);
  // A new tree: refined to the finest level without a warning, a division
  // there is refused with one.
  mgn_create_root_octant(lo, hi);
  mgn_refine_octree_at_point(p, 0.85 * 0.125, 0.0, false);
  EXPECT_EQ(mgn_warning_count, 1);
  leaf = mgn_locate_leaf_octant(mgn_tree.root, p);
  ASSERT_EQ(leaf->size, 0.125);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(mgn_divide_terminal_octant(leaf), 0);
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Warning: Too fine octree required at point"), std::string::npos);
  EXPECT_EQ(mgn_warning_count, 2);
  EXPECT_TRUE(octree_invariants_hold());
}

// --- neighbourhood ------------------------------------------------------------

TEST_F(OctreeTest, NeighbourhoodHoldsEveryLeafNearThePointOnce) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  unit_root();
  for (int i = 0; i < 60; ++i) {
    const double p[3] = {unit(random), unit(random), unit(random)};
    mgn_refine_octree_at_point(p, std::pow(10.0, -1 - 2 * unit(random)), 0.5, false);
  }
  ASSERT_TRUE(octree_invariants_hold());
  mgn_octant* out[MGN_OCTANTS];
  for (double r : {0.25, 0.5, 1.0}) {
    for (int i = 0; i < 300; ++i) {
      const double p[3] = {unit(random), unit(random), unit(random)};
      const int n = mgn_collect_octree_neighbourhood(mgn_tree.root, out, p, r);
      ASSERT_GE(n, 1);
      mgn_octant* leaf = mgn_locate_leaf_octant(mgn_tree.root, p);
      EXPECT_EQ(out[0], leaf);
      const std::set<mgn_octant*> got(out, out + n);
      EXPECT_EQ(static_cast<int>(got.size()), n) << "a leaf gathered twice";
      for (mgn_octant* o : got) EXPECT_NE(o->state, MGN_OCTANT_DIVIDED);
      // Everything within r x half the leaf size of p is there (shrunk a
      // little: leaves that only touch the search box may be left out).
      for (mgn_octant* near : leaves_near(p, r * leaf->size / 2 * 0.999)) {
        EXPECT_TRUE(got.count(near)) << "r " << r << " leaf of size " << near->size
                                     << " missing";
      }
    }
  }
  // r = 0 gives the leaf alone, from any start octant.
  const double p[3] = {0.5, 0.5, 0.5};
  mgn_octant* start = mgn_locate_leaf_octant(mgn_tree.root, p);
  const double q[3] = {0.1, 0.9, 0.2};
  EXPECT_EQ(mgn_collect_octree_neighbourhood(start, out, q, 0.0), 1);
  EXPECT_EQ(out[0], mgn_locate_leaf_octant(mgn_tree.root, q));
}

// --- node index ---------------------------------------------------------------

struct test_node {
  mgn_node node{};
  double xyz[3];
  explicit test_node(double x, double y, double z, int kind) : xyz{x, y, z} {
    node.xyz = xyz;
    node.kind = kind;
  }
};

std::vector<mgn_node*> nodes_of(const mgn_octant* leaf) {
  std::vector<mgn_node*> nodes;
  for (mgn_node* node : mgn_list_range<mgn_node>(leaf->nodes)) nodes.push_back(node);
  return nodes;
}

TEST_F(OctreeTest, NodesEnterLeavesAndFollowDivisionAndMoves) {
  unit_root();
  test_node region_a(0.1, 0.1, 0.1, MGN_REGION);
  test_node region_b(0.9, 0.9, 0.9, MGN_REGION);
  test_node curve(0.6, 0.2, 0.2, MGN_CURVE);
  mgn_octant* root = mgn_tree.root;
  mgn_locate_node(&region_a.node, nullptr);
  EXPECT_EQ(region_a.node.octant, root);
  EXPECT_EQ(root->state, MGN_OCTANT_REGION_NODES);
  EXPECT_FLOAT_EQ(region_a.node.size, 0.85f);
  mgn_locate_node(&region_b.node, root);
  EXPECT_EQ(root->state, MGN_OCTANT_REGION_NODES);
  mgn_locate_node(&curve.node, root);
  EXPECT_EQ(root->state, MGN_OCTANT_NODES);
  EXPECT_EQ(nodes_of(root).size(), 3u);

  // Refining moves the nodes to the children, with new sizes.
  const double p[3] = {0.2, 0.2, 0.2};
  mgn_refine_octree_at_point(p, 0.85 * 0.25, 0.0, false);
  ASSERT_TRUE(octree_invariants_hold());
  for (test_node* t : {&region_a, &region_b, &curve}) {
    mgn_octant* leaf = mgn_locate_leaf_octant(root, t->xyz);
    EXPECT_EQ(t->node.octant, leaf);
    const auto in_leaf = nodes_of(leaf);
    EXPECT_EQ(std::count(in_leaf.begin(), in_leaf.end(), &t->node), 1);
  }
  // The node moved by the last division has the size of its new leaf.
  mgn_octant* hint = nullptr;
  EXPECT_FLOAT_EQ(region_a.node.size, mgn_get_octree_mesh_size(&hint, region_a.xyz, false));
  EXPECT_EQ(region_a.node.octant->state, MGN_OCTANT_REGION_NODES);
  EXPECT_EQ(curve.node.octant->state, MGN_OCTANT_NODES);
  EXPECT_LT(region_a.node.size, region_b.node.size);

  // Moving the curve node next to region node b puts both in one leaf; the
  // leaf left behind becomes empty.
  mgn_octant* old_leaf = curve.node.octant;
  curve.xyz[0] = 0.8;
  curve.xyz[1] = 0.8;
  curve.xyz[2] = 0.9;
  mgn_relocate_node(&curve.node);
  EXPECT_EQ(old_leaf->state, MGN_OCTANT_EMPTY);
  EXPECT_TRUE(nodes_of(old_leaf).empty());
  EXPECT_EQ(curve.node.octant, region_b.node.octant);
  EXPECT_EQ(curve.node.octant->state, MGN_OCTANT_NODES);
  // Taking the curve node out leaves a leaf of region nodes only.
  mgn_unlocate_node(&curve.node);
  EXPECT_EQ(curve.node.octant, nullptr);
  EXPECT_EQ(region_b.node.octant->state, MGN_OCTANT_REGION_NODES);
  mgn_unlocate_node(&region_b.node);
  EXPECT_EQ(mgn_locate_leaf_octant(root, region_b.xyz)->state, MGN_OCTANT_EMPTY);
  EXPECT_TRUE(octree_invariants_hold());

  // The cells given back hold the nodes entered next (no new cell), and
  // every leaf lists exactly its own nodes.
  const auto cells = [] { return mgn_count_listing_items(mgn_get_first_listing_block(mgn_tree.node_cells)); };
  const long before = cells();
  mgn_locate_node(&curve.node, nullptr);
  mgn_locate_node(&region_b.node, nullptr);
  EXPECT_EQ(cells(), before);
  EXPECT_EQ(curve.node.octant, region_b.node.octant);
  EXPECT_EQ(nodes_of(curve.node.octant), (std::vector<mgn_node*>{&region_b.node, &curve.node}));
  EXPECT_EQ(nodes_of(region_a.node.octant), std::vector<mgn_node*>{&region_a.node});
}

// A released tree keeps its box and octant count, holds no records, and a
// new one can be built and indexed in its place.
TEST_F(OctreeTest, ReleasedTreeCanBeBuiltAgain) {
  for (int run = 0; run < 2; ++run) {
    unit_root();
    const double p[3] = {0.2, 0.7, 0.4};
    mgn_refine_octree_at_point(p, 0.85 * 0.125, 0.5, false);
    ASSERT_TRUE(octree_invariants_hold());
    test_node a(0.2, 0.7, 0.4, MGN_SURFACE);
    test_node b(0.21, 0.7, 0.4, MGN_SURFACE);
    mgn_locate_node(&a.node, nullptr);
    mgn_locate_node(&b.node, nullptr);
    mgn_unlocate_node(&a.node);
    mgn_locate_node(&a.node, nullptr);
    EXPECT_EQ(nodes_of(a.node.octant), (std::vector<mgn_node*>{&a.node, &b.node}));
    const long octants = mgn_tree.octant_count;
    mgn_release_octree();
    EXPECT_EQ(mgn_tree.root, nullptr);
    for (mgn_listing* pool : {mgn_tree.octants, mgn_tree.children, mgn_tree.node_cells}) EXPECT_EQ(pool, nullptr);
    EXPECT_TRUE(mgn_tree.corners.chunks.empty());
    EXPECT_EQ(mgn_tree.corners.count, 0u);
    EXPECT_EQ(mgn_tree.free_cells, nullptr);
    EXPECT_EQ(mgn_tree.octant_count, octants);
    EXPECT_EQ(mgn_tree.root_size, 1.0);
  }
}

}  // namespace
