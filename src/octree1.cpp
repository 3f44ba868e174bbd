// Construction of the octree from the model: model box, root, size
// propagation, the background mesh and the refinement from vertices, curves
// and surfaces.
#include "octree1.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "bezier.h"
#include "bgmesh.h"
#include "geom.h"
#include "input3.h"
#include "list.h"
#include "message.h"
#include "octree.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Fraction of the octant around each refined point brought to its level.
constexpr double kNeighbourFraction = 0.5;

// --- model box --------------------------------------------------------------

struct box {
  double lo[3] = {kInfinity, kInfinity, kInfinity};
  double hi[3] = {-kInfinity, -kInfinity, -kInfinity};
  void add(const double* p) {
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], p[a]);
      hi[a] = std::max(hi[a], p[a]);
    }
  }
  bool empty() const { return lo[0] > hi[0]; }
};

inline bool counts_in_box(bool is_virtual) { return !is_virtual || mgn_set.include_virtual; }

// A virtual entity left out of the model box may lie outside the root: its
// points are pulled into the root box.
inline bool clamped(bool is_virtual) { return is_virtual && !mgn_set.include_virtual; }

// The finest size the octree gives at a point: what a refinement makes of
// any size finer than its deepest level (half the finest octant, times the
// octant size excess and the size scale).  A sampling that followed a finer
// size would only refine the deepest octants again, piece after piece, down
// to its depth limit: the sizes it asks for are raised to this one, with the
// point warning at the first such point of the entity.
double finest_size() { return MGN_OCTREE_SIZE_SCALE * 0.5 * mgn_tree.min_size * mgn_set.octant_excess; }

// The size raised to the finest one; point gives the place of the warning.
template <typename Point>
double at_least_finest(double size, Point&& point) {
  const double finest = finest_size();
  if (size >= finest) return size;
  if (!mgn_given_in_warning_scope(MGN_WARNING_TOO_FINE_AT_POINT)) {
    double p[3];
    point(p);
    mgn_warn_too_fine_at_point(p);
  }
  return finest;
}

// --- size propagation -------------------------------------------------------

// Entity kind words of the too-fine warning: first line, and the second and
// third lines.
struct kind_words {
  const char* where;  // "in region", "on curve", "at vertex", ...
  const char* name;   // "Region", "Curve", "Vertex", ...
};
constexpr kind_words kRegionWords{"in region", "Region"};
constexpr kind_words kShellWords{"on shell", "Shell"};
constexpr kind_words kPatchWords{"on patch", "Patch"};
constexpr kind_words kSurfaceWords{"on surface", "Surface"};
constexpr kind_words kCurveWords{"on curve", "Curve"};
constexpr kind_words kVertexWords{"at vertex", "Vertex"};

// Settles the size of an entity and returns the size it hands to the
// entities bounding it (0: none).  A size of 0 becomes the uniform size or
// 2 R; a negative (received) size is kept and handed on as its magnitude; a
// positive one is coarsened to the finest octree level and capped by the
// uniform size.
double settle_entity_size(float& size, long id, const kind_words& words) {
  const double uniform = mgn_set.uniform_size;
  if (size == 0.0f) {
    size = static_cast<float>(uniform > 0.0 ? uniform : 2.0 * mgn_tree.root_size);
    return 0.0;
  }
  if (size < 0.0f) return -static_cast<double>(size);
  double s = size;
  const double reach = mgn_tree.root_size * MGN_OCTREE_SIZE_SCALE * mgn_set.octant_excess;
  const double level = std::floor(std::log2(reach / s) + 1.0);
  if (level > mgn_tree.max_depth) {
    mgn_warning(
        "Warning: Too fine octree required %s %ld\n"
        "         %s octree depth reduced to %ld\n"
        "         %s octant size reduced to %e\n",
        words.where, id, words.name, static_cast<long>(mgn_tree.max_depth), words.name,
        mgn_tree.min_size);
    s = mgn_tree.min_size * 1.05;
  }
  if (uniform > 0.0 && s > uniform) s = uniform;
  size = static_cast<float>(s);
  return s;
}

// An entity receiving size s from an entity it bounds: with factor 0 the
// received size is kept negated (the smallest received so far); otherwise
// it replaces a larger or missing own size.
void receive_size(float& size, float factor, double s) {
  if (factor == 0.0f) {
    size = static_cast<float>(size < 0.0f ? -std::min(-static_cast<double>(size), s) : -s);
  } else if (size == 0.0f || size > s) {
    size = static_cast<float>(s);
  }
}

template <typename T>
void hand_to_list(mgn_list list, double s) {
  for (T* entity : mgn_list_range<T>(list)) receive_size(entity->size, entity->factor, s);
}

// A curve meshed from its own geometry: not virtual, not collapsed, and not
// a piece of a physical parent curve (whose mesh it takes over).
bool curve_meshes_itself(const mgn_curve* curve) {
  if (curve->is_virtual || curve->collapsed) return false;
  return curve->parent_curve == nullptr || curve->parent_curve->is_virtual;
}

// --- curve sampling ---------------------------------------------------------

