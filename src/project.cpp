// Point projection onto curves and surfaces and the global closest-point
// searches.
#include "project.h"

#include <algorithm>
#include <cmath>

#include "bezier.h"
#include "geom.h"
#include "message.h"
#include "vec3.h"

namespace {

constexpr int MAX_ITERATIONS = 50;
// After MAX_ITERATIONS an iteration gets 25 more as long as it still makes
// progress: its steps are not stuck at a small size, or its smallest step
// keeps shrinking (a damped oscillation converges linearly and may need more
// than 50 iterations).  In any case it ends after this many extensions.
constexpr int MAX_RESTARTS = 40;

// Progress test at the end of an iteration window: the current step is not
// yet below 5 times the smallest step of the window (still moving), or that
// smallest step fell below a quarter of the previous window's.
bool still_progressing(double current, double window_min, double previous_window_min) {
  return current >= 5.0 * window_min || window_min < 0.25 * previous_window_min;
}
// A step cut at a bound that is shorter than this means that the foot point
// lies at (or beyond) the bound: the parameter is then within twice this
// distance of the bound and the iteration ends.
constexpr double BOUND_STEP = 1e-9;

const std::string module_name = "src/project";

[[noreturn]] void fail(const std::string& message, const char* routine, long line) {
  mgn_manipulation_error(message, routine, module_name, line);
}

[[noreturn]] void bad_curve(const mgn_curve* curve, double t, const double* point,
                            const char* routine, long line) {
  mgn_record_error_location(MGN_CURVE, curve->id, point);
  fail(mgn_format("Bad parameterization of curve %ld at t = %f", static_cast<long>(curve->id), t),
       routine, line);
}

[[noreturn]] void bad_surface(const mgn_surface* surface, double u, double v, const double* point,
                              const char* routine, long line) {
  mgn_record_error_location(MGN_SURFACE, surface->id, point);
  fail(mgn_format("Bad parameterization of surface %ld at u = %f, v = %f",
                  static_cast<long>(surface->id), u, v),
       routine, line);
}

inline bool at_bound(double x) { return x <= 0.0 || x >= 1.0; }

// Point and tangent (with fallback) at t; returns the tangent length.
double curve_point_tangent(const mgn_curve* curve, double t, double* p, double* d) {
  mgn_get_curve_point_derivative(curve, t, p, d);
  double len2 = mgn_dot(d, d);
  if (curve->collapsed || len2 < mgn_tol.eps2) len2 = mgn_get_curve_tangent(curve, t, d);
  return std::sqrt(len2);
}

// The curve iteration of both routines.  Returns 1 when converged, 0 when
// given up (clipping only).
int curve_iteration(const mgn_curve* curve, double* tp, double* tangent, double* point,
                    const double* target, double tol_xyz, double tol_t, bool clip, bool strict,
                    int* iterations, const char* routine) {
  double t = *tp;
  double p[3] = {point[0], point[1], point[2]};
  double d[3], scratch[3];
  double len = curve_point_tangent(curve, t, scratch, d);
  int result = 1;
  int total = 0;
  // A vanishing tangent: fatal when projecting, and when clipping strictly
  // at an interior parameter; otherwise the zero tangent and result 0.
  auto tangent_vanished = [&](long line) {
    if (!clip || (strict && !at_bound(t))) bad_curve(curve, t, p, routine, line);
    d[0] = d[1] = d[2] = 0.0;
    result = 0;
  };
  if (len < mgn_tol.eps) {
    tangent_vanished(__LINE__);
  } else {
    for (int k = 0; k < 3; ++k) d[k] /= len;
    const double limit = 1.0 / (std::max<int>(curve->shape_order, 1) + 2);
    const double tol2 = tol_xyz * tol_xyz;
    int iter = 0, restarts = 0;
    double prev = 0.0, min_step = 1.0, last_min_step = 1.0, moved2 = 0.0;
    // No convergence (or a step that is not a number): fatal, or result 0
    // when clipping non-strictly.
    auto fail_curve = [&](int count) {
      if (clip && !strict) {
        result = 0;
        return;
      }
      mgn_record_error_location(MGN_CURVE, curve->id, p);
      fail(mgn_format("Projection of point [x = %f, y = %f, z = %f] to curve %ld failed\n"
                      "at [t = %f | x = %f, y = %f, z = %f]\nafter %d iterations\n"
                      "(tolerance xyz: %e (%e) t: %e (%e))",
                      target[0], target[1], target[2], static_cast<long>(curve->id), t, p[0], p[1],
                      p[2], count, moved2, tol2, prev, tol_t),
           routine, __LINE__);
    };
    for (;;) {
      ++iter;
      ++total;
      if (iter > MAX_ITERATIONS) {
        if (!still_progressing(std::fabs(prev), min_step, last_min_step) ||
            ++restarts > MAX_RESTARTS) {
          fail_curve(MAX_ITERATIONS);
          break;
        }
        iter -= 25;
        last_min_step = min_step;
        min_step = 1.0;
      }
      double r[3];
      mgn_sub(target, p, r);
      double dt = mgn_dot(r, d) / len;
      if (dt == 0.0) break;
      if (!std::isfinite(dt)) {
        fail_curve(total);
        break;
      }
      min_step = std::min(min_step, std::fabs(dt));
      // A step cut down to the step limit never ends the iteration (as on
      // surfaces).
      bool limited = std::fabs(dt) > limit, cut = false;
      if (limited) dt = std::copysign(limit, dt);
      if (total > 1 && prev != 0.0) {
        if ((dt > 0.0) == (prev > 0.0)) {
          if (std::fabs(dt) > 1.5 * std::fabs(prev)) {
            dt = 1.5 * prev;
            limited = true;
          }
        } else if (std::fabs(dt) > 0.25 * std::fabs(prev)) {
          dt = -0.25 * prev;
          limited = true;
        }
      }
      if (clip) {
        if ((t <= 0.0 && dt < 0.0) || (t >= 1.0 && dt > 0.0)) break;  // held at the bound
        if (t + dt < 0.0) {
          dt = -t;
          cut = true;
        } else if (t + dt > 1.0) {
          dt = 1.0 - t;
          cut = true;
        }
      } else if (t + dt < 0.0) {
        dt = -t / 2.0;
        cut = true;
      } else if (t + dt > 1.0) {
        dt = (1.0 - t) / 2.0;
        cut = true;
      }
      t += dt;
      if (clip && cut) {
        if (t < 1e-9) t = 0.0;
        if (t > 1.0 - 1e-9) t = 1.0;
      }
      double q[3];
      len = curve_point_tangent(curve, t, q, d);
      mgn_sub(q, p, r);
      moved2 = mgn_dot(r, r);
      for (int k = 0; k < 3; ++k) p[k] = q[k];
      prev = dt;
      if (len < mgn_tol.eps) {
        tangent_vanished(__LINE__);
        break;
      }
      for (int k = 0; k < 3; ++k) d[k] /= len;
      if (!limited || cut) {
        const double tt = cut ? std::max(tol_t, BOUND_STEP) : tol_t;
        if (moved2 < tol2 || std::fabs(dt) < tt) break;
      }
    }
  }
  *tp = t;
  for (int k = 0; k < 3; ++k) {
    point[k] = p[k];
    tangent[k] = d[k];
  }
  if (iterations) *iterations = total;
  return result;
}

// Smaller in magnitude of two values of the same sign.
inline double smaller(double a, double b) { return std::fabs(a) <= std::fabs(b) ? a : b; }

int surface_iteration(const mgn_surface* surface, double* up, double* vp, double* normal,
                      double* su, double* sv, double* point, const double* target, double tol_xyz,
                      double tol_uv, bool clip, bool strict, int* iterations,
                      const char* routine) {
  double u = *up, v = *vp;
  double p[3] = {point[0], point[1], point[2]};
  double n[3] = {normal[0], normal[1], normal[2]};
  double a[3] = {su[0], su[1], su[2]}, b[3] = {sv[0], sv[1], sv[2]};
  const double lim_u = 1.0 / (std::max<int>(surface->shape_order_u, 1) + 2);
  const double lim_v = 1.0 / (std::max<int>(surface->shape_order_v, 1) + 2);
  const double tol2 = tol_xyz * tol_xyz;
  double pu = 0.0, pv = 0.0, moved2 = 0.0;
  double min_step = 1.0, last_min_step = 1.0;
  int iter = 0, total = 0, restarts = 0, result = 1;
  // A vanishing tangent or normal: fatal except when clipping on the
  // boundary or clipping non-strictly.
  // No convergence (or a step that is not a number): fatal, or result 0
  // when clipping non-strictly.
  auto fail_surface = [&](int count) {
    if (clip && !strict) {
      result = 0;
      return;
    }
    mgn_record_error_location(MGN_SURFACE, surface->id, p);
    fail(mgn_format("Projection of point [x = %f, y = %f, z = %f] to surface %ld failed\n"
                    "at [u = %f, v = %f | x = %f, y = %f, z = %f]\nafter %d iterations\n"
                    "(tolerance xyz: %e (%e) uv: %e %e (%e))",
                    target[0], target[1], target[2], static_cast<long>(surface->id), u, v, p[0],
                    p[1], p[2], count, moved2, tol2, pu, pv, tol_uv),
         routine, __LINE__);
  };
  auto degenerate = [&](long line) {
    if (!clip || (strict && !at_bound(u) && !at_bound(v))) bad_surface(surface, u, v, p, routine, line);
    result = 0;
  };
  for (;;) {
    ++iter;
    ++total;
    if (iter > MAX_ITERATIONS && std::isfinite(u) && std::isfinite(v) &&
        still_progressing(std::max(std::fabs(pu), std::fabs(pv)), min_step, last_min_step) &&
        ++restarts <= MAX_RESTARTS) {
      iter -= 25;
      last_min_step = min_step;
      min_step = 1.0;
    }
    if (iter > MAX_ITERATIONS) {
      fail_surface(MAX_ITERATIONS);
      break;
    }
    double r[3], c[3];
    mgn_sub(target, p, r);
    const double rn = mgn_dot(r, n);
    for (int k = 0; k < 3; ++k) r[k] -= rn * n[k];
    mgn_cross(a, b, c);
    if (mgn_dot(c, c) < mgn_tol.eps2) {
      degenerate(__LINE__);
      break;
    }
    // Cramer's rule in the coordinate plane of the largest normal component.
    int k = 0;
    if (std::fabs(c[1]) > std::fabs(c[k])) k = 1;
    if (std::fabs(c[2]) > std::fabs(c[k])) k = 2;
    const int i = (k + 1) % 3, j = (k + 2) % 3;
    double du = (r[i] * b[j] - r[j] * b[i]) / c[k];
    double dv = (a[i] * r[j] - a[j] * r[i]) / c[k];
    // A parameter already on a bound whose step points outward stays there
    // and lets the other one move freely (its step no longer counts in the
    // step limit).
    const bool held_u = (u <= 0.0 && du < 0.0) || (u >= 1.0 && du > 0.0);
    const bool held_v = (v <= 0.0 && dv < 0.0) || (v >= 1.0 && dv > 0.0);
    if (held_u) du = 0.0;
    if (held_v) dv = 0.0;
    if (du == 0.0 && dv == 0.0) break;
    if (!std::isfinite(du) || !std::isfinite(dv)) {
      fail_surface(total);
      break;
    }
    const double ratio = std::max(std::fabs(du) / lim_u, std::fabs(dv) / lim_v);
    // A step cut down to the step limit says nothing about convergence: the
    // foot point lies farther on, so such a step never ends the iteration
    // (else a uv tolerance at or above the limit, or an xyz tolerance above
    // the length of a limit step, would stop it after its first step).
    bool limited = ratio > 1.0;
    if (ratio > 1.0) {
      du /= ratio;
      dv /= ratio;
    }
    min_step = std::min(min_step, std::max(std::fabs(du), std::fabs(dv)));
    const double pp = pu * pu + pv * pv;
    if (total > 1 && pp > 0.0) {
      const double dotp = du * pu + dv * pv;
      double f = 1.0;
      if (dotp >= 0.0 && dotp > 1.5 * pp) f = 1.5 * pp / dotp;
      if (dotp < 0.0 && -dotp > 0.25 * pp) f = -0.25 * pp / dotp;
      if (f != 1.0) {
        du *= f;
        dv *= f;
        limited = true;
      }
    }
    // Bounds, per parameter.  cu, cv: the steps cut at the bounds; fu, fv:
    // the proportions by which a cut scales the other parameter's step so
    // that the direction is kept.
    bool cut_u = false, cut_v = false;
    double cu = du, cv = dv, fu = 1.0, fv = 1.0;
    auto bound = [&](double x, double dx, double& cx, double& f, bool& cut) {
      if (x + dx < 0.0) {
        cx = clip ? -x : -x / 2.0;
        cut = true;
        if (clip || x + dx < -1e-9) f = cx / dx;
      } else if (x + dx > 1.0) {
        cx = clip ? 1.0 - x : (1.0 - x) / 2.0;
        cut = true;
        if (clip || x + dx > 1.000000001) f = cx / dx;
      }
    };
    bound(u, du, cu, fu, cut_u);
    bound(v, dv, cv, fv, cut_v);
    du = smaller(cu, du * fv);
    dv = smaller(cv, dv * fu);
    u += du;
    v += dv;
    if (clip) {
      if (cut_u || cut_v) {
        if (u < 1e-9) u = 0.0;
        if (u > 0.999999999) u = 1.0;
        if (v < 1e-9) v = 0.0;
        if (v > 0.999999999) v = 1.0;
      }
    }
    double q[3];
    const bool tangents = mgn_get_surface_point_tangents(surface, u, v, q, a, b);
    mgn_sub(q, p, r);
    moved2 = mgn_dot(r, r);
    for (int m = 0; m < 3; ++m) p[m] = q[m];
    pu = du;
    pv = dv;
    if (!tangents) {
      degenerate(__LINE__);
      break;
    }
    if (!surface->planar) {
      const double la = mgn_norm(a), lb = mgn_norm(b);
      double ea[3], eb[3];
      for (int m = 0; m < 3; ++m) {
        ea[m] = a[m] / la;
        eb[m] = b[m] / lb;
      }
      mgn_cross(ea, eb, n);
      const double ln2 = mgn_dot(n, n);
      if (ln2 < 1e-20) {
        degenerate(__LINE__);
        break;
      }
      const double f = 1.0 / std::sqrt(ln2);
      for (int m = 0; m < 3; ++m) n[m] *= f;
    }
    if (!limited || cut_u || cut_v) {
      const double tu = cut_u ? std::max(tol_uv, BOUND_STEP) : tol_uv;
      const double tv = cut_v ? std::max(tol_uv, BOUND_STEP) : tol_uv;
      if (moved2 < tol2 || (std::fabs(du) < tu && std::fabs(dv) < tv)) break;
    }
  }
  *up = u;
  *vp = v;
  for (int m = 0; m < 3; ++m) {
    point[m] = p[m];
    su[m] = a[m];
    sv[m] = b[m];
    normal[m] = n[m];
  }
  if (iterations) *iterations = total;
  return result;
}

}  // namespace

