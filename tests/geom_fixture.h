// Builders of small model entities for the geometry tests: vertices, curves
// from control points and surfaces from nets, kept alive by one store.
#ifndef MGN_GEOM_FIXTURE_H
#define MGN_GEOM_FIXTURE_H

#include <array>
#include <deque>
#include <random>
#include <vector>

#include "bezier.h"
#include "records.h"

using mgn_xyz = std::array<double, 3>;

struct mgn_geom_store {
  std::deque<mgn_vertex> vertices;
  std::deque<mgn_curve> curves;
  std::deque<mgn_surface> surfaces;

  mgn_vertex* vertex(int id, const mgn_xyz& p, double w = 1.0) {
    mgn_vertex& v = vertices.emplace_back();
    v.id = id;
    v.ctrl_point = mgn_create_ctrl_point();
    for (int k = 0; k < 3; ++k) v.ctrl_point->xyz[k] = p[k];
    v.ctrl_point->w = w;
    v.xyz = v.ctrl_point->xyz;
    return &v;
  }

  // Curve through the given control points (weights default to 1) between
  // two new vertices, or between given vertices when a and b are set.
  mgn_curve* curve(int id, const std::vector<mgn_xyz>& pts, const std::vector<double>& w = {},
                   mgn_vertex* a = nullptr, mgn_vertex* b = nullptr) {
    const int n = static_cast<int>(pts.size());
    mgn_curve& c = curves.emplace_back();
    c.id = id;
    c.order = static_cast<int16_t>(n);
    c.shape_order = c.order;
    c.vertex[0] = a ? a : vertex(1000 + 2 * id, pts.front(), w.empty() ? 1.0 : w.front());
    c.vertex[1] = b ? b : vertex(1001 + 2 * id, pts.back(), w.empty() ? 1.0 : w.back());
    mgn_create_curve_ctrl_polygon(&c);
    for (int i = 1; i < n - 1; ++i) {
      for (int k = 0; k < 3; ++k) c.polygon[0][i]->xyz[k] = pts[i][k];
      c.polygon[0][i]->w = w.empty() ? 1.0 : w[i];
    }
    return &c;
  }

  // Surface of the given orders without a net (filled by the caller).
  mgn_surface* blank_surface(int id, int nu, int nv) {
    mgn_surface& s = surfaces.emplace_back();
    s.id = id;
    s.order_u = static_cast<int16_t>(nu);
    s.order_v = static_cast<int16_t>(nv);
    s.shape_order_u = s.order_u;
    s.shape_order_v = s.order_v;
    return &s;
  }

  // Surface from a net (u index fastest) of fresh control points, without
  // boundary curves.
  mgn_surface* surface(int id, int nu, int nv, const std::vector<mgn_xyz>& pts,
                       const std::vector<double>& w = {}) {
    mgn_surface& s = surfaces.emplace_back();
    s.id = id;
    s.order_u = static_cast<int16_t>(nu);
    s.order_v = static_cast<int16_t>(nv);
    s.shape_order_u = s.order_u;
    s.shape_order_v = s.order_v;
    for (int k = 0; k < nu * nv; ++k) {
      mgn_ctrl_point* q = mgn_create_ctrl_point();
      for (int c = 0; c < 3; ++c) q->xyz[c] = pts[k][c];
      q->w = w.empty() ? 1.0 : w[k];
      s.net.push_back(q);
    }
    return &s;
  }
};

// A random rational curve or surface net: coordinates in [-1, 1], weights
// in [0.5, 2].
inline std::vector<mgn_xyz> mgn_random_points(std::mt19937& rng, int n) {
  std::uniform_real_distribution<double> x(-1.0, 1.0);
  std::vector<mgn_xyz> pts(n);
  for (auto& p : pts) p = {x(rng), x(rng), x(rng)};
  return pts;
}
inline std::vector<double> mgn_random_weights(std::mt19937& rng, int n) {
  std::uniform_real_distribution<double> x(0.5, 2.0);
  std::vector<double> w(n);
  for (auto& v : w) v = x(rng);
  return w;
}

// Net of a bilinear surface with the given corners P00, P10, P01, P11.
inline std::vector<mgn_xyz> mgn_bilinear_net(const mgn_xyz& p00, const mgn_xyz& p10,
                                             const mgn_xyz& p01, const mgn_xyz& p11) {
  return {p00, p10, p01, p11};
}

#endif  // MGN_GEOM_FIXTURE_H
