// Micro-benchmark of surface evaluation: points, point with derivatives and
// unit normals per second on rational surfaces of orders 4 x 4.
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "bezier.h"
#include "geom.h"

namespace {

mgn_surface make_surface(std::mt19937& rng) {
  std::uniform_real_distribution<double> x(-1.0, 1.0), w(0.5, 2.0);
  mgn_surface s;
  s.id = 1;
  s.order_u = s.order_v = 4;
  s.shape_order_u = s.shape_order_v = 4;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) {
      mgn_ctrl_point* q = mgn_create_ctrl_point();
      // A gently curved sheet over the unit square: the normal exists
      // everywhere.
      q->xyz[0] = i / 3.0 + 0.05 * x(rng);
      q->xyz[1] = j / 3.0 + 0.05 * x(rng);
      q->xyz[2] = 0.3 * x(rng);
      q->w = w(rng);
      s.net.push_back(q);
    }
  return s;
}

template <typename F>
void run(const char* name, long count, F f) {
  const auto start = std::chrono::steady_clock::now();
  double sink = 0.0;
  for (long k = 0; k < count; ++k) {
    const double u = (k % 997) / 996.0, v = (k % 991) / 990.0;
    sink += f(u, v);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%-28s %12.0f evaluations/s  (checksum %g)\n", name, count / seconds, sink);
}

}  // namespace

int main() {
  const double lo[3] = {-2, -2, -2}, hi[3] = {2, 2, 2};
  mgn_set_geometric_tolerance(lo, hi);
  std::mt19937 rng(1);
  std::vector<mgn_surface> surfaces;
  for (int i = 0; i < 8; ++i) surfaces.push_back(make_surface(rng));
  const long count = 2000000;
  run("surface point (4 x 4)", count, [&](double u, double v) {
    double p[3];
    mgn_get_surface_point(&surfaces[static_cast<int>(u * 7.99)], u, v, p);
    return p[0];
  });
  run("point and derivatives", count, [&](double u, double v) {
    double p[3], su[3], sv[3];
    mgn_get_surface_point_derivatives(&surfaces[static_cast<int>(u * 7.99)], u, v, p, su, sv);
    return p[0] + su[1] + sv[2];
  });
  run("unit normal (4 x 4)", count, [&](double u, double v) {
    double n[3];
    mgn_get_surface_normal(&surfaces[static_cast<int>(u * 7.99)], u, v, n);
    return n[2];
  });
  return 0;
}
