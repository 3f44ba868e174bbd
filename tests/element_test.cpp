// Mesh store: record creation and counters, retirement, partner links,
// midside nodes, edge lookups, the tetra measures and the noting of records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "element.h"
#include "list.h"
#include "message.h"
#include "octree.h"

namespace {

class MeshStore : public ::testing::Test {
 protected:
  void SetUp() override {
    mgn_reset_mesh_store();
    mgn_create_mesh_store(4);
    mgn_tol = mgn_tolerances{};
  }
  void TearDown() override {
    for (mgn_listing* listing : owned_) mgn_destroy_listing(mgn_get_first_listing_block(listing));
    mgn_reset_mesh_store();
  }
  mgn_node* node(double x, double y, double z, int kind = MGN_REGION, void* entity = nullptr,
                 mgn_listing** listing = nullptr) {
    const double xyz[3] = {x, y, z};
    return mgn_create_node(xyz, nullptr, kind, entity, listing);
  }
  // Entity listings that stay outside the global listings are released here.
  void own(mgn_listing* listing) { owned_.push_back(listing); }
  std::vector<mgn_listing*> owned_;
};

std::vector<mgn_edge*> edges_of(const mgn_node* node) {
  std::vector<mgn_edge*> edges;
  for (mgn_edge* e : mgn_node_edges(node)) edges.push_back(e);
  return edges;
}

std::vector<mgn_face*> faces_of(const mgn_edge* edge) {
  std::vector<mgn_face*> faces;
  for (mgn_face* f : mgn_edge_faces(edge)) faces.push_back(f);
  return faces;
}

mgn_tetra make_tetra(mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d, int id = 1) {
  mgn_tetra t{};
  t.id = id;
  t.n[0] = a;
  t.n[1] = b;
  t.n[2] = c;
  t.n[3] = d;
  return t;
}

TEST_F(MeshStore, NodesAreNumberedFromOneAndCountedOnTheirEntity) {
  mgn_curve curve;
  curve.id = 7;
  const double xyz[3] = {1.0, 2.0, 3.0};
  const double t = 0.25;
  mgn_node* a = mgn_create_node(xyz, &t, MGN_CURVE, &curve, &curve.mesh.nodes);
  mgn_node* b = mgn_create_node(xyz, &t, MGN_CURVE, &curve, &curve.mesh.nodes);
  own(curve.mesh.nodes);
  EXPECT_EQ(a->id, 1);
  EXPECT_EQ(b->id, 2);
  EXPECT_EQ(a->kind, MGN_CURVE);
  EXPECT_EQ(a->entity, &curve);
  EXPECT_NE(a->xyz, xyz);  // copied into the coordinate pool
  EXPECT_DOUBLE_EQ(a->xyz[2], 3.0);
  ASSERT_NE(a->parameters, nullptr);
  EXPECT_DOUBLE_EQ(a->parameters[0], 0.25);
  EXPECT_EQ(mgn_node_first_edge(a), nullptr);
  EXPECT_EQ(a->edge_count, 0);
  EXPECT_EQ(a->front_count, 0);
  EXPECT_EQ(curve.mesh.node_count, 2);
  EXPECT_EQ(curve.mesh.node_total, 2);
  EXPECT_EQ(mgn_run.nodes.total, 2);
  // The entity listing holds references to both nodes in creation order.
  EXPECT_EQ(mgn_count_listing_items(mgn_get_first_listing_block(curve.mesh.nodes)), 2);
  EXPECT_EQ(*static_cast<mgn_node**>(mgn_get_nth_listing_item(mgn_get_first_listing_block(curve.mesh.nodes), 2)), b);
  // A vertex or region node uses its coordinates as parameters; a node
  // without listing (slave vertex node) counts nowhere on the entity.
  mgn_vertex vertex;
  mgn_node* v = mgn_create_node(xyz, nullptr, MGN_VERTEX, &vertex, nullptr);
  EXPECT_EQ(v->parameters, v->xyz);
  EXPECT_EQ(vertex.mesh.node_count, 0);
  EXPECT_EQ(v->id, 3);
}

TEST_F(MeshStore, SurfaceNodesKeepBothParameters) {
  mgn_surface surface;
  const double xyz[3] = {0, 0, 0};
  const double uv[2] = {0.125, 0.875};
  mgn_node* a = mgn_create_node(xyz, uv, MGN_SURFACE, &surface, &surface.mesh.nodes);
  own(surface.mesh.nodes);
  EXPECT_DOUBLE_EQ(a->parameters[0], 0.125);
  EXPECT_DOUBLE_EQ(a->parameters[1], 0.875);
}

TEST_F(MeshStore, EdgesJoinTheEdgeListsAndRetiringRemovesThem) {
  mgn_curve curve;
  mgn_node* a = node(0, 0, 0);
  mgn_node* b = node(1, 0, 0);
  mgn_node* c = node(2, 0, 0);
  mgn_edge* ab = mgn_create_edge(a, b, MGN_CURVE, &curve, &curve.mesh.edges);
  mgn_edge* bc = mgn_create_edge(b, c, MGN_CURVE, &curve, &curve.mesh.edges);
  own(curve.mesh.edges);
  EXPECT_EQ(ab->id, 1);
  EXPECT_EQ(bc->id, 2);
  EXPECT_EQ(b->edge_count, 2);
  EXPECT_EQ(edges_of(b), (std::vector<mgn_edge*>{bc, ab}));
  EXPECT_EQ(mgn_get_node_edge(a, b), ab);
  EXPECT_EQ(mgn_get_node_edge(c, b), bc);
  EXPECT_EQ(mgn_get_node_edge(a, c), nullptr);
  EXPECT_EQ(curve.mesh.edge_count, 2);

  mgn_retire_edge(ab);
  EXPECT_EQ(ab->id, 0);
  EXPECT_EQ(a->edge_count, 0);
  EXPECT_EQ(mgn_node_first_edge(a), nullptr);
  EXPECT_EQ(b->edge_count, 1);
  EXPECT_EQ(edges_of(b), std::vector<mgn_edge*>{bc});
  EXPECT_EQ(mgn_get_node_edge(a, b), nullptr);
  EXPECT_EQ(curve.mesh.edge_count, 1);
  EXPECT_EQ(curve.mesh.edge_total, 2);
  // Retiring twice changes nothing.
  mgn_retire_edge(ab);
  EXPECT_EQ(b->edge_count, 1);
  EXPECT_EQ(curve.mesh.edge_count, 1);
}

// The edge list of a node runs through the edges: taking an edge out of the
// middle, from the head or from the tail of one node's list must leave the
// lists of the other nodes whole.
TEST_F(MeshStore, EdgeListsOfAStarStayWholeWhateverEdgeLeaves) {
  mgn_curve curve;
  mgn_node* hub = node(0, 0, 0);
  std::vector<mgn_node*> rim;
  std::vector<mgn_edge*> spokes;
  for (int i = 0; i < 5; ++i) {
    rim.push_back(node(std::cos(i), std::sin(i), 0));
    // Alternate directions, so the hub is end 0 of some edges and end 1 of others.
    spokes.push_back(i % 2 == 0 ? mgn_create_edge(hub, rim[i], MGN_CURVE, &curve, nullptr)
                                : mgn_create_edge(rim[i], hub, MGN_CURVE, &curve, nullptr));
  }
  // Rim edges chain the rim nodes too.
  std::vector<mgn_edge*> ring;
  for (int i = 0; i < 5; ++i) ring.push_back(mgn_create_edge(rim[i], rim[(i + 1) % 5], MGN_CURVE, &curve, nullptr));
  EXPECT_EQ(edges_of(hub), (std::vector<mgn_edge*>{spokes[4], spokes[3], spokes[2], spokes[1], spokes[0]}));
  EXPECT_EQ(edges_of(rim[2]), (std::vector<mgn_edge*>{ring[2], ring[1], spokes[2]}));
  std::vector<bool> gone(5, false);
  for (int leave : {2, 4, 0}) {  // middle, head, tail of the hub's list
    mgn_retire_edge(spokes[leave]);
    gone[leave] = true;
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(rim[i]->edge_count, gone[i] ? 2 : 3) << "rim node " << i << " after edge " << leave;
      EXPECT_EQ(static_cast<long>(edges_of(rim[i]).size()), rim[i]->edge_count);
    }
  }
  EXPECT_EQ(edges_of(hub), (std::vector<mgn_edge*>{spokes[3], spokes[1]}));
  EXPECT_EQ(hub->edge_count, 2);
  EXPECT_EQ(mgn_get_node_edge(rim[1], hub), spokes[1]);
  EXPECT_EQ(mgn_get_node_edge(hub, rim[0]), nullptr);
  // Retiring an edge that already left changes nothing.
  mgn_retire_edge(spokes[2]);
  EXPECT_EQ(hub->edge_count, 2);
}

