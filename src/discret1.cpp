// Curve discretization: interval counts, the size and length integrals on
// the parameter tree of a piece of curve, node placement, fixed vertices,
// the distribution of a prescribed count over the pieces, the hand-over of
// the mesh to fixed curves, and mirrored curves.
#include "discret1.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "bezier.h"
#include "element.h"
#include "list.h"
#include "mesh1.h"
#include "message.h"
#include "octree.h"
#include "vec3.h"
#include "vertex.h"

mgn_curve_scratch mgn_curve_work;

namespace {

// Capacity of the scratch listings: min(L, 100) (at least 10).
long scratch_capacity() { return std::max(10L, std::min(mgn_set.listing_size, 100L)); }

// The scratch listings, created on first use when the driver has not
// created them.
void ensure_scratch() {
  if (mgn_curve_work.params == nullptr)
    mgn_curve_work.params = mgn_create_listing(2 * scratch_capacity(), sizeof(mgn_curve_param));
  if (mgn_curve_work.leaves == nullptr)
    mgn_curve_work.leaves = mgn_create_listing(scratch_capacity(), sizeof(mgn_curve_leaf));
}

[[noreturn]] void too_close(mgn_vertex* a, mgn_vertex* b, mgn_curve* curve, const char* routine, int line) {
  mgn_note_partial_vertex(a);
  mgn_note_partial_vertex(b);
  mgn_note_partial_curve(curve);
  mgn_manipulation_error(mgn_format("Vertices %ld and %ld on curve %ld are too close to each other",
                                    static_cast<long>(a->id), static_cast<long>(b->id),
                                    static_cast<long>(curve->id)),
                         routine, mgn_module_name(__FILE__), line);
}

[[noreturn]] void unexpected(const char* routine, int line) {
  mgn_manipulation_error("Unexpected situation", routine, mgn_module_name(__FILE__), line);
}

// Parameter tree of one piece of curve, kept as its leaves in order: the
// recursion below closes the leaves from the start of the piece, so the far
// end of each leaf receives the running integral.
struct parameter_tree {
  const mgn_curve* curve = nullptr;
  int forced_depth = 2;  // split at least while the depth is below it
  mgn_octant* hint = nullptr;
  mgn_curve_param* last = nullptr;
  double value = 0.0;
  // Length integral: target size, curvature rate, root octant size.
  double h0 = 0.0;
  double rate = 0.0;
  double root_size = 0.0;

  void start(const mgn_curve* c, double t) {
    ensure_scratch();
    mgn_empty_curve_scratch();
    curve = c;
    forced_depth = std::max<int>(c->shape_order, c->second_order);
    value = 0.0;
    last = new_param(t, 0.0);
  }

  mgn_curve_param* new_param(double t, double v) {
    auto* p = mgn_get_listing_item_as<mgn_curve_param>(mgn_curve_work.params);
    p->t = t;
    p->value = v;
    return p;
  }

  void close_leaf(double tb) {
    mgn_curve_param* b = new_param(tb, value);
    auto* leaf = mgn_get_listing_item_as<mgn_curve_leaf>(mgn_curve_work.leaves);
    leaf->a = last;
    leaf->b = b;
    last = b;
  }

  // Size integral over [ta, tb] with end points pa, pb and sizes ha, hb.
  void size_split(double ta, double tb, const double* pa, const double* pb, double ha, double hb,
                  int depth) {
    const double tm = 0.5 * (ta + tb);
    double pm[3];
    mgn_get_curve_point(curve, tm, pm);
    const double hm = mgn_get_octree_mesh_size(&hint, pm, true);
    if (!(hm > 0.0)) unexpected(__func__, __LINE__);
    const bool split = depth < forced_depth || mgn_get_point_distance(pa, pb) > ((2.0 * hm + ha + hb) / 4.0) / 2.0;
    if (split && depth < MGN_CURVE_DEPTH) {
      size_split(ta, tm, pa, pm, ha, hm, depth + 1);
      size_split(tm, tb, pm, pb, hm, hb, depth + 1);
      return;
    }
    value += (1.0 / hm + 1.0 / ha) * mgn_get_point_distance(pa, pm) / 2.0 + (1.0 / hb + 1.0 / hm) * mgn_get_point_distance(pm, pb) / 2.0;
    close_leaf(tb);
  }

