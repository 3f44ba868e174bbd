// Tetra mesh repair: the plans of local transformations (checking and
// making them), the point optimization they and the region smoothing share,
// the repair of one tetra and the passes over a region.  The plan routines
// of the transformations are in src/mesh3_swap.cpp (face swap, edge
// removal), src/mesh3_collapse.cpp (node removal, edge collapse) and
// src/mesh3_insert.cpp (node insertion).
//
// A pass walks the tetras of a region and hands each to
// mgn_fix_region_tetra.  A bad tetra (boundary quality at most
// MGN_REPAIR_QUALITY) gets plans of the transformations around it: the face
// swaps 2-3 across its four faces and the removal of each of its six
// edges; where no swap makes its worst tetra good, the removal of each of
// its region nodes and the collapse of each of its short edges between
// region nodes; and where all these leave the worst tetra poor, the
// insertion of a node into it and its neighbours.  A fair tetra (up to
// MGN_REPAIR_SWAP_QUALITY) gets the swaps only, which raise the mean
// quality at a small cost.  The plans that make the worst tetra of their
// cavity better are checked, the best first, and the first valid one is
// made.  A plan is valid when its new tetras keep the faces of the
// cavity's boundary exactly (so boundary triangles, the neighbours outside
// and the volume stay), each is positive by the exact orientation test,
// every face inside is shared by two of them, no edge it adds exists
// already, and it retires no node or edge that is not the region's own.  A
// cavity's worst tetra only ever gets better, so the passes cannot cycle.
//
// A tetra that keeps a non-positive volume is reported: the run goes on
// with a warning when two of its opposite edges nearly cross (a flattened
// sliver, which later cycles may still repair) and ends otherwise.
#include "mesh3.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "element.h"
#include "geom.h"
#include "list.h"
#include "message.h"
#include "topo3.h"
#include "vec3.h"

