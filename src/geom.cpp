// Geometric utilities: coincidence, distances, line-line and line-plane
// routines, the opposite-side test, the geometric tolerance and the recorded
// error location.
#include "geom.h"

#include <algorithm>
#include <cmath>

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
