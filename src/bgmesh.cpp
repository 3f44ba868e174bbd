// The background mesh: reading its file record by record and refining the
// octree by its nodes and elements.
//
// Terms used here:
//  - scaled size: a size of the file times the bg mesh size factor and
//    divided by the size scale 0.85, the value the octree corners hold (the
//    octree answers 0.85 times it);
//  - point: a place of the size field (a node, or a midpoint or centre made
//    while an element is split) with its scaled size, its octree level and
//    whether it lies outside the root box;
//  - level of a point: the octree level of its scaled size, or, outside the
//    root box, of the size it gets once moved onto the box (it grows by
//    half the distance moved);
//  - piece: a segment, triangle or tetra of an element being split.
//
// Algorithm.  Every node refines the octree at its position (lowering the
// eight corners of the octant it lies in).  A piece is halved (a triangle
// split into four at its edge midpoints, a tetra into eight) while one of
// its edges is longer than two octants at the level of the finer end of
// that edge; a piece that is short enough refines the octree at its
// centroid with the mean size of its corners, and the midpoints on an
// element's own edges refine it as well whenever they are made.  The pieces are thus spread over the element at the spacing of the
// octants they refine, and every octant corner near the element is lowered
// to the size interpolated linearly near it.  Quads are split into four
// triangles at their centre; pyramids, wedges and hexas into tetras made of
// a face edge, the face centre (of a quad face) and the element centre.
// The pieces refine in corner mode: only the octant corners on the point's
// side are lowered, so that the sizes do not leak past the element.
#include "bgmesh.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "message.h"
#include "octree.h"
#include "records.h"

