// Interface records: creation with their defaults, the model store of
// interfaces (model list, hash buckets, identifier slots), lookup by
// identifier and release.  The INTERFACE line parser mgn_input_interface is declared
// here; it reads the rest of the logical line that began with INTERFACE.
#ifndef MGN_INTERFACE_H
#define MGN_INTERFACE_H

#include "records.h"

// New interface with identifier id and every default set ("Memory allocation
// failed" when it cannot be allocated; a fatal manipulation error when id is
// above the preallocated count of option -n).
mgn_interface* mgn_create_interface(long id);
// The interface with identifier id, or null (identifiers below 1 find nothing).
mgn_interface* mgn_find_interface(long id);
// Adds a finished definition to the model (list head, hash bucket, slot,
// count).
void mgn_add_interface_to_model(mgn_interface* interface);
// Frees the record with its lists and owned blocks.
void mgn_release_interface(mgn_interface* interface);
// Reads the rest of a INTERFACE definition and returns the new record.
mgn_interface* mgn_input_interface();

#endif  // MGN_INTERFACE_H
