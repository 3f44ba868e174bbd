// The loops of patches and shells: their curves, the topology check, the
// loops in the parameters of the background surface, the background surface
// of a patch and the geometry checks of patches and shells.
//
// Winding.  The loops are polygons of the parameter plane (the curves
// sampled and located on the surface); the winding number about a point is
// the count of signed crossings of the ray from the point toward +u, which
// asks nothing of the point but that it not lie on a segment.  Segments are
// kept in bands of v, so that a query looks at the segments near its line
// only: a patch with a thousand holes answers as fast as a square.
#include "input3.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "bezier.h"
#include "curve.h"
#include "geom.h"
#include "list.h"
#include "message.h"
#include "project.h"
#include "surface.h"
#include "vec3.h"
#include "vertex.h"

namespace {

const char* word_of(int kind) { return kind == MGN_PATCH ? "patch" : "shell"; }

long id_of(int kind, const void* entity) {
  return kind == MGN_PATCH ? static_cast<const mgn_patch*>(entity)->id : static_cast<const mgn_shell*>(entity)->id;
}

void note_entity(int kind, void* entity) {
  if (kind == MGN_PATCH)
    mgn_note_partial_patch(static_cast<mgn_patch*>(entity));
  else
    mgn_note_partial_shell(static_cast<mgn_shell*>(entity));
}

// The internal tolerance: the user epsilon, at most 1e-5.
double internal_tolerance() { return std::min(mgn_set.user_epsilon, 1e-5); }

// Points on a curve per loop segment: a straight curve of a patch is one
// segment; other curves are cut into 8 pieces per degree (a quarter circle
// into 16, whose chords leave the arc by 0.5 % of the radius).
int curve_pieces(const mgn_curve* curve, bool planar) {
  if (curve->collapsed) return 1;
  if (planar && (curve->order == 2 || curve->straight)) return 1;
  return 8 * std::max(1, static_cast<int>(std::max(curve->order, curve->shape_order)) - 1);
}

// The loop direction's start and end vertices of a loop curve.
mgn_vertex* loop_start(const mgn_loop_curve& c) { return c.curve->vertex[c.direction > 0 ? 0 : 1]; }
mgn_vertex* loop_end(const mgn_loop_curve& c) { return c.curve->vertex[c.direction > 0 ? 1 : 0]; }

// Largest extent of the control net of a surface (1 for a net of one point).
double net_extent(const mgn_surface* surface) {
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (const mgn_ctrl_point* p : surface->net)
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], p->xyz[k]);
      hi[k] = std::max(hi[k], p->xyz[k]);
    }
  double e = 0.0;
  for (int k = 0; k < 3; ++k) e = std::max(e, hi[k] - lo[k]);
  return e > 0.0 ? e : 1.0;
}

// Squared distance of (u, v) from the segment.
double segment_distance2(const std::array<double, 4>& s, double u, double v) {
  const double du = s[2] - s[0], dv = s[3] - s[1];
  const double l2 = du * du + dv * dv;
  double t = l2 > 0.0 ? ((u - s[0]) * du + (v - s[1]) * dv) / l2 : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  const double x = s[0] + t * du - u, y = s[1] + t * dv - v;
  return x * x + y * y;
}

