// The octree of mesh sizes and node index: root creation, division with the
// balance rule, size queries, refinement at a point, neighbourhood
// collection and the node lists of the leaves.
#include "octree.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "geom.h"
#include "list.h"
#include "message.h"
#include "progress.h"


namespace {

constexpr double kScale = MGN_OCTREE_SIZE_SCALE;
// Range of the sizes of the tree (single precision): the root at most a
// quarter of the largest single-precision value, so that twice its size and
// the scaled sizes stay finite; no octant below the smallest normal one.
constexpr double kLargestRoot = 0.25 * static_cast<double>(std::numeric_limits<float>::max());
constexpr double kSmallestSize = static_cast<double>(std::numeric_limits<float>::min());

inline bool is_leaf(const mgn_octant* octant) { return octant->state != MGN_OCTANT_DIVIDED; }

// The value rounded to single precision.
inline double single(double value) { return static_cast<double>(static_cast<float>(value)); }

// The value rounded to a single-precision value not below it.
double single_up(double value) {
  float rounded = static_cast<float>(value);
  if (static_cast<double>(rounded) < value) rounded = std::nextafter(rounded, HUGE_VALF);
  return rounded;
}

// Closed box test.
inline bool contains(const mgn_octant* octant, const double p[3]) {
  const double* o = octant->origin;
  const double h = octant->size;
  return p[0] >= o[0] && p[0] <= o[0] + h && p[1] >= o[1] && p[1] <= o[1] + h && p[2] >= o[2] &&
         p[2] <= o[2] + h;
}

// Child index of a point in a divided octant whose children have size half.
inline int child_index(const mgn_octant* octant, double half, const double p[3]) {
  const double* o = octant->origin;
  return (p[0] >= o[0] + half) + 2 * (p[1] >= o[1] + half) + 4 * (p[2] >= o[2] + half);
}

// --- record pools ---------------------------------------------------------

long pool_capacity() { return std::clamp(mgn_set.listing_size, 10L, 100L); }

void destroy_pool(mgn_listing*& pool) {
  if (pool != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(pool));
  pool = nullptr;
}

void destroy_pools() {
  destroy_pool(mgn_tree.octants);
  destroy_pool(mgn_tree.children);
  destroy_pool(mgn_tree.node_cells);
  mgn_tree.corners = mgn_corner_store{};
  mgn_tree.free_cells = nullptr;
}

void create_pools() {
  destroy_pools();
  const long capacity = pool_capacity();
  mgn_tree.octants = mgn_create_listing(1, sizeof(mgn_octant_block));
  mgn_tree.children = mgn_create_listing(capacity, sizeof(mgn_octant_block));
  mgn_tree.node_cells = mgn_create_listing(capacity, sizeof(mgn_list_item));
}

// Fills a new leaf (zero-filled slot: no nodes).
void init_octant(mgn_octant* octant, mgn_octant* parent, double size) {
  octant->state = MGN_OCTANT_EMPTY;
  octant->parent = parent;
  octant->size = static_cast<float>(size);  // sizes come rounded to single precision
}

// Node list cells come from the tree's pool (a cell given back is reused
// first): a cell allocated on its own would cost twice its 16 bytes, and one
// is held for every mesh node.
void enter_in_leaf(mgn_octant* leaf, mgn_node* node) {
  mgn_list_item* cell = mgn_tree.free_cells;
  if (cell != nullptr) {
    mgn_tree.free_cells = cell->next;
  } else {
    cell = static_cast<mgn_list_item*>(mgn_get_listing_item(mgn_tree.node_cells));
  }
  cell->object = node;
  cell->next = leaf->nodes;
  leaf->nodes = cell;
}

void take_out_of_leaf(mgn_octant* leaf, mgn_node* node) {
  mgn_list_item* cell = mgn_unlink_item(leaf->nodes, node);
  if (cell == nullptr) return;
  cell->next = mgn_tree.free_cells;
  mgn_tree.free_cells = cell;
}

// A new corner size record; returns its number.
uint32_t new_corner(double value) {
  mgn_corner_store& store = mgn_tree.corners;
  const uint32_t number = store.count;
  if ((number & (MGN_CORNER_CHUNK - 1)) == 0) {
    if (number == 0 && !store.chunks.empty()) {
      mgn_manipulation_error("Too many octree corners (more than 2^32)", MGN_HERE);
    }
    store.chunks.emplace_back(new float[MGN_CORNER_CHUNK]);
  }
  store.chunks[number >> MGN_CORNER_CHUNK_BITS][number & (MGN_CORNER_CHUNK - 1)] = static_cast<float>(value);
  ++store.count;
  return number;
}

// --- warnings -------------------------------------------------------------

// Once per entity (its warning scope), and once for points that print
// alike: two entities may meet at one point.
void warn_too_fine_at_point(const double p[3]) {
  if (!mgn_first_in_warning_scope(MGN_WARNING_TOO_FINE_AT_POINT)) return;
  mgn_warning_once(
      "Warning: Too fine octree required at point [%10.3e %10.3e %10.3e]\n"
      "         Octree depth reduced to %ld\n"
      "         Octant size reduced to %e\n",
      p[0], p[1], p[2], static_cast<long>(mgn_tree.max_depth), mgn_tree.min_size);
}

// --- division ---------------------------------------------------------------

// Corner record at grid point g (each 0, 1 or 2 in units of half the size)
// of a divided octant: the corner of the leaf below it that has the point
// as corner.
uint32_t corner_of_divided(const mgn_octant* octant, const int g[3]) {
  int child = 0;
  int corner = 0;
  for (int a = 0; a < 3; ++a) {
    const int c = g[a] > 0 ? 1 : 0;
    child |= c << a;
    corner |= (g[a] - c) << a;
  }
  const mgn_octant* leaf = mgn_octant_child(octant, child);
  while (!is_leaf(leaf)) leaf = mgn_octant_child(leaf, corner);
  return mgn_octant_corner_number(leaf, corner);
}

// The octant of the same size across the edge between faces f1 and f2 (or
// the coarser leaf there), reached through a face neighbour of the same
// size; null on the root boundary.  faces: the octant's face neighbours.
mgn_octant* edge_neighbour(const mgn_octant* octant, mgn_octant* const faces[6], int f1, int f2) {
  const mgn_octant* first = faces[f1];
  if (first != nullptr && first->size == octant->size) return mgn_get_octant_neighbour(first, f2);
  const mgn_octant* second = faces[f2];
  if (second != nullptr && second->size == octant->size) return mgn_get_octant_neighbour(second, f1);
  return nullptr;
}

// Divides every leaf coarser than the octant across its faces and edges, so
// that its children will be at most one level finer than any neighbour, and
// returns the face neighbours as they then stand.  A division across an
// edge does not change them: it only divides leaves coarser than the leaf
// divided, and the face neighbours are no longer coarser than the octant.
void balance_neighbours(mgn_octant* octant, mgn_octant* faces[6]) {
  for (int f = 0; f < 6; ++f) {
    for (;;) {
      mgn_octant* neighbour = mgn_get_octant_neighbour(octant, f);
      faces[f] = neighbour;
      if (neighbour == nullptr || !is_leaf(neighbour) || neighbour->size <= octant->size) break;
      if (mgn_divide_terminal_octant(neighbour) == 0) break;
    }
  }
  for (int a1 = 0; a1 < 3; ++a1) {
    for (int a2 = a1 + 1; a2 < 3; ++a2) {
      for (int s1 = 0; s1 < 2; ++s1) {
        for (int s2 = 0; s2 < 2; ++s2) {
          const int f1 = mgn_octant_face(a1, s1);
          const int f2 = mgn_octant_face(a2, s2);
          for (;;) {
            mgn_octant* neighbour = edge_neighbour(octant, faces, f1, f2);
            if (neighbour == nullptr || !is_leaf(neighbour) || neighbour->size <= octant->size)
              break;
            if (mgn_divide_terminal_octant(neighbour) == 0) break;
          }
        }
      }
    }
  }
}

// The corner records of the 3 x 3 x 3 grid of points of a leaf about to be
// divided (index x + 3 y + 9 z): the leaf's own corners, records of the
// same points held by divided neighbours, and new records of value half.
// faces: the octant's face neighbours.
void gather_grid_corners(const mgn_octant* octant, mgn_octant* const faces[6], double half, uint32_t grid[27]) {
  for (int k = 0; k < 8; ++k) {
    grid[2 * (k & 1) + 6 * ((k >> 1) & 1) + 18 * ((k >> 2) & 1)] = mgn_octant_corner_number(octant, k);
  }
  for (int z = 0; z < 3; ++z) {
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 3; ++x) {
        const int g[3] = {x, y, z};
        int axes[3];
        int count = 0;
        for (int a = 0; a < 3; ++a) {
          if (g[a] != 1) axes[count++] = a;
        }
        if (count == 3) continue;  // a corner of the octant itself
        bool found = false;
        uint32_t number = 0;
        // Face neighbours across each boundary plane of the point, then the
        // edge neighbour across both.
        const int subsets = (1 << count) - 1;
        for (int subset = 1; subset <= subsets && !found; ++subset) {
          const mgn_octant* across = octant;
          int h[3] = {g[0], g[1], g[2]};
          for (int i = 0; i < count && across != nullptr; ++i) {
            if (!(subset & (1 << i))) continue;
            const int a = axes[i];
            const int f = mgn_octant_face(a, g[a] == 2);
            across = across == octant ? faces[f] : mgn_get_octant_neighbour(across, f);
            if (across != nullptr && across->size != octant->size) across = nullptr;
            h[a] = 2 - g[a];
          }
          if (across != nullptr && !is_leaf(across)) {
            number = corner_of_divided(across, h);
            found = true;
          }
        }
        grid[x + 3 * y + 9 * z] = found ? number : new_corner(half);
      }
    }
  }
}

