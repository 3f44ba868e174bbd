// Octree benchmark: time of building the octree for a lattice model of a few
// thousand curves (straight edges with varying vertex sizes and curved
// edges with a curvature rate), and the rate of size queries along a walk
// (hint carried from one query to the next), from the root, and with a
// stale hint far away.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "bezier.h"
#include "list.h"
#include "octree.h"
#include "octree1.h"
#include "records.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

mgn_vertex* make_vertex(int id, double x, double y, double z, float size) {
  auto* v = new mgn_vertex;
  v->id = id;
  v->ctrl_point = new mgn_ctrl_point;
  v->ctrl_point->xyz[0] = x;
  v->ctrl_point->xyz[1] = y;
  v->ctrl_point->xyz[2] = z;
  v->ctrl_point->size = size;
  v->xyz = v->ctrl_point->xyz;
  v->size = size;
  mgn_add_item_to_tail(mgn_model.vertices.list, v);
  return v;
}

// Edges of an n x n x n lattice of unit spacing; every seventh edge is a
// bent cubic with a curvature rate.
long build_lattice(int n) {
  std::vector<mgn_vertex*> lattice;
  int id = 0;
  for (int k = 0; k < n; ++k) {
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        const float size = 0.05f + 0.2f * static_cast<float>((i * 7 + j * 3 + k * 5) % 11) / 10;
        lattice.push_back(make_vertex(++id, i, j, k, size));
      }
    }
  }
  long curves = 0;
  auto at = [&](int i, int j, int k) { return lattice[(k * n + j) * n + i]; };
  for (int k = 0; k < n; ++k) {
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        const int next[3][3] = {{i + 1, j, k}, {i, j + 1, k}, {i, j, k + 1}};
        for (const auto& q : next) {
          if (q[0] >= n || q[1] >= n || q[2] >= n) continue;
          auto* c = new mgn_curve;
          c->id = static_cast<int32_t>(++curves);
          c->vertex[0] = at(i, j, k);
          c->vertex[1] = at(q[0], q[1], q[2]);
          c->density = 0.0f;
          c->size = 0.3f;
          if (curves % 7 == 0) {
            c->order = 4;
            c->shape_order = 4;
            c->rate = 0.3f;
          }
          mgn_create_curve_ctrl_polygon(c);
          if (c->order == 4) {
            c->polygon[0][1]->xyz[(curves / 7) % 3] += 0.3;
            c->polygon[0][2]->xyz[(curves / 5) % 3] -= 0.3;
          }
          mgn_check_curve_straightness(c);
          mgn_add_item_to_tail(mgn_model.curves.list, c);
        }
      }
    }
  }
  return curves;
}

}  // namespace

int main() {
  const long curves = build_lattice(12);
  auto start = std::chrono::steady_clock::now();
  mgn_build_octree();
  const double build = seconds_since(start);
  std::printf("octree of %ld curves: %ld octants, built in %.3f s\n", curves,
              mgn_tree.octant_count, build);

  const int count = 2000000;
  std::mt19937 random(1);
  std::uniform_real_distribution<double> unit(0.0, 11.0);
  std::vector<double> points(3 * static_cast<std::size_t>(count));
  // A walk of small steps (each query near the previous one).
  double p[3] = {5.5, 5.5, 5.5};
  std::normal_distribution<double> step(0.0, 0.02);
  for (int i = 0; i < count; ++i) {
    for (int a = 0; a < 3; ++a) {
      p[a] = std::fmin(11.0, std::fmax(0.0, p[a] + step(random)));
      points[3 * i + a] = p[a];
    }
  }
  double sum = 0.0;
  mgn_octant* hint = nullptr;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) sum += mgn_get_octree_mesh_size(&hint, &points[3 * i], true);
  double elapsed = seconds_since(start);
  std::printf("queries along a walk, hint carried: %.2f million per s\n", count / elapsed / 1e6);

  start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    mgn_octant* root = nullptr;
    sum += mgn_get_octree_mesh_size(&root, &points[3 * i], true);
  }
  elapsed = seconds_since(start);
  std::printf("queries along a walk, from the root: %.2f million per s\n", count / elapsed / 1e6);

  // Scattered points with the hint of the previous (far) point.
  for (int i = 0; i < count; ++i) {
    for (int a = 0; a < 3; ++a) points[3 * i + a] = unit(random);
  }
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) sum += mgn_get_octree_mesh_size(&hint, &points[3 * i], true);
  elapsed = seconds_since(start);
  std::printf("scattered queries, stale hint: %.2f million per s\n", count / elapsed / 1e6);

  mgn_octant* neighbourhood[MGN_OCTANTS];
  long gathered = 0;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < count / 10; ++i) {
    gathered += mgn_collect_octree_neighbourhood(nullptr, neighbourhood, &points[3 * i], 1.0);
  }
  elapsed = seconds_since(start);
  std::printf("neighbourhoods (r = 1) from the root: %.2f million per s, %.1f leaves each\n",
              count / 10 / elapsed / 1e6, static_cast<double>(gathered) / (count / 10));
  std::printf("(checksum %.6e)\n", sum);
  return 0;
}