// A point of the parameter plane on the loops (a child's curve shared
// with its parent's border).
bool on_loops(const mgn_loop_set& loops, const double uv[2], double tolerance) {
  for (const auto& s : loops.segments)
    if (segment_distance2(s, uv[0], uv[1]) <= tolerance * tolerance) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Loop curves
// ---------------------------------------------------------------------------

std::vector<void*> mgn_get_hole_children(int kind, const void* entity) {
  std::vector<void*> children;
  if (kind == MGN_PATCH) {
    for (mgn_patch* child : mgn_list_range<mgn_patch>(static_cast<const mgn_patch*>(entity)->subpatches))
      if (child != nullptr && child != entity && child->id != 0 && !child->is_virtual) children.push_back(child);
  } else {
    for (mgn_shell* child : mgn_list_range<mgn_shell>(static_cast<const mgn_shell*>(entity)->subshells))
      if (child != nullptr && child != entity && child->id != 0 && !child->is_virtual) children.push_back(child);
  }
  return children;
}

std::vector<mgn_loop_curve> mgn_get_loop_curves(int kind, const void* entity, bool with_children) {
  std::vector<mgn_loop_curve> loops;
  auto own = [&](const void* e, int sign) {
    mgn_list left = kind == MGN_PATCH ? static_cast<const mgn_patch*>(e)->left_curves
                                      : static_cast<const mgn_shell*>(e)->left_curves;
    mgn_list right = kind == MGN_PATCH ? static_cast<const mgn_patch*>(e)->right_curves
                                       : static_cast<const mgn_shell*>(e)->right_curves;
    // A curve fixed to a parent against the parent's direction is stored
    // along the parent (its vertices swapped, its reversed flag set): the
    // loop follows the direction it was written in.
    std::vector<mgn_loop_curve> out;
    for (mgn_curve* curve : mgn_list_range<mgn_curve>(left)) out.push_back({curve, curve->reversed ? -sign : sign});
    for (mgn_curve* curve : mgn_list_range<mgn_curve>(right)) out.push_back({curve, curve->reversed ? sign : -sign});
    return out;
  };
  loops = own(entity, 1);
  if (!with_children) return loops;
  std::vector<mgn_loop_curve> holes;
  for (void* child : mgn_get_hole_children(kind, entity)) {
    std::vector<mgn_loop_curve> c = own(child, -1);
    holes.insert(holes.end(), c.begin(), c.end());
  }
  // A curve between two children, or between a child and the outer loop of
  // the parent (a child touching its parent's border), bounds nothing of
  // the parent: both its uses go.
  std::vector<mgn_loop_curve> all = loops;
  all.insert(all.end(), holes.begin(), holes.end());
  std::vector<mgn_loop_curve> kept;
  for (const mgn_loop_curve& c : all) {
    long uses = 0;
    for (const mgn_loop_curve& other : all) uses += other.curve == c.curve ? 1 : 0;
    if (uses == 1) kept.push_back(c);
  }
  return kept;
}

// ---------------------------------------------------------------------------
// Topology of the loops
// ---------------------------------------------------------------------------

namespace {

// A curve of the loops at a vertex: arriving (the loop runs into the
// vertex along it) or leaving.
struct vertex_use {
  mgn_curve* curve;
  bool arriving;
};

void check_loop_topology(int kind, void* entity, const char* routine) {
  const long eid = id_of(kind, entity);
  std::vector<mgn_vertex*> order;  // vertices in the order first met
  std::map<mgn_vertex*, std::vector<vertex_use>> uses;
  for (const mgn_loop_curve& c : mgn_get_loop_curves(kind, entity, false)) {
    if (c.curve->collapsed) continue;
    for (int end = 0; end < 2; ++end) {
      mgn_vertex* v = mgn_get_top_physical_vertex(c.curve->vertex[end]);
      auto [it, added] = uses.try_emplace(v);
      if (added) order.push_back(v);
      // Along the curve the loop leaves its first vertex and arrives at its
      // second; against it the other way round.
      it->second.push_back({c.curve, (end == 1) == (c.direction > 0)});
    }
  }
  for (mgn_vertex* v : order) {
    const std::vector<vertex_use>& at = uses[v];
    auto fail = [&](const std::string& message, mgn_curve* a, mgn_curve* b) {
      note_entity(kind, entity);
      if (a != nullptr) mgn_note_partial_curve(a);
      if (b != nullptr) mgn_note_partial_curve(b);
      mgn_note_partial_vertex(v);
      mgn_record_error_location(MGN_VERTEX, v->id, v->xyz);
      mgn_manipulation_error(message, routine, mgn_module_name(__FILE__), __LINE__);
    };
    if (at.size() < 2)
      fail(mgn_format("Invalid topology of %s %ld detected at vertex %ld", word_of(kind), eid, mgn_lid(v)),
           at.empty() ? nullptr : at[0].curve, nullptr);
    if (at.size() > 2) continue;
    if (at[0].arriving == at[1].arriving)
      fail(mgn_format("Invalid topology of %s %ld detected\nCheck orientation of curves %ld and %ld", word_of(kind),
                      eid, mgn_lid(at[0].curve), mgn_lid(at[1].curve)),
           at[0].curve, at[1].curve);
  }
}

}  // namespace

void mgn_check_patch_topology(mgn_patch* patch) {
  if (patch->is_virtual) return;
  check_loop_topology(MGN_PATCH, patch, __func__);
}

void mgn_check_shell_topology(mgn_shell* shell) {
  if (shell->is_virtual) return;
  check_loop_topology(MGN_SHELL, shell, __func__);
}

// ---------------------------------------------------------------------------
// Parameters of points
// ---------------------------------------------------------------------------

void mgn_get_patch_uv(const mgn_patch* patch, const double* xyz, double uv[2]) {
  const mgn_surface* s = patch->bg_surface;
  const double* o = s->net[0]->xyz;
  double su[3], sv[3], r[3];
  mgn_sub(s->net[1]->xyz, o, su);
  mgn_sub(s->net[2]->xyz, o, sv);
  mgn_sub(xyz, o, r);
  uv[0] = mgn_dot(r, su) / mgn_dot(su, su);
  uv[1] = mgn_dot(r, sv) / mgn_dot(sv, sv);
}

double mgn_locate_surface_point(const mgn_surface* surface, const double* xyz, const double* guess, double uv[2]) {
  const double extent = net_extent(surface);
  double best = HUGE_VAL;
  if (guess != nullptr) {
    double u = std::clamp(guess[0], 0.0, 1.0), v = std::clamp(guess[1], 0.0, 1.0);
    double p[3], su[3], sv[3], n[3] = {0.0, 0.0, 0.0};
    mgn_get_surface_point_derivatives(surface, u, v, p, su, sv);
    if (surface->planar) {
      mgn_copy3(n, surface->normal);
    } else {
      double a[3], b[3];
      mgn_copy3(a, su);
      mgn_copy3(b, sv);
      if (mgn_normalize(a) && mgn_normalize(b)) mgn_cross(a, b, n);
    }
    if (mgn_normalize(n)) {
      mgn_clip_point_surface(surface, &u, &v, n, su, sv, p, xyz, 1e-12 * extent, 1e-13, false);
      best = mgn_get_point_square_distance(p, xyz);
      uv[0] = u;
      uv[1] = v;
      // Close enough: the walk found the point (or its foot, for a point
      // a little off the surface).
      if (best <= 1e-12 * extent * extent) return best;
    }
  }
  double u = 0.0, v = 0.0;
  const double d2 = mgn_find_closest_surface_point(surface, xyz, &u, &v);
  if (d2 < best) {
    best = d2;
    uv[0] = u;
    uv[1] = v;
  }
  return best;
}

// ---------------------------------------------------------------------------
// Loops in the parameter plane
// ---------------------------------------------------------------------------

void mgn_loop_set::index() {
  lo[0] = lo[1] = HUGE_VAL;
  hi[0] = hi[1] = -HUGE_VAL;
  for (const auto& s : segments) {
    lo[0] = std::min({lo[0], s[0], s[2]});
    lo[1] = std::min({lo[1], s[1], s[3]});
    hi[0] = std::max({hi[0], s[0], s[2]});
    hi[1] = std::max({hi[1], s[1], s[3]});
  }
  bands.clear();
  if (segments.empty()) {
    lo[0] = lo[1] = hi[0] = hi[1] = 0.0;
    return;
  }
  const int count = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(segments.size()))));
  band_lo = lo[1];
  band_width = (hi[1] - lo[1]) / count;
  if (!(band_width > 0.0)) band_width = 1.0;
  bands.assign(static_cast<std::size_t>(count), {});
  auto band_of = [&](double v) {
    return std::clamp(static_cast<int>(std::floor((v - band_lo) / band_width)), 0, count - 1);
  };
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const auto& s = segments[i];
    const int a = band_of(std::min(s[1], s[3])), b = band_of(std::max(s[1], s[3]));
    for (int k = a; k <= b; ++k) bands[static_cast<std::size_t>(k)].push_back(static_cast<int>(i));
  }
}

