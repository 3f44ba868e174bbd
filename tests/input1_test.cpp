// The boundary of a region: the topology check (closure, orientation of the
// faces sharing a curve, pieces of curves fixed to a parent curve, several
// faces at one curve, collapsed curves) for surfaces, patches and shells;
// the winding number of the boundary about points near faces, edges and
// corners; and subregions and fixed patches inside a region.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "curve.h"
#include "input.h"
#include "input1.h"
#include "list.h"
#include "message.h"
#include "model_fixture.h"
#include "patch.h"
#include "region.h"
#include "shell.h"
#include "surface.h"
#include "vertex.h"

namespace {

std::string model_text(const char* name) {
  std::string text = mgn_read_file(std::string(MGN_TEST_MODELS) + "/" + name + ".mgn");
  return text.substr(0, text.find("\nregion ") + 1);  // without the regions
}

// The report of a topology failure of region 1.
std::string topology_error(const std::string& line) {
  return "Manipulation error\n\\(routine [^\n]*\\)\nInvalid topology of region 1 detected\n" + mgn_regex_escape(line) +
         "\n";
}

const std::string inside = "region 1 boundary surface -1 -2 -3 -4 -5 -6\n";

class RegionTopology : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }
};

TEST_F(RegionTopology, OpenAndInconsistentBoundaries) {
  struct Case {
    std::string region;
    std::string line;
  };
  const Case cases[] = {
      // The face x = 1 is missing: its curve 2 bounds the bottom only.
      {"region 1 boundary surface -1 -2 -3 -4 -5\n", "Curve 2 shared only by surface 1"},
      {"region 1 boundary surface -1 -2 -3 -4 -5 6\n", "Check orientation of surfaces 1 and 6"},
      {"region 1 boundary surface -2 -3 -4 -5 -6 1\n", "Check orientation of surfaces 1 and 5"},
  };
  for (const Case& c : cases)
    EXPECT_EXIT(mgn_read_model_text(mgn_cube_model + c.region), ::testing::ExitedWithCode(10),
                topology_error(c.line))
        << c.region;
}

TEST_F(RegionTopology, ClosedBoundariesAreAccepted) {
  // The cube from either side.
  mgn_read_model_text(mgn_cube_model + inside + "region 2 boundary surface 1 2 3 4 5 6\n");
  EXPECT_NE(mgn_find_region(2), nullptr);
  // Each octant of the sphere has a collapsed side at its pole: it bounds
  // that octant only and is no open edge.
  mgn_read_model_text(model_text("sphere") + "region 1 boundary surface -1 -2 -3 -4 -5 -6 -7 -8\n");
  EXPECT_NE(mgn_find_region(1), nullptr);
  mgn_read_model_text(model_text("torus") +
                      "region 1 boundary surface -1 -2 -3 -4 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -15 -16\n");
  EXPECT_NE(mgn_find_region(1), nullptr);
}

// The front face of the cube split in two along x = 0.5: its halves meet
// the bottom and the top along the two halves of curves 1 and 5 (curves
// fixed to them), which those faces use whole.
const std::string split_front =
    "vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\nvertex 3 xyz 1 1 0\nvertex 4 xyz 0 1 0\n"
    "vertex 5 xyz 0 0 1\nvertex 6 xyz 1 0 1\nvertex 7 xyz 1 1 1\nvertex 8 xyz 0 1 1\n"
    "curve 1 vertex 1 2\ncurve 2 vertex 2 3\ncurve 3 vertex 4 3\ncurve 4 vertex 1 4\n"
    "curve 5 vertex 5 6\ncurve 6 vertex 6 7\ncurve 7 vertex 8 7\ncurve 8 vertex 5 8\n"
    "curve 9 vertex 1 5\ncurve 10 vertex 2 6\ncurve 11 vertex 3 7\ncurve 12 vertex 4 8\n"
    "vertex 9 fixed curve 1 t 0.5\nvertex 10 fixed curve 5 t 0.5\n"
    "curve 13 vertex 1 9 fixed curve 1\ncurve 14 vertex 9 2 fixed curve 1\n"
    "curve 15 vertex 5 10 fixed curve 5\ncurve 16 vertex 10 6 fixed curve 5\ncurve 17 vertex 9 10\n"
    "surface 1 curve 4 1 2 3\nsurface 2 curve 5 8 7 6\nsurface 3 curve 13 9 15 17\nsurface 7 curve 14 17 16 10\n"
    "surface 4 curve 12 3 11 7\nsurface 5 curve 9 4 12 8\nsurface 6 curve 2 10 6 11\n";

