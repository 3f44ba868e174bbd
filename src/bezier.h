// Rational Bezier curves and surfaces: the Bernstein basis and its
// derivatives, evaluation of points, derivatives, tangents, normals,
// curvature, weights and interpolated mesh sizes, curve length and bounding
// box, the straightness, collapse and convexity tests, the construction of
// control polygons and nets from the topology, order elevation and splitting.
//
// Conventions.  A curve of order n (n control points, degree n - 1) runs over
// t in [0, 1]; a surface of orders nu x nv over (u, v) in [0, 1]^2 with its net
// stored u index fastest (point (i, j) at j * nu + i).  Sides and corners of a
// surface are described with mgn_surface in records.h.  Every basis and
// evaluation routine works on fixed local arrays (orders never exceed 16) and
// allocates nothing.  Vectors are three doubles written to caller storage.
#ifndef MGN_BEZIER_H
#define MGN_BEZIER_H

#include "records.h"

// ---------------------------------------------------------------------------
// Basis (order n, results are arrays of n doubles)
// ---------------------------------------------------------------------------

void mgn_bernstein_basis(int n, double t, double* out);
void mgn_bernstein_basis_derivative(int n, double t, double* out);
void mgn_bernstein_basis_second_derivative(int n, double t, double* out);
// k-th derivatives (k = 0 is the basis); zero for k >= n.
void mgn_bernstein_basis_kth_derivative(int k, int n, double t, double* out);

// Rational bases R_i = w_i B_i / sum w_j B_j over the polygon's weights, and
// their first and second derivatives.
void mgn_rational_basis(int n, double t, mgn_ctrl_point* const* polygon, double* out);
void mgn_rational_basis_derivative(int n, double t, mgn_ctrl_point* const* polygon, double* out);
void mgn_rational_basis_second_derivative(int n, double t, mgn_ctrl_point* const* polygon,
                                          double* out);
// Surface rational bases in net order (nu * nv values).  direction: 0 = d/du,
// 1 = d/dv; kind: 0 = uu, 1 = uv, 2 = vv.
void mgn_rational_surface_basis(int nu, int nv, double u, double v, mgn_ctrl_point* const* net,
                                double* out);
void mgn_rational_surface_basis_derivative(int nu, int nv, double u, double v, int direction,
                                           mgn_ctrl_point* const* net, double* out);
void mgn_rational_surface_basis_second_derivative(int nu, int nv, double u, double v, int kind,
                                                  mgn_ctrl_point* const* net, double* out);

// ---------------------------------------------------------------------------
// Curves (evaluated on polygon slot 0)
// ---------------------------------------------------------------------------

void mgn_get_curve_point(const mgn_curve* curve, double t, double* p);
void mgn_get_curve_derivative(const mgn_curve* curve, double t, double* d);
void mgn_get_curve_second_derivative(const mgn_curve* curve, double t, double* d);
// Point and first derivative in one evaluation.
void mgn_get_curve_point_derivative(const mgn_curve* curve, double t, double* p, double* d);
// Tangent with fallback: the analytic derivative when its squared length
// reaches eps2, else a widening chord (direction only); the zero vector and 0
// for a collapsed curve or when the chord stays short up to a step of 0.5.
// Returns the squared length of d.
double mgn_get_curve_tangent(const mgn_curve* curve, double t, double* d);
// 1 and the unit tangent, or 0 and the zero vector.
int mgn_get_curve_unit_tangent(const mgn_curve* curve, double t, double* d);
double mgn_get_curve_size(const mgn_curve* curve, double t);
double mgn_get_curve_weight(const mgn_curve* curve, double t);
// Curvature, 0 where the derivative vanishes.
double mgn_get_curve_curvature(const mgn_curve* curve, double t);
// Arc length of [t_lo, t_hi].
double mgn_integrate_curve_length(const mgn_curve* curve, double t_lo, double t_hi);
// box = min x, y, z, max x, y, z.
void mgn_get_curve_bounding_box(const mgn_curve* curve, double* box);
// Refines an extremum of coordinate `coordinate` (sense 1 maximum, -1
// minimum) from t with the given initial step; value is the coordinate at t.
// Writes the point at the final parameter to p and returns that parameter.
double mgn_find_curve_extremum(const mgn_curve* curve, double t, double step, double value,
                               int coordinate, int sense, double* p);
// 1 and the collapsed flag set when the curve is degenerate to a point.
// Fatal when all control points coincide but the end vertices differ.
int mgn_check_curve_collapse(mgn_curve* curve);
// Where the weight function of a net of nu x nv weights (row by row, u
// fastest; nv = 1 for a curve) is not positive over the parameter square:
// true with a parameter (u, v) at which it is zero or negative, false when
// it stays positive.  A rational entity whose weight vanishes passes
// through infinity there.
bool mgn_find_vanishing_weight(const double* weights, int nu, int nv, double* u, double* v);
// 1 and the straight flag and unit direction set for a straight curve.
int mgn_check_curve_straightness(mgn_curve* curve);
// Root of the curve's chain of parent curves and the curve's parameter
// interval [*s, *e] on it ([0, 1] for a curve without parent).
const mgn_curve* mgn_get_root_curve(const mgn_curve* curve, double* s, double* e);
// (u, v) of the curve's start and end on the surface; 0 when the curve lies
// neither on a side of the surface nor inside it.
int mgn_get_surface_curve_uv(const mgn_surface* surface, const mgn_curve* curve,
                             double* uv_start, double* uv_end);

// ---------------------------------------------------------------------------
// Surfaces
// ---------------------------------------------------------------------------

