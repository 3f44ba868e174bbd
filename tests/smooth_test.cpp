// Nodal smoothing: triangle meshes of planar and curved surfaces built in
// the mesh store, smoothed with every weighting; hidden curves between two
// surfaces; attraction; the fold guard; region nodes and the hooks of the
// pass schedules.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <functional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bezier.h"
#include "element.h"
#include "geom.h"
#include "geom_fixture.h"
#include "list.h"
#include "message.h"
#include "octree.h"
#include "project.h"
#include "quality.h"
#include "smooth.h"
#include "support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A grid mesh of a surface over its parameter square: (n + 1)^2 nodes,
// node (i, j) at (u, v) = (i / n, j / n); corner nodes are vertex nodes,
// the other boundary nodes curve nodes of the side curve, the rest surface
// nodes.  Each cell is split by its diagonal (i, j)-(i+1, j+1) into two
// triangles that turn counterclockwise in the parameter plane.
struct grid_mesh {
  mgn_surface* surface = nullptr;
  int n = 0;
  std::vector<mgn_node*> nodes;
  mgn_curve* side[4] = {nullptr, nullptr, nullptr, nullptr};  // v=0, u=0, v=1, u=1
  mgn_node* at(int i, int j) const { return nodes[j * (n + 1) + i]; }
  double h() const { return 1.0 / n; }
};

std::vector<double> copy_xyz(const std::vector<mgn_node*>& nodes) {
  std::vector<double> out;
  for (const mgn_node* node : nodes) out.insert(out.end(), node->xyz, node->xyz + 3);
  return out;
}

class Smoothing : public ::testing::Test {
 protected:
  void SetUp() override {
    mgn_set = mgn_settings{};
    mgn_tol = mgn_tolerances{};
    mgn_warning_count = 0;
    mgn_smooth_hook = mgn_smooth_hooks{};
    mgn_reset_mesh_store();
    mgn_create_mesh_store(4);
    // Sizes are 1 everywhere unless a test sets other corner values.
    const double lo[3] = {-30, -30, -30}, hi[3] = {30, 30, 30};
    mgn_create_root_octant(lo, hi);
    set_corner_sizes(1.0f / 0.85f, 1.0f / 0.85f);
  }
  void TearDown() override {
    for (mgn_entity_mesh* mesh : meshes_) {
      for (mgn_listing** listing : {&mesh->nodes, &mesh->edges, &mesh->faces, &mesh->quads,
                                    &mesh->tetras}) {
        if (*listing != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(*listing));
        *listing = nullptr;
      }
    }
    mgn_release_octree();
    mgn_reset_mesh_store();
    mgn_smooth_hook = mgn_smooth_hooks{};
  }

  // Corner sizes of the root: low x side and high x side.
  static void set_corner_sizes(float low_x, float high_x) {
    for (int k = 0; k < 8; ++k) *mgn_octant_corner(mgn_tree.root, k) = (k & 1) ? high_x : low_x;
  }

  mgn_curve* new_curve(int id) {
    mgn_curve& c = curves_.emplace_back();
    c.id = id;
    meshes_.push_back(&c.mesh);
    return &c;
  }
  mgn_surface* plane(int id, double x0, double x1, double y0, double y1) {
    mgn_surface* s = geom_.surface(id, 2, 2, {{x0, y0, 0}, {x1, y0, 0}, {x0, y1, 0}, {x1, y1, 0}});
    s->planar = true;
    s->normal[2] = 1.0;
    meshes_.push_back(&s->mesh);
    return s;
  }
  // The piece theta0 .. theta1 of the cylinder of radius r around the z
  // axis, z in [z0, z1]: u runs along the arc, v along z; Su x Sv points
  // outward.
  mgn_surface* cylinder(int id, double r, double theta0, double theta1, double z0, double z1) {
    const double half = 0.5 * (theta1 - theta0), mid = 0.5 * (theta0 + theta1);
    const double w = std::cos(half), q = r / w;
    std::vector<mgn_xyz> net;
    for (double z : {z0, z1}) {
      net.push_back({r * std::cos(theta0), r * std::sin(theta0), z});
      net.push_back({q * std::cos(mid), q * std::sin(mid), z});
      net.push_back({r * std::cos(theta1), r * std::sin(theta1), z});
    }
    mgn_surface* s = geom_.surface(id, 3, 2, net, {1, w, 1, 1, w, 1});
    meshes_.push_back(&s->mesh);
    return s;
  }

  mgn_node* surface_node(mgn_surface* s, double u, double v) {
    double p[3];
    mgn_get_surface_point(s, u, v, p);
    const double uv[2] = {u, v};
    return mgn_create_node(p, uv, MGN_SURFACE, s, &s->mesh.nodes);
  }
  mgn_node* free_node(const double* p, int kind, void* entity, mgn_listing** listing) {
    const double t = 0.5;
    return mgn_create_node(p, kind == MGN_CURVE ? &t : nullptr, kind, entity, listing);
  }
  mgn_vertex* new_vertex() {
    mgn_vertex& v = vertices_.emplace_back();
    v.id = static_cast<int>(vertices_.size());
    return &v;
  }

  // The edge a-b, created for the entity when missing.
  mgn_edge* edge(mgn_node* a, mgn_node* b, int kind, void* entity, mgn_listing** listing) {
    mgn_edge* e = mgn_get_node_edge(a, b);
    return e != nullptr ? e : mgn_create_edge(a, b, kind, entity, listing);
  }
  // Triangle a b c of the surface with its edges (owned by the surface
  // unless given in curve_edges) and the face lists of the edges.
  mgn_face* triangle(mgn_surface* s, mgn_node* a, mgn_node* b, mgn_node* c) {
    mgn_node* corners[3] = {a, b, c};
    mgn_face* f = mgn_create_face(a, b, c, MGN_SURFACE, s, &s->mesh.faces, nullptr, false);
    for (int k = 0; k < 3; ++k) {
      mgn_edge* e = edge(corners[k], corners[(k + 1) % 3], MGN_SURFACE, s, &s->mesh.edges);
      mgn_add_edge_face(e, f);
    }
    faces_.push_back(f);
    return f;
  }

