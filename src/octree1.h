// Construction of the octree of mesh sizes from the model: the model box and
// tolerance, the root, the propagation of entity sizes down to the entities
// they bound, and the refinement of the tree at the vertices, along the
// curves by their sizes, densities and curvature, and over the surfaces by
// their sizes and curvature.
#ifndef MGN_OCTREE1_H
#define MGN_OCTREE1_H

#include "records.h"

// Ratio of a chord to the size it may reach: 1.5 / 0.85.
constexpr double MGN_CHORD_RATIO = 1.7647058823529411;
// Deepest recursion of the sampling of one entity.
constexpr int MGN_OCTREE_RECURSION = 40;
// Smallest size, as a fraction of the root size, that the curvature of a
// curve or a surface asks for.
constexpr double MGN_CURVATURE_SIZE_FLOOR = 1e-5;

// Builds the octree of a run: measures the model, creates the root,
// propagates the sizes (unless the mesh size factor is 0), refines the tree
// by the background mesh (-m, unless -a is 0) and from the vertices, the
// curves and the surfaces.
void mgn_build_octree();

// Model box of the vertices (virtual ones only with -V), curves, surfaces,
// patches and shells into mgn_tree.model_min/max and model_size, and the
// geometric tolerance from it.
void mgn_measure_model();

// Size propagation over all entities: the factor push from surfaces to
// curves and from curves to vertices, then regions, shells, patches,
// surfaces, curves and vertices in turn settle their sizes (density size of
// curves, level check, uniform cap, 2 R for none) and hand them to the
// entities that bound them.  A size handed to an entity of factor 0 is stored
// negated.
void mgn_propagate_mesh_size();

// Refinement of the octree at a vertex and along a curve.
void mgn_build_octree_vertex(const mgn_vertex* vertex);
void mgn_build_octree_curve(const mgn_curve* curve);

// One finished piece of the sampling of a curve: its parameter interval, the
// point at which it refines the octree and the size requested there.
struct mgn_curve_piece {
  double t0, t1;
  double p[3];
  double size;
};
using mgn_curve_piece_visitor = void (*)(const mgn_curve_piece& piece, void* data);

// Samples a curve by its sizes and curvature: the parameter interval is
// halved (always while the depth is below the shape order, then until the
// halves meet at 135 degrees or more, are balanced, and their chord over
// 1.7647 fits the sizes at the middle) down to depth 40, and visit is called
// for every finished piece in parameter order.  Curves that take their mesh
// from elsewhere (virtual, collapsed, pieces of a physical parent) and
// curves without size or curvature request give no piece.
void mgn_sample_curve_size(const mgn_curve* curve, mgn_curve_piece_visitor visit, void* data);

// Refinement of the octree over a surface.
void mgn_build_octree_surface(const mgn_surface* surface);
// Refinement over a patch or shell: the sampling of a surface on its
// background surface, over the parameter box of its loops, refining where a
// piece reaches inside the loops.
void mgn_build_octree_patch(const mgn_patch* patch);
void mgn_build_octree_shell(const mgn_shell* shell);

// One finished rectangle of the sampling of a surface: its parameter
// range, the point at which it refines the octree (the surface point at its
// centre) and the size requested there.
struct mgn_surface_piece {
  double u0, u1, v0, v1;
  double p[3];
  double size;
};
using mgn_surface_piece_visitor = void (*)(const mgn_surface_piece& piece, void* data);

// Deepest division across a collapsed side whose curvature varies along it.
constexpr int MGN_COLLAPSED_SIDE_DEPTH = 12;

// Whether a collapsed side of the surface needs closer sampling: the
// curvature across the side, sampled near its two ends (parameters 0.025
// and 0.975 at 0.025 from the side, then 0.05 and 0.95 at 0.05), differs by
// more than a quarter of the larger value.  0 for a side that is not
// collapsed.
int mgn_check_surface_collapsed_side(const mgn_surface* surface, int side);

// Samples a surface by its sizes and curvature: the parameter rectangle is
// halved in u and in v (always while the depth of the direction is below
// the surface's shape order; then while the two half chords through the
// centre meet at less than 135 degrees, differ by more than a factor 1.5,
// or their length over 1.7647 exceeds the size at the centre; near a
// flagged collapsed side across it down to MGN_COLLAPSED_SIDE_DEPTH), each
// direction down to depth 40, and visit is called for every finished
// rectangle.  Rectangles inside hole surfaces fixed to the surface are
// skipped.  Virtual and hole surfaces and surfaces without size or
// curvature request give no piece.
void mgn_sample_surface_size(const mgn_surface* surface, mgn_surface_piece_visitor visit, void* data);

#endif  // MGN_OCTREE1_H