struct curve_sampler {
  const mgn_curve* curve;
  bool size_needed;
  bool curvature_needed;
  double factor;
  double cap;       // the curve's own (positive) size
  double received;  // size handed down, with factor 0
  double rate;
  mgn_curve_piece_visitor visit;
  void* data;
};

// Size given by the control points of a curve at t, blended over the
// points that carry a size, as for surfaces (below): a curve fixed on a
// surface takes its control points from the surface's net, whose blended
// interior may hold negative sizes; blended with them, the size passed
// through zero along the curve and the sampling refined there down to the
// depth limit.  0 when no point carries a size.
double given_size(const mgn_curve* curve, double t) {
  const int n = curve->order;
  double b[16];
  mgn_bernstein_basis(n, t, b);
  double num = 0.0, den = 0.0;
  for (int i = 0; i < n; ++i) {
    const mgn_ctrl_point* q = curve->polygon[0][i];
    if (!(q->size > 0.0f)) continue;
    const double wb = std::fabs(q->w) * b[i];
    num += wb * q->size;
    den += wb;
  }
  return den > 0.0 ? num / den : 0.0;
}

// Size requested by the sizes of the curve at t.
double sigma(const curve_sampler& c, double t) {
  double s = c.received;
  if (c.factor != 0.0) {
    s = given_size(c.curve, t) * c.factor;
    if (!(s > 0.0 && s < c.cap)) s = c.cap;
  }
  return at_least_finest(s, [&](double p[3]) { mgn_get_curve_point(c.curve, t, p); });
}

// Size requested by the curvature of the curve at t.  Where the curve
// nearly stops (a tiny weight, a near cusp) its curvature has no practical
// bound and the sizes asked for fell to 1e-13 of the model, giving nodes
// that coincide in the output; like that of surfaces, the curvature asks for
// no size below MGN_CURVATURE_SIZE_FLOOR times the root size.
double kappa(const curve_sampler& c, double t) {
  const double large = 2.0 * mgn_tree.root_size;
  const double k = mgn_get_curve_curvature(c.curve, t);
  if (!(k / c.rate > 0.5 / mgn_tree.root_size)) return large;
  const double s = std::max(c.rate / k, MGN_CURVATURE_SIZE_FLOOR * mgn_tree.root_size);
  return at_least_finest(s, [&](double p[3]) { mgn_get_curve_point(c.curve, t, p); });
}

// Smallest size requested at t by the parts not yet settled.
double target_at(const curve_sampler& c, double t, bool size_settled, bool curvature_settled) {
  double s = kInfinity;
  if (!size_settled) s = std::min(s, sigma(c, t));
  if (!curvature_settled) s = std::min(s, kappa(c, t));
  return s;
}

void finish(const curve_sampler& c, double t0, double t1, const double p[3], double size) {
  if (!(size < kInfinity)) return;
  const mgn_curve_piece piece{t0, t1, {p[0], p[1], p[2]}, size};
  c.visit(piece, c.data);
}

// Sampling of [ta, tb] (end points pa, pb).  The size and curvature parts
// are settled once the chord fits them; their sizes at that time are
// remembered for the refinement of the finished interval.
void sample_curve(const curve_sampler& c, double ta, double tb, const double pa[3],
                  const double pb[3], bool size_settled, bool curvature_settled,
                  double size_kept, double curvature_kept, int depth) {
  const double tm = 0.5 * (ta + tb);
  double pm[3];
  mgn_get_curve_point(c.curve, tm, pm);
  double a[3];
  double b[3];
  mgn_sub(pa, pm, a);
  mgn_sub(pb, pm, b);
  bool split = true;
  if (depth >= c.curve->shape_order) {
    const double ab = mgn_dot(a, b);
    const double aa = mgn_dot(a, a);
    const double bb = mgn_dot(b, b);
    // Straight enough: an angle of at least 135 degrees at the midpoint.
    const bool straight = ab < mgn_tol.eps && ab * ab >= 0.5 * aa * bb;
    if (straight && aa <= 2.25 * bb && bb <= 2.25 * aa) {
      const double length = (std::sqrt(aa) + std::sqrt(bb)) / MGN_CHORD_RATIO;
      if (!size_settled) {
        const double s = sigma(c, tm);
        if (length <= s) {
          size_settled = true;
          size_kept = s;
        }
      }
      if (!curvature_settled) {
        const double k = kappa(c, tm);
        if (length <= k) {
          curvature_settled = true;
          curvature_kept = k;
        }
      }
      split = !size_settled || !curvature_settled;
    } else if (straight) {
      // Unbalanced halves: each is split on its own when it exceeds the
      // sizes at its ends and its middle, or else finished with them.
      const double kept = std::min(size_settled ? size_kept : kInfinity,
                                   curvature_settled ? curvature_kept : kInfinity);
      const double* ends[2][2] = {{pa, pm}, {pm, pb}};
      const double params[2][2] = {{ta, tm}, {tm, tb}};
      const double halves[2] = {std::sqrt(aa), std::sqrt(bb)};
      for (int h = 0; h < 2; ++h) {
        const double t0 = params[h][0];
        const double t1 = params[h][1];
        const double tq = 0.5 * (t0 + t1);
        const double target =
            std::min({kept, target_at(c, t0, size_settled, curvature_settled),
                      target_at(c, tq, size_settled, curvature_settled),
                      target_at(c, t1, size_settled, curvature_settled)});
        if (halves[h] / MGN_CHORD_RATIO > target && depth < MGN_OCTREE_RECURSION) {
          sample_curve(c, t0, t1, ends[h][0], ends[h][1], size_settled, curvature_settled,
                       size_kept, curvature_kept, depth + 1);
        } else {
          double pq[3];
          mgn_get_curve_point(c.curve, tq, pq);
          finish(c, t0, t1, pq, target);
        }
      }
      return;
    }
  }
  if (split && depth < MGN_OCTREE_RECURSION) {
    sample_curve(c, ta, tm, pa, pm, size_settled, curvature_settled, size_kept, curvature_kept,
                 depth + 1);
    sample_curve(c, tm, tb, pm, pb, size_settled, curvature_settled, size_kept, curvature_kept,
                 depth + 1);
    return;
  }
  // Finished (or at the depth limit, with the sizes of the midpoint).
  if (!size_settled) size_kept = sigma(c, tm);
  if (!curvature_settled) curvature_kept = kappa(c, tm);
  finish(c, ta, tb, pm, std::min(size_kept, curvature_kept));
}

