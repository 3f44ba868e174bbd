// Surface records, the surface store, the SURFACE line parser with its
// polygon lines, and the global attraction of a surface.
//
// Sides and corners (see mgn_surface in records.h): the four curves of a
// definition are sides 0 to 3 in the order written, going around the
// surface; corner k is shared by sides k and k + 1 (mod 4).  Side 0 runs from
// corner 0 to corner 3, side 1 from corner 0 to corner 1, side 2 from corner
// 1 to corner 2 and side 3 from corner 3 to corner 2; a curve that runs the
// other way has its reversed flag set.
#include "surface.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "bezier.h"
#include "curve.h"
#include "geom.h"
#include "input.h"
#include "list.h"
#include "message.h"
#include "patch.h"
#include "shell.h"
#include "vertex.h"

// The parser and its parts report under the parser's name.
constexpr const char* kInputSurface = "mgn_input_surface";
#define SURFACE_HERE MGN_INPUT_AT(kInputSurface)
#define SURFACE_CALLER mgn_input_caller{kInputSurface, __FILE__, __LINE__}

namespace {

// Option keywords of a surface definition, in table order.
enum surface_keyword : int {
  K_VIRTUAL, K_ORDER, K_FIXED, K_SURFACE, K_PATCH, K_SHELL, K_CURVE, K_VERTEX, K_SIZE, K_RATE,
  K_FACTOR, K_ATTRACT, K_PROPERTY, K_HIDDEN, K_HOLE, K_OUTPUT, K_BASSOC, K_POLYSIZE, K_QUAD, K_MAP,
  K_DIAGONAL, K_SUR, K_DEF, K_UNI, K_ALL, K_YES, K_NO, K_POSITIVE, K_NEGATIVE, K_POINT, K_NONE,
  K_FIT, K_ITER, K_LIMIT, K_DIR, K_X, K_Y, K_Z, K_XY, K_YZ, K_XZ, K_XYZ, K_F, K_T, K_N,
  K_EQUIDISTANT, K_DUPLICATE, K_COINCIDE, K_SLAVE, K_MIRROR, K_WEAK, K_ELEMGROUP, K_NODEPROP,
  K_ELEMPROP, K_LCS, K_SHIFT, K_KEYWORDS
};
const char* const keywords[K_KEYWORDS] = {
    "VIRTUAL",  "ORDER",    "FIXED",    "SURFACE",  "PATCH",       "SHELL",     "CURVE",    "VERTEX",
    "SIZE",     "RATE",     "FACTOR",   "ATTRACT",  "PROPERTY",    "HIDDEN",    "HOLE",     "OUTPUT",
    "BASSOC",   "POLYSIZE", "QUAD",     "MAP",      "DIAGONAL",    "SUR",       "DEF",      "UNI",
    "ALL",      "YES",      "NO",       "POSITIVE", "NEGATIVE",    "POINT",     "NONE",     "FIT",
    "ITER",     "LIMIT",    "DIR",      "X",        "Y",           "Z",         "XY",       "YZ",
    "XZ",       "XYZ",      "F",        "T",        "N",           "EQUIDISTANT", "DUPLICATE", "COINCIDE",
    "SLAVE",    "MIRROR",   "WEAK",     "ELEMGROUP", "NODEPROP",   "ELEMPROP",  "LCS",      "SHIFT"};

// Keywords that must be followed by one of some others.
constexpr mgn_leading_keyword leading_keywords[] = {
    {K_FIXED, {K_SURFACE}, "Keyword SURFACE missing (redundant keyword FIXED)", "Keyword SURFACE missing"},
    {K_COINCIDE, {K_SURFACE, K_PATCH, K_SHELL}, "Keyword SURFACE or PATCH or SHELL missing (redundant keyword COINCIDE)",
     "Keyword SURFACE or PATCH or SHELL missing"},
    {K_ATTRACT, {K_ALL, K_VERTEX, K_CURVE}, "Keyword ALL or VERTEX or CURVE missing (redundant keyword ATTRACT)",
     "Keyword ALL or VERTEX or CURVE missing"},
    {K_DIAGONAL, {K_NONE, K_POSITIVE, K_NEGATIVE, K_POINT},
     "Keyword NONE or POSITIVE or NEGATIVE or POINT missing (redundant keyword DIAGONAL)",
     "Diagonal specification missing"},
    {K_WEAK, {K_MIRROR}, "Keyword MIRROR missing (redundand keyword WEAK)", "Keyword MIRROR missing"}};

// Keywords of a polygon line, in table order (mgn_polygon_keyword).
const char* const polygon_keywords[MGN_P_KEYWORDS] = {"POLYGON", "XYZ", "POLY", "WEIGHT", "SIZE", "POLYEND", "SUR",
                                                  "DEF",     "UNI", "DIR",  "X",      "Y",    "Z",       "XY",
                                                  "YZ",      "XZ",  "F",    "T",      "N"};

// Most POLYSIZE values of a surface: one per inner control point at most.
constexpr int max_polysize = 256;

// Tolerance of comparisons of parameters on a parent surface.
constexpr double parameter_tolerance = 1e-9;

// Corners at the start and at the end of each side.
constexpr int start_corner[4] = {0, 0, 1, 3};
constexpr int end_corner[4] = {3, 1, 2, 2};

// Relative difference of 0.00001 or more.
bool differ(double a, double b) {
  const double d = std::fabs(a - b);
  return d > 0.0 && d >= 1e-5 * std::max(std::fabs(a), std::fabs(b));
}

void note_offending(mgn_surface* surface, mgn_curve* first, mgn_curve* second) {
  mgn_note_partial_surface(surface);
  if (first != nullptr) mgn_note_partial_curve(first);
  if (second != nullptr) mgn_note_partial_curve(second);
}

// The vertex of a side at one of its corners, for the orientation r of the
// side (r = 1: the curve runs from the side's end corner to its start
// corner).
mgn_vertex* side_vertex(const mgn_curve* curve, int side, int corner, int r) {
  const bool at_start = corner == start_corner[side];
  return curve->vertex[at_start == (r == 0) ? 0 : 1];
}

bool same_corner(mgn_vertex* a, mgn_vertex* b) { return a == b || mgn_get_common_root_vertex(a, b) != nullptr; }

// Corners and orientations of the sides: the checks of each pair of
// neighbouring sides, of the opposite sides, and the consistent choice of
// the corner vertices.
void set_corners(mgn_surface* surface) {
  const long sid = mgn_lid(surface);
  mgn_curve* const* c = surface->curve;
  for (int k = 0; k < 4; ++k) {
    mgn_curve* a = c[k];
    mgn_curve* b = c[(k + 1) % 4];
    if (a->collapsed && b->collapsed) {
      note_offending(surface, a, b);
      mgn_input_error(mgn_format("Neighbouring curves %ld and %ld of surface %ld are collapsed", mgn_lid(a), mgn_lid(b), sid),
                      SURFACE_HERE);
    }
    if (mgn_check_curve_identity(a, b)) {
      note_offending(surface, a, b);
      mgn_input_error(mgn_format("Neighbouring curves %ld and %ld of surface %ld are coinciding", mgn_lid(a), mgn_lid(b), sid),
                      SURFACE_HERE);
    }
    bool common = false, rooted = false, physical = false;
    for (mgn_vertex* p : a->vertex)
      for (mgn_vertex* q : b->vertex) {
        if (p == q) common = true;
        if (mgn_get_common_root_vertex(p, q) != nullptr) {
          rooted = true;
          if (mgn_get_top_physical_vertex(p) == mgn_get_top_physical_vertex(q)) physical = true;
        }
      }
    if (common) continue;
    if (!rooted) {
      note_offending(surface, a, b);
      mgn_input_error(
          mgn_format("Neighbouring curves %ld and %ld of surface %ld have no common vertex", mgn_lid(a), mgn_lid(b), sid),
          SURFACE_HERE);
    }
    if (!surface->is_virtual && !physical) {
      note_offending(surface, a, b);
      mgn_input_error(mgn_format("Neighbouring curves %ld and %ld of physical surface %ld have no common physical vertex",
                                 mgn_lid(a), mgn_lid(b), sid),
                      SURFACE_HERE);
    }
  }
  for (int k = 0; k < 2; ++k)
    if (mgn_check_curve_identity(c[k], c[k + 2])) {
      note_offending(surface, c[k], c[k + 2]);
      mgn_input_error(
          mgn_format("Opposite curves %ld and %ld of surface %ld are coinciding", mgn_lid(c[k]), mgn_lid(c[k + 2]), sid),
          SURFACE_HERE);
    }
  // Orientation of the sides: every corner must be formed by the two sides
  // meeting there; among the consistent choices the one with the most
  // corners formed by one and the same vertex wins (the first of them; a
  // collapsed side keeps its own direction).
  int best = -1, best_score = -1;
  for (int combo = 0; combo < 16; ++combo) {
    bool redundant = false;
    for (int s = 0; s < 4; ++s)
      if (c[s]->collapsed && ((combo >> s) & 1) != 0) redundant = true;
    if (redundant) continue;
    int score = 0;
    bool valid = true;
    for (int k = 0; k < 4 && valid; ++k) {
      const int s1 = k, s2 = (k + 1) % 4;
      mgn_vertex* p = side_vertex(c[s1], s1, k, (combo >> s1) & 1);
      mgn_vertex* q = side_vertex(c[s2], s2, k, (combo >> s2) & 1);
      if (!same_corner(p, q)) valid = false;
      if (p == q) ++score;
    }
    if (valid && score > best_score) {
      best = combo;
      best_score = score;
    }
  }
  if (best < 0) {
    note_offending(surface, nullptr, nullptr);
    mgn_input_error(mgn_format("Invalid topology of surface %ld", sid), SURFACE_HERE);
  }
  for (int s = 0; s < 4; ++s) surface->reversed[s] = ((best >> s) & 1) != 0;
  // Corner vertices; two distinct vertices of one root at a corner must
  // agree in weight, and their mesh sizes are made equal.
  for (int k = 0; k < 4; ++k) {
    const int s1 = k, s2 = (k + 1) % 4;
    mgn_vertex* p = side_vertex(c[s1], s1, k, surface->reversed[s1]);
    mgn_vertex* q = side_vertex(c[s2], s2, k, surface->reversed[s2]);
    surface->vertex[k] = p;
    if (p == q) continue;
    if (differ(p->ctrl_point->w, q->ctrl_point->w)) {
      note_offending(surface, c[s1], c[s2]);
      mgn_note_partial_vertex(p);
      mgn_note_partial_vertex(q);
      mgn_input_error(mgn_format("Vertices %ld and %ld bounding curves %ld and %ld of surface %ld differ in weight",
                                 mgn_lid(p), mgn_lid(q), mgn_lid(c[s1]), mgn_lid(c[s2]), sid),
                      SURFACE_HERE);
    }
    const double sp = p->ctrl_point->size, sq = q->ctrl_point->size;
    if (differ(sp, sq)) {
      mgn_vertex* larger = sp > sq ? p : q;
      const float smaller = static_cast<float>(std::min(sp, sq));
      larger->ctrl_point->size = smaller;
      larger->size = smaller * larger->factor;
      mgn_warning(
          "Warning: Vertices %ld and %ld bounding curves %ld and %ld of surface %ld differ in mesh size\n"
          "         Mesh size at vertex %ld has been modified to %e\n",
          mgn_lid(p), mgn_lid(q), mgn_lid(c[s1]), mgn_lid(c[s2]), sid, mgn_lid(larger), static_cast<double>(smaller));
    }
  }
}

// The iso-parametric line of a side of a fixed surface on its parent: the
// (u, v) of its two ends.
struct side_line {
  double a[2], b[2];
};

bool near_value(double x, double value) { return std::fabs(x - value) <= parameter_tolerance; }

// Checks of a surface fixed to a parent surface that precede the corners:
// the fixation to a fixed virtual parent, collapsed sides, sides not fixed
// to the parent, the border of the parent, and the side ordering.
void check_fixed_sides(mgn_surface* surface, side_line lines[4]) {
  const long sid = mgn_lid(surface);
  mgn_surface* parent = surface->parent_surface;
  if (!surface->is_virtual && parent->is_virtual && parent->parent_surface != nullptr) {
    note_offending(surface, nullptr, nullptr);
    mgn_input_error(
        mgn_format("Physical surface (%ld) cannot be fixed to fixed virtual surface (%ld)", sid, mgn_lid(parent)),
        SURFACE_HERE);
  }
  for (mgn_curve* curve : surface->curve)
    if (curve->collapsed) {
      note_offending(surface, curve, nullptr);
      mgn_input_error(mgn_format("Curve %ld of fixed surface %ld is collapsed", mgn_lid(curve), sid),
                      SURFACE_HERE);
    }
  for (int s = 0; s < 4; ++s) {
    mgn_curve* curve = surface->curve[s];
    if (!mgn_get_surface_curve_uv(parent, curve, lines[s].a, lines[s].b)) {
      note_offending(surface, curve, nullptr);
      mgn_input_error(
          mgn_format("Curve %ld of fixed surface %ld is not fixed to surface %ld", mgn_lid(curve), sid, mgn_lid(parent)),
          SURFACE_HERE);
    }
  }
  if (!surface->is_virtual) {
    for (int s = 0; s < 4; ++s)
      for (int e = 0; e < 2; ++e)
        for (int k = 0; k < 2; ++k) {
          const double* uv = e == 0 ? lines[s].a : lines[s].b;
          if (uv[k] <= parameter_tolerance || uv[k] >= 1.0 - parameter_tolerance) {
            note_offending(surface, nullptr, nullptr);
            mgn_input_error(
                mgn_format("Physical surface %ld cannot touch border of its parent surface %ld", sid, mgn_lid(parent)),
                SURFACE_HERE);
          }
        }
  }
  // Sides 0 and 2 are lines v = const (side 0 the lower), sides 1 and 3
  // lines u = const (side 1 the lower), as on the parent.
  bool ordered = true;
  for (int s = 0; s < 4; ++s) {
    const int constant = s % 2 == 0 ? 1 : 0;
    if (!near_value(lines[s].a[constant], lines[s].b[constant]) ||
        near_value(lines[s].a[1 - constant], lines[s].b[1 - constant]))
      ordered = false;
  }
  if (ordered && (lines[0].a[1] >= lines[2].a[1] || lines[1].a[0] >= lines[3].a[0])) ordered = false;
  if (!ordered) {
    note_offending(surface, nullptr, nullptr);
    mgn_input_error(mgn_format("Invalid side ordering of surface %ld", sid), SURFACE_HERE);
  }
}

// The parameter range of a fixed surface on its parent from its sides; the
// sides must close a rectangle.
void set_fixed_range(mgn_surface* surface, const side_line lines[4]) {
  surface->umin = lines[1].a[0];
  surface->umax = lines[3].a[0];
  surface->vmin = lines[0].a[1];
  surface->vmax = lines[2].a[1];
  const double u[2] = {surface->umin, surface->umax}, v[2] = {surface->vmin, surface->vmax};
  for (int s = 0; s < 4; ++s) {
    const int along = s % 2 == 0 ? 0 : 1;
    const double* range = along == 0 ? u : v;
    const double lo = std::min(lines[s].a[along], lines[s].b[along]);
    const double hi = std::max(lines[s].a[along], lines[s].b[along]);
    if (!near_value(lo, range[0]) || !near_value(hi, range[1])) {
      note_offending(surface, surface->curve[s], nullptr);
      mgn_input_error(mgn_format("Invalid topology of surface %ld", mgn_lid(surface)), SURFACE_HERE);
    }
  }
}

// Parameter on the child of parameter x on the parent.
double to_child(double x, double lo, double hi) { return 1.0 - (hi - x) / (hi - lo); }

bool strictly_inside(const mgn_surface* child, double u, double v) {
  return u > child->umin + parameter_tolerance && u < child->umax - parameter_tolerance &&
         v > child->vmin + parameter_tolerance && v < child->vmax - parameter_tolerance;
}

bool inside_closed(const mgn_surface* child, double u, double v) {
  return u >= child->umin - parameter_tolerance && u <= child->umax + parameter_tolerance &&
         v >= child->vmin - parameter_tolerance && v <= child->vmax + parameter_tolerance;
}

// Physical vertices, curves and child surfaces fixed to the parent that lie
// inside the range of a new physical child move to the child.
void localize_on_child(mgn_surface* child) {
  mgn_surface* parent = child->parent_surface;
  const long sid = mgn_lid(child);
  // Entity lists hold the newest first: the entities are gathered in
  // input order and moved in that order to the head of the child's lists.
  std::vector<mgn_surface*> surfaces;
  for (mgn_surface* other : mgn_list_range<mgn_surface>(parent->child_surfaces))
    if (other != child && !other->is_virtual && strictly_inside(child, other->umin, other->vmin) &&
        strictly_inside(child, other->umax, other->vmax))
      surfaces.push_back(other);
  std::vector<mgn_vertex*> vertices;
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(parent->fixed_vertices))
    if (!vertex->is_virtual && strictly_inside(child, vertex->param[0], vertex->param[1])) vertices.push_back(vertex);
  std::vector<mgn_curve*> curves;
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(parent->fixed_curves)) {
    if (curve->is_virtual || curve->parent_surface != parent) continue;
    const double* a = curve->parent_uv[0];
    const double* b = curve->parent_uv[1];
    if (inside_closed(child, a[0], a[1]) && inside_closed(child, b[0], b[1]) &&
        strictly_inside(child, 0.5 * (a[0] + b[0]), 0.5 * (a[1] + b[1])))
      curves.push_back(curve);
  }
  std::reverse(surfaces.begin(), surfaces.end());
  std::reverse(vertices.begin(), vertices.end());
  std::reverse(curves.begin(), curves.end());
  for (mgn_surface* other : surfaces) {
    mgn_remove_item(parent->child_surfaces, other);
    mgn_add_item_to_head(child->child_surfaces, other);
    other->parent_surface = child;
    other->umin = to_child(other->umin, child->umin, child->umax);
    other->umax = to_child(other->umax, child->umin, child->umax);
    other->vmin = to_child(other->vmin, child->vmin, child->vmax);
    other->vmax = to_child(other->vmax, child->vmin, child->vmax);
  }
  for (mgn_vertex* vertex : vertices) {
    mgn_remove_item(parent->fixed_vertices, vertex);
    mgn_add_item_to_head(child->fixed_vertices, vertex);
    vertex->parent_surface = child;
    vertex->param[0] = to_child(vertex->param[0], child->umin, child->umax);
    vertex->param[1] = to_child(vertex->param[1], child->vmin, child->vmax);
  }
  for (mgn_curve* curve : curves) {
    mgn_remove_item(parent->fixed_curves, curve);
    mgn_add_item_to_head(child->fixed_curves, curve);
    curve->parent_surface = child;
    for (auto& uv : curve->parent_uv) {
      uv[0] = to_child(uv[0], child->umin, child->umax);
      uv[1] = to_child(uv[1], child->vmin, child->vmax);
    }
  }
  for (mgn_vertex* vertex : vertices)
    mgn_warning("Warning: Vertex %ld is localized on surface %ld (u = %f, v = %f)\n", mgn_lid(vertex), sid,
                vertex->param[0], vertex->param[1]);
  for (mgn_curve* curve : curves) mgn_warning("Warning: Curve %ld is localized on surface %ld\n", mgn_lid(curve), sid);
  for (mgn_surface* other : surfaces)
    mgn_warning("Warning: Surface %ld is localized on surface %ld\n", mgn_lid(other), sid);
}

