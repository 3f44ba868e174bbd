// The background mesh: a mesh file whose nodes carry requested mesh sizes,
// written by a user or by an error estimator of an earlier solution.  Its
// nodes, edges, faces and volume elements refine the octree of sizes, with
// the size varying linearly between the nodes of every element, so that the
// one size query of the octree answers for it as for the model.
//
// The file is read record by record; every record is checked before it is
// used (counts, identifiers, node numbers, finite numbers), and lines of
// any length are read whole.  The format is printed by -Fbgm.
#ifndef MGN_BGMESH_H
#define MGN_BGMESH_H

// Fraction of the octant around each background point brought to its
// level (the neighbour fraction of the octree refinement).
constexpr double MGN_BG_NEIGHBOUR_FRACTION = 0.5;

// Reads the background mesh named by -m (and, for a mesh split into several
// files, its numbered parts) and refines the octree by it, the sizes of
// the file multiplied by the bg mesh size factor (-a).  Nothing is read
// when no file is named or the factor is 0.  The root octant must exist.
// Bad files end the run with an input error naming the file and the line
// (a file that cannot be opened: a file manipulation error).
void mgn_build_octree_bg_mesh();

#endif  // MGN_BGMESH_H