// --- surface sampling -------------------------------------------------------

// Parameter rectangle of a hole surface fixed to the sampled surface.
struct hole_range {
  double u0, u1, v0, v1;
};

struct surface_sampler {
  const mgn_surface* surface;
  double factor;
  double cap;       // the surface's own (positive) size
  double received;  // size handed down, with factor 0
  double rate;
  int shape_order[2];
  bool flagged[4];  // collapsed sides sampled closer
  std::vector<hole_range> holes;
  mgn_surface_piece_visitor visit;
  void* data;
};

// Size of the surface's control points at (u, v), interpolated over the
// points that carry a size.  A size of 0 means none given, and the blended
// interior of a net may hold negative sizes where its sides carry none: were
// such points interpolated too, the field would pass through zero inside the
// surface and the sampling would refine toward that line without end.  Over
// the sized points alone the field stays between their smallest and largest
// sizes (weights count by magnitude, so that the field is a weighted mean
// even on a net with negative weights); 0 when no point carries a size.
double given_size(const mgn_surface* surface, double u, double v) {
  const int nu = surface->order_u, nv = surface->order_v;
  double bu[16], bv[16];
  mgn_bernstein_basis(nu, u, bu);
  mgn_bernstein_basis(nv, v, bv);
  double num = 0.0, den = 0.0;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const mgn_ctrl_point* q = surface->net[j * nu + i];
      if (!(q->size > 0.0f)) continue;
      const double wb = std::fabs(q->w) * bu[i] * bv[j];
      num += wb * q->size;
      den += wb;
    }
  return den > 0.0 ? num / den : 0.0;
}

// Size requested by the sizes of the surface at (u, v).
double sigma(const surface_sampler& c, double u, double v) {
  double s = c.received;
  if (c.factor != 0.0) {
    s = given_size(c.surface, u, v) * c.factor;
    if (!(s > 0.0 && s < c.cap)) s = c.cap;
  }
  return at_least_finest(s, [&](double p[3]) { mgn_get_surface_point(c.surface, u, v, p); });
}

// The parameterization is regular enough at (u, v) for its curvature to be
// followed: the derivatives in u and v are at least about 0.06 degrees apart.
// Along a fold, where the surface turns back over itself, they become
// parallel and the curvature grows without bound toward the fold line; the
// sampling would then refine toward that whole line down to the depth limit
// in both directions, a count of rectangles that never ends in practice.
bool regular_at(const mgn_surface* surface, double u, double v) {
  double p[3], su[3], sv[3], n[3];
  mgn_get_surface_point_derivatives(surface, u, v, p, su, sv);
  mgn_cross(su, sv, n);
  return mgn_dot(n, n) >= 1e-6 * mgn_dot(su, su) * mgn_dot(sv, sv);
}

// Size requested by the curvature of the surface at (u, v).  Near a point
// where a derivative nearly vanishes (a pinch) the curvature grows like the
// inverse square of the distance, so the rectangles asked for shrink faster
// than their distance to the point and their count has no practical bound;
// the curvature therefore asks for no size below MGN_CURVATURE_SIZE_FLOOR
// times the root size (explicit sizes are not limited).
double kappa(const surface_sampler& c, double u, double v) {
  const double large = 2.0 * mgn_tree.root_size;
  if (c.rate == 0.0) return large;
  if (!regular_at(c.surface, u, v)) return large;
  const double k = mgn_get_surface_curvature(c.surface, u, v);
  if (!(k / c.rate > 0.5 / mgn_tree.root_size)) return large;
  const double s = std::max(c.rate / k, MGN_CURVATURE_SIZE_FLOOR * mgn_tree.root_size);
  return at_least_finest(s, [&](double p[3]) { mgn_get_surface_point(c.surface, u, v, p); });
}

