// Surface records: creation with their defaults, the model store of
// surfaces (model list, hash buckets, identifier slots), lookup by
// identifier and release.  The SURFACE line parser mgn_input_surface is declared
// here; it reads the rest of the logical line that began with SURFACE.
#ifndef MGN_SURFACE_H
#define MGN_SURFACE_H

#include "records.h"

// New surface with identifier id and every default set ("Memory allocation
// failed" when it cannot be allocated; a fatal manipulation error when id is
// above the preallocated count of option -n).
mgn_surface* mgn_create_surface(long id);
// The surface with identifier id, or null (identifiers below 1 find nothing).
mgn_surface* mgn_find_surface(long id);
// Adds a finished definition to the model (list head, hash bucket, slot,
// count).
void mgn_add_surface_to_model(mgn_surface* surface);
// Frees the record with its lists and owned blocks.
void mgn_release_surface(mgn_surface* surface);
// Reads the rest of a SURFACE definition and returns the new record.
mgn_surface* mgn_input_surface();
// Turns the global attraction factor of the surface into a vertex and a
// curve attraction item (run for every surface once the model is read).
void mgn_build_surface_global_attraction(mgn_surface* surface);

#endif  // MGN_SURFACE_H
