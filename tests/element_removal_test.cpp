// Removal of an inner node of three or four triangles: the check decides
// on fans that are closure artifacts and refuses the ones that are not
// removable; the change leaves a consistent mesh (edge lists of the nodes,
// faces of the edges, turning order of the triangles) and retires the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "element.h"
#include "list.h"

namespace {

class NodeRemovalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mgn_reset_mesh_store();
    mgn_create_mesh_store(4);
    mgn_tol = mgn_tolerances{};
  }
  void TearDown() override {
    for (mgn_listing* l : {surface_.mesh.nodes, surface_.mesh.edges, surface_.mesh.faces})
      if (l != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(l));
    mgn_reset_mesh_store();
  }
  mgn_node* node(double x, double y, int kind = MGN_SURFACE) {
    const double xyz[3] = {x, y, 0.0};
    const double uv[2] = {x, y};
    return mgn_create_node(xyz, uv, kind, &surface_, &surface_.mesh.nodes);
  }
  mgn_edge* edge(mgn_node* a, mgn_node* b) {
    return mgn_create_edge(a, b, MGN_SURFACE, &surface_, &surface_.mesh.edges);
  }
  // A fan around the centre over the ring (counterclockwise): the spokes,
  // the ring's edges and the triangles (centre, ring[k], ring[k + 1]).
  mgn_node* fan(mgn_node* centre, const std::vector<mgn_node*>& ring) {
    const std::size_t n = ring.size();
    for (mgn_node* r : ring) edge(centre, r);
    for (std::size_t k = 0; k < n; ++k) edge(ring[k], ring[(k + 1) % n]);
    for (std::size_t k = 0; k < n; ++k) {
      mgn_face* f = mgn_create_face(centre, ring[k], ring[(k + 1) % n], MGN_SURFACE, &surface_, &surface_.mesh.faces,
                                    nullptr, false);
      for (int i = 0; i < 3; ++i) mgn_add_edge_face(mgn_get_node_edge(f->n[i], f->n[(i + 1) % 3]), f);
      faces_.push_back(f);
    }
    return centre;
  }
  // The outer triangles on the ring's edges (apex outside), so that every
  // edge of the fan lies between two triangles.
  void close_ring(const std::vector<mgn_node*>& ring, const std::vector<mgn_node*>& apexes) {
    const std::size_t n = ring.size();
    for (std::size_t k = 0; k < n; ++k) {
      mgn_node* a = ring[(k + 1) % n];
      mgn_node* b = ring[k];
      mgn_node* c = apexes[k];
      if (mgn_get_node_edge(a, c) == nullptr) edge(a, c);
      if (mgn_get_node_edge(c, b) == nullptr) edge(c, b);
      mgn_face* f = mgn_create_face(a, b, c, MGN_SURFACE, &surface_, &surface_.mesh.faces, nullptr, false);
      for (int i = 0; i < 3; ++i) mgn_add_edge_face(mgn_get_node_edge(f->n[i], f->n[(i + 1) % 3]), f);
    }
  }
  std::vector<mgn_face*> live_faces() const {
    std::vector<mgn_face*> out;
    for (mgn_face* f : faces_)
      if (f->id != 0) out.push_back(f);
    return out;
  }
  static bool turns_counterclockwise(const mgn_face* f) {
    const double* a = f->n[0]->xyz;
    const double* b = f->n[1]->xyz;
    const double* c = f->n[2]->xyz;
    return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]) > 0.0;
  }
  // Every live edge at the node carries exactly the live faces that use it.
  static void expect_consistent(const mgn_node* node) {
    for (mgn_edge* e : mgn_node_edges(node)) {
      ASSERT_NE(e->id, 0);
      for (mgn_face* f : mgn_edge_faces(e)) {
        EXPECT_NE(f->id, 0);
        const bool has_both = std::count(f->n, f->n + 3, e->n[0]) == 1 && std::count(f->n, f->n + 3, e->n[1]) == 1;
        EXPECT_TRUE(has_both);
      }
    }
  }
  mgn_surface surface_;
  std::vector<mgn_face*> faces_;
};

