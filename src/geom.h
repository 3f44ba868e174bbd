// Small vector-geometry routines on points in space (three doubles): point
// coincidence, distances from points, lines and planes, closest points of two
// lines, line-plane intersection and the opposite-side test; the geometric
// tolerance derived from the model box; and the error location recorded for
// the diagnostic graphics output before a fatal geometric error.
#ifndef MGN_GEOM_H
#define MGN_GEOM_H

#include "records.h"
#include "vec3.h"

// Sets the geometric tolerance from a box: eps = M * 1e-14 (1.0 divided
// fourteen times by 10.0), M the largest absolute corner coordinate (1.0 when
// it is 0), with eps2 and eps3 its square and cube.
void mgn_set_geometric_tolerance(const double* box_min, const double* box_max);

// Where a fatal geometric error happened: the entity (kind code of mgn_kind
// and identifier) and a point, with an optional radius around it.  Only the
// first record of a run is kept.
struct mgn_error_location {
  bool recorded = false;
  int kind = 0;
  long id = 0;
  double xyz[3] = {0.0, 0.0, 0.0};
  double radius = 0.0;
};
extern mgn_error_location mgn_error_loc;
void mgn_record_error_location(int kind, long id, const double* xyz, double radius = 0.0);

// 1 when |p - q|^2 <= epsilon^2; an epsilon of exactly 0 is fatal.
int mgn_check_point_coincidence(const double* p, const double* q, double epsilon);
// Squared distance of p from the line through a with direction d (any
// length, not zero).
double mgn_get_point_line_square_distance(const double* p, const double* a, const double* d);
// Signed distance of p from the plane through a with unit normal n.
double mgn_get_point_plane_distance(const double* p, const double* a, const double* n);
// Squared distance of the lines a1 + s d1 and a2 + t d2; for parallel lines
// the squared distance of a2 from line 1.
double mgn_get_line_line_square_distance(const double* a1, const double* a2, const double* d1,
                                         const double* d2);
// The same for lines p1 p2 and q1 q2 given by points; fatal when a direction
// is shorter than eps.
double mgn_get_line_line_pnt_square_distance(const double* p1, const double* p2,
                                             const double* q1, const double* q2);
// Closest points x1 = a1 + s d1 and x2 = a2 + t d2 of two lines (directions
// of any length); 0 for parallel lines (nothing written), else 1.
int mgn_get_line_line_intersection(const double* a1, const double* d1, const double* a2,
                                   const double* d2, double* s, double* t, double* x1,
                                   double* x2);
// Closest points of the lines through segments p1 p2 and q1 q2: parameters s
// and t (0 .. 1 along each segment) and the points; 1 for non-parallel lines,
// 0 for parallel ones (then an end of the longer segment and its foot on the
// shorter one's line).  Fatal when a segment is shorter than eps.
int mgn_get_line_line_pnt_intersection(const double* p1, const double* p2, const double* q1,
                                       const double* q2, double* s, double* t, double* x1,
                                       double* x2);
// Intersection a + s d of a line with the plane through p with unit normal n;
// 0 when the line is parallel to the plane (|unit d . n| < 1e-10).
int mgn_get_line_plane_intersection(const double* a, const double* d, const double* p,
                                    const double* n, double* s, double* x);
// The same for the line through a and b (s = 0 at a, 1 at b); fatal when the
// points are closer than eps.
int mgn_get_line_plane_pnt_intersection(const double* a, const double* b, const double* p,
                                        const double* n, double* s, double* x);
// 1 when q1 and q2 lie strictly on opposite sides of the plane p0 p1 p2,
// beyond a tetra-height tolerance of eps; else 0.
int mgn_check_points_opposite_side(const double* p0, const double* p1, const double* p2,
                                   const double* q1, const double* q2);

#endif  // MGN_GEOM_H

// Exact orientation predicates.  A floating-point evaluation decides when
// its error bound allows; otherwise the determinant is evaluated exactly
// with expansion arithmetic, so the sign is always the sign of the exact
// determinant of the given doubles.  The volume meshers decide with these
// every question whose wrong answer would make elements overlap.
//
// mgn_orient3d: +1 when d lies on the side of the plane a b c that
// (b - a) x (c - a) points to, -1 on the other side, 0 when the four points
// are coplanar.  mgn_orient2d: +1 when (a, b, c) turn counterclockwise in the
// plane of coordinates i and j (i, j in 0..2), -1 clockwise, 0 collinear.
int mgn_orient3d(const double* a, const double* b, const double* c, const double* d);
int mgn_orient2d(const double* a, const double* b, const double* c, int i, int j);