double mgn_project_point_curve(const mgn_curve* curve, double* t, double* tangent, double* point,
                               const double* target, double tol_xyz, double tol_t,
                               int* iterations) {
  curve_iteration(curve, t, tangent, point, target, tol_xyz, tol_t, false, true, iterations,
                  __func__);
  return *t;
}

int mgn_clip_point_curve(const mgn_curve* curve, double* t, double* tangent, double* point,
                         const double* target, double tol_xyz, double tol_t, bool strict,
                         int* iterations) {
  return curve_iteration(curve, t, tangent, point, target, tol_xyz, tol_t, true, strict,
                         iterations, __func__);
}

bool mgn_get_surface_point_tangents(const mgn_surface* surface, double u, double v, double* p, double* su,
                                    double* sv) {
  mgn_get_surface_point_derivatives(surface, u, v, p, su, sv);
  const bool edge = u == 0.0 || u == 1.0 || v == 0.0 || v == 1.0;
  double lu = mgn_dot(su, su), lv = mgn_dot(sv, sv);
  if (edge || lu < mgn_tol.eps2) lu = mgn_get_surface_tangent_u(surface, u, v, su);
  if (edge || lv < mgn_tol.eps2) lv = mgn_get_surface_tangent_v(surface, u, v, sv);
  return lu > 0.0 && lv > 0.0;
}

