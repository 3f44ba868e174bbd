// Geometric utilities: coincidence, distances, line-line and line-plane
// routines, the opposite-side test, the geometric tolerance and the recorded
// error location.
#include "geom.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "message.h"


void mgn_record_error_location(int kind, long id, const double* xyz, double radius) {
  if (mgn_error_loc.recorded) return;
  mgn_error_loc.recorded = true;
  mgn_error_loc.kind = kind;
  mgn_error_loc.id = id;
  for (int k = 0; k < 3; ++k) mgn_error_loc.xyz[k] = xyz ? xyz[k] : 0.0;
  mgn_error_loc.radius = radius;
}

void mgn_set_geometric_tolerance(const double* box_min, const double* box_max) {
  double m = 0.0;
  for (int k = 0; k < 3; ++k) {
    m = std::max(m, std::fabs(box_min[k]));
    m = std::max(m, std::fabs(box_max[k]));
  }
  if (m == 0.0) m = 1.0;
  // 1.0 divided fourteen times by 10.0 (not the literal 1e-14: the program's
  // tolerance is defined by this sequence of divisions).
  double f = 1.0;
  for (int i = 0; i < 14; ++i) f /= 10.0;
  mgn_tol.eps = m * f;
  mgn_tol.eps2 = mgn_tol.eps * mgn_tol.eps;
  mgn_tol.eps3 = mgn_tol.eps2 * mgn_tol.eps;
}

int mgn_check_point_coincidence(const double* p, const double* q, double epsilon) {
  if (epsilon == 0.0) mgn_manipulation_error("Invalid epsilon value encountered", MGN_HERE);
  return mgn_get_point_square_distance(p, q) <= epsilon * epsilon ? 1 : 0;
}

double mgn_get_point_line_square_distance(const double* p, const double* a, const double* d) {
  double r[3], c[3];
  mgn_sub(p, a, r);
  mgn_cross(r, d, c);
  return mgn_dot(c, c) / mgn_dot(d, d);
}

double mgn_get_point_plane_distance(const double* p, const double* a, const double* n) {
  double r[3];
  mgn_sub(p, a, r);
  return mgn_dot(r, n);
}

double mgn_get_line_line_square_distance(const double* a1, const double* a2, const double* d1,
                                         const double* d2) {
  double c[3], r[3];
  mgn_cross(d1, d2, c);
  const double cc = mgn_dot(c, c);
  if (cc >= 1e-20) {
    mgn_sub(a2, a1, r);
    const double h = mgn_dot(r, c);
    return h * h / cc;
  }
  return mgn_get_point_line_square_distance(a2, a1, d1);
}

double mgn_get_line_line_pnt_square_distance(const double* p1, const double* p2,
                                             const double* q1, const double* q2) {
  double d1[3], d2[3];
  mgn_sub(p2, p1, d1);
  mgn_sub(q2, q1, d2);
  const double l1 = mgn_norm(d1);
  const double l2 = mgn_norm(d2);
  if (l1 < mgn_tol.eps) mgn_manipulation_error("Line 1 is given by zero vector", MGN_HERE);
  if (l2 < mgn_tol.eps) mgn_manipulation_error("Line 2 is given by zero vector", MGN_HERE);
  // Unit directions keep the parallel threshold of the cross product
  // independent of the segment lengths.
  for (int k = 0; k < 3; ++k) {
    d1[k] /= l1;
    d2[k] /= l2;
  }
  return mgn_get_line_line_square_distance(p1, q1, d1, d2);
}

int mgn_get_line_line_intersection(const double* a1, const double* d1, const double* a2,
                                   const double* d2, double* s, double* t, double* x1,
                                   double* x2) {
  const double l1 = mgn_norm(d1);
  const double l2 = mgn_norm(d2);
  if (l1 == 0.0 || l2 == 0.0) return 0;
  double e1[3], e2[3], c[3];
  for (int k = 0; k < 3; ++k) {
    e1[k] = d1[k] / l1;
    e2[k] = d2[k] / l2;
  }
  mgn_cross(e1, e2, c);
  const double cc = mgn_dot(c, c);
  if (cc < 1e-20) return 0;
  // Solve a1 + s d1 + h c = a2 + t d2 with the planes spanned by (e2, c) and
  // (e1, c): their normals e2 x c and e1 x c eliminate the other unknowns.
  double r[3], n2[3], n1[3];
  mgn_sub(a2, a1, r);
  mgn_cross(e2, c, n2);
  mgn_cross(e1, c, n1);
  *s = mgn_dot(r, n2) / (mgn_dot(e1, n2) * l1);
  *t = -mgn_dot(r, n1) / (mgn_dot(e2, n1) * l2);
  for (int k = 0; k < 3; ++k) {
    x1[k] = a1[k] + *s * d1[k];
    x2[k] = a2[k] + *t * d2[k];
  }
  return 1;
}