namespace {

// Deepest splitting of a piece no longer than twice the root box diagonal.
// The octant sizes stop the splitting long before (at about the depth of
// the octree); the limit is a guard.
constexpr int kMaxSplitDepth = 100;
// Most bisections of the pieces of one element record reaching far beyond
// the root box.
constexpr long kMaxBisections = 20000;

// --- the file ----------------------------------------------------------------

// The background mesh file being read, with its current line.
struct bg_file {
  std::ifstream stream;
  std::string name;
  std::string line;          // current line, without its line end
  std::size_t position = 0;  // where the next field of the line is searched
  long line_number = 0;      // of the current line
};

// The place arguments of an input error about the current line of a file.
#define BG_AT(file) __func__, mgn_module_name(__FILE__), __LINE__, (file).name, (file).line_number

void open_bg_file(bg_file& file, const std::string& name) {
  file.name = name;
  // A directory opens as a stream on some systems; it is not a file to read.
  std::error_code ignored;
  if (!std::filesystem::is_directory(name, ignored)) file.stream.open(name, std::ios::binary);
  if (!file.stream.is_open()) {
    mgn_file_manipulation_error(mgn_format("Background mesh %s file opening error", name.c_str()),
                                "mgn_build_octree_bg_mesh", mgn_module_name(__FILE__), __LINE__);
  }
}

// Blanks between the fields of a record (those of the C conversions).
inline bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Reads lines up to the next one holding a record: leading blanks are
// skipped, and lines that are then empty or begin with '#' are comments.
// Lines of any length are read whole.  Returns false at the end of the
// file; a failed read is the input error "Reading error".
bool read_record_line(bg_file& file) {
  while (std::getline(file.stream, file.line)) {
    ++file.line_number;
    std::size_t first = 0;
    while (first < file.line.size() && is_blank(file.line[first])) ++first;
    if (first < file.line.size() && file.line[first] != '#') {
      file.position = first;
      return true;
    }
  }
  if (!file.stream.eof()) {
    ++file.line_number;
    mgn_input_error("Reading error", BG_AT(file));
  }
  return false;
}

// The next record line, which must exist: the end of the file is the input
// error "Unexpected end of background mesh file encountered", reported on
// the line after the last one.
void mgn_get_next_relevant_line(bg_file& file) {
  if (read_record_line(file)) return;
  ++file.line_number;
  mgn_input_error("Unexpected end of background mesh file encountered", BG_AT(file));
}

// After the last section only comments may follow: a further record means
// that the counts do not describe the file.
void expect_end_of_file(bg_file& file) {
  if (read_record_line(file)) mgn_input_error("Unexpected record after the last section of bg mesh file", BG_AT(file));
}

// The next field of the current line as [begin, end); false when the line
// has no further field.
bool next_field(bg_file& file, std::size_t& begin, std::size_t& end) {
  const std::string& line = file.line;
  begin = file.position;
  while (begin < line.size() && is_blank(line[begin])) ++begin;
  if (begin == line.size()) return false;
  end = begin;
  while (end < line.size() && !is_blank(line[end])) ++end;
  file.position = end;
  return true;
}

// The next field as a whole decimal integer (a sign allowed) that fits a
// long; false otherwise.  Fields after those a record needs are not read:
// they may be comments, or the midside nodes of quadratic elements.
bool read_integer(bg_file& file, long& value) {
  std::size_t begin = 0, end = 0;
  if (!next_field(file, begin, end)) return false;
  const char* text = file.line.c_str();
  char* stop = nullptr;
  errno = 0;
  const long converted = std::strtol(text + begin, &stop, 10);
  // A field holding a NUL byte stops the conversion early, like any other
  // character that does not belong to the number.
  if (stop != text + end || errno == ERANGE) return false;
  value = converted;
  return true;
}

// The next field as a whole finite floating point number; false otherwise
// (also for "nan", "inf" and numbers too large for a double).
bool read_number(bg_file& file, double& value) {
  std::size_t begin = 0, end = 0;
  if (!next_field(file, begin, end)) return false;
  const char* text = file.line.c_str();
  char* stop = nullptr;
  const double converted = std::strtod(text + begin, &stop);
  if (stop != text + end || !std::isfinite(converted)) return false;
  value = converted;
  return true;
}

bool read_integers(bg_file& file, long* values, int count) {
  for (int i = 0; i < count; ++i) {
    if (!read_integer(file, values[i])) return false;
  }
  return true;
}

// --- element kinds and mesh types ---------------------------------------------

enum bg_kind : int { BG_EDGE, BG_TRIA, BG_QUAD, BG_TETRA, BG_PYRAM, BG_WEDGE, BG_HEXA, BG_KINDS };

// The record of an element kind: its node count and its messages.
struct bg_kind_record {
  int nodes;
  const char* record_message;  // the record cannot be read
  const char* number_message;  // the element identifier is out of range
  const char* few_nodes_message;  // the mesh has fewer nodes than one element needs
};

constexpr bg_kind_record kKindRecords[BG_KINDS] = {
    {2, "Invalid record in bg edge section [edge_id nd1 nd2]", "Invalid bg edge number detected",
     "Not enough bg nodes for bg edge description"},
    {3, "Invalid record in bg face section [tria_id nd1 nd2 nd3]", "Invalid bg face number detected",
     "Not enough bg nodes for bg face description"},
    {4, "Invalid record in bg quad section [quad_id nd1 nd2 nd3 nd4]", "Invalid bg quad number detected",
     "Not enough bg nodes for bg quad description"},
    {4, "Invalid record in bg tetra section [tetra_id nd1 nd2 nd3 nd4]", "Invalid bg tetra number detected",
     "Not enough bg nodes for bg tetra description"},
    {5, "Invalid record in bg pyram section [pyram_id nd1 nd2 nd3 nd4 nd5]", "Invalid bg pyram number detected",
     "Not enough bg nodes for bg pyram description"},
    {6, "Invalid record in bg wedge section [wedge_id nd1 nd2 nd3 nd4 nd5 nd6]", "Invalid bg wedge number detected",
     "Not enough bg nodes for bg wedge description"},
    {8, "Invalid record in bg hexa section [hexa_id nd1 nd2 nd3 nd4 nd5 nd6 nd7 nd8]",
     "Invalid bg hexa number detected", "Not enough bg nodes for bg hexa description"},
};
constexpr int kMaxElementNodes = 8;

// The counts record of each mesh type: the element kinds it counts after
// the nodes, in the order of the record, and its message.
struct bg_mesh_type {
  long type;
  int kinds;
  bg_kind counted[BG_KINDS];
  const char* counts_message;
};

constexpr bg_mesh_type kMeshTypes[] = {
    {3, 3, {BG_EDGE, BG_TRIA, BG_TETRA},
     "Invalid record in general section of bg mesh file [nodes edges trias tetras]"},
    {4, 3, {BG_EDGE, BG_QUAD, BG_HEXA},
     "Invalid record in general section of bg mesh file [nodes edges quads hexas]"},
    {7, 7, {BG_EDGE, BG_TRIA, BG_QUAD, BG_TETRA, BG_PYRAM, BG_WEDGE, BG_HEXA},
     "Invalid record in general section of bg mesh file [nodes edges trias quads tetras pyrams wedges hexas]"},
};

// --- points of the size field ----------------------------------------------

// A stored node: position, scaled size (negated when the node lies outside
// the root box) and the octree level used at the node.
struct bg_node {
  double xyz[3];
  float size;
  int16_t level;
};

// What the refinement of one file needs: the bg mesh size factor, the root
// size and the nodes by identifier - 1.
struct bg_field {
  double factor;
  double root_size;
  std::vector<bg_node> nodes;
};

// A place of the size field: a node, or a midpoint or centre made while an
// element is split.
struct bg_point {
  double xyz[3];
  double size;   // scaled size
  int level;     // octree level of the point
  bool outside;  // outside the root box
};

bool outside_root_box(const double p[3]) {
  for (int a = 0; a < 3; ++a) {
    if (p[a] < mgn_tree.root_min[a] || p[a] > mgn_tree.root_max[a]) return true;
  }
  return false;
}

// The octree level of a point: that of its size, or, outside the root box,
// of the size it has once moved onto the box.  A point far outside thus has
// level 0 and is never split for nothing.
int level_of(const double xyz[3], double size, bool outside) {
  if (outside) {
    double q[3] = {xyz[0], xyz[1], xyz[2]};
    size += 0.5 * mgn_clamp_to_root_box(q);
  }
  bool too_fine = false;
  return mgn_get_octree_scaled_level(&size, &too_fine);
}

// How the corners of the octant reached are lowered: all of them, or only
// those on the point's side.
enum bg_lowering : bool { BG_ALL_CORNERS = false, BG_CORNER_MODE = true };

// Refines the octree at the point, with its size grown by half the
// distance to the root box when it lies outside.
void refine_at(const bg_point& point, bg_lowering lowering = BG_CORNER_MODE) {
  double q[3] = {point.xyz[0], point.xyz[1], point.xyz[2]};
  double size = point.size;
  if (point.outside) size += 0.5 * mgn_clamp_to_root_box(q);
  // A size that came out 0 (underflow at absurd scales) asks for nothing.
  if (!(size > 0.0)) return;
  bool too_fine = false;
  const int level = mgn_get_octree_scaled_level(&size, &too_fine);
  mgn_refine_octree_to_level(nullptr, level, q, &size, MGN_BG_NEIGHBOUR_FRACTION, lowering, true);
}

bg_point point_of(const bg_node& node) {
  bg_point p{};
  for (int a = 0; a < 3; ++a) p.xyz[a] = node.xyz[a];
  p.size = std::fabs(static_cast<double>(node.size));
  p.level = node.level;
  p.outside = node.size < 0.0f;
  return p;
}

// The mean of points: position and size.  The terms are scaled before they
// are summed, so that coordinates near the largest double do not overflow.
bg_point mean_point(std::span<const bg_point> parts) {
  bg_point m{};
  const double w = 1.0 / static_cast<double>(parts.size());
  for (const bg_point& p : parts) {
    for (int a = 0; a < 3; ++a) m.xyz[a] += w * p.xyz[a];
    m.size += w * p.size;
  }
  m.outside = outside_root_box(m.xyz);
  m.level = level_of(m.xyz, m.size, m.outside);
  return m;
}

bg_point midpoint(const bg_point& a, const bg_point& b) {
  const bg_point parts[2] = {a, b};
  return mean_point(parts);
}

double squared_distance(const bg_point& a, const bg_point& b) {
  double d2 = 0.0;
  for (int i = 0; i < 3; ++i) d2 += (b.xyz[i] - a.xyz[i]) * (b.xyz[i] - a.xyz[i]);
  return d2;
}

// Whether the segment between two points is too long to be sampled at its
// midpoint alone: longer than two octants at the level of its finer end.
// Points at level 0 (sizes of the root or more, or far outside the root
// box) ask for no sampling between them.
bool too_long(const bg_field& field, const bg_point& a, const bg_point& b) {
  const int finer = std::max(a.level, b.level);
  if (finer == 0) return false;
  const double reach = 2.0 * std::ldexp(field.root_size, -finer);
  return squared_distance(a, b) > reach * reach;
}

// --- refinement by elements -------------------------------------------------

void refine_segment(const bg_field& field, const bg_point& a, const bg_point& b, int depth) {
  const bg_point m = midpoint(a, b);
  if (depth < kMaxSplitDepth && too_long(field, a, b)) {
    refine_segment(field, a, m, depth + 1);
    refine_segment(field, m, b, depth + 1);
    return;
  }
  refine_at(m);
}

// A piece of a split triangle or tetra: its corners as indices into the
// parent's corners followed by the midpoints of the parent's edges, and
// for each of its edges the parent edge it lies on (-1: inside the parent).
template <int Corners, int Edges>
struct split_piece {
  int corner[Corners];
  int parent_edge[Edges];
};

// Triangle edge i joins corners i and i + 1.  Split at the edge midpoints
// (points 3, 4, 5 on edges 0, 1, 2): three corner pieces and the middle one.
constexpr int kTriangleEdges[3][2] = {{0, 1}, {1, 2}, {2, 0}};
constexpr split_piece<3, 3> kTriangleSplit[4] = {
    {{0, 3, 5}, {0, -1, 2}},
    {{3, 1, 4}, {0, 1, -1}},
    {{5, 4, 2}, {-1, 1, 2}},
    {{3, 4, 5}, {-1, -1, -1}},
};

// Triangle with corners p; bit i of own set when edge i lies on an edge of
// the element itself, whose split midpoints refine the octree.
void refine_triangle(const bg_field& field, const bg_point (&p)[3], unsigned own, int depth) {
  bool split = false;
  for (int e = 0; e < 3 && !split && depth < kMaxSplitDepth; ++e) {
    split = too_long(field, p[kTriangleEdges[e][0]], p[kTriangleEdges[e][1]]);
  }
  if (!split) {
    refine_at(mean_point(p));
    return;
  }
  bg_point q[6] = {p[0], p[1], p[2]};
  for (int e = 0; e < 3; ++e) {
    q[3 + e] = midpoint(p[kTriangleEdges[e][0]], p[kTriangleEdges[e][1]]);
    if (own & (1u << e)) refine_at(q[3 + e]);
  }
  for (const auto& piece : kTriangleSplit) {
    const bg_point corners[3] = {q[piece.corner[0]], q[piece.corner[1]], q[piece.corner[2]]};
    unsigned piece_own = 0;
    for (int e = 0; e < 3; ++e) {
      if (piece.parent_edge[e] >= 0 && (own & (1u << piece.parent_edge[e]))) piece_own |= 1u << e;
    }
    refine_triangle(field, corners, piece_own, depth + 1);
  }
}

// Tetra edges by corner pair, and the index of the edge between two corners.
//
//          3
//         /|\          edge 0: 0-1   edge 3: 1-2
//        / | \         edge 1: 0-2   edge 4: 1-3
//       /  |  \        edge 2: 0-3   edge 5: 2-3
//      0---|---2
//       \  |  /        The midpoint of edge e is point 4 + e of a split.
//        \ | /
//          1
constexpr int kTetraEdges[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
constexpr int kTetraEdgeOf[4][4] = {{-1, 0, 1, 2}, {0, -1, 3, 4}, {1, 3, -1, 5}, {2, 4, 5, -1}};

// The octahedron left between the four corner pieces of a split tetra is
// cut into four tetras around one of its three diagonals (pairs of
// opposite edge midpoints); the other four midpoints form the ring around
// it, consecutive ones sharing a face of the parent.
struct octahedron_cut {
  int diagonal[2];
  int ring[4];
};
constexpr octahedron_cut kOctahedronCuts[3] = {
    {{4 + 0, 4 + 5}, {4 + 1, 4 + 2, 4 + 4, 4 + 3}},
    {{4 + 1, 4 + 4}, {4 + 0, 4 + 2, 4 + 5, 4 + 3}},
    {{4 + 2, 4 + 3}, {4 + 0, 4 + 1, 4 + 5, 4 + 4}},
};

// Tetra with corners p; bit e of own set when edge e lies on an edge of the
// element itself.  The octahedron is cut along its shortest diagonal, which
// gives the best shaped pieces.
void refine_tetra(const bg_field& field, const bg_point (&p)[4], unsigned own, int depth) {
  bool split = false;
  for (int e = 0; e < 6 && !split && depth < kMaxSplitDepth; ++e) {
    split = too_long(field, p[kTetraEdges[e][0]], p[kTetraEdges[e][1]]);
  }
  if (!split) {
    refine_at(mean_point(p));
    return;
  }
  bg_point q[10] = {p[0], p[1], p[2], p[3]};
  for (int e = 0; e < 6; ++e) {
    q[4 + e] = midpoint(p[kTetraEdges[e][0]], p[kTetraEdges[e][1]]);
    if (own & (1u << e)) refine_at(q[4 + e]);
  }
  // Corner piece k keeps corner k; its other corners are the midpoints of
  // the edges from k, and its edges from k lie on those edges.
  for (int k = 0; k < 4; ++k) {
    bg_point corners[4];
    unsigned piece_own = 0;
    for (int j = 0; j < 4; ++j) corners[j] = j == k ? q[k] : q[4 + kTetraEdgeOf[k][j]];
    for (int j = 0; j < 4; ++j) {
      if (j != k && (own & (1u << kTetraEdgeOf[k][j]))) piece_own |= 1u << kTetraEdgeOf[k][j];
    }
    refine_tetra(field, corners, piece_own, depth + 1);
  }
  const octahedron_cut* cut = &kOctahedronCuts[0];
  double shortest = squared_distance(q[cut->diagonal[0]], q[cut->diagonal[1]]);
  for (const octahedron_cut& other : kOctahedronCuts) {
    const double d2 = squared_distance(q[other.diagonal[0]], q[other.diagonal[1]]);
    if (d2 < shortest) {
      shortest = d2;
      cut = &other;
    }
  }
  for (int i = 0; i < 4; ++i) {
    const bg_point corners[4] = {q[cut->diagonal[0]], q[cut->diagonal[1]], q[cut->ring[i]],
                                 q[cut->ring[(i + 1) % 4]]};
    refine_tetra(field, corners, 0, depth + 1);
  }
}

// An element, or a piece of one, before the splitting above: a segment,
// triangle or tetra (corners 2, 3 or 4) and the bits of its own edges, in
// the edge numbering of its kind.
struct bg_simplex {
  int corners;
  bg_point p[4];
  unsigned own;
};

constexpr int kSegmentEdges[1][2] = {{0, 1}};

// Half the distance between two points, computed without overflow for any
// finite coordinates (the squared distance of points 1e300 apart is
// infinite, and all such edges would seem equally long).
double half_distance(const bg_point& a, const bg_point& b) {
  return std::hypot(0.5 * b.xyz[0] - 0.5 * a.xyz[0], 0.5 * b.xyz[1] - 0.5 * a.xyz[1], 0.5 * b.xyz[2] - 0.5 * a.xyz[2]);
}

std::span<const int[2]> edges_of(int corners) {
  if (corners == 2) return kSegmentEdges;
  if (corners == 3) return kTriangleEdges;
  return kTetraEdges;
}

// Whether the piece lies so far outside the root box that none of its
// points can refine the octree: moved onto the box, every point has at
// least the smallest corner size plus half the distance between the
// piece's bounding box and the root box, and a size of the root or more
// lowers no corner.
bool beyond_the_root(const bg_field& field, const bg_simplex& piece) {
  double smallest = piece.p[0].size;
  double lo[3], hi[3];
  for (int a = 0; a < 3; ++a) lo[a] = hi[a] = piece.p[0].xyz[a];
  for (int i = 1; i < piece.corners; ++i) {
    smallest = std::min(smallest, piece.p[i].size);
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], piece.p[i].xyz[a]);
      hi[a] = std::max(hi[a], piece.p[i].xyz[a]);
    }
  }
  double gap = 0.0;
  for (int a = 0; a < 3; ++a) {
    gap += std::max({0.0, lo[a] - mgn_tree.root_max[a], mgn_tree.root_min[a] - hi[a]});
  }
  return smallest + 0.5 * gap >= field.root_size;
}

