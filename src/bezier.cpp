// Rational Bezier curves and surfaces: basis, evaluation, polygons and nets.
#include "bezier.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <new>

#include "geom.h"
#include "message.h"
#include "vec3.h"

namespace {

constexpr int N = MGN_MAX_ORDER;

// ---------------------------------------------------------------------------
// Polynomial basis
// ---------------------------------------------------------------------------

// Basis values of order n into b[0 .. n-1]: orders up to 4 written out, above
// that raised one order at a time in place.  The values of order m occupy
// b[n - m .. n - 1]; raising to m + 1 reads the old B_i at position i + 1 of
// the new window and B_(i-1) at position i before overwriting it.
void basis(int n, double t, double* b) {
  if (n <= 0) return;
  const double s = 1.0 - t;
  const int m = n < 4 ? n : 4;
  double* o = b + (n - m);
  switch (m) {
    case 1: o[0] = 1.0; break;
    case 2: o[0] = s; o[1] = t; break;
    case 3: o[0] = s * s; o[1] = 2.0 * s * t; o[2] = t * t; break;
    default:
      o[0] = s * s * s; o[1] = 3.0 * s * s * t; o[2] = 3.0 * s * t * t; o[3] = t * t * t;
      break;
  }
  for (int k = m + 1; k <= n; ++k) {
    o = b + (n - k);
    o[0] = o[1] * s;
    for (int i = 1; i <= k - 2; ++i) o[i] = o[i + 1] * s + o[i] * t;
    o[k - 1] *= t;
  }
}

// Basis with first (and, when d2 is not null, second) derivatives, by the
// product rule of B_i = s B_i' + t B_(i-1)' on the lower order:
//   D^k B_i = s D^k B_i - k D^(k-1) B_i + t D^k B_(i-1) + k D^(k-1) B_(i-1).
void basis_derivatives(int n, double t, double* b, double* d1, double* d2) {
  if (n <= 0) return;
  const double s = 1.0 - t;
  const int m = n < 4 ? n : 4;
  const int o0 = n - m;
  double* ob = b + o0;
  double* o1 = d1 + o0;
  double tmp2[4];
  double* o2 = d2 ? d2 + o0 : tmp2;
  switch (m) {
    case 1:
      ob[0] = 1.0; o1[0] = 0.0; o2[0] = 0.0;
      break;
    case 2:
      ob[0] = s; ob[1] = t;
      o1[0] = -1.0; o1[1] = 1.0;
      o2[0] = 0.0; o2[1] = 0.0;
      break;
    case 3:
      ob[0] = s * s; ob[1] = 2.0 * s * t; ob[2] = t * t;
      o1[0] = -2.0 * s; o1[1] = 2.0 * (s - t); o1[2] = 2.0 * t;
      o2[0] = 2.0; o2[1] = -4.0; o2[2] = 2.0;
      break;
    default:
      ob[0] = s * s * s; ob[1] = 3.0 * s * s * t; ob[2] = 3.0 * s * t * t; ob[3] = t * t * t;
      o1[0] = -3.0 * s * s; o1[1] = 3.0 * s * (s - 2.0 * t);
      o1[2] = 3.0 * t * (2.0 * s - t); o1[3] = 3.0 * t * t;
      o2[0] = 6.0 * s; o2[1] = 6.0 * t - 12.0 * s;
      o2[2] = 6.0 * s - 12.0 * t; o2[3] = 6.0 * t;
      break;
  }
  for (int k = m + 1; k <= n; ++k) {
    const int o = n - k;
    for (int i = 0; i < k; ++i) {
      const bool has_i = i <= k - 2, has_im1 = i >= 1;
      const double b_i = has_i ? b[o + i + 1] : 0.0, b_im1 = has_im1 ? b[o + i] : 0.0;
      const double d_i = has_i ? d1[o + i + 1] : 0.0, d_im1 = has_im1 ? d1[o + i] : 0.0;
      if (d2) {
        const double e_i = has_i ? d2[o + i + 1] : 0.0, e_im1 = has_im1 ? d2[o + i] : 0.0;
        d2[o + i] = s * e_i - 2.0 * d_i + t * e_im1 + 2.0 * d_im1;
      }
      d1[o + i] = s * d_i - b_i + t * d_im1 + b_im1;
      b[o + i] = s * b_i + t * b_im1;
    }
  }
}

// ---------------------------------------------------------------------------
// Evaluation in homogeneous form: A = sum w B (P, 1); the point is A / W.
// ---------------------------------------------------------------------------

struct curve_eval {
  double p[3], d1[3], d2[3];
  double w;
};

// level 0: point; 1: and first derivative; 2: and second derivative.
void evaluate_curve(const mgn_curve* curve, double t, int level, curve_eval& e) {
  const int n = curve->order;
  mgn_ctrl_point* const* poly = curve->polygon[0].data();
  double b[N], db[N], ddb[N];
  if (level == 0)
    basis(n, t, b);
  else
    basis_derivatives(n, t, b, db, level >= 2 ? ddb : nullptr);
  double a0[4] = {0, 0, 0, 0}, a1[4] = {0, 0, 0, 0}, a2[4] = {0, 0, 0, 0};
  for (int i = 0; i < n; ++i) {
    const mgn_ctrl_point* q = poly[i];
    const double w = q->w;
    const double h[4] = {w * q->xyz[0], w * q->xyz[1], w * q->xyz[2], w};
    for (int k = 0; k < 4; ++k) a0[k] += b[i] * h[k];
    if (level >= 1)
      for (int k = 0; k < 4; ++k) a1[k] += db[i] * h[k];
    if (level >= 2)
      for (int k = 0; k < 4; ++k) a2[k] += ddb[i] * h[k];
  }
  e.w = a0[3];
  const double inv = 1.0 / a0[3];
  // The ends reproduce the end control points exactly (the quotient of the
  // weighted sums would round).
  if (t == 0.0 || t == 1.0) {
    const mgn_ctrl_point* q = poly[t == 0.0 ? 0 : n - 1];
    for (int k = 0; k < 3; ++k) e.p[k] = q->xyz[k];
  } else {
    for (int k = 0; k < 3; ++k) e.p[k] = a0[k] * inv;
  }
  if (level >= 1)
    for (int k = 0; k < 3; ++k) e.d1[k] = (a1[k] - e.p[k] * a1[3]) * inv;
  if (level >= 2)
    for (int k = 0; k < 3; ++k)
      e.d2[k] = (a2[k] - 2.0 * e.d1[k] * a1[3] - e.p[k] * a2[3]) * inv;
}

struct surface_eval {
  double p[3], su[3], sv[3], suu[3], suv[3], svv[3];
  double w;
};

// level 0: point; 1: and first derivatives; 2: and second derivatives.
void evaluate_surface(const mgn_surface* surface, double u, double v, int level, surface_eval& e) {
  const int nu = surface->order_u, nv = surface->order_v;
  mgn_ctrl_point* const* net = surface->net.data();
  double bu[N], du[N], ddu[N], bv[N], dv[N], ddv[N];
  if (level == 0) {
    basis(nu, u, bu);
    basis(nv, v, bv);
  } else {
    basis_derivatives(nu, u, bu, du, level >= 2 ? ddu : nullptr);
    basis_derivatives(nv, v, bv, dv, level >= 2 ? ddv : nullptr);
  }
  double a[4] = {0, 0, 0, 0}, au[4] = {0, 0, 0, 0}, av[4] = {0, 0, 0, 0};
  double auu[4] = {0, 0, 0, 0}, auv[4] = {0, 0, 0, 0}, avv[4] = {0, 0, 0, 0};
  for (int j = 0; j < nv; ++j) {
    // Row sums over i with the u basis and its derivatives.
    double r0[4] = {0, 0, 0, 0}, r1[4] = {0, 0, 0, 0}, r2[4] = {0, 0, 0, 0};
    mgn_ctrl_point* const* row = net + j * nu;
    for (int i = 0; i < nu; ++i) {
      const mgn_ctrl_point* q = row[i];
      const double w = q->w;
      const double h[4] = {w * q->xyz[0], w * q->xyz[1], w * q->xyz[2], w};
      for (int k = 0; k < 4; ++k) r0[k] += bu[i] * h[k];
      if (level >= 1)
        for (int k = 0; k < 4; ++k) r1[k] += du[i] * h[k];
      if (level >= 2)
        for (int k = 0; k < 4; ++k) r2[k] += ddu[i] * h[k];
    }
    for (int k = 0; k < 4; ++k) a[k] += bv[j] * r0[k];
    if (level >= 1)
      for (int k = 0; k < 4; ++k) {
        au[k] += bv[j] * r1[k];
        av[k] += dv[j] * r0[k];
      }
    if (level >= 2)
      for (int k = 0; k < 4; ++k) {
        auu[k] += bv[j] * r2[k];
        auv[k] += dv[j] * r1[k];
        avv[k] += ddv[j] * r0[k];
      }
  }
  e.w = a[3];
  const double inv = 1.0 / a[3];
  // Corners reproduce the corner control points exactly.
  if ((u == 0.0 || u == 1.0) && (v == 0.0 || v == 1.0)) {
    const mgn_ctrl_point* q = net[(v == 0.0 ? 0 : nv - 1) * nu + (u == 0.0 ? 0 : nu - 1)];
    for (int k = 0; k < 3; ++k) e.p[k] = q->xyz[k];
  } else {
    for (int k = 0; k < 3; ++k) e.p[k] = a[k] * inv;
  }
  if (level >= 1)
    for (int k = 0; k < 3; ++k) {
      e.su[k] = (au[k] - e.p[k] * au[3]) * inv;
      e.sv[k] = (av[k] - e.p[k] * av[3]) * inv;
    }
  if (level >= 2)
    for (int k = 0; k < 3; ++k) {
      e.suu[k] = (auu[k] - 2.0 * e.su[k] * au[3] - e.p[k] * auu[3]) * inv;
      e.svv[k] = (avv[k] - 2.0 * e.sv[k] * av[3] - e.p[k] * avv[3]) * inv;
      e.suv[k] = (auv[k] - e.su[k] * av[3] - e.sv[k] * au[3] - e.p[k] * auv[3]) * inv;
    }
}

inline void zero3(double* d) { d[0] = d[1] = d[2] = 0.0; }

// Values of one control point, for polygon manipulation on local arrays.
struct cp_value {
  double x[3];
  double w;
  double s;
};

cp_value get_value(const mgn_ctrl_point* q) {
  return cp_value{{q->xyz[0], q->xyz[1], q->xyz[2]}, q->w, static_cast<double>(q->size)};
}

void set_value(mgn_ctrl_point* q, const cp_value& v) {
  for (int k = 0; k < 3; ++k) q->xyz[k] = v.x[k];
  q->w = v.w;
  q->size = static_cast<float>(v.s);
}

// Rational Bezier point at t of the m values c[0], c[stride], ...: position
// and size rationally interpolated, weight the sum of w B.
cp_value rational_point(const cp_value* c, int m, int stride, double t) {
  double b[N];
  basis(m, t, b);
  cp_value r{{0, 0, 0}, 0, 0};
  for (int i = 0; i < m; ++i) {
    const cp_value& q = c[i * stride];
    const double wb = q.w * b[i];
    for (int k = 0; k < 3; ++k) r.x[k] += wb * q.x[k];
    r.s += wb * q.s;
    r.w += wb;
  }
  for (int k = 0; k < 3; ++k) r.x[k] /= r.w;
  r.s /= r.w;
  return r;
}

// Splits of n values with stride: head keeps [0, t], tail [t, 1].  The head
// works from the back so that the unconsumed values stay intact; the tail
// from the front.
void split_values_head(cp_value* c, int n, int stride, double t) {
  for (int m = n; m >= 1; --m) c[(m - 1) * stride] = rational_point(c, m, stride, t);
}
void split_values_tail(cp_value* c, int n, int stride, double t) {
  for (int k = 0; k < n; ++k) c[k * stride] = rational_point(c + k * stride, n - k, stride, t);
}

// Order elevation of values from r to `target` points, with stride.
void elevate_values(cp_value* c, int target, int r, int stride) {
  for (; r < target; ++r) {
    c[r * stride] = c[(r - 1) * stride];
    for (int i = r - 1; i >= 1; --i) {
      const double a = static_cast<double>(i) / r;
      const cp_value& p = c[(i - 1) * stride];
      cp_value& q = c[i * stride];
      const double wp = a * p.w, wq = (1.0 - a) * q.w;
      const double w = wp + wq;
      cp_value nq;
      for (int k = 0; k < 3; ++k) nq.x[k] = (wp * p.x[k] + wq * q.x[k]) / w;
      nq.s = (wp * p.s + wq * q.s) / w;
      nq.w = w;
      q = nq;
    }
  }
}

[[noreturn]] void allocation_failed(const char* routine, long line) {
  mgn_allocation_error("Memory allocation failed", routine, "src/bezier", line);
}

const mgn_vertex* root_vertex(const mgn_vertex* v) {
  while (v && v->parent_vertex) v = v->parent_vertex;
  return v;
}

// (u, v) of side parameter p on a side of the surface.
void side_uv(int side, double p, double* uv) {
  switch (side) {
    case 0: uv[0] = p; uv[1] = 0.0; break;
    case 1: uv[0] = 0.0; uv[1] = p; break;
    case 2: uv[0] = p; uv[1] = 1.0; break;
    default: uv[0] = 1.0; uv[1] = p; break;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Basis
// ---------------------------------------------------------------------------

void mgn_bernstein_basis(int n, double t, double* out) { basis(n, t, out); }

void mgn_bernstein_basis_derivative(int n, double t, double* out) {
  double b[N];
  basis_derivatives(n, t, b, out, nullptr);
}

void mgn_bernstein_basis_second_derivative(int n, double t, double* out) {
  double b[N], d[N];
  basis_derivatives(n, t, b, d, out);
}

void mgn_bernstein_basis_kth_derivative(int k, int n, double t, double* out) {
  if (n <= 0) return;
  if (k <= 0) {
    basis(n, t, out);
    return;
  }
  if (k >= n) {
    for (int i = 0; i < n; ++i) out[i] = 0.0;
    return;
  }
  // d[j] holds the j-th derivatives (j = 0 .. k) of the current order in the
  // shifted window of the in-place scheme; derivative levels are updated from
  // the highest down so that level j - 1 is still of the lower order.
  const double s = 1.0 - t;
  double d[N][N];
  for (int j = 0; j <= k; ++j) d[j][n - 1] = j == 0 ? 1.0 : 0.0;
  for (int m = 2; m <= n; ++m) {
    const int o = n - m;
    for (int i = 0; i < m; ++i) {
      const bool has_i = i <= m - 2, has_im1 = i >= 1;
      for (int j = k; j >= 0; --j) {
        const double x_i = has_i ? d[j][o + i + 1] : 0.0;
        const double x_im1 = has_im1 ? d[j][o + i] : 0.0;
        double value = s * x_i + t * x_im1;
        if (j > 0) {
          const double y_i = has_i ? d[j - 1][o + i + 1] : 0.0;
          const double y_im1 = has_im1 ? d[j - 1][o + i] : 0.0;
          value += j * (y_im1 - y_i);
        }
        d[j][o + i] = value;
      }
    }
  }
  for (int i = 0; i < n; ++i) out[i] = d[k][i];
}

void mgn_rational_basis(int n, double t, mgn_ctrl_point* const* polygon, double* out) {
  double b[N];
  basis(n, t, b);
  double w = 0.0;
  for (int i = 0; i < n; ++i) w += polygon[i]->w * b[i];
  for (int i = 0; i < n; ++i) out[i] = polygon[i]->w * b[i] / w;
}

void mgn_rational_basis_derivative(int n, double t, mgn_ctrl_point* const* polygon, double* out) {
  double b[N], d[N];
  basis_derivatives(n, t, b, d, nullptr);
  double w = 0.0, w1 = 0.0;
  for (int i = 0; i < n; ++i) {
    w += polygon[i]->w * b[i];
    w1 += polygon[i]->w * d[i];
  }
  for (int i = 0; i < n; ++i) out[i] = polygon[i]->w * (d[i] * w - b[i] * w1) / (w * w);
}

void mgn_rational_basis_second_derivative(int n, double t, mgn_ctrl_point* const* polygon,
                                          double* out) {
  double b[N], d[N], dd[N];
  basis_derivatives(n, t, b, d, dd);
  double w = 0.0, w1 = 0.0, w2 = 0.0;
  for (int i = 0; i < n; ++i) {
    w += polygon[i]->w * b[i];
    w1 += polygon[i]->w * d[i];
    w2 += polygon[i]->w * dd[i];
  }
  for (int i = 0; i < n; ++i)
    out[i] = polygon[i]->w *
             ((dd[i] * w - b[i] * w2) + (2.0 * w1 / w) * (b[i] * w1 - d[i] * w)) / (w * w);
}

void mgn_rational_surface_basis(int nu, int nv, double u, double v, mgn_ctrl_point* const* net,
                                double* out) {
  double bu[N], bv[N];
  basis(nu, u, bu);
  basis(nv, v, bv);
  double w = 0.0;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double x = net[j * nu + i]->w * bu[i] * bv[j];
      out[j * nu + i] = x;
      w += x;
    }
  for (int k = 0; k < nu * nv; ++k) out[k] /= w;
}

namespace {

// Surface basis numerators N = w Bu Bv and their derivatives, and the
// corresponding weight sums, for the quotient rule.
struct surface_basis_work {
  double bu[N], du[N], ddu[N], bv[N], dv[N], ddv[N];
  double w, wu, wv, wuu, wuv, wvv;
};

void surface_basis_sums(int nu, int nv, double u, double v, mgn_ctrl_point* const* net,
                        surface_basis_work& s) {
  basis_derivatives(nu, u, s.bu, s.du, s.ddu);
  basis_derivatives(nv, v, s.bv, s.dv, s.ddv);
  s.w = s.wu = s.wv = s.wuu = s.wuv = s.wvv = 0.0;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double w = net[j * nu + i]->w;
      s.w += w * s.bu[i] * s.bv[j];
      s.wu += w * s.du[i] * s.bv[j];
      s.wv += w * s.bu[i] * s.dv[j];
      s.wuu += w * s.ddu[i] * s.bv[j];
      s.wuv += w * s.du[i] * s.dv[j];
      s.wvv += w * s.bu[i] * s.ddv[j];
    }
}

}  // namespace

void mgn_rational_surface_basis_derivative(int nu, int nv, double u, double v, int direction,
                                           mgn_ctrl_point* const* net, double* out) {
  surface_basis_work s;
  surface_basis_sums(nu, nv, u, v, net, s);
  const double wa = direction == 0 ? s.wu : s.wv;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double w = net[j * nu + i]->w;
      const double n0 = w * s.bu[i] * s.bv[j];
      const double na = direction == 0 ? w * s.du[i] * s.bv[j] : w * s.bu[i] * s.dv[j];
      out[j * nu + i] = (na * s.w - n0 * wa) / (s.w * s.w);
    }
}

