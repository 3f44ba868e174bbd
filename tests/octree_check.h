// Invariant walker of the octree, shared by the octree tests: run it after
// every construction.  It checks
//  - the structure: parent links, child sizes and origins, states, the
//    octant count;
//  - every leaf is reached from the root by child selection of its centre;
//  - face neighbours (mgn_get_octant_neighbour) against the integer
//    positions: null exactly on the root boundary, otherwise the octant of
//    the same size across (whose neighbour back is this one) or, when there
//    is none, the coarser leaf covering the cell across;
//  - corner records: one record per point, shared by every leaf that has the
//    point as a corner, with a value in (0, leaf size];
//  - balance: no leaf has a face or edge neighbour more than one level
//    coarser.
#ifndef MGN_OCTREE_CHECK_H
#define MGN_OCTREE_CHECK_H

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "octree.h"
#include "records.h"

struct octree_cell {
  mgn_octant* octant;
  int level;
  int64_t i[3];  // position in octants of this level
};

// All octants of the tree with their integer positions, parents first.
inline std::vector<octree_cell> octree_cells() {
  std::vector<octree_cell> cells;
  if (mgn_tree.root == nullptr) return cells;
  cells.push_back({mgn_tree.root, 0, {0, 0, 0}});
  for (std::size_t n = 0; n < cells.size(); ++n) {
    const octree_cell cell = cells[n];
    if (cell.octant->state != MGN_OCTANT_DIVIDED) continue;
    for (int k = 0; k < 8; ++k) {
      octree_cell child{mgn_octant_child(cell.octant, k), cell.level + 1, {}};
      for (int a = 0; a < 3; ++a) child.i[a] = 2 * cell.i[a] + ((k >> a) & 1);
      cells.push_back(child);
    }
  }
  return cells;
}

// The leaves of the tree.
inline std::vector<mgn_octant*> octree_leaves() {
  std::vector<mgn_octant*> leaves;
  for (const octree_cell& cell : octree_cells()) {
    if (cell.octant->state != MGN_OCTANT_DIVIDED) leaves.push_back(cell.octant);
  }
  return leaves;
}

