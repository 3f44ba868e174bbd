// The closed boundary of a region: its faces, the topology check with the
// pairwise orientation checks, and the location of points by the winding
// number of the boundary.
//
// Topology.  Every face contributes the curves of its loops, each with the
// direction in which the face runs along it (times the side the region
// uses).  A curve fixed to a parent curve is a piece [s, e] of the root of
// its chain of fixations and runs along it, so the uses are compared on the
// roots: the breakpoints of all uses of one root cut it into elementary
// pieces, and each piece used at all must be used twice at least, by faces
// running along it and against it in equal numbers.  This accepts a face
// meeting two neighbours along the two halves of one of its sides, and a
// curve where four faces of one region meet.
//
// Winding number.  The solid angle that a face subtends at a point is the
// sum over flat triangles between points of the face; a triangle of the
// parameter square is split in four while it is not small against its
// distance from the point or not flat enough, so the sum is accurate for
// every point that is not within the tolerance of the boundary, and such
// points are recognised on the way down.  Planar patches are fans of flat
// triangles over their loops, shells fans of parameter triangles over their
// trimming loops.  No ray is cast: nothing depends on where a ray would hit
// an edge.
#include "input1.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <unordered_map>

#include "bezier.h"
#include "curve.h"
#include "geom.h"
#include "input3.h"
#include "list.h"
#include "message.h"
#include "project.h"
#include "vec3.h"
#include "vertex.h"