namespace {

// A plan pays when its worst new tetra beats the cavity's by this margin
// (which keeps rounding from undoing and redoing a change).
constexpr double kGain = 1e-9;
// Node insertion is planned when the best other plan leaves the worst tetra
// below this quality; node removal and edge collapse when the best swap
// leaves it below this one.
constexpr double kInsertBelow = 0.25;
constexpr double kSwapsSuffice = 0.6;
// Two opposite edges of a tetra nearly cross when their closest points lie
// within this fraction of the tetra's mean edge length (the crossing
// tolerance).
constexpr double kCrossing = 0.1;
constexpr double kBoundaryQualityScale = 374.1229744;
// Halvings of a step of the point optimization before it gives up.
constexpr int kLineSearchSteps = 6;
// A forward pass visits at most this many times the tetras it started with
// (it also visits the tetras it makes).
constexpr long kPassLength = 4;
// Tetras of this quality or below are flat to within rounding; a forward
// pass takes the ones it leaves again, at most this many times.
constexpr double kFlat = 1e-6;
constexpr int kFlatRounds = 3;

bool in_sorted(const std::vector<mgn_tetra*>& sorted, const mgn_tetra* t) {
  return std::binary_search(sorted.begin(), sorted.end(), t);
}

// ---------------------------------------------------------------------------
// The cavity of a plan: its boundary, the pairing of faces, its edges
// ---------------------------------------------------------------------------

mgn_repair_context::face_key make_key(mgn_node* a, mgn_node* b, mgn_node* c, int32_t owner) {
  mgn_repair_context::face_key key{{a->id, b->id, c->id}, owner, 0};
  // Sorting three values: each exchange turns the orientation over.
  int turn = 0;
  auto order = [&](int i, int j) {
    if (key.id[i] > key.id[j]) {
      std::swap(key.id[i], key.id[j]);
      turn ^= 1;
    }
  };
  order(0, 1);
  order(1, 2);
  order(0, 1);
  key.turn = static_cast<int8_t>(turn);
  return key;
}

// Pairs every face of the new tetras with a boundary face of the cavity
// (the same face turning the same way) or with a face of another new tetra
// (turning the other way); every boundary face must be taken exactly once.
// Returns false when the new tetras do not fill the cavity that way.
bool pair_faces(mgn_repair_context& ctx, const std::vector<mgn_tetra_nodes>& tetras,
                std::vector<mgn_repair_context::face_pair>* pairs) {
  ctx.faces.clear();
  for (std::size_t i = 0; i < tetras.size(); ++i)
    for (int k = 0; k < 4; ++k) {
      const int* o = mgn_tetra_outward_face[k];
      ctx.faces.push_back(make_key(tetras[i][o[0]], tetras[i][o[1]], tetras[i][o[2]], static_cast<int32_t>(4 * i + k)));
    }
  for (std::size_t b = 0; b < ctx.boundary.size(); ++b) {
    const auto& f = ctx.boundary[b];
    ctx.faces.push_back(make_key(f.n[0], f.n[1], f.n[2], -1 - static_cast<int32_t>(b)));
  }
  auto less = [](const mgn_repair_context::face_key& x, const mgn_repair_context::face_key& y) {
    if (x.id[0] != y.id[0]) return x.id[0] < y.id[0];
    if (x.id[1] != y.id[1]) return x.id[1] < y.id[1];
    if (x.id[2] != y.id[2]) return x.id[2] < y.id[2];
    return x.owner < y.owner;
  };
  std::sort(ctx.faces.begin(), ctx.faces.end(), less);
  if (pairs != nullptr) pairs->clear();
  const std::size_t count = ctx.faces.size();
  for (std::size_t first = 0; first < count;) {
    std::size_t last = first + 1;
    while (last < count && ctx.faces[last].id[0] == ctx.faces[first].id[0] &&
           ctx.faces[last].id[1] == ctx.faces[first].id[1] && ctx.faces[last].id[2] == ctx.faces[first].id[2])
      ++last;
    // Boundary entries come first (negative owners).
    const mgn_repair_context::face_key* group = &ctx.faces[first];
    const std::size_t size = last - first;
    std::size_t bounds = 0;
    while (bounds < size && group[bounds].owner < 0) ++bounds;
    if (bounds == 0) {
      if (size != 2 || group[0].turn == group[1].turn) return false;
      if (pairs != nullptr) pairs->push_back({group[0].owner, group[1].owner});
    } else {
      // A face of a surface lying inside the cavity is a boundary face on
      // both of its sides.
      if (size != 2 * bounds || bounds > 2) return false;
      if (bounds == 2 && group[0].turn == group[1].turn) return false;
      for (std::size_t b = 0; b < bounds; ++b) {
        std::size_t match = size;
        for (std::size_t n = bounds; n < size; ++n)
          if (group[n].turn == group[b].turn) {
            if (match != size) return false;
            match = n;
          }
        if (match == size) return false;
        if (pairs != nullptr) pairs->push_back({group[b].owner, group[match].owner});
      }
    }
    first = last;
  }
  return true;
}

using edge_key = mgn_repair_context::edge_key;

bool edge_less(const edge_key& x, const edge_key& y) { return x.key < y.key; }

void add_tetra_edges(const mgn_node* const n[4], std::vector<edge_key>& edges) {
  // An identifier with its sign bit flipped orders as an unsigned number
  // the way it does as a signed one (the probe node's is negative).
  auto order = [](const mgn_node* node) {
    return static_cast<uint64_t>(static_cast<uint32_t>(node->id) ^ 0x80000000u);
  };
  for (const auto& e : mgn_tetra_edge_nodes) {
    mgn_node* a = const_cast<mgn_node*>(n[e[0]]);
    mgn_node* b = const_cast<mgn_node*>(n[e[1]]);
    if (a->id > b->id) std::swap(a, b);
    edges.push_back({order(a) << 32 | order(b), {a, b}});
  }
}

void sort_unique(std::vector<edge_key>& edges) {
  std::sort(edges.begin(), edges.end(), edge_less);
  auto same = [](const edge_key& x, const edge_key& y) { return x.key == y.key; };
  edges.erase(std::unique(edges.begin(), edges.end(), same), edges.end());
}

// The edges of the cavity (old) and of the new tetras (new), each sorted.
void collect_edges(mgn_repair_context& ctx, const std::vector<mgn_tetra*>& cavity,
                   const std::vector<mgn_tetra_nodes>& tetras) {
  ctx.old_edges.clear();
  ctx.new_edges.clear();
  for (const mgn_tetra* t : cavity) add_tetra_edges(t->n, ctx.old_edges);
  for (const mgn_tetra_nodes& n : tetras) add_tetra_edges(n.data(), ctx.new_edges);
  sort_unique(ctx.old_edges);
  sort_unique(ctx.new_edges);
}

// The records of the cavity's edges that no new tetra keeps, in the order
// of ctx.old_edges, into ctx.gone_edges; false when one of them is not the
// region's own (or missing).
bool collect_gone_edges(mgn_repair_context& ctx) {
  ctx.gone_edges.clear();
  for (const auto& e : ctx.old_edges)
    if (!std::binary_search(ctx.new_edges.begin(), ctx.new_edges.end(), e, edge_less)) {
      mgn_edge* edge = mgn_get_node_edge(e.n[0], e.n[1]);
      if (!mgn_is_repair_edge(ctx, edge)) return false;
      ctx.gone_edges.push_back(edge);
    }
  return true;
}

// Whether the node is a corner of one of the new tetras.
bool kept(const std::vector<mgn_tetra_nodes>& tetras, const mgn_node* node) {
  for (const mgn_tetra_nodes& n : tetras)
    for (const mgn_node* m : n)
      if (m == node) return true;
  return false;
}

}  // namespace