inline ::testing::AssertionResult octree_invariants_hold() {
  using key = std::tuple<int, int64_t, int64_t, int64_t>;
  const std::vector<octree_cell> cells = octree_cells();
  if (cells.empty()) return ::testing::AssertionFailure() << "no octree";
  std::map<key, const octree_cell*> by_position;
  int deepest = 0;
  long divided = 0;
  for (const octree_cell& cell : cells) {
    by_position[key{cell.level, cell.i[0], cell.i[1], cell.i[2]}] = &cell;
    deepest = std::max(deepest, cell.level);
    if (cell.octant->state == MGN_OCTANT_DIVIDED) ++divided;
  }
  if (mgn_tree.octant_count != 1 + 7 * divided) {
    return ::testing::AssertionFailure() << "octant count " << mgn_tree.octant_count << " for "
                                         << divided << " divisions";
  }
  std::map<std::tuple<int64_t, int64_t, int64_t>, uint32_t> corner_at;
  for (const octree_cell& cell : cells) {
    const mgn_octant* o = cell.octant;
    const int64_t extent = int64_t{1} << cell.level;  // octants per axis at this level
    if (o->state < MGN_OCTANT_DIVIDED || o->state > MGN_OCTANT_NODES) {
      return ::testing::AssertionFailure() << "bad state " << o->state;
    }
    if (o->state == MGN_OCTANT_DIVIDED) {
      for (int k = 0; k < 8; ++k) {
        const mgn_octant* c = mgn_octant_child(o, k);
        if (c->parent != o || c->size != o->size / 2 || c->index != k) {
          return ::testing::AssertionFailure() << "bad child " << k << " at level " << cell.level;
        }
        for (int a = 0; a < 3; ++a) {
          const double expected = ((k >> a) & 1) ? o->origin[a] + c->size : o->origin[a];
          if (c->origin[a] != expected) return ::testing::AssertionFailure() << "bad child origin";
        }
      }
      if (o->nodes != nullptr) {
        return ::testing::AssertionFailure() << "divided octant holds nodes";
      }
    } else {
      // Reached from the root by child selection of its centre.
      const double half = o->size / 2;
      const double centre[3] = {o->origin[0] + half, o->origin[1] + half, o->origin[2] + half};
      if (mgn_locate_leaf_octant(mgn_tree.root, centre) != o) {
        return ::testing::AssertionFailure() << "leaf at level " << cell.level
                                             << " not reached from the root by its centre";
      }
      // Shared corner records.
      for (int m = 0; m < 8; ++m) {
        const int shift = deepest - cell.level;
        const auto point = std::make_tuple((cell.i[0] + (m & 1)) << shift,
                                           (cell.i[1] + ((m >> 1) & 1)) << shift,
                                           (cell.i[2] + ((m >> 2) & 1)) << shift);
        const uint32_t number = mgn_octant_corner_number(o, m);
        if (number >= mgn_tree.corners.count) {
          return ::testing::AssertionFailure() << "corner record " << number << " not in the store";
        }
        auto [it, inserted] = corner_at.emplace(point, number);
        if (!inserted && it->second != number) {
          return ::testing::AssertionFailure()
                 << "two corner records at one point (leaf level " << cell.level << ")";
        }
        const float value = *mgn_octant_corner(o, m);
        if (!(value > 0.0f) || value > o->size) {
          return ::testing::AssertionFailure() << "corner value " << value << " in a leaf of size "
                                               << o->size;
        }
      }
      // Balance across faces and edges: the cell of this size across must
      // lie in a leaf at most one level coarser.
      for (int dx = -1; dx <= 1; ++dx) {
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dz = -1; dz <= 1; ++dz) {
            const int d[3] = {dx, dy, dz};
            const int moved = (dx != 0) + (dy != 0) + (dz != 0);
            if (moved == 0 || moved == 3) continue;
            int64_t j[3];
            bool inside = true;
            for (int a = 0; a < 3; ++a) {
              j[a] = cell.i[a] + d[a];
              if (j[a] < 0 || j[a] >= extent) inside = false;
            }
            if (!inside) continue;
            // Coarsest existing ancestor cell of the cell across.
            for (int level = cell.level; level >= 0; --level) {
              const int up = cell.level - level;
              auto found = by_position.find(key{level, j[0] >> up, j[1] >> up, j[2] >> up});
              if (found == by_position.end()) continue;
              if (level < cell.level - 1) {
                return ::testing::AssertionFailure()
                       << "leaf at level " << cell.level << " next to a leaf at level " << level;
              }
              break;
            }
          }
        }
      }
    }
    // Face neighbours.
    for (int f = 0; f < 6; ++f) {
      const int a = f < 3 ? f : 5 - f;
      const int side = f < 3 ? -1 : 1;
      int64_t j[3] = {cell.i[0], cell.i[1], cell.i[2]};
      j[a] += side;
      const mgn_octant* n = mgn_get_octant_neighbour(o, f);
      if (j[a] < 0 || j[a] >= extent) {
        if (n != nullptr) return ::testing::AssertionFailure() << "link across the root boundary";
        continue;
      }
      if (n == nullptr) return ::testing::AssertionFailure() << "missing face link " << f;
      auto same = by_position.find(key{cell.level, j[0], j[1], j[2]});
      if (same != by_position.end()) {
        if (n != same->second->octant || mgn_get_octant_neighbour(n, 5 - f) != o) {
          return ::testing::AssertionFailure() << "face link " << f << " at level " << cell.level
                                               << " not symmetric";
        }
        continue;
      }
      // No octant of this size across: the link is the coarser leaf there.
      bool ok = false;
      for (int level = cell.level - 1; level >= 0; --level) {
        const int up = cell.level - level;
        auto found = by_position.find(key{level, j[0] >> up, j[1] >> up, j[2] >> up});
        if (found == by_position.end()) continue;
        ok = found->second->octant == n && n->state != MGN_OCTANT_DIVIDED;
        break;
      }
      if (!ok) return ::testing::AssertionFailure() << "face link " << f << " to a wrong octant";
    }
  }
  return ::testing::AssertionSuccess();
}

#endif  // MGN_OCTREE_CHECK_H
