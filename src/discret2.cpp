// Surface triangulation by an advancing front on the surface.
//
// Every generation step works on one front edge A-B and its free side: the
// ideal apex P is placed at a height that follows the octree size field and
// clipped onto the surface; front nodes near P, A and B (found through the
// octree) are scored by the angle under which they see the base edge; the
// widest-angle node inside the circle through A, B and P, or P itself, is
// taken when the new triangle is valid.  Validity is decided in a plane map
// of the neighbourhood: the exact plane for a planar entity, else the
// tangent plane of the nearer base node reached through the parameters
// (an affine image of the parameter square, so that all the tests of one
// entity agree with one another).  A triangle is valid when it turns
// counterclockwise, holds no front node and none of its two new edges
// crosses a front edge; the front then stays a valid planar straight-line
// graph of the parameter square and can always be closed.  When the local
// search finds nothing valid, the greater search takes the widest-angle
// front node visible from the base edge, which always exists for a valid
// front (the constrained Delaunay triangle on that edge).
#include "discret2.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "bezier.h"
#include "element.h"
#include "geom.h"
#include "input3.h"
#include "list.h"
#include "mesh1.h"
#include "mesh4.h"
#include "message.h"
#include "octree.h"
#include "project.h"
#include "smooth.h"
#include "vec3.h"
#include "vertex.h"

mgn_surface_scratch mgn_surface_work;