TEST_F(RegionTopology, PiecesOfCurvesMeetTheWholeCurve) {
  mgn_read_model_text(split_front + "region 1 boundary surface -1 -2 -3 -4 -5 -6 -7\n");
  EXPECT_NE(mgn_find_region(1), nullptr);
  // Without the right half, the piece [0.5, 1] of curve 1 bounds the bottom
  // only.
  EXPECT_EXIT(mgn_read_model_text(split_front + "region 1 boundary surface -1 -2 -3 -4 -5 -6\n"),
              ::testing::ExitedWithCode(10), topology_error("Curve 1 shared only by surface 1"));
  EXPECT_EXIT(mgn_read_model_text(split_front + "region 1 boundary surface -1 -2 -3 -4 -5 -6 7\n"),
              ::testing::ExitedWithCode(10), topology_error("Check orientation of surfaces 1 and 7"));
  // A piece written against its parent curve runs along it all the same.
  std::string reversed = split_front;
  reversed.replace(reversed.find("curve 14 vertex 9 2"), 19, "curve 14 vertex 2 9");
  mgn_read_model_text(reversed + "region 1 boundary surface -1 -2 -3 -4 -5 -6 -7\n");
  EXPECT_TRUE(mgn_find_curve(14)->reversed);
  EXPECT_NE(mgn_find_region(1), nullptr);
}

// Two boxes of one region touching along the edge x = y = 1 of the cube:
// four faces meet at curve 11, two running along it and two against it.
std::string touching_boxes(const char* second_box_signs) {
  return mgn_cube_model +
         "vertex 9 xyz 2 1 0\nvertex 10 xyz 2 2 0\nvertex 11 xyz 1 2 0\n"
         "vertex 12 xyz 2 1 1\nvertex 13 xyz 2 2 1\nvertex 14 xyz 1 2 1\n"
         "curve 13 vertex 3 9\ncurve 14 vertex 9 10\ncurve 15 vertex 11 10\ncurve 16 vertex 3 11\n"
         "curve 17 vertex 7 12\ncurve 18 vertex 12 13\ncurve 19 vertex 14 13\ncurve 20 vertex 7 14\n"
         "curve 21 vertex 9 12\ncurve 22 vertex 10 13\ncurve 23 vertex 11 14\n"
         "surface 7 curve 16 13 14 15\nsurface 8 curve 17 20 19 18\nsurface 9 curve 13 11 17 21\n"
         "surface 10 curve 23 15 22 19\nsurface 11 curve 11 16 23 20\nsurface 12 curve 14 21 18 22\n"
         "region 1 boundary surface -1 -2 -3 -4 -5 -6 " +
         std::string(second_box_signs) + "\n";
}

TEST_F(RegionTopology, FourFacesAtOneCurve) {
  mgn_read_model_text(touching_boxes("-7 -8 -9 -10 -11 -12"));
  EXPECT_NE(mgn_find_region(1), nullptr);
  EXPECT_EXIT(mgn_read_model_text(touching_boxes("-7 -8 9 -10 -11 -12")), ::testing::ExitedWithCode(10),
              topology_error("Check orientation of surfaces 6 and 9"));
}

// Faces of the cube made of surfaces, patches and shells: face f of the
// cube as a patch f (plane and loop of the surface, which it replaces) or
// a shell f on the surface f.
enum face_kind_code { S, P, H };