// Recomputes the state of a leaf from its node list.
void update_leaf_state(mgn_octant* leaf) {
  int state = MGN_OCTANT_EMPTY;
  for (mgn_list_item* item = leaf->nodes; item != nullptr; item = item->next) {
    if (static_cast<const mgn_node*>(item->object)->kind != MGN_REGION) {
      state = MGN_OCTANT_NODES;
      break;
    }
    state = MGN_OCTANT_REGION_NODES;
  }
  leaf->state = state;
}

// State of a leaf after a node arrived.
inline void note_node_arrival(mgn_octant* leaf, const mgn_node* node) {
  if (node->kind != MGN_REGION) {
    leaf->state = MGN_OCTANT_NODES;
  } else if (leaf->state == MGN_OCTANT_EMPTY) {
    leaf->state = MGN_OCTANT_REGION_NODES;
  }
}

// Moves the nodes of a divided octant to its children, keeping their order.
void migrate_nodes(mgn_octant* octant, double half) {
  mgn_list_item* item = octant->nodes;
  octant->nodes = nullptr;
  mgn_list_item* tails[8] = {};
  while (item != nullptr) {
    mgn_list_item* next = item->next;
    auto* node = static_cast<mgn_node*>(item->object);
    const int k = child_index(octant, half, node->xyz);
    mgn_octant* child = mgn_octant_child(octant, k);
    item->next = nullptr;
    if (tails[k] != nullptr) {
      tails[k]->next = item;
    } else {
      child->nodes = item;
    }
    tails[k] = item;
    node->octant = child;
    note_node_arrival(child, node);
    item = next;
  }
  for (int k = 0; k < 8; ++k) {
    mgn_octant* child = mgn_octant_child(octant, k);
    for (mgn_list_item* moved = child->nodes; moved != nullptr; moved = moved->next) {
      auto* node = static_cast<mgn_node*>(moved->object);
      mgn_octant* hint = child;
      node->size = static_cast<float>(mgn_get_octree_mesh_size(&hint, node->xyz, false));
    }
  }
}

