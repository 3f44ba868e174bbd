// The closed boundary of a region: its faces (surfaces, patches and shells,
// each used from one side), the check that the faces close up with
// consistent orientations (with the pairwise orientation checks of two faces
// sharing a curve), and the winding number of the boundary about a point,
// by which vertices, curves, surfaces, patches, shells and subregions are
// found to lie inside a region.
//
// Orientation.  The normal of a face is Su x Sv for a surface, the NORMAL of
// a patch and Su x Sv of the background surface for a shell.  The loop of a
// face turning counterclockwise about its normal runs along the first and
// fourth side of a surface and against its second and third side (flipped
// where the side's curve runs the other way), along the curves a patch or
// shell uses from their left side and against those it uses from their
// right side (left and right of the curve as stored, a fixed curve running
// along its parent).  A region uses the side to which the normal points
// (+1, a positive identifier in its boundary list) or the other side (-1).
// Two faces of one closed boundary that share a piece of curve run along it
// in opposite directions once each loop direction is multiplied by the side
// the region uses.
#ifndef MGN_INPUT1_H
#define MGN_INPUT1_H

#include <vector>

#include "records.h"

// One side of a surface, patch or shell bounding a region.
struct mgn_region_face {
  int kind = MGN_SURFACE;  // MGN_SURFACE, MGN_PATCH or MGN_SHELL
  void* entity = nullptr;
  int side = 1;            // +1: the side the normal points to, -1: the other
};

// The faces of the boundary lists of a region: surfaces used from their
// inner side, from their outer side, then patches and shells likewise, each
// list in its order.
std::vector<mgn_region_face> mgn_get_region_faces(const mgn_region* region);

// Direction (+1 along the curve, -1 against it) in which the loop of the
// face turning counterclockwise about its normal runs along the curve; 0
// when the curve does not bound the face.  The curves bounding a surface are
// its four sides and the sides of the surfaces fixed to it that are not
// virtual (the holes its mesh leaves for them, run the other way round),
// except a side shared by two of them.
int mgn_get_face_curve_direction(int kind, const void* entity, const mgn_curve* curve);

// Checks that the boundary of a physical region is closed and consistently
// oriented.  Every piece of a curve bounding a face (curves compared on the
// root of their chains of fixations, collapsed curves left out) must bound
// two faces at least ("Invalid topology of region %ld detected\nCurve %ld
// shared only by surface %ld", or by patch or shell); two faces sharing a
// piece are checked by the pairwise check of their kinds; where more faces
// meet, the faces running along the piece must be as many as those running
// against it.  Failures are manipulation errors with the region, the faces
// and the curves noted and the curve's first vertex as error point.
void mgn_check_region_topology(mgn_region* region);

// Pairwise orientation checks: two faces of the region, each with the side
// the region uses and the curve by which it bounds the shared piece (the
// same curve, or curves of one chain of fixations), must run along the
// piece in opposite directions ("Invalid topology of region %ld detected\n
// Check orientation of surfaces %ld and %ld", "... of patch %ld and surface
// %ld" and so on).
void mgn_check_surface_surface(mgn_region* region, mgn_surface* first, int first_side, mgn_curve* first_curve,
                               mgn_surface* second, int second_side, mgn_curve* second_curve);
void mgn_check_patch_surface(mgn_region* region, mgn_patch* first, int first_side, mgn_curve* first_curve,
                             mgn_surface* second, int second_side, mgn_curve* second_curve);
void mgn_check_shell_surface(mgn_region* region, mgn_shell* first, int first_side, mgn_curve* first_curve,
                             mgn_surface* second, int second_side, mgn_curve* second_curve);
void mgn_check_patch_patch(mgn_region* region, mgn_patch* first, int first_side, mgn_curve* first_curve,
                           mgn_patch* second, int second_side, mgn_curve* second_curve);
void mgn_check_patch_shell(mgn_region* region, mgn_patch* first, int first_side, mgn_curve* first_curve,
                           mgn_shell* second, int second_side, mgn_curve* second_curve);
void mgn_check_shell_patch(mgn_region* region, mgn_shell* first, int first_side, mgn_curve* first_curve,
                           mgn_patch* second, int second_side, mgn_curve* second_curve);
void mgn_check_shell_shell(mgn_region* region, mgn_shell* first, int first_side, mgn_curve* first_curve,
                           mgn_shell* second, int second_side, mgn_curve* second_curve);

// The boundary of a region prepared for point location: its faces, the
// trimming loops of its shells in the parameters of their background
// surfaces, the curves and vertices that lie on it (which entities inside
// the region may touch), and the distance below which a point counts as
// lying on the boundary.
struct mgn_region_boundary {
  const mgn_region* region = nullptr;
  std::vector<mgn_region_face> faces;
  // Per face (empty but for shells): directed segments (u0, v0, u1, v1) of
  // the trimming loops, the shell lying on their left.
  std::vector<std::vector<double>> trims;
  std::vector<const mgn_curve*> curves;     // bounding the faces or fixed to them
  std::vector<mgn_vertex*> vertices;        // ends of those curves and vertices fixed to the faces
  double tolerance = 0.0;
};
mgn_region_boundary mgn_build_region_boundary(const mgn_region* region);

// Where a point lies: the winding number of the boundary about it (the
// signed solid angle that the faces, each oriented away from the region,
// subtend, over 4 pi: 1 inside a region, 0 outside; a boundary listed with
// the wrong signs gives -1 inside) and whether it lies within the tolerance
// of a face.  The solid angle of each face is summed over flat triangles
// between points evaluated on the face, subdivided until each one is small
// against its distance from the point, so that points close to the boundary
// and points in line with edges of the faces are located as surely as any
// other; planar patches are fans of triangles over their loops.
struct mgn_region_point {
  double winding = 0.0;
  bool on_boundary = false;
};
mgn_region_point mgn_locate_region_point(const mgn_region_boundary& boundary, const double* point);
// A point strictly inside: not on the boundary, and the boundary winds
// around it (a region listed with the wrong signs is left to the volume
// mesher, which names the faces to turn).
bool mgn_check_point_inside_region(const mgn_region_boundary& boundary, const double* point);

// Entities inside the region.  A vertex must lie strictly inside.  The
// inner points of a curve must lie inside (for a side of a fixed surface,
// patch or shell they may also lie on the boundary where the curve
// coincides with a boundary curve); its ends inside or at vertices of the
// boundary.  A surface's inner points must lie inside and its sides as just
// said; a patch or shell is tested by its loops.  A subregion's faces must
// lie inside the region or on faces of the boundary that are not the
// region's own.  Points are sampled on the entities.
bool mgn_check_vertex_inside_region(const mgn_region_boundary& boundary, const mgn_vertex* vertex);
bool mgn_check_curve_inside_region(const mgn_region_boundary& boundary, const mgn_curve* curve, bool side_of_face);
bool mgn_check_surface_inside_region(const mgn_region_boundary& boundary, const mgn_surface* surface);
bool mgn_check_patch_inside_region(const mgn_region_boundary& boundary, const mgn_patch* patch);
bool mgn_check_shell_inside_region(const mgn_region_boundary& boundary, const mgn_shell* shell);
bool mgn_check_subregion_inside_region(const mgn_region_boundary& boundary, const mgn_region* subregion);

#endif  // MGN_INPUT1_H