// The rectangle lies in a hole (boundary included).
bool rectangle_in_hole(const surface_sampler& c, double u0, double u1, double v0, double v1) {
  for (const hole_range& h : c.holes)
    if (u0 >= h.u0 && u1 <= h.u1 && v0 >= h.v0 && v1 <= h.v1) return true;
  return false;
}

// The point lies strictly inside a hole.
bool point_in_hole(const surface_sampler& c, double u, double v) {
  for (const hole_range& h : c.holes)
    if (u > h.u0 && u < h.u1 && v > h.v0 && v < h.v1) return true;
  return false;
}

// The rectangle touches a flagged collapsed side: the direction across
// that side (0 u, 1 v) must be split.
bool touches_flagged(const surface_sampler& c, int direction, double u0, double u1, double v0, double v1) {
  if (direction == 1) return (c.flagged[0] && v0 == 0.0) || (c.flagged[2] && v1 == 1.0);
  return (c.flagged[1] && u0 == 0.0) || (c.flagged[3] && u1 == 1.0);
}

// Sampling of the rectangle [u0, u1] x [v0, v1] with the depths of its two
// directions.  As for curves, the size and curvature parts are settled
// once the chords fit them, and the sizes of that time are remembered.
void sample_surface(const surface_sampler& c, double u0, double u1, double v0, double v1, int depth_u,
                    int depth_v, bool size_settled, bool curvature_settled, double size_kept,
                    double curvature_kept) {
  if (rectangle_in_hole(c, u0, u1, v0, v1)) return;
  const double um = 0.5 * (u0 + u1);
  const double vm = 0.5 * (v0 + v1);
  double pc[3];
  double ends[2][2][3];  // [direction][low, high]
  mgn_get_surface_point(c.surface, um, vm, pc);
  mgn_get_surface_point(c.surface, u0, vm, ends[0][0]);
  mgn_get_surface_point(c.surface, u1, vm, ends[0][1]);
  mgn_get_surface_point(c.surface, um, v0, ends[1][0]);
  mgn_get_surface_point(c.surface, um, v1, ends[1][1]);
  const int depth[2] = {depth_u, depth_v};
  bool geometric[2];
  double length[2];
  for (int d = 0; d < 2; ++d) {
    double a[3];
    double b[3];
    mgn_sub(ends[d][0], pc, a);
    mgn_sub(ends[d][1], pc, b);
    const double l1 = mgn_norm(a);
    const double l2 = mgn_norm(b);
    const double longer = std::max(l1, l2);
    // Bent: the half chords meet at less than 135 degrees; unbalanced: one
    // is more than 1.5 times the other.
    const bool bent = l1 > 0.0 && l2 > 0.0 && mgn_dot(a, b) > -0.707106781 * l1 * l2;
    const bool unbalanced = longer > 0.0 && (l1 + l2) / longer < 1.6666666667;
    geometric[d] = depth[d] < c.shape_order[d] || bent || unbalanced ||
                   (depth[d] < MGN_COLLAPSED_SIDE_DEPTH && touches_flagged(c, d, u0, u1, v0, v1));
    length[d] = (l1 + l2) / MGN_CHORD_RATIO;
  }
  const double s = size_settled ? size_kept : sigma(c, um, vm);
  const double k = curvature_settled ? curvature_kept : kappa(c, um, vm);
  if (!geometric[0] && !geometric[1]) {
    const double longest = std::max(length[0], length[1]);
    if (!size_settled && longest <= s) {
      size_settled = true;
      size_kept = s;
    }
    if (!curvature_settled && longest <= k) {
      curvature_settled = true;
      curvature_kept = k;
    }
  }
  const double target = std::min(size_settled ? kInfinity : s, curvature_settled ? kInfinity : k);
  bool split[2];
  for (int d = 0; d < 2; ++d) {
    split[d] = (geometric[d] || length[d] > target) && depth[d] < MGN_OCTREE_RECURSION;
  }
  if (split[0] || split[1]) {
    const double us[3] = {u0, um, u1};
    const double vs[3] = {v0, vm, v1};
    const int nu = split[0] ? 2 : 1;
    const int nv = split[1] ? 2 : 1;
    for (int j = 0; j < nv; ++j) {
      for (int i = 0; i < nu; ++i) {
        const double a0 = split[0] ? us[i] : u0;
        const double a1 = split[0] ? us[i + 1] : u1;
        const double b0 = split[1] ? vs[j] : v0;
        const double b1 = split[1] ? vs[j + 1] : v1;
        sample_surface(c, a0, a1, b0, b1, depth_u + (split[0] ? 1 : 0), depth_v + (split[1] ? 1 : 0),
                       size_settled, curvature_settled, size_kept, curvature_kept);
      }
    }
    return;
  }
  // Finished (or at the depth limit, with the sizes of the centre).
  if (point_in_hole(c, um, vm)) return;
  const double size = std::min(s, k);
  if (!(size < kInfinity)) return;
  const mgn_surface_piece piece{u0, u1, v0, v1, {pc[0], pc[1], pc[2]}, size};
  c.visit(piece, c.data);
}