// --- neighbourhood collection ----------------------------------------------

struct collection {
  mgn_octant** out;
  int count;
};

void collect(collection& found, mgn_octant* leaf) {
  for (int i = 0; i < found.count; ++i) {
    if (found.out[i] == leaf) return;
  }
  if (found.count >= MGN_OCTANTS) {
    mgn_manipulation_error("Too many octants in the neighbourhood (increase MGN_OCTANTS)",
                           "mgn_collect_octree_neighbourhood", mgn_module_name(__FILE__), __LINE__);
  }
  found.out[found.count++] = leaf;
}

// Gathers the leaves of octant that touch the side given per axis by
// touch[a] (0: low side, 1: high side, -1: any).
void collect_touching(collection& found, mgn_octant* octant, const int touch[3]) {
  if (is_leaf(octant)) {
    collect(found, octant);
    return;
  }
  for (int k = 0; k < 8; ++k) {
    bool touches = true;
    for (int a = 0; a < 3; ++a) {
      if (touch[a] >= 0 && ((k >> a) & 1) != touch[a]) touches = false;
    }
    if (touches) collect_touching(found, mgn_octant_child(octant, k), touch);
  }
}

}  // namespace

void mgn_warn_too_fine_at_point(const double p[3]) { warn_too_fine_at_point(p); }

