// Region records: creation with their defaults, the model store of
// regions (model list, hash buckets, identifier slots), lookup by
// identifier and release.  The REGION line parser mgn_input_region is declared
// here; it reads the rest of the logical line that began with REGION.
#ifndef MGN_REGION_H
#define MGN_REGION_H

#include "records.h"

// New region with identifier id and every default set ("Memory allocation
// failed" when it cannot be allocated; a fatal manipulation error when id is
// above the preallocated count of option -n).
mgn_region* mgn_create_region(long id);
// The region with identifier id, or null (identifiers below 1 find nothing).
mgn_region* mgn_find_region(long id);
// Adds a finished definition to the model (list head, hash bucket, slot,
// count).
void mgn_add_region_to_model(mgn_region* region);
// Frees the record with its lists and owned blocks.
void mgn_release_region(mgn_region* region);
// Reads the rest of a REGION definition and returns the new record.
mgn_region* mgn_input_region();

#endif  // MGN_REGION_H