namespace {

// Front count of a vertex lying alone inside the entity, reset to 0 when a
// face first reaches it.
constexpr int32_t kIsolated = 12345;
// Deepest recursion of generations on edges that cross a new edge.
constexpr int kMaxDepth = 5;
// Retries of the local search after a recursive generation.
constexpr int kMaxRetries = 3;

// Routine names of the error reports: the steps of one generation report as
// the generation or as its neighbourhood search, the front check as the
// check of the nodes' data.
constexpr const char* kGenerateFace = "mgn_generate_face";
constexpr const char* kSearchNeighbourhood = "mgn_search_surface_point_neighbourhood";
constexpr const char* kGenerateQuad = "mgn_generate_quad";

// Marks the outer side of a boundary edge: never a free side.
mgn_face closed_side_face{};
mgn_face* const kClosed = &closed_side_face;

// ---------------------------------------------------------------------------
// Front state of the entity
// ---------------------------------------------------------------------------

// A curve of the front: its edges in walking order and the side each edge
// is worked on (2: both).
struct front_curve {
  mgn_curve* curve;
  std::vector<mgn_edge*> edges;
  std::vector<int8_t> sides;
};

struct front_state {
  std::vector<front_curve> curves;      // visiting order
  std::vector<mgn_node*> boundary;      // nodes of the curves and fixed vertices
  double max_edge = 0.0;                // longest front edge met
  bool region_warning_given = false;
};
// ---------------------------------------------------------------------------
// Candidates and buffers of one search
// ---------------------------------------------------------------------------

struct candidate {
  mgn_node* node;
  double score;   // cosine of the angle at the node, curvature corrected; 2 rejected
  double weight;  // curvature weight
  double da, db;  // distances to A and B
  bool neighbour;
  bool over_curve;
};

struct search_buffers {
  std::vector<candidate> candidates;
  std::vector<mgn_node*> nodes;   // front nodes near the base edge (A and B excluded)
  std::vector<mgn_edge*> edges;   // front edges at those nodes and at A and B
  std::vector<mgn_octant*> octants;
  mgn_octant* found[MGN_OCTANTS];
  int32_t mark = 0;  // node mark of the last gathering
};
// ---------------------------------------------------------------------------
// The context of the mesher
// ---------------------------------------------------------------------------

// Everything the mesher works with, filled once per entity by
// mgn_set_current_surface: the entity and its geometry, the settings and
// tolerances it meshes by, the octree, the regions of the model, and the
// working state of its front.  No step reads the global settings, the
// octree root or the model lists; the messages take the entity's word and
// identifier from here.
struct surface_mesher {
  // The entity.
  int kind = MGN_SURFACE;           // 2 surface, 4 patch, 5 shell
  void* entity = nullptr;
  long id = 0;
  const char* word = "surface";
  mgn_surface* geometry = nullptr;  // the surface evaluated (a patch's or shell's background)
  bool planar = false;              // one fixed unit normal replaces evaluation
  double normal[3] = {0.0, 0.0, 0.0};
  bool sides = false;               // faces get side cells (the entity bounds a region)
  bool collapsed[4] = {false, false, false, false};  // collapsed sides of the geometry
  mgn_listing** nodes = nullptr;    // the entity's listings of references
  mgn_listing** edges = nullptr;
  mgn_listing** faces = nullptr;
  mgn_listing** quads = nullptr;
  int32_t stamp = 0;                // marks the edges of the current front structure
  // Settings and tolerances.
  bool curvature_violation = false;  // -C: faces may fold over a curvature too strong for the size
  double eps = 0.0, eps2 = 0.0;      // geometric tolerance and its square
  double user_eps = 0.0;             // -e
  // The octree: its root and box.
  mgn_octant* root = nullptr;
  double root_min[3] = {0.0, 0.0, 0.0};
  double root_max[3] = {0.0, 0.0, 0.0};
  // The regions of the model (the degeneracy warning looks for them).
  mgn_list regions = nullptr;
  // Working state: the front of the entity, the buffers of the searches
  // (one per recursion depth), the running node marks (node->work, a new
  // value for every gathering) and stamps of front structures, and the
  // nodes that left the front during the current top-level generation.
  front_state front;
  search_buffers buffers[kMaxDepth + 2];
  int32_t mark_counter = 0;
  int32_t stamp_counter = 0;
  std::vector<mgn_node*> left_nodes;
  // Quad meshing: the front builds each quad as two triangles on its
  // diagonal, listed here until the front is closed and they are merged.
  bool quad = false;
  std::vector<std::pair<mgn_face*, mgn_face*>> pairs;
};
surface_mesher ctx;

int32_t new_mark() {
  if (++ctx.mark_counter <= 0) ctx.mark_counter = 1;
  return ctx.mark_counter;
}

// The entity being meshed is noted first, so that the partial output holds
// its faces and nodes as far as the front got.
[[noreturn]] void fail(const std::string& message, const char* routine, int line) {
  mgn_note_partial_entity(ctx.kind, ctx.entity);
  mgn_manipulation_error(message, routine, mgn_module_name(__FILE__), line);
}
[[noreturn]] void unexpected(const char* routine, int line) {
  fail("Unexpected situation", routine, line);
}

// ---------------------------------------------------------------------------
// Small vector helpers
// ---------------------------------------------------------------------------

// Cosine of the angle a c b at c.
double angle_cosine(const double* a, const double* b, const double* c) {
  double u[3], v[3];
  mgn_sub(a, c, u);
  mgn_sub(b, c, v);
  const double l = std::sqrt(mgn_dot(u, u) * mgn_dot(v, v));
  if (!(l > 0.0)) return 1.0;
  return std::clamp(mgn_dot(u, v) / l, -1.0, 1.0);
}
inline double orient2(const double* a, const double* b, const double* c) {
  return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

inline mgn_surface_data* data_of(const mgn_node* node) {
  return static_cast<mgn_surface_data*>(node->aux);
}
// (q - p) x (r - p): twice the area vector of the triangle p q r.
void triangle_normal(const mgn_node* p, const mgn_node* q, const mgn_node* r, double c[3]) {
  double u[3], v[3];
  mgn_sub(q->xyz, p->xyz, u);
  mgn_sub(r->xyz, p->xyz, v);
  mgn_cross(u, v, c);
}
// Whether the area vector c of a triangle agrees with the surface normals
// of its nodes that have regular data.
bool agrees_with_normals(const double* c, const mgn_node* p, const mgn_node* q, const mgn_node* r) {
  for (const mgn_node* n : {p, q, r}) {
    const mgn_surface_data* d = data_of(n);
    if (d != nullptr && !d->singular && !(mgn_dot(c, d->normal) > 0.0)) return false;
  }
  return true;
}
inline bool boundary_node(const mgn_node* node) {
  return node->kind == MGN_VERTEX || node->kind == MGN_CURVE;
}
inline bool interior_node(const mgn_node* node) { return !boundary_node(node); }

std::string where(const char* format, const double* p) {
  return mgn_format(format, ctx.word, ctx.id, p[0], p[1], p[2]);
}

// Front structure of the current entity: its edges carry the entity stamp
// in their work field (new edges and the edges of its curves).
inline bool in_structure(const mgn_edge* edge) { return edge->work == ctx.stamp && edge->id != 0; }
inline bool on_front(const mgn_edge* edge) { return in_structure(edge) && edge->free_sides > 0; }

// Side of the edge on which the face lies: 0 when the face runs the edge
// from n[0] to n[1] (the face is on its left), else 1.
int face_side(const mgn_face* face, const mgn_edge* edge) {
  for (int i = 0; i < 3; ++i)
    if (face->n[i] == edge->n[0] && face->n[(i + 1) % 3] == edge->n[1]) return 0;
  return 1;
}

// The edge of the front structure joining the nodes (edges of other
// entities between them are passed over), or null.
mgn_edge* find_structure_edge(const mgn_node* a, const mgn_node* b) {
  for (mgn_edge* edge : mgn_node_edges(a)) {
    if ((edge->n[0] == b || edge->n[1] == b) && in_structure(edge)) return edge;
  }
  return nullptr;
}

// Records given back to the scratch are chained through their first bytes.
template <typename T>
void push_free(T*& head, T* record) {
  std::memcpy(static_cast<void*>(record), &head, sizeof head);
  head = record;
}
template <typename T>
T* pop_free(T*& head, std::size_t bytes) {
  T* record = head;
  if (record != nullptr) {
    std::memcpy(&head, static_cast<const void*>(record), sizeof head);
    std::memset(static_cast<void*>(record), 0, bytes);
  }
  return record;
}

// Side slots: the face on each side of an edge of the front (null: open,
// kClosed: outside the entity).  An edge the front creates carries at most
// its two faces, one on each side, so its face slots serve as its side
// slots; an edge taken over from another entity (a curve edge) gets slots of
// its own while the front holds it (mgn_edge_sides).
inline mgn_face** sides_of(mgn_edge* edge) { return mgn_edge_sides(edge); }
inline mgn_face* const* sides_of(const mgn_edge* edge) { return mgn_edge_sides(edge); }

// Side slots for an edge taken over by the front.
mgn_face** take_over_sides(mgn_edge* edge) {
  mgn_edge_more* more = mgn_get_edge_more(edge);
  more->has_sides = true;
  return more->sides;
}

// Gives the side slots of a taken-over edge back when the entity is done.
void release_sides(mgn_edge* edge) {
  if (!mgn_edge_has_side_slots(edge)) return;
  mgn_edge_more* more = mgn_find_edge_more(edge);
  more->has_sides = false;
  more->sides[0] = more->sides[1] = nullptr;
}

// ---------------------------------------------------------------------------
// Surface data
// ---------------------------------------------------------------------------

mgn_surface_data* new_data() {
  if (mgn_surface_data* d = pop_free(mgn_surface_work.free_data, sizeof(mgn_surface_data))) return d;
  if (mgn_surface_work.data == nullptr) mgn_create_surface_scratch();
  return mgn_get_listing_item_as<mgn_surface_data>(mgn_surface_work.data);
}

// Gives the surface data of a node back.
void release_data(mgn_node* node) {
  if (node->aux == nullptr) return;
  push_free(mgn_surface_work.free_data, static_cast<mgn_surface_data*>(node->aux));
  node->aux = nullptr;
}

// Fills the data at (u, v) (the point too, when asked): derivatives, unit
// normal, and the singular mark where the normal does not exist.
void evaluate_data(mgn_surface_data* d, double u, double v, double* point) {
  double p[3];
  d->u = u;
  d->v = v;
  mgn_get_surface_point_derivatives(ctx.geometry, u, v, p, d->su, d->sv);
  if (point != nullptr) mgn_copy3(point, p);
  d->singular = 0;
  double a[3], b[3];
  mgn_copy3(a, d->su);
  mgn_copy3(b, d->sv);
  if (mgn_dot(a, a) < ctx.eps2) mgn_get_surface_tangent_u(ctx.geometry, u, v, a);
  if (mgn_dot(b, b) < ctx.eps2) mgn_get_surface_tangent_v(ctx.geometry, u, v, b);
  const bool tangents = mgn_normalize(a) && mgn_normalize(b);
  if (ctx.planar) {
    mgn_copy3(d->normal, ctx.normal);
    if (!tangents) d->singular = 1;
    return;
  }
  double n[3] = {0.0, 0.0, 0.0};
  if (tangents) mgn_cross(a, b, n);
  if (!tangents || mgn_dot(n, n) < 1e-20) {
    d->singular = 1;
    d->normal[0] = d->normal[1] = d->normal[2] = 0.0;
    return;
  }
  mgn_normalize(n);
  mgn_copy3(d->normal, n);
}

// Records of the front given back during meshing.  An interior node of the
// entity whose data is regular had its data evaluated at its parameters
// when it was created; once it has left the front, only the swap across a
// base edge reads that data again, and evaluates it anew (restored_data).
// The data goes back when the top-level generation that took the node off
// the front ends, since it and the generations it recursed into may still
// read it.
void note_left_front(mgn_node* node) {
  // A quad request keeps the data of every node until the entity is done:
  // the quad clean-up (after the front and around each smoothing pass)
  // judges turning and convexity by the surface normals of the nodes.
  if (ctx.quad) return;
  const auto* d = static_cast<const mgn_surface_data*>(node->aux);
  if (node->front_count == 0 && d != nullptr && !d->singular && node->kind == ctx.kind &&
      node->entity == ctx.entity && node->parameters != nullptr)
    ctx.left_nodes.push_back(node);
}
void release_left_records() {
  for (mgn_node* node : ctx.left_nodes)
    if (node->front_count == 0) release_data(node);
  ctx.left_nodes.clear();
}

// The surface data of a node that gave it back, evaluated again at its
// parameters and attached to the node while the holder lives.
class restored_data {
 public:
  explicit restored_data(mgn_node* node) {
    if (node->aux != nullptr) return;
    if (node->parameters == nullptr) unexpected(kGenerateFace, __LINE__);
    evaluate_data(&data_, node->parameters[0], node->parameters[1], nullptr);
    node->aux = &data_;
    node_ = node;
  }
  ~restored_data() {
    if (node_ != nullptr) node_->aux = nullptr;
  }
  restored_data(const restored_data&) = delete;
  restored_data& operator=(const restored_data&) = delete;

 private:
  mgn_node* node_ = nullptr;
  mgn_surface_data data_{};
};

// Parameters of a node as seen from a partner node: a node on a collapsed
// side stands for the whole side, and takes there the free parameter of its
// partner.
void effective_uv(const mgn_node* node, const mgn_node* partner, double uv[2]) {
  const mgn_surface_data* d = data_of(node);
  uv[0] = d->u;
  uv[1] = d->v;
  if (!d->singular || partner == nullptr) return;
  const mgn_surface_data* q = data_of(partner);
  if ((ctx.collapsed[0] && d->v == 0.0) || (ctx.collapsed[2] && d->v == 1.0))
    uv[0] = q->u;
  else if ((ctx.collapsed[1] && d->u == 0.0) || (ctx.collapsed[3] && d->u == 1.0))
    uv[1] = q->v;
}

// Normal of the surface at (u, v) from the unit derivatives; false when it
// does not exist there.
bool normal_at(double u, double v, double n[3], double* su_length = nullptr,
               double* sv_length = nullptr) {
  double p[3], a[3], b[3];
  mgn_get_surface_point_derivatives(ctx.geometry, u, v, p, a, b);
  const double la = mgn_norm(a), lb = mgn_norm(b);
  if (su_length) *su_length = la;
  if (sv_length) *sv_length = lb;
  if (!(la > 0.0) || !(lb > 0.0)) return false;
  for (int k = 0; k < 3; ++k) {
    a[k] /= la;
    b[k] /= lb;
  }
  mgn_cross(a, b, n);
  if (mgn_dot(n, n) < 1e-20) return false;
  mgn_normalize(n);
  return true;
}

// ---------------------------------------------------------------------------
// Plane map of a neighbourhood
// ---------------------------------------------------------------------------

struct plane_map {
  bool by_xyz = true;
  double o[3] = {0, 0, 0}, e1[3] = {1, 0, 0}, e2[3] = {0, 1, 0};
  double uv0[2] = {0, 0};
  double m[4] = {1, 0, 0, 1};
};

// The map at a base node (whose data must be regular on a curved entity).
void make_map(plane_map& map, const mgn_node* base, const double* direction) {
  if (ctx.planar) {
    map.by_xyz = true;
    mgn_copy3(map.o, base->xyz);
    double e1[3];
    mgn_copy3(e1, direction);
    const double dn = mgn_dot(e1, ctx.normal);
    for (int k = 0; k < 3; ++k) e1[k] -= dn * ctx.normal[k];
    if (!mgn_normalize(e1)) {
      // Any direction of the plane.
      const double* n = ctx.normal;
      const double t[3] = {std::fabs(n[0]) < 0.9 ? 1.0 : 0.0, std::fabs(n[0]) < 0.9 ? 0.0 : 1.0, 0.0};
      mgn_cross(n, t, e1);
      mgn_normalize(e1);
    }
    mgn_copy3(map.e1, e1);
    mgn_cross(ctx.normal, e1, map.e2);
    return;
  }
  const mgn_surface_data* d = data_of(base);
  map.by_xyz = false;
  map.uv0[0] = d->u;
  map.uv0[1] = d->v;
  double e1[3], e2[3];
  mgn_copy3(e1, d->su);
  if (!mgn_normalize(e1))
    fail(mgn_format("Intersection check failure (bad parameterization of surface %ld at u = %f, v = %f)",
                    static_cast<long>(ctx.geometry->id), d->u, d->v),
         __func__, __LINE__);
  mgn_cross(d->normal, e1, e2);
  if (!mgn_normalize(e2))
    fail(mgn_format("Intersection check failure (bad parameterization of surface %ld at u = %f, v = %f)",
                    static_cast<long>(ctx.geometry->id), d->u, d->v),
         __func__, __LINE__);
  map.m[0] = mgn_dot(d->su, e1);
  map.m[1] = mgn_dot(d->sv, e1);
  map.m[2] = mgn_dot(d->su, e2);
  map.m[3] = mgn_dot(d->sv, e2);
}

inline void map_uv(const plane_map& map, const double uv[2], double out[2]) {
  const double du = uv[0] - map.uv0[0], dv = uv[1] - map.uv0[1];
  out[0] = map.m[0] * du + map.m[1] * dv;
  out[1] = map.m[2] * du + map.m[3] * dv;
}
inline void map_xyz(const plane_map& map, const double* x, double out[2]) {
  double r[3];
  mgn_sub(x, map.o, r);
  out[0] = mgn_dot(r, map.e1);
  out[1] = mgn_dot(r, map.e2);
}
// A node, seen from its partner in a segment (null: alone).
void map_node(const plane_map& map, const mgn_node* node, const mgn_node* partner, double out[2]) {
  if (map.by_xyz) {
    map_xyz(map, node->xyz, out);
    return;
  }
  double uv[2];
  effective_uv(node, partner, uv);
  map_uv(map, uv, out);
}

// Whether the closed segments p1 p2 and q1 q2 meet (touching counts), with a
// tolerance relative to their lengths.  t receives the parameter of the
// meeting point along p1 p2.
bool segments_meet(const double* p1, const double* p2, const double* q1, const double* q2, double* t) {
  const double dx = p2[0] - p1[0], dy = p2[1] - p1[1];
  const double ex = q2[0] - q1[0], ey = q2[1] - q1[1];
  const double lp = dx * dx + dy * dy, lq = ex * ex + ey * ey;
  const double tol = 1e-10;
  // Quick rejection by boxes.
  const double pad = 1e-9 * std::sqrt(std::max(lp, lq));
  if (std::max(p1[0], p2[0]) + pad < std::min(q1[0], q2[0]) || std::max(q1[0], q2[0]) + pad < std::min(p1[0], p2[0]) ||
      std::max(p1[1], p2[1]) + pad < std::min(q1[1], q2[1]) || std::max(q1[1], q2[1]) + pad < std::min(p1[1], p2[1]))
    return false;
  const double a1 = orient2(p1, p2, q1), a2 = orient2(p1, p2, q2);
  const double b1 = orient2(q1, q2, p1), b2 = orient2(q1, q2, p2);
  const double ta = tol * lp * std::sqrt(lq / std::max(lp, 1e-300));
  const double tb = tol * lq * std::sqrt(lp / std::max(lq, 1e-300));
  const double sa1 = std::fabs(a1) <= ta ? 0.0 : a1, sa2 = std::fabs(a2) <= ta ? 0.0 : a2;
  const double sb1 = std::fabs(b1) <= tb ? 0.0 : b1, sb2 = std::fabs(b2) <= tb ? 0.0 : b2;
  if ((sa1 > 0 && sa2 > 0) || (sa1 < 0 && sa2 < 0)) return false;
  if ((sb1 > 0 && sb2 > 0) || (sb1 < 0 && sb2 < 0)) return false;
  if (sa1 == 0.0 && sa2 == 0.0) {
    // Collinear: overlap of the projections onto p1 p2.
    if (!(lp > 0.0)) return false;
    const double s1 = ((q1[0] - p1[0]) * dx + (q1[1] - p1[1]) * dy) / lp;
    const double s2 = ((q2[0] - p1[0]) * dx + (q2[1] - p1[1]) * dy) / lp;
    const double lo = std::max(0.0, std::min(s1, s2)), hi = std::min(1.0, std::max(s1, s2));
    if (lo > hi + 1e-12) return false;
    *t = lo;
    return true;
  }
  const double den = b1 - b2;
  *t = den != 0.0 ? std::clamp(b1 / den, 0.0, 1.0) : 0.0;
  return true;
}

// Whether c lies inside the triangle a b x (counterclockwise) or on one of
// its sides (away from the corners).
bool inside_triangle(const double* a, const double* b, const double* x, const double* c, double scale2) {
  const double tol = 1e-10 * scale2;
  const double o1 = orient2(a, b, c), o2 = orient2(b, x, c), o3 = orient2(x, a, c);
  if (o1 < -tol || o2 < -tol || o3 < -tol) return false;
  // Too near a corner: the corner itself.
  const double near = 1e-16 * scale2;
  auto d2 = [](const double* p, const double* q) {
    return (p[0] - q[0]) * (p[0] - q[0]) + (p[1] - q[1]) * (p[1] - q[1]);
  };
  if (d2(a, c) <= near || d2(b, c) <= near || d2(x, c) <= near) return false;
  return true;
}

// Scratch state of one generation.
struct generation {
  mgn_edge* edge = nullptr;
  int side = 0;
  int depth = 0;
  mgn_node* a = nullptr;
  mgn_node* b = nullptr;
  double na[3], nb[3];  // normals at A and B (singular ones replaced)
  double L = 0.0, sa = 0.0, sb = 0.0, h = 0.0;
  double m[3], mid[3], d[3], n[3], p[3];
  // Ideal point (projected) and its data.
  double ideal[3];
  mgn_surface_data pd;
  bool boundary = false;
  double height = 0.0;
  double size_p = 0.0;  // octree size at the ideal point
  double ref_score = 0.0, ref_weight = 1.0;
  // Neighbour front nodes of A and B.
  mgn_node* ngb_a = nullptr;
  mgn_node* ngb_b = nullptr;
  bool ngb_a_curve = false, ngb_b_curve = false;
  // Result of the search.
  double best = 0.0, best_weight = 1.0;
  mgn_octant* hint = nullptr;
  search_buffers* buf = nullptr;
  // Quad front: the step (0 a plain triangle, 1 the first half of a quad
  // with its right angle at A or at B, 2 the second half on the first's
  // diagonal); the openings of the front at A and at B (the angle from the
  // base to the neighbour front edge, 10 when there is none); the node the
  // step closes with when it may; the face made.
  int quad_step = 0;
  bool over_a = false;
  double open_a = 10.0, open_b = 10.0;
  mgn_node* prefer = nullptr;
  mgn_face* made = nullptr;
  // The second half: the first half of its quad, and the quad's fourth
  // corner it aims at (when has_corner) with the size there.
  const mgn_face* first = nullptr;
  bool has_corner = false;
  double corner[3];
  double corner_size = 0.0;
};

void generate(mgn_edge* edge, int side, int depth);

// ---------------------------------------------------------------------------
// Ideal point
// ---------------------------------------------------------------------------

// Curvature weight of a normal against the working normal.
double curvature_weight(const generation& g, const double* normal) {
  if (ctx.planar) return 1.0;
  const double w = 1.0 - mgn_dot(normal, g.n);
  double weight = w / (-1.5 - 0.5 * w) + 1.0;
  if (weight < 0.0) {
    if (!ctx.curvature_violation) unexpected(kSearchNeighbourhood, __LINE__);
    weight = 0.0;
  }
  return weight;
}

// Height of the ideal apex over a base of length L where the size h is
// wanted: the height of the equilateral triangle, sqrt(3)/2 h (the factor
// to nine digits); a base shorter than 0.85 h raises it toward h, a base
// longer than h / 0.95 lowers it, so that the new sides come out near h.
constexpr double kEquilateralHeight = 0.866025403;
constexpr double kShortBase = 0.85;
constexpr double kLongBase = 0.95;
constexpr double kLongBaseFlattening = 0.75;
// The size correction changes the height by at most a factor of 2 up and
// 2/3 down (to eight digits), weighted by 9/8 toward a smaller size at the
// apex and by 1/2 toward a larger one.
constexpr double kMaxHeightGrowth = 2.0;
constexpr double kMaxHeightShrink = 0.66666667;
constexpr double kShrinkWeight = 1.125;
constexpr double kGrowthWeight = 0.5;
// The ideal point on a curved entity is clipped again with a working normal
// until it lies at least sqrt(0.8) of the height from the base; after 5
// tries a point under 1/4 of the height is a failure.  Where the surface
// turns away (its normal against a base normal), the height is cut by 0.9
// per try down to 1/10; a point left under 1/10 of the height then is not
// usable.  A step that gains less than 0.9 of the distance of the previous
// one is cut down to the size at the point.  With curvature violation, a
// second round accepts normals up to 120 degrees apart (cosine -1/2).
constexpr double kHeightReached2 = 0.8;
constexpr int kMaxIdealTries = 5;
constexpr double kHeightStalled2 = 0.0625;
constexpr double kHeightCollapsed2 = 0.01;
// The same for the side point of a quad, which must come nearer its
// height: more than half of it after the tries, more than a quarter after
// a turn-back (the squares of those fractions).
constexpr double kQuadHeightStalled2 = 0.25;
constexpr double kQuadHeightCollapsed2 = 0.0625;
constexpr double kTurnCut = 0.9;
constexpr double kMinTurnCut = 0.1;
constexpr double kSlowStep2 = 0.81;
constexpr double kCosine120 = -0.5;

// Height factor of the size correction at a point whose octree size is s.
double corrected_height(const generation& g, double t, double s) {
  const double h = g.h;
  const double r = t + h - s;
  double f;
  if (h <= s) {
    f = (r > 0.0 && t <= kMaxHeightGrowth * r) ? t / r : kMaxHeightGrowth;
  } else {
    f = (kMaxHeightShrink * r <= t) ? t / r : kMaxHeightShrink;
  }
  if (s < h) f = 1.0 - kShrinkWeight * (1.0 - f);
  if (h < s) f = 1.0 + kGrowthWeight * (f - 1.0);
  return t * f;
}

double size_at(generation& g, const double* x) { return mgn_get_octree_mesh_size(&g.hint, x, false); }

// Within 1e-9 of a bound counts as on it, the distance at which the clip
// snaps a parameter to a bound after a step it cut: steps that merely add up
// to a bound stop a rounding error short of it (at a collapsed side, on the
// singular pole).
bool on_parameter_boundary(double u, double v) {
  constexpr double kSnap = 1e-9;
  return u <= kSnap || u >= 1.0 - kSnap || v <= kSnap || v >= 1.0 - kSnap;
}

// Clips the point onto the surface from the start data; the result data
// and point go to g.pd and out.  False when the clip failed.
bool clip_point(generation& g, const mgn_surface_data& start, const double* start_point, const double* target,
                double height, double* out) {
  double u = start.u, v = start.v;
  double n[3], su[3], sv[3], p[3];
  mgn_copy3(n, ctx.planar ? ctx.normal : start.normal);
  mgn_copy3(su, start.su);
  mgn_copy3(sv, start.sv);
  mgn_copy3(p, start_point);
  const double duv = std::max(std::fabs(data_of(g.a)->u - data_of(g.b)->u), std::fabs(data_of(g.a)->v - data_of(g.b)->v));
  const double tol_uv = std::max(0.1 * duv, 1e-12);
  const int ok = mgn_clip_point_surface(ctx.geometry, &u, &v, n, su, sv, p, target, height / 20.0, tol_uv, false);
  // The data at the final parameters.
  evaluate_data(&g.pd, u, v, out);
  if (!ok) g.pd.singular = 1;
  return ok != 0;
}

// The normal at the base and the direction from the base into the free
// side, in the tangent plane.
void compute_base_normal(generation& g) {
  mgn_surface_data* da = data_of(g.a);
  mgn_surface_data* db = data_of(g.b);
  if (ctx.planar) {
    mgn_copy3(g.na, ctx.normal);
    mgn_copy3(g.nb, ctx.normal);
    mgn_copy3(g.n, ctx.normal);
  } else if (da->singular || db->singular) {
    double ua[2], ub[2];
    effective_uv(g.a, g.b, ua);
    effective_uv(g.b, g.a, ub);
    double um = 0.5 * (ua[0] + ub[0]), vm = 0.5 * (ua[1] + ub[1]);
    const double du = std::fabs(ua[0] - ub[0]), dv = std::fabs(ua[1] - ub[1]);
    // Off a collapsed side by a twentieth of the base's extent across it.
    if (um == 0.0) um += 0.05 * dv;
    if (um == 1.0) um -= 0.05 * dv;
    if (vm == 0.0) vm += 0.05 * du;
    if (vm == 1.0) vm -= 0.05 * du;
    double n[3];
    if (!normal_at(um, vm, n)) {
      mgn_note_partial_edge(g.edge);
      fail(mgn_format(ctx.quad ? "Quad generation failure (bad parameterization of surface %ld at u = %f, v = %f)"
                               : "Face generation failure (bad parameterization of surface %ld at u = %f, v = %f)",
                      static_cast<long>(ctx.geometry->id), um, vm),
           kGenerateFace, __LINE__);
    }
    mgn_copy3(g.n, n);
    mgn_copy3(g.na, da->singular ? n : da->normal);
    mgn_copy3(g.nb, db->singular ? n : db->normal);
  } else {
    mgn_copy3(g.na, da->normal);
    mgn_copy3(g.nb, db->normal);
    const double c = mgn_dot(g.na, g.nb);
    if (c <= kCosine120) {
      mgn_note_partial_edge(g.edge);
      fail(where("Too coarse mesh required on %s %ld at x = %f, y = %f, z = %f", g.mid), kGenerateFace,
           __LINE__);
    }
    for (int k = 0; k < 3; ++k) g.n[k] = 0.5 * (g.na[k] + g.nb[k]);
    if (c < 1.0 - ctx.eps) {
      const double f = 1.0 / std::sqrt(0.5 * (1.0 + c));
      for (double& x : g.n) x *= f;
    }
  }
  // The direction from the base into the free side, in the tangent plane.
  mgn_cross(g.n, g.d, g.p);
  if (!mgn_normalize(g.p)) unexpected(kGenerateFace, __LINE__);
}

void compute_ideal_point(generation& g) {
  mgn_surface_data* da = data_of(g.a);
  mgn_surface_data* db = data_of(g.b);
  // The height over the base.
  const double h = g.h, L = g.L;
  double t = h;
  if (g.quad_step == 1) {
    // The side of a quad: the size at its base node, square to the base.
    mgn_copy3(g.m, g.over_a ? g.a->xyz : g.b->xyz);
  } else if (g.quad_step == 2 && g.has_corner) {
    // Toward the quad's fourth corner: from its foot on the diagonal,
    // square to the diagonal.
    double r[3];
    mgn_sub(g.corner, g.a->xyz, r);
    const double along = mgn_dot(r, g.d);
    for (int k = 0; k < 3; ++k) g.m[k] = g.a->xyz[k] + along * g.d[k];
    t = mgn_dot(r, g.p);
  } else if (g.quad_step == 2) {
    // Over a quad's diagonal: the right angle of the square's other half.
    mgn_copy3(g.m, g.mid);
    t = 0.5 * L;
  } else {
    if (L < kShortBase * h) t = (0.5 * (L / h - 1.0) + 1.0) * h;
    if (h < kLongBase * L) t = (1.0 - kLongBaseFlattening * (1.0 - h / L)) * (h / L) * t;
    t *= kEquilateralHeight;
  }
  const double t0 = t;
  // The second half of a quad keeps the shape the first half set.
  auto corrected = [&](double size) { return g.quad_step == 2 ? t0 : corrected_height(g, t0, size); };

  // The height corrected by the size at the apex.
  double x[3];
  for (int k = 0; k < 3; ++k) x[k] = g.m[k] + t * g.p[k];
  double s = size_at(g, x);
  double tp = corrected(s);
  double target[3];
  for (int k = 0; k < 3; ++k) target[k] = g.m[k] + tp * g.p[k];

  // The apex clipped onto the surface, starting from a base node with
  // regular data.
  const mgn_node* start_node = !da->singular ? g.a : (!db->singular ? g.b : nullptr);
  mgn_surface_data start;
  double start_point[3];
  if (start_node != nullptr) {
    start = *data_of(start_node);
    mgn_copy3(start_point, start_node->xyz);
  } else {
    double ua[2], ub[2];
    effective_uv(g.a, g.b, ua);
    effective_uv(g.b, g.a, ub);
    evaluate_data(&start, 0.5 * (ua[0] + ub[0]), 0.5 * (ua[1] + ub[1]), start_point);
  }
  bool clipped = clip_point(g, start, start_point, target, tp, g.ideal);
  g.boundary = on_parameter_boundary(g.pd.u, g.pd.v);

  // On a curved entity, clipped again until the height is reached.
  if (!ctx.planar && !g.boundary) {
    const bool violation_allowed = ctx.curvature_violation;
    bool second = false;
    bool turned = false;
    double shrink = 1.0;
    double previous = 0.0;
    int k = 0;
    double q = 0.0;
    for (;;) {
      ++k;
      const double d2 = mgn_get_point_square_distance(g.ideal, g.m);
      q = d2 / (tp * tp);
      if (q > kHeightReached2) break;
      if (turned) {
        if (!violation_allowed || second) {
          if (q > (ctx.quad ? kQuadHeightCollapsed2 : kHeightCollapsed2)) break;
          if (!violation_allowed) {
            mgn_note_partial_edge(g.edge);
            fail(where("Too coarse mesh required on %s %ld at x = %f, y = %f, z = %f", g.ideal), kGenerateFace,
                 __LINE__);
          }
          break;
        }
        second = true;
        k = 0;
        shrink = 1.0;
      }
      if (k > kMaxIdealTries) {
        if (q > (ctx.quad ? kQuadHeightStalled2 : kHeightStalled2)) break;
        mgn_note_partial_edge(g.edge);
        if (ctx.quad)
          fail(mgn_format("Left ideal point on %s %ld not reached after %d iterations (x = %f, y = %f, z = %f)",
                          ctx.word, ctx.id, kMaxIdealTries, g.ideal[0], g.ideal[1], g.ideal[2]),
               kGenerateQuad, __LINE__);
        fail(mgn_format("Ideal point on %s %ld not reached after %d iterations (x = %f, y = %f, z = %f)", ctx.word,
                        ctx.id, k, g.ideal[0], g.ideal[1], g.ideal[2]),
             kGenerateFace, __LINE__);
      }
      if (d2 < ctx.eps2 || !clipped || g.pd.singular) unexpected(kGenerateFace, __LINE__);
      // Working normal: the mean of the base normal and the normal there.
      double w[3];
      for (int i = 0; i < 3; ++i) w[i] = g.n[i] + g.pd.normal[i];
      if (!mgn_normalize(w)) unexpected(kGenerateFace, __LINE__);
      double pw[3];
      mgn_cross(w, g.d, pw);
      if (!mgn_normalize(pw)) unexpected(kGenerateFace, __LINE__);
      mgn_copy3(g.p, pw);
      s = size_at(g, g.ideal);
      tp = corrected(s) * shrink;
      if (previous > 0.0 && d2 > kSlowStep2 * previous && s > 0.0) tp *= std::min(1.0, tp / s);
      previous = d2;
      const mgn_surface_data from = g.pd;
      const double from_point[3] = {g.ideal[0], g.ideal[1], g.ideal[2]};
      for (int i = 0; i < 3; ++i) target[i] = g.m[i] + tp * g.p[i];
      clipped = clip_point(g, from, from_point, target, tp, g.ideal);
      turned = false;
      const double limit = second ? kCosine120 : 0.0;
      while (!g.pd.singular && (mgn_dot(g.pd.normal, g.na) < limit || mgn_dot(g.pd.normal, g.nb) < limit)) {
        turned = true;
        tp *= kTurnCut;
        shrink *= kTurnCut;
        if (shrink < kMinTurnCut) {
          if (violation_allowed && !second) {
            second = true;
            shrink = 1.0;
            tp = corrected(s);
          } else {
            mgn_note_partial_edge(g.edge);
            if (ctx.quad)
              fail(where("Creation of left face of ideal quad failure on %s %ld at x = %f, y = %f, z = %f", g.ideal),
                   kGenerateQuad, __LINE__);
            fail(where("Creation of ideal face failure on %s %ld at x = %f, y = %f, z = %f", g.ideal),
                 kGenerateFace, __LINE__);
          }
        }
        for (int i = 0; i < 3; ++i) target[i] = g.m[i] + tp * g.p[i];
        clipped = clip_point(g, from, from_point, target, tp, g.ideal);
      }
      if (on_parameter_boundary(g.pd.u, g.pd.v)) {
        g.boundary = true;
        break;
      }
    }
    // A point projected farther from the base than twice the height is
    // expected where the base is a long chord of a curved side: the chord
    // midpoint lies off the surface by the sag.  Only a point farther than
    // the base length as well means the projection went astray.
    const double reach = std::max(tp, 0.5 * L);
    if (mgn_get_point_square_distance(g.ideal, g.m) > 4.0 * reach * reach) unexpected(kGenerateFace, __LINE__);
  }
  g.height = tp;
  g.size_p = size_at(g, g.ideal);
  if (g.pd.singular && !ctx.planar) mgn_copy3(g.pd.normal, g.n);
  // Reference score: the angle A P B, curvature corrected.
  g.ref_weight = curvature_weight(g, g.pd.normal);
  g.ref_score = (angle_cosine(g.a->xyz, g.b->xyz, g.ideal) - 1.0) * g.ref_weight + 1.0;
}

// ---------------------------------------------------------------------------
// Front branches at the base nodes
// ---------------------------------------------------------------------------

// Counterclockwise angle (0, 2 pi] from u to v in the plane normal to n.
double ccw_angle(const double* n, const double* u, const double* v) {
  double a[3], b[3];
  mgn_copy3(a, u);
  mgn_copy3(b, v);
  const double an = mgn_dot(a, n), bn = mgn_dot(b, n);
  for (int k = 0; k < 3; ++k) {
    a[k] -= an * n[k];
    b[k] -= bn * n[k];
  }
  double c[3];
  mgn_cross(a, b, c);
  double angle = std::atan2(mgn_dot(c, n), mgn_dot(a, b));
  if (angle <= 0.0) angle += 2.0 * MGN_PI;
  return angle;
}

// The neighbour front nodes of the base (the branch check): the front
// continues as ... -> Y -> A -> B -> Z -> ...; where several front branches
// meet at A (or B), the branch reached first turning from the base edge into
// the free side is the one that bounds the free sector of the base.
void mgn_check_surface_branche(generation& g) {
  g.ngb_a = g.ngb_b = nullptr;
  g.ngb_a_curve = g.ngb_b_curve = false;
  double best_a = 10.0, best_b = 10.0;
  double ab[3], ba[3];
  mgn_sub(g.b->xyz, g.a->xyz, ab);
  mgn_sub(g.a->xyz, g.b->xyz, ba);
  for (int end = 0; end < 2; ++end) {
    mgn_node* node = end == 0 ? g.a : g.b;
    const double* n = end == 0 ? g.na : g.nb;
    for (mgn_edge* e : mgn_node_edges(node)) {
      if (e == g.edge || !on_front(e)) continue;
      for (int k = 0; k < 2; ++k) {
        if (sides_of(e)[k] != nullptr) continue;
        mgn_node* tail = k == 0 ? e->n[0] : e->n[1];
        mgn_node* head = k == 0 ? e->n[1] : e->n[0];
        double v[3];
        if (end == 0 && head == node) {
          mgn_sub(tail->xyz, node->xyz, v);
          const double angle = ccw_angle(n, ab, v);
          if (angle < best_a) {
            best_a = angle;
            g.ngb_a = tail;
            g.ngb_a_curve = e->kind == MGN_CURVE;
          }
        } else if (end == 1 && tail == node) {
          mgn_sub(head->xyz, node->xyz, v);
          const double angle = ccw_angle(n, v, ba);
          if (angle < best_b) {
            best_b = angle;
            g.ngb_b = head;
            g.ngb_b_curve = e->kind == MGN_CURVE;
          }
        }
      }
    }
  }
  g.open_a = best_a;
  g.open_b = best_b;
}

// ---------------------------------------------------------------------------
// Gathering of front nodes and edges
// ---------------------------------------------------------------------------

void gather_edges(generation& g, search_buffers& buf, int32_t mark) {
  buf.mark = mark;
  buf.edges.clear();
  auto add_edges_of = [&](mgn_node* node) {
    for (mgn_edge* e : mgn_node_edges(node)) {
      if (!on_front(e)) continue;
      mgn_node* other = e->n[0] == node ? e->n[1] : e->n[0];
      // Once per edge: from its first node when both ends were gathered.
      if (other->work == mark && e->n[0] != node) continue;
      buf.edges.push_back(e);
    }
  };
  add_edges_of(g.a);
  add_edges_of(g.b);
  for (mgn_node* node : buf.nodes) add_edges_of(node);
}

// Front nodes in the leaves near the ideal point and near A and B.
void gather_local(generation& g, search_buffers& buf) {
  const int32_t mark = new_mark();
  g.a->work = mark;
  g.b->work = mark;
  buf.nodes.clear();
  buf.octants.clear();
  auto add_octants = [&](mgn_octant* start, const double* x, double r) {
    const int count = mgn_collect_octree_neighbourhood(start, buf.found, x, r);
    for (int i = 0; i < count; ++i)
      if (std::find(buf.octants.begin(), buf.octants.end(), buf.found[i]) == buf.octants.end())
        buf.octants.push_back(buf.found[i]);
  };
  const double r_base = g.boundary ? 1.0 : 0.5;
  add_octants(g.hint != nullptr ? g.hint : g.a->octant, g.ideal, 1.0);
  add_octants(g.a->octant, g.a->xyz, r_base);
  add_octants(g.b->octant, g.b->xyz, r_base);
  for (mgn_octant* octant : buf.octants) {
    if (octant->state != MGN_OCTANT_NODES) continue;
    for (mgn_list_item* item = octant->nodes; item != nullptr; item = item->next) {
      auto* node = static_cast<mgn_node*>(item->object);
      if (node->front_count == 0 || node->work == mark || node->aux == nullptr) continue;
      node->work = mark;
      buf.nodes.push_back(node);
    }
  }
  for (mgn_node* node : {g.ngb_a, g.ngb_b}) {
    if (node != nullptr && node->work != mark) {
      node->work = mark;
      buf.nodes.push_back(node);
    }
  }
  gather_edges(g, buf, mark);
}

// Every leaf of the octree meeting the box.
template <typename F>
void for_each_leaf_in_box(mgn_octant* octant, const double* lo, const double* hi, F&& visit) {
  for (int k = 0; k < 3; ++k)
    if (octant->origin[k] > hi[k] || octant->origin[k] + octant->size < lo[k]) return;
  if (octant->state != MGN_OCTANT_DIVIDED) {
    visit(octant);
    return;
  }
  for (int k = 0; k < 8; ++k) for_each_leaf_in_box(mgn_octant_child(octant, k), lo, hi, visit);
}

// Front nodes in the box of half width r around the point; true when the
// box covers the whole tree.
bool gather_box(generation& g, search_buffers& buf, const double* centre, double r) {
  const int32_t mark = new_mark();
  g.a->work = mark;
  g.b->work = mark;
  buf.nodes.clear();
  double lo[3], hi[3];
  bool whole = true;
  for (int k = 0; k < 3; ++k) {
    lo[k] = centre[k] - r;
    hi[k] = centre[k] + r;
    if (lo[k] > ctx.root_min[k] || hi[k] < ctx.root_max[k]) whole = false;
  }
  for_each_leaf_in_box(ctx.root, lo, hi, [&](mgn_octant* leaf) {
    if (leaf->state != MGN_OCTANT_NODES) return;
    for (mgn_list_item* item = leaf->nodes; item != nullptr; item = item->next) {
      auto* node = static_cast<mgn_node*>(item->object);
      if (node->front_count == 0 || node->work == mark || node->aux == nullptr) continue;
      node->work = mark;
      buf.nodes.push_back(node);
    }
  });
  gather_edges(g, buf, mark);
  return whole;
}

// ---------------------------------------------------------------------------
// Validity of a triangle A B X
// ---------------------------------------------------------------------------

enum check_result { CHECK_OK, CHECK_REJECT, CHECK_CROSS };

// Segment pairs of one validity check beyond which the neighbourhood is
// reported as crowded (once per run).
constexpr long kIntersectionPairs = 160;

struct check_outcome {
  check_result result = CHECK_OK;
  mgn_edge* crossed = nullptr;
};

// The base node whose tangent plane maps the neighbourhood: the nearer to
// the apex of A and B with regular data.
const mgn_node* map_base(const generation& g, const double* apex) {
  const bool sa = data_of(g.a)->singular != 0, sb = data_of(g.b)->singular != 0;
  if (!ctx.planar && sa && sb)
    fail(mgn_format("Intersection check failure (poor parameterization of surface %ld)",
                    static_cast<long>(ctx.geometry->id)),
         kSearchNeighbourhood, __LINE__);
  if (sa) return g.b;
  if (sb) return g.a;
  return mgn_get_point_square_distance(apex, g.a->xyz) <= mgn_get_point_square_distance(apex, g.b->xyz) ? g.a : g.b;
}

// x null: the ideal point.  The new edges are A-X and B-X.
// A triangle whose doubled area is below this share of its longest side
// squared is flat: the front never makes one.
constexpr double kFlatTriangle = 1e-6;

check_outcome check_triangle(generation& g, search_buffers& buf, mgn_node* x) {
  check_outcome out;
  const double* apex = x != nullptr ? x->xyz : g.ideal;
  plane_map map;
  make_map(map, map_base(g, apex), g.d);
  double a2[2], b2[2], xa2[2], xb2[2];
  map_node(map, g.a, g.b, a2);
  map_node(map, g.b, g.a, b2);
  if (x != nullptr) {
    map_node(map, x, g.a, xa2);
    map_node(map, x, g.b, xb2);
  } else if (map.by_xyz) {
    map_xyz(map, g.ideal, xa2);
    xb2[0] = xa2[0];
    xb2[1] = xa2[1];
  } else {
    const double uv[2] = {g.pd.u, g.pd.v};
    map_uv(map, uv, xa2);
    xb2[0] = xa2[0];
    xb2[1] = xa2[1];
  }
  const double base2 = (b2[0] - a2[0]) * (b2[0] - a2[0]) + (b2[1] - a2[1]) * (b2[1] - a2[1]);
  if (!(base2 > 0.0)) {
    out.result = CHECK_REJECT;
    return out;
  }
  // Counterclockwise, and not flat: the doubled area is more than a
  // millionth of the longest side squared (an apex a few nanometres off
  // the base's line, such as a curve node level with a fixed inner curve,
  // would make a triangle with angles of a millionth of a degree).
  double longest2 = base2;
  for (const double* q : {xa2, xb2}) {
    longest2 = std::max(longest2, (q[0] - a2[0]) * (q[0] - a2[0]) + (q[1] - a2[1]) * (q[1] - a2[1]));
    longest2 = std::max(longest2, (q[0] - b2[0]) * (q[0] - b2[0]) + (q[1] - b2[1]) * (q[1] - b2[1]));
  }
  const double tol = std::max(1e-9 * base2, kFlatTriangle * longest2);
  if (!(orient2(a2, b2, xa2) > tol) || !(orient2(a2, b2, xb2) > tol)) {
    out.result = CHECK_REJECT;
    return out;
  }
  // Existing edges A-X and B-X must be open on the side of the face.
  if (x != nullptr) {
    if (mgn_edge* e = find_structure_edge(g.a, x)) {
      const int k = e->n[0] == x ? 0 : 1;  // the face runs X -> A
      if (e->free_sides == 0 || sides_of(e)[k] != nullptr) {
        out.result = CHECK_REJECT;
        return out;
      }
    }
    if (mgn_edge* e = find_structure_edge(g.b, x)) {
      const int k = e->n[0] == g.b ? 0 : 1;  // the face runs B -> X
      if (e->free_sides == 0 || sides_of(e)[k] != nullptr) {
        out.result = CHECK_REJECT;
        return out;
      }
    }
  }
  // No front node inside.
  double scale2 = base2;
  for (const double* q : {xa2, xb2}) {
    scale2 = std::max(scale2, (q[0] - a2[0]) * (q[0] - a2[0]) + (q[1] - a2[1]) * (q[1] - a2[1]));
    scale2 = std::max(scale2, (q[0] - b2[0]) * (q[0] - b2[0]) + (q[1] - b2[1]) * (q[1] - b2[1]));
  }
  for (mgn_node* c : buf.nodes) {
    if (c == x || data_of(c)->singular) continue;
    double c2[2];
    map_node(map, c, nullptr, c2);
    if (inside_triangle(a2, b2, xa2, c2, scale2) && inside_triangle(a2, b2, xb2, c2, scale2)) {
      out.result = CHECK_REJECT;
      return out;
    }
  }
  // The new edges cross no front edge; the nearest crossing is kept.
  double nearest = 2.0;
  long tested = 0;
  for (mgn_edge* e : buf.edges) {
    if (e == g.edge) continue;
    double q0[2], q1[2];
    map_node(map, e->n[0], e->n[1], q0);
    map_node(map, e->n[1], e->n[0], q1);
    for (int k = 0; k < 2; ++k) {
      mgn_node* from = k == 0 ? g.a : g.b;
      if (e->n[0] == from || e->n[1] == from) continue;
      if (x != nullptr && (e->n[0] == x || e->n[1] == x)) continue;
      const double* p1 = k == 0 ? a2 : b2;
      const double* p2 = k == 0 ? xa2 : xb2;
      ++tested;
      double t;
      if (segments_meet(p1, p2, q0, q1, &t) && t < nearest) {
        nearest = t;
        out.crossed = e;
      }
    }
  }
  if (tested > kIntersectionPairs && !mgn_surface_work.edge_warning_given) {
    // The pairs tested outgrew the intersection buffer.
    mgn_surface_work.edge_warning_given = true;
    mgn_warning("Warning: Too many edges in the neighbourhood\n");
  }
  if (out.crossed != nullptr) out.result = CHECK_CROSS;
  return out;
}

// ---------------------------------------------------------------------------
// Neighbourhood search
// ---------------------------------------------------------------------------

// Normal of a candidate: its own, or for a singular one the normal a little
// way toward A.
void candidate_normal(const generation& g, mgn_node* c, double* n) {
  const mgn_surface_data* d = data_of(c);
  if (ctx.planar) {
    mgn_copy3(n, ctx.normal);
    return;
  }
  if (!d->singular) {
    mgn_copy3(n, d->normal);
    return;
  }
  double uc[2], ua[2];
  effective_uv(c, g.a, uc);
  effective_uv(g.a, c, ua);
  const double u = uc[0] + 0.05 * (ua[0] - uc[0]), v = uc[1] + 0.05 * (ua[1] - uc[1]);
  if (!normal_at(u, v, n)) {
    // The same singular node is met again at every step of its front.
    if (mgn_first_in_warning_scope(MGN_WARNING_ANGLE_CORRECTION))
      mgn_warning("Warning: Angle correction not performed\n         Surface %ld (u = %f, v = %f)\n",
                  static_cast<long>(ctx.geometry->id), u, v);
    mgn_copy3(n, g.n);
  }
}

void score_candidates(generation& g, search_buffers& buf) {
  buf.candidates.clear();
  const double tol = ctx.eps;
  const bool base_on_curve = boundary_node(g.a) || boundary_node(g.b);
  for (mgn_node* c : buf.nodes) {
    double r[3];
    mgn_sub(c->xyz, g.mid, r);
    // A front node on the base edge itself.
    double cr[3];
    mgn_cross(r, g.d, cr);
    if (mgn_dot(cr, cr) <= tol * tol && mgn_dot(r, r) < (0.5 * g.L + tol) * (0.5 * g.L + tol)) {
      mgn_note_partial_node(c);
      mgn_note_partial_edge(g.edge);
      fail(mgn_format("Node %ld and active edge %ld on %s %ld are too close to each other (temporary node and edge "
                      "numbers)",
                      static_cast<long>(c->id), static_cast<long>(g.edge->id), ctx.word, ctx.id),
           kSearchNeighbourhood, __LINE__);
    }
    if (!(mgn_dot(r, g.p) > 0.0)) continue;
    candidate k;
    k.node = c;
    double n[3];
    candidate_normal(g, c, n);
    k.weight = curvature_weight(g, n);
    k.score = (angle_cosine(g.a->xyz, g.b->xyz, c->xyz) - 1.0) * k.weight + 1.0;
    if (base_on_curve && boundary_node(c)) k.score = 1.0 + (k.score - 1.0) * 0.9;
    k.da = std::sqrt(mgn_get_point_square_distance(c->xyz, g.a->xyz));
    k.db = std::sqrt(mgn_get_point_square_distance(c->xyz, g.b->xyz));
    k.neighbour = c == g.ngb_a || c == g.ngb_b;
    k.over_curve = (c == g.ngb_a && g.ngb_a_curve) || (c == g.ngb_b && g.ngb_b_curve);
    buf.candidates.push_back(k);
  }
}

// Radius around the ideal point within which a front node is taken instead
// of it: a quarter of the sum of the node's size and the size at the point,
// doubled when the point lies on the parameter boundary.
double catch_radius(const generation& g, const mgn_node* node) {
  double rho = (node->size + g.size_p) / 4.0;
  if (g.boundary) rho *= 2.0;
  return rho;
}

int find_candidate(const search_buffers& buf, const mgn_node* node) {
  if (node == nullptr) return -1;
  for (std::size_t i = 0; i < buf.candidates.size(); ++i)
    if (buf.candidates[i].node == node) return static_cast<int>(i);
  return -1;
}

// Whether the neighbour front node is near enough to close a quad's side
// with: within kFarSide sizes of the base node (a farther one lies across
// a gap that takes more than one row of quads).
constexpr double kFarSide = 1.6;
bool near_side(const generation& g, const mgn_node* base, const mgn_node* neighbour) {
  if (neighbour == nullptr) return false;
  const double reach = kFarSide * g.h;
  return mgn_get_point_square_distance(base->xyz, neighbour->xyz) <= reach * reach;
}

// Steps of the choice: a neighbour of A or B that closes the angle there, or
// a node near the ideal point; then the widest angle over the base edge.
// relaxed: the ideal point is unusable; the widest angle wins whatever the
// reference.
int choose_candidate(generation& g, search_buffers& buf, bool relaxed = false) {
  int chosen = -1;
  auto neighbour_fits = [&](mgn_node* y, const mgn_node* at) {
    // A quad's side joins only a neighbour within reach.
    if (g.quad_step != 0 && !near_side(g, at, y)) return -1;
    const int i = find_candidate(buf, y);
    if (i < 0 || buf.candidates[i].score >= 2.0) return -1;
    double u[3], v[3];
    mgn_sub(y->xyz, at->xyz, u);
    mgn_sub(g.ideal, at->xyz, v);
    const double l = std::sqrt(mgn_dot(u, u) * mgn_dot(v, v));
    // Within about 25 degrees (cosine 0.906) of the direction to the ideal
    // point.
    if (!(l > 0.0) || mgn_dot(u, v) / l < 0.906) return -1;
    return i;
  };
  chosen = neighbour_fits(g.ngb_a, g.a);
  if (chosen < 0) chosen = neighbour_fits(g.ngb_b, g.b);
  if (chosen < 0) {
    for (int i = static_cast<int>(buf.candidates.size()) - 1; i >= 0; --i) {
      const candidate& c = buf.candidates[i];
      if (c.score > 1.0) continue;
      double rho = catch_radius(g, c.node);
      if (c.neighbour && c.over_curve) rho *= 0.85;
      if (!c.neighbour && c.node->kind == MGN_CURVE && !g.boundary) rho *= 0.5;
      if (mgn_get_point_square_distance(c.node->xyz, g.ideal) < rho * rho) {
        chosen = i;
        break;
      }
    }
  }
  if (relaxed && g.quad_step != 0) {
    // A quad whose side point is crowded by the front takes the front node
    // nearest to that point: the side closes across the narrow gap.
    double nearest = -1.0;
    for (int i = static_cast<int>(buf.candidates.size()) - 1; i >= 0; --i) {
      if (buf.candidates[i].score > 1.0) continue;
      const double d2 = mgn_get_point_square_distance(buf.candidates[i].node->xyz, g.ideal);
      if (nearest < 0.0 || d2 < nearest) {
        nearest = d2;
        chosen = i;
      }
    }
  }
  double best = chosen >= 0 ? buf.candidates[chosen].score : (relaxed ? 1.5 : g.ref_score);
  // A quad keeps its side point: a node seeing the base under a wider angle
  // would turn the quad into a triangle.
  const bool widest = g.quad_step == 0 || relaxed;
  for (int i = widest ? static_cast<int>(buf.candidates.size()) - 1 : -1; i >= 0; --i) {
    if (buf.candidates[i].score <= best) {
      best = buf.candidates[i].score;
      chosen = i;
    }
  }
  if (chosen >= 0) {
    g.best = buf.candidates[chosen].score;
    g.best_weight = buf.candidates[chosen].weight;
  } else {
    g.best = g.ref_score;
    g.best_weight = g.ref_weight;
  }
  return chosen;
}

// Whether the crossed edge's free side faces the base edge.
int facing_side(const generation& g, const mgn_edge* e) {
  double v[3], w[3], c[3];
  mgn_sub(e->n[1]->xyz, e->n[0]->xyz, v);
  mgn_sub(g.mid, e->n[0]->xyz, w);
  mgn_cross(v, w, c);
  const double left = mgn_dot(c, g.n);
  const int k = left > 0.0 ? 0 : 1;
  return sides_of(e)[k] == nullptr ? k : -1;
}

// Whether the ideal point lies too near a front edge or node other than the
// base: a node there would make a sliver with the front it nearly touches.
bool ideal_point_crowded(generation& g, search_buffers& buf) {
  plane_map map;
  make_map(map, map_base(g, g.ideal), g.d);
  double p2[2];
  if (map.by_xyz) {
    map_xyz(map, g.ideal, p2);
  } else {
    const double uv[2] = {g.pd.u, g.pd.v};
    map_uv(map, uv, p2);
  }
  // Closer than 0.35 of the height makes a sliver.
  const double limit = 0.35 * g.height;
  const double limit2 = limit * limit;
  auto d2 = [](const double* a, const double* b) {
    return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]);
  };
  for (mgn_node* c : buf.nodes) {
    double c2[2];
    map_node(map, c, nullptr, c2);
    if (d2(c2, p2) < limit2) return true;
  }
  for (mgn_edge* e : buf.edges) {
    if (e == g.edge) continue;
    double q0[2], q1[2];
    map_node(map, e->n[0], e->n[1], q0);
    map_node(map, e->n[1], e->n[0], q1);
    const double dx = q1[0] - q0[0], dy = q1[1] - q0[1];
    const double l2 = dx * dx + dy * dy;
    double t = l2 > 0.0 ? ((p2[0] - q0[0]) * dx + (p2[1] - q0[1]) * dy) / l2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    const double f[2] = {q0[0] + t * dx, q0[1] + t * dy};
    if (d2(f, p2) < limit2) return true;
  }
  return false;
}