int mgn_get_line_line_pnt_intersection(const double* p1, const double* p2, const double* q1,
                                       const double* q2, double* s, double* t, double* x1,
                                       double* x2) {
  double d1[3], d2[3];
  mgn_sub(p2, p1, d1);
  mgn_sub(q2, q1, d2);
  const double l1 = mgn_norm(d1);
  const double l2 = mgn_norm(d2);
  if (l1 < mgn_tol.eps) mgn_manipulation_error("Line 1 is given by two identical points", MGN_HERE);
  if (l2 < mgn_tol.eps) mgn_manipulation_error("Line 2 is given by two identical points", MGN_HERE);
  if (mgn_get_line_line_intersection(p1, d1, q1, d2, s, t, x1, x2)) return 1;

  // Parallel segments: the end of the longer segment nearer to the shorter
  // one, and the foot of that end on the shorter segment's line.
  const bool first_longer = l1 >= l2;
  const double* a = first_longer ? p1 : q1;   // longer segment a b
  const double* da = first_longer ? d1 : d2;
  const double la = first_longer ? l1 : l2;
  const double* c = first_longer ? q1 : p1;   // shorter segment c + r dc
  const double* dc = first_longer ? d2 : d1;
  const double lc = first_longer ? l2 : l1;
  double mid[3], r[3];
  for (int k = 0; k < 3; ++k) mid[k] = c[k] + 0.5 * dc[k];
  mgn_sub(mid, a, r);
  const double sigma = mgn_dot(r, da) / (la * la);  // shorter midpoint along the longer
  const double end_param = sigma < 0.5 ? 0.0 : 1.0;
  double end[3];
  for (int k = 0; k < 3; ++k) end[k] = a[k] + end_param * da[k];
  mgn_sub(end, c, r);
  const double foot_param = mgn_dot(r, dc) / (lc * lc);
  if (!std::isfinite(foot_param) || !std::isfinite(sigma))
    mgn_manipulation_error("Unexpected situation", MGN_HERE);
  *s = first_longer ? end_param : foot_param;
  *t = first_longer ? foot_param : end_param;
  for (int k = 0; k < 3; ++k) {
    x1[k] = p1[k] + *s * d1[k];
    x2[k] = q1[k] + *t * d2[k];
  }
  return 0;
}

int mgn_get_line_plane_intersection(const double* a, const double* d, const double* p,
                                    const double* n, double* s, double* x) {
  const double dn = mgn_dot(d, n);
  const double len = mgn_norm(d);
  if (len == 0.0 || std::fabs(dn) / len < 1e-10) return 0;
  double r[3];
  mgn_sub(p, a, r);
  *s = mgn_dot(r, n) / dn;
  for (int k = 0; k < 3; ++k) x[k] = a[k] + *s * d[k];
  return 1;
}

int mgn_get_line_plane_pnt_intersection(const double* a, const double* b, const double* p,
                                        const double* n, double* s, double* x) {
  double d[3];
  mgn_sub(b, a, d);
  if (mgn_dot(d, d) < mgn_tol.eps2)
    mgn_manipulation_error("Line is given by two identical points", MGN_HERE);
  return mgn_get_line_plane_intersection(a, d, p, n, s, x);
}

int mgn_check_points_opposite_side(const double* p0, const double* p1, const double* p2,
                                   const double* q1, const double* q2) {
  double e1[3], e2[3], n[3], r[3];
  mgn_sub(p1, p0, e1);
  mgn_sub(p2, p0, e2);
  mgn_cross(e1, e2, n);
  // T is the squared volume of a tetra on the triangle with height eps.
  const double tol = mgn_dot(n, n) / 36.0 * mgn_tol.eps2;
  mgn_sub(q1, p0, r);
  const double a = mgn_dot(n, r);
  mgn_sub(q2, p0, r);
  const double b = mgn_dot(n, r);
  if (a * a < tol || b * b < tol) return 0;
  if ((a > 0.0) == (b > 0.0)) return 0;
  return 1;
}