namespace {

long face_id(const mgn_region_face& face) {
  switch (face.kind) {
    case MGN_SURFACE: return static_cast<const mgn_surface*>(face.entity)->id;
    case MGN_PATCH: return static_cast<const mgn_patch*>(face.entity)->id;
    default: return static_cast<const mgn_shell*>(face.entity)->id;
  }
}

const char* face_word(int kind) { return kind == MGN_SURFACE ? "surface" : kind == MGN_PATCH ? "patch" : "shell"; }

void note_face(const mgn_region_face& face) {
  switch (face.kind) {
    case MGN_SURFACE: mgn_note_partial_surface(static_cast<mgn_surface*>(face.entity)); break;
    case MGN_PATCH: mgn_note_partial_patch(static_cast<mgn_patch*>(face.entity)); break;
    default: mgn_note_partial_shell(static_cast<mgn_shell*>(face.entity)); break;
  }
}

// ---------------------------------------------------------------------------
// Loops of the faces
// ---------------------------------------------------------------------------

// Direction of side s in the counterclockwise loop of a surface: sides 0
// and 3 run with their parameter, sides 1 and 2 against it.
int side_direction(const mgn_surface* surface, int side) {
  const int along = side == 0 || side == 3 ? 1 : -1;
  return surface->reversed[side] ? -along : along;
}

// The surfaces fixed to a surface that leave a hole in its mesh: every one
// that is not virtual (meshed on its own, or a hole).
std::vector<const mgn_surface*> hole_children(const mgn_surface* surface) {
  std::vector<const mgn_surface*> children;
  for (const mgn_surface* child : mgn_list_range<mgn_surface>(surface->child_surfaces))
    if (child != nullptr && child != surface && !child->is_virtual) children.push_back(child);
  return children;
}

// A curve with its direction in the loop of a face.
struct loop_curve {
  mgn_curve* curve;
  int direction;
};

// The curves of the loops of a face with their directions.
std::vector<loop_curve> face_loops(int kind, const void* entity) {
  std::vector<loop_curve> loops;
  if (kind == MGN_SURFACE) {
    const auto* surface = static_cast<const mgn_surface*>(entity);
    for (int s = 0; s < 4; ++s)
      if (surface->curve[s] != nullptr) loops.push_back({surface->curve[s], side_direction(surface, s)});
    // The holes of the children, run the other way round; a side shared by
    // two children bounds no hole.
    const std::vector<const mgn_surface*> children = hole_children(surface);
    std::vector<const mgn_curve*> sides;
    for (const mgn_surface* child : children)
      for (const mgn_curve* curve : child->curve) sides.push_back(curve);
    for (const mgn_surface* child : children)
      for (int s = 0; s < 4; ++s) {
        mgn_curve* curve = child->curve[s];
        if (curve != nullptr && std::count(sides.begin(), sides.end(), curve) == 1)
          loops.push_back({curve, -side_direction(child, s)});
      }
    return loops;
  }
  // Patches and shells: their loops with the holes their children leave.
  for (const mgn_loop_curve& c : mgn_get_loop_curves(kind, entity, true)) loops.push_back({c.curve, c.direction});
  return loops;
}

// ---------------------------------------------------------------------------
// Topology
// ---------------------------------------------------------------------------

// Parameters on a root curve closer than this are one breakpoint.
constexpr double kParameterTolerance = 1e-9;

// One curve of the loop of one face, placed on the root of its chain of
// fixations.
struct curve_use {
  mgn_curve* curve;
  const mgn_curve* root;
  double start, end;  // interval on the root, start < end
  int direction;      // loop direction times the side the region uses
  std::size_t face;
};

// An elementary piece of a root curve and the uses covering it.
struct curve_piece {
  std::vector<std::size_t> uses;
};

std::vector<curve_use> collect_uses(const std::vector<mgn_region_face>& faces) {
  std::vector<curve_use> uses;
  for (std::size_t f = 0; f < faces.size(); ++f)
    for (const loop_curve& loop : face_loops(faces[f].kind, faces[f].entity)) {
      if (loop.curve->collapsed) continue;
      curve_use use{loop.curve, nullptr, 0.0, 1.0, loop.direction * faces[f].side, f};
      use.root = mgn_get_root_curve(loop.curve, &use.start, &use.end);
      if (use.root->collapsed || !(use.end - use.start > kParameterTolerance)) continue;
      uses.push_back(use);
    }
  return uses;
}

// Cuts the roots at every end of a use; returns the pieces and, per use, the
// pieces it covers.
std::vector<curve_piece> cut_roots(const std::vector<curve_use>& uses, std::vector<std::vector<std::size_t>>& of_use) {
  std::vector<curve_piece> pieces;
  of_use.assign(uses.size(), {});
  std::vector<const mgn_curve*> roots;  // in the order first met
  std::unordered_map<const mgn_curve*, std::vector<std::size_t>> by_root;
  for (std::size_t u = 0; u < uses.size(); ++u) {
    auto [it, added] = by_root.try_emplace(uses[u].root);
    if (added) roots.push_back(uses[u].root);
    it->second.push_back(u);
  }
  for (const mgn_curve* root : roots) {
    const std::vector<std::size_t>& group = by_root[root];
    std::vector<double> cuts;
    for (std::size_t u : group) {
      cuts.push_back(uses[u].start);
      cuts.push_back(uses[u].end);
    }
    std::sort(cuts.begin(), cuts.end());
    std::vector<double> merged;
    for (double t : cuts)
      if (merged.empty() || t - merged.back() > kParameterTolerance) merged.push_back(t);
    for (std::size_t k = 0; k + 1 < merged.size(); ++k) {
      const double a = merged[k], b = merged[k + 1];
      curve_piece piece;
      for (std::size_t u : group)
        if (uses[u].start <= a + kParameterTolerance && uses[u].end >= b - kParameterTolerance) piece.uses.push_back(u);
      if (piece.uses.empty()) continue;
      for (std::size_t u : piece.uses) of_use[u].push_back(pieces.size());
      pieces.push_back(std::move(piece));
    }
  }
  return pieces;
}

// Runs the pairwise check of the kinds of two faces sharing a piece.
void check_pair(mgn_region* region, const mgn_region_face& a, mgn_curve* ca, const mgn_region_face& b,
                mgn_curve* cb) {
  auto surface = [](const mgn_region_face& f) { return static_cast<mgn_surface*>(f.entity); };
  auto patch = [](const mgn_region_face& f) { return static_cast<mgn_patch*>(f.entity); };
  auto shell = [](const mgn_region_face& f) { return static_cast<mgn_shell*>(f.entity); };
  if (a.kind == MGN_SURFACE && b.kind == MGN_SURFACE)
    mgn_check_surface_surface(region, surface(a), a.side, ca, surface(b), b.side, cb);
  else if (a.kind == MGN_PATCH && b.kind == MGN_SURFACE)
    mgn_check_patch_surface(region, patch(a), a.side, ca, surface(b), b.side, cb);
  else if (a.kind == MGN_SURFACE && b.kind == MGN_PATCH)
    mgn_check_patch_surface(region, patch(b), b.side, cb, surface(a), a.side, ca);
  else if (a.kind == MGN_SHELL && b.kind == MGN_SURFACE)
    mgn_check_shell_surface(region, shell(a), a.side, ca, surface(b), b.side, cb);
  else if (a.kind == MGN_SURFACE && b.kind == MGN_SHELL)
    mgn_check_shell_surface(region, shell(b), b.side, cb, surface(a), a.side, ca);
  else if (a.kind == MGN_PATCH && b.kind == MGN_PATCH)
    mgn_check_patch_patch(region, patch(a), a.side, ca, patch(b), b.side, cb);
  else if (a.kind == MGN_PATCH && b.kind == MGN_SHELL)
    mgn_check_patch_shell(region, patch(a), a.side, ca, shell(b), b.side, cb);
  else if (a.kind == MGN_SHELL && b.kind == MGN_PATCH)
    mgn_check_shell_patch(region, shell(a), a.side, ca, patch(b), b.side, cb);
  else
    mgn_check_shell_shell(region, shell(a), a.side, ca, shell(b), b.side, cb);
}

// The common part of the pairwise checks: the message names the two faces
// in the words of pair ("surfaces %ld and %ld").
void check_orientation(mgn_region* region, const mgn_region_face& a, mgn_curve* ca, const mgn_region_face& b,
                       mgn_curve* cb, const char* pair, const char* routine) {
  const int da = mgn_get_face_curve_direction(a.kind, a.entity, ca) * a.side;
  const int db = mgn_get_face_curve_direction(b.kind, b.entity, cb) * b.side;
  if (da != db) return;
  mgn_note_partial_region(region);
  note_face(a);
  note_face(b);
  mgn_note_partial_curve(ca);
  if (cb != ca) mgn_note_partial_curve(cb);
  mgn_record_error_location(MGN_CURVE, ca->id, ca->vertex[0]->ctrl_point->xyz);
  const std::string format = std::string("Invalid topology of region %ld detected\nCheck orientation of ") + pair;
  mgn_manipulation_error(mgn_format(format.c_str(), mgn_lid(region), face_id(a), face_id(b)), routine,
                         mgn_module_name(__FILE__), __LINE__);
}

}  // namespace