// The greater search: the widest-angle front node, seen in the plane map,
// that forms a valid triangle with the base edge, among the front nodes of
// growing boxes around the base.
bool mgn_search_greater_neighbourhood(generation& g, mgn_node** result) {
  search_buffers& buf = *g.buf;
  if (!ctx.planar && data_of(g.a)->singular && data_of(g.b)->singular)
    fail(mgn_format("Too poor parameterization of surface %ld", static_cast<long>(ctx.geometry->id)), __func__,
         __LINE__);
  double r = std::max({2.0 * g.L, 2.0 * g.h, 2.0 * g.height});
  const mgn_node* base = map_base(g, g.mid);
  // The box doubles each round; 64 doublings outgrow any model.
  for (int round = 0; round < 64; ++round) {
    const bool whole = gather_box(g, buf, g.mid, r + ctx.front.max_edge);
    plane_map map;
    make_map(map, base, g.d);
    double a2[2], b2[2];
    map_node(map, g.a, g.b, a2);
    map_node(map, g.b, g.a, b2);
    struct entry {
      double score;
      mgn_node* node;
    };
    std::vector<entry> order;
    const double r2 = r * r;
    for (mgn_node* c : buf.nodes) {
      if (mgn_get_point_square_distance(c->xyz, g.mid) > r2 && !whole) continue;
      double xa[2], xb[2];
      map_node(map, c, g.a, xa);
      map_node(map, c, g.b, xb);
      if (!(orient2(a2, b2, xa) > 0.0) || !(orient2(a2, b2, xb) > 0.0)) continue;
      const double ux = a2[0] - xa[0], uy = a2[1] - xa[1], vx = b2[0] - xb[0], vy = b2[1] - xb[1];
      const double l = std::sqrt((ux * ux + uy * uy) * (vx * vx + vy * vy));
      if (!(l > 0.0)) continue;
      order.push_back({(ux * vx + uy * vy) / l, c});
    }
    std::stable_sort(order.begin(), order.end(), [](const entry& p, const entry& q) { return p.score < q.score; });
    for (const entry& e : order) {
      if (check_triangle(g, buf, e.node).result == CHECK_OK) {
        *result = e.node;
        double n[3];
        candidate_normal(g, e.node, n);
        g.best_weight = curvature_weight(g, n);
        g.best = (angle_cosine(g.a->xyz, g.b->xyz, e.node->xyz) - 1.0) * g.best_weight + 1.0;
        return true;
      }
    }
    if (whole) return false;
    r *= 2.0;
  }
  return false;
}