// ---------------------------------------------------------------------------
// Exact orientation predicates
// ---------------------------------------------------------------------------
//
// An expansion is a sum of doubles whose terms do not overlap, held in
// increasing order of magnitude; its sign is the sign of its largest term.
// The products and sums below are exact: two_sum and two_product return the
// rounded result and its rounding error (the product error through a fused
// multiply-add).

namespace {

constexpr double kEpsilon = 1.1102230246251565e-16;  // 2^-53, half an ulp of 1
// Relative error bounds of the floating-point determinants (the sum of the
// absolute products times the bound limits the rounding error).
constexpr double kOrient2dBound = (3.0 + 16.0 * kEpsilon) * kEpsilon;
constexpr double kOrient3dBound = (7.0 + 56.0 * kEpsilon) * kEpsilon;

inline void two_sum(double a, double b, double& x, double& y) {
  x = a + b;
  const double bv = x - a;
  const double av = x - bv;
  y = (a - av) + (b - bv);
}
inline void two_diff(double a, double b, double& x, double& y) {
  x = a - b;
  const double bv = a - x;
  const double av = x + bv;
  y = (a - av) + (bv - b);
}
inline void two_product(double a, double b, double& x, double& y) {
  x = a * b;
  y = std::fma(a, b, -x);
}

// Expansions live in fixed buffers on the stack (the largest one the
// orientation tests build has 192 terms).
constexpr int kMaxTerms = 256;
// Copies move only the n terms in use: the arrays are sized for the longest
// expansion, and copying them whole made the exact stage several times
// slower than its arithmetic.
struct expansion {
  double t[kMaxTerms];
  int n = 0;
  expansion() = default;
  expansion(const expansion& o) : n(o.n) { std::copy(o.t, o.t + o.n, t); }
  expansion& operator=(const expansion& o) {
    n = o.n;
    std::copy(o.t, o.t + o.n, t);
    return *this;
  }
};

inline void fast_two_sum(double a, double b, double& x, double& y) {
  x = a + b;
  y = b - (x - a);
}

// h = e + b (zero terms dropped).
void grow(const expansion& e, double b, expansion& h) {
  int n = 0;
  double q = b;
  for (int i = 0; i < e.n; ++i) {
    double sum, err;
    two_sum(q, e.t[i], sum, err);
    if (err != 0.0) h.t[n++] = err;
    q = sum;
  }
  if (q != 0.0 || n == 0) h.t[n++] = q;
  h.n = n;
}
// h = e + f.
void add(const expansion& e, const expansion& f, expansion& h) {
  expansion a = e, b;
  expansion* from = &a;
  expansion* to = &b;
  for (int i = 0; i < f.n; ++i) {
    grow(*from, f.t[i], *to);
    std::swap(from, to);
  }
  h = *from;
}
// h = e * b.
void scale(const expansion& e, double b, expansion& h) {
  int n = 0;
  double q, err;
  two_product(e.t[0], b, q, err);
  if (err != 0.0) h.t[n++] = err;
  for (int i = 1; i < e.n; ++i) {
    double p1, p0, sum;
    two_product(e.t[i], b, p1, p0);
    two_sum(q, p0, sum, err);
    if (err != 0.0) h.t[n++] = err;
    fast_two_sum(p1, sum, q, err);
    if (err != 0.0) h.t[n++] = err;
  }
  if (q != 0.0 || n == 0) h.t[n++] = q;
  h.n = n;
}
// h = e * f.
void multiply(const expansion& e, const expansion& f, expansion& h) {
  expansion sum, part, next;
  sum.t[0] = 0.0;
  sum.n = 1;
  for (int i = 0; i < f.n; ++i) {
    scale(e, f.t[i], part);
    add(sum, part, next);
    sum = next;
  }
  h = sum;
}
int sign_of(const expansion& e) {
  for (int i = e.n - 1; i >= 0; --i)
    if (e.t[i] != 0.0) return e.t[i] > 0.0 ? 1 : -1;
  return 0;
}
// a - b exactly, as an expansion of at most two terms.
expansion difference(double a, double b) {
  double x, y;
  two_diff(a, b, x, y);
  expansion e;
  if (y == 0.0) {
    e.t[0] = x;
    e.n = 1;
  } else {
    e.t[0] = y;
    e.t[1] = x;
    e.n = 2;
  }
  return e;
}
// p q - r s of expansions.
void cross_term(const expansion& p, const expansion& q, const expansion& r, const expansion& s, expansion& h) {
  expansion pq, rs;
  multiply(p, q, pq);
  multiply(r, s, rs);
  for (int i = 0; i < rs.n; ++i) rs.t[i] = -rs.t[i];
  add(pq, rs, h);
}

}  // namespace