// Refines the octree by an element of any extent.  An element whose edges
// are all shorter than twice the root box diagonal goes to the splitting
// above at once.  A larger one, which reaches far beyond the root box, is
// first bisected at its longest edge, and the pieces beyond the root are
// dropped: split into eight, a tetra with one corner far away would be cut
// into ever more pieces along its face near the root (the halving of the
// far edges takes as many steps as the corner is many root sizes away).
// The bisection makes about k^3 pieces for a corner 2^k root sizes away;
// once the element record has used up its bisections (a corner some 10^8
// root sizes away) the pieces left refine the octree at their centroids.
// (Double precision cannot place the part of an element near the root
// anyway once its corners are some 10^16 root sizes away.)
void refine_simplex(const bg_field& field, const bg_simplex& element, long& bisections_left) {
  const double large_half = std::sqrt(3.0) * field.root_size;
  std::vector<bg_simplex> pending{element};
  while (!pending.empty()) {
    const bg_simplex piece = pending.back();
    pending.pop_back();
    if (bisections_left <= 0) {
      if (!beyond_the_root(field, piece)) refine_at(mean_point(std::span<const bg_point>(piece.p, piece.corners)));
      continue;
    }
    const std::span<const int[2]> edges = edges_of(piece.corners);
    int longest = 0;
    double longest_half = 0.0;
    for (std::size_t e = 0; e < edges.size(); ++e) {
      const double half = half_distance(piece.p[edges[e][0]], piece.p[edges[e][1]]);
      if (half > longest_half) {
        longest_half = half;
        longest = static_cast<int>(e);
      }
    }
    if (longest_half > large_half) {
      if (beyond_the_root(field, piece)) continue;
      const int i = edges[longest][0];
      const int j = edges[longest][1];
      const bg_point m = midpoint(piece.p[i], piece.p[j]);
      --bisections_left;
      const bool own_longest = (piece.own & (1u << longest)) != 0;
      if (own_longest) refine_at(m);
      // Each half keeps one end of the longest edge; its edges from the
      // midpoint to the other corners run inside the piece.
      for (const int replaced : {j, i}) {
        bg_simplex half = piece;
        half.p[replaced] = m;
        for (std::size_t e = 0; e < edges.size(); ++e) {
          if (edges[e][0] == replaced || edges[e][1] == replaced) half.own &= ~(1u << e);
        }
        if (own_longest) half.own |= 1u << longest;
        pending.push_back(half);
      }
      continue;
    }
    switch (piece.corners) {
      case 2:
        refine_segment(field, piece.p[0], piece.p[1], 0);
        break;
      case 3: {
        const bg_point tria[3] = {piece.p[0], piece.p[1], piece.p[2]};
        refine_triangle(field, tria, piece.own, 0);
        break;
      }
      default: {
        const bg_point tetra[4] = {piece.p[0], piece.p[1], piece.p[2], piece.p[3]};
        refine_tetra(field, tetra, piece.own, 0);
        break;
      }
    }
  }
}