std::vector<mgn_region_face> mgn_get_region_faces(const mgn_region* region) {
  std::vector<mgn_region_face> faces;
  auto add = [&](mgn_list list, int kind, int side) {
    for (void* entity : mgn_list_range<void>(list)) faces.push_back({kind, entity, side});
  };
  add(region->inner_surfaces, MGN_SURFACE, 1);
  add(region->outer_surfaces, MGN_SURFACE, -1);
  add(region->inner_patches, MGN_PATCH, 1);
  add(region->outer_patches, MGN_PATCH, -1);
  add(region->inner_shells, MGN_SHELL, 1);
  add(region->outer_shells, MGN_SHELL, -1);
  return faces;
}

int mgn_get_face_curve_direction(int kind, const void* entity, const mgn_curve* curve) {
  for (const loop_curve& loop : face_loops(kind, entity))
    if (loop.curve == curve) return loop.direction;
  return 0;
}

void mgn_check_region_topology(mgn_region* region) {
  if (region->is_virtual) return;
  // The faces by kind and identifier, so that messages name them in that
  // order whatever the sides.
  std::vector<mgn_region_face> faces = mgn_get_region_faces(region);
  const auto rank = [](int kind) { return kind == MGN_SURFACE ? 0 : kind == MGN_PATCH ? 1 : 2; };
  std::stable_sort(faces.begin(), faces.end(), [&](const mgn_region_face& x, const mgn_region_face& y) {
    if (rank(x.kind) != rank(y.kind)) return rank(x.kind) < rank(y.kind);
    return face_id(x) < face_id(y);
  });
  const std::vector<curve_use> uses = collect_uses(faces);
  std::vector<std::vector<std::size_t>> of_use;
  const std::vector<curve_piece> pieces = cut_roots(uses, of_use);

  // Closure: no piece bounds one face only.
  for (std::size_t u = 0; u < uses.size(); ++u)
    for (std::size_t p : of_use[u]) {
      if (pieces[p].uses.size() != 1) continue;
      const mgn_region_face& face = faces[uses[u].face];
      mgn_note_partial_region(region);
      note_face(face);
      mgn_note_partial_curve(uses[u].curve);
      mgn_record_error_location(MGN_CURVE, uses[u].curve->id, uses[u].curve->vertex[0]->ctrl_point->xyz);
      mgn_manipulation_error(mgn_format("Invalid topology of region %ld detected\nCurve %ld shared only by %s %ld",
                                        mgn_lid(region), mgn_lid(uses[u].curve), face_word(face.kind), face_id(face)),
                             MGN_HERE);
    }
  // Orientation: two faces on a piece by their pairwise check; more faces
  // must run along it and against it in equal numbers, else a pair running
  // the same way is checked (and fails).
  for (std::size_t u = 0; u < uses.size(); ++u)
    for (std::size_t p : of_use[u]) {
      const std::vector<std::size_t>& on = pieces[p].uses;
      if (on.size() == 2) {
        const std::size_t v = on[0] == u ? on[1] : on[0];
        if (v > u) check_pair(region, faces[uses[u].face], uses[u].curve, faces[uses[v].face], uses[v].curve);
        continue;
      }
      int balance = 0;
      for (std::size_t w : on) balance += uses[w].direction;
      if (balance == 0) continue;
      for (std::size_t i = 0; i < on.size(); ++i)
        for (std::size_t j = i + 1; j < on.size(); ++j)
          if (uses[on[i]].direction == uses[on[j]].direction)
            check_pair(region, faces[uses[on[i]].face], uses[on[i]].curve, faces[uses[on[j]].face],
                       uses[on[j]].curve);
    }
}

void mgn_check_surface_surface(mgn_region* region, mgn_surface* first, int first_side, mgn_curve* first_curve,
                               mgn_surface* second, int second_side, mgn_curve* second_curve) {
  check_orientation(region, {MGN_SURFACE, first, first_side}, first_curve, {MGN_SURFACE, second, second_side},
                    second_curve, "surfaces %ld and %ld",
                    __func__);
}

void mgn_check_patch_surface(mgn_region* region, mgn_patch* first, int first_side, mgn_curve* first_curve,
                             mgn_surface* second, int second_side, mgn_curve* second_curve) {
  check_orientation(region, {MGN_PATCH, first, first_side}, first_curve, {MGN_SURFACE, second, second_side},
                    second_curve, "patch %ld and surface %ld",
                    __func__);
}