// --- count of pieces ----------------------------------------------------------

// Largest size the sampling of an entity can ask for, from its own size
// (cap), the size handed down to it (factor 0) and the sizes of its control
// points (a weighted mean of the positive ones, so at most the largest).
// Zero when the entity asks for no size (its curvature alone is sampled).
template <typename Points>
double largest_sampled_size(float size, float factor, const Points& points) {
  if (factor == 0.0f) return size < 0.0f ? std::max(-static_cast<double>(size), finest_size()) : 0.0;
  const double cap = size > 0.0f ? size : 2.0 * mgn_tree.root_size;
  double largest = 0.0;
  for (const mgn_ctrl_point* q : points)
    if (q->size > 0.0f) largest = std::max(largest, static_cast<double>(q->size));
  const double s = largest > 0.0 ? std::min(cap, largest * factor) : cap;
  return std::max(s, finest_size());
}

// A sampling piece is finished only when its chords are at most
// MGN_CHORD_RATIO times the size asked for, so the sampling of an entity
// needs at least its length (a curve) or the integral of |Su| |Sv| over its
// parameter square (a surface: its area when the parameterization is even,
// far more when the two parameter lines run almost alike) over that chord
// (squared).  Beyond the range of 32-bit counts the sampling would run for
// days and the mesh could not be numbered anyway: the run ends at once.
constexpr double kMostPieces = 2147483647.0;

// The run ends naming the entity (kind null: the whole model).
[[noreturn]] void too_many_pieces(const char* kind, long id, double pieces, const char* routine) {
  const std::string where = kind != nullptr ? mgn_format(" on %s %ld: its", kind, id) : std::string(": the");
  mgn_manipulation_error(mgn_format("Too fine mesh required%s size field needs about %.1e samples (at most %.0f)",
                                    where.c_str(), pieces, kMostPieces),
                         routine, mgn_module_name(__FILE__), __LINE__);
}

// The estimated count of the pieces of a curve (fatal beyond the limit).
double check_curve_piece_count(const mgn_curve* curve) {
  if (!curve_meshes_itself(curve) || curve->polygon.empty()) return 0.0;
  const double largest = largest_sampled_size(curve->size, curve->factor, curve->polygon[0]);
  if (!(largest > 0.0)) return 0.0;
  const double pieces = mgn_integrate_curve_length(curve, 0.0, 1.0) / (MGN_CHORD_RATIO * largest);
  if (pieces > kMostPieces) too_many_pieces("curve", curve->id, pieces, "mgn_build_octree_curve");
  return std::isfinite(pieces) ? pieces : 0.0;
}

// The integral of |Su| |Sv| over the parameter square outside the holes,
// from a grid of 16 x 16 cells: the product of the mean lengths of each
// cell's sides in u and in v.
double parameter_extent(const mgn_surface* surface) {
  constexpr int kCells = 16;
  std::vector<hole_range> holes;
  for (const mgn_surface* child : mgn_list_range<mgn_surface>(surface->child_surfaces))
    if (child->hole) holes.push_back({child->umin, child->umax, child->vmin, child->vmax});
  double grid[kCells + 1][kCells + 1][3];
  for (int j = 0; j <= kCells; ++j)
    for (int i = 0; i <= kCells; ++i)
      mgn_get_surface_point(surface, static_cast<double>(i) / kCells, static_cast<double>(j) / kCells, grid[j][i]);
  auto length = [](const double* a, const double* b) {
    double d[3];
    mgn_sub(b, a, d);
    return std::sqrt(mgn_dot(d, d));
  };
  double extent = 0.0;
  for (int j = 0; j < kCells; ++j)
    for (int i = 0; i < kCells; ++i) {
      const double u = (i + 0.5) / kCells, v = (j + 0.5) / kCells;
      bool in_hole = false;
      for (const hole_range& h : holes) in_hole = in_hole || (u > h.u0 && u < h.u1 && v > h.v0 && v < h.v1);
      if (in_hole) continue;
      const double along_u = 0.5 * (length(grid[j][i], grid[j][i + 1]) + length(grid[j + 1][i], grid[j + 1][i + 1]));
      const double along_v = 0.5 * (length(grid[j][i], grid[j + 1][i]) + length(grid[j][i + 1], grid[j + 1][i + 1]));
      extent += along_u * along_v;
    }
  return extent;
}

// The estimated count of the pieces of a surface (fatal beyond the limit).
double check_surface_piece_count(const mgn_surface* surface) {
  if (surface->is_virtual || surface->hole || surface->net.empty()) return 0.0;
  const double largest = largest_sampled_size(surface->size, surface->factor, surface->net);
  if (!(largest > 0.0)) return 0.0;
  const double side = MGN_CHORD_RATIO * largest;
  const double pieces = parameter_extent(surface) / (side * side);
  if (pieces > kMostPieces) too_many_pieces("surface", surface->id, pieces, "mgn_build_octree_surface");
  return std::isfinite(pieces) ? pieces : 0.0;
}