void mgn_rational_surface_basis_second_derivative(int nu, int nv, double u, double v, int kind,
                                                  mgn_ctrl_point* const* net, double* out) {
  surface_basis_work s;
  surface_basis_sums(nu, nv, u, v, net, s);
  // R_ab = (N_ab - R_a W_b - R_b W_a - R W_ab) / W with R_a = (N_a - R W_a) / W.
  const double wa = kind == 2 ? s.wv : s.wu;
  const double wb = kind == 0 ? s.wu : s.wv;
  const double wab = kind == 0 ? s.wuu : kind == 1 ? s.wuv : s.wvv;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double w = net[j * nu + i]->w;
      const double n0 = w * s.bu[i] * s.bv[j];
      const double nu_ = w * s.du[i] * s.bv[j];
      const double nv_ = w * s.bu[i] * s.dv[j];
      const double na = kind == 2 ? nv_ : nu_;
      const double nb = kind == 0 ? nu_ : nv_;
      const double nab = kind == 0   ? w * s.ddu[i] * s.bv[j]
                         : kind == 1 ? w * s.du[i] * s.dv[j]
                                     : w * s.bu[i] * s.ddv[j];
      const double r = n0 / s.w;
      const double ra = (na - r * wa) / s.w;
      const double rb = (nb - r * wb) / s.w;
      out[j * nu + i] = (nab - ra * wb - rb * wa - r * wab) / s.w;
    }
}