// The closure artifact: a node in the middle of a strip between two rows,
// nearer to the upper row, whose fan of four has two flat triangles.
TEST_F(NodeRemovalTest, FourFanInAStripBecomesTwoTrianglesOnTheBetterDiagonal) {
  mgn_node* r0 = node(0.0, 0.0);
  mgn_node* r1 = node(1.2, 0.0);
  mgn_node* r2 = node(1.1, 0.9);
  mgn_node* r3 = node(0.1, 0.9);
  mgn_node* x = fan(node(0.6, 0.65), {r0, r1, r2, r3});
  close_ring({r0, r1, r2, r3}, {node(0.6, -1.0), node(2.2, 0.45), node(0.6, 1.9), node(-1.0, 0.45)});
  mgn_node_removal plan;
  ASSERT_TRUE(mgn_check_node_removal(x, &plan));
  EXPECT_EQ(plan.count, 4);
  EXPECT_GT(plan.after, plan.before);
  const long faces_before = surface_.mesh.face_count, edges_before = surface_.mesh.edge_count;
  mgn_apply_node_removal(plan);
  EXPECT_EQ(x->id, 0);
  EXPECT_EQ(surface_.mesh.face_count, faces_before - 2);
  EXPECT_EQ(surface_.mesh.edge_count, edges_before - 3);
  const std::vector<mgn_face*> left = live_faces();
  ASSERT_EQ(left.size(), 2u);
  for (const mgn_face* f : left) {
    EXPECT_TRUE(turns_counterclockwise(f));
    EXPECT_EQ(std::count(f->n, f->n + 3, x), 0);
  }
  // One diagonal, carrying both triangles; the ring nodes keep their lists
  // whole.
  const bool diagonal02 = mgn_get_node_edge(r0, r2) != nullptr;
  const bool diagonal13 = mgn_get_node_edge(r1, r3) != nullptr;
  EXPECT_NE(diagonal02, diagonal13);
  mgn_edge* d = diagonal02 ? mgn_get_node_edge(r0, r2) : mgn_get_node_edge(r1, r3);
  long on_diagonal = 0;
  for (mgn_face* f : mgn_edge_faces(d)) on_diagonal += f->id != 0;
  EXPECT_EQ(on_diagonal, 2);
  for (mgn_node* r : {r0, r1, r2, r3}) {
    EXPECT_EQ(mgn_get_node_edge(r, x), nullptr);
    expect_consistent(r);
  }
}

TEST_F(NodeRemovalTest, ThreeFanBecomesOneTriangle) {
  mgn_node* r0 = node(0.0, 0.0);
  mgn_node* r1 = node(1.0, 0.0);
  mgn_node* r2 = node(0.5, 0.9);
  mgn_node* x = fan(node(0.5, 0.3), {r0, r1, r2});
  close_ring({r0, r1, r2}, {node(0.5, -0.9), node(1.3, 0.8), node(-0.3, 0.8)});
  mgn_node_removal plan;
  ASSERT_TRUE(mgn_check_node_removal(x, &plan));
  mgn_apply_node_removal(plan);
  const std::vector<mgn_face*> left = live_faces();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(turns_counterclockwise(left[0]));
  for (mgn_node* r : {r0, r1, r2}) {
    EXPECT_EQ(r->edge_count, 4);  // two ring edges and two to the outer apexes
    expect_consistent(r);
  }
}

// Fans that stay: the node is not an inner node of the entity (a curve
// node); a node with five edges; an arrow-shaped quad whose only valid
// diagonal is an edge already; a fan left open (a spoke with one
// triangle).
TEST_F(NodeRemovalTest, FansThatAreNotRemovable) {
  {
    mgn_node* x = fan(node(0.5, 0.5, MGN_CURVE), {node(0, 0), node(1, 0), node(1, 1), node(0, 1)});
    mgn_node_removal plan;
    EXPECT_FALSE(mgn_check_node_removal(x, &plan));
  }
  {
    mgn_node* x = fan(node(10.5, 0.5), {node(10, 0), node(11, 0), node(11.2, 0.6), node(10.6, 1.2), node(9.9, 0.7)});
    mgn_node_removal plan;
    EXPECT_FALSE(mgn_check_node_removal(x, &plan));
  }
  {
    // An arrow-shaped quad: r3 lies inside triangle (r0, r1, r2), so the
    // diagonal r0-r2 would turn a triangle over, and r1-r3 is an edge
    // already (of something else lying there).
    std::vector<mgn_node*> ring = {node(20, 0), node(22, 0), node(21, 2), node(20.8, 0.6)};
    mgn_node* x = fan(node(21, 0.3), ring);
    close_ring(ring, {node(21, -1), node(22.5, 1.5), node(20.5, 1.5), node(20.2, 0.6)});
    mgn_node_removal plan;
    EXPECT_TRUE(mgn_check_node_removal(x, &plan)) << "the diagonal from the reflex corner serves";
    EXPECT_EQ(plan.diagonal, 1);
    edge(ring[1], ring[3]);
    EXPECT_FALSE(mgn_check_node_removal(x, &plan));
  }
  {
    mgn_node* x = fan(node(30.5, 0.4), {node(30, 0), node(31, 0), node(31, 1), node(30, 1)});
    mgn_node_removal plan;
    EXPECT_TRUE(mgn_check_node_removal(x, &plan)) << "a closed fan is removable";
    mgn_face* one = faces_.back();
    mgn_remove_edge_face(mgn_get_node_edge(one->n[0], one->n[1]), one);
    mgn_retire_face(one);
    EXPECT_FALSE(mgn_check_node_removal(x, &plan));
  }
}

}  // namespace
