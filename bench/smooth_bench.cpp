// Smoothing benchmark: perturbed grid meshes of a plane and of a quarter
// cylinder at three sizes, smoothed with no weighting and with both
// weightings; prints node visits per second (passes x nodes / time), which
// should stay nearly constant across the sizes.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "bezier.h"
#include "element.h"
#include "list.h"
#include "octree.h"
#include "records.h"
#include "smooth.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

mgn_surface* make_surface(bool curved) {
  auto* s = new mgn_surface;
  s->id = 1;
  const double r = 10.0, w = std::sqrt(0.5);
  const double plane[4][3] = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {10, 10, 0}};
  const double arc[6][3] = {{r, 0, 0}, {r, r, 0}, {0, r, 0}, {r, 0, 10}, {r, r, 10}, {0, r, 10}};
  s->order_u = s->shape_order_u = curved ? 3 : 2;
  s->order_v = s->shape_order_v = 2;
  const int count = curved ? 6 : 4;
  for (int k = 0; k < count; ++k) {
    auto* q = mgn_create_ctrl_point();
    for (int c = 0; c < 3; ++c) q->xyz[c] = curved ? arc[k][c] : plane[k][c];
    q->w = (curved && k % 3 == 1) ? w : 1.0;
    s->net.push_back(q);
  }
  s->planar = !curved;
  s->normal[2] = 1.0;
  return s;
}

// n x n cells; boundary nodes belong to a curve; perturbed interior nodes.
void build_grid(mgn_surface* s, mgn_curve* curve, int n) {
  std::vector<mgn_node*> nodes((n + 1) * (n + 1));
  std::mt19937 random(7);
  std::uniform_real_distribution<double> offset(-0.3 / n, 0.3 / n);
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) {
      double uv[2] = {static_cast<double>(i) / n, static_cast<double>(j) / n};
      const bool boundary = i == 0 || j == 0 || i == n || j == n;
      if (!boundary) {
        uv[0] += offset(random);
        uv[1] += offset(random);
      }
      double p[3];
      mgn_get_surface_point(s, uv[0], uv[1], p);
      nodes[j * (n + 1) + i] = boundary ? mgn_create_node(p, uv, MGN_CURVE, curve, &curve->mesh.nodes)
                                        : mgn_create_node(p, uv, MGN_SURFACE, s, &s->mesh.nodes);
    }
  }
  auto at = [&](int i, int j) { return nodes[j * (n + 1) + i]; };
  auto edge = [&](mgn_node* a, mgn_node* b) {
    mgn_edge* e = mgn_get_node_edge(a, b);
    return e != nullptr ? e : mgn_create_edge(a, b, MGN_SURFACE, s, &s->mesh.edges);
  };
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      mgn_node* tri[2][3] = {{at(i, j), at(i + 1, j), at(i + 1, j + 1)},
                             {at(i, j), at(i + 1, j + 1), at(i, j + 1)}};
      for (auto& t : tri) {
        mgn_face* f = mgn_create_face(t[0], t[1], t[2], MGN_SURFACE, s, &s->mesh.faces, nullptr, false);
        for (int k = 0; k < 3; ++k) mgn_add_edge_face(edge(t[k], t[(k + 1) % 3]), f);
      }
    }
  }
}

}  // namespace

int main() {
  std::printf("%-9s %-6s %10s %10s %16s\n", "surface", "type", "nodes", "seconds", "visits/second");
  for (bool curved : {false, true}) {
    for (int n : {50, 160, 500}) {
      for (int type : {0, 3}) {
        mgn_reset_mesh_store();
        mgn_create_mesh_store(4);
        const double lo[3] = {-1, -1, -1}, hi[3] = {11, 11, 11};
        mgn_create_root_octant(lo, hi);
        mgn_set.smoothing_type = type;
        mgn_surface* s = make_surface(curved);
        auto* curve = new mgn_curve;
        build_grid(s, curve, n);
        const long nodes = static_cast<long>(n - 1) * (n - 1);
        const auto start = std::chrono::steady_clock::now();
        mgn_smooth_surface(s);
        const double t = seconds_since(start);
        std::printf("%-9s %-6d %10ld %10.3f %16.0f\n", curved ? "cylinder" : "plane", type, nodes, t,
                    MGN_SMOOTH_PASSES * nodes / t);
      }
    }
  }
  return 0;
}
