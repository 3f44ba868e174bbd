// Patches and shells through the program: their meshes cover exactly the
// face (outer loop minus holes), lie on the plane or background surface,
// turn counterclockwise about NORMAL or Su x Sv, are conforming across
// loops, children and shared curves; and the loop and geometry errors end
// the run with their messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "discret.h"
#include "element.h"
#include "list.h"
#include "mesh_file.h"
#include "model_fixture.h"
#include "octree1.h"
#include "quality.h"
#include "shell.h"
#include "support.h"
#include "vec3.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct meshed_run {
  mgn_run_result run;
  written_mesh mesh;
};

meshed_run mesh_model(const std::string& model, const std::string& size, std::vector<std::string> more = {}) {
  const std::string dir = mgn_temp_dir();
  std::vector<std::string> args = {"-i", std::string(MGN_TEST_MODELS) + "/" + model + ".mgn", "-u", size, "-o",
                                   dir + "/out.msh"};
  args.insert(args.end(), more.begin(), more.end());
  meshed_run r;
  r.run = mgn_run_program(args);
  r.mesh = read_written_mesh(mgn_read_file(dir + "/out.msh"));
  return r;
}

// The printed arithmetic mean quality of the triangles.
double mean_quality(const std::string& out) {
  std::smatch m;
  const std::regex mean("([01]\\.[0-9]{5}) - arithmetic mean quality");
  return std::regex_search(out, m, mean) ? std::stod(m[1]) : -1.0;
}

using point = std::vector<double>;

double signed_area_z(const point& a, const point& b, const point& c) {
  return 0.5 * ((b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]));
}

// A flat mesh in z = 0: every node in the plane, every triangle
// counterclockwise about +z, total area, every edge used by one or two
// triangles and the edges used once exactly those on the border (the
// predicate says whether a point lies on the border of the meshed face).
void check_flat_mesh(const written_mesh& m, double area, double area_tolerance,
                     const std::function<bool(const point&)>& on_border) {
  ASSERT_GT(m.trias.size(), 0u);
  for (const auto& [id, xyz] : m.nodes) ASSERT_NEAR(xyz[2], 0.0, 1e-12) << "node " << id;
  double total = 0.0;
  std::map<std::pair<long, long>, int> uses;
  for (const auto& t : m.trias) {
    const double a = signed_area_z(m.nodes.at(t[0]), m.nodes.at(t[1]), m.nodes.at(t[2]));
    EXPECT_GT(a, 0.0) << "triangle " << t[0] << " " << t[1] << " " << t[2] << " turns clockwise";
    total += a;
    for (int k = 0; k < 3; ++k) {
      long p = t[k], q = t[(k + 1) % 3];
      if (p > q) std::swap(p, q);
      ++uses[{p, q}];
    }
  }
  EXPECT_NEAR(total, area, area_tolerance * area);
  for (const auto& [edge, count] : uses) {
    const point& a = m.nodes.at(edge.first);
    const point& b = m.nodes.at(edge.second);
    const point mid = {0.5 * (a[0] + b[0]), 0.5 * (a[1] + b[1]), 0.0};
    const bool border = on_border(a) && on_border(b) && on_border(mid);
    EXPECT_LE(count, 2) << "edge " << edge.first << " " << edge.second;
    if (border)
      EXPECT_EQ(count, 1) << "border edge " << edge.first << " " << edge.second;
    else
      EXPECT_EQ(count, 2) << "interior edge " << edge.first << " " << edge.second;
  }
}

bool on_square_border(const point& p, double lo, double hi) {
  const double e = 1e-9;
  const bool inside = p[0] > lo - e && p[0] < hi + e && p[1] > lo - e && p[1] < hi + e;
  return inside && (std::fabs(p[0] - lo) < e || std::fabs(p[0] - hi) < e || std::fabs(p[1] - lo) < e ||
                    std::fabs(p[1] - hi) < e);
}

struct circle {
  double x, y, r;
};
const circle plate_holes[] = {{2.5, 2.5, 1.0}, {7.5, 2.5, 1.2}, {5.0, 7.0, 1.5}};