// Outcome of the search: a node, the ideal point, or nothing (the base edge
// was closed by a recursive generation).
enum search_kind { SEARCH_NODE, SEARCH_POINT, SEARCH_CLOSED };

search_kind mgn_search_surface_point_neighbourhood(generation& g, mgn_node** result) {
  search_buffers& buf = *g.buf;
  bool recursed = false;
  bool depth_reached = false;
  for (int attempt = 0; attempt <= kMaxRetries; ++attempt) {
    gather_local(g, buf);
    score_candidates(g, buf);
    std::vector<candidate>& cands = buf.candidates;
    // The node that closes the front's opening, when the triangle to it is
    // valid.
    if (g.prefer != nullptr) {
      const int i = find_candidate(buf, g.prefer);
      if (i >= 0 && cands[i].score < 2.0 && check_triangle(g, buf, g.prefer).result == CHECK_OK) {
        g.best = cands[i].score;
        g.best_weight = cands[i].weight;
        *result = g.prefer;
        return SEARCH_NODE;
      }
    }
    int chosen = choose_candidate(g, buf);
    bool near_rejected = false;
    bool relaxed = false;
    bool retry = false;
    for (;;) {
      mgn_node* x = chosen >= 0 ? cands[chosen].node : nullptr;
      if (x == nullptr && (g.boundary || near_rejected)) break;
      const check_outcome c = check_triangle(g, buf, x);
      if (c.result == CHECK_OK && x == nullptr && !relaxed && ideal_point_crowded(g, buf)) {
        // The ideal point is too near the front: the widest angle instead.
        relaxed = true;
        near_rejected = true;
        chosen = choose_candidate(g, buf, true);
        continue;
      }
      if (c.result == CHECK_OK) {
        *result = x;
        return x != nullptr ? SEARCH_NODE : SEARCH_POINT;
      }
      bool reject = x != nullptr && c.result == CHECK_REJECT;
      if (c.result == CHECK_CROSS) {
        const mgn_edge* e = c.crossed;
        const bool local = e->n[0]->work == buf.mark && e->n[1]->work == buf.mark;
        if (x != nullptr && local) {
          reject = true;
        } else {
          const int k = facing_side(g, e);
          if (k >= 0 && g.depth < kMaxDepth && attempt < kMaxRetries) {
            generate(c.crossed, k, g.depth + 1);
            recursed = true;
            if (g.edge->id == 0 || sides_of(g.edge)[g.side] != nullptr) return SEARCH_CLOSED;
            retry = true;
            break;
          }
          if (k >= 0 && g.depth >= kMaxDepth) depth_reached = true;
          if (x != nullptr) reject = true;
          else break;
        }
      }
      if (!reject) break;
      // The candidate is rejected; the next best.
      if (x != nullptr) {
        const double rho = catch_radius(g, x);
        if (mgn_get_point_square_distance(x->xyz, g.ideal) < rho * rho) near_rejected = true;
        cands[chosen].score = 2.0;
      }
      chosen = choose_candidate(g, buf, relaxed);
    }
    if (!retry) break;
  }
  mgn_node* x = nullptr;
  if (mgn_search_greater_neighbourhood(g, &x)) {
    *result = x;
    return SEARCH_NODE;
  }
  mgn_note_partial_edge(g.edge);
  if (depth_reached)
    fail(mgn_format("Too many recursions in neighbourhood searching on %s %ld", ctx.word, ctx.id),
         kSearchNeighbourhood, __LINE__);
  if (recursed)
    fail(mgn_format("Recursive search neighbourhood failure on %s %ld", ctx.word, ctx.id),
         kSearchNeighbourhood, __LINE__);
  fail(mgn_format("Search neighbourhood failure on %s %ld", ctx.word, ctx.id), kSearchNeighbourhood,
       __LINE__);
}