std::vector<std::pair<double, int>> mgn_loop_set::crossings(double v) const {
  std::vector<std::pair<double, int>> out;
  if (bands.empty() || v < lo[1] || v > hi[1]) return out;
  const int count = static_cast<int>(bands.size());
  const int k = std::clamp(static_cast<int>(std::floor((v - band_lo) / band_width)), 0, count - 1);
  for (int i : bands[static_cast<std::size_t>(k)]) {
    const auto& s = segments[static_cast<std::size_t>(i)];
    if ((s[1] <= v) == (s[3] <= v)) continue;
    const double u = s[0] + (v - s[1]) * (s[2] - s[0]) / (s[3] - s[1]);
    out.emplace_back(u, s[3] > s[1] ? 1 : -1);
  }
  std::sort(out.begin(), out.end());
  return out;
}

int mgn_loop_set::winding(double u, double v) const {
  int w = 0;
  for (const auto& [x, sign] : crossings(v))
    if (x > u) w += sign;
  return w;
}

namespace {

// Where the points of the loops of one entity are located: on the plane of
// a patch or on the background surface of a shell.
struct loop_locator {
  int kind;
  const void* entity;
  const mgn_surface* surface;

  // (u, v) of a point of the curve at t; guess: the previous point's.
  void locate(const mgn_curve* curve, bool on_line, const double* line_a, const double* line_b, double t,
              const double* point, const double* guess, double uv[2]) const {
    if (kind == MGN_PATCH) {
      mgn_get_patch_uv(static_cast<const mgn_patch*>(entity), point, uv);
      return;
    }
    if (on_line) {
      uv[0] = line_a[0] + t * (line_b[0] - line_a[0]);
      uv[1] = line_a[1] + t * (line_b[1] - line_a[1]);
      return;
    }
    (void)curve;
    mgn_locate_surface_point(surface, point, guess, uv);
  }
};

// The points of a loop curve in loop direction, in parameters.
std::vector<std::array<double, 2>> curve_points(const loop_locator& where, const mgn_loop_curve& c) {
  const mgn_curve* curve = c.curve;
  const int pieces = curve_pieces(curve, where.kind == MGN_PATCH);
  double a[2] = {0.0, 0.0}, b[2] = {0.0, 0.0};
  const bool on_line = where.kind == MGN_SHELL && mgn_get_surface_curve_uv(where.surface, curve, a, b) != 0;
  std::vector<std::array<double, 2>> out;
  const double* guess = nullptr;
  double previous[2];
  for (int k = 0; k <= pieces; ++k) {
    const double s = static_cast<double>(k) / pieces;
    const double t = c.direction > 0 ? s : 1.0 - s;
    double p[3];
    mgn_get_curve_point(curve, t, p);
    std::array<double, 2> uv{};
    where.locate(curve, on_line, a, b, t, p, guess, uv.data());
    out.push_back(uv);
    previous[0] = uv[0];
    previous[1] = uv[1];
    guess = previous;
  }
  return out;
}

}  // namespace

