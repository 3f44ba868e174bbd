// Curve discretization: the nodes and edges of a model curve between the
// nodes of its end vertices and of the vertices fixed on it.  Nodes are
// placed at equal increments of the integral of 1 / h along the arc, h the
// octree size, unless a number of intervals is prescribed; equidistant
// requests place them at equal increments of length.
#ifndef MGN_DISCRET1_H
#define MGN_DISCRET1_H

#include "records.h"

// Deepest subdivision of the parameter tree of one piece of curve.
constexpr int MGN_CURVE_DEPTH = 40;

// Work records of the parameter tree: a parameter with the integral from
// the start of the piece, and a leaf interval between two of them (adjacent
// leaves share their parameter record).
struct mgn_curve_param {
  double t;
  double value;
};
struct mgn_curve_leaf {
  mgn_curve_param* a;
  mgn_curve_param* b;
};

// Number of intervals of a piece whose size integral is I: the integer part
// of I + 0.792241119 exp(-0.043834065 I), at least 1.
long mgn_get_curve_interval_count(double integral);

// Creates the interior nodes and all edges of the piece [t_start, t_end] of
// the curve from the node of start to the node of end.
void mgn_discretize_subcurve(mgn_curve* curve, mgn_vertex* start, mgn_vertex* end, double t_start,
                             double t_end);

// The next vertex fixed on the curve at or after parameter t (not virtual,
// not the current vertex, not an end of the curve), or the curve's end
// vertex; its parameter goes to t_next.  Two vertices at the same parameter
// and closer than the user epsilon end the run.
mgn_vertex* mgn_get_next_fixed_vertex(mgn_curve* curve, mgn_vertex* current, double t,
                                      double* t_next);

// Distributes the prescribed interval count of a curve over its pieces
// between fixed vertices: each piece's count goes to the vertex that ends
// it.  Too many fixed vertices give a counted warning and withdraw the quad
// mapping requests of the entities the curve bounds.
void mgn_build_data_curve_vertex(mgn_curve* curve);

// Hands the nodes and edges of a meshed curve to the physical curves fixed
// on it (at any depth through physical curves): each gets references to the
// records of its interval, in order.
void mgn_update_fixed_curve(mgn_curve* curve);

// Meshes a mirrored curve from its (meshed) source: one node per node of
// the source at the same parameter, the vertices fixed on the curve taking
// the place of the node nearest to them.
void mgn_mirror_subcurve(mgn_curve* curve);
// Index (1 .. count - 2) of the interior node of params that the fixed
// vertex at parameter t takes: the nearest one, when the vertex lies between
// its neighbours and it is not taken yet; otherwise the run ends with
// "Vertex %ld on mirrored curve %ld cannot be accommodated".
long mgn_accommodate_vertex(mgn_curve* curve, mgn_vertex* vertex, double t, const double* params,
                            long count, const bool* taken);

// Scratch listings of the curve mesher: the parameter records and the
// leaves of the parameter tree of the piece being meshed.  The driver
// creates them for a run (else they are created on first use), they are
// emptied after every piece, and released when the next run starts.
struct mgn_curve_scratch {
  mgn_listing* params = nullptr;
  mgn_listing* leaves = nullptr;
};
extern mgn_curve_scratch mgn_curve_work;

void mgn_create_curve_scratch();
void mgn_empty_curve_scratch();
void mgn_release_curve_scratch();

#endif  // MGN_DISCRET1_H
