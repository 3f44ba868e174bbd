// Vectors in space: the one home of pi and of the small operations on three
// doubles that every module uses.
//
// Two spellings of the same operations:
//  - on points stored as double[3] (node coordinates, normals, derivatives),
//    writing the result through the last argument: mgn_sub(a, b, out);
//  - on the value type mgn_vec3, for measures written as expressions:
//    mgn_dot(mgn_cross(u, v), w).
// Every operation evaluates its terms in the order written here, x then y
// then z, so that a result does not depend on the spelling used.
#ifndef MGN_VEC3_H
#define MGN_VEC3_H

#include <cmath>
#include <numbers>

constexpr double MGN_PI = std::numbers::pi;

// ---------------------------------------------------------------------------
// Points as double[3]
// ---------------------------------------------------------------------------

inline double mgn_dot(const double* a, const double* b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
// c = a x b (c must not alias a or b).
inline void mgn_cross(const double* a, const double* b, double* c) {
  c[0] = a[1] * b[2] - a[2] * b[1];
  c[1] = a[2] * b[0] - a[0] * b[2];
  c[2] = a[0] * b[1] - a[1] * b[0];
}
// c = a - b.
inline void mgn_sub(const double* a, const double* b, double* c) {
  c[0] = a[0] - b[0];
  c[1] = a[1] - b[1];
  c[2] = a[2] - b[2];
}
inline void mgn_copy3(double* to, const double* from) {
  to[0] = from[0];
  to[1] = from[1];
  to[2] = from[2];
}
// |a|.
inline double mgn_norm(const double* a) { return std::sqrt(mgn_dot(a, a)); }
// Scales a to unit length (multiplying by 1 / |a|); false, a unchanged, for
// a vector of length 0 (or not a number).
inline bool mgn_normalize(double* a) {
  const double l2 = mgn_dot(a, a);
  if (!(l2 > 0.0)) return false;
  const double f = 1.0 / std::sqrt(l2);
  a[0] *= f;
  a[1] *= f;
  a[2] *= f;
  return true;
}
// |q - p|^2 and |q - p|.
inline double mgn_get_point_square_distance(const double* p, const double* q) {
  double d[3];
  mgn_sub(q, p, d);
  return mgn_dot(d, d);
}
inline double mgn_get_point_distance(const double* p, const double* q) {
  return std::sqrt(mgn_get_point_square_distance(p, q));
}

// ---------------------------------------------------------------------------
// The value type
// ---------------------------------------------------------------------------

struct mgn_vec3 {
  double x, y, z;
};

// a - b of two points, and of two vectors.
inline mgn_vec3 mgn_sub(const double* a, const double* b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline mgn_vec3 mgn_sub(const mgn_vec3& a, const mgn_vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline mgn_vec3 mgn_scale(const mgn_vec3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline mgn_vec3 mgn_cross(const mgn_vec3& a, const mgn_vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double mgn_dot(const mgn_vec3& a, const mgn_vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline double mgn_norm(const mgn_vec3& a) { return std::sqrt(mgn_dot(a, a)); }

#endif  // MGN_VEC3_H