  // Grid mesh of the surface; existing(i, j) may hand a boundary node made
  // before (a side shared with another surface).
  grid_mesh grid(mgn_surface* s, int n,
                 const std::function<mgn_node*(int, int)>& existing = nullptr) {
    grid_mesh g;
    g.surface = s;
    g.n = n;
    for (int k = 0; k < 4; ++k) g.side[k] = new_curve(100 * s->id + k);
    g.nodes.assign((n + 1) * (n + 1), nullptr);
    for (int j = 0; j <= n; ++j) {
      for (int i = 0; i <= n; ++i) {
        mgn_node*& node = g.nodes[j * (n + 1) + i];
        if (existing) node = existing(i, j);
        if (node != nullptr) continue;
        const double u = static_cast<double>(i) / n, v = static_cast<double>(j) / n;
        const bool bu = i == 0 || i == n, bv = j == 0 || j == n;
        if (!bu && !bv) {
          node = surface_node(s, u, v);
          continue;
        }
        double p[3];
        mgn_get_surface_point(s, u, v, p);
        if (bu && bv) {
          node = free_node(p, MGN_VERTEX, new_vertex(), nullptr);
          vertex_nodes_.push_back(node);
        } else {
          mgn_curve* c = g.side[j == 0 ? 0 : i == 0 ? 1 : j == n ? 2 : 3];
          node = free_node(p, MGN_CURVE, c, &c->mesh.nodes);
        }
      }
    }
    // Boundary edges belong to the side curves.
    for (int k = 0; k < n; ++k) {
      edge(g.at(k, 0), g.at(k + 1, 0), MGN_CURVE, g.side[0], &g.side[0]->mesh.edges);
      edge(g.at(0, k), g.at(0, k + 1), MGN_CURVE, g.side[1], &g.side[1]->mesh.edges);
      edge(g.at(k, n), g.at(k + 1, n), MGN_CURVE, g.side[2], &g.side[2]->mesh.edges);
      edge(g.at(n, k), g.at(n, k + 1), MGN_CURVE, g.side[3], &g.side[3]->mesh.edges);
    }
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        triangle(s, g.at(i, j), g.at(i + 1, j), g.at(i + 1, j + 1));
        triangle(s, g.at(i, j), g.at(i + 1, j + 1), g.at(i, j + 1));
      }
    }
    return g;
  }

  // Moves the interior nodes of the grid by random parameter offsets of up
  // to fraction x the cell, keeping them on the surface.
  static void perturb(const grid_mesh& g, double fraction, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> offset(-fraction * g.h(), fraction * g.h());
    for (int j = 1; j < g.n; ++j) {
      for (int i = 1; i < g.n; ++i) {
        mgn_node* node = g.at(i, j);
        node->parameters[0] += offset(random);
        node->parameters[1] += offset(random);
        mgn_get_surface_point(g.surface, node->parameters[0], node->parameters[1], node->xyz);
      }
    }
  }

  // Largest distance of the interior nodes from their regular places.
  static double grid_deviation(const grid_mesh& g) {
    double worst = 0.0;
    for (int j = 1; j < g.n; ++j) {
      for (int i = 1; i < g.n; ++i) {
        double p[3];
        mgn_get_surface_point(g.surface, static_cast<double>(i) / g.n,
                              static_cast<double>(j) / g.n, p);
        worst = std::max(worst, std::sqrt(mgn_get_point_square_distance(p, g.at(i, j)->xyz)));
      }
    }
    return worst;
  }

  double mean_quality() const {
    double sum = 0.0;
    for (const mgn_face* f : faces_) sum += mgn_get_triangle_quality(f->n[0]->xyz, f->n[1]->xyz, f->n[2]->xyz);
    return sum / static_cast<double>(faces_.size());
  }
  // Every triangle turns counterclockwise seen from the side the surface
  // normal points to (the normal taken at its first surface node, or the
  // plane normal).
  void expect_no_fold(const mgn_surface* s) const {
    for (const mgn_face* f : faces_) {
      if (f->entity != s) continue;
      double ab[3], ac[3], n[3], normal[3] = {0.0, 0.0, 1.0};
      mgn_sub(f->n[1]->xyz, f->n[0]->xyz, ab);
      mgn_sub(f->n[2]->xyz, f->n[0]->xyz, ac);
      mgn_cross(ab, ac, n);
      if (!s->planar) {
        // Radial direction at the centroid (cylinder pieces).
        normal[0] = (f->n[0]->xyz[0] + f->n[1]->xyz[0] + f->n[2]->xyz[0]) / 3.0;
        normal[1] = (f->n[0]->xyz[1] + f->n[1]->xyz[1] + f->n[2]->xyz[1]) / 3.0;
        normal[2] = 0.0;
      }
      EXPECT_GT(mgn_dot(n, normal), 0.0) << "face " << f->id;
    }
  }

  mgn_geom_store geom_;
  std::deque<mgn_curve> curves_;
  std::deque<mgn_vertex> vertices_;
  std::vector<mgn_entity_mesh*> meshes_;
  std::vector<mgn_face*> faces_;
  std::vector<mgn_node*> vertex_nodes_;
};

// Every node of the grid lies on the surface at its own parameters; on the
// cylinder also at the exact radius.
void expect_on_surface(const grid_mesh& g, double radius) {
  for (const mgn_node* node : g.nodes) {
    if (node->kind != MGN_SURFACE) continue;
    double p[3];
    mgn_get_surface_point(g.surface, node->parameters[0], node->parameters[1], p);
    EXPECT_LT(std::sqrt(mgn_get_point_square_distance(p, node->xyz)), 1e-9) << "node " << node->id;
    if (radius > 0.0) {
      EXPECT_NEAR(std::hypot(node->xyz[0], node->xyz[1]), radius, 1e-9 * radius);
    } else {
      EXPECT_EQ(node->xyz[2], 0.0);
    }
  }
}

// --- surfaces ----------------------------------------------------------------

