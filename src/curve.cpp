// Curve records, the curve store, the coincidence of curves and the CURVE
// line parser with its polygon lines.
#include "curve.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "bezier.h"
#include "geom.h"
#include "input.h"
#include "list.h"
#include "message.h"
#include "project.h"
#include "surface.h"
#include "vec3.h"
#include "vertex.h"

namespace {

// Option keywords of a curve definition, in table order.
enum curve_keyword : int {
  K_VIRTUAL, K_ORDER, K_FIXED, K_CURVE, K_SURFACE, K_VERTEX, K_SIZE, K_RATE, K_DENSITY, K_FACTOR,
  K_PROPERTY, K_HIDDEN, K_SWAP, K_SMEAR, K_ANGLE, K_OUTPUT, K_BASSOC, K_COUNT, K_POLYSIZE, K_CUR,
  K_SUR, K_DEF, K_UNI, K_YES, K_NO, K_FIT, K_ITER, K_LIMIT, K_DIR, K_X, K_Y, K_Z, K_XY, K_YZ,
  K_XZ, K_XYZ, K_F, K_T, K_N, K_TRANSITION, K_EQUIDISTANT, K_DUPLICATE, K_COINCIDE, K_SLAVE,
  K_MASTER, K_MIRROR, K_WEAK, K_ELEMGROUP, K_NODEPROP, K_ELEMPROP, K_SHIFT, K_KEYWORDS
};
const char* const keywords[K_KEYWORDS] = {
    "VIRTUAL", "ORDER",      "FIXED",       "CURVE",     "SURFACE",  "VERTEX", "SIZE",   "RATE",
    "DENSITY", "FACTOR",     "PROPERTY",    "HIDDEN",    "SWAP",     "SMEAR",  "ANGLE",  "OUTPUT",
    "BASSOC",  "COUNT",      "POLYSIZE",    "CUR",       "SUR",      "DEF",    "UNI",    "YES",
    "NO",      "FIT",        "ITER",        "LIMIT",     "DIR",      "X",      "Y",      "Z",
    "XY",      "YZ",         "XZ",          "XYZ",       "F",        "T",      "N",      "TRANSITION",
    "EQUIDISTANT", "DUPLICATE", "COINCIDE", "SLAVE",     "MASTER",   "MIRROR", "WEAK",   "ELEMGROUP",
    "NODEPROP", "ELEMPROP",  "SHIFT"};

// Keywords that must be followed by one of some others.
constexpr mgn_leading_keyword leading_keywords[] = {
    {K_FIXED, {K_CURVE, K_SURFACE}, "Keyword CURVE or SURFACE missing (redundand keyword FIXED)",
     "Keyword CURVE or SURFACE missing"},
    {K_COINCIDE, {K_CURVE}, "Keyword CURVE missing (redundand keyword COINCIDE)", "Keyword CURVE missing"},
    {K_WEAK, {K_MIRROR}, "Keyword MIRROR missing (redundand keyword WEAK)", "Keyword MIRROR missing"}};

// Keywords of a polygon line, in table order (mgn_polygon_keyword).
const char* const polygon_keywords[MGN_P_KEYWORDS] = {"POLYGON", "XYZ", "POLY", "WEIGHT", "SIZE", "POLYEND", "CUR",
                                                  "DEF",     "UNI", "DIR",  "X",      "Y",    "Z",       "XY",
                                                  "YZ",      "XZ",  "F",    "T",      "N"};

// Parameter of a vertex (or of a vertex of its parent chain) on a curve of
// the family of its parent curve.
bool vertex_on_curve(mgn_vertex* vertex, const mgn_curve* curve, double* t, mgn_vertex** at) {
  for (mgn_vertex* v = vertex; v != nullptr; v = v->parent_vertex) {
    if (mgn_get_vertex_curve_parameter(v, curve, t)) {
      *at = v;
      return true;
    }
    // The end vertices of the curve may be fixed to the vertex instead.
    for (int e = 0; e < 2; ++e)
      if (curve->vertex[e] != nullptr && mgn_get_common_root_vertex(v, curve->vertex[e]) != nullptr) {
        *t = e;
        *at = curve->vertex[e];
        return true;
      }
  }
  return false;
}

// (u, v) of a vertex fixed to the surface (directly or through its parent
// vertices).
bool vertex_on_surface(mgn_vertex* vertex, const mgn_surface* surface, double* uv) {
  for (mgn_vertex* v = vertex; v != nullptr; v = v->parent_vertex)
    if (v->parent_surface == surface) {
      uv[0] = v->param[0];
      uv[1] = v->param[1];
      return true;
    }
  return false;
}

bool same_weight(double a, double b) { return std::fabs(a - b) <= 1e-5 * std::max(std::fabs(a), std::fabs(b)); }

void note_offending(mgn_curve* curve, mgn_vertex* vertex, mgn_curve* other, mgn_surface* surface) {
  mgn_note_partial_curve(curve);
  if (vertex != nullptr) mgn_note_partial_vertex(vertex);
  if (other != nullptr) mgn_note_partial_curve(other);
  if (surface != nullptr) mgn_note_partial_surface(surface);
  const double* at = vertex != nullptr ? vertex->ctrl_point->xyz : curve->vertex[0]->ctrl_point->xyz;
  mgn_record_error_location(MGN_CURVE, curve->id, at);
}

// The iso-parametric line of a curve fixed to a surface, in parameters of
// the surface: the line runs along u (direction 0, v constant) or along v
// (direction 1, u constant) from parameter a to b.
struct iso_line {
  int direction;
  double constant;
  double a, b;
};

constexpr double parameter_tolerance = 1e-9;

bool iso_lines_cross(const iso_line& p, const iso_line& q) {
  const double p_lo = std::min(p.a, p.b), p_hi = std::max(p.a, p.b);
  const double q_lo = std::min(q.a, q.b), q_hi = std::max(q.a, q.b);
  if (p.direction == q.direction) {
    // The same line: they cross when the pieces overlap with positive length.
    if (std::fabs(p.constant - q.constant) > parameter_tolerance) return false;
    return std::min(p_hi, q_hi) - std::max(p_lo, q_lo) > parameter_tolerance;
  }
  // Crossing lines: each constant inside the other's piece; touching at an
  // end point (a shared vertex) does not count.
  const bool inside_p = q.constant > p_lo + parameter_tolerance && q.constant < p_hi - parameter_tolerance;
  const bool inside_q = p.constant > q_lo + parameter_tolerance && p.constant < q_hi - parameter_tolerance;
  const bool touch_p = q.constant >= p_lo - parameter_tolerance && q.constant <= p_hi + parameter_tolerance;
  const bool touch_q = p.constant >= q_lo - parameter_tolerance && p.constant <= q_hi + parameter_tolerance;
  return (inside_p && touch_q) || (inside_q && touch_p);
}

bool curve_iso_line(const mgn_curve* curve, iso_line* line) {
  const double* s = curve->parent_uv[0];
  const double* e = curve->parent_uv[1];
  if (std::fabs(s[1] - e[1]) <= parameter_tolerance) {
    *line = {0, 0.5 * (s[1] + e[1]), s[0], e[0]};
    return true;
  }
  if (std::fabs(s[0] - e[0]) <= parameter_tolerance) {
    *line = {1, 0.5 * (s[0] + e[0]), s[1], e[1]};
    return true;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Store
// ---------------------------------------------------------------------------

mgn_curve* mgn_create_curve(long id) {
  auto* curve = mgn_new_entity<mgn_curve>(
      mgn_model.curves, id, "Curve with too high identification number (%ld) encountered", MGN_INPUT_CALLER);
  curve->rate = static_cast<float>(mgn_set.curvature_rate);
  curve->density = static_cast<float>(mgn_set.curve_density);
  curve->bassoc = mgn_set.default_bassoc_output;
  curve->f2c = static_cast<float>(mgn_set.transition_f2c);
  curve->c2f = static_cast<float>(mgn_set.transition_c2f);
  return curve;
}

mgn_curve* mgn_find_curve(long id) { return mgn_find_entity_of<mgn_curve>(mgn_model.curves, id); }

void mgn_add_curve_to_model(mgn_curve* curve) { mgn_add_entity_to_store(mgn_model.curves, curve, curve->id); }

void mgn_release_curve(mgn_curve* curve) {
  if (curve == nullptr) return;
  // Control points belong to the store of the geometry kernel.
  mgn_destroy_list(curve->fixed_curves);
  mgn_destroy_list(curve->fixed_vertices);
  mgn_destroy_list(curve->coinciding_curves);
  mgn_destroy_list(curve->surfaces);
  mgn_destroy_list(curve->patches);
  mgn_destroy_list(curve->shells);
  mgn_destroy_list(curve->duplicates);
  delete curve;
}

// ---------------------------------------------------------------------------
// Relations between curves
// ---------------------------------------------------------------------------

mgn_curve* mgn_get_top_physical_curve(mgn_curve* curve) {
  mgn_curve* top = curve;
  for (mgn_curve* c = curve; c != nullptr && !c->is_virtual; c = c->parent_curve) top = c;
  return top;
}

bool mgn_check_curve_coincidence(const mgn_curve* first, const mgn_curve* second) {
  if (first == second) return true;
  double s1 = 0.0, e1 = 1.0, s2 = 0.0, e2 = 1.0;
  if (mgn_get_root_curve(first, &s1, &e1) != mgn_get_root_curve(second, &s2, &e2)) return false;
  const double lo1 = std::min(s1, e1), hi1 = std::max(s1, e1);
  const double lo2 = std::min(s2, e2), hi2 = std::max(s2, e2);
  return hi1 > lo2 && hi2 > lo1;
}

bool mgn_check_curve_identity(const mgn_curve* first, const mgn_curve* second) {
  if (first == second) return true;
  double s1 = 0.0, e1 = 1.0, s2 = 0.0, e2 = 1.0;
  if (mgn_get_root_curve(first, &s1, &e1) != mgn_get_root_curve(second, &s2, &e2)) return false;
  return std::min(s1, e1) == std::min(s2, e2) && std::max(s1, e1) == std::max(s2, e2);
}

void mgn_update_curve_vertex_fix_up(mgn_curve* curve) {
  mgn_curve* parent = curve->parent_curve;
  if (parent == nullptr) return;
  const double t0 = curve->parent_t[0], t1 = curve->parent_t[1];
  if (!(t1 > t0)) return;
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(parent->fixed_vertices)) {
    if (vertex->is_virtual || vertex == curve->vertex[0] || vertex == curve->vertex[1]) continue;
    double t = 0.0;
    if (!mgn_get_vertex_curve_parameter(vertex, parent, &t)) continue;
    if (t > t0 && t < t1) mgn_add_item_to_head(curve->fixed_vertices, vertex);
  }
}

// ---------------------------------------------------------------------------
// CURVE line
// ---------------------------------------------------------------------------

namespace {

// The parts of the parser report under the parser's name.
constexpr const char* kInputCurve = "mgn_input_curve";
#define CURVE_HERE MGN_INPUT_AT(kInputCurve)
#define CURVE_CALLER mgn_input_caller{kInputCurve, __FILE__, __LINE__}

// What a CURVE line gives besides the fields of the curve, and what the
// checks and the fixation work out from it.
struct curve_line {
  mgn_curve* curve = nullptr;
  int flags[K_KEYWORDS] = {};
  int order = 0;  // 0: not given
  int size_source = -1;  // K_CUR, K_SUR, K_DEF, K_UNI, or -1 for a number
  double size = 0.0, size_multiplier = 1.0;
  double rate = 0.0, rate_multiplier = 1.0;
  double density = 0.0, density_multiplier = 1.0;
  std::vector<mgn_polysize_value> polysize;
  mgn_curve* mirror = nullptr;
  mgn_curve* duplicate = nullptr;
  bool weak = false;
  // The two ends share a root vertex.
  bool identical_vertices = false;
  // Parameters of the ends on the parent curve, and the iso-parametric
  // line on the parent surface.
  double end_t[2] = {0.0, 1.0};
  iso_line iso{0, 0.0, 0.0, 1.0};
  // The line of the definition: the checks after the polygon lines report
  // it, and reading goes on after the polygon lines.
  long curve_line = 0;
  long resume_line = 0;
};

// VERTEX, FIXED CURVE / SURFACE, COINCIDE CURVE, MIRROR and DUPLICATE: the
// curve among its vertices and curves.  Returns a token read ahead (the next
// option) or null.
char* read_curve_relation(curve_line& line, int key, int previous) {
  mgn_curve* curve = line.curve;
  char* next = nullptr;
  switch (key) {
    case K_VERTEX:
      for (int e = 0; e < 2; ++e) {
        const long vertex_id = mgn_get_next_int(e == 0 ? "Missing first vertex id" : "Missing second vertex id");
        mgn_vertex* vertex = mgn_find_vertex(vertex_id);
        if (vertex == nullptr) mgn_input_error(mgn_format("Vertex %ld does not exist", vertex_id), CURVE_HERE);
        curve->vertex[e] = vertex;
      }
      break;
    case K_FIXED:
      curve->fixed = true;
      break;
    case K_CURVE:
      if (previous == K_FIXED) {
        const long parent_id = mgn_get_next_int("Missing parent curve id");
        mgn_curve* parent = mgn_find_curve(parent_id);
        if (parent == nullptr) mgn_input_error(mgn_format("Curve %ld does not exist", parent_id), CURVE_HERE);
        curve->parent_curve = parent;
        mgn_add_item_to_head(parent->fixed_curves, curve);
      } else if (previous == K_COINCIDE) {
        std::vector<mgn_curve*> others;
        next = mgn_read_id_list(others, mgn_find_curve, keywords, K_KEYWORDS,
                                "Missing coinciding curve id", "Curve %ld does not exist", CURVE_CALLER);
        for (mgn_curve* other : others) mgn_add_item_to_head(mgn_input.coinciding, other);
      } else {
        mgn_input_error("Keyword CURVE not expected (keyword FIXED or COINCIDE missing)", CURVE_HERE);
      }
      // CURVE serves FIXED and COINCIDE once each; those keywords guard
      // their own repetition.
      line.flags[K_CURVE] = 0;
      break;
    case K_SURFACE: {
      if (previous != K_FIXED)
        mgn_input_error("Keyword SURFACE not expected (keyword FIXED missing)", CURVE_HERE);
      const long surface_id = mgn_get_next_int("Missing parent surface id");
      mgn_surface* surface = mgn_find_surface(surface_id);
      if (surface == nullptr) mgn_input_error(mgn_format("Surface %ld does not exist", surface_id), CURVE_HERE);
      curve->parent_surface = surface;
      mgn_add_item_to_head(surface->fixed_curves, curve);
      break;
    }
    case K_MIRROR: {
      const long mirror_id = mgn_get_next_int("Missing mirror curve id");
      line.mirror = mgn_find_curve(mirror_id);
      if (line.mirror == nullptr) mgn_input_error(mgn_format("Curve %ld does not exist", mirror_id), CURVE_HERE);
      break;
    }
    case K_DUPLICATE: {
      const long duplicate_id = mgn_get_next_int("Missing duplicated curve id");
      line.duplicate = mgn_find_curve(duplicate_id);
      if (line.duplicate == nullptr) mgn_input_error(mgn_format("Curve %ld does not exist", duplicate_id), CURVE_HERE);
      break;
    }
    default:
      break;
  }
  return next;
}

// ORDER, SIZE, RATE, DENSITY, FACTOR, COUNT, POLYSIZE, TRANSITION and
// EQUIDISTANT: the shape and the sizing of the mesh.  Returns a token read
// ahead or null.
char* read_curve_sizing(curve_line& line, int key) {
  mgn_curve* curve = line.curve;
  char* next = nullptr;
  switch (key) {
    case K_ORDER: {
      const int32_t n = mgn_get_next_int("Order specification missing");
      if (n != 0 && (n < 2 || n > MGN_MAX_ORDER)) mgn_input_error("Order specification out of range", CURVE_HERE);
      line.order = n;
      break;
    }
    case K_SIZE: {
      double number = 0.0;
      const int word = mgn_read_value_option(mgn_size_option, keywords, K_KEYWORDS, {K_CUR, K_SUR, K_DEF, K_UNI}, &number,
                                             &line.size_multiplier, &next, CURVE_CALLER);
      line.size_source = word != K_KEYWORDS ? word : -1;
      if (word == K_KEYWORDS) line.size = number * mgn_set.size_factor;
      break;
    }
    case K_RATE: {
      double number = 0.0;
      const int word = mgn_read_value_option(mgn_rate_option, keywords, K_KEYWORDS, {K_DEF}, &number,
                                             &line.rate_multiplier, &next, CURVE_CALLER);
      line.rate = word == K_DEF ? mgn_set.curvature_rate : number * mgn_set.curvature_factor;
      break;
    }
    case K_DENSITY: {
      double number = 0.0;
      const int word = mgn_read_value_option(mgn_density_option, keywords, K_KEYWORDS, {K_DEF}, &number,
                                             &line.density_multiplier, &next, CURVE_CALLER);
      line.density = word == K_DEF ? mgn_set.curve_density : number;
      break;
    }
    case K_FACTOR:
      curve->factor = mgn_read_factor(CURVE_CALLER);
      break;
    case K_COUNT: {
      const int32_t c = mgn_get_next_int("Count specification missing");
      if (c < 0) mgn_input_error("Positive or zero count required", CURVE_HERE);
      curve->count = c;
      break;
    }
    case K_POLYSIZE:
      next = mgn_read_polysize(line.polysize, MGN_MAX_ORDER, keywords, K_KEYWORDS, K_DEF, K_UNI, CURVE_CALLER);
      break;
    case K_TRANSITION: {
      const char* missing[2] = {"Transition f2c factor specification missing",
                                "Transition c2f factor specification missing"};
      const char* range[2] = {"First transition factor out of permissible range",
                              "Second transition factor out of permissible range"};
      const double upper[2] = {6.0, 2.0};
      const double defaults[2] = {mgn_set.transition_f2c, mgn_set.transition_c2f};
      double factor[2];
      for (int i = 0; i < 2; ++i) {
        char* value = mgn_get_next_token(missing[i]);
        const int word = mgn_get_keyword_index(value, keywords, K_KEYWORDS);
        if (word == K_DEF) {
          factor[i] = defaults[i];
        } else if (word != K_KEYWORDS) {
          mgn_unexpected_keyword(value, CURVE_CALLER);
        } else {
          factor[i] = mgn_get_fpn_from_token(value);
          if (factor[i] < 1.0 || factor[i] > upper[i]) mgn_input_error(range[i], CURVE_HERE);
        }
      }
      curve->f2c = static_cast<float>(factor[0]);
      curve->c2f = static_cast<float>(factor[1]);
      break;
    }
    case K_EQUIDISTANT:
      curve->equidistant = true;
      break;
    default:
      break;
  }
  return next;
}

// VIRTUAL, PROPERTY, HIDDEN, SWAP, SMEAR with ANGLE, OUTPUT, BASSOC, SLAVE,
// MASTER, WEAK, the element groups and properties, and SHIFT: what the
// curve gives the mesh and the output.
void read_curve_output(curve_line& line, int key, int previous) {
  mgn_curve* curve = line.curve;
  switch (key) {
    case K_VIRTUAL:
      curve->is_virtual = true;
      break;
    case K_PROPERTY:
      curve->property = mgn_read_property(CURVE_CALLER);
      break;
    case K_HIDDEN:
      // Hiding moves nodes by smoothing: without it the request is void.
      if (mgn_set.nodal_smoothing) curve->hidden = true;
      break;
    case K_SWAP:
      curve->swap = mgn_read_yes_no("Swap specification missing", CURVE_CALLER);
      break;
    case K_SMEAR:
      curve->smear = mgn_read_yes_no("Smear specification missing", CURVE_CALLER);
      break;
    case K_ANGLE: {
      if (previous != K_SWAP && previous != K_SMEAR)
        mgn_input_error("Keyword ANGLE unexpected (keyword SWAP or SMEAR missing)", CURVE_HERE);
      const double angle = mgn_get_next_fpn("Angle specification missing");
      if (angle < 90.0 || angle > 180.0) mgn_input_error("Angle out of permissible range", CURVE_HERE);
      const float stored = static_cast<float>(-std::cos(angle * MGN_PI / 180.0));
      if (previous == K_SWAP)
        curve->swap_angle = stored;
      else
        curve->smear_angle = stored;
      // One angle each for SWAP and SMEAR: ANGLE is guarded by them.
      line.flags[K_ANGLE] = 0;
      break;
    }
    case K_OUTPUT:
      curve->output = curve->output_requested = mgn_read_yes_no("Output specification missing", CURVE_CALLER);
      break;
    case K_BASSOC:
      curve->bassoc = mgn_read_yes_no("Specification of output of boundary association missing", CURVE_CALLER);
      break;
    case K_SLAVE:
      curve->slave = true;
      break;
    case K_MASTER:
      curve->master = true;
      break;
    case K_WEAK:
      line.weak = true;
      break;
    case K_ELEMGROUP:
      mgn_get_next_int("Missing edge elem group id");
      mgn_input.properties_seen = true;
      break;
    case K_NODEPROP:
      mgn_read_property_string("Node property string missing");
      break;
    case K_ELEMPROP:
      mgn_read_property_string("Elem property string missing");
      break;
    case K_SHIFT:
      mgn_read_shift(mgn_input.shift);
      break;
    default:
      break;
  }
}

// The options of the line, up to its end.
void read_curve_options(curve_line& line) {
  for (double& s : mgn_input.shift) s = 0.0;
  int previous = -1;
  char* token = mgn_get_next_token(nullptr);
  while (token != nullptr) {
    const int key = mgn_get_keyword_index(token, keywords, K_KEYWORDS);
    if (key == K_KEYWORDS) mgn_unexpected_keyword(token, CURVE_CALLER);
    mgn_check_keyword_duplicity(key, line.flags, token);
    mgn_check_leading_keyword(leading_keywords, previous, key, CURVE_CALLER);
    char* next = nullptr;  // a token read ahead that is the next option
    switch (key) {
      case K_VERTEX:
      case K_FIXED:
      case K_CURVE:
      case K_SURFACE:
      case K_MIRROR:
      case K_DUPLICATE:
        next = read_curve_relation(line, key, previous);
        break;
      case K_ORDER:
      case K_SIZE:
      case K_RATE:
      case K_DENSITY:
      case K_FACTOR:
      case K_COUNT:
      case K_POLYSIZE:
      case K_TRANSITION:
      case K_EQUIDISTANT:
        next = read_curve_sizing(line, key);
        break;
      case K_VIRTUAL:
      case K_PROPERTY:
      case K_HIDDEN:
      case K_SWAP:
      case K_SMEAR:
      case K_ANGLE:
      case K_OUTPUT:
      case K_BASSOC:
      case K_SLAVE:
      case K_MASTER:
      case K_WEAK:
      case K_ELEMGROUP:
      case K_NODEPROP:
      case K_ELEMPROP:
      case K_SHIFT:
        read_curve_output(line, key, previous);
        break;
      case K_COINCIDE:
        break;
      default:
        // FIT, ITER, LIMIT and DIR are read and dropped; CUR, SUR, DEF, UNI, YES and NO are values,
        // not options.
        if (!mgn_read_fitting_option(token, CURVE_CALLER)) mgn_unexpected_keyword(token, CURVE_CALLER);
    }
    previous = key;
    token = next != nullptr ? next : mgn_get_next_token(nullptr);
  }
  mgn_check_leading_keyword(leading_keywords, previous, -1, CURVE_CALLER);
  if (line.curve->vertex[0] == nullptr) mgn_input_error("Keyword VERTEX missing", CURVE_HERE);
}

// The rules between the options: POLYSIZE only for a computed polygon,
// nothing of its own for a virtual curve, neither property nor count for a
// hidden one, the requests an output or mirrored curve drops, distinct
// vertices for a fixed curve, size sources that exist and physical
// vertices for a physical curve.
void check_curve_options(curve_line& line) {
  mgn_curve* curve = line.curve;
  const long cid = curve->id;
  mgn_curve* parent = curve->parent_curve;
  mgn_surface* surface = curve->parent_surface;
  if (!line.polysize.empty() && !curve->fixed)
    mgn_input_error(mgn_format("Keyword POLYSIZE not expected for non-fixed curve (%ld)", cid), CURVE_HERE);
  // A virtual curve produces no mesh of its own.
  if (curve->is_virtual) {
    curve->hidden = false;
    curve->property = 0;
    curve->output = curve->output_requested = false;
    curve->count = 0;
    curve->swap = curve->smear = false;
    curve->slave = curve->master = false;
  }
  // Hidden curve.
  if (curve->hidden && curve->property != 0) {
    mgn_warning_text(mgn_format("Keyword PROPERTY ignored for hidden curve (%ld)", cid));
    curve->property = 0;
  }
  if (curve->hidden && curve->count != 0) {
    mgn_warning_text(mgn_format("Keyword COUNT ignored for hidden curve (%ld)", cid));
    curve->count = 0;
  }
  if (curve->slave && curve->master)
    mgn_input_error("Keywords SLAVE and MASTER cannot be used together", CURVE_HERE);
  // Output curve.
  if (curve->output_requested) {
    if (curve->hidden) {
      mgn_warning_text(mgn_format("Keyword HIDDEN ignored for output curve (%ld)", cid));
      curve->hidden = false;
    }
    if (curve->swap) {
      mgn_warning_text(mgn_format("Keyword SWAP ignored for output curve (%ld)", cid));
      curve->swap = false;
    }
    if (curve->smear) {
      mgn_warning_text(mgn_format("Keyword SMEAR ignored for output curve (%ld)", cid));
      curve->smear = false;
    }
  }
  if ((curve->swap || curve->smear) && curve->hidden) {
    mgn_warning("Warning: Keyword HIDDEN ignored for curve subjected to swapping or smearing\n");
    curve->hidden = false;
  }
  // Mirror.
  if (line.mirror != nullptr && line.mirror->is_virtual) {
    mgn_warning_text(mgn_format("Keyword MIRROR ignored for curve %ld mirroring virtual curve (%ld)", cid, mgn_lid(line.mirror)));
    line.mirror = nullptr;
  }
  if (line.mirror != nullptr) {
    if (curve->count != 0) {
      mgn_warning_text(mgn_format("Keyword COUNT ignored for mirrored curve (%ld)", cid));
      curve->count = 0;
    }
    if (line.flags[K_OUTPUT] != 0 && !curve->output) {
      mgn_warning_text(mgn_format("Keyword OUTPUT ignored for mirrored curve (%ld)", cid));
      curve->output = true;
    }
    if (curve->fixed && mgn_get_top_physical_curve(curve) != curve)
      mgn_input_error(mgn_format("Mirrored curve (%ld) can have virtual parent curves only", cid), CURVE_HERE);
  }
  line.identical_vertices = mgn_get_common_root_vertex(curve->vertex[0], curve->vertex[1]) != nullptr;
  if (curve->fixed && line.identical_vertices)
    mgn_input_error(mgn_format("Identical vertices for fixed curve (%ld) specification not allowed", cid),
                    CURVE_HERE);
  if (line.size_source == K_CUR && parent == nullptr)
    mgn_input_error(mgn_format("Mesh size of curve (%ld) inherited from non-existent parent curve", cid),
                    CURVE_HERE);
  if (line.size_source == K_SUR && surface == nullptr)
    mgn_input_error(mgn_format("Mesh size of curve (%ld) inherited from non-existent parent surface", cid),
                    CURVE_HERE);
  if (!curve->is_virtual)
    for (mgn_vertex* vertex : curve->vertex)
      if (vertex->is_virtual)
        mgn_input_error(mgn_format("Virtual vertex (%ld) cannot form boundary of physical curve (%ld)", mgn_lid(vertex), cid),
                        CURVE_HERE);
}

// The size, rate and density of the curve.
void settle_curve_sizes(curve_line& line) {
  mgn_curve* curve = line.curve;
  const long cid = curve->id;
  mgn_curve* parent = curve->parent_curve;
  mgn_surface* surface = curve->parent_surface;
  if (mgn_set.size_factor == 0.0) {
    line.size = 0.0;
    curve->factor = 0.0f;
  } else {
    switch (line.size_source) {
      case K_CUR: line.size = parent->size; break;
      case K_SUR: line.size = surface->size; break;
      case K_DEF: line.size = mgn_set.default_size; break;
      case K_UNI: line.size = mgn_set.uniform_size; break;
      default: break;
    }
    line.size *= line.size_multiplier;
    if ((line.size_source == K_DEF || line.size_source == K_UNI) && line.size == 0.0 && curve->factor != 0.0f)
      mgn_warning_text(mgn_format("Default zero mesh size specification detected at curve %ld", cid));
    if (mgn_resolve_polysize(line.polysize, K_DEF, K_UNI)) mgn_warning_text(mgn_format("Default zero polysize specification detected at curve %ld", cid));
  }
  curve->size = static_cast<float>(line.size);
  curve->rate = static_cast<float>(line.rate * line.rate_multiplier);
  curve->density = static_cast<float>(line.density * line.density_multiplier);
}

// A curve fixed to a parent curve: its ends on the parent, with their
// parameters, and the options a physical parent excludes.
void fix_on_parent_curve(curve_line& line) {
  mgn_curve* curve = line.curve;
  const long cid = curve->id;
  mgn_curve* parent = curve->parent_curve;
  if (parent != nullptr) {
    curve->shape_order = parent->shape_order;
    curve->second_order = parent->second_order;
    if (parent->collapsed) curve->collapsed = true;
    if (!curve->is_virtual && !parent->is_virtual) {
      if (line.flags[K_PROPERTY] != 0)
        mgn_input_error(mgn_format("Keyword PROPERTY not expected for fixed curve (%ld) with physical parent curve (%ld)",
                                   cid, mgn_lid(parent)),
                        CURVE_HERE);
      if (curve->slave)
        mgn_input_error(mgn_format("Keyword SLAVE not expected for fixed curve (%ld) with physical parent curve (%ld)",
                                   cid, mgn_lid(parent)),
                        CURVE_HERE);
      if (curve->master)
        mgn_input_error(mgn_format("Keyword MASTER not expected for fixed curve (%ld) with physical parent curve (%ld)",
                                   cid, mgn_lid(parent)),
                        CURVE_HERE);
      if (line.mirror != nullptr) {
        mgn_warning("Warning: Keyword MIRROR ignored for fixed curve %ld\n", cid);
        line.mirror = nullptr;
      }
    }
    for (int e = 0; e < 2; ++e) {
      mgn_vertex* vertex = curve->vertex[e];
      mgn_vertex* at = nullptr;
      if (!vertex_on_curve(vertex, parent, &line.end_t[e], &at)) {
        note_offending(curve, vertex, parent, nullptr);
        mgn_input_error(mgn_format("Vertex %ld of curve %ld is not fixed to parent curve %ld", mgn_lid(vertex), cid, mgn_lid(parent)),
                        CURVE_HERE);
      }
      const bool parent_end = at == parent->vertex[0] || at == parent->vertex[1];
      const double parent_weight =
          parent_end ? at->ctrl_point->w : mgn_get_curve_weight(parent, line.end_t[e]);
      if (!same_weight(vertex->ctrl_point->w, parent_weight)) {
        note_offending(curve, vertex, parent, nullptr);
        if (parent_end)
          mgn_input_error(mgn_format("Vertex %ld cannot bound fixed curve %ld\nIt differs in weight from vertex %ld of "
                                     "parent curve %ld",
                                     mgn_lid(vertex), cid, mgn_lid(at), mgn_lid(parent)),
                          CURVE_HERE);
        mgn_input_error(mgn_format("Vertex %ld cannot bound fixed curve %ld\nIt differs in weight from parent curve %ld",
                                   mgn_lid(vertex), cid, mgn_lid(parent)),
                        CURVE_HERE);
      }
    }
  }
}

// A curve fixed to a parent surface: its ends on the surface, the
// iso-parametric line it follows, and no vertex or curve of the surface in
// its way.
void fix_on_parent_surface(curve_line& line) {
  mgn_curve* curve = line.curve;
  const long cid = curve->id;
  mgn_surface* surface = curve->parent_surface;
  if (surface != nullptr) {
    if (!curve->is_virtual && surface->is_virtual) {
      for (mgn_surface* s = surface->parent_surface; s != nullptr && !s->hole; s = s->parent_surface)
        if (!s->is_virtual) {
          mgn_warning("Warning: Curve %ld will be ignored when discretizing surface %ld\n", cid, mgn_lid(s));
          break;
        }
    }
    if (!surface->is_virtual && line.mirror != nullptr) {
      mgn_warning("Warning: Keyword MIRROR ignored for fixed curve %ld\n", cid);
      line.mirror = nullptr;
    }
    for (int e = 0; e < 2; ++e) {
      mgn_vertex* vertex = curve->vertex[e];
      if (!vertex_on_surface(vertex, surface, curve->parent_uv[e])) {
        note_offending(curve, vertex, nullptr, surface);
        mgn_input_error(
            mgn_format("Vertex %ld of curve %ld is not fixed to parent surface %ld", mgn_lid(vertex), cid, mgn_lid(surface)),
            CURVE_HERE);
      }
      const double w = mgn_get_surface_weight(surface, curve->parent_uv[e][0], curve->parent_uv[e][1]);
      if (!same_weight(vertex->ctrl_point->w, w)) {
        note_offending(curve, vertex, nullptr, surface);
        mgn_input_error(mgn_format("Vertex %ld cannot bound fixed curve %ld\nIt differs in weight from parent surface %ld",
                                   mgn_lid(vertex), cid, mgn_lid(surface)),
                        CURVE_HERE);
      }
    }
    const double* s = curve->parent_uv[0];
    const double* e = curve->parent_uv[1];
    const bool same_u = std::fabs(s[0] - e[0]) <= parameter_tolerance;
    const bool same_v = std::fabs(s[1] - e[1]) <= parameter_tolerance;
    if (same_u && same_v) {
      note_offending(curve, nullptr, nullptr, surface);
      mgn_input_error(mgn_format("Fixation of curve %ld to parametric curve on surface %ld is not unique", cid, mgn_lid(surface)),
                      CURVE_HERE);
    }
    if (!curve_iso_line(curve, &line.iso)) {
      note_offending(curve, nullptr, nullptr, surface);
      mgn_input_error(
          mgn_format("Curve %ld does not coincide with any parametric curve on surface %ld", cid, mgn_lid(surface)),
          CURVE_HERE);
    }
    if (line.iso.constant <= parameter_tolerance || line.iso.constant >= 1.0 - parameter_tolerance) {
      note_offending(curve, nullptr, nullptr, surface);
      mgn_input_error(mgn_format("Curve %ld cannot coincide with boundary of surface %ld", cid, mgn_lid(surface)),
                      CURVE_HERE);
    }
    const double lo = std::min(line.iso.a, line.iso.b), hi = std::max(line.iso.a, line.iso.b);
    for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(surface->fixed_vertices)) {
      if (vertex->is_virtual || vertex == curve->vertex[0] || vertex == curve->vertex[1]) continue;
      const double along = vertex->param[line.iso.direction], across = vertex->param[1 - line.iso.direction];
      if (std::fabs(across - line.iso.constant) <= parameter_tolerance && along > lo + parameter_tolerance &&
          along < hi - parameter_tolerance) {
        note_offending(curve, vertex, nullptr, surface);
        mgn_input_error(mgn_format("Vertex %ld intersects curve %ld on surface %ld", mgn_lid(vertex), cid, mgn_lid(surface)),
                        CURVE_HERE);
      }
    }
    for (mgn_curve* other : mgn_list_range<mgn_curve>(surface->fixed_curves)) {
      if (other == curve || other->is_virtual) continue;
      iso_line other_line;
      if (!curve_iso_line(other, &other_line)) continue;
      if (iso_lines_cross(line.iso, other_line)) {
        note_offending(curve, nullptr, other, surface);
        mgn_input_error(mgn_format("Curve %ld intersects curve %ld on surface %ld", cid, mgn_lid(other), mgn_lid(surface)),
                        CURVE_HERE);
      }
    }
    curve->shape_order = line.iso.direction == 0 ? surface->shape_order_u : surface->shape_order_v;
    curve->second_order = line.iso.direction == 0 ? surface->order_u : surface->order_v;
  }
}

// The order (a fixed curve takes at least its parent's) and the direction
// of a fixed curve, which runs along its parent.
void settle_curve_order(curve_line& line) {
  mgn_curve* curve = line.curve;
  const long cid = curve->id;
  mgn_curve* parent = curve->parent_curve;
  mgn_surface* surface = curve->parent_surface;
  if (curve->fixed) {
    const int parent_order =
        parent != nullptr ? parent->order : (line.iso.direction == 0 ? surface->order_u : surface->order_v);
    if (line.order != 0 && line.order < parent_order) {
      mgn_warning_text(mgn_format("Invalid order specification for fixed curve %ld", cid));
      line.order = parent_order;
    }
    if (line.order == 0) line.order = parent_order;
    const bool backward = parent != nullptr ? line.end_t[0] > line.end_t[1] : line.iso.a > line.iso.b;
    if (backward) {
      std::swap(curve->vertex[0], curve->vertex[1]);
      std::swap(line.end_t[0], line.end_t[1]);
      std::swap(curve->parent_uv[0][0], curve->parent_uv[1][0]);
      std::swap(curve->parent_uv[0][1], curve->parent_uv[1][1]);
      std::swap(line.iso.a, line.iso.b);
      curve->reversed = true;
    }
    if (parent != nullptr) {
      curve->parent_t[0] = line.end_t[0];
      curve->parent_t[1] = line.end_t[1];
      if (!curve->is_virtual && !parent->is_virtual) mgn_update_curve_vertex_fix_up(curve);
    }
  } else if (line.order == 0) {
    line.order = 2;
  }
  curve->order = static_cast<int16_t>(line.order);
  if (!curve->fixed) curve->shape_order = curve->order;
}

// The vertices of a physical curve and their top physical parents learn
// that they bound it.
void register_curve_vertices(curve_line& line) {
  mgn_curve* curve = line.curve;
  if (!curve->is_virtual) {
    mgn_vertex* tops[2];
    for (int e = 0; e < 2; ++e) {
      curve->vertex[e]->bounds_curve = true;
      tops[e] = mgn_get_top_physical_vertex(curve->vertex[e]);
      tops[e]->bounds_curve = true;
    }
    mgn_add_item_to_head(tops[0]->curves, curve);
    if (tops[1] != tops[0]) mgn_add_item_to_head(tops[1]->curves, curve);
  }
}

// The mirror link and the control polygon: computed from the parent for a
// fixed curve, read from the polygon lines otherwise.
void make_curve_polygon(curve_line& line) {
  mgn_curve* curve = line.curve;
  const long cid = curve->id;
  mgn_curve* parent = curve->parent_curve;
  mgn_surface* surface = curve->parent_surface;
  curve->mirrored = line.mirror;
  curve->weak_mirror = line.mirror != nullptr && line.weak;
  if (!curve->fixed) mgn_create_curve_ctrl_polygon(curve);

  if (curve->fixed) {
    // The polygon computed from the parent.
    if (parent != nullptr) {
      mgn_copy_parent_curve_polygon(curve, parent);
      const double t0 = line.end_t[0], t1 = line.end_t[1];
      if (t1 < 1.0) mgn_split_curve_polygon_head(curve, t1);
      if (t0 > 0.0 && t1 > 0.0) mgn_split_curve_polygon_tail(curve, t0 / t1);
    } else {
      mgn_get_iso_curve_polygon(curve, surface, line.iso.constant, line.iso.direction);
      const double t0 = line.iso.a, t1 = line.iso.b;
      if (t1 < 1.0) mgn_split_curve_polygon_head(curve, t1);
      if (t0 > 0.0 && t1 > 0.0) mgn_split_curve_polygon_tail(curve, t0 / t1);
    }
    mgn_attach_curve_polygon_ends(curve);
    if (!line.polysize.empty()) {
      if (static_cast<int>(line.polysize.size()) != curve->order - 2)
        mgn_input_error(mgn_format("Order of curve %ld is in conflict with number of poly size parameters", cid),
                        CURVE_HERE);
      auto& polygon = curve->polygon[0];
      for (int i = 0; i < static_cast<int>(line.polysize.size()); ++i) {
        const int k = curve->reversed ? curve->order - 2 - i : 1 + i;
        polygon[k]->size = static_cast<float>(line.polysize[i].value);
      }
    }
    if (parent != nullptr && parent->collapsed && !line.identical_vertices)
      mgn_input_error(mgn_format("Fixed collapsed curve (%ld) must have identical vertices", cid), CURVE_HERE);
  } else {
    // The polygon lines and the collapse test.
    if (curve->order > 2) {
      mgn_input_curve_polygon(curve);
      line.resume_line = mgn_input.line_number;
      mgn_input.line_number = line.curve_line;
    }
    // Negative weights are allowed, a weight function that reaches zero is
    // not: the curve would pass through infinity there.
    if (curve->order > 2) {
      double w[MGN_MAX_ORDER];
      for (int i = 0; i < curve->order; ++i) w[i] = curve->polygon[0][i]->w;
      double t = 0.0, unused = 0.0;
      if (mgn_find_vanishing_weight(w, curve->order, 1, &t, &unused))
        mgn_input_error(mgn_format("Zero weight detected on curve %ld at t = %f", cid, t), CURVE_HERE);
    }
    if (!mgn_check_curve_collapse(curve) && line.identical_vertices && curve->order > 2)
      mgn_input_error(
          mgn_format("Identical vertices for non-collapsed higher order curve (%ld) specification not allowed", cid),
          CURVE_HERE);
    bool negative_weight = false;
    for (const mgn_ctrl_point* point : curve->polygon[0]) negative_weight = negative_weight || point->w < 0.0;
    curve->second_order = static_cast<int16_t>(negative_weight ? curve->order + 1 : curve->order);
  }
}

// The bounding box, and the duplicated and coinciding curves linked with
// the curve.
void link_curve_relatives(curve_line& line) {
  mgn_curve* curve = line.curve;
  const long cid = curve->id;
  mgn_get_curve_bounding_box(curve, curve->box);

  // Duplication.
  if (line.duplicate != nullptr && line.duplicate->is_virtual) {
    mgn_warning_text(mgn_format("Keyword DUPLICATE ignored for curve %ld duplicating virtual curve (%ld)", cid, mgn_lid(line.duplicate)));
    line.duplicate = nullptr;
  }
  if (line.duplicate != nullptr) {
    curve->duplicated = line.duplicate;
    mgn_link_coinciding(curve, line.duplicate, &mgn_curve::duplicates);
  }
  // Coinciding curves.
  for (mgn_curve* other : mgn_list_range<mgn_curve>(mgn_input.coinciding)) {
    if (curve->is_virtual || other->is_virtual) mgn_input_error("Only physical curves can be coinciding", CURVE_HERE);
    if (mgn_get_top_physical_curve(curve) != curve)
      mgn_input_error(mgn_format("Only top physical parent curve (%ld) can be coinciding", cid), CURVE_HERE);
    if (mgn_get_top_physical_curve(other) != other)
      mgn_input_error(mgn_format("Only top physical parent curve (%ld) can be coinciding", mgn_lid(other)), CURVE_HERE);
    mgn_link_coinciding(curve, other, &mgn_curve::coinciding_curves);
  }
}

}  // namespace

mgn_curve* mgn_input_curve() {
  const int32_t id = mgn_get_next_int("Missing curve id");
  if (id < 1) mgn_input_error("Positive curve id required", CURVE_HERE);
  if (mgn_find_curve(id) != nullptr)
    mgn_input_error(mgn_format("Multiple instance of curve %ld detected", static_cast<long>(id)), CURVE_HERE);
  curve_line line;
  line.curve = mgn_create_curve(id);
  mgn_input.building = line.curve;
  mgn_input.building_kind = MGN_CURVE;
  mgn_destroy_list(mgn_input.coinciding);
  line.rate = line.curve->rate;
  line.density = line.curve->density;

  read_curve_options(line);
  line.curve_line = line.resume_line = mgn_input.line_number;
  check_curve_options(line);
  settle_curve_sizes(line);
  if (line.curve->parent_curve != nullptr) fix_on_parent_curve(line);
  if (line.curve->parent_surface != nullptr) fix_on_parent_surface(line);
  settle_curve_order(line);
  register_curve_vertices(line);
  make_curve_polygon(line);
  link_curve_relatives(line);
  mgn_destroy_list(mgn_input.coinciding);
  mgn_input.line_number = line.resume_line;
  return line.curve;
}

#undef CURVE_HERE
#undef CURVE_CALLER

// ---------------------------------------------------------------------------
// POLYGON lines
// ---------------------------------------------------------------------------

void mgn_input_curve_polygon(mgn_curve* curve) {
  const char* routine = __func__;  // the place of errors met while reading POLY
  const int n = curve->order;
  const long cid = curve->id;
  auto& polygon = curve->polygon[0];
  bool defined[MGN_MAX_ORDER] = {};
  defined[0] = defined[n - 1] = true;

  for (int lines = 0; lines < n - 2; ++lines) {
    char* token = mgn_get_first_token("Unexpected end of input file encountered");
    const int first = mgn_get_keyword_index(token, polygon_keywords, MGN_P_KEYWORDS);
    if (first == MGN_P_POLYEND) {
      if (char* extra = mgn_get_next_token(nullptr); extra != nullptr) {
        mgn_get_keyword_index(extra, polygon_keywords, MGN_P_KEYWORDS);
        mgn_unexpected_keyword(extra, MGN_INPUT_CALLER);
      }
      return;
    }
    if (first != MGN_P_POLYGON)
      mgn_input_error(mgn_format("Keyword POLYGON expected for curve %ld", cid), MGN_INPUT_HERE);
    const int32_t k = mgn_get_next_int("Missing ctrl point id");
    if (k < 1 || k > n - 2) mgn_input_error("Ctrl point id out of range", MGN_INPUT_HERE);
    if (defined[k]) mgn_input_error(mgn_format("Multiple instance of ctrl point %d detected", k), MGN_INPUT_HERE);

    const auto read_poly = [&]() -> const mgn_ctrl_point* {
      const int32_t j = mgn_get_next_int("Missing parent ctrl point id");
      if (j < 0 || j > n - 1) mgn_input_error("Fixed ctrl point id out of range", MGN_INPUT_AT(routine));
      if (!defined[j]) mgn_input_error(mgn_format("Ctrl point %d does not exist", j), MGN_INPUT_AT(routine));
      return polygon[j];
    };
    const mgn_polygon_line line{polygon_keywords, "Keyword XYZ not expected for fixed ctrl point", std::to_string(k),
                                "curve", cid, curve->size, curve->factor};
    mgn_read_polygon_point(polygon[k], line, read_poly, MGN_INPUT_CALLER);
    defined[k] = true;
  }
}
