// Entry points: mgn_smooth_surface, mgn_smooth_patch, mgn_smooth_shell, mgn_smooth_region, mgn_smooth_hidden_curve_*; node surface data: mgn_surface_data (records.h).
//
// Nodal smoothing: after a surface, patch, shell or region has been meshed,
// its free nodes (the nodes of its own node listing; vertex and curve nodes
// never move) are moved by a few passes of Laplacian smoothing, optionally
// weighted by element size and node connectivity (smoothing_type, -s), and
// put back onto the geometry.  The nodes of a hidden curve are smoothed as
// if they belonged to both entities that meet there.  Attraction items of a
// planar entity pull its nodes toward the attracting vertices and curves.
//
// A run smooths one entity at a time; the per-node routines below read the
// state of the current run and are meant to be called only from it.
#ifndef MGN_SMOOTH_H
#define MGN_SMOOTH_H

#include "records.h"

// Passes of an entity without a request for more; passes with attraction.
constexpr int MGN_SMOOTH_PASSES = 6;
constexpr int MGN_SMOOTH_ATTRACTION_PASSES = 3;
// Passes of a region, and of an extruded one.
constexpr int MGN_SMOOTH_REGION_PASSES = 6;
constexpr int MGN_SMOOTH_EXTRUDED_PASSES = 12;
// A move that would fold an element is shortened by this factor per step,
// at most this many times, before the node stays where it was.
constexpr double MGN_SMOOTH_BACKOFF = 0.9;
constexpr int MGN_SMOOTH_BACKOFF_STEPS = 20;
// Parameter tolerance of the projection of a moved node onto its surface.
constexpr double MGN_SMOOTH_TOLERANCE_UV = 1e-06;
// A region node whose worst tetra is below this boundary quality climbs
// toward the point that raises it, in at most this many steps.
constexpr double MGN_SMOOTH_OPTIMIZE_BELOW = 0.3;
constexpr int MGN_SMOOTH_OPTIMIZE_STEPS = 4;
// Below this worst quality a region move is confirmed by the exact
// orientation test.
constexpr double MGN_SMOOTH_EXACT_BELOW = 1e-6;

// Entity smoothing: the pass schedule over the entity's node listing
// (forward, then backward, alternately), with the unweighted node routine
// for smoothing type 0 without attraction and the weighted one otherwise.
// The driver calls these only while nodal smoothing is on and for entities
// that are not mapped.
void mgn_smooth_surface(mgn_surface* surface);
void mgn_smooth_patch(mgn_patch* patch);
void mgn_smooth_shell(mgn_shell* shell);
// The same for an entity given by its kind code (2, 4 or 5).
void mgn_smooth_subsurface(int kind, void* entity);
// Region smoothing, with the repair and special-node hooks below; with
// nodal smoothing off (-S) only the forward repair pass runs, once, as the
// last cycle (0).
void mgn_smooth_region(mgn_region* region);

// Hidden curves: the interior nodes of the curve are smoothed with the
// edges of the curve and of the two entities, and put back onto whichever
// of the two lies nearer.  The vertex nodes at its ends do not move.
void mgn_smooth_hidden_curve_surface_surface(mgn_curve* curve, mgn_surface* a, mgn_surface* b);
void mgn_smooth_hidden_curve_patch_patch(mgn_curve* curve, mgn_patch* a, mgn_patch* b);
void mgn_smooth_hidden_curve_shell_shell(mgn_curve* curve, mgn_shell* a, mgn_shell* b);
void mgn_smooth_hidden_curve_patch_surface(mgn_curve* curve, mgn_patch* a, mgn_surface* b);
void mgn_smooth_hidden_curve_shell_surface(mgn_curve* curve, mgn_shell* a, mgn_surface* b);
void mgn_smooth_hidden_curve_patch_shell(mgn_curve* curve, mgn_patch* a, mgn_shell* b);
// Any pair, given by kind codes (2, 4 or 5) in either order.
void mgn_smooth_hidden_curve(mgn_curve* curve, int kind_a, void* a, int kind_b, void* b);

// Per-node routines of the current run (one pass visit of one node).
void mgn_smooth_surface_node(mgn_node* node);
void mgn_smooth_surface_node_weight(mgn_node* node);
void mgn_smooth_surface_quad_node(mgn_node* node);
void mgn_smooth_surface_quad_node_weight(mgn_node* node);
void mgn_smooth_patch_node(mgn_node* node);
void mgn_smooth_patch_node_weight(mgn_node* node);
void mgn_smooth_patch_quad_node(mgn_node* node);
void mgn_smooth_patch_quad_node_weight(mgn_node* node);
void mgn_smooth_shell_node(mgn_node* node);
void mgn_smooth_shell_node_weight(mgn_node* node);
void mgn_smooth_shell_quad_node(mgn_node* node);
void mgn_smooth_shell_quad_node_weight(mgn_node* node);
void mgn_smooth_region_node(mgn_node* node);

// Work of other meshers that the smoothing runs at fixed points of its
// schedule; each is skipped while not set.
//  - quad_topology: the pairing of temporary triangles and the clean-up of
//    a quad mesh, before and after every pass on a quad mesh without
//    attraction (entity kind code and entity);
//  - repair_forward, repair_backward: the tetra repair passes of a region
//    that is not extruded, with the smoothing cycles still to come: a
//    forward pass before every forward sweep and after the last sweep, a
//    backward pass before every backward sweep (cycles 6, 5, ..., 1, 0);
//  - prepare_region, finish_region: the work on a region's special nodes
//    before and after its smoothing;
//  - extrusion_neighbours: the two neighbours of a node of an extruded
//    region on its extrusion line (false when it has none); without it the
//    nodes of extruded regions do not move.
struct mgn_smooth_hooks {
  void (*quad_topology)(int kind, void* entity) = nullptr;
  void (*repair_forward)(mgn_region* region, int cycle) = nullptr;
  void (*repair_backward)(mgn_region* region, int cycle) = nullptr;
  void (*prepare_region)(mgn_region* region) = nullptr;
  void (*finish_region)(mgn_region* region) = nullptr;
  bool (*extrusion_neighbours)(mgn_node* node, mgn_node** a, mgn_node** b) = nullptr;
};
extern mgn_smooth_hooks mgn_smooth_hook;

#endif  // MGN_SMOOTH_H