// ---------------------------------------------------------------------------
// Root
// ---------------------------------------------------------------------------

void mgn_create_root_octant(const double box_min[3], const double box_max[3]) {
  mgn_open_warning_stage();
  mgn_open_warning_scope();
  create_pools();
  mgn_tree.root = nullptr;
  double origin[3];
  const bool given = mgn_set.root_origin_given;
  if (given) {
    bool changed = false;
    for (int a = 0; a < 3; ++a) {
      origin[a] = mgn_set.root_octant_origin[a];
      if (box_min[a] < origin[a]) {
        origin[a] = box_min[a];
        changed = true;
      }
    }
    if (changed) {
      mgn_warning("Warning: Root octant origin modified to [%10.3e %10.3e %10.3e]\n", origin[0],
                  origin[1], origin[2]);
    }
  }
  double size = std::max(mgn_set.root_octant_size, 0.0);
  for (int a = 0; a < 3; ++a) size = std::max(size, box_max[a] - (given ? origin[a] : box_min[a]));
  // Octant sizes and the sizes of the tree are single-precision values: the
  // root, twice the root (the size of an entity without one) and the finest
  // octant must all be normal single-precision numbers.
  if (!(size <= kLargestRoot)) {
    mgn_manipulation_error(mgn_format("Root octant size %e exceeds the range of mesh sizes (%e)", size, kLargestRoot),
                           MGN_HERE);
  }
  // Rounded up so that the cube still holds the model.
  size = single_up(size);
  if (!given) {
    for (int a = 0; a < 3; ++a) origin[a] = 0.5 * (box_min[a] + box_max[a]) - 0.5 * size;
  }
  if (size == 0.0) size = 1.0;
  if (mgn_set.root_octant_size > 0.0 && size != single(mgn_set.root_octant_size)) {
    mgn_warning("Warning: Root octant size increased to %e\n", size);
  }

  if (size < kSmallestSize) {
    mgn_manipulation_error(mgn_format("Root octant size %e is below the range of mesh sizes (%e)", size, kSmallestSize),
                           MGN_HERE);
  }

  auto* block = static_cast<mgn_octant_block*>(mgn_get_listing_item(mgn_tree.octants));
  mgn_octant* root = block->octants;
  init_octant(root, nullptr, size);
  for (int a = 0; a < 3; ++a) root->origin[a] = origin[a];
  for (int m = 0; m < 8; ++m) block->corners[mgn_block_grid_point(0, m)] = new_corner(size);
  mgn_tree.root = root;
  mgn_tree.root_size = size;
  mgn_tree.octant_count = 1;
  for (int a = 0; a < 3; ++a) {
    mgn_tree.root_min[a] = origin[a];
    mgn_tree.root_max[a] = origin[a] + size;
  }
  mgn_set_geometric_tolerance(mgn_tree.root_min, mgn_tree.root_max);

  // Deepest level: about a tenth of the tolerance as the finest octant.
  // No deeper than the level whose octants are still normal single-precision
  // values.
  const double depth = std::floor(std::log2((size / mgn_tol.eps) / 10.0) + 0.5);
  const double deepest = std::floor(std::log2(size / kSmallestSize));
  mgn_tree.max_depth = static_cast<int16_t>(std::clamp(std::min(depth, deepest), 0.0, 1000.0));
  mgn_tree.min_size = std::ldexp(size, -mgn_tree.max_depth);

  if (mgn_set.uniform_size > 0.0) {
    const double uniform_depth =
        std::log2(size * kScale * mgn_set.octant_excess / mgn_set.uniform_size) + 5e-05;
    if (uniform_depth >= mgn_tree.max_depth + 1.0) {
      mgn_warning(
          "Warning: Too fine uniform octree required\n"
          "         Uniform octree depth reduced to %ld\n"
          "         Octant size reduced to %e\n",
          static_cast<long>(mgn_tree.max_depth), mgn_tree.min_size);
      mgn_set.uniform_size = mgn_tree.min_size * 1.05;
    }
  }
}