// Edge lists link edges by their numbers in the edge pool.  With more edges
// than one pool block holds, an end moved to another node or an edge renewed
// between other nodes must carry its own number along (a wrong one would
// graft another edge, or a whole list tail, into the new node's list).
TEST_F(MeshStore, MovedAndRenewedEdgesKeepEveryEdgeListWhole) {
  mgn_region region;
  const int count = static_cast<int>(MGN_NUMBERED_BLOCK) + 300;
  mgn_node* hub = node(0, 0, 0);
  mgn_node* other_hub = node(0, 0, 1);
  std::vector<mgn_node*> rim;
  std::vector<mgn_edge*> spokes;
  for (int i = 0; i < count; ++i) {
    rim.push_back(node(std::cos(i), std::sin(i), 0));
    spokes.push_back(i % 2 == 0 ? mgn_create_edge(hub, rim[i], MGN_REGION, &region, nullptr)
                                : mgn_create_edge(rim[i], hub, MGN_REGION, &region, nullptr));
  }
  // Every third spoke moves its hub end to the other hub; every fifth of the
  // rest is renewed between the other hub and a rim node of its own, and one
  // spoke in seven of those left leaves.
  std::vector<std::vector<mgn_edge*>> expected(2);  // at hub, at other_hub
  for (int i = 0; i < count; ++i) {
    mgn_edge* e = spokes[i];
    if (i % 3 == 0) {
      mgn_move_edge_end(e, e->n[0] == hub ? 0 : 1, other_hub);
      expected[1].push_back(e);
    } else if (i % 5 == 0) {
      ASSERT_TRUE(mgn_can_renew_edge(e));
      EXPECT_EQ(mgn_renew_edge(e, rim[i], other_hub), e);
      expected[1].push_back(e);
    } else if (i % 7 == 0) {
      mgn_retire_edge(e);
    } else {
      expected[0].push_back(e);
    }
  }
  for (int h = 0; h < 2; ++h) {
    mgn_node* at = h == 0 ? hub : other_hub;
    std::vector<mgn_edge*> found = edges_of(at);
    EXPECT_EQ(static_cast<long>(found.size()), at->edge_count) << "hub " << h;
    std::sort(found.begin(), found.end());
    std::sort(expected[h].begin(), expected[h].end());
    EXPECT_EQ(found, expected[h]) << "hub " << h;
  }
  // Each rim node keeps its one spoke (none once it left).
  for (int i = 0; i < count; ++i) {
    const bool left = i % 3 != 0 && i % 5 != 0 && i % 7 == 0;
    EXPECT_EQ(edges_of(rim[i]), left ? std::vector<mgn_edge*>{} : std::vector<mgn_edge*>{spokes[i]}) << i;
    if (!left) {
      EXPECT_EQ(mgn_get_node_edge(rim[i], i % 3 == 0 || i % 5 == 0 ? other_hub : hub), spokes[i]) << i;
    }
  }
}