// ---------------------------------------------------------------------------
// Face creation
// ---------------------------------------------------------------------------

void too_close(const generation& g, mgn_node* x, mgn_node* y) {
  mgn_note_partial_node(x);
  mgn_note_partial_node(y);
  mgn_note_partial_edge(g.edge);
  const long id = ctx.id;
  if (interior_node(x) || interior_node(y))
    fail(mgn_format("Nodes %ld and %ld on %s %ld are too close to each other (temporary node numbers)",
                    static_cast<long>(x->id), static_cast<long>(y->id), ctx.word, id),
         kGenerateFace, __LINE__);
  auto entity_id = [](const mgn_node* n) {
    return n->kind == MGN_VERTEX ? static_cast<long>(static_cast<mgn_vertex*>(n->entity)->id)
                                 : static_cast<long>(static_cast<mgn_curve*>(n->entity)->id);
  };
  if (x->kind == MGN_VERTEX && y->kind == MGN_VERTEX)
    fail(mgn_format("Vertices %ld and %ld on %s %ld are too close to each other", entity_id(x), entity_id(y), ctx.word, id),
         kGenerateFace, __LINE__);
  if (x->kind == MGN_CURVE && y->kind == MGN_CURVE)
    fail(mgn_format("Curves %ld and %ld on %s %ld are too close to each other", entity_id(x), entity_id(y), ctx.word, id),
         kGenerateFace, __LINE__);
  const mgn_node* v = x->kind == MGN_VERTEX ? x : y;
  const mgn_node* c = x->kind == MGN_VERTEX ? y : x;
  fail(mgn_format("Vertex %ld and curve %ld on %s %ld are too close to each other", entity_id(v), entity_id(c), ctx.word,
                  id),
       kGenerateFace, __LINE__);
}

// The closeness test of the apex with one base node.
void check_closeness(const generation& g, mgn_node* x, mgn_node* base, double d, double d_other) {
  const double mn = std::min({d, d_other, g.L}), mx = std::max({d, d_other, g.L});
  // Only the shortest side of a triangle whose sides differ by a factor of 4
  // or more (within half a percent), shorter than a tenth of the mean size.
  if (!(mx > 0.0) || mn / mx >= 0.25) return;
  if (d > 1.005 * mn) return;
  if (!(d < 0.1 * (x->size + base->size) / 2.0)) return;
  if (interior_node(x) || interior_node(base)) {
    // An interior node: a thousandth of the size.
    if (d < base->size / 1000.0) too_close(g, x, base);
    return;
  }
  if (d < ctx.user_eps) too_close(g, x, base);
}

// Closes the side of an existing edge with the face, or creates the edge
// with the face on one side and the other side open.
mgn_edge* attach_edge(mgn_edge* e, mgn_node* n0, mgn_node* n1, mgn_face* face, bool violation) {
  if (e != nullptr) {
    const int k = face_side(face, e);
    if (sides_of(e)[k] != nullptr || e->free_sides <= 0) {
      mgn_note_partial_edge(e);
      mgn_note_partial_face(face);
      fail(mgn_format("Front inconsistency detected on %s %ld", ctx.word, ctx.id), kGenerateFace, __LINE__);
    }
    sides_of(e)[k] = face;
    --e->free_sides;
    --e->n[0]->front_count;
    --e->n[1]->front_count;
    if (e->free_sides == 0 && e->id < 0) e->id = -e->id;
    return e;
  }
  e = mgn_create_edge(n0, n1, ctx.kind, ctx.entity, ctx.edges);
  e->work = ctx.stamp;
  // A new edge: its face slots are its side slots.
  const int k = face_side(face, e);
  e->face[k] = face;
  e->face[1 - k] = nullptr;
  e->free_sides = 1;
  ++n0->front_count;
  ++n1->front_count;
  ctx.front.max_edge = std::max(ctx.front.max_edge, std::sqrt(mgn_get_point_square_distance(n0->xyz, n1->xyz)));
  if (violation) e->id = -e->id;
  return e;
}

// The diagonal swap of the base edge to the apexes of its two faces when
// the face across the base sees it under a wide angle.
bool try_swap(generation& g, mgn_node* x, mgn_face* face, mgn_face** face_ax, mgn_face** face_bx) {
  mgn_edge* base = g.edge;
  mgn_face* other = sides_of(base)[1 - g.side];
  if (other == nullptr || other == kClosed || other->id == 0 || other->entity != ctx.entity) return false;
  mgn_node* y = nullptr;
  for (mgn_node* n : other->n)
    if (n != g.a && n != g.b) y = n;
  if (y == nullptr || y == x) return false;
  double b = g.best;
  // A base between two boundary nodes is swapped a little more readily.
  if (boundary_node(g.a) && boundary_node(g.b)) b = 0.95 * (b + 1.0) - 1.0;
  if (!ctx.planar && g.best_weight > 0.0) b = (b - 1.0) / g.best_weight + 1.0;
  if (!(angle_cosine(g.a->xyz, g.b->xyz, y->xyz) < -b)) return false;
  const restored_data y_data(y);
  // The new diagonal must not exist yet, and both new faces must turn
  // counterclockwise.
  for (mgn_edge* e : mgn_node_edges(x)) {
    if (e->n[0] == y || e->n[1] == y) return false;
  }
  plane_map map;
  make_map(map, map_base(g, x->xyz), g.d);
  double a2[2], b2[2], ya[2], yb[2], xa[2], xb[2];
  map_node(map, g.a, y, a2);
  map_node(map, g.b, y, b2);
  map_node(map, y, g.a, ya);
  map_node(map, y, g.b, yb);
  map_node(map, x, g.a, xa);
  map_node(map, x, g.b, xb);
  const double scale = (b2[0] - a2[0]) * (b2[0] - a2[0]) + (b2[1] - a2[1]) * (b2[1] - a2[1]);
  const double tol = 1e-6 * scale;
  // (A, Y, X) and (Y, B, X).
  if (!(orient2(a2, ya, xa) > tol) || !(orient2(yb, b2, xb) > tol)) return false;
  if (!ctx.planar) {
    // The faces agree with the surface normals of their nodes.
    double c1[3], c2[3];
    triangle_normal(g.a, y, x, c1);
    triangle_normal(y, g.b, x, c2);
    if (!agrees_with_normals(c1, g.a, y, x) || !agrees_with_normals(c2, y, g.b, x)) return false;
  }
  mgn_edge* ay = find_structure_edge(g.a, y);
  mgn_edge* by = find_structure_edge(g.b, y);
  if (ay == nullptr || by == nullptr) return false;
  // Faces: the new one (A, B, X) becomes (A, Y, X), the old one (Y, B, X);
  // the base joins Y and X and keeps both in its face slots, which are its
  // side slots; A-Y passes from the old face to the new one.  B-X is not
  // attached yet.
  mgn_apply_edge_swap(base, face, other, ay, nullptr);
  *face_ax = face;
  *face_bx = other;
  return true;
}

