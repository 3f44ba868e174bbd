// Vertex records: creation with their defaults, the model store of vertices
// (model list, hash buckets, identifier slots), lookup by identifier, the
// helpers of the chain of parent vertices, the recording of a vertex on the
// curves it lies on, release, and the VERTEX line parser.
#ifndef MGN_VERTEX_H
#define MGN_VERTEX_H

#include "records.h"

// New vertex with identifier id, its own control point and every default
// set ("Memory allocation failed" when it cannot be allocated; a fatal
// manipulation error when id is above the preallocated count of option -n).
mgn_vertex* mgn_create_vertex(long id);
// The vertex with identifier id, or null (identifiers below 1 find nothing).
mgn_vertex* mgn_find_vertex(long id);
// Adds a finished definition to the model (list head, hash bucket, slot,
// count).
void mgn_add_vertex_to_model(mgn_vertex* vertex);
// Frees the record with its lists and its control point.
void mgn_release_vertex(mgn_vertex* vertex);

// Chain of parent vertices (each vertex fixed to a parent vertex names it).
// The last vertex of the chain.
mgn_vertex* mgn_get_root_vertex(mgn_vertex* vertex);
// The highest vertex of the chain that is not virtual / that is virtual
// (null when there is none).
mgn_vertex* mgn_get_top_nonvirtual_vertex(mgn_vertex* vertex);
mgn_vertex* mgn_get_top_virtual_vertex(mgn_vertex* vertex);
// The top physical parent: parent links are followed from the vertex while
// the current vertex is not virtual; the last non-virtual vertex met.  A
// virtual vertex is its own top physical parent.
mgn_vertex* mgn_get_top_physical_vertex(mgn_vertex* vertex);
// The common root of two vertices, or null when their roots differ.
mgn_vertex* mgn_get_common_root_vertex(mgn_vertex* first, mgn_vertex* second);
// True when ancestor is vertex itself or one of its parent vertices.
bool mgn_check_vertex_ancestor(const mgn_vertex* ancestor, const mgn_vertex* vertex);

// Parameter of a vertex on a curve of the fixation family of its parent
// curve (the curve itself, one of its parent curves or one of the curves
// fixed to it): the vertex's own parameter carried along the chain of
// fixations.  The end vertices of a curve give 0 and 1.  Returns false when
// the vertex is not on the curve that way.
bool mgn_get_vertex_curve_parameter(const mgn_vertex* vertex, const mgn_curve* curve, double* t);
// Records a vertex fixed on a curve on that curve's relatives: every parent
// curve up the chain of fixations and every curve fixed to it (down the
// chain) whose interval holds the vertex strictly inside get it in their
// list of fixed vertices (each once).
void mgn_propagate_vertex_up_down(mgn_vertex* vertex, mgn_curve* curve);

// Reads the rest of a VERTEX definition and returns the new vertex.
mgn_vertex* mgn_input_vertex();

#endif  // MGN_VERTEX_H