void mgn_project_point_surface(const mgn_surface* surface, double* u, double* v, double* normal,
                               double* su, double* sv, double* point, const double* target,
                               double tol_xyz, double tol_uv, int* iterations) {
  surface_iteration(surface, u, v, normal, su, sv, point, target, tol_xyz, tol_uv, false, true,
                    iterations, __func__);
}

int mgn_clip_point_surface(const mgn_surface* surface, double* u, double* v, double* normal,
                           double* su, double* sv, double* point, const double* target,
                           double tol_xyz, double tol_uv, bool strict, int* iterations) {
  return surface_iteration(surface, u, v, normal, su, sv, point, target, tol_xyz, tol_uv, true,
                           strict, iterations, __func__);
}

// ---------------------------------------------------------------------------
// Closest point on a curve
// ---------------------------------------------------------------------------

namespace {

struct curve_search {
  const mgn_curve* curve;
  const double* target;
  int shape;
  double lo, hi;  // the parameter window searched
  double best_t;
  double best_d2;
  double best_width;  // width of the piece that gave the best candidate
  bool best_exact;    // the best is a converged projection
};

// Keeps the candidate when it is nearer than the best; true when kept.
bool consider_curve(curve_search& s, double t, const double* p, double width, bool exact = false) {
  if (t < s.lo || t > s.hi) return false;  // a projection that left the window
  const double d2 = mgn_get_point_square_distance(p, s.target);
  if (!(d2 < s.best_d2)) return false;
  s.best_d2 = d2;
  s.best_t = t;
  s.best_width = width;
  s.best_exact = exact;
  return true;
}

// Piece [ta, tb] with its end points and derivatives.
void search_curve_piece(curve_search& s, double ta, double tb, const double* pa, const double* da,
                        const double* pb, const double* db, int depth) {
  const double tm = 0.5 * (ta + tb);
  double pm[3], dm[3];
  mgn_get_curve_point_derivative(s.curve, tm, pm, dm);
  double va[3], vb[3];
  mgn_sub(pa, pm, va);
  mgn_sub(pb, pm, vb);
  // Split while the depth is below the shape order or while the piece bends
  // by more than a right angle.
  if (depth < 40 && (depth < s.shape || mgn_dot(va, vb) > 0.0)) {
    search_curve_piece(s, ta, tm, pa, da, pm, dm, depth + 1);
    search_curve_piece(s, tm, tb, pm, dm, pb, db, depth + 1);
    return;
  }
  const double width = tb - ta;
  consider_curve(s, tm, pm, width);
  // Does the target project inside the piece?  Either the distance falls at
  // the start and rises at the end, or its foot on the chord lies between
  // the end points.
  double ra[3], rb[3], chord[3];
  mgn_sub(s.target, pa, ra);
  mgn_sub(s.target, pb, rb);
  mgn_sub(pb, pa, chord);
  const bool by_tangents = mgn_dot(ra, da) >= 0.0 && mgn_dot(rb, db) <= 0.0;
  const bool by_chord = mgn_dot(ra, chord) >= 0.0 && mgn_dot(rb, chord) <= 0.0;
  if (!by_tangents && !by_chord) return;
  double t = tm, p[3] = {pm[0], pm[1], pm[2]}, d[3];
  const int converged = mgn_clip_point_curve(s.curve, &t, d, p, s.target, mgn_tol.eps, 1e-12, false);
  consider_curve(s, t, p, width, converged == 1);
}

// Searches [lo, hi]; returns the best parameter and distance in s.
void search_curve(curve_search& s, double lo, double hi) {
  double pa[3], da[3], pb[3], db[3];
  mgn_get_curve_point_derivative(s.curve, lo, pa, da);
  mgn_get_curve_point_derivative(s.curve, hi, pb, db);
  s.lo = lo;
  s.hi = hi;
  s.best_d2 = HUGE_VAL;
  s.best_width = hi - lo;
  consider_curve(s, lo, pa, hi - lo);
  consider_curve(s, hi, pb, hi - lo);
  search_curve_piece(s, lo, hi, pa, da, pb, db, 1);
  // Shrinking windows around the best parameter, down to 1e-9, or ended
  // when two rounds agree and the best is a converged projection.
  double h = 0.5 * s.best_width;
  int agreeing = 0;
  while (h > 1e-9) {
    const double t0 = s.best_t;
    bool moved = false;
    for (int side = -1; side <= 1; side += 2) {
      const double t = std::clamp(t0 + side * h, lo, hi);
      double p[3];
      mgn_get_curve_point(s.curve, t, p);
      moved = consider_curve(s, t, p, s.best_width) || moved;
    }
    if (moved)
      agreeing = 0;
    else if (s.best_exact && ++agreeing >= 2)
      break;
    h *= 0.5;
  }
}

}  // namespace