void add_cube_faces(const std::array<face_kind_code, 6>& kinds) {
  static const double normals[6][3] = {{0, 0, -1}, {0, 0, 1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}};
  for (int f = 0; f < 6; ++f) {
    if (kinds[f] == S) continue;
    mgn_surface* surface = mgn_find_surface(f + 1);
    mgn_list* left = nullptr;
    mgn_list* right = nullptr;
    if (kinds[f] == P) {
      mgn_patch* patch = mgn_create_patch(f + 1);
      for (int k = 0; k < 3; ++k) patch->normal[k] = normals[f][k];
      left = &patch->left_curves;
      right = &patch->right_curves;
      mgn_add_patch_to_model(patch);
    } else {
      mgn_shell* shell = mgn_create_shell(f + 1);
      shell->bg_surface = surface;
      left = &shell->left_curves;
      right = &shell->right_curves;
      mgn_add_shell_to_model(shell);
    }
    // The loop of the surface turning about its outward normal.
    for (int side = 0; side < 4; ++side) {
      const int direction = mgn_get_face_curve_direction(MGN_SURFACE, surface, surface->curve[side]);
      mgn_add_item_to_tail(direction > 0 ? *left : *right, surface->curve[side]);
    }
  }
}

// The cube with the given kinds of faces and the region line.
void read_cube_of(const std::array<face_kind_code, 6>& kinds, const std::string& region) {
  mgn_read_model_text(mgn_cube_model);
  add_cube_faces(kinds);
  mgn_read_more_model_text(region);
}

TEST_F(RegionTopology, PatchesAndShells) {
  struct Case {
    std::array<face_kind_code, 6> kinds;
    std::string region;
    std::string line;  // empty: accepted
  };
  const std::string mixed = "region 1 boundary surface -1 -2 boundary patch -3 -4 boundary shell -5 -6";
  const Case cases[] = {
      {{S, S, P, P, H, H}, mixed + "\n", ""},
      {{P, P, P, P, P, P}, "region 1 boundary patch -1 -2 -3 -4 -5 -6\n", ""},
      {{H, H, H, H, H, H}, "region 1 boundary shell -1 -2 -3 -4 -5 -6\n", ""},
      {{S, S, P, P, H, H}, "region 1 boundary surface -1 -2 boundary patch -3 -4 boundary shell -5\n",
       "Curve 2 shared only by surface 1"},
      {{S, S, P, P, H, H}, "region 1 boundary surface -1 -2 boundary patch -4 boundary shell -5 -6\n",
       "Curve 1 shared only by surface 1"},
      {{P, P, P, P, P, H}, "region 1 boundary patch -1 -2 -3 -4 -5\n", "Curve 2 shared only by patch 1"},
      {{H, H, H, H, H, S}, "region 1 boundary shell -1 -2 -3 -4 -5\n", "Curve 2 shared only by shell 1"},
      {{S, S, P, P, H, H}, "region 1 boundary surface -1 -2 boundary patch 3 -4 boundary shell -5 -6\n",
       "Check orientation of patch 3 and surface 1"},
      {{S, S, P, P, H, H}, "region 1 boundary surface -1 -2 boundary patch -3 -4 boundary shell 5 -6\n",
       "Check orientation of shell 5 and surface 1"},
      {{P, P, P, P, P, P}, "region 1 boundary patch -1 -2 -3 -4 5 -6\n", "Check orientation of patches 1 and 5"},
      {{P, P, P, H, H, H}, "region 1 boundary patch -1 -2 -3 boundary shell -4 5 -6\n",
       "Check orientation of patch 1 and shell 5"},
      {{H, H, H, H, H, H}, "region 1 boundary shell -1 -2 -3 -4 5 -6\n", "Check orientation of shells 1 and 5"},
  };
  for (const Case& c : cases) {
    if (c.line.empty()) {
      read_cube_of(c.kinds, c.region);
      EXPECT_NE(mgn_find_region(1), nullptr) << c.region;
    } else {
      EXPECT_EXIT(read_cube_of(c.kinds, c.region), ::testing::ExitedWithCode(10), topology_error(c.line)) << c.region;
    }
  }
}

TEST_F(RegionTopology, ShellAndPatchInEitherOrder) {
  read_cube_of({P, H, P, P, P, P}, "region 1 boundary patch -1 -3 -4 -5 -6 boundary shell -2\n");
  mgn_region* region = mgn_find_region(1);
  mgn_patch* front = mgn_find_patch(3);
  mgn_shell* top = mgn_find_shell(2);
  mgn_curve* edge = mgn_find_curve(5);  // between the front and the top
  mgn_check_shell_patch(region, top, -1, edge, front, -1, edge);
  mgn_check_patch_shell(region, front, -1, edge, top, -1, edge);
  EXPECT_EXIT(mgn_check_shell_patch(region, top, 1, edge, front, -1, edge), ::testing::ExitedWithCode(10),
              topology_error("Check orientation of shell 2 and patch 3"));
}

