// Shell records and the model store of shells.
//
// The SHELL line parser is not part of the program yet: until it is, a SHELL
// line is reported as an invalid keyword.
#include "shell.h"

#include <new>
#include <unordered_set>

#include "input.h"
#include "list.h"
#include "message.h"
#include "curve.h"
#include "vertex.h"

namespace {

int32_t id_of(const void* record) { return static_cast<const mgn_shell*>(record)->id; }

// Collects entities, each once.
struct entity_collector {
  std::unordered_set<const void*> seen;
  mgn_list list = nullptr;
  void add(void* object) {
    if (object != nullptr && seen.insert(object).second) mgn_add_item_to_head(list, object);
  }
};

}  // namespace

mgn_shell* mgn_create_shell(long id) {
  mgn_get_entity_slot(mgn_model.shells, id, "Shell with too high identification number (%ld) encountered");
  auto* record = new (std::nothrow) mgn_shell();
  if (record == nullptr) mgn_allocation_error("Memory allocation failed", MGN_HERE);
  record->id = static_cast<int32_t>(id);
  record->rate = static_cast<float>(mgn_set.curvature_rate);
  record->bassoc = mgn_set.default_bassoc_output;
  return record;
}

mgn_shell* mgn_find_shell(long id) {
  return static_cast<mgn_shell*>(mgn_find_entity(mgn_model.shells, id, id_of));
}

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

mgn_shell* mgn_input_shell() {
  mgn_input_error("Unexpected or invalid keyword \"SHELL\" encountered", MGN_INPUT_HERE);
}

void mgn_build_shell_global_attraction(mgn_shell* shell) {
  if (shell->is_virtual || shell->hole || shell->global_attraction == 0.0f) return;
  entity_collector vertices, curves;
  for (mgn_list side : {shell->left_curves, shell->right_curves})
    for (mgn_curve* curve : mgn_list_range<mgn_curve>(side)) {
      curves.add(curve);
      vertices.add(curve->vertex[0]);
      vertices.add(curve->vertex[1]);
      if (!curve->hidden)
        for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(curve->fixed_vertices)) vertices.add(vertex);
    }
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(shell->fixed_vertices)) vertices.add(vertex);
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(shell->fixed_curves)) {
    curves.add(curve);
    vertices.add(curve->vertex[0]);
    vertices.add(curve->vertex[1]);
  }
  mgn_add_global_attraction(shell->attractions, shell->global_attraction, mgn_reverse_list(vertices.list),
                            mgn_reverse_list(curves.list));
  shell->global_attraction = 0.0f;
}
