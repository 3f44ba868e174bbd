// Tetra mesh repair: each local transformation on a small region built by
// hand (its plan pays where it must and not where it must not, its apply
// keeps the consistency checker quiet and the volume), the warning and the
// failure of a tetra that stays inverted, the passes on meshed bodies
// (checker quiet after every pass, volume kept, the quality floor reached)
// and the triangulation tables of edge removal.
#include "mesh3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "discret.h"
#include "element.h"
#include "geom.h"
#include "list.h"
#include "message.h"
#include "model_fixture.h"
#include "octree1.h"
#include "support.h"
#include "smooth.h"
#include "topo3.h"

namespace {

double volume_of(const mgn_region* r) {
  double sum = 0.0;
  mgn_for_own_records<mgn_tetra>(r->mesh.tetras, r->mesh.tetra_total, r->mesh.collected,
                                 [&](const mgn_tetra* t) { sum += mgn_get_tetra_volume(t); });
  return sum;
}

std::vector<mgn_tetra*> live_tetras(const mgn_region* r) {
  std::vector<mgn_tetra*> out;
  mgn_for_own_records<mgn_tetra>(r->mesh.tetras, r->mesh.tetra_total, r->mesh.collected,
                                 [&](mgn_tetra* t) { out.push_back(t); });
  return out;
}

// A region meshed by hand: skin nodes (on a surface bounding the region)
// and region nodes; build() links the given tetras across their shared
// faces and covers every other face with a triangle of the skin (or, for
// faces marked as walls, of a surface fixed inside the region).
class Repair : public ::testing::Test {
 protected:
  void SetUp() override {
    mgn_set = mgn_settings{};
    mgn_tol = mgn_tolerances{};
    mgn_warning_count = 0;
    mgn_smooth_hook = mgn_smooth_hooks{};
    mgn_reset_mesh_store();
    mgn_create_mesh_store(4);
    region_ = mgn_region{};
    skin_ = mgn_surface{};
    wall_ = mgn_surface{};
    region_.id = 1;
    skin_.id = 1;
    wall_.id = 2;
    // The region lies on side 1 of the skin's triangles (they turn
    // counterclockwise seen from outside) and on both sides of the wall's.
    mgn_add_item_to_tail(region_.outer_surfaces, &skin_);
    mgn_add_item_to_tail(region_.fixed_surfaces, &wall_);
    mgn_start_repair(ctx_, &region_, 0);
  }
  void TearDown() override {
    for (mgn_entity_mesh* mesh : {&region_.mesh, &skin_.mesh, &wall_.mesh})
      for (mgn_listing** listing : {&mesh->nodes, &mesh->edges, &mesh->faces, &mesh->tetras}) {
        if (*listing != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(*listing));
        *listing = nullptr;
      }
    mgn_destroy_list(region_.outer_surfaces);
    mgn_destroy_list(region_.fixed_surfaces);
    mgn_reset_mesh_store();
  }
  // A fresh region for the next case of a table.
  void restart() {
    TearDown();
    SetUp();
  }

  mgn_node* skin(double x, double y, double z) {
    const double p[3] = {x, y, z}, uv[2] = {0.0, 0.0};
    return mgn_create_node(p, uv, MGN_SURFACE, &skin_, &skin_.mesh.nodes);
  }
  mgn_node* inner(double x, double y, double z) {
    const double p[3] = {x, y, z};
    return mgn_create_node(p, nullptr, MGN_REGION, &region_, &region_.mesh.nodes);
  }

