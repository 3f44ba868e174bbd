// Patch records and the model store of patches.  The PATCH line parser
// lives with the SHELL line parser in src/input2.
#include "patch.h"

#include <new>

#include "input.h"
#include "list.h"
#include "message.h"
#include "curve.h"
#include "surface.h"
#include "vertex.h"

mgn_patch* mgn_create_patch(long id) {
  auto* record = mgn_new_entity<mgn_patch>(
      mgn_model.patches, id, "Patch with too high identification number (%ld) encountered", MGN_INPUT_CALLER);
  record->bassoc = mgn_set.default_bassoc_output;
  return record;
}

mgn_patch* mgn_find_patch(long id) { return mgn_find_entity_of<mgn_patch>(mgn_model.patches, id); }

void mgn_add_patch_to_model(mgn_patch* patch) { mgn_add_entity_to_store(mgn_model.patches, patch, patch->id); }

void mgn_release_patch(mgn_patch* patch) {
  if (patch == nullptr) return;
  mgn_destroy_list(patch->left_curves);
  mgn_destroy_list(patch->right_curves);
  mgn_destroy_list(patch->subpatches);
  mgn_destroy_list(patch->fixed_vertices);
  mgn_destroy_list(patch->fixed_curves);
  mgn_destroy_list(patch->coinciding_surfaces);
  mgn_destroy_list(patch->coinciding_patches);
  mgn_destroy_list(patch->coinciding_shells);
  mgn_release_attractions(patch->attractions);
  // The background surface belongs to the patch (its control points live
  // until the process ends, as all control points do).
  mgn_release_surface(patch->bg_surface);
  delete patch;
}

void mgn_build_patch_global_attraction(mgn_patch* patch) { mgn_build_sided_global_attraction(patch); }