// ---------------------------------------------------------------------------
// Winding number
// ---------------------------------------------------------------------------

class RegionPoints : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }
  struct Point {
    std::array<double, 3> xyz;
    double winding;
    bool on_boundary;
  };
  static void expect_points(const mgn_region_boundary& boundary, const std::vector<Point>& points) {
    for (const Point& p : points) {
      const mgn_region_point located = mgn_locate_region_point(boundary, p.xyz.data());
      const std::string where =
          std::to_string(p.xyz[0]) + " " + std::to_string(p.xyz[1]) + " " + std::to_string(p.xyz[2]);
      EXPECT_EQ(located.on_boundary, p.on_boundary) << where;
      if (!p.on_boundary) {
        EXPECT_NEAR(located.winding, p.winding, 1e-3) << where;
      }
    }
  }
};

// Points on the lines of edges and corners, near faces on either side,
// and on the boundary.
TEST_F(RegionPoints, Cube) {
  mgn_read_model_text(mgn_cube_model + inside);
  const mgn_region_boundary boundary = mgn_build_region_boundary(mgn_find_region(1));
  expect_points(boundary, {{{0.5, 0.5, 0.5}, 1, false},
                           {{0.5, 0.5, 2}, 0, false},
                           {{2, 2, 2}, 0, false},
                           {{-1, 0, 0}, 0, false},
                           {{0.5, 1e-4, 0.5}, 1, false},
                           {{0.5, -1e-4, 0.5}, 0, false},
                           {{1 + 1e-4, 1 + 1e-4, 0.5}, 0, false},
                           {{1 - 1e-4, 1 - 1e-4, 1 - 1e-4}, 1, false},
                           {{0.5, 0, 0.5}, 0, true},
                           {{1, 1, 1}, 0, true},
                           {{0.3, 0.7, 1 + 2e-6}, 0, true}});
  // The same cube from the other side winds the other way around.
  mgn_read_model_text(mgn_cube_model + "region 1 boundary surface 1 2 3 4 5 6\n");
  const mgn_region_boundary inverted = mgn_build_region_boundary(mgn_find_region(1));
  expect_points(inverted, {{{0.5, 0.5, 0.5}, -1, false}, {{0.5, 0.5, 2}, 0, false}});
  const double centre[3] = {0.5, 0.5, 0.5};
  EXPECT_TRUE(mgn_check_point_inside_region(inverted, centre));
}

TEST_F(RegionPoints, CurvedBoundaries) {
  mgn_read_model_text(model_text("box_spherical_void") +
                      "region 1 boundary surface -1 -2 -3 -4 -5 -6 7 8 9 10 11 12 13 14\n");
  expect_points(mgn_build_region_boundary(mgn_find_region(1)),
                {{{0, 0, 0}, 0, false},
                 {{0, 0, 1.5}, 1, false},
                 {{0, 0, 1.0001}, 1, false},     // just outside the pole of the ball
                 {{0, 0, 0.9999}, 0, false},     // just inside it
                 {{0.7, 0.7, 1e-3}, 0, false},   // next to the equator seam
                 {{0.7071067811865476, 0.7071067811865476, 0}, 0, true},
                 {{3, 0, 0}, 0, false}});
  mgn_read_model_text(model_text("torus") +
                      "region 1 boundary surface -1 -2 -3 -4 -5 -6 -7 -8 -9 -10 -11 -12 -13 -14 -15 -16\n");
  expect_points(mgn_build_region_boundary(mgn_find_region(1)),
                {{{2, 0, 0}, 1, false},
                 {{0, 0, 0}, 0, false},
                 {{0, 2, 0.4999}, 1, false},
                 {{0, 2, 0.5001}, 0, false},
                 {{2.5, 0, 0}, 0, true},
                 {{-1.5, 0, 0}, 0, true}});
}