// Two boundary nodes joined by a closed edge of a curve that is not on this
// entity's front: when another surface at that curve bounds a region that
// this surface bounds too, the region may be degenerated there.
void check_region_degeneracy(const mgn_node* a, const mgn_node* x) {
  if (ctx.front.region_warning_given || ctx.kind != MGN_SURFACE || !boundary_node(a) || !boundary_node(x)) return;
  if (ctx.regions == nullptr) return;
  for (mgn_edge* e : mgn_node_edges(a)) {
    if ((e->n[0] != x && e->n[1] != x) || e->kind != MGN_CURVE || on_front(e)) continue;
    auto* curve = static_cast<mgn_curve*>(e->entity);
    auto* self = static_cast<mgn_surface*>(ctx.entity);
    for (mgn_region* region : mgn_list_range<mgn_region>(ctx.regions)) {
      auto bounds = [&](const mgn_surface* s) {
        return mgn_find_item(region->inner_surfaces, s) != nullptr ||
               mgn_find_item(region->outer_surfaces, s) != nullptr;
      };
      if (!bounds(self)) continue;
      for (mgn_surface* other : mgn_list_range<mgn_surface>(curve->surfaces)) {
        if (other == self || !bounds(other)) continue;
        ctx.front.region_warning_given = true;
        mgn_warning("Warning: Possible region %ld degeneracy detected\n         Check %s %ld and curve %ld\n",
                    static_cast<long>(region->id), ctx.word, ctx.id, static_cast<long>(curve->id));
        return;
      }
    }
  }
}

void create_face(generation& g, mgn_node* x) {
  const bool is_new = x == nullptr;
  bool violation = false, violation_a = false, violation_b = false;
  mgn_edge* ax = nullptr;
  mgn_edge* bx = nullptr;
  if (!is_new) {
    ax = find_structure_edge(g.a, x);
    bx = find_structure_edge(g.b, x);
    for (mgn_edge* e : {ax, bx}) {
      if (e != nullptr && e->free_sides <= 0) {
        mgn_note_partial_edge(e);
        fail(mgn_format("Front inconsistency detected on %s %ld", ctx.word, ctx.id), kGenerateFace, __LINE__);
      }
    }
    // Curvature violation by an edge to an existing node.
    const mgn_surface_data* dx = data_of(x);
    if (!ctx.planar && !dx->singular) {
      violation_a = mgn_dot(g.na, dx->normal) <= kCosine120;
      violation_b = mgn_dot(g.nb, dx->normal) <= kCosine120;
      if (violation_a || violation_b) {
        if (!ctx.curvature_violation) {
          const mgn_node* other = violation_a ? g.a : g.b;
          double c[3];
          for (int k = 0; k < 3; ++k) c[k] = 0.5 * (other->xyz[k] + x->xyz[k]);
          mgn_note_partial_edge(g.edge);
          fail(where("Too coarse mesh required on %s %ld at x = %f, y = %f, z = %f", c), kGenerateFace, __LINE__);
        }
        violation = true;
      }
    }
  } else {
    const double uv[2] = {g.pd.u, g.pd.v};
    x = mgn_create_node(g.ideal, uv, ctx.kind, ctx.entity, ctx.nodes);
    mgn_surface_data* d = new_data();
    *d = g.pd;
    x->aux = d;
    x->front_count = 0;
  }
  if (x->front_count == kIsolated) x->front_count = 0;
  if (!is_new) {
    check_region_degeneracy(g.a, x);
    check_region_degeneracy(g.b, x);
  }
  // Too close.
  const double dA = std::sqrt(mgn_get_point_square_distance(x->xyz, g.a->xyz)), dB = std::sqrt(mgn_get_point_square_distance(x->xyz, g.b->xyz));
  check_closeness(g, x, g.a, dA, dB);
  check_closeness(g, x, g.b, dB, dA);
  // The face on the base edge.
  mgn_face* face = mgn_create_face(g.a, g.b, x, ctx.kind, ctx.entity, ctx.faces, nullptr, ctx.sides);
  sides_of(g.edge)[g.side] = face;
  --g.edge->free_sides;
  --g.a->front_count;
  --g.b->front_count;
  if (g.edge->free_sides == 0 && g.edge->id < 0) g.edge->id = -g.edge->id;
  mgn_face* face_ax = face;
  mgn_face* face_bx = face;
  // Swap of the base diagonal (it lists the new face on the moved base and
  // on A-Y); without it the face is listed on the base.
  const bool own_base = g.edge->kind == ctx.kind && g.edge->entity == ctx.entity;
  // A quad front does not swap: the diagonal of a quad half stays.
  const bool swapped = !ctx.quad && own_base && !violation && (!is_new || g.L > g.h || g.size_p < g.h) &&
                       try_swap(g, x, face, &face_ax, &face_bx);
  g.made = face;
  if (!swapped) mgn_add_edge_face(g.edge, face);
  mgn_edge* e_ax = attach_edge(ax, x, g.a, face_ax, violation_a);
  mgn_edge* e_bx = attach_edge(bx, g.b, x, face_bx, violation_b);
  mgn_add_edge_face(e_ax, face_ax);
  mgn_add_edge_face(e_bx, face_bx);
  for (mgn_node* n : {g.a, g.b, x}) note_left_front(n);
  if (violation && boundary_node(g.a) && boundary_node(g.b) && boundary_node(x)) {
    double c[3];
    for (int k = 0; k < 3; ++k) c[k] = (g.a->xyz[k] + g.b->xyz[k] + x->xyz[k]) / 3.0;
    mgn_warning("Warning: Curvature violation by flat face %ld\n         Location [%8.1e %8.1e %8.1e]\n"
                "         Possible geometry quality degradation\n",
                static_cast<long>(face->id), c[0], c[1], c[2]);
  }
}

// ---------------------------------------------------------------------------
// One generation
// ---------------------------------------------------------------------------

// A front opening narrower than this (135 degrees) is closed by the first
// half of a quad: its side joins the neighbour front node.
constexpr double kQuadClosing = 0.75 * MGN_PI;
// The second half closes with a neighbour when the opening left beside the
// diagonal is narrower than a right angle (the first half took about 45
// degrees of a corner below 135).
constexpr double kHalfClosing = 0.5 * MGN_PI;

// The first half of a quad: the right angle goes to the base node of the
// narrower opening (A on a tie), which joins its neighbour when the
// opening closes.
void choose_quad_side(generation& g) {
  g.over_a = g.open_a <= g.open_b;
  const double opening = g.over_a ? g.open_a : g.open_b;
  mgn_node* neighbour = g.over_a ? g.ngb_a : g.ngb_b;
  if (opening < kQuadClosing && near_side(g, g.over_a ? g.a : g.b, neighbour)) g.prefer = neighbour;
}

// Bounds of the second side of a quad, in sizes at its base node: it
// copies the first side down to kSideShrink sizes (the rows of a front that
// narrows keep their quads square) but never beyond the size (the rows of
// a graded mesh follow the sizes).
constexpr double kSideShrink = 0.75;

// Where the second half of a quad aims: the fourth corner F of the quad
// O, D, F, X that the first half O, D, X began (right angle at O, diagonal
// D-X).  The side D-F copies the first side O-X: it leaves D between the
// square to the base and the parallel of O-X, so that rows of quads keep
// the lean the front gave them, and takes the length of O-X between
// kSideShrink times the size at D and that size.  A quad aimed at the
// right angle over the diagonal instead grows with its diagonal: a long
// first side (a closing over a gap wider than the size) makes longer
// second sides, and the rows after it longer still, until the front
// tangles.  No corner when it would not lie well over the diagonal.
void place_fourth_corner(generation& g) {
  const mgn_face* first = g.first;
  mgn_node* x = first->n[2];
  mgn_node* d = g.a == x ? g.b : g.a;
  mgn_node* o = first->n[0] == d ? first->n[1] : first->n[0];
  // The first half turns counterclockwise: its base runs n0 -> n1 and the
  // square to it points into the face.
  double base[3], normal[3], square[3], side[3], direction[3];
  mgn_sub(first->n[1]->xyz, first->n[0]->xyz, base);
  if (ctx.planar) mgn_copy3(normal, ctx.normal);
  else mgn_copy3(normal, data_of(d)->singular ? g.n : data_of(d)->normal);
  mgn_cross(normal, base, square);
  mgn_sub(x->xyz, o->xyz, side);
  const double length = mgn_norm(side);
  if (!mgn_normalize(square) || !mgn_normalize(side)) return;
  for (int k = 0; k < 3; ++k) direction[k] = square[k] + side[k];
  if (!mgn_normalize(direction)) return;
  const double size = d->size > 0.0f ? d->size : size_at(g, d->xyz);
  const double side_length = std::clamp(length, kSideShrink * size, size);
  for (int k = 0; k < 3; ++k) g.corner[k] = d->xyz[k] + side_length * direction[k];
  double r[3];
  mgn_sub(g.corner, g.a->xyz, r);
  if (mgn_dot(r, g.p) < 0.25 * size) return;
  g.has_corner = true;
  g.corner_size = size;
}

// The second half: the neighbour of the narrower opening beside the
// diagonal when the opening closes and the neighbour lies within
// kCornerCatch sizes of the fourth corner (a farther one would stretch the
// quad's side across more than one row).
constexpr double kCornerCatch = 0.75;
void choose_half_apex(generation& g) {
  place_fourth_corner(g);
  const bool at_a = g.open_a <= g.open_b;
  const double opening = at_a ? g.open_a : g.open_b;
  mgn_node* neighbour = at_a ? g.ngb_a : g.ngb_b;
  if (opening >= kHalfClosing || neighbour == nullptr) return;
  if (g.has_corner) {
    const double catch_distance = kCornerCatch * g.corner_size;
    if (mgn_get_point_square_distance(neighbour->xyz, g.corner) > catch_distance * catch_distance) return;
  }
  g.prefer = neighbour;
}

mgn_face* generate_on_side(mgn_edge* edge, int side, int depth, int quad_step, const mgn_face* first = nullptr) {
  if (edge == nullptr || edge->id <= 0 || !on_front(edge) || sides_of(edge)[side] != nullptr) return nullptr;
  generation g;
  g.quad_step = quad_step;
  g.first = first;
  g.edge = edge;
  g.side = side;
  g.depth = depth;
  g.buf = &ctx.buffers[depth];
  g.a = side == 0 ? edge->n[0] : edge->n[1];
  g.b = side == 0 ? edge->n[1] : edge->n[0];
  if (g.a->aux == nullptr || g.b->aux == nullptr) unexpected(kGenerateFace, __LINE__);
  g.hint = g.a->octant;
  mgn_sub(g.b->xyz, g.a->xyz, g.d);
  g.L = mgn_norm(g.d);
  if (!(g.L > 0.0)) unexpected(kGenerateFace, __LINE__);
  for (double& c : g.d) c /= g.L;
  g.sa = g.a->size;
  g.sb = g.b->size;
  if (!(g.sa > 0.0)) g.sa = static_cast<float>(size_at(g, g.a->xyz));
  if (!(g.sb > 0.0)) g.sb = static_cast<float>(size_at(g, g.b->xyz));
  g.h = 2.0 * g.sa * g.sb / (g.sa + g.sb);
  for (int k = 0; k < 3; ++k) {
    g.m[k] = (g.sa * g.b->xyz[k] + g.sb * g.a->xyz[k]) / (g.sa + g.sb);
    g.mid[k] = 0.5 * (g.a->xyz[k] + g.b->xyz[k]);
  }
  compute_base_normal(g);
  mgn_check_surface_branche(g);
  if (quad_step == 1) choose_quad_side(g);
  if (quad_step == 2) choose_half_apex(g);
  compute_ideal_point(g);
  mgn_node* x = nullptr;
  const search_kind found = mgn_search_surface_point_neighbourhood(g, &x);
  if (found == SEARCH_CLOSED) return nullptr;
  // A recursive generation may have closed the side meanwhile.
  if (edge->id == 0 || sides_of(edge)[side] != nullptr) return nullptr;
  create_face(g, found == SEARCH_NODE ? x : nullptr);
  return g.made;
}

// A front edge longer than kLongQuadBase sizes (a boundary coarser than
// the size, a curve of few edges beside fine ones, a sharp size change)
// takes a plain triangle instead of a quad.  A quad over it would copy the
// long edge one row inward (the quad's sides are about a size long, its far
// side as long as its base), row after row, until long edges from several
// sides cross the finer front and tangle; the triangle's apex splits the
// long edge in two shorter ones, so the front comes down to the size.  The
// triangle is left for the pairing clean-up.
constexpr double kLongQuadBase = 2.0;
bool long_quad_base(const mgn_edge* edge) {
  const double sa = edge->n[0]->size, sb = edge->n[1]->size;
  if (!(sa > 0.0) || !(sb > 0.0)) return false;
  const double limit = kLongQuadBase * 2.0 * sa * sb / (sa + sb);
  return mgn_get_point_square_distance(edge->n[0]->xyz, edge->n[1]->xyz) > limit * limit;
}

// One step of the quad front on a base edge: the first half of the quad on
// the base, then the second half on the first half's diagonal (its longer
// new edge, the hypotenuse of the right angle at the base), noted as a pair
// to be merged when the front is closed.
void generate_quad_on_side(mgn_edge* edge, int side, int depth) {
  if (long_quad_base(edge)) {
    generate_on_side(edge, side, depth, 0);
    return;
  }
  mgn_face* first = generate_on_side(edge, side, depth, 1);
  if (first == nullptr || first->id == 0) return;
  mgn_node* x = first->n[2];
  mgn_node* a = first->n[0];
  mgn_node* b = first->n[1];
  const bool from_a = mgn_get_point_square_distance(a->xyz, x->xyz) >= mgn_get_point_square_distance(b->xyz, x->xyz);
  mgn_edge* diagonal = find_structure_edge(from_a ? a : b, x);
  if (diagonal == nullptr || !on_front(diagonal)) return;
  const int k = 1 - face_side(first, diagonal);
  if (sides_of(diagonal)[k] != nullptr) return;
  mgn_face* second = generate_on_side(diagonal, k, depth, 2, first);
  if (second != nullptr && second->id != 0) ctx.pairs.emplace_back(first, second);
}

void generate_on_side(mgn_edge* edge, int side, int depth) {
  if (ctx.quad) generate_quad_on_side(edge, side, depth);
  else generate_on_side(edge, side, depth, 0);
}

void generate(mgn_edge* edge, int side, int depth) {
  generate_on_side(edge, side, depth);
  if (depth == 0) release_left_records();
}

// ---------------------------------------------------------------------------
// Data of the boundary
// ---------------------------------------------------------------------------

void side_uv(int side, double s, double uv[2]) {
  switch (side) {
    case 0: uv[0] = s; uv[1] = 0.0; break;
    case 1: uv[0] = 0.0; uv[1] = s; break;
    case 2: uv[0] = s; uv[1] = 1.0; break;
    default: uv[0] = 1.0; uv[1] = s; break;
  }
}

