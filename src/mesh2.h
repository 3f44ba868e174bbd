// Whole-mesh passes over the triangles and quads of surfaces, patches and
// shells, run by the meshing driver once every such entity is meshed:
// hiding of curves between two faces that meet flat, swapping of mesh edges
// across curves with a swap request, hiding of vertices inside merged
// faces, and the neighbour tables of the face elements.
//
// Decisions of these passes:
//  - A curve is hidden or swapped across only when it bounds exactly two
//    faces of the model (two sides of surfaces, patches or shells, counted
//    with multiplicity), both meshed, with the same property.  The normals
//    of the two faces are compared at every node of the curve; hiding asks
//    |n1 . n2 - 1| <= 1e-5 everywhere, swapping asks n1 . n2 at least the
//    curve's swap threshold everywhere.
//  - The first swapping pass handles curves between two faces of one kind,
//    the second curves between faces of two kinds, the last one (after the
//    vertex hiding) every swap curve again.
//  - A vertex with a hiding request is hidden when every curve ending there
//    that asked to be hidden is hidden, and at least one is.  Its node moves
//    to the mean of its neighbours, put back onto the nearest face when no
//    other curve ends there, or onto the common straight line of the
//    remaining curves when they are all straight and parallel (the vertex
//    slides along that line); otherwise it stays.  A move that would turn a
//    triangle over is shortened and at last given up.
//  - Neighbours: the element across a side is the other live triangle or
//    quad on the edge of that side that belongs to the same entity, or, on
//    an edge inside a surface or on a hidden or swapped curve, the only
//    other one there of any entity.  Only elements that are output are
//    neighbours; across a curve between two entities there is none.
#ifndef MGN_MESH2_H
#define MGN_MESH2_H

#include "records.h"

// The cells of the neighbour tables: created for a run that wants them
// (else on first use), released when the next run starts.
void mgn_create_neighbour_cells();
void mgn_release_neighbour_cells();

// Builds (or rebuilds, reusing its cells) the neighbour table of every
// triangle and quad of the surface, patch or shell (kind code 2, 4 or 5).
void mgn_build_neighbour_table(int kind, void* entity);
// Rebuilds the tables of the elements on the edge and of the elements next
// to them (those that have a table).
void mgn_update_edge_neighbours(mgn_edge* edge);

// The element across side i of a triangle or a quad by the rule above
// (null: none); side i runs from n[i] to n[i+1].
void* mgn_get_face_neighbour(const mgn_face* face, int i);
void* mgn_get_quad_neighbour(const mgn_quad* quad, int i);
// The edge of side i that carries the triangle (null when the mesh lacks
// it).
mgn_edge* mgn_get_face_side_edge(const mgn_face* face, int i);
mgn_edge* mgn_get_quad_side_edge(const mgn_quad* quad, int i);

// Curve hiding pass over all curves; true when a curve was hidden.  With
// neighbours, the neighbour tables of the faces at a hidden curve are
// brought up to date.
bool mgn_hide_curves(bool neighbours);
// Edge swapping pass over all curves: pass 1 curves between faces of one
// kind, pass 2 between faces of two kinds, pass 3 all.  True when an edge
// was swapped (the faces around it then want smoothing again); neighbours
// as for hiding.
bool mgn_swap_curves(int pass, bool neighbours);
// Vertex hiding pass over all vertices.
void mgn_hide_vertices();

#endif  // MGN_MESH2_H