void mgn_check_shell_surface(mgn_region* region, mgn_shell* first, int first_side, mgn_curve* first_curve,
                             mgn_surface* second, int second_side, mgn_curve* second_curve) {
  check_orientation(region, {MGN_SHELL, first, first_side}, first_curve, {MGN_SURFACE, second, second_side},
                    second_curve, "shell %ld and surface %ld",
                    __func__);
}

void mgn_check_patch_patch(mgn_region* region, mgn_patch* first, int first_side, mgn_curve* first_curve,
                           mgn_patch* second, int second_side, mgn_curve* second_curve) {
  check_orientation(region, {MGN_PATCH, first, first_side}, first_curve, {MGN_PATCH, second, second_side},
                    second_curve, "patches %ld and %ld",
                    __func__);
}

void mgn_check_patch_shell(mgn_region* region, mgn_patch* first, int first_side, mgn_curve* first_curve,
                           mgn_shell* second, int second_side, mgn_curve* second_curve) {
  check_orientation(region, {MGN_PATCH, first, first_side}, first_curve, {MGN_SHELL, second, second_side},
                    second_curve, "patch %ld and shell %ld",
                    __func__);
}

void mgn_check_shell_patch(mgn_region* region, mgn_shell* first, int first_side, mgn_curve* first_curve,
                           mgn_patch* second, int second_side, mgn_curve* second_curve) {
  check_orientation(region, {MGN_SHELL, first, first_side}, first_curve, {MGN_PATCH, second, second_side},
                    second_curve, "shell %ld and patch %ld",
                    __func__);
}

void mgn_check_shell_shell(mgn_region* region, mgn_shell* first, int first_side, mgn_curve* first_curve,
                           mgn_shell* second, int second_side, mgn_curve* second_curve) {
  check_orientation(region, {MGN_SHELL, first, first_side}, first_curve, {MGN_SHELL, second, second_side},
                    second_curve, "shells %ld and %ld",
                    __func__);
}

// ---------------------------------------------------------------------------
// Winding number
// ---------------------------------------------------------------------------

