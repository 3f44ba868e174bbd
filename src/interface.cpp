// Interface records, the model store of interfaces and the INTERFACE line
// parser.
//
// An interface joins two entities of one kind (two vertices, curves,
// surfaces, patches or shells) that occupy the same place; the meshing
// driver gives them coincident copies of one mesh and puts interface
// elements (or partner links only) between the paired nodes.
#include "interface.h"

#include <new>
#include <string>

#include "curve.h"
#include "input.h"
#include "list.h"
#include "message.h"
#include "patch.h"
#include "shell.h"
#include "surface.h"
#include "vertex.h"

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

// ---------------------------------------------------------------------------
// INTERFACE line
// ---------------------------------------------------------------------------

namespace {

// The parts of the parser report under the parser's name.
constexpr const char* kInputInterface = "mgn_input_interface";
#define INTERFACE_HERE MGN_INPUT_AT(kInputInterface)
#define INTERFACE_CALLER mgn_input_caller{kInputInterface, __FILE__, __LINE__}


// Option keywords of an interface definition, in table order.
enum interface_keyword : int {
  K_VIRTUAL, K_ELEMFREE, K_WEAK, K_TYPE, K_VERTEX, K_CURVE, K_SURFACE, K_PATCH, K_SHELL, K_PROPERTY,
  K_OUTPUT, K_YES, K_NO, K_ELEMGROUP, K_NODEPROP, K_ELEMPROP, K_KEYWORDS
};
const char* const keywords[K_KEYWORDS] = {"VIRTUAL", "ELEMFREE", "WEAK",   "TYPE",   "VERTEX", "CURVE",
                                          "SURFACE", "PATCH",    "SHELL",  "PROPERTY", "OUTPUT", "YES",
                                          "NO",      "ELEMGROUP", "NODEPROP", "ELEMPROP"};

// TYPE names the kind of the two entities.
constexpr mgn_leading_keyword leading_keywords[] = {
    {K_TYPE, {K_VERTEX, K_CURVE, K_SURFACE, K_PATCH, K_SHELL},
     "Keyword VERTEX or CURVE or SURFACE or PATCH or SHELL missing (redundand keyword TYPE)",
     "Keyword VERTEX or CURVE or SURFACE or PATCH or SHELL missing"}};

// The words of one kind of joined entity in the messages of the parser.
struct joined_kind {
  int kind;           // kind code
  const char* word;   // "vertex"
  const char* Word;   // "Vertex"
  const char* words;  // "vertices"
  const char* keyword;
  void* (*find)(long);
};
const joined_kind joined_kinds[] = {
    {MGN_VERTEX, "vertex", "Vertex", "vertices", "VERTEX", [](long id) -> void* { return mgn_find_vertex(id); }},
    {MGN_CURVE, "curve", "Curve", "curves", "CURVE", [](long id) -> void* { return mgn_find_curve(id); }},
    {MGN_SURFACE, "surface", "Surface", "surfaces", "SURFACE", [](long id) -> void* { return mgn_find_surface(id); }},
    {MGN_PATCH, "patch", "Patch", "patches", "PATCH", [](long id) -> void* { return mgn_find_patch(id); }},
    {MGN_SHELL, "shell", "Shell", "shells", "SHELL", [](long id) -> void* { return mgn_find_shell(id); }}};

const joined_kind* kind_of_keyword(int key) {
  switch (key) {
    case K_VERTEX: return &joined_kinds[0];
    case K_CURVE: return &joined_kinds[1];
    case K_SURFACE: return &joined_kinds[2];
    case K_PATCH: return &joined_kinds[3];
    case K_SHELL: return &joined_kinds[4];
    default: return nullptr;
  }
}

const joined_kind& kind_of_code(int kind) {
  for (const joined_kind& k : joined_kinds)
    if (k.kind == kind) return k;
  return joined_kinds[0];
}

// What an INTERFACE line gathers besides the record's own fields.
struct interface_line {
  mgn_interface* interface = nullptr;
  int flags[K_KEYWORDS] = {};
  int previous = -1;
};

// VERTEX, CURVE, SURFACE, PATCH or SHELL a b, right after TYPE.
void read_joined_entities(interface_line& line, const joined_kind& kind) {
  if (line.previous != K_TYPE)
    mgn_input_error(mgn_format("Keyword %s not expected (keyword TYPE missing)", kind.keyword), INTERFACE_HERE);
  const std::string missing_first = mgn_format("Missing first %s id", kind.word);
  const std::string missing_second = mgn_format("Missing second %s id", kind.word);
  const std::string unknown = std::string(kind.Word) + " %ld does not exist";
  for (int k = 0; k < 2; ++k) {
    const long id = mgn_get_next_int(k == 0 ? missing_first.c_str() : missing_second.c_str());
    void* entity = kind.find(id);
    if (entity == nullptr) mgn_input_error(mgn_format(unknown.c_str(), id), INTERFACE_HERE);
    line.interface->entity[k] = entity;
  }
  line.interface->kind = kind.kind;
}

// ELEMGROUP: one group for the interface edges of vertices, one for the
// interface quads of curves, two (wedges and hexas) for faces; dropped.
void read_element_groups(const interface_line& line) {
  switch (line.interface->kind) {
    case MGN_VERTEX: mgn_get_next_int("Missing interface edge elem group id"); break;
    case MGN_CURVE: mgn_get_next_int("Missing interface quad elem group id"); break;
    case MGN_SURFACE:
    case MGN_PATCH:
    case MGN_SHELL:
      mgn_get_next_int("Missing interface wedge elem group id");
      mgn_get_next_int("Missing interface hexa elem group id");
      break;
    default: mgn_input_error("Keyword TYPE missing", INTERFACE_HERE);
  }
  mgn_input.properties_seen = true;
}

void read_interface_options(interface_line& line) {
  mgn_interface* interface = line.interface;
  for (char* token = mgn_get_next_token(nullptr); token != nullptr; token = mgn_get_next_token(nullptr)) {
    const int key = mgn_get_keyword_index(token, keywords, K_KEYWORDS);
    if (key == K_KEYWORDS) mgn_unexpected_keyword(token, INTERFACE_CALLER);
    mgn_check_keyword_duplicity(key, line.flags, token);
    mgn_check_leading_keyword(leading_keywords, line.previous, key, INTERFACE_CALLER);
    switch (key) {
      case K_VIRTUAL: interface->is_virtual = true; break;
      case K_ELEMFREE: interface->element_free = true; break;
      case K_WEAK: interface->weak = true; break;
      case K_TYPE: break;
      case K_VERTEX:
      case K_CURVE:
      case K_SURFACE:
      case K_PATCH:
      case K_SHELL: read_joined_entities(line, *kind_of_keyword(key)); break;
      case K_PROPERTY: interface->property = mgn_read_property(INTERFACE_CALLER); break;
      case K_OUTPUT:
        interface->output = interface->output_requested =
            mgn_read_yes_no("Output specification missing", INTERFACE_CALLER);
        break;
      case K_ELEMGROUP: read_element_groups(line); break;
      case K_NODEPROP: mgn_read_property_string("Node property string missing"); break;
      case K_ELEMPROP: mgn_read_property_string("Elem property string missing"); break;
      default:
        // YES and NO are values of OUTPUT, not options.
        mgn_unexpected_keyword(token, INTERFACE_CALLER);
    }
    line.previous = key;
  }
  mgn_check_leading_keyword(leading_keywords, line.previous, -1, INTERFACE_CALLER);
  if (interface->kind < 0) mgn_input_error("Keyword TYPE missing", INTERFACE_HERE);
}

// Whether the entity of the interface's kind is virtual.
bool entity_is_virtual(int kind, const void* entity) {
  switch (kind) {
    case MGN_VERTEX: return static_cast<const mgn_vertex*>(entity)->is_virtual;
    case MGN_CURVE: return static_cast<const mgn_curve*>(entity)->is_virtual;
    case MGN_SURFACE: return static_cast<const mgn_surface*>(entity)->is_virtual;
    case MGN_PATCH: return static_cast<const mgn_patch*>(entity)->is_virtual;
    case MGN_SHELL: return static_cast<const mgn_shell*>(entity)->is_virtual;
    default: return false;
  }
}

long entity_id(int kind, const void* entity) {
  switch (kind) {
    case MGN_VERTEX: return static_cast<const mgn_vertex*>(entity)->id;
    case MGN_CURVE: return static_cast<const mgn_curve*>(entity)->id;
    case MGN_SURFACE: return static_cast<const mgn_surface*>(entity)->id;
    case MGN_PATCH: return static_cast<const mgn_patch*>(entity)->id;
    case MGN_SHELL: return static_cast<const mgn_shell*>(entity)->id;
    default: return 0;
  }
}

// Whether the two entities are one: vertices with the same top physical
// parent, curves with the same top physical parent that also coincide, or
// the same surface, patch or shell.
bool entities_identical(int kind, void* first, void* second) {
  switch (kind) {
    case MGN_VERTEX:
      return mgn_get_top_physical_vertex(static_cast<mgn_vertex*>(first)) ==
             mgn_get_top_physical_vertex(static_cast<mgn_vertex*>(second));
    case MGN_CURVE: {
      auto* a = static_cast<mgn_curve*>(first);
      auto* b = static_cast<mgn_curve*>(second);
      return mgn_get_top_physical_curve(a) == mgn_get_top_physical_curve(b) && mgn_check_curve_coincidence(a, b);
    }
    default: return first == second;
  }
}

// Virtual, element-free and property rules, then the two entities of a
// physical interface: both physical and not one and the same.
void check_interface(interface_line& line) {
  mgn_interface* interface = line.interface;
  const long iid = mgn_lid(interface);
  if (interface->is_virtual) {
    interface->element_free = false;
    interface->property = 0;
    interface->output = interface->output_requested = false;
  }
  if (interface->element_free && interface->property != 0) {
    mgn_warning("Warning: %s\n", mgn_format("Keyword PROPERTY ignored for element free interface (%ld)", iid).c_str());
    interface->property = 0;
  }
  if (interface->is_virtual) return;
  const joined_kind& kind = kind_of_code(interface->kind);
  for (void* entity : interface->entity)
    if (entity_is_virtual(interface->kind, entity))
      mgn_input_error(mgn_format("Virtual %s (%ld) cannot form physical interface (%ld)", kind.word,
                                 entity_id(interface->kind, entity), iid),
                      INTERFACE_HERE);
  if (entities_identical(interface->kind, interface->entity[0], interface->entity[1]))
    mgn_input_error(mgn_format("Identical %s for interface (%ld) specification not allowed", kind.words, iid),
                    INTERFACE_HERE);
}

}  // namespace

mgn_interface* mgn_input_interface() {
  const int32_t id = mgn_get_next_int("Missing interface id");
  if (id < 1) mgn_input_error("Positive interface id required", INTERFACE_HERE);
  if (mgn_find_interface(id) != nullptr)
    mgn_input_error(mgn_format("Multiple instance of interface %ld detected", static_cast<long>(id)), INTERFACE_HERE);
  interface_line line;
  line.interface = mgn_create_interface(id);
  mgn_input.building = line.interface;
  mgn_input.building_kind = MGN_INTERFACE;
  read_interface_options(line);
  check_interface(line);
  return line.interface;
}

#undef INTERFACE_HERE
#undef INTERFACE_CALLER