// A perturbed grid on a plane and on a curved surface, with every
// smoothing type: boundary nodes stay, interior nodes end on the exact
// surface near their regular places, quality rises and nothing folds.
TEST_F(Smoothing, PerturbedGridsRecoverOnPlaneAndCylinder) {
  struct Case {
    bool curved;
    int type;
  };
  const Case cases[] = {{false, 0}, {false, 1}, {false, 2}, {false, 3},
                        {true, 0},  {true, 1},  {true, 2},  {true, 3}};
  int id = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "curved " << c.curved << " type " << c.type);
    faces_.clear();
    mgn_set.smoothing_type = c.type;
    mgn_surface* s = c.curved ? cylinder(id++, 5.0, 0.0, kPi / 2, 0.0, 7.0)
                              : plane(id++, 0.0, 8.0, 0.0, 8.0);
    const grid_mesh g = grid(s, 6);
    std::vector<mgn_node*> boundary;
    for (mgn_node* node : g.nodes)
      if (node->kind != MGN_SURFACE) boundary.push_back(node);
    const std::vector<double> boundary_before = copy_xyz(boundary);
    perturb(g, 0.35, 11);
    const double deviation = grid_deviation(g);
    const double quality = mean_quality();

    mgn_smooth_surface(s);

    EXPECT_EQ(copy_xyz(boundary), boundary_before);
    expect_on_surface(g, c.curved ? 5.0 : 0.0);
    expect_no_fold(s);
    EXPECT_GT(mean_quality(), quality);
    EXPECT_LT(grid_deviation(g), 0.5 * deviation);
  }
}

TEST_F(Smoothing, PlanarGridAtItsCentroidsDoesNotChange) {
  mgn_surface* s = plane(1, -2.0, 3.0, 1.0, 6.0);
  const grid_mesh g = grid(s, 5);
  const std::vector<double> before = copy_xyz(g.nodes);
  mgn_smooth_surface(s);
  const std::vector<double> after = copy_xyz(g.nodes);
  for (std::size_t k = 0; k < before.size(); ++k) EXPECT_NEAR(after[k], before[k], 1e-12);
}

// One interior node in a ring of boundary nodes returns to their centroid
// (on a curved surface: next to its projection, on the surface).
TEST_F(Smoothing, LoneInteriorNodeReturnsToTheCentroid) {
  for (bool curved : {false, true}) {
    SCOPED_TRACE(curved ? "cylinder" : "plane");
    mgn_surface* s = curved ? cylinder(curved ? 2 : 1, 3.0, 0.0, kPi / 2, 0.0, 4.0)
                            : plane(1, -1.0, 1.0, -1.0, 1.0);
    mgn_curve* ring = new_curve(50 + curved);
    const double c[2] = {0.5, 0.5}, rad = 0.3;
    std::vector<mgn_node*> nodes;
    for (int k = 0; k < 6; ++k) {
      double p[3];
      mgn_get_surface_point(s, c[0] + rad * std::cos(k * kPi / 3), c[1] + rad * std::sin(k * kPi / 3), p);
      nodes.push_back(free_node(p, MGN_CURVE, ring, &ring->mesh.nodes));
    }
    mgn_node* inner = surface_node(s, 0.62, 0.41);
    for (int k = 0; k < 6; ++k) triangle(s, inner, nodes[k], nodes[(k + 1) % 6]);
    double centroid[3] = {0.0, 0.0, 0.0};
    for (const mgn_node* node : nodes)
      for (int k = 0; k < 3; ++k) centroid[k] += node->xyz[k] / 6.0;
    mgn_smooth_surface(s);
    if (!curved) {
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(inner->xyz[k], centroid[k], 1e-12);
      continue;
    }
    double u, v, foot[3];
    mgn_find_closest_surface_point(s, centroid, &u, &v);
    mgn_get_surface_point(s, u, v, foot);
    const double edge = std::sqrt(mgn_get_point_square_distance(nodes[0]->xyz, nodes[1]->xyz));
    EXPECT_LT(std::sqrt(mgn_get_point_square_distance(inner->xyz, foot)), 1e-3 * edge);
    EXPECT_NEAR(std::hypot(inner->xyz[0], inner->xyz[1]), 3.0, 3e-9);
    EXPECT_NEAR(inner->parameters[0], u, 1e-4);
    EXPECT_NEAR(inner->parameters[1], v, 1e-4);
  }
}

// Type 0 ignores sizes: two size fields give the same positions, bit for
// bit.
TEST_F(Smoothing, UnweightedResultDoesNotDependOnSizes) {
  std::vector<double> results[2];
  for (int run = 0; run < 2; ++run) {
    if (run == 1) set_corner_sizes(0.05f, 3.0f);
    mgn_surface* s = plane(run + 1, 0.0, 6.0, 0.0, 6.0);
    const grid_mesh g = grid(s, 5);
    perturb(g, 0.35, 5);
    mgn_smooth_surface(s);
    results[run] = copy_xyz(g.nodes);
  }
  EXPECT_EQ(results[0], results[1]);
}

// Fan of boundary nodes around one interior node at the origin of a plane;
// returns the interior node after smoothing with the type.
class SmoothingFan : public Smoothing {
 protected:
  mgn_node* smooth_fan(const std::vector<std::array<double, 2>>& ring, int type,
                       const std::array<double, 2>& start = {0.0, 0.0}) {
    mgn_set.smoothing_type = type;
    mgn_surface* s = plane(++id_, -25.0, 25.0, -25.0, 25.0);
    mgn_curve* curve = new_curve(++id_);
    std::vector<mgn_node*> nodes;
    for (const auto& q : ring) {
      const double p[3] = {q[0], q[1], 0.0};
      nodes.push_back(free_node(p, MGN_CURVE, curve, &curve->mesh.nodes));
    }
    mgn_node* inner = surface_node(s, (start[0] + 25.0) / 50.0, (start[1] + 25.0) / 50.0);
    for (std::size_t k = 0; k < nodes.size(); ++k)
      triangle(s, inner, nodes[k], nodes[(k + 1) % nodes.size()]);
    mgn_smooth_surface(s);
    EXPECT_EQ(inner->xyz[2], 0.0);
    return inner;
  }
  static std::vector<std::array<double, 2>> hexagon(double r) {
    std::vector<std::array<double, 2>> ring;
    for (int k = 0; k < 6; ++k) ring.push_back({r * std::cos(k * kPi / 3), r * std::sin(k * kPi / 3)});
    return ring;
  }
  int id_ = 0;
};