double mgn_find_closest_curve_point(const mgn_curve* curve, const double* target, double* t,
                                    const double* window) {
  curve_search s{curve, target, std::max<int>(curve->shape_order, 1), 0.0, 1.0, 0.0, HUGE_VAL, 1.0,
                 false};
  double lo = 0.0, hi = 1.0;
  if (window) {
    lo = std::clamp(std::min(window[0], window[1]), 0.0, 1.0);
    hi = std::clamp(std::max(window[0], window[1]), 0.0, 1.0);
  }
  if (hi > lo) {
    search_curve(s, lo, hi);
    const bool on_edge = (s.best_t <= lo && lo > 0.0) || (s.best_t >= hi && hi < 1.0);
    if (!on_edge) {
      *t = s.best_t;
      return s.best_d2;
    }
  }
  search_curve(s, 0.0, 1.0);
  *t = s.best_t;
  return s.best_d2;
}

// ---------------------------------------------------------------------------
// Closest point on a surface
// ---------------------------------------------------------------------------

int mgn_check_point_subsurface_enclosure(const double* p0, const double* p1, const double* p2,
                                         const double* p3, const double* target) {
  double d1[3], d2[3], n[3];
  mgn_sub(p2, p0, d1);
  mgn_sub(p3, p1, d2);
  mgn_cross(d1, d2, n);
  const double len = mgn_norm(n);
  // Relative to the diagonals, so that small models are not rejected.
  const double scale = std::sqrt(mgn_dot(d1, d1) * mgn_dot(d2, d2));
  if (!(len >= 1e-10 * scale) || len == 0.0) fail("Zero normal vector", __func__, __LINE__);
  for (int k = 0; k < 3; ++k) n[k] /= len;
  const double* corner[4] = {p0, p1, p2, p3};
  double g[3] = {0.0, 0.0, 0.0};
  for (const double* c : corner)
    for (int k = 0; k < 3; ++k) g[k] += 0.25 * c[k];
  double r[3], q[3];
  mgn_sub(target, g, r);
  const double h = mgn_dot(r, n);
  for (int k = 0; k < 3; ++k) q[k] = target[k] - h * n[k];
  for (const double* c : corner)
    if (mgn_get_point_square_distance(c, q) < mgn_tol.eps2) return 1;
  double sum = 0.0;
  for (int i = 0; i < 4; ++i) {
    double a[3], b[3];
    mgn_sub(corner[i], q, a);
    mgn_sub(corner[(i + 1) % 4], q, b);
    const double c = mgn_dot(a, b) / std::sqrt(mgn_dot(a, a) * mgn_dot(b, b));
    if (c >= 1.0)
      sum += 0.0;
    else if (c <= -1.0)
      sum += MGN_PI;
    else
      sum += std::acos(c);
  }
  if (sum >= 6.1086523819801535) return sum > 6.265732014659643 ? 1 : 2;
  return 0;
}

