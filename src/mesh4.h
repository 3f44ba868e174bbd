// Quad topology of a surface, patch or shell mesh: the merging of two
// triangles into one quad, the pairing of the triangles that the quad front
// left, the moves that bring lone triangles together, and the clean-up of
// the quad mesh.
//
// Terminology:
//  - own edge: an edge of the entity itself (not of a curve); elements are
//    merged and split only across own edges, so that curves keep theirs;
//  - lone triangle: a triangle of the entity with no triangle across any of
//    its own edges that it could be merged with;
//  - move: a quad next to a lone triangle is cut along a diagonal; the half
//    touching the triangle joins it into a new quad and the other half
//    becomes the lone triangle, one element farther on.
//
// A quad Q (p0 p1 p2 p3) and its numbering:
//
//     p3 ------ p2
//     |          |       edge i runs from p[i] to p[i+1];
//     |          |       the nodes turn counterclockwise about the
//     p0 ------ p1       surface normal Su x Sv, as triangles do.
//
// Every operation keeps the mesh conforming: an element leaves the edge
// lists it was in, edges no element uses any more are retired, and new
// elements enter the lists of their edges (created on demand as own edges).
#ifndef MGN_MESH4_H
#define MGN_MESH4_H

#include <utility>
#include <vector>

#include "records.h"

// Merges every pair of triangles that share an own edge into one quad where
// that quad is convex and not too poor; pairs no longer valid are skipped.
// Returns the number of quads made.  This hands a new quad mesh of the
// entity over: what earlier clean-ups remembered of it is forgotten.
long mgn_merge_triangle_pairs(int kind, void* entity, const std::vector<std::pair<mgn_face*, mgn_face*>>& pairs);

// The pairing of the entity's remaining triangles and the clean-up of its
// quad mesh: triangles across own edges are merged, best quad first; lone
// triangles are moved through the quads toward one another and merged when
// they meet; interior nodes held by two elements only are removed; a quad
// that is no longer convex (a smoothing pass folded it) is first cut into
// two triangles, which are paired again like the others.  Leaves
// at most as many triangles as the parity of the boundary and the shape of
// the mesh force.  Then irregular valencies are lowered: an edge between
// two quads is turned to another diagonal of their hexagon, and a quad
// with two opposite interior corners of valency 3 is collapsed, where that
// lowers the squared deviation of the valencies from a square grid's and
// leaves convex quads of quality 0.3 or more (a turn may also better
// poorer quads); curve nodes stay where they
// are, and no node moves.  The smoothing runs it before and after its
// passes.
void mgn_clean_quad_mesh(int kind, void* entity);

// Whether the quad a b c d turns counterclockwise and convex about the
// normal at every corner (the corner triangles' normals all agree with it).
bool mgn_check_quad_convexity(const double* a, const double* b, const double* c, const double* d,
                              const double* normal);

#endif  // MGN_MESH4_H
