// Point projection onto curves and surfaces: local iterations that walk from a
// parameter guess to the foot point (project: parameters kept inside the
// domain by halving steps toward the bounds; clip: steps cut exactly at the
// bounds), and global closest-point searches that need no guess.
//
// The caller's point, tangent, normal and derivative storage is updated in
// place and holds the values at the final parameter on return.  On entry the
// point must be the curve or surface point at the given parameters.  The
// optional `iterations` receives the number of iterations done.
#ifndef MGN_PROJECT_H
#define MGN_PROJECT_H

#include "records.h"

// Returns the foot parameter (also stored in *t).  Fatal when the tangent
// vanishes ("Bad parameterization of curve %ld at t = %f") or the iteration
// does not converge.
double mgn_project_point_curve(const mgn_curve* curve, double* t, double* tangent, double* point,
                               const double* target, double tol_xyz, double tol_t,
                               int* iterations = nullptr);
// 1 when converged (a parameter held at a bound by an outward step counts as
// converged); 0 when the tangent vanished at a bound or, when not strict, the
// tangent vanished inside or the iteration did not converge.
int mgn_clip_point_curve(const mgn_curve* curve, double* t, double* tangent, double* point,
                         const double* target, double tol_xyz, double tol_t, bool strict,
                         int* iterations = nullptr);

// Point and tangents at (u, v) from one evaluation: the same values as
// mgn_get_surface_point, mgn_get_surface_tangent_u and _v (the derivatives,
// with the tangent fallback on the sides and where a derivative vanishes);
// false when a tangent vanishes.
bool mgn_get_surface_point_tangents(const mgn_surface* surface, double u, double v, double* p, double* su,
                                    double* sv);

// normal: unit normal (kept as given for a planar surface); su, sv: first
// derivatives.  Fatal on a vanishing tangent or normal and on no convergence.
void mgn_project_point_surface(const mgn_surface* surface, double* u, double* v, double* normal,
                               double* su, double* sv, double* point, const double* target,
                               double tol_xyz, double tol_uv, int* iterations = nullptr);
// The same with the parameters clipped to the unit square; a parameter held
// at a bound lets the other one slide along it.  Result as for curves.
int mgn_clip_point_surface(const mgn_surface* surface, double* u, double* v, double* normal,
                           double* su, double* sv, double* point, const double* target,
                           double tol_xyz, double tol_uv, bool strict, int* iterations = nullptr);

// Closest point of the curve to the target: parameter in *t, squared distance
// returned.  With a window [window[0], window[1]] the search starts there and
// falls back to the whole curve when the best parameter lies on the window's
// edge.
double mgn_find_closest_curve_point(const mgn_curve* curve, const double* target, double* t,
                                    const double* window = nullptr);
// Closest point of the surface to the target: (u, v) and squared distance.
double mgn_find_closest_surface_point(const mgn_surface* surface, const double* target, double* u,
                                      double* v);
// Whether the target, projected onto the plane of the quad p0 p1 p2 p3 (in
// order around it), lies inside: 1 inside, 0 outside, 2 undecided (examine
// the quarters).  Fatal "Zero normal vector" for a quad without a normal.
int mgn_check_point_subsurface_enclosure(const double* p0, const double* p1, const double* p2,
                                         const double* p3, const double* target);

#endif  // MGN_PROJECT_H