void mgn_collect_cavity_boundary(mgn_repair_context& ctx, const std::vector<mgn_tetra*>& cavity) {
  ctx.checked = nullptr;
  ctx.sorted.assign(cavity.begin(), cavity.end());
  std::sort(ctx.sorted.begin(), ctx.sorted.end());
  ctx.boundary.clear();
  for (mgn_tetra* t : cavity)
    for (int k = 0; k < 4; ++k) {
      const mgn_tetra* across = mgn_get_neighbour_tetra(t, k);
      if (across != nullptr && in_sorted(ctx.sorted, across)) continue;
      const int* o = mgn_tetra_outward_face[k];
      ctx.boundary.push_back({{t->n[o[0]], t->n[o[1]], t->n[o[2]]}, t->ngb[k], t->ngb_type[k]});
    }
}

bool mgn_is_repair_node(const mgn_repair_context& ctx, const mgn_node* node) {
  return node->kind == MGN_REGION && node->entity == ctx.region && (node->flags & MGN_NODE_MIDSIDE) == 0;
}

bool mgn_is_repair_edge(const mgn_repair_context& ctx, const mgn_edge* edge) {
  return edge != nullptr && edge->id != 0 && edge->kind == MGN_REGION && edge->entity == ctx.region;
}

bool mgn_fits_size(const double* xyz, float size_a, const mgn_node* b) {
  // Without sizes (a mesh built by hand) every edge fits.
  if (!(size_a > 0.0f) || !(b->size > 0.0f)) return true;
  const double limit = MGN_REPAIR_LONG_EDGE * 0.5 * (static_cast<double>(size_a) + b->size);
  return mgn_get_point_square_distance(xyz, b->xyz) <= limit * limit;
}

double mgn_get_nodes_tetra_quality(const mgn_tetra_nodes& n) {
  return mgn_get_tetra_shape_quality(n[0]->xyz, n[1]->xyz, n[2]->xyz, n[3]->xyz, nullptr);
}

double mgn_get_worst_tetra_quality(const std::vector<mgn_tetra*>& tetras) {
  double worst = 1.0;
  for (const mgn_tetra* t : tetras)
    worst = std::min(worst, mgn_get_tetra_shape_quality(t->n[0]->xyz, t->n[1]->xyz, t->n[2]->xyz, t->n[3]->xyz, nullptr));
  return worst;
}

bool mgn_check_positive_nodes(const mgn_tetra_nodes& n) {
  return mgn_orient3d(n[0]->xyz, n[1]->xyz, n[2]->xyz, n[3]->xyz) > 0;
}

void mgn_start_plan(mgn_remesh_plan& plan, int kind) {
  plan.kind = kind;
  plan.cavity.clear();
  plan.tetras.clear();
  plan.adds_node = false;
  plan.before = plan.after = 0.0;
}

bool mgn_measure_plan(mgn_repair_context& ctx, mgn_remesh_plan& plan) {
  if (plan.adds_node)
    for (int k = 0; k < 3; ++k) ctx.probe_xyz[k] = plan.xyz[k];
  plan.before = mgn_get_worst_tetra_quality(plan.cavity);
  plan.after = 1.0;
  for (const mgn_tetra_nodes& n : plan.tetras) {
    plan.after = std::min(plan.after, mgn_get_nodes_tetra_quality(n));
    if (!(plan.after > plan.before + kGain)) return false;
  }
  return !plan.tetras.empty();
}

void mgn_get_probe_faces(const mgn_repair_context& ctx, const std::vector<mgn_tetra_nodes>& tetras,
                         std::vector<const double*>& faces) {
  faces.clear();
  for (const mgn_tetra_nodes& n : tetras)
    for (int i = 0; i < 4; ++i) {
      if (n[i] != &ctx.probe) continue;
      const int* o = mgn_tetra_outward_face[i];
      faces.push_back(n[o[0]]->xyz);
      faces.push_back(n[o[2]]->xyz);
      faces.push_back(n[o[1]]->xyz);
    }
}

bool mgn_check_plan(mgn_repair_context& ctx, const mgn_remesh_plan& plan) {
  ctx.checked = nullptr;
  if (plan.adds_node)
    for (int k = 0; k < 3; ++k) ctx.probe_xyz[k] = plan.xyz[k];
  for (const mgn_tetra_nodes& n : plan.tetras)
    if (!mgn_check_positive_nodes(n)) return false;
  mgn_collect_cavity_boundary(ctx, plan.cavity);
  // Across the cavity's boundary: tetras and triangles only (a pyramid's
  // links are not the repair's to change).
  for (const auto& f : ctx.boundary)
    if (f.across_type != MGN_ELEM_TETRA && f.across_type != MGN_ELEM_FACE && f.across_type != MGN_ELEM_NONE)
      return false;
  if (!pair_faces(ctx, plan.tetras, &ctx.pairs)) return false;
  collect_edges(ctx, plan.cavity, plan.tetras);
  // Edges that go: the region's own; edges that come: new ones.
  if (!collect_gone_edges(ctx)) return false;
  for (const auto& e : ctx.new_edges)
    if (e.n[0] != &ctx.probe && e.n[1] != &ctx.probe &&
        !std::binary_search(ctx.old_edges.begin(), ctx.old_edges.end(), e, edge_less) &&
        mgn_get_node_edge(e.n[0], e.n[1]) != nullptr)
      return false;
  // Nodes that go: the region's own.
  for (const mgn_tetra* t : plan.cavity)
    for (const mgn_node* node : t->n)
      if (!mgn_is_repair_node(ctx, node) && !kept(plan.tetras, node)) return false;
  ctx.checked = &plan;
  return true;
}

