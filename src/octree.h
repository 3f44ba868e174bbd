// The octree of mesh sizes: a cube recursively divided into eight whose
// leaves carry the requested mesh size at their corners, and the spatial
// index of the mesh nodes.  The size at a point is the scaled trilinear
// interpolation of the corner values of the leaf containing it.
//
// The tree keeps two invariants that every routine here maintains:
//  - corner size records are shared by all leaves meeting at a point;
//  - no leaf has a face or edge neighbour more than one level coarser.
#ifndef MGN_OCTREE_H
#define MGN_OCTREE_H

#include "records.h"

// Scale applied to the interpolated corner sizes.
constexpr double MGN_OCTREE_SIZE_SCALE = 0.85;

// Face index of an axis (0 x, 1 y, 2 z) on its low (side 0) or high (side 1)
// side.
inline int mgn_octant_face(int axis, int side) { return side ? 5 - axis : axis; }

// Creates the root octant around the model box (min and max corner): root
// origin and size from the settings and the box (with their warnings), the
// geometric tolerance recomputed from the root box, the maximum depth and the
// minimum octant size, and the uniform size reduced when it is finer than the
// deepest level allows.  Any earlier tree is forgotten.
void mgn_create_root_octant(const double box_min[3], const double box_max[3]);

// The warning of a size finer than the deepest level at the point, given
// once per warning scope (message.h): the refinement of one entity could
// otherwise repeat it for every point sampled.
void mgn_warn_too_fine_at_point(const double p[3]);

// Divides a leaf into eight children, first dividing every coarser leaf
// across its faces and edges.  Returns 1 when divided, 0 when refused
// because the octant is too fine (with a counted warning).
int mgn_divide_terminal_octant(mgn_octant* octant);

// The child of a divided octant containing the point (half: the child
// size); a point on a mid plane goes to the upper child.  index receives the
// child index when not null.
mgn_octant* mgn_get_child_octant(const mgn_octant* octant, double half, const double p[3],
                                 int* index);

// The leaf containing the point, descending from start by child selection.
mgn_octant* mgn_locate_leaf_octant(mgn_octant* start, const double p[3]);

// The leaf containing the point, starting from a nearby octant: the search
// climbs from start (root when null) until an octant whose box contains the
// point and descends from there.  A point outside the root box ends in the
// nearest boundary leaf.
mgn_octant* mgn_find_leaf_octant(mgn_octant* start, const double p[3]);

// Requested mesh size at the point.  hint: a nearby octant (null: the root),
// updated to the leaf used.  check: report points far outside that leaf
// (warning beyond 1.1 leaf sizes, fatal beyond 1.5); without it such points
// are pulled back to half a leaf outside.
double mgn_get_octree_mesh_size(mgn_octant** hint, const double p[3], bool check);

// Level of the octree needed for a requested size s (> 0): s_scaled
// receives s / 0.85.  Returns 0 when no division is needed.  A level deeper
// than the maximum depth is cut to it, s_scaled becomes the finest
// achievable size and too_fine is set.
int mgn_get_octree_level(double s, double* s_scaled, bool* too_fine);
// The same for a size already scaled (s_scaled = s / 0.85), adjusted in
// place when it is too fine.
int mgn_get_octree_scaled_level(double* s_scaled, bool* too_fine);

// Moves a point outside the root box onto the box (per axis) and returns
// the distance moved, summed over the axes (0 for a point inside).
double mgn_clamp_to_root_box(double p[3]);

// Refines the octree around the point so that the size there does not
// exceed size: the octants on the way to the level of the size are divided,
// the corners of the octant reached are lowered and, with a fraction r > 0,
// the neighbours near the point are brought to the same level.  clamp: a
// point outside the root box is moved into it and the size grows by half
// the distance moved.
void mgn_refine_octree_at_point(const double p[3], double size, double r, bool clamp);

// The descent of mgn_refine_octree_at_point: from start (null: the root)
// to the absolute level toward p, dividing leaves on the way, with the
// scaled size s_scaled (lowered to the finest achievable one when a
// division is refused).  top: lower corners and refine the neighbours as
// the top-level call does; corner_mode: lower only the corners on the
// point's side.  Returns the octant reached.
mgn_octant* mgn_refine_octree_to_level(mgn_octant* start, int level, const double p[3],
                                       double* s_scaled, double r, bool corner_mode, bool top);

// The leaf containing p (searched from start, null: the root) and the
// leaves next to it near p: with fraction r, the faces of the leaf within
// r x half its size of p are selected, and the leaves touching the selected
// faces, the edges and the corner between them are gathered, each once.
// Returns the count (at most MGN_OCTANTS; more is fatal).
int mgn_collect_octree_neighbourhood(mgn_octant* start, mgn_octant* out[MGN_OCTANTS],
                                     const double p[3], double r);

// Node index.  mgn_locate_node enters a node in the leaf containing its
// coordinates (searched from hint, null: the root), sets its octant and its
// size; mgn_unlocate_node takes it out of its leaf; mgn_relocate_node takes
// the size again after the node moved and moves it to its new leaf.
void mgn_locate_node(mgn_node* node, mgn_octant* hint);
void mgn_unlocate_node(mgn_node* node);
void mgn_relocate_node(mgn_node* node);

// Lowers the value of a corner size record to size when it is larger.
inline void mgn_lower_corner_size(float* corner, double size) {
  if (*corner > size) *corner = static_cast<float>(size);
}

// The octant across face f of the octant (see mgn_octant for the face
// numbering): the octant of the same size there, or the coarser leaf
// covering that place when there is none; null on the root boundary.  It
// is found by walking up to the common ancestor and down again, in a few
// steps on average.
mgn_octant* mgn_get_octant_neighbour(const mgn_octant* octant, int face);

// Gives back the octants, corner records and node list cells once the mesh is
// complete, so that the passes after meshing (renumbering, output) run in
// the room they held.  The root box, its size and the octant count stay;
// node octant references are not to be followed afterwards.  A later run
// builds a new tree.
void mgn_release_octree();

// Number of the octant's level (0 for the root).
int mgn_get_octant_level(const mgn_octant* octant);

#endif  // MGN_OCTREE_H
