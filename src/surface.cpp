// Surface records and the model store of surfaces.
//
// The SURFACE line parser is not part of the program yet: until it is, a SURFACE
// line is reported as an invalid keyword.
#include "surface.h"

#include <new>
#include <unordered_set>

#include "input.h"
#include "list.h"
#include "message.h"
#include "curve.h"
#include "vertex.h"

namespace {

int32_t id_of(const void* record) { return static_cast<const mgn_surface*>(record)->id; }

// Collects entities, each once.
struct entity_collector {
  std::unordered_set<const void*> seen;
  mgn_list list = nullptr;
  void add(void* object) {
    if (object != nullptr && seen.insert(object).second) mgn_add_item_to_head(list, object);
  }
};

}  // namespace

mgn_surface* mgn_create_surface(long id) {
  mgn_get_entity_slot(mgn_model.surfaces, id, "Surface with too high identification number (%ld) encountered");
  auto* record = new (std::nothrow) mgn_surface();
  if (record == nullptr) mgn_allocation_error("Memory allocation failed", MGN_HERE);
  record->id = static_cast<int32_t>(id);
  record->rate = static_cast<float>(mgn_set.curvature_rate);
  record->bassoc = mgn_set.default_bassoc_output;
  return record;
}

mgn_surface* mgn_find_surface(long id) {
  return static_cast<mgn_surface*>(mgn_find_entity(mgn_model.surfaces, id, id_of));
}

void mgn_add_surface_to_model(mgn_surface* surface) { mgn_add_entity_to_store(mgn_model.surfaces, surface, surface->id); }

void mgn_release_surface(mgn_surface* surface) {
  if (surface == nullptr) return;
  mgn_destroy_list(surface->fixed_vertices);
  mgn_destroy_list(surface->fixed_curves);
  mgn_destroy_list(surface->child_surfaces);
  mgn_destroy_list(surface->coinciding_surfaces);
  mgn_destroy_list(surface->coinciding_patches);
  mgn_destroy_list(surface->coinciding_shells);
  mgn_release_attractions(surface->attractions);
  delete surface;
}

mgn_surface* mgn_input_surface() {
  mgn_input_error("Unexpected or invalid keyword \"SURFACE\" encountered", MGN_INPUT_HERE);
}

void mgn_build_surface_global_attraction(mgn_surface* surface) {
  if (surface->is_virtual || surface->hole || surface->global_attraction == 0.0f) return;
  entity_collector vertices, curves;
  for (int side = 0; side < 4; ++side) {
    if (surface->vertex[side] != nullptr) vertices.add(surface->vertex[side]);
    mgn_curve* curve = surface->curve[side];
    if (curve == nullptr) continue;
    curves.add(curve);
    if (!curve->hidden)
      for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(curve->fixed_vertices)) vertices.add(vertex);
  }
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(surface->fixed_vertices)) vertices.add(vertex);
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(surface->fixed_curves)) {
    curves.add(curve);
    vertices.add(curve->vertex[0]);
    vertices.add(curve->vertex[1]);
  }
  mgn_add_global_attraction(surface->attractions, surface->global_attraction, mgn_reverse_list(vertices.list),
                            mgn_reverse_list(curves.list));
  surface->global_attraction = 0.0f;
}