// Length weighting: a node between one long edge and short ones moves
// toward the far node of the long edge, beyond the plain centroid.
TEST_F(SmoothingFan, LengthWeightingPullsTowardTheFarNode) {
  std::vector<std::array<double, 2>> ring = hexagon(1.0);
  ring[0] = {3.0, 0.0};
  const double plain = smooth_fan(ring, 0)->xyz[0];
  EXPECT_NEAR(plain, 2.0 / 6.0, 1e-12);
  const mgn_node* weighted = smooth_fan(ring, 1);
  EXPECT_GT(weighted->xyz[0], plain + 0.1);
  EXPECT_NEAR(weighted->xyz[1], 0.0, 1e-9);
}

// Size weighting: among neighbours at equal distances, those with smaller
// sizes pull harder.
TEST_F(SmoothingFan, SizeWeightingPullsTowardSmallerSizes) {
  set_corner_sizes(0.001f, 2.0f);  // sizes grow with x, twice as large at 10 as at -10
  EXPECT_NEAR(smooth_fan(hexagon(10.0), 0)->xyz[0], 0.0, 1e-12);
  const mgn_node* weighted = smooth_fan(hexagon(10.0), 1);
  EXPECT_LT(weighted->xyz[0], -0.2);
  EXPECT_NEAR(weighted->xyz[1], 0.0, 1e-9);
}

// A fan whose centroid lies beyond the boundary edge next to the node: the
// move is shortened so that no triangle turns over.
TEST_F(SmoothingFan, MovesThatWouldFoldATriangleAreShortened) {
  const std::vector<std::array<double, 2>> dart = {{-0.5, -0.2}, {0.5, -0.2}, {20.0, -3.0},
                                                   {5.0, 1.0},   {-5.0, 1.0}, {-20.0, -3.0}};
  const mgn_node* inner = smooth_fan(dart, 0);
  EXPECT_LT(inner->xyz[1], -0.05);  // it moved toward the centroid
  EXPECT_GT(inner->xyz[1], -0.2);   // without crossing the edge
  expect_no_fold(static_cast<const mgn_surface*>(inner->entity));
}

// Connectivity weighting: an interior neighbour with more edges pulls
// harder; with valence 6 everywhere it changes nothing.
TEST_F(Smoothing, ConnectivityWeightingFollowsTheValence) {
  for (int type : {0, 2}) {
    SCOPED_TRACE(type);
    mgn_set.smoothing_type = type;
    mgn_surface* s = plane(type + 1, 0.0, 4.0, 0.0, 4.0);
    const grid_mesh g = grid(s, 4);
    mgn_node* centre = g.at(2, 2);
    mgn_node* right = g.at(3, 2);
    // Two edges of another entity raise the valence of the right neighbour
    // to 8 without joining the surface's edges.
    mgn_region region;
    mgn_create_edge(right, g.at(4, 4), MGN_REGION, &region, &region.mesh.edges);
    mgn_create_edge(right, g.at(4, 0), MGN_REGION, &region, &region.mesh.edges);
    ASSERT_EQ(right->edge_count, 8);
    mgn_smooth_surface(s);
    if (type == 0) {
      EXPECT_NEAR(centre->xyz[0], 2.0, 1e-12);
      EXPECT_NEAR(centre->xyz[1], 2.0, 1e-12);
    } else {
      EXPECT_GT(centre->xyz[0], 2.0 + 0.01);
    }
    mgn_destroy_listing(mgn_get_first_listing_block(region.mesh.edges));
    region.mesh.edges = nullptr;
  }
}

// The surface data of a node, while it has one, follows every projection
// together with the node's parameters.
TEST_F(Smoothing, SurfaceDataFollowsTheNode) {
  mgn_surface* s = cylinder(1, 2.0, 0.0, kPi / 2, 0.0, 3.0);
  const grid_mesh g = grid(s, 4);
  perturb(g, 0.3, 3);
  std::deque<mgn_surface_data> data;
  for (mgn_node* node : g.nodes) {
    if (node->kind != MGN_SURFACE) continue;
    mgn_surface_data& d = data.emplace_back();
    d.u = node->parameters[0];
    d.v = node->parameters[1];
    node->aux = &d;
  }
  mgn_smooth_surface(s);
  for (const mgn_node* node : g.nodes) {
    if (node->kind != MGN_SURFACE) continue;
    const auto* d = static_cast<const mgn_surface_data*>(node->aux);
    EXPECT_EQ(d->u, node->parameters[0]);
    EXPECT_EQ(d->v, node->parameters[1]);
    double n[3];
    mgn_get_surface_normal(s, d->u, d->v, n);
    EXPECT_NEAR(mgn_dot(n, d->normal), 1.0, 1e-9);
  }
  expect_on_surface(g, 2.0);
}

// Node sizes follow the octree after the last pass.
TEST_F(Smoothing, LastPassRelocatesTheNodes) {
  set_corner_sizes(0.5f, 4.0f);
  mgn_surface* s = plane(1, 0.0, 8.0, 0.0, 8.0);
  const grid_mesh g = grid(s, 4);
  perturb(g, 0.3, 9);
  mgn_smooth_surface(s);
  for (mgn_node* node : g.nodes) {
    mgn_octant* hint = nullptr;
    EXPECT_FLOAT_EQ(node->size, static_cast<float>(mgn_get_octree_mesh_size(&hint, node->xyz, false)));
    EXPECT_EQ(node->octant, mgn_locate_leaf_octant(mgn_tree.root, node->xyz));
  }
}

// --- attraction --------------------------------------------------------------