mgn_node* mgn_apply_plan(mgn_repair_context& ctx, const mgn_remesh_plan& plan) {
  mgn_region* region = ctx.region;
  // The check that passed for this plan left its cavity boundary, face
  // pairs and edges in the scratch; a plan that adds a node needs them
  // again with the node's own identifier in place of the probe's.
  const bool checked = ctx.checked == &plan && !plan.adds_node;
  ctx.checked = nullptr;
  if (!checked) mgn_collect_cavity_boundary(ctx, plan.cavity);
  mgn_node* added = nullptr;
  if (plan.adds_node) {
    added = mgn_create_node(plan.xyz, nullptr, MGN_REGION, region, &region->mesh.nodes);
    if (region->size > 0.0f && added->size > region->size) added->size = region->size;
  }
  // The new tetras, the probe replaced by the new node.
  std::vector<mgn_tetra_nodes>& tetras = ctx.applied;
  tetras.assign(plan.tetras.begin(), plan.tetras.end());
  for (mgn_tetra_nodes& n : tetras)
    for (mgn_node*& m : n)
      if (m == &ctx.probe) m = added;
  std::vector<mgn_repair_context::face_pair>& pairs = ctx.pairs;
  if (!checked) {
    if (!pair_faces(ctx, tetras, &pairs)) mgn_manipulation_error("Unexpected situation", MGN_HERE);
    collect_edges(ctx, plan.cavity, tetras);
    if (!collect_gone_edges(ctx)) mgn_manipulation_error("Unexpected situation", MGN_HERE);
  }
  // The cavity's nodes, read before its records are renewed: those no new
  // tetra keeps leave the mesh.
  std::vector<mgn_node*>& cavity_nodes = ctx.cavity_nodes;
  cavity_nodes.clear();
  for (const mgn_tetra* t : plan.cavity)
    for (mgn_node* node : t->n) cavity_nodes.push_back(node);
  // The new tetras take the cavity's records first (the pools do not grow
  // when a change replaces tetras), then new ones; records left over are
  // retired.
  ctx.made.clear();
  const std::size_t renewed = std::min(plan.cavity.size(), tetras.size());
  for (std::size_t i = 0; i < tetras.size(); ++i) {
    const mgn_tetra_nodes& n = tetras[i];
    ctx.made.push_back(i < renewed ? mgn_renew_tetra(plan.cavity[i], n[0], n[1], n[2], n[3])
                                   : mgn_create_tetra(n[0], n[1], n[2], n[3], region, &region->mesh.tetras));
  }
  // Links: a new face on the cavity's boundary takes over what lay across
  // it; two new faces are linked to each other.
  for (const auto& p : pairs) {
    mgn_tetra* t = ctx.made[p.b / 4];
    const int k = p.b % 4;
    if (p.a >= 0) {
      mgn_link_tetras(ctx.made[p.a / 4], p.a % 4, t, k);
      continue;
    }
    const auto& f = ctx.boundary[-1 - p.a];
    if (f.across_type == MGN_ELEM_TETRA) {
      auto* other = static_cast<mgn_tetra*>(f.across);
      mgn_link_tetras(t, k, other, mgn_get_tetra_face_index(other, f.n[0], f.n[1], f.n[2]));
    } else if (f.across_type == MGN_ELEM_FACE) {
      auto* face = static_cast<mgn_face*>(f.across);
      mgn_set_tetra_neighbour(t, k, face, MGN_ELEM_FACE);
      const int s = mgn_get_face_side_of_tetra(face, t);
      mgn_element_extra* extra = mgn_get_element_extra(face);
      extra->side[s] = t;
      extra->side_type[s] = MGN_ELEM_TETRA;
    } else {
      mgn_set_tetra_neighbour(t, k, f.across, f.across_type);
    }
  }
  // Edges that go give their records to the edges that come, as far as
  // they reach.
  const std::vector<mgn_edge*>& gone = ctx.gone_edges;
  std::size_t reused = 0;
  for (const auto& e : ctx.new_edges)
    if (!std::binary_search(ctx.old_edges.begin(), ctx.old_edges.end(), e, edge_less)) {
      while (reused < gone.size() && !mgn_can_renew_edge(gone[reused])) mgn_retire_edge(gone[reused++]);
      if (reused < gone.size())
        mgn_renew_edge(gone[reused++], e.n[0], e.n[1]);
      else
        mgn_create_edge(e.n[0], e.n[1], MGN_REGION, region, &region->mesh.edges);
    }
  for (; reused < gone.size(); ++reused) mgn_retire_edge(gone[reused]);
  for (mgn_node* node : cavity_nodes)
    if (node->id != 0 && !kept(tetras, node)) mgn_retire_node(node);
  for (std::size_t i = renewed; i < plan.cavity.size(); ++i) mgn_retire_tetra(plan.cavity[i]);
  ++ctx.counters.done[plan.kind];
  return added;
}