struct refinement {
  bool clamp;
};

void refine_at_piece(const mgn_curve_piece& piece, void* data) {
  const auto* r = static_cast<const refinement*>(data);
  mgn_refine_octree_at_point(piece.p, piece.size, kNeighbourFraction, r->clamp);
}

void refine_at_surface_piece(const mgn_surface_piece& piece, void* data) {
  const auto* r = static_cast<const refinement*>(data);
  mgn_refine_octree_at_point(piece.p, piece.size, kNeighbourFraction, r->clamp);
}

}  // namespace

// ---------------------------------------------------------------------------
// Model box
// ---------------------------------------------------------------------------

void mgn_measure_model() {
  box model;
  for (const mgn_vertex* vertex : mgn_list_range<mgn_vertex>(mgn_model.vertices.list)) {
    if (counts_in_box(vertex->is_virtual) && vertex->xyz != nullptr) model.add(vertex->xyz);
  }
  for (const mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list)) {
    if (!counts_in_box(curve->is_virtual) || curve->polygon.empty()) continue;
    double extent[6];
    mgn_get_curve_bounding_box(curve, extent);
    model.add(extent);
    model.add(extent + 3);
  }
  // A surface lies inside the hull of its control net.
  for (const mgn_surface* surface : mgn_list_range<mgn_surface>(mgn_model.surfaces.list)) {
    if (!counts_in_box(surface->is_virtual)) continue;
    for (const mgn_ctrl_point* point : surface->net) model.add(point->xyz);
  }
  // Patches and shells are bounded by curves of the model, counted above.
  if (model.empty()) {
    for (int a = 0; a < 3; ++a) model.lo[a] = model.hi[a] = 0.0;
  }
  double size = 0.0;
  for (int a = 0; a < 3; ++a) {
    mgn_tree.model_min[a] = model.lo[a];
    mgn_tree.model_max[a] = model.hi[a];
    size = std::max(size, model.hi[a] - model.lo[a]);
  }
  mgn_tree.model_size = size;
  mgn_set_geometric_tolerance(mgn_tree.model_min, mgn_tree.model_max);
}

// ---------------------------------------------------------------------------
// Size propagation
// ---------------------------------------------------------------------------

void mgn_propagate_mesh_size() {
  // Factor push: surfaces without size lower the factors of their curves,
  // curves without size those of their vertices (rescaling the vertex size).
  for (mgn_surface* surface : mgn_list_range<mgn_surface>(mgn_model.surfaces.list)) {
    if (surface->size != 0.0f || surface->factor == 0.0f) continue;
    for (mgn_curve* curve : surface->curve) {
      if (curve != nullptr && curve->factor != 0.0f && curve->factor > surface->factor) {
        curve->factor = surface->factor;
      }
    }
  }
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list)) {
    if (curve->size != 0.0f || curve->factor == 0.0f) continue;
    for (mgn_vertex* vertex : curve->vertex) {
      if (vertex == nullptr || vertex->factor == 0.0f || vertex->factor <= curve->factor) continue;
      vertex->size = vertex->size / vertex->factor * curve->factor;
      vertex->factor = curve->factor;
    }
  }

  for (mgn_region* region : mgn_list_range<mgn_region>(mgn_model.regions.list)) {
    const double s = settle_entity_size(region->size, region->id, kRegionWords);
    if (s == 0.0) continue;
    for (mgn_list list : {region->inner_surfaces, region->outer_surfaces, region->fixed_surfaces}) {
      hand_to_list<mgn_surface>(list, s);
    }
    for (mgn_list list : {region->inner_patches, region->outer_patches, region->fixed_patches}) {
      hand_to_list<mgn_patch>(list, s);
    }
    for (mgn_list list : {region->inner_shells, region->outer_shells, region->fixed_shells}) {
      hand_to_list<mgn_shell>(list, s);
    }
  }
  for (mgn_shell* shell : mgn_list_range<mgn_shell>(mgn_model.shells.list)) {
    const double s = settle_entity_size(shell->size, shell->id, kShellWords);
    if (s == 0.0) continue;
    hand_to_list<mgn_curve>(shell->left_curves, s);
    hand_to_list<mgn_curve>(shell->right_curves, s);
  }
  for (mgn_patch* patch : mgn_list_range<mgn_patch>(mgn_model.patches.list)) {
    const double s = settle_entity_size(patch->size, patch->id, kPatchWords);
    if (s == 0.0) continue;
    hand_to_list<mgn_curve>(patch->left_curves, s);
    hand_to_list<mgn_curve>(patch->right_curves, s);
  }
  for (mgn_surface* surface : mgn_list_range<mgn_surface>(mgn_model.surfaces.list)) {
    const double s = settle_entity_size(surface->size, surface->id, kSurfaceWords);
    if (s == 0.0) continue;
    for (mgn_curve* curve : surface->curve) {
      if (curve != nullptr) receive_size(curve->size, curve->factor, s);
    }
  }
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list)) {
    // A requested number of elements along the curve gives the density size.
    if (curve_meshes_itself(curve) && curve->factor != 0.0f && curve->density != 0.0f &&
        curve->size >= 0.0f) {
      const double density_size = mgn_integrate_curve_length(curve, 0.0, 1.0) / curve->density;
      if (curve->size == 0.0f || curve->size > density_size) {
        curve->size = static_cast<float>(density_size);
      }
    }
    const double s = settle_entity_size(curve->size, curve->id, kCurveWords);
    if (s == 0.0) continue;
    for (mgn_vertex* vertex : curve->vertex) {
      if (vertex != nullptr) receive_size(vertex->size, vertex->factor, s);
    }
  }
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(mgn_model.vertices.list)) {
    settle_entity_size(vertex->size, vertex->id, kVertexWords);
  }
}

