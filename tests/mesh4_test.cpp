// Quad topology: the valency clean-up of hand-made quad meshes of a flat
// patch (an edge flip that takes a valency 5/3 pair away, flips that must
// be refused, a diamond of two valency-3 corners collapsed), and program
// runs whose quad meshes come out conforming, convex and with fewer
// irregular interior nodes than the quad front leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "element.h"
#include "list.h"
#include "mesh4.h"
#include "mesh_file.h"
#include "octree.h"
#include "support.h"
#include "vec3.h"

namespace {

// A node of a hand-made mesh: its place and whether it lies on the
// patch's boundary curve.
struct node_spec {
  double x, y;
  bool boundary;
};

// A quad mesh of a flat patch (plane z = 0, normal +z) built in the mesh
// store: interior nodes belong to the patch, boundary nodes to one ring
// curve, and so do the edges that one quad uses (the boundary); the edges
// listed as inner are edges of a second curve lying inside the patch.
class QuadValency : public ::testing::Test {
 protected:
  void SetUp() override {
    mgn_set = mgn_settings{};
    mgn_reset_mesh_store();
    mgn_create_mesh_store(4);
    const double lo[3] = {-30, -30, -30}, hi[3] = {30, 30, 30};
    mgn_create_root_octant(lo, hi);
    patch_.id = 1;
    patch_.normal[2] = 1.0;
    ring_.id = 1;
    inner_.id = 2;
  }
  void TearDown() override {
    for (mgn_entity_mesh* mesh : {&patch_.mesh, &ring_.mesh, &inner_.mesh}) {
      for (mgn_listing** listing : {&mesh->nodes, &mesh->edges, &mesh->faces, &mesh->quads}) {
        if (*listing != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(*listing));
        *listing = nullptr;
      }
    }
    mgn_release_octree();
    mgn_reset_mesh_store();
  }

  void build(const std::vector<node_spec>& nodes, const std::vector<std::array<int, 4>>& quads,
             const std::vector<std::array<int, 2>>& inner = {}, const std::vector<std::array<int, 3>>& triangles = {}) {
    for (const node_spec& n : nodes) {
      const double p[3] = {n.x, n.y, 0.0};
      const double uv[2] = {n.x, n.y};
      const double t = 0.5;
      nodes_.push_back(n.boundary ? mgn_create_node(p, &t, MGN_CURVE, &ring_, &ring_.mesh.nodes)
                                  : mgn_create_node(p, uv, MGN_PATCH, &patch_, &patch_.mesh.nodes));
    }
    std::map<std::pair<int, int>, int> uses;
    for (const auto& q : quads)
      for (int k = 0; k < 4; ++k) ++uses[key(q[k], q[(k + 1) % 4])];
    for (const auto& t : triangles)
      for (int k = 0; k < 3; ++k) ++uses[key(t[k], t[(k + 1) % 3])];
    auto edge = [&](int a, int b) {
      mgn_edge* e = mgn_get_node_edge(nodes_[a], nodes_[b]);
      if (e != nullptr) return e;
      const bool on_inner =
          std::find(inner.begin(), inner.end(), std::array<int, 2>{std::min(a, b), std::max(a, b)}) != inner.end();
      if (uses[key(a, b)] == 1) return mgn_create_edge(nodes_[a], nodes_[b], MGN_CURVE, &ring_, &ring_.mesh.edges);
      if (on_inner) return mgn_create_edge(nodes_[a], nodes_[b], MGN_CURVE, &inner_, &inner_.mesh.edges);
      return mgn_create_edge(nodes_[a], nodes_[b], MGN_PATCH, &patch_, &patch_.mesh.edges);
    };
    for (const auto& q : quads) {
      mgn_quad* quad = mgn_create_quad(nodes_[q[0]], nodes_[q[1]], nodes_[q[2]], nodes_[q[3]], MGN_PATCH, &patch_,
                                       &patch_.mesh.quads, false);
      for (int k = 0; k < 4; ++k) mgn_add_edge_quad(edge(q[k], q[(k + 1) % 4]), quad);
    }
    for (const auto& t : triangles) {
      mgn_face* face = mgn_create_face(nodes_[t[0]], nodes_[t[1]], nodes_[t[2]], MGN_PATCH, &patch_,
                                       &patch_.mesh.faces, nullptr, false);
      for (int k = 0; k < 3; ++k) mgn_add_edge_face(edge(t[k], t[(k + 1) % 3]), face);
    }
  }
  // The mesh handed over as the quad front hands its own, then cleaned up.
  void clean() {
    mgn_merge_triangle_pairs(MGN_PATCH, &patch_, {});
    mgn_clean_quad_mesh(MGN_PATCH, &patch_);
  }
  static std::pair<int, int> key(int a, int b) { return {std::min(a, b), std::max(a, b)}; }

