// Patch records: creation with their defaults, the model store of
// patches (model list, hash buckets, identifier slots), lookup by
// identifier and release.  The PATCH line parser mgn_input_patch is declared
// here; it reads the rest of the logical line that began with PATCH.
#ifndef MGN_PATCH_H
#define MGN_PATCH_H

#include "records.h"

// New patch with identifier id and every default set ("Memory allocation
// failed" when it cannot be allocated; a fatal manipulation error when id is
// above the preallocated count of option -n).
mgn_patch* mgn_create_patch(long id);
// The patch with identifier id, or null (identifiers below 1 find nothing).
mgn_patch* mgn_find_patch(long id);
// Adds a finished definition to the model (list head, hash bucket, slot,
// count).
void mgn_add_patch_to_model(mgn_patch* patch);
// Frees the record with its lists and owned blocks.
void mgn_release_patch(mgn_patch* patch);
// Reads the rest of a PATCH definition and returns the new record (src/input2).
mgn_patch* mgn_input_patch();
// Turns the global attraction factor of the patch into a vertex and a
// curve attraction item (run for every patch once the model is read).
void mgn_build_patch_global_attraction(mgn_patch* patch);

#endif  // MGN_PATCH_H