mgn_octant* mgn_get_octant_neighbour(const mgn_octant* octant, int face) {
  const mgn_octant* parent = octant->parent;
  if (parent == nullptr) return nullptr;
  const int k = static_cast<int>(octant - parent->children);
  const int bit = 1 << (face < 3 ? face : 5 - face);
  // A face toward the inside of the parent meets a sibling; otherwise the
  // neighbour is the parent's neighbour (a leaf, or null on the root
  // boundary) or its child facing this octant.
  const bool high = face >= 3;
  if (((k & bit) != 0) != high) return mgn_octant_child(parent, k ^ bit);
  mgn_octant* across = mgn_get_octant_neighbour(parent, face);
  if (across == nullptr || is_leaf(across)) return across;
  return mgn_octant_child(across, k ^ bit);
}

void mgn_release_octree() {
  destroy_pools();
  mgn_tree.root = nullptr;
}

int mgn_get_octant_level(const mgn_octant* octant) {
  int level = 0;
  for (; octant->parent != nullptr; octant = octant->parent) ++level;
  return level;
}

// ---------------------------------------------------------------------------
// Division
// ---------------------------------------------------------------------------

int mgn_divide_terminal_octant(mgn_octant* octant) {
  if (!is_leaf(octant)) return 1;
  if (octant->size < 1.5 * mgn_tree.min_size) {
    const double half = 0.5 * octant->size;
    const double centre[3] = {octant->origin[0] + half, octant->origin[1] + half,
                              octant->origin[2] + half};
    warn_too_fine_at_point(centre);
    return 0;
  }
  mgn_octant* faces[6];
  balance_neighbours(octant, faces);

  const double half = single(0.5 * octant->size);
  auto* block = static_cast<mgn_octant_block*>(mgn_get_listing_item(mgn_tree.children));
  gather_grid_corners(octant, faces, half, block->corners);
  for (int k = 0; k < 8; ++k) mgn_lower_corner_size(mgn_octant_corner(octant, k), half);

  mgn_octant* children = block->octants;
  for (int k = 0; k < 8; ++k) {
    mgn_octant* child = children + k;
    init_octant(child, octant, half);
    child->index = static_cast<int16_t>(k);
    for (int a = 0; a < 3; ++a) {
      child->origin[a] = k == 0 ? octant->origin[a] : octant->origin[a] + (((k >> a) & 1) ? half : 0.0);
    }
  }
  octant->state = MGN_OCTANT_DIVIDED;
  octant->children = children;
  mgn_tree.octant_count += 7;
  mgn_progress_tick();
  if (octant->nodes != nullptr) migrate_nodes(octant, half);
  return 1;
}

// ---------------------------------------------------------------------------
// Location
// ---------------------------------------------------------------------------

mgn_octant* mgn_get_child_octant(const mgn_octant* octant, double half, const double p[3],
                                 int* index) {
  const int k = child_index(octant, half, p);
  if (index != nullptr) *index = k;
  return mgn_octant_child(octant, k);
}

mgn_octant* mgn_locate_leaf_octant(mgn_octant* start, const double p[3]) {
  mgn_octant* octant = start;
  while (!is_leaf(octant)) {
    octant = mgn_octant_child(octant, child_index(octant, octant->children->size, p));
  }
  return octant;
}

mgn_octant* mgn_find_leaf_octant(mgn_octant* start, const double p[3]) {
  mgn_octant* octant = start != nullptr ? start : mgn_tree.root;
  while (octant->parent != nullptr && !contains(octant, p)) octant = octant->parent;
  return mgn_locate_leaf_octant(octant, p);
}