  // Creates the tetras (turned positive unless keep_order) with their links,
  // skin triangles and edges.  Faces listed in walls (node triples, any
  // order) become triangles of the wall between the two tetras on them.
  std::vector<mgn_tetra*> build(std::vector<mgn_tetra_nodes> tetras, bool keep_order = false,
                                const std::vector<std::array<mgn_node*, 3>>& walls = {}) {
    std::vector<mgn_tetra*> made;
    for (mgn_tetra_nodes& n : tetras) {
      if (!keep_order && mgn_orient3d(n[0]->xyz, n[1]->xyz, n[2]->xyz, n[3]->xyz) < 0) std::swap(n[1], n[2]);
      made.push_back(mgn_create_tetra(n[0], n[1], n[2], n[3], &region_, &region_.mesh.tetras));
    }
    auto is_wall = [&](mgn_node* a, mgn_node* b, mgn_node* c) {
      for (const auto& w : walls)
        if (std::find(w.begin(), w.end(), a) != w.end() && std::find(w.begin(), w.end(), b) != w.end() &&
            std::find(w.begin(), w.end(), c) != w.end())
          return true;
      return false;
    };
    std::vector<mgn_face*> wall_faces;
    for (mgn_tetra* t : made)
      for (int k = 0; k < 4; ++k) {
        const int* o = mgn_tetra_outward_face[k];
        mgn_node* a = t->n[o[0]];
        mgn_node* b = t->n[o[1]];
        mgn_node* c = t->n[o[2]];
        mgn_tetra* across = nullptr;
        int ka = -1;
        for (mgn_tetra* u : made)
          if (u != t && (ka = mgn_get_tetra_face_index(u, a, b, c)) >= 0) {
            across = u;
            break;
          }
        if (across != nullptr && !is_wall(a, b, c)) {
          mgn_link_tetras(t, k, across, ka);
          continue;
        }
        mgn_face* face = nullptr;
        if (across != nullptr) {
          for (mgn_face* f : wall_faces)
            if (mgn_get_tetra_face_index(t, f->n[0], f->n[1], f->n[2]) == k) face = f;
          if (face == nullptr) {
            face = mgn_create_face(a, b, c, MGN_SURFACE, &wall_, &wall_.mesh.faces, nullptr, true);
            wall_faces.push_back(face);
          }
        } else {
          face = mgn_create_face(a, b, c, MGN_SURFACE, &skin_, &skin_.mesh.faces, nullptr, true);
        }
        const int s = mgn_get_face_side_of_tetra(face, t);
        mgn_element_extra* extra = mgn_get_element_extra(face);
        extra->side[s] = t;
        extra->side_type[s] = MGN_ELEM_TETRA;
        mgn_set_tetra_neighbour(t, k, face, MGN_ELEM_FACE);
      }
    // Edges: of the skin (or wall) on its triangles, of the region inside.
    for (mgn_tetra* t : made)
      for (int k = 0; k < 4; ++k) {
        const bool on_face = t->ngb_type[k] == MGN_ELEM_FACE;
        const int* o = mgn_tetra_outward_face[k];
        for (int i = 0; i < 3 && on_face; ++i) {
          mgn_node* a = t->n[o[i]];
          mgn_node* b = t->n[o[(i + 1) % 3]];
          if (mgn_get_node_edge(a, b) == nullptr) mgn_create_edge(a, b, MGN_SURFACE, &skin_, &skin_.mesh.edges);
        }
      }
    for (mgn_tetra* t : made)
      for (const auto& e : mgn_tetra_edge_nodes)
        if (mgn_get_node_edge(t->n[e[0]], t->n[e[1]]) == nullptr)
          mgn_create_edge(t->n[e[0]], t->n[e[1]], MGN_REGION, &region_, &region_.mesh.edges);
    return made;
  }

  // Makes the plan when its check accepts it; returns whether it did.
  bool make(bool planned, mgn_remesh_plan& plan) {
    if (!planned || !mgn_check_plan(ctx_, plan)) return false;
    mgn_apply_plan(ctx_, plan);
    return true;
  }

  void expect_sound(double volume) {
    EXPECT_EQ(mgn_check_region_mesh(&region_), "");
    EXPECT_NEAR(volume_of(&region_), volume, 1e-12 * std::fabs(volume));
  }

