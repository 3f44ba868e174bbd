// Interface meshing and master/slave pairing: the elements that join two
// coincident, separately meshed entities of one kind (two vertices, curves,
// surfaces, patches or shells), and the merging of slave nodes into the
// master nodes at their places.
//
// The two entities are meshed on their own first (their meshes are alike
// because they have the same geometry); the interface then pairs every node
// of the first entity with the node of the second at the same place and
// builds, over each pair of matching records:
//  - vertices: one interface edge between the two nodes;
//  - curves: an interface quad a1 b1 b2 a2 over each pair of edges a1-b1,
//    a2-b2, with the interface edges a1-a2 and b1-b2 (once per node pair);
//  - surfaces, patches, shells: an interface wedge over each pair of
//    triangles and an interface hexa over each pair of quads (first
//    entity's nodes below, the second's above).
// An element-free interface makes no elements: the paired nodes (and the
// crossed ends of each pair of edges) become partner nodes instead.
//
// A pair made of one node twice (the entities share a vertex or a curve, as
// the faces of a crack meet at its front) makes the interface degenerated:
// a warning, and its elements carry that node twice; when every node is
// shared the entities are not detached and the run ends.  A node with no
// partner at its place on the other entity (the meshes differ) ends the
// run too.
#ifndef MGN_DISCRET4_H
#define MGN_DISCRET4_H

#include "records.h"

// Builds the elements (or partner links) of one interface into its own
// listings; the caller collects them.  Returns false when one of the two
// entities has no mesh (not meshed or not output), so that nothing was made.
bool mgn_mesh_interface(mgn_interface* interface);

// The master and slave pass: every node of a SLAVE vertex or curve that has
// a node of a MASTER vertex or curve at its place is replaced by it in the
// output elements; its edges pass to the master (an edge the master side
// already has is dropped, its faces going to that edge) and the slave node
// leaves the mesh.  Slave nodes without a master stay nodes of their own.
void mgn_pair_master_slave_nodes();

#endif  // MGN_DISCRET4_H