  // The live quads of the patch as sets of node indices.
  std::set<std::set<int>> quads() const {
    std::set<std::set<int>> out;
    for (mgn_quad** ref : mgn_listing_range<mgn_quad*>(mgn_get_first_listing_block(patch_.mesh.quads))) {
      const mgn_quad* q = *ref;
      if (q == nullptr || q->id == 0) continue;
      std::set<int> corners;
      for (mgn_node* n : q->n) corners.insert(index(n));
      out.insert(corners);
    }
    return out;
  }
  int index(const mgn_node* n) const {
    return static_cast<int>(std::find(nodes_.begin(), nodes_.end(), n) - nodes_.begin());
  }

  // Every live quad turns counterclockwise and convex about +z; every edge
  // of a quad is an edge of the store holding that quad.
  void expect_valid() const {
    const double up[3] = {0.0, 0.0, 1.0};
    for (mgn_quad** ref : mgn_listing_range<mgn_quad*>(mgn_get_first_listing_block(patch_.mesh.quads))) {
      mgn_quad* q = *ref;
      if (q == nullptr || q->id == 0) continue;
      EXPECT_TRUE(mgn_check_quad_convexity(q->n[0]->xyz, q->n[1]->xyz, q->n[2]->xyz, q->n[3]->xyz, up));
      for (int k = 0; k < 4; ++k) {
        mgn_edge* e = mgn_get_node_edge(q->n[k], q->n[(k + 1) % 4]);
        ASSERT_NE(e, nullptr);
        bool held = false;
        for (mgn_quad* other : mgn_edge_quads(e)) held |= other == q;
        EXPECT_TRUE(held);
      }
    }
  }

  mgn_patch patch_;
  mgn_curve ring_, inner_;
  std::vector<mgn_node*> nodes_;
};

// The 4 x 4 nodes of a 3 x 3 grid of unit squares, node (i, j) at index
// 4 j + i; interior nodes 5, 6, 9, 10.
std::vector<node_spec> grid_nodes(int n) {
  std::vector<node_spec> out;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i)
      out.push_back({static_cast<double>(i), static_cast<double>(j), i == 0 || j == 0 || i == n - 1 || j == n - 1});
  return out;
}
std::vector<std::array<int, 4>> grid_quads(int n, const std::vector<int>& leave_out = {}) {
  std::vector<std::array<int, 4>> out;
  for (int j = 0; j + 1 < n; ++j)
    for (int i = 0; i + 1 < n; ++i) {
      const int a = n * j + i;
      if (std::find(leave_out.begin(), leave_out.end(), a) == leave_out.end())
        out.push_back({a, a + 1, a + n + 1, a + n});
    }
  return out;
}

// The 3 x 3 grid with the edge 1-5 turned to 0-6 in the hexagon of the two
// lower left quads: interior node 5 has valency 3, its neighbour 6 valency
// 5, the boundary node 1 one edge too few and the corner 0 one too many.
// Node 1 is lowered and node 5 raised so that both quads of the turned
// edge are convex.
struct flip_case {
  const char* name;
  double x5, y5;  // the place of interior node 5
  bool inner;     // the turned edge 0-6 lies on a curve inside the patch
  bool flipped;   // the clean-up turns it back to 1-5
};

class QuadValencyFlip : public QuadValency, public ::testing::WithParamInterface<flip_case> {};