// An edge keeps its first two faces in place and further ones aside; the
// faces come back in slot order, then the further ones, whatever leaves.
TEST_F(MeshStore, EdgeFacesBeyondTwoAreKeptAndMoveUpWhenOneLeaves) {
  mgn_node* a = node(0, 0, 0);
  mgn_node* b = node(1, 0, 0);
  mgn_edge* e = mgn_create_edge(a, b, MGN_CURVE, nullptr, nullptr);
  std::vector<mgn_face*> f;
  for (int i = 0; i < 4; ++i) f.push_back(mgn_create_face(a, b, node(0.5, 1, i), MGN_SURFACE, nullptr, nullptr, nullptr, false));
  for (mgn_face* face : f) mgn_add_edge_face(e, face);
  mgn_add_edge_face(e, f[1]);  // once only
  EXPECT_EQ(faces_of(e), (std::vector<mgn_face*>{f[0], f[1], f[3], f[2]}));
  EXPECT_TRUE(mgn_edge_has_face(e, f[2]));
  EXPECT_TRUE(mgn_remove_edge_face(e, f[0]));
  EXPECT_EQ(faces_of(e), (std::vector<mgn_face*>{f[3], f[1], f[2]}));
  EXPECT_FALSE(mgn_remove_edge_face(e, f[0]));
  mgn_replace_edge_face(e, f[2], f[0]);
  EXPECT_EQ(faces_of(e), (std::vector<mgn_face*>{f[3], f[1], f[0]}));
  EXPECT_TRUE(mgn_remove_edge_face(e, f[0]));
  EXPECT_TRUE(mgn_remove_edge_face(e, f[3]));
  EXPECT_EQ(faces_of(e), std::vector<mgn_face*>{f[1]});
  EXPECT_FALSE(mgn_edge_has_quads(e));
}