mgn_loop_set mgn_build_loop_set(int kind, const void* entity, bool with_children) {
  mgn_loop_set set;
  set.curves = mgn_get_loop_curves(kind, entity, with_children);
  const mgn_surface* surface = kind == MGN_PATCH ? static_cast<const mgn_patch*>(entity)->bg_surface
                                                 : static_cast<const mgn_shell*>(entity)->bg_surface;
  if (surface == nullptr) return set;
  const loop_locator where{kind, entity, surface};
  // Chains of curves: from the first curve not yet used, the curve leaving
  // the vertex where the last one arrives, until the chain closes.
  const std::size_t n = set.curves.size();
  std::vector<bool> used(n, false);
  for (std::size_t i = 0; i < n; ++i)
    if (set.curves[i].curve->collapsed) used[i] = true;
  for (std::size_t first = 0; first < n; ++first) {
    if (used[first]) continue;
    mgn_vertex* start = mgn_get_top_physical_vertex(loop_start(set.curves[first]));
    std::vector<std::array<double, 2>> chain;
    std::size_t current = first;
    for (;;) {
      used[current] = true;
      const std::vector<std::array<double, 2>> points = curve_points(where, set.curves[current]);
      if (!chain.empty() && (chain.back()[0] != points.front()[0] || chain.back()[1] != points.front()[1]))
        set.segments.push_back({chain.back()[0], chain.back()[1], points.front()[0], points.front()[1]}),
            set.origin.push_back(-1);
      for (std::size_t k = 0; k + 1 < points.size(); ++k) {
        set.segments.push_back({points[k][0], points[k][1], points[k + 1][0], points[k + 1][1]});
        set.origin.push_back(static_cast<int>(current));
      }
      chain.insert(chain.end(), points.begin(), points.end());
      mgn_vertex* end = mgn_get_top_physical_vertex(loop_end(set.curves[current]));
      if (end == start) break;
      std::size_t next = n;
      for (std::size_t j = 0; j < n && next == n; ++j)
        if (!used[j] && mgn_get_top_physical_vertex(loop_start(set.curves[j])) == end) next = j;
      if (next == n) break;
      current = next;
    }
    // The chain closes (along a collapsed side, or over a gap the topology
    // check reports elsewhere).
    if (chain.front()[0] != chain.back()[0] || chain.front()[1] != chain.back()[1]) {
      set.segments.push_back({chain.back()[0], chain.back()[1], chain.front()[0], chain.front()[1]});
      set.origin.push_back(-1);
    }
  }
  set.index();
  return set;
}

bool mgn_check_point_inside_loops(const mgn_loop_set& loops, double u, double v, double tolerance) {
  if (loops.winding(u, v) != 1) return false;
  const double t2 = tolerance * tolerance;
  for (const auto& s : loops.segments)
    if (segment_distance2(s, u, v) <= t2) return false;
  return true;
}

// ---------------------------------------------------------------------------
// The plane and background surface of a patch
// ---------------------------------------------------------------------------