namespace {

struct surface_search {
  const mgn_surface* surface;
  const double* target;
  int shape_u, shape_v;
  double best_u, best_v, best_d2;
  double best_hu, best_hv;  // size of the rectangle that gave the best
  bool best_exact;          // the best is a converged projection
};

// Leaves per direction are limited: the shape-order rule alone would give
// 2^15 x 2^15 rectangles on a surface of orders 16.
constexpr int MAX_SHAPE_DEPTH = 7;
constexpr int MAX_DEPTH = 14;
constexpr int MAX_QUARTERS = 2;

// Keeps the candidate when it is nearer than the best; true when kept.
bool consider_surface(surface_search& s, double u, double v, const double* p, double hu, double hv,
                      bool exact = false) {
  const double d2 = mgn_get_point_square_distance(p, s.target);
  if (!(d2 < s.best_d2)) return false;
  s.best_d2 = d2;
  s.best_u = u;
  s.best_v = v;
  s.best_hu = hu;
  s.best_hv = hv;
  s.best_exact = exact;
  return true;
}

void clip_from(surface_search& s, double u, double v, double hu, double hv) {
  double p[3], a[3], b[3], n[3];
  if (!mgn_get_surface_point_tangents(s.surface, u, v, p, a, b)) return;
  if (s.surface->planar) {
    for (int k = 0; k < 3; ++k) n[k] = s.surface->normal[k];
  } else {
    mgn_cross(a, b, n);
    const double l2 = mgn_dot(n, n);
    if (!(l2 > 0.0)) return;
    const double f = 1.0 / std::sqrt(l2);
    for (int k = 0; k < 3; ++k) n[k] *= f;
  }
  const int converged =
      mgn_clip_point_surface(s.surface, &u, &v, n, a, b, p, s.target, mgn_tol.eps, 1e-12, false);
  consider_surface(s, u, v, p, hu, hv, converged == 1);
}

// Rectangle [u0, u1] x [v0, v1] with corner points c[0] = (u0, v0), c[1] =
// (u1, v0), c[2] = (u1, v1), c[3] = (u0, v1).
void search_rectangle(surface_search& s, double u0, double u1, double v0, double v1,
                      const double (*c)[3], int depth_u, int depth_v, int quarters) {
  const double um = 0.5 * (u0 + u1), vm = 0.5 * (v0 + v1);
  double m[3], e0[3], e1[3], f0[3], f1[3], a[3], b[3];
  mgn_get_surface_point(s.surface, um, vm, m);
  bool split_u = depth_u < std::min(s.shape_u, MAX_SHAPE_DEPTH);
  bool split_v = depth_v < std::min(s.shape_v, MAX_SHAPE_DEPTH);
  if (!split_u && depth_u < MAX_DEPTH) {
    mgn_get_surface_point(s.surface, u0, vm, e0);
    mgn_get_surface_point(s.surface, u1, vm, e1);
    mgn_sub(e0, m, a);
    mgn_sub(e1, m, b);
    split_u = mgn_dot(a, b) > 0.0;
  }
  if (!split_v && depth_v < MAX_DEPTH) {
    mgn_get_surface_point(s.surface, um, v0, f0);
    mgn_get_surface_point(s.surface, um, v1, f1);
    mgn_sub(f0, m, a);
    mgn_sub(f1, m, b);
    split_v = mgn_dot(a, b) > 0.0;
  }
  if (split_u || split_v) {
    const double us[3] = {u0, split_u ? um : u1, u1};
    const double vs[3] = {v0, split_v ? vm : v1, v1};
    const int nu = split_u ? 2 : 1, nv = split_v ? 2 : 1;
    // Corner points of the sub-rectangles on the 3 x 3 grid.
    double grid[3][3][3];
    for (int j = 0; j <= nv; ++j)
      for (int i = 0; i <= nu; ++i) {
        const int ci = i == 0 ? 0 : (i == nu ? 1 : -1);
        const int cj = j == 0 ? 0 : (j == nv ? 1 : -1);
        if (ci >= 0 && cj >= 0) {
          const int idx = cj == 0 ? (ci == 0 ? 0 : 1) : (ci == 0 ? 3 : 2);
          for (int k = 0; k < 3; ++k) grid[j][i][k] = c[idx][k];
        } else if (ci == -1 && cj == -1) {
          for (int k = 0; k < 3; ++k) grid[j][i][k] = m[k];
        } else {
          mgn_get_surface_point(s.surface, us[i], vs[j], grid[j][i]);
        }
      }
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const double sub[4][3] = {
            {grid[j][i][0], grid[j][i][1], grid[j][i][2]},
            {grid[j][i + 1][0], grid[j][i + 1][1], grid[j][i + 1][2]},
            {grid[j + 1][i + 1][0], grid[j + 1][i + 1][1], grid[j + 1][i + 1][2]},
            {grid[j + 1][i][0], grid[j + 1][i][1], grid[j + 1][i][2]}};
        search_rectangle(s, us[i], us[i + 1], vs[j], vs[j + 1], sub,
                         depth_u + (split_u ? 1 : 0), depth_v + (split_v ? 1 : 0), quarters);
      }
    return;
  }
  const double hu = u1 - u0, hv = v1 - v0;
  consider_surface(s, um, vm, m, hu, hv);
  // A degenerate quad (no normal) is left to its neighbours.
  double d1[3], d2[3], n[3];
  mgn_sub(c[2], c[0], d1);
  mgn_sub(c[3], c[1], d2);
  mgn_cross(d1, d2, n);
  if (!(mgn_norm(n) >= 1e-10 * std::sqrt(mgn_dot(d1, d1) * mgn_dot(d2, d2))) ||
      mgn_dot(n, n) == 0.0)
    return;
  const int enclosed = mgn_check_point_subsurface_enclosure(c[0], c[1], c[2], c[3], s.target);
  if (enclosed == 1) {
    clip_from(s, um, vm, hu, hv);
  } else if (enclosed == 2 && quarters < MAX_QUARTERS) {
    double grid[3][3][3];
    const double us[3] = {u0, um, u1}, vs[3] = {v0, vm, v1};
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 3; ++i) mgn_get_surface_point(s.surface, us[i], vs[j], grid[j][i]);
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i < 2; ++i) {
        const double sub[4][3] = {
            {grid[j][i][0], grid[j][i][1], grid[j][i][2]},
            {grid[j][i + 1][0], grid[j][i + 1][1], grid[j][i + 1][2]},
            {grid[j + 1][i + 1][0], grid[j + 1][i + 1][1], grid[j + 1][i + 1][2]},
            {grid[j + 1][i][0], grid[j + 1][i][1], grid[j + 1][i][2]}};
        search_rectangle(s, us[i], us[i + 1], vs[j], vs[j + 1], sub, MAX_DEPTH, MAX_DEPTH,
                         quarters + 1);
      }
  } else if (enclosed == 2) {
    clip_from(s, um, vm, hu, hv);
  }
}

}  // namespace

