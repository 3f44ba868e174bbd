// Tetra mesh repair: the swaps, which change tetras around a face or an
// edge without adding or removing a node.
//
//  - Face swap 2-3.  Two tetras on the face a b c, with far nodes p and q,
//    become the three tetras around the new edge p-q (valid where p-q goes
//    through the face).
//  - Edge removal n-m.  The n tetras around an inner edge a-b, whose far
//    faces make the polygon p0 .. p(n-1) around it, become the tetras of a
//    triangulation of the polygon joined to a and to b: 2 (n - 2) tetras
//    (3-2, 4-4, 5-6, 6-8, 7-10).  The triangulations of the polygon are
//    data (mgn_swap_patterns); the one whose worst tetra is best is taken.
#include <algorithm>
#include <vector>

#include "element.h"
#include "geom.h"
#include "mesh3.h"
#include "message.h"
#include "topo3.h"

namespace {

using triangle = std::array<int8_t, 3>;

// The triangulations of the polygon part i .. j (the side i-j closing it).
void triangulations(int i, int j, std::vector<std::vector<triangle>>& out) {
  out.clear();
  if (j - i < 2) {
    out.emplace_back();
    return;
  }
  for (int k = i + 1; k < j; ++k) {
    std::vector<std::vector<triangle>> left, right;
    triangulations(i, k, left);
    triangulations(k, j, right);
    for (const auto& l : left)
      for (const auto& r : right) {
        std::vector<triangle> t = l;
        t.push_back({static_cast<int8_t>(i), static_cast<int8_t>(k), static_cast<int8_t>(j)});
        t.insert(t.end(), r.begin(), r.end());
        out.push_back(std::move(t));
      }
  }
}

mgn_swap_pattern_set make_patterns(int n) {
  mgn_swap_pattern_set set;
  std::vector<std::vector<triangle>> all;
  triangulations(0, n - 1, all);
  set.count = static_cast<int>(all.size());
  for (std::size_t p = 0; p < all.size(); ++p)
    for (std::size_t t = 0; t < all[p].size(); ++t) set.triangles[p][t] = all[p][t];
  return set;
}

// Whether w, a reordering of the tetra's nodes, is an even permutation of
// them.
bool even_order(const mgn_tetra* t, const mgn_node* const w[4]) {
  int p[4];
  for (int i = 0; i < 4; ++i) p[i] = mgn_get_tetra_node_index(t, w[i]);
  int inversions = 0;
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j)
      if (p[i] > p[j]) ++inversions;
  return inversions % 2 == 0;
}

}  // namespace

const mgn_swap_pattern_set& mgn_swap_patterns(int n) {
  // Built once: the triangulations of each polygon, enumerated by the
  // triangle on the side n-1 .. 0.
  static const std::array<mgn_swap_pattern_set, MGN_SWAP_POLYGON + 1> patterns = [] {
    std::array<mgn_swap_pattern_set, MGN_SWAP_POLYGON + 1> all{};
    for (int k = 3; k <= MGN_SWAP_POLYGON; ++k) all[k] = make_patterns(k);
    return all;
  }();
  if (n < 3 || n > MGN_SWAP_POLYGON) mgn_manipulation_error("Unexpected situation", MGN_HERE);
  return patterns[n];
}

bool mgn_plan_swap_face(mgn_repair_context& ctx, mgn_tetra* tetra, int k, mgn_remesh_plan& plan) {
  mgn_start_plan(plan, MGN_REPAIR_FACE_SWAP);
  mgn_tetra* other = mgn_get_neighbour_tetra(tetra, k);
  if (other == nullptr || other->id == 0 || other->region != ctx.region) return false;
  const int* o = mgn_tetra_outward_face[k];
  const int ko = mgn_get_tetra_face_index(other, tetra->n[o[0]], tetra->n[o[1]], tetra->n[o[2]]);
  if (ko < 0) return false;
  // The far node of the tetra takes the place of each node of the shared
  // face in the other tetra in turn: three tetras around the new edge.
  mgn_node* far = tetra->n[k];
  plan.cavity = {tetra, other};
  for (int i = 0; i < 4; ++i)
    if (i != ko) plan.tetras.push_back(mgn_substitute_tetra_node(other, i, far));
  return mgn_measure_plan(ctx, plan);
}