namespace {

constexpr double kFourPi = 4.0 * MGN_PI;
// A flat triangle stands for a piece of a face once the point is farther
// from the piece than twice its radius and the solid angle lost to the
// flattening, about radius^2 deviation / distance^3, is below this.
constexpr double kAngleError = 1e-5;
// Most pieces one point may cost; beyond them (a model with coordinates
// that overflow, say) every piece is taken flat.
constexpr long kPieceBudget = 1L << 22;
// Deepest subdivision of one triangle (its size halves every level or two).
constexpr int kMaxDepth = 120;
// Deepest halving of a curve (its chords halve at each level).
constexpr int kMaxCurveDepth = 60;

// Signed solid angle of the triangle a b c seen from p: positive when its
// normal (b - a) x (c - a) points away from p.
double solid_angle(const double* p, const double* a, const double* b, const double* c) {
  double A[3], B[3], C[3], bc[3];
  mgn_sub(a, p, A);
  mgn_sub(b, p, B);
  mgn_sub(c, p, C);
  const double la = mgn_norm(A), lb = mgn_norm(B), lc = mgn_norm(C);
  mgn_cross(B, C, bc);
  const double numerator = mgn_dot(A, bc);
  const double denominator = la * lb * lc + mgn_dot(A, B) * lc + mgn_dot(A, C) * lb + mgn_dot(B, C) * la;
  if (numerator == 0.0 && denominator <= 0.0) return 0.0;  // the point on the triangle's plane and edge
  return 2.0 * std::atan2(numerator, denominator);
}

// The running sum of one point.
struct winding_sum {
  const double* point;
  double tolerance;
  double angle = 0.0;
  bool on_boundary = false;
  long pieces = 0;
};

// A parameter point of a surface with its position.
struct surface_point {
  double uv[2];
  double xyz[3];
};

surface_point evaluate(const mgn_surface* surface, double u, double v) {
  surface_point p{{u, v}, {0.0, 0.0, 0.0}};
  mgn_get_surface_point(surface, u, v, p.xyz);
  return p;
}

surface_point midpoint(const mgn_surface* surface, const surface_point& a, const surface_point& b) {
  return evaluate(surface, 0.5 * (a.uv[0] + b.uv[0]), 0.5 * (a.uv[1] + b.uv[1]));
}

// Which parameter points of the surface belong to the face (for shells and
// for surfaces with holes): a point near the surface elsewhere is not on
// the boundary.
using face_domain = std::function<bool(const double* uv)>;

// Adds the solid angle of the surface over the parameter triangle a b c
// (counterclockwise: the triangle counts with the normal Su x Sv) times
// sign.  A triangle too close or not flat enough is halved across its
// longest edge in space, so that pieces shrink where the surface is large,
// not where its parameters are (near a collapsed side a thin strip of the
// parameter square is a small piece of surface).
void add_surface_triangle(const mgn_surface* surface, const surface_point& a, const surface_point& b,
                          const surface_point& c, double sign, int depth, const face_domain* domain,
                          winding_sum& sum) {
  const surface_point ab = midpoint(surface, a, b), bc = midpoint(surface, b, c), ca = midpoint(surface, c, a);
  const surface_point* all[6] = {&a, &b, &c, &ab, &bc, &ca};
  double centre[3] = {0.0, 0.0, 0.0};
  for (const surface_point* q : all)
    for (int k = 0; k < 3; ++k) centre[k] += q->xyz[k] / 6.0;
  double radius = 0.0;
  for (const surface_point* q : all) radius = std::max(radius, mgn_get_point_distance(centre, q->xyz));
  // Edges with their midpoints; the deviation of the face from the chords.
  const surface_point* edges[3][3] = {{&a, &b, &ab}, {&b, &c, &bc}, {&c, &a, &ca}};
  double deviation = 0.0, longest = -1.0;
  int split = 0;
  for (int e = 0; e < 3; ++e) {
    double chord_middle[3];
    for (int k = 0; k < 3; ++k) chord_middle[k] = 0.5 * (edges[e][0]->xyz[k] + edges[e][1]->xyz[k]);
    deviation = std::max(deviation, mgn_get_point_distance(chord_middle, edges[e][2]->xyz));
    const double length = mgn_get_point_distance(edges[e][0]->xyz, edges[e][2]->xyz) +
                          mgn_get_point_distance(edges[e][2]->xyz, edges[e][1]->xyz);
    if (length > longest) {
      longest = length;
      split = e;
    }
  }
  const double d = mgn_get_point_distance(sum.point, centre);
  const bool far = depth >= 2 && d > 2.0 * radius && radius * radius * deviation <= kAngleError * d * d * d;
  const bool small = radius <= sum.tolerance || depth >= kMaxDepth || !std::isfinite(d + radius + deviation) ||
                     ++sum.pieces > kPieceBudget;
  if (far || small) {
    if (small && d <= radius + 2.0 * sum.tolerance) {
      const double uv[2] = {(a.uv[0] + b.uv[0] + c.uv[0]) / 3.0, (a.uv[1] + b.uv[1] + c.uv[1]) / 3.0};
      if (domain == nullptr || (*domain)(uv)) sum.on_boundary = true;
    }
    const double* p = sum.point;
    sum.angle += sign * (solid_angle(p, a.xyz, ab.xyz, ca.xyz) + solid_angle(p, ab.xyz, b.xyz, bc.xyz) +
                         solid_angle(p, ca.xyz, bc.xyz, c.xyz) + solid_angle(p, ab.xyz, bc.xyz, ca.xyz));
    return;
  }
  // Halves across the longest edge p q (midpoint m, opposite corner o),
  // keeping the turn of the triangle.
  const surface_point& p = *edges[split][0];
  const surface_point& q = *edges[split][1];
  const surface_point& m = *edges[split][2];
  const surface_point& o = split == 0 ? c : split == 1 ? a : b;
  add_surface_triangle(surface, p, m, o, sign, depth + 1, domain, sum);
  add_surface_triangle(surface, m, q, o, sign, depth + 1, domain, sum);
}

// Adds the parameter rectangle [u0, u1] x [v0, v1] of the surface.
void add_surface_rectangle(const mgn_surface* surface, double u0, double v0, double u1, double v1, double sign,
                           const face_domain* domain, winding_sum& sum) {
  const surface_point p00 = evaluate(surface, u0, v0), p10 = evaluate(surface, u1, v0);
  const surface_point p11 = evaluate(surface, u1, v1), p01 = evaluate(surface, u0, v1);
  add_surface_triangle(surface, p00, p10, p11, sign, 0, domain, sum);
  add_surface_triangle(surface, p00, p11, p01, sign, 0, domain, sum);
}

// A surface face: its square less the rectangles of its children (each
// meshed on its own face or a hole).
void add_surface_face(const mgn_surface* surface, double sign, winding_sum& sum) {
  const std::vector<const mgn_surface*> children = hole_children(surface);
  std::vector<const mgn_surface*> holes;
  for (const mgn_surface* child : children)
    if (child->hole) holes.push_back(child);
  const face_domain domain = [&holes](const double* uv) {
    for (const mgn_surface* hole : holes)
      if (uv[0] > hole->umin && uv[0] < hole->umax && uv[1] > hole->vmin && uv[1] < hole->vmax) return false;
    return true;
  };
  const face_domain nowhere = [](const double*) { return false; };
  add_surface_rectangle(surface, 0.0, 0.0, 1.0, 1.0, sign, holes.empty() ? nullptr : &domain, sum);
  for (const mgn_surface* child : children)
    add_surface_rectangle(surface, child->umin, child->vmin, child->umax, child->vmax, -sign, &nowhere, sum);
}

// Points of a curve along its loop direction, refined where the point is
// close: the chords stand for the curve once they are short against their
// distance from the point and flat.
void add_curve_points(const mgn_curve* curve, double t0, const double* a, double t1, const double* b, int depth,
                      const double* point, double tolerance, std::vector<std::array<double, 3>>& out) {
  const double tm = 0.5 * (t0 + t1);
  double m[3];
  mgn_get_curve_point(curve, tm, m);
  double chord_middle[3];
  for (int k = 0; k < 3; ++k) chord_middle[k] = 0.5 * (a[k] + b[k]);
  const double deviation = mgn_get_point_distance(m, chord_middle), length = mgn_get_point_distance(a, b);
  const double d = mgn_get_point_distance(point, chord_middle);
  const bool flat = (d > length && length * deviation <= kAngleError * d * d) || length <= tolerance;
  const bool done = (depth >= 3 && flat) || depth >= kMaxCurveDepth || !std::isfinite(d + length + deviation);
  if (done) {
    out.push_back({m[0], m[1], m[2]});
    out.push_back({b[0], b[1], b[2]});
    return;
  }
  add_curve_points(curve, t0, a, tm, m, depth + 1, point, tolerance, out);
  add_curve_points(curve, tm, m, t1, b, depth + 1, point, tolerance, out);
}

// The loops of a patch as directed segments, refined around the point.
std::vector<std::array<double, 3>> patch_segments(const mgn_patch* patch, const double* point, double tolerance) {
  std::vector<std::array<double, 3>> segments;  // pairs of ends
  for (const loop_curve& loop : face_loops(MGN_PATCH, patch)) {
    double a[3], b[3];
    mgn_get_curve_point(loop.curve, 0.0, a);
    mgn_get_curve_point(loop.curve, 1.0, b);
    std::vector<std::array<double, 3>> points{{a[0], a[1], a[2]}};
    add_curve_points(loop.curve, 0.0, a, 1.0, b, 0, point, tolerance, points);
    if (loop.direction < 0) std::reverse(points.begin(), points.end());
    for (std::size_t k = 0; k + 1 < points.size(); ++k) {
      segments.push_back(points[k]);
      segments.push_back(points[k + 1]);
    }
  }
  return segments;
}

// Squared distance of p from the segment a b.
double segment_square_distance(const double* p, const double* a, const double* b) {
  double ab[3], ap[3];
  mgn_sub(b, a, ab);
  mgn_sub(p, a, ap);
  const double l2 = mgn_dot(ab, ab);
  double t = l2 > 0.0 ? mgn_dot(ap, ab) / l2 : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  double q[3];
  for (int k = 0; k < 3; ++k) q[k] = a[k] + t * ab[k] - p[k];
  return mgn_dot(q, q);
}

// A planar patch: a fan of flat triangles over its loops from one point of
// them.  A point in the plane of the patch is on the boundary when the
// loops wind around it, and the patch subtends no angle otherwise.
void add_patch_face(const mgn_patch* patch, double sign, winding_sum& sum) {
  const std::vector<std::array<double, 3>> segments = patch_segments(patch, sum.point, sum.tolerance);
  if (segments.empty()) return;
  for (std::size_t k = 0; k < segments.size(); k += 2)
    if (segment_square_distance(sum.point, segments[k].data(), segments[k + 1].data()) <=
        sum.tolerance * sum.tolerance) {
      sum.on_boundary = true;
      return;
    }
  const double* apex = segments[0].data();
  double offset[3];
  mgn_sub(sum.point, apex, offset);
  if (std::fabs(mgn_dot(offset, patch->normal)) <= sum.tolerance) {
    double turn = 0.0;
    for (std::size_t k = 0; k < segments.size(); k += 2) {
      double a[3], b[3], axb[3];
      mgn_sub(segments[k].data(), sum.point, a);
      mgn_sub(segments[k + 1].data(), sum.point, b);
      mgn_cross(a, b, axb);
      turn += std::atan2(mgn_dot(axb, patch->normal), mgn_dot(a, b));
    }
    if (std::fabs(turn) >= MGN_PI) sum.on_boundary = true;
    return;
  }
  for (std::size_t k = 0; k < segments.size(); k += 2)
    sum.angle += sign * solid_angle(sum.point, apex, segments[k].data(), segments[k + 1].data());
}

// Winding number of the directed parameter segments (u0, v0, u1, v1) about
// a parameter point.
double parameter_winding(const std::vector<double>& segments, const double* uv) {
  double turn = 0.0;
  for (std::size_t k = 0; k + 3 < segments.size(); k += 4) {
    const double ax = segments[k] - uv[0], ay = segments[k + 1] - uv[1];
    const double bx = segments[k + 2] - uv[0], by = segments[k + 3] - uv[1];
    turn += std::atan2(ax * by - ay * bx, ax * bx + ay * by);
  }
  return turn / (2.0 * MGN_PI);
}

// A shell: a fan of parameter triangles of its background surface over its
// trimming loops.
void add_shell_face(const mgn_shell* shell, const std::vector<double>& trim, double sign, winding_sum& sum) {
  if (shell->bg_surface == nullptr || trim.size() < 4) return;
  const mgn_surface* surface = shell->bg_surface;
  const surface_point apex = evaluate(surface, trim[0], trim[1]);
  const face_domain domain = [&trim](const double* uv) { return std::fabs(parameter_winding(trim, uv)) >= 0.5; };
  for (std::size_t k = 0; k + 3 < trim.size(); k += 4) {
    const surface_point a = evaluate(surface, trim[k], trim[k + 1]);
    const surface_point b = evaluate(surface, trim[k + 2], trim[k + 3]);
    add_surface_triangle(surface, apex, a, b, sign, 0, &domain, sum);
  }
}

// The trimming loops of a shell in the parameters of its background
// surface: points of each loop curve projected onto the surface.
std::vector<double> shell_trim(const mgn_shell* shell) {
  std::vector<double> segments;
  if (shell->bg_surface == nullptr) return segments;
  for (const loop_curve& loop : face_loops(MGN_SHELL, shell)) {
    const int n = 16 * std::max<int>(2, loop.curve->order);
    std::vector<double> uv;
    for (int k = 0; k <= n; ++k) {
      double p[3], u = 0.5, v = 0.5;
      mgn_get_curve_point(loop.curve, static_cast<double>(k) / n, p);
      mgn_find_closest_surface_point(shell->bg_surface, p, &u, &v);
      uv.push_back(u);
      uv.push_back(v);
    }
    if (loop.direction < 0)
      for (std::size_t i = 0, j = uv.size() - 2; i < j; i += 2, j -= 2) {
        std::swap(uv[i], uv[j]);
        std::swap(uv[i + 1], uv[j + 1]);
      }
    for (std::size_t k = 0; k + 3 < uv.size(); k += 2)
      segments.insert(segments.end(), {uv[k], uv[k + 1], uv[k + 2], uv[k + 3]});
  }
  return segments;
}

}  // namespace