TEST(PatchMesh, PlateWithThreeHolesCoversThePlateMinusTheHoles) {
  const meshed_run r = mesh_model("plate_three_holes", "0.25");
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.run.err.find("Warning"), std::string::npos) << r.run.err;
  double area = 100.0;
  for (const circle& c : plate_holes) area -= kPi * c.r * c.r;
  // Nodes on a circle lie on it; segment midpoints of its chords lie a
  // little inside.
  auto on_circle = [](const point& p, const circle& c, double tolerance) {
    return std::fabs(std::hypot(p[0] - c.x, p[1] - c.y) - c.r) < tolerance;
  };
  check_flat_mesh(r.mesh, area, 0.003, [&](const point& p) {
    if (on_square_border(p, 0.0, 10.0)) return true;
    for (const circle& c : plate_holes)
      if (on_circle(p, c, 0.01 * c.r)) return true;
    return false;
  });
  for (const auto& t : r.mesh.trias) {
    double cx = 0.0, cy = 0.0;
    for (long n : t) {
      cx += r.mesh.nodes.at(n)[0] / 3.0;
      cy += r.mesh.nodes.at(n)[1] / 3.0;
    }
    for (const circle& c : plate_holes)
      EXPECT_GT(std::hypot(cx - c.x, cy - c.y), c.r * 0.98) << "triangle inside a hole at " << cx << " " << cy;
  }
  for (long key : r.mesh.tria_keys) EXPECT_EQ(key, 5);  // patch triangles
  EXPECT_GE(mean_quality(r.run.out), 0.93) << r.run.out;
}

TEST(PatchMesh, LShapeOfLinesAndAnArc) {
  const meshed_run r = mesh_model("l_shape_patch", "0.2");
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  const circle fillet = {2.0, 2.0, 1.0};
  check_flat_mesh(r.mesh, 8.0 - kPi / 4.0, 0.003, [&](const point& p) {
    const double e = 1e-9;
    if (std::fabs(p[1]) < e || std::fabs(p[0]) < e || std::fabs(p[1] - 4.0) < e) return true;
    if (std::fabs(p[0] - 4.0) < e && p[1] < 1.0 + e) return true;
    if (std::fabs(p[1] - 1.0) < e && p[0] > 2.0 - e) return true;
    if (std::fabs(p[0] - 1.0) < e && p[1] > 2.0 - e) return true;
    return p[0] < 2.0 + e && p[1] < 2.0 + e && std::fabs(std::hypot(p[0] - fillet.x, p[1] - fillet.y) - 1.0) < 0.01;
  });
  EXPECT_GE(mean_quality(r.run.out), 0.93) << r.run.out;
}

TEST(PatchMesh, SubpatchSharesItsBoundaryNodesAndAHoleSubpatchStaysEmpty) {
  const meshed_run r = mesh_model("plate_subpatches", "0.3");
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  // The plate minus the hole [6, 8]^2; the border of subpatch 2 is inside
  // the mesh: its edges are shared by a triangle of each patch.
  check_flat_mesh(r.mesh, 96.0, 1e-9,
                  [](const point& p) { return on_square_border(p, 0.0, 10.0) || on_square_border(p, 6.0, 8.0); });
  double child_area = 0.0;
  for (std::size_t i = 0; i < r.mesh.trias.size(); ++i) {
    const auto& t = r.mesh.trias[i];
    double cx = 0.0, cy = 0.0;
    for (long n : t) {
      cx += r.mesh.nodes.at(n)[0] / 3.0;
      cy += r.mesh.nodes.at(n)[1] / 3.0;
    }
    const bool in_child = cx > 2.0 && cx < 4.0 && cy > 2.0 && cy < 4.0;
    EXPECT_EQ(r.mesh.tria_entities[i], in_child ? 2 : 1) << "triangle at " << cx << " " << cy;
    if (in_child)
      child_area += signed_area_z(r.mesh.nodes.at(t[0]), r.mesh.nodes.at(t[1]), r.mesh.nodes.at(t[2]));
  }
  EXPECT_NEAR(child_area, 4.0, 1e-9);
}