  // Curvature size at t: rate / curvature where the curvature exceeds
  // 0.5 / R, else 2 R.
  double curvature_size(double t) const {
    if (rate != 0.0) {
      const double k = mgn_get_curve_curvature(curve, t);
      if (k > 0.5 / root_size) return rate / k;
    }
    return 2.0 * root_size;
  }

  // Length integral over [ta, tb]: split until the chord has once been at
  // most h0 / 2 and (with a curvature rate) at most the curvature size.
  void length_split(double ta, double tb, const double* pa, const double* pb, int depth, bool size_ok,
                    bool curvature_ok) {
    const double tm = 0.5 * (ta + tb);
    double pm[3];
    mgn_get_curve_point(curve, tm, pm);
    const double ks = curvature_size(tm);
    const double chord = mgn_get_point_distance(pa, pb);
    if (!size_ok && chord <= h0 / 2.0) size_ok = true;
    if (!curvature_ok && (rate == 0.0 || chord <= ks)) curvature_ok = true;
    const bool split = depth < forced_depth || !size_ok || !curvature_ok;
    if (split && depth < MGN_CURVE_DEPTH) {
      length_split(ta, tm, pa, pm, depth + 1, size_ok, curvature_ok);
      length_split(tm, tb, pm, pb, depth + 1, size_ok, curvature_ok);
      return;
    }
    value += (mgn_get_point_distance(pa, pm) + mgn_get_point_distance(pm, pb)) / std::min(ks, h0);
    close_leaf(tb);
  }