TEST_F(MeshStore, QuadDiagonalsArePartnersWhileTheQuadLives) {
  mgn_mesh.keep_partners = true;
  mgn_surface surface;
  mgn_node* n[4] = {node(0, 0, 0), node(1, 0, 0), node(1, 1, 0), node(0, 1, 0)};
  mgn_quad* q = mgn_create_quad(n[0], n[1], n[2], n[3], MGN_SURFACE, &surface, &surface.mesh.quads, false);
  own(surface.mesh.quads);
  EXPECT_EQ(q->id, 1);
  EXPECT_NE(mgn_find_item(mgn_node_partners(n[0]), n[2]), nullptr);
  EXPECT_NE(mgn_find_item(mgn_node_partners(n[2]), n[0]), nullptr);
  EXPECT_NE(mgn_find_item(mgn_node_partners(n[1]), n[3]), nullptr);
  EXPECT_EQ(mgn_find_item(mgn_node_partners(n[0]), n[1]), nullptr);
  // Linking again adds no second cell.
  mgn_link_partner_nodes(n[0], n[2]);
  EXPECT_EQ(mgn_count_items(mgn_node_partners(n[0])), 1);
  mgn_retire_quad(q);
  EXPECT_EQ(q->id, 0);
  for (mgn_node* m : n) EXPECT_EQ(mgn_node_partners(m), nullptr);
  EXPECT_TRUE(mgn_mesh.partners.empty());  // no entries left for nodes without partners
  EXPECT_EQ(surface.mesh.quad_count, 0);
  EXPECT_EQ(surface.mesh.quad_total, 1);
}