bool mgn_plan_remove_edge(mgn_repair_context& ctx, mgn_tetra* tetra, int e, mgn_remesh_plan& plan) {
  mgn_start_plan(plan, MGN_REPAIR_EDGE_REMOVAL);
  mgn_node* a = tetra->n[mgn_tetra_edge_nodes[e][0]];
  mgn_node* b = tetra->n[mgn_tetra_edge_nodes[e][1]];
  if (!mgn_is_repair_edge(ctx, ctx.edges_of == tetra ? ctx.tetra_edges[e] : mgn_get_node_edge(a, b))) return false;
  std::vector<mgn_tetra*>& shell = ctx.tetras;
  if (!mgn_get_edge_shell(tetra, a, b, shell)) return false;
  const int n = static_cast<int>(shell.size());
  if (n < 3 || n > MGN_SWAP_POLYGON) return false;
  for (const mgn_tetra* t : shell)
    if (t->region != ctx.region) return false;
  // The polygon around the edge: ring[i] is shared by shell[i] and
  // shell[i + 1].
  mgn_node* ring[MGN_SWAP_POLYGON];
  for (int i = 0; i < n; ++i) {
    const mgn_tetra* t = shell[i];
    const mgn_tetra* next = shell[(i + 1) % n];
    ring[i] = nullptr;
    for (mgn_node* node : t->n)
      if (node != a && node != b && mgn_get_tetra_node_index(next, node) >= 0) ring[i] = node;
    if (ring[i] == nullptr) return false;
  }
  // The ring turns counterclockwise seen from `top`: the tetra (a, b,
  // ring[n-1], ring[0]) turns the way shell[0] does exactly when it is b.
  const mgn_node* first[4] = {a, b, ring[n - 1], ring[0]};
  mgn_node* top = even_order(shell[0], first) ? b : a;
  mgn_node* bottom = top == b ? a : b;
  const double before = mgn_get_worst_tetra_quality(shell);
  // The worse of the two tetras on each triangle of the polygon, -1 when the
  // triangle is of no use (a tetra no better than the shell or not
  // positive).
  double quality[MGN_SWAP_POLYGON][MGN_SWAP_POLYGON][MGN_SWAP_POLYGON];
  bool known[MGN_SWAP_POLYGON][MGN_SWAP_POLYGON][MGN_SWAP_POLYGON] = {};
  // A triangle is also of no use when one of its diagonals is an edge
  // already.  The edge lookups walk the nodes' edge lists, so a diagonal is
  // looked up only when the best triangulation uses it: that triangulation
  // is found with the diagonals not looked up yet taken as free, its
  // diagonals are looked up, and where one is an edge the search runs
  // again.  Free diagonals only ever raise a triangulation's worst
  // tetra, so the one found with all its diagonals free is the best.
  bool taken[MGN_SWAP_POLYGON][MGN_SWAP_POLYGON] = {};
  bool looked_up[MGN_SWAP_POLYGON][MGN_SWAP_POLYGON] = {};
  auto is_diagonal = [&](int i, int j) { return j - i != 1 && j - i != n - 1; };
  auto triangle_quality = [&](int i, int j, int k) {
    if (taken[i][j] || taken[j][k] || taken[i][k]) return -1.0;
    if (known[i][j][k]) return quality[i][j][k];
    known[i][j][k] = true;
    const mgn_tetra_nodes up = {ring[i], ring[j], ring[k], top};
    const mgn_tetra_nodes down = {ring[i], ring[k], ring[j], bottom};
    const double worst = std::min(mgn_get_nodes_tetra_quality(up), mgn_get_nodes_tetra_quality(down));
    const bool usable = worst > before && mgn_check_positive_nodes(up) && mgn_check_positive_nodes(down);
    quality[i][j][k] = usable ? worst : -1.0;
    return quality[i][j][k];
  };
  const mgn_swap_pattern_set& patterns = mgn_swap_patterns(n);
  int best = -1;
  for (bool search = true; search;) {
    best = -1;
    double best_quality = before;
    for (int p = 0; p < patterns.count; ++p) {
      double worst = 1.0;
      for (int t = 0; t < n - 2 && worst > best_quality; ++t) {
        const auto& tri = patterns.triangles[p][t];
        worst = std::min(worst, triangle_quality(tri[0], tri[1], tri[2]));
      }
      if (worst > best_quality) {
        best_quality = worst;
        best = p;
      }
    }
    search = false;
    if (best < 0) break;
    for (int t = 0; t < n - 2; ++t) {
      const auto& tri = patterns.triangles[best][t];
      const int sides[3][2] = {{tri[0], tri[1]}, {tri[1], tri[2]}, {tri[0], tri[2]}};
      for (const auto& side : sides) {
        const int i = side[0], j = side[1];
        if (!is_diagonal(i, j) || looked_up[i][j]) continue;
        looked_up[i][j] = true;
        if (mgn_get_node_edge(ring[i], ring[j]) != nullptr) {
          taken[i][j] = true;
          search = true;
        }
      }
    }
  }
  if (best < 0) return false;
  plan.cavity.assign(shell.begin(), shell.end());
  for (int t = 0; t < n - 2; ++t) {
    const auto& tri = patterns.triangles[best][t];
    plan.tetras.push_back({ring[tri[0]], ring[tri[1]], ring[tri[2]], top});
    plan.tetras.push_back({ring[tri[0]], ring[tri[2]], ring[tri[1]], bottom});
  }
  return mgn_measure_plan(ctx, plan);
}