  mgn_region region_;
  mgn_surface skin_, wall_;
  mgn_repair_context ctx_;
  mgn_remesh_plan plan_;
};

// The bipyramid over the triangle of circumradius 1 in z = 0 with apexes
// at heights +h and -h, as the two tetras on the triangle.
struct bipyramid {
  mgn_node *a, *b, *c, *top, *bottom;
};

class RepairSwaps : public Repair {
 protected:
  bipyramid make_bipyramid(double h, double shift = 0.0) {
    const double s = std::sqrt(3.0) / 2.0;
    return {skin(1, 0, 0), skin(-0.5, s, 0), skin(-0.5, -s, 0), skin(shift, 0, h), skin(shift, 0, -h)};
  }
};

// A flat bipyramid (h = 0.3) is better as three tetras around the edge of
// its apexes; a tall one (h = 1.2) is not; where the apexes' edge passes
// beside the triangle the three tetras would not be positive.
TEST_F(RepairSwaps, FaceSwapTwoToThree) {
  struct swap_case {
    double h, shift;
    bool pays;
  };
  for (const swap_case& c : {swap_case{0.3, 0.0, true}, swap_case{1.2, 0.0, false}, swap_case{0.3, 1.6, false}}) {
    restart();
    const bipyramid p = make_bipyramid(c.h, c.shift);
    std::vector<mgn_tetra*> t = build({{p.a, p.b, p.c, p.top}, {p.a, p.b, p.c, p.bottom}});
    const double volume = volume_of(&region_);
    const int k = mgn_get_tetra_node_index(t[0], p.top);
    const bool planned = mgn_plan_swap_face(ctx_, t[0], k, plan_);
    EXPECT_EQ(planned, c.pays) << "h = " << c.h << ", shift = " << c.shift;
    if (c.pays) {
      EXPECT_GT(plan_.after, plan_.before);
      ASSERT_TRUE(make(planned, plan_));
      EXPECT_EQ(region_.mesh.tetra_count, 3);
      EXPECT_NE(mgn_get_node_edge(p.top, p.bottom), nullptr);
      EXPECT_EQ(mgn_get_node_edge(p.top, p.bottom)->kind, MGN_REGION);
    }
    expect_sound(volume);
  }
}

// Positive tetras that leave part of the cavity empty, or fill part of it
// twice, are no valid plan.
TEST_F(RepairSwaps, CheckRefusesTetrasThatDoNotFillTheCavity) {
  const bipyramid p = make_bipyramid(0.3);
  std::vector<mgn_tetra*> t = build({{p.a, p.b, p.c, p.top}, {p.a, p.b, p.c, p.bottom}});
  ASSERT_TRUE(mgn_plan_swap_face(ctx_, t[0], mgn_get_tetra_node_index(t[0], p.top), plan_));
  ASSERT_TRUE(mgn_check_plan(ctx_, plan_));
  mgn_remesh_plan gap = plan_, twice = plan_;
  gap.tetras.pop_back();
  twice.tetras.push_back(twice.tetras.front());
  EXPECT_FALSE(mgn_check_plan(ctx_, gap));
  EXPECT_FALSE(mgn_check_plan(ctx_, twice));
}

// The triangle between the two tetras is a surface fixed inside the
// region: no transformation may change it, and the repair leaves it alone.
TEST_F(RepairSwaps, FixedSurfaceBetweenTetrasStays) {
  const bipyramid p = make_bipyramid(0.3);
  std::vector<mgn_tetra*> t = build({{p.a, p.b, p.c, p.top}, {p.a, p.b, p.c, p.bottom}}, false, {{p.a, p.b, p.c}});
  const double volume = volume_of(&region_);
  EXPECT_FALSE(mgn_plan_swap_face(ctx_, t[0], mgn_get_tetra_node_index(t[0], p.top), plan_));
  for (int e = 0; e < 6; ++e) EXPECT_FALSE(mgn_plan_remove_edge(ctx_, t[0], e, plan_)) << "edge " << e;
  EXPECT_FALSE(mgn_plan_insert_node(ctx_, t[0], plan_) && mgn_check_plan(ctx_, plan_));
  mgn_fix_region_tetra(ctx_, t[0]);
  mgn_fix_region_tetra(ctx_, t[1]);
  EXPECT_NE(t[0]->id, 0);
  EXPECT_NE(t[1]->id, 0);
  expect_sound(volume);
}

// Edge removal around the axis of a ring of n skin nodes with apexes at
// heights +h and -h: the n tetras around the axis become 2 (n - 2) (the
// ring listed both ways round, so that both orientations of the shell are
// met); where the shell is better as it is, nothing is planned.
TEST_F(RepairSwaps, EdgeRemovalNToM) {
  struct removal_case {
    int n;
    double h;
    bool pays;
  };
  const removal_case cases[] = {{3, 1.2, true}, {4, 2.0, true}, {5, 3.0, true}, {6, 0.6, false}, {4, 1.0, false}};
  for (const removal_case& c : cases)
    for (int turn : {1, -1}) {
      restart();
      std::vector<mgn_node*> ring;
      for (int i = 0; i < c.n; ++i) {
        const double angle = turn * 2.0 * MGN_PI * i / c.n;
        ring.push_back(skin(std::cos(angle), std::sin(angle), 0.0));
      }
      mgn_node* a = skin(0, 0, c.h);
      mgn_node* b = skin(0, 0, -c.h);
      std::vector<mgn_tetra_nodes> shell;
      for (int i = 0; i < c.n; ++i) shell.push_back({a, b, ring[i], ring[(i + 1) % c.n]});
      std::vector<mgn_tetra*> t = build(shell);
      const double volume = volume_of(&region_);
      const int e = [&] {
        for (int k = 0; k < 6; ++k) {
          const int* en = mgn_tetra_edge_nodes[k];
          if ((t[0]->n[en[0]] == a && t[0]->n[en[1]] == b) || (t[0]->n[en[0]] == b && t[0]->n[en[1]] == a)) return k;
        }
        return -1;
      }();
      const bool planned = mgn_plan_remove_edge(ctx_, t[0], e, plan_);
      EXPECT_EQ(planned, c.pays) << "n = " << c.n << ", h = " << c.h << ", turn " << turn;
      if (c.pays) {
        const int32_t edges_before = region_.mesh.edge_total;
        ASSERT_TRUE(make(planned, plan_));
        EXPECT_EQ(region_.mesh.tetra_count, 2 * (c.n - 2));
        // The new tetras and edges take the records of those they replace:
        // only the surplus is new (n - 3 ring diagonals replace edge a-b).
        EXPECT_EQ(region_.mesh.tetra_total, std::max(c.n, 2 * (c.n - 2)));
        EXPECT_EQ(region_.mesh.edge_total, edges_before + std::max(0, c.n - 4));
        EXPECT_EQ(mgn_get_node_edge(a, b), nullptr);
      }
      expect_sound(volume);
    }
}

// The shell around an edge whose polygon is a thin rhombus: of its two
// triangulations only the one on the short diagonal pays.
TEST_F(RepairSwaps, EdgeRemovalTakesTheBestTriangulation) {
  mgn_node* ring[4] = {skin(1, 0, 0), skin(0, 0.3, 0), skin(-1, 0, 0), skin(0, -0.3, 0)};
  mgn_node* a = skin(0, 0, 0.8);
  mgn_node* b = skin(0, 0, -0.8);
  std::vector<mgn_tetra*> t = build({{a, b, ring[0], ring[1]}, {a, b, ring[1], ring[2]}, {a, b, ring[2], ring[3]},
                                     {a, b, ring[3], ring[0]}});
  const double volume = volume_of(&region_);
  for (int e = 0; e < 6; ++e) {
    const int* en = mgn_tetra_edge_nodes[e];
    if (mgn_get_node_edge(t[0]->n[en[0]], t[0]->n[en[1]]) != mgn_get_node_edge(a, b)) continue;
    ASSERT_TRUE(make(mgn_plan_remove_edge(ctx_, t[0], e, plan_), plan_));
  }
  EXPECT_NE(mgn_get_node_edge(ring[1], ring[3]), nullptr);
  EXPECT_EQ(mgn_get_node_edge(ring[0], ring[2]), nullptr);
  EXPECT_GT(plan_.after, 0.8);
  expect_sound(volume);
}

// Every pattern is a triangulation of its polygon: n - 2 triangles with
// corners in polygon order, every side of the polygon used once, every
// diagonal used twice, and no two patterns alike; their numbers are the
// Catalan numbers.
TEST(SwapPatterns, AreTheTriangulationsOfThePolygon) {
  const int catalan[] = {0, 0, 0, 1, 2, 5, 14, 42};
  for (int n = 3; n <= MGN_SWAP_POLYGON; ++n) {
    const mgn_swap_pattern_set& set = mgn_swap_patterns(n);
    ASSERT_EQ(set.count, catalan[n]) << "n = " << n;
    std::vector<std::vector<int>> seen;
    for (int p = 0; p < set.count; ++p) {
      std::vector<std::vector<int>> uses(n, std::vector<int>(n, 0));
      std::vector<int> key;
      for (int t = 0; t < n - 2; ++t) {
        const auto& tri = set.triangles[p][t];
        ASSERT_TRUE(tri[0] < tri[1] && tri[1] < tri[2] && tri[2] < n);
        for (int i = 0; i < 3; ++i) ++uses[std::min(tri[i], tri[(i + 1) % 3])][std::max(tri[i], tri[(i + 1) % 3])];
        key.push_back(tri[0] * 100 + tri[1] * 10 + tri[2]);
      }
      for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
          const bool side = j == i + 1 || (i == 0 && j == n - 1);
          EXPECT_TRUE(uses[i][j] == (side ? 1 : 0) || (!side && uses[i][j] == 2)) << n << ": " << i << "-" << j;
        }
      std::sort(key.begin(), key.end());
      EXPECT_EQ(std::find(seen.begin(), seen.end(), key), seen.end());
      seen.push_back(key);
    }
  }
}

