// Interface records and the model store of interfaces.
//
// The INTERFACE line parser is not part of the program yet: until it is, a INTERFACE
// line is reported as an invalid keyword.
#include "interface.h"

#include <new>

#include "input.h"
#include "list.h"
#include "message.h"

namespace {

int32_t id_of(const void* record) { return static_cast<const mgn_interface*>(record)->id; }

}  // namespace

mgn_interface* mgn_create_interface(long id) {
  mgn_get_entity_slot(mgn_model.interfaces, id, "Interface with too high identification number (%ld) encountered");
  auto* record = new (std::nothrow) mgn_interface();
  if (record == nullptr) mgn_allocation_error("Memory allocation failed", MGN_HERE);
  record->id = static_cast<int32_t>(id);
  return record;
}

mgn_interface* mgn_find_interface(long id) {
  return static_cast<mgn_interface*>(mgn_find_entity(mgn_model.interfaces, id, id_of));
}

void mgn_add_interface_to_model(mgn_interface* interface) { mgn_add_entity_to_store(mgn_model.interfaces, interface, interface->id); }

void mgn_release_interface(mgn_interface* interface) {
  if (interface == nullptr) return;
  delete interface;
}

mgn_interface* mgn_input_interface() {
  mgn_input_error("Unexpected or invalid keyword \"INTERFACE\" encountered", MGN_INPUT_HERE);
}