// Attraction by the side v = 0 of a planar grid pulls its nodes toward that
// side; the attracting nodes get their sizes back.
TEST_F(Smoothing, AttractionPullsTowardTheAttractingCurve) {
  mgn_surface* s = plane(1, 0.0, 6.0, 0.0, 6.0);
  const grid_mesh g = grid(s, 6);
  mgn_attraction item;
  item.factor = 6.0f;
  item.kind = 1;
  mgn_add_item_to_tail(item.entities, g.side[0]);
  mgn_add_item_to_tail(s->attractions, &item);
  std::vector<float> sizes;
  for (const mgn_node* node : g.nodes) sizes.push_back(node->size);
  double before = 0.0, after = 0.0;
  for (const mgn_node* node : g.nodes)
    if (node->kind == MGN_SURFACE) before += node->xyz[1];
  mgn_smooth_surface(s);
  for (const mgn_node* node : g.nodes)
    if (node->kind == MGN_SURFACE) after += node->xyz[1];
  EXPECT_LT(after, before - 0.1 * 25);  // a tenth of a cell on average
  for (std::size_t k = 0; k < g.nodes.size(); ++k)
    if (g.nodes[k]->kind != MGN_SURFACE) {
      EXPECT_EQ(g.nodes[k]->size, sizes[k]);
    }
  expect_no_fold(s);
  EXPECT_EQ(mgn_warning_count, 0);
  mgn_destroy_list(item.entities);
  mgn_destroy_list(s->attractions);
}

// Attraction on a curved surface is refused with a warning, and a hidden
// attracting curve is left out with one; the mesh is smoothed as without
// attraction.
TEST_F(Smoothing, AttractionThatCannotApplyIsWarnedAndSkipped) {
  struct Case {
    bool curved;
    bool hidden;
    const char* warning;
  };
  const Case cases[] = {
      {true, false, "Warning: Boundary surface 2 cannot be subjected to attraction\n"},
      {false, true, "Warning: Hidden curve 400 cannot be subjected to attraction\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.warning);
    std::vector<double> plain;
    for (int run = 0; run < 2; ++run) {
      mgn_warning_count = 0;
      mgn_surface* s = c.curved ? cylinder(2, 2.0, 0.0, 1.0, 0.0, 2.0)
                                : plane(4, 0.0, 4.0, 0.0, 4.0);
      const grid_mesh g = grid(s, 4);
      perturb(g, 0.3, 21);
      mgn_attraction item;
      item.factor = 4.0f;
      item.kind = 1;
      g.side[0]->hidden = c.hidden;
      mgn_add_item_to_tail(item.entities, g.side[0]);
      if (run == 1) mgn_add_item_to_tail(s->attractions, &item);
      ::testing::internal::CaptureStderr();
      mgn_smooth_surface(s);
      const std::string err = ::testing::internal::GetCapturedStderr();
      if (run == 0) {
        plain = copy_xyz(g.nodes);
        EXPECT_EQ(err, "");
      } else {
        EXPECT_EQ(err, c.warning);
        EXPECT_EQ(mgn_warning_count, 1);
        if (c.curved) {
          EXPECT_EQ(copy_xyz(g.nodes), plain);
        }
      }
      mgn_destroy_list(item.entities);
      mgn_destroy_list(s->attractions);
    }
  }
}

// --- failures ----------------------------------------------------------------

using SmoothingDeath = Smoothing;

TEST_F(SmoothingDeath, VanishingTangentsAreFatal) {
  // A surface collapsed onto a line: Sv vanishes everywhere.
  mgn_surface* s = geom_.surface(9, 2, 2, {{0, 0, 0}, {4, 0, 0}, {0, 0, 0}, {4, 0, 0}});
  meshes_.push_back(&s->mesh);
  mgn_curve* ring = new_curve(1);
  std::vector<mgn_node*> nodes;
  for (int k = 0; k < 4; ++k) {
    const double p[3] = {1.0 + k * 0.5, 0.0, 0.0};
    nodes.push_back(free_node(p, MGN_CURVE, ring, &ring->mesh.nodes));
  }
  mgn_node* inner = surface_node(s, 0.5, 0.5);
  for (int k = 0; k < 4; ++k) triangle(s, inner, nodes[k], nodes[(k + 1) % 4]);
  EXPECT_EXIT(mgn_smooth_surface(s), ::testing::ExitedWithCode(10),
              "Bad parameterization of surface 9 at u = 0\\.500000, v = 0\\.500000");
}

TEST_F(SmoothingDeath, NodeWithoutEdgesIsAnInconsistentMesh) {
  mgn_surface* s = plane(3, 0.0, 1.0, 0.0, 1.0);
  surface_node(s, 0.5, 0.5);
  EXPECT_EXIT(mgn_smooth_surface(s), ::testing::ExitedWithCode(10), "Unexpected situation");
}

// --- schedule ----------------------------------------------------------------

int g_topology_calls = 0;
void count_topology(int, void*) { ++g_topology_calls; }

// Quad meshes: the quad topology work runs before and after every pass
// (6 passes), but not under attraction (3 passes, no topology work).
TEST_F(Smoothing, QuadTopologyRunsAroundEveryPass) {
  mgn_smooth_hook.quad_topology = count_topology;
  mgn_surface* s = plane(1, 0.0, 3.0, 0.0, 3.0);
  s->quad = true;
  const grid_mesh g = grid(s, 3);
  g_topology_calls = 0;
  mgn_smooth_surface(s);
  EXPECT_EQ(g_topology_calls, 12);
  mgn_attraction item;
  item.factor = 2.0f;
  item.kind = 0;
  mgn_add_item_to_tail(item.entities, &vertices_.front());
  mgn_add_item_to_tail(s->attractions, &item);
  g_topology_calls = 0;
  mgn_smooth_surface(s);
  EXPECT_EQ(g_topology_calls, 0);
  mgn_destroy_list(item.entities);
  mgn_destroy_list(s->attractions);
}

// Quads: the diagonals (partner nodes) join the mean; a regular quad grid
// stays, a perturbed node returns to the middle of its eight neighbours.
TEST_F(Smoothing, QuadNodesUseTheirDiagonals) {
  mgn_mesh.keep_partners = true;
  mgn_surface* s = plane(1, 0.0, 2.0, 0.0, 2.0);
  s->quad = true;
  mgn_curve* ring = new_curve(7);
  mgn_node* nodes[9];
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 3; ++i) {
      const double p[3] = {static_cast<double>(i), static_cast<double>(j), 0.0};
      nodes[3 * j + i] = (i == 1 && j == 1) ? surface_node(s, 0.3, 0.6)
                                            : free_node(p, MGN_CURVE, ring, &ring->mesh.nodes);
    }
  }
  // Four quads around the middle node, counterclockwise.
  const int quads[4][4] = {{0, 1, 4, 3}, {1, 2, 5, 4}, {4, 5, 8, 7}, {3, 4, 7, 6}};
  for (const auto& q : quads) {
    mgn_quad* quad = mgn_create_quad(nodes[q[0]], nodes[q[1]], nodes[q[2]], nodes[q[3]],
                                     MGN_SURFACE, s, &s->mesh.quads, false);
    for (int k = 0; k < 4; ++k) {
      mgn_node* a = nodes[q[k]];
      mgn_node* b = nodes[q[(k + 1) % 4]];
      const bool inner = a == nodes[4] || b == nodes[4];
      mgn_edge* e = edge(a, b, inner ? MGN_SURFACE : MGN_CURVE, inner ? static_cast<void*>(s) : ring,
                         inner ? &s->mesh.edges : &ring->mesh.edges);
      mgn_add_edge_quad(e, quad);
    }
  }
  mgn_smooth_surface(s);
  EXPECT_NEAR(nodes[4]->xyz[0], 1.0, 1e-12);
  EXPECT_NEAR(nodes[4]->xyz[1], 1.0, 1e-12);
}

