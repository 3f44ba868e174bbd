// Mesh quality: evaluation of every element of the mesh after
// discretization, the element measures of triangles, quads and pyramids,
// and the quality report (the global summary on standard output, the
// per-entity lines on standard error).
//
// What is evaluated and printed follows the quality_report setting (-q):
// the MGN_QUALITY_... bits below.
#ifndef MGN_QUALITY_H
#define MGN_QUALITY_H

#include <array>
#include <climits>

#include "records.h"
#include "vec3.h"

// Bits of quality_report.
constexpr int MGN_QUALITY_ELEMENT = 1;        // element quality
constexpr int MGN_QUALITY_ANGLE = 2;          // inner angles of faces, dihedral angles of tetras
constexpr int MGN_QUALITY_VALENCY = 4;        // node valency (connectivity)
constexpr int MGN_QUALITY_DISTRIBUTION = 8;   // histograms besides the three classes
constexpr int MGN_QUALITY_NO_FACES = 16;      // no report on triangles, quads, mapped quads
constexpr int MGN_QUALITY_NO_CELLS = 32;      // no report on tetras and pyramids
constexpr int MGN_QUALITY_ALL_ENTITIES = 64;  // also entities whose elements are not output
constexpr int MGN_QUALITY_PER_ENTITY = 128;   // per-entity lines on standard error

constexpr int MGN_QUALITY_BINS = 20;    // quality bins of width 0.05 over [0, 1]
constexpr int MGN_ANGLE_BINS = 17;      // angle bins of 10 degrees from 5 to 175
constexpr int MGN_VALENCY_VALUES = 31;  // counters of valencies 0 to 30

// Quality statistics of one element kind, for the whole mesh or one entity.
// Angles are in radians.
struct mgn_quality_acc {
  long count = 0;  // elements reported
  // Element quality.
  double sum = 0.0;
  double sum_inverse = 0.0;
  double worst = 2.0;
  double best = 0.0;
  std::array<long, 3> classes{};  // at or above the upper limit, between, below the lower
  std::array<long, MGN_QUALITY_BINS> bins{};
  // Angles.
  std::array<long, 3> angle_classes{};  // small, normal, large
  std::array<long, MGN_ANGLE_BINS> angle_bins{};
  double angle_sum = 0.0;
  double min_angle = MGN_PI;
  double max_angle = 0.0;
  // Valency.
  long nodes = 0;
  long valency_sum = 0;
  int min_valency = INT_MAX;
  int max_valency = 0;
  std::array<long, 3> valency_classes{};  // low, normal, high
  std::array<long, MGN_VALENCY_VALUES> valency_values{};
};

// The global statistics, per element kind.
struct mgn_quality_state {
  mgn_quality_acc tria, quad, map_quad, tetra, pyram;
};
extern mgn_quality_state mgn_quality;

// Clears the global statistics.
void mgn_clear_quality();

// Evaluates every element of the surfaces, patches and shells (unless bit
// 16) and of the regions (unless bit 32) and prints the per-entity lines
// (bit 128).  Called once by the meshing sequence after discretization.
// Entities whose elements are not output are evaluated only with bit 64;
// virtual and hole entities never.
void mgn_evaluate_quality();
// Prints the global summary on standard output (nothing when the setting
// is 0).  Called by main after the counts and the profile.
void mgn_print_quality_report();

// Element reporters: measure one element and add it to the global
// statistics of its kind and, when entity is not null, to the entity's.
// A quality not above 0 notes the element for the partial output and is
// fatal ("Zero quality face detected", "... quad ...", "... tetra ...",
// "... pyram ...").
void mgn_report_face(mgn_face* face, mgn_quality_acc* entity);
void mgn_report_quad(mgn_quad* quad, mgn_quality_acc* entity);
void mgn_report_quad_map(mgn_quad* quad, mgn_quality_acc* entity);
void mgn_report_tetra(mgn_tetra* tetra, mgn_quality_acc* entity);
void mgn_report_pyram(mgn_pyram* pyram, mgn_quality_acc* entity);
// Node reporters: the valency of a node of a triangle, quad or tetra mesh
// (its edges on surfaces, patches and shells, or in regions).  A node
// without such edges is fatal ("Unexpected situation").
void mgn_report_face_node(mgn_node* node, mgn_quality_acc* entity);
void mgn_report_quad_node(mgn_node* node, mgn_quality_acc* entity);
void mgn_report_tetra_node(mgn_node* node, mgn_quality_acc* entity);

// Measures on coordinates.
// Triangle: 4 sqrt(3) A / (l1^2 + l2^2 + l3^2), 1 for the equilateral
// triangle; 0 when the area is not above the square of the user epsilon.
double mgn_get_triangle_quality(const double* a, const double* b, const double* c);
// The three inner angles at a, b, c (all 0 when an edge is not longer than
// the user epsilon).
void mgn_get_triangle_angles(const double* a, const double* b, const double* c, double angles[3]);
// Quad p[0..3] in circuit order: 256 prod |N_i| / (a_i^2 + b_i^2 + d_i^2)
// over the corners, 1 for the square, times the warp factor c13 c24 (the
// cosines between the normals of opposite corners) when warp is set; -1 for
// a folded quad (a negative cosine), 0 for a degenerate corner.
double mgn_get_quad_quality(const double* const p[4], bool warp);
// Inner angles of the quad (all 0 when an edge is not longer than the user
// epsilon) and the angle quality 1 - max(pi/2 - smallest, largest -
// pi/2) / (pi/2), 0 when the angles sum to 342 degrees or less.
double mgn_get_quad_angle_quality(const double* const p[4], double angles[4]);
// Pyramid with base p[0..3] in circuit order and apex p[4] on the side of
// the base normal (p1 - p0) x (p3 - p0): the smallest mean ratio of its four
// base corners against the corners of the ideal pyramid (square base, all
// edges equal).  1 for the ideal pyramid, in (0, 1) otherwise, 0 for a flat
// or inverted one.
double mgn_get_pyram_quality(const double* const p[5]);

#endif  // MGN_QUALITY_H
