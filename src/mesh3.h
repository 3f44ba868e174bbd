// Tetra mesh repair: the region's tetras are walked between smoothing
// cycles and the bad ones are replaced, together with some neighbours, by
// better tetras through local transformations; the repair is also where
// slivers die.  See src/mesh3.cpp for the algorithm and src/topo3.h for the
// terms.
//
// Terminology (beyond src/topo3.h)
//  - Bad tetra.  A tetra whose boundary quality 374.1229744 V^2 / S^3 is at
//    most MGN_REPAIR_QUALITY (1 for the regular tetra, 0 for a flat one).
//  - Plan.  One local transformation before it is made: the cavity (the
//    tetras it takes out), the tetras it puts in their place (node
//    quadruples, each meant to be positive), and the node it adds, if any.
//    The worst quality of the cavity and of the new tetras tell whether the
//    change pays.  A plan that adds a node names it by the context's probe
//    node, which stands at the planned position until the node is made.
//  - Cavity boundary.  The faces of the cavity's tetras that do not join two
//    tetras of the cavity; a plan keeps them exactly (so no boundary
//    triangle, no neighbour outside and no volume ever changes).
//
// Local transformations, each a check (builds the plan, says whether it is
// valid and pays) and an apply (makes it):
//  - face swap 2-3: two tetras on a face become three around the edge that
//    joins their far nodes;
//  - edge removal n-m (3-2, 4-4, 5-6, 6-8, 7-10): the n tetras around an
//    inner edge become the 2 (n - 2) tetras of a triangulation of the
//    polygon around it, joined to both ends of the edge (the triangulations
//    are data: mgn_swap_patterns);
//  - node removal: the ball of a region node is filled again from one of
//    its neighbours (four tetras around the node become one);
//  - edge collapse: the two ends of an edge between region nodes merge at
//    a point between them;
//  - node insertion: a cluster of tetras is replaced by the star of its
//    boundary faces around a new node placed for the best worst tetra.
#ifndef MGN_MESH3_H
#define MGN_MESH3_H

#include <array>
#include <cstdint>
#include <vector>

#include "records.h"

// Tetras of at most this boundary quality are repaired (bad tetras); those
// of at most the second get the swaps only (fair tetras: the swaps raise
// the mean quality at a small cost).
constexpr double MGN_REPAIR_QUALITY = 0.5;
constexpr double MGN_REPAIR_SWAP_QUALITY = 0.6;
// Largest polygon around an edge that edge removal retriangulates.
constexpr int MGN_SWAP_POLYGON = 7;
// Largest cluster of tetras a node is inserted into.
constexpr int MGN_INSERT_CLUSTER = 10;
// Largest cavity of a node removal or an edge collapse.
constexpr int MGN_REPAIR_CAVITY = 96;
// Node removal and edge collapse make no edge longer than this many times
// the mean size at its ends (they must not coarsen the mesh).
constexpr double MGN_REPAIR_LONG_EDGE = 1.5;

// Triangulations of the convex polygon 0 .. n-1 (n = 3 .. MGN_SWAP_POLYGON),
// as lists of n - 2 triangles, each with its corners in polygon order.
struct mgn_swap_pattern_set {
  int count = 0;                                            // Catalan number C(n - 2)
  std::array<std::array<std::array<int8_t, 3>, MGN_SWAP_POLYGON - 2>, 42> triangles{};
};
const mgn_swap_pattern_set& mgn_swap_patterns(int n);

// Operation kinds of plans and counters.
enum mgn_repair_kind : int {
  MGN_REPAIR_FACE_SWAP = 0,
  MGN_REPAIR_EDGE_REMOVAL,
  MGN_REPAIR_NODE_REMOVAL,
  MGN_REPAIR_EDGE_COLLAPSE,
  MGN_REPAIR_NODE_INSERTION,
  MGN_REPAIR_KINDS
};

// Counters of one pass, reset when it starts.
struct mgn_repair_counters {
  long bad = 0;                        // tetras examined as bad
  long done[MGN_REPAIR_KINDS] = {};    // transformations made, per kind
  long warnings = 0;                   // negative volumes left
};
// Counters of the last pass (for tests and benchmarks).
extern mgn_repair_counters mgn_repair_count;

using mgn_tetra_nodes = std::array<mgn_node*, 4>;

struct mgn_remesh_plan {
  int kind = MGN_REPAIR_FACE_SWAP;
  std::vector<mgn_tetra*> cavity;
  std::vector<mgn_tetra_nodes> tetras;
  bool adds_node = false;
  double xyz[3] = {0.0, 0.0, 0.0};   // where the added node goes
  double before = 0.0;               // worst quality of the cavity
  double after = 0.0;                // worst quality of the new tetras
};

