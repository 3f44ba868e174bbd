// Region tetrahedralization by an advancing front in space.
//
// The front is a closed set of oriented triangles (front faces) whose free
// side looks into the part of the region still to be filled.  It starts as
// the triangles of the region's bounding surfaces, patches and shells (on
// the side facing the region) and of the entities fixed inside it (both
// sides); vertices and curves fixed inside the region enter as isolated
// points and segments that the mesh must take as nodes and edges.
//
// One step works on a base face A B C (turning counterclockwise seen from
// its free side):
//  1. the ideal apex P lies above the weighted centre of the base at the
//     height of a regular tetra of the face's size, corrected toward the
//     size the octree asks for at P;
//  2. the front nodes near the base and on its free side are candidates,
//     scored by the height above the base plane of the centre of the sphere
//     through A, B, C and the node (the smallest score is the node no other
//     candidate lies inside the sphere of: the Delaunay choice);
//  3. the trials are, in order: the candidates the sphere of the best one
//     near P leaves no room beside, those inside the sphere through A, B, C
//     and P, the ideal point itself (at full and lowered heights), then the
//     remaining candidates;
//  4. a trial is taken when its tetra is good enough for the step's
//     threshold and valid: none of its new faces meets a front face except
//     in shared nodes or a shared edge, no front node or fixed point or
//     segment lies in it, a face of it that already is a front face is one
//     it closes, and an existing edge it uses still lies on the front.  All
//     these decisions are exact orientation tests (src/geom), so an accepted
//     tetra never overlaps the mesh;
//  5. a face no trial fits is put back to be tried later with a lower
//     threshold; a face that still fails takes the local remedies: the
//     piece of front around it, when small and closed, is filled from one
//     point that sees all its faces; else the tetras around the base nodes
//     are taken out (a cavity) and their faces return to the front.
//
// Faces are taken in the order they join the front (the bounding faces in
// entity order first), so the mesh grows in layers from the boundary.  The
// front faces live in a scratch array with a dynamic box tree over their
// bounding boxes for the neighbourhood queries; the tetras keep the links to
// their neighbours (src/topo3), so faces inside the region are not stored
// once the front has passed them.
#include "discret3.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "element.h"
#include "geom.h"
#include "list.h"
#include "mesh1.h"
#include "message.h"
#include "octree.h"
#include "topo3.h"
#include "vec3.h"

mgn_region_stats mgn_region_stat;

namespace {

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

// Height of the regular tetra over its edge length: sqrt(2/3).
constexpr double kRegularHeight = 0.8164965809277260;
// Quality thresholds of the successive tries of one face (boundary quality
// 374.1229744 V^2 / S^3; the last try takes any tetra of positive volume).
constexpr double kThreshold[] = {0.20, 0.08, 0.02, 0.0};
constexpr int kTries = 4;
// Lowered heights of the ideal point tried after the full one.
constexpr double kLoweredHeight[] = {1.0, 0.75, 0.5, 0.3, 0.15};
// The dihedral angle that the pyramids on the two faces of a boundary edge
// leave between their side faces (37 degrees: a quarter-edge high pyramid
// on each face of a right angle), and the highest and the lowest pyramid
// (of its mean edge length).
constexpr double kPyramGap = 36.87 * MGN_PI / 180.0;
constexpr double kPyramTop = 0.6;
constexpr double kPyramLowest = 0.15;
// Heights tried on the first tries of a face; the last try takes them all.
constexpr int kUsualHeights = 3;
// A new node keeps this fraction of the local size from front nodes and
// this fraction from front faces.
constexpr double kNodeClearance = 0.45;
constexpr double kFaceClearance = 0.2;
// Reach of the candidate search around the base's centre on a face's
// later tries, in sizes.
constexpr double kReach = 2.0;
// A front piece of at most this many faces may be closed around one point.
constexpr std::size_t kStarFaces = 400;
// Consecutive remeshings of a region without progress: above the first
// count the cavities grow wider, above the second the heights are lowered,
// at the third the run ends.
constexpr int kWiderRemeshing = 5;
constexpr int kLowerHeights = 10;
constexpr int kRemeshingLimit = 15;
// Sentinel front count of a node fixed alone inside the region until a
// tetra reaches it.
constexpr int32_t kIsolated = 12345;

inline double tetra_quality(const double* a, const double* b, const double* c, const double* d, double* volume) {
  return mgn_get_tetra_shape_quality(a, b, c, d, volume);
}

// ---------------------------------------------------------------------------
// Box tree: a dynamic bounding-box hierarchy over the front (a binary tree
// kept balanced by rotations, each leaf holding one item's box).
// ---------------------------------------------------------------------------

struct box {
  double lo[3], hi[3];
};
inline box unite(const box& a, const box& b) {
  box r;
  for (int k = 0; k < 3; ++k) {
    r.lo[k] = std::min(a.lo[k], b.lo[k]);
    r.hi[k] = std::max(a.hi[k], b.hi[k]);
  }
  return r;
}
inline bool overlap(const box& a, const box& b) {
  for (int k = 0; k < 3; ++k)
    if (a.hi[k] < b.lo[k] || b.hi[k] < a.lo[k]) return false;
  return true;
}
inline double half_area(const box& b) {
  const double x = b.hi[0] - b.lo[0], y = b.hi[1] - b.lo[1], z = b.hi[2] - b.lo[2];
  return x * y + y * z + z * x;
}
box box_of(const double* const* points, int count) {
  box r;
  for (int k = 0; k < 3; ++k) r.lo[k] = r.hi[k] = points[0][k];
  for (int i = 1; i < count; ++i)
    for (int k = 0; k < 3; ++k) {
      r.lo[k] = std::min(r.lo[k], points[i][k]);
      r.hi[k] = std::max(r.hi[k], points[i][k]);
    }
  return r;
}

// Single-precision boxes, rounded outward (so they always hold the double
// box they stand for): half the memory per tree node for the walks.
struct float_box {
  float lo[3], hi[3];
};
inline float round_down(double v) {
  if (!(v > -std::numeric_limits<float>::max())) return -std::numeric_limits<float>::infinity();
  if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::max();
  float f = static_cast<float>(v);
  if (static_cast<double>(f) > v) f = std::nextafter(f, -std::numeric_limits<float>::infinity());
  return f;
}
inline float round_up(double v) {
  if (!(v < std::numeric_limits<float>::max())) return std::numeric_limits<float>::infinity();
  if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::max();
  float f = static_cast<float>(v);
  if (static_cast<double>(f) < v) f = std::nextafter(f, std::numeric_limits<float>::infinity());
  return f;
}
inline float_box widen(const box& b) {
  float_box r;
  for (int k = 0; k < 3; ++k) {
    r.lo[k] = round_down(b.lo[k]);
    r.hi[k] = round_up(b.hi[k]);
  }
  return r;
}
inline float_box unite(const float_box& a, const float_box& b) {
  float_box r;
  for (int k = 0; k < 3; ++k) {
    r.lo[k] = std::min(a.lo[k], b.lo[k]);
    r.hi[k] = std::max(a.hi[k], b.hi[k]);
  }
  return r;
}
inline bool contains(const box& b, const double* p) {
  for (int k = 0; k < 3; ++k)
    if (p[k] < b.lo[k] || p[k] > b.hi[k]) return false;
  return true;
}
inline bool overlap(const float_box& a, const float_box& b) {
  for (int k = 0; k < 3; ++k)
    if (a.hi[k] < b.lo[k] || b.hi[k] < a.lo[k]) return false;
  return true;
}
inline double half_area(const float_box& b) {
  const double x = static_cast<double>(b.hi[0]) - b.lo[0], y = static_cast<double>(b.hi[1]) - b.lo[1],
               z = static_cast<double>(b.hi[2]) - b.lo[2];
  return x * y + y * z + z * x;
}

// Morton code of a point in the box lo..hi (21 bits per axis, points
// outside clamped to it).
uint64_t morton_code(const double* p, const double* lo, const double* hi) {
  uint64_t code = 0;
  uint32_t cell[3];
  for (int k = 0; k < 3; ++k) {
    const double extent = hi[k] - lo[k];
    double t = extent > 0.0 ? (p[k] - lo[k]) / extent : 0.0;
    t = std::min(std::max(t, 0.0), 1.0);
    cell[k] = static_cast<uint32_t>(t * 2097151.0);
  }
  for (int bit = 20; bit >= 0; --bit)
    for (int k = 0; k < 3; ++k) code = (code << 1) | ((cell[k] >> bit) & 1u);
  return code;
}

class box_tree {
 public:
  int insert(const box& exact, int32_t item) {
    ++changes_;
    ++leaves_;
    const float_box b = widen(exact);
    const int leaf = allocate();
    cold_[leaf].bounds = b;
    cold_[leaf].item = item;
    cold_[leaf].height = 0;
    if (root_ < 0) {
      root_ = leaf;
      cold_[leaf].parent = -1;
      return leaf;
    }
    // The sibling whose union with the new box costs the least surface.
    int index = root_;
    while (nodes_[index].left >= 0) {
      const node& n = nodes_[index];
      const double area = half_area(cold_[index].bounds);
      const double combined = half_area(unite(cold_[index].bounds, b));
      const double cost = 2.0 * combined;
      const double inherit = 2.0 * (combined - area);
      // From the copies of the children's boxes held by the node.
      auto child_cost = [&](int c) {
        const double merged = half_area(unite(n.child[c], b));
        return (n.child_item[c] != kInner ? merged : merged - half_area(n.child[c])) + inherit;
      };
      const double cost_left = child_cost(0);
      const double cost_right = child_cost(1);
      if (cost < cost_left && cost < cost_right) break;
      index = cost_left < cost_right ? n.left : n.right;
    }
    const int sibling = index;
    const int old_parent = cold_[sibling].parent;
    const int parent = allocate();
    cold_[parent].parent = old_parent;
    cold_[parent].bounds = unite(cold_[sibling].bounds, b);
    cold_[parent].height = cold_[sibling].height + 1;
    cold_[parent].item = -1;
    nodes_[parent].left = sibling;
    nodes_[parent].right = leaf;
    cold_[sibling].parent = parent;
    cold_[leaf].parent = parent;
    if (old_parent < 0) {
      root_ = parent;
    } else if (nodes_[old_parent].left == sibling) {
      nodes_[old_parent].left = parent;
    } else {
      nodes_[old_parent].right = parent;
    }
    refit(parent, 2);  // the new parent, and the old one whose child it replaced
    return leaf;
  }

  void remove(int leaf) {
    ++changes_;
    --leaves_;
    if (leaf == root_) {
      root_ = -1;
      release(leaf);
      return;
    }
    const int parent = cold_[leaf].parent;
    const int grand = cold_[parent].parent;
    const int sibling = nodes_[parent].left == leaf ? nodes_[parent].right : nodes_[parent].left;
    if (grand >= 0) {
      if (nodes_[grand].left == parent) nodes_[grand].left = sibling;
      else nodes_[grand].right = sibling;
      cold_[sibling].parent = grand;
      release(parent);
      refit(grand, 1);
    } else {
      root_ = sibling;
      cold_[sibling].parent = -1;
      release(parent);
    }
    release(leaf);
  }

  // Calls visit(item) for every item whose box may overlap b (the boxes are
  // rounded outward: a few more items than overlap may be visited).
  template <typename F>
  void query(const box& exact, F&& visit) {
    if (root_ < 0) return;
    const float_box b = widen(exact);
    // An inner node holds its children's boxes and the items of its leaf
    // children, so a walk reads one record per inner node it enters.
    if (nodes_[root_].left < 0) {
      if (overlap(cold_[root_].bounds, b)) visit(cold_[root_].item);
      return;
    }
    stack_.clear();
    stack_.push_back(root_);
    while (!stack_.empty()) {
      const int index = stack_.back();
      stack_.pop_back();
      const node& n = nodes_[index];
      for (int c = 0; c < 2; ++c) {
        if (!overlap(n.child[c], b)) continue;
        if (n.child_item[c] != kInner) {
          visit(n.child_item[c]);
        } else {
          // Asked for now, read when popped: the loads of the subtrees
          // still to walk overlap instead of waiting one after another.
          const int child = c == 0 ? n.left : n.right;
          __builtin_prefetch(&nodes_[child]);
          stack_.push_back(child);
        }
      }
    }
  }

  void clear() {
    nodes_ = {};
    cold_ = {};
    stack_ = {};
    root_ = -1;
    free_ = -1;
    changes_ = 0;
    leaves_ = 0;
  }

  // Whether enough insertions and removals have happened since the tree
  // was last built that a rebuild pays off.
  bool worn() const { return changes_ > 2 * leaves_ + 4096; }

  // Builds the tree again with the leaves in the Morton order of their
  // centres, each subtree in one run of records: the walks of nearby
  // queries then read few and neighbouring records, and the records freed
  // and taken again by the steps stay near.  placed(item, leaf) reports the
  // new leaf of every item.
  template <typename F>
  void rebuild(F&& placed) {
    changes_ = 0;
    if (root_ < 0) return;
    struct keyed {
      uint64_t key;
      int32_t item;
      float_box bounds;
    };
    std::vector<keyed> leaves;
    leaves.reserve(static_cast<std::size_t>(leaves_));
    const float_box all = cold_[root_].bounds;
    stack_.clear();
    stack_.push_back(root_);
    while (!stack_.empty()) {
      const int index = stack_.back();
      const node& n = nodes_[index];
      const node_links& info = cold_[index];
      stack_.pop_back();
      if (n.left >= 0) {
        stack_.push_back(n.left);
        stack_.push_back(n.right);
        continue;
      }
      double centre[3], lo[3], hi[3];
      for (int k = 0; k < 3; ++k) {
        centre[k] = 0.5 * (static_cast<double>(info.bounds.lo[k]) + info.bounds.hi[k]);
        lo[k] = all.lo[k];
        hi[k] = all.hi[k];
      }
      leaves.push_back({morton_code(centre, lo, hi), info.item, info.bounds});
    }
    std::sort(leaves.begin(), leaves.end(), [](const keyed& a, const keyed& b) {
      return a.key != b.key ? a.key < b.key : a.item < b.item;
    });
    nodes_.clear();
    cold_.clear();
    free_ = -1;
    nodes_.reserve(2 * leaves.size());
    cold_.reserve(2 * leaves.size());
    // Pre-order: a node, then its left subtree, then its right one.
    auto build = [&](auto&& self, std::size_t lo, std::size_t hi) -> int {
      const int index = allocate();
      if (hi - lo == 1) {
        cold_[index].bounds = leaves[lo].bounds;
        cold_[index].item = leaves[lo].item;
        placed(leaves[lo].item, index);
        return index;
      }
      const std::size_t mid = lo + (hi - lo) / 2;
      const int left = self(self, lo, mid);
      const int right = self(self, mid, hi);
      nodes_[index].left = left;
      nodes_[index].right = right;
      cold_[left].parent = index;
      cold_[right].parent = index;
      fix(index);
      return index;
    };
    root_ = build(build, 0, leaves.size());
    cold_[root_].parent = -1;
  }
  std::size_t capacity_bytes() const {
    return nodes_.capacity() * sizeof(node) + cold_.capacity() * sizeof(node_links);
  }