// --- hidden curves -----------------------------------------------------------

// Two surfaces side by side share their side u = 1 / u = 0; the nodes of
// the shared curve, perturbed along it and across, are smoothed into both:
// they end near their regular places, on the geometry, while the vertex
// nodes at its ends and every other boundary node stay.
TEST_F(Smoothing, HiddenCurveNodesAreSmoothedIntoBothSurfaces) {
  for (bool curved : {false, true}) {
    SCOPED_TRACE(curved ? "cylinder pieces" : "planes");
    faces_.clear();
    const double r = 4.0;
    mgn_surface* a = curved ? cylinder(11, r, 0.0, kPi / 4, 0.0, 3.0) : plane(1, 0.0, 3.0, 0.0, 3.0);
    mgn_surface* b = curved ? cylinder(12, r, kPi / 4, kPi / 2, 0.0, 3.0) : plane(2, 3.0, 6.0, 0.0, 3.0);
    const int n = 6;
    const grid_mesh ga = grid(a, n);
    const grid_mesh gb = grid(b, n, [&](int i, int j) { return i == 0 ? ga.at(n, j) : nullptr; });
    mgn_curve* shared = ga.side[3];
    std::vector<mgn_node*> others;
    for (const grid_mesh* g : {&ga, &gb})
      for (mgn_node* node : g->nodes)
        if (node->kind == MGN_VERTEX || (node->kind == MGN_CURVE && node->entity != shared))
          others.push_back(node);
    const std::vector<double> others_before = copy_xyz(others);
    // Regular places, then a perturbation: along the curve (v), and for the
    // planes also across it.
    std::vector<std::array<double, 3>> regular;
    for (int j = 1; j < n; ++j) {
      mgn_node* node = ga.at(n, j);
      regular.push_back({node->xyz[0], node->xyz[1], node->xyz[2]});
      const double dv = (j % 2 ? 0.3 : -0.25) / n;
      double p[3];
      mgn_get_surface_point(a, 1.0, static_cast<double>(j) / n + dv, p);
      if (!curved) p[0] += (j % 3 ? 0.2 : -0.3) * 3.0 / n;
      for (int k = 0; k < 3; ++k) node->xyz[k] = p[k];
    }
    double before = 0.0, after = 0.0;
    for (int j = 1; j < n; ++j)
      before = std::max(before, std::sqrt(mgn_get_point_square_distance(ga.at(n, j)->xyz, regular[j - 1].data())));

    mgn_smooth_hidden_curve_surface_surface(shared, a, b);

    for (int j = 1; j < n; ++j) {
      const mgn_node* node = ga.at(n, j);
      after = std::max(after, std::sqrt(mgn_get_point_square_distance(node->xyz, regular[j - 1].data())));
      if (curved) {
        EXPECT_NEAR(std::hypot(node->xyz[0], node->xyz[1]), r, 1e-9 * r);
      } else {
        EXPECT_EQ(node->xyz[2], 0.0);
      }
    }
    EXPECT_LT(after, 0.5 * before);
    EXPECT_EQ(copy_xyz(others), others_before);
    expect_no_fold(a);
    expect_no_fold(b);
  }
}

// --- regions -----------------------------------------------------------------