// ---------------------------------------------------------------------------
// Size query
// ---------------------------------------------------------------------------

double mgn_get_octree_mesh_size(mgn_octant** hint, const double p[3], bool check) {
  mgn_octant* leaf = (hint != nullptr && *hint != nullptr) ? *hint : mgn_tree.root;
  if (!is_leaf(leaf) || !contains(leaf, p)) leaf = mgn_find_leaf_octant(leaf, p);
  if (hint != nullptr) *hint = leaf;

  const double h = leaf->size;
  const double* o = leaf->origin;
  // Distances from the low and the high faces, in leaf sizes.
  double a[3];
  double b[3];
  for (int i = 0; i < 3; ++i) {
    a[i] = (p[i] - o[i]) / h;
    b[i] = 1.0 - a[i];
  }
  if (check) {
    for (int i = 0; i < 3; ++i) {
      if (a[i] <= 1.1 && b[i] <= 1.1) continue;
      const std::string message = mgn_format(
          "Octree overflow detected (x = %10.3e, y = %10.3e, z = %10.3e)", p[0], p[1], p[2]);
      for (int j = i; j < 3; ++j) {
        if (a[j] > 1.5 || b[j] > 1.5) {
          mgn_record_error_location(-1, 0, p);
          mgn_manipulation_error(message + "\nPossibly meshing out of domain", MGN_HERE);
        }
      }
      if (mgn_first_in_warning_scope(MGN_WARNING_OCTREE_OVERFLOW)) mgn_warning("Warning: %s\n", message.c_str());
      break;
    }
  } else {
    for (int i = 0; i < 3; ++i) {
      if (a[i] > 1.5) {
        a[i] = 1.5;
        b[i] = -0.5;
      } else if (b[i] > 1.5) {
        b[i] = 1.5;
        a[i] = -0.5;
      }
    }
  }
  float sum = 0.0f;
  for (int k = 0; k < 8; ++k) {
    const double weight =
        ((k & 1) ? a[0] : b[0]) * ((k & 2) ? a[1] : b[1]) * ((k & 4) ? a[2] : b[2]);
    sum += static_cast<float>(*mgn_octant_corner(leaf, k) * weight);
  }
  double size = kScale * sum;
  if (mgn_set.uniform_size > 0.0 && size > mgn_set.uniform_size) size = mgn_set.uniform_size;
  return size;
}

// ---------------------------------------------------------------------------
// Refinement
// ---------------------------------------------------------------------------

namespace {

void lower_corners(mgn_octant* leaf, double size) {
  for (int k = 0; k < 8; ++k) mgn_lower_corner_size(mgn_octant_corner(leaf, k), size);
}

}  // namespace

int mgn_get_octree_scaled_level(double* s_scaled, bool* too_fine) {
  *too_fine = false;
  const double reach = mgn_tree.root_size * mgn_set.octant_excess;
  if (!(*s_scaled > 0.0) || !(2.0 * *s_scaled < reach)) return 0;
  const double level = std::log2(reach / *s_scaled) + 5e-05;
  if (level >= mgn_tree.max_depth + 1.0) {
    *s_scaled = 0.5 * mgn_tree.min_size * mgn_set.octant_excess;
    *too_fine = true;
    return mgn_tree.max_depth;
  }
  return static_cast<int>(level);
}

int mgn_get_octree_level(double s, double* s_scaled, bool* too_fine) {
  *s_scaled = s > 0.0 ? s / kScale : HUGE_VAL;
  return mgn_get_octree_scaled_level(s_scaled, too_fine);
}

double mgn_clamp_to_root_box(double p[3]) {
  double moved = 0.0;
  for (int a = 0; a < 3; ++a) {
    if (p[a] < mgn_tree.root_min[a]) {
      moved += mgn_tree.root_min[a] - p[a];
      p[a] = mgn_tree.root_min[a];
    } else if (p[a] > mgn_tree.root_max[a]) {
      moved += p[a] - mgn_tree.root_max[a];
      p[a] = mgn_tree.root_max[a];
    }
  }
  return moved;
}