 private:
  // Marks a child that is an inner node (items are face slots, >= 0, and
  // fixed pieces, small negative numbers).
  static constexpr int32_t kInner = std::numeric_limits<int32_t>::min();
  // A node is split in two records of two parallel arrays: what a query
  // walk reads (one cache line: the children's boxes, indices and items)
  // and what only the changes of the tree read.
  struct alignas(64) node {
    float_box child[2];           // boxes of the children (inner nodes)
    int32_t left = -1, right = -1;
    int32_t child_item[2] = {kInner, kInner};  // items of leaf children
  };
  static_assert(sizeof(node) == 64, "a walk reads one cache line per node");
  struct node_links {
    float_box bounds;
    int32_t parent = -1, height = 0, item = -1;
  };

  // Height, box and the copies of the children's boxes and items of the
  // inner node index, from its children.
  void fix(int index) {
    node& n = nodes_[index];
    const node_links& l = cold_[n.left];
    const node_links& r = cold_[n.right];
    cold_[index].height = 1 + std::max(l.height, r.height);
    cold_[index].bounds = unite(l.bounds, r.bounds);
    n.child[0] = l.bounds;
    n.child[1] = r.bounds;
    n.child_item[0] = nodes_[n.left].left < 0 ? l.item : kInner;
    n.child_item[1] = nodes_[n.right].left < 0 ? r.item : kInner;
  }

  int allocate() {
    if (free_ >= 0) {
      const int index = free_;
      free_ = cold_[index].parent;
      nodes_[index] = node{};
      cold_[index] = node_links{};
      return index;
    }
    nodes_.emplace_back();
    cold_.emplace_back();
    return static_cast<int>(nodes_.size()) - 1;
  }
  void release(int index) {
    cold_[index].parent = free_;
    nodes_[index].left = nodes_[index].right = -1;
    cold_[index].height = -1;
    free_ = index;
  }

  // Walks up from index, balancing and refitting the nodes on the way.  The
  // first `forced` nodes are always refitted (their children changed);
  // above them the walk stops at the first node that keeps its box and
  // height without a rotation: its ancestors' copies of it still hold, and
  // no height above it changes, so none needs balancing.
  void refit(int index, int forced) {
    while (index >= 0) {
      const float_box before = cold_[index].bounds;
      const int height = cold_[index].height;
      const int now = balance(index);
      fix(now);
      if (forced > 0) {
        --forced;
      } else if (now == index && height == cold_[now].height && same(before, cold_[now].bounds)) {
        return;
      }
      index = cold_[now].parent;
    }
  }
  static bool same(const float_box& a, const float_box& b) {
    for (int k = 0; k < 3; ++k)
      if (a.lo[k] != b.lo[k] || a.hi[k] != b.hi[k]) return false;
    return true;
  }

  void replace_child(int parent, int from, int to) {
    if (parent < 0) {
      root_ = to;
    } else if (nodes_[parent].left == from) {
      nodes_[parent].left = to;
    } else {
      nodes_[parent].right = to;
    }
  }

  // Rotates the taller child of a up when the heights of a's children
  // differ by more than one; returns the node now in a's place.
  int balance(int a) {
    node& na = nodes_[a];
    if (na.left < 0 || cold_[a].height < 2) return a;
    const int b = na.left, c = na.right;
    const int diff = cold_[c].height - cold_[b].height;
    if (diff > 1) return rotate_up(a, c, false);
    if (diff < -1) return rotate_up(a, b, true);
    return a;
  }
  // Lifts child `up` of a into a's place (a keeps its other child); the
  // taller grandchild stays under up, the shorter moves under a.
  int rotate_up(int a, int up, bool up_is_left) {
    const int f = nodes_[up].left, g = nodes_[up].right;
    const int parent = cold_[a].parent;
    nodes_[up].left = a;
    cold_[up].parent = parent;
    cold_[a].parent = up;
    replace_child(parent, a, up);
    const bool f_taller = cold_[f].height > cold_[g].height;
    const int keep = f_taller ? f : g;
    const int move = f_taller ? g : f;
    nodes_[up].right = keep;
    if (up_is_left) nodes_[a].left = move;
    else nodes_[a].right = move;
    cold_[move].parent = a;
    fix(a);
    fix(up);
    return up;
  }

  std::vector<node> nodes_;
  std::vector<node_links> cold_;
  std::vector<int> stack_;
  int root_ = -1;
  int free_ = -1;
  long changes_ = 0;  // insertions and removals since the last build
  long leaves_ = 0;
};

// ---------------------------------------------------------------------------
// Exact intersection tests between the triangles and segments of the front
// and of a trial tetra.  Nodes are compared by identity: shared nodes are
// the ones the two elements may touch in.
// ---------------------------------------------------------------------------

// The two coordinates of the plane onto which a triangle is projected: the
// axes other than the largest component of its normal.
void projection_axes(const double* a, const double* b, const double* c, int* i, int* j) {
  double u[3], v[3], n[3];
  mgn_sub(b, a, u);
  mgn_sub(c, a, v);
  mgn_cross(u, v, n);
  const double x = std::fabs(n[0]), y = std::fabs(n[1]), z = std::fabs(n[2]);
  if (x >= y && x >= z) {
    *i = 1;
    *j = 2;
  } else if (y >= z) {
    *i = 2;
    *j = 0;
  } else {
    *i = 0;
    *j = 1;
  }
}

// Whether p lies on the closed segment a b of a line they share (exact:
// coordinates compared).
bool between(const double* a, const double* b, const double* p, int i, int j) {
  return std::min(a[i], b[i]) <= p[i] && p[i] <= std::max(a[i], b[i]) && std::min(a[j], b[j]) <= p[j] &&
         p[j] <= std::max(a[j], b[j]);
}

// Closed segments p q and r s in the projection plane (i, j).
bool segments_meet_2d(const double* p, const double* q, const double* r, const double* s, int i, int j) {
  const int d1 = mgn_orient2d(r, s, p, i, j), d2 = mgn_orient2d(r, s, q, i, j);
  const int d3 = mgn_orient2d(p, q, r, i, j), d4 = mgn_orient2d(p, q, s, i, j);
  if (d1 * d2 < 0 && d3 * d4 < 0) return true;
  if (d1 == 0 && between(r, s, p, i, j)) return true;
  if (d2 == 0 && between(r, s, q, i, j)) return true;
  if (d3 == 0 && between(p, q, r, i, j)) return true;
  if (d4 == 0 && between(p, q, s, i, j)) return true;
  return false;
}

// Point p in the closed triangle a b c of the projection plane.
bool point_in_triangle_2d(const double* p, const double* a, const double* b, const double* c, int i, int j) {
  const int s1 = mgn_orient2d(a, b, p, i, j), s2 = mgn_orient2d(b, c, p, i, j), s3 = mgn_orient2d(c, a, p, i, j);
  return (s1 >= 0 && s2 >= 0 && s3 >= 0) || (s1 <= 0 && s2 <= 0 && s3 <= 0);
}

// The closed segment p q meets the closed triangle a b c.
bool segment_meets_triangle(const double* p, const double* q, const double* a, const double* b, const double* c) {
  const int o1 = mgn_orient3d(a, b, c, p), o2 = mgn_orient3d(a, b, c, q);
  if (o1 * o2 > 0) return false;
  if (o1 == 0 && o2 == 0) {
    int i, j;
    projection_axes(a, b, c, &i, &j);
    if (point_in_triangle_2d(p, a, b, c, i, j) || point_in_triangle_2d(q, a, b, c, i, j)) return true;
    return segments_meet_2d(p, q, a, b, i, j) || segments_meet_2d(p, q, b, c, i, j) ||
           segments_meet_2d(p, q, c, a, i, j);
  }
  const int s1 = mgn_orient3d(p, q, a, b), s2 = mgn_orient3d(p, q, b, c), s3 = mgn_orient3d(p, q, c, a);
  return (s1 >= 0 && s2 >= 0 && s3 >= 0) || (s1 <= 0 && s2 <= 0 && s3 <= 0);
}

// Direction of d from the apex p inside the closed angle (u, p, w) of a
// triangle, all in one plane (projection axes i, j).
bool inside_angle(const double* p, const double* u, const double* w, const double* d, int i, int j) {
  const int o = mgn_orient2d(p, u, w, i, j);
  if (o == 0) return false;
  return mgn_orient2d(p, u, d, i, j) * o >= 0 && mgn_orient2d(p, d, w, i, j) * o >= 0;
}

// Whether the triangles g and f meet anywhere but in the nodes and the edge
// they share.
// Sine of the angle between two triangles sharing an edge below which they
// are taken as lying in one plane.
constexpr double kNearlyCoplanar = 1e-10;

bool triangles_conflict(mgn_node* const g[3], mgn_node* const f[3]) {
  int gi[3], fi[3], shared = 0;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b)
      if (g[a] == f[b]) {
        gi[shared] = a;
        fi[shared] = b;
        ++shared;
      }
  if (shared == 3) return false;
  const double* G[3] = {g[0]->xyz, g[1]->xyz, g[2]->xyz};
  const double* F[3] = {f[0]->xyz, f[1]->xyz, f[2]->xyz};
  // Side tests: one triangle strictly on one side of the other's plane.
  // (Shared nodes lie on both planes: their tests are 0 without asking.)
  // The sides of f's nodes are asked first: most pairs are told apart by
  // them alone, and g's sides are then not needed.
  int of[3], og[3];
  bool og_known = false;
  for (int k = 0; k < 3; ++k) {
    const bool f_shared = f[k] == g[0] || f[k] == g[1] || f[k] == g[2];
    of[k] = f_shared ? 0 : mgn_orient3d(G[0], G[1], G[2], F[k]);
  }
  auto sides_of_g = [&]() {
    if (og_known) return;
    og_known = true;
    for (int k = 0; k < 3; ++k) {
      const bool g_shared = g[k] == f[0] || g[k] == f[1] || g[k] == f[2];
      og[k] = g_shared ? 0 : mgn_orient3d(F[0], F[1], F[2], G[k]);
    }
  };
  auto one_side = [](const int* o, const int* skip_index, int skips) {
    int pos = 0, neg = 0;
    for (int k = 0; k < 3; ++k) {
      bool skipped = false;
      for (int s = 0; s < skips; ++s) skipped = skipped || skip_index[s] == k;
      if (skipped) continue;
      if (o[k] > 0) ++pos;
      else if (o[k] < 0) ++neg;
      else return false;
    }
    return pos == 0 || neg == 0;
  };
  if (shared == 0) {
    if (one_side(of, fi, 0)) return false;
    sides_of_g();
    if (one_side(og, gi, 0)) return false;
    for (int k = 0; k < 3; ++k) {
      if (segment_meets_triangle(G[k], G[(k + 1) % 3], F[0], F[1], F[2])) return true;
      if (segment_meets_triangle(F[k], F[(k + 1) % 3], G[0], G[1], G[2])) return true;
    }
    return false;
  }
  if (shared == 2) {
    // Sharing the edge u v: they overlap only when coplanar with the third
    // nodes on one side of the edge.  Coplanar up to rounding counts too:
    // the nodes of a flat wall that was turned and moved are off its plane
    // by the last bits of their coordinates, and a face folded onto the
    // wall's faces across such an angle would make a flat tetra the front
    // has to close later.
    const int ga = 3 - gi[0] - gi[1], fa = 3 - fi[0] - fi[1];
    const double* u = G[gi[0]];
    const double* v = G[gi[1]];
    if (of[fa] != 0) {
      double e[3], w[3], r[3], n[3];
      mgn_sub(v, u, e);
      mgn_sub(G[ga], u, w);
      mgn_sub(F[fa], u, r);
      mgn_cross(e, w, n);
      const double off = std::fabs(mgn_dot(n, r));
      if (!(off <= kNearlyCoplanar * std::sqrt(mgn_dot(n, n) * mgn_dot(r, r)))) return false;
    }
    int i, j;
    projection_axes(G[0], G[1], G[2], &i, &j);
    return mgn_orient2d(u, v, G[ga], i, j) * mgn_orient2d(u, v, F[fa], i, j) > 0;
  }
  // One shared node p.
  if (one_side(of, fi, 1)) return false;
  sides_of_g();
  if (one_side(og, gi, 1)) return false;
  const int g1 = (gi[0] + 1) % 3, g2 = (gi[0] + 2) % 3;
  const int f1 = (fi[0] + 1) % 3, f2 = (fi[0] + 2) % 3;
  if (segment_meets_triangle(G[g1], G[g2], F[0], F[1], F[2])) return true;
  if (segment_meets_triangle(F[f1], F[f2], G[0], G[1], G[2])) return true;
  if (of[f1] == 0 && of[f2] == 0) {
    // Coplanar: the angles at p overlap when an edge of one runs inside the
    // other.
    const double* p = G[gi[0]];
    int i, j;
    projection_axes(G[0], G[1], G[2], &i, &j);
    return inside_angle(p, G[g1], G[g2], F[f1], i, j) || inside_angle(p, G[g1], G[g2], F[f2], i, j) ||
           inside_angle(p, F[f1], F[f2], G[g1], i, j) || inside_angle(p, F[f1], F[f2], G[g2], i, j);
  }
  return false;
}

// Whether the segment s0 s1 meets the triangle t anywhere but in shared
// nodes (a segment that is an edge of the triangle does not conflict).
bool segment_conflicts_triangle(mgn_node* s0, mgn_node* s1, mgn_node* const t[3]) {
  const bool has0 = s0 == t[0] || s0 == t[1] || s0 == t[2];
  const bool has1 = s1 == t[0] || s1 == t[1] || s1 == t[2];
  if (has0 && has1) return false;
  const double *a = t[0]->xyz, *b = t[1]->xyz, *c = t[2]->xyz;
  if (!has0 && !has1) return segment_meets_triangle(s0->xyz, s1->xyz, a, b, c);
  mgn_node* p = has0 ? s0 : s1;  // the shared node
  mgn_node* q = has0 ? s1 : s0;
  if (mgn_orient3d(a, b, c, q->xyz) != 0) return false;
  int i, j;
  projection_axes(a, b, c, &i, &j);
  const int k = p == t[0] ? 0 : (p == t[1] ? 1 : 2);
  return inside_angle(p->xyz, t[(k + 1) % 3]->xyz, t[(k + 2) % 3]->xyz, q->xyz, i, j);
}

// ---------------------------------------------------------------------------
// The mesher's context
// ---------------------------------------------------------------------------

