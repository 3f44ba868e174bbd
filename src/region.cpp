// Region records and the model store of regions.
//
// The REGION line parser is not part of the program yet: until it is, a REGION
// line is reported as an invalid keyword.
#include "region.h"

#include <new>

#include "input.h"
#include "list.h"
#include "message.h"

mgn_region* mgn_create_region(long id) {
  return mgn_new_entity<mgn_region>(
      mgn_model.regions, id, "Region with too high identification number (%ld) encountered", MGN_INPUT_CALLER);
}

mgn_region* mgn_find_region(long id) { return mgn_find_entity_of<mgn_region>(mgn_model.regions, id); }

void mgn_add_region_to_model(mgn_region* region) { mgn_add_entity_to_store(mgn_model.regions, region, region->id); }

void mgn_release_region(mgn_region* region) {
  if (region == nullptr) return;
  mgn_destroy_list(region->inner_surfaces);
  mgn_destroy_list(region->outer_surfaces);
  mgn_destroy_list(region->inner_patches);
  mgn_destroy_list(region->outer_patches);
  mgn_destroy_list(region->inner_shells);
  mgn_destroy_list(region->outer_shells);
  mgn_destroy_list(region->subregions);
  mgn_destroy_list(region->fixed_vertices);
  mgn_destroy_list(region->fixed_curves);
  mgn_destroy_list(region->fixed_surfaces);
  mgn_destroy_list(region->fixed_patches);
  mgn_destroy_list(region->fixed_shells);
  delete region;
}

mgn_region* mgn_input_region() {
  mgn_input_error("Unexpected or invalid keyword \"REGION\" encountered", MGN_INPUT_HERE);
}