TEST(PatchMesh, FixedVertexAndCurvesBecomeNodesAndEdges) {
  const meshed_run r = mesh_model("plate_fixed_inside", "0.3");
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  // The curves inside are not border: their edges bound two triangles.
  check_flat_mesh(r.mesh, 100.0, 1e-9, [](const point& p) { return on_square_border(p, 0.0, 10.0); });
  std::map<std::pair<long, long>, int> uses;
  long vertex_node = 0;
  for (const auto& t : r.mesh.trias)
    for (int k = 0; k < 3; ++k) {
      const point& p = r.mesh.nodes.at(t[k]);
      if (std::hypot(p[0] - 3.0, p[1] - 7.0) < 1e-12) vertex_node = t[k];
      ++uses[std::minmax(t[k], t[(k + 1) % 3])];
    }
  EXPECT_NE(vertex_node, 0) << "no triangle at the fixed vertex";
  // Every written edge of the fixed curves (the line from (5, 2) to (8, 5)
  // and the arc around (2, 4)) is an edge of two triangles.
  long inside = 0;
  for (const auto& e : r.mesh.edges) {
    const point& a = r.mesh.nodes.at(e[0]);
    const point& b = r.mesh.nodes.at(e[1]);
    if (on_square_border(a, 0.0, 10.0) && on_square_border(b, 0.0, 10.0)) continue;
    ++inside;
    EXPECT_EQ(uses[std::minmax(e[0], e[1])], 2) << "curve edge " << e[0] << " " << e[1];
  }
  EXPECT_GT(inside, 20);
}

TEST(PatchMesh, PatchSizeRulesItsInterior) {
  // A size on the patch alone, far below the default: the triangles inside
  // follow it, not only those along the curves.
  std::string model = mgn_read_file(std::string(MGN_TEST_MODELS) + "/plate_three_holes.mgn");
  model.replace(model.find("patch 1 "), 8, "patch 1 size 0.3 ");
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/model.mgn", model);
  const mgn_run_result run = mgn_run_program({"-i", dir + "/model.mgn", "-d", "2", "-o", dir + "/out.msh"});
  ASSERT_EQ(run.status, 0) << run.err;
  const written_mesh m = read_written_mesh(mgn_read_file(dir + "/out.msh"));
  double area = 100.0;
  for (const circle& c : plate_holes) area -= kPi * c.r * c.r;
  const double ideal = area / (std::sqrt(3.0) / 4.0 * 0.3 * 0.3);
  EXPECT_GT(static_cast<double>(m.trias.size()), 0.7 * ideal);
  EXPECT_LT(static_cast<double>(m.trias.size()), 1.5 * ideal);
  double longest = 0.0;
  for (const auto& t : m.trias)
    for (int k = 0; k < 3; ++k) {
      const point& a = m.nodes.at(t[k]);
      const point& b = m.nodes.at(t[(k + 1) % 3]);
      longest = std::max(longest, std::hypot(a[0] - b[0], a[1] - b[1]));
    }
  EXPECT_LT(longest, 0.6);
}

TEST(PatchMesh, CurveHiddenBetweenAPatchAndASurface) {
  // The rectangle [0, 10] x [0, 5]: patch 1 on the left half, surface 2 on
  // the right one, curve 7 between them hidden: its edges leave the output
  // and its nodes join the two faces' meshes, which stay conforming.
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/model.mgn",
                 "vertex 1 xyz 0 0 0\nvertex 2 xyz 5 0 0\nvertex 3 xyz 10 0 0\nvertex 4 xyz 10 5 0\n"
                 "vertex 5 xyz 5 5 0\nvertex 6 xyz 0 5 0\n"
                 "curve 1 vertex 1 2\ncurve 2 vertex 2 3\ncurve 3 vertex 3 4\ncurve 4 vertex 4 5\n"
                 "curve 5 vertex 5 6\ncurve 6 vertex 6 1\ncurve 7 vertex 2 5 hidden\n"
                 "patch 1 normal 0 0 1 boundary curve 1 7 5 6\nsurface 2 curve 2 7 4 3\n");
  const mgn_run_result run = mgn_run_program({"-i", dir + "/model.mgn", "-u", "0.7", "-o", dir + "/out.msh"});
  ASSERT_EQ(run.status, 0) << run.err;
  const written_mesh m = read_written_mesh(mgn_read_file(dir + "/out.msh"));
  auto on_border = [](const point& p) {
    const double e = 1e-9;
    return std::fabs(p[0]) < e || std::fabs(p[0] - 10.0) < e || std::fabs(p[1]) < e || std::fabs(p[1] - 5.0) < e;
  };
  check_flat_mesh(m, 50.0, 1e-9, on_border);
  for (const auto& e : m.edges)
    EXPECT_TRUE(on_border(m.nodes.at(e[0])) && on_border(m.nodes.at(e[1]))) << "edge of the hidden curve written";
  std::set<long> keys(m.tria_keys.begin(), m.tria_keys.end());
  EXPECT_EQ(keys, (std::set<long>{3, 5}));
}