// The orders of the surface: a given order is kept unless a side (or, for
// a fixed surface, the parent) needs a higher one; an order not given is
// the highest order of the two sides in its direction (and of the parent).
void set_orders(mgn_surface* surface, int given_u, int given_v) {
  const int given[2] = {given_u, given_v};
  int16_t* order[2] = {&surface->order_u, &surface->order_v};
  for (int d = 0; d < 2; ++d) {
    int n = std::max(given[d], 2);
    for (int s = d; s < 4; s += 2) {
      const mgn_curve* curve = surface->curve[s];
      if (given[d] != 0 && curve->order > given[d])
        mgn_warning("Warning: Curve %ld is of higher order than surface %ld\n", mgn_lid(curve), mgn_lid(surface));
      n = std::max<int>(n, curve->order);
    }
    if (surface->parent_surface != nullptr)
      n = std::max<int>(n, d == 0 ? surface->parent_surface->order_u : surface->parent_surface->order_v);
    *order[d] = static_cast<int16_t>(n);
  }
  surface->shape_order_u = std::max(surface->curve[0]->shape_order, surface->curve[2]->shape_order);
  surface->shape_order_v = std::max(surface->curve[1]->shape_order, surface->curve[3]->shape_order);
}

}  // namespace

// ---------------------------------------------------------------------------
// Store
// ---------------------------------------------------------------------------