// A region node just above one face of a tetra splits it into four, one of
// them flat: the node goes and the tetra is whole again.  A fixed vertex
// in its place stays.
TEST_F(Repair, NodeRemovalFourToOne) {
  for (bool fixed : {false, true}) {
    restart();
    mgn_node* a = skin(0, 0, 0);
    mgn_node* b = skin(1, 0, 0);
    mgn_node* c = skin(0, 1, 0);
    mgn_node* d = skin(0, 0, 1);
    const double p[3] = {0.25, 0.25, 0.02};
    mgn_node* x = fixed ? mgn_create_node(p, nullptr, MGN_VERTEX, nullptr, nullptr) : inner(p[0], p[1], p[2]);
    std::vector<mgn_tetra*> t = build({{x, a, b, c}, {x, a, b, d}, {x, b, c, d}, {x, c, a, d}});
    const double volume = volume_of(&region_);
    const bool planned = mgn_plan_remove_node(ctx_, t[0], mgn_get_tetra_node_index(t[0], x), plan_);
    EXPECT_EQ(planned, !fixed);
    if (!fixed) {
      ASSERT_TRUE(make(planned, plan_));
      EXPECT_EQ(region_.mesh.tetra_count, 1);
      EXPECT_EQ(x->id, 0);
      EXPECT_EQ(region_.mesh.node_count, 0);
      EXPECT_EQ(region_.mesh.edge_count, 0);
    }
    expect_sound(volume);
  }
}