// A face of the front: nodes turning counterclockwise seen from the free
// side; the element on its other side (a tetra and its local face, or a
// triangle of a surface, patch or shell and the side that faces the
// region); the links of the three node lists of front faces.
struct front_face {
  mgn_node* n[3];
  void* owner;
  int8_t owner_type;  // MGN_ELEM_TETRA or MGN_ELEM_FACE
  int8_t owner_slot;  // local face of the tetra, or side of the triangle
  int16_t tries;
  int32_t layer;      // layers of tetras between the face and the boundary
  int32_t next[3];    // next front face at n[k] (-1: end)
  int32_t leaf;       // leaf of the box tree
  uint32_t stamp;     // changes whenever the slot is reused
  bool alive;
  box bounds;         // bounding box
};

// A vertex or a curve edge fixed inside the region: an isolated point or a
// segment of the front until a tetra takes it.
struct fixed_piece {
  mgn_node* n[2];
  int32_t leaf;
  bool alive;
};

// What the mesher keeps per node it meets (node->work holds the index;
// the node pointer confirms it): the first front face at the node and the
// first tetra of the region at it.
struct node_info {
  mgn_node* node;
  int32_t face_head;
  int32_t tetra_head;
  uint32_t mark;
};

// A face waiting in the queue: the order key (tries so far, then the order
// of entry) and the slot with its stamp (a face that left the front
// meanwhile is skipped when it comes up).
struct queued_face {
  int32_t tries;
  int32_t layer;
  uint64_t place;     // Morton code of the face's centre in the front's box
  uint64_t sequence;
  int32_t index;
  uint32_t stamp;
};
// Heap order: the face that comes first compares greatest.
inline bool comes_after(const queued_face& a, const queued_face& b) {
  if (a.tries != b.tries) return a.tries > b.tries;
  if (a.layer != b.layer) return a.layer > b.layer;
  if (a.place != b.place) return a.place > b.place;
  return a.sequence > b.sequence;
}

// A candidate apex of one step.
struct candidate {
  mgn_node* node;
  double score;    // centre height of the sphere through A, B, C and it
  double quality;  // of the tetra on the base (negative until measured)
  double distance2;  // from the ideal point
  double centre_distance2;  // from the weighted centre of the base
};

// The state of one region run.
struct region_context {
  mgn_region* region = nullptr;
  double region_size = 0.0;  // the region's own size limit (0: none)
  double height_scale = 1.0;
  double volume_sum = 0.0;
  double reference_volume = 0.0;
  long live_tetras = 0;
  mgn_octant* hint = nullptr;

  std::vector<front_face> faces;
  std::vector<int32_t> free_faces;
  long live_faces = 0;
  std::vector<fixed_piece> pieces;
  std::vector<node_info> nodes;
  box_tree tree;
  // Faces waiting for a step (see push_face), the layer a new face joins and
  // the box of the bounding faces that places are measured in.
  int32_t current_layer = 0;
  double place_lo[3] = {0.0, 0.0, 0.0}, place_hi[3] = {0.0, 0.0, 0.0};
  std::vector<queued_face> queue;
  uint64_t queued = 0;

  // Tetras of the region by serial (identifier minus the first one of the
  // region) and the links of the node lists of tetras (4 per tetra).
  int32_t first_tetra_id = 0;
  std::vector<mgn_tetra*> tetras;
  std::vector<int32_t> tetra_links;

  // Quads of the boundary waiting for their pyramids (with the side that
  // faces the region), and the volume the pyramids fill.
  std::vector<std::pair<mgn_quad*, int>> boundary_quads;
  // While the pyramids are made: the boxes of the boundary quads (items
  // are indices into boundary_quads), which no pyramid may cross.
  box_tree quad_tree;
  double pyram_volume = 0.0;

  // Remeshing guard.
  int remeshings = 0;
  long progress_mark = 0;
  bool warned_small_size = false;

  // Scratch of a step.
  uint32_t mark = 0;
  std::vector<int32_t> near_faces;
  std::vector<int32_t> near_pieces;
  std::vector<mgn_node*> near_nodes;
  std::vector<candidate> candidates;
  std::vector<char> tried;  // candidates of the step already tried
};

region_context ctx;

// Names under which the steps of the mesher report their failures.
constexpr const char* kDiscretizeSubregion = "mgn_discretize_subregion";
constexpr const char* kGenerateTetra = "mgn_generate_tetra";
constexpr const char* kSearchNeighbourhood = "mgn_search_region_point_neighbourhood";
constexpr const char* kNeighbourNode = "mgn_get_neighbour_node";
constexpr const char* kRemesh = "mgn_remesh_local_neighbourhood";
constexpr const char* kGeneratePyram = "mgn_generate_pyram";
// Heights a pyramid's apex is tried at (the lowered heights of the ideal
// point).
constexpr int kPyramTries = 5;

[[noreturn]] void fail(const std::string& message, const char* routine, int line) {
  if (ctx.region != nullptr) mgn_note_partial_region(ctx.region);
  mgn_manipulation_error(message, routine, mgn_module_name(__FILE__), line);
}
long region_id() { return ctx.region != nullptr ? static_cast<long>(ctx.region->id) : 0L; }

// ---------------------------------------------------------------------------
// Node records of the run
// ---------------------------------------------------------------------------

node_info* info_of(const mgn_node* node) {
  const int32_t w = node->work;
  if (w < 0 || w >= static_cast<int32_t>(ctx.nodes.size()) || ctx.nodes[w].node != node) return nullptr;
  return &ctx.nodes[w];
}
node_info& enter_node(mgn_node* node) {
  if (node_info* info = info_of(node)) return *info;
  node->work = static_cast<int32_t>(ctx.nodes.size());
  ctx.nodes.push_back({node, -1, -1, 0});
  return ctx.nodes.back();
}

// ---------------------------------------------------------------------------
// Front faces
// ---------------------------------------------------------------------------

box face_box(const front_face& f) {
  const double* p[3] = {f.n[0]->xyz, f.n[1]->xyz, f.n[2]->xyz};
  return box_of(p, 3);
}

// Puts a front face in the queue (again), behind the faces of fewer tries
// and, among equal tries, in the order faces join the front: the mesh grows
// in layers, and a face put back waits until the front has moved on.
// Morton code of a point in the box of the front (21 bits per axis): faces
// of one layer are taken in this order, so that consecutive steps work
// next to each other.
uint64_t morton_place(const double* p) { return morton_code(p, ctx.place_lo, ctx.place_hi); }

void push_face(int32_t index) {
  const front_face& f = ctx.faces[index];
  queued_face q;
  q.tries = f.tries;
  q.layer = f.layer;
  double centre[3];
  for (int k = 0; k < 3; ++k) centre[k] = (f.n[0]->xyz[k] + f.n[1]->xyz[k] + f.n[2]->xyz[k]) / 3.0;
  q.place = morton_place(centre);
  q.sequence = ctx.queued++;
  q.index = index;
  q.stamp = f.stamp;
  ctx.queue.push_back(q);
  std::push_heap(ctx.queue.begin(), ctx.queue.end(), comes_after);
}

int32_t add_front_face(mgn_node* a, mgn_node* b, mgn_node* c, void* owner, int owner_type, int owner_slot) {
  int32_t index;
  if (!ctx.free_faces.empty()) {
    index = ctx.free_faces.back();
    ctx.free_faces.pop_back();
  } else {
    index = static_cast<int32_t>(ctx.faces.size());
    ctx.faces.push_back({});
  }
  front_face& f = ctx.faces[index];
  const uint32_t stamp = f.stamp + 1;
  f = front_face{};
  f.stamp = stamp;
  f.n[0] = a;
  f.n[1] = b;
  f.n[2] = c;
  f.owner = owner;
  f.owner_type = static_cast<int8_t>(owner_type);
  f.owner_slot = static_cast<int8_t>(owner_slot);
  f.alive = true;
  f.layer = ctx.current_layer;
  for (int k = 0; k < 3; ++k) {
    node_info& info = enter_node(f.n[k]);
    f.next[k] = info.face_head;
    info.face_head = index;
    if (f.n[k]->front_count == kIsolated) f.n[k]->front_count = 0;
    ++f.n[k]->front_count;
  }
  f.bounds = face_box(f);
  f.leaf = ctx.tree.insert(f.bounds, index);
  ++ctx.live_faces;
  push_face(index);
  return index;
}

void remove_front_face(int32_t index) {
  front_face& f = ctx.faces[index];
  if (!f.alive) return;
  f.alive = false;
  for (int k = 0; k < 3; ++k) {
    node_info* info = info_of(f.n[k]);
    int32_t* link = &info->face_head;
    while (*link >= 0 && *link != index) {
      const front_face& g = ctx.faces[*link];
      const int at = g.n[0] == f.n[k] ? 0 : (g.n[1] == f.n[k] ? 1 : 2);
      link = &ctx.faces[*link].next[at];
    }
    if (*link == index) *link = f.next[k];
    --f.n[k]->front_count;
  }
  ctx.tree.remove(f.leaf);
  ctx.free_faces.push_back(index);
  --ctx.live_faces;
}

// Walks the front faces at a node: visit(index) for each.
template <typename F>
void for_faces_at(const mgn_node* node, F&& visit) {
  const node_info* info = info_of(node);
  if (info == nullptr) return;
  for (int32_t i = info->face_head; i >= 0;) {
    const front_face& f = ctx.faces[i];
    const int at = f.n[0] == node ? 0 : (f.n[1] == node ? 1 : 2);
    const int32_t next = f.next[at];
    visit(i);
    i = next;
  }
}

// 1 when face f holds the nodes a b c turning the same way, -1 turning the
// other way, 0 when it is another face.
int face_match(const front_face& f, const mgn_node* a, const mgn_node* b, const mgn_node* c) {
  for (int r = 0; r < 3; ++r) {
    if (f.n[r] != a) continue;
    if (f.n[(r + 1) % 3] == b && f.n[(r + 2) % 3] == c) return 1;
    if (f.n[(r + 1) % 3] == c && f.n[(r + 2) % 3] == b) return -1;
    return 0;
  }
  return 0;
}

// The front face on the nodes a b c turning the other way (the one a tetra
// with the outward face a b c closes), -1 when there is none; `same` tells
// whether a face turning the same way exists.
int32_t find_closing_face(mgn_node* a, mgn_node* b, mgn_node* c, bool* same) {
  int32_t found = -1;
  *same = false;
  for_faces_at(a, [&](int32_t i) {
    const int m = face_match(ctx.faces[i], a, b, c);
    if (m < 0 && found < 0) found = i;
    if (m > 0) *same = true;
  });
  return found;
}

// Whether some front face holds both nodes.
bool on_front_together(const mgn_node* a, const mgn_node* b) {
  bool found = false;
  for_faces_at(a, [&](int32_t i) {
    const front_face& f = ctx.faces[i];
    if (f.n[0] == b || f.n[1] == b || f.n[2] == b) found = true;
  });
  return found;
}

// ---------------------------------------------------------------------------
// Tetras and their node lists
// ---------------------------------------------------------------------------

int32_t serial_of(const mgn_tetra* t) { return t->id - ctx.first_tetra_id; }

void link_tetra_nodes(mgn_tetra* t) {
  const int32_t s = serial_of(t);
  if (static_cast<std::size_t>(s) >= ctx.tetras.size()) {
    ctx.tetras.resize(s + 1, nullptr);
    ctx.tetra_links.resize(4 * (s + 1), -1);
  }
  ctx.tetras[s] = t;
  for (int k = 0; k < 4; ++k) {
    node_info& info = enter_node(t->n[k]);
    ctx.tetra_links[4 * s + k] = info.tetra_head;
    info.tetra_head = 4 * s + k;
  }
}

void unlink_tetra_nodes(mgn_tetra* t) {
  const int32_t s = serial_of(t);
  for (int k = 0; k < 4; ++k) {
    node_info* info = info_of(t->n[k]);
    int32_t* link = &info->tetra_head;
    while (*link >= 0 && (*link >> 2) != s) link = &ctx.tetra_links[*link];
    if (*link >= 0) *link = ctx.tetra_links[*link];
  }
}

template <typename F>
void for_tetras_at(const mgn_node* node, F&& visit) {
  const node_info* info = info_of(node);
  if (info == nullptr) return;
  for (int32_t e = info->tetra_head; e >= 0;) {
    const int32_t next = ctx.tetra_links[e];
    visit(ctx.tetras[e >> 2]);
    e = next;
  }
}

// Links face k of tetra t with the element a front face had on its other
// side.
void attach(mgn_tetra* t, int k, void* owner, int owner_type, int owner_slot) {
  if (owner_type == MGN_ELEM_TETRA) {
    mgn_link_tetras(t, k, static_cast<mgn_tetra*>(owner), owner_slot);
  } else if (owner_type == MGN_ELEM_PYRAM) {
    auto* pyram = static_cast<mgn_pyram*>(owner);
    mgn_set_tetra_neighbour(t, k, pyram, MGN_ELEM_PYRAM);
    pyram->ngb[owner_slot] = t;
    pyram->ngb_type[owner_slot] = MGN_ELEM_TETRA;
  } else {
    auto* face = static_cast<mgn_face*>(owner);
    mgn_set_tetra_neighbour(t, k, face, MGN_ELEM_FACE);
    mgn_element_extra* extra = mgn_get_element_extra(face);
    extra->side[owner_slot] = t;
    extra->side_type[owner_slot] = MGN_ELEM_TETRA;
  }
}

// The region's edge between two nodes, made when no edge of any entity
// joins them yet (`fresh`: a node just made, which has no edge yet).
void use_edge(mgn_node* a, mgn_node* b, bool fresh) {
  if (fresh || mgn_get_node_edge(a, b) == nullptr)
    mgn_create_edge(a, b, MGN_REGION, ctx.region, &ctx.region->mesh.edges);
}

// A region edge between two nodes that no tetra and no front face holds any
// longer is retired.
void drop_edge_if_unused(mgn_node* a, mgn_node* b) {
  mgn_edge* e = mgn_get_node_edge(a, b);
  if (e == nullptr || e->kind != MGN_REGION || e->entity != ctx.region) return;
  bool used = false;
  for_tetras_at(a, [&](const mgn_tetra* t) { used = used || mgn_get_tetra_node_index(t, b) >= 0; });
  if (!used) used = on_front_together(a, b);
  if (!used) mgn_retire_edge(e);
}

// Fixed pieces whose node (point) or edge (segment) the tetra takes leave
// the front.
void take_fixed_pieces(const mgn_tetra* t) {
  if (ctx.pieces.empty()) return;
  box b;
  {
    const double* p[4] = {t->n[0]->xyz, t->n[1]->xyz, t->n[2]->xyz, t->n[3]->xyz};
    b = box_of(p, 4);
  }
  std::vector<int32_t> taken;
  ctx.tree.query(b, [&](int32_t item) {
    if (item >= 0) return;
    const fixed_piece& piece = ctx.pieces[-item - 1];
    if (!piece.alive) return;
    const bool has0 = mgn_get_tetra_node_index(t, piece.n[0]) >= 0;
    const bool has1 = piece.n[1] == nullptr || mgn_get_tetra_node_index(t, piece.n[1]) >= 0;
    if (has0 && has1) taken.push_back(-item - 1);
  });
  for (int32_t p : taken) {
    fixed_piece& piece = ctx.pieces[p];
    piece.alive = false;
    ctx.tree.remove(piece.leaf);
  }
}