mgn_region_boundary mgn_build_region_boundary(const mgn_region* region) {
  mgn_region_boundary boundary;
  boundary.region = region;
  boundary.faces = mgn_get_region_faces(region);
  // The internal tolerance of the model checks (the geometric tolerance
  // depends on the model box, which is not known while the model is read).
  boundary.tolerance = mgn_tol.user_eps;
  auto add_vertex = [&](mgn_vertex* v) {
    if (v != nullptr && std::find(boundary.vertices.begin(), boundary.vertices.end(), v) == boundary.vertices.end())
      boundary.vertices.push_back(v);
  };
  auto add_curve = [&](const mgn_curve* c) {
    if (c == nullptr || std::find(boundary.curves.begin(), boundary.curves.end(), c) != boundary.curves.end()) return;
    boundary.curves.push_back(c);
    add_vertex(c->vertex[0]);
    add_vertex(c->vertex[1]);
    for (mgn_vertex* v : mgn_list_range<mgn_vertex>(c->fixed_vertices)) add_vertex(v);
  };
  for (const mgn_region_face& face : boundary.faces) {
    boundary.trims.push_back(face.kind == MGN_SHELL ? shell_trim(static_cast<const mgn_shell*>(face.entity))
                                                    : std::vector<double>{});
    for (const loop_curve& loop : face_loops(face.kind, face.entity)) add_curve(loop.curve);
    mgn_list fixed_curves = nullptr, fixed_vertices = nullptr;
    switch (face.kind) {
      case MGN_SURFACE:
        fixed_curves = static_cast<const mgn_surface*>(face.entity)->fixed_curves;
        fixed_vertices = static_cast<const mgn_surface*>(face.entity)->fixed_vertices;
        break;
      case MGN_PATCH:
        fixed_curves = static_cast<const mgn_patch*>(face.entity)->fixed_curves;
        fixed_vertices = static_cast<const mgn_patch*>(face.entity)->fixed_vertices;
        break;
      default:
        fixed_curves = static_cast<const mgn_shell*>(face.entity)->fixed_curves;
        fixed_vertices = static_cast<const mgn_shell*>(face.entity)->fixed_vertices;
    }
    for (const mgn_curve* curve : mgn_list_range<mgn_curve>(fixed_curves)) add_curve(curve);
    for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(fixed_vertices)) add_vertex(vertex);
  }
  return boundary;
}