TEST(PatchMesh, PatchAndShellShareTheNodesOfTheirCurve) {
  // The rectangle [0, 10] x [0, 5]: patch 1 on the left half and shell 1 on
  // the virtual surface 2 of the right half, meeting along curve 7.
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/model.mgn",
                 "vertex 1 xyz 0 0 0\nvertex 2 xyz 5 0 0\nvertex 3 xyz 10 0 0\nvertex 4 xyz 10 5 0\n"
                 "vertex 5 xyz 5 5 0\nvertex 6 xyz 0 5 0\n"
                 "curve 1 vertex 1 2\ncurve 2 vertex 2 3\ncurve 3 vertex 3 4\ncurve 4 vertex 4 5\n"
                 "curve 5 vertex 5 6\ncurve 6 vertex 6 1\ncurve 7 vertex 2 5\n"
                 "patch 1 normal 0 0 1 boundary curve 1 7 5 6\nsurface 2 curve 2 7 4 3 virtual\n"
                 "shell 1 bgsurface 2 boundary curve 2 3 4 -7\n");
  const mgn_run_result run = mgn_run_program({"-i", dir + "/model.mgn", "-u", "0.6", "-o", dir + "/out.msh"});
  ASSERT_EQ(run.status, 0) << run.err;
  const written_mesh m = read_written_mesh(mgn_read_file(dir + "/out.msh"));
  check_flat_mesh(m, 50.0, 1e-9, [](const point& p) {
    const double e = 1e-9;
    return std::fabs(p[0]) < e || std::fabs(p[0] - 10.0) < e || std::fabs(p[1]) < e || std::fabs(p[1] - 5.0) < e;
  });
  std::set<long> keys(m.tria_keys.begin(), m.tria_keys.end());
  EXPECT_EQ(keys, (std::set<long>{5, 6}));
}

TEST(PatchMesh, PatchOffItsPlaneWithinItsEpsilon) {
  // Vertex 3 lies 0.0005 above the plane z = 0 of the others: within the
  // patch's EPSILON, beyond the internal tolerance.  The patch is meshed
  // with smoothing, loses its iso meshing, and cannot be meshed without.
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/model.mgn",
                 "vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 10 10 0.0005\nvertex 4 xyz 0 10 0\n"
                 "curve 1 vertex 1 2\ncurve 2 vertex 1 4\ncurve 3 vertex 4 3\ncurve 4 vertex 2 3\n"
                 "patch 1 normal 0 0 1 boundary curve 1 4 -3 -2 epsilon 0.001 size 1 iso yes\n");
  const mgn_run_result smoothed = mgn_run_program({"-i", dir + "/model.mgn", "-d", "1", "-o", dir + "/out.msh"});
  EXPECT_EQ(smoothed.status, 0) << smoothed.err;
  EXPECT_NE(smoothed.err.find("Warning: Iso meshing of non-planar patch (1) ignored\n"), std::string::npos)
      << smoothed.err;
  EXPECT_GT(read_written_mesh(mgn_read_file(dir + "/out.msh")).trias.size(), 100u);
  const mgn_run_result unsmoothed = mgn_run_program({"-i", dir + "/model.mgn", "-d", "1", "-S"});
  EXPECT_EQ(unsmoothed.status, 10);
  EXPECT_NE(unsmoothed.err.find("Non-planar patch (1) cannot be handled without smoothing"), std::string::npos)
      << unsmoothed.err;
}