// ---------------------------------------------------------------------------
// Refinement
// ---------------------------------------------------------------------------

void mgn_build_octree_vertex(const mgn_vertex* vertex) {
  mgn_open_warning_scope();
  double s = vertex->size;
  if (vertex->factor == 0.0f) {
    if (s >= 0.0) return;
    s = -s;
  }
  if (!(s > 0.0) || vertex->xyz == nullptr) return;
  mgn_refine_octree_at_point(vertex->xyz, s, kNeighbourFraction, clamped(vertex->is_virtual));
}

void mgn_sample_curve_size(const mgn_curve* curve, mgn_curve_piece_visitor visit, void* data) {
  if (!curve_meshes_itself(curve) || curve->polygon.empty()) return;
  curve_sampler c{};
  c.visit = visit;
  c.data = data;
  c.curve = curve;
  c.factor = curve->factor;
  c.size_needed = !(curve->factor == 0.0f && curve->size >= 0.0f);
  c.received = -static_cast<double>(curve->size);
  c.cap = curve->size > 0.0f ? curve->size : 2.0 * mgn_tree.root_size;
  c.rate = curve->rate;
  c.curvature_needed = curve->rate != 0.0f && !curve->straight && curve->order > 2;
  if (!c.size_needed && !c.curvature_needed) return;
  double pa[3];
  double pb[3];
  mgn_get_curve_point(curve, 0.0, pa);
  mgn_get_curve_point(curve, 1.0, pb);
  sample_curve(c, 0.0, 1.0, pa, pb, !c.size_needed, !c.curvature_needed, kInfinity, kInfinity,
               1);
}

void mgn_build_octree_curve(const mgn_curve* curve) {
  mgn_open_warning_scope();
  refinement r{clamped(curve->is_virtual)};
  mgn_sample_curve_size(curve, refine_at_piece, &r);
}

int mgn_check_surface_collapsed_side(const mgn_surface* surface, int side) {
  const mgn_curve* curve = surface->curve[side];
  if (curve == nullptr || !curve->collapsed || surface->net.empty()) return 0;
  // Sides 0 and 2 run along u: across them is the direction v (angle
  // pi / 2); sides 1 and 3 run along v: across them is u (angle 0).
  const bool along_u = side % 2 == 0;
  const double angle = along_u ? 1.5707963267948966 : 0.0;
  for (double inset : {0.025, 0.05}) {
    const double across = side < 2 ? inset : 1.0 - inset;
    double k[2];
    for (int e = 0; e < 2; ++e) {
      const double along = e == 0 ? inset : 1.0 - inset;
      k[e] = along_u ? mgn_get_surface_directional_curvature(surface, along, across, angle)
                     : mgn_get_surface_directional_curvature(surface, across, along, angle);
    }
    if (std::min(k[0], k[1]) < 0.75 * std::max(k[0], k[1])) return 1;
  }
  return 0;
}

void mgn_sample_surface_size(const mgn_surface* surface, mgn_surface_piece_visitor visit, void* data) {
  if (surface->is_virtual || surface->hole || surface->net.empty()) return;
  const bool size_needed = !(surface->factor == 0.0f && surface->size >= 0.0f);
  const bool curvature_needed = surface->rate != 0.0f && !surface->planar;
  if (!size_needed && !curvature_needed) return;
  surface_sampler c{};
  c.surface = surface;
  c.factor = surface->factor;
  c.received = -static_cast<double>(surface->size);
  c.cap = surface->size > 0.0f ? surface->size : 2.0 * mgn_tree.root_size;
  c.rate = curvature_needed ? surface->rate : 0.0;
  c.shape_order[0] = surface->shape_order_u;
  c.shape_order[1] = surface->shape_order_v;
  c.visit = visit;
  c.data = data;
  for (const mgn_surface* child : mgn_list_range<mgn_surface>(surface->child_surfaces)) {
    if (child->hole) c.holes.push_back({child->umin, child->umax, child->vmin, child->vmax});
  }
  for (int side = 0; side < 4; ++side) c.flagged[side] = mgn_check_surface_collapsed_side(surface, side) != 0;
  // A part not needed is settled from the start.
  sample_surface(c, 0.0, 1.0, 0.0, 1.0, 1, 1, !size_needed, !curvature_needed, kInfinity, kInfinity);
}