mgn_node* mgn_insert_node(mgn_repair_context& ctx, mgn_tetra* const* cluster, int count, const double xyz[3]) {
  if (count < 1 || count > MGN_INSERT_CLUSTER || cluster == nullptr)
    mgn_manipulation_error("Insufficient number of tetras", MGN_HERE);
  for (int i = 0; i < count; ++i)
    if (cluster[i] == nullptr || cluster[i]->id == 0) mgn_manipulation_error("Insufficient number of tetras", MGN_HERE);
  mgn_remesh_plan& plan = ctx.trial;
  mgn_start_plan(plan, MGN_REPAIR_NODE_INSERTION);
  plan.cavity.assign(cluster, cluster + count);
  mgn_collect_cavity_boundary(ctx, plan.cavity);
  for (const auto& f : ctx.boundary) plan.tetras.push_back({f.n[0], f.n[2], f.n[1], &ctx.probe});
  plan.adds_node = true;
  for (int k = 0; k < 3; ++k) plan.xyz[k] = xyz[k];
  if (!mgn_check_plan(ctx, plan)) return nullptr;
  return mgn_apply_plan(ctx, plan);
}

void mgn_start_repair(mgn_repair_context& ctx, mgn_region* region, int cycle) {
  ctx.region = region;
  ctx.cycle = cycle;
  ctx.counters = mgn_repair_counters{};
  ctx.probe = mgn_node{};
  ctx.probe.id = -1;
  ctx.probe.kind = MGN_REGION;
  ctx.probe.entity = region;
  ctx.probe.xyz = ctx.probe_xyz;
}

// ---------------------------------------------------------------------------
// Point optimization
// ---------------------------------------------------------------------------

namespace {

// Quality of the tetra (a, b, c, p) and its gradient with respect to p.
double quality_gradient(const double* a, const double* b, const double* c, const double* p, double g[3]) {
  g[0] = g[1] = g[2] = 0.0;
  double ab[3], ac[3], ap[3], n[3];
  mgn_sub(b, a, ab);
  mgn_sub(c, a, ac);
  mgn_sub(p, a, ap);
  mgn_cross(ab, ac, n);
  const double v = mgn_dot(n, ap) / 6.0;
  if (!(v > mgn_tol.eps3)) return 0.0;
  // dV/dp = n / 6; the three faces at p: (a, b, p), (b, c, p), (c, a, p),
  // each of area |(u - p) x (w - p)| / 2 with gradient (u - w) x m / 2,
  // m its unit normal.
  double area = 0.5 * std::sqrt(mgn_dot(n, n));
  double ds[3] = {0.0, 0.0, 0.0};
  const double* ring[3] = {a, b, c};
  for (int i = 0; i < 3; ++i) {
    const double* u = ring[i];
    const double* w = ring[(i + 1) % 3];
    double up[3], wp[3], m[3], uw[3], d[3];
    mgn_sub(u, p, up);
    mgn_sub(w, p, wp);
    mgn_cross(up, wp, m);
    const double length = std::sqrt(mgn_dot(m, m));
    area += 0.5 * length;
    if (length > 0.0) {
      for (double& x : m) x /= length;
      mgn_sub(u, w, uw);
      mgn_cross(uw, m, d);
      for (int k = 0; k < 3; ++k) ds[k] += 0.5 * d[k];
    }
  }
  const double q = kBoundaryQualityScale * v * v / (area * area * area);
  for (int k = 0; k < 3; ++k) g[k] = q * (2.0 * (n[k] / 6.0) / v - 3.0 * ds[k] / area);
  return q;
}

}  // namespace

double mgn_get_star_quality(const double* const* faces, int count, const double xyz[3]) {
  double worst = 1.0;
  for (int i = 0; i < count && worst > 0.0; ++i)
    worst = std::min(worst, mgn_get_tetra_shape_quality(faces[3 * i], faces[3 * i + 1], faces[3 * i + 2], xyz, nullptr));
  return worst;
}

