// Shell records and the model store of shells.  The SHELL line parser
// lives with the PATCH line parser in src/input2.
#include "shell.h"

#include <new>

#include "input.h"
#include "list.h"
#include "message.h"
#include "curve.h"
#include "vertex.h"

mgn_shell* mgn_create_shell(long id) {
  auto* record = mgn_new_entity<mgn_shell>(
      mgn_model.shells, id, "Shell with too high identification number (%ld) encountered", MGN_INPUT_CALLER);
  record->rate = static_cast<float>(mgn_set.curvature_rate);
  record->bassoc = mgn_set.default_bassoc_output;
  return record;
}

mgn_shell* mgn_find_shell(long id) { return mgn_find_entity_of<mgn_shell>(mgn_model.shells, id); }

void mgn_add_shell_to_model(mgn_shell* shell) { mgn_add_entity_to_store(mgn_model.shells, shell, shell->id); }

void mgn_release_shell(mgn_shell* shell) {
  if (shell == nullptr) return;
  mgn_destroy_list(shell->left_curves);
  mgn_destroy_list(shell->right_curves);
  mgn_destroy_list(shell->subshells);
  mgn_destroy_list(shell->fixed_vertices);
  mgn_destroy_list(shell->fixed_curves);
  mgn_destroy_list(shell->coinciding_surfaces);
  mgn_destroy_list(shell->coinciding_patches);
  mgn_destroy_list(shell->coinciding_shells);
  mgn_release_attractions(shell->attractions);
  delete shell;
}

void mgn_build_shell_global_attraction(mgn_shell* shell) { mgn_build_sided_global_attraction(shell); }