namespace {

// The vertices of the loops of a patch (own loops), each once.
std::vector<mgn_vertex*> loop_vertices(int kind, const void* entity, bool with_children) {
  std::vector<mgn_vertex*> out;
  for (const mgn_loop_curve& c : mgn_get_loop_curves(kind, entity, with_children))
    for (mgn_vertex* v : c.curve->vertex)
      if (std::find(out.begin(), out.end(), v) == out.end()) out.push_back(v);
  return out;
}

// A point of the plane of a patch: ORIGIN, else the mean of the vertices of
// its loops.
void plane_point(const mgn_patch* patch, double o[3]) {
  if (patch->origin_given) {
    mgn_copy3(o, patch->origin);
    return;
  }
  o[0] = o[1] = o[2] = 0.0;
  const std::vector<mgn_vertex*> vertices = loop_vertices(MGN_PATCH, patch, false);
  for (const mgn_vertex* v : vertices)
    for (int k = 0; k < 3; ++k) o[k] += v->xyz[k];
  if (!vertices.empty())
    for (int k = 0; k < 3; ++k) o[k] /= static_cast<double>(vertices.size());
}

// The first axis of the plane of a patch: the iso direction, else the
// coordinate axis least aligned with the normal, each projected onto the
// plane.
void plane_axis(const mgn_patch* patch, double e1[3]) {
  const double* n = patch->normal;
  if (patch->iso_direction_given) {
    mgn_copy3(e1, patch->iso_direction);
    const double d = mgn_dot(e1, n);
    for (int k = 0; k < 3; ++k) e1[k] -= d * n[k];
    if (mgn_normalize(e1)) return;
  }
  int axis = 0;
  for (int k = 1; k < 3; ++k)
    if (std::fabs(n[k]) < std::fabs(n[axis])) axis = k;
  for (int k = 0; k < 3; ++k) e1[k] = (k == axis ? 1.0 : 0.0) - n[axis] * n[k];
  mgn_normalize(e1);
}

// Points that a patch's loops and inner entities pass through: the control
// points of its curves (their hull holds the curves) and its vertices.
std::vector<const double*> patch_hull_points(const mgn_patch* patch) {
  std::vector<const double*> out;
  auto add_curve = [&](const mgn_curve* c) {
    if (!c->polygon.empty())
      for (const mgn_ctrl_point* p : c->polygon[0]) out.push_back(p->xyz);
  };
  for (const mgn_loop_curve& c : mgn_get_loop_curves(MGN_PATCH, patch, true)) add_curve(c.curve);
  for (const mgn_curve* c : mgn_list_range<mgn_curve>(patch->fixed_curves)) add_curve(c);
  for (const mgn_vertex* v : mgn_list_range<mgn_vertex>(patch->fixed_vertices)) out.push_back(v->xyz);
  return out;
}

}  // namespace

void mgn_create_patch_bg_surface(mgn_patch* patch) {
  if (patch->bg_surface != nullptr) return;
  double o[3], e1[3], e2[3];
  plane_point(patch, o);
  plane_axis(patch, e1);
  mgn_cross(patch->normal, e1, e2);
  mgn_normalize(e2);
  double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
  for (const double* p : patch_hull_points(patch)) {
    double r[3];
    mgn_sub(p, o, r);
    const double a = mgn_dot(r, e1), b = mgn_dot(r, e2);
    lo[0] = std::min(lo[0], a);
    hi[0] = std::max(hi[0], a);
    lo[1] = std::min(lo[1], b);
    hi[1] = std::max(hi[1], b);
  }
  if (!(lo[0] <= hi[0])) lo[0] = lo[1] = hi[0] = hi[1] = 0.0;
  // As much again as the diagonal of the box on every side.
  double margin = std::hypot(hi[0] - lo[0], hi[1] - lo[1]);
  if (!(margin > 0.0)) margin = 1.0;
  for (int k = 0; k < 2; ++k) {
    lo[k] -= margin;
    hi[k] += margin;
  }
  auto* surface = new mgn_surface();
  surface->id = 0;  // not a surface of the model
  surface->is_virtual = true;
  surface->order_u = surface->order_v = 2;
  surface->shape_order_u = surface->shape_order_v = 2;
  surface->rate = 0.0f;
  surface->planar = true;
  mgn_copy3(surface->normal, patch->normal);
  // Net (i, j) at j * 2 + i: u along e1, v along e2.
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) {
      mgn_ctrl_point* p = mgn_create_ctrl_point();
      const double a = i == 0 ? lo[0] : hi[0], b = j == 0 ? lo[1] : hi[1];
      for (int k = 0; k < 3; ++k) p->xyz[k] = o[k] + a * e1[k] + b * e2[k];
      surface->net.push_back(p);
    }
  patch->bg_surface = surface;
}

