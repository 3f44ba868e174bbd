// Region records, the region store and the REGION line parser.
//
// A region uses each of its boundary surfaces, patches and shells from one
// side: the side a surface's, patch's or shell's inner_region (positive
// identifier) or outer_region (negative) names.  An entity fixed inside a
// region names it as its localized_region; for vertices and curves that is
// the top physical parent, which carries the mesh.  A surface fixed to a
// boundary surface (a face of its own, meshed in the hole it leaves in its
// parent) bounds the region from the same side, and one fixed to a surface
// fixed inside the region lies inside it too: both are added to the
// region's lists.  Subpatches and subshells likewise.
#include "region.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "curve.h"
#include "geom.h"
#include "input.h"
#include "input1.h"
#include "list.h"
#include "message.h"
#include "patch.h"
#include "shell.h"
#include "surface.h"
#include "vec3.h"
#include "vertex.h"

namespace {

// Appends once, keeping the order of first appearance (the shared
// mgn_add_item_once puts new items first).
void add_once(mgn_list& list, void* object) {
  if (mgn_find_item(list, object) == nullptr) mgn_add_item_to_tail(list, object);
}

// Option keywords of a region definition, in table order.
enum region_keyword : int {
  K_VIRTUAL, K_BOUNDARY, K_SUBREGION, K_FIXED, K_VERTEX, K_CURVE, K_SURFACE, K_PATCH, K_SHELL, K_SIZE,
  K_FACTOR, K_PROPERTY, K_EXTRUDE, K_WEAK, K_HOLE, K_OUTPUT, K_HEXA, K_MAP, K_ISO, K_DIR1, K_DIR2,
  K_DEF, K_UNI, K_YES, K_NO, K_EQUIDISTANT, K_ELEMGROUP, K_NODEPROP, K_ELEMPROP, K_LCS, K_KEYWORDS
};
const char* const keywords[K_KEYWORDS] = {
    "VIRTUAL", "BOUNDARY", "SUBREGION", "FIXED", "VERTEX",   "CURVE", "SURFACE",     "PATCH",
    "SHELL",   "SIZE",     "FACTOR",    "PROPERTY", "EXTRUDE", "WEAK", "HOLE",       "OUTPUT",
    "HEXA",    "MAP",      "ISO",       "DIR1",  "DIR2",     "DEF",   "UNI",         "YES",
    "NO",      "EQUIDISTANT", "ELEMGROUP", "NODEPROP", "ELEMPROP", "LCS"};

// Keywords that must be followed by one of some others.
constexpr mgn_leading_keyword leading_keywords[] = {
    {K_BOUNDARY, {K_SURFACE, K_PATCH, K_SHELL},
     "Keyword SURFACE or PATCH or SHELL missing (redundand keyword BOUNDARY)",
     "Keyword SURFACE or PATCH or SHELL missing"},
    {K_FIXED, {K_VERTEX, K_CURVE, K_SURFACE, K_PATCH, K_SHELL},
     "Keyword VERTEX or CURVE or SURFACE or PATCH or SHELL missing (redundand keyword FIXED)",
     "Keyword VERTEX or CURVE or SURFACE or PATCH or SHELL missing"},
    {K_WEAK, {K_EXTRUDE}, "Keyword EXTRUDE missing (redundand keyword WEAK)", "Keyword EXTRUDE missing"}};

// The words of one kind of face in the messages of the parser, and the
// lists and side marks of that kind.
struct face_kind {
  int kind;
  const char* word;     // "surface"
  const char* Word;     // "Surface"
  const char* keyword;  // "SURFACE"
  mgn_list mgn_region::*inner;
  mgn_list mgn_region::*outer;
  mgn_list mgn_region::*fixed;
};
constexpr face_kind surface_kind{MGN_SURFACE, "surface", "Surface", "SURFACE", &mgn_region::inner_surfaces,
                                 &mgn_region::outer_surfaces, &mgn_region::fixed_surfaces};
constexpr face_kind patch_kind{MGN_PATCH, "patch", "Patch", "PATCH", &mgn_region::inner_patches,
                               &mgn_region::outer_patches, &mgn_region::fixed_patches};
constexpr face_kind shell_kind{MGN_SHELL, "shell", "Shell", "SHELL", &mgn_region::inner_shells,
                               &mgn_region::outer_shells, &mgn_region::fixed_shells};

// Everything a REGION line gathers besides the record's own fields.
struct region_line {
  mgn_region* region = nullptr;
  int flags[K_KEYWORDS] = {};
  int previous = -1;
  int size_source = -1;  // K_DEF or K_UNI; -1 for a number (or none)
  double size = 0.0, size_multiplier = 1.0;
  bool dir_given[2] = {false, false};
  // Fixed vertices and curves as written (the records keep their top
  // physical parents), for the check of repeats.
  std::vector<mgn_vertex*> fixed_vertices;
  std::vector<mgn_curve*> fixed_curves;
};

// ---------------------------------------------------------------------------
// Options
// ---------------------------------------------------------------------------

// Side marks of surfaces, patches and shells.
template <typename Entity>
mgn_region*& side_region(Entity* entity, int side) {
  return side > 0 ? entity->inner_region : entity->outer_region;
}

// BOUNDARY SURFACE, PATCH or SHELL: the signed identifiers, each side once
// per region.
template <typename Entity>
char* read_boundary(region_line& line, Entity* (*find)(long), const face_kind& kind) {
  mgn_region* region = line.region;
  std::vector<std::pair<Entity*, int>> listed;
  const std::string missing = mgn_format("Missing boundary %s id", kind.word);
  const std::string unknown = std::string(kind.Word) + " %ld does not exist";
  char* next = mgn_read_signed_id_list(listed, find, keywords, K_KEYWORDS, missing.c_str(), unknown.c_str(),
                                       MGN_INPUT_CALLER);
  for (auto [entity, side] : listed) {
    mgn_list& list = region->*(side > 0 ? kind.inner : kind.outer);
    if (mgn_find_item(list, entity) != nullptr)
      mgn_input_error(mgn_format("%s side of boundary %s %ld of region %ld used more than once",
                                 side > 0 ? "Inner" : "Outer", kind.word, mgn_lid(entity), mgn_lid(region)),
                      MGN_INPUT_HERE);
    mgn_add_item_to_tail(list, entity);
  }
  return next;
}

// FIXED SURFACE, PATCH or SHELL: the entities to localize in the region.
template <typename Entity>
char* read_fixed_faces(region_line& line, Entity* (*find)(long), const face_kind& kind) {
  mgn_region* region = line.region;
  std::vector<Entity*> listed;
  const std::string missing = mgn_format("Missing fixed %s id", kind.word);
  const std::string unknown = std::string(kind.Word) + " %ld does not exist";
  char* next = mgn_read_id_list(listed, find, keywords, K_KEYWORDS, missing.c_str(), unknown.c_str(), MGN_INPUT_CALLER);
  for (Entity* entity : listed) {
    if (entity->is_virtual) continue;  // no mesh to respect
    if (entity->localized_region != nullptr)
      mgn_input_error(mgn_format("%s %ld fixed to region %ld already localized in region %ld", kind.Word, mgn_lid(entity),
                                 mgn_lid(region), mgn_lid(entity->localized_region)),
                      MGN_INPUT_HERE);
    for (int side : {1, -1}) {
      const bool used = side_region(entity, side) != nullptr ||
                        mgn_find_item(region->*(side > 0 ? kind.inner : kind.outer), entity) != nullptr;
      if (used)
        mgn_input_error(mgn_format("%s side of %s %ld fixed to region %ld already used as boundary %s",
                                   side > 0 ? "Inner" : "Outer", kind.word, mgn_lid(entity), mgn_lid(region), kind.word),
                        MGN_INPUT_HERE);
    }
    add_once(region->*kind.fixed, entity);
  }
  return next;
}

// FIXED VERTEX or CURVE: their top physical parents, which carry the mesh,
// are to be localized; the entities as written are kept for the check of
// repeats.
template <typename Entity>
char* read_fixed_pieces(region_line& line, Entity* (*find)(long), Entity* (*top_of)(Entity*),
                        mgn_list mgn_region::*fixed, std::vector<Entity*>& written, const char* word,
                        const char* Word) {
  mgn_region* region = line.region;
  std::vector<Entity*> listed;
  const std::string missing = mgn_format("Missing fixed %s id", word);
  const std::string unknown = std::string(Word) + " %ld does not exist";
  char* next = mgn_read_id_list(listed, find, keywords, K_KEYWORDS, missing.c_str(), unknown.c_str(), MGN_INPUT_CALLER,
                                false);
  for (Entity* entity : listed) {
    if (entity->is_virtual) continue;  // no mesh to respect
    Entity* top = top_of(entity);
    if (top->localized_region != nullptr)
      mgn_input_error(
          mgn_format("%s %ld already localized in region %ld", Word, mgn_lid(entity), mgn_lid(top->localized_region)),
          MGN_INPUT_HERE);
    add_once(region->*fixed, top);
    written.push_back(entity);
  }
  return next;
}

// EXTRUDE SURFACE, PATCH or SHELL: the base of the extrusion.
template <typename Entity>
void read_extrusion_base(region_line& line, Entity* (*find)(long), const face_kind& kind) {
  const long id = mgn_get_next_int(mgn_format("Missing region base %s id", kind.word).c_str());
  Entity* base = find(id);
  if (base == nullptr) mgn_input_error(mgn_format("%s %ld does not exist", kind.Word, id), MGN_INPUT_HERE);
  line.region->extrude_base = base;
  line.region->extrude_base_kind = kind.kind;
}

// SURFACE, PATCH or SHELL after BOUNDARY, FIXED or EXTRUDE.
template <typename Entity>
char* read_face_keyword(region_line& line, Entity* (*find)(long), const face_kind& kind) {
  switch (line.previous) {
    case K_BOUNDARY: return read_boundary(line, find, kind);
    case K_FIXED: return read_fixed_faces(line, find, kind);
    case K_EXTRUDE: read_extrusion_base(line, find, kind); return nullptr;
    default:
      mgn_input_error(
          mgn_format("Keyword %s not expected (keyword BOUNDARY or FIXED or EXTRUDE missing)", kind.keyword),
          MGN_INPUT_HERE);
  }
}

// DIR1 or DIR2 x y z: a unit iso direction.
void read_iso_direction(region_line& line, int which) {
  const int number = which + 1;
  double d[3];
  const char* axes[3] = {"x", "y", "z"};
  for (int k = 0; k < 3; ++k)
    d[k] = mgn_get_next_fpn(mgn_format("Iso direction %d %s component missing", number, axes[k]).c_str());
  const double length = std::sqrt(mgn_dot(d, d));
  if (length < 0.00001) mgn_input_error(mgn_format("Invalid iso direction %d vector detected", number), MGN_INPUT_HERE);
  for (int k = 0; k < 3; ++k) line.region->iso_direction[which][k] = d[k] / length;
  line.dir_given[which] = true;
}

// LCS c1 c2 c3: three different curves.
void read_lcs(mgn_region* region) {
  const char* missing[3] = {"Missing first lcs curve id", "Missing second lcs curve id", "Missing third lcs curve id"};
  for (int i = 0; i < 3; ++i) {
    const long id = mgn_get_next_int(missing[i]);
    region->lcs[i] = mgn_find_curve(id);
    if (region->lcs[i] == nullptr) mgn_input_error(mgn_format("Curve %ld does not exist", id), MGN_INPUT_HERE);
  }
  if (region->lcs[0] == region->lcs[1] || region->lcs[1] == region->lcs[2] || region->lcs[0] == region->lcs[2])
    mgn_input_error("LCS curves must be different", MGN_INPUT_HERE);
}

// One option; returns a token read ahead that is the next option (or null).
char* read_option(region_line& line, int key, char* token) {
  mgn_region* region = line.region;
  switch (key) {
    case K_VIRTUAL: region->is_virtual = true; return nullptr;
    case K_BOUNDARY:
    case K_FIXED: return nullptr;
    case K_SURFACE: return read_face_keyword(line, mgn_find_surface, surface_kind);
    case K_PATCH: return read_face_keyword(line, mgn_find_patch, patch_kind);
    case K_SHELL: return read_face_keyword(line, mgn_find_shell, shell_kind);
    case K_VERTEX:
      if (line.previous != K_FIXED)
        mgn_input_error("Keyword VERTEX not expected (keyword FIXED missing)", MGN_INPUT_HERE);
      return read_fixed_pieces(line, mgn_find_vertex, mgn_get_top_physical_vertex, &mgn_region::fixed_vertices,
                               line.fixed_vertices, "vertex", "Vertex");
    case K_CURVE:
      if (line.previous != K_FIXED)
        mgn_input_error("Keyword CURVE not expected (keyword FIXED missing)", MGN_INPUT_HERE);
      return read_fixed_pieces(line, mgn_find_curve, mgn_get_top_physical_curve, &mgn_region::fixed_curves,
                               line.fixed_curves, "curve", "Curve");
    case K_SUBREGION: {
      std::vector<mgn_region*> subregions;
      char* next = mgn_read_id_list(subregions, mgn_find_region, keywords, K_KEYWORDS, "Missing subregion id",
                                    "Subregion %ld does not exist", MGN_INPUT_CALLER);
      for (mgn_region* subregion : subregions) add_once(region->subregions, subregion);
      return next;
    }
    case K_SIZE: {
      double number = 0.0;
      char* next = nullptr;
      const int word = mgn_read_value_option(mgn_size_option, keywords, K_KEYWORDS, {K_DEF, K_UNI}, &number,
                                             &line.size_multiplier, &next, MGN_INPUT_CALLER);
      line.size_source = word != K_KEYWORDS ? word : -1;
      if (word == K_KEYWORDS) line.size = number * mgn_set.size_factor;
      return next;
    }
    case K_FACTOR: region->factor = mgn_read_factor(MGN_INPUT_CALLER); return nullptr;
    case K_PROPERTY: region->property = mgn_read_property(MGN_INPUT_CALLER); return nullptr;
    case K_EXTRUDE: region->extrude = mgn_set.quad_hexa_support; return nullptr;
    case K_WEAK: region->weak_extrude = true; return nullptr;
    case K_HOLE: region->hole = true; return nullptr;
    case K_OUTPUT:
      region->output = region->output_requested = mgn_read_yes_no("Output specification missing", MGN_INPUT_CALLER);
      return nullptr;
    case K_HEXA: region->hexa = mgn_set.quad_hexa_support; return nullptr;
    case K_MAP:
      region->map = mgn_read_yes_no("Mapping specification missing", MGN_INPUT_CALLER) && mgn_set.quad_hexa_support;
      return nullptr;
    case K_ISO:
      region->iso = mgn_read_yes_no("Iso specification missing", MGN_INPUT_CALLER);
      return nullptr;
    case K_DIR1:
      if (line.previous != K_ISO && line.previous != K_DIR2)
        mgn_input_error("Keyword DIR1 not expected (keyword ISO missing)", MGN_INPUT_HERE);
      read_iso_direction(line, 0);
      return nullptr;
    case K_DIR2:
      if (line.previous != K_ISO && line.previous != K_DIR1)
        mgn_input_error("Keyword DIR2 not expected (keyword ISO missing)", MGN_INPUT_HERE);
      read_iso_direction(line, 1);
      return nullptr;
    case K_EQUIDISTANT: region->equidistant = true; return nullptr;
    case K_LCS: read_lcs(region); return nullptr;
    case K_ELEMGROUP:
      mgn_get_next_int("Missing tetra elem group id");
      mgn_get_next_int("Missing pyram elem group id");
      mgn_get_next_int("Missing wedge elem group id");
      mgn_get_next_int("Missing hexa elem group id");
      mgn_input.properties_seen = true;
      return nullptr;
    case K_NODEPROP: mgn_read_property_string("Node property string missing"); return nullptr;
    case K_ELEMPROP: mgn_read_property_string("Elem property string missing"); return nullptr;
    default:
      // DEF, UNI, YES and NO are values, not options.
      mgn_unexpected_keyword(token, MGN_INPUT_CALLER);
  }
}

// ---------------------------------------------------------------------------
// Checks after the line
// ---------------------------------------------------------------------------

// Structured meshing requests and size.
void complete_requests(region_line& line) {
  mgn_region* region = line.region;
  const long rid = mgn_lid(region);
  if (region->is_virtual) {
    region->hole = false;
    region->property = 0;
    region->output = region->output_requested = false;
    region->extrude = region->weak_extrude = false;
    region->extrude_base = nullptr;
    region->extrude_base_kind = -1;
    region->hexa = false;
    region->iso = false;
  }
  if (region->hole) {
    if (region->property != 0) {
      mgn_warning_text(mgn_format("Keyword PROPERTY ignored for hole (region %ld)", rid));
      region->property = 0;
    }
    if (line.flags[K_OUTPUT] != 0) {
      mgn_warning_text(mgn_format("Keyword OUTPUT ignored for hole (region %ld)", rid));
      region->output = true;
      region->output_requested = false;
    }
  }
  if (region->iso && !region->hexa) {
    mgn_warning_text(mgn_format("Keyword ISO ignored for non-hexa mesh (region %ld)", rid));
    region->iso = false;
  }
  if (region->lcs[0] != nullptr && !region->map) {
    mgn_warning_text(mgn_format("Keyword LCS ignored for region (%ld) not subjected to hexa mapping", rid));
    for (mgn_curve*& curve : region->lcs) curve = nullptr;
  }
  if (region->iso && line.dir_given[0] && line.dir_given[1] &&
      std::fabs(mgn_dot(region->iso_direction[0], region->iso_direction[1])) > 1e-10)
    mgn_input_error("Iso directions 1 and 2 are not perpendicular", MGN_INPUT_HERE);
  if (region->iso && region->map) {
    mgn_warning_text(mgn_format("Keyword ISO ignored for map-hexa region (%ld)", rid));
    region->iso = false;
  }
  if (region->extrude) {
    if (region->hexa) {
      mgn_warning_text(mgn_format("Keyword HEXA ignored for extruded region (%ld)", rid));
      region->hexa = false;
    }
    if (region->iso) {
      mgn_warning_text(mgn_format("Keyword ISO ignored for extruded region (%ld)", rid));
      region->iso = false;
    }
  }
  double size = line.size;
  if (mgn_set.size_factor == 0.0) {
    size = 0.0;
    region->factor = 0.0f;
  } else {
    if (line.size_source == K_DEF) size = mgn_set.default_size;
    if (line.size_source == K_UNI) size = mgn_set.uniform_size;
    size *= line.size_multiplier;
    if (line.size_source >= 0 && size == 0.0 && region->factor != 0.0f)
      mgn_warning_text(mgn_format("Default zero mesh size specification detected at region %ld", rid));
    if (line.flags[K_FACTOR] != 0 && size == 0.0) {
      mgn_warning_text(mgn_format("Factor specification ignored in region %ld", rid));
      region->factor = 1.0f;
    }
  }
  region->size = static_cast<float>(size);
  if (region->iso && size == 0.0) {
    mgn_warning_text(mgn_format("Keyword ISO ignored for region (%ld) with no mesh size specification", rid));
    region->iso = false;
  }
}

// The checks of the boundary and fixed entities of one kind, then the side
// marks.
template <typename Entity>
void check_faces(mgn_region* region, const face_kind& kind) {
  const long rid = mgn_lid(region);
  for (int side : {1, -1})
    for (Entity* entity : mgn_list_range<Entity>(region->*(side > 0 ? kind.inner : kind.outer))) {
      if (entity->is_virtual && !region->is_virtual)
        mgn_input_error(mgn_format("Virtual %s (%ld) cannot form boundary of physical region (%ld)", kind.word,
                                   mgn_lid(entity), rid),
                        MGN_INPUT_HERE);
      mgn_region* other = side_region(entity, side);
      if (other != nullptr && other != region)
        mgn_input_error(mgn_format("%s side of %s %ld already used as boundary %s of region %ld",
                                   side > 0 ? "Inner" : "Outer", kind.word, mgn_lid(entity), kind.word, mgn_lid(other)),
                        MGN_INPUT_HERE);
      if (mgn_find_item(region->*kind.fixed, entity) != nullptr)
        mgn_input_error(mgn_format("%s side of %s %ld fixed to region %ld already used as boundary %s",
                                   side > 0 ? "Inner" : "Outer", kind.word, mgn_lid(entity), rid, kind.word),
                        MGN_INPUT_HERE);
      // Both sides of an entity fixed inside a region face that region.
      if (entity->localized_region != nullptr)
        mgn_input_error(mgn_format("%s %ld already localized in region %ld", kind.Word, mgn_lid(entity),
                                   mgn_lid(entity->localized_region)),
                        MGN_INPUT_HERE);
      if (entity->hole && !region->hole)
        mgn_input_error(mgn_format("Hole %s (%ld) cannot form boundary of solid region (%ld)", kind.word, mgn_lid(entity),
                                   rid),
                        MGN_INPUT_HERE);
    }
  for (Entity* entity : mgn_list_range<Entity>(region->*kind.fixed))
    if (entity->hole && !region->hole)
      mgn_input_error(mgn_format("Hole %s (%ld) cannot be fixed to solid region (%ld)", kind.word, mgn_lid(entity), rid),
                      MGN_INPUT_HERE);
  for (int side : {1, -1})
    for (Entity* entity : mgn_list_range<Entity>(region->*(side > 0 ? kind.inner : kind.outer)))
      side_region(entity, side) = region;
}

// Surfaces fixed to a boundary surface bound the region from the same side;
// surfaces fixed to a surface fixed inside the region lie inside it.  Only
// the ones meshed on their own count (neither virtual nor a hole).  The
// lists grow while they are walked, so children of children follow.
void add_child_surfaces(mgn_region* region) {
  const long rid = mgn_lid(region);
  for (int side : {1, -1}) {
    mgn_list& list = side > 0 ? region->inner_surfaces : region->outer_surfaces;
    for (mgn_surface* surface : mgn_list_range<mgn_surface>(list))
      for (mgn_surface* child : mgn_list_range<mgn_surface>(surface->child_surfaces)) {
        if (child->is_virtual || child->hole || side_region(child, side) == region) continue;
        mgn_region* other = side_region(child, side);
        if (other != nullptr)
          mgn_input_error(mgn_format("%s side of surface %ld already used as boundary surface of region %ld",
                                     side > 0 ? "Inner" : "Outer", mgn_lid(child), mgn_lid(other)),
                          MGN_INPUT_HERE);
        if (mgn_find_item(region->fixed_surfaces, child) != nullptr)
          mgn_input_error(mgn_format("%s side of surface %ld fixed to region %ld already used as boundary surface",
                                     side > 0 ? "Inner" : "Outer", mgn_lid(child), rid),
                          MGN_INPUT_HERE);
        if (child->localized_region != nullptr)
          mgn_input_error(mgn_format("Surface %ld already localized in region %ld", mgn_lid(child),
                                     mgn_lid(child->localized_region)),
                          MGN_INPUT_HERE);
        side_region(child, side) = region;
        mgn_add_item_to_tail(list, child);
      }
  }
  for (mgn_surface* surface : mgn_list_range<mgn_surface>(region->fixed_surfaces))
    for (mgn_surface* child : mgn_list_range<mgn_surface>(surface->child_surfaces)) {
      if (child->is_virtual || child->hole || mgn_find_item(region->fixed_surfaces, child) != nullptr) continue;
      if (child->localized_region != nullptr)
        mgn_input_error(mgn_format("Surface %ld fixed to region %ld already localized in region %ld", mgn_lid(child), rid,
                                   mgn_lid(child->localized_region)),
                        MGN_INPUT_HERE);
      for (int side : {1, -1})
        if (side_region(child, side) != nullptr)
          mgn_input_error(mgn_format("%s side of surface %ld fixed to region %ld already used as boundary surface",
                                     side > 0 ? "Inner" : "Outer", mgn_lid(child), rid),
                          MGN_INPUT_HERE);
      child->localized_region = region;
      mgn_add_item_to_tail(region->fixed_surfaces, child);
    }
}

// Subpatches and subshells of boundary patches and shells bound the region
// from the same side (their parent's mesh leaves a hole for them); those of
// patches and shells fixed inside the region lie inside it.  As for
// surfaces, only the ones meshed on their own count, and children of
// children follow.
template <typename Entity>
void add_child_faces(mgn_region* region, const face_kind& kind, mgn_list Entity::*children) {
  const long rid = mgn_lid(region);
  for (int side : {1, -1}) {
    mgn_list& list = region->*(side > 0 ? kind.inner : kind.outer);
    for (Entity* entity : mgn_list_range<Entity>(list))
      for (Entity* child : mgn_list_range<Entity>(entity->*children)) {
        if (child->id == 0 || child->is_virtual || child->hole || side_region(child, side) == region) continue;
        mgn_region* other = side_region(child, side);
        if (other != nullptr)
          mgn_input_error(mgn_format("%s side of %s %ld already used as boundary %s of region %ld",
                                     side > 0 ? "Inner" : "Outer", kind.word, mgn_lid(child), kind.word, mgn_lid(other)),
                          MGN_INPUT_HERE);
        if (mgn_find_item(region->*kind.fixed, child) != nullptr)
          mgn_input_error(mgn_format("%s side of %s %ld fixed to region %ld already used as boundary %s",
                                     side > 0 ? "Inner" : "Outer", kind.word, mgn_lid(child), rid, kind.word),
                          MGN_INPUT_HERE);
        if (child->localized_region != nullptr)
          mgn_input_error(mgn_format("%s %ld already localized in region %ld", kind.Word, mgn_lid(child),
                                     mgn_lid(child->localized_region)),
                          MGN_INPUT_HERE);
        side_region(child, side) = region;
        mgn_add_item_to_tail(list, child);
      }
  }
  for (Entity* entity : mgn_list_range<Entity>(region->*kind.fixed))
    for (Entity* child : mgn_list_range<Entity>(entity->*children)) {
      if (child->id == 0 || child->is_virtual || child->hole || mgn_find_item(region->*kind.fixed, child) != nullptr)
        continue;
      if (child->localized_region != nullptr)
        mgn_input_error(mgn_format("%s %ld fixed to region %ld already localized in region %ld", kind.Word, mgn_lid(child),
                                   rid, mgn_lid(child->localized_region)),
                        MGN_INPUT_HERE);
      for (int side : {1, -1})
        if (side_region(child, side) != nullptr)
          mgn_input_error(mgn_format("%s side of %s %ld fixed to region %ld already used as boundary %s",
                                     side > 0 ? "Inner" : "Outer", kind.word, mgn_lid(child), rid, kind.word),
                          MGN_INPUT_HERE);
      child->localized_region = region;
      mgn_add_item_to_tail(region->*kind.fixed, child);
    }
}

// The entities fixed inside a physical region name it.
void localize_fixed_entities(mgn_region* region) {
  for (mgn_surface* e : mgn_list_range<mgn_surface>(region->fixed_surfaces)) e->localized_region = region;
  for (mgn_patch* e : mgn_list_range<mgn_patch>(region->fixed_patches)) e->localized_region = region;
  for (mgn_shell* e : mgn_list_range<mgn_shell>(region->fixed_shells)) e->localized_region = region;
  for (mgn_vertex* e : mgn_list_range<mgn_vertex>(region->fixed_vertices)) e->localized_region = region;
  for (mgn_curve* e : mgn_list_range<mgn_curve>(region->fixed_curves)) e->localized_region = region;
}

// The faces of a subregion bound the region around it from their other
// side: that side must be free, and is marked with the region.
template <typename Entity>
void wrap_subregion_faces(mgn_region* region, mgn_region* subregion, const face_kind& kind) {
  for (int side : {1, -1})
    for (Entity* entity : mgn_list_range<Entity>(subregion->*(side > 0 ? kind.inner : kind.outer))) {
      mgn_region*& mark = side_region(entity, -side);
      if (mark != nullptr && mark != region)
        mgn_input_error(mgn_format("%s side of %s %ld already used as boundary %s of region %ld",
                                   side > 0 ? "Outer" : "Inner", kind.word, mgn_lid(entity), kind.word, mgn_lid(mark)),
                        MGN_INPUT_HERE);
      mark = region;
    }
}

// Subregions: physical within a physical region, and inside it, which
// meshes around them.
void check_subregions(mgn_region* region, const mgn_region_boundary* boundary) {
  for (mgn_region* subregion : mgn_list_range<mgn_region>(region->subregions)) {
    if (subregion->is_virtual && !region->is_virtual)
      mgn_input_error(mgn_format("Virtual region (%ld) cannot be subregion of physical region (%ld)", mgn_lid(subregion),
                                 mgn_lid(region)),
                      MGN_INPUT_HERE);
    if (boundary == nullptr) continue;
    if (!mgn_check_subregion_inside_region(*boundary, subregion)) {
      mgn_note_partial_region(region);
      mgn_note_partial_region(subregion);
      mgn_input_error(mgn_format("Subregion %ld is not inside region %ld", mgn_lid(subregion), mgn_lid(region)),
                      MGN_INPUT_HERE);
    }
    wrap_subregion_faces<mgn_surface>(region, subregion, surface_kind);
    wrap_subregion_faces<mgn_patch>(region, subregion, patch_kind);
    wrap_subregion_faces<mgn_shell>(region, subregion, shell_kind);
  }
}

// The base of an extrusion is one of the boundary entities.
void check_extrusion_base(mgn_region* region) {
  if (region->extrude_base == nullptr) return;
  const face_kind& kind = region->extrude_base_kind == MGN_SURFACE ? surface_kind
                          : region->extrude_base_kind == MGN_PATCH ? patch_kind
                                                                   : shell_kind;
  if (mgn_find_item(region->*kind.inner, region->extrude_base) != nullptr ||
      mgn_find_item(region->*kind.outer, region->extrude_base) != nullptr)
    return;
  long id = 0;
  switch (kind.kind) {
    case MGN_SURFACE: id = mgn_lid(static_cast<mgn_surface*>(region->extrude_base)); break;
    case MGN_PATCH: id = mgn_lid(static_cast<mgn_patch*>(region->extrude_base)); break;
    default: id = mgn_lid(static_cast<mgn_shell*>(region->extrude_base)); break;
  }
  mgn_input_error(
      mgn_format("Base %s (%ld) does not form boundary of physical region (%ld)", kind.word, id, mgn_lid(region)),
      MGN_INPUT_HERE);
}

// The curves up and down the chain of fixations of a curve.
void collect_ancestors(mgn_curve* curve, std::vector<mgn_curve*>& out) {
  for (mgn_curve* c = curve->parent_curve; c != nullptr; c = c->parent_curve) out.push_back(c);
}
void collect_descendants(mgn_curve* curve, std::vector<mgn_curve*>& out) {
  for (mgn_curve* child : mgn_list_range<mgn_curve>(curve->fixed_curves)) {
    out.push_back(child);
    collect_descendants(child, out);
  }
}

// Fixed curves and vertices: repeats, relatives localized elsewhere.
void check_fixed_curves_vertices(region_line& line) {
  mgn_region* region = line.region;
  std::vector<mgn_curve*> tops;
  for (mgn_curve* curve : line.fixed_curves) {
    mgn_curve* top = mgn_get_top_physical_curve(curve);
    if (std::find(tops.begin(), tops.end(), top) != tops.end())
      mgn_input_error(mgn_format("Fixed curve %ld specified more than once", mgn_lid(curve)), MGN_INPUT_HERE);
    tops.push_back(top);
  }
  std::vector<mgn_vertex*> vertex_tops;
  for (mgn_vertex* vertex : line.fixed_vertices) {
    mgn_vertex* top = mgn_get_top_physical_vertex(vertex);
    if (std::find(vertex_tops.begin(), vertex_tops.end(), top) != vertex_tops.end())
      mgn_input_error(mgn_format("Fixed vertex %ld specified more than once", mgn_lid(vertex)), MGN_INPUT_HERE);
    vertex_tops.push_back(top);
  }
  for (mgn_curve* top : tops) {
    std::vector<mgn_curve*> descendants, ancestors;
    collect_ancestors(top, ancestors);
    collect_descendants(top, descendants);
    for (mgn_curve* parent : ancestors)
      if (parent->localized_region != nullptr && parent->localized_region != region)
        mgn_input_error(mgn_format("Curve %ld and its parent curve %ld localized in different regions", mgn_lid(top),
                                   mgn_lid(parent)),
                        MGN_INPUT_HERE);
    for (mgn_curve* child : descendants)
      if (child->localized_region != nullptr && child->localized_region != region)
        mgn_input_error(mgn_format("Curve %ld and its parent curve %ld localized in different regions", mgn_lid(child),
                                   mgn_lid(top)),
                        MGN_INPUT_HERE);
  }
  // A curve lies inside the region with its vertices; a vertex with the
  // curves it lies on.
  for (mgn_curve* top : tops) {
    std::vector<mgn_vertex*> on{top->vertex[0], top->vertex[1]};
    for (mgn_vertex* v : mgn_list_range<mgn_vertex>(top->fixed_vertices)) on.push_back(v);
    for (mgn_vertex* v : on) {
      if (v == nullptr || v->is_virtual) continue;
      mgn_vertex* vt = mgn_get_top_physical_vertex(v);
      if (vt->localized_region != nullptr && vt->localized_region != region)
        mgn_input_error(mgn_format("Vertex %ld already localized in region %ld", mgn_lid(vt), mgn_lid(vt->localized_region)),
                        MGN_INPUT_HERE);
    }
  }
  for (mgn_vertex* top : vertex_tops) {
    std::vector<mgn_curve*> on;
    for (mgn_curve* c : mgn_list_range<mgn_curve>(top->curves)) on.push_back(c);
    for (mgn_vertex* v = top; v != nullptr; v = v->parent_vertex)
      if (v->parent_curve != nullptr) on.push_back(v->parent_curve);
    for (mgn_curve* c : on) {
      if (c->is_virtual) continue;
      mgn_curve* ct = mgn_get_top_physical_curve(c);
      if (ct->localized_region != nullptr && ct->localized_region != region)
        mgn_input_error(mgn_format("Curve %ld already localized in region %ld", mgn_lid(ct), mgn_lid(ct->localized_region)),
                        MGN_INPUT_HERE);
    }
  }
}

// Fixed entities inside the region.
void check_fixed_inside(mgn_region* region, const mgn_region_boundary& boundary) {
  const long rid = mgn_lid(region);
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(region->fixed_vertices))
    if (!mgn_check_vertex_inside_region(boundary, vertex)) {
      mgn_note_partial_region(region);
      mgn_note_partial_vertex(vertex);
      mgn_record_error_location(MGN_VERTEX, vertex->id, vertex->ctrl_point->xyz);
      mgn_input_error(mgn_format("Vertex %ld is not inside region %ld", mgn_lid(vertex), rid), MGN_INPUT_HERE);
    }
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(region->fixed_curves))
    if (!mgn_check_curve_inside_region(boundary, curve, false)) {
      mgn_note_partial_region(region);
      mgn_note_partial_curve(curve);
      mgn_input_error(mgn_format("Curve %ld is not inside region %ld", mgn_lid(curve), rid), MGN_INPUT_HERE);
    }
  for (mgn_surface* surface : mgn_list_range<mgn_surface>(region->fixed_surfaces))
    if (!mgn_check_surface_inside_region(boundary, surface)) {
      mgn_note_partial_region(region);
      mgn_note_partial_surface(surface);
      mgn_input_error(mgn_format("Surface %ld is not inside region %ld", mgn_lid(surface), rid), MGN_INPUT_HERE);
    }
  for (mgn_patch* patch : mgn_list_range<mgn_patch>(region->fixed_patches))
    if (!mgn_check_patch_inside_region(boundary, patch)) {
      mgn_note_partial_region(region);
      mgn_note_partial_patch(patch);
      mgn_input_error(mgn_format("Patch %ld is not inside region %ld", mgn_lid(patch), rid), MGN_INPUT_HERE);
    }
  for (mgn_shell* shell : mgn_list_range<mgn_shell>(region->fixed_shells))
    if (!mgn_check_shell_inside_region(boundary, shell)) {
      mgn_note_partial_region(region);
      mgn_note_partial_shell(shell);
      mgn_input_error(mgn_format("Shell %ld is not inside region %ld", mgn_lid(shell), rid), MGN_INPUT_HERE);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Store
// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------
// REGION line
// ---------------------------------------------------------------------------

mgn_region* mgn_input_region() {
  const int32_t id = mgn_get_next_int("Missing region id");
  if (id < 1) mgn_input_error("Positive region id required", MGN_INPUT_HERE);
  if (mgn_find_region(id) != nullptr)
    mgn_input_error(mgn_format("Multiple instance of region %ld detected", static_cast<long>(id)), MGN_INPUT_HERE);
  region_line line;
  line.region = mgn_create_region(id);
  mgn_region* region = line.region;
  mgn_input.building = region;
  mgn_input.building_kind = MGN_REGION;

  char* token = mgn_get_next_token(nullptr);
  while (token != nullptr) {
    const int key = mgn_get_keyword_index(token, keywords, K_KEYWORDS);
    if (key == K_KEYWORDS) mgn_unexpected_keyword(token, MGN_INPUT_CALLER);
    mgn_check_keyword_duplicity(key, line.flags, token);
    mgn_check_leading_keyword(leading_keywords, line.previous, key, MGN_INPUT_CALLER);
    char* next = read_option(line, key, token);
    // The entity words serve BOUNDARY, FIXED and EXTRUDE, which may come
    // again (BOUNDARY SURFACE 1 BOUNDARY PATCH 2) once an entity word
    // followed them.
    if (key == K_SURFACE || key == K_PATCH || key == K_SHELL || key == K_VERTEX || key == K_CURVE) {
      line.flags[key] = 0;
      if (line.previous == K_BOUNDARY || line.previous == K_FIXED) line.flags[line.previous] = 0;
    }
    line.previous = key;
    token = next != nullptr ? next : mgn_get_next_token(nullptr);
  }
  mgn_check_leading_keyword(leading_keywords, line.previous, -1, MGN_INPUT_CALLER);
  if (region->inner_surfaces == nullptr && region->outer_surfaces == nullptr && region->inner_patches == nullptr &&
      region->outer_patches == nullptr && region->inner_shells == nullptr && region->outer_shells == nullptr)
    mgn_input_error("Keyword BOUNDARY missing", MGN_INPUT_HERE);
  if (region->iso && line.dir_given[0] != line.dir_given[1])
    mgn_input_error(line.dir_given[0] ? "Keyword DIR2 missing" : "Keyword DIR1 missing", MGN_INPUT_HERE);

  complete_requests(line);
  // A virtual region is meshed by its subregions: it takes no side of its
  // boundary entities and localizes nothing, and its boundary need not be
  // closed.
  const bool physical = !region->is_virtual;
  if (physical) {
    check_faces<mgn_shell>(region, shell_kind);
    check_faces<mgn_patch>(region, patch_kind);
    check_faces<mgn_surface>(region, surface_kind);
    add_child_surfaces(region);
    add_child_faces<mgn_patch>(region, patch_kind, &mgn_patch::subpatches);
    add_child_faces<mgn_shell>(region, shell_kind, &mgn_shell::subshells);
    localize_fixed_entities(region);
    mgn_check_region_topology(region);
  }
  const mgn_region_boundary boundary = physical ? mgn_build_region_boundary(region) : mgn_region_boundary{};
  check_subregions(region, physical ? &boundary : nullptr);
  check_extrusion_base(region);
  check_fixed_curves_vertices(line);
  if (physical) check_fixed_inside(region, boundary);
  if (region->hexa && !region->iso && !region->map) {
    mgn_warning("Warning: Request for unstructured hexa meshing of region %ld ignored\n", mgn_lid(region));
    region->hexa = false;
  }
  return region;
}