// Creates the tetra A B C X on the front face `base` (X new when null: at
// xyz), closes the front faces it covers and adds its other faces.
// apex_edges: as tetra_valid found them just before (null: looked up here).
mgn_tetra* create_tetra(int32_t base, mgn_node* x, const double* xyz, const int8_t* apex_edges = nullptr) {
  front_face f = ctx.faces[base];
  const bool fresh = x == nullptr;
  if (x == nullptr) {
    x = mgn_create_node(xyz, nullptr, MGN_REGION, ctx.region, &ctx.region->mesh.nodes);
    if (ctx.region_size > 0.0 && x->size > ctx.region_size) x->size = static_cast<float>(ctx.region_size);
    enter_node(x);
    ++mgn_region_stat.new_nodes;
  }
  mgn_node* n[4] = {f.n[0], f.n[1], f.n[2], x};
  // Closing faces are looked up before the base leaves the front.
  int32_t closing[3];
  for (int k = 0; k < 3; ++k) {
    const int* o = mgn_tetra_outward_face[k];
    bool same = false;
    closing[k] = find_closing_face(n[o[0]], n[o[1]], n[o[2]], &same);
  }
  mgn_tetra* t = mgn_create_tetra(n[0], n[1], n[2], n[3], ctx.region, &ctx.region->mesh.tetras);
  if (ctx.first_tetra_id == 0) ctx.first_tetra_id = t->id;
  ++mgn_region_stat.tetras;
  ++ctx.live_tetras;
  double volume = 0.0;
  tetra_quality(n[0]->xyz, n[1]->xyz, n[2]->xyz, n[3]->xyz, &volume);
  ctx.volume_sum += volume;
  link_tetra_nodes(t);
  if (x->front_count == kIsolated) x->front_count = 0;
  attach(t, 3, f.owner, f.owner_type, f.owner_slot);
  remove_front_face(base);
  for (int k = 0; k < 3; ++k) {
    const int* o = mgn_tetra_outward_face[k];
    if (closing[k] >= 0 && ctx.faces[closing[k]].alive) {
      const front_face& g = ctx.faces[closing[k]];
      attach(t, k, g.owner, g.owner_type, g.owner_slot);
      remove_front_face(closing[k]);
    } else {
      add_front_face(n[o[0]], n[o[1]], n[o[2]], t, MGN_ELEM_TETRA, k);
    }
  }
  // The base's edges exist; the three edges to the apex may not.
  for (int k = 0; k < 3; ++k) {
    if (!fresh && apex_edges != nullptr && apex_edges[k] >= 0) {
      if (apex_edges[k] == 0) mgn_create_edge(x, n[k], MGN_REGION, ctx.region, &ctx.region->mesh.edges);
    } else {
      use_edge(x, n[k], fresh);
    }
  }
  take_fixed_pieces(t);
  return t;
}

// Side face k (1 to 4) of a pyramid: base edge k-1 to k and the apex,
// turning counterclockwise seen from outside the pyramid (the base turns
// counterclockwise seen from the apex).
void pyram_side_nodes(const mgn_pyram* pyram, int k, mgn_node* out[3]) {
  out[0] = pyram->n[k - 1];
  out[1] = pyram->n[k % 4];
  out[2] = pyram->n[4];
}

void add_pyram_side(mgn_pyram* pyram, int k) {
  mgn_node* n[3];
  pyram_side_nodes(pyram, k, n);
  add_front_face(n[0], n[1], n[2], pyram, MGN_ELEM_PYRAM, k);
}

// The side (1 to 4) of the pyramid that the tetra lies on, -1 when none.
int mgn_get_pyram_side_of_tetra(const mgn_pyram* pyram, const mgn_tetra* t) {
  for (int k = 1; k <= 4; ++k) {
    mgn_node* n[3];
    pyram_side_nodes(pyram, k, n);
    if (mgn_get_tetra_face_index(t, n[0], n[1], n[2]) >= 0 && pyram->ngb[k] == t) return k;
  }
  return -1;
}

[[noreturn]] void unexpected_link(const mgn_tetra* t) {
  mgn_note_partial_tetra(const_cast<mgn_tetra*>(t));
  fail("Unexpected situation", kRemesh, __LINE__);
}

// ---------------------------------------------------------------------------
// The neighbourhood of a step
// ---------------------------------------------------------------------------

// Gathers the live front faces and fixed pieces whose boxes meet b, and the
// nodes they hold (each once, marked with the step's mark).
void gather(const box& b) {
  ctx.near_faces.clear();
  ctx.near_pieces.clear();
  ctx.near_nodes.clear();
  ++ctx.mark;
  auto note = [&](mgn_node* node) {
    node_info* info = info_of(node);
    if (info->mark == ctx.mark) return;
    info->mark = ctx.mark;
    ctx.near_nodes.push_back(node);
  };
  ctx.tree.query(b, [&](int32_t item) {
    if (item >= 0) {
      if (!ctx.faces[item].alive) return;
            ctx.near_faces.push_back(item);
      for (mgn_node* node : ctx.faces[item].n) note(node);
    } else {
      const fixed_piece& piece = ctx.pieces[-item - 1];
      if (!piece.alive) return;
      ctx.near_pieces.push_back(-item - 1);
      note(piece.n[0]);
      if (piece.n[1] != nullptr) note(piece.n[1]);
    }
  });
}

// Whether a and b are the ends of a fixed segment still on the front (one
// of the pieces gathered for the step).
bool fixed_segment(const mgn_node* a, const mgn_node* b) {
  for (int32_t i : ctx.near_pieces) {
    const fixed_piece& piece = ctx.pieces[i];
    if (piece.alive && ((piece.n[0] == a && piece.n[1] == b) || (piece.n[0] == b && piece.n[1] == a))) return true;
  }
  return false;
}

// Whether the tetra A B C X (X a node, or null with its point xyz) may be
// added: see the opening comment.  base: the front face it stands on.
// apex_edges (optional, three entries): whether the edge from x to each base
// node exists (1), does not (0) or was not looked up (-1), when valid.
bool tetra_valid(int32_t base, mgn_node* x, mgn_node* const abc[3], int8_t* apex_edges = nullptr) {
  mgn_node* n[4] = {abc[0], abc[1], abc[2], x};
  const double* p[4] = {abc[0]->xyz, abc[1]->xyz, abc[2]->xyz, x->xyz};
  if (mgn_orient3d(p[0], p[1], p[2], p[3]) <= 0) return false;
  const box tb = box_of(p, 4);
  // New faces, and the front faces they close.
  mgn_node* faces[3][3];
  int32_t closing[3] = {-1, -1, -1};
  for (int k = 0; k < 3; ++k) {
    const int* o = mgn_tetra_outward_face[k];
    for (int r = 0; r < 3; ++r) faces[k][r] = n[o[r]];
    if (info_of(x) != nullptr) {
      bool same = false;
      closing[k] = find_closing_face(faces[k][0], faces[k][1], faces[k][2], &same);
      if (same && closing[k] < 0) return false;
    }
  }
  // An edge already in the mesh must still lie on the front (so an edge
  // to the apex exists exactly when the apex shares a front face or a fixed
  // segment with the base node; what was found is told to the caller).
  for (int k = 0; k < 3; ++k) {
    int8_t exists = 1;
    if (!on_front_together(x, abc[k])) {
      if (fixed_segment(x, abc[k])) exists = -1;
      else if (mgn_get_node_edge(x, abc[k]) != nullptr) return false;
      else exists = 0;
    }
    if (apex_edges != nullptr) apex_edges[k] = exists;
  }
  // Front faces (each new face tested against the faces its box meets).
  box fb[3];
  for (int k = 0; k < 3; ++k) {
    const double* q[3] = {faces[k][0]->xyz, faces[k][1]->xyz, faces[k][2]->xyz};
    fb[k] = box_of(q, 3);
  }
  for (int32_t i : ctx.near_faces) {
    if (i == base || i == closing[0] || i == closing[1] || i == closing[2]) continue;
    const front_face& f = ctx.faces[i];
    if (!f.alive || !overlap(f.bounds, tb)) continue;
    for (int k = 0; k < 3; ++k)
      if (closing[k] < 0 && overlap(f.bounds, fb[k]) && triangles_conflict(faces[k], f.n)) return false;
  }
  // Fixed segments and points.
  for (int32_t i : ctx.near_pieces) {
    const fixed_piece& piece = ctx.pieces[i];
    if (!piece.alive || piece.n[1] == nullptr) continue;
    for (int k = 0; k < 3; ++k)
      if (closing[k] < 0 && segment_conflicts_triangle(piece.n[0], piece.n[1], faces[k])) return false;
  }
  // Front nodes inside the closed tetra.
  for (mgn_node* v : ctx.near_nodes) {
    if (v == n[0] || v == n[1] || v == n[2] || v == n[3]) continue;
    const double* q = v->xyz;
    if (q[0] < tb.lo[0] || q[0] > tb.hi[0] || q[1] < tb.lo[1] || q[1] > tb.hi[1] || q[2] < tb.lo[2] ||
        q[2] > tb.hi[2])
      continue;
    bool inside = true;
    for (int k = 0; k < 4 && inside; ++k) {
      const int* o = mgn_tetra_outward_face[k];
      inside = mgn_orient3d(p[o[0]], p[o[1]], p[o[2]], q) <= 0;
    }
    if (inside) return false;
  }
  return true;
}