TEST(PatchMesh, MeshFileIsTheSameOnEveryRun) {
  const std::string dir = mgn_temp_dir();
  for (const char* name : {"a.msh", "b.msh"})
    ASSERT_EQ(mgn_run_program({"-i", std::string(MGN_TEST_MODELS) + "/plate_three_holes.mgn", "-u", "0.4", "-o",
                               dir + "/" + name})
                  .status,
              0);
  EXPECT_EQ(mgn_read_file(dir + "/a.msh"), mgn_read_file(dir + "/b.msh"));
}

// Shells are meshed in the test process, so that the nodes are seen with
// all their digits: the model file is read with a uniform size and the
// octree and the meshing driver run as in the program.
class ShellMesh : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }

  static mgn_shell* mesh(const std::string& model, double h) {
    mgn_set.uniform_size = mgn_set.default_size = h;
    mgn_release_model();
    mgn_set.input_file_name = std::string(MGN_TEST_MODELS) + "/" + model + ".mgn";
    mgn_build_model_from_file();
    mgn_build_octree();
    mgn_discretize_model();
    return mgn_find_shell(1);
  }

  static std::vector<mgn_face*> faces_of(const mgn_shell* s) {
    std::vector<mgn_face*> out;
    long k = 0;
    for (mgn_face** f : mgn_listing_range<mgn_face*>(s->mesh.faces)) {
      if (k++ >= s->mesh.face_count) break;
      out.push_back(*f);
    }
    return out;
  }

  // The mesh of the shell: every node on the surface (the distance
  // function), every triangle's normal on the side of Su x Sv (outward
  // gives it at a point), the area, every edge used once on the border (the
  // predicate) and twice elsewhere, and the mean quality.
  static void check(const mgn_shell* s, double area, const std::function<double(const double*)>& distance,
                    const std::function<bool(const double*)>& on_border,
                    const std::function<void(const double*, double*)>& outward) {
    const std::vector<mgn_face*> faces = faces_of(s);
    ASSERT_GT(faces.size(), 0u);
    double total = 0.0, quality = 0.0;
    std::map<std::pair<mgn_node*, mgn_node*>, int> uses;
    for (mgn_face* f : faces) {
      double u[3], v[3], n[3], c[3], out[3];
      mgn_sub(f->n[1]->xyz, f->n[0]->xyz, u);
      mgn_sub(f->n[2]->xyz, f->n[0]->xyz, v);
      mgn_cross(u, v, n);
      for (int k = 0; k < 3; ++k) c[k] = (f->n[0]->xyz[k] + f->n[1]->xyz[k] + f->n[2]->xyz[k]) / 3.0;
      outward(c, out);
      EXPECT_GT(mgn_dot(n, out), 0.0) << "triangle at " << c[0] << " " << c[1] << " " << c[2] << " faces inward";
      total += 0.5 * mgn_norm(n);
      quality += mgn_get_triangle_quality(f->n[0]->xyz, f->n[1]->xyz, f->n[2]->xyz);
      for (int k = 0; k < 3; ++k) {
        mgn_node* a = f->n[k];
        mgn_node* b = f->n[(k + 1) % 3];
        EXPECT_LE(distance(a->xyz), 1e-9) << "node " << a->id << " off the surface";
        ++uses[a < b ? std::make_pair(a, b) : std::make_pair(b, a)];
      }
    }
    EXPECT_NEAR(total, area, 0.005 * area);
    for (const auto& [edge, count] : uses)
      EXPECT_EQ(count, on_border(edge.first->xyz) && on_border(edge.second->xyz) ? 1 : 2)
          << "edge " << edge.first->id << " " << edge.second->id;
    EXPECT_GE(quality / static_cast<double>(faces.size()), 0.90);
  }
};

// The angle about the z axis of the point of a rational quarter circle
// (weights 1, cos 45, 1) at parameter u.
double quarter_circle_angle(double u) {
  const double w = std::sqrt(0.5);
  const double b0 = (1 - u) * (1 - u), b1 = 2 * u * (1 - u) * w, b2 = u * u;
  const double x = (b0 * 1 + b1 * 1) / (b0 + b1 + b2), y = (b1 * 1 + b2 * 1) / (b0 + b1 + b2);
  return std::atan2(y, x);
}

