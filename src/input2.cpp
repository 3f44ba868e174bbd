// The PATCH and SHELL line parsers: one reader for the two kinds, with the
// options, sequence rules and checks each kind has.
#include "input2.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <type_traits>
#include <vector>

#include "bezier.h"
#include "curve.h"
#include "input.h"
#include "input3.h"
#include "list.h"
#include "message.h"
#include "patch.h"
#include "shell.h"
#include "surface.h"
#include "vec3.h"
#include "vertex.h"

namespace {

// The options of both kinds; each kind's keyword table names those it has,
// in its own order.
enum option : int {
  O_VIRTUAL, O_BOUNDARY, O_CHILD, O_FIXED, O_VERTEX, O_CURVE, O_SURFACE, O_PATCH, O_SHELL, O_NORMAL,
  O_ORIGIN, O_BGSURFACE, O_SIZE, O_RATE, O_FACTOR, O_ATTRACT, O_PROPERTY, O_HIDDEN, O_HOLE, O_OUTPUT,
  O_BASSOC, O_QUAD, O_DIAGONAL, O_MAP, O_ISO, O_DIR, O_DEF, O_UNI, O_ALL, O_YES, O_NO, O_POSITIVE,
  O_NEGATIVE, O_POINT, O_NONE, O_EPSILON, O_EQUIDISTANT, O_DUPLICATE, O_COINCIDE, O_SLAVE, O_MIRROR,
  O_WEAK, O_ELEMGROUP, O_NODEPROP, O_ELEMPROP, O_LCS, O_OPTIONS
};

constexpr int kPatchKeywords = 44;
const char* const patch_keywords[kPatchKeywords] = {
    "VIRTUAL", "BOUNDARY", "SUBPATCH", "FIXED",     "VERTEX",    "CURVE",    "SURFACE",  "PATCH",    "SHELL",
    "NORMAL",  "ORIGIN",   "SIZE",     "FACTOR",    "ATTRACT",   "PROPERTY", "HIDDEN",   "HOLE",     "OUTPUT",
    "BASSOC",  "QUAD",     "DIAGONAL", "MAP",       "ISO",       "DIR",      "DEF",      "UNI",      "ALL",
    "YES",     "NO",       "POSITIVE", "NEGATIVE",  "POINT",     "NONE",     "EPSILON",  "EQUIDISTANT",
    "DUPLICATE", "COINCIDE", "SLAVE",  "MIRROR",    "WEAK",      "ELEMGROUP", "NODEPROP", "ELEMPROP", "LCS"};
constexpr option patch_options[kPatchKeywords] = {
    O_VIRTUAL, O_BOUNDARY, O_CHILD, O_FIXED, O_VERTEX, O_CURVE, O_SURFACE, O_PATCH, O_SHELL,
    O_NORMAL, O_ORIGIN, O_SIZE, O_FACTOR, O_ATTRACT, O_PROPERTY, O_HIDDEN, O_HOLE, O_OUTPUT,
    O_BASSOC, O_QUAD, O_DIAGONAL, O_MAP, O_ISO, O_DIR, O_DEF, O_UNI, O_ALL,
    O_YES, O_NO, O_POSITIVE, O_NEGATIVE, O_POINT, O_NONE, O_EPSILON, O_EQUIDISTANT,
    O_DUPLICATE, O_COINCIDE, O_SLAVE, O_MIRROR, O_WEAK, O_ELEMGROUP, O_NODEPROP, O_ELEMPROP, O_LCS};

constexpr int kShellKeywords = 41;
const char* const shell_keywords[kShellKeywords] = {
    "VIRTUAL",  "BOUNDARY", "SUBSHELL", "FIXED",    "VERTEX",   "CURVE",    "SURFACE",   "PATCH",    "SHELL",
    "BGSURFACE", "SIZE",    "RATE",     "FACTOR",   "ATTRACT",  "PROPERTY", "HIDDEN",    "HOLE",     "OUTPUT",
    "BASSOC",   "QUAD",     "DIAGONAL", "MAP",      "DEF",      "UNI",      "ALL",       "YES",      "NO",
    "POSITIVE", "NEGATIVE", "POINT",    "NONE",     "EQUIDISTANT", "DUPLICATE", "COINCIDE", "SLAVE", "MIRROR",
    "WEAK",     "ELEMGROUP", "NODEPROP", "ELEMPROP", "LCS"};
constexpr option shell_options[kShellKeywords] = {
    O_VIRTUAL, O_BOUNDARY, O_CHILD, O_FIXED, O_VERTEX, O_CURVE, O_SURFACE, O_PATCH, O_SHELL,
    O_BGSURFACE, O_SIZE, O_RATE, O_FACTOR, O_ATTRACT, O_PROPERTY, O_HIDDEN, O_HOLE, O_OUTPUT,
    O_BASSOC, O_QUAD, O_DIAGONAL, O_MAP, O_DEF, O_UNI, O_ALL, O_YES, O_NO,
    O_POSITIVE, O_NEGATIVE, O_POINT, O_NONE, O_EQUIDISTANT, O_DUPLICATE, O_COINCIDE, O_SLAVE, O_MIRROR,
    O_WEAK, O_ELEMGROUP, O_NODEPROP, O_ELEMPROP, O_LCS};

// Options that must be followed by one of some others (the messages are
// those of the surface line where they share it).
constexpr mgn_leading_keyword leading_options[] = {
    {O_BOUNDARY, {O_CURVE}, "Keyword CURVE missing (redundand keyword BOUNDARY)", "Keyword CURVE missing"},
    {O_FIXED, {O_VERTEX, O_CURVE}, "Keyword VERTEX or CURVE missing (redundand keyword FIXED)",
     "Keyword VERTEX or CURVE missing"},
    {O_COINCIDE, {O_SURFACE, O_PATCH, O_SHELL}, "Keyword SURFACE or PATCH or SHELL missing (redundant keyword COINCIDE)",
     "Keyword SURFACE or PATCH or SHELL missing"},
    {O_ATTRACT, {O_ALL, O_VERTEX, O_CURVE}, "Keyword ALL or VERTEX or CURVE missing (redundant keyword ATTRACT)",
     "Keyword ALL or VERTEX or CURVE missing"},
    {O_DIAGONAL, {O_NONE, O_POSITIVE, O_NEGATIVE, O_POINT},
     "Keyword NONE or POSITIVE or NEGATIVE or POINT missing (redundant keyword DIAGONAL)",
     "Diagonal specification missing"},
    {O_WEAK, {O_MIRROR}, "Keyword MIRROR missing (redundand keyword WEAK)", "Keyword MIRROR missing"}};

// What differs between the two kinds besides their records.
template <typename Entity>
struct kind_of;
template <>
struct kind_of<mgn_patch> {
  static constexpr int code = MGN_PATCH;
  static constexpr const char* word = "patch";
  static constexpr const char* words = "patches";
  static constexpr const char* Word = "Patch";
  static constexpr const char* child = "subpatch";
  static constexpr const char* Child = "Subpatch";
  static constexpr const char* const* keywords = patch_keywords;
  static constexpr const option* options = patch_options;
  static constexpr int count = kPatchKeywords;
  static constexpr const char* routine = "mgn_input_patch";
  static mgn_patch* find(long id) { return mgn_find_patch(id); }
  static mgn_patch* create(long id) { return mgn_create_patch(id); }
  static mgn_list& children(mgn_patch* p) { return p->subpatches; }
  static mgn_list& coinciding_own(mgn_patch* p) { return p->coinciding_patches; }
};
template <>
struct kind_of<mgn_shell> {
  static constexpr int code = MGN_SHELL;
  static constexpr const char* word = "shell";
  static constexpr const char* words = "shells";
  static constexpr const char* Word = "Shell";
  static constexpr const char* child = "subshell";
  static constexpr const char* Child = "Subshell";
  static constexpr const char* const* keywords = shell_keywords;
  static constexpr const option* options = shell_options;
  static constexpr int count = kShellKeywords;
  static constexpr const char* routine = "mgn_input_shell";
  static mgn_shell* find(long id) { return mgn_find_shell(id); }
  static mgn_shell* create(long id) { return mgn_create_shell(id); }
  static mgn_list& children(mgn_shell* s) { return s->subshells; }
  static mgn_list& coinciding_own(mgn_shell* s) { return s->coinciding_shells; }
};

// Everything a line gathers besides the record's own fields.
template <typename Entity>
struct face_line {
  using kind = kind_of<Entity>;
  Entity* entity = nullptr;
  int flags[kPatchKeywords] = {};  // duplicity flags by table index
  int previous = -1;               // the previous option
  int size_source = -1;            // O_DEF or O_UNI; -1 for a number (or none)
  double size = 0.0, size_multiplier = 1.0;
  double rate = 0.0, rate_multiplier = 1.0;
  bool given[O_OPTIONS] = {};      // options met on the line
  bool boundary_given = false;     // a BOUNDARY CURVE list was read
  float attraction = 0.0f;         // factor (+ 1) of the ATTRACT being read
  std::vector<mgn_vertex*> fixed_vertices;  // as written, for the check of repeats
  std::vector<mgn_surface*> coinciding_surfaces;
  std::vector<mgn_patch*> coinciding_patches;
  std::vector<mgn_shell*> coinciding_shells;
  Entity* mirror = nullptr;
  Entity* duplicate = nullptr;
  bool weak = false;
};

// The place of an input error: the parser of the kind.
template <typename Entity>
mgn_input_caller caller(long line) {
  return mgn_input_caller{kind_of<Entity>::routine, __FILE__, line};
}
#define FACE_CALLER caller<Entity>(__LINE__)
#define FACE_HERE MGN_INPUT_AT(kind_of<Entity>::routine)

// Index of an option in the kind's table (count when it has none).
template <typename Entity>
int table_index(option o) {
  using kind = kind_of<Entity>;
  for (int i = 0; i < kind::count; ++i)
    if (kind::options[i] == o) return i;
  return kind::count;
}

// ---------------------------------------------------------------------------
// Options
// ---------------------------------------------------------------------------

// A vector option: three components and, when asked, a unit length.
void read_vector(double out[3], const char* x_missing, const char* y_missing, const char* z_missing,
                 const char* invalid, const mgn_input_caller& at) {
  out[0] = mgn_get_next_fpn(x_missing);
  out[1] = mgn_get_next_fpn(y_missing);
  out[2] = mgn_get_next_fpn(z_missing);
  if (invalid == nullptr) return;
  const double length = std::sqrt(mgn_dot(out, out));
  if (!(length >= 0.00001)) mgn_input_error_at(invalid, at);
  for (int k = 0; k < 3; ++k) out[k] /= length;
}

// BOUNDARY CURVE: signed curves; a positive one takes the left side of the
// curve, a negative one its right side, each side once in the model.
template <typename Entity>
char* read_boundary(face_line<Entity>& line) {
  using kind = kind_of<Entity>;
  Entity* entity = line.entity;
  std::vector<std::pair<mgn_curve*, int>> listed;
  char* next = mgn_read_signed_id_list(listed, mgn_find_curve, kind::keywords, kind::count, "Missing boundary curve id",
                                       "Curve %ld does not exist", FACE_CALLER);
  for (auto [curve, side] : listed) {
    bool& used = side > 0 ? curve->left_used : curve->right_used;
    if (used)
      mgn_input_error(mgn_format("%s side of boundary curve %ld of %s %ld used more than once", side > 0 ? "Left" : "Right",
                                 mgn_lid(curve), kind::word, mgn_lid(entity)),
                      FACE_HERE);
    used = true;
    mgn_add_item_to_tail(side > 0 ? entity->left_curves : entity->right_curves, curve);
  }
  line.boundary_given = true;
  return next;
}

// FIXED CURVE: curves inside the entity; both their sides are taken.
template <typename Entity>
char* read_fixed_curves(face_line<Entity>& line) {
  using kind = kind_of<Entity>;
  Entity* entity = line.entity;
  std::vector<mgn_curve*> listed;
  char* next = mgn_read_id_list(listed, mgn_find_curve, kind::keywords, kind::count, "Missing fixed curve id",
                                "Curve %ld does not exist", FACE_CALLER);
  for (mgn_curve* curve : listed) {
    if (curve->is_virtual) continue;  // no mesh to respect
    const mgn_region* region = mgn_get_top_physical_curve(curve)->localized_region;
    if (region != nullptr)
      mgn_input_error(mgn_format("Curve %ld fixed to %s %ld already localized in region %ld", mgn_lid(curve), kind::word,
                                 mgn_lid(entity), static_cast<long>(region->id)),
                      FACE_HERE);
    for (int side : {1, -1})
      if (side > 0 ? curve->left_used : curve->right_used)
        mgn_input_error(mgn_format("%s side of curve %ld fixed to %s %ld already used as boundary curve",
                                   side > 0 ? "Left" : "Right", mgn_lid(curve), kind::word, mgn_lid(entity)),
                        FACE_HERE);
    curve->left_used = curve->right_used = true;
    if (mgn_find_item(entity->fixed_curves, curve) == nullptr) mgn_add_item_to_tail(entity->fixed_curves, curve);
  }
  return next;
}

// FIXED VERTEX: vertices inside the entity, as written (repeats are
// reported after the line).
template <typename Entity>
char* read_fixed_vertices(face_line<Entity>& line) {
  using kind = kind_of<Entity>;
  Entity* entity = line.entity;
  std::vector<mgn_vertex*> listed;
  char* next = mgn_read_id_list(listed, mgn_find_vertex, kind::keywords, kind::count, "Missing fixed vertex id",
                                "Vertex %ld does not exist", FACE_CALLER, false);
  for (mgn_vertex* vertex : listed) {
    if (vertex->is_virtual) continue;  // no mesh to respect
    const mgn_region* region = mgn_get_top_physical_vertex(vertex)->localized_region;
    if (region != nullptr)
      mgn_input_error(mgn_format("Vertex %ld fixed to %s %ld already localized in region %ld", mgn_lid(vertex), kind::word,
                                 mgn_lid(entity), static_cast<long>(region->id)),
                      FACE_HERE);
    line.fixed_vertices.push_back(vertex);
    if (mgn_find_item(entity->fixed_vertices, vertex) == nullptr) mgn_add_item_to_tail(entity->fixed_vertices, vertex);
  }
  return next;
}

// VERTEX or CURVE after ATTRACT: an attraction item.
template <typename Entity, typename T>
char* read_attraction_item(face_line<Entity>& line, T* (*find)(long), int item_kind, const char* missing,
                           const char* unknown) {
  using kind = kind_of<Entity>;
  std::vector<T*> listed;
  char* next = mgn_read_id_list(listed, find, kind::keywords, kind::count, missing, unknown, FACE_CALLER);
  mgn_attraction* item = mgn_create_attraction(line.attraction, item_kind);
  for (auto it = listed.rbegin(); it != listed.rend(); ++it) mgn_add_item_to_head(item->entities, *it);
  mgn_add_item_to_tail(line.entity->attractions, item);
  return next;
}

// The loops, the children, the entities inside, the attraction and the
// entities the entity coincides with or copies.  Returns a token read
// ahead (the next option) or null.
template <typename Entity>
char* read_relation(face_line<Entity>& line, int key) {
  using kind = kind_of<Entity>;
  Entity* entity = line.entity;
  switch (key) {
    case O_CURVE:
      if (line.previous == O_BOUNDARY) return read_boundary(line);
      if (line.previous == O_ATTRACT)
        return read_attraction_item(line, mgn_find_curve, 1, "Missing attracted curve id", "Curve %ld does not exist");
      if (line.previous == O_FIXED) return read_fixed_curves(line);
      mgn_input_error("Keyword CURVE not expected (keyword BOUNDARY or ATTRACT or FIXED missing)", FACE_HERE);
    case O_VERTEX:
      if (line.previous == O_ATTRACT)
        return read_attraction_item(line, mgn_find_vertex, 0, "Missing attracted vertex id", "Vertex %ld does not exist");
      if (line.previous == O_FIXED) return read_fixed_vertices(line);
      mgn_input_error("Keyword VERTEX not expected (keyword ATTRACT or FIXED missing)", FACE_HERE);
    case O_CHILD: {
      std::vector<Entity*> listed;
      const std::string missing = mgn_format("Missing %s id", kind::child);
      const std::string unknown = std::string(kind::Child) + " %ld does not exist";
      char* next = mgn_read_id_list(listed, kind::find, kind::keywords, kind::count, missing.c_str(), unknown.c_str(),
                                    FACE_CALLER);
      for (Entity* child : listed)
        if (mgn_find_item(kind::children(entity), child) == nullptr) mgn_add_item_to_tail(kind::children(entity), child);
      return next;
    }
    case O_SURFACE:
    case O_PATCH:
    case O_SHELL: {
      if (line.previous != O_COINCIDE)
        mgn_input_error(mgn_format("Keyword %s not expected (keyword COINCIDE missing)",
                                   key == O_SURFACE ? "SURFACE" : key == O_PATCH ? "PATCH" : "SHELL"),
                        FACE_HERE);
      if (key == O_SURFACE)
        return mgn_read_id_list(line.coinciding_surfaces, mgn_find_surface, kind::keywords, kind::count,
                                "Missing coinciding surface id", "Surface %ld does not exist", FACE_CALLER);
      if (key == O_PATCH)
        return mgn_read_id_list(line.coinciding_patches, mgn_find_patch, kind::keywords, kind::count,
                                "Missing coinciding patch id", "Patch %ld does not exist", FACE_CALLER);
      return mgn_read_id_list(line.coinciding_shells, mgn_find_shell, kind::keywords, kind::count,
                              "Missing coinciding shell id", "Shell %ld does not exist", FACE_CALLER);
    }
    case O_ALL:
      if (line.previous != O_ATTRACT) mgn_input_error("Keyword ALL not expected (keyword ATTRACT missing)", FACE_HERE);
      entity->global_attraction = line.attraction;
      return nullptr;
    case O_ATTRACT: {
      const double a = mgn_get_next_fpn("Missing attraction factor");
      if (!(a > -1.0 && a <= 10.0)) mgn_input_error("Attraction factor out of range", FACE_HERE);
      line.attraction = static_cast<float>(a + 1.0);
      return nullptr;
    }
    case O_LCS: {
      const char* missing[2] = {"Missing first lcs curve id", "Missing second lcs curve id"};
      for (int i = 0; i < 2; ++i) {
        const long id = mgn_get_next_int(missing[i]);
        entity->lcs[i] = mgn_find_curve(id);
        if (entity->lcs[i] == nullptr) mgn_input_error(mgn_format("Curve %ld does not exist", id), FACE_HERE);
      }
      if (entity->lcs[0] == entity->lcs[1]) mgn_input_error("LCS curves must be different", FACE_HERE);
      return nullptr;
    }
    case O_MIRROR:
    case O_DUPLICATE: {
      const bool mirror = key == O_MIRROR;
      const long id = mgn_get_next_int(
          mgn_format(mirror ? "Missing mirror %s id" : "Missing duplicated %s id", kind::word).c_str());
      Entity* other = kind::find(id);
      if (other == nullptr) mgn_input_error(mgn_format("%s %ld does not exist", kind::Word, id), FACE_HERE);
      (mirror ? line.mirror : line.duplicate) = other;
      return nullptr;
    }
    default:
      return nullptr;
  }
}

// NORMAL, ORIGIN, ISO, DIR and EPSILON of a patch; BGSURFACE of a shell.
template <typename Entity>
void read_geometry(face_line<Entity>& line, int key) {
  Entity* entity = line.entity;
  if constexpr (std::is_same_v<Entity, mgn_patch>) {
    switch (key) {
      case O_NORMAL:
        read_vector(entity->normal, "Normal x component missing", "Normal y component missing",
                    "Normal z component missing", "Invalid normal vector detected", FACE_CALLER);
        return;
      case O_ORIGIN:
        read_vector(entity->origin, "Origin x component missing", "Origin y component missing",
                    "Origin z component missing", nullptr, FACE_CALLER);
        entity->origin_given = true;
        return;
      case O_ISO:
        entity->iso = mgn_read_yes_no("Iso specification missing", FACE_CALLER);
        return;
      case O_DIR:
        if (line.previous != O_ISO) mgn_input_error("Keyword DIR not expected (keyword ISO missing)", FACE_HERE);
        read_vector(entity->iso_direction, "Iso direction x component missing", "Iso direction y component missing",
                    "Iso direction z component missing", "Invalid iso direction vector detected", FACE_CALLER);
        entity->iso_direction_given = true;
        return;
      case O_EPSILON: {
        const double e = mgn_get_next_fpn("Missing patch user epsilon");
        if (!(e >= 0.0)) mgn_input_error("Positive or zero epsilon required", FACE_HERE);
        entity->epsilon = e;
        entity->epsilon_given = true;
        return;
      }
      default:
        return;
    }
  } else {
    if (key != O_BGSURFACE) return;
    const long id = mgn_get_next_int("Missing background surface id");
    if (id < 1) mgn_input_error("Positive background surface id required", FACE_HERE);
    entity->bg_surface = mgn_find_surface(id);
    if (entity->bg_surface == nullptr)
      mgn_input_error(mgn_format("Background surface %ld does not exist", id), FACE_HERE);
  }
}

// SIZE, RATE, FACTOR: the sizing.  Returns a token read ahead or null.
template <typename Entity>
char* read_sizing(face_line<Entity>& line, int key) {
  using kind = kind_of<Entity>;
  char* next = nullptr;
  double number = 0.0;
  switch (key) {
    case O_SIZE: {
      const int word = mgn_read_value_option(mgn_size_option, kind::keywords, kind::count,
                                             {table_index<Entity>(O_DEF), table_index<Entity>(O_UNI)}, &number,
                                             &line.size_multiplier, &next, FACE_CALLER);
      line.size_source = word != kind::count ? kind::options[word] : -1;
      if (word == kind::count) line.size = number * mgn_set.size_factor;
      return next;
    }
    case O_RATE: {
      const int word = mgn_read_value_option(mgn_rate_option, kind::keywords, kind::count, {table_index<Entity>(O_DEF)},
                                             &number, &line.rate_multiplier, &next, FACE_CALLER);
      line.rate = word != kind::count ? mgn_set.curvature_rate : number * mgn_set.curvature_factor;
      return next;
    }
    case O_FACTOR:
      line.entity->factor = mgn_read_factor(FACE_CALLER);
      return nullptr;
    default:
      return nullptr;
  }
}

// The quad meshing requests, the output and the flags of the entity.
template <typename Entity>
void read_request(face_line<Entity>& line, int key, char* token) {
  Entity* entity = line.entity;
  switch (key) {
    case O_VIRTUAL: entity->is_virtual = true; return;
    case O_PROPERTY: entity->property = mgn_read_property(FACE_CALLER); return;
    case O_HIDDEN:
      // Hiding moves nodes by smoothing: without it the request is void.
      if (mgn_set.nodal_smoothing) entity->hidden = true;
      return;
    case O_HOLE: entity->hole = true; return;
    case O_OUTPUT:
      entity->output = entity->output_requested = mgn_read_yes_no("Output specification missing", FACE_CALLER);
      return;
    case O_BASSOC:
      entity->bassoc = mgn_read_yes_no("Specification of output of boundary association missing", FACE_CALLER);
      return;
    case O_SLAVE: entity->slave = true; return;
    case O_WEAK: line.weak = true; return;
    case O_QUAD: entity->quad = mgn_set.quad_hexa_support; return;
    case O_MAP: entity->map = mgn_read_yes_no("Mapping specification missing", FACE_CALLER) && mgn_set.quad_hexa_support;
      return;
    case O_EQUIDISTANT: entity->equidistant = mgn_set.quad_hexa_support; return;
    case O_DIAGONAL: return;
    case O_NONE:
    case O_POSITIVE:
    case O_NEGATIVE:
      if (line.previous != O_DIAGONAL) mgn_unexpected_keyword(token, FACE_CALLER);
      entity->diagonal = static_cast<int16_t>(key == O_NONE ? 0 : key == O_POSITIVE ? 1 : -1);
      return;
    case O_POINT:
      if (line.previous != O_DIAGONAL) mgn_unexpected_keyword(token, FACE_CALLER);
      entity->diagonal = 2;
      read_vector(entity->diagonal_point, "Coordinate x missing", "Coordinate y missing", "Coordinate z missing",
                  nullptr, FACE_CALLER);
      return;
    case O_ELEMGROUP:
      mgn_get_next_int("Missing triangle elem group id");
      mgn_get_next_int("Missing quad elem group id");
      mgn_input.properties_seen = true;
      return;
    case O_NODEPROP: mgn_read_property_string("Node property string missing"); return;
    case O_ELEMPROP: mgn_read_property_string("Elem property string missing"); return;
    default:
      // DEF, UNI, YES and NO are values, not options.
      mgn_unexpected_keyword(token, FACE_CALLER);
  }
}

// The options of the line, up to its end.
template <typename Entity>
void read_options(face_line<Entity>& line) {
  using kind = kind_of<Entity>;
  char* token = mgn_get_next_token(nullptr);
  while (token != nullptr) {
    const int index = mgn_get_keyword_index(token, kind::keywords, kind::count);
    if (index == kind::count) mgn_unexpected_keyword(token, FACE_CALLER);
    const int key = kind::options[index];
    // The words that follow a leading option serve it; BOUNDARY, FIXED and
    // COINCIDE may come again, each with the word that follows it.
    const bool governed = key == O_BOUNDARY || key == O_FIXED || key == O_COINCIDE || key == O_CURVE ||
                          key == O_VERTEX || key == O_SURFACE || key == O_PATCH || key == O_SHELL || key == O_ALL;
    if (!governed) mgn_check_keyword_duplicity(index, line.flags, token);
    mgn_check_leading_keyword(leading_options, line.previous, key, FACE_CALLER);
    line.given[key] = true;
    char* next = nullptr;
    switch (key) {
      case O_CURVE: case O_VERTEX: case O_CHILD: case O_SURFACE: case O_PATCH: case O_SHELL: case O_ALL:
      case O_ATTRACT: case O_LCS: case O_MIRROR: case O_DUPLICATE:
        next = read_relation(line, key);
        break;
      case O_BOUNDARY: case O_FIXED: case O_COINCIDE:
        break;
      case O_NORMAL: case O_ORIGIN: case O_ISO: case O_DIR: case O_EPSILON: case O_BGSURFACE:
        read_geometry(line, key);
        break;
      case O_SIZE: case O_RATE: case O_FACTOR:
        next = read_sizing(line, key);
        break;
      default:
        read_request(line, key, token);
    }
    line.previous = key;
    token = next != nullptr ? next : mgn_get_next_token(nullptr);
  }
  mgn_check_leading_keyword(leading_options, line.previous, -1, FACE_CALLER);
  if constexpr (std::is_same_v<Entity, mgn_patch>) {
    if (!line.given[O_NORMAL]) mgn_input_error("Keyword NORMAL missing", FACE_HERE);
  } else {
    if (!line.given[O_BGSURFACE]) mgn_input_error("Keyword BGSURFACE missing", FACE_HERE);
  }
  if (!line.boundary_given) mgn_input_error("Keyword BOUNDARY missing", FACE_HERE);
}

// ---------------------------------------------------------------------------
// Checks after the line
// ---------------------------------------------------------------------------

// A virtual entity produces no mesh of its own; a hole one drops what only
// a mesh would carry; a hidden one its property.
template <typename Entity>
void check_flags(face_line<Entity>& line) {
  using kind = kind_of<Entity>;
  Entity* entity = line.entity;
  const long id = mgn_lid(entity);
  if (entity->is_virtual) {
    entity->hidden = false;
    entity->property = 0;
    entity->output = entity->output_requested = false;
    entity->slave = false;
  }
  if (entity->hole) {
    if (entity->hidden) {
      mgn_warning_text(mgn_format("Keyword HIDDEN ignored for hole %s (%ld)", kind::word, id));
      entity->hidden = false;
    }
    if (entity->property != 0) {
      mgn_warning_text(mgn_format("Keyword PROPERTY ignored for hole %s (%ld)", kind::word, id));
      entity->property = 0;
    }
    if (line.given[O_OUTPUT]) {
      mgn_warning_text(mgn_format("Keyword OUTPUT ignored for hole %s (%ld)", kind::word, id));
      entity->output = true;
      entity->output_requested = false;
    }
    if (line.duplicate != nullptr) {
      mgn_warning_text(mgn_format("Keyword DUPLICATE ignored for hole %s (%ld)", kind::word, id));
      line.duplicate = nullptr;
    }
    if (line.mirror != nullptr) {
      mgn_warning_text(mgn_format("Keyword MIRROR ignored for hole %s (%ld)", kind::word, id));
      line.mirror = nullptr;
    }
  }
  if (entity->hidden && entity->property != 0) {
    mgn_warning_text(mgn_format("Keyword PROPERTY ignored for hidden %s (%ld)", kind::word, id));
    entity->property = 0;
  }
  if (entity->hidden && entity->output_requested) {
    mgn_warning_text(mgn_format("Keyword HIDDEN ignored for output %s (%ld)", kind::word, id));
    entity->hidden = false;
  }
}

// The quad meshing requests of a patch: ISO and MAP, DIAGONAL.
void check_patch_quad_requests(face_line<mgn_patch>& line) {
  mgn_patch* patch = line.entity;
  const long id = mgn_lid(patch);
  if (line.given[O_MAP] && !patch->quad) {
    mgn_warning_text(mgn_format("Keyword MAP ignored for patch (%ld) not subjected to quad meshing", id));
    patch->map = false;
  }
  if (line.given[O_DIAGONAL]) {
    if (!((patch->quad && patch->map) || patch->iso)) {
      mgn_warning_text(mgn_format("Keyword DIAGONAL ignored for patch (%ld) not subjected to quad mapping or iso quad meshing", id));
      patch->diagonal = 0;
    } else if (patch->diagonal == 1 || patch->diagonal == -1) {
      if (patch->map && !line.given[O_LCS])
        mgn_warning_text(mgn_format("DIAGONAL request may be ambiguous for patch (%ld) without LCS specification", id));
      if (patch->iso && !patch->iso_direction_given)
        mgn_warning_text(mgn_format("DIAGONAL request may be ambiguous for patch (%ld) without DIR specification", id));
    }
  }
}

void check_shell_quad_requests(face_line<mgn_shell>& line) {
  mgn_shell* shell = line.entity;
  const long id = mgn_lid(shell);
  if (line.given[O_MAP] && !shell->quad) {
    mgn_warning_text(mgn_format("Keyword MAP ignored for shell (%ld) not subjected to quad meshing", id));
    shell->map = false;
  }
  if (line.given[O_DIAGONAL]) {
    if (!(shell->quad && shell->map)) {
      mgn_warning_text(mgn_format("Keyword DIAGONAL ignored for shell %ld not subjected to quad mapping", id));
      shell->diagonal = 0;
    } else if ((shell->diagonal == 1 || shell->diagonal == -1) && !line.given[O_LCS]) {
      mgn_warning_text(mgn_format("DIAGONAL request may be ambiguous for shell (%ld) without LCS specification", id));
    }
  }
}

// Copies of virtual or hole entities are not made; copies of the others
// neither (no mirrored or duplicated meshes of patches and shells).
template <typename Entity>
void check_copies(face_line<Entity>& line) {
  using kind = kind_of<Entity>;
  const long id = mgn_lid(line.entity);
  if (line.duplicate != nullptr && (line.duplicate->is_virtual || line.duplicate->hole)) {
    mgn_warning_text(mgn_format("Keyword DUPLICATE ignored for %s %ld duplicating %s %s (%ld)", kind::word, id,
                    line.duplicate->is_virtual ? "virtual" : "hole", kind::word, mgn_lid(line.duplicate)));
    line.duplicate = nullptr;
  }
  if (line.mirror != nullptr && (line.mirror->is_virtual || line.mirror->hole)) {
    mgn_warning_text(mgn_format("Keyword MIRROR ignored for %s %ld mirroring %s %s (%ld)", kind::word, id,
                    line.mirror->is_virtual ? "virtual" : "hole", kind::word, mgn_lid(line.mirror)));
    line.mirror = nullptr;
  }
  if (line.mirror != nullptr) {
    mgn_warning_text(mgn_format("Keyword MIRROR ignored for %s (%ld): mirrored meshes of %s are not supported", kind::word, id,
                    kind::words));
    line.mirror = nullptr;
  }
  if (line.duplicate != nullptr) {
    mgn_warning_text(mgn_format("Keyword DUPLICATE ignored for %s (%ld): duplicated meshes of %s are not supported", kind::word,
                    id, kind::words));
    line.duplicate = nullptr;
  }
  line.entity->mirrored = nullptr;
  line.entity->duplicated = nullptr;
  line.entity->weak_mirror = false;
}

// The size (and rate) of the entity.
template <typename Entity>
void settle_sizes(face_line<Entity>& line) {
  using kind = kind_of<Entity>;
  Entity* entity = line.entity;
  const long id = mgn_lid(entity);
  double size = line.size;
  if (mgn_set.size_factor == 0.0) {
    size = 0.0;
    entity->factor = 0.0f;
  } else {
    if (line.size_source == O_DEF) size = mgn_set.default_size;
    if (line.size_source == O_UNI) size = mgn_set.uniform_size;
    size *= line.size_multiplier;
    if (line.size_source >= 0 && size == 0.0 && entity->factor != 0.0f)
      mgn_warning_text(mgn_format("Default zero mesh size specification detected at %s %ld", kind::word, id));
    if (line.given[O_FACTOR] && size == 0.0) {
      mgn_warning_text(mgn_format("Factor specification ignored at %s %ld", kind::word, id));
      entity->factor = 1.0f;
    }
  }
  entity->size = static_cast<float>(size);
  if constexpr (std::is_same_v<Entity, mgn_shell>) {
    if (line.given[O_RATE]) entity->rate = static_cast<float>(line.rate * line.rate_multiplier);
  }
}

// The iso meshing of a patch: not on a mapped patch, not without a size,
// and its direction in the plane.
void check_patch_iso(face_line<mgn_patch>& line) {
  mgn_patch* patch = line.entity;
  const long id = mgn_lid(patch);
  if (patch->iso && patch->map) {
    mgn_warning_text(mgn_format("Keyword ISO ignored for map-quad patch (%ld)", id));
    patch->iso = false;
  }
}

void check_patch_iso_size(face_line<mgn_patch>& line) {
  mgn_patch* patch = line.entity;
  const long id = mgn_lid(patch);
  if (patch->iso && patch->size == 0.0f) {
    mgn_warning_text(mgn_format("Keyword ISO ignored for patch (%ld) with no mesh size specification", id));
    patch->iso = false;
  }
  if (patch->iso_direction_given && std::fabs(mgn_dot(patch->iso_direction, patch->normal)) > 1e-5)
    mgn_input_error(mgn_format("Iso direction of patch %ld out of its plane", id), MGN_INPUT_AT("mgn_input_patch"));
}

// Children: of the same plane or background surface, physical under a
// physical parent.
template <typename Entity>
void check_children(face_line<Entity>& line) {
  using kind = kind_of<Entity>;
  Entity* entity = line.entity;
  for (Entity* child : mgn_list_range<Entity>(kind::children(entity))) {
    if constexpr (std::is_same_v<Entity, mgn_patch>) {
      const double c = std::clamp(mgn_dot(entity->normal, child->normal), -1.0, 1.0);
      if (std::acos(c) > MGN_SUBPATCH_NORMAL_ANGLE)
        mgn_input_error(mgn_format("Normals of patch %ld and subpatch %ld differ too much", mgn_lid(entity), mgn_lid(child)),
                        FACE_HERE);
    } else {
      if (child->bg_surface != entity->bg_surface)
        mgn_input_error(
            mgn_format("Shell %ld and subshell %ld have no common background surface", mgn_lid(entity), mgn_lid(child)),
            FACE_HERE);
    }
    if (child->is_virtual && !entity->is_virtual)
      mgn_input_error(mgn_format("Virtual %s (%ld) cannot be %s of physical %s (%ld)", kind::word, mgn_lid(child),
                                 kind::child, kind::word, mgn_lid(entity)),
                      FACE_HERE);
  }
}

// The loops of a physical entity are of physical curves; a vertex is fixed
// once.
template <typename Entity>
void check_loops(face_line<Entity>& line) {
  using kind = kind_of<Entity>;
  Entity* entity = line.entity;
  if (!entity->is_virtual)
    for (mgn_list list : {entity->left_curves, entity->right_curves})
      for (mgn_curve* curve : mgn_list_range<mgn_curve>(list))
        if (curve->is_virtual)
          mgn_input_error(mgn_format("Virtual curve (%ld) cannot form boundary of physical %s (%ld)", mgn_lid(curve),
                                     kind::word, mgn_lid(entity)),
                          FACE_HERE);
  for (std::size_t i = 0; i < line.fixed_vertices.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (line.fixed_vertices[i] == line.fixed_vertices[j])
        mgn_input_error(mgn_format("Fixed vertex %ld specified more than once", mgn_lid(line.fixed_vertices[i])),
                        FACE_HERE);
}

// An entity whose loops hold no curve that is not collapsed and that has no
// fixed vertex is dropped: its identifier becomes 0.
template <typename Entity>
bool drop_if_empty(face_line<Entity>& line) {
  using kind = kind_of<Entity>;
  Entity* entity = line.entity;
  bool empty = entity->fixed_vertices == nullptr;
  for (mgn_list list : {entity->left_curves, entity->right_curves})
    for (mgn_curve* curve : mgn_list_range<mgn_curve>(list))
      if (!curve->collapsed) empty = false;
  if (!empty) return false;
  mgn_warning("Warning: Empty %s %ld ignored\n", kind::word, mgn_lid(entity));
  entity->id = 0;
  return true;
}

// Vertices and curves fixed to a shell lie on its background surface and
// inside it.
void check_shell_inner_entities(face_line<mgn_shell>& line) {
  mgn_shell* shell = line.entity;
  const long sid = mgn_lid(shell);
  const mgn_surface* surface = shell->bg_surface;
  for (mgn_vertex* v : mgn_list_range<mgn_vertex>(shell->fixed_vertices))
    if (!mgn_check_vertex_on_surface(surface, v))
      mgn_input_error(mgn_format("Vertex %ld of shell %ld is not close enough to surface %ld", mgn_lid(v), sid, mgn_lid(surface)),
                      MGN_INPUT_AT("mgn_input_shell"));
  for (mgn_curve* c : mgn_list_range<mgn_curve>(shell->fixed_curves))
    if (!mgn_check_curve_on_surface(surface, c))
      mgn_input_error(mgn_format("Curve %ld of shell %ld is not close enough to surface %ld", mgn_lid(c), sid, mgn_lid(surface)),
                      MGN_INPUT_AT("mgn_input_shell"));
  if (shell->fixed_vertices == nullptr && shell->fixed_curves == nullptr) return;
  const mgn_loop_set loops = mgn_build_loop_set(MGN_SHELL, shell, true);
  constexpr double kOnLoops = 1e-9;
  auto locate = [&](const double* p, double uv[2]) { mgn_locate_surface_point(surface, p, nullptr, uv); };
  for (mgn_vertex* v : mgn_list_range<mgn_vertex>(shell->fixed_vertices)) {
    double uv[2] = {0.0, 0.0};
    locate(v->xyz, uv);
    if (!mgn_check_point_inside_loops(loops, uv[0], uv[1], kOnLoops))
      mgn_input_error(mgn_format("Vertex %ld is not inside shell %ld", mgn_lid(v), sid), MGN_INPUT_AT("mgn_input_shell"));
  }
  for (mgn_curve* c : mgn_list_range<mgn_curve>(shell->fixed_curves)) {
    bool inside = true;
    for (int k = 1; k < 8 && inside; ++k) {
      double p[3], uv[2] = {0.0, 0.0};
      mgn_get_curve_point(c, k / 8.0, p);
      locate(p, uv);
      inside = mgn_check_point_inside_loops(loops, uv[0], uv[1], kOnLoops);
    }
    if (!inside)
      mgn_input_error(mgn_format("Curve %ld is not inside shell %ld", mgn_lid(c), sid), MGN_INPUT_AT("mgn_input_shell"));
  }
}

// Coinciding entities: physical ones only, linked both ways.
template <typename Entity>
void link_coinciding(face_line<Entity>& line) {
  using kind = kind_of<Entity>;
  Entity* entity = line.entity;
  auto physical = [&](bool other_virtual, const std::string& message) {
    if (entity->is_virtual || other_virtual) mgn_input_error(message, FACE_HERE);
  };
  for (mgn_surface* other : line.coinciding_surfaces) {
    physical(other->is_virtual, mgn_format("Only physical %s and surfaces can be coinciding", kind::words));
    if constexpr (std::is_same_v<Entity, mgn_patch>)
      mgn_add_item_once(other->coinciding_patches, entity);
    else
      mgn_add_item_once(other->coinciding_shells, entity);
    mgn_add_item_once(entity->coinciding_surfaces, other);
  }
  if constexpr (std::is_same_v<Entity, mgn_patch>) {
    for (mgn_patch* other : line.coinciding_patches) {
      physical(other->is_virtual, "Only physical patches can be coinciding");
      mgn_link_coinciding(entity, other, &mgn_patch::coinciding_patches);
    }
    for (mgn_shell* other : line.coinciding_shells) {
      physical(other->is_virtual, "Only physical patches and shells can be coinciding");
      mgn_add_item_once(other->coinciding_patches, entity);
      mgn_add_item_once(entity->coinciding_shells, other);
    }
  } else {
    for (mgn_patch* other : line.coinciding_patches) {
      physical(other->is_virtual, "Only physical shells and patches can be coinciding");
      mgn_add_item_once(other->coinciding_shells, entity);
      mgn_add_item_once(entity->coinciding_patches, other);
    }
    for (mgn_shell* other : line.coinciding_shells) {
      physical(other->is_virtual, "Only physical shells can be coinciding");
      mgn_link_coinciding(entity, other, &mgn_shell::coinciding_shells);
    }
  }
}

// The boundary curves learn that they bound the entity.
template <typename Entity>
void register_on_curves(Entity* entity) {
  for (mgn_list list : {entity->left_curves, entity->right_curves})
    for (mgn_curve* curve : mgn_list_range<mgn_curve>(list)) {
      if constexpr (std::is_same_v<Entity, mgn_patch>)
        mgn_add_item_once(curve->patches, entity);
      else
        mgn_add_item_once(curve->shells, entity);
    }
}

template <typename Entity>
Entity* read_definition() {
  using kind = kind_of<Entity>;
  const int32_t id = mgn_get_next_int(mgn_format("Missing %s id", kind::word).c_str());
  if (id < 1) mgn_input_error(mgn_format("Positive %s id required", kind::word), FACE_HERE);
  if (kind::find(id) != nullptr)
    mgn_input_error(mgn_format("Multiple instance of %s %ld detected", kind::word, static_cast<long>(id)), FACE_HERE);
  face_line<Entity> line;
  line.entity = kind::create(id);
  mgn_input.building = line.entity;
  mgn_input.building_kind = kind::code;
  read_options(line);

  Entity* entity = line.entity;
  if constexpr (std::is_same_v<Entity, mgn_patch>) {
    check_flags(line);
    check_patch_iso(line);
    check_copies(line);
    settle_sizes(line);
    check_patch_iso_size(line);
    check_patch_quad_requests(line);
    check_children(line);
    check_loops(line);
    if (!drop_if_empty(line)) {
      mgn_check_patch_topology(entity);
      link_coinciding(line);
      register_on_curves(entity);
    }
  } else {
    check_flags(line);
    check_shell_quad_requests(line);
    check_copies(line);
    settle_sizes(line);
    check_children(line);
    check_loops(line);
    if (!drop_if_empty(line)) {
      mgn_check_shell_topology(entity);
      mgn_check_shell_geometry(entity);
      if (!entity->is_virtual) check_shell_inner_entities(line);
      link_coinciding(line);
      register_on_curves(entity);
    }
  }
  return entity;
}

}  // namespace

mgn_patch* mgn_input_patch() { return read_definition<mgn_patch>(); }

mgn_shell* mgn_input_shell() { return read_definition<mgn_shell>(); }

#undef FACE_CALLER
#undef FACE_HERE