// Faces of the volume elements other than the tetra, as corner positions
// within the element record (a triangle has -1 as fourth corner).  Pyramid:
// the base quad, then the four sides up to the apex 4.
struct element_faces {
  int count;
  int corner[6][4];
};
constexpr element_faces kPyramFaces = {5, {{0, 1, 2, 3}, {0, 1, 4, -1}, {1, 2, 4, -1}, {2, 3, 4, -1}, {3, 0, 4, -1}}};
constexpr element_faces kWedgeFaces = {
    5, {{0, 1, 2, -1}, {5, 4, 3, -1}, {0, 3, 4, 1}, {1, 4, 5, 2}, {2, 5, 3, 0}}};
constexpr element_faces kHexaFaces = {
    6, {{0, 1, 2, 3}, {0, 4, 5, 1}, {1, 5, 6, 2}, {2, 6, 7, 3}, {3, 7, 4, 0}, {7, 6, 5, 4}}};

// Own edges of the tetras of a decomposition: edge 0 (the face edge), or
// edges 0, 1 and 3 (the three edges of a triangular face 0 1 2).
constexpr unsigned kFaceEdgeOwn = 1u << 0;
constexpr unsigned kTriangleFaceOwn = (1u << 0) | (1u << 1) | (1u << 3);

void refine_volume_element(const bg_field& field, std::span<const bg_point> p, const element_faces& faces,
                           long& bisections_left) {
  const bg_point centre = mean_point(p);
  for (int f = 0; f < faces.count; ++f) {
    const int* c = faces.corner[f];
    if (c[3] < 0) {
      refine_simplex(field, {4, {p[c[0]], p[c[1]], p[c[2]], centre}, kTriangleFaceOwn}, bisections_left);
      continue;
    }
    const bg_point quad[4] = {p[c[0]], p[c[1]], p[c[2]], p[c[3]]};
    const bg_point face_centre = mean_point(quad);
    for (int i = 0; i < 4; ++i) {
      refine_simplex(field, {4, {quad[i], quad[(i + 1) % 4], face_centre, centre}, kFaceEdgeOwn}, bisections_left);
    }
  }
}