class RegionSmoothing : public Smoothing {
 protected:
  mgn_node* boundary(double x, double y, double z) {
    const double p[3] = {x, y, z};
    return free_node(p, MGN_SURFACE, &skin_, &skin_.mesh.nodes);
  }
  mgn_node* inner(double x, double y, double z) {
    const double p[3] = {x, y, z};
    return mgn_create_node(p, nullptr, MGN_REGION, &region_, &region_.mesh.nodes);
  }
  // Tetra a b c d, turned to a positive volume, with its missing edges.
  mgn_tetra* tetra(mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d) {
    double ab[3], ac[3], ad[3], n[3];
    mgn_sub(b->xyz, a->xyz, ab);
    mgn_sub(c->xyz, a->xyz, ac);
    mgn_sub(d->xyz, a->xyz, ad);
    mgn_cross(ab, ac, n);
    if (mgn_dot(n, ad) < 0.0) std::swap(b, c);
    mgn_tetra* t = mgn_create_tetra(a, b, c, d, &region_, &region_.mesh.tetras);
    mgn_node* corners[4] = {a, b, c, d};
    for (int i = 0; i < 4; ++i)
      for (int j = i + 1; j < 4; ++j) {
        const bool own = corners[i]->kind == MGN_REGION || corners[j]->kind == MGN_REGION;
        edge(corners[i], corners[j], own ? MGN_REGION : MGN_SURFACE, own ? static_cast<void*>(&region_) : &skin_,
             own ? &region_.mesh.edges : &skin_.mesh.edges);
      }
    return t;
  }
  // The cone of tetras joining the node to the triangles of a closed ring
  // between two apexes.
  void bipyramid(mgn_node* centre, const std::vector<mgn_node*>& ring, mgn_node* top,
                 mgn_node* bottom) {
    for (std::size_t k = 0; k < ring.size(); ++k) {
      mgn_node* a = ring[k];
      mgn_node* b = ring[(k + 1) % ring.size()];
      tetra(centre, a, b, top);
      tetra(centre, b, a, bottom);
    }
  }
  bool all_valid() {
    for (mgn_tetra** ref : mgn_listing_range<mgn_tetra*>(mgn_get_first_listing_block(region_.mesh.tetras))) {
      double volume = 0.0;
      if (!(mgn_get_tetra_boundary_quality(*ref, &volume) > 0.0)) return false;
    }
    return true;
  }
  void SetUp() override {
    Smoothing::SetUp();
    region_.id = 1;
    meshes_.push_back(&region_.mesh);
    meshes_.push_back(&skin_.mesh);
  }
  mgn_region region_;
  mgn_surface skin_;
};

// An interior node among boundary nodes only moves in the last pass to the
// mean of its neighbours.
TEST_F(RegionSmoothing, NodeAmongBoundaryNodesMovesToTheMean) {
  mgn_node* c = inner(0.2, -0.1, 0.15);
  std::vector<mgn_node*> ring = {boundary(1, 0, 0), boundary(0, 1, 0), boundary(-1, 0, 0), boundary(0, -1, 0)};
  bipyramid(c, ring, boundary(0, 0, 1), boundary(0, 0, -1));
  mgn_smooth_region(&region_);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(c->xyz[k], 0.0, 1e-15);
  EXPECT_TRUE(all_valid());
  EXPECT_EQ(c->work, 0);
}

// The mean lies above the dent of the top apex: the move is shortened
// until every tetra is valid.
TEST_F(RegionSmoothing, InvalidMeanIsShortenedTowardTheOldPlace) {
  mgn_node* c = inner(0.0, 0.0, -0.75);
  std::vector<mgn_node*> ring = {boundary(1, 0, 0), boundary(0, 1, 0), boundary(-1, 0, 0), boundary(0, -1, 0)};
  bipyramid(c, ring, boundary(0, 0, -0.5), boundary(0, 0, -1));
  ASSERT_TRUE(all_valid());
  mgn_smooth_region(&region_);
  EXPECT_GT(c->xyz[2], -0.75);
  EXPECT_LT(c->xyz[2], -0.5);
  EXPECT_TRUE(all_valid());
}

// A tetra that stays inverted wherever the node goes between its old place
// and the mean (both lie on the wrong side of its opposite face): the node
// stays put.
TEST_F(RegionSmoothing, NodeStaysWhenNoPlaceIsValid) {
  mgn_node* c = inner(0.2, -0.1, 0.15);
  std::vector<mgn_node*> ring = {boundary(1, 0, 0), boundary(0, 1, 0), boundary(-1, 0, 0), boundary(0, -1, 0)};
  mgn_node* top = boundary(0, 0, 1);
  bipyramid(c, ring, top, boundary(0, 0, -1));
  mgn_create_tetra(c, ring[1], ring[0], top, &region_, &region_.mesh.tetras);
  mgn_smooth_region(&region_);
  EXPECT_EQ(c->xyz[0], 0.2);
  EXPECT_EQ(c->xyz[1], -0.1);
  EXPECT_EQ(c->xyz[2], 0.15);
}

// Two interior nodes next to each other move in every pass, but only where
// the worst tetra around the moving node does not get worse: the worst
// quality of the mesh never drops and every tetra stays valid.
TEST_F(RegionSmoothing, NodesWithRegionNeighboursNeverWorsenTheirTetras) {
  mgn_node* a = inner(-0.3, 0.1, 0.0);
  mgn_node* b = inner(0.4, 0.0, 0.1);
  mgn_node* top = boundary(0, 0, 1);
  mgn_node* bottom = boundary(0, 0, -1);
  std::vector<mgn_node*> ring = {boundary(1.5, 0, 0), boundary(0, 1, 0), boundary(-1.5, 0, 0), boundary(0, -1, 0)};
  // a on the left half, b on the right; the tetras (a, b, ...) join them.
  std::vector<mgn_tetra*> all = {
      tetra(a, b, ring[1], top),         tetra(a, b, ring[3], bottom),      tetra(a, b, top, ring[3]),
      tetra(a, b, bottom, ring[1]),      tetra(a, ring[1], ring[2], top),   tetra(a, ring[2], ring[3], top),
      tetra(a, ring[1], ring[2], bottom), tetra(a, ring[2], ring[3], bottom), tetra(b, ring[0], ring[1], top),
      tetra(b, ring[3], ring[0], top),   tetra(b, ring[0], ring[1], bottom), tetra(b, ring[3], ring[0], bottom)};
  auto worst = [&]() {
    double q = 1.0;
    for (mgn_tetra* t : all) {
      double v = 0.0;
      q = std::min(q, std::fabs(mgn_get_tetra_boundary_quality(t, &v)));
    }
    return q;
  };
  const double before = worst();
  const double a_before[3] = {a->xyz[0], a->xyz[1], a->xyz[2]};
  mgn_smooth_region(&region_);
  EXPECT_GE(worst(), before);
  EXPECT_GT(std::fabs(a->xyz[1] - a_before[1]) + std::fabs(a->xyz[2] - a_before[2]), 0.0);
  for (mgn_tetra* t : all) {
    double v = 0.0;
    mgn_get_tetra_boundary_quality(t, &v);
    EXPECT_NE(v > 0.0, false) << "tetra " << t->id;
  }
}