// The same for a new node at xyz, which must also keep its distance from
// the front around it.
bool new_node_valid(int32_t base, const double* xyz, mgn_node* const abc[3], double clearance) {
  const double node_gap2 = (kNodeClearance * clearance) * (kNodeClearance * clearance);
  for (mgn_node* v : ctx.near_nodes) {
    if (v == abc[0] || v == abc[1] || v == abc[2]) continue;
    if (mgn_get_point_square_distance(v->xyz, xyz) < node_gap2) return false;
  }
  const double face_gap = kFaceClearance * clearance;
  for (int32_t i : ctx.near_faces) {
    if (i == base) continue;
    const front_face& f = ctx.faces[i];
    if (!f.alive) continue;
    // Distance from the plane, then from the triangle when the foot lies in
    // it (faces at the base nodes are skipped: the tetra's own validity
    // test covers them).
    if (f.n[0] == abc[0] || f.n[0] == abc[1] || f.n[0] == abc[2] || f.n[1] == abc[0] || f.n[1] == abc[1] ||
        f.n[1] == abc[2] || f.n[2] == abc[0] || f.n[2] == abc[1] || f.n[2] == abc[2])
      continue;
    double u[3], v[3], nrm[3], r[3];
    mgn_sub(f.n[1]->xyz, f.n[0]->xyz, u);
    mgn_sub(f.n[2]->xyz, f.n[0]->xyz, v);
    mgn_cross(u, v, nrm);
    const double l = mgn_norm(nrm);
    if (!(l > 0.0)) continue;
    mgn_sub(xyz, f.n[0]->xyz, r);
    const double d = mgn_dot(r, nrm) / l;
    if (std::fabs(d) >= face_gap) continue;
    // Foot of the point in the face's plane, tested against its edges.
    double foot[3];
    for (int k = 0; k < 3; ++k) foot[k] = xyz[k] - d * nrm[k] / l;
    bool in = true;
    for (int e = 0; e < 3 && in; ++e) {
      double a[3], b[3], c[3];
      mgn_sub(f.n[(e + 1) % 3]->xyz, f.n[e]->xyz, a);
      mgn_sub(foot, f.n[e]->xyz, b);
      mgn_cross(a, b, c);
      in = mgn_dot(c, nrm) >= 0.0;
    }
    if (in) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// One step
// ---------------------------------------------------------------------------

// Geometry of the base face of a step.
struct base_geometry {
  double g[3];       // weighted centre
  double normal[3];  // unit normal toward the free side
  double centre[3];  // circumcentre
  double radius;     // circumradius
  double h;          // face size
  double height;     // height of the ideal point
  double size;       // octree size at the ideal point
  double p[3];       // ideal point
};

// The size at a point: the octree's, capped by the region's own size.  A
// region size below a quarter of the (scaled) size of the leaf it falls in
// is too small for the octree to carry: the run warns once the region is
// done.
double size_at(const double* p) {
  double s = mgn_get_octree_mesh_size(&ctx.hint, p, false);
  if (ctx.region_size > 0.0) {
    const double leaf = ctx.hint != nullptr ? static_cast<double>(ctx.hint->size) : 0.0;
    if (ctx.region_size / MGN_OCTREE_SIZE_SCALE < 0.25 * leaf * MGN_OCTREE_SIZE_SCALE) ctx.warned_small_size = true;
    if (s > ctx.region_size || !(s > 0.0)) s = ctx.region_size;
  }
  return s;
}

// Ideal point of the base face A B C.
void measure_base(mgn_node* const abc[3], base_geometry& b) {
  const double *A = abc[0]->xyz, *B = abc[1]->xyz, *C = abc[2]->xyz;
  double sa = abc[0]->size, sb = abc[1]->size, sc = abc[2]->size;
  const double lab = std::sqrt(mgn_get_point_square_distance(A, B)), lbc = std::sqrt(mgn_get_point_square_distance(B, C)), lca = std::sqrt(mgn_get_point_square_distance(C, A));
  // Nodes without a size take the mean length of their edges on the base.
  if (!(sa > 0.0)) sa = 0.5 * (lab + lca);
  if (!(sb > 0.0)) sb = 0.5 * (lab + lbc);
  if (!(sc > 0.0)) sc = 0.5 * (lbc + lca);
  if (ctx.region_size > 0.0) {
    sa = std::min(sa, ctx.region_size);
    sb = std::min(sb, ctx.region_size);
    sc = std::min(sc, ctx.region_size);
  }
  const double wa = sc / (sc + sa) + sb / (sb + sa);
  const double wb = sa / (sa + sb) + sc / (sc + sb);
  const double wc = sb / (sb + sc) + sa / (sa + sc);
  for (int k = 0; k < 3; ++k) b.g[k] = (wa * A[k] + wb * B[k] + wc * C[k]) / (wa + wb + wc);
  const double hab = 2.0 * sa * sb / (sa + sb), hbc = 2.0 * sb * sc / (sb + sc), hca = 2.0 * sc * sa / (sc + sa);
  b.h = (hab + hbc + hca) / 3.0;
  double cb[3], ac[3], n[3];
  mgn_sub(C, B, cb);
  mgn_sub(A, C, ac);
  mgn_cross(cb, ac, n);
  const double area2 = mgn_norm(n);
  if (!(area2 > mgn_tol.eps2)) {
    mgn_note_partial_node(abc[0]);
    mgn_note_partial_node(abc[1]);
    mgn_note_partial_node(abc[2]);
    fail(mgn_format("Zero area face detected in region %ld", region_id()), kGenerateTetra, __LINE__);
  }
  for (int k = 0; k < 3; ++k) b.normal[k] = n[k] / area2;
  // Circumcentre: A + ((|u|^2 v - |v|^2 u) x (u x v)) / (2 |u x v|^2) with
  // u = B - A, v = C - A.
  double u[3], v[3], uxv[3], w[3], c[3];
  mgn_sub(B, A, u);
  mgn_sub(C, A, v);
  mgn_cross(u, v, uxv);
  const double uu = mgn_dot(u, u), vv = mgn_dot(v, v), d = 2.0 * mgn_dot(uxv, uxv);
  for (int k = 0; k < 3; ++k) w[k] = uu * v[k] - vv * u[k];
  mgn_cross(w, uxv, c);
  for (int k = 0; k < 3; ++k) b.centre[k] = A[k] + c[k] / d;
  b.radius = std::sqrt(mgn_get_point_square_distance(b.centre, A));
  // Edge factors: short edges lower the height, long ones too.
  auto factor = [](double l, double m) {
    if (l < 0.85 * m) return 1.0 + 0.5 * (l / m - 1.0);
    if (m < 0.95 * l) return m / l;
    return 1.0;
  };
  const double f = (factor(lab, hab) + factor(lbc, hbc) + factor(lca, hca)) / 3.0;
  double t = f * ctx.height_scale * kRegularHeight * b.h;
  double p[3];
  for (int k = 0; k < 3; ++k) p[k] = b.g[k] + t * b.normal[k];
  // Size correction toward the octree size at the ideal point.
  const double s = size_at(p);
  const double r = t + b.h - s;
  double g = 1.0;
  if (r > 0.0) {
    if (b.h <= s) g = t <= 2.0 * r ? t / r : 2.0;
    else g = 0.66666667 * r <= t ? t / r : 0.66666667;
  }
  if (s < b.h) g = 1.0 - 1.125 * (1.0 - g);
  if (b.h < s) g = 1.0 + 0.5 * (g - 1.0);
  if (!(g > 0.1)) g = 0.1;
  t *= g;
  b.height = t;
  b.size = s;
  for (int k = 0; k < 3; ++k) b.p[k] = b.g[k] + t * b.normal[k];
}

// Circumsphere score of X over the base: the height of the sphere's centre
// above the base plane (see the opening comment).
double sphere_score(const base_geometry& b, const double* x) {
  double r[3];
  mgn_sub(x, b.centre, r);
  const double d = mgn_dot(r, b.normal);
  if (!(d > 0.0)) return std::numeric_limits<double>::max();
  return 0.5 * (mgn_dot(r, r) - b.radius * b.radius) / d;
}

// One try of a step on the front face `index`.  Returns true when a tetra
// was made.
bool try_face(int32_t index) {
  mgn_node* abc[3] = {ctx.faces[index].n[0], ctx.faces[index].n[1], ctx.faces[index].n[2]};
  const int tries = ctx.faces[index].tries;
  const double threshold = kThreshold[std::min(tries, kTries - 1)];
  base_geometry b;
  measure_base(abc, b);
  // The neighbourhood: the candidates around the base and the ideal point,
  // and everything a tetra on them could meet.
  // The first try looks at the nodes inside the sphere through the base and
  // the ideal point (the ones the sphere criterion prefers to a new node)
  // and around the ideal point; a face put back looks as far as two sizes
  // around the base.
  box around;
  double reach2 = std::numeric_limits<double>::max();
  if (tries == 0) {
    // Sphere through A, B, C and P: centre on the base's axis at the height
    // of P's score.
    const double z = sphere_score(b, b.p);
    double centre[3];
    for (int k = 0; k < 3; ++k) centre[k] = b.centre[k] + z * b.normal[k];
    const double radius = std::sqrt(b.radius * b.radius + z * z);
    const double clear = kNodeClearance * std::min(b.h, b.size);
    for (int k = 0; k < 3; ++k) {
      around.lo[k] = std::min({centre[k] - radius, b.p[k] - clear, abc[0]->xyz[k], abc[1]->xyz[k], abc[2]->xyz[k]});
      around.hi[k] = std::max({centre[k] + radius, b.p[k] + clear, abc[0]->xyz[k], abc[1]->xyz[k], abc[2]->xyz[k]});
    }
  } else {
    const double reach = kReach * std::max(b.size, b.h);
    reach2 = reach * reach;
    for (int k = 0; k < 3; ++k) {
      around.lo[k] = std::min({b.g[k] - reach, abc[0]->xyz[k], abc[1]->xyz[k], abc[2]->xyz[k]});
      around.hi[k] = std::max({b.g[k] + reach, abc[0]->xyz[k], abc[1]->xyz[k], abc[2]->xyz[k]});
    }
  }
  gather(around);
  // Candidates: front nodes within the reach of the centre on the free side.
  // They must lie in the box gathered: a gathered face may reach out of it
  // with nodes whose tetras would meet front faces and nodes not gathered.
  ctx.candidates.clear();
  for (mgn_node* v : ctx.near_nodes) {
    if (v == abc[0] || v == abc[1] || v == abc[2]) continue;
    if (!contains(around, v->xyz)) continue;
    if (mgn_get_point_square_distance(v->xyz, b.g) > reach2) continue;
    const int o = mgn_orient3d(abc[0]->xyz, abc[1]->xyz, abc[2]->xyz, v->xyz);
    if (o < 0) continue;
    if (o == 0) {
      int i, j;
      projection_axes(abc[0]->xyz, abc[1]->xyz, abc[2]->xyz, &i, &j);
      if (point_in_triangle_2d(v->xyz, abc[0]->xyz, abc[1]->xyz, abc[2]->xyz, i, j)) {
        mgn_note_partial_node(v);
        fail(mgn_format("Node %ld and active face %ld in region %ld are too close to each other "
                        "(temporary node and face numbers)",
                        static_cast<long>(v->id), static_cast<long>(index + 1), region_id()),
             kSearchNeighbourhood, __LINE__);
      }
      continue;
    }
    candidate c;
    c.node = v;
    c.centre_distance2 = mgn_get_point_square_distance(v->xyz, b.g);
    c.score = sphere_score(b, v->xyz);
    c.quality = -1.0;  // measured when tried
    c.distance2 = mgn_get_point_square_distance(v->xyz, b.p);
    ctx.candidates.push_back(c);
  }
  // A graded size field may put more candidates in the reach of a large
  // face than a step examines: the nearest ones are kept.  Only a
  // neighbourhood packed within half a size of the base is beyond the limit.
  if (ctx.candidates.size() > static_cast<std::size_t>(MGN_NEIGHBOUR_NODE)) {
    std::stable_sort(ctx.candidates.begin(), ctx.candidates.end(), [](const candidate& l, const candidate& r) {
      return l.centre_distance2 < r.centre_distance2;
    });
    const double packed = 0.5 * std::min(b.h, b.size);
    if (ctx.candidates[MGN_NEIGHBOUR_NODE].centre_distance2 < packed * packed)
      fail("Too many nodes in the neighbourhood (increase MGN_NEIGHBOUR_NODE)", kSearchNeighbourhood, __LINE__);
    ctx.candidates.resize(MGN_NEIGHBOUR_NODE);
  }
  std::stable_sort(ctx.candidates.begin(), ctx.candidates.end(),
                   [](const candidate& l, const candidate& r) { return l.score < r.score; });
  // The node nearest the ideal point within the radius that makes a new
  // node there pointless.
  const candidate* near_p = nullptr;
  for (const candidate& c : ctx.candidates) {
    const double rho = 0.25 * (c.node->size + b.size);
    if (c.distance2 <= rho * rho && (near_p == nullptr || c.distance2 < near_p->distance2)) near_p = &c;
  }
  const double ideal_score = sphere_score(b, b.p);
  std::vector<char>& tried = ctx.tried;
  tried.assign(ctx.candidates.size(), 0);
  auto try_candidate = [&](std::size_t i) {
    if (tried[i]) return false;
    tried[i] = 1;
    candidate& c = ctx.candidates[i];
    if (c.quality < 0.0) c.quality = tetra_quality(abc[0]->xyz, abc[1]->xyz, abc[2]->xyz, c.node->xyz, nullptr);
    if (c.quality <= threshold || !(c.quality > 0.0)) return false;
    int8_t apex_edges[3];
    if (!tetra_valid(index, c.node, abc, apex_edges)) return false;
    create_tetra(index, c.node, nullptr, apex_edges);
    return true;
  };
  // 1. Near the ideal point: the best node of the sphere criterion up to
  // the near node's score.
  if (near_p != nullptr) {
    for (std::size_t i = 0; i < ctx.candidates.size() && ctx.candidates[i].score <= near_p->score; ++i)
      if (try_candidate(i)) return true;
  }
  // 2. Nodes inside the sphere through the base and the ideal point.
  for (std::size_t i = 0; i < ctx.candidates.size() && ctx.candidates[i].score < ideal_score; ++i)
    if (try_candidate(i)) return true;
  // 3. A new node at the ideal point, lowered when it does not fit.
  if (near_p == nullptr || tries > 0) {
    const double clearance = std::min(b.h, b.size);
    const int heights = tries + 1 < kTries ? kUsualHeights : static_cast<int>(std::size(kLoweredHeight));
    for (int level = 0; level < heights; ++level) {
      const double lowered = kLoweredHeight[level];
      double xyz[3];
      for (int k = 0; k < 3; ++k) xyz[k] = b.g[k] + lowered * b.height * b.normal[k];
      const double q = tetra_quality(abc[0]->xyz, abc[1]->xyz, abc[2]->xyz, xyz, nullptr);
      if (q <= threshold || !(q > 0.0)) continue;
      if (!new_node_valid(index, xyz, abc, clearance * lowered)) continue;
      // A probe node stands for the new one in the validity test.
      mgn_node probe{};
      probe.xyz = xyz;
      probe.work = -1;
      if (!tetra_valid(index, &probe, abc)) continue;
      create_tetra(index, nullptr, xyz);
      return true;
    }
  }
  // 4. The remaining candidates.
  for (std::size_t i = 0; i < ctx.candidates.size(); ++i)
    if (try_candidate(i)) return true;
  return false;
}

// ---------------------------------------------------------------------------
// Local remedies
// ---------------------------------------------------------------------------

// The connected piece of front (faces joined at edges) that holds face
// `start`; empty when it has more than `limit` faces.
std::vector<int32_t> front_piece(int32_t start, std::size_t limit) {
  std::vector<int32_t> piece{start};
  ++ctx.mark;
  // Faces are marked through their first node's visits: a small set is
  // enough here, the piece is small.
  std::vector<int32_t> seen{start};
  for (std::size_t i = 0; i < piece.size(); ++i) {
    const front_face& f = ctx.faces[piece[i]];
    for (int e = 0; e < 3; ++e) {
      const mgn_node* a = f.n[e];
      const mgn_node* b = f.n[(e + 1) % 3];
      bool exceeded = false;
      for_faces_at(a, [&](int32_t j) {
        if (exceeded) return;
        const front_face& g = ctx.faces[j];
        if (g.n[0] != b && g.n[1] != b && g.n[2] != b) return;
        if (std::find(seen.begin(), seen.end(), j) != seen.end()) return;
        seen.push_back(j);
        piece.push_back(j);
        if (piece.size() > limit) exceeded = true;
      });
      if (exceeded) return {};
    }
  }
  return piece;
}

// Closes a small closed piece of front from one point that sees all its
// faces: a new node near the piece's centre, or one of its nodes.  Returns
// true when done.
bool fill_piece(const std::vector<int32_t>& piece) {
  // The piece's nodes and centre.
  std::vector<mgn_node*> nodes;
  double centre[3] = {0.0, 0.0, 0.0};
  for (int32_t i : piece)
    for (mgn_node* node : ctx.faces[i].n)
      if (std::find(nodes.begin(), nodes.end(), node) == nodes.end()) nodes.push_back(node);
  for (const mgn_node* node : nodes)
    for (int k = 0; k < 3; ++k) centre[k] += node->xyz[k] / static_cast<double>(nodes.size());
  std::vector<const double*> points;
  for (const mgn_node* node : nodes) points.push_back(node->xyz);
  gather(box_of(points.data(), static_cast<int>(points.size())));
  // Worst quality of the fill from a point (0 when a face does not see it).
  auto fill_quality = [&](const double* x, const mgn_node* apex) {
    double worst = 1.0;
    for (int32_t i : piece) {
      const front_face& f = ctx.faces[i];
      if (apex != nullptr && (f.n[0] == apex || f.n[1] == apex || f.n[2] == apex)) continue;
      if (mgn_orient3d(f.n[0]->xyz, f.n[1]->xyz, f.n[2]->xyz, x) <= 0) return 0.0;
      worst = std::min(worst, tetra_quality(f.n[0]->xyz, f.n[1]->xyz, f.n[2]->xyz, x, nullptr));
    }
    return worst;
  };
  // Nothing else of the front may lie inside the piece: every other near
  // node outside the fill is checked by the tetras' validity below.
  double best = 0.0;
  mgn_node* apex = nullptr;
  const double* point = nullptr;
  const double q_centre = fill_quality(centre, nullptr);
  if (q_centre > best) {
    best = q_centre;
    point = centre;
  }
  for (mgn_node* node : nodes) {
    const double q = fill_quality(node->xyz, node);
    if (q > best) {
      best = q;
      apex = node;
      point = nullptr;
    }
  }
  if (!(best > 0.0)) return false;
  // Validity of every tetra of the fill against the front as it is now.
  mgn_node probe{};
  double xyz[3] = {centre[0], centre[1], centre[2]};
  probe.xyz = xyz;
  probe.work = -1;
  mgn_node* x = apex != nullptr ? apex : &probe;
  for (int32_t i : piece) {
    const front_face& f = ctx.faces[i];
    if (apex != nullptr && (f.n[0] == apex || f.n[1] == apex || f.n[2] == apex)) continue;
    if (!tetra_valid(i, x, f.n)) return false;
  }
  (void)point;
  // Fill: the first tetra makes the new node, the others use it.
  mgn_node* made = apex;
  std::vector<std::pair<int32_t, uint32_t>> order;
  for (int32_t i : piece) order.emplace_back(i, ctx.faces[i].stamp);
  for (const auto& [i, stamp] : order) {
    const front_face& f = ctx.faces[i];
    if (!f.alive || f.stamp != stamp) continue;
    if (made != nullptr && (f.n[0] == made || f.n[1] == made || f.n[2] == made)) continue;
    mgn_tetra* t = create_tetra(i, made, xyz);
    made = t->n[3];
  }
  ++mgn_region_stat.star_fills;
  return true;
}

// Takes out the tetras around the nodes of the face (and, in the wider
// mode, those next to them); their faces return to the front at the head
// of the queue.
// The tetras of a local remeshing with the counts its limits bound: nodes,
// edges and faces, each once.
struct cavity_set {
  std::vector<mgn_tetra*> tetras;
  std::vector<const mgn_node*> nodes;
  std::vector<std::pair<const mgn_node*, const mgn_node*>> edges;
  long faces = 0;

  bool holds(const mgn_tetra* t) const { return std::find(tetras.begin(), tetras.end(), t) != tetras.end(); }

  // Adds the tetra; when it would pass a limit, it is left out and the
  // limit's message returned (null when added or already in).
  const char* add(mgn_tetra* t) {
    if (t == nullptr || t->id == 0 || holds(t)) return nullptr;
    if (tetras.size() >= static_cast<std::size_t>(MGN_TETRA_NUMBER)) return "Too many tetras (increase MGN_TETRA_NUMBER)";
    std::size_t new_nodes = 0;
    for (const mgn_node* node : t->n)
      if (std::find(nodes.begin(), nodes.end(), node) == nodes.end()) ++new_nodes;
    if (nodes.size() + new_nodes > static_cast<std::size_t>(MGN_NODE_NUMBER)) return "Too many nodes (increase MGN_NODE_NUMBER)";
    std::vector<std::pair<const mgn_node*, const mgn_node*>> added;
    for (const auto& e : mgn_tetra_edge_nodes) {
      const mgn_node* a = t->n[e[0]];
      const mgn_node* b = t->n[e[1]];
      const auto key = a < b ? std::make_pair(a, b) : std::make_pair(b, a);
      if (std::find(edges.begin(), edges.end(), key) == edges.end()) added.push_back(key);
    }
    if (edges.size() + added.size() > static_cast<std::size_t>(MGN_EDGE_NUMBER)) return "Too many edges (increase MGN_EDGE_NUMBER)";
    long shared = 0;
    for (int k = 0; k < 4; ++k)
      if (holds(mgn_get_neighbour_tetra(t, k))) ++shared;
    if (faces + 4 - shared > MGN_FACE_NUMBER) return "Too many faces (increase MGN_FACE_NUMBER)";
    for (const mgn_node* node : t->n)
      if (std::find(nodes.begin(), nodes.end(), node) == nodes.end()) nodes.push_back(node);
    edges.insert(edges.end(), added.begin(), added.end());
    faces += 4 - shared;
    tetras.push_back(t);
    return nullptr;
  }
};

// Takes out the tetras around the nodes of the face; in the wider mode also
// `rings` layers of tetras next to them, as far as the limits allow.  Their
// faces return to the front.
void remesh_around(int32_t index, int rings) {
  cavity_set set;
  const front_face f = ctx.faces[index];
  for (mgn_node* node : f.n)
    for_tetras_at(node, [&](mgn_tetra* t) {
      if (const char* limit = set.add(t)) fail(limit, kRemesh, __LINE__);
    });
  bool full = false;
  for (int ring = 0; ring < rings && !full; ++ring) {
    const std::size_t inner = set.tetras.size();
    for (std::size_t i = 0; i < inner && !full; ++i)
      for (int k = 0; k < 4 && !full; ++k) full = set.add(mgn_get_neighbour_tetra(set.tetras[i], k)) != nullptr;
  }
  std::vector<mgn_tetra*>& cavity = set.tetras;
  if (cavity.empty()) fail(mgn_format("Remeshing failure in region %ld", region_id()), kRemesh, __LINE__);
  auto in_cavity = [&](const mgn_tetra* t) { return set.holds(t); };
  std::vector<mgn_node*> touched;
  for (mgn_tetra* t : cavity) {
    double volume = 0.0;
    tetra_quality(t->n[0]->xyz, t->n[1]->xyz, t->n[2]->xyz, t->n[3]->xyz, &volume);
    ctx.volume_sum -= volume;
    for (int k = 0; k < 4; ++k) {
      const int* o = mgn_tetra_outward_face[k];
      mgn_node* a = t->n[o[0]];
      mgn_node* b = t->n[o[1]];
      mgn_node* c = t->n[o[2]];
      switch (t->ngb_type[k]) {
        case MGN_ELEM_TETRA: {
          auto* other = static_cast<mgn_tetra*>(t->ngb[k]);
          if (in_cavity(other)) break;
          const int ko = mgn_get_tetra_face_index(other, a, b, c);
          mgn_set_tetra_neighbour(other, ko, nullptr, MGN_ELEM_NONE);
          // Seen from the tetra that stays, the face turns the other way.
          add_front_face(a, c, b, other, MGN_ELEM_TETRA, ko);
          break;
        }
        case MGN_ELEM_PYRAM: {
          auto* pyram = static_cast<mgn_pyram*>(t->ngb[k]);
          const int side = mgn_get_pyram_side_of_tetra(pyram, t);
          if (side < 1) unexpected_link(t);
          pyram->ngb[side] = nullptr;
          pyram->ngb_type[side] = MGN_ELEM_NONE;
          add_pyram_side(pyram, side);
          break;
        }
        case MGN_ELEM_FACE: {
          auto* face = static_cast<mgn_face*>(t->ngb[k]);
          const int s = mgn_get_face_side_of_tetra(face, t);
          mgn_element_extra* extra = mgn_get_element_extra(face);
          extra->side[s] = nullptr;
          extra->side_type[s] = MGN_ELEM_NONE;
          if (s == 0) add_front_face(face->n[0], face->n[1], face->n[2], face, MGN_ELEM_FACE, 0);
          else add_front_face(face->n[1], face->n[0], face->n[2], face, MGN_ELEM_FACE, 1);
          break;
        }
        default: {
          // Its own front face goes with it.
          int32_t own = -1;
          for_faces_at(a, [&](int32_t i) {
            const front_face& g = ctx.faces[i];
            if (g.owner == t && g.owner_slot == k) own = i;
          });
          if (own >= 0) remove_front_face(own);
          break;
        }
      }
    }
  }
  for (mgn_tetra* t : cavity) {
    unlink_tetra_nodes(t);
    for (mgn_node* node : t->n)
      if (std::find(touched.begin(), touched.end(), node) == touched.end()) touched.push_back(node);
    mgn_retire_tetra(t);
    --ctx.live_tetras;
  }
  for (const auto& [a, b] : set.edges)
    drop_edge_if_unused(const_cast<mgn_node*>(a), const_cast<mgn_node*>(b));
  // Fixed pieces that no tetra holds any longer return to the front.
  for (fixed_piece& piece : ctx.pieces) {
    if (piece.alive) continue;
    if (std::find(touched.begin(), touched.end(), piece.n[0]) == touched.end()) continue;
    bool held = false;
    for_tetras_at(piece.n[0], [&](const mgn_tetra* t) {
      if (piece.n[1] == nullptr || mgn_get_tetra_node_index(t, piece.n[1]) >= 0) held = true;
    });
    if (held) continue;
    piece.alive = true;
    const double* p[2] = {piece.n[0]->xyz, piece.n[1] != nullptr ? piece.n[1]->xyz : piece.n[0]->xyz};
    piece.leaf = ctx.tree.insert(box_of(p, 2), -static_cast<int32_t>(&piece - ctx.pieces.data()) - 1);
    for (mgn_node* node : piece.n)
      if (node != nullptr && node->front_count == 0) node->front_count = kIsolated;
  }
  // Region nodes no tetra and no front face uses any longer.
  for (mgn_node* node : touched) {
    const node_info* info = info_of(node);
    if (node->kind == MGN_REGION && node->entity == ctx.region && node->front_count == 0 && info != nullptr &&
        info->tetra_head < 0)
      mgn_retire_node(node);
  }
  ++mgn_region_stat.remeshings;
}

// A face no try fits: the remedies of the opening comment.
void unblock(int32_t index) {
  // Remeshing guard: progress is a live tetra count above the one at the
  // last remeshing.
  if (ctx.live_tetras > ctx.progress_mark) ctx.remeshings = 0;
  ctx.progress_mark = std::max(ctx.progress_mark, ctx.live_tetras);
  std::vector<int32_t> piece = front_piece(index, kStarFaces);
  if (!piece.empty() && fill_piece(piece)) return;
  ++ctx.remeshings;
  if (ctx.remeshings >= kRemeshingLimit) {
    mgn_note_partial_node(ctx.faces[index].n[0]);
    fail(mgn_format("Infinite remeshing loop detected in region %ld", region_id()), kGenerateTetra, __LINE__);
  }
  ctx.height_scale = ctx.remeshings > kLowerHeights ? 0.85 : 1.0;
  remesh_around(index, std::max(0, ctx.remeshings - kWiderRemeshing));
}

// ---------------------------------------------------------------------------
// The front of a region
// ---------------------------------------------------------------------------

template <typename T>
void enter_entity_faces(T* entity, int side) {
  if (entity == nullptr) return;
  std::vector<mgn_face*> faces;
  if (entity->mesh.faces != nullptr)
    mgn_for_own_records<mgn_face>(entity->mesh.faces, entity->mesh.face_total, entity->mesh.discretized,
                                  [&](mgn_face* f) { faces.push_back(f); });
  for (mgn_face* face : faces) {
    mgn_element_extra* extra = mgn_get_element_extra(face);
    if (extra->side[side] != nullptr) continue;  // filled already (twice listed)
    if (side == 0) add_front_face(face->n[0], face->n[1], face->n[2], face, MGN_ELEM_FACE, 0);
    else add_front_face(face->n[1], face->n[0], face->n[2], face, MGN_ELEM_FACE, 1);
  }
  // Quads get their pyramids once every triangle is on the front.
  if (entity->mesh.quads == nullptr) return;
  mgn_for_own_records<mgn_quad>(entity->mesh.quads, entity->mesh.quad_total, entity->mesh.discretized,
                                [&](mgn_quad* q) {
                                  if (mgn_get_element_extra(q)->side[side] == nullptr)
                                    ctx.boundary_quads.emplace_back(q, side);
                                });
}

// ---------------------------------------------------------------------------
// Pyramids on the boundary quads
// ---------------------------------------------------------------------------

// Whether the pyramid on the base b of the quad (turning counterclockwise
// seen from the apex) with its apex at xyz may be added: it turns the right
// way over both diagonals, its side faces meet no front face, other
// boundary quad or fixed segment but in shared nodes and edges, no front
// node lies in it, and the apex keeps its distance from the front around
// it.
bool pyram_valid(const mgn_quad* quad, mgn_node* const b[4], const double* xyz, double clearance) {
  mgn_node apex{};
  double point[3] = {xyz[0], xyz[1], xyz[2]};
  apex.xyz = point;
  mgn_node* const sides[4][3] = {{b[0], b[1], &apex}, {b[1], b[2], &apex}, {b[2], b[3], &apex}, {b[3], b[0], &apex}};
  const double* p[5] = {b[0]->xyz, b[1]->xyz, b[2]->xyz, b[3]->xyz, point};
  if (mgn_orient3d(p[0], p[1], p[2], p[4]) <= 0 || mgn_orient3d(p[0], p[2], p[3], p[4]) <= 0 ||
      mgn_orient3d(p[0], p[1], p[3], p[4]) <= 0 || mgn_orient3d(p[1], p[2], p[3], p[4]) <= 0)
    return false;
  const box pb = box_of(p, 5);
  box wide = pb;
  for (int k = 0; k < 3; ++k) {
    wide.lo[k] -= clearance;
    wide.hi[k] += clearance;
  }
  gather(wide);
  for (int32_t i : ctx.near_faces) {
    const front_face& f = ctx.faces[i];
    if (!f.alive || !overlap(f.bounds, pb)) continue;
    for (const auto& side : sides)
      if (triangles_conflict(side, f.n)) return false;
  }
  // Nor any boundary quad (those still waiting for their pyramids are no
  // front faces yet), each taken as its two corner triangles.
  bool crosses_quad = false;
  ctx.quad_tree.query(pb, [&](int32_t item) {
    const mgn_quad* q = ctx.boundary_quads[item].first;
    if (crosses_quad || q == quad) return;
    mgn_node* const halves[2][3] = {{q->n[0], q->n[1], q->n[2]}, {q->n[0], q->n[2], q->n[3]}};
    for (const auto& side : sides)
      crosses_quad = crosses_quad || triangles_conflict(side, halves[0]) || triangles_conflict(side, halves[1]);
  });
  if (crosses_quad) return false;
  // Segments fixed inside the region stay out of the pyramid's sides.
  for (int32_t i : ctx.near_pieces) {
    const fixed_piece& piece = ctx.pieces[i];
    if (!piece.alive || piece.n[1] == nullptr) continue;
    for (const auto& side : sides)
      if (segment_conflicts_triangle(piece.n[0], piece.n[1], side)) return false;
  }
  const double gap2 = (kNodeClearance * clearance) * (kNodeClearance * clearance);
  for (mgn_node* v : ctx.near_nodes) {
    if (v == b[0] || v == b[1] || v == b[2] || v == b[3]) continue;
    if (mgn_get_point_square_distance(v->xyz, point) < gap2) return false;
    // Inside one of the two halves over the diagonal b0 b2.
    const double* halves[2][4] = {{p[0], p[1], p[2], point}, {p[0], p[2], p[3], point}};
    for (const auto& t : halves) {
      bool inside = true;
      for (int k = 0; k < 4 && inside; ++k) {
        const int* o = mgn_tetra_outward_face[k];
        inside = mgn_orient3d(t[o[0]], t[o[1]], t[o[2]], v->xyz) <= 0;
      }
      if (inside) return false;
    }
  }
  return true;
}

// The base of the pyramid on a boundary quad, turning counterclockwise seen
// from the region side, its centre, its unit normal toward the region and
// its mean edge length; false for a quad of no area.
bool pyram_base(const mgn_quad* quad, int side, mgn_node* b[4], double centre[3], double n[3], double* edge) {
  for (int k = 0; k < 4; ++k) b[k] = quad->n[k];
  if (side == 1) {
    std::swap(b[0], b[1]);
    std::swap(b[2], b[3]);
  }
  double d1[3], d2[3];
  mgn_sub(b[2]->xyz, b[0]->xyz, d1);
  mgn_sub(b[3]->xyz, b[1]->xyz, d2);
  mgn_cross(d1, d2, n);
  const double twice_area = mgn_norm(n);
  if (!(twice_area > mgn_tol.eps2)) return false;
  for (int c = 0; c < 3; ++c) n[c] /= twice_area;
  *edge = 0.0;
  for (int c = 0; c < 3; ++c) centre[c] = 0.0;
  for (int k = 0; k < 4; ++k) {
    *edge += 0.25 * std::sqrt(mgn_get_point_square_distance(b[k]->xyz, b[(k + 1) % 4]->xyz));
    for (int c = 0; c < 3; ++c) centre[c] += 0.25 * b[k]->xyz[c];
  }
  return true;
}

// The part of p - a square to the line through a and b, scaled to unit
// length (zero when p lies on the line).
void off_line(const double* a, const double* b, const double* p, double out[3]) {
  double t[3], r[3];
  mgn_sub(b, a, t);
  mgn_sub(p, a, r);
  const double tt = mgn_dot(t, t);
  const double s = tt > 0.0 ? mgn_dot(r, t) / tt : 0.0;
  for (int c = 0; c < 3; ++c) out[c] = r[c] - s * t[c];
  const double l = mgn_norm(out);
  for (int c = 0; c < 3; ++c) out[c] = l > 0.0 ? out[c] / l : 0.0;
}

// The parameter t in (0, 1] at which the segment from o to o + d meets the
// triangle a b c, or 2 when it misses it.
double segment_hit(const double* o, const double* d, const double* a, const double* b, const double* c) {
  double e1[3], e2[3], pv[3], tv[3], qv[3];
  mgn_sub(b, a, e1);
  mgn_sub(c, a, e2);
  mgn_cross(d, e2, pv);
  const double det = mgn_dot(e1, pv);
  if (std::fabs(det) <= 1e-30) return 2.0;
  mgn_sub(o, a, tv);
  const double u = mgn_dot(tv, pv) / det;
  if (u < 0.0 || u > 1.0) return 2.0;
  mgn_cross(tv, e1, qv);
  const double v = mgn_dot(d, qv) / det;
  if (v < 0.0 || u + v > 1.0) return 2.0;
  const double t = mgn_dot(e2, qv) / det;
  return t > 1e-9 && t <= 1.0 ? t : 2.0;
}

// The square distance between the segments p0 p1 and q0 q1, and in *s the
// parameter on p0 p1 of the closest point.
double segments_square_distance(const double* p0, const double* p1, const double* q0, const double* q1, double* s) {
  double d1[3], d2[3], r[3];
  mgn_sub(p1, p0, d1);
  mgn_sub(q1, q0, d2);
  mgn_sub(p0, q0, r);
  const double a = mgn_dot(d1, d1), e = mgn_dot(d2, d2), f = mgn_dot(d2, r);
  double sc = 0.0, tc = 0.0;
  if (a <= 0.0) {
    tc = e > 0.0 ? std::clamp(f / e, 0.0, 1.0) : 0.0;
  } else {
    const double c = mgn_dot(d1, r);
    if (e <= 0.0) {
      sc = std::clamp(-c / a, 0.0, 1.0);
    } else {
      const double b = mgn_dot(d1, d2);
      const double denom = a * e - b * b;
      sc = denom > 0.0 ? std::clamp((b * f - c * e) / denom, 0.0, 1.0) : 0.0;
      tc = (b * sc + f) / e;
      if (tc < 0.0) {
        tc = 0.0;
        sc = std::clamp(-c / a, 0.0, 1.0);
      } else if (tc > 1.0) {
        tc = 1.0;
        sc = std::clamp((b - c) / a, 0.0, 1.0);
      }
    }
  }
  *s = sc;
  double gap[3];
  for (int k = 0; k < 3; ++k) gap[k] = p0[k] + sc * d1[k] - (q0[k] + tc * d2[k]);
  return mgn_dot(gap, gap);
}

// The distance from the centre of a boundary quad, along its normal n
// toward the region, to the first boundary face, other boundary quad or
// fixed point or segment (within radius of the line) it meets, looked for
// as far as reach (reach when none is met).
double free_distance(const mgn_quad* self, const double* centre, const double* n, double reach, double radius) {
  double d[3], end[3];
  for (int c = 0; c < 3; ++c) {
    d[c] = reach * n[c];
    end[c] = centre[c] + d[c];
  }
  const double* ends[2] = {centre, end};
  const box ray = box_of(ends, 2);
  double t = 1.0;
  // Fixed points and segments count where they pass within radius of the
  // line.
  box wide = ray;
  for (int c = 0; c < 3; ++c) {
    wide.lo[c] -= radius;
    wide.hi[c] += radius;
  }
  ctx.tree.query(wide, [&](int32_t item) {
    if (item < 0) {
      const fixed_piece& piece = ctx.pieces[-item - 1];
      if (!piece.alive) return;
      for (const mgn_node* v : self->n)
        if (v == piece.n[0] || v == piece.n[1]) return;
      double s = 0.0;
      const double* far = piece.n[1] != nullptr ? piece.n[1]->xyz : piece.n[0]->xyz;
      if (segments_square_distance(centre, end, piece.n[0]->xyz, far, &s) < radius * radius) t = std::min(t, s);
      return;
    }
    if (!ctx.faces[item].alive) return;
    const front_face& f = ctx.faces[item];
    t = std::min(t, segment_hit(centre, d, f.n[0]->xyz, f.n[1]->xyz, f.n[2]->xyz));
  });
  ctx.quad_tree.query(ray, [&](int32_t item) {
    const mgn_quad* o = ctx.boundary_quads[item].first;
    if (o == self) return;
    t = std::min(t, segment_hit(centre, d, o->n[0]->xyz, o->n[1]->xyz, o->n[2]->xyz));
    t = std::min(t, segment_hit(centre, d, o->n[0]->xyz, o->n[2]->xyz, o->n[3]->xyz));
  });
  return t * reach;
}

// The apex heights of the pyramids on the boundary quads (in the order of
// ctx.boundary_quads).  A pyramid is 0.6 of the quad's mean edge length
// high (its side faces lean at 50 degrees; the pyramid whose edges are all
// equal, at edge / sqrt 2, would leave gaps that regular tetras fill beside
// it on a flat boundary, but crowds the tetras above it: over the test
// models 0.6 gave the best tetras, worst and mean).  Where the
// boundary turns toward the region at an edge of the quad, the side faces
// of the pyramids on the two faces there lean toward each other: each may
// lean at most half of the angle the boundary leaves there less kPyramGap,
// so that the tetra between them keeps a dihedral angle of kPyramGap at
// that edge (on the faces of a right-angled edge the pyramids are a quarter
// of the edge high, and the tetra between them has quality 0.67), and no
// higher than a third of the free distance straight above the quad.  The
// angle is measured inside the region, to the neighbouring boundary face
// or quad across the edge, before any pyramid is made, so the heights do
// not depend on the order of the quads.
std::vector<double> pyram_heights() {
  // Boundary quads by their edges.
  std::unordered_map<const mgn_edge*, std::vector<int32_t>> quads_at;
  for (std::size_t q = 0; q < ctx.boundary_quads.size(); ++q) {
    const mgn_quad* quad = ctx.boundary_quads[q].first;
    for (int k = 0; k < 4; ++k)
      if (const mgn_edge* e = mgn_get_node_edge(quad->n[k], quad->n[(k + 1) % 4]); e != nullptr)
        quads_at[e].push_back(static_cast<int32_t>(q));
  }
  std::vector<double> heights(ctx.boundary_quads.size(), 0.0);
  for (std::size_t q = 0; q < ctx.boundary_quads.size(); ++q) {
    const auto& [quad, side] = ctx.boundary_quads[q];
    mgn_node* b[4];
    double centre[3], n[3], edge = 0.0;
    if (!pyram_base(quad, side, b, centre, n, &edge)) continue;  // mgn_generate_pyram reports it
    double height = kPyramTop * edge;
    for (int k = 0; k < 4; ++k) {
      const mgn_node* a = b[k];
      const mgn_node* c = b[(k + 1) % 4];
      double u[3];
      off_line(a->xyz, c->xyz, centre, u);
      double inside[3];
      mgn_sub(centre, a->xyz, inside);
      const double reach = mgn_dot(inside, u);  // distance of the centre from the edge
      // The smallest angle inside the region to a boundary face or quad
      // across the edge (2 pi when there is none).
      double angle = 2.0 * MGN_PI;
      auto look = [&](const double* p) {
        double w[3];
        off_line(a->xyz, c->xyz, p, w);
        double phi = std::atan2(mgn_dot(w, n), mgn_dot(w, u));
        if (phi < 0.0) phi += 2.0 * MGN_PI;
        angle = std::min(angle, phi);
      };
      for_faces_at(a, [&](int32_t i) {
        const front_face& f = ctx.faces[i];
        for (int r = 0; r < 3; ++r)
          if (f.n[r] == c) look(f.n[(r + 1) % 3] == a ? f.n[(r + 2) % 3]->xyz : f.n[(r + 1) % 3]->xyz);
      });
      if (const mgn_edge* e = mgn_get_node_edge(a, c); e != nullptr) {
        const auto found = quads_at.find(e);
        if (found != quads_at.end()) {
          for (int32_t other : found->second) {
            // (A quad inside the region is listed once per side.)
            const mgn_quad* o = ctx.boundary_quads[other].first;
            if (o == quad) continue;
            double far[3] = {0.0, 0.0, 0.0};
            int count = 0;
            for (const mgn_node* v : o->n) {
              if (v == a || v == c) continue;
              for (int d = 0; d < 3; ++d) far[d] += v->xyz[d];
              ++count;
            }
            if (count == 0) continue;
            for (double& x : far) x /= count;
            look(far);
          }
        }
      }
      const double lean = 0.5 * (angle - kPyramGap);
      height = std::min(height, lean > 0.0 ? reach * std::tan(lean) : 0.0);
    }
    // Room above the quad: a third of the way to the boundary straight
    // ahead, so that a pyramid facing this one across a thin part leaves
    // room for the tetras between their apexes.
    if (height > 0.0) {
      const double ahead = free_distance(quad, centre, n, 3.0 * height, 0.5 * edge);
      height = std::min(height, ahead / 3.0);
    }
    heights[q] = std::max(height, kPyramLowest * edge);
  }
  return heights;
}

// The pyramid on a boundary quad: its apex above the quad's centre at the
// height given (see pyram_heights), lowered step by step while the pyramid
// does not fit; its four side faces join the front.  side: the side of the
// quad that faces the region.
void mgn_generate_pyram(mgn_quad* quad, int side, double height) {
  mgn_node* b[4];
  double n[3], centre[3], edge = 0.0;
  if (!pyram_base(quad, side, b, centre, n, &edge)) {
    mgn_note_partial_quad(quad);
    fail(mgn_format("Zero area face detected in region %ld", region_id()), kGeneratePyram, __LINE__);
  }
  // A warped quad needs its apex above the planes of the four triangles
  // of its corners: the height at which the apex clears them all (the
  // tried heights stay a quarter above it).
  double lowest = 0.0;
  for (const auto& t : {std::array<int, 3>{0, 1, 2}, {0, 2, 3}, {0, 1, 3}, {1, 2, 3}}) {
    double u[3], v[3], m[3], r[3];
    mgn_sub(b[t[1]]->xyz, b[t[0]]->xyz, u);
    mgn_sub(b[t[2]]->xyz, b[t[0]]->xyz, v);
    mgn_cross(u, v, m);
    mgn_sub(centre, b[t[0]]->xyz, r);
    const double rise = mgn_dot(m, n);
    if (rise > 0.0) lowest = std::max(lowest, -mgn_dot(m, r) / rise);
  }
  double apex[3];
  bool found = false;
  for (double lowered : kLoweredHeight) {
    const double h = std::max(lowered * height, 1.25 * lowest);
    for (int c = 0; c < 3; ++c) apex[c] = centre[c] + h * n[c];
    if (pyram_valid(quad, b, apex, lowered * edge)) {
      found = true;
      break;
    }
  }
  if (!found) {
    mgn_note_partial_quad(quad);
    fail(mgn_format("Pyram ideal point in region %ld not reached after %d iterations (x = %f, y = %f, z = %f)",
                    region_id(), kPyramTries, apex[0], apex[1], apex[2]),
         kGeneratePyram, __LINE__);
  }
  mgn_node* top = mgn_create_node(apex, nullptr, MGN_REGION, ctx.region, &ctx.region->mesh.nodes);
  if (ctx.region_size > 0.0 && top->size > ctx.region_size) top->size = static_cast<float>(ctx.region_size);
  top->flags |= MGN_NODE_APEX;
  enter_node(top);
  mgn_node* const nodes[5] = {b[0], b[1], b[2], b[3], top};
  mgn_pyram* pyram = mgn_create_pyram(nodes, ctx.region, &ctx.region->mesh.pyrams);
  pyram->ngb[0] = quad;
  pyram->ngb_type[0] = MGN_ELEM_QUAD;
  mgn_element_extra* extra = mgn_get_element_extra(quad);
  extra->side[side] = pyram;
  extra->side_type[side] = MGN_ELEM_PYRAM;
  for (mgn_node* base : b) mgn_create_edge(top, base, MGN_REGION, ctx.region, &ctx.region->mesh.edges);
  for (int k = 1; k <= 4; ++k) add_pyram_side(pyram, k);
  double v1 = 0.0, v2 = 0.0;
  tetra_quality(b[0]->xyz, b[1]->xyz, b[2]->xyz, apex, &v1);
  tetra_quality(b[0]->xyz, b[2]->xyz, b[3]->xyz, apex, &v2);
  ctx.pyram_volume += v1 + v2;
  ctx.volume_sum += v1 + v2;
}

// The faces of one side of an entity join the front once, also when the
// entity is listed twice.
struct side_key {
  const void* entity;
  int side;
  bool operator==(const side_key& other) const { return entity == other.entity && side == other.side; }
};

void build_front(mgn_region* region) {
  std::vector<side_key> entered;
  auto enter = [&](auto* entity, int side) {
    if (entity == nullptr) return;
    const side_key key{entity, side};
    if (std::find(entered.begin(), entered.end(), key) != entered.end()) return;
    entered.push_back(key);
    enter_entity_faces(entity, side);
  };
  for (mgn_surface* s : mgn_list_range<mgn_surface>(region->inner_surfaces)) enter(s, 0);
  for (mgn_surface* s : mgn_list_range<mgn_surface>(region->outer_surfaces)) enter(s, 1);
  for (mgn_patch* p : mgn_list_range<mgn_patch>(region->inner_patches)) enter(p, 0);
  for (mgn_patch* p : mgn_list_range<mgn_patch>(region->outer_patches)) enter(p, 1);
  for (mgn_shell* s : mgn_list_range<mgn_shell>(region->inner_shells)) enter(s, 0);
  for (mgn_shell* s : mgn_list_range<mgn_shell>(region->outer_shells)) enter(s, 1);
  // Subregions: the side of their boundary that looks away from them.
  for (mgn_region* sub : mgn_list_range<mgn_region>(region->subregions)) {
    if (sub == nullptr || sub == region) continue;
    for (mgn_surface* s : mgn_list_range<mgn_surface>(sub->inner_surfaces)) enter(s, 1);
    for (mgn_surface* s : mgn_list_range<mgn_surface>(sub->outer_surfaces)) enter(s, 0);
    for (mgn_patch* p : mgn_list_range<mgn_patch>(sub->inner_patches)) enter(p, 1);
    for (mgn_patch* p : mgn_list_range<mgn_patch>(sub->outer_patches)) enter(p, 0);
    for (mgn_shell* s : mgn_list_range<mgn_shell>(sub->inner_shells)) enter(s, 1);
    for (mgn_shell* s : mgn_list_range<mgn_shell>(sub->outer_shells)) enter(s, 0);
  }
  // Entities inside the region: both sides, the second side first.
  for (mgn_surface* s : mgn_list_range<mgn_surface>(region->fixed_surfaces)) {
    enter(s, 1);
    enter(s, 0);
  }
  for (mgn_patch* p : mgn_list_range<mgn_patch>(region->fixed_patches)) {
    enter(p, 1);
    enter(p, 0);
  }
  for (mgn_shell* s : mgn_list_range<mgn_shell>(region->fixed_shells)) {
    enter(s, 1);
    enter(s, 0);
  }
}

// The pyramids on the boundary quads, once the triangles and the fixed
// pieces are on the front.
void generate_pyrams() {
  for (std::size_t q = 0; q < ctx.boundary_quads.size(); ++q) {
    const mgn_quad* quad = ctx.boundary_quads[q].first;
    const double* p[4] = {quad->n[0]->xyz, quad->n[1]->xyz, quad->n[2]->xyz, quad->n[3]->xyz};
    ctx.quad_tree.insert(box_of(p, 4), static_cast<int32_t>(q));
  }
  const std::vector<double> heights = pyram_heights();
  for (std::size_t q = 0; q < ctx.boundary_quads.size(); ++q)
    mgn_generate_pyram(ctx.boundary_quads[q].first, ctx.boundary_quads[q].second, heights[q]);
  ctx.quad_tree.clear();
}

// Vertices and curves fixed inside the region enter as isolated points and
// segments, unless their nodes already are on the front.
void enter_fixed_pieces(mgn_region* region) {
  auto enter_piece = [&](mgn_node* a, mgn_node* b) {
    fixed_piece piece{};
    piece.n[0] = a;
    piece.n[1] = b;
    piece.alive = true;
    const double* p[2] = {a->xyz, b != nullptr ? b->xyz : a->xyz};
    ctx.pieces.push_back(piece);
    const int32_t item = -static_cast<int32_t>(ctx.pieces.size());
    ctx.pieces.back().leaf = ctx.tree.insert(box_of(p, 2), item);
    for (mgn_node* node : {a, b}) {
      if (node == nullptr) continue;
      enter_node(node);
      if (node->front_count == 0) node->front_count = kIsolated;
    }
  };
  for (mgn_vertex* v : mgn_list_range<mgn_vertex>(region->fixed_vertices)) {
    mgn_node* node = v != nullptr ? v->mesh.node : nullptr;
    if (node == nullptr || node->id == 0) continue;
    if (node->front_count > 0 && node->front_count != kIsolated) continue;
    enter_piece(node, nullptr);
  }
  for (mgn_curve* c : mgn_list_range<mgn_curve>(region->fixed_curves)) {
    if (c == nullptr || c->mesh.edges == nullptr) continue;
    mgn_for_own_records<mgn_edge>(c->mesh.edges, c->mesh.edge_total, c->mesh.discretized, [&](mgn_edge* e) {
      if (e->n[0] != e->n[1]) enter_piece(e->n[0], e->n[1]);
    });
  }
}

// The surface, patch or shell a bounding front face comes from: its
// triangle's, or the quad's under the pyramid whose side it is.
void owner_entity(const front_face& f, int* kind, void** entity) {
  if (f.owner_type == MGN_ELEM_PYRAM) {
    const auto* quad = static_cast<const mgn_quad*>(static_cast<const mgn_pyram*>(f.owner)->ngb[0]);
    *kind = quad->kind;
    *entity = quad->entity;
    return;
  }
  const auto* face = static_cast<const mgn_face*>(f.owner);
  *kind = face->kind;
  *entity = face->entity;
}
const char* kind_word(int kind) { return kind == MGN_PATCH ? "patch" : (kind == MGN_SHELL ? "shell" : "surface"); }
long entity_id(int kind, const void* entity) {
  return kind == MGN_PATCH   ? static_cast<long>(static_cast<const mgn_patch*>(entity)->id)
         : kind == MGN_SHELL ? static_cast<long>(static_cast<const mgn_shell*>(entity)->id)
                             : static_cast<long>(static_cast<const mgn_surface*>(entity)->id);
}

// Volume enclosed by the front (faces turning counterclockwise seen from
// inside), and the orientation check of each closed piece of it.
void measure_front() {
  // Pieces of front joined at edges, by union of faces sharing nodes pairs.
  const std::size_t count = ctx.faces.size();
  std::vector<int32_t> parent(count);
  for (std::size_t i = 0; i < count; ++i) parent[i] = static_cast<int32_t>(i);
  auto find = [&](int32_t i) {
    while (parent[i] != i) {
      parent[i] = parent[parent[i]];
      i = parent[i];
    }
    return i;
  };
  for (std::size_t i = 0; i < count; ++i) {
    const front_face& f = ctx.faces[i];
    if (!f.alive) continue;
    for (int e = 0; e < 3; ++e) {
      const mgn_node* b = f.n[(e + 1) % 3];
      for_faces_at(f.n[e], [&](int32_t j) {
        const front_face& g = ctx.faces[j];
        if (g.n[0] == b || g.n[1] == b || g.n[2] == b) parent[find(j)] = find(static_cast<int32_t>(i));
      });
    }
  }
  // Reference point: the centre of the front's box (keeps the products
  // small).
  double lo[3], hi[3];
  bool first = true;
  for (const front_face& f : ctx.faces) {
    if (!f.alive) continue;
    for (const mgn_node* n : f.n)
      for (int k = 0; k < 3; ++k) {
        if (first || n->xyz[k] < lo[k]) lo[k] = n->xyz[k];
        if (first || n->xyz[k] > hi[k]) hi[k] = n->xyz[k];
      }
    first = false;
  }
  if (first) return;
  double o[3];
  for (int k = 0; k < 3; ++k) o[k] = 0.5 * (lo[k] + hi[k]);
  std::vector<double> piece_volume(count, 0.0);
  double total = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const front_face& f = ctx.faces[i];
    if (!f.alive) continue;
    double a[3], b[3], c[3], bc[3];
    mgn_sub(f.n[0]->xyz, o, a);
    mgn_sub(f.n[1]->xyz, o, b);
    mgn_sub(f.n[2]->xyz, o, c);
    mgn_cross(b, c, bc);
    const double v = -mgn_dot(a, bc) / 6.0;  // inward faces: minus the outward sum
    piece_volume[find(static_cast<int32_t>(i))] += v;
    total += v;
  }
  ctx.reference_volume = total;
  // Each closed piece must enclose volume of the sign its nesting asks for:
  // positive for a piece inside an even number of others (the outer
  // boundary), negative for a void.  Nesting is found by the parity of the
  // crossings of a ray from one node of the piece with the other pieces.
  double extent = 0.0;
  for (int k = 0; k < 3; ++k) extent = std::max(extent, hi[k] - lo[k]);
  const double tolerance = 1e-9 * extent * extent * extent;
  std::vector<int32_t> roots;
  for (std::size_t i = 0; i < count; ++i)
    if (ctx.faces[i].alive && find(static_cast<int32_t>(i)) == static_cast<int32_t>(i) &&
        std::fabs(piece_volume[i]) > tolerance)
      roots.push_back(static_cast<int32_t>(i));
  for (int32_t r : roots) {
    const double* p = ctx.faces[r].n[0]->xyz;
    // A ray in an unremarkable direction, long enough to leave the box.
    const double dir[3] = {0.5773502691896258 + 0.0123, 0.5773502691896258 - 0.0311, 0.5773502691896258 + 0.0071};
    double q[3];
    for (int k = 0; k < 3; ++k) q[k] = p[k] + 4.0 * (extent + std::fabs(p[k] - o[k]) + 1.0) * dir[k];
    int depth = 0;
    for (int32_t other : roots) {
      if (other == r) continue;
      int crossings = 0;
      for (std::size_t i = 0; i < count; ++i) {
        const front_face& f = ctx.faces[i];
        if (!f.alive || find(static_cast<int32_t>(i)) != other) continue;
        if (segment_meets_triangle(p, q, f.n[0]->xyz, f.n[1]->xyz, f.n[2]->xyz)) ++crossings;
      }
      depth += crossings % 2;
    }
    const bool outer = depth % 2 == 0;
    if ((piece_volume[r] > 0.0) != outer) {
      int kind = 0;
      void* entity = nullptr;
      owner_entity(ctx.faces[r], &kind, &entity);
      mgn_note_partial_entity(kind, entity);
      fail(mgn_format("Invalid model topology detected\nCheck outer normal of %s %ld", kind_word(kind),
                      entity_id(kind, entity)),
           kNeighbourNode, __LINE__);
    }
  }
}

// The bounding faces must not cross one another.
void check_front_crossings() {
  const std::size_t count = ctx.faces.size();
  for (std::size_t i = 0; i < count; ++i) {
    const front_face& f = ctx.faces[i];
    if (!f.alive) continue;
    int32_t hit = -1;
    ctx.tree.query(f.bounds, [&](int32_t item) {
      if (hit >= 0 || item <= static_cast<int32_t>(i)) return;
      const front_face& g = ctx.faces[item];
      if (!g.alive) return;
      if (face_match(g, f.n[0], f.n[1], f.n[2]) != 0) return;  // the two sides of one face
      if (triangles_conflict(f.n, g.n)) hit = item;
    });
    if (hit < 0) continue;
    int kind_a = 0, kind_b = 0;
    void *entity_a = nullptr, *entity_b = nullptr;
    owner_entity(f, &kind_a, &entity_a);
    owner_entity(ctx.faces[hit], &kind_b, &entity_b);
    const front_face* pair[2] = {&f, &ctx.faces[hit]};
    for (const front_face* g : pair) {
      if (g->owner_type == MGN_ELEM_FACE) mgn_note_partial_face(static_cast<mgn_face*>(g->owner));
      else mgn_note_partial_pyram(static_cast<mgn_pyram*>(g->owner));
    }
    fail(mgn_format("Face on %s %ld intersected by edge on %s %ld", kind_word(kind_a), entity_id(kind_a, entity_a),
                    kind_word(kind_b), entity_id(kind_b, entity_b)),
         kGenerateTetra, __LINE__);
  }
}

void reset_context(mgn_region* region) {
  ctx.region = region;
  ctx.region_size = region->size > 0.0f ? static_cast<double>(region->size) : 0.0;
  ctx.volume_sum = 0.0;
  ctx.reference_volume = 0.0;
  ctx.live_tetras = 0;
  ctx.hint = nullptr;
  ctx.faces.clear();
  ctx.free_faces.clear();
  ctx.live_faces = 0;
  ctx.pieces.clear();
  ctx.nodes.clear();
  ctx.tree.clear();
  ctx.queue.clear();
  ctx.queued = 0;
  ctx.current_layer = 0;
  for (int k = 0; k < 3; ++k) {
    ctx.place_lo[k] = mgn_tree.root_min[k];
    ctx.place_hi[k] = mgn_tree.root_max[k];
  }
  ctx.boundary_quads.clear();
  ctx.pyram_volume = 0.0;
  ctx.first_tetra_id = 0;
  ctx.tetras.clear();
  ctx.tetra_links.clear();
  ctx.remeshings = 0;
  ctx.progress_mark = 0;
  ctx.warned_small_size = false;
  ctx.mark = 0;
}

void release_context() {
  // Per-node bookkeeping of the front goes with the run.
  for (node_info& info : ctx.nodes) {
    info.node->work = 0;
    if (info.node->front_count == kIsolated) info.node->front_count = 0;
  }
  ctx.faces = {};
  ctx.free_faces = {};
  ctx.pieces = {};
  ctx.nodes = {};
  ctx.tree.clear();
  ctx.queue = {};
  ctx.tetras = {};
  ctx.tetra_links = {};
  ctx.near_faces = {};
  ctx.near_pieces = {};
  ctx.near_nodes = {};
  ctx.candidates = {};
  ctx.tried = {};
  ctx.region = nullptr;
}

}  // namespace

