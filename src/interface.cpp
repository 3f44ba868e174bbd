// Interface records and the model store of interfaces.
//
// The INTERFACE line parser is not part of the program yet: until it is, a INTERFACE
// line is reported as an invalid keyword.
#include "interface.h"

#include <new>

#include "input.h"
#include "list.h"
#include "message.h"

mgn_interface* mgn_create_interface(long id) {
  return mgn_new_entity<mgn_interface>(
      mgn_model.interfaces, id, "Interface with too high identification number (%ld) encountered", MGN_INPUT_CALLER);
}

mgn_interface* mgn_find_interface(long id) { return mgn_find_entity_of<mgn_interface>(mgn_model.interfaces, id); }

void mgn_add_interface_to_model(mgn_interface* interface) { mgn_add_entity_to_store(mgn_model.interfaces, interface, interface->id); }

void mgn_release_interface(mgn_interface* interface) {
  if (interface == nullptr) return;
  delete interface;
}

mgn_interface* mgn_input_interface() {
  mgn_input_error("Unexpected or invalid keyword \"INTERFACE\" encountered", MGN_INPUT_HERE);
}