// ---------------------------------------------------------------------------
// Curves
// ---------------------------------------------------------------------------

void mgn_get_curve_point(const mgn_curve* curve, double t, double* p) {
  curve_eval e;
  evaluate_curve(curve, t, 0, e);
  for (int k = 0; k < 3; ++k) p[k] = e.p[k];
}

void mgn_get_curve_derivative(const mgn_curve* curve, double t, double* d) {
  curve_eval e;
  evaluate_curve(curve, t, 1, e);
  for (int k = 0; k < 3; ++k) d[k] = e.d1[k];
}

void mgn_get_curve_second_derivative(const mgn_curve* curve, double t, double* d) {
  curve_eval e;
  evaluate_curve(curve, t, 2, e);
  for (int k = 0; k < 3; ++k) d[k] = e.d2[k];
}

void mgn_get_curve_point_derivative(const mgn_curve* curve, double t, double* p, double* d) {
  curve_eval e;
  evaluate_curve(curve, t, 1, e);
  for (int k = 0; k < 3; ++k) {
    p[k] = e.p[k];
    d[k] = e.d1[k];
  }
}

double mgn_get_curve_tangent(const mgn_curve* curve, double t, double* d) {
  if (curve->collapsed) {
    zero3(d);
    return 0.0;
  }
  mgn_get_curve_derivative(curve, t, d);
  double len2 = mgn_dot(d, d);
  // A vanishing derivative: widen a chord around t until it is long enough;
  // only its direction is meaningful.
  double delta = 1e-6;
  while (len2 < mgn_tol.eps2) {
    if (delta > 0.5) {
      zero3(d);
      return 0.0;
    }
    const double lo = std::max(t - delta, 0.0), hi = std::min(t + delta, 1.0);
    delta *= 1.5;
    double a[3], b[3];
    mgn_get_curve_point(curve, lo, a);
    mgn_get_curve_point(curve, hi, b);
    mgn_sub(b, a, d);
    len2 = mgn_dot(d, d);
  }
  return len2;
}

int mgn_get_curve_unit_tangent(const mgn_curve* curve, double t, double* d) {
  const double len2 = mgn_get_curve_tangent(curve, t, d);
  if (len2 == 0.0) {
    zero3(d);
    return 0;
  }
  const double f = 1.0 / std::sqrt(len2);
  for (int k = 0; k < 3; ++k) d[k] *= f;
  return 1;
}

double mgn_get_curve_size(const mgn_curve* curve, double t) {
  const int n = curve->order;
  mgn_ctrl_point* const* poly = curve->polygon[0].data();
  double b[N];
  basis(n, t, b);
  double num = 0.0, den = 0.0;
  for (int i = 0; i < n; ++i) {
    const double wb = poly[i]->w * b[i];
    num += wb * poly[i]->size;
    den += wb;
  }
  return num / den;
}

double mgn_get_curve_weight(const mgn_curve* curve, double t) {
  const int n = curve->order;
  mgn_ctrl_point* const* poly = curve->polygon[0].data();
  double b[N];
  basis(n, t, b);
  double w = 0.0;
  for (int i = 0; i < n; ++i) w += poly[i]->w * b[i];
  return w;
}