double mgn_find_closest_surface_point(const mgn_surface* surface, const double* target, double* u,
                                      double* v) {
  surface_search s{surface, target, std::max<int>(surface->shape_order_u, 1),
                   std::max<int>(surface->shape_order_v, 1), 0.0, 0.0, HUGE_VAL, 1.0, 1.0, false};
  static const double corner_uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  double c[4][3];
  for (int k = 0; k < 4; ++k) {
    mgn_get_surface_point(surface, corner_uv[k][0], corner_uv[k][1], c[k]);
    consider_surface(s, corner_uv[k][0], corner_uv[k][1], c[k], 1.0, 1.0);
  }
  search_rectangle(s, 0.0, 1.0, 0.0, 1.0, c, 1, 1, 0);
  // A clip projection from the best point (it slides along the boundary when
  // the foot lies there), then shrinking windows around the best, down to
  // 1e-9, or ended when two rounds agree and the best is a converged
  // projection.
  if (!s.best_exact) clip_from(s, s.best_u, s.best_v, s.best_hu, s.best_hv);
  double hu = 0.5 * s.best_hu, hv = 0.5 * s.best_hv;
  int agreeing = 0;
  while (hu > 1e-9 || hv > 1e-9) {
    const double u0 = s.best_u, v0 = s.best_v;
    bool moved = false;
    for (int j = -1; j <= 1; ++j)
      for (int i = -1; i <= 1; ++i) {
        if (i == 0 && j == 0) continue;
        const double uu = std::clamp(u0 + i * hu, 0.0, 1.0), vv = std::clamp(v0 + j * hv, 0.0, 1.0);
        double p[3];
        mgn_get_surface_point(surface, uu, vv, p);
        moved = consider_surface(s, uu, vv, p, s.best_hu, s.best_hv) || moved;
      }
    if (moved)
      agreeing = 0;
    else if (s.best_exact && ++agreeing >= 2)
      break;
    hu *= 0.5;
    hv *= 0.5;
  }
  *u = s.best_u;
  *v = s.best_v;
  return s.best_d2;
}