int g_forward = 0, g_backward = 0, g_prepare = 0, g_finish = 0;
std::vector<int> g_cycles;
void count_forward(mgn_region*, int cycle) {
  ++g_forward;
  g_cycles.push_back(cycle);
}
void count_backward(mgn_region*, int cycle) {
  ++g_backward;
  g_cycles.push_back(-cycle);
}
void count_prepare(mgn_region*) { ++g_prepare; }
void count_finish(mgn_region*) { ++g_finish; }

// A repair pass runs before every sweep (forward before a forward sweep,
// backward before a backward one) and a last forward one after the last
// sweep, with the cycles still to come: 6, 5, ..., 1, 0 (backward passes
// recorded negative); with -S only the forward repair runs, once, as the
// last cycle.
TEST_F(RegionSmoothing, RepairAndSpecialNodeHooksFollowTheSchedule) {
  mgn_smooth_hook.repair_forward = count_forward;
  mgn_smooth_hook.repair_backward = count_backward;
  mgn_smooth_hook.prepare_region = count_prepare;
  mgn_smooth_hook.finish_region = count_finish;
  mgn_node* c = inner(0.2, -0.1, 0.15);
  std::vector<mgn_node*> ring = {boundary(1, 0, 0), boundary(0, 1, 0), boundary(-1, 0, 0), boundary(0, -1, 0)};
  bipyramid(c, ring, boundary(0, 0, 1), boundary(0, 0, -1));
  g_cycles.clear();
  mgn_smooth_region(&region_);
  EXPECT_EQ(g_cycles, (std::vector<int>{6, -5, 4, -3, 2, -1, 0}));
  EXPECT_EQ(g_forward, 4);
  EXPECT_EQ(g_backward, 3);
  EXPECT_EQ(g_prepare, 1);
  EXPECT_EQ(g_finish, 1);
  g_forward = g_backward = g_prepare = g_finish = 0;
  mgn_set.nodal_smoothing = false;
  c->xyz[0] = 0.3;
  g_cycles.clear();
  mgn_smooth_region(&region_);
  EXPECT_EQ(g_cycles, (std::vector<int>{0}));
  EXPECT_EQ(g_forward, 1);
  EXPECT_EQ(g_backward + g_prepare + g_finish, 0);
  EXPECT_EQ(c->xyz[0], 0.3);
}

// Extruded region: nodes stay on the line of their two line neighbours.
mgn_node* g_line[2] = {nullptr, nullptr};
bool line_neighbours(mgn_node*, mgn_node** a, mgn_node** b) {
  *a = g_line[0];
  *b = g_line[1];
  return true;
}

TEST_F(RegionSmoothing, ExtrudedNodesStayOnTheirLines) {
  mgn_smooth_hook.extrusion_neighbours = line_neighbours;
  region_.extrude = true;
  mgn_node* c = inner(0.1, 0.0, 0.7);
  std::vector<mgn_node*> ring = {boundary(1, 0, 0), boundary(0, 1, 0), boundary(-1, 0, 0), boundary(0, -1, 0)};
  g_line[0] = boundary(0, 0, 1);
  g_line[1] = boundary(0, 0, -3);
  // The ring reaches farther toward +x so that the plain mean leaves the
  // line.  The mean (z = -1/3) goes onto the line, then half of the way to
  // the midpoint of the line neighbours (z = -1).
  ring[0]->xyz[0] = 3.0;
  bipyramid(c, ring, g_line[0], g_line[1]);
  mgn_smooth_region(&region_);
  EXPECT_NEAR(c->xyz[0], 0.0, 1e-15);
  EXPECT_NEAR(c->xyz[1], 0.0, 1e-15);
  EXPECT_NEAR(c->xyz[2], -2.0 / 3.0, 1e-15);
}

// Through the program on the sphere octant: smoothing is on by default and
// option -S turns it off; every weighting of option -s keeps the nodes on
// the sphere and gives a better mean and worst triangle quality than no
// smoothing.
TEST(SmoothingProgram, EveryWeightingImprovesTheSphereOctantAndKeepsItsNodesOnIt) {
  struct run_case {
    std::vector<std::string> options;
    double mean = 0.0, worst = 0.0;
  };
  std::vector<run_case> runs = {{{"-S"}}, {{}}, {{"-s", "1"}}, {{"-s", "2"}}, {{"-s", "3"}}};
  for (run_case& c : runs) {
    std::string name;
    for (const std::string& o : c.options) name += o + " ";
    SCOPED_TRACE(name);
    const std::string dir = mgn_temp_dir();
    std::vector<std::string> args = {"-i", std::string(MGN_TEST_MODELS) + "/sphere_octant.mgn", "-u", "0.3",
                                     "-o", "out.msh"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const mgn_run_result r = mgn_run_program(args, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::smatch m;
    const std::regex report("([01]\\.[0-9]{5}) - arithmetic mean quality\n.*\n"
                            " {17}([01]\\.[0-9]{5}) - worst tria quality");
    ASSERT_TRUE(std::regex_search(r.out, m, report)) << r.out;
    c.mean = std::stod(m[1]);
    c.worst = std::stod(m[2]);
    // The nodes lie on the sphere of radius 2 (its weights in the file are
    // exact to about 1e-16; the mesh file keeps eight digits).
    std::istringstream in(mgn_read_file(dir + "/out.msh"));
    std::string line;
    std::getline(in, line);
    std::getline(in, line);
    long nodes = 0;
    std::istringstream(line) >> nodes;
    std::getline(in, line);
    for (long k = 0; k < nodes && std::getline(in, line); ++k) {
      std::istringstream row(line);
      long id;
      double x, y, z;
      row >> id >> x >> y >> z;
      EXPECT_NEAR(std::sqrt(x * x + y * y + z * z), 2.0, 1e-6) << "node " << id;
    }
  }
  for (std::size_t k = 1; k < runs.size(); ++k) {
    EXPECT_GT(runs[k].mean, runs[0].mean) << "run " << k;
    EXPECT_GT(runs[k].worst, runs[0].worst) << "run " << k;
  }
}

}  // namespace
