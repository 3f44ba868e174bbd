// Region tetrahedralization: closed bodies meshed end to end in the test
// process, each checked by the consistency checker (links, orientation,
// closure of the boundary, empty front) and by the volume its tetras fill.
#include "discret3.h"

#include <gtest/gtest.h>


#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "discret.h"
#include "element.h"
#include "list.h"
#include "model_fixture.h"
#include "octree1.h"
#include "region.h"
#include "topo3.h"
#include "vec3.h"

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

// Reads a model file of tests/models, entering its REGION lines (boundary
// and fixed surfaces, curves and vertices) in code.
// TODO(region parser): read the whole file once REGION lines are parsed.
std::vector<mgn_region*> read_model_file(const std::string& name) {
  std::ifstream in(std::string(MGN_TEST_MODELS) + "/" + name);
  std::string line, text;
  std::vector<std::string> regions;
  while (std::getline(in, line)) {
    if (line.rfind("region", 0) == 0) regions.push_back(line);
    else text += line + "\n";
  }
  mgn_read_model_text(text);
  std::vector<mgn_region*> out;
  for (const std::string& r : regions) {
    std::istringstream words(r);
    std::string word, group, kind;
    long id = 0;
    words >> word >> id;
    mgn_region* region = mgn_create_region(id);
    while (words >> word) {
      if (word == "boundary" || word == "fixed") {
        group = word;
        words >> kind;
        continue;
      }
      const long n = std::stol(word);
      if (group == "boundary") {
        mgn_surface* surface = mgn_find_surface(std::labs(n));
        if (n > 0) {
          mgn_add_item_to_tail(region->inner_surfaces, surface);
          surface->inner_region = region;
        } else {
          mgn_add_item_to_tail(region->outer_surfaces, surface);
          surface->outer_region = region;
        }
      } else if (kind == "surface") {
        mgn_surface* surface = mgn_find_surface(n);
        mgn_add_item_to_tail(region->fixed_surfaces, surface);
        surface->localized_region = region;
      } else if (kind == "curve") {
        mgn_curve* curve = mgn_find_curve(n);
        mgn_add_item_to_tail(region->fixed_curves, curve);
        curve->localized_region = region;
      } else if (kind == "vertex") {
        mgn_vertex* vertex = mgn_find_vertex(n);
        mgn_add_item_to_tail(region->fixed_vertices, vertex);
        vertex->localized_region = region;
      }
    }
    mgn_add_region_to_model(region);
    out.push_back(region);
  }
  return out;
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

  // The volume the region's bounding triangles enclose: minus a sixth of
  // the sum of a . (b x c) over the faces turned to look into the region.
  static double enclosed_volume(const mgn_region* r) {
    double sum = 0.0;
    auto add = [&](const mgn_surface* s, double sign) {
      mgn_for_own_records<mgn_face>(s->mesh.faces, s->mesh.face_total, true, [&](const mgn_face* f) {
        double bc[3];
        mgn_cross(f->n[1]->xyz, f->n[2]->xyz, bc);
        sum += sign * mgn_dot(f->n[0]->xyz, bc) / 6.0;
      });
    };
    for (const mgn_surface* s : mgn_list_range<mgn_surface>(r->inner_surfaces)) add(s, -1.0);
    for (const mgn_surface* s : mgn_list_range<mgn_surface>(r->outer_surfaces)) add(s, 1.0);
    return sum;
  }

  static double tetra_volume_sum(const mgn_region* r) {
    double sum = 0.0;
    mgn_for_own_records<mgn_tetra>(r->mesh.tetras, r->mesh.tetra_total, r->mesh.discretized,
                                   [&](const mgn_tetra* t) { sum += mgn_get_tetra_volume(t); });
    return sum;
  }
};

TEST_F(RegionMeshTest, UnitCubeFillsItsVolume) {
  for (double h : {0.5, 0.2}) {
    mgn_region* r = mesh(kCube, {1, -2, -3, 4, 5, -6}, h);
    EXPECT_EQ(mgn_check_region_mesh(r), "") << "h = " << h;
    EXPECT_NEAR(tetra_volume_sum(r), 1.0, 1e-9) << "h = " << h;
    EXPECT_GT(r->mesh.tetra_count, 0);
  }
}