  // Integral from the start of the piece to t, interpolated in its leaf.
  double value_at(double t) const {
    double v = 0.0;
    for (mgn_curve_leaf* leaf :
         mgn_listing_range<mgn_curve_leaf>(mgn_get_first_listing_block(mgn_curve_work.leaves))) {
      const double ta = leaf->a->t, tb = leaf->b->t;
      v = leaf->b->value;
      if (t <= tb) {
        if (tb > ta) v = leaf->a->value + (t - ta) / (tb - ta) * (leaf->b->value - leaf->a->value);
        return v;
      }
    }
    return v;
  }
};

// Point and size of the end of a piece: the vertex's node when the vertex
// bounds the curve, else the curve point at t.
void piece_end(const mgn_curve* curve, mgn_vertex* vertex, mgn_node* node, double t, double* p) {
  if (vertex == curve->vertex[0] || vertex == curve->vertex[1]) {
    p[0] = node->xyz[0];
    p[1] = node->xyz[1];
    p[2] = node->xyz[2];
  } else {
    mgn_get_curve_point(curve, t, p);
  }
}

// Adds a block for n more references to a per-entity listing, after
// shrinking the blocks in use, so that the records of one piece sit together.
void reserve_references(mgn_listing*& listing, long n) {
  if (n <= 0) return;
  mgn_listing* block = mgn_create_listing(mgn_get_chunk_capacity(n), sizeof(void*));
  listing = listing == nullptr ? block : mgn_append_listing(mgn_realloc_listing(listing), block);
}

// Stores a reference in a per-entity listing that has room for it.
void store_reference(mgn_listing*& listing, void* record) {
  *static_cast<void**>(mgn_get_listing_item(listing)) = record;
}

// The first count references of the listing of a discretized entity, which
// rests on its first block (after the move into the global listings the
// chain goes on with other entities' blocks).
template <typename T>
std::vector<T*> references(mgn_listing* listing, long count) {
  std::vector<T*> out;
  out.reserve(static_cast<std::size_t>(std::max(0L, count)));
  for (T** ref : mgn_listing_first<T*>(listing, std::max(0L, count))) out.push_back(*ref);
  return out;
}

// The nodes of a meshed curve in order from its first to its last vertex,
// following its edges.
std::vector<mgn_node*> curve_node_sequence(const mgn_curve* curve) {
  std::vector<mgn_node*> nodes;
  const std::vector<mgn_edge*> edges = references<mgn_edge>(curve->mesh.edges, curve->mesh.edge_count);
  if (edges.empty()) return nodes;
  nodes.reserve(edges.size() + 1);
  nodes.push_back(edges.front()->n[0]);
  for (const mgn_edge* edge : edges) {
    if (edge->n[0] != nodes.back()) unexpected(__func__, __LINE__);
    nodes.push_back(edge->n[1]);
  }
  return nodes;
}

// Parameter on the curve of node i of its node sequence (count nodes).
double node_parameter(const mgn_node* node, const mgn_curve* curve, std::size_t i, std::size_t count) {
  if (i == 0) return 0.0;
  if (i + 1 == count) return 1.0;
  double t;
  if (!mgn_find_node_curve_parameter(curve, node, &t)) unexpected(__func__, __LINE__);
  return t;
}

// The vertices fixed on the curve with their parameters, in parameter
// order, one per representative, without virtual ones and the curve's ends.
struct fixed_vertex {
  mgn_vertex* vertex;
  double t;
};
std::vector<fixed_vertex> sorted_fixed_vertices(mgn_curve* curve) {
  std::vector<fixed_vertex> out;
  const mgn_vertex* ends[2] = {mgn_get_vertex_representative(curve->vertex[0]),
                               mgn_get_vertex_representative(curve->vertex[1])};
  for (mgn_vertex* v : mgn_list_range<mgn_vertex>(curve->fixed_vertices)) {
    if (v->is_virtual) continue;
    const mgn_vertex* rep = mgn_get_vertex_representative(v);
    if (rep == ends[0] || rep == ends[1]) continue;
    bool seen = false;
    for (const fixed_vertex& f : out) seen = seen || mgn_get_vertex_representative(f.vertex) == rep;
    double t;
    if (seen || !mgn_get_vertex_curve_parameter(v, curve, &t)) continue;
    out.push_back({v, t});
  }
  std::stable_sort(out.begin(), out.end(), [](const fixed_vertex& a, const fixed_vertex& b) {
    return a.t < b.t || (a.t == b.t && a.vertex->id < b.vertex->id);
  });
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Counts and scratch
// ---------------------------------------------------------------------------

long mgn_get_curve_interval_count(double integral) {
  const double n = std::floor(integral + 0.792241119 * std::exp(-0.043834065 * integral));
  if (!(n >= 1.0)) return 1;
  return n > 2e9 ? 2000000000L : static_cast<long>(n);
}

void mgn_create_curve_scratch() {
  const long l = std::max(1L, mgn_set.listing_size);
  mgn_curve_work.params = mgn_create_listing(2 * std::min(l, 100L), sizeof(mgn_curve_param));
  mgn_curve_work.leaves = mgn_create_listing(std::min(l, 100L), sizeof(mgn_curve_leaf));
}

void mgn_empty_curve_scratch() {
  for (mgn_listing** listing : {&mgn_curve_work.params, &mgn_curve_work.leaves}) {
    if (*listing == nullptr) continue;
    *listing = mgn_get_first_listing_block(*listing);
    mgn_reset_listing(*listing);
  }
}

void mgn_release_curve_scratch() {
  for (mgn_listing** listing : {&mgn_curve_work.params, &mgn_curve_work.leaves}) {
    if (*listing != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(*listing));
    *listing = nullptr;
  }
}

// ---------------------------------------------------------------------------
// One piece of curve
// ---------------------------------------------------------------------------

void mgn_discretize_subcurve(mgn_curve* curve, mgn_vertex* start, mgn_vertex* end, double t_start,
                             double t_end) {
  if (mgn_tree.root == nullptr) unexpected(__func__, __LINE__);
  mgn_node* node_a = mgn_get_vertex_node(start);
  mgn_node* node_b = mgn_get_vertex_node(end);
  double pa[3], pb[3];
  piece_end(curve, start, node_a, t_start, pa);
  piece_end(curve, end, node_b, t_end, pb);
  const double ha = node_a->size, hb = node_b->size;
  if (!(ha > 0.0) || !(hb > 0.0)) unexpected(__func__, __LINE__);

  // The count and the weight function.
  mgn_vertex* end_rep = mgn_get_vertex_representative(end);
  const long prescribed = end_rep->prescribed_count;
  end_rep->prescribed_count = 0;
  const bool whole = t_start == 0.0 && t_end == 1.0;
  bool by_length = false;
  long n = 0;
  double length = 0.0;
  if (prescribed < 0) {
    by_length = true;
    n = -prescribed;
    length = mgn_integrate_curve_length(curve, t_start, t_end);
  } else if (prescribed > 0) {
    n = prescribed;
  } else if (whole && curve->count > 0 && curve->equidistant) {
    by_length = true;
    n = curve->count;
    length = mgn_integrate_curve_length(curve, 0.0, 1.0);
  } else if (whole && curve->count > 0) {
    n = curve->count;
  }

  parameter_tree tree;
  tree.start(curve, t_start);
  if (by_length) {
    if (length < mgn_tol.user_eps) too_close(start, end, curve, __func__, __LINE__);
    double h0 = length / static_cast<double>(n);
    if (prescribed == 0 && mgn_set.size_factor != 0.0)
      curve->size = curve->size == 0.0f ? static_cast<float>(h0) : std::min(curve->size, static_cast<float>(h0));
    // Finer sampling of curved geometry; the count does not change.
    if (curve->order > 2) h0 /= 100.0;
    tree.h0 = h0;
    tree.rate = curve->rate;
    tree.root_size = mgn_tree.root_size;
    tree.length_split(t_start, t_end, pa, pb, 1, false, false);
  } else {
    tree.size_split(t_start, t_end, pa, pb, ha, hb, 1);
    const bool exempt = prescribed > 0 && (start->close_exempt || end->close_exempt ||
                                           mgn_get_vertex_representative(start)->close_exempt ||
                                           end_rep->close_exempt);
    if (!(tree.value >= 0.1) && !exempt && !(mgn_get_point_distance(pa, pb) >= mgn_tol.user_eps))
      too_close(start, end, curve, __func__, __LINE__);
    if (n == 0) n = mgn_get_curve_interval_count(tree.value);
  }
  const double integral = tree.value;
  if (!(integral > 0.0)) too_close(start, end, curve, __func__, __LINE__);

  // Node placement at the integer multiples of I / n.
  reserve_references(curve->mesh.nodes, n - 1);
  reserve_references(curve->mesh.edges, n);
  const double q = static_cast<double>(n) / integral;
  const double tolerance = static_cast<double>(n) * 1e-14 * 10.0;
  mgn_node* previous = node_a;
  double edge_length = 0.0;
  long k = 1;
  for (mgn_curve_leaf* leaf :
       mgn_listing_range<mgn_curve_leaf>(mgn_get_first_listing_block(mgn_curve_work.leaves))) {
    if (k >= n) break;
    const double ta = leaf->a->t, tb = leaf->b->t;
    const double ka = q * leaf->a->value, kb = q * leaf->b->value;
    while (k < n && static_cast<double>(k) <= kb + tolerance) {
      double t = kb > ka ? ((kb - k) * ta + (k - ka) * tb) / (kb - ka) : tb;
      t = std::clamp(t, std::min(ta, tb), std::max(ta, tb));
      double p[3];
      mgn_get_curve_point(curve, t, p);
      mgn_node* node = mgn_create_node(p, &t, MGN_CURVE, curve, &curve->mesh.nodes);
      mgn_create_edge(previous, node, MGN_CURVE, curve, &curve->mesh.edges);
      edge_length += mgn_get_point_distance(previous->xyz, node->xyz);
      previous = node;
      ++k;
    }
  }
  if (k < n) unexpected(__func__, __LINE__);
  mgn_create_edge(previous, node_b, MGN_CURVE, curve, &curve->mesh.edges);
  edge_length += mgn_get_point_distance(previous->xyz, node_b->xyz);
  curve->edge_length += static_cast<float>(edge_length);
  mgn_empty_curve_scratch();
}

// ---------------------------------------------------------------------------
// Fixed vertices
// ---------------------------------------------------------------------------

mgn_vertex* mgn_get_next_fixed_vertex(mgn_curve* curve, mgn_vertex* current, double t, double* t_next) {
  const mgn_vertex* reps[3] = {mgn_get_vertex_representative(current),
                               mgn_get_vertex_representative(curve->vertex[0]),
                               mgn_get_vertex_representative(curve->vertex[1])};
  mgn_vertex* best = nullptr;
  double best_t = 0.0;
  for (mgn_vertex* v : mgn_list_range<mgn_vertex>(curve->fixed_vertices)) {
    if (v->is_virtual) continue;
    const mgn_vertex* rep = mgn_get_vertex_representative(v);
    if (rep == reps[0] || rep == reps[1] || rep == reps[2]) continue;
    double tv;
    if (!mgn_get_vertex_curve_parameter(v, curve, &tv) || tv < t) continue;
    // Ties go to the smaller identifier.
    if (best == nullptr || tv < best_t || (tv == best_t && v->id < best->id)) {
      best = v;
      best_t = tv;
    }
  }
  if (best == nullptr) {
    best = curve->vertex[1];
    best_t = 1.0;
  }
  if (best_t - t < 1e-9 && mgn_get_point_distance(current->xyz, best->xyz) < mgn_tol.user_eps)
    too_close(current, best, curve, __func__, __LINE__);
  *t_next = best_t;
  return best;
}

void mgn_build_data_curve_vertex(mgn_curve* curve) {
  const long total = curve->count;
  if (total <= 0) return;
  const std::vector<fixed_vertex> fixed = sorted_fixed_vertices(curve);
  const long k = static_cast<long>(fixed.size());
  if (k == 0) return;
  if (k >= total) {
    mgn_warning("Warning: Number of vertices (%d) to be accommodated on curve %ld is too large\n"
                "         with respect to the prescribed number of intervals\n"
                "         Quad mapping requests on entities bounded by curve %ld are ignored\n",
                static_cast<int>(k), static_cast<long>(curve->id), static_cast<long>(curve->id));
    for (mgn_surface* s : mgn_list_range<mgn_surface>(curve->surfaces)) s->map = false;
    for (mgn_patch* p : mgn_list_range<mgn_patch>(curve->patches)) p->map = false;
    for (mgn_shell* s : mgn_list_range<mgn_shell>(curve->shells)) s->map = false;
    return;
  }

  // The integral over the whole curve: by size, or by length for an
  // equidistant request (whose pieces are then spaced by length as well).
  mgn_node* node_a = mgn_get_vertex_node(curve->vertex[0]);
  mgn_node* node_b = mgn_get_vertex_node(curve->vertex[1]);
  parameter_tree tree;
  tree.start(curve, 0.0);
  if (curve->equidistant) {
    const double length = mgn_integrate_curve_length(curve, 0.0, 1.0);
    if (length < mgn_tol.user_eps) too_close(curve->vertex[0], curve->vertex[1], curve, __func__, __LINE__);
    tree.h0 = length / static_cast<double>(total) / (curve->order > 2 ? 100.0 : 1.0);
    tree.rate = 0.0;
    tree.root_size = mgn_tree.root_size;
    tree.length_split(0.0, 1.0, node_a->xyz, node_b->xyz, 1, false, false);
  } else {
    if (mgn_tree.root == nullptr) unexpected(__func__, __LINE__);
    tree.size_split(0.0, 1.0, node_a->xyz, node_b->xyz, node_a->size, node_b->size, 1);
  }
  if (!(tree.value > 0.0)) too_close(curve->vertex[0], curve->vertex[1], curve, __func__, __LINE__);
  const double q = static_cast<double>(total) / tree.value;
  std::vector<long> index(fixed.size());
  for (std::size_t i = 0; i < fixed.size(); ++i)
    index[i] = static_cast<long>(std::floor(q * tree.value_at(fixed[i].t) + 0.5));
  mgn_empty_curve_scratch();

  // Strictly increasing indices within 1 .. total - 1.
  for (int round = 0; round < 4; ++round) {
    long previous = 0;
    for (long& i : index) {
      if (i <= previous) i = previous + 1;
      previous = i;
    }
    if (index.back() < total) break;
    long following = total;
    for (auto it = index.rbegin(); it != index.rend(); ++it) {
      if (*it >= following) *it = following - 1;
      following = *it;
    }
    if (index.front() >= 1) break;
  }
  const long sign = curve->equidistant ? -1 : 1;
  long previous = 0;
  for (std::size_t i = 0; i < fixed.size(); ++i) {
    mgn_get_vertex_representative(fixed[i].vertex)->prescribed_count =
        static_cast<int32_t>(sign * (index[i] - previous));
    previous = index[i];
  }
  mgn_get_vertex_representative(curve->vertex[1])->prescribed_count = static_cast<int32_t>(sign * (total - previous));
}

// ---------------------------------------------------------------------------
// Fixed curves
// ---------------------------------------------------------------------------

namespace {

// Gives the physical curves fixed on child (through physical curves) the
// records of their intervals of the meshed top curve.
void hand_over(mgn_curve* child, const std::vector<mgn_node*>& nodes, const std::vector<mgn_edge*>& edges,
               int depth) {
  if (depth > 1000) unexpected(__func__, __LINE__);
  for (mgn_curve* c : mgn_list_range<mgn_curve>(child->fixed_curves)) {
    if (c->is_virtual || c->mesh.discretized) continue;
    mgn_node* first = mgn_get_vertex_node(c->vertex[0]);
    mgn_node* last = mgn_get_vertex_node(c->vertex[1]);
    const auto i0 = std::find(nodes.begin(), nodes.end(), first);
    const auto i1 = std::find(nodes.begin(), nodes.end(), last);
    if (i0 == nodes.end() || i1 == nodes.end() || i1 <= i0) unexpected(__func__, __LINE__);
    const long a = i0 - nodes.begin(), b = i1 - nodes.begin();
    reserve_references(c->mesh.nodes, b - a - 1);
    reserve_references(c->mesh.edges, b - a);
    double length = 0.0;
    for (long i = a + 1; i < b; ++i) store_reference(c->mesh.nodes, nodes[i]);
    for (long i = a; i < b; ++i) {
      store_reference(c->mesh.edges, edges[i]);
      length += mgn_get_point_distance(edges[i]->n[0]->xyz, edges[i]->n[1]->xyz);
    }
    c->mesh.node_count = c->mesh.node_total = static_cast<int32_t>(b - a - 1);
    c->mesh.edge_count = c->mesh.edge_total = static_cast<int32_t>(b - a);
    c->edge_length = static_cast<float>(length);
    c->mesh.discretized = true;
    hand_over(c, nodes, edges, depth + 1);
  }
}

}  // namespace

void mgn_update_fixed_curve(mgn_curve* curve) {
  if (curve->fixed_curves == nullptr) return;
  const std::vector<mgn_node*> nodes = curve_node_sequence(curve);
  const std::vector<mgn_edge*> edges = references<mgn_edge>(curve->mesh.edges, curve->mesh.edge_count);
  if (nodes.empty()) return;
  hand_over(curve, nodes, edges, 0);
}

// ---------------------------------------------------------------------------
// Mirrored curves
// ---------------------------------------------------------------------------

long mgn_accommodate_vertex(mgn_curve* curve, mgn_vertex* vertex, double t, const double* params, long count,
                            const bool* taken) {
  long best = -1;
  for (long i = 1; i + 1 < count; ++i)
    if (best < 0 || std::fabs(params[i] - t) < std::fabs(params[best] - t)) best = i;
  if (best < 0 || taken[best] || !(params[best - 1] < t && t < params[best + 1])) {
    mgn_note_partial_vertex(vertex);
    mgn_note_partial_curve(curve);
    mgn_manipulation_error(mgn_format("Vertex %ld on mirrored curve %ld cannot be accommodated",
                                      static_cast<long>(vertex->id), static_cast<long>(curve->id)),
                           MGN_HERE);
  }
  return best;
}

namespace {

// One node and edge of a mirrored curve: a new node at parameter t (or the
// given vertex node, which is not one of the curve's own) joined to the
// previous node.
mgn_node* mgn_mirror_edge(mgn_curve* curve, mgn_node* previous, mgn_node* node, double t, double* length) {
  if (node == nullptr) {
    double p[3];
    mgn_get_curve_point(curve, t, p);
    node = mgn_create_node(p, &t, MGN_CURVE, curve, &curve->mesh.nodes);
  }
  mgn_create_edge(previous, node, MGN_CURVE, curve, &curve->mesh.edges);
  *length += mgn_get_point_distance(previous->xyz, node->xyz);
  return node;
}

}  // namespace

void mgn_mirror_subcurve(mgn_curve* curve) {
  mgn_curve* source = curve->mirrored;
  if (source == nullptr || !source->mesh.discretized) unexpected(__func__, __LINE__);
  const std::vector<mgn_node*> nodes = curve_node_sequence(source);
  const std::size_t count = nodes.size();
  if (count < 2) unexpected(__func__, __LINE__);
  std::vector<double> params(count);
  for (std::size_t i = 0; i < count; ++i) params[i] = node_parameter(nodes[i], source, i, count);

  // The mirror maps the source's ends to the curve's ends; a shared end
  // vertex (on the mirror plane) tells that they run in opposite directions.
  const mgn_vertex* src[2] = {mgn_get_vertex_representative(source->vertex[0]),
                              mgn_get_vertex_representative(source->vertex[1])};
  const mgn_vertex* own[2] = {mgn_get_vertex_representative(curve->vertex[0]),
                              mgn_get_vertex_representative(curve->vertex[1])};
  const bool opposite = (own[0] == src[1] || own[1] == src[0]) && !(own[0] == src[0] || own[1] == src[1]);
  if (opposite) {
    std::reverse(params.begin(), params.end());
    for (double& t : params) t = 1.0 - t;
  }
  params.front() = 0.0;
  params.back() = 1.0;

  // Vertices fixed on the curve take the place of the nearest mirrored node.
  std::vector<mgn_node*> fixed_nodes(count, nullptr);
  std::unique_ptr<bool[]> taken(new bool[count]());
  bool split = false;
  for (const fixed_vertex& f : sorted_fixed_vertices(curve)) {
    const long i = mgn_accommodate_vertex(curve, f.vertex, f.t, params.data(), static_cast<long>(count), taken.get());
    taken[i] = true;
    fixed_nodes[i] = mgn_get_vertex_node(f.vertex);
    params[i] = f.t;
    split = true;
  }

  mgn_node* previous = mgn_get_vertex_node(curve->vertex[0]);
  reserve_references(curve->mesh.nodes, static_cast<long>(count) - 2);
  reserve_references(curve->mesh.edges, static_cast<long>(count) - 1);
  double length = 0.0;
  for (std::size_t i = 1; i + 1 < count; ++i)
    previous = mgn_mirror_edge(curve, previous, fixed_nodes[i], params[i], &length);
  mgn_mirror_edge(curve, previous, mgn_get_vertex_node(curve->vertex[1]), 1.0, &length);
  curve->edge_length += static_cast<float>(length);
  curve->fixed_split = split;
}