// The octahedron |x| + |y| + |z| <= 1 with two region nodes close together
// at its centre: the four tetras between them are flat, and collapsing
// their edge leaves the octahedron as the star of one node.  Where one of
// them is a fixed vertex, the edge does not collapse.
TEST_F(Repair, EdgeCollapseMergesCloseNodes) {
  for (bool fixed : {false, true}) {
    restart();
    mgn_node* px = skin(1, 0, 0);
    mgn_node* mx = skin(-1, 0, 0);
    mgn_node* ring[4] = {skin(0, 1, 0), skin(0, 0, 1), skin(0, -1, 0), skin(0, 0, -1)};
    const double q[3] = {0.05, 0.01, 0.0};
    mgn_node* x = inner(-0.05, 0.0, 0.01);
    mgn_node* y = fixed ? mgn_create_node(q, nullptr, MGN_VERTEX, nullptr, nullptr) : inner(q[0], q[1], q[2]);
    std::vector<mgn_tetra_nodes> tetras;
    for (int i = 0; i < 4; ++i) {
      mgn_node* r0 = ring[i];
      mgn_node* r1 = ring[(i + 1) % 4];
      tetras.push_back({x, mx, r0, r1});
      tetras.push_back({y, px, r0, r1});
      tetras.push_back({x, y, r0, r1});
    }
    std::vector<mgn_tetra*> t = build(tetras);
    ASSERT_EQ(mgn_check_region_mesh(&region_), "");
    const double volume = volume_of(&region_);
    EXPECT_NEAR(volume, 4.0 / 3.0, 1e-12);
    const int e = [&] {
      for (int k = 0; k < 6; ++k) {
        const int* en = mgn_tetra_edge_nodes[k];
        if ((t[2]->n[en[0]] == x && t[2]->n[en[1]] == y) || (t[2]->n[en[0]] == y && t[2]->n[en[1]] == x)) return k;
      }
      return -1;
    }();
    const bool planned = mgn_plan_collapse_edge(ctx_, t[2], e, plan_);
    EXPECT_EQ(planned, !fixed);
    if (!fixed) {
      ASSERT_TRUE(make(planned, plan_));
      EXPECT_EQ(region_.mesh.tetra_count, 8);
      EXPECT_EQ(region_.mesh.node_count, 1);
      EXPECT_EQ(x->id, 0);
      EXPECT_EQ(y->id, 0);
      EXPECT_GT(plan_.after, 0.7);
    }
    expect_sound(volume);
  }
}

// The pyramid over the unit square with its base split by the diagonal
// a-c: a flat tetra a b c d lies on the two base triangles under the two
// tetras of the top.  A node inserted into the three makes six good
// tetras; a point outside the cluster is refused and changes nothing.
TEST_F(Repair, NodeInsertion) {
  mgn_node* a = skin(0, 0, 0);
  mgn_node* b = skin(1, 0, 0);
  mgn_node* c = skin(1, 1, 0);
  mgn_node* d = skin(0, 1, 0.001);
  mgn_node* e = skin(0.5, 0.5, 0.8);
  std::vector<mgn_tetra*> t = build({{a, b, c, d}, {a, b, d, e}, {b, c, d, e}});
  const double volume = volume_of(&region_);
  ASSERT_EQ(mgn_check_region_mesh(&region_), "");
  const double outside[3] = {0.5, 0.5, -1.0};
  EXPECT_EQ(mgn_insert_node(ctx_, t.data(), 3, outside), nullptr);
  EXPECT_EQ(region_.mesh.tetra_count, 3);
  ASSERT_TRUE(make(mgn_plan_insert_node(ctx_, t[0], plan_), plan_));
  EXPECT_EQ(region_.mesh.tetra_count, 6);
  EXPECT_EQ(region_.mesh.node_count, 1);
  EXPECT_GT(plan_.after, 0.3);
  expect_sound(volume);
}

