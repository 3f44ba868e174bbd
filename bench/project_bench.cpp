// Micro-benchmark of projection: local projections and global closest-point
// searches per second on an order-4 curve and an order-4 x 4 surface.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>

#include "bezier.h"
#include "geom.h"
#include "project.h"

namespace {

template <typename F>
void run(const char* name, long count, F f) {
  const auto start = std::chrono::steady_clock::now();
  double sink = 0.0;
  for (long k = 0; k < count; ++k) sink += f(k);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%-34s %10.0f calls/s  (checksum %g)\n", name, count / seconds, sink);
}

}  // namespace

int main() {
  const double lo[3] = {-2, -2, -2}, hi[3] = {2, 2, 2};
  mgn_set_geometric_tolerance(lo, hi);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> x(-1.0, 1.0);

  mgn_vertex va, vb;
  va.ctrl_point = mgn_create_ctrl_point();
  vb.ctrl_point = mgn_create_ctrl_point();
  vb.ctrl_point->xyz[0] = 1.0;
  mgn_curve curve;
  curve.id = 1;
  curve.order = curve.shape_order = 4;
  curve.vertex[0] = &va;
  curve.vertex[1] = &vb;
  mgn_create_curve_ctrl_polygon(&curve);
  curve.polygon[0][1]->xyz[1] = 0.8;
  curve.polygon[0][2]->xyz[1] = -0.6;
  curve.polygon[0][2]->w = 1.4;

  mgn_surface surface;
  surface.id = 1;
  surface.order_u = surface.order_v = 4;
  surface.shape_order_u = surface.shape_order_v = 4;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) {
      mgn_ctrl_point* q = mgn_create_ctrl_point();
      q->xyz[0] = i / 3.0;
      q->xyz[1] = j / 3.0;
      q->xyz[2] = 0.3 * x(rng);
      q->w = 1.0 + 0.3 * x(rng);
      surface.net.push_back(q);
    }

  // Targets near the entities, as for nodes moved by smoothing.
  const int n = 1024;
  static double ct[n][3], st[n][3], cparam[n], sparam[n][2];
  for (int k = 0; k < n; ++k) {
    cparam[k] = (k + 0.5) / n;
    mgn_get_curve_point(&curve, cparam[k], ct[k]);
    sparam[k][0] = (k % 32 + 0.5) / 32;
    sparam[k][1] = (k / 32 + 0.5) / 32;
    mgn_get_surface_point(&surface, sparam[k][0], sparam[k][1], st[k]);
    for (int c = 0; c < 3; ++c) {
      ct[k][c] += 0.01 * x(rng);
      st[k][c] += 0.01 * x(rng);
    }
  }

  run("curve projection (order 4)", 1000000, [&](long k) {
    const int i = static_cast<int>(k % n);
    double t = std::min(1.0, cparam[i] + 0.02), p[3], d[3];
    mgn_get_curve_point(&curve, t, p);
    mgn_get_curve_unit_tangent(&curve, t, d);
    return mgn_project_point_curve(&curve, &t, d, p, ct[i], 1e-12, 1e-12);
  });
  run("surface projection (order 4 x 4)", 500000, [&](long k) {
    const int i = static_cast<int>(k % n);
    double u = std::min(1.0, sparam[i][0] + 0.02), v = std::max(0.0, sparam[i][1] - 0.02);
    double p[3], su[3], sv[3], nn[3];
    mgn_get_surface_point_derivatives(&surface, u, v, p, su, sv);
    mgn_get_surface_normal(&surface, u, v, nn);
    mgn_project_point_surface(&surface, &u, &v, nn, su, sv, p, st[i], 1e-12, 1e-12);
    return u + v;
  });
  run("closest curve point (order 4)", 20000, [&](long k) {
    double t;
    return mgn_find_closest_curve_point(&curve, ct[k % n], &t);
  });
  run("closest surface point (order 4 x 4)", 5000, [&](long k) {
    double u, v;
    return mgn_find_closest_surface_point(&surface, st[k % n], &u, &v);
  });
  return 0;
}