TEST_F(ShellMesh, CylinderWithAWindowLiesOnTheCylinder) {
  const mgn_shell* shell = mesh("cylinder_window_shell", 0.15);
  ASSERT_NE(shell, nullptr);
  constexpr double R = 2.0, H = 3.0;  // H is also the size of the model
  const double a0 = quarter_circle_angle(0.3), a1 = quarter_circle_angle(0.7);
  const double z0 = 0.3 * H, z1 = 0.7 * H;
  const double area = kPi / 2.0 * R * H - (a1 - a0) * R * (z1 - z0);
  auto on_border = [&](const double* p) {
    const double e = 1e-9, angle = std::atan2(p[1], p[0]);
    if (std::fabs(p[2]) < e || std::fabs(p[2] - H) < e || std::fabs(p[0]) < e || std::fabs(p[1]) < e) return true;
    const bool in_angles = angle > a0 - e && angle < a1 + e, in_heights = p[2] > z0 - e && p[2] < z1 + e;
    return (in_heights && (std::fabs(angle - a0) < e || std::fabs(angle - a1) < e)) ||
           (in_angles && (std::fabs(p[2] - z0) < e || std::fabs(p[2] - z1) < e));
  };
  check(
      shell, area, [&](const double* p) { return std::fabs(std::hypot(p[0], p[1]) - R) / H; }, on_border,
      [](const double* p, double* out) {
        out[0] = p[0];
        out[1] = p[1];
        out[2] = 0.0;
      });
  for (mgn_face* f : faces_of(shell)) {
    double c[3];
    for (int k = 0; k < 3; ++k) c[k] = (f->n[0]->xyz[k] + f->n[1]->xyz[k] + f->n[2]->xyz[k]) / 3.0;
    const double angle = std::atan2(c[1], c[0]);
    EXPECT_FALSE(angle > a0 && angle < a1 && c[2] > z0 && c[2] < z1) << "triangle inside the window";
  }
}

TEST_F(ShellMesh, SphericalCapBoundedByASmallCircle) {
  const mgn_shell* shell = mesh("sphere_cap_shell", 0.12);
  ASSERT_NE(shell, nullptr);
  constexpr double R = 2.0;
  const double cos_cap = std::cos(kPi / 6.0);
  auto cos_to_axis = [&](const double* p) { return (p[0] + p[1] + p[2]) / (std::sqrt(3.0) * mgn_norm(p)); };
  check(
      shell, 2.0 * kPi * R * R * (1.0 - cos_cap), [&](const double* p) { return std::fabs(mgn_norm(p) - R) / R; },
      [&](const double* p) { return std::fabs(cos_to_axis(p) - cos_cap) < 1e-9; },
      [](const double* p, double* out) { mgn_copy3(out, p); });
  for (mgn_face* f : faces_of(shell))
    for (mgn_node* n : f->n) EXPECT_GE(cos_to_axis(n->xyz), cos_cap - 1e-9) << "node outside the cap";
}