// A flat tetra between the two triangulations of a planar quadrilateral
// (two tetras on each side, the diagonals crossing at its centre) is split
// away by a node at the crossing: the four tetras around the diagonals
// become eight.  Alone, its edges lie on the skin and nothing is planned.
TEST_F(Repair, FlatTetraIsSplitAwayAtItsCrossingEdges) {
  mgn_node* p1 = skin(0, 0, 0);
  mgn_node* p2 = skin(1, 0, 0);
  mgn_node* q2 = skin(1, -1e-9, 1);
  mgn_node* q1 = skin(0, 0, 1);
  mgn_node* y = skin(0.5, -0.7, 0.5);
  mgn_node* z = skin(0.5, 0.7, 0.5);
  std::vector<mgn_tetra*> t =
      build({{p1, p2, q1, q2}, {p1, p2, q2, y}, {p1, q2, q1, y}, {p1, p2, q1, z}, {p2, q2, q1, z}});
  const double volume = volume_of(&region_);
  ASSERT_EQ(mgn_check_region_mesh(&region_), "");
  ASSERT_LT(mgn_get_tetra_shape_quality(p1->xyz, p2->xyz, q1->xyz, q2->xyz, nullptr), 1e-6);
  const int32_t flat_id = t[0]->id;
  ASSERT_TRUE(make(mgn_plan_split_flat(ctx_, t[0], plan_), plan_));
  // The flat tetra is gone (its record may hold one of the new tetras).
  EXPECT_NE(t[0]->id, flat_id);
  if (t[0]->id != 0) {
    EXPECT_GT(mgn_get_tetra_shape_quality(t[0]->n[0]->xyz, t[0]->n[1]->xyz, t[0]->n[2]->xyz, t[0]->n[3]->xyz, nullptr),
              0.2);
  }
  EXPECT_EQ(region_.mesh.tetra_count, 8);
  EXPECT_EQ(region_.mesh.node_count, 1);
  EXPECT_GT(plan_.after, 0.2);
  expect_sound(volume);

  restart();
  mgn_node* a = skin(0, 0, 0);
  mgn_node* b = skin(1, 0, 0);
  mgn_node* c = skin(1, 1e-9, 1);
  mgn_node* d = skin(0, 0, 1);
  std::vector<mgn_tetra*> alone = build({{a, b, d, c}});
  EXPECT_FALSE(mgn_plan_split_flat(ctx_, alone[0], plan_));
}

using RepairDeath = Repair;

TEST_F(RepairDeath, InsertionIntoNoTetraIsAnInconsistentCall) {
  const double p[3] = {0, 0, 0};
  EXPECT_EXIT(mgn_insert_node(ctx_, nullptr, 0, p), ::testing::ExitedWithCode(10), "Insufficient number of tetras");
}

// A tetra turned inside out whose opposite edges a-b and c-d cross, alone
// in its region: nothing can mend it, and it is reported with the cycles
// still to come.
TEST_F(Repair, InvertedSliverIsReported) {
  mgn_node* a = skin(0, 0, 0);
  mgn_node* b = skin(1, 0, 0);
  mgn_node* c = skin(0.5, -0.5, 0.01);
  mgn_node* d = skin(0.5, 0.5, -0.01);
  mgn_tetra_nodes n = {a, b, c, d};
  if (mgn_orient3d(a->xyz, b->xyz, c->xyz, d->xyz) > 0) std::swap(n[2], n[3]);
  std::vector<mgn_tetra*> t = build({n}, true);
  struct warning_case {
    int cycle;
    std::string text;
  };
  for (const warning_case& w : {warning_case{3, "Warning: Negative volume of tetra 1 (cycle 3)\n"},
                                warning_case{0, "Warning: Negative volume of tetra 1 (last cycle !!!)\n"}}) {
    mgn_start_repair(ctx_, &region_, w.cycle);
    const long warnings = mgn_warning_count;
    testing::internal::CaptureStderr();
    mgn_fix_region_tetra(ctx_, t[0]);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), w.text);
    EXPECT_EQ(mgn_warning_count, warnings + 1);
    EXPECT_EQ(ctx_.counters.warnings, 1);
    EXPECT_EQ(t[0]->id, 1);
  }
}

// A tetra turned inside out by a node through the opposite face, with no
// pair of crossing edges, is an inconsistency that ends the run.
TEST_F(RepairDeath, InvertedCapEndsTheRun) {
  mgn_node* a = skin(0, 0, 0);
  mgn_node* b = skin(1, 0, 0);
  mgn_node* c = skin(0, 1, 0);
  mgn_node* d = skin(0.25, 0.25, -0.3);
  std::vector<mgn_tetra*> t = build({{a, b, c, d}}, true);
  ASSERT_LT(mgn_get_tetra_volume(t[0]), 0.0);
  EXPECT_EXIT(mgn_fix_region_tetra(ctx_, t[0]), ::testing::ExitedWithCode(10), "Unexpected situation");
}

// A tetra with a node on the line of two others has a face of zero area,
// which no measure can take.
TEST_F(RepairDeath, ZeroAreaFaceEndsTheRun) {
  mgn_node* a = skin(0, 0, 0);
  mgn_node* b = skin(1, 0, 0);
  mgn_node* c = skin(0, 1, 0);
  mgn_node* d = skin(0.5, 0, 0);
  std::vector<mgn_tetra*> t = build({{a, b, c, d}}, true);
  EXPECT_EXIT(mgn_fix_region_tetra(ctx_, t[0]), ::testing::ExitedWithCode(10), "Zero area face detected");
}