void refine_element(const bg_field& field, bg_kind kind, const bg_point* p) {
  long bisections_left = kMaxBisections;
  switch (kind) {
    case BG_EDGE:
      refine_simplex(field, {2, {p[0], p[1]}, 0x1u}, bisections_left);
      break;
    case BG_TRIA:
      refine_simplex(field, {3, {p[0], p[1], p[2]}, 0x7u}, bisections_left);
      break;
    case BG_QUAD: {
      // Four triangles from the quad's edges to its centre.
      const bg_point centre = mean_point(std::span<const bg_point>(p, 4));
      for (int i = 0; i < 4; ++i) refine_simplex(field, {3, {p[i], p[(i + 1) % 4], centre}, 0x1u}, bisections_left);
      break;
    }
    case BG_TETRA:
      refine_simplex(field, {4, {p[0], p[1], p[2], p[3]}, 0x3fu}, bisections_left);
      break;
    case BG_PYRAM:
      refine_volume_element(field, std::span<const bg_point>(p, 5), kPyramFaces, bisections_left);
      break;
    case BG_WEDGE:
      refine_volume_element(field, std::span<const bg_point>(p, 6), kWedgeFaces, bisections_left);
      break;
    case BG_HEXA:
      refine_volume_element(field, std::span<const bg_point>(p, 8), kHexaFaces, bisections_left);
      break;
    case BG_KINDS:
      break;
  }
}