double mgn_get_curve_curvature(const mgn_curve* curve, double t) {
  curve_eval e;
  evaluate_curve(curve, t, 2, e);
  const double a = mgn_dot(e.d1, e.d1);
  if (a < mgn_tol.eps2) return 0.0;
  // sqrt(|C''|^2 - p^2) / a with p = C'.C'' / |C'|, evaluated as
  // |C' x C''| / |C'|^3: the same value without the cancellation that
  // leaves a residue of order 1e-8 on straight curves.
  double c[3];
  mgn_cross(e.d1, e.d2, c);
  return mgn_norm(c) / (a * std::sqrt(a));
}

namespace {

double speed(const mgn_curve* curve, double t) {
  curve_eval e;
  evaluate_curve(curve, t, 1, e);
  return mgn_norm(e.d1);
}

double gauss2(const mgn_curve* curve, double lo, double hi) {
  const double h = 0.5 * (hi - lo), c = 0.5 * (lo + hi), g = 0.577350269189626 * h;
  return h * (speed(curve, c - g) + speed(curve, c + g));
}

// Weights at the ends differ by more than a factor 1.5 (or change sign).
bool weights_differ(double wa, double wb) {
  if ((wa > 0.0) != (wb > 0.0)) return true;
  wa = std::fabs(wa);
  wb = std::fabs(wb);
  return wa > 1.5 * wb || wb > 1.5 * wa;
}

// Adaptive length: intervals wider than `width` or with unbalanced end
// weights are halved; the others are integrated by the 2-point Gauss rule,
// refined further until the rule agrees with its two halves to a relative
// 1e-10 (the coarse rule alone is only good to about 1e-5).
double integrate_length(const mgn_curve* curve, double lo, double hi, double wlo, double whi,
                        double width, int depth) {
  const double mid = 0.5 * (lo + hi);
  if (depth < 48 && (hi - lo > width || weights_differ(wlo, whi))) {
    const double wm = mgn_get_curve_weight(curve, mid);
    return integrate_length(curve, lo, mid, wlo, wm, width, depth + 1) +
           integrate_length(curve, mid, hi, wm, whi, width, depth + 1);
  }
  const double whole = gauss2(curve, lo, hi);
  const double halves = gauss2(curve, lo, mid) + gauss2(curve, mid, hi);
  if (depth < 48 && std::fabs(whole - halves) > 1e-10 * halves + mgn_tol.eps) {
    const double wm = mgn_get_curve_weight(curve, mid);
    return integrate_length(curve, lo, mid, wlo, wm, width, depth + 1) +
           integrate_length(curve, mid, hi, wm, whi, width, depth + 1);
  }
  return halves;
}

}  // namespace

double mgn_integrate_curve_length(const mgn_curve* curve, double t_lo, double t_hi) {
  if (t_hi == t_lo) return 0.0;
  if (t_hi < t_lo) std::swap(t_lo, t_hi);
  const int shape = std::clamp<int>(curve->shape_order, 1, 2 * MGN_MAX_ORDER);
  const double m = std::ldexp(1.0, shape - 1);
  const double width = m > 0.5 ? 1.0 / (m - 0.5) : 1.0;
  return integrate_length(curve, t_lo, t_hi, mgn_get_curve_weight(curve, t_lo),
                          mgn_get_curve_weight(curve, t_hi), width, 0);
}

double mgn_find_curve_extremum(const mgn_curve* curve, double t, double step, double value,
                               int coordinate, int sense, double* p) {
  double best = value;
  for (;;) {
    step *= 0.5;
    if (step <= 0.001) break;
    const double lo = std::max(t - step, 0.0), hi = std::min(t + step, 1.0);
    double a[3], b[3];
    mgn_get_curve_point(curve, lo, a);
    mgn_get_curve_point(curve, hi, b);
    const double va = a[coordinate], vb = b[coordinate];
    const bool take_hi = sense > 0 ? vb > va : vb < va;
    const double cand = take_hi ? vb : va;
    if (sense > 0 ? cand > best : cand < best) {
      best = cand;
      t = take_hi ? hi : lo;
    }
  }
  mgn_get_curve_point(curve, t, p);
  return t;
}

void mgn_get_curve_bounding_box(const mgn_curve* curve, double* box) {
  const double* a = curve->polygon[0].front()->xyz;
  const double* b = curve->polygon[0].back()->xyz;
  for (int k = 0; k < 3; ++k) {
    box[k] = std::min(a[k], b[k]);
    box[k + 3] = std::max(a[k], b[k]);
  }
  if (curve->order <= 2) return;
  const int shape = std::clamp<int>(std::max(curve->shape_order, curve->order), 2, 2 * MGN_MAX_ORDER);
  const int n = 2 * shape - 2;
  double pts[4 * MGN_MAX_ORDER + 1][3];
  for (int i = 0; i <= n; ++i) {
    if (i == 0) {
      for (int k = 0; k < 3; ++k) pts[i][k] = a[k];
    } else if (i == n) {
      for (int k = 0; k < 3; ++k) pts[i][k] = b[k];
    } else {
      mgn_get_curve_point(curve, static_cast<double>(i) / n, pts[i]);
    }
  }
  const double step = 1.0 / n;
  auto grow = [box](const double* p) {
    for (int k = 0; k < 3; ++k) {
      box[k] = std::min(box[k], p[k]);
      box[k + 3] = std::max(box[k + 3], p[k]);
    }
  };
  // An extremum between an end and the first sample is announced by the
  // derivative at the end pointing out of the end's value: refine from there.
  for (int end = 0; end < 2; ++end) {
    double d[3];
    const double t = end == 0 ? 0.0 : 1.0;
    mgn_get_curve_derivative(curve, t, d);
    for (int k = 0; k < 3; ++k) {
      const double outward = end == 0 ? d[k] : -d[k];  // change away from the end
      if (outward == 0.0) continue;
      double p[3];
      mgn_find_curve_extremum(curve, t, step, pts[end == 0 ? 0 : n][k], k, outward > 0.0 ? 1 : -1, p);
      grow(p);
    }
  }
  for (int i = 1; i < n; ++i) {
    grow(pts[i]);
    for (int k = 0; k < 3; ++k) {
      const double x = pts[i][k], l = pts[i - 1][k], r = pts[i + 1][k];
      const double hi = std::max(l, r), lo = std::min(l, r);
      double p[3];
      if (x >= hi && x > lo) {
        mgn_find_curve_extremum(curve, static_cast<double>(i) / n, step, x, k, 1, p);
        grow(p);
      } else if (x <= lo && x < hi) {
        mgn_find_curve_extremum(curve, static_cast<double>(i) / n, step, x, k, -1, p);
        grow(p);
      }
    }
  }
}

int mgn_check_curve_collapse(mgn_curve* curve) {
  const auto& poly = curve->polygon[0];
  const double* first = poly[0]->xyz;
  for (int i = 1; i < curve->order; ++i)
    if (!mgn_check_point_coincidence(first, poly[i]->xyz, mgn_tol.eps)) {
      curve->collapsed = false;
      return 0;
    }
  if (root_vertex(curve->vertex[0]) == root_vertex(curve->vertex[1])) {
    curve->collapsed = true;
    return 1;
  }
  mgn_record_error_location(MGN_CURVE, curve->id, curve->vertex[0]->ctrl_point->xyz);
  mgn_manipulation_error(mgn_format("Vertices (%ld and %ld) of collapsed curve %ld are coinciding",
                                    static_cast<long>(curve->vertex[0]->id),
                                    static_cast<long>(curve->vertex[1]->id),
                                    static_cast<long>(curve->id)),
                         MGN_HERE);
}

