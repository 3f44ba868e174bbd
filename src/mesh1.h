// The mesh seen from the model: the node a vertex shares, the parameter of a
// node on a curve, and the capacity of the reference blocks of an entity's
// listings.  Every mesher and the whole-mesh passes take these from here;
// the meshing driver uses them as the meshers do.
//
// Two ways to the node of a vertex, for two meanings:
//  - the node the vertex shares with the other vertices of its
//    representative (mgn_get_vertex_node creates it, mgn_find_vertex_node
//    only looks): what the meshers mean by "the node of a vertex";
//  - the node nearest up the chain of parent vertices
//    (mgn_find_vertex_chain_node): the vertex's own node record, else its
//    parent's, and so on; smoothing uses it for attracting vertices, which
//    may be virtual.
#ifndef MGN_MESH1_H
#define MGN_MESH1_H

#include "records.h"

// The vertex whose node a vertex shares: the last non-virtual vertex along
// its chain of parent vertices (the vertex itself when it has no parent).
mgn_vertex* mgn_get_vertex_representative(mgn_vertex* vertex);
// The mesh node of a vertex, created when it has none yet: the node of its
// representative, shared by all vertices joined through collapsed curves.
// A new node is not entered in the finite-element node listing.
mgn_node* mgn_get_vertex_node(mgn_vertex* vertex);
// The node of a vertex's representative as it stands (null for a null
// vertex or while the representative has none); creates nothing.
mgn_node* mgn_find_vertex_node(mgn_vertex* vertex);
// The first node met from the vertex up its chain of parent vertices (null
// when none has one).
mgn_node* mgn_find_vertex_chain_node(const mgn_vertex* vertex);

// Parameter on the curve of a node of the mesh, as the records tell it: the
// node's own parameter, or the parameter on the curve it belongs to carried
// to this one through their common root curve; for the node of a vertex, 0
// and 1 at the curve's end vertices, else the parameter of the vertex that
// made the node, else of a vertex fixed on the curve that shares the node.
// False when the records do not tell it.
bool mgn_find_node_curve_parameter(const mgn_curve* curve, const mgn_node* node, double* t);
// The same, and where the records do not tell it (a midside node, a node of
// another family of curves) the parameter of the closest curve point.
double mgn_get_node_curve_parameter(const mgn_curve* curve, const mgn_node* node);

// The check that a meshed entity's node has left the front (front count 0):
// otherwise the entity (kind code, record, kind word and identifier for the
// message) and the node are noted for the partial output and the run ends
// with "Node %ld detected as remaining on front (%ld) of %s %ld".
void mgn_check_data_node(mgn_node* node, int kind, void* entity, const char* word, long id);

// Capacity of the blocks of a listing that takes n records at once: n, or
// chunks of about the listing size when n exceeds 1000 and 1.5 times it.
long mgn_get_chunk_capacity(long n);

#endif  // MGN_MESH1_H
