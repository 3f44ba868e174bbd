// Vertex records, the vertex store and the VERTEX line parser.
#include "vertex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <unordered_set>

#include "bezier.h"
#include "curve.h"
#include "geom.h"
#include "input.h"
#include "list.h"
#include "message.h"
#include "project.h"
#include "surface.h"

namespace {

// Option keywords of a vertex definition, in table order.
enum vertex_keyword : int {
  K_VIRTUAL, K_XYZ, K_UV, K_T, K_FIXED, K_VERTEX, K_CURVE, K_SURFACE, K_SIZE, K_WEIGHT, K_FACTOR,
  K_PROPERTY, K_HIDDEN, K_OUTPUT, K_VER, K_CUR, K_SUR, K_DEF, K_UNI, K_YES, K_NO, K_COINCIDE,
  K_SLAVE, K_MASTER, K_NODEPROP, K_SHIFT, K_COUNT
};
const char* const keywords[K_COUNT] = {
    "VIRTUAL", "XYZ", "UV",  "T",   "FIXED", "VERTEX",   "CURVE", "SURFACE",  "SIZE",
    "WEIGHT",  "FACTOR", "PROPERTY", "HIDDEN", "OUTPUT", "VER", "CUR", "SUR", "DEF",
    "UNI", "YES", "NO", "COINCIDE", "SLAVE", "MASTER", "NODEPROP", "SHIFT"};

// Keywords that must be followed by one of some others.
constexpr mgn_leading_keyword leading_keywords[] = {
    {K_FIXED, {K_VERTEX, K_CURVE, K_SURFACE}, "Keyword VERTEX, CURVE or SURFACE missing (redundand keyword FIXED)",
     "Keyword VERTEX, CURVE or SURFACE missing"},
    {K_COINCIDE, {K_VERTEX}, "Keyword VERTEX missing (redundand keyword COINCIDE)", "Keyword VERTEX missing"}};

// SIZE of a vertex: zero is no mesh size.
const mgn_value_option vertex_size_option = {"Size specification missing", "Positive mesh size required", false,
                                             "Mesh size multiplication factor missing",
                                             "Positive or zero mesh size multiplication factor required"};

// Registers the vertex and the entity it failed against as offending
// entities of the error report, with the vertex position as error point.
void note_offending(mgn_vertex* vertex, mgn_curve* curve, mgn_surface* surface) {
  mgn_note_partial_vertex(vertex);
  if (curve != nullptr) mgn_note_partial_curve(curve);
  if (surface != nullptr) mgn_note_partial_surface(surface);
  mgn_record_error_location(MGN_VERTEX, vertex->id, vertex->ctrl_point->xyz);
}

// Walks from a curve down the curves fixed to it (recursively) and records
// the vertex on every one whose interval holds parameter t (on curve)
// strictly inside.
void propagate_down(mgn_vertex* vertex, mgn_curve* curve, double t) {
  for (mgn_curve* child : mgn_list_range<mgn_curve>(curve->fixed_curves)) {
    if (child->is_virtual) continue;
    const double t0 = child->parent_t[0], t1 = child->parent_t[1];
    if (!(t1 > t0) || t <= t0 || t >= t1) continue;
    const double local = (t - t0) / (t1 - t0);
    if (local <= 0.0 || local >= 1.0) continue;
    if (child->vertex[0] == vertex || child->vertex[1] == vertex) continue;
    mgn_add_item_to_head(child->fixed_vertices, vertex);
    propagate_down(vertex, child, local);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Store
// ---------------------------------------------------------------------------

mgn_vertex* mgn_create_vertex(long id) {
  auto* vertex = mgn_new_entity<mgn_vertex>(
      mgn_model.vertices, id, "Vertex with too high identification number (%ld) encountered", MGN_INPUT_CALLER);
  vertex->ctrl_point = mgn_create_ctrl_point();
  vertex->ctrl_point->size = static_cast<float>(mgn_set.default_size);
  vertex->xyz = vertex->ctrl_point->xyz;
  return vertex;
}

mgn_vertex* mgn_find_vertex(long id) { return mgn_find_entity_of<mgn_vertex>(mgn_model.vertices, id); }

void mgn_add_vertex_to_model(mgn_vertex* vertex) {
  mgn_add_entity_to_store(mgn_model.vertices, vertex, vertex->id);
}

void mgn_release_vertex(mgn_vertex* vertex) {
  if (vertex == nullptr) return;
  mgn_destroy_list(vertex->fixed_vertices);
  mgn_destroy_list(vertex->coinciding_vertices);
  mgn_destroy_list(vertex->curves);
  // The control point belongs to the control point store of the geometry
  // kernel, which lives until the process ends.
  delete vertex;
}

// ---------------------------------------------------------------------------
// Chain of parent vertices
// ---------------------------------------------------------------------------

mgn_vertex* mgn_get_root_vertex(mgn_vertex* vertex) {
  while (vertex->parent_vertex != nullptr) vertex = vertex->parent_vertex;
  return vertex;
}

mgn_vertex* mgn_get_top_nonvirtual_vertex(mgn_vertex* vertex) {
  mgn_vertex* top = nullptr;
  for (; vertex != nullptr; vertex = vertex->parent_vertex)
    if (!vertex->is_virtual) top = vertex;
  return top;
}

mgn_vertex* mgn_get_top_virtual_vertex(mgn_vertex* vertex) {
  mgn_vertex* top = nullptr;
  for (; vertex != nullptr; vertex = vertex->parent_vertex)
    if (vertex->is_virtual) top = vertex;
  return top;
}

mgn_vertex* mgn_get_top_physical_vertex(mgn_vertex* vertex) {
  mgn_vertex* top = vertex;
  for (mgn_vertex* v = vertex; v != nullptr && !v->is_virtual; v = v->parent_vertex) top = v;
  return top;
}

mgn_vertex* mgn_get_common_root_vertex(mgn_vertex* first, mgn_vertex* second) {
  mgn_vertex* root = mgn_get_root_vertex(first);
  return root == mgn_get_root_vertex(second) ? root : nullptr;
}

bool mgn_check_vertex_ancestor(const mgn_vertex* ancestor, const mgn_vertex* vertex) {
  for (; vertex != nullptr; vertex = vertex->parent_vertex)
    if (vertex == ancestor) return true;
  return false;
}

// ---------------------------------------------------------------------------
// Vertices on curves
// ---------------------------------------------------------------------------

bool mgn_get_vertex_curve_parameter(const mgn_vertex* vertex, const mgn_curve* curve, double* t) {
  if (curve->vertex[0] == vertex) return *t = 0.0, true;
  if (curve->vertex[1] == vertex) return *t = 1.0, true;
  const mgn_curve* own = vertex->parent_curve;
  if (own == nullptr) return false;
  // The vertex's parameter on its own curve, carried up the fixations to
  // the root: the parameter on every curve of that chain.
  double s = vertex->param[0];
  for (const mgn_curve* c = own; c != nullptr; c = c->parent_curve) {
    if (c == curve) return *t = s, true;
    if (c->parent_curve == nullptr) break;
    s = c->parent_t[0] + s * (c->parent_t[1] - c->parent_t[0]);
  }
  // Otherwise the curve may be fixed (at any depth) to a curve of that
  // chain: carry the parameter down from the ancestor it hangs on.
  double down_t0 = 0.0, down_t1 = 1.0;  // interval of curve on the ancestor
  const mgn_curve* ancestor = curve;
  while (ancestor->parent_curve != nullptr) {
    const double a = ancestor->parent_t[0], b = ancestor->parent_t[1];
    down_t0 = a + down_t0 * (b - a);
    down_t1 = a + down_t1 * (b - a);
    ancestor = ancestor->parent_curve;
    s = vertex->param[0];
    for (const mgn_curve* c = own; c != nullptr; c = c->parent_curve) {
      if (c == ancestor) {
        if (!(down_t1 > down_t0) || s <= down_t0 || s >= down_t1) return false;
        return *t = (s - down_t0) / (down_t1 - down_t0), true;
      }
      if (c->parent_curve == nullptr) break;
      s = c->parent_t[0] + s * (c->parent_t[1] - c->parent_t[0]);
    }
  }
  return false;
}

void mgn_propagate_vertex_up_down(mgn_vertex* vertex, mgn_curve* curve) {
  // Up: the vertex lies inside every parent curve of the chain.
  double t = vertex->param[0];
  for (mgn_curve* c = curve; c->parent_curve != nullptr; c = c->parent_curve) {
    t = c->parent_t[0] + t * (c->parent_t[1] - c->parent_t[0]);
    if (c->parent_curve->is_virtual) break;
    mgn_add_item_to_head(c->parent_curve->fixed_vertices, vertex);
  }
  // Down: the curves fixed to the curve that hold it.
  propagate_down(vertex, curve, vertex->param[0]);
}

// ---------------------------------------------------------------------------
// VERTEX line
// ---------------------------------------------------------------------------

namespace {

// The parts of the parser report under the parser's name.
constexpr const char* kInputVertex = "mgn_input_vertex";
#define VERTEX_HERE MGN_INPUT_AT(kInputVertex)
#define VERTEX_CALLER mgn_input_caller{kInputVertex, __FILE__, __LINE__}

// What a VERTEX line gives besides the fields of the vertex, and what the
// parents of the vertex give it.
struct vertex_line {
  mgn_vertex* vertex = nullptr;
  mgn_ctrl_point* point = nullptr;
  int flags[K_COUNT] = {};
  double shift[3] = {0.0, 0.0, 0.0};
  bool xyz_given = false, t_given = false, uv_given = false, weight_given = false;
  bool size_given = false;
  int size_source = -1;  // K_VER, K_CUR, K_SUR, K_DEF, K_UNI, or -1 for a number
  double size = 0.0, size_multiplier = 1.0;
  // Weight and size at the vertex's place on its parent vertex, curve and
  // surface.
  double parent_weight = 0.0, parent_size = 0.0;
  double curve_weight = 0.0, curve_size = 0.0;
  double surface_weight = 0.0, surface_size = 0.0;
};

// FIXED VERTEX / CURVE / SURFACE with T and UV, and COINCIDE VERTEX; returns
// a token read ahead (the next option) or null.
char* read_vertex_fixation(vertex_line& line, int key, int previous, const char* token) {
  mgn_vertex* vertex = line.vertex;
  char* next = nullptr;
  switch (key) {
    case K_FIXED:
      vertex->fixed = true;
      break;
    case K_VERTEX:
      if (previous == K_FIXED) {
        const long parent_id = mgn_get_next_int("Missing parent vertex id");
        mgn_vertex* parent = mgn_find_vertex(parent_id);
        if (parent == nullptr) mgn_input_error(mgn_format("Vertex %ld does not exist", parent_id), VERTEX_HERE);
        // One parent vertex only: a second FIXED VERTEX is a repetition.
        if (vertex->parent_vertex != nullptr)
          mgn_input_error(mgn_format("Keyword \"%s\" not expected due to the duplicity", token), VERTEX_HERE);
        vertex->parent_vertex = parent;
        mgn_add_item_to_head(parent->fixed_vertices, vertex);
        line.flags[K_FIXED] = line.flags[K_VERTEX] = 0;
      } else if (previous == K_COINCIDE) {
        std::vector<mgn_vertex*> others;
        next = mgn_read_id_list(others, mgn_find_vertex, keywords, K_COUNT, "Missing coinciding vertex id",
                                "Vertex %ld does not exist", VERTEX_CALLER);
        for (mgn_vertex* other : others) mgn_add_item_to_head(mgn_input.coinciding, other);
        // VERTEX serves both FIXED and COINCIDE once each.
        line.flags[K_VERTEX] = 0;
      } else {
        mgn_input_error("Keyword VERTEX unexpected (keyword FIXED or COINCIDE missing)", VERTEX_HERE);
      }
      break;
    case K_CURVE: {
      if (previous != K_FIXED) mgn_input_error("Keyword CURVE unexpected (keyword FIXED missing)", VERTEX_HERE);
      const long curve_id = mgn_get_next_int("Missing parent curve id");
      mgn_curve* curve = mgn_find_curve(curve_id);
      if (curve == nullptr) mgn_input_error(mgn_format("Curve %ld does not exist", curve_id), VERTEX_HERE);
      vertex->parent_curve = curve;
      mgn_add_item_to_head(curve->fixed_vertices, vertex);
      line.flags[K_FIXED] = 0;
      break;
    }
    case K_SURFACE: {
      if (previous != K_FIXED) mgn_input_error("Keyword SURFACE unexpected (keyword FIXED missing)", VERTEX_HERE);
      const long surface_id = mgn_get_next_int("Missing parent surface id");
      mgn_surface* surface = mgn_find_surface(surface_id);
      if (surface == nullptr) mgn_input_error(mgn_format("Surface %ld does not exist", surface_id), VERTEX_HERE);
      vertex->parent_surface = surface;
      mgn_add_item_to_head(surface->fixed_vertices, vertex);
      line.flags[K_FIXED] = 0;
      break;
    }
    case K_T: {
      if (previous != K_CURVE) mgn_input_error("Keyword T unexpected (keyword CURVE missing)", VERTEX_HERE);
      const double t = mgn_get_next_fpn("Missing t parameter");
      if (!(t > 0.0 && t < 1.0)) mgn_input_error("Parameter t out of range", VERTEX_HERE);
      vertex->param[0] = vertex->parent_curve->reversed ? 1.0 - t : t;
      line.t_given = true;
      break;
    }
    case K_UV: {
      if (previous != K_SURFACE) mgn_input_error("Keyword UV unexpected (keyword SURFACE missing)", VERTEX_HERE);
      const double u = mgn_get_next_fpn("Missing u parameter");
      const double v = mgn_get_next_fpn("Missing v parameter");
      if (!(u > 0.0 && u < 1.0)) mgn_input_error("Parameter u out of range", VERTEX_HERE);
      if (!(v > 0.0 && v < 1.0)) mgn_input_error("Parameter v out of range", VERTEX_HERE);
      vertex->param[0] = u;
      vertex->param[1] = v;
      line.uv_given = true;
      break;
    }
    default:
      break;
  }
  return next;
}

// XYZ, SHIFT and WEIGHT: the control point.
void read_vertex_point(vertex_line& line, int key) {
  double* xyz = line.point->xyz;
  switch (key) {
    case K_XYZ:
      xyz[0] = mgn_get_next_fpn("Coordinate x missing") + line.shift[0];
      xyz[1] = mgn_get_next_fpn("Coordinate y missing") + line.shift[1];
      xyz[2] = mgn_get_next_fpn("Coordinate z missing") + line.shift[2];
      line.xyz_given = true;
      break;
    case K_SHIFT:
      mgn_read_shift(line.shift);
      if (line.xyz_given)
        for (int i = 0; i < 3; ++i) xyz[i] += line.shift[i];
      break;
    case K_WEIGHT: {
      const double w = mgn_get_next_fpn("Weight specification missing");
      if (!(w > 0.0)) mgn_input_error("Positive weight required", VERTEX_HERE);
      line.point->w = w;
      line.weight_given = true;
      break;
    }
    default:
      break;
  }
}

// SIZE, FACTOR, PROPERTY, NODEPROP, HIDDEN, OUTPUT, SLAVE, MASTER and
// VIRTUAL: what the vertex gives the mesh.  Returns a token read ahead or
// null.
char* read_vertex_mesh_option(vertex_line& line, int key) {
  mgn_vertex* vertex = line.vertex;
  char* next = nullptr;
  switch (key) {
    case K_VIRTUAL:
      vertex->is_virtual = true;
      break;
    case K_SIZE: {
      double number = 0.0;
      const int source = mgn_read_value_option(vertex_size_option, keywords, K_COUNT, {K_DEF, K_UNI, K_VER, K_CUR, K_SUR},
                                               &number, &line.size_multiplier, &next, VERTEX_CALLER);
      line.size_source = source != K_COUNT ? source : -1;
      if (source == K_COUNT) line.size = number * mgn_set.size_factor;
      line.size_given = true;
      break;
    }
    case K_FACTOR:
      vertex->factor = mgn_read_factor(VERTEX_CALLER);
      break;
    case K_PROPERTY:
      vertex->property = mgn_read_property(VERTEX_CALLER);
      break;
    case K_NODEPROP:
      mgn_read_property_string("Node property string missing");
      break;
    case K_HIDDEN:
      vertex->hidden = true;
      break;
    case K_OUTPUT:
      vertex->output = vertex->output_requested = mgn_read_yes_no("Output specification missing", VERTEX_CALLER);
      break;
    case K_SLAVE:
      vertex->slave = true;
      break;
    case K_MASTER:
      vertex->master = true;
      break;
    default:
      break;
  }
  return next;
}

// The options of the line, up to its end.
void read_vertex_options(vertex_line& line) {
  int previous = -1;
  char* token = mgn_get_next_token(nullptr);
  while (token != nullptr) {
    const int key = mgn_get_keyword_index(token, keywords, K_COUNT);
    if (key == K_COUNT) mgn_unexpected_keyword(token, VERTEX_CALLER);
    mgn_check_keyword_duplicity(key, line.flags, token);
    mgn_check_leading_keyword(leading_keywords, previous, key, VERTEX_CALLER);
    char* next = nullptr;  // a token read ahead that is the next option
    switch (key) {
      case K_FIXED:
      case K_VERTEX:
      case K_CURVE:
      case K_SURFACE:
      case K_T:
      case K_UV:
        next = read_vertex_fixation(line, key, previous, token);
        break;
      case K_XYZ:
      case K_SHIFT:
      case K_WEIGHT:
        read_vertex_point(line, key);
        break;
      case K_VIRTUAL:
      case K_SIZE:
      case K_FACTOR:
      case K_PROPERTY:
      case K_NODEPROP:
      case K_HIDDEN:
      case K_OUTPUT:
      case K_SLAVE:
      case K_MASTER:
        next = read_vertex_mesh_option(line, key);
        break;
      case K_COINCIDE:
        break;
      default:
        // Values of SIZE and OUTPUT are no options of their own.
        mgn_unexpected_keyword(token, VERTEX_CALLER);
    }
    previous = key;
    token = next != nullptr ? next : mgn_get_next_token(nullptr);
  }
  mgn_check_leading_keyword(leading_keywords, previous, -1, VERTEX_CALLER);
}

// The rules between the options: a position, nothing of its own for a
// virtual vertex, neither property nor output for a hidden one, and the
// combinations that exclude each other.
void check_vertex_options(vertex_line& line) {
  mgn_vertex* vertex = line.vertex;
  const long vid = vertex->id;
  const mgn_curve* curve = vertex->parent_curve;
  const mgn_surface* surface = vertex->parent_surface;
  if (!line.xyz_given && vertex->parent_vertex == nullptr) {
    if (curve != nullptr && !line.t_given) mgn_input_error("Keyword XYZ or T missing", VERTEX_HERE);
    if (surface != nullptr && !line.uv_given) mgn_input_error("Keyword XYZ or UV missing", VERTEX_HERE);
    if (!vertex->fixed) mgn_input_error(mgn_format("Position of vertex %ld not specified", vid), VERTEX_HERE);
  }
  if (vertex->is_virtual) {
    vertex->hidden = false;
    vertex->property = 0;
    vertex->output = vertex->output_requested = false;
    vertex->slave = vertex->master = false;
  }
  if (vertex->hidden && vertex->property != 0) {
    mgn_warning("Warning: %s\n", mgn_format("Keyword PROPERTY ignored for hidden vertex (%ld)", vid).c_str());
    vertex->property = 0;
  }
  if (vertex->hidden && vertex->output_requested) {
    mgn_warning("Warning: %s\n", mgn_format("Keyword OUTPUT ignored for hidden vertex (%ld)", vid).c_str());
    vertex->output = vertex->output_requested = false;
  }
  if (vertex->slave && vertex->master)
    mgn_input_error("Keywords SLAVE and MASTER cannot be used together", VERTEX_HERE);
  if (curve != nullptr && surface != nullptr)
    mgn_input_error(mgn_format("Vertex (%ld) is not allowed to be fixed to curve (%ld) and surface (%ld) simultaneously",
                               vid, static_cast<long>(curve->id), static_cast<long>(surface->id)),
                    VERTEX_HERE);
  if (line.weight_given && curve != nullptr)
    mgn_input_error(mgn_format("Keyword WEIGHT not expected for vertex (%ld) fixed to curve (%ld)", vid,
                               static_cast<long>(curve->id)),
                    VERTEX_HERE);
  if (line.weight_given && surface != nullptr)
    mgn_input_error(mgn_format("Keyword WEIGHT not expected for vertex (%ld) fixed to surface (%ld)", vid,
                               static_cast<long>(surface->id)),
                    VERTEX_HERE);
  if (line.size_given && line.size_source == K_VER && vertex->parent_vertex == nullptr)
    mgn_input_error(mgn_format("Mesh size of vertex (%ld) inherited from non-existent parent vertex", vid),
                    VERTEX_HERE);
  if (line.size_given && line.size_source == K_CUR && curve == nullptr)
    mgn_input_error(mgn_format("Mesh size of vertex (%ld) inherited from non-existent parent curve", vid), VERTEX_HERE);
  if (line.size_given && line.size_source == K_SUR && surface == nullptr)
    mgn_input_error(mgn_format("Mesh size of vertex (%ld) inherited from non-existent parent surface", vid),
                    VERTEX_HERE);
}

// Squared distance within which a vertex counts as on its parent curve or
// surface: the user epsilon's square.
double vertex_on_parent_square_distance() { return mgn_tol.user_eps * mgn_tol.user_eps; }

// The place on the parent vertex: its position, weight and size.
void place_on_parent_vertex(vertex_line& line) {
  mgn_vertex* vertex = line.vertex;
  const mgn_vertex* parent = vertex->parent_vertex;
  double* xyz = line.point->xyz;
  if (line.xyz_given && !mgn_check_point_coincidence(xyz, parent->ctrl_point->xyz, mgn_tol.user_eps)) {
    note_offending(vertex, nullptr, nullptr);
    mgn_note_partial_vertex(vertex->parent_vertex);
    mgn_input_error(mgn_format("Ambiguous position of vertex %ld detected", static_cast<long>(vertex->id)), VERTEX_HERE);
  }
  for (int i = 0; i < 3; ++i) xyz[i] = parent->ctrl_point->xyz[i];
  line.parent_weight = parent->ctrl_point->w;
  line.parent_size = parent->ctrl_point->size;
}

// The place on the parent curve: the parameter of the position (or the
// position of the parameter), the weight and the size there.
void place_on_parent_curve(vertex_line& line) {
  mgn_vertex* vertex = line.vertex;
  mgn_curve* curve = vertex->parent_curve;
  const long vid = vertex->id;
  double* xyz = line.point->xyz;
  if (!line.t_given) {
    double t = 0.0;
    const double distance2 = mgn_find_closest_curve_point(curve, xyz, &t);
    if (distance2 > vertex_on_parent_square_distance()) {
      note_offending(vertex, curve, nullptr);
      mgn_input_error(mgn_format("Position of vertex %ld is too far from curve %ld (distance = %f)", vid,
                                 static_cast<long>(curve->id), std::sqrt(distance2)),
                      VERTEX_HERE);
    }
    vertex->param[0] = t;
  } else {
    double p[3];
    mgn_get_curve_point(curve, vertex->param[0], p);
    if (line.xyz_given || vertex->parent_vertex != nullptr) {
      if (!mgn_check_point_coincidence(xyz, p, mgn_tol.user_eps)) {
        note_offending(vertex, curve, nullptr);
        mgn_input_error(mgn_format("Ambiguous position of vertex %ld detected", vid), VERTEX_HERE);
      }
    } else {
      for (int i = 0; i < 3; ++i) xyz[i] = p[i];
    }
  }
  line.curve_weight = mgn_get_curve_weight(curve, vertex->param[0]);
  if (line.curve_weight == 0.0) {
    note_offending(vertex, curve, nullptr);
    mgn_input_error(mgn_format("Zero weight detected on curve %ld at vertex %ld", static_cast<long>(curve->id), vid),
                    VERTEX_HERE);
  }
  line.curve_size = mgn_get_curve_size(curve, vertex->param[0]);
  if (line.curve_size < 0.0) {
    note_offending(vertex, curve, nullptr);
    mgn_input_error(mgn_format("Negative size detected on curve %ld at vertex %ld", static_cast<long>(curve->id), vid),
                    VERTEX_HERE);
  }
  if (curve->factor != 0.0f) line.curve_size *= curve->factor;
}

// The place on the parent surface, as on a curve.
void place_on_parent_surface(vertex_line& line) {
  mgn_vertex* vertex = line.vertex;
  mgn_surface* surface = vertex->parent_surface;
  const long vid = vertex->id;
  double* xyz = line.point->xyz;
  if (!line.uv_given) {
    double uv[2] = {0.0, 0.0};
    const double distance2 = mgn_find_closest_surface_point(surface, xyz, &uv[0], &uv[1]);
    if (distance2 > vertex_on_parent_square_distance()) {
      note_offending(vertex, nullptr, surface);
      mgn_input_error(mgn_format("Position of vertex %ld is too far from surface %ld (distance = %f)", vid,
                                 static_cast<long>(surface->id), std::sqrt(distance2)),
                      VERTEX_HERE);
    }
    vertex->param[0] = uv[0];
    vertex->param[1] = uv[1];
  } else {
    double p[3];
    mgn_get_surface_point(surface, vertex->param[0], vertex->param[1], p);
    if (line.xyz_given || vertex->parent_vertex != nullptr) {
      if (!mgn_check_point_coincidence(xyz, p, mgn_tol.user_eps)) {
        note_offending(vertex, nullptr, surface);
        mgn_input_error(mgn_format("Ambiguous position of vertex %ld detected", vid), VERTEX_HERE);
      }
    } else {
      for (int i = 0; i < 3; ++i) xyz[i] = p[i];
    }
  }
  line.surface_weight = mgn_get_surface_weight(surface, vertex->param[0], vertex->param[1]);
  if (line.surface_weight == 0.0) {
    note_offending(vertex, nullptr, surface);
    mgn_input_error(mgn_format("Zero weight detected on surface %ld at vertex %ld", static_cast<long>(surface->id), vid),
                    VERTEX_HERE);
  }
  line.surface_size = mgn_get_surface_size(surface, vertex->param[0], vertex->param[1]);
  if (line.surface_size < 0.0) {
    note_offending(vertex, nullptr, surface);
    mgn_input_error(
        mgn_format("Negative size detected on surface %ld at vertex %ld", static_cast<long>(surface->id), vid),
        VERTEX_HERE);
  }
  if (surface->factor != 0.0f) line.surface_size *= surface->factor;
}

// The mesh size from its source (the default one when that gives none) and
// the weight a fixed vertex inherits.
void settle_vertex_size_and_weight(vertex_line& line) {
  mgn_vertex* vertex = line.vertex;
  const long vid = vertex->id;
  double size = line.size;
  if (line.size_given) {
    switch (line.size_source) {
      case K_VER: size = line.parent_size; break;
      case K_CUR: size = line.curve_size; break;
      case K_SUR: size = line.surface_size; break;
      case K_DEF: size = mgn_set.default_size; break;
      case K_UNI: size = mgn_set.uniform_size; break;
      default: break;
    }
    size *= line.size_multiplier;
  } else {
    if (vertex->parent_vertex != nullptr) size = line.parent_size;
    if (vertex->parent_curve != nullptr) size = line.curve_size;
    if (vertex->parent_surface != nullptr) size = line.surface_size;
  }
  if (size == 0.0) {
    size = mgn_set.default_size;
    if (size == 0.0 && mgn_set.size_factor != 0.0) {
      if (vertex->factor != 0.0f)
        mgn_input_error(mgn_format("Zero mesh size specification detected at vertex %ld", vid), VERTEX_HERE);
      mgn_warning("Warning: %s\n", mgn_format("Default zero mesh size specification detected at vertex %ld", vid).c_str());
    }
  }
  if (mgn_set.size_factor == 0.0) vertex->factor = 0.0f;
  line.point->size = static_cast<float>(size);
  vertex->size = line.point->size * vertex->factor;
  if (!line.weight_given) {
    if (vertex->parent_vertex != nullptr) line.point->w = line.parent_weight;
    if (vertex->parent_curve != nullptr) line.point->w = line.curve_weight;
    if (vertex->parent_surface != nullptr) line.point->w = line.surface_weight;
  }
}

// A vertex fixed on a surface: no curve fixed on the surface may pass
// through it, and it moves down to the child surface fixed on the surface
// that holds it (a vertex on a virtual surface is only warned about).
void localize_on_parent_surface(mgn_vertex* vertex) {
  mgn_surface* surface = vertex->parent_surface;
  const long vid = vertex->id;
  if (surface->is_virtual) {
    for (mgn_surface* s = surface->parent_surface; s != nullptr && !s->hole; s = s->parent_surface) {
      if (!s->is_virtual) {
        mgn_warning("Warning: Vertex %ld will be ignored when discretizing surface %ld\n", vid, static_cast<long>(s->id));
        break;
      }
    }
  } else {
    const double epsilon = mgn_tol.user_eps;
    for (mgn_curve* fixed : mgn_list_range<mgn_curve>(surface->fixed_curves)) {
      if (fixed->is_virtual) continue;
      double t = 0.0;
      const double distance2 = mgn_find_closest_curve_point(fixed, vertex->ctrl_point->xyz, &t);
      if (distance2 <= epsilon * epsilon) {
        note_offending(vertex, fixed, surface);
        mgn_input_error(mgn_format("Vertex %ld intersects curve %ld on surface %ld", vid, static_cast<long>(fixed->id),
                                   static_cast<long>(surface->id)),
                        VERTEX_HERE);
      }
    }
  }
  bool moved = false;
  for (mgn_surface* current = vertex->parent_surface;;) {
    mgn_surface* holder = nullptr;
    const double u = vertex->param[0], v = vertex->param[1];
    for (mgn_surface* child : mgn_list_range<mgn_surface>(current->child_surfaces)) {
      if (child->is_virtual || !(child->umax > child->umin) || !(child->vmax > child->vmin)) continue;
      if (u > child->umin && u < child->umax && v > child->vmin && v < child->vmax) {
        holder = child;
        break;
      }
    }
    if (holder == nullptr) break;
    mgn_remove_item(current->fixed_vertices, vertex);
    mgn_add_item_to_head(holder->fixed_vertices, vertex);
    vertex->param[0] = 1.0 - (holder->umax - u) / (holder->umax - holder->umin);
    vertex->param[1] = 1.0 - (holder->vmax - v) / (holder->vmax - holder->vmin);
    vertex->parent_surface = holder;
    current = holder;
    moved = true;
  }
  if (moved)
    mgn_warning("Warning: Vertex %ld is localized on surface %ld (u = %f, v = %f)\n", vid,
                static_cast<long>(vertex->parent_surface->id), vertex->param[0], vertex->param[1]);
}

// The vertex among its relatives: a hidden vertex hides its top physical
// parent, a physical vertex on a physical parent takes its property, the
// relatives of the parent curve and the surfaces below the parent surface
// learn of it, and the coinciding vertices are linked with it.
void link_vertex_relatives(vertex_line& line) {
  mgn_vertex* vertex = line.vertex;
  const long vid = vertex->id;
  mgn_vertex* parent = vertex->parent_vertex;
  mgn_curve* curve = vertex->parent_curve;
  if (vertex->hidden) mgn_get_top_physical_vertex(vertex)->hidden = true;
  if (parent != nullptr && !vertex->is_virtual && !parent->is_virtual) {
    if (line.flags[K_PROPERTY] != 0)
      mgn_input_error(mgn_format("Keyword PROPERTY not expected for fixed vertex (%ld) with physical parent (%ld)",
                                 vid, static_cast<long>(parent->id)),
                      VERTEX_HERE);
    vertex->property = parent->property;
  }
  if (curve != nullptr && !vertex->is_virtual && !curve->is_virtual) mgn_propagate_vertex_up_down(vertex, curve);
  if (vertex->parent_surface != nullptr && !vertex->is_virtual) localize_on_parent_surface(vertex);
  for (mgn_vertex* other : mgn_list_range<mgn_vertex>(mgn_input.coinciding)) {
    if (vertex->is_virtual || other->is_virtual)
      mgn_input_error("Only physical vertices can be coinciding", VERTEX_HERE);
    if (mgn_get_top_physical_vertex(vertex) != vertex)
      mgn_input_error(mgn_format("Only top physical parent vertex (%ld) can be coinciding", vid), VERTEX_HERE);
    if (mgn_get_top_physical_vertex(other) != other)
      mgn_input_error(mgn_format("Only top physical parent vertex (%ld) can be coinciding", static_cast<long>(other->id)),
                      VERTEX_HERE);
    mgn_link_coinciding(vertex, other, &mgn_vertex::coinciding_vertices);
  }
}

}  // namespace

mgn_vertex* mgn_input_vertex() {
  const int32_t id = mgn_get_next_int("Missing vertex id");
  if (id < 1) mgn_input_error("Positive vertex id required", VERTEX_HERE);
  if (mgn_find_vertex(id) != nullptr)
    mgn_input_error(mgn_format("Multiple instance of vertex %ld detected", static_cast<long>(id)), VERTEX_HERE);
  vertex_line line;
  line.vertex = mgn_create_vertex(id);
  line.point = line.vertex->ctrl_point;
  mgn_input.building = line.vertex;
  mgn_input.building_kind = MGN_VERTEX;
  mgn_destroy_list(mgn_input.coinciding);

  read_vertex_options(line);
  check_vertex_options(line);
  if (line.vertex->parent_vertex != nullptr) place_on_parent_vertex(line);
  if (line.vertex->parent_curve != nullptr) place_on_parent_curve(line);
  if (line.vertex->parent_surface != nullptr) place_on_parent_surface(line);
  settle_vertex_size_and_weight(line);
  link_vertex_relatives(line);
  // The temporary list goes.
  mgn_destroy_list(mgn_input.coinciding);
  return line.vertex;
}

#undef VERTEX_HERE
#undef VERTEX_CALLER