int mgn_check_curve_straightness(mgn_curve* curve) {
  const mgn_curve* parent = curve->parent_curve;
  if (parent && parent->straight) {
    const double f = curve->reversed ? -1.0 : 1.0;
    for (int k = 0; k < 3; ++k) curve->direction[k] = f * parent->direction[k];
    curve->straight = true;
    return 1;
  }
  const auto& poly = curve->polygon[0];
  const double* a = poly.front()->xyz;
  const double* b = poly.back()->xyz;
  double d[3];
  mgn_sub(b, a, d);
  zero3(curve->direction);
  if (mgn_check_point_coincidence(a, b, mgn_tol.eps)) {
    curve->straight = curve->collapsed;
    return curve->straight ? 1 : 0;
  }
  for (int i = 1; i + 1 < curve->order; ++i)
    if (mgn_get_point_line_square_distance(poly[i]->xyz, a, d) >= mgn_tol.eps2) {
      curve->straight = false;
      return 0;
    }
  const double len = mgn_norm(d);
  for (int k = 0; k < 3; ++k) curve->direction[k] = d[k] / len;
  curve->straight = true;
  return 1;
}

const mgn_curve* mgn_get_root_curve(const mgn_curve* curve, double* s, double* e) {
  double lo = 0.0, hi = 1.0;
  const mgn_curve* c = curve;
  // Parent chains are acyclic by construction; the bound guards corrupt data.
  for (int guard = 0; c->parent_curve && guard < 1000000; ++guard) {
    const double t0 = c->parent_t[0], t1 = c->parent_t[1];
    lo = lo * (t1 - t0) + t0;
    hi = hi * (t1 - t0) + t0;
    c = c->parent_curve;
  }
  *s = lo;
  *e = hi;
  return c;
}

