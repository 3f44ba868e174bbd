// Tetra mesh repair: the transformations that take region nodes out.
//
//  - Node removal.  The ball of a region node x is filled again from one of
//    its neighbours y: every tetra of the ball without y gets y in the place
//    of x, and the tetras on the edge x-y vanish.  Four tetras around a node
//    whose far faces make one tetra become that tetra.  The neighbour whose
//    worst tetra is best is taken.
//  - Edge collapse.  The two ends of an edge between region nodes merge
//    into one node, placed where the worst tetra around it is best (starting
//    from the midpoint, or from an end where the midpoint does not do).
// Neither may make an edge longer than MGN_REPAIR_LONG_EDGE times the sizes
// at its ends: they remove nodes to mend tetras, not to coarsen the mesh.
#include <algorithm>
#include <vector>

#include "element.h"
#include "geom.h"
#include "mesh3.h"
#include "topo3.h"

namespace {

// Steps of the point optimization of a merged node.
constexpr int kCollapseIterations = 12;
// A node is refilled from a neighbour nearer than this fraction of their
// mean size (its ball refilled from a farther one would make long edges),
// from any neighbour when its ball has at most kSmallBall tetras.
constexpr double kNearNeighbour = 0.6;
constexpr std::size_t kSmallBall = 8;
// Only edges shorter than this fraction of the mean size at their ends
// collapse.
constexpr double kShortEdge = 0.5;

// The distinct nodes of the tetras other than the given one, in the order
// met.
void ball_neighbours(const std::vector<mgn_tetra*>& ball, const mgn_node* node, std::vector<mgn_node*>& out) {
  out.clear();
  for (const mgn_tetra* t : ball)
    for (mgn_node* m : t->n)
      if (m != node && std::find(out.begin(), out.end(), m) == out.end()) out.push_back(m);
}

// Whether every neighbour of the node (other than `skip`) lies within the
// size limit of a new node at xyz with the given size.
bool neighbours_fit(const mgn_node* node, const mgn_node* skip, const double* xyz, float size) {
  for (const mgn_edge* edge : mgn_node_edges(node)) {
    const mgn_node* other = edge->n[0] == node ? edge->n[1] : edge->n[0];
    if (edge->id != 0 && other != skip && !mgn_fits_size(xyz, size, other)) return false;
  }
  return true;
}

}  // namespace

bool mgn_plan_remove_node(mgn_repair_context& ctx, mgn_tetra* tetra, int i, mgn_remesh_plan& plan) {
  mgn_start_plan(plan, MGN_REPAIR_NODE_REMOVAL);
  mgn_node* node = tetra->n[i];
  if (!mgn_is_repair_node(ctx, node)) return false;
  std::vector<mgn_tetra*>& ball = ctx.tetras;
  ball.clear();
  mgn_get_node_ball(tetra, node, ball);
  if (ball.size() > static_cast<std::size_t>(MGN_REPAIR_CAVITY)) return false;
  ball_neighbours(ball, node, ctx.nodes);
  // The neighbour whose worst tetra is best; it must reach every other
  // neighbour within the size limit (those it is joined to already count
  // as they are).
  mgn_node* best = nullptr;
  double best_worst = mgn_get_worst_tetra_quality(ball);
  for (mgn_node* by : ctx.nodes) {
    if (ball.size() > kSmallBall && node->size > 0.0f) {
      const double near = kNearNeighbour * 0.5 * (node->size + by->size);
      if (mgn_get_point_square_distance(node->xyz, by->xyz) > near * near) continue;
    }
    double worst = 1.0;
    for (const mgn_tetra* t : ball) {
      if (mgn_get_tetra_node_index(t, by) >= 0) continue;
      worst = std::min(worst, mgn_get_nodes_tetra_quality(
                                  mgn_substitute_tetra_node(t, mgn_get_tetra_node_index(t, node), by)));
      if (!(worst > best_worst)) break;
    }
    if (!(worst > best_worst)) continue;
    bool fits = true;
    for (const mgn_node* other : ctx.nodes)
      if (other != by && !mgn_fits_size(by->xyz, by->size, other) && mgn_get_node_edge(by, other) == nullptr) {
        fits = false;
        break;
      }
    if (!fits) continue;
    best = by;
    best_worst = worst;
  }
  if (best == nullptr) return false;
  plan.cavity.assign(ball.begin(), ball.end());
  for (const mgn_tetra* t : ball)
    if (mgn_get_tetra_node_index(t, best) < 0)
      plan.tetras.push_back(mgn_substitute_tetra_node(t, mgn_get_tetra_node_index(t, node), best));
  return mgn_measure_plan(ctx, plan);
}

bool mgn_plan_collapse_edge(mgn_repair_context& ctx, mgn_tetra* tetra, int e, mgn_remesh_plan& plan) {
  mgn_start_plan(plan, MGN_REPAIR_EDGE_COLLAPSE);
  mgn_node* a = tetra->n[mgn_tetra_edge_nodes[e][0]];
  mgn_node* b = tetra->n[mgn_tetra_edge_nodes[e][1]];
  if (!mgn_is_repair_node(ctx, a) || !mgn_is_repair_node(ctx, b)) return false;
  const float size = 0.5f * (a->size + b->size);
  if (size > 0.0f && mgn_get_point_square_distance(a->xyz, b->xyz) > kShortEdge * kShortEdge * size * size)
    return false;
  double mid[3];
  for (int k = 0; k < 3; ++k) mid[k] = 0.5 * (a->xyz[k] + b->xyz[k]);
  if (!neighbours_fit(a, b, mid, size) || !neighbours_fit(b, a, mid, size)) return false;
  // The cavity: the balls of both ends.
  std::vector<mgn_tetra*>& cavity = ctx.tetras;
  cavity.clear();
  mgn_get_node_ball(tetra, a, cavity);
  std::vector<mgn_tetra*>& more = ctx.made;
  more.clear();
  mgn_get_node_ball(tetra, b, more);
  for (mgn_tetra* t : more)
    if (std::find(cavity.begin(), cavity.end(), t) == cavity.end()) cavity.push_back(t);
  more.clear();
  if (cavity.size() > static_cast<std::size_t>(MGN_REPAIR_CAVITY)) return false;
  plan.cavity.assign(cavity.begin(), cavity.end());
  plan.adds_node = true;
  for (const mgn_tetra* t : cavity) {
    const int ia = mgn_get_tetra_node_index(t, a);
    const int ib = mgn_get_tetra_node_index(t, b);
    if (ia >= 0 && ib >= 0) continue;
    plan.tetras.push_back(mgn_substitute_tetra_node(t, ia >= 0 ? ia : ib, &ctx.probe));
  }
  // The merged node starts at the first of the midpoint and the two ends
  // where every new tetra is positive, and climbs from there.
  std::vector<const double*>& faces = ctx.probe_faces;
  mgn_get_probe_faces(ctx, plan.tetras, faces);
  const int count = static_cast<int>(faces.size() / 3);
  const double* starts[3] = {mid, a->xyz, b->xyz};
  int start = -1;
  for (int s = 0; s < 3 && start < 0; ++s)
    if (mgn_get_star_quality(faces.data(), count, starts[s]) > 0.0) start = s;
  if (start < 0) return false;
  for (int k = 0; k < 3; ++k) plan.xyz[k] = starts[start][k];
  mgn_optimize_point(faces.data(), count, plan.xyz, kCollapseIterations);
  if (!neighbours_fit(a, b, plan.xyz, size) || !neighbours_fit(b, a, plan.xyz, size)) return false;
  return mgn_measure_plan(ctx, plan);
}