mgn_octant* mgn_refine_octree_to_level(mgn_octant* start, int level, const double p[3],
                                       double* s_scaled, double r, bool corner_mode, bool top) {
  mgn_octant* octant = start != nullptr ? start : mgn_tree.root;
  for (int current = mgn_get_octant_level(octant); current < level; ++current) {
    if (is_leaf(octant) && mgn_divide_terminal_octant(octant) == 0) {
      *s_scaled = 0.5 * octant->size * mgn_set.octant_excess;
      break;
    }
    octant = mgn_octant_child(octant, child_index(octant, octant->children->size, p));
  }
  if (!top) return octant;

  const double half = 0.5 * octant->size;
  double centre[3];
  for (int a = 0; a < 3; ++a) centre[a] = octant->origin[a] + half;
  if (r >= 1.0) r = 1.0 - mgn_tol.eps;

  // Corner values of the octant reached.
  if (is_leaf(octant) && *s_scaled < octant->size) {
    if (!corner_mode) {
      lower_corners(octant, *s_scaled);
    } else {
      const double band = (1.0 - r) * half;
      int excluded_bit[3];  // per axis: corner bit excluded, or -1
      for (int a = 0; a < 3; ++a) {
        excluded_bit[a] = -1;
        if (p[a] > centre[a] + band) excluded_bit[a] = 0;
        if (p[a] < centre[a] - band) excluded_bit[a] = 1;
      }
      for (int k = 0; k < 8; ++k) {
        bool near = true;
        for (int a = 0; a < 3; ++a) {
          if (((k >> a) & 1) == excluded_bit[a]) near = false;
        }
        if (near) mgn_lower_corner_size(mgn_octant_corner(octant, k), *s_scaled);
      }
    }
  }

  // Neighbours of the octant reached on its parent's outer sides near p.
  if (!(r > 0.0) || octant->parent == nullptr) return octant;
  int position = 0;
  position = static_cast<int>(octant - octant->parent->children);
  const bool deep = !is_leaf(octant) && !is_leaf(mgn_octant_child(octant, position));
  if (deep) return octant;
  bool selected[3];
  double shift[3];
  const double band = (1.0 - 0.5 * r) * half;
  for (int a = 0; a < 3; ++a) {
    const int bit = (position >> a) & 1;
    const bool beyond = bit ? p[a] > centre[a] + band : p[a] < centre[a] - band;
    selected[a] = beyond && mgn_get_octant_neighbour(octant, mgn_octant_face(a, bit)) != nullptr;
    shift[a] = bit ? octant->size : -octant->size;
  }
  if (is_leaf(octant)) {
    for (int a = 0; a < 3; ++a) {
      if (!selected[a]) continue;
      const int f = mgn_octant_face(a, (position >> a) & 1);
      mgn_octant* neighbour = mgn_get_octant_neighbour(octant, f);
      if (is_leaf(neighbour) && neighbour->size > octant->size) {
        mgn_divide_terminal_octant(neighbour);
        neighbour = mgn_get_octant_neighbour(octant, f);
      }
      if (is_leaf(neighbour)) lower_corners(neighbour, *s_scaled);
    }
  }
  const int reached = mgn_get_octant_level(octant);
  for (int a1 = 0; a1 < 3; ++a1) {
    for (int a2 = a1 + 1; a2 < 3; ++a2) {
      if (!selected[a1] || !selected[a2]) continue;
      double q[3] = {centre[0], centre[1], centre[2]};
      q[a1] += shift[a1];
      q[a2] += shift[a2];
      double ignored = *s_scaled;
      mgn_refine_octree_to_level(nullptr, reached, q, &ignored, r, false, false);
    }
  }
  if (selected[0] && selected[1] && selected[2]) {
    const double q[3] = {centre[0] + shift[0], centre[1] + shift[1], centre[2] + shift[2]};
    double ignored = *s_scaled;
    mgn_refine_octree_to_level(nullptr, reached, q, &ignored, r, false, false);
  }
  return octant;
}