double mgn_optimize_point(const double* const* faces, int count, double xyz[3], int iterations) {
  double worst = mgn_get_star_quality(faces, count, xyz);
  if (count == 0 || !(worst > 0.0)) return worst;
  // The scale of a step: the mean distance from the point to the corners.
  double scale = 0.0;
  for (int i = 0; i < 3 * count; ++i) scale += std::sqrt(mgn_get_point_square_distance(faces[i], xyz));
  scale /= 3.0 * count;
  double step = 0.25 * scale;
  for (int it = 0; it < iterations; ++it) {
    // The worst tetra and the direction that raises it.
    int w = 0;
    double q_w = 2.0;
    for (int i = 0; i < count; ++i) {
      const double q = mgn_get_tetra_shape_quality(faces[3 * i], faces[3 * i + 1], faces[3 * i + 2], xyz, nullptr);
      if (q < q_w) {
        q_w = q;
        w = i;
      }
    }
    double g[3];
    quality_gradient(faces[3 * w], faces[3 * w + 1], faces[3 * w + 2], xyz, g);
    const double length = std::sqrt(mgn_dot(g, g));
    if (!(length > 0.0)) break;
    bool moved = false;
    for (int k = 0; k < kLineSearchSteps && !moved; ++k, step *= 0.5) {
      double trial[3];
      for (int j = 0; j < 3; ++j) trial[j] = xyz[j] + step * g[j] / length;
      const double q = mgn_get_star_quality(faces, count, trial);
      if (q > worst) {
        worst = q;
        for (int j = 0; j < 3; ++j) xyz[j] = trial[j];
        moved = true;
      }
    }
    if (!moved) break;
    // A step that worked is tried a little longer next time.
    step *= 4.0;
    if (step > 0.5 * scale) step = 0.5 * scale;
  }
  return worst;
}

// ---------------------------------------------------------------------------
// One tetra
// ---------------------------------------------------------------------------

namespace {

// The pair of opposite edges of the tetra that nearly cross (the smallest
// distance), or false.
bool crossing_pair(const mgn_tetra* t) {
  static const int opposite[3][2] = {{0, 5}, {1, 3}, {2, 4}};
  double mean = 0.0;
  for (const auto& e : mgn_tetra_edge_nodes)
    mean += std::sqrt(mgn_get_point_square_distance(t->n[e[0]]->xyz, t->n[e[1]]->xyz));
  mean /= 6.0;
  const double tolerance2 = kCrossing * kCrossing * mean * mean;
  for (const auto& pair : opposite) {
    const int* e = mgn_tetra_edge_nodes[pair[0]];
    const int* f = mgn_tetra_edge_nodes[pair[1]];
    double s = 0.0, u = 0.0, x1[3], x2[3];
    if (mgn_get_line_line_pnt_intersection(t->n[e[0]]->xyz, t->n[e[1]]->xyz, t->n[f[0]]->xyz, t->n[f[1]]->xyz, &s,
                                           &u, x1, x2) == 0)
      continue;
    if (s > 0.0 && s < 1.0 && u > 0.0 && u < 1.0 && mgn_get_point_square_distance(x1, x2) < tolerance2) return true;
  }
  return false;
}

// The boundary quality of the tetra (as mgn_get_tetra_shape_quality
// measures it, to the last bit); a face of zero area ends the run.  Every
// pass measures every tetra this way, so the area check shares three of
// its four face normals with the quality.
double checked_tetra_quality(const mgn_tetra* t) {
  const double* a = t->n[0]->xyz;
  const double* b = t->n[1]->xyz;
  const double* c = t->n[2]->xyz;
  const double* d = t->n[3]->xyz;
  const mgn_vec3 ab = mgn_sub(b, a), ac = mgn_sub(c, a), ad = mgn_sub(d, a);
  const mgn_vec3 bc = mgn_sub(c, b), bd = mgn_sub(d, b);
  const mgn_vec3 base = mgn_cross(ab, ac);
  // Faces 3, 2 and 0 of the local numbering (a c b, a b d, b c d) have the
  // normals base (turned), ab x ad and bc x bd; face 1 (c a d) its own.
  const double n3 = mgn_norm(base), n2 = mgn_norm(mgn_cross(ab, ad)), n0 = mgn_norm(mgn_cross(bc, bd));
  const double n1 = mgn_norm(mgn_cross(mgn_sub(a, c), mgn_sub(d, c)));
  for (double n : {n0, n1, n2, n3})
    if (0.5 * n <= mgn_tol.eps2) {
      mgn_note_partial_tetra(const_cast<mgn_tetra*>(t));
      mgn_manipulation_error("Zero area face detected", MGN_HERE);
    }
  const double v = mgn_dot(base, ad) / 6.0;
  if (!(v > mgn_tol.eps3)) return 0.0;
  const double area = 0.5 * (n3 + n2 + mgn_norm(mgn_cross(ac, ad)) + n0);
  return kBoundaryQualityScale * v * v / (area * area * area);
}

}  // namespace