TEST_F(MeshStore, VolumeElementsKeepNodeOrderAndCountPerKind) {
  mgn_node* n[8];
  for (int i = 0; i < 8; ++i) n[i] = node(i & 1, (i >> 1) & 1, (i >> 2) & 1);
  mgn_tetra* t = mgn_create_tetra(n[0], n[1], n[2], n[4], nullptr, nullptr);
  mgn_pyram* p = mgn_create_pyram(n, nullptr, nullptr);
  mgn_wedge* w = mgn_create_wedge(n, MGN_REGION, nullptr, nullptr);
  mgn_hexa* h = mgn_create_hexa(n, MGN_REGION, nullptr, nullptr);
  mgn_tetra* t2 = mgn_create_tetra(n[0], n[1], n[2], n[4], nullptr, nullptr);
  EXPECT_EQ(t->id, 1);
  EXPECT_EQ(t2->id, 2);  // identifiers run per kind
  EXPECT_EQ(p->id, 1);
  EXPECT_EQ(w->id, 1);
  EXPECT_EQ(h->id, 1);
  EXPECT_EQ(t->n[3], n[4]);
  EXPECT_EQ(p->n[4], n[4]);
  EXPECT_EQ(w->n[5], n[5]);
  EXPECT_EQ(h->n[7], n[7]);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(t->ngb[k], nullptr);
    EXPECT_EQ(t->ngb_type[k], 0);
  }
  EXPECT_EQ(mgn_run.tetras.total, 2);
  EXPECT_EQ(mgn_run.hexas.total, 1);
}

TEST_F(MeshStore, FacesOfARegionAlwaysHaveSides) {
  mgn_node* a = node(0, 0, 0);
  mgn_node* b = node(1, 0, 0);
  mgn_node* c = node(0, 1, 0);
  mgn_face* f1 = mgn_create_face(a, b, c, MGN_REGION, nullptr, nullptr, nullptr, false);
  mgn_surface surface;
  mgn_face* f2 = mgn_create_face(a, b, c, MGN_SURFACE, &surface, &surface.mesh.faces, nullptr, false);
  mgn_face* f3 = mgn_create_face(a, b, c, MGN_SURFACE, &surface, &surface.mesh.faces, nullptr, true);
  own(surface.mesh.faces);
  EXPECT_TRUE(f1->has_sides);
  EXPECT_FALSE(f2->has_sides);
  EXPECT_TRUE(f3->has_sides);
  ASSERT_NE(mgn_find_element_extra(f3), nullptr);
  EXPECT_EQ(mgn_find_element_extra(f3)->side[0], nullptr);
  EXPECT_EQ(mgn_find_element_extra(f2), nullptr);
  EXPECT_EQ(f3->id, 3);
  EXPECT_EQ(surface.mesh.face_count, 2);
  // A face taken from a scratch pool is numbered in the same sequence.
  mgn_listing* scratch = nullptr;
  mgn_face* f4 = mgn_create_face(a, b, c, MGN_SURFACE, &surface, nullptr, &scratch, false);
  EXPECT_EQ(f4->id, 4);
  EXPECT_EQ(mgn_count_listing_items(scratch), 1);
  mgn_destroy_listing(scratch);
}

TEST_F(MeshStore, MidsideNodeSitsAtTheStraightMidpoint) {
  mgn_curve curve;
  mgn_node* a = node(0, 0, 0);
  mgn_node* b = node(2, 4, -6);
  mgn_edge* e = mgn_create_edge(a, b, MGN_CURVE, &curve, nullptr);
  mgn_node* m = mgn_create_midnode(e);
  EXPECT_EQ(m->id, 3);
  EXPECT_EQ(mgn_edge_mid(e), m);
  EXPECT_DOUBLE_EQ(m->xyz[0], 1.0);
  EXPECT_DOUBLE_EQ(m->xyz[1], 2.0);
  EXPECT_DOUBLE_EQ(m->xyz[2], -3.0);
  EXPECT_EQ(m->parameters, nullptr);
  EXPECT_EQ(m->size, 0.0f);
  EXPECT_EQ(m->kind, MGN_CURVE);
  EXPECT_EQ(m->entity, &curve);
  EXPECT_EQ(m->edge_count, 1);
  EXPECT_EQ(edges_of(m), std::vector<mgn_edge*>{e});
  EXPECT_EQ(mgn_mesh.midnode_count, 1);
  EXPECT_EQ(mgn_count_listing_items(mgn_get_first_listing_block(mgn_mesh.midnodes)), 1);
  // The end nodes do not see the midside node as an edge end.
  EXPECT_EQ(a->edge_count, 1);
}