// --- sections ------------------------------------------------------------

// A node as read: it refines the octree at once and is stored with its
// scaled size and level.  Every corner of the octant reached is lowered, so
// that the size at the node is its own (in corner mode a node in the outer
// part of its octant, alone in the file, got up to 1.6 times its size).  A
// size of 0 requests nothing; the node then holds R / 0.85, beyond any
// octree level, for the elements around it.
bg_node settle_node(const bg_field& field, long id, const double xyz[3], double size) {
  bg_point p{};
  for (int a = 0; a < 3; ++a) p.xyz[a] = xyz[a];
  p.outside = outside_root_box(xyz);
  if (size == 0.0) {
    p.size = field.root_size / MGN_OCTREE_SIZE_SCALE;
  } else {
    // A size that underflows when scaled is as fine as can be.
    p.size = std::max(field.factor / MGN_OCTREE_SIZE_SCALE * size, std::numeric_limits<double>::min());
    double level_size = p.size;
    bool too_fine = false;
    mgn_get_octree_scaled_level(&level_size, &too_fine);
    if (too_fine) {
      p.size = level_size;
      mgn_warning(
          "Warning: Too fine octree required at bg node %ld\n"
          "         Mesh size reduced to %e\n",
          id, MGN_OCTREE_SIZE_SCALE * p.size);
    }
  }
  p.level = level_of(p.xyz, p.size, p.outside);
  if (size > 0.0) refine_at(p, BG_ALL_CORNERS);
  bg_node node{};
  for (int a = 0; a < 3; ++a) node.xyz[a] = xyz[a];
  // Sizes beyond the single precision range are stored as infinite (they
  // refine nothing, like any size of the root or more).
  const double stored = p.size <= std::numeric_limits<float>::max() ? p.size : HUGE_VAL;
  node.size = static_cast<float>(p.outside ? -stored : stored);
  node.level = static_cast<int16_t>(p.level);
  return node;
}