// The point optimization: a point inside the octahedron |x| + |y| + |z|
// <= 1 but near a face climbs to where the worst of the eight tetras on the
// faces is nearly as good as at the centre (0.78); a point outside the
// star (some tetra inverted) is left where it is.
TEST(PointOptimization, RaisesTheWorstTetraOfTheStar) {
  mgn_tol = mgn_tolerances{};
  const double axis[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  std::vector<const double*> faces;
  for (int i : {0, 1})
    for (int j : {2, 3})
      for (int k : {4, 5}) {
        // Turned to look at the centre.
        const bool turn = (i == 0) == (j == 2) ? k == 4 : k == 5;
        faces.insert(faces.end(), {axis[i], turn ? axis[k] : axis[j], turn ? axis[j] : axis[k]});
      }
  double xyz[3] = {0.5, 0.2, 0.1};
  const double start = mgn_get_star_quality(faces.data(), 8, xyz);
  ASSERT_GT(start, 0.0);
  ASSERT_LT(start, 0.5);
  const double end = mgn_optimize_point(faces.data(), 8, xyz, 40);
  EXPECT_EQ(end, mgn_get_star_quality(faces.data(), 8, xyz));
  EXPECT_GT(end, 0.75);
  double outside[3] = {1.5, 0.0, 0.0};
  EXPECT_EQ(mgn_optimize_point(faces.data(), 8, outside, 40), 0.0);
  EXPECT_EQ(outside[0], 1.5);
}

// A region of good tetras goes through both passes unchanged.
TEST_F(Repair, GoodRegionIsLeftAlone) {
  mgn_node* centre = inner(0.0, 0.0, 0.0);
  mgn_node* axis[6] = {skin(1, 0, 0), skin(-1, 0, 0), skin(0, 1, 0), skin(0, -1, 0), skin(0, 0, 1), skin(0, 0, -1)};
  std::vector<mgn_tetra_nodes> star;
  for (int i : {0, 1})
    for (int j : {2, 3})
      for (int k : {4, 5}) star.push_back({centre, axis[i], axis[j], axis[k]});
  const std::vector<mgn_tetra*> before = build(star);
  mgn_repair_region_forward(&region_, 2);
  EXPECT_EQ(mgn_repair_count.bad, 0);
  mgn_repair_region_backward(&region_, 1);
  EXPECT_EQ(live_tetras(&region_), before);
  EXPECT_EQ(centre->xyz[0], 0.0);
  expect_sound(4.0 / 3.0);
}

// The passes compact the listings: after a removal the region's listings
// hold exactly its live records.
TEST_F(Repair, PassesCompactTheListings) {
  mgn_node* a = skin(0, 0, 0);
  mgn_node* b = skin(1, 0, 0);
  mgn_node* c = skin(0, 1, 0);
  mgn_node* d = skin(0, 0, 1);
  mgn_node* x = inner(0.25, 0.25, 0.02);
  build({{x, a, b, c}, {x, a, b, d}, {x, b, c, d}, {x, c, a, d}});
  mgn_repair_region_forward(&region_, 0);
  EXPECT_EQ(mgn_repair_count.done[MGN_REPAIR_NODE_REMOVAL], 1);
  EXPECT_EQ(region_.mesh.tetra_total, region_.mesh.tetra_count);
  EXPECT_EQ(region_.mesh.node_total, 0);
  EXPECT_EQ(region_.mesh.edge_total, 0);
  long refs = 0;
  for (mgn_tetra** ref : mgn_listing_range<mgn_tetra*>(mgn_get_first_listing_block(region_.mesh.tetras))) {
    EXPECT_NE((*ref)->id, 0);
    ++refs;
  }
  EXPECT_EQ(refs, 1);
  expect_sound(1.0 / 6.0);
}

// --- meshed bodies -----------------------------------------------------------

// What the passes of one run did: the checker's first complaint after a
// pass, the largest relative change of the volume by a pass, the volumes
// after each pass, the cycles seen, the transformations.
struct pass_log {
  std::string fault;
  double volume_change = 0.0;
  std::vector<double> volumes;
  std::vector<int> cycles;
  long done = 0;
} g_log;

void log_pass(mgn_region* region, int cycle, bool forward) {
  const double before = volume_of(region);
  if (forward) mgn_repair_region_forward(region, cycle);
  else mgn_repair_region_backward(region, cycle);
  const std::string fault = mgn_check_region_mesh(region);
  if (g_log.fault.empty() && !fault.empty()) g_log.fault = mgn_format("cycle %d: %s", cycle, fault.c_str());
  g_log.volumes.push_back(volume_of(region));
  g_log.volume_change = std::max(g_log.volume_change, std::fabs(g_log.volumes.back() - before) / before);
  g_log.cycles.push_back(forward ? cycle : -cycle);
  for (long d : mgn_repair_count.done) g_log.done += d;
}
void log_forward(mgn_region* region, int cycle) { log_pass(region, cycle, true); }
void log_backward(mgn_region* region, int cycle) { log_pass(region, cycle, false); }

struct mesh_quality {
  double mean = 0.0, min_dihedral = 180.0;
};

mesh_quality measure(const mgn_region* r) {
  mesh_quality q;
  long n = 0;
  mgn_for_own_records<mgn_tetra>(r->mesh.tetras, r->mesh.tetra_total, r->mesh.discretized, [&](const mgn_tetra* t) {
    double v = 0.0, angles[6], lo = 0.0, hi = 0.0;
    q.mean += mgn_get_tetra_boundary_quality(t, &v);
    mgn_get_tetra_angle_quality(t, angles, &lo, &hi);
    q.min_dihedral = std::min(q.min_dihedral, lo * 180.0 / MGN_PI);
    ++n;
  });
  q.mean /= static_cast<double>(n);
  return q;
}

// A body of tests/models meshed with a uniform size, the repair passes
// logged.
mgn_region* mesh_body(const std::string& file, double h) {
  mgn_reset_model_settings();
  mgn_set.uniform_size = mgn_set.default_size = h;
  g_log = pass_log{};
  mgn_smooth_hook = mgn_smooth_hooks{};
  mgn_smooth_hook.repair_forward = log_forward;
  mgn_smooth_hook.repair_backward = log_backward;
  mgn_read_model_text(mgn_read_file(std::string(MGN_TEST_MODELS) + "/" + file));
  mgn_build_octree();
  mgn_discretize_model();
  mgn_smooth_hook = mgn_smooth_hooks{};
  return static_cast<mgn_region*>(mgn_model.regions.list->object);
}

struct body_case {
  const char* file;
  double h;
  double volume;  // exact volume of a flat body, else 0
};

class RepairBodies : public ::testing::TestWithParam<body_case> {};

// The body through the front, the seven repair passes and the six sweeps:
// the checker is quiet after every pass, the volume stays that of the
// front, the passes mend tetras, and the quality reaches its floor.
TEST_P(RepairBodies, AreRepairedAndSmoothed) {
  const body_case& c = GetParam();
  mgn_region* r = mesh_body(c.file, c.h);
  EXPECT_EQ(g_log.fault, "");
  EXPECT_EQ(g_log.cycles, (std::vector<int>{6, -5, 4, -3, 2, -1, 0}));
  EXPECT_LT(g_log.volume_change, 1e-12);
  if (c.volume > 0.0) {
    for (double v : g_log.volumes) EXPECT_NEAR(v, c.volume, 1e-9 * c.volume);
  }
  EXPECT_GT(g_log.done, 0);
  const mesh_quality q = measure(r);
  EXPECT_GE(q.mean, 0.80);
  EXPECT_GE(q.min_dihedral, 10.0);
}

INSTANTIATE_TEST_SUITE_P(Bodies, RepairBodies,
                         ::testing::Values(body_case{"unit_cube.mgn", 0.25, 1.0}, body_case{"sphere.mgn", 0.3, 0.0},
                                           body_case{"torus.mgn", 0.3, 0.0}),
                         [](const auto& info) {
                           std::string name = info.param.file;
                           return name.substr(0, name.find('.'));
                         });

// With nodal smoothing off one forward pass runs, as the last cycle, and
// still mends the front's bad tetras.
TEST(RepairPasses, WithoutSmoothingOnePassRuns) {
  mgn_reset_model_settings();
  g_log = pass_log{};
  mgn_set.nodal_smoothing = false;
  mgn_set.uniform_size = mgn_set.default_size = 0.25;
  mgn_smooth_hook = mgn_smooth_hooks{};
  mgn_smooth_hook.repair_forward = log_forward;
  mgn_smooth_hook.repair_backward = log_backward;
  mgn_read_model_text(mgn_read_file(std::string(MGN_TEST_MODELS) + "/unit_cube.mgn"));
  mgn_build_octree();
  mgn_discretize_model();
  mgn_smooth_hook = mgn_smooth_hooks{};
  EXPECT_EQ(g_log.cycles, (std::vector<int>{0}));
  EXPECT_EQ(g_log.fault, "");
  EXPECT_GT(g_log.done, 0);
  EXPECT_NEAR(g_log.volumes.at(0), 1.0, 1e-9);
}

}  // namespace