// Gives the node its surface data at the parameters (refined by a
// projection when the point there is not the node).
void set_node_data(mgn_node* node, const double uv_in[2], int32_t mark) {
  double uv[2] = {std::clamp(uv_in[0], 0.0, 1.0), std::clamp(uv_in[1], 0.0, 1.0)};
  mgn_surface_data* d = new_data();
  double p[3];
  evaluate_data(d, uv[0], uv[1], p);
  const double tol = std::max(1e-9 * std::max(static_cast<double>(node->size), ctx.eps), 10.0 * ctx.eps);
  if (mgn_get_point_square_distance(p, node->xyz) > tol * tol && !d->singular) {
    double u = uv[0], v = uv[1], n[3], su[3], sv[3];
    mgn_copy3(n, d->normal);
    mgn_copy3(su, d->su);
    mgn_copy3(sv, d->sv);
    mgn_clip_point_surface(ctx.geometry, &u, &v, n, su, sv, p, node->xyz, ctx.eps, 1e-12, false);
    evaluate_data(d, u, v, nullptr);
  }
  node->aux = d;
  node->work = mark;
}

void touch_node(mgn_node* node, int32_t mark) {
  if (node->work != mark) node->front_count = 0;
}

// Adds the edges of a curve to the front.  side_of(edge) gives the side the
// entity lies on (0, 1, or 2 for both); uv_of(node) the node's parameters.
template <typename SideOf, typename UvOf>
void add_front_curve(mgn_curve* curve, int32_t mark, SideOf side_of, UvOf uv_of) {
  if (curve == nullptr || curve->is_virtual || curve->collapsed || curve->mesh.edges == nullptr) return;
  front_curve fc;
  fc.curve = curve;
  // The listing of a meshed curve rests on its own first block (its chain
  // may already be linked into the global listing).
  for (mgn_edge** ref : mgn_listing_first<mgn_edge*>(curve->mesh.edges, curve->mesh.edge_count)) {
    mgn_edge* e = *ref;
    if (e == nullptr || e->id == 0) continue;
    for (mgn_node* n : e->n) {
      if (n->work != mark) {
        touch_node(n, mark);
        double uv[2];
        uv_of(n, uv);
        set_node_data(n, uv, mark);
        ctx.front.boundary.push_back(n);
      }
    }
    const int side = side_of(e);
    e->work = ctx.stamp;
    mgn_face** sides = take_over_sides(e);
    if (side == 2) {
      sides[0] = sides[1] = nullptr;
      e->free_sides = 2;
    } else {
      sides[side] = nullptr;
      sides[1 - side] = kClosed;
      e->free_sides = 1;
    }
    e->n[0]->front_count += e->free_sides;
    e->n[1]->front_count += e->free_sides;
    ctx.front.max_edge = std::max(ctx.front.max_edge, std::sqrt(mgn_get_point_square_distance(e->n[0]->xyz, e->n[1]->xyz)));
    fc.edges.push_back(e);
    fc.sides.push_back(static_cast<int8_t>(side));
  }
  if (fc.edges.empty()) return;
  // Walk in the direction of the free side: reversed when the first edge is
  // worked on side 1.
  if (fc.sides.front() == 1) {
    std::reverse(fc.edges.begin(), fc.edges.end());
    std::reverse(fc.sides.begin(), fc.sides.end());
  }
  ctx.front.curves.push_back(std::move(fc));
}

// The sides of the parameter square run counterclockwise for increasing
// side parameters on sides 0 and 3, decreasing on sides 1 and 2.
void add_side_curve(mgn_surface* surface, int side, bool inside_out, int32_t mark) {
  mgn_curve* curve = surface->curve[side];
  if (curve == nullptr) return;
  auto param = [&](mgn_node* n) {
    const double t = mgn_get_node_curve_parameter(curve, n);
    return surface->reversed[side] ? 1.0 - t : t;
  };
  auto uv_of = [&](mgn_node* n, double uv[2]) {
    double s = param(n);
    side_uv(side, s, uv);
    if (surface != ctx.geometry) {
      // A surface lying on the entity's surface: its own parameters are a
      // range of the entity's.
      uv[0] = surface->umin + uv[0] * (surface->umax - surface->umin);
      uv[1] = surface->vmin + uv[1] * (surface->vmax - surface->vmin);
    }
  };
  auto side_of = [&](mgn_edge* e) {
    const double s0 = param(e->n[0]), s1 = param(e->n[1]);
    const bool increasing = s1 > s0;
    const bool ccw = (side == 0 || side == 3) ? increasing : !increasing;
    int k = ccw ? 0 : 1;
    if (inside_out) k = 1 - k;
    return k;
  };
  add_front_curve(curve, mark, side_of, uv_of);
}

}  // namespace

// ---------------------------------------------------------------------------
// Interface
// ---------------------------------------------------------------------------

void mgn_create_surface_scratch() {
  const long small = std::max(10L, std::min(mgn_set.listing_size, 1000L));
  if (mgn_surface_work.data == nullptr)
    mgn_surface_work.data = mgn_create_listing(small, sizeof(mgn_surface_data));
}

namespace {

// Address ranges of the record arrays of a listing chain, sorted.
std::vector<std::pair<const char*, const char*>> block_ranges(mgn_listing* listing) {
  std::vector<std::pair<const char*, const char*>> ranges;
  for (mgn_listing* b = mgn_get_first_listing_block(listing); b != nullptr; b = b->next)
    if (b->base != nullptr) ranges.emplace_back(b->base, b->base + b->capacity * b->size);
  std::sort(ranges.begin(), ranges.end());
  return ranges;
}

bool in_ranges(const std::vector<std::pair<const char*, const char*>>& ranges, const void* p) {
  if (p == nullptr || ranges.empty()) return false;
  const auto* c = static_cast<const char*>(p);
  auto it = std::upper_bound(ranges.begin(), ranges.end(), c,
                             [](const char* x, const std::pair<const char*, const char*>& r) { return x < r.first; });
  if (it == ranges.begin()) return false;
  --it;
  return c < it->second;
}

}  // namespace

void mgn_empty_surface_scratch() {
  mgn_surface_work.free_data = nullptr;
  // The records are handed out again later: the nodes that refer to them
  // (surface data in node->aux) drop their references first, so that
  // nothing (a later smoothing) reads or writes a released record.
  if (mgn_surface_work.data != nullptr && mgn_mesh.node_pool != nullptr) {
    const auto ranges = block_ranges(mgn_surface_work.data);
    for (mgn_node* node : mgn_listing_range<mgn_node>(mgn_get_first_listing_block(mgn_mesh.node_pool)))
      if (in_ranges(ranges, node->aux)) node->aux = nullptr;
  }
  if (mgn_surface_work.data != nullptr) {
    mgn_surface_work.data = mgn_get_first_listing_block(mgn_surface_work.data);
    mgn_reset_listing(mgn_surface_work.data);
  }
}

namespace {

// The settings, tolerances, octree and model the mesher works with, and an
// empty front: the part of making an entity current that every kind
// shares.
void take_settings() {
  if (++ctx.stamp_counter <= 0) ctx.stamp_counter = 1;
  ctx.stamp = -ctx.stamp_counter;  // negative: never a mark of nodes
  ctx.curvature_violation = mgn_set.curvature_violation;
  ctx.eps = mgn_tol.eps;
  ctx.eps2 = mgn_tol.eps2;
  ctx.user_eps = mgn_tol.user_eps;
  ctx.root = mgn_tree.root;
  mgn_copy3(ctx.root_min, mgn_tree.root_min);
  mgn_copy3(ctx.root_max, mgn_tree.root_max);
  ctx.regions = mgn_model.regions.list;
  // The front starts empty; the node marks and the search buffers go on.
  ctx.front = front_state{};
  ctx.left_nodes.clear();
  ctx.pairs.clear();
}

}  // namespace

void mgn_set_current_surface(mgn_surface* surface) {
  mgn_open_warning_scope();
  // The entity.
  ctx.kind = MGN_SURFACE;
  ctx.entity = surface;
  ctx.id = surface->id;
  ctx.word = "surface";
  ctx.geometry = surface;
  ctx.planar = surface->planar;
  ctx.normal[0] = ctx.normal[1] = ctx.normal[2] = 0.0;
  if (ctx.planar) {
    mgn_copy3(ctx.normal, surface->normal);
    if (!mgn_normalize(ctx.normal)) ctx.planar = false;
  }
  ctx.sides = surface->inner_region != nullptr || surface->outer_region != nullptr ||
              surface->localized_region != nullptr;
  for (int k = 0; k < 4; ++k) ctx.collapsed[k] = surface->curve[k] != nullptr && surface->curve[k]->collapsed;
  ctx.nodes = &surface->mesh.nodes;
  ctx.edges = &surface->mesh.edges;
  ctx.faces = &surface->mesh.faces;
  ctx.quads = &surface->mesh.quads;
  take_settings();
  // Free quads; a mapped request is not built here and gets triangles.
  ctx.quad = surface->quad && !surface->map;
}

bool mgn_get_surface_vertex_uv(const mgn_surface* surface, mgn_vertex* vertex, double uv[2]) {
  static const double corner[4][2] = {{0.0, 0.0}, {0.0, 1.0}, {1.0, 1.0}, {1.0, 0.0}};
  mgn_vertex* rep = mgn_get_vertex_representative(vertex);
  for (int k = 0; k < 4; ++k) {
    if (surface->vertex[k] != nullptr && mgn_get_vertex_representative(surface->vertex[k]) == rep) {
      uv[0] = corner[k][0];
      uv[1] = corner[k][1];
      return true;
    }
  }
  if (vertex->parent_surface == surface) {
    uv[0] = vertex->param[0];
    uv[1] = vertex->param[1];
    return true;
  }
  const double d2 = mgn_find_closest_surface_point(surface, vertex->xyz, &uv[0], &uv[1]);
  const double tol = std::max(mgn_tol.user_eps, 1e3 * mgn_tol.eps);
  return d2 <= tol * tol;
}

void mgn_build_data_subsurface(mgn_surface* surface) {
  ctx.front = front_state{};
  const int32_t mark = new_mark();
  // The boundary curves, visited from the last to the first.
  for (int side = 3; side >= 0; --side) add_side_curve(surface, side, false, mark);
  // Surfaces lying on this one, meshed on their own or left empty as holes:
  // their boundary from the outside.  A side shared by two of them has no
  // side left for this surface.  A virtual child is meshed through: its
  // sides are curves lying inside.
  std::vector<std::pair<mgn_surface*, int>> child_sides;
  std::vector<const mgn_curve*> child_curves;
  for (mgn_surface* child : mgn_list_range<mgn_surface>(surface->child_surfaces)) {
    if (child == nullptr || child == surface || child->is_virtual) continue;
    for (int side = 3; side >= 0; --side) {
      child_sides.emplace_back(child, side);
      child_curves.push_back(child->curve[side]);
    }
  }
  auto child_curve = [&](const mgn_curve* curve) {
    return std::find(child_curves.begin(), child_curves.end(), curve) != child_curves.end();
  };
  for (const auto& [child, side] : child_sides) {
    const mgn_curve* curve = child->curve[side];
    if (std::count(child_curves.begin(), child_curves.end(), curve) == 1) add_side_curve(child, side, true, mark);
  }
  // Curves lying inside: both sides.
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(surface->fixed_curves)) {
    if (curve == nullptr || child_curve(curve)) continue;
    double uvs[2], uve[2];
    const bool on = mgn_get_surface_curve_uv(surface, curve, uvs, uve) != 0;
    auto uv_of = [&](mgn_node* n, double uv[2]) {
      if (n->kind == MGN_VERTEX) {
        if (mgn_get_surface_vertex_uv(surface, static_cast<mgn_vertex*>(n->entity), uv)) return;
      }
      const double t = mgn_get_node_curve_parameter(curve, n);
      if (on) {
        uv[0] = uvs[0] + t * (uve[0] - uvs[0]);
        uv[1] = uvs[1] + t * (uve[1] - uvs[1]);
      } else {
        mgn_find_closest_surface_point(surface, n->xyz, &uv[0], &uv[1]);
      }
    };
    add_front_curve(curve, mark, [](mgn_edge*) { return 2; }, uv_of);
  }
  // Vertices lying alone inside.
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(surface->fixed_vertices)) {
    if (vertex == nullptr || vertex->is_virtual) continue;
    mgn_node* node = mgn_find_vertex_node(vertex);
    if (node == nullptr || node->work == mark) continue;
    double uv[2];
    if (!mgn_get_surface_vertex_uv(surface, vertex, uv)) continue;
    touch_node(node, mark);
    set_node_data(node, uv, mark);
    if (node->front_count == 0) node->front_count = kIsolated;
    ctx.front.boundary.push_back(node);
  }
}

void mgn_generate_face(mgn_edge* edge, int side) { generate(edge, side, 0); }

namespace {

bool work_open_sides(mgn_edge* e) {
  if (e == nullptr || e->id == 0 || !on_front(e)) return false;
  bool worked = false;
  for (int k = 0; k < 2; ++k) {
    if (e->free_sides > 0 && sides_of(e)[k] == nullptr && e->id > 0) {
      generate(e, k, 0);
      worked = true;
    }
  }
  return worked;
}

}  // namespace

void mgn_triangulate_subsurface(mgn_surface* surface) {
  (void)surface;
  // Boundary edges in three passes: curves with two edges, with more, with
  // one.
  for (int pass = 0; pass < 3; ++pass) {
    for (front_curve& fc : ctx.front.curves) {
      const std::size_t n = fc.edges.size();
      const bool take = pass == 0 ? n == 2 : (pass == 1 ? n > 2 : n == 1);
      if (!take) continue;
      for (std::size_t i = 0; i < n; ++i) {
        mgn_edge* e = fc.edges[i];
        if (fc.sides[i] == 2) {
          generate(e, 0, 0);
          generate(e, 1, 0);
        } else {
          generate(e, fc.sides[i], 0);
        }
      }
    }
  }
  // Then the entity's own edges, backward from the last; the edges created
  // meanwhile are taken in the next round, down to the last of this one.
  for (int sweep = 0; sweep < 4; ++sweep) {
    const void* stop = nullptr;
    for (;;) {
      if (*ctx.edges == nullptr) break;
      mgn_listing* block = mgn_get_last_listing_block(*ctx.edges);
      void* slot = mgn_get_prev_listing_item(block, nullptr);
      if (slot == nullptr || slot == stop) break;
      const void* const round_end = slot;
      while (slot != nullptr && slot != stop) {
        work_open_sides(*static_cast<mgn_edge**>(slot));
        slot = mgn_get_prev_listing_item(block, slot);
      }
      stop = round_end;
    }
    // Whatever is left open on the curves or among the entity's edges.
    bool worked = false;
    for (front_curve& fc : ctx.front.curves)
      for (mgn_edge* e : fc.edges) worked = work_open_sides(e) || worked;
    if (!worked) break;
  }
}

void mgn_check_front_closed() {
  auto check = [](mgn_node* node) { mgn_check_data_node(node, ctx.kind, ctx.entity, ctx.word, ctx.id); };
  if (*ctx.nodes != nullptr) {
    const mgn_entity_mesh* mesh = mgn_get_entity_mesh(ctx.kind, ctx.entity);
    for (mgn_node** ref : mgn_listing_first<mgn_node*>(mgn_get_first_listing_block(*ctx.nodes), mesh->node_total))
      if (*ref != nullptr) check(*ref);
  }
  for (mgn_node* node : ctx.front.boundary) check(node);
}