// ---------------------------------------------------------------------------
// Geometry of a patch
// ---------------------------------------------------------------------------

namespace {

[[noreturn]] void patch_failure(mgn_patch* patch, const std::string& message, const double* where, int kind,
                                long id, const char* routine, long line) {
  mgn_note_partial_patch(patch);
  mgn_record_error_location(kind, id, where);
  mgn_manipulation_error(message, routine, mgn_module_name(__FILE__), line);
}

// A point of the middle segment of a loop curve and the segment's
// direction.
bool curve_probe(const mgn_loop_set& set, int curve, double point[2], double direction[2]) {
  std::vector<std::size_t> own;
  for (std::size_t i = 0; i < set.segments.size(); ++i)
    if (set.origin[i] == curve) own.push_back(i);
  if (own.empty()) return false;
  const auto& s = set.segments[own[own.size() / 2]];
  point[0] = 0.5 * (s[0] + s[2]);
  point[1] = 0.5 * (s[1] + s[3]);
  direction[0] = s[2] - s[0];
  direction[1] = s[3] - s[1];
  return direction[0] != 0.0 || direction[1] != 0.0;
}

// Interior sample points of a curve in parameters (k / 8 of its length).
template <typename Locate>
bool curve_inside(const mgn_loop_set& loops, const mgn_curve* curve, Locate locate, double tolerance) {
  for (int k = 1; k < 8; ++k) {
    double p[3], uv[2] = {0.0, 0.0};
    mgn_get_curve_point(curve, k / 8.0, p);
    locate(p, uv);
    if (!mgn_check_point_inside_loops(loops, uv[0], uv[1], tolerance)) return false;
  }
  for (int end = 0; end < 2; ++end) {
    double uv[2] = {0.0, 0.0};
    locate(curve->vertex[end]->xyz, uv);
    if (loops.winding(uv[0], uv[1]) != 1) {
      // An end may lie on the loops.
      bool on = false;
      for (const auto& s : loops.segments) on = on || segment_distance2(s, uv[0], uv[1]) <= tolerance * tolerance;
      if (!on) return false;
    }
  }
  return true;
}

}  // namespace

void mgn_check_patch_geometry(mgn_patch* patch) {
  if (patch->is_virtual || patch->id == 0 || patch->bg_surface == nullptr) return;
  const long pid = patch->id;
  // Parameters are near the unit square (the background surface spans three
  // times the box of the loops): points closer than this lie on the loops.
  constexpr double kOnLoops = 1e-9;
  const mgn_loop_set own = mgn_build_loop_set(MGN_PATCH, patch, false);
  // Subpatches inside: the middle of each of their curves.
  for (void* child_record : mgn_get_hole_children(MGN_PATCH, patch)) {
    auto* child = static_cast<mgn_patch*>(child_record);
    for (const mgn_loop_curve& c : mgn_get_loop_curves(MGN_PATCH, child, false)) {
      if (c.curve->collapsed) continue;
      double p[3], uv[2] = {0.0, 0.0};
      mgn_get_curve_point(c.curve, 0.5, p);
      mgn_get_patch_uv(patch, p, uv);
      if (!mgn_check_point_inside_loops(own, uv[0], uv[1], kOnLoops) && !on_loops(own, uv, kOnLoops)) {
        mgn_note_partial_patch(child);
        mgn_note_partial_curve(c.curve);
        patch_failure(patch, mgn_format("Subpatch %ld is not inside patch %ld", static_cast<long>(child->id), pid), p,
                      MGN_CURVE, c.curve->id, __func__, __LINE__);
      }
    }
  }
  // Orientation: winding 1 just left of every curve, 0 just right of it.
  const mgn_loop_set loops = mgn_build_loop_set(MGN_PATCH, patch, true);
  for (std::size_t c = 0; c < loops.curves.size(); ++c) {
    double m[2], d[2];
    if (!curve_probe(loops, static_cast<int>(c), m, d)) continue;
    constexpr double kOffset = 1e-5;  // of the segment's length
    const int left = loops.winding(m[0] - kOffset * d[1], m[1] + kOffset * d[0]);
    const int right = loops.winding(m[0] + kOffset * d[1], m[1] - kOffset * d[0]);
    if (left != 1 || right != 0) {
      mgn_curve* curve = loops.curves[c].curve;
      mgn_note_partial_curve(curve);
      patch_failure(patch, mgn_format("Invalid topology of patch %ld detected\nCheck normal orientation", pid),
                    curve->vertex[0]->xyz, MGN_PATCH, pid, __func__, __LINE__);
    }
  }
  // Vertices and curves fixed inside.
  auto locate = [&](const double* p, double uv[2]) { mgn_get_patch_uv(patch, p, uv); };
  for (mgn_vertex* v : mgn_list_range<mgn_vertex>(patch->fixed_vertices)) {
    double uv[2] = {0.0, 0.0};
    locate(v->xyz, uv);
    if (!mgn_check_point_inside_loops(loops, uv[0], uv[1], kOnLoops)) {
      mgn_note_partial_vertex(v);
      patch_failure(patch, mgn_format("Vertex %ld is not inside patch %ld", mgn_lid(v), pid), v->xyz, MGN_VERTEX, v->id,
                    __func__, __LINE__);
    }
  }
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(patch->fixed_curves))
    if (!curve_inside(loops, curve, locate, kOnLoops)) {
      mgn_note_partial_curve(curve);
      patch_failure(patch, mgn_format("Curve %ld is not inside patch %ld", mgn_lid(curve), pid), curve->vertex[0]->xyz,
                    MGN_CURVE, curve->id, __func__, __LINE__);
    }
}