// One region's repair: the region, the smoothing cycles still to come, the
// counters, the probe node of planned insertions and collapses, and the
// scratch arrays the plan routines share (kept between calls so that they
// do not allocate).
struct mgn_repair_context {
  mgn_region* region = nullptr;
  int cycle = 0;
  mgn_repair_counters counters;
  // The node an insertion or a collapse plans, at probe_xyz.
  mgn_node probe{};
  double probe_xyz[3] = {0.0, 0.0, 0.0};

  // A face of a cavity or of new tetras: node identifiers in ascending
  // order, whether the face's own order turns the other way (odd
  // permutation), and its owner: 4 i + k for face k of new tetra i, -1 - b
  // for boundary face b.
  struct face_key {
    int32_t id[3];
    int32_t owner;
    int8_t turn;
  };
  // A boundary face of a cavity: its nodes turning counterclockwise seen
  // from outside the cavity and the element across (tetra, triangle of a
  // surface, patch or shell, or none).
  struct boundary_face {
    mgn_node* n[3];
    void* across;
    int8_t across_type;
  };
  // Two faces that become one: their owners as in face_key.
  struct face_pair {
    int32_t a, b;
  };

  // Scratch of the plan routines: the ball or shell at hand, the cavity
  // sorted for lookups, the nodes around a node, the faces looking at the
  // probe.
  std::vector<mgn_tetra*> tetras;
  std::vector<mgn_tetra*> sorted;
  std::vector<mgn_node*> nodes;
  std::vector<const double*> probe_faces;
  // Scratch of checking and making a plan.
  std::vector<boundary_face> boundary;
  std::vector<face_key> faces;
  std::vector<face_pair> pairs;
  // An edge of a cavity or of new tetras: its nodes, the smaller
  // identifier first, and both identifiers in one key that sorts the way
  // they do.
  struct edge_key {
    uint64_t key;
    mgn_node* n[2];
  };
  std::vector<edge_key> old_edges, new_edges;
  std::vector<mgn_tetra_nodes> applied;
  std::vector<mgn_tetra*> made;  // also the second ball of a collapse
  std::vector<mgn_node*> cavity_nodes;  // nodes of the cavity being replaced
  std::vector<mgn_edge*> gone_edges;    // its edges that go
  // The plan the scratch above was last filled for by a check that passed
  // (cavity boundary, face pairs, edges, the edges that go), null once
  // anything refills it: making a plan that adds no node reuses that work.
  const mgn_remesh_plan* checked = nullptr;
  // The edge records of the tetra being repaired (edges_of), looked up
  // once for all its plans; edges_of is null once the mesh may change.
  const mgn_tetra* edges_of = nullptr;
  mgn_edge* tetra_edges[6] = {};
  // Plans of one tetra (the candidates, the order they are tried in) and
  // the trial plan of a routine that compares several.
  std::vector<mgn_remesh_plan> plans;
  std::vector<int> order;
  mgn_remesh_plan trial;

  mgn_repair_context() = default;
  // The probe's coordinates live in the context: it is not copied.
  mgn_repair_context(const mgn_repair_context&) = delete;
  mgn_repair_context& operator=(const mgn_repair_context&) = delete;
};

// Sets up a context for the region (cycle: smoothing cycles still to come).
void mgn_start_repair(mgn_repair_context& ctx, mgn_region* region, int cycle);

// The forward and backward repair passes: every tetra of the region's
// listing, first to last or last to first, goes to mgn_fix_region_tetra;
// then the region's node, edge, face and tetra listings are compacted.
// Nothing happens for a region without tetras or already collected.
void mgn_repair_region_forward(mgn_region* region, int cycle);
void mgn_repair_region_backward(mgn_region* region, int cycle);

// Repairs one tetra when it is bad, swaps around it when it is fair
// (retired tetras are ignored); warns about a tetra whose volume stays
// negative.  Returns the tetra's boundary quality when it stays in the mesh
// unchanged, and -1 when it was replaced or was retired already.
double mgn_fix_region_tetra(mgn_repair_context& ctx, mgn_tetra* tetra);

// Compacts the region's listings: retired records leave their slots and the
// totals become the counts.
void mgn_compact_region_listings(mgn_region* region);