TEST_F(MeshStore, MidsideNodeOnInterfaceEdgeIsFatal) {
  mgn_node* a = node(0, 0, 0);
  mgn_node* b = node(1, 0, 0);
  mgn_edge* e = mgn_create_edge(a, b, MGN_INTERFACE, nullptr, nullptr);
  EXPECT_EXIT(mgn_create_midnode(e), ::testing::ExitedWithCode(10), "Invalid entity type encountered");
}

TEST_F(MeshStore, ElementEdgesFollowTheLocalNumbering) {
  mgn_node* n[4] = {node(0, 0, 0), node(1, 0, 0), node(0, 1, 0), node(0, 0, 1)};
  std::vector<mgn_edge*> edges;
  for (auto& pair : mgn_tetra_edge_nodes)
    edges.push_back(mgn_create_edge(n[pair[0]], n[pair[1]], MGN_REGION, nullptr, nullptr));
  mgn_tetra* t = mgn_create_tetra(n[0], n[1], n[2], n[3], nullptr, nullptr);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(mgn_get_tetra_edge(t, i), edges[i]) << i;
  mgn_face* f = mgn_create_face(n[1], n[2], n[3], MGN_REGION, nullptr, nullptr, nullptr, false);
  EXPECT_EQ(mgn_get_face_edge(f, 0), edges[1]);  // 1-2
  EXPECT_EQ(mgn_get_face_edge(f, 1), edges[5]);  // 2-3
  EXPECT_EQ(mgn_get_face_edge(f, 2), edges[4]);  // 3-1
  mgn_retire_edge(edges[4]);
  EXPECT_EXIT(mgn_get_face_edge(f, 2), ::testing::ExitedWithCode(10), "Edge of element not found");
}

TEST_F(MeshStore, MovedNodeChangesLeafAndTakesTheSizeThere) {
  const double lo[3] = {0, 0, 0}, hi[3] = {1, 1, 1};
  mgn_create_root_octant(lo, hi);
  ASSERT_EQ(mgn_divide_terminal_octant(mgn_tree.root), 1);
  // Finer sizes in the upper corner: the size there is smaller.
  const double corner[3] = {0.9, 0.9, 0.9};
  mgn_refine_octree_at_point(corner, 0.05, 0.0, false);
  mgn_surface surface;
  const double uv[2] = {0.5, 0.5};
  const double start[3] = {0.2, 0.2, 0.2};
  mgn_node* a = mgn_create_node(start, uv, MGN_SURFACE, &surface, &surface.mesh.nodes);
  own(surface.mesh.nodes);
  mgn_octant* first = a->octant;
  ASSERT_NE(first, nullptr);
  EXPECT_NE(mgn_find_item(first->nodes, a), nullptr);
  EXPECT_EQ(first->state, MGN_OCTANT_NODES);
  const float coarse = a->size;
  EXPECT_GT(coarse, 0.0f);
  const double there[3] = {0.9, 0.9, 0.9};
  mgn_move_node(a, there);
  EXPECT_DOUBLE_EQ(a->xyz[0], 0.9);
  EXPECT_NE(a->octant, first);
  EXPECT_NE(mgn_find_item(a->octant->nodes, a), nullptr);
  EXPECT_EQ(mgn_find_item(first->nodes, a), nullptr);
  EXPECT_EQ(first->state, MGN_OCTANT_EMPTY);
  EXPECT_LT(a->size, coarse);
  EXPECT_FLOAT_EQ(a->size, float(mgn_get_octree_mesh_size(nullptr, there, false)));
  mgn_tree.root = nullptr;  // later tests run without an octree
}