double mgn_fix_region_tetra(mgn_repair_context& ctx, mgn_tetra* tetra) {
  if (tetra == nullptr || tetra->id == 0) return -1.0;
  const double quality = checked_tetra_quality(tetra);
  if (quality > MGN_REPAIR_SWAP_QUALITY) return quality;
  // A fair tetra (not bad) gets the swaps only.
  const bool only_swaps = quality > MGN_REPAIR_QUALITY;
  // A bad tetra's edges must all be in the mesh (else the run ends).  The
  // edges are looked up once for the plans below.
  if (!only_swaps) ++ctx.counters.bad;
  for (int e = 0; e < 6; ++e)
    ctx.tetra_edges[e] = only_swaps ? mgn_get_node_edge(tetra->n[mgn_tetra_edge_nodes[e][0]],
                                                        tetra->n[mgn_tetra_edge_nodes[e][1]])
                                    : mgn_get_tetra_edge(tetra, e);
  ctx.edges_of = tetra;
  // Every plan that pays, tried the best first (the first made on a tie).
  std::size_t count = 0;
  auto take = [&](bool pays) {
    if (pays) ++count;
    if (ctx.plans.size() <= count) ctx.plans.resize(count + 1);
  };
  take(false);
  for (int k = 0; k < 4; ++k) take(mgn_plan_swap_face(ctx, tetra, k, ctx.plans[count]));
  for (int e = 0; e < 6; ++e) take(mgn_plan_remove_edge(ctx, tetra, e, ctx.plans[count]));
  // The removals and collapses cost more: they are planned only where no
  // swap makes the worst tetra good.
  double swapped = 0.0;
  for (std::size_t p = 0; p < count; ++p) swapped = std::max(swapped, ctx.plans[p].after);
  if (swapped < kSwapsSuffice && !only_swaps) {
    for (int i = 0; i < 4; ++i) take(mgn_plan_remove_node(ctx, tetra, i, ctx.plans[count]));
    for (int e = 0; e < 6; ++e) take(mgn_plan_collapse_edge(ctx, tetra, e, ctx.plans[count]));
  }
  ctx.order.clear();
  for (std::size_t p = 0; p < count; ++p) ctx.order.push_back(static_cast<int>(p));
  std::stable_sort(ctx.order.begin(), ctx.order.end(),
                   [&](int a, int b) { return ctx.plans[a].after > ctx.plans[b].after; });
  const mgn_remesh_plan* chosen = nullptr;
  for (int p : ctx.order)
    if (mgn_check_plan(ctx, ctx.plans[p])) {
      chosen = &ctx.plans[p];
      break;
    }
  if (!only_swaps && (chosen == nullptr || chosen->after < kInsertBelow)) {
    mgn_remesh_plan& insertion = ctx.plans[count];
    if (mgn_plan_insert_node(ctx, tetra, insertion) && (chosen == nullptr || insertion.after > chosen->after) &&
        mgn_check_plan(ctx, insertion))
      chosen = &insertion;
  }
  // A flat tetra nothing else mends: split away across its crossing edges.
  if (chosen == nullptr && quality <= kFlat) {
    take(false);
    mgn_remesh_plan& split = ctx.plans[count];
    if (mgn_plan_split_flat(ctx, tetra, split) && mgn_check_plan(ctx, split)) chosen = &split;
  }
  ctx.edges_of = nullptr;
  if (chosen != nullptr) {
    mgn_apply_plan(ctx, *chosen);
    return -1.0;
  }
  if (mgn_orient3d(tetra->n[0]->xyz, tetra->n[1]->xyz, tetra->n[2]->xyz, tetra->n[3]->xyz) > 0) return quality;
  // A tetra that stays inverted.
  if (!crossing_pair(tetra)) {
    mgn_note_partial_tetra(tetra);
    mgn_manipulation_error("Unexpected situation", MGN_HERE);
  }
  if (ctx.cycle > 0)
    mgn_warning("Warning: Negative volume of tetra %ld (cycle %d)\n", static_cast<long>(tetra->id), ctx.cycle);
  else
    mgn_warning("Warning: Negative volume of tetra %ld (last cycle !!!)\n", static_cast<long>(tetra->id));
  ++ctx.counters.warnings;
  return quality;
}

// ---------------------------------------------------------------------------
// Passes and listings
// ---------------------------------------------------------------------------