mgn_region_point mgn_locate_region_point(const mgn_region_boundary& boundary, const double* point) {
  winding_sum sum{point, boundary.tolerance};
  for (std::size_t f = 0; f < boundary.faces.size() && !sum.on_boundary; ++f) {
    const mgn_region_face& face = boundary.faces[f];
    // Each face counts with the normal pointing away from the region.
    const double sign = -static_cast<double>(face.side);
    switch (face.kind) {
      case MGN_SURFACE: add_surface_face(static_cast<const mgn_surface*>(face.entity), sign, sum); break;
      case MGN_PATCH: add_patch_face(static_cast<const mgn_patch*>(face.entity), sign, sum); break;
      default: add_shell_face(static_cast<const mgn_shell*>(face.entity), boundary.trims[f], sign, sum); break;
    }
  }
  return {sum.angle / kFourPi, sum.on_boundary};
}

bool mgn_check_point_inside_region(const mgn_region_boundary& boundary, const double* point) {
  const mgn_region_point located = mgn_locate_region_point(boundary, point);
  return !located.on_boundary && std::fabs(located.winding) >= 0.5;
}

// ---------------------------------------------------------------------------
// Entities inside a region
// ---------------------------------------------------------------------------

namespace {

// Where a sample point lies: -1 outside, 0 on the boundary, 1 inside.
int locate(const mgn_region_boundary& boundary, const double* point) {
  const mgn_region_point located = mgn_locate_region_point(boundary, point);
  if (located.on_boundary) return 0;
  return std::fabs(located.winding) >= 0.5 ? 1 : -1;
}

bool boundary_vertex(const mgn_region_boundary& boundary, mgn_vertex* vertex) {
  for (mgn_vertex* v : boundary.vertices)
    if (v == vertex || mgn_get_common_root_vertex(v, vertex) != nullptr) return true;
  return false;
}

bool boundary_curve(const mgn_region_boundary& boundary, const mgn_curve* curve) {
  for (const mgn_curve* c : boundary.curves)
    if (mgn_check_curve_coincidence(c, curve)) return true;
  return false;
}

// Samples per parameter direction of an entity of the given order.
int samples(int order) { return std::max(8, 4 * order); }

}  // namespace