TEST_F(RegionPoints, PatchesAndShells) {
  read_cube_of({P, P, P, H, H, H}, "region 1 boundary patch -1 -2 -3 boundary shell -4 -5 -6\n");
  expect_points(mgn_build_region_boundary(mgn_find_region(1)),
                {{{0.5, 0.5, 0.5}, 1, false},
                 {{0.5, 0.5, 1.5}, 0, false},
                 {{2, 0.5, 0}, 0, false},     // in the plane of the bottom patch
                 {{0.5, 2, 0.5}, 0, false},   // in the plane of the back shell
                 {{0.5, 0.5, 1e-4}, 1, false},
                 {{0.5, 0.5, 0}, 0, true},
                 {{0.5, 1, 0.5}, 0, true},
                 {{1, 1, 0}, 0, true}});
}

// ---------------------------------------------------------------------------
// Entities inside a region
// ---------------------------------------------------------------------------

TEST_F(RegionPoints, Subregions) {
  const std::string ball = "region 1 boundary surface -7 -8 -9 -10 -11 -12 -13 -14\n";
  mgn_read_model_text(model_text("box_spherical_void") + ball +
                      "region 2 boundary surface -1 -2 -3 -4 -5 -6 subregion 1\n");
  // The box meshes around the ball: the outer sides of the octants face it.
  EXPECT_EQ(mgn_find_surface(7)->inner_region, mgn_find_region(2));
  EXPECT_EQ(mgn_find_surface(7)->outer_region, mgn_find_region(1));
  // A second region around the same ball would overlap the first.
  EXPECT_EXIT(mgn_read_more_model_text("region 3 boundary surface 1 2 3 4 5 6 subregion 1\n"),
              ::testing::ExitedWithCode(25), "Inner side of surface 7 already used as boundary surface of region 2\n");
  // The box with the void shares the sphere with the ball, from its outside.
  const std::string text = model_text("box_spherical_void") + ball +
                           "region 2 boundary surface -1 -2 -3 -4 -5 -6 7 8 9 10 11 12 13 14 subregion 1\n";
  EXPECT_EXIT(mgn_read_model_text(text), ::testing::ExitedWithCode(25), "Subregion 1 is not inside region 2\n");
}

// A square patch at z = 0.5 fixed inside the cube, and one reaching out of
// it.
TEST_F(RegionPoints, FixedPatches) {
  const std::string square =
      "vertex 9 xyz 0.25 0.25 0.5\nvertex 10 xyz 0.75 0.25 0.5\nvertex 11 xyz 0.75 0.75 0.5\n"
      "vertex 12 xyz 0.25 0.75 0.5\nvertex 13 xyz 1.75 0.25 0.5\nvertex 14 xyz 1.75 0.75 0.5\n"
      "curve 13 vertex 9 10\ncurve 14 vertex 10 11\ncurve 15 vertex 12 11\ncurve 16 vertex 9 12\n"
      "curve 17 vertex 9 13\ncurve 18 vertex 13 14\ncurve 19 vertex 12 14\n";
  auto add_patch = [](long id, std::vector<long> left, std::vector<long> right) {
    mgn_patch* patch = mgn_create_patch(id);
    patch->normal[2] = 1.0;
    for (long c : left) mgn_add_item_to_tail(patch->left_curves, mgn_find_curve(c));
    for (long c : right) mgn_add_item_to_tail(patch->right_curves, mgn_find_curve(c));
    mgn_add_patch_to_model(patch);
  };
  mgn_read_model_text(mgn_cube_model + square);
  add_patch(1, {13, 14}, {15, 16});
  add_patch(2, {17, 18}, {19, 16});
  mgn_read_more_model_text("region 1 boundary surface -1 -2 -3 -4 -5 -6 fixed patch 1\n");
  EXPECT_EQ(mgn_find_patch(1)->localized_region, mgn_find_region(1));
  EXPECT_EXIT(mgn_read_more_model_text("region 2 boundary surface 1 2 3 4 5 6 fixed patch 2\n"),
              ::testing::ExitedWithCode(25), "Patch 2 is not inside region 2\n");
}

}  // namespace