void mgn_check_patch_planarity(mgn_patch* patch) {
  if (patch->is_virtual || patch->id == 0) return;
  const long pid = patch->id;
  double o[3];
  plane_point(patch, o);
  const double* n = patch->normal;
  // The size of the patch: the diagonal of the box of its loops.
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (const double* p : patch_hull_points(patch))
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], p[k]);
      hi[k] = std::max(hi[k], p[k]);
    }
  double extent = 0.0;
  if (lo[0] <= hi[0]) extent = std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                                         (hi[2] - lo[2]) * (hi[2] - lo[2]));
  if (!(extent > 0.0)) extent = 1.0;
  const double internal = internal_tolerance() * extent;
  const double admissible =
      std::max(patch->epsilon_given ? patch->epsilon : mgn_set.user_epsilon, internal_tolerance()) * extent;
  bool planar = true;
  auto distance = [&](const double* p) { return std::fabs(mgn_get_point_plane_distance(p, o, n)); };
  // Vertices first, then curves, each in the order of the loops.
  std::vector<mgn_vertex*> vertices = loop_vertices(MGN_PATCH, patch, true);
  std::vector<mgn_curve*> curves;
  for (const mgn_loop_curve& c : mgn_get_loop_curves(MGN_PATCH, patch, true)) curves.push_back(c.curve);
  for (mgn_curve* c : mgn_list_range<mgn_curve>(patch->fixed_curves)) {
    curves.push_back(c);
    for (mgn_vertex* v : c->vertex)
      if (std::find(vertices.begin(), vertices.end(), v) == vertices.end()) vertices.push_back(v);
  }
  for (mgn_vertex* v : mgn_list_range<mgn_vertex>(patch->fixed_vertices))
    if (std::find(vertices.begin(), vertices.end(), v) == vertices.end()) vertices.push_back(v);
  // The vertex farthest from the plane is the one reported: with the plane
  // through the mean of the vertices, one vertex off the plane is farther
  // from it than all the others.
  mgn_vertex* farthest = nullptr;
  double farthest_distance = 0.0;
  for (mgn_vertex* v : vertices) {
    const double d = distance(v->xyz);
    if (d > internal) planar = false;
    if (d > admissible && d > farthest_distance) {
      farthest = v;
      farthest_distance = d;
    }
  }
  if (farthest != nullptr) {
    mgn_note_partial_vertex(farthest);
    patch_failure(patch,
                  mgn_format("Vertex %ld is not close enough to plane of patch %ld (distance %e)", mgn_lid(farthest), pid,
                             farthest_distance),
                  farthest->xyz, MGN_VERTEX, farthest->id, __func__, __LINE__);
  }
  for (mgn_curve* curve : curves) {
    if (curve->collapsed) continue;
    constexpr int kSamples = 16;
    double worst = 0.0, at[3] = {0.0, 0.0, 0.0};
    for (int k = 1; k < kSamples; ++k) {
      double p[3];
      mgn_get_curve_point(curve, static_cast<double>(k) / kSamples, p);
      const double d = distance(p);
      if (d > worst) {
        worst = d;
        mgn_copy3(at, p);
      }
    }
    if (worst > internal) planar = false;
    if (worst > admissible) {
      mgn_note_partial_curve(curve);
      patch_failure(patch,
                    mgn_format("Curve %ld is not close enough to plane of patch %ld (distance %e)", mgn_lid(curve), pid, worst),
                    at, MGN_CURVE, curve->id, __func__, __LINE__);
    }
  }
  patch->nonplanar = !planar;
  if (planar) return;
  if (!mgn_set.nodal_smoothing) {
    mgn_note_partial_patch(patch);
    mgn_manipulation_error(mgn_format("Non-planar patch (%ld) cannot be handled without smoothing", pid), MGN_HERE);
  }
  if (patch->iso) {
    mgn_warning("Warning: Iso meshing of non-planar patch (%ld) ignored\n", pid);
    patch->iso = false;
  }
}