// The local transformations.  Each plan routine builds the best plan of its
// kind around the tetra by the quality of the new tetras alone and returns
// true when it makes the worst tetra of its cavity better; mgn_check_plan
// then says whether the plan is valid (conforming, every new tetra positive
// by the exact orientation test, no boundary triangle changed, no record of
// another entity retired) and mgn_apply_plan makes it.
//  - face k of tetra (2-3):
bool mgn_plan_swap_face(mgn_repair_context& ctx, mgn_tetra* tetra, int k, mgn_remesh_plan& plan);
//  - edge e of tetra (local edge numbering of src/element.h):
bool mgn_plan_remove_edge(mgn_repair_context& ctx, mgn_tetra* tetra, int e, mgn_remesh_plan& plan);
//  - node i of tetra, refilled from its best neighbour:
bool mgn_plan_remove_node(mgn_repair_context& ctx, mgn_tetra* tetra, int i, mgn_remesh_plan& plan);
//  - edge e of tetra merged at the best point between its ends:
bool mgn_plan_collapse_edge(mgn_repair_context& ctx, mgn_tetra* tetra, int e, mgn_remesh_plan& plan);
//  - a node inserted into the best cluster around tetra:
bool mgn_plan_insert_node(mgn_repair_context& ctx, mgn_tetra* tetra, mgn_remesh_plan& plan);
// A flat tetra whose opposite edges cross: a node where they cross splits
// the tetras around both edges in two, and the flat tetra goes.
bool mgn_plan_split_flat(mgn_repair_context& ctx, mgn_tetra* tetra, mgn_remesh_plan& plan);
bool mgn_check_plan(mgn_repair_context& ctx, const mgn_remesh_plan& plan);
// Applies a plan that mgn_check_plan accepted; returns the node it added,
// else null.
mgn_node* mgn_apply_plan(mgn_repair_context& ctx, const mgn_remesh_plan& plan);

// Shared by the plan routines: starts an empty plan of the kind; measures
// a built plan (its probe node at plan.xyz), true when it pays; the faces
// that look at the probe in the plan's new tetras (turned toward it, three
// points each, as mgn_optimize_point takes them).
void mgn_start_plan(mgn_remesh_plan& plan, int kind);
bool mgn_measure_plan(mgn_repair_context& ctx, mgn_remesh_plan& plan);
void mgn_get_probe_faces(const mgn_repair_context& ctx, const std::vector<mgn_tetra_nodes>& tetras,
                         std::vector<const double*>& faces);
// Fills ctx.boundary with the cavity's boundary faces.
void mgn_collect_cavity_boundary(mgn_repair_context& ctx, const std::vector<mgn_tetra*>& cavity);
// Whether the node may be removed or moved by the repair of the context's
// region (a region node of it), and whether the edge may be removed.
bool mgn_is_repair_node(const mgn_repair_context& ctx, const mgn_node* node);
bool mgn_is_repair_edge(const mgn_repair_context& ctx, const mgn_edge* edge);
// The nodes of the tetra with node i replaced by `by`.
inline mgn_tetra_nodes mgn_substitute_tetra_node(const mgn_tetra* tetra, int i, mgn_node* by) {
  mgn_tetra_nodes n = {tetra->n[0], tetra->n[1], tetra->n[2], tetra->n[3]};
  n[i] = by;
  return n;
}
// Boundary quality of a tetra and of four nodes; the worst of a set.
double mgn_get_nodes_tetra_quality(const mgn_tetra_nodes& nodes);
double mgn_get_worst_tetra_quality(const std::vector<mgn_tetra*>& tetras);
// Whether the four nodes make a positive tetra (exact orientation test).
bool mgn_check_positive_nodes(const mgn_tetra_nodes& nodes);
// Whether a new edge from a (at xyz, size size_a) to b keeps to the sizes:
// not longer than MGN_REPAIR_LONG_EDGE times their mean size.
bool mgn_fits_size(const double* xyz, float size_a, const mgn_node* b);

// Inserts a node at xyz into the cluster of count tetras (1 to
// MGN_INSERT_CLUSTER, joined across faces) and rebuilds them as the star of
// the cluster's boundary around it; returns the node, or null when the star
// would not be valid (the mesh is unchanged then).  An empty or retired
// cluster ends the run with "Insufficient number of tetras".
mgn_node* mgn_insert_node(mgn_repair_context& ctx, mgn_tetra* const* cluster, int count, const double xyz[3]);

// A point and the faces around it: face i is (a, b, c) of faces[3i ..
// 3i + 2], turning counterclockwise seen from the point, so that the tetra
// (a, b, c, point) is positive.  Moves xyz to raise the worst quality of
// these tetras (steepest ascent of the worst one with a backtracking line
// search); xyz moves only where the worst one gets better.  Returns the
// worst quality at the final xyz.
double mgn_optimize_point(const double* const* faces, int count, double xyz[3], int iterations);
// Worst quality of those tetras with the point at xyz.
double mgn_get_star_quality(const double* const* faces, int count, const double xyz[3]);

#endif  // MGN_MESH3_H