// The bodies of tests/models at two sizes and with a size ten times
// smaller at their first vertex: the mesh is consistent, its tetras fill
// the volume the boundary triangulation encloses (relative 1e-5; the flat
// bodies exactly), the entities fixed inside are part of it, and a rerun
// gives the same mesh.
struct body_case {
  const char* file;
  double h;
  double exact_volume;  // 0: only the boundary triangulation's volume
};

class RegionBodyTest : public RegionMeshTest, public ::testing::WithParamInterface<body_case> {
 protected:
  static std::vector<mgn_region*> mesh_file(const body_case& c, double h, bool graded) {
    mgn_reset_model_settings();
    mgn_set.uniform_size = mgn_set.default_size = h;
    std::vector<mgn_region*> regions = read_model_file(c.file);
    if (graded) mgn_find_vertex(1)->size = static_cast<float>(h / 10.0);
    mgn_build_octree();
    mgn_discretize_model();
    return regions;
  }
  // Coordinates of every tetra's nodes, in listing order.
  static std::vector<double> fingerprint(const std::vector<mgn_region*>& regions) {
    std::vector<double> out;
    for (const mgn_region* r : regions)
      mgn_for_own_records<mgn_tetra>(r->mesh.tetras, r->mesh.tetra_total, r->mesh.discretized,
                                     [&](const mgn_tetra* t) {
                                       for (const mgn_node* n : t->n) out.insert(out.end(), n->xyz, n->xyz + 3);
                                     });
    return out;
  }
};

TEST_P(RegionBodyTest, FillsTheBodyConsistently) {
  const body_case& c = GetParam();
  for (int run = 0; run < 3; ++run) {
    const bool graded = run == 2;
    const double h = run == 1 ? c.h * 0.7 : c.h;
    std::vector<mgn_region*> regions = mesh_file(c, h, graded);
    const std::string label = std::string(c.file) + (graded ? " graded" : "") + " h = " + std::to_string(h);
    for (mgn_region* r : regions) {
      ASSERT_EQ(mgn_check_region_mesh(r), "") << label;
      const double sum = tetra_volume_sum(r);
      EXPECT_NEAR(sum, enclosed_volume(r), 1e-5 * sum) << label;
      EXPECT_NEAR(r->volume, sum, 1e-5 * sum) << label;
      if (c.exact_volume > 0.0) {
        EXPECT_NEAR(sum, c.exact_volume, 1e-9 * c.exact_volume) << label;
      }
      // Fixed vertices and curves: their nodes and edges are those of tetras.
      for (const mgn_vertex* v : mgn_list_range<mgn_vertex>(r->fixed_vertices)) {
        bool used = false;
        mgn_for_own_records<mgn_tetra>(r->mesh.tetras, r->mesh.tetra_total, true, [&](const mgn_tetra* t) {
          used = used || mgn_get_tetra_node_index(t, v->mesh.node) >= 0;
        });
        EXPECT_TRUE(used) << label << ": vertex " << v->id;
      }
      for (const mgn_curve* curve : mgn_list_range<mgn_curve>(r->fixed_curves))
        mgn_for_own_records<mgn_edge>(curve->mesh.edges, curve->mesh.edge_total, true, [&](const mgn_edge* e) {
          bool used = false;
          mgn_for_own_records<mgn_tetra>(r->mesh.tetras, r->mesh.tetra_total, true, [&](const mgn_tetra* t) {
            used = used || (mgn_get_tetra_node_index(t, e->n[0]) >= 0 && mgn_get_tetra_node_index(t, e->n[1]) >= 0);
          });
          EXPECT_TRUE(used) << label << ": edge " << e->id << " of curve " << curve->id;
        });
    }
    if (run == 0) {
      const std::vector<double> first = fingerprint(regions);
      EXPECT_EQ(fingerprint(mesh_file(c, h, false)), first) << label << ": a rerun differs";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Bodies, RegionBodyTest,
                         ::testing::Values(body_case{"unit_cube.mgn", 0.25, 1.0}, body_case{"sphere.mgn", 0.4, 0.0},
                                           body_case{"torus.mgn", 0.35, 0.0},
                                           body_case{"box_spherical_void.mgn", 0.6, 0.0},
                                           body_case{"two_boxes.mgn", 0.3, 1.0},
                                           body_case{"cube_fixed_inside.mgn", 0.25, 1.0}));

}  // namespace