// ---------------------------------------------------------------------------
// Measures
// ---------------------------------------------------------------------------

struct measure_case {
  const char* name;
  double p[4][3];
  double boundary;     // expected boundary quality
  double volume;       // expected signed volume
  double angle;        // expected angle quality
};

TEST_F(MeshStore, TetraMeasures) {
  const double s3 = std::sqrt(3.0), s6 = std::sqrt(6.0);
  const measure_case cases[] = {
      // Regular tetra of edge 2: both measures 1, V = 8 / (6 sqrt 2).
      {"regular", {{0, 0, 0}, {2, 0, 0}, {1, s3, 0}, {1, s3 / 3, 2 * s6 / 3}}, 1.0,
       8.0 / (6.0 * std::sqrt(2.0)), 1.0},
      // The same scaled by 1000: the measures do not depend on the size.
      {"regular scaled", {{0, 0, 0}, {2000, 0, 0}, {1000, 1000 * s3, 0}, {1000, 1000 * s3 / 3, 2000 * s6 / 3}},
       1.0, 8e9 / (6.0 * std::sqrt(2.0)), 1.0},
      // Corner tetra: V = 1/6, S = 3/2 + sqrt(3)/2; dihedral angles 90 and
      // acos(1/sqrt 3).
      {"corner", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
       374.1229744 / 36.0 / std::pow(1.5 + s3 / 2.0, 3), 1.0 / 6.0, std::acos(1.0 / s3) / (M_PI / 2)},
      // Flat: the apex lies in the base plane; dihedral angles 0 and pi.
      {"flat", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, 0.0, 0.0, 0.0},
      // Inverted corner tetra: no boundary quality, negative volume; the
      // dihedral angles are those of its mirror image.
      {"inverted", {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}}, 0.0, -1.0 / 6.0,
       std::acos(1.0 / s3) / (M_PI / 2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    mgn_node* n[4];
    for (int i = 0; i < 4; ++i) n[i] = node(c.p[i][0], c.p[i][1], c.p[i][2]);
    mgn_tetra t = make_tetra(n[0], n[1], n[2], n[3]);
    double volume = -99.0;
    EXPECT_NEAR(mgn_get_tetra_boundary_quality(&t, &volume), c.boundary, 1e-8);
    EXPECT_NEAR(volume, c.volume, 1e-9 * std::max(1.0, std::fabs(c.volume)));
    double angles[6], lo = -1, hi = -1;
    EXPECT_NEAR(mgn_get_tetra_angle_quality(&t, angles, &lo, &hi), c.angle, 1e-8);
    if (c.angle > 0) {
      EXPECT_NEAR(lo / hi, c.angle, 1e-12);
      for (double a : angles) {
        EXPECT_GE(a, lo);
        EXPECT_LE(a, hi);
      }
    }
  }
}

TEST_F(MeshStore, RegularTetraHasAllDihedralAnglesEqual) {
  const double s3 = std::sqrt(3.0), s6 = std::sqrt(6.0);
  mgn_tetra t = make_tetra(node(0, 0, 0), node(2, 0, 0), node(1, s3, 0), node(1, s3 / 3, 2 * s6 / 3));
  double angles[6], lo, hi;
  mgn_get_tetra_angle_quality(&t, angles, &lo, &hi);
  for (double a : angles) EXPECT_NEAR(a, std::acos(1.0 / 3.0), 1e-12);
}

TEST_F(MeshStore, CornerTetraRightAnglesAreOnTheAxisEdges) {
  mgn_tetra t = make_tetra(node(0, 0, 0), node(1, 0, 0), node(0, 1, 0), node(0, 0, 1));
  double angles[6], lo, hi;
  mgn_get_tetra_angle_quality(&t, angles, &lo, &hi);
  // Edges 0-1, 2-0 and 0-3 lie on the axes.
  for (int e : {0, 2, 3}) EXPECT_NEAR(angles[e], M_PI / 2, 1e-12) << e;
  for (int e : {1, 4, 5}) EXPECT_NEAR(angles[e], std::acos(1.0 / std::sqrt(3.0)), 1e-12) << e;
}

TEST_F(MeshStore, ZeroAreaBaseIsFatalUnlessTemporary) {
  // Collinear base nodes.
  mgn_node* n[4] = {node(0, 0, 0), node(1, 0, 0), node(2, 0, 0), node(0, 0, 1)};
  mgn_tetra temporary = make_tetra(n[0], n[1], n[2], n[3], -1);
  double volume = -1.0, lo, hi, angles[6];
  EXPECT_EQ(mgn_get_tetra_boundary_quality(&temporary, &volume), 0.0);
  EXPECT_EQ(volume, 0.0);
  EXPECT_EQ(mgn_get_tetra_angle_quality(&temporary, angles, &lo, &hi), 0.0);

  mgn_tetra real = make_tetra(n[0], n[1], n[2], n[3], 5);
  EXPECT_EXIT(mgn_get_tetra_boundary_quality(&real, &volume), ::testing::ExitedWithCode(10),
              "routine mgn_get_tetra_boundary_quality(.|\n)*Zero area face of tetra detected");
  EXPECT_EXIT(mgn_get_tetra_angle_quality(&real, angles, &lo, &hi), ::testing::ExitedWithCode(10),
              "routine mgn_get_tetra_angle_quality(.|\n)*Zero area face of tetra detected");
}

TEST_F(MeshStore, DegenerateSideFaceGivesZeroAngleQuality) {
  // Nodes 1 and 3 coincide: face (0 1 3) has no area, the base has.
  mgn_tetra t = make_tetra(node(0, 0, 0), node(1, 0, 0), node(0, 1, 0), node(1, 0, 0));
  double angles[6], lo = -1, hi = -1;
  EXPECT_EQ(mgn_get_tetra_angle_quality(&t, angles, &lo, &hi), 0.0);
  double volume;
  EXPECT_EQ(mgn_get_tetra_boundary_quality(&t, &volume), 0.0);
}

// ---------------------------------------------------------------------------
// Noting
// ---------------------------------------------------------------------------

TEST_F(MeshStore, NotingAnElementNotesItsNodesAndTheirEntitiesOnce) {
  mgn_noted = mgn_noted_records{};
  mgn_curve curve;
  mgn_vertex vertex;
  mgn_node* a = node(0, 0, 0, MGN_CURVE, &curve);
  mgn_node* b = node(1, 0, 0, MGN_VERTEX, &vertex);
  mgn_node* c = node(0, 1, 0);
  mgn_node* d = node(0, 0, 1);
  mgn_tetra* t = mgn_create_tetra(a, b, c, d, nullptr, nullptr);
  mgn_edge* e = mgn_create_edge(a, b, MGN_CURVE, &curve, nullptr);
  mgn_note_partial_tetra(t);
  mgn_note_partial_tetra(t);
  mgn_note_partial_edge(e);
  EXPECT_EQ(mgn_count_items(mgn_noted.tetras), 1);
  EXPECT_EQ(mgn_count_items(mgn_noted.edges), 1);
  EXPECT_EQ(mgn_count_items(mgn_noted.nodes), 4);
  EXPECT_EQ(mgn_count_items(mgn_noted.curves), 1);
  EXPECT_EQ(mgn_count_items(mgn_noted.vertices), 1);
  EXPECT_EQ(mgn_noted.curves->object, &curve);
  mgn_destroy_list(mgn_noted.tetras);
  mgn_destroy_list(mgn_noted.edges);
  mgn_destroy_list(mgn_noted.nodes);
  mgn_destroy_list(mgn_noted.curves);
  mgn_destroy_list(mgn_noted.vertices);
}

}  // namespace