void mgn_build_octree_surface(const mgn_surface* surface) {
  mgn_open_warning_scope();
  refinement r{clamped(surface->is_virtual)};
  mgn_sample_surface_size(surface, refine_at_surface_piece, &r);
}

namespace {

// The pieces of a patch or shell: a piece refines the octree unless its
// rectangle lies wholly outside the loops (its centre and its four corners
// outside).  The winding number of the loops decides every point, so that
// no cell is left unclassified.
struct face_entity_filter {
  const mgn_loop_set* loops;
  refinement r;
};

void refine_at_face_entity_piece(const mgn_surface_piece& piece, void* data) {
  const auto* f = static_cast<const face_entity_filter*>(data);
  const double um = 0.5 * (piece.u0 + piece.u1), vm = 0.5 * (piece.v0 + piece.v1);
  const double points[5][2] = {{um, vm}, {piece.u0, piece.v0}, {piece.u1, piece.v0}, {piece.u0, piece.v1},
                               {piece.u1, piece.v1}};
  for (const auto& p : points)
    if (f->loops->winding(p[0], p[1]) != 0) {
      refine_at_surface_piece(piece, const_cast<refinement*>(&f->r));
      return;
    }
}

// The sampling of a surface on the background surface of a patch or shell,
// over the parameter box of its loops, with the entity's size, factor and
// curvature rate.
template <typename Entity>
void build_octree_face_entity(int kind, const Entity* entity, float rate) {
  const mgn_surface* surface = entity->bg_surface;
  if (entity->id == 0 || entity->is_virtual || entity->hole || surface == nullptr || surface->net.empty()) return;
  const bool size_needed = !(entity->factor == 0.0f && entity->size >= 0.0f);
  const bool curvature_needed = rate != 0.0f && !surface->planar && kind == MGN_SHELL;
  if (!size_needed && !curvature_needed) return;
  mgn_open_warning_scope();
  const mgn_loop_set loops = mgn_build_loop_set(kind, entity, true);
  if (loops.segments.empty()) return;
  face_entity_filter filter{&loops, refinement{false}};
  surface_sampler c{};
  c.surface = surface;
  c.factor = entity->factor;
  c.received = -static_cast<double>(entity->size);
  c.cap = entity->size > 0.0f ? entity->size : 2.0 * mgn_tree.root_size;
  c.rate = curvature_needed ? rate : 0.0;
  c.shape_order[0] = surface->shape_order_u;
  c.shape_order[1] = surface->shape_order_v;
  c.visit = refine_at_face_entity_piece;
  c.data = &filter;
  for (int side = 0; side < 4; ++side)
    c.flagged[side] = kind == MGN_SHELL && mgn_check_surface_collapsed_side(surface, side) != 0;
  const double u0 = std::clamp(loops.lo[0], 0.0, 1.0), u1 = std::clamp(loops.hi[0], 0.0, 1.0);
  const double v0 = std::clamp(loops.lo[1], 0.0, 1.0), v1 = std::clamp(loops.hi[1], 0.0, 1.0);
  if (!(u1 > u0 && v1 > v0)) return;
  sample_surface(c, u0, u1, v0, v1, 1, 1, !size_needed, !curvature_needed, kInfinity, kInfinity);
}

}  // namespace

void mgn_build_octree_patch(const mgn_patch* patch) { build_octree_face_entity(MGN_PATCH, patch, 0.0f); }

void mgn_build_octree_shell(const mgn_shell* shell) { build_octree_face_entity(MGN_SHELL, shell, shell->rate); }

void mgn_build_octree() {
  mgn_measure_model();
  mgn_create_root_octant(mgn_tree.model_min, mgn_tree.model_max);
  if (mgn_set.size_factor != 0.0) mgn_propagate_mesh_size();
  // Every entity is checked before the first is sampled: a sampling that
  // would run for days ends the run before any other takes its time.
  double pieces = 0.0;
  for (const mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list)) pieces += check_curve_piece_count(curve);
  for (const mgn_surface* surface : mgn_list_range<mgn_surface>(mgn_model.surfaces.list))
    pieces += check_surface_piece_count(surface);
  if (pieces > kMostPieces) too_many_pieces(nullptr, 0, pieces, __func__);
  mgn_build_octree_bg_mesh();
  for (const mgn_vertex* vertex : mgn_list_range<mgn_vertex>(mgn_model.vertices.list)) {
    mgn_build_octree_vertex(vertex);
  }
  for (const mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list)) {
    mgn_build_octree_curve(curve);
  }
  for (const mgn_surface* surface : mgn_list_range<mgn_surface>(mgn_model.surfaces.list)) {
    mgn_build_octree_surface(surface);
  }
  for (const mgn_patch* patch : mgn_list_range<mgn_patch>(mgn_model.patches.list)) mgn_build_octree_patch(patch);
  for (const mgn_shell* shell : mgn_list_range<mgn_shell>(mgn_model.shells.list)) mgn_build_octree_shell(shell);
  // The record pools are not shrunk: shrinking may move the records, which
  // are referred to by address everywhere in the tree.
}
