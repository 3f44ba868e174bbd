// Tetra mesh repair: node insertion.  A cluster of tetras around a bad one
// (the tetra with its face neighbours, then a wider cluster of at most
// MGN_INSERT_CLUSTER tetras) is replaced by the star of the cluster's
// boundary faces around a new node.  The node starts at the centre of the
// bad tetra (or of the cluster's nodes where the star is not positive from
// there) and climbs to the point where the worst tetra of the star is best.
// This mends the tetras no other transformation can: a flat tetra whose
// four nodes lie on the boundary, next to two boundary triangles.
//
// A flat tetra whose two opposite edges cross (four nodes of a planar
// quadrilateral, as across a slab thinner than the size) can also be split
// away: a node where the two edges cross splits every tetra around either
// edge in two, and the flat tetra, lying between the two triangulations of
// the quadrilateral, leaves nothing behind.
#include <algorithm>
#include <vector>

#include "element.h"
#include "geom.h"
#include "mesh3.h"
#include "topo3.h"

namespace {

// Steps of the point optimization of an inserted node.
constexpr int kInsertIterations = 40;
// The first cluster: the tetra and its four face neighbours.
constexpr std::size_t kNearCluster = 5;

// The tetra and its neighbours of the region across faces, breadth first,
// at most `limit` tetras.
void grow_cluster(const mgn_repair_context& ctx, mgn_tetra* tetra, std::size_t limit,
                  std::vector<mgn_tetra*>& cluster) {
  cluster.assign(1, tetra);
  for (std::size_t i = 0; i < cluster.size() && cluster.size() < limit; ++i)
    for (int k = 0; k < 4 && cluster.size() < limit; ++k) {
      mgn_tetra* next = mgn_get_neighbour_tetra(cluster[i], k);
      if (next == nullptr || next->id == 0 || next->region != ctx.region) continue;
      if (std::find(cluster.begin(), cluster.end(), next) == cluster.end()) cluster.push_back(next);
    }
}

void centroid(const std::vector<mgn_tetra*>& tetras, double xyz[3]) {
  xyz[0] = xyz[1] = xyz[2] = 0.0;
  int count = 0;
  for (const mgn_tetra* t : tetras)
    for (const mgn_node* n : t->n) {
      for (int k = 0; k < 3; ++k) xyz[k] += n->xyz[k];
      ++count;
    }
  for (int k = 0; k < 3; ++k) xyz[k] /= count;
}

}  // namespace

bool mgn_plan_insert_node(mgn_repair_context& ctx, mgn_tetra* tetra, mgn_remesh_plan& plan) {
  mgn_start_plan(plan, MGN_REPAIR_NODE_INSERTION);
  mgn_remesh_plan& trial = ctx.trial;
  bool found = false;
  for (std::size_t limit : {kNearCluster, static_cast<std::size_t>(MGN_INSERT_CLUSTER)}) {
    mgn_start_plan(trial, MGN_REPAIR_NODE_INSERTION);
    grow_cluster(ctx, tetra, limit, trial.cavity);
    // No wider cluster than the first one.
    if (limit > kNearCluster && trial.cavity.size() <= kNearCluster) break;
    mgn_collect_cavity_boundary(ctx, trial.cavity);
    for (const auto& f : ctx.boundary) trial.tetras.push_back({f.n[0], f.n[2], f.n[1], &ctx.probe});
    trial.adds_node = true;
    std::vector<const double*>& faces = ctx.probe_faces;
    mgn_get_probe_faces(ctx, trial.tetras, faces);
    const int count = static_cast<int>(faces.size() / 3);
    std::vector<mgn_tetra*> one(1, tetra);
    centroid(one, trial.xyz);
    if (!(mgn_get_star_quality(faces.data(), count, trial.xyz) > 0.0)) {
      centroid(trial.cavity, trial.xyz);
      if (!(mgn_get_star_quality(faces.data(), count, trial.xyz) > 0.0)) continue;
    }
    mgn_optimize_point(faces.data(), count, trial.xyz, kInsertIterations);
    if (mgn_measure_plan(ctx, trial) && (!found || trial.after > plan.after)) {
      std::swap(plan, trial);
      found = true;
    }
  }
  return found;
}

bool mgn_plan_split_flat(mgn_repair_context& ctx, mgn_tetra* tetra, mgn_remesh_plan& plan) {
  mgn_start_plan(plan, MGN_REPAIR_NODE_INSERTION);
  // The pair of opposite edges that cross, the nearest to meeting.
  static const int opposite[3][2] = {{0, 5}, {1, 3}, {2, 4}};
  int best = -1;
  double best_gap = 0.0, point[3] = {0.0, 0.0, 0.0};
  for (int p = 0; p < 3; ++p) {
    const int* e = mgn_tetra_edge_nodes[opposite[p][0]];
    const int* f = mgn_tetra_edge_nodes[opposite[p][1]];
    double s = 0.0, u = 0.0, x1[3], x2[3];
    if (mgn_get_line_line_pnt_intersection(tetra->n[e[0]]->xyz, tetra->n[e[1]]->xyz, tetra->n[f[0]]->xyz,
                                           tetra->n[f[1]]->xyz, &s, &u, x1, x2) == 0)
      continue;
    if (!(s > 0.0 && s < 1.0 && u > 0.0 && u < 1.0)) continue;
    const double gap = mgn_get_point_square_distance(x1, x2);
    if (best >= 0 && gap >= best_gap) continue;
    best = p;
    best_gap = gap;
    for (int k = 0; k < 3; ++k) point[k] = 0.5 * (x1[k] + x2[k]);
  }
  if (best < 0) return false;
  // Both edges inner edges of the region with closed shells.
  std::vector<mgn_tetra*>& shell = ctx.tetras;
  for (int side = 0; side < 2; ++side) {
    const int* e = mgn_tetra_edge_nodes[opposite[best][side]];
    mgn_node* a = tetra->n[e[0]];
    mgn_node* b = tetra->n[e[1]];
    if (!mgn_is_repair_edge(ctx, mgn_get_node_edge(a, b))) return false;
    if (!mgn_get_edge_shell(tetra, a, b, shell)) return false;
    for (mgn_tetra* t : shell) {
      if (t->region != ctx.region) return false;
      if (t == tetra) continue;
      plan.cavity.push_back(t);
      plan.tetras.push_back(mgn_substitute_tetra_node(t, mgn_get_tetra_node_index(t, a), &ctx.probe));
      plan.tetras.push_back(mgn_substitute_tetra_node(t, mgn_get_tetra_node_index(t, b), &ctx.probe));
    }
  }
  plan.cavity.push_back(tetra);
  plan.adds_node = true;
  for (int k = 0; k < 3; ++k) plan.xyz[k] = point[k];
  return mgn_measure_plan(ctx, plan);
}