namespace {

// Moves the live references of a listing to its front, in their order, and
// gives back the slots of the retired ones.
template <typename T>
void compact(mgn_listing*& listing, int32_t& total) {
  if (listing == nullptr) return;
  mgn_listing* first = mgn_get_first_listing_block(listing);
  std::vector<T*> live;
  live.reserve(static_cast<std::size_t>(total));
  long seen = 0;
  for (T** ref : mgn_listing_range<T*>(first)) {
    ++seen;
    if (*ref != nullptr && (*ref)->id != 0) live.push_back(*ref);
  }
  total = static_cast<int32_t>(live.size());
  if (static_cast<long>(live.size()) == seen) return;
  std::size_t k = 0;
  for (T** ref : mgn_listing_range<T*>(first)) {
    if (k == live.size()) break;
    *ref = live[k++];
  }
  // The block of the last used slot: the slots behind the live references
  // are given back from there.
  mgn_listing* last = first;
  for (mgn_listing* block = first; block != nullptr; block = block->next)
    if (block->base != nullptr && block->next_free != block->base) last = block;
  listing = mgn_recycle_last_n_items_listing(last, seen - static_cast<long>(live.size()));
}

void repair_pass(mgn_region* region, int cycle, bool backward) {
  if (region == nullptr || region->mesh.tetras == nullptr || region->mesh.collected) return;
  static mgn_repair_context ctx;
  mgn_start_repair(ctx, region, cycle);
  mgn_listing* first = mgn_get_first_listing_block(region->mesh.tetras);
  if (backward) {
    // From the last tetra to the first: the tetras made on the way are
    // not met, but for those that took the record of a tetra they replaced
    // (met when the walk reaches that record).
    std::vector<mgn_tetra*> tetras;
    tetras.reserve(static_cast<std::size_t>(region->mesh.tetra_total));
    for (mgn_tetra** ref : mgn_listing_range<mgn_tetra*>(first)) tetras.push_back(*ref);
    for (auto it = tetras.rbegin(); it != tetras.rend(); ++it) mgn_fix_region_tetra(ctx, *it);
  } else {
    // From the first tetra to the last, the tetras made on the way
    // included (they join the listing's end, or take the slot of a tetra
    // they replaced, met if the walk has not passed it); each change makes
    // its cavity's worst tetra better, and the walk stops in any case
    // after kPassLength times the tetras it started with.
    const long limit = kPassLength * static_cast<long>(region->mesh.tetra_total);
    long visited = 0;
    bool whole = true;
    // The flat tetras the walk leaves, in listing order.  A change replaces
    // the tetras of its cavity and moves no node of a tetra it keeps, so a
    // tetra the walk left keeps its quality until it is retired.
    std::vector<mgn_tetra*> flat;
    for (mgn_tetra** ref : mgn_listing_range<mgn_tetra*>(first)) {
      if (visited++ > limit) {
        whole = false;
        break;
      }
      const double q = mgn_fix_region_tetra(ctx, *ref);
      if (q >= 0.0 && q < kFlat) flat.push_back(*ref);
    }
    // A flat tetra that no change could mend when the walk met it may be
    // mended once its neighbours have changed: the flat ones left are taken
    // again, up to kFlatRounds times (with the tetras the round made, which
    // join the listing's end).
    long listed = visited;
    auto is_flat = [](const mgn_tetra* t) {
      return t != nullptr && t->id != 0 &&
             mgn_get_tetra_shape_quality(t->n[0]->xyz, t->n[1]->xyz, t->n[2]->xyz, t->n[3]->xyz, nullptr) < kFlat;
    };
    if (!whole) {
      flat.clear();
      listed = 0;
      for (mgn_tetra** ref : mgn_listing_range<mgn_tetra*>(first)) {
        ++listed;
        if (is_flat(*ref)) flat.push_back(*ref);
      }
    }
    for (int round = 0; round < kFlatRounds; ++round) {
      std::vector<mgn_tetra*> left;
      for (mgn_tetra* t : flat)
        if (t->id != 0) left.push_back(t);
      if (left.empty()) break;
      flat.clear();
      for (mgn_tetra* t : left) {
        const double q = mgn_fix_region_tetra(ctx, t);
        if (q >= 0.0 && q < kFlat) flat.push_back(t);
      }
      long index = 0;
      for (mgn_tetra** ref : mgn_listing_range<mgn_tetra*>(first)) {
        if (index++ < listed) continue;
        if (is_flat(*ref)) flat.push_back(*ref);
      }
      listed = index;
    }
  }
  mgn_compact_region_listings(region);
  mgn_repair_count = ctx.counters;
  ctx.region = nullptr;
}

}  // namespace

void mgn_compact_region_listings(mgn_region* region) {
  mgn_entity_mesh& m = region->mesh;
  compact<mgn_node>(m.nodes, m.node_total);
  compact<mgn_edge>(m.edges, m.edge_total);
  compact<mgn_face>(m.faces, m.face_total);
  compact<mgn_tetra>(m.tetras, m.tetra_total);
}

void mgn_repair_region_forward(mgn_region* region, int cycle) { repair_pass(region, cycle, false); }
void mgn_repair_region_backward(mgn_region* region, int cycle) { repair_pass(region, cycle, true); }