mgn_surface* mgn_create_surface(long id) {
  auto* record = mgn_new_entity<mgn_surface>(
      mgn_model.surfaces, id, "Surface with too high identification number (%ld) encountered", MGN_INPUT_CALLER);
  record->rate = static_cast<float>(mgn_set.curvature_rate);
  record->bassoc = mgn_set.default_bassoc_output;
  return record;
}

mgn_surface* mgn_find_surface(long id) { return mgn_find_entity_of<mgn_surface>(mgn_model.surfaces, id); }

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

// ---------------------------------------------------------------------------
// SURFACE line
// ---------------------------------------------------------------------------

namespace {

// What a SURFACE line gives besides the fields of the surface.
struct surface_line {
  mgn_surface* surface = nullptr;
  int flags[K_KEYWORDS] = {};
  int order_u = 0, order_v = 0;  // 0: not given
  int size_source = -1;          // K_SUR, K_DEF, K_UNI, or -1 for a number
  double size = 0.0, size_multiplier = 1.0;
  double rate = 0.0, rate_multiplier = 1.0;
  std::vector<mgn_polysize_value> polysize;
  std::vector<mgn_surface*> coinciding_surfaces;
  std::vector<mgn_patch*> coinciding_patches;
  std::vector<mgn_shell*> coinciding_shells;
  mgn_surface* mirror = nullptr;
  mgn_surface* duplicate = nullptr;
  bool weak = false, sides_given = false, map_given = false;
  float attraction = 0.0f;  // factor (+ 1) of the ATTRACT being read
  // The sides of a fixed surface on its parent.
  side_line sides[4];
  // The line of the definition: the checks after the polygon lines report
  // it, and reading goes on after the polygon lines.
  long surface_line = 0;
  long resume_line = 0;
};

// CURVE (the sides, or curves attracting), ATTRACT with VERTEX, CURVE and
// ALL, FIXED SURFACE, COINCIDE SURFACE / PATCH / SHELL, LCS, MIRROR and
// DUPLICATE: the surface among the other entities.  Returns a token read
// ahead (the next option) or null.
char* read_surface_relation(surface_line& line, int key, int previous) {
  mgn_surface* surface = line.surface;
  char* next = nullptr;
  switch (key) {
    case K_CURVE:
      if (previous == K_ATTRACT) {
        std::vector<mgn_curve*> curves;
        next = mgn_read_id_list(curves, mgn_find_curve, keywords, K_KEYWORDS,
                                "Missing attracted curve id", "Curve %ld does not exist", SURFACE_CALLER);
        mgn_attraction* item = mgn_create_attraction(line.attraction, 1);
        for (auto it = curves.rbegin(); it != curves.rend(); ++it) mgn_add_item_to_head(item->entities, *it);
        mgn_add_item_to_tail(surface->attractions, item);
      } else {
        static const char* const missing[4] = {"Missing first curve id", "Missing second curve id",
                                               "Missing third curve id", "Missing fourth curve id"};
        for (int s = 0; s < 4; ++s) {
          const long curve_id = mgn_get_next_int(missing[s]);
          mgn_curve* curve = mgn_find_curve(curve_id);
          if (curve == nullptr) mgn_input_error(mgn_format("Curve %ld does not exist", curve_id), SURFACE_HERE);
          surface->curve[s] = curve;
        }
        line.sides_given = true;
      }
      break;
    case K_VERTEX: {
      if (previous != K_ATTRACT)
        mgn_input_error("Keyword VERTEX not expected (keyword ATTRACT missing)", SURFACE_HERE);
      std::vector<mgn_vertex*> vertices;
      next = mgn_read_id_list(vertices, mgn_find_vertex, keywords, K_KEYWORDS,
                              "Missing attracted vertex id", "Vertex %ld does not exist", SURFACE_CALLER);
      mgn_attraction* item = mgn_create_attraction(line.attraction, 0);
      for (auto it = vertices.rbegin(); it != vertices.rend(); ++it) mgn_add_item_to_head(item->entities, *it);
      mgn_add_item_to_tail(surface->attractions, item);
      break;
    }
    case K_ALL:
      if (previous != K_ATTRACT) mgn_input_error("Keyword ALL not expected (keyword ATTRACT missing)", SURFACE_HERE);
      surface->global_attraction = line.attraction;
      break;
    case K_ATTRACT: {
      const double a = mgn_get_next_fpn("Missing attraction factor");
      if (!(a > -1.0 && a <= 10.0)) mgn_input_error("Attraction factor out of range", SURFACE_HERE);
      line.attraction = static_cast<float>(a + 1.0);
      break;
    }
    case K_FIXED:
      break;
    case K_SURFACE:
      if (previous == K_FIXED) {
        const long parent_id = mgn_get_next_int("Missing parent surface id");
        mgn_surface* parent = mgn_find_surface(parent_id);
        if (parent == nullptr) mgn_input_error(mgn_format("Surface %ld does not exist", parent_id), SURFACE_HERE);
        surface->parent_surface = parent;
        mgn_add_item_to_head(parent->child_surfaces, surface);
      } else if (previous == K_COINCIDE) {
        next = mgn_read_id_list(line.coinciding_surfaces, mgn_find_surface, keywords, K_KEYWORDS,
                                "Missing coinciding surface id", "Surface %ld does not exist", SURFACE_CALLER);
      } else {
        mgn_input_error("Keyword SURFACE not expected (keyword FIXED or COINCIDE missing)", SURFACE_HERE);
      }
      break;
    case K_PATCH:
      if (previous != K_COINCIDE)
        mgn_input_error("Keyword PATCH not expected (keyword COINCIDE missing)", SURFACE_HERE);
      next = mgn_read_id_list(line.coinciding_patches, mgn_find_patch, keywords, K_KEYWORDS,
                              "Missing coinciding patch id", "Patch %ld does not exist", SURFACE_CALLER);
      break;
    case K_SHELL:
      if (previous != K_COINCIDE)
        mgn_input_error("Keyword SHELL not expected (keyword COINCIDE missing)", SURFACE_HERE);
      next = mgn_read_id_list(line.coinciding_shells, mgn_find_shell, keywords, K_KEYWORDS,
                              "Missing coinciding shell id", "Shell %ld does not exist", SURFACE_CALLER);
      break;
    case K_LCS: {
      const char* missing[2] = {"Missing first lcs curve id", "Missing second lcs curve id"};
      for (int i = 0; i < 2; ++i) {
        const long curve_id = mgn_get_next_int(missing[i]);
        surface->lcs[i] = mgn_find_curve(curve_id);
        if (surface->lcs[i] == nullptr)
          mgn_input_error(mgn_format("Curve %ld does not exist", curve_id), SURFACE_HERE);
      }
      if (surface->lcs[0] == surface->lcs[1]) mgn_input_error("LCS curves must be different", SURFACE_HERE);
      break;
    }
    case K_MIRROR: {
      const long mirror_id = mgn_get_next_int("Missing mirror surface id");
      line.mirror = mgn_find_surface(mirror_id);
      if (line.mirror == nullptr) mgn_input_error(mgn_format("Surface %ld does not exist", mirror_id), SURFACE_HERE);
      break;
    }
    case K_DUPLICATE: {
      const long duplicate_id = mgn_get_next_int("Missing duplicated surface id");
      line.duplicate = mgn_find_surface(duplicate_id);
      if (line.duplicate == nullptr)
        mgn_input_error(mgn_format("Surface %ld does not exist", duplicate_id), SURFACE_HERE);
      break;
    }
    default:
      break;
  }
  return next;
}

// ORDER, SIZE, RATE, FACTOR and POLYSIZE: the shape and the sizing of the
// mesh.  Returns a token read ahead or null.
char* read_surface_sizing(surface_line& line, int key) {
  mgn_surface* surface = line.surface;
  char* next = nullptr;
  switch (key) {
    case K_ORDER: {
      const int32_t nu = mgn_get_next_int("Order u specification missing");
      if (nu != 0 && (nu < 2 || nu > MGN_MAX_ORDER))
        mgn_input_error("Order u specification out of range", SURFACE_HERE);
      const int32_t nv = mgn_get_next_int("Order v specification missing");
      if (nv != 0 && (nv < 2 || nv > MGN_MAX_ORDER))
        mgn_input_error("Order v specification out of range", SURFACE_HERE);
      line.order_u = nu;
      line.order_v = nv;
      break;
    }
    case K_SIZE: {
      double number = 0.0;
      const int word = mgn_read_value_option(mgn_size_option, keywords, K_KEYWORDS, {K_SUR, K_DEF, K_UNI}, &number,
                                             &line.size_multiplier, &next, SURFACE_CALLER);
      line.size_source = word != K_KEYWORDS ? word : -1;
      if (word == K_KEYWORDS) line.size = number * mgn_set.size_factor;
      break;
    }
    case K_RATE: {
      double number = 0.0;
      const int word = mgn_read_value_option(mgn_rate_option, keywords, K_KEYWORDS, {K_DEF}, &number,
                                             &line.rate_multiplier, &next, SURFACE_CALLER);
      line.rate = word == K_DEF ? mgn_set.curvature_rate : number * mgn_set.curvature_factor;
      break;
    }
    case K_FACTOR:
      surface->factor = mgn_read_factor(SURFACE_CALLER);
      break;
    case K_POLYSIZE:
      next = mgn_read_polysize(line.polysize, max_polysize, keywords, K_KEYWORDS, K_DEF, K_UNI, SURFACE_CALLER);
      break;
    default:
      break;
  }
  return next;
}

// QUAD, MAP, EQUIDISTANT and DIAGONAL with its value: the quad meshers.
void read_surface_meshing(surface_line& line, int key, int previous, const char* token) {
  mgn_surface* surface = line.surface;
  switch (key) {
    case K_QUAD:
      surface->quad = mgn_set.quad_hexa_support;
      break;
    case K_MAP:
      line.map_given = mgn_read_yes_no("Mapping specification missing", SURFACE_CALLER);
      surface->map = line.map_given && mgn_set.quad_hexa_support;
      break;
    case K_EQUIDISTANT:
      surface->equidistant = mgn_set.quad_hexa_support;
      break;
    case K_DIAGONAL:
      break;
    case K_NONE:
    case K_POSITIVE:
    case K_NEGATIVE:
      if (previous != K_DIAGONAL) mgn_unexpected_keyword(token, SURFACE_CALLER);
      surface->diagonal = static_cast<int16_t>(key == K_NONE ? 0 : key == K_POSITIVE ? 1 : -1);
      break;
    case K_POINT:
      if (previous != K_DIAGONAL) mgn_unexpected_keyword(token, SURFACE_CALLER);
      surface->diagonal = 2;
      surface->diagonal_point[0] = mgn_get_next_fpn("Coordinate x missing");
      surface->diagonal_point[1] = mgn_get_next_fpn("Coordinate y missing");
      surface->diagonal_point[2] = mgn_get_next_fpn("Coordinate z missing");
      break;
    default:
      break;
  }
}

// VIRTUAL, PROPERTY, HIDDEN, HOLE, OUTPUT, BASSOC, SLAVE, WEAK, the element
// groups and properties, and SHIFT: what the surface gives the mesh and the
// output.
void read_surface_output(surface_line& line, int key) {
  mgn_surface* surface = line.surface;
  switch (key) {
    case K_VIRTUAL:
      surface->is_virtual = true;
      break;
    case K_PROPERTY:
      surface->property = mgn_read_property(SURFACE_CALLER);
      break;
    case K_HIDDEN:
      // Hiding moves nodes by smoothing: without it the request is void.
      if (mgn_set.nodal_smoothing) surface->hidden = true;
      break;
    case K_HOLE:
      surface->hole = true;
      break;
    case K_OUTPUT:
      surface->output = surface->output_requested = mgn_read_yes_no("Output specification missing", SURFACE_CALLER);
      break;
    case K_BASSOC:
      surface->bassoc = mgn_read_yes_no("Specification of output of boundary association missing", SURFACE_CALLER);
      break;
    case K_SLAVE:
      surface->slave = true;
      break;
    case K_WEAK:
      line.weak = true;
      break;
    case K_ELEMGROUP:
      mgn_get_next_int("Missing triangle elem group id");
      mgn_get_next_int("Missing quad elem group id");
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
void read_surface_options(surface_line& line) {
  for (double& s : mgn_input.shift) s = 0.0;
  int previous = -1;
  char* token = mgn_get_next_token(nullptr);
  while (token != nullptr) {
    const int key = mgn_get_keyword_index(token, keywords, K_KEYWORDS);
    if (key == K_KEYWORDS) mgn_unexpected_keyword(token, SURFACE_CALLER);
    // Words that serve a preceding keyword are guarded by that keyword;
    // COINCIDE may be repeated, one kind of entity each time.
    const bool governed = key == K_COINCIDE || ((key == K_CURVE || key == K_VERTEX) && previous == K_ATTRACT) ||
                          ((key == K_SURFACE || key == K_PATCH || key == K_SHELL) && previous == K_COINCIDE) ||
                          (key == K_SURFACE && previous == K_FIXED);
    if (!governed) mgn_check_keyword_duplicity(key, line.flags, token);
    mgn_check_leading_keyword(leading_keywords, previous, key, SURFACE_CALLER);
    char* next = nullptr;  // a token read ahead that is the next option
    switch (key) {
      case K_CURVE:
      case K_VERTEX:
      case K_ALL:
      case K_ATTRACT:
      case K_FIXED:
      case K_SURFACE:
      case K_PATCH:
      case K_SHELL:
      case K_LCS:
      case K_MIRROR:
      case K_DUPLICATE:
        next = read_surface_relation(line, key, previous);
        break;
      case K_ORDER:
      case K_SIZE:
      case K_RATE:
      case K_FACTOR:
      case K_POLYSIZE:
        next = read_surface_sizing(line, key);
        break;
      case K_QUAD:
      case K_MAP:
      case K_EQUIDISTANT:
      case K_DIAGONAL:
      case K_NONE:
      case K_POSITIVE:
      case K_NEGATIVE:
      case K_POINT:
        read_surface_meshing(line, key, previous, token);
        break;
      case K_VIRTUAL:
      case K_PROPERTY:
      case K_HIDDEN:
      case K_HOLE:
      case K_OUTPUT:
      case K_BASSOC:
      case K_SLAVE:
      case K_WEAK:
      case K_ELEMGROUP:
      case K_NODEPROP:
      case K_ELEMPROP:
      case K_SHIFT:
        read_surface_output(line, key);
        break;
      case K_COINCIDE:
        break;
      default:
        // FIT, ITER, LIMIT and DIR are read and dropped; SUR, DEF, UNI, YES and NO are values,
        // not options.
        if (!mgn_read_fitting_option(token, SURFACE_CALLER)) mgn_unexpected_keyword(token, SURFACE_CALLER);
    }
    previous = key;
    token = next != nullptr ? next : mgn_get_next_token(nullptr);
  }
  mgn_check_leading_keyword(leading_keywords, previous, -1, SURFACE_CALLER);
  if (!line.sides_given) mgn_input_error("Keyword CURVE missing", SURFACE_HERE);
}

// The rules between the options: POLYSIZE only for a computed net, nothing
// of its own for a virtual surface, the requests a hole or hidden surface
// drops, the quad requests, and the duplicated and mirrored surfaces.
void check_surface_options(surface_line& line) {
  mgn_surface* surface = line.surface;
  const long sid = surface->id;
  mgn_surface* parent = surface->parent_surface;
  if (!line.polysize.empty() && parent == nullptr)
    mgn_input_error(mgn_format("Keyword POLYSIZE not expected for non-fixed surface (%ld)", sid), SURFACE_HERE);
  // A virtual surface produces no mesh of its own.
  if (surface->is_virtual) {
    surface->hidden = false;
    surface->property = 0;
    surface->output = surface->output_requested = false;
    surface->slave = false;
  }
  // Hole surface.
  if (surface->hole) {
    if (surface->hidden) {
      mgn_warning_text(mgn_format("Keyword HIDDEN ignored for hole surface (%ld)", sid));
      surface->hidden = false;
    }
    if (surface->property != 0) {
      mgn_warning_text(mgn_format("Keyword PROPERTY ignored for hole surface (%ld)", sid));
      surface->property = 0;
    }
    if (line.flags[K_OUTPUT] != 0) {
      mgn_warning_text(mgn_format("Keyword OUTPUT ignored for hole surface (%ld)", sid));
      surface->output = true;
      surface->output_requested = false;
    }
    if (line.duplicate != nullptr) {
      mgn_warning_text(mgn_format("Keyword DUPLICATE ignored for hole surface (%ld)", sid));
      line.duplicate = nullptr;
    }
    if (line.mirror != nullptr) {
      mgn_warning_text(mgn_format("Keyword MIRROR ignored for hole surface (%ld)", sid));
      line.mirror = nullptr;
    }
  }
  // Hidden surface.
  if (surface->hidden && surface->property != 0) {
    mgn_warning_text(mgn_format("Keyword PROPERTY ignored for hidden surface (%ld)", sid));
    surface->property = 0;
  }
  if (surface->hidden && surface->output_requested) {
    mgn_warning_text(mgn_format("Keyword HIDDEN ignored for output surface (%ld)", sid));
    surface->hidden = false;
  }
  if (line.size_source == K_SUR && parent == nullptr)
    mgn_input_error(mgn_format("Mesh size of surface (%ld) inherited from non-existent parent surface", sid),
                    SURFACE_HERE);
  if (!surface->is_virtual)
    for (mgn_curve* curve : surface->curve)
      if (curve->is_virtual)
        mgn_input_error(mgn_format("Virtual curve (%ld) cannot form boundary of physical surface (%ld)", mgn_lid(curve), sid),
                        SURFACE_HERE);
  // Quad meshing requests.
  if (line.map_given && !surface->quad) {
    mgn_warning_text(mgn_format("Keyword MAP ignored for surface (%ld) not subjected to quad meshing", sid));
    surface->map = false;
  }
  if (line.flags[K_DIAGONAL] != 0) {
    if (!(surface->quad && surface->map)) {
      mgn_warning_text(mgn_format("Keyword DIAGONAL ignored for surface (%ld) not subjected to quad mapping", sid));
      surface->diagonal = 0;
    } else if ((surface->diagonal == 1 || surface->diagonal == -1) && line.flags[K_LCS] == 0) {
      mgn_warning_text(mgn_format("DIAGONAL request may be ambiguous for surface (%ld) without LCS specification", sid));
    }
  }
  // Duplicated and mirrored surfaces.
  if (line.duplicate != nullptr && (line.duplicate->is_virtual || line.duplicate->hole)) {
    mgn_warning_text(mgn_format(line.duplicate->is_virtual ? "Keyword DUPLICATE ignored for surface %ld duplicating virtual surface (%ld)"
                                          : "Keyword DUPLICATE ignored for surface %ld duplicating hole surface (%ld)",
                    sid, mgn_lid(line.duplicate)));
    line.duplicate = nullptr;
  }
  if (line.mirror != nullptr && (line.mirror->is_virtual || line.mirror->hole)) {
    mgn_warning_text(mgn_format(line.mirror->is_virtual ? "Keyword MIRROR ignored for surface %ld mirroring virtual surface (%ld)"
                                       : "Keyword MIRROR ignored for surface %ld mirroring hole surface (%ld)",
                    sid, mgn_lid(line.mirror)));
    line.mirror = nullptr;
  }
  surface->duplicated = line.duplicate;
  surface->mirrored = line.mirror;
  surface->weak_mirror = line.mirror != nullptr && line.weak;
}

// The size, rate and polysize of the surface.
void settle_surface_sizes(surface_line& line) {
  mgn_surface* surface = line.surface;
  const long sid = surface->id;
  mgn_surface* parent = surface->parent_surface;
  if (mgn_set.size_factor == 0.0) {
    line.size = 0.0;
    surface->factor = 0.0f;
  } else {
    switch (line.size_source) {
      case K_SUR: line.size = parent->size; break;
      case K_DEF: line.size = mgn_set.default_size; break;
      case K_UNI: line.size = mgn_set.uniform_size; break;
      default: break;
    }
    line.size *= line.size_multiplier;
    if ((line.size_source == K_DEF || line.size_source == K_UNI) && line.size == 0.0 && surface->factor != 0.0f)
      mgn_warning_text(mgn_format("Default zero mesh size specification detected at surface %ld", sid));
    if (mgn_resolve_polysize(line.polysize, K_DEF, K_UNI)) mgn_warning_text(mgn_format("Default zero polysize specification detected at surface %ld", sid));
  }
  surface->size = static_cast<float>(line.size);
  surface->rate = static_cast<float>(line.rate * line.rate_multiplier);
}

// The sides on the parent of a fixed surface, the corners and orientation
// of the sides, and the range on the parent with the entities that move to
// the surface.
void fix_and_orient_surface(surface_line& line) {
  mgn_surface* surface = line.surface;
  mgn_surface* parent = surface->parent_surface;
  if (parent != nullptr) check_fixed_sides(surface, line.sides);
  // Corners and orientation of the sides.
  set_corners(surface);
  // The range on the parent and the entities that move to it.
  if (parent != nullptr) {
    set_fixed_range(surface, line.sides);
    if (!surface->is_virtual) localize_on_child(surface);
  }
}

// The orders, corner sizes and polysize, the control net (computed from
// the parent or read from the polygon lines) and the curves that learn
// that they bound the surface.
void make_surface_net(surface_line& line) {
  mgn_surface* surface = line.surface;
  const long sid = surface->id;
  mgn_surface* parent = surface->parent_surface;
  set_orders(surface, line.order_u, line.order_v);
  if (mgn_set.size_factor != 0.0 && surface->factor != 0.0f)
    for (const mgn_vertex* vertex : surface->vertex)
      if (vertex->ctrl_point->size == 0.0f)
        mgn_input_error(mgn_format("Zero mesh size specification detected at vertex %ld of surface %ld", mgn_lid(vertex), sid),
                        SURFACE_HERE);
  const int inner = (surface->order_u - 2) * (surface->order_v - 2);
  if (!line.polysize.empty() && static_cast<int>(line.polysize.size()) != inner)
    mgn_input_error(mgn_format("Order of surface %ld is in conflict with number of poly size parameters", sid),
                    SURFACE_HERE);
  // The control net.
  if (parent != nullptr) {
    mgn_copy_parent_surface_net(surface, parent);
    mgn_split_surface_net_head(surface, surface->umax, surface->vmax);
    mgn_split_surface_net_tail(surface, surface->umin / surface->umax, surface->vmin / surface->vmax);
    mgn_attach_surface_net_boundary(surface);
    const int nu = surface->order_u;
    for (int j = 1, k = 0; j < surface->order_v - 1; ++j)
      for (int i = 1; i < nu - 1; ++i, ++k)
        if (k < static_cast<int>(line.polysize.size())) surface->net[j * nu + i]->size = static_cast<float>(line.polysize[k].value);
  } else {
    mgn_create_surface_ctrl_polygon(surface);
    if (surface->order_u > 2 && surface->order_v > 2) {
      mgn_input_surface_polygon(surface);
      line.resume_line = mgn_input.line_number;
      mgn_input.line_number = line.surface_line;
    }
    // The weights of the net (given or blended from the sides) may be
    // negative; a weight function that reaches zero is not allowed: the
    // surface would pass through infinity there.
    const int nu = surface->order_u, nv = surface->order_v;
    double w[MGN_MAX_ORDER * MGN_MAX_ORDER];
    for (int k = 0; k < nu * nv; ++k) w[k] = surface->net[k]->w;
    double u = 0.0, v = 0.0;
    if (mgn_find_vanishing_weight(w, nu, nv, &u, &v))
      mgn_input_error(mgn_format("Zero weight detected on surface %ld at u = %f, v = %f", mgn_lid(surface), u, v),
                      SURFACE_HERE);
  }
  for (mgn_curve* curve : surface->curve) mgn_add_item_once(curve->surfaces, surface);
}

// The coinciding surfaces, patches and shells linked with the surface.
void link_coinciding_entities(surface_line& line) {
  mgn_surface* surface = line.surface;
  for (mgn_surface* other : line.coinciding_surfaces) {
    if (surface->is_virtual || other->is_virtual) mgn_input_error("Only physical surfaces can be coinciding", SURFACE_HERE);
    mgn_link_coinciding(surface, other, &mgn_surface::coinciding_surfaces);
  }
  for (mgn_patch* other : line.coinciding_patches) {
    if (surface->is_virtual || other->is_virtual)
      mgn_input_error("Only physical surfaces and patches can be coinciding", SURFACE_HERE);
    mgn_add_item_once(other->coinciding_surfaces, surface);
    mgn_add_item_once(surface->coinciding_patches, other);
  }
  for (mgn_shell* other : line.coinciding_shells) {
    if (surface->is_virtual || other->is_virtual)
      mgn_input_error("Only physical surfaces and shells can be coinciding", SURFACE_HERE);
    mgn_add_item_once(other->coinciding_surfaces, surface);
    mgn_add_item_once(surface->coinciding_shells, other);
  }
}

}  // namespace

mgn_surface* mgn_input_surface() {
  const int32_t id = mgn_get_next_int("Missing surface id");
  if (id < 1) mgn_input_error("Positive surface id required", SURFACE_HERE);
  if (mgn_find_surface(id) != nullptr)
    mgn_input_error(mgn_format("Multiple instance of surface %ld detected", static_cast<long>(id)), SURFACE_HERE);
  surface_line line;
  line.surface = mgn_create_surface(id);
  mgn_input.building = line.surface;
  mgn_input.building_kind = MGN_SURFACE;
  line.rate = line.surface->rate;

  read_surface_options(line);
  line.surface_line = line.resume_line = mgn_input.line_number;
  check_surface_options(line);
  settle_surface_sizes(line);
  fix_and_orient_surface(line);
  make_surface_net(line);
  link_coinciding_entities(line);
  mgn_input.line_number = line.resume_line;
  return line.surface;
}

// ---------------------------------------------------------------------------
// POLYGON lines
// ---------------------------------------------------------------------------

void mgn_input_surface_polygon(mgn_surface* surface) {
  const char* routine = __func__;  // the place of errors met while reading POLY
  const int nu = surface->order_u, nv = surface->order_v;
  const long sid = surface->id;
  auto& net = surface->net;
  // Boundary rows and columns come from the sides and count as defined.
  std::vector<bool> defined(static_cast<std::size_t>(nu * nv), true);
  for (int j = 1; j < nv - 1; ++j)
    for (int i = 1; i < nu - 1; ++i) defined[j * nu + i] = false;

  for (int lines = 0; lines < (nu - 2) * (nv - 2); ++lines) {
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
      mgn_input_error(mgn_format("Keyword POLYGON expected for surface %ld", sid), MGN_INPUT_HERE);
    const int32_t i = mgn_get_next_int("Missing ctrl point u id");
    if (i < 1 || i > nu - 2) mgn_input_error("Ctrl point u id out of range", MGN_INPUT_HERE);
    const int32_t j = mgn_get_next_int("Missing ctrl point v id");
    if (j < 1 || j > nv - 2) mgn_input_error("Ctrl point v id out of range", MGN_INPUT_HERE);
    if (defined[j * nu + i])
      mgn_input_error(mgn_format("Multiple instance of ctrl point %d %d detected", i, j), MGN_INPUT_HERE);

    const auto read_poly = [&]() -> const mgn_ctrl_point* {
      const int32_t k = mgn_get_next_int("Missing parent ctrl point u id");
      if (k < 0 || k > nu - 1) mgn_input_error("Fixed ctrl point u id out of range", MGN_INPUT_AT(routine));
      const int32_t l = mgn_get_next_int("Missing parent ctrl point v id");
      if (l < 0 || l > nv - 1) mgn_input_error("Fixed ctrl point v id out of range", MGN_INPUT_AT(routine));
      if (!defined[l * nu + k])
        mgn_input_error(mgn_format("Ctrl point %d %d does not exist", k, l), MGN_INPUT_AT(routine));
      return net[l * nu + k];
    };
    const mgn_polygon_line line{polygon_keywords, "Keywords XYZ not expected for fixed ctrl point",
                                mgn_format("%d %d", i, j), "surface", sid, surface->size, surface->factor};
    mgn_read_polygon_point(net[j * nu + i], line, read_poly, MGN_INPUT_CALLER);
    defined[j * nu + i] = true;
  }
}

// ---------------------------------------------------------------------------
// Global attraction
// ---------------------------------------------------------------------------

void mgn_build_surface_global_attraction(mgn_surface* surface) {
  if (surface->is_virtual || surface->hole || surface->global_attraction == 0.0f) return;
  mgn_entity_collector vertices, curves;
  for (int side = 0; side < 4; ++side) {
    if (surface->vertex[side] != nullptr) vertices.add(surface->vertex[side]);
    mgn_curve* curve = surface->curve[side];
    if (curve == nullptr) continue;
    curves.add(curve);
    if (!curve->hidden)
      for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(curve->fixed_vertices)) vertices.add(vertex);
  }
  mgn_finish_global_attraction(surface->attractions, surface->global_attraction, vertices, curves,
                               surface->fixed_vertices, surface->fixed_curves);
}

#undef SURFACE_HERE
#undef SURFACE_CALLER
