// The PATCH and SHELL line parsers (mgn_input_patch and mgn_input_shell,
// declared with their records in src/patch.h and src/shell.h).  A patch and
// a shell are both faces bounded by loops of curves; they share the options
// of their loops (BOUNDARY CURVE, FIXED VERTEX / CURVE, children), of their
// sizes and of their meshing requests, their sequence rules and most of
// their checks, so one reader serves both: the patch adds its plane (NORMAL,
// ORIGIN), its iso direction and its EPSILON, the shell its background
// surface and its curvature RATE.
//
// Decisions of the readers:
//  - BOUNDARY and FIXED may come again on a line, once the word that follows
//    them has been read (BOUNDARY CURVE 1 2 3 4 BOUNDARY CURVE -5 -6 -7 -8);
//    COINCIDE too, one kind of entity each time.
//  - A curve fixed inside a patch or shell takes both its sides: no other
//    patch or shell may use it as a boundary afterwards.
//  - Virtual vertices and curves in FIXED lists are skipped (they carry no
//    mesh to respect).
//  - A patch or shell is empty when its loops hold no curve that is not
//    collapsed and it has no fixed vertex.
//  - Mirrored and duplicated meshes of patches and shells are not made:
//    MIRROR and DUPLICATE are dropped with a warning and the entity is
//    meshed on its own.
//  - A subpatch's normal may differ from its parent's by at most 0.01
//    radians (about half a degree).
#ifndef MGN_INPUT2_H
#define MGN_INPUT2_H

#include "records.h"

// Largest angle, in radians, between the normals of a patch and a
// subpatch.
constexpr double MGN_SUBPATCH_NORMAL_ANGLE = 0.01;

#endif  // MGN_INPUT2_H