void read_node_section(bg_file& file, bg_field& field, long count) {
  // Nodes in the order read, with their identifier and line; the store by
  // identifier is made once all of them have been read, so that memory
  // follows what the file holds and not what its counts claim.
  struct read_node {
    bg_node node;
    long id;
    long line;
  };
  std::vector<read_node> read;
  read.reserve(static_cast<std::size_t>(std::min(count, 1L << 16)));
  for (long k = 0; k < count; ++k) {
    mgn_get_next_relevant_line(file);
    long id = 0;
    double values[4];
    bool ok = read_integer(file, id);
    for (int i = 0; i < 4 && ok; ++i) ok = read_number(file, values[i]);
    if (!ok) mgn_input_error("Invalid record in bg node section [node_id x y z size]", BG_AT(file));
    if (id < 1 || id > count) mgn_input_error("Invalid bg node number detected", BG_AT(file));
    if (values[3] < 0.0) mgn_input_error("Negative bg mesh size detected", BG_AT(file));
    read.push_back({settle_node(field, id, values, values[3]), id, file.line_number});
  }
  // Each identifier once: a repeated one would leave another node of the
  // count undefined.
  bg_node undefined{};
  undefined.level = -1;
  field.nodes.assign(static_cast<std::size_t>(count), undefined);
  for (const read_node& r : read) {
    bg_node& slot = field.nodes[static_cast<std::size_t>(r.id - 1)];
    if (slot.level >= 0) {
      file.line_number = r.line;
      mgn_input_error("Repeated bg node number detected", BG_AT(file));
    }
    slot = r.node;
  }
}

