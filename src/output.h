// Mesh output file: header, counts, nodes with their classification and
// node data, element sections with element data, and the boundary-
// association section; the partial output of the fatal-error path.
#ifndef MGN_OUTPUT_H
#define MGN_OUTPUT_H

#include <cstdio>
#include <vector>

#include "records.h"

// Writes the mesh file named by output_file_name: 0 without a name, 1 after
// writing.  "Output file %s opening error" (status 20) when it cannot be
// opened; any failed write ends the run with an output error (status 30).
int mgn_store_mesh_on_file();

// Writes the content of the mesh file to an open stream (file_name for the
// error reports).
void mgn_store_mesh_default(FILE* stream, const char* file_name);

// The finite-element nodes in the order of the node section (the order of
// their numbers): the renumbering's order array, read from its end when
// reversed, or the node listing with each node once.  Valid after the
// renumbering.
void mgn_get_output_nodes(std::vector<const mgn_node*>& nodes);

// Entity key, identifier and property of the entity of a kind (0, 0, 0 for
// a null entity).
void mgn_get_entity_classification(int kind, const void* entity, int* key, long* id,
                                   long* property);

// Partial output of the fatal-error path: moves the noted entities' meshes
// into the finite-element listings, numbers without profile reduction and
// writes the mesh file with no additional columns.  False when meshing had
// not begun.
bool mgn_write_partial_mesh();

// Makes the identifiers of all model entities positive again.
void mgn_restore_entity_ids();

// Installs the partial output and the identifier restoration in the fatal-
// error path (called once at start-up).
void mgn_init_mesh_output();

#endif  // MGN_OUTPUT_H