void mgn_refine_octree_at_point(const double point[3], double size, double r, bool clamp) {
  if (mgn_tree.root == nullptr || !(size > 0.0)) return;
  double p[3] = {point[0], point[1], point[2]};
  double s_scaled = size / kScale;
  if (clamp) s_scaled += 0.5 * mgn_clamp_to_root_box(p);
  bool too_fine = false;
  const int level = mgn_get_octree_scaled_level(&s_scaled, &too_fine);
  if (too_fine) warn_too_fine_at_point(p);
  if (level < 1) {
    mgn_octant* root = mgn_tree.root;
    if (s_scaled < mgn_tree.root_size * mgn_set.octant_excess && is_leaf(root)) {
      lower_corners(root, s_scaled);
    }
    return;
  }
  mgn_refine_octree_to_level(nullptr, level, p, &s_scaled, r, false, true);
}

// ---------------------------------------------------------------------------
// Neighbourhood
// ---------------------------------------------------------------------------

int mgn_collect_octree_neighbourhood(mgn_octant* start, mgn_octant* out[MGN_OCTANTS],
                                     const double p[3], double r) {
  mgn_octant* leaf = mgn_find_leaf_octant(start, p);
  collection found{out, 0};
  collect(found, leaf);
  if (leaf->parent == nullptr || !(r > 0.0)) return found.count;
  if (r >= 1.0) r = 1.0 - mgn_tol.eps;
  const double h = leaf->size;
  const double half = 0.5 * h;
  const double band = (1.0 - r) * half;
  double centre[3];
  int direction[3];  // -1 low face selected, 1 high face, 0 none
  int axes[3];
  int count = 0;
  for (int a = 0; a < 3; ++a) {
    centre[a] = leaf->origin[a] + half;
    direction[a] = p[a] < centre[a] - band ? -1 : (p[a] > centre[a] + band ? 1 : 0);
    if (direction[a] != 0) axes[count++] = a;
  }
  // Faces first, then the edges and the corner between them.
  for (int size = 1; size <= count; ++size) {
    for (int subset = 1; subset < (1 << count); ++subset) {
      if (__builtin_popcount(static_cast<unsigned>(subset)) != size) continue;
      double q[3] = {centre[0], centre[1], centre[2]};
      int touch[3] = {-1, -1, -1};
      bool inside = true;
      for (int i = 0; i < count; ++i) {
        if (!(subset & (1 << i))) continue;
        const int a = axes[i];
        q[a] += direction[a] * h;
        touch[a] = direction[a] > 0 ? 0 : 1;
        if (q[a] < mgn_tree.root_min[a] || q[a] > mgn_tree.root_max[a]) inside = false;
      }
      if (!inside) continue;
      // The octant of the leaf's size across (or a coarser leaf).
      mgn_octant* across = leaf;
      while (across->parent != nullptr && !contains(across, q)) across = across->parent;
      while (!is_leaf(across) && across->size > h) {
        across = mgn_octant_child(across, child_index(across, across->children->size, q));
      }
      collect_touching(found, across, touch);
    }
  }
  return found.count;
}

// ---------------------------------------------------------------------------
// Node index
// ---------------------------------------------------------------------------

void mgn_locate_node(mgn_node* node, mgn_octant* hint) {
  if (mgn_tree.root == nullptr) {
    node->octant = nullptr;
    node->size = 0.0f;
    return;
  }
  mgn_octant* leaf = hint;
  node->size = static_cast<float>(mgn_get_octree_mesh_size(&leaf, node->xyz, false));
  enter_in_leaf(leaf, node);
  node->octant = leaf;
  note_node_arrival(leaf, node);
}

void mgn_unlocate_node(mgn_node* node) {
  mgn_octant* leaf = node->octant;
  if (leaf == nullptr) return;
  take_out_of_leaf(leaf, node);
  update_leaf_state(leaf);
  node->octant = nullptr;
}

void mgn_relocate_node(mgn_node* node) {
  if (mgn_tree.root == nullptr) return;
  mgn_octant* old_leaf = node->octant;
  mgn_octant* leaf = old_leaf;
  node->size = static_cast<float>(mgn_get_octree_mesh_size(&leaf, node->xyz, false));
  if (leaf == old_leaf) return;
  if (old_leaf != nullptr) {
    take_out_of_leaf(old_leaf, node);
    update_leaf_state(old_leaf);
  }
  enter_in_leaf(leaf, node);
  node->octant = leaf;
  note_node_arrival(leaf, node);
}
