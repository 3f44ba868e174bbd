// Region tetrahedralization: closed bodies meshed end to end in the test
// process, each checked by the consistency checker (links, orientation,
// closure of the boundary, empty front) and by the volume its tetras fill.
#include "discret3.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "discret.h"
#include "element.h"
#include "list.h"
#include "model_fixture.h"
#include "octree1.h"
#include "region.h"
#include "topo3.h"

namespace {

// The unit cube [0, 1]^3: vertices 1..8, twelve straight curves and six
// bilinear surfaces.  Normals (Su x Sv): 1 (z = 0) +z, 2 (z = 1) +z,
// 3 (y = 0) -y, 4 (y = 1) -y, 5 (x = 0) +x, 6 (x = 1) +x; the region inside
// is therefore bounded by 1 -2 -3 4 5 -6.
const std::string kCube =
    "vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\nvertex 3 xyz 1 1 0\nvertex 4 xyz 0 1 0\n"
    "vertex 5 xyz 0 0 1\nvertex 6 xyz 1 0 1\nvertex 7 xyz 1 1 1\nvertex 8 xyz 0 1 1\n"
    "curve 1 vertex 1 2\ncurve 2 vertex 2 3\ncurve 3 vertex 4 3\ncurve 4 vertex 1 4\n"
    "curve 5 vertex 5 6\ncurve 6 vertex 6 7\ncurve 7 vertex 8 7\ncurve 8 vertex 5 8\n"
    "curve 9 vertex 1 5\ncurve 10 vertex 2 6\ncurve 11 vertex 3 7\ncurve 12 vertex 4 8\n"
    "surface 1 curve 1 4 3 2\nsurface 2 curve 5 8 7 6\nsurface 3 curve 1 9 5 10\n"
    "surface 4 curve 3 12 7 11\nsurface 5 curve 4 9 8 12\nsurface 6 curve 2 10 6 11\n";

// Enters region id bounded by the signed surface identifiers, as the region
// parser does.
mgn_region* add_region(long id, const std::vector<long>& boundary) {
  mgn_region* r = mgn_create_region(id);
  for (long s : boundary) {
    mgn_surface* surface = mgn_find_surface(std::labs(s));
    if (s > 0) {
      mgn_add_item_to_tail(r->inner_surfaces, surface);
      surface->inner_region = r;
    } else {
      mgn_add_item_to_tail(r->outer_surfaces, surface);
      surface->outer_region = r;
    }
  }
  mgn_add_region_to_model(r);
  return r;
}

class RegionMeshTest : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }

  static mgn_region* mesh(const std::string& text, const std::vector<long>& boundary, double h) {
    mgn_set.uniform_size = mgn_set.default_size = h;
    mgn_read_model_text(text);
    mgn_region* r = add_region(1, boundary);
    mgn_build_octree();
    mgn_discretize_model();
    return r;
  }

  static double tetra_volume_sum(const mgn_region* r) {
    double sum = 0.0;
    mgn_for_own_records<mgn_tetra>(r->mesh.tetras, r->mesh.tetra_total, r->mesh.collected,
                                   [&](const mgn_tetra* t) { sum += mgn_get_tetra_volume(t); });
    return sum;
  }
};

TEST_F(RegionMeshTest, UnitCubeFillsItsVolume) {
  for (double h : {0.5, 0.2, 0.1}) {
    mgn_region* r = mesh(kCube, {1, -2, -3, 4, 5, -6}, h);
    EXPECT_EQ(mgn_check_region_mesh(r), "") << "h = " << h;
    EXPECT_NEAR(tetra_volume_sum(r), 1.0, 1e-9) << "h = " << h;
    EXPECT_GT(r->mesh.tetra_count, 0);
  }
}

}  // namespace