// ---------------------------------------------------------------------------
// Geometry of a shell
// ---------------------------------------------------------------------------

bool mgn_check_vertex_on_surface(const mgn_surface* surface, const mgn_vertex* vertex) {
  const double tol = internal_tolerance() * net_extent(surface);
  double uv[2];
  const double* guess = vertex->parent_surface == surface ? vertex->param : nullptr;
  return mgn_locate_surface_point(surface, vertex->xyz, guess, uv) <= tol * tol;
}

bool mgn_check_curve_on_surface(const mgn_surface* surface, const mgn_curve* curve) {
  const double tol = internal_tolerance() * net_extent(surface);
  constexpr int kSamples = 16;
  double guess[2];
  bool have = false;
  for (int k = 0; k <= kSamples; ++k) {
    double p[3], uv[2] = {0.0, 0.0};
    mgn_get_curve_point(curve, static_cast<double>(k) / kSamples, p);
    if (mgn_locate_surface_point(surface, p, have ? guess : nullptr, uv) > tol * tol) return false;
    guess[0] = uv[0];
    guess[1] = uv[1];
    have = true;
  }
  return true;
}

void mgn_check_shell_geometry(mgn_shell* shell) {
  if (shell->is_virtual || shell->id == 0 || shell->bg_surface == nullptr) return;
  const long sid = shell->id;
  const long bid = shell->bg_surface->id;
  auto fail = [&](const std::string& message, int kind, long id, const double* where) {
    mgn_note_partial_shell(shell);
    mgn_note_partial_surface(shell->bg_surface);
    mgn_record_error_location(kind, id, where);
    mgn_manipulation_error(message, "mgn_check_shell_geometry", mgn_module_name(__FILE__), __LINE__);
  };
  std::vector<mgn_vertex*> checked;
  for (const mgn_loop_curve& c : mgn_get_loop_curves(MGN_SHELL, shell, false))
    for (mgn_vertex* v : c.curve->vertex) {
      if (std::find(checked.begin(), checked.end(), v) != checked.end()) continue;
      checked.push_back(v);
      if (!mgn_check_vertex_on_surface(shell->bg_surface, v)) {
        mgn_note_partial_vertex(v);
        fail(mgn_format("Vertex %ld of shell %ld is not close enough to or inside surface %ld", mgn_lid(v), sid, bid),
             MGN_VERTEX, v->id, v->xyz);
      }
    }
  for (const mgn_loop_curve& c : mgn_get_loop_curves(MGN_SHELL, shell, false))
    if (!c.curve->collapsed && !mgn_check_curve_on_surface(shell->bg_surface, c.curve)) {
      mgn_note_partial_curve(c.curve);
      fail(mgn_format("Curve %ld of shell %ld is not close enough to or inside surface %ld", mgn_lid(c.curve), sid, bid),
           MGN_CURVE, c.curve->id, c.curve->vertex[0]->xyz);
    }
  // Subshells inside: the middle of each of their curves.
  const mgn_loop_set own = mgn_build_loop_set(MGN_SHELL, shell, false);
  for (void* child_record : mgn_get_hole_children(MGN_SHELL, shell)) {
    auto* child = static_cast<mgn_shell*>(child_record);
    for (const mgn_loop_curve& c : mgn_get_loop_curves(MGN_SHELL, child, false)) {
      if (c.curve->collapsed) continue;
      double p[3], uv[2] = {0.0, 0.0};
      mgn_get_curve_point(c.curve, 0.5, p);
      mgn_locate_surface_point(shell->bg_surface, p, nullptr, uv);
      if (!mgn_check_point_inside_loops(own, uv[0], uv[1], 1e-9) && !on_loops(own, uv, 1e-9)) {
        mgn_note_partial_shell(child);
        mgn_note_partial_curve(c.curve);
        fail(mgn_format("Subshell %ld is not inside shell %ld", static_cast<long>(child->id), sid), MGN_CURVE,
             c.curve->id, p);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// After reading
// ---------------------------------------------------------------------------

void mgn_prepare_patches() {
  for (mgn_patch* patch : mgn_list_range<mgn_patch>(mgn_model.patches.list)) {
    if (patch->id == 0 || patch->is_virtual) continue;
    mgn_check_patch_planarity(patch);
    mgn_create_patch_bg_surface(patch);
    mgn_check_patch_geometry(patch);
  }
}