void mgn_remove_fan_nodes() {
  // The quad front pairs its triangles as it makes them: they stay.
  if (ctx.quad || *ctx.nodes == nullptr) return;
  // A removal takes a spoke from two ring nodes, which may leave one of
  // them with four: a second round takes those.
  constexpr int kRounds = 2;
  for (int round = 0; round < kRounds; ++round) {
    bool removed = false;
    for (mgn_node** ref : mgn_listing_range<mgn_node*>(mgn_get_first_listing_block(*ctx.nodes))) {
      mgn_node* node = *ref;
      if (node == nullptr || node->id == 0 || node->edge_count > 4) continue;
      mgn_node_removal plan;
      if (!mgn_check_node_removal(node, &plan)) continue;
      mgn_apply_node_removal(plan);
      removed = true;
    }
    if (!removed) break;
  }
}

namespace {

// Whether the straight triangle p q r (not flat) turns counterclockwise
// about the surface normals of its (regular) nodes.
bool turns_in_space(const mgn_node* p, const mgn_node* q, const mgn_node* r) {
  double c[3];
  triangle_normal(p, q, r, c);
  return mgn_norm(c) > mgn_tol.eps2 && agrees_with_normals(c, p, q, r);
}

// The triangles of the entity at a node, and how many of them turn the
// wrong way in space.
int turned_at(const mgn_node* node, std::vector<mgn_face*>& faces) {
  faces.clear();
  for (mgn_edge* e : mgn_node_edges(node))
    for (mgn_face* f : {e->face[0], e->face[1]})
      if (f != nullptr && f->id != 0 && f->entity == ctx.entity &&
          std::find(faces.begin(), faces.end(), f) == faces.end())
        faces.push_back(f);
  int turned = 0;
  for (const mgn_face* f : faces) turned += turns_in_space(f->n[0], f->n[1], f->n[2]) ? 0 : 1;
  return turned;
}

// An inner node of the entity moves, in the parameters, to the mean of its
// neighbours when fewer of its triangles turn the wrong way there; it stays
// otherwise.
void relocate_to_neighbours(mgn_node* node) {
  mgn_surface_data* d = data_of(node);
  if (node->kind != ctx.kind || node->entity != ctx.entity || node->parameters == nullptr || d == nullptr ||
      d->singular)
    return;
  std::vector<mgn_face*> faces;
  const int before = turned_at(node, faces);
  if (before == 0) return;
  double uv[2] = {0.0, 0.0};
  int count = 0;
  for (mgn_edge* e : mgn_node_edges(node)) {
    const mgn_node* other = e->n[0] == node ? e->n[1] : e->n[0];
    const mgn_surface_data* o = data_of(other);
    if (o == nullptr || o->singular) return;
    uv[0] += o->u;
    uv[1] += o->v;
    ++count;
  }
  if (count < 3) return;
  uv[0] /= count;
  uv[1] /= count;
  const mgn_surface_data saved = *d;
  double old_xyz[3], xyz[3];
  mgn_copy3(old_xyz, node->xyz);
  evaluate_data(d, uv[0], uv[1], xyz);
  if (d->singular) {
    *d = saved;
    return;
  }
  mgn_copy3(node->xyz, xyz);
  if (turned_at(node, faces) < before) {
    mgn_copy3(node->xyz, old_xyz);
    mgn_move_node(node, xyz);
    node->parameters[0] = uv[0];
    node->parameters[1] = uv[1];
    return;
  }
  mgn_copy3(node->xyz, old_xyz);
  *d = saved;
}

// Triangles that turn the wrong way in space.  The front is valid in the
// parameters, but where they are far from affine (a surface with a
// collapsed side, whose parameter lines fan out from the collapsed corner)
// a straight triangle may fold over its neighbour.  Such a triangle takes
// the diagonal of the pair it makes with a neighbour across an own edge
// when both new triangles turn the right way.
void unturn_faces() {
  // Only the quad front makes such triangles (its halves keep their
  // diagonal, so the front's own swaps never mend them); a quad request
  // keeps the data, and so the normal, of every node (note_left_front).
  if (ctx.planar || *ctx.faces == nullptr || !ctx.quad) return;
  const mgn_entity_mesh* mesh = mgn_get_entity_mesh(ctx.kind, ctx.entity);
  std::vector<mgn_face*> turned;
  for (mgn_face** ref : mgn_listing_first<mgn_face*>(mgn_get_first_listing_block(*ctx.faces), mesh->face_total))
    if (*ref != nullptr && (*ref)->id != 0 && !turns_in_space((*ref)->n[0], (*ref)->n[1], (*ref)->n[2]))
      turned.push_back(*ref);
  for (mgn_face* f : turned) {
    if (f->id == 0 || turns_in_space(f->n[0], f->n[1], f->n[2])) continue;
    for (int k = 0; k < 3; ++k) {
      mgn_node* p = f->n[k];
      mgn_node* q = f->n[(k + 1) % 3];
      mgn_node* x = f->n[(k + 2) % 3];
      mgn_edge* e = mgn_get_node_edge(p, q);
      if (e == nullptr || e->kind != ctx.kind || e->entity != ctx.entity || mgn_edge_has_quads(e)) continue;
      mgn_face* g = e->face[0] == f ? e->face[1] : (e->face[1] == f ? e->face[0] : nullptr);
      if (g == nullptr || g->id == 0 || g->entity != ctx.entity) continue;
      // g runs q -> p -> y.
      int at = -1;
      for (int i = 0; i < 3; ++i)
        if (g->n[i] == q && g->n[(i + 1) % 3] == p) at = i;
      if (at < 0) continue;
      mgn_node* y = g->n[(at + 2) % 3];
      if (y == x || mgn_get_node_edge(x, y) != nullptr) continue;
      if (!turns_in_space(p, y, x) || !turns_in_space(y, q, x)) continue;
      mgn_edge* py = mgn_get_node_edge(p, y);
      mgn_edge* qx = mgn_get_node_edge(q, x);
      if (py == nullptr || qx == nullptr) continue;
      mgn_apply_edge_swap(e, f, g, py, qx);
      break;
    }
  }
  // What no swap mends is a fold among nodes nearly in a row (the quad
  // front's rows): an inner node of a turned triangle moves, in the
  // parameters, to the mean of its neighbours when fewer of its triangles
  // turn the wrong way there.
  for (mgn_face* f : turned) {
    for (int k = 0; k < 3 && f->id != 0 && !turns_in_space(f->n[0], f->n[1], f->n[2]); ++k)
      relocate_to_neighbours(f->n[k]);
  }
}

// A quad request: the halves of the quads the front made become quads, and
// what the front left is paired and cleaned up (and again around every
// smoothing pass).
void make_quads() {
  if (!ctx.quad) return;
  mgn_merge_triangle_pairs(ctx.kind, ctx.entity, ctx.pairs);
  ctx.pairs.clear();
  mgn_clean_quad_mesh(ctx.kind, ctx.entity);
}

// Releases the front marks of the boundary and the node marks, gives the
// surface data and side slots of the entity back to the scratch and
// compacts its listings: the end of the meshing of every kind.
void finish_entity(mgn_entity_mesh& mesh) {
  for (front_curve& fc : ctx.front.curves)
    for (mgn_edge* e : fc.edges) {
      e->free_sides = 0;
      release_sides(e);
    }
  for (mgn_node* node : ctx.front.boundary) release_data(node);
  for (mgn_node* node : ctx.front.boundary) node->work = 0;
  auto settle = [](mgn_listing*& listing) {
    if (listing != nullptr) listing = mgn_get_first_listing_block(mgn_realloc_listing(listing));
  };
  settle(mesh.nodes);
  settle(mesh.edges);
  settle(mesh.faces);
  settle(mesh.quads);
  for (mgn_node** ref : mgn_listing_range<mgn_node*>(mesh.nodes)) {
    (*ref)->work = 0;
    release_data(*ref);
  }
  mesh.discretized = true;
}

}  // namespace

void mgn_mesh_subsurface(mgn_surface* surface) {
  mgn_set_current_surface(surface);
  mgn_build_data_subsurface(surface);
  mgn_triangulate_subsurface(surface);
  unturn_faces();
  mgn_remove_fan_nodes();
  make_quads();
  if (mgn_set.nodal_smoothing && !surface->map) mgn_smooth_surface(surface);
  mgn_check_front_closed();
  finish_entity(surface->mesh);
}

// ---------------------------------------------------------------------------
// Patches and shells
// ---------------------------------------------------------------------------
//
// A patch or shell is meshed as a surface on its geometry (the planar
// background surface of the patch, the background surface of the shell):
// its front is made of the curves of its loops (the outer loop and the
// holes, the loops of its meshed and hole children run the other way round),
// each edge worked on the side of the entity, which lies on the left of its
// loops seen from Su x Sv; curves fixed inside are worked on both sides and
// fixed vertices wait inside, as on surfaces.  The nodes of the boundary get
// their parameters from the geometry: on a patch their coordinates in its
// plane, on a shell the parameters of the side or iso line of the
// background surface the curve lies on, else those of the closest point,
// searched from the previous node's.

namespace {

template <typename Entity>
void set_current_face_entity(int kind, Entity* entity, const char* word) {
  ctx.kind = kind;
  ctx.entity = entity;
  ctx.id = entity->id;
  ctx.word = word;
  ctx.geometry = entity->bg_surface;
  ctx.planar = ctx.geometry->planar;
  ctx.normal[0] = ctx.normal[1] = ctx.normal[2] = 0.0;
  if constexpr (std::is_same_v<Entity, mgn_patch>) {
    ctx.planar = true;
    mgn_copy3(ctx.normal, entity->normal);
  } else if (ctx.planar) {
    mgn_copy3(ctx.normal, ctx.geometry->normal);
  }
  if (ctx.planar && !mgn_normalize(ctx.normal)) ctx.planar = false;
  ctx.sides = entity->inner_region != nullptr || entity->outer_region != nullptr ||
              entity->localized_region != nullptr;
  for (int k = 0; k < 4; ++k)
    ctx.collapsed[k] = ctx.geometry->curve[k] != nullptr && ctx.geometry->curve[k]->collapsed;
  ctx.nodes = &entity->mesh.nodes;
  ctx.edges = &entity->mesh.edges;
  ctx.faces = &entity->mesh.faces;
  ctx.quads = &entity->mesh.quads;
  take_settings();
  ctx.quad = entity->quad && !entity->map;
}

// Parameters of the nodes of one curve on the geometry of the current patch
// or shell, the nodes taken in the order of the curve's edges.
class curve_locator {
 public:
  curve_locator(mgn_curve* curve) : curve_(curve) {
    if (ctx.kind == MGN_SHELL) on_line_ = mgn_get_surface_curve_uv(ctx.geometry, curve, start_, end_) != 0;
  }
  void operator()(mgn_node* node, double uv[2]) {
    if (ctx.kind == MGN_PATCH) {
      mgn_get_patch_uv(static_cast<const mgn_patch*>(ctx.entity), node->xyz, uv);
      return;
    }
    if (node->kind == MGN_VERTEX &&
        mgn_get_surface_vertex_uv(ctx.geometry, static_cast<mgn_vertex*>(node->entity), uv)) {
      remember(uv);
      return;
    }
    if (on_line_) {
      const double t = mgn_get_node_curve_parameter(curve_, node);
      uv[0] = start_[0] + t * (end_[0] - start_[0]);
      uv[1] = start_[1] + t * (end_[1] - start_[1]);
    } else {
      mgn_locate_surface_point(ctx.geometry, node->xyz, have_guess_ ? guess_ : nullptr, uv);
    }
    remember(uv);
  }

 private:
  void remember(const double uv[2]) {
    guess_[0] = uv[0];
    guess_[1] = uv[1];
    have_guess_ = true;
  }
  mgn_curve* curve_;
  bool on_line_ = false;
  double start_[2] = {0.0, 0.0}, end_[2] = {0.0, 0.0};
  double guess_[2] = {0.0, 0.0};
  bool have_guess_ = false;
};

// The front of the current patch or shell: its loops, its curves and
// vertices fixed inside.
template <typename Entity>
void build_face_entity_data(int kind, Entity* entity) {
  ctx.front = front_state{};
  const int32_t mark = new_mark();
  const std::vector<mgn_loop_curve> loops = mgn_get_loop_curves(kind, entity, true);
  // Visited from the last to the first, as the sides of a surface.
  for (auto it = loops.rbegin(); it != loops.rend(); ++it) {
    mgn_curve* curve = it->curve;
    const int direction = it->direction;
    curve_locator uv_of(curve);
    auto side_of = [&](mgn_edge* e) {
      const double t0 = mgn_get_node_curve_parameter(curve, e->n[0]);
      const double t1 = mgn_get_node_curve_parameter(curve, e->n[1]);
      // The entity lies on the left of the loop: side 0 of an edge that
      // runs along the loop.
      return (t1 > t0) == (direction > 0) ? 0 : 1;
    };
    add_front_curve(curve, mark, side_of, uv_of);
  }
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(entity->fixed_curves)) {
    if (curve == nullptr) continue;
    curve_locator uv_of(curve);
    add_front_curve(curve, mark, [](mgn_edge*) { return 2; }, uv_of);
  }
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(entity->fixed_vertices)) {
    if (vertex == nullptr || vertex->is_virtual) continue;
    mgn_node* node = mgn_find_vertex_node(vertex);
    if (node == nullptr || node->work == mark) continue;
    double uv[2];
    if (kind == MGN_PATCH)
      mgn_get_patch_uv(static_cast<const mgn_patch*>(ctx.entity), node->xyz, uv);
    else if (!mgn_get_surface_vertex_uv(ctx.geometry, vertex, uv))
      mgn_locate_surface_point(ctx.geometry, node->xyz, nullptr, uv);
    touch_node(node, mark);
    set_node_data(node, uv, mark);
    if (node->front_count == 0) node->front_count = kIsolated;
    ctx.front.boundary.push_back(node);
  }
}

}  // namespace

void mgn_mesh_subpatch(mgn_patch* patch) {
  if (patch->bg_surface == nullptr) mgn_create_patch_bg_surface(patch);
  set_current_face_entity(MGN_PATCH, patch, "patch");
  build_face_entity_data(MGN_PATCH, patch);
  mgn_triangulate_subsurface(patch->bg_surface);
  unturn_faces();
  mgn_remove_fan_nodes();
  make_quads();
  if (mgn_set.nodal_smoothing && !patch->map) mgn_smooth_patch(patch);
  mgn_check_front_closed();
  finish_entity(patch->mesh);
}

void mgn_mesh_subshell(mgn_shell* shell) {
  set_current_face_entity(MGN_SHELL, shell, "shell");
  build_face_entity_data(MGN_SHELL, shell);
  mgn_triangulate_subsurface(shell->bg_surface);
  unturn_faces();
  mgn_remove_fan_nodes();
  make_quads();
  if (mgn_set.nodal_smoothing && !shell->map) mgn_smooth_shell(shell);
  mgn_check_front_closed();
  finish_entity(shell->mesh);
}