TEST_F(ShellMesh, SubshellSharesItsBoundaryAndAHoleSubshellStaysEmpty) {
  mesh("shell_subshells", 0.2);
  const mgn_shell* outer = mgn_find_shell(1);
  const mgn_shell* child = mgn_find_shell(2);
  ASSERT_TRUE(outer != nullptr && child != nullptr);
  EXPECT_EQ(mgn_find_shell(3)->mesh.face_count, 0);
  constexpr double R = 2.0, H = 3.0;
  const double a[4] = {quarter_circle_angle(0.2), quarter_circle_angle(0.4), quarter_circle_angle(0.6),
                       quarter_circle_angle(0.8)};
  const double z0 = 0.3 * H, z1 = 0.7 * H, e = 1e-9;
  // On the border of the iso rectangle between the angles lo and hi.
  auto on_rectangle = [&](const double* p, double lo, double hi) {
    const double angle = std::atan2(p[1], p[0]);
    const bool in_angles = angle > lo - e && angle < hi + e, in_heights = p[2] > z0 - e && p[2] < z1 + e;
    return (in_heights && (std::fabs(angle - lo) < e || std::fabs(angle - hi) < e)) ||
           (in_angles && (std::fabs(p[2] - z0) < e || std::fabs(p[2] - z1) < e));
  };
  auto off_cylinder = [&](const double* p) { return std::fabs(std::hypot(p[0], p[1]) - R) / H; };
  auto radial = [](const double* p, double* out) {
    out[0] = p[0];
    out[1] = p[1];
    out[2] = 0.0;
  };
  const double child_area = R * (a[1] - a[0]) * (z1 - z0), hole_area = R * (a[3] - a[2]) * (z1 - z0);
  check(
      outer, kPi / 2.0 * R * H - child_area - hole_area, off_cylinder,
      [&](const double* p) {
        return std::fabs(p[2]) < e || std::fabs(p[2] - H) < e || std::fabs(p[0]) < e || std::fabs(p[1]) < e ||
               on_rectangle(p, a[0], a[1]) || on_rectangle(p, a[2], a[3]);
      },
      radial);
  check(child, child_area, off_cylinder, [&](const double* p) { return on_rectangle(p, a[0], a[1]); }, radial);
  // The two meshes share the nodes of the child's border, and the vertex
  // fixed inside shell 1 is a corner of its triangles.
  std::set<mgn_node*> outer_nodes, child_border;
  for (mgn_face* f : faces_of(outer)) outer_nodes.insert(f->n, f->n + 3);
  for (mgn_face* f : faces_of(child))
    for (mgn_node* n : f->n)
      if (on_rectangle(n->xyz, a[0], a[1])) child_border.insert(n);
  EXPECT_GT(child_border.size(), 8u);
  for (mgn_node* n : child_border) EXPECT_EQ(outer_nodes.count(n), 1u) << "node " << n->id << " not shared";
  const double u = quarter_circle_angle(0.5);
  bool fixed_found = false;
  for (mgn_node* n : outer_nodes)
    fixed_found = fixed_found || (std::fabs(n->xyz[0] - R * std::cos(u)) < 1e-9 &&
                                  std::fabs(n->xyz[1] - R * std::sin(u)) < 1e-9 && std::fabs(n->xyz[2] - 0.45) < 1e-9);
  EXPECT_TRUE(fixed_found);
}

// Regions bounded by patches and shells (with surfaces): the tetras fill
// the volume with positive volumes, and the faces of the tetras met once
// are exactly the triangles of the boundary faces.
class RegionBoundedByPatches : public ::testing::TestWithParam<const char*> {};

TEST_P(RegionBoundedByPatches, TetrasFillTheCubeOnTheFaceTriangles) {
  const meshed_run r = mesh_model(GetParam(), "0.2");
  ASSERT_EQ(r.run.status, 0) << r.run.err;
  ASSERT_GT(r.mesh.tetras.size(), 0u);
  double volume = 0.0;
  std::map<std::vector<long>, int> faces;
  for (const auto& t : r.mesh.tetras) {
    const point& a = r.mesh.nodes.at(t[0]);
    double e[3][3];
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) e[i][k] = r.mesh.nodes.at(t[i + 1])[k] - a[k];
    const double v = (e[0][0] * (e[1][1] * e[2][2] - e[1][2] * e[2][1]) -
                      e[0][1] * (e[1][0] * e[2][2] - e[1][2] * e[2][0]) +
                      e[0][2] * (e[1][0] * e[2][1] - e[1][1] * e[2][0])) /
                     6.0;
    EXPECT_GT(v, 0.0);
    volume += v;
    for (int skip = 0; skip < 4; ++skip) {
      std::vector<long> f;
      for (int k = 0; k < 4; ++k)
        if (k != skip) f.push_back(t[k]);
      std::sort(f.begin(), f.end());
      ++faces[f];
    }
  }
  EXPECT_NEAR(volume, 1.0, 1e-9);
  std::map<std::vector<long>, int> trias;
  for (const auto& t : r.mesh.trias) {
    std::vector<long> f = t;
    std::sort(f.begin(), f.end());
    ++trias[f];
  }
  long outer = 0;
  for (const auto& [f, count] : faces) {
    EXPECT_LE(count, 2);
    if (count == 1) {
      ++outer;
      EXPECT_EQ(trias.count(f), 1u) << "tetra face on the boundary without a triangle";
    }
  }
  EXPECT_EQ(outer, static_cast<long>(r.mesh.trias.size()));
}