void mgn_discretize_subregion(mgn_region* region) {
  mgn_region_stat = mgn_region_stats{};
  reset_context(region);
  build_front(region);
  enter_fixed_pieces(region);
  generate_pyrams();
  if (ctx.live_faces == 0) {
    release_context();
    mgn_note_partial_region(region);
    mgn_manipulation_error(mgn_format("Region %ld has no bounding face", static_cast<long>(region->id)),
                           __func__, mgn_module_name(__FILE__), __LINE__);
  }
  check_front_crossings();
  measure_front();
  // The front encloses the region less its pyramids.
  ctx.reference_volume += ctx.pyram_volume;
  mgn_region_stat.reference_volume = ctx.reference_volume;
  // The faces in the order they joined the front; a face put back waits
  // behind the others.
  while (!ctx.queue.empty()) {
    std::pop_heap(ctx.queue.begin(), ctx.queue.end(), comes_after);
    const int32_t index = ctx.queue.back().index;
    const uint32_t stamp = ctx.queue.back().stamp;
    ctx.queue.pop_back();
    front_face& f = ctx.faces[index];
    if (!f.alive || f.stamp != stamp) continue;
    if (ctx.tree.worn()) {
      ctx.tree.rebuild([](int32_t item, int leaf) {
        if (item >= 0) ctx.faces[item].leaf = leaf;
        else ctx.pieces[-item - 1].leaf = leaf;
      });
    }
    ctx.current_layer = f.layer + 1;
    if (try_face(index)) {
      if (ctx.height_scale != 1.0 && ctx.live_tetras > ctx.progress_mark) ctx.height_scale = 1.0;
      continue;
    }
    if (f.tries + 1 < kTries) {
      ++f.tries;
      ++mgn_region_stat.postponed;
      push_face(index);
      continue;
    }
    ctx.current_layer = ctx.faces[index].layer;
    unblock(index);
    // A face that stays on the front is tried again.
    if (ctx.faces[index].alive && ctx.faces[index].stamp == stamp) {
      ctx.faces[index].tries = 0;
      push_face(index);
    }
  }
  // Isolated pieces no tetra reached.
  for (const fixed_piece& piece : ctx.pieces)
    if (piece.alive) mgn_check_data_node(piece.n[0], MGN_REGION, region, "region", region->id);
  mgn_region_stat.volume = ctx.volume_sum;
  const double v_ref = ctx.reference_volume;
  const double v_sum = ctx.volume_sum;
  if (!(v_sum > 0.0) || std::fabs(v_ref - v_sum) / v_sum > 1e-5)
    fail("Region volume inconsistency detected", kDiscretizeSubregion, __LINE__);
  region->volume = static_cast<float>(v_sum);
  const bool too_small = ctx.warned_small_size;
  release_context();
  if (too_small) mgn_warning("Warning: Too small default mesh size of region %ld\n", static_cast<long>(region->id));
}