int mgn_get_surface_curve_uv(const mgn_surface* surface, const mgn_curve* curve, double* uv_start,
                             double* uv_end) {
  double s, e;
  const mgn_curve* root = mgn_get_root_curve(curve, &s, &e);
  for (int side = 0; side < 4; ++side) {
    const mgn_curve* sc = surface->curve[side];
    if (!sc) continue;
    double ss, se;
    if (mgn_get_root_curve(sc, &ss, &se) != root || se == ss) continue;
    // The curve's interval in the side curve's own parameter (the identity
    // when the side is the root curve itself).
    double ps = (s - ss) / (se - ss), pe = (e - ss) / (se - ss);
    // A piece of the root outside the side curve's interval is not on it.
    const double tol = 1e-9;
    if (std::min(ps, pe) < -tol || std::max(ps, pe) > 1.0 + tol) continue;
    if (surface->reversed[side]) {
      ps = 1.0 - ps;
      pe = 1.0 - pe;
    }
    side_uv(side, ps, uv_start);
    side_uv(side, pe, uv_end);
    return 1;
  }
  if (root->parent_surface != surface) return 0;
  const double* a = root->parent_uv[0];
  const double* b = root->parent_uv[1];
  if (root == curve) {
    for (int k = 0; k < 2; ++k) {
      uv_start[k] = a[k];
      uv_end[k] = b[k];
    }
    return 1;
  }
  const double tol = 1e-9;
  if (!std::isfinite(s) || !std::isfinite(e) || s < -tol || s > 1.0 + tol || e < -tol ||
      e > 1.0 + tol)
    mgn_manipulation_error("Unexpected situation", MGN_HERE);
  for (int k = 0; k < 2; ++k) {
    uv_start[k] = a[k] + s * (b[k] - a[k]);
    uv_end[k] = a[k] + e * (b[k] - a[k]);
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Surfaces
// ---------------------------------------------------------------------------

void mgn_get_surface_point(const mgn_surface* surface, double u, double v, double* p) {
  surface_eval e;
  evaluate_surface(surface, u, v, 0, e);
  for (int k = 0; k < 3; ++k) p[k] = e.p[k];
}

void mgn_get_surface_derivative(const mgn_surface* surface, double u, double v, int direction,
                                double* d) {
  surface_eval e;
  evaluate_surface(surface, u, v, 1, e);
  const double* src = direction == 0 ? e.su : e.sv;
  for (int k = 0; k < 3; ++k) d[k] = src[k];
}

void mgn_get_surface_second_derivative(const mgn_surface* surface, double u, double v, int kind,
                                       double* d) {
  surface_eval e;
  evaluate_surface(surface, u, v, 2, e);
  const double* src = kind == 0 ? e.suu : kind == 1 ? e.suv : e.svv;
  for (int k = 0; k < 3; ++k) d[k] = src[k];
}

void mgn_get_surface_point_derivatives(const mgn_surface* surface, double u, double v, double* p,
                                       double* su, double* sv) {
  surface_eval e;
  evaluate_surface(surface, u, v, 1, e);
  for (int k = 0; k < 3; ++k) {
    p[k] = e.p[k];
    su[k] = e.su[k];
    sv[k] = e.sv[k];
  }
}

namespace {

bool side_collapsed(const mgn_surface* surface, int side) {
  return surface->curve[side] && surface->curve[side]->collapsed;
}

// Tangent in u (direction 0) or v (1) with the fallback of the curves; the
// chord runs in the one parameter with the other fixed.  `analytic` is the
// derivative when the caller has evaluated it already.
double surface_tangent(const mgn_surface* surface, double u, double v, int direction, double* d,
                       const double* analytic = nullptr) {
  if (direction == 0 ? (v == 0.0 && side_collapsed(surface, 0)) ||
                           (v == 1.0 && side_collapsed(surface, 2))
                     : (u == 0.0 && side_collapsed(surface, 1)) ||
                           (u == 1.0 && side_collapsed(surface, 3))) {
    zero3(d);
    return 0.0;
  }
  if (analytic)
    for (int k = 0; k < 3; ++k) d[k] = analytic[k];
  else
    mgn_get_surface_derivative(surface, u, v, direction, d);
  double len2 = mgn_dot(d, d);
  double delta = 1e-6;
  const double x = direction == 0 ? u : v;
  while (len2 < mgn_tol.eps2) {
    if (delta > 0.25) {
      zero3(d);
      return 0.0;
    }
    const double lo = std::max(x - delta, 0.0), hi = std::min(x + delta, 1.0);
    delta *= 1.5;
    double a[3], b[3];
    if (direction == 0) {
      mgn_get_surface_point(surface, lo, v, a);
      mgn_get_surface_point(surface, hi, v, b);
    } else {
      mgn_get_surface_point(surface, u, lo, a);
      mgn_get_surface_point(surface, u, hi, b);
    }
    mgn_sub(b, a, d);
    len2 = mgn_dot(d, d);
  }
  return len2;
}

}  // namespace

double mgn_get_surface_tangent_u(const mgn_surface* surface, double u, double v, double* d) {
  return surface_tangent(surface, u, v, 0, d);
}

double mgn_get_surface_tangent_v(const mgn_surface* surface, double u, double v, double* d) {
  return surface_tangent(surface, u, v, 1, d);
}

int mgn_get_surface_normal(const mgn_surface* surface, double u, double v, double* n) {
  double su[3], sv[3];
  surface_eval e;
  evaluate_surface(surface, u, v, 1, e);
  const double lu = surface_tangent(surface, u, v, 0, su, e.su);
  const double lv = surface_tangent(surface, u, v, 1, sv, e.sv);
  const bool inside = u > 0.0 && u < 1.0 && v > 0.0 && v < 1.0;
  // A vanishing tangent is legal on the boundary (a collapsed side) and
  // fatal inside, like a vanishing normal.
  if ((lu == 0.0 || lv == 0.0) && !inside) {
    zero3(n);
    return 0;
  }
  if (lu != 1.0 && lu != 0.0) {
    const double f = 1.0 / std::sqrt(lu);
    for (int k = 0; k < 3; ++k) su[k] *= f;
  }
  if (lv != 1.0 && lv != 0.0) {
    const double f = 1.0 / std::sqrt(lv);
    for (int k = 0; k < 3; ++k) sv[k] *= f;
  }
  mgn_cross(su, sv, n);
  const double len2 = mgn_dot(n, n);
  if (len2 >= 1e-20) {
    const double f = 1.0 / std::sqrt(len2);
    for (int k = 0; k < 3; ++k) n[k] *= f;
    return 1;
  }
  zero3(n);
  if (inside) {
    double p[3];
    mgn_get_surface_point(surface, u, v, p);
    mgn_record_error_location(MGN_SURFACE, surface->id, p);
    mgn_manipulation_error(mgn_format("Bad parameterization of surface %ld at u = %f, v = %f",
                                      static_cast<long>(surface->id), u, v),
                           MGN_HERE);
  }
  return 0;
}

double mgn_get_surface_size(const mgn_surface* surface, double u, double v) {
  const int nu = surface->order_u, nv = surface->order_v;
  mgn_ctrl_point* const* net = surface->net.data();
  double bu[N], bv[N];
  basis(nu, u, bu);
  basis(nv, v, bv);
  // The sums are accumulated in single precision, like the sizes themselves.
  float num = 0.0f, den = 0.0f;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const mgn_ctrl_point* q = net[j * nu + i];
      const float wb = static_cast<float>(q->w * bu[i] * bv[j]);
      num += wb * q->size;
      den += wb;
    }
  return static_cast<double>(num / den);
}

double mgn_get_surface_weight(const mgn_surface* surface, double u, double v) {
  surface_eval e;
  evaluate_surface(surface, u, v, 0, e);
  return e.w;
}

double mgn_get_surface_curvature(const mgn_surface* surface, double u, double v) {
  surface_eval e;
  evaluate_surface(surface, u, v, 2, e);
  const double ee = mgn_dot(e.su, e.su), g = mgn_dot(e.sv, e.sv);
  if (ee < mgn_tol.eps2 || g < mgn_tol.eps2) return 0.0;
  const double f = mgn_dot(e.su, e.sv);
  const double d = ee * g - f * f;
  const double r = std::sqrt(std::max(d, 0.0));
  if (r < 1e-10) return 0.0;
  double n[3];
  mgn_cross(e.su, e.sv, n);
  for (int k = 0; k < 3; ++k) n[k] /= r;
  const double l = mgn_dot(e.suu, n), m = mgn_dot(e.suv, n), nn = mgn_dot(e.svv, n);
  const double kk = l * nn - m * m;
  const double b = g * l + ee * nn - 2.0 * f * m;
  const double disc = std::max(b * b - 4.0 * d * kk, 0.0);
  const double root = std::sqrt(disc);
  const double k1 = (-b + root) / (2.0 * d), k2 = (-b - root) / (2.0 * d);
  return std::max(std::fabs(k1), std::fabs(k2));
}

double mgn_get_surface_directional_curvature(const mgn_surface* surface, double u, double v,
                                             double angle) {
  u = std::clamp(u, 0.0, 1.0);
  v = std::clamp(v, 0.0, 1.0);
  double n[3];
  if (!mgn_get_surface_normal(surface, u, v, n)) return 0.0;
  double p[3];
  mgn_get_surface_point(surface, u, v, p);
  const double cu = 1e-6 * std::cos(angle), cv = 1e-6 * std::sin(angle);
  double sum = 0.0;
  int count = 0;
  for (int side = 0; side < 2; ++side) {
    const double f = side == 0 ? 1.0 : -1.0;
    double du = f * cu, dv = f * cv;
    for (;;) {
      const double un = u + du, vn = v + dv;
      // A side whose chord would leave the parameter square is given up.
      if (un < 0.0 || un > 1.0 || vn < 0.0 || vn > 1.0) break;
      double q[3], c[3];
      mgn_get_surface_point(surface, un, vn, q);
      mgn_sub(q, p, c);
      const double c2 = mgn_dot(c, c);
      if (c2 >= mgn_tol.eps2) {
        sum += 2.0 * std::fabs(mgn_dot(n, c)) / c2;
        ++count;
        break;
      }
      du *= 1.5;
      dv *= 1.5;
    }
  }
  return count ? sum / count : 0.0;
}

namespace {

// Unit tangent of a side at the start (at_start) or the end of its run in
// the loop order of the corners 0 -> 1 -> 2 -> 3 -> 0, in the loop direction.
// Sides 1 and 2 run with increasing side parameter in the loop, 3 and 0
// against it.
int side_loop_tangent(const mgn_surface* surface, int side, bool at_start, double* d) {
  const mgn_curve* c = surface->curve[side];
  if (!c || c->polygon.empty()) {
    zero3(d);
    return 0;
  }
  const bool forward = (side == 1 || side == 2) != surface->reversed[side];
  const double t = forward == at_start ? 0.0 : 1.0;
  if (!mgn_get_curve_unit_tangent(c, t, d)) return 0;
  if (!forward)
    for (int k = 0; k < 3; ++k) d[k] = -d[k];
  return 1;
}

}  // namespace

int mgn_check_surface_convexity(const mgn_surface* surface) {
  if (!surface->planar) return 1;
  static const double corner_uv[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
  for (int k = 0; k < 4; ++k) {
    double n[3];
    if (!mgn_get_surface_normal(surface, corner_uv[k][0], corner_uv[k][1], n)) {
      // Corner of a collapsed side: the normal from the loop tangents of the
      // sides leaving and entering the corner (t_out x t_in equals the
      // direction of Su x Sv), a collapsed side replaced by the next one.
      int out = (k + 1) % 4, in = k;
      for (int i = 0; i < 3 && side_collapsed(surface, out); ++i) out = (out + 1) % 4;
      for (int i = 0; i < 3 && side_collapsed(surface, in); ++i) in = (in + 3) % 4;
      double to[3], ti[3];
      if (!side_loop_tangent(surface, out, true, to) || !side_loop_tangent(surface, in, false, ti))
        continue;
      mgn_cross(to, ti, n);
      const double len2 = mgn_dot(n, n);
      if (len2 < 1e-20) continue;
      const double f = 1.0 / std::sqrt(len2);
      for (int i = 0; i < 3; ++i) n[i] *= f;
    }
    if (mgn_dot(n, surface->normal) < 0.0) {
      const long vid = surface->vertex[k] ? static_cast<long>(surface->vertex[k]->id) : 0L;
      mgn_warning("Warning: Planar surface %ld is not convex at vertex %ld\n",
                  static_cast<long>(surface->id), vid);
      return 0;
    }
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Control points, polygons and nets
// ---------------------------------------------------------------------------

mgn_ctrl_point* mgn_create_ctrl_point() {
  // Control points are never released before the process ends; a deque keeps
  // their addresses stable and frees them at exit.
  static std::deque<mgn_ctrl_point> pool;
  try {
    pool.emplace_back();
  } catch (const std::bad_alloc&) {
    allocation_failed(__func__, __LINE__);
  }
  return &pool.back();
}

void mgn_create_curve_ctrl_polygon(mgn_curve* curve) {
  const int n = curve->order;
  if (n < 2 || n > MGN_MAX_ORDER || !curve->vertex[0] || !curve->vertex[1])
    mgn_manipulation_error("Unexpected situation", MGN_HERE);
  try {
    curve->polygon.assign(MGN_MAX_ORDER + 1 - n, {});
    auto& poly = curve->polygon[0];
    poly.resize(n);
    const mgn_ctrl_point* a = curve->vertex[0]->ctrl_point;
    const mgn_ctrl_point* b = curve->vertex[1]->ctrl_point;
    poly[0] = curve->vertex[0]->ctrl_point;
    poly[n - 1] = curve->vertex[1]->ctrl_point;
    for (int i = 1; i < n - 1; ++i) {
      mgn_ctrl_point* q = mgn_create_ctrl_point();
      const double s = static_cast<double>(i) / (n - 1);
      for (int k = 0; k < 3; ++k) q->xyz[k] = (1.0 - s) * a->xyz[k] + s * b->xyz[k];
      q->w = (1.0 - s) * a->w + s * b->w;
      q->size = static_cast<float>((1.0 - s) * a->size + s * b->size);
      poly[i] = q;
    }
  } catch (const std::bad_alloc&) {
    allocation_failed(__func__, __LINE__);
  }
}

void mgn_elevate_polygon_order(mgn_ctrl_point** polygon, int new_order, int old_order,
                               int stride) {
  if (old_order < 1 || new_order <= old_order || new_order > MGN_MAX_ORDER) return;
  cp_value c[N];
  for (int i = 0; i < old_order; ++i) c[i] = get_value(polygon[i * stride]);
  elevate_values(c, new_order, old_order, 1);
  for (int i = 1; i < new_order; ++i) set_value(polygon[i * stride], c[i]);
}

void mgn_append_curve_ctrl_polygon(mgn_curve* curve, int order) {
  const int k = order - curve->order;
  if (k <= 0 || order > MGN_MAX_ORDER || curve->polygon.empty()) return;
  if (static_cast<int>(curve->polygon.size()) <= k) curve->polygon.resize(k + 1);
  auto& slot = curve->polygon[k];
  if (static_cast<int>(slot.size()) == order) return;  // already there
  const auto& base = curve->polygon[0];
  try {
    slot.assign(order, nullptr);
    slot[0] = base.front();
    slot[order - 1] = base.back();
    for (int i = 1; i < order - 1; ++i) slot[i] = mgn_create_ctrl_point();
  } catch (const std::bad_alloc&) {
    allocation_failed(__func__, __LINE__);
  }
  cp_value c[N];
  for (int i = 0; i < curve->order; ++i) c[i] = get_value(base[i]);
  elevate_values(c, order, curve->order, 1);
  // The ends are the vertices' control points and keep their values.
  for (int i = 1; i < order - 1; ++i) set_value(slot[i], c[i]);
}

mgn_ctrl_point* const* mgn_get_curve_polygon_at_order(mgn_curve* curve, int order) {
  const int k = order - curve->order;
  if (k < 0 || order > MGN_MAX_ORDER || curve->polygon.empty())
    mgn_manipulation_error("Unexpected situation", MGN_HERE);
  if (k > 0) mgn_append_curve_ctrl_polygon(curve, order);
  return curve->polygon[k].data();
}

namespace {

// Gives the curve the order n (at least its own) and a slot 0 of n fresh
// control points; returns slot 0.
std::vector<mgn_ctrl_point*>& fresh_slot(mgn_curve* curve, int n) {
  if (n > MGN_MAX_ORDER || n < 2) mgn_manipulation_error("Unexpected situation", "fresh_slot", "src/bezier", __LINE__);
  try {
    if (curve->order < n || static_cast<int>(curve->polygon.size()) != MGN_MAX_ORDER + 1 - curve->order) {
      curve->order = static_cast<int16_t>(std::max<int>(curve->order, n));
      curve->polygon.assign(MGN_MAX_ORDER + 1 - curve->order, {});
    } else {
      // Raised slots of the old polygon are stale now.
      for (std::size_t k = 1; k < curve->polygon.size(); ++k) curve->polygon[k].clear();
    }
    auto& poly = curve->polygon[0];
    poly.assign(curve->order, nullptr);
    for (auto& q : poly) q = mgn_create_ctrl_point();
    return poly;
  } catch (const std::bad_alloc&) {
    allocation_failed("fresh_slot", __LINE__);
  }
}

void store_values(std::vector<mgn_ctrl_point*>& poly, cp_value* c, int have) {
  const int n = static_cast<int>(poly.size());
  elevate_values(c, n, have, 1);
  for (int i = 0; i < n; ++i) set_value(poly[i], c[i]);
}

}  // namespace

void mgn_copy_parent_curve_polygon(mgn_curve* curve, const mgn_curve* parent) {
  cp_value c[N];
  const int m = parent->order;
  for (int i = 0; i < m; ++i) c[i] = get_value(parent->polygon[0][i]);
  auto& poly = fresh_slot(curve, m);
  store_values(poly, c, m);
}

void mgn_get_iso_curve_polygon(mgn_curve* curve, const mgn_surface* surface, double parameter,
                               int direction) {
  const int nu = surface->order_u, nv = surface->order_v;
  cp_value net[N * N];
  for (int k = 0; k < nu * nv; ++k) net[k] = get_value(surface->net[k]);
  cp_value c[N];
  int m;
  if (direction == 0) {
    // Line v = parameter: point i is column i evaluated at v.
    m = nu;
    for (int i = 0; i < nu; ++i) c[i] = rational_point(net + i, nv, nu, parameter);
  } else {
    m = nv;
    for (int j = 0; j < nv; ++j) c[j] = rational_point(net + j * nu, nu, 1, parameter);
  }
  auto& poly = fresh_slot(curve, m);
  store_values(poly, c, m);
}

void mgn_attach_curve_polygon_ends(mgn_curve* curve) {
  auto& poly = curve->polygon[0];
  for (int e = 0; e < 2; ++e) {
    mgn_vertex* v = curve->vertex[e];
    mgn_ctrl_point* computed = e == 0 ? poly.front() : poly.back();
    if (!v || !v->ctrl_point || computed == v->ctrl_point) continue;
    for (int k = 0; k < 3; ++k)
      v->ctrl_point->xyz[k] = 0.5 * (v->ctrl_point->xyz[k] + computed->xyz[k]);
    (e == 0 ? poly.front() : poly.back()) = v->ctrl_point;
  }
  for (std::size_t k = 1; k < curve->polygon.size(); ++k) curve->polygon[k].clear();
}

void mgn_split_curve_polygon_head(mgn_curve* curve, double t) {
  auto& poly = curve->polygon[0];
  const int n = curve->order;
  cp_value c[N];
  for (int i = 0; i < n; ++i) c[i] = get_value(poly[i]);
  split_values_head(c, n, 1, t);
  for (int i = 0; i < n; ++i) set_value(poly[i], c[i]);
}

void mgn_split_curve_polygon_tail(mgn_curve* curve, double t) {
  auto& poly = curve->polygon[0];
  const int n = curve->order;
  cp_value c[N];
  for (int i = 0; i < n; ++i) c[i] = get_value(poly[i]);
  split_values_tail(c, n, 1, t);
  for (int i = 0; i < n; ++i) set_value(poly[i], c[i]);
}

namespace {

// The coefficients of the box [u0, u1] x [v0, v1] of a Bernstein weight
// function: positive everywhere, or a corner value (a function value) that
// is not, found by halving the box in both directions down to a depth
// limit.  Boxes left undecided at the limit have positive corners and count
// as positive: the weight can dip below zero only between their corners.
bool weight_box_vanishes(const double* c, int nu, int nv, double u0, double u1, double v0, double v1,
                         int depth, double* u, double* v) {
  bool positive = true;
  for (int k = 0; k < nu * nv && positive; ++k) positive = c[k] > 0.0;
  if (positive) return false;
  const double corner[4][3] = {{c[0], u0, v0},
                               {c[nu - 1], u1, v0},
                               {c[(nv - 1) * nu], u0, v1},
                               {c[nv * nu - 1], u1, v1}};
  for (const auto& k : corner) {
    if (!(k[0] > 0.0)) {
      *u = k[1];
      *v = k[2];
      return true;
    }
  }
  if (depth == 0) return false;
  // Halves in u (rows) and in v (columns) by de Casteljau at 1/2.
  double half[4][N * N];
  for (int part = 0; part < 4; ++part) {
    double* h = half[part];
    for (int k = 0; k < nu * nv; ++k) h[k] = c[k];
    const bool upper_u = (part & 1) != 0, upper_v = (part & 2) != 0;
    if (nu > 1) {
      for (int j = 0; j < nv; ++j) {
        double* row = h + j * nu;
        for (int r = 1; r < nu; ++r) {
          if (upper_u) {
            for (int i = 0; i < nu - r; ++i) row[i] = 0.5 * (row[i] + row[i + 1]);
          } else {
            for (int i = nu - 1; i >= r; --i) row[i] = 0.5 * (row[i - 1] + row[i]);
          }
        }
      }
    }
    if (nv > 1) {
      for (int i = 0; i < nu; ++i) {
        for (int r = 1; r < nv; ++r) {
          if (upper_v) {
            for (int j = 0; j < nv - r; ++j) h[j * nu + i] = 0.5 * (h[j * nu + i] + h[(j + 1) * nu + i]);
          } else {
            for (int j = nv - 1; j >= r; --j) h[j * nu + i] = 0.5 * (h[(j - 1) * nu + i] + h[j * nu + i]);
          }
        }
      }
    }
  }
  const double um = 0.5 * (u0 + u1), vm = 0.5 * (v0 + v1);
  for (int part = 0; part < 4; ++part) {
    if ((part & 1) != 0 && nu == 1) continue;
    if ((part & 2) != 0 && nv == 1) continue;
    const double a0 = nu == 1 ? u0 : (part & 1) != 0 ? um : u0;
    const double a1 = nu == 1 ? u1 : (part & 1) != 0 ? u1 : um;
    const double b0 = nv == 1 ? v0 : (part & 2) != 0 ? vm : v0;
    const double b1 = nv == 1 ? v1 : (part & 2) != 0 ? v1 : vm;
    if (weight_box_vanishes(half[part], nu, nv, a0, a1, b0, b1, depth - 1, u, v)) return true;
  }
  return false;
}

}  // namespace

bool mgn_find_vanishing_weight(const double* weights, int nu, int nv, double* u, double* v) {
  *u = 0.0;
  *v = 0.0;
  if (nu < 1 || nv < 1 || nu > N || nv > N) return false;
  // Curves are halved deeper than nets: each level of a net makes four boxes.
  const int depth = nv == 1 ? 40 : 12;
  return weight_box_vanishes(weights, nu, nv, 0.0, 1.0, 0.0, 1.0, depth, u, v);
}

namespace {

// Raises the surface orders to the highest side order in each direction.
void fit_surface_orders(mgn_surface* surface) {
  for (int side = 0; side < 4; ++side) {
    const mgn_curve* c = surface->curve[side];
    if (!c || c->polygon.empty() || c->polygon[0].size() != static_cast<std::size_t>(c->order))
      mgn_manipulation_error("Unexpected situation", "fit_surface_orders", "src/bezier", __LINE__);
    int16_t& order = side % 2 == 0 ? surface->order_u : surface->order_v;
    order = std::max(order, c->order);
  }
}

}  // namespace

void mgn_attach_surface_net_boundary(mgn_surface* surface) {
  const int nu = surface->order_u, nv = surface->order_v;
  if (surface->net.size() != static_cast<std::size_t>(nu * nv))
    mgn_manipulation_error("Unexpected situation", MGN_HERE);
  auto& net = surface->net;
  for (int side = 0; side < 4; ++side) {
    const bool along_u = side % 2 == 0;
    const int m = along_u ? nu : nv;
    mgn_ctrl_point* const* poly = mgn_get_curve_polygon_at_order(surface->curve[side], m);
    const bool rev = surface->reversed[side];
    // Sides 1 and 3 fill the columns between the rows of sides 0 and 2.
    const int first = along_u ? 0 : 1, last = along_u ? m - 1 : m - 2;
    for (int i = first; i <= last; ++i) {
      mgn_ctrl_point* q = poly[rev ? m - 1 - i : i];
      switch (side) {
        case 0: net[i] = q; break;
        case 1: net[i * nu] = q; break;
        case 2: net[(nv - 1) * nu + i] = q; break;
        default: net[i * nu + nu - 1] = q; break;
      }
    }
  }
}

void mgn_create_surface_ctrl_polygon(mgn_surface* surface) {
  fit_surface_orders(surface);
  const int nu = surface->order_u, nv = surface->order_v;
  try {
    surface->net.assign(nu * nv, nullptr);
    for (int j = 1; j < nv - 1; ++j)
      for (int i = 1; i < nu - 1; ++i) surface->net[j * nu + i] = mgn_create_ctrl_point();
  } catch (const std::bad_alloc&) {
    allocation_failed(__func__, __LINE__);
  }
  mgn_attach_surface_net_boundary(surface);
  if (nu <= 2 || nv <= 2) return;
  // Bilinearly blended (Coons) interior, applied alike to position, weight
  // and size.
  auto& net = surface->net;
  auto at = [&](int i, int j) { return get_value(net[j * nu + i]); };
  const cp_value c00 = at(0, 0), c10 = at(nu - 1, 0), c01 = at(0, nv - 1), c11 = at(nu - 1, nv - 1);
  for (int j = 1; j < nv - 1; ++j)
    for (int i = 1; i < nu - 1; ++i) {
      const double s = static_cast<double>(i) / (nu - 1), r = static_cast<double>(j) / (nv - 1);
      const cp_value a = at(0, j), b = at(nu - 1, j), c = at(i, 0), d = at(i, nv - 1);
      auto blend = [&](double pa, double pb, double pc, double pd, double q00, double q10,
                       double q01, double q11) {
        return (1 - s) * pa + s * pb + (1 - r) * pc + r * pd -
               ((1 - s) * (1 - r) * q00 + s * (1 - r) * q10 + (1 - s) * r * q01 + s * r * q11);
      };
      cp_value p;
      for (int k = 0; k < 3; ++k)
        p.x[k] = blend(a.x[k], b.x[k], c.x[k], d.x[k], c00.x[k], c10.x[k], c01.x[k], c11.x[k]);
      p.w = blend(a.w, b.w, c.w, d.w, c00.w, c10.w, c01.w, c11.w);
      p.s = blend(a.s, b.s, c.s, d.s, c00.s, c10.s, c01.s, c11.s);
      set_value(net[j * nu + i], p);
    }
}

void mgn_copy_parent_surface_net(mgn_surface* surface, const mgn_surface* parent) {
  const int pu = parent->order_u, pv = parent->order_v;
  surface->order_u = std::max(surface->order_u, parent->order_u);
  surface->order_v = std::max(surface->order_v, parent->order_v);
  const int nu = surface->order_u, nv = surface->order_v;
  cp_value c[N * N];
  for (int j = 0; j < pv; ++j)
    for (int i = 0; i < pu; ++i) c[j * nu + i] = get_value(parent->net[j * pu + i]);
  for (int j = 0; j < pv; ++j) elevate_values(c + j * nu, nu, pu, 1);  // rows in u
  for (int i = 0; i < nu; ++i) elevate_values(c + i, nv, pv, nu);      // columns in v
  try {
    surface->net.assign(nu * nv, nullptr);
    for (int k = 0; k < nu * nv; ++k) {
      surface->net[k] = mgn_create_ctrl_point();
      set_value(surface->net[k], c[k]);
    }
  } catch (const std::bad_alloc&) {
    allocation_failed(__func__, __LINE__);
  }
}

namespace {

void split_net(mgn_surface* surface, double u, double v, bool head) {
  const int nu = surface->order_u, nv = surface->order_v;
  cp_value c[N * N];
  for (int k = 0; k < nu * nv; ++k) c[k] = get_value(surface->net[k]);
  for (int j = 0; j < nv; ++j) {
    if (head)
      split_values_head(c + j * nu, nu, 1, u);
    else
      split_values_tail(c + j * nu, nu, 1, u);
  }
  for (int i = 0; i < nu; ++i) {
    if (head)
      split_values_head(c + i, nv, nu, v);
    else
      split_values_tail(c + i, nv, nu, v);
  }
  for (int k = 0; k < nu * nv; ++k) set_value(surface->net[k], c[k]);
}

}  // namespace

void mgn_split_surface_net_head(mgn_surface* surface, double u, double v) {
  split_net(surface, u, v, true);
}

void mgn_split_surface_net_tail(mgn_surface* surface, double u, double v) {
  split_net(surface, u, v, false);
}
