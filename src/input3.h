// The loops of patches and shells: the curves of their loops with the
// direction in which the loops run along them, the topology check of the
// loops, the loops as polygons in the parameters of the surface the entity
// is meshed on (with the winding number of the loops about a point), the
// planar background surface of a patch, the checks of a patch's orientation
// about its normal and of its planarity, and the check that a shell lies on
// its background surface.
//
// Orientation.  The loops of a patch turn counterclockwise about its NORMAL
// (the outer loop; holes clockwise), those of a shell about Su x Sv of its
// background surface: a curve of the left list (a positive identifier in the
// input) is run along, from its first vertex to its second as written in the
// input (a fixed curve stored reversed along its parent counts as written),
// a curve of the right list against.  The entity lies on the left of its loops.  A child
// (subpatch or subshell) that is not virtual leaves a hole in its parent:
// its loops belong to the parent's loops run the other way round, except a
// curve shared by two children, which bounds no hole.
//
// Parameters.  A patch is meshed on a planar background surface of orders
// 2 x 2 (mgn_create_patch_bg_surface): the parallelogram of the plane
// through ORIGIN (or the mean of the patch's vertices) spanned by two
// orthogonal axes e1, e2 with e1 x e2 along NORMAL, covering the box of the
// loops and as much again on every side, so that points a mesh size beyond
// the loops still have parameters.  The first axis is the ISO direction
// when one is given, else the projection onto the plane of the coordinate
// axis least aligned with the normal.  Su x Sv is then NORMAL, and the
// parameters of a point of the plane are its coordinates along the axes.
#ifndef MGN_INPUT3_H
#define MGN_INPUT3_H

#include <array>
#include <vector>

#include "records.h"

// A curve of the loops of a patch or shell and the direction (+1 along the
// curve, -1 against it) in which the loops run along it.
struct mgn_loop_curve {
  mgn_curve* curve;
  int direction;
};

// The curves of the loops of a patch or shell (kind MGN_PATCH or
// MGN_SHELL): the left list (+1), the right list (-1), then, with children,
// the curves of its children that leave a hole in it, run the other way.
std::vector<mgn_loop_curve> mgn_get_loop_curves(int kind, const void* entity, bool with_children);

// The children of a patch or shell that leave a hole in its mesh: the
// subpatches or subshells that are not virtual.
std::vector<void*> mgn_get_hole_children(int kind, const void* entity);

// Checks that the loops of a physical patch or shell close and run
// consistently: at every vertex (its top physical parent) two curves of the
// loops meet, one arriving and one leaving ("Invalid topology of patch %ld
// detected at vertex %ld", "Invalid topology of patch %ld detected\nCheck
// orientation of curves %ld and %ld", and the same for shells).  A vertex
// with more than two curves of the loops is not checked further.  Collapsed
// curves are left out.  Manipulation errors, with the entity, the curves
// and the vertex noted and the vertex as error point.
void mgn_check_patch_topology(mgn_patch* patch);
void mgn_check_shell_topology(mgn_shell* shell);

// The loops of a patch or shell as closed polygons in the parameters of its
// background surface: every curve sampled (straight curves by their ends)
// and its points located on the surface, the loops chained vertex to vertex
// so that a collapsed curve between two curves is a segment along the
// collapsed side.  The winding number of the loops about a point of the
// parameter plane is 1 inside the entity and 0 outside when the loops run
// as they should.
struct mgn_loop_set {
  // Directed segments u0 v0 u1 v1, the entity on their left, and the loop
  // curve each one comes from (index into curves; -1 for a closing segment).
  std::vector<std::array<double, 4>> segments;
  std::vector<int> origin;
  std::vector<mgn_loop_curve> curves;
  double lo[2] = {0.0, 0.0}, hi[2] = {0.0, 0.0};  // box of the segments
  // Bands of v: the segments that reach into each band, for the queries.
  double band_lo = 0.0, band_width = 1.0;
  std::vector<std::vector<int>> bands;
  // Builds the bands once the segments are in.
  void index();
  // Winding number about (u, v): the signed crossings of the ray from the
  // point toward +u (a segment counts when its two ends lie on different
  // sides of the line v = const, the upper end counting as above).
  int winding(double u, double v) const;
  // The signed crossings of the line v = const, in order of u: each a u
  // and +1 (the loop runs upward there: the winding grows to its left) or
  // -1.  The winding at u is the sum of the signs of the crossings beyond u.
  std::vector<std::pair<double, int>> crossings(double v) const;
};
mgn_loop_set mgn_build_loop_set(int kind, const void* entity, bool with_children);

// Parameters on the background surface of a patch of a point (projected
// along the normal onto the plane).
void mgn_get_patch_uv(const mgn_patch* patch, const double* xyz, double uv[2]);

// Parameters on a surface of a point lying on it: the surface is walked
// from the guess (when given) and searched as a whole when that does not
// reach the point.  Returns the squared distance of the point from the
// surface point found.
double mgn_locate_surface_point(const mgn_surface* surface, const double* xyz, const double* guess, double uv[2]);

// Creates the background surface of a patch (see above); the patch must
// have its loops.  The surface belongs to the patch.
void mgn_create_patch_bg_surface(mgn_patch* patch);

// The loops of a patch must turn counterclockwise about its normal: just
// left of every curve of the loops the winding number of the loops is 1 and
// just right of it 0 ("Invalid topology of patch %ld detected\nCheck normal
// orientation"); a subpatch must lie inside its parent ("Subpatch %ld is
// not inside patch %ld").  Needs the background surface.
void mgn_check_patch_geometry(mgn_patch* patch);

// Distances of the vertices and curves of a patch (its loops and the
// entities fixed inside) from its plane, relative to the size of the patch
// (the diagonal of the box of its loops): above the internal tolerance the
// patch is not planar; above the admissible distance (the patch's EPSILON,
// else the user epsilon -e, and never below the internal tolerance) the
// run ends with "Vertex %ld is not close enough to plane of patch %ld
// (distance %e)" or "Curve %ld is not close enough to plane of patch %ld
// (distance %e)" (the absolute distance).  A non-planar patch needs nodal
// smoothing ("Non-planar patch (%ld) cannot be handled without smoothing")
// and loses its iso meshing with the warning "Iso meshing of non-planar
// patch (%ld) ignored".
void mgn_check_patch_planarity(mgn_patch* patch);

// Every vertex and curve of the loops of a shell lies on its background
// surface, within its parameter square: the distance of a vertex, or of
// sample points of a curve, from the closest point of the surface may not
// exceed the internal tolerance times the size of the surface (the largest
// extent of its control net) ("Vertex %ld of shell %ld is not close enough
// to or inside surface %ld", "Curve %ld of shell %ld is not close enough to
// or inside surface %ld"); a subshell must lie inside its parent ("Subshell
// %ld is not inside shell %ld").  Manipulation errors.
void mgn_check_shell_geometry(mgn_shell* shell);

// Closeness of a vertex or a curve to a surface as the shell checks
// measure it.
bool mgn_check_vertex_on_surface(const mgn_surface* surface, const mgn_vertex* vertex);
bool mgn_check_curve_on_surface(const mgn_surface* surface, const mgn_curve* curve);
// A point of the parameter plane strictly inside the loops (winding 1, not
// within the tolerance of a segment).
bool mgn_check_point_inside_loops(const mgn_loop_set& loops, double u, double v, double tolerance);

// After the model is read: every patch that is not free gets its
// background surface and its geometry and planarity checks.
void mgn_prepare_patches();

#endif  // MGN_INPUT3_H
