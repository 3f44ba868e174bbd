// Surface triangulation: an advancing front of triangles that works
// directly on the surface in three dimensions.  The front starts as the mesh
// edges of the boundary curves and of the curves lying inside the entity;
// each step takes one front edge and one of its free sides, computes an
// ideal apex point on the surface at a distance that follows the octree size
// field, looks for an existing front node near that point that may serve
// instead, checks that the two new edges cross no front edge, creates the
// triangle and updates the front.  The entity is finished when no front edge
// remains.
//
// Orientation: a face built on side 0 of an edge lies on the left of the
// edge run from n[0] to n[1], seen from the side the surface normal
// Su x Sv points to; on side 1 it lies on the right.  Faces are stored with
// their nodes counterclockwise seen from that side.
#ifndef MGN_DISCRET2_H
#define MGN_DISCRET2_H

#include <cstdint>

#include "records.h"

// The surface data of a node (mgn_surface_data, records.h) lives in the
// surface scratch listing while its entity is meshed.

// Scratch listing of the surface meshers: surface data of nodes.  Created
// on first use when the driver has not created it; emptied after the
// surfaces, patches and shells of a run.
struct mgn_surface_scratch {
  mgn_listing* data = nullptr;
  bool edge_warning_given = false;  // "Too many edges in the neighbourhood" once
  // Records given back while meshing goes on (the surface data of interior
  // nodes that left the front, and all of them when an entity is
  // finished), chained through their first bytes and handed out again
  // before the listing grows.
  mgn_surface_data* free_data = nullptr;
};
extern mgn_surface_scratch mgn_surface_work;

void mgn_create_surface_scratch();
void mgn_empty_surface_scratch();

// Makes the surface the current entity of the mesher: fills the mesher's
// context (the entity, the settings and tolerances, the octree, the model's
// regions) once, and starts an empty front.
void mgn_set_current_surface(mgn_surface* surface);

// (u, v) of a vertex lying on the surface: a corner, a vertex fixed to the
// surface, or the closest point of the surface.  Returns false when the
// vertex does not lie on the surface (within the user epsilon).
bool mgn_get_surface_vertex_uv(const mgn_surface* surface, mgn_vertex* vertex, double uv[2]);

// Builds the surface data of every node on the boundary curves, on the
// curves fixed to the surface and on the vertices fixed to it, gives the
// boundary edges their side slots and free sides (1 on the side of the
// surface, 2 for a curve inside it) and the boundary nodes their front
// counts.  The surface must be the current entity.
void mgn_build_data_subsurface(mgn_surface* surface);

// The front loop of a surface: the boundary edges in three passes (curves
// with two edges, with more, with one), then every open edge of the surface
// until the front is closed.  Leaves the front counts for the driver's check
// and releases the side slots.
void mgn_triangulate_subsurface(mgn_surface* surface);

// One generation step on the edge: a face on its free side `side` (0 or 1).
// Does nothing when the edge has been retired, is not on the front, already
// has a face on that side, or has a negative identifier.
void mgn_generate_face(mgn_edge* edge, int side);

// Removes the inner nodes of the current entity that only three or four
// triangles share (mgn_check_node_removal): where two fronts close a gap
// narrower than a row, a node put into the gap is left with a fan of four
// poor triangles that no smoothing mends.
void mgn_remove_fan_nodes();

// Meshes one surface by triangles as the driver's entry rule asks, once the
// rule has decided that the surface is meshed: the surface becomes the
// current entity, its data is built, it is triangulated, rid of fan nodes
// (mgn_remove_fan_nodes), smoothed (nodal
// smoothing on and not mapped), checked for nodes left on the front, and its
// listings are compacted.  The driver then moves them into the global
// listings.
void mgn_mesh_subsurface(mgn_surface* surface);

// Meshes one patch or shell by triangles, as mgn_mesh_subsurface does a
// surface: on the patch's planar background surface (made here when the
// model preparation has not made it) or the shell's background surface,
// with the curves of its loops and of the loops of its children, and the
// curves and vertices fixed inside, entering the front.
void mgn_mesh_subpatch(mgn_patch* patch);
void mgn_mesh_subshell(mgn_shell* shell);

// Checks that no node of the current entity (its own nodes and the nodes of
// its boundary) is still on the front ("Node %ld detected as remaining on
// front (%ld) of %s %ld").
void mgn_check_front_closed();

#endif  // MGN_DISCRET2_H