void mgn_get_surface_point(const mgn_surface* surface, double u, double v, double* p);
// direction 0 = d/du, 1 = d/dv.
void mgn_get_surface_derivative(const mgn_surface* surface, double u, double v, int direction,
                                double* d);
// kind 0 = uu, 1 = uv, 2 = vv.
void mgn_get_surface_second_derivative(const mgn_surface* surface, double u, double v, int kind,
                                       double* d);
// Point and both first derivatives in one evaluation (no fallback).
void mgn_get_surface_point_derivatives(const mgn_surface* surface, double u, double v, double* p,
                                       double* su, double* sv);
// Tangents with fallback (as for curves, step limit 0.25); the zero vector
// and 0 on a collapsed side.  Return the squared length.
double mgn_get_surface_tangent_u(const mgn_surface* surface, double u, double v, double* d);
double mgn_get_surface_tangent_v(const mgn_surface* surface, double u, double v, double* d);
// 1 and the unit normal Su x Sv / |Su x Sv|, or 0 and the zero vector on the
// parameter boundary; fatal when it vanishes inside the parameter square.
int mgn_get_surface_normal(const mgn_surface* surface, double u, double v, double* n);
double mgn_get_surface_size(const mgn_surface* surface, double u, double v);
double mgn_get_surface_weight(const mgn_surface* surface, double u, double v);
// Largest absolute principal curvature, 0 where degenerate.
double mgn_get_surface_curvature(const mgn_surface* surface, double u, double v);
// Chord-based curvature along the direction (cos angle, sin angle) of the
// parameter plane: the mean of the forward and backward estimates that exist,
// 0 when none does.
double mgn_get_surface_directional_curvature(const mgn_surface* surface, double u, double v,
                                             double angle);
// Planar surfaces: 0 with a counted warning when the normal at a corner turns
// against the stored plane normal; 1 otherwise (and for non-planar surfaces).
int mgn_check_surface_convexity(const mgn_surface* surface);

// ---------------------------------------------------------------------------
// Control points, polygons and nets
// ---------------------------------------------------------------------------

// A control point at the origin with weight 1 and size 0; it lives until the
// process ends.
mgn_ctrl_point* mgn_create_ctrl_point();
// Polygon slots of the curve and slot 0: the end vertices' control points and
// order - 2 new inner points spaced evenly on the chord.
void mgn_create_curve_ctrl_polygon(mgn_curve* curve);
// Fills the slot of the given order (above the curve's) with the curve's
// polygon raised to that order; the ends stay the vertices' control points.
void mgn_append_curve_ctrl_polygon(mgn_curve* curve, int order);
// Pointer to the curve's polygon at the given order (creating the slot when
// needed); the order must not be below the curve's.
mgn_ctrl_point* const* mgn_get_curve_polygon_at_order(mgn_curve* curve, int order);
// In-place order elevation of polygon[0], polygon[stride], ... from old_order
// to new_order points; entries old_order .. new_order - 1 must be distinct
// writable points.  The first point is never written.
void mgn_elevate_polygon_order(mgn_ctrl_point** polygon, int new_order, int old_order,
                               int stride);

// Polygons computed from a parent (for fixed curves and surfaces).  These
// routines give slot 0 (or the net) fresh control points at every position,
// the ends included, so that the computed end points do not overwrite the
// vertices; mgn_attach_curve_polygon_ends then reconciles the ends with the
// vertices.  A piece [t1, t2] of a parent curve is obtained by
//   mgn_copy_parent_curve_polygon; mgn_split_curve_polygon_head(t2);
//   mgn_split_curve_polygon_tail(t1 / t2) (t2 > 0).
// The curve's order is raised to the parent's when it is lower.
void mgn_copy_parent_curve_polygon(mgn_curve* curve, const mgn_curve* parent);
// Polygon of the surface line v = parameter (direction 0, runs along u) or
// u = parameter (direction 1, runs along v), elevated to the curve's order
// when that is higher.
void mgn_get_iso_curve_polygon(mgn_curve* curve, const mgn_surface* surface, double parameter,
                               int direction);
// Moves each end vertex to the mean of its position and the computed end
// point of slot 0 (weight and size of the vertex kept) and makes the
// vertices' control points the ends of slot 0 again.
void mgn_attach_curve_polygon_ends(mgn_curve* curve);
// In-place replacement of slot 0 by the polygon of [0, t] (head) or [t, 1]
// (tail).  All points of the slot are written, the ends included.
void mgn_split_curve_polygon_head(mgn_curve* curve, double t);
void mgn_split_curve_polygon_tail(mgn_curve* curve, double t);

// Builds the net from the four side polygons (raised to the surface orders;
// the surface orders are first raised to the highest side order in their
// direction) and fills the interior by the bilinearly blended (Coons) rule.
void mgn_create_surface_ctrl_polygon(mgn_surface* surface);
// Puts the side polygons into the boundary rows and columns of an existing
// net (inner points untouched).
void mgn_attach_surface_net_boundary(mgn_surface* surface);
// Net of fresh control points holding the parent's net raised to the
// surface's orders (the orders are raised to the parent's when lower).
void mgn_copy_parent_surface_net(mgn_surface* surface, const mgn_surface* parent);
// In-place replacement of the net by that of [0, u] x [0, v] (head) or
// [u, 1] x [v, 1] (tail); every point of the net is written.
void mgn_split_surface_net_head(mgn_surface* surface, double u, double v);
void mgn_split_surface_net_tail(mgn_surface* surface, double u, double v);

#endif  // MGN_BEZIER_H