TEST_P(QuadValencyFlip, TurnsTheEdgeOfAValencyFiveThreePairBackWhenItMay) {
  const flip_case& c = GetParam();
  std::vector<node_spec> nodes = grid_nodes(4);
  nodes[1].y = -0.3;
  nodes[5].x = c.x5;
  nodes[5].y = c.y5;
  std::vector<std::array<int, 4>> quads = grid_quads(4, {0, 1});
  quads.push_back({0, 1, 2, 6});
  quads.push_back({6, 5, 4, 0});
  build(nodes, quads, c.inner ? std::vector<std::array<int, 2>>{{0, 6}} : std::vector<std::array<int, 2>>{});
  const std::set<std::set<int>> before = this->quads();
  ASSERT_EQ(nodes_[5]->edge_count, 3);
  ASSERT_EQ(nodes_[6]->edge_count, 5);

  clean();

  expect_valid();
  if (c.flipped) {
    std::set<std::set<int>> grid;
    for (const auto& q : grid_quads(4)) grid.insert({q[0], q[1], q[2], q[3]});
    EXPECT_EQ(this->quads(), grid);
    for (int k : {5, 6, 9, 10}) EXPECT_EQ(nodes_[k]->edge_count, 4) << "node " << k;
    EXPECT_EQ(mgn_get_node_edge(nodes_[0], nodes_[6]), nullptr);
  } else {
    EXPECT_EQ(this->quads(), before);
    EXPECT_NE(mgn_get_node_edge(nodes_[0], nodes_[6]), nullptr);
  }
  EXPECT_EQ(patch_.mesh.quad_count, 9);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QuadValencyFlip,
    ::testing::Values(flip_case{"Flipped", 1.0, 1.25, false, true},
                      // The quad 1 2 6 5 the turn would make is a sliver.
                      flip_case{"SliverRefused", 1.95, 1.02, false, false},
                      // Curve edges are never turned.
                      flip_case{"CurveEdgeKept", 1.0, 1.25, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The 4 x 4 grid of unit squares with its middle node split in two (12
// above, 24 below) and a quad 12 11 24 13 between them: a diamond whose
// corners 12 and 24 have valency 3 and 11, 13 valency 5.  The clean-up
// collapses it back to the grid: 16 quads, every interior node of
// valency 4, one node less, and the joined node stays at one of the two
// places (on the patch).
TEST_F(QuadValency, CollapsesADiamondOfTwoValencyThreeCorners) {
  std::vector<node_spec> nodes = grid_nodes(5);
  nodes[12].y = 2.3;
  nodes.push_back({2.0, 1.7, false});  // 25: the lower half of node 12
  std::vector<std::array<int, 4>> quads = grid_quads(5, {6, 7});
  quads.push_back({6, 7, 25, 11});
  quads.push_back({7, 8, 13, 25});
  quads.push_back({12, 11, 25, 13});
  build(nodes, quads);
  ASSERT_EQ(nodes_[12]->edge_count, 3);
  ASSERT_EQ(nodes_[25]->edge_count, 3);
  ASSERT_EQ(nodes_[11]->edge_count, 5);

  clean();

  expect_valid();
  EXPECT_EQ(patch_.mesh.quad_count, 16);
  EXPECT_EQ(patch_.mesh.node_count, 9);
  for (int k : {6, 7, 8, 11, 13, 16, 17, 18}) EXPECT_EQ(nodes_[k]->edge_count, 4) << "node " << k;
  const mgn_node* joined = nodes_[12]->id != 0 ? nodes_[12] : nodes_[25];
  EXPECT_TRUE(nodes_[12]->id == 0 || nodes_[25]->id == 0);
  EXPECT_EQ(joined->edge_count, 4);
  EXPECT_EQ(joined->xyz[0], 2.0);
  EXPECT_TRUE(joined->xyz[1] == 2.3 || joined->xyz[1] == 1.7);
}

// Two lone triangles with a quad between them that make no two convex
// quads: nodes 5 and 6 stand a little above the line from 4 to 7, so the
// hexagon 4 5 6 7 8 9 bends inward at them.
//
//     9 ------- 8         row y = 2: 9 8
//    / \       | \        row y = 1: 4 5 6 7
//   4 - 5 ----- 6 - 7      row y = 0: 0 1 2 3
//   |   |       |   |      the triangles 4 5 9 and 6 7 8, the quad
//   0 - 1 ----- 2 - 3      5 6 8 9 between them
//
// The walk goes around below, through the three quads of the lower row
// (node 2 lies a little low, so that the last of them passes the triangle
// on), and the clean-up leaves five quads, convex and conforming.
TEST_F(QuadValency, PairsTrianglesWhoseMeetingMakesNoConvexQuadAroundIt) {
  std::vector<node_spec> nodes = {{0, 0, true}, {1, 0, true}, {3, -0.2, true}, {4, 0, true},  {0, 1, true},
                                  {1, 1.1, false}, {3, 1.1, false}, {4, 1, true}, {3.2, 2, true}, {0.8, 2, true}};
  build(nodes, {{0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {5, 6, 8, 9}}, {}, {{4, 5, 9}, {6, 7, 8}});

  clean();

  expect_valid();
  EXPECT_EQ(patch_.mesh.face_count, 0);
  EXPECT_EQ(patch_.mesh.quad_count, 5);
  // Conforming: the eight boundary edges once, every other edge twice.
  std::map<std::pair<int, int>, int> use;
  for (mgn_quad** ref : mgn_listing_range<mgn_quad*>(mgn_get_first_listing_block(patch_.mesh.quads)))
    if (*ref != nullptr && (*ref)->id != 0)
      for (int k = 0; k < 4; ++k) ++use[key(index((*ref)->n[k]), index((*ref)->n[(k + 1) % 4]))];
  const std::set<std::pair<int, int>> boundary = {{0, 1}, {1, 2}, {2, 3}, {3, 7}, {7, 8}, {8, 9}, {4, 9}, {0, 4}};
  for (const auto& [edge, count] : use)
    EXPECT_EQ(count, boundary.count(edge) != 0 ? 1 : 2) << "edge " << edge.first << "-" << edge.second;
  EXPECT_EQ(use.size(), 14u);  // eight boundary edges and six inside
}

// Program runs of quad surfaces: the written mesh is conforming (curve
// edges once, every other edge twice), every face turns counterclockwise
// about +z or outward and quads are convex, and at most the given share of
// the interior nodes is irregular (the quad front alone leaves 12 to 17 %
// on these).
struct run_case {
  const char* name;
  const char* model;
  const char* size;  // "" for the model's sizes
  double max_irregular;
  int shape;  // 0 plane z = 0, 1 cylinder about z, 2 sphere about the origin
};

class QuadValencyProgram : public ::testing::TestWithParam<run_case> {};

TEST_P(QuadValencyProgram, LeavesFewIrregularNodesInAConformingConvexMesh) {
  const run_case& c = GetParam();
  const std::string dir = mgn_temp_dir();
  std::string text = mgn_read_file(std::string(MGN_TEST_MODELS) + "/" + c.model + ".mgn");
  if (text.find(" quad") == std::string::npos)
    text = std::regex_replace(text, std::regex("(\nsurface 1 curve [0-9 ]+[0-9])"), "$1 quad");
  mgn_write_file(dir + "/model.mgn", text);
  std::vector<std::string> args = {"-i", dir + "/model.mgn", "-o", "out.msh"};
  if (*c.size != '\0') args.insert(args.end(), {"-u", c.size});
  const mgn_run_result r = mgn_run_program(args, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const written_mesh m = read_written_mesh(mgn_read_file(dir + "/out.msh"));
  ASSERT_GT(m.quads.size(), 50u);

  std::set<std::pair<long, long>> boundary;
  std::set<long> on_curves;
  for (const auto& e : m.edges) {
    boundary.insert({std::min(e[0], e[1]), std::max(e[0], e[1])});
    on_curves.insert(e.begin(), e.end());
  }
  std::map<std::pair<long, long>, int> use;
  std::map<long, std::set<long>> around;
  for (const auto* elements : {&m.trias, &m.quads}) {
    for (const std::vector<long>& e : *elements) {
      const std::size_t k = e.size();
      for (std::size_t i = 0; i < k; ++i) {
        const double* prev = m.nodes.at(e[(i + k - 1) % k]).data();
        const double* p = m.nodes.at(e[i]).data();
        const double* next = m.nodes.at(e[(i + 1) % k]).data();
        double u[3], v[3], w[3];
        mgn_sub(p, prev, u);
        mgn_sub(next, p, v);
        mgn_cross(u, v, w);
        const double out[3] = {c.shape == 0 ? 0.0 : p[0], c.shape == 0 ? 0.0 : p[1],
                               c.shape == 0 ? 1.0 : c.shape == 2 ? p[2] : 0.0};
        EXPECT_GT(mgn_dot(w, out), 0.0) << "corner at node " << e[i];
        const long a = e[i], b = e[(i + 1) % k];
        ++use[{std::min(a, b), std::max(a, b)}];
        around[a].insert(b);
        around[b].insert(a);
      }
    }
  }
  for (const auto& [edge, count] : use)
    EXPECT_EQ(count, boundary.count(edge) != 0 ? 1 : 2) << "edge " << edge.first << "-" << edge.second;
  long interior = 0, irregular = 0;
  for (const auto& [node, others] : around) {
    if (on_curves.count(node) != 0) continue;
    ++interior;
    if (others.size() != 4) ++irregular;
  }
  ASSERT_GT(interior, 0);
  EXPECT_LE(static_cast<double>(irregular), c.max_irregular * static_cast<double>(interior))
      << irregular << " of " << interior << " interior nodes irregular";
}

INSTANTIATE_TEST_SUITE_P(Models, QuadValencyProgram,
                         ::testing::Values(run_case{"GradedPlate", "graded_plate", "", 0.10, 0},
                                           run_case{"QuarterCylinder", "quarter_cylinder", "0.2", 0.08, 1},
                                           run_case{"SphereOctant", "sphere_octant", "0.1", 0.11, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