int mgn_orient2d(const double* a, const double* b, const double* c, int i, int j) {
  const double ux = b[i] - a[i], uy = b[j] - a[j];
  const double vx = c[i] - a[i], vy = c[j] - a[j];
  const double left = ux * vy, right = uy * vx;
  const double det = left - right;
  const double bound = kOrient2dBound * (std::fabs(left) + std::fabs(right));
  if (det > bound) return 1;
  if (-det > bound) return -1;
  const expansion eux = difference(b[i], a[i]), euy = difference(b[j], a[j]);
  const expansion evx = difference(c[i], a[i]), evy = difference(c[j], a[j]);
  expansion det_e;
  cross_term(eux, evy, euy, evx, det_e);
  return sign_of(det_e);
}

int mgn_orient3d(const double* a, const double* b, const double* c, const double* d) {
  // det [b - a; c - a; d - a] = ((b - a) x (c - a)) . (d - a)
  const double ux = b[0] - a[0], uy = b[1] - a[1], uz = b[2] - a[2];
  const double vx = c[0] - a[0], vy = c[1] - a[1], vz = c[2] - a[2];
  const double wx = d[0] - a[0], wy = d[1] - a[1], wz = d[2] - a[2];
  const double uyvz = uy * vz, uzvy = uz * vy;
  const double uzvx = uz * vx, uxvz = ux * vz;
  const double uxvy = ux * vy, uyvx = uy * vx;
  const double det = wx * (uyvz - uzvy) + wy * (uzvx - uxvz) + wz * (uxvy - uyvx);
  const double permanent = std::fabs(wx) * (std::fabs(uyvz) + std::fabs(uzvy)) +
                           std::fabs(wy) * (std::fabs(uzvx) + std::fabs(uxvz)) +
                           std::fabs(wz) * (std::fabs(uxvy) + std::fabs(uyvx));
  const double bound = kOrient3dBound * permanent;
  if (det > bound) return 1;
  if (-det > bound) return -1;
  // A repeated point makes the determinant vanish.
  auto same = [](const double* p, const double* q) { return p[0] == q[0] && p[1] == q[1] && p[2] == q[2]; };
  if (same(a, b) || same(a, c) || same(a, d) || same(b, c) || same(b, d) || same(c, d)) return 0;
  // So do two pairs of the points on lines parallel to one axis (three
  // points on such a line, or two parallel lines): the layers of nodes the
  // front lays along flat walls give many.
  {
    const double* p[4] = {a, b, c, d};
    int parallel[3] = {0, 0, 0};
    for (int i = 0; i < 4; ++i)
      for (int j = i + 1; j < 4; ++j)
        for (int k = 0; k < 3; ++k) {
          const int k1 = (k + 1) % 3, k2 = (k + 2) % 3;
          if (p[i][k1] == p[j][k1] && p[i][k2] == p[j][k2] && ++parallel[k] == 2) return 0;
        }
  }
  expansion u[3], v[3], w[3];
  for (int k = 0; k < 3; ++k) {
    u[k] = difference(b[k], a[k]);
    v[k] = difference(c[k], a[k]);
    w[k] = difference(d[k], a[k]);
  }
  // Four points on a plane of constant coordinate (the faces of a box)
  // need no arithmetic.
  for (int k = 0; k < 3; ++k)
    if (u[k].n == 1 && v[k].n == 1 && w[k].n == 1 && u[k].t[0] == 0.0 && v[k].t[0] == 0.0 && w[k].t[0] == 0.0)
      return 0;
  expansion nx, ny, nz, px, py, pz, sum, det_e;
  cross_term(u[1], v[2], u[2], v[1], nx);
  cross_term(u[2], v[0], u[0], v[2], ny);
  cross_term(u[0], v[1], u[1], v[0], nz);
  multiply(w[0], nx, px);
  multiply(w[1], ny, py);
  multiply(w[2], nz, pz);
  add(px, py, sum);
  add(sum, pz, det_e);
  return sign_of(det_e);
}