bool mgn_check_vertex_inside_region(const mgn_region_boundary& boundary, const mgn_vertex* vertex) {
  return locate(boundary, vertex->ctrl_point->xyz) > 0;
}

bool mgn_check_curve_inside_region(const mgn_region_boundary& boundary, const mgn_curve* curve, bool side_of_face) {
  if (!curve->collapsed) {
    const bool may_touch = side_of_face && boundary_curve(boundary, curve);
    const int n = samples(curve->order);
    for (int k = 0; k < n; ++k) {
      double p[3];
      mgn_get_curve_point(curve, (k + 0.5) / n, p);
      const int where = locate(boundary, p);
      if (where < 0 || (where == 0 && !may_touch)) return false;
    }
  }
  for (mgn_vertex* end : curve->vertex) {
    const int where = locate(boundary, end->ctrl_point->xyz);
    if (where < 0 || (where == 0 && !boundary_vertex(boundary, end))) return false;
  }
  return true;
}

bool mgn_check_surface_inside_region(const mgn_region_boundary& boundary, const mgn_surface* surface) {
  const int nu = samples(surface->order_u), nv = samples(surface->order_v);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      double p[3];
      mgn_get_surface_point(surface, (i + 0.5) / nu, (j + 0.5) / nv, p);
      if (locate(boundary, p) <= 0) return false;
    }
  for (const mgn_curve* side : surface->curve)
    if (side != nullptr && !mgn_check_curve_inside_region(boundary, side, true)) return false;
  return true;
}

bool mgn_check_patch_inside_region(const mgn_region_boundary& boundary, const mgn_patch* patch) {
  for (const loop_curve& loop : face_loops(MGN_PATCH, patch))
    if (!mgn_check_curve_inside_region(boundary, loop.curve, true)) return false;
  return true;
}

bool mgn_check_shell_inside_region(const mgn_region_boundary& boundary, const mgn_shell* shell) {
  for (const loop_curve& loop : face_loops(MGN_SHELL, shell))
    if (!mgn_check_curve_inside_region(boundary, loop.curve, true)) return false;
  return true;
}

bool mgn_check_subregion_inside_region(const mgn_region_boundary& boundary, const mgn_region* subregion) {
  auto own_face = [&boundary](const void* entity) {
    for (const mgn_region_face& face : boundary.faces)
      if (face.entity == entity) return true;
    return false;
  };
  // A sample point on the boundary of the region lies on a face that the
  // subregion shares with it only when the two use opposite sides of it:
  // the subregion is outside there.
  auto inside_or_touching = [&](const double* p, const void* entity) {
    const int where = locate(boundary, p);
    return where > 0 || (where == 0 && !own_face(entity));
  };
  for (const mgn_region_face& face : mgn_get_region_faces(subregion)) {
    if (face.kind == MGN_SURFACE) {
      const auto* surface = static_cast<const mgn_surface*>(face.entity);
      const int nu = samples(surface->order_u) / 2, nv = samples(surface->order_v) / 2;
      for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) {
          double p[3];
          mgn_get_surface_point(surface, (i + 0.5) / nu, (j + 0.5) / nv, p);
          if (!inside_or_touching(p, surface)) return false;
        }
      continue;
    }
    for (const loop_curve& loop : face_loops(face.kind, face.entity)) {
      const int n = samples(loop.curve->order) / 2;
      for (int k = 0; k < n; ++k) {
        double p[3];
        mgn_get_curve_point(loop.curve, (k + 0.5) / n, p);
        if (!inside_or_touching(p, face.entity)) return false;
      }
    }
  }
  return true;
}