void read_element_section(bg_file& file, const bg_field& field, bg_kind kind, long count) {
  const bg_kind_record& record = kKindRecords[kind];
  const long node_count = static_cast<long>(field.nodes.size());
  for (long k = 0; k < count; ++k) {
    mgn_get_next_relevant_line(file);
    long values[1 + kMaxElementNodes];
    if (!read_integers(file, values, 1 + record.nodes)) mgn_input_error(record.record_message, BG_AT(file));
    if (values[0] < 1 || values[0] > count) mgn_input_error(record.number_message, BG_AT(file));
    const long* nodes = values + 1;
    for (int i = 0; i < record.nodes; ++i) {
      if (nodes[i] < 1 || nodes[i] > node_count) {
        mgn_input_error(mgn_format("Bg node %ld out of range", static_cast<long>(i + 1)), BG_AT(file));
      }
    }
    for (int i = 0; i < record.nodes; ++i) {
      for (int j = i + 1; j < record.nodes; ++j) {
        if (nodes[i] == nodes[j]) mgn_input_error("Identical bg nodes detected", BG_AT(file));
      }
    }
    bg_point p[kMaxElementNodes];
    for (int i = 0; i < record.nodes; ++i) p[i] = point_of(field.nodes[static_cast<std::size_t>(nodes[i] - 1)]);
    refine_element(field, kind, p);
  }
}

// The mesh of one file after its general record (mesh type and degree at
// the start of the current line): counts, nodes, elements.
void read_mesh(bg_file& file) {
  long type = 0, degree = 0;
  if (!read_integer(file, type) || !read_integer(file, degree)) {
    mgn_input_error("Invalid record in general section of bg mesh file [mesh_type elem_degree]", BG_AT(file));
  }
  if (degree != 1 && degree != 2) mgn_input_error("Unsupported element degree", BG_AT(file));
  const bg_mesh_type* mesh_type = nullptr;
  for (const bg_mesh_type& t : kMeshTypes) {
    if (t.type == type) mesh_type = &t;
  }
  if (mesh_type == nullptr) mgn_input_error("Unknown mesh type", BG_AT(file));
  if (degree == 2) mgn_warning("Warning: Midside bg nodes ignored\n");

  mgn_get_next_relevant_line(file);
  long counts[1 + BG_KINDS];
  if (!read_integers(file, counts, 1 + mesh_type->kinds)) mgn_input_error(mesh_type->counts_message, BG_AT(file));
  for (int i = 0; i <= mesh_type->kinds; ++i) {
    if (counts[i] < 0) mgn_input_error("Negative number of bg mesh entities not expected", BG_AT(file));
  }
  const long node_count = counts[0];
  if (node_count == 0) mgn_input_error("Zero number of bg nodes not expected", BG_AT(file));
  long elements[BG_KINDS] = {};
  for (int i = 0; i < mesh_type->kinds; ++i) elements[mesh_type->counted[i]] = counts[1 + i];
  for (int kind = 0; kind < BG_KINDS; ++kind) {
    if (elements[kind] > 0 && node_count < kKindRecords[kind].nodes) {
      mgn_input_error(kKindRecords[kind].few_nodes_message, BG_AT(file));
    }
  }

  bg_field field{mgn_set.bg_size_factor, mgn_tree.root_size, {}};
  read_node_section(file, field, node_count);
  for (int kind = 0; kind < BG_KINDS; ++kind) {
    if (elements[kind] > 0) read_element_section(file, field, static_cast<bg_kind>(kind), elements[kind]);
  }
  expect_end_of_file(file);
}

// Reads the named file: a complete background mesh, or (unless it is a
// part itself) the list of the files of a mesh split into parts.
void read_bg_mesh(const std::string& name, bool part) {
  long parts = 0;
  {
    bg_file file;
    open_bg_file(file, name);
    mgn_get_next_relevant_line(file);
    const std::size_t record_start = file.position;
    long first = 0;
    if (!read_integer(file, first)) mgn_input_error("Invalid record in general section of bg mesh file", BG_AT(file));
    if (first != 0) {
      file.position = record_start;
      read_mesh(file);
      return;
    }
    if (part) mgn_input_error("Recursive use of multiple bg mesh file not allowed", BG_AT(file));
    if (!read_integer(file, parts) || parts < 1 || parts > INT_MAX) {
      mgn_input_error("Invalid record in general section of bg mesh file [0 num_files]", BG_AT(file));
    }
    expect_end_of_file(file);
  }
  for (long i = 0; i < parts; ++i) read_bg_mesh(name + "." + std::to_string(i), true);
}

}  // namespace

void mgn_build_octree_bg_mesh() {
  if (mgn_set.bg_mesh_file_name.empty() || !(mgn_set.bg_size_factor > 0.0) || mgn_tree.root == nullptr) return;
  try {
    read_bg_mesh(mgn_set.bg_mesh_file_name, false);
  } catch (const std::bad_alloc&) {
    mgn_allocation_error("Memory allocation failed", MGN_HERE);
  }
}