INSTANTIATE_TEST_SUITE_P(Models, RegionBoundedByPatches, ::testing::Values("cube_of_patches", "box_mixed_faces"));

// Errors of the loops and of the geometry: manipulation errors (status 10)
// with the message.
struct loop_error_case {
  const char* name;
  std::string model;
  std::string message;
};

const std::string square_points =
    "vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 10 10 0\nvertex 4 xyz 0 10 0\n";
const std::string square_curves = "curve 1 vertex 1 2\ncurve 2 vertex 1 4\ncurve 3 vertex 4 3\ncurve 4 vertex 2 3\n";

class LoopError : public ::testing::TestWithParam<loop_error_case> {};

TEST_P(LoopError, EndsTheRunWithStatus10) {
  const loop_error_case& c = GetParam();
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/model.mgn", c.model);
  const mgn_run_result r = mgn_run_program({"-i", dir + "/model.mgn", "-u", "1"});
  EXPECT_EQ(r.status, 10) << r.err;
  EXPECT_NE(r.err.find("--> Manipulation error"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
}

const loop_error_case loop_cases[] = {
    {"CurveAgainstTheLoop", square_points + square_curves + "patch 1 normal 0 0 1 boundary curve 1 4 3 -2\n",
     "Invalid topology of patch 1 detected\nCheck orientation of curves 4 and 3"},
    {"LoopNotClosed", square_points + square_curves + "patch 1 normal 0 0 1 boundary curve 1 4 -3\n",
     "Invalid topology of patch 1 detected at vertex 1"},
    {"VertexOffThePlane",
     "vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 10 10 0.01\nvertex 4 xyz 0 10 0\n" + square_curves +
         "patch 1 normal 0 0 1 boundary curve 1 4 -3 -2\n",
     "Vertex 3 is not close enough to plane of patch 1 (distance 7.500000e-03)"},
    {"LoopsTurnAgainstTheNormal", square_points + square_curves + "patch 1 normal 0 0 -1 boundary curve 1 4 -3 -2\n",
     "Invalid topology of patch 1 detected\nCheck normal orientation"},
    {"HoleOutsideThePlate",
     square_points + square_curves +
         "vertex 5 xyz 12 2 0\nvertex 6 xyz 14 2 0\nvertex 7 xyz 13 3 0\n"
         "curve 5 vertex 5 6\ncurve 6 vertex 6 7\ncurve 7 vertex 7 5\n"
         "patch 1 normal 0 0 1 boundary curve 1 4 -3 -2 boundary curve -5 -6 -7\n",
     "Invalid topology of patch 1 detected\nCheck normal orientation"},
    {"FixedVertexOutside",
     square_points + square_curves + "vertex 5 xyz 12 2 0\npatch 1 normal 0 0 1 boundary curve 1 4 -3 -2 fixed vertex 5\n",
     "Vertex 5 is not inside patch 1"},
    {"ShellCurveLeavesItsSurface",
     square_points + square_curves +
         "surface 1 curve 1 2 3 4\nvertex 5 xyz 5 5 1\ncurve 5 vertex 1 5\ncurve 6 vertex 5 3\n"
         "shell 1 bgsurface 1 boundary curve 1 4 -6 -5\n",
     "Vertex 5 of shell 1 is not close enough to or inside surface 1"},
    {"ShellCurveBulgesOffItsSurface",
     square_points + square_curves +
         "surface 1 curve 1 2 3 4\ncurve 5 vertex 1 3 order 3\npolygon 1 xyz 5 5 1\n"
         "shell 1 bgsurface 1 boundary curve 1 4 -5\n",
     "Curve 5 of shell 1 is not close enough to or inside surface 1"},
    {"ShellLoopNotClosed",
     square_points + square_curves + "surface 1 curve 1 2 3 4\nshell 1 bgsurface 1 boundary curve 1 4 -3\n",
     "Invalid topology of shell 1 detected at vertex 1"},
};

INSTANTIATE_TEST_SUITE_P(Patch, LoopError, ::testing::ValuesIn(loop_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
