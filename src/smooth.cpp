// Nodal smoothing of surfaces, patches, shells, hidden curves and regions.
//
// One run smooths one entity.  Each pass visits every free node once
// (forward over the node listing, then backward, alternately) and moves it
// to the (weighted) mean of its neighbours, the other ends of its edges in
// the entity.  On a curved entity the node itself joins the mean and the
// result is projected onto the surface in every pass (loosely before the
// last pass, mostly one Newton step from the node's place and tangents,
// which its previous projection left; to full precision in the last); on a
// planar one the mean stays in the plane and is projected only in the last
// pass, which also relocates the node in the octree and saves its
// parameters.
//
// A move that would fold one of the node's elements (a triangle or quad
// corner turning over, a tetra losing its volume) is shortened step by step
// toward the old position and given up after MGN_SMOOTH_BACKOFF_STEPS.
#include "smooth.h"

#include <cmath>
#include <vector>

#include "bezier.h"
#include "element.h"
#include "geom.h"
#include "list.h"
#include "mesh1.h"
#include "mesh3.h"
#include "message.h"
#include "octree.h"
#include "project.h"
#include "topo3.h"


namespace {

// Geometry of a surface, patch or shell: the surface its nodes lie on and,
// for a planar one, the fixed plane normal.
struct smooth_geometry {
  int kind = -1;
  void* entity = nullptr;
  const mgn_surface* surface = nullptr;
  bool planar = false;
  double normal[3] = {0.0, 0.0, 0.0};
};

// An orientation taken before a move: the cross product (b - a) x (c - a)
// of three element corners, one of them the moving node.
struct smooth_corner {
  const double* a;
  const double* b;
  const double* c;
  double before[3];
};

// A node of a hidden curve with its parameter guesses on the two entities.
struct smooth_hidden_node {
  mgn_node* node;
  double uv[2][2];
  bool on[2];
};

// The result of putting a point onto the geometry.
struct smooth_place {
  double xyz[3];
  double uv[2];
  double su[3], sv[3], normal[3];
  bool projected;
};

// The context of one smoothing run: its geometry, its settings and
// tolerances taken once when the run starts (reset_state), and scratch.
struct smooth_state {
  smooth_geometry geo[2];  // the entity, and the second one of a hidden curve
  int entities = 0;        // geometries in use (0 for a region)
  bool hidden = false;     // the nodes of a hidden curve are smoothed
  mgn_region* region = nullptr;
  bool extruded = false;
  bool planar = false;     // every geometry of the run is planar
  int passes_left = 0;     // passes still to run, this one included
  // Settings and tolerances of the run, taken once when it starts.
  int smoothing_type = 0;  // -s: bit 1 size weight, bit 2 connectivity weight
  bool size_weight = false;
  bool connectivity_weight = false;
  double eps = 0.0, eps2 = 0.0;  // geometric tolerance and its square
  bool attraction = false;
  double valence_divisor = 6.0;
  // Scratch, kept between runs so that passes do not allocate.
  std::vector<mgn_node*> nodes;
  std::vector<smooth_corner> corners;
  std::vector<const void*> seen;
  std::vector<smooth_hidden_node> hidden_nodes;
  // Per node of st.nodes of a surface, patch or shell run: whether the
  // node's surface data hold the tangents at its parameters, from its last
  // projection in the run (which ends with the point and the tangents at
  // the parameters it found, the node's from then on); and the index in
  // st.nodes of the node a pass visits (-1 outside a pass).
  std::vector<uint8_t> tangents_known;
  long visiting = -1;
  std::vector<std::pair<mgn_node*, float>> attracting;  // saved sizes
  std::vector<long> tetra_start;                       // region node -> tetras
  std::vector<mgn_tetra*> tetras;
  std::vector<const double*> faces;                    // faces around a region node
  long refusing = -1;                                  // st.tetras index that refused a move
  // References of the entity's node listing when it rests on its own first
  // block (a meshed entity, whose chain may be linked into the global one
  // with other entities' blocks around it); -1 while the entity is meshed
  // and its listing is walked from the first block of its chain.
  long listing_count = -1;
};
smooth_state st;

[[noreturn]] void unexpected(mgn_node* node, const char* routine, const std::string& module,
                             long line) {
  if (node != nullptr) mgn_note_partial_node(node);
  mgn_manipulation_error("Unexpected situation", routine, module, line);
}

bool last_pass() { return st.passes_left == 1; }

const char* kind_word(int kind) {
  switch (kind) {
    case MGN_SURFACE: return "surface";
    case MGN_PATCH: return "patch";
    case MGN_SHELL: return "shell";
    default: return "entity";
  }
}

long entity_id(int kind, const void* entity) {
  switch (kind) {
    case MGN_SURFACE: return static_cast<const mgn_surface*>(entity)->id;
    case MGN_PATCH: return static_cast<const mgn_patch*>(entity)->id;
    case MGN_SHELL: return static_cast<const mgn_shell*>(entity)->id;
    case MGN_REGION: return static_cast<const mgn_region*>(entity)->id;
    default: return 0;
  }
}

// The geometry of a surface, patch or shell.  A patch is planar by
// definition; its normal is that of its background plane.
smooth_geometry get_geometry(int kind, void* entity) {
  smooth_geometry g;
  g.kind = kind;
  g.entity = entity;
  const double* normal = nullptr;
  switch (kind) {
    case MGN_SURFACE: {
      auto* s = static_cast<mgn_surface*>(entity);
      g.surface = s;
      g.planar = s->planar;
      normal = s->normal;
      break;
    }
    case MGN_PATCH: {
      auto* p = static_cast<mgn_patch*>(entity);
      g.surface = p->bg_surface;
      g.planar = true;
      normal = (p->bg_surface != nullptr && p->bg_surface->planar) ? p->bg_surface->normal
                                                                     : p->normal;
      break;
    }
    case MGN_SHELL: {
      auto* s = static_cast<mgn_shell*>(entity);
      g.surface = s->bg_surface;
      g.planar = s->bg_surface != nullptr && s->bg_surface->planar;
      if (g.planar) normal = s->bg_surface->normal;
      break;
    }
    default:
      mgn_manipulation_error("Invalid entity type encountered", MGN_HERE);
  }
  if (g.surface == nullptr) {
    mgn_note_partial_entity(kind, entity);
    mgn_manipulation_error("Unexpected situation", MGN_HERE);
  }
  if (normal != nullptr)
    for (int k = 0; k < 3; ++k) g.normal[k] = normal[k];
  return g;
}

// Whether an element or edge of the given kind and entity is one of the
// run: of its entity or entities, or (hidden curve) of any curve, or of its
// region.
bool own(int kind, const void* entity) {
  for (int i = 0; i < st.entities; ++i)
    if (kind == st.geo[i].kind && entity == st.geo[i].entity) return true;
  if (st.hidden && kind == MGN_CURVE) return true;
  return st.region != nullptr && kind == MGN_REGION && entity == st.region;
}

// An interior node of the run's entity (or of either entity of a hidden
// curve): the nodes the connectivity weighting applies to.
bool interior(const mgn_node* node) {
  for (int i = 0; i < st.entities; ++i)
    if (node->kind == st.geo[i].kind && node->entity == st.geo[i].entity) return true;
  return st.region != nullptr && node->kind == MGN_REGION && node->entity == st.region;
}

mgn_node* other_end(const mgn_edge* edge, const mgn_node* node) {
  return edge->n[0] == node ? edge->n[1] : edge->n[0];
}

// Weight of neighbour j of node i in the weighted routines.
double neighbour_weight(const mgn_node* i, const mgn_node* j) {
  double w = 1.0;
  const double si = i->size, sj = j->size;
  if (st.attraction && sj <= 0.0) {
    if (!last_pass())
      w = -sj;
    else if (j->kind == MGN_VERTEX || j->kind == MGN_CURVE)
      w = std::sqrt(-sj);
    else
      w = std::sqrt(std::sqrt(-sj));
  }
  if (st.size_weight && sj > 0.0 && si > 0.0)
    w *= 2.0 * std::sqrt(mgn_get_point_square_distance(i->xyz, j->xyz)) / (si + sj);
  if (st.connectivity_weight && interior(j))
    w *= (j->edge_count / st.valence_divisor - 1.0) * 1.5 + 1.0;
  return w;
}

// The mean of the neighbours of a node (weighted when asked; with the quad
// diagonals, the partners of the node that do not coincide with it, for a
// quad routine), and, with self, the node itself as one more term of the
// mean weight.  Returns false when the weights vanish (the node stays).  A
// node without neighbours in the run is an inconsistent mesh.
bool get_mean(mgn_node* node, bool weighted, bool quad, bool self, double* mean) {
  double sum[3] = {0.0, 0.0, 0.0}, total = 0.0;
  long count = 0;
  auto add = [&](const mgn_node* j) {
    const double w = weighted ? neighbour_weight(node, j) : 1.0;
    for (int k = 0; k < 3; ++k) sum[k] += w * j->xyz[k];
    total += w;
    ++count;
  };
  for (const mgn_edge* edge : mgn_node_edges(node))
    if (edge->id != 0 && own(edge->kind, edge->entity)) add(other_end(edge, node));
  if (quad)
    for (const mgn_node* j : mgn_list_range<mgn_node>(mgn_node_partners(node)))
      if (mgn_get_point_square_distance(node->xyz, j->xyz) > st.eps2) add(j);
  if (count == 0) unexpected(node, MGN_HERE);
  if (!(total > 0.0)) return false;
  if (self) {
    const double w = total / static_cast<double>(count);
    for (int k = 0; k < 3; ++k) sum[k] += w * node->xyz[k];
    total += w;
  }
  for (int k = 0; k < 3; ++k) mean[k] = sum[k] / total;
  return true;
}

// Shortens a move that was refused: the step from old toward the place
// refused shrinks by MGN_SMOOTH_BACKOFF, at most MGN_SMOOTH_BACKOFF_STEPS
// times, until accept(old + step) holds.  False when no step was accepted
// (the node then stays).
template <typename Accept>
bool back_off(const double* old, const double* refused, Accept&& accept) {
  double d[3];
  mgn_sub(refused, old, d);
  for (int step = 1; step <= MGN_SMOOTH_BACKOFF_STEPS; ++step) {
    double trial[3];
    for (int k = 0; k < 3; ++k) {
      d[k] *= MGN_SMOOTH_BACKOFF;
      trial[k] = old[k] + d[k];
    }
    if (accept(trial)) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Fold guard
// ---------------------------------------------------------------------------

bool seen_before(const void* element) {
  for (const void* e : st.seen)
    if (e == element) return true;
  st.seen.push_back(element);
  return false;
}

void add_corner(const double* a, const double* b, const double* c) {
  smooth_corner corner{a, b, c, {0.0, 0.0, 0.0}};
  double ab[3], ac[3];
  mgn_sub(b, a, ab);
  mgn_sub(c, a, ac);
  mgn_cross(ab, ac, corner.before);
  // An element already degenerate or folded is not judged.
  if (mgn_dot(corner.before, corner.before) > 0.0) st.corners.push_back(corner);
}

// Takes the orientations of the triangles and quad corners around the node
// in the run (quad corners: the node's own and its two neighbours').
void gather_corners(mgn_node* node) {
  st.corners.clear();
  st.seen.clear();
  for (const mgn_edge* edge : mgn_node_edges(node)) {
    if (edge->id == 0 || !own(edge->kind, edge->entity)) continue;
    // Every element at the node is guarded, also one of another entity
    // (after an edge swap across a curve, a triangle of one surface may
    // hold a node of the other).
    for (const mgn_face* face : mgn_edge_faces(edge)) {
      if (face->id == 0 || seen_before(face)) continue;
      add_corner(face->n[0]->xyz, face->n[1]->xyz, face->n[2]->xyz);
    }
    for (const mgn_quad* quad : mgn_edge_quads(edge)) {
      if (quad->id == 0 || seen_before(quad)) continue;
      int i = 0;
      while (i < 4 && quad->n[i] != node) ++i;
      if (i == 4) continue;
      for (int k : {i + 3, i, i + 1})
        add_corner(quad->n[k % 4]->xyz, quad->n[(k + 1) % 4]->xyz, quad->n[(k + 3) % 4]->xyz);
    }
  }
}

// Whether every corner taken keeps its orientation with the node at xyz.
bool corners_kept(mgn_node* node, const double* xyz) {
  double old[3] = {node->xyz[0], node->xyz[1], node->xyz[2]};
  for (int k = 0; k < 3; ++k) node->xyz[k] = xyz[k];
  bool kept = true;
  for (const smooth_corner& c : st.corners) {
    double ab[3], ac[3], n[3];
    mgn_sub(c.b, c.a, ab);
    mgn_sub(c.c, c.a, ac);
    mgn_cross(ab, ac, n);
    if (!(mgn_dot(n, c.before) > 0.0)) {
      kept = false;
      break;
    }
  }
  for (int k = 0; k < 3; ++k) node->xyz[k] = old[k];
  return kept;
}

// ---------------------------------------------------------------------------
// Surfaces, patches and shells
// ---------------------------------------------------------------------------

// Current parameters of a node of the run's entity.  The node's own
// parameters serve as both the current and the saved copy: they follow
// every projection, so they are current at any time, and they stay valid
// after the mesher has released the surface data records (a later
// smoothing of the entity, such as after edge swapping or hiding).
double* current_parameters(mgn_node* node) {
  if (node->parameters == nullptr) unexpected(node, MGN_HERE);
  return node->parameters;
}

// The unit normal of a place from its tangents (the plane's own normal on
// a planar geometry).
void set_normal(const smooth_geometry& g, smooth_place& p) {
  if (g.planar) {
    for (int k = 0; k < 3; ++k) p.normal[k] = g.normal[k];
    return;
  }
  mgn_cross(p.su, p.sv, p.normal);
  const double l2 = mgn_dot(p.normal, p.normal);
  // A vanishing cross product is left to the projection, which reports the
  // bad parameterization.
  const double f = l2 > 0.0 ? 1.0 / std::sqrt(l2) : 0.0;
  for (int k = 0; k < 3; ++k) p.normal[k] *= f;
}

// Point, tangents and normal of the geometry at (u, v), as projections
// start from them.
void evaluate_place(const smooth_geometry& g, double u, double v, smooth_place& p) {
  mgn_get_surface_point_tangents(g.surface, u, v, p.xyz, p.su, p.sv);
  set_normal(g, p);
}

// The surface data of the node a pass visits when they hold the tangents
// at its parameters (null outside a pass, as for a per-node routine called
// on its own).
mgn_surface_data* data_with_tangents(const mgn_node* node) {
  const long i = st.visiting;
  if (i < 0 || i >= static_cast<long>(st.tangents_known.size()) || st.nodes[i] != node || !st.tangents_known[i])
    return nullptr;
  return static_cast<mgn_surface_data*>(node->aux);
}

// Point, tangents and normal of the geometry at the node's parameters uv,
// where its projections start.  After a projection of the node in this run
// the node lies at the point the projection ended on, and while the mesher
// keeps its surface data they hold the tangents there: nothing needs
// evaluating.
void start_place(const smooth_geometry& g, mgn_node* node, const double* uv, smooth_place& p) {
  p.uv[0] = uv[0];
  p.uv[1] = uv[1];
  p.projected = false;
  const mgn_surface_data* data = g.planar ? nullptr : data_with_tangents(node);
  if (data == nullptr) {
    evaluate_place(g, uv[0], uv[1], p);
    return;
  }
  for (int k = 0; k < 3; ++k) {
    p.xyz[k] = node->xyz[k];
    p.su[k] = data->su[k];
    p.sv[k] = data->sv[k];
  }
  set_normal(g, p);
}

// Puts the target onto the geometry from the start place: projected when
// project is set, else taken as it is (it stays in the plane).
void place_on_surface(const smooth_geometry& g, const smooth_place& start, const double* target, bool project,
                      smooth_place& p) {
  if (!project) {
    p.uv[0] = start.uv[0];
    p.uv[1] = start.uv[1];
    p.projected = false;
    for (int k = 0; k < 3; ++k) p.xyz[k] = target[k];
    return;
  }
  p = start;
  p.projected = true;
  mgn_project_point_surface(g.surface, &p.uv[0], &p.uv[1], p.normal, p.su, p.sv, p.xyz, target, st.eps,
                            MGN_SMOOTH_TOLERANCE_UV);
}

// Stores a new place of a node of the run's entity: coordinates (with the
// relocation in the octree in the last pass), parameters, and the surface
// data while the node has one (the mesher clears node->aux when it releases
// the records).
void store_place(mgn_node* node, const smooth_place& p) {
  if (last_pass()) {
    mgn_move_node(node, p.xyz);
  } else {
    for (int k = 0; k < 3; ++k) node->xyz[k] = p.xyz[k];
  }
  node->parameters[0] = p.uv[0];
  node->parameters[1] = p.uv[1];
  if (node->aux != nullptr) {
    auto* data = static_cast<mgn_surface_data*>(node->aux);
    data->u = p.uv[0];
    data->v = p.uv[1];
    if (p.projected) {
      for (int k = 0; k < 3; ++k) {
        data->su[k] = p.su[k];
        data->sv[k] = p.sv[k];
        data->normal[k] = p.normal[k];
      }
    }
  }
}

// One visit of a node of a surface, patch or shell.
void smooth_face_node(mgn_node* node, bool weighted, bool quad) {
  if (node->id == 0 || (node->flags & MGN_NODE_MIDSIDE) != 0) return;
  const smooth_geometry& g = st.geo[0];
  if (node->kind != g.kind || node->entity != g.entity) return;
  if (st.attraction && !g.planar) unexpected(node, MGN_HERE);
  double target[3];
  if (!get_mean(node, weighted, quad, !g.planar, target)) return;
  const double* uv = current_parameters(node);
  const bool project = !g.planar || last_pass();
  smooth_place start;
  if (project) {
    start_place(g, node, uv, start);
  } else {
    start.uv[0] = uv[0];
    start.uv[1] = uv[1];
  }
  smooth_place p;
  place_on_surface(g, start, target, project, p);
  gather_corners(node);
  if (!corners_kept(node, p.xyz)) {
    // Shorten the move toward the old position until no corner turns over.
    const double old[3] = {node->xyz[0], node->xyz[1], node->xyz[2]};
    const double refused[3] = {p.xyz[0], p.xyz[1], p.xyz[2]};
    const bool found = back_off(old, refused, [&](const double* trial) {
      place_on_surface(g, start, trial, project, p);
      return corners_kept(node, p.xyz);
    });
    if (!found) {
      // Stay; the last pass still relocates the node and saves its place.
      // On a planar entity the parameters have not followed the earlier
      // passes: they are found for the place kept.
      if (!last_pass()) return;
      if (g.planar) {
        place_on_surface(g, start, old, true, p);
      } else {
        p.uv[0] = uv[0];
        p.uv[1] = uv[1];
        p.projected = false;
        for (int k = 0; k < 3; ++k) p.xyz[k] = old[k];
      }
    }
  }
  store_place(node, p);
  const long i = st.visiting;
  if (i >= 0 && i < static_cast<long>(st.tangents_known.size()) && st.nodes[i] == node)
    st.tangents_known[i] = p.projected && node->aux != nullptr;
}

// The nodes of an entity's node listing that the run moves (entity null:
// any node of the kind, for the nodes a curve takes from a parent curve).
void collect_nodes(mgn_listing* listing, int kind, const void* entity) {
  st.nodes.clear();
  const long limit = st.listing_count;
  for (mgn_node** ref : mgn_listing_first<mgn_node*>(limit < 0 ? mgn_get_first_listing_block(listing) : listing, limit)) {
    mgn_node* node = *ref;
    if (node != nullptr && node->id != 0 && node->kind == kind &&
        (entity == nullptr || node->entity == entity) &&
        (node->flags & MGN_NODE_MIDSIDE) == 0)
      st.nodes.push_back(node);
  }
  st.tangents_known.assign(st.entities > 0 && !st.hidden ? st.nodes.size() : 0, 0);
}

// Marks the nodes of the attracting vertices and curves of the entity with
// negative sizes (minus the largest factor naming them), saving their sizes.
// A hidden attracting curve cannot attract (its nodes move): it is left out
// with a counted warning.
void mark_attracting_node(mgn_node* node, float factor) {
  if (node == nullptr || node->id == 0) return;
  if (node->size < 0.0f) {
    if (-node->size < factor) node->size = -factor;
    return;
  }
  st.attracting.emplace_back(node, node->size);
  node->size = -factor;
}

void mark_attraction(mgn_list attractions) {
  for (const mgn_attraction* item : mgn_list_range<mgn_attraction>(attractions)) {
    if (item->kind == 0) {
      for (const mgn_vertex* v : mgn_list_range<mgn_vertex>(item->entities))
        mark_attracting_node(mgn_find_vertex_chain_node(v), item->factor);
      continue;
    }
    for (const mgn_curve* c : mgn_list_range<mgn_curve>(item->entities)) {
      if (c->hidden) {
        mgn_warning_once("Warning: Hidden curve %ld cannot be subjected to attraction\n",
                         static_cast<long>(c->id));
        continue;
      }
      // The listing of a meshed curve rests on its own first block.
      for (mgn_node** ref : mgn_listing_first<mgn_node*>(c->mesh.nodes, c->mesh.node_count))
        mark_attracting_node(*ref, item->factor);
      for (const mgn_vertex* v : c->vertex)
        if (v != nullptr) mark_attracting_node(mgn_find_vertex_chain_node(v), item->factor);
    }
  }
}

void restore_attraction() {
  for (auto& [node, size] : st.attracting) node->size = size;
  st.attracting.clear();
}

// Runs the passes over st.nodes, forward then backward alternately, with
// the given node routine; between the passes of a quad mesh (outside
// attraction) the quad topology work runs and the node list is taken again.
void run_passes(int passes, void (*routine)(mgn_node*), bool topology, mgn_listing** listing,
                int kind, void* entity) {
  for (int pass = 0; pass < passes; ++pass) {
    st.passes_left = passes - pass;
    if (topology && mgn_smooth_hook.quad_topology != nullptr) {
      mgn_smooth_hook.quad_topology(kind, entity);
      collect_nodes(*listing, kind, entity);
    }
    const long n = static_cast<long>(st.nodes.size());
    for (long k = 0; k < n; ++k) {
      st.visiting = pass % 2 == 0 ? k : n - 1 - k;
      routine(st.nodes[st.visiting]);
    }
    st.visiting = -1;
    if (topology && mgn_smooth_hook.quad_topology != nullptr) {
      mgn_smooth_hook.quad_topology(kind, entity);
      collect_nodes(*listing, kind, entity);
    }
  }
  st.passes_left = 0;
}

void reset_state() {
  st.geo[0] = smooth_geometry{};
  st.geo[1] = smooth_geometry{};
  st.entities = 0;
  st.hidden = false;
  st.region = nullptr;
  st.extruded = false;
  st.planar = false;
  st.passes_left = 0;
  st.attraction = false;
  st.smoothing_type = mgn_set.smoothing_type;
  st.size_weight = (st.smoothing_type & 1) != 0;
  st.connectivity_weight = (st.smoothing_type & 2) != 0;
  st.eps = mgn_tol.eps;
  st.eps2 = mgn_tol.eps2;
  st.visiting = -1;
  st.valence_divisor = 6.0;
  st.listing_count = -1;
}

// ---------------------------------------------------------------------------
// Hidden curves
// ---------------------------------------------------------------------------

// Puts the target onto the nearer of the two geometries (clipped to their
// parameter squares); the parameter guesses of both follow.  Returns false
// when neither could take it.
bool place_hidden(smooth_hidden_node& h, const double* target, double* xyz) {
  double best = -1.0;
  for (int i = 0; i < 2; ++i) {
    if (!h.on[i]) continue;
    smooth_place p;
    evaluate_place(st.geo[i], h.uv[i][0], h.uv[i][1], p);
    double u = h.uv[i][0], v = h.uv[i][1];
    if (mgn_clip_point_surface(st.geo[i].surface, &u, &v, p.normal, p.su, p.sv, p.xyz, target,
                               st.eps, 1e-06, false) == 0)
      continue;
    h.uv[i][0] = u;
    h.uv[i][1] = v;
    const double d2 = mgn_get_point_square_distance(p.xyz, target);
    if (best < 0.0 || d2 < best) {
      best = d2;
      for (int k = 0; k < 3; ++k) xyz[k] = p.xyz[k];
    }
  }
  return best >= 0.0;
}

void smooth_hidden_node_visit(smooth_hidden_node& h, bool weighted) {
  mgn_node* node = h.node;
  double target[3];
  if (!get_mean(node, weighted, false, !st.planar, target)) return;
  const bool project = !st.planar || last_pass();
  double xyz[3] = {target[0], target[1], target[2]};
  if (project && !place_hidden(h, target, xyz))
    for (int k = 0; k < 3; ++k) xyz[k] = target[k];
  gather_corners(node);
  if (!corners_kept(node, xyz)) {
    const double old[3] = {node->xyz[0], node->xyz[1], node->xyz[2]};
    const double refused[3] = {xyz[0], xyz[1], xyz[2]};
    const bool found = back_off(old, refused, [&](const double* trial) {
      mgn_copy3(xyz, trial);
      if (project) place_hidden(h, trial, xyz);
      return corners_kept(node, xyz);
    });
    if (!found)
      for (int k = 0; k < 3; ++k) xyz[k] = old[k];
  }
  if (last_pass()) {
    mgn_move_node(node, xyz);
  } else {
    for (int k = 0; k < 3; ++k) node->xyz[k] = xyz[k];
  }
}

// ---------------------------------------------------------------------------
// Regions
// ---------------------------------------------------------------------------

// Tetras of the region around each of its nodes (node->work holds the
// node's index + 1 for the duration of the run).
void collect_region_tetras(mgn_region* region) {
  const long n = static_cast<long>(st.nodes.size());
  for (long i = 0; i < n; ++i) st.nodes[i]->work = static_cast<int32_t>(i + 1);
  st.tetra_start.assign(n + 1, 0);
  auto index = [&](const mgn_node* node) -> long {
    if (node->kind != MGN_REGION || node->entity != region || node->work <= 0 || node->work > n ||
        st.nodes[node->work - 1] != node)
      return -1;
    return node->work - 1;
  };
  mgn_listing* first = mgn_get_first_listing_block(region->mesh.tetras);
  for (mgn_tetra** ref : mgn_listing_range<mgn_tetra*>(first)) {
    const mgn_tetra* t = *ref;
    if (t == nullptr || t->id == 0) continue;
    for (const mgn_node* node : t->n) {
      const long i = index(node);
      if (i >= 0) ++st.tetra_start[i + 1];
    }
  }
  for (long i = 0; i < n; ++i) st.tetra_start[i + 1] += st.tetra_start[i];
  st.tetras.assign(st.tetra_start[n], nullptr);
  std::vector<long> fill(st.tetra_start.begin(), st.tetra_start.end() - 1);
  for (mgn_tetra** ref : mgn_listing_range<mgn_tetra*>(first)) {
    mgn_tetra* t = *ref;
    if (t == nullptr || t->id == 0) continue;
    for (const mgn_node* node : t->n) {
      const long i = index(node);
      if (i >= 0) st.tetras[fill[i]++] = t;
    }
  }
}

// The worst boundary quality of the tetras around the region node with the
// node at xyz (0 when one of them is flat or inverted; 1 for a node without
// tetras).
double ball_quality(mgn_node* node, const double* xyz) {
  const long i = node->work - 1;
  if (node->work <= 0 || i + 1 >= static_cast<long>(st.tetra_start.size())) return 1.0;
  double worst = 1.0;
  for (long t = st.tetra_start[i]; t < st.tetra_start[i + 1] && worst > 0.0; ++t) {
    const mgn_tetra* tetra = st.tetras[t];
    const double* p[4];
    for (int k = 0; k < 4; ++k) p[k] = tetra->n[k] == node ? xyz : tetra->n[k]->xyz;
    worst = std::min(worst, mgn_get_tetra_shape_quality(p[0], p[1], p[2], p[3], nullptr));
  }
  return worst;
}

// Whether every tetra around the node is positive with the node at xyz, by
// the exact orientation test (asked only where the measured quality is too
// small to tell).
bool ball_positive(mgn_node* node, const double* xyz) {
  const long i = node->work - 1;
  if (node->work <= 0 || i + 1 >= static_cast<long>(st.tetra_start.size())) return true;
  for (long t = st.tetra_start[i]; t < st.tetra_start[i + 1]; ++t) {
    const mgn_tetra* tetra = st.tetras[t];
    const double* p[4];
    for (int k = 0; k < 4; ++k) p[k] = tetra->n[k] == node ? xyz : tetra->n[k]->xyz;
    if (mgn_orient3d(p[0], p[1], p[2], p[3]) <= 0) return false;
  }
  return true;
}

// Whether a move of the node to xyz may be taken: every tetra around it
// stays valid and the worst one does not get worse than before; the worst
// one at xyz goes to *worst when it may.  The tetra that refused the last
// move is asked first: the steps of one backoff mostly fail on the same
// tetra, so each costs one measure.
bool region_move_allowed(mgn_node* node, const double* xyz, double before, double* worst) {
  const long i = node->work - 1;
  if (node->work <= 0 || i + 1 >= static_cast<long>(st.tetra_start.size())) {
    *worst = 1.0;  // no tetra around the node
    return true;
  }
  const long first = st.tetra_start[i], last = st.tetra_start[i + 1];
  auto quality = [&](long t) {
    const mgn_tetra* tetra = st.tetras[t];
    const double* p[4];
    for (int k = 0; k < 4; ++k) p[k] = tetra->n[k] == node ? xyz : tetra->n[k]->xyz;
    return mgn_get_tetra_shape_quality(p[0], p[1], p[2], p[3], nullptr);
  };
  auto refused = [&](double q) { return !(q > 0.0) || q < before; };
  if (st.refusing >= first && st.refusing < last && refused(quality(st.refusing))) return false;
  double after = 1.0;
  for (long t = first; t < last; ++t) {
    const double q = quality(t);
    if (refused(q)) {
      st.refusing = t;
      return false;
    }
    after = std::min(after, q);
  }
  // A measured positive tetra of doubtful sign is confirmed exactly.
  if (after <= MGN_SMOOTH_EXACT_BELOW && !ball_positive(node, xyz)) return false;
  *worst = after;
  return true;
}

// Moves the node from xyz, where the worst tetra around it has the quality
// `worst`, toward the point that makes that tetra best (steepest ascent of
// the worst tetra); returns true when it moved.
bool optimize_region_place(mgn_node* node, double* xyz, double worst) {
  const long i = node->work - 1;
  if (node->work <= 0 || i + 1 >= static_cast<long>(st.tetra_start.size())) return false;
  if (!(worst > 0.0) || worst >= MGN_SMOOTH_OPTIMIZE_BELOW) return false;
  st.faces.clear();
  for (long t = st.tetra_start[i]; t < st.tetra_start[i + 1]; ++t) {
    const mgn_tetra* tetra = st.tetras[t];
    const int own_index = mgn_get_tetra_node_index(tetra, node);
    // The face opposite the node, turned toward it.
    const int* o = mgn_tetra_outward_face[own_index];
    st.faces.push_back(tetra->n[o[0]]->xyz);
    st.faces.push_back(tetra->n[o[2]]->xyz);
    st.faces.push_back(tetra->n[o[1]]->xyz);
  }
  const int count = static_cast<int>(st.faces.size() / 3);
  double p[3] = {xyz[0], xyz[1], xyz[2]};
  const double after = mgn_optimize_point(st.faces.data(), count, p, MGN_SMOOTH_OPTIMIZE_STEPS);
  double checked = 0.0;
  if (!(after > worst) || !region_move_allowed(node, p, worst, &checked)) return false;
  mgn_copy3(xyz, p);
  return true;
}

void store_region_place(mgn_node* node, const double* xyz) {
  if (last_pass()) {
    mgn_move_node(node, xyz);
  } else {
    for (int k = 0; k < 3; ++k) node->xyz[k] = xyz[k];
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Per-node routines
// ---------------------------------------------------------------------------

void mgn_smooth_surface_node(mgn_node* node) { smooth_face_node(node, false, false); }
void mgn_smooth_surface_node_weight(mgn_node* node) { smooth_face_node(node, true, false); }
void mgn_smooth_surface_quad_node(mgn_node* node) { smooth_face_node(node, false, true); }
void mgn_smooth_surface_quad_node_weight(mgn_node* node) { smooth_face_node(node, true, true); }
void mgn_smooth_patch_node(mgn_node* node) { smooth_face_node(node, false, false); }
void mgn_smooth_patch_node_weight(mgn_node* node) { smooth_face_node(node, true, false); }
void mgn_smooth_patch_quad_node(mgn_node* node) { smooth_face_node(node, false, true); }
void mgn_smooth_patch_quad_node_weight(mgn_node* node) { smooth_face_node(node, true, true); }
void mgn_smooth_shell_node(mgn_node* node) { smooth_face_node(node, false, false); }
void mgn_smooth_shell_node_weight(mgn_node* node) { smooth_face_node(node, true, false); }
void mgn_smooth_shell_quad_node(mgn_node* node) { smooth_face_node(node, false, true); }
void mgn_smooth_shell_quad_node_weight(mgn_node* node) { smooth_face_node(node, true, true); }

void mgn_smooth_region_node(mgn_node* node) {
  if (node->id == 0 || node->kind != MGN_REGION || node->entity != st.region ||
      (node->flags & (MGN_NODE_MIDSIDE | MGN_NODE_APEX)) != 0)
    return;
  const bool weighted = st.size_weight || st.connectivity_weight;
  double target[3];
  if (st.extruded) {
    // Along the extrusion line: the mean of the neighbours is put on the
    // line through the two line neighbours and pulled half of the way
    // toward their midpoint.
    mgn_node *a = nullptr, *b = nullptr;
    if (mgn_smooth_hook.extrusion_neighbours == nullptr ||
        !mgn_smooth_hook.extrusion_neighbours(node, &a, &b) || a == nullptr || b == nullptr)
      return;
    if (!get_mean(node, weighted, false, false, target)) return;
    double d[3], r[3];
    mgn_sub(b->xyz, a->xyz, d);
    const double l2 = mgn_dot(d, d);
    if (!(l2 > st.eps2)) return;
    mgn_sub(target, a->xyz, r);
    const double s = mgn_dot(r, d) / l2;
    double xyz[3];
    for (int k = 0; k < 3; ++k) {
      const double on_line = a->xyz[k] + s * d[k];
      const double mid = 0.5 * (a->xyz[k] + b->xyz[k]);
      xyz[k] = on_line + 0.5 * (mid - on_line);
    }
    store_region_place(node, xyz);
    return;
  }
  bool inner = false;
  for (const mgn_edge* edge : mgn_node_edges(node))
    if (edge->id != 0 && own(edge->kind, edge->entity) && other_end(edge, node)->kind == MGN_REGION) {
      inner = true;
      break;
    }
  // The move to the mean is taken only where no tetra around the node gets
  // worse than the worst one there now (so none is ever flattened or
  // inverted); a move that would is shortened step by step, and dropped
  // when no step helps.  A node surrounded by boundary nodes moves to the
  // mean only in the last pass.
  const double old[3] = {node->xyz[0], node->xyz[1], node->xyz[2]};
  const double before = ball_quality(node, old);
  double xyz[3] = {old[0], old[1], old[2]};
  double worst = before;
  bool moved = false;
  if ((inner || last_pass()) && get_mean(node, weighted, false, false, target)) {
    mgn_copy3(xyz, target);
    moved = region_move_allowed(node, xyz, before, &worst);
    if (!moved)
      moved = back_off(old, target, [&](const double* trial) {
        mgn_copy3(xyz, trial);
        return region_move_allowed(node, xyz, before, &worst);
      });
    if (!moved) mgn_copy3(xyz, old);
  }
  // Then, where the worst tetra around the node is still poor, the node
  // climbs toward the point that raises it.
  if (optimize_region_place(node, xyz, worst)) moved = true;
  if (moved) store_region_place(node, xyz);
}

// ---------------------------------------------------------------------------
// Entity runs
// ---------------------------------------------------------------------------

void mgn_smooth_subsurface(int kind, void* entity) {
  if (entity == nullptr) return;
  mgn_entity_mesh* mesh = mgn_get_entity_mesh(kind, entity);
  mgn_list attractions = nullptr;
  bool quad = false;
  switch (kind) {
    case MGN_SURFACE:
      attractions = static_cast<mgn_surface*>(entity)->attractions;
      quad = static_cast<mgn_surface*>(entity)->quad;
      break;
    case MGN_PATCH:
      attractions = static_cast<mgn_patch*>(entity)->attractions;
      quad = static_cast<mgn_patch*>(entity)->quad;
      break;
    case MGN_SHELL:
      attractions = static_cast<mgn_shell*>(entity)->attractions;
      quad = static_cast<mgn_shell*>(entity)->quad;
      break;
    default:
      mgn_manipulation_error("Invalid entity type encountered", MGN_HERE);
  }
  if (mesh->nodes == nullptr) return;
  reset_state();
  st.geo[0] = get_geometry(kind, entity);
  st.entities = 1;
  st.planar = st.geo[0].planar;
  // Attraction works on planar entities only.
  if (attractions != nullptr) {
    if (st.planar) {
      st.attraction = true;
      mark_attraction(attractions);
    } else {
      // Smoothing runs again after edge swaps: the warning stays once.
      mgn_warning_once("Warning: Boundary %s %ld cannot be subjected to attraction\n", kind_word(kind),
                       entity_id(kind, entity));
    }
  }
  const bool holds_quads = quad && mesh->quad_count > 0;
  int passes = MGN_SMOOTH_PASSES;
  if (quad) passes += passes % 2;
  if (st.attraction) passes = MGN_SMOOTH_ATTRACTION_PASSES;
  void (*routine)(mgn_node*) = nullptr;
  if (st.smoothing_type == 0 && !st.attraction)
    routine = holds_quads ? mgn_smooth_surface_quad_node : mgn_smooth_surface_node;
  else
    routine = holds_quads ? mgn_smooth_surface_quad_node_weight : mgn_smooth_surface_node_weight;
  // Once meshed, the entity's listing rests on its own first block.
  if (mesh->discretized) st.listing_count = mesh->node_total;
  collect_nodes(mesh->nodes, kind, entity);
  run_passes(passes, routine, quad && !st.attraction, &mesh->nodes, kind, entity);
  restore_attraction();
  reset_state();
}

void mgn_smooth_surface(mgn_surface* surface) { mgn_smooth_subsurface(MGN_SURFACE, surface); }
void mgn_smooth_patch(mgn_patch* patch) { mgn_smooth_subsurface(MGN_PATCH, patch); }
void mgn_smooth_shell(mgn_shell* shell) { mgn_smooth_subsurface(MGN_SHELL, shell); }

void mgn_smooth_hidden_curve(mgn_curve* curve, int kind_a, void* a, int kind_b, void* b) {
  if (curve == nullptr || a == nullptr || b == nullptr || curve->mesh.nodes == nullptr) return;
  reset_state();
  st.geo[0] = get_geometry(kind_a, a);
  st.geo[1] = get_geometry(kind_b, b);
  st.entities = 2;
  st.hidden = true;
  st.planar = st.geo[0].planar && st.geo[1].planar;
  // The listing of a meshed curve rests on its own first block.
  if (curve->mesh.discretized) st.listing_count = curve->mesh.node_count;
  collect_nodes(curve->mesh.nodes, MGN_CURVE, nullptr);
  st.hidden_nodes.clear();
  for (mgn_node* node : st.nodes) {
    smooth_hidden_node h{node, {{0.0, 0.0}, {0.0, 0.0}}, {true, true}};
    for (int i = 0; i < 2; ++i)
      mgn_find_closest_surface_point(st.geo[i].surface, node->xyz, &h.uv[i][0], &h.uv[i][1]);
    st.hidden_nodes.push_back(h);
  }
  const bool weighted = st.smoothing_type != 0;
  for (int pass = 0; pass < MGN_SMOOTH_PASSES; ++pass) {
    st.passes_left = MGN_SMOOTH_PASSES - pass;
    if (pass % 2 == 0) {
      for (smooth_hidden_node& h : st.hidden_nodes) smooth_hidden_node_visit(h, weighted);
    } else {
      for (auto it = st.hidden_nodes.rbegin(); it != st.hidden_nodes.rend(); ++it)
        smooth_hidden_node_visit(*it, weighted);
    }
  }
  st.hidden_nodes.clear();
  reset_state();
}

void mgn_smooth_hidden_curve_surface_surface(mgn_curve* curve, mgn_surface* a, mgn_surface* b) {
  mgn_smooth_hidden_curve(curve, MGN_SURFACE, a, MGN_SURFACE, b);
}
void mgn_smooth_hidden_curve_patch_patch(mgn_curve* curve, mgn_patch* a, mgn_patch* b) {
  mgn_smooth_hidden_curve(curve, MGN_PATCH, a, MGN_PATCH, b);
}
void mgn_smooth_hidden_curve_shell_shell(mgn_curve* curve, mgn_shell* a, mgn_shell* b) {
  mgn_smooth_hidden_curve(curve, MGN_SHELL, a, MGN_SHELL, b);
}
void mgn_smooth_hidden_curve_patch_surface(mgn_curve* curve, mgn_patch* a, mgn_surface* b) {
  mgn_smooth_hidden_curve(curve, MGN_PATCH, a, MGN_SURFACE, b);
}
void mgn_smooth_hidden_curve_shell_surface(mgn_curve* curve, mgn_shell* a, mgn_surface* b) {
  mgn_smooth_hidden_curve(curve, MGN_SHELL, a, MGN_SURFACE, b);
}
void mgn_smooth_hidden_curve_patch_shell(mgn_curve* curve, mgn_patch* a, mgn_shell* b) {
  mgn_smooth_hidden_curve(curve, MGN_PATCH, a, MGN_SHELL, b);
}

void mgn_smooth_region(mgn_region* region) {
  if (region == nullptr) return;
  // The repair passes of a region that is not extruded, with the smoothing
  // cycles still to come.
  auto repair = [region](bool forward, int cycle) {
    if (region->extrude) return;
    void (*pass)(mgn_region*, int) = forward ? mgn_smooth_hook.repair_forward : mgn_smooth_hook.repair_backward;
    if (pass != nullptr) pass(region, cycle);
  };
  if (!mgn_set.nodal_smoothing) {
    repair(true, 0);
    return;
  }
  if (mgn_smooth_hook.prepare_region != nullptr) mgn_smooth_hook.prepare_region(region);
  reset_state();
  st.region = region;
  st.extruded = region->extrude;
  st.valence_divisor = 12.0;
  // Cycle c = passes, passes - 1, ...: a repair pass (forward before a
  // forward sweep, backward before a backward one), then, while c was at
  // least 1, a sweep over the nodes; the last repair pass (c = 0) follows
  // the last sweep.
  const int passes = st.extruded ? MGN_SMOOTH_EXTRUDED_PASSES : MGN_SMOOTH_REGION_PASSES;
  for (int pass = 0;; ++pass) {
    const bool forward = pass % 2 == 0;
    const int cycle = passes - pass;
    repair(forward, cycle);
    if (cycle < 1) break;
    if (region->mesh.nodes == nullptr) continue;
    st.passes_left = cycle;
    // The repair may change nodes and tetras: both are taken again.
    collect_nodes(region->mesh.nodes, MGN_REGION, region);
    collect_region_tetras(region);
    if (forward) {
      for (mgn_node* node : st.nodes) mgn_smooth_region_node(node);
    } else {
      for (auto it = st.nodes.rbegin(); it != st.nodes.rend(); ++it) mgn_smooth_region_node(*it);
    }
  }
  for (mgn_node* node : st.nodes) node->work = 0;
  st.nodes.clear();
  st.tetras.clear();
  st.tetra_start.clear();
  reset_state();
  if (mgn_smooth_hook.finish_region != nullptr) mgn_smooth_hook.finish_region(region);
}
