// Surface records: creation with their defaults, the model store of
// surfaces (model list, hash buckets, identifier slots), lookup by
// identifier and release, the SURFACE line parser with its polygon lines and
// the global attraction.
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
// Reads the rest of a SURFACE definition (and its polygon lines) and
// returns the new record.
mgn_surface* mgn_input_surface();
// Reads the POLYGON lines (up to (order u - 2) x (order v - 2) of them, or
// to a POLYEND line) of a surface that is not fixed.
void mgn_input_surface_polygon(mgn_surface* surface);
// Turns the global attraction factor of the surface into a vertex and a
// curve attraction item (run for every surface once the model is read).
void mgn_build_surface_global_attraction(mgn_surface* surface);

#endif  // MGN_SURFACE_H
