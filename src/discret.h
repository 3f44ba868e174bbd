// Meshing driver: walks the model in the fixed order vertices, curves,
// surfaces, patches, shells, regions, interfaces, calls the discretizer of
// each kind on every entity, moves the finished per-entity listings into the
// global finite-element listings, and runs the passes that need the whole
// mesh (hiding, master and slave nodes, midside nodes, neighbour tables).
//
// Surfaces, patches, shells, regions and interfaces keep their entry rules
// here; their meshers plug in at the places marked in src/discret.cpp.
#ifndef MGN_DISCRET_H
#define MGN_DISCRET_H

#include "records.h"

// Run flags and scratch listings of one meshing run.
struct mgn_discret_state {
  // Run flags, reset at the start of every run.
  bool something_produced = false;    // the current kind meshed an entity
  bool master_slave_present = false;  // a slave or master entity was meshed
  bool something_hidden = false;      // a curve, surface, patch or shell was hidden
  bool resmoothing_needed = false;    // an edge swap asks for a second smoothing
  bool neighbours_wanted = false;     // bit 32 of the output specification
  bool extruded_region_met = false;   // a region was extruded
  // Curves with a hiding request wait for the hiding pass before their
  // listings are collected (a hidden curve gives no edge elements).
  bool hiding_pending = false;
  // Cells (a reference and a link) of the associations of faces with the
  // volume elements on their sides (only when the model has regions).  The
  // curve mesher and the neighbour tables keep scratch of their own.
  mgn_listing* association_cells = nullptr;
  // Cells of the region mesher (only when the model has regions).
  mgn_listing* region_cells = nullptr;
  mgn_listing* region_long_cells = nullptr;
};
extern mgn_discret_state mgn_discret;

// The driver: discretizes the whole model once per run (after the octree is
// built).  Fatal conditions end the process through the error routines.
void mgn_discretize_model();

// Entity discretizers.  Each returns at once for an entity that is free,
// not meshed (virtual, ...) or already discretized; one that depends on
// another entity discretizes that one first.  The second argument is passed
// on to recursive calls and otherwise ignored.
void mgn_discretize_vertex(mgn_vertex* vertex, void* argument);
void mgn_discretize_curve(mgn_curve* curve, void* argument);
void mgn_discretize_surface(mgn_surface* surface, void* argument);
void mgn_discretize_patch(mgn_patch* patch, void* argument);
void mgn_discretize_shell(mgn_shell* shell, void* argument);
void mgn_discretize_region(mgn_region* region, void* argument);
void mgn_discretize_interface(mgn_interface* interface, void* argument);

// Enters the node of a vertex's representative in the finite-element node
// listing, once, unless the representative is a slave or master vertex.
void mgn_enter_vertex_node(mgn_vertex* vertex);

// True when a physical curve takes its mesh from a physical parent curve
// (its top physical parent is another curve): its listings refer to the
// parent's records and are never moved into the global listings.
bool mgn_check_curve_mesh_copy(const mgn_curve* curve);

// Moves the listings of a finished curve into the global finite-element
// listings as its output request says, with the nodes of its vertices; once.
void mgn_collect_curve(mgn_curve* curve);
// Moves the listings of every finished entity not moved yet (the fatal-error
// path calls it through mgn_terminate_hook.collect_finished).
void mgn_collect_finished_entities();

#endif  // MGN_DISCRET_H
