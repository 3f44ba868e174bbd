// Mesh quality: the element measures, the evaluation of small meshes built
// through the mesh store, the exact text of the global report and of the
// per-entity lines, entity selection, and the fatal zero-quality cases.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "element.h"
#include "list.h"
#include "message.h"
#include "quality.h"

namespace {

const double kS3 = std::sqrt(3.0);

// Runs f with standard output and standard error redirected to temporary
// files and returns what was written to each.
struct captured {
  std::string out, err;
};

std::string read_all(FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  return text;
}

captured capture(const std::function<void()>& f) {
  std::fflush(stdout);
  std::fflush(stderr);
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  const int saved_out = dup(STDOUT_FILENO);
  const int saved_err = dup(STDERR_FILENO);
  dup2(fileno(out), STDOUT_FILENO);
  dup2(fileno(err), STDERR_FILENO);
  f();
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(saved_out, STDOUT_FILENO);
  dup2(saved_err, STDERR_FILENO);
  close(saved_out);
  close(saved_err);
  captured result{read_all(out), read_all(err)};
  std::fclose(out);
  std::fclose(err);
  return result;
}

// A small model: entities entered in the model lists, meshes built through
// the mesh store.
class Quality : public ::testing::Test {
 public:
  void SetUp() override {
    mgn_reset_mesh_store();
    mgn_create_mesh_store(4);
    mgn_set = mgn_settings{};
    mgn_tol = mgn_tolerances{};
    mgn_warning_count = 0;
    mgn_clear_quality();
  }
  void TearDown() override {
    auto drop = [](mgn_listing*& listing) {
      if (listing != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(listing));
      listing = nullptr;
    };
    for (mgn_surface& s : surfaces_) {
      for (mgn_listing** l : {&s.mesh.nodes, &s.mesh.edges, &s.mesh.faces, &s.mesh.quads}) drop(*l);
    }
    for (mgn_region& r : regions_) {
      for (mgn_listing** l : {&r.mesh.nodes, &r.mesh.edges, &r.mesh.tetras, &r.mesh.pyrams}) drop(*l);
    }
    surfaces_.clear();
    regions_.clear();
    mgn_destroy_list(mgn_model.surfaces.list);
    mgn_destroy_list(mgn_model.regions.list);
    mgn_reset_mesh_store();
    mgn_set = mgn_settings{};
  }

  mgn_surface& surface(int id) {
    mgn_surface& s = surfaces_.emplace_back();
    s.id = id;
    mgn_add_item_to_tail(mgn_model.surfaces.list, &s);
    return s;
  }
  mgn_region& region(int id) {
    mgn_region& r = regions_.emplace_back();
    r.id = id;
    mgn_add_item_to_tail(mgn_model.regions.list, &r);
    return r;
  }
  // A boundary node (on no listing) or a node owned by the surface.
  static mgn_node* node(double x, double y, double z) {
    const double xyz[3] = {x, y, z};
    return mgn_create_node(xyz, nullptr, MGN_CURVE, nullptr, nullptr);
  }
  static mgn_node* node(mgn_surface& s, double x, double y, double z) {
    const double xyz[3] = {x, y, z};
    const double uv[2] = {0.0, 0.0};
    return mgn_create_node(xyz, uv, MGN_SURFACE, &s, &s.mesh.nodes);
  }
  static mgn_node* node(mgn_region& r, double x, double y, double z) {
    const double xyz[3] = {x, y, z};
    return mgn_create_node(xyz, nullptr, MGN_REGION, &r, &r.mesh.nodes);
  }
  static void face(mgn_surface& s, mgn_node* a, mgn_node* b, mgn_node* c) {
    mgn_create_face(a, b, c, MGN_SURFACE, &s, &s.mesh.faces, nullptr, false);
  }
  static void quad(mgn_surface& s, mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d) {
    mgn_create_quad(a, b, c, d, MGN_SURFACE, &s, &s.mesh.quads, false);
  }
  static void tetra(mgn_region& r, mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d) {
    mgn_create_tetra(a, b, c, d, &r, &r.mesh.tetras);
  }
  static void pyram(mgn_region& r, mgn_node* const n[5]) { mgn_create_pyram(n, &r, &r.mesh.pyrams); }

  // The meshes of the cases.
  // Surface 1: an equilateral triangle and a sliver (q 0.11509, angles
  // 5.7, 5.7, 168.6 degrees) sharing an edge.
  void two_triangles() {
    mgn_surface& s = surface(1);
    mgn_node* a = node(0, 0, 0);
    mgn_node* b = node(1, 0, 0);
    face(s, a, b, node(0.5, kS3 / 2, 0));
    face(s, b, a, node(0.5, -0.05, 0));
  }
  // Surface 2: six equilateral triangles around a node the surface owns.
  void hexagon_fan() {
    mgn_surface& s = surface(2);
    mgn_node* centre = node(s, 0, 0, 0);
    mgn_node* rim[6];
    for (int i = 0; i < 6; ++i) rim[i] = node(std::cos(i * M_PI / 3), std::sin(i * M_PI / 3), 0);
    for (int i = 0; i < 6; ++i) {
      mgn_create_edge(centre, rim[i], MGN_SURFACE, &s, &s.mesh.edges);
      mgn_create_edge(rim[i], rim[(i + 1) % 6], MGN_CURVE, nullptr, nullptr);
      face(s, centre, rim[i], rim[(i + 1) % 6]);
    }
  }
  // Surface 5: two isosceles triangles of quality 0.93624 and 0.97777
  // (angles 50.2, 50.2, 79.6 and 54.5, 54.5, 71.1 degrees).
  void good_triangles() {
    mgn_surface& s = surface(5);
    face(s, node(0, 0, 0), node(1, 0, 0), node(0.5, 0.6, 0));
    face(s, node(0, 0, 0), node(1, 0, 0), node(0.5, 0.7, 0));
  }
  // Surface 8: a right isosceles triangle (q 0.86603, bin 0.850 - 0.900)
  // and a sliver of height 0.03 (q 0.06920, bin 0.050 - 0.100).
  void right_and_sliver() {
    mgn_surface& s = surface(8);
    face(s, node(0, 0, 0), node(1, 0, 0), node(0, 1, 0));
    face(s, node(0, 0, 0), node(1, 0, 0), node(0.5, 0.03, 0));
  }
  // Region 1: the regular tetra, its nodes owned by the region.
  void regular_tetra() {
    mgn_region& r = region(1);
    mgn_node* n[4] = {node(r, 0, 0, 0), node(r, 1, 0, 0), node(r, 0.5, kS3 / 2, 0),
                      node(r, 0.5, kS3 / 6, std::sqrt(2.0 / 3.0))};
    for (const auto& e : mgn_tetra_edge_nodes) mgn_create_edge(n[e[0]], n[e[1]], MGN_REGION, &r, &r.mesh.edges);
    tetra(r, n[0], n[1], n[2], n[3]);
  }
  // Surface 3: a unit square and a parallelogram of 60 and 120 degrees.
  void square_and_parallelogram(bool mapped) {
    mgn_surface& s = surface(3);
    s.map = mapped;
    quad(s, node(0, 0, 0), node(1, 0, 0), node(1, 1, 0), node(0, 1, 0));
    quad(s, node(0, 0, 0), node(1, 0, 0), node(1.5, kS3 / 2, 0), node(0.5, kS3 / 2, 0));
  }
  // Surface 6, planar: one corner of a unit square lifted by 0.5.  Its
  // quality without the warp factor is 1.07522, above 1.
  void lifted_quad_on_planar_surface() {
    mgn_surface& s = surface(6);
    s.planar = true;
    quad(s, node(0, 0, 0), node(1, 0, 0), node(1, 1, 0.5), node(0, 1, 0));
  }
  // Region 2: the ideal pyramid (square base, all edges 1).
  void ideal_pyramid() {
    mgn_region& r = region(2);
    mgn_node* n[5] = {node(0, 0, 0), node(1, 0, 0), node(1, 1, 0), node(0, 1, 0),
                      node(0.5, 0.5, std::sqrt(0.5))};
    pyram(r, n);
  }
  void mapped_quads() { square_and_parallelogram(true); }
  void free_quads() { square_and_parallelogram(false); }
  void triangles_and_tetra() {
    two_triangles();
    regular_tetra();
  }
  // Surface 4: one sliver of the given apex height.
  void sliver(double height) {
    mgn_surface& s = surface(4);
    face(s, node(0, 0, 0), node(1, 0, 0), node(0.5, height, 0));
  }

  captured evaluate_and_print(int bits) {
    mgn_set.quality_report = bits;
    return capture([] {
      mgn_evaluate_quality();
      mgn_print_quality_report();
    });
  }

  std::deque<mgn_surface> surfaces_;
  std::deque<mgn_region> regions_;
};

const char* kTwoTrianglesQuality =
    "Trias quality:         1 : (1.000 - 0.866)  50.00 %\n"
    "                       0 : (0.866 - 0.577)   0.00 %\n"
    "                       1 : (0.577 - 0.000)  50.00 %\n"
    "                 0.55754 - arithmetic mean quality\n"
    "                 0.20642 - harmonic mean quality\n"
    "                 0.11509 - worst tria quality\n"
    "\n";
const char* kTwoTrianglesAngles =
    "Trias angles:          2 : (  0.0 -  30.0)  33.33 %\n"
    "                       3 : ( 30.0 -  90.0)  50.00 %\n"
    "                       1 : ( 90.0 - 180.0)  16.67 %\n"
    "                   5.711 - minimum dihedral angle\n"
    "                 168.579 - maximum dihedral angle\n"
    "\n";
const char* kRegularTetra =
    "Tetras quality:        1 : (1.000 - 0.750) 100.00 %\n"
    "                       0 : (0.750 - 0.500)   0.00 %\n"
    "                       0 : (0.500 - 0.000)   0.00 %\n"
    "                 1.00000 - arithmetic mean quality\n"
    "                 1.00000 - harmonic mean quality\n"
    "                 1.00000 - worst tetra quality\n"
    "\n"
    "Tetras angles:         0 : (  0.0 -  35.0)   0.00 %\n"
    "                       6 : ( 35.0 - 105.0) 100.00 %\n"
    "                       0 : (105.0 - 180.0)   0.00 %\n"
    "                  70.529 - average dihedral angle\n"
    "                  70.529 - minimum dihedral angle\n"
    "\n";

// The global summary, exactly, for small meshes and report settings.
TEST_F(Quality, GlobalSummaryText) {
  struct Case {
    const char* name;
    void (Quality::*build)();
    int bits;
    std::string expected;
  };
  const Case cases[] = {
      {"default: quality sections only", &Quality::two_triangles, 1, kTwoTrianglesQuality},
      {"angles only", &Quality::two_triangles, 2, kTwoTrianglesAngles},
      {"quality and angles", &Quality::two_triangles, 3,
       std::string(kTwoTrianglesQuality) + kTwoTrianglesAngles},
      {"equilateral fan with distribution and valency", &Quality::hexagon_fan, 13,
       "Trias quality:         6 : (1.000 - 0.866) 100.00 %\n"
       "                       0 : (0.866 - 0.577)   0.00 %\n"
       "                       0 : (0.577 - 0.000)   0.00 %\n"
       "                 1.00000 - arithmetic mean quality\n"
       "                 1.00000 - harmonic mean quality\n"
       "                 1.00000 - worst tria quality\n"
       "\n"
       "                       0 : (0.000 - 0.950)   0.00 %\n"
       "                       6 : (0.950 - 1.000) 100.00 %\n"
       "\n"
       "Trias valency:         0 : (    0 -     4)   0.00 %\n"
       "                       1 : (    5 -     7) 100.00 %\n"
       "                       0 : (    8 -  1000)   0.00 %\n"
       "                   6.000 - average valency\n"
       "                       6 - minimum valency\n"
       "                       6 - maximum valency\n"
       "\n"
       "                       1 :      6          100.00 %\n"
       "\n"},
      {"distribution merges the empty bins below 0.9", &Quality::good_triangles, 9,
       "Trias quality:         2 : (1.000 - 0.866) 100.00 %\n"
       "                       0 : (0.866 - 0.577)   0.00 %\n"
       "                       0 : (0.577 - 0.000)   0.00 %\n"
       "                 0.95701 - arithmetic mean quality\n"
       "                 0.95656 - harmonic mean quality\n"
       "                 0.93624 - worst tria quality\n"
       "\n"
       "                       0 : (0.000 - 0.900)   0.00 %\n"
       "                       1 : (0.900 - 0.950)  50.00 %\n"
       "                       1 : (0.950 - 1.000)  50.00 %\n"
       "\n"},
      {"distribution prints a single empty first bin and the empty bins between filled ones, merges the empty end",
       &Quality::right_and_sliver, 9,
       "Trias quality:         1 : (1.000 - 0.866)  50.00 %\n"
       "                       0 : (0.866 - 0.577)   0.00 %\n"
       "                       1 : (0.577 - 0.000)  50.00 %\n"
       "                 0.46761 - arithmetic mean quality\n"
       "                 0.12816 - harmonic mean quality\n"
       "                 0.06920 - worst tria quality\n"
       "\n"
       "                       0 : (0.000 - 0.050)   0.00 %\n"
       "                       1 : (0.050 - 0.100)  50.00 %\n"
       "                       0 : (0.100 - 0.150)   0.00 %\n"
       "                       0 : (0.150 - 0.200)   0.00 %\n"
       "                       0 : (0.200 - 0.250)   0.00 %\n"
       "                       0 : (0.250 - 0.300)   0.00 %\n"
       "                       0 : (0.300 - 0.350)   0.00 %\n"
       "                       0 : (0.350 - 0.400)   0.00 %\n"
       "                       0 : (0.400 - 0.450)   0.00 %\n"
       "                       0 : (0.450 - 0.500)   0.00 %\n"
       "                       0 : (0.500 - 0.550)   0.00 %\n"
       "                       0 : (0.550 - 0.600)   0.00 %\n"
       "                       0 : (0.600 - 0.650)   0.00 %\n"
       "                       0 : (0.650 - 0.700)   0.00 %\n"
       "                       0 : (0.700 - 0.750)   0.00 %\n"
       "                       0 : (0.750 - 0.800)   0.00 %\n"
       "                       0 : (0.800 - 0.850)   0.00 %\n"
       "                       1 : (0.850 - 0.900)  50.00 %\n"
       "                       0 : (0.900 - 1.000)   0.00 %\n"
       "\n"},
      {"angle distribution merges the empty bins at both ends", &Quality::good_triangles, 2 + 8,
       "Trias angles:          0 : (  0.0 -  30.0)   0.00 %\n"
       "                       6 : ( 30.0 -  90.0) 100.00 %\n"
       "                       0 : ( 90.0 - 180.0)   0.00 %\n"
       "                  50.194 - minimum dihedral angle\n"
       "                  79.611 - maximum dihedral angle\n"
       "\n"
       "                       0 : (  5.0 -  45.0)   0.00 %\n"
       "                       4 : ( 45.0 -  55.0)  66.67 %\n"
       "                       0 : ( 55.0 -  65.0)   0.00 %\n"
       "                       1 : ( 65.0 -  75.0)  16.67 %\n"
       "                       1 : ( 75.0 -  85.0)  16.67 %\n"
       "                       0 : ( 85.0 - 175.0)   0.00 %\n"
       "\n"},
      {"regular tetra", &Quality::regular_tetra, 3, kRegularTetra},
      {"mapped quads", &Quality::mapped_quads, 3,
       "Map quads quality:     2 : (1.000 - 0.666) 100.00 %\n"
       "                       0 : (0.666 - 0.500)   0.00 %\n"
       "                       0 : (0.500 - 0.000)   0.00 %\n"
       "                 0.83333 - arithmetic mean quality\n"
       "                 0.80000 - harmonic mean quality\n"
       "                 0.66667 - worst quad quality\n"
       "\n"
       "Map quads angles:      0 : (  0.0 -  45.0)   0.00 %\n"
       "                       8 : ( 45.0 - 135.0) 100.00 %\n"
       "                       0 : (135.0 - 180.0)   0.00 %\n"
       "                  60.000 - minimum dihedral angle\n"
       "                 120.000 - maximum dihedral angle\n"
       "\n"},
      {"free quads", &Quality::free_quads, 1,
       "Quads quality:         1 : (1.000 - 0.800)  50.00 %\n"
       "                       1 : (0.800 - 0.500)  50.00 %\n"
       "                       0 : (0.500 - 0.000)   0.00 %\n"
       "                 0.82000 - arithmetic mean quality\n"
       "                 0.78049 - harmonic mean quality\n"
       "                 0.64000 - worst quad quality\n"
       "\n"},
      {"planar entity: no warp factor, quality above 1 in the top bin", &Quality::lifted_quad_on_planar_surface,
       9,
       "Quads quality:         1 : (1.000 - 0.800) 100.00 %\n"
       "                       0 : (0.800 - 0.500)   0.00 %\n"
       "                       0 : (0.500 - 0.000)   0.00 %\n"
       "                 1.07522 - arithmetic mean quality\n"
       "                 1.07522 - harmonic mean quality\n"
       "                 1.07522 - worst quad quality\n"
       "\n"
       "                       0 : (0.000 - 0.950)   0.00 %\n"
       "                       1 : (0.950 - 1.000) 100.00 %\n"
       "\n"},
      {"ideal pyramid", &Quality::ideal_pyramid, 3,
       "Pyrams quality:        1 : (1.000 - 0.750) 100.00 %\n"
       "                       0 : (0.750 - 0.500)   0.00 %\n"
       "                       0 : (0.500 - 0.000)   0.00 %\n"
       "                 1.00000 - arithmetic mean quality\n"
       "                 1.00000 - harmonic mean quality\n"
       "                 1.00000 - worst pyram quality\n"
       "\n"},
      {"bit 16 drops the faces", &Quality::triangles_and_tetra, 1 + 16,
       std::string(kRegularTetra).substr(0, std::string(kRegularTetra).find("Tetras angles"))},
      {"bit 32 drops the cells", &Quality::triangles_and_tetra, 1 + 32, kTwoTrianglesQuality},
      {"setting 0 prints nothing", &Quality::triangles_and_tetra, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    (this->*c.build)();
    const captured printed = evaluate_and_print(c.bits);
    EXPECT_EQ(printed.out, c.expected);
    EXPECT_EQ(printed.err, "");
  }
}

// The measures of triangles, quads and pyramids on coordinates.
TEST(QualityMeasures, TrianglesQuadsAndPyramids) {
  mgn_tol = mgn_tolerances{};
  struct Tria {
    const char* name;
    std::vector<double> p;
    double quality;
  };
  const Tria trias[] = {
      {"equilateral", {0, 0, 0, 1, 0, 0, 0.5, kS3 / 2, 0}, 1.0},
      {"right isosceles", {0, 0, 0, 1, 0, 0, 0, 1, 0}, kS3 / 2},
      {"collinear", {0, 0, 0, 1, 0, 0, 2, 0, 0}, 0.0},
      {"area not above the squared user epsilon", {0, 0, 0, 1, 0, 0, 0.5, 1e-10, 0}, 0.0},
  };
  for (const Tria& t : trias) {
    SCOPED_TRACE(t.name);
    EXPECT_NEAR(mgn_get_triangle_quality(&t.p[0], &t.p[3], &t.p[6]), t.quality, 1e-8);
  }
  double angles[4];
  const double right[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  mgn_get_triangle_angles(right, right + 3, right + 6, angles);
  EXPECT_NEAR(angles[0], M_PI / 2, 1e-12);
  EXPECT_NEAR(angles[1], M_PI / 4, 1e-12);
  EXPECT_NEAR(angles[2], M_PI / 4, 1e-12);
  const double tiny[9] = {0, 0, 0, 1e-6, 0, 0, 0, 1, 0};  // an edge not above the user epsilon
  mgn_get_triangle_angles(tiny, tiny + 3, tiny + 6, angles);
  EXPECT_EQ(angles[0] + angles[1] + angles[2], 0.0);

  struct Quad {
    const char* name;
    std::vector<double> p;
    double quality, warped_quality, angle_quality;
  };
  const Quad quads[] = {
      {"square", {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}, 1.0, 1.0, 1.0},
      {"60 degree parallelogram", {0, 0, 0, 1, 0, 0, 1.5, kS3 / 2, 0, 0.5, kS3 / 2, 0}, 0.64, 0.64, 2.0 / 3.0},
      {"folded", {0, 0, 0, 1, 1, 0, 1, 0, 0, 0, 1, 0}, -1.0, -1.0, 0.0},
      // One corner lifted by the side length: warp factor 0.57735 x 0.5,
      // angles summing to 330 degrees.
      {"warped", {0, 0, 0, 1, 0, 0, 1, 1, 1, 0, 1, 0}, 1.0264004785593348, 8.0 / 27.0, 0.0},
  };
  for (const Quad& q : quads) {
    SCOPED_TRACE(q.name);
    const double* p[4] = {&q.p[0], &q.p[3], &q.p[6], &q.p[9]};
    EXPECT_NEAR(mgn_get_quad_quality(p, false), q.quality, 1e-9);
    EXPECT_NEAR(mgn_get_quad_quality(p, true), q.warped_quality, 1e-9);
    EXPECT_NEAR(mgn_get_quad_angle_quality(p, angles), q.angle_quality, 1e-9);
  }

  struct Pyramid {
    const char* name;
    double apex[3];
    double quality;
  };
  const Pyramid pyramids[] = {
      {"ideal", {0.5, 0.5, std::sqrt(0.5)}, 1.0},
      {"twice as high", {0.5, 0.5, 2 * std::sqrt(0.5)}, 0.5 * std::cbrt(4.0)},
      {"apex over a corner (sheared)", {0.0, 0.0, std::sqrt(0.5)}, 0.75},
      {"apex in the base plane", {0.5, 0.5, 0.0}, 0.0},
      {"apex below the base", {0.5, 0.5, -0.7}, 0.0},
  };
  const double base[12] = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
  for (const Pyramid& y : pyramids) {
    SCOPED_TRACE(y.name);
    const double* p[5] = {base, base + 3, base + 6, base + 9, y.apex};
    EXPECT_NEAR(mgn_get_pyram_quality(p), y.quality, 1e-12);
  }
}

// Per-entity lines on standard error: one block per entity in list order,
// with the marker of mapped meshes and of entities with poor elements.
TEST_F(Quality, PerEntityLines) {
  two_triangles();
  hexagon_fan();
  mapped_quads();
  regular_tetra();
  const captured printed = evaluate_and_print(1 + 2 + 4 + 128);
  EXPECT_EQ(printed.err,
            "  Surface     1:  * tria quality:      1      0      1   (0.558 0.206 0.115)\n"
            "  Surface     1:  * tria  angles:      2      3      1   (  5.7 168.6)\n"
            "  Surface     2:    tria quality:      6      0      0   (1.000 1.000 1.000)\n"
            "  Surface     2:    tria  angles:      0     18      0   ( 60.0  60.0)\n"
            "  Surface     2:    tria valency:      0      1      0   (6.000     6     6)\n"
            "  Surface     3:  M quad quality:      2      0      0   (0.833 0.800 0.667)\n"
            "  Surface     3:  M quad  angles:      0      8      0   ( 60.0 120.0)\n"
            "  Region      1:   tetra quality:      1      0      0   (1.000 1.000 1.000)\n"
            "  Region      1:   tetra  angles:      0      6      0   ( 70.5  70.5  70.5)\n"
            "  Region      1: * tetra valency:      4      0      0   ( 3.00     3     3)\n");
  // The global statistics join the entities of a kind.
  EXPECT_EQ(mgn_quality.tria.count, 8);
  EXPECT_EQ(mgn_quality.tria.classes[0], 7);
  EXPECT_EQ(mgn_quality.map_quad.count, 2);
  EXPECT_EQ(mgn_quality.tetra.nodes, 4);
  EXPECT_NE(printed.out.find("Trias valency:         0 : (    0 -     4)   0.00 %\n"), std::string::npos);
  EXPECT_NE(printed.out.find("Tetras valency:        4 : (    0 -     6) 100.00 %\n"), std::string::npos);
}

// Once collected, the listings of the entities are blocks of one global
// chain: each entity still sees exactly its own live elements.
TEST_F(Quality, CollectedListingsAreSplitByEntity) {
  mgn_set.listing_size = 10;
  mgn_surface& a = surface(1);
  mgn_surface& b = surface(2);
  mgn_node* p = node(0, 0, 0);
  mgn_node* q = node(1, 0, 0);
  mgn_node* good = node(0.5, kS3 / 2, 0);
  mgn_node* poor = node(0.5, 0.05, 0);
  for (int i = 0; i < 12; ++i) face(a, p, q, good);  // two blocks, the second partly used
  for (int i = 0; i < 3; ++i) face(b, p, q, poor);
  // A retired face keeps its slot and is not evaluated.
  mgn_retire_face(*static_cast<mgn_face**>(mgn_get_nth_listing_item(mgn_get_first_listing_block(a.mesh.faces), 1)));
  // The global listing starts with a face of another entity.
  mgn_listing* global = mgn_create_listing(10, sizeof(void*));
  *static_cast<mgn_face**>(mgn_get_listing_item(global)) =
      mgn_create_face(p, q, poor, MGN_SURFACE, nullptr, nullptr, nullptr, false);
  global = mgn_append_listing(global, a.mesh.faces);
  global = mgn_append_listing(global, b.mesh.faces);
  mgn_mesh.fe_faces = global;  // the joined chain is released with the mesh store
  const captured printed = evaluate_and_print(1 + 128);
  a.mesh.faces = nullptr;
  b.mesh.faces = nullptr;
  EXPECT_EQ(printed.err,
            "  Surface     1:    tria quality:     11      0      0   (1.000 1.000 1.000)\n"
            "  Surface     2:  * tria quality:      0      0      3   (0.115 0.115 0.115)\n");
  EXPECT_EQ(mgn_quality.tria.count, 14);
}

// Which entities take part: elements not output only with bit 64, never
// virtual or hole entities; a selected entity without elements is skipped
// with a counted warning.
TEST_F(Quality, EntitySelection) {
  struct Case {
    const char* name;
    bool output, is_virtual, hole, meshed;
    int bits;
    long evaluated;
    std::string err;
  };
  const Case cases[] = {
      {"output", true, false, false, true, 1, 1, ""},
      {"not output", false, false, false, true, 1, 0, ""},
      {"not output, all entities", false, false, false, true, 1 + 64, 1, ""},
      {"virtual", true, true, false, true, 1 + 64, 0, ""},
      {"hole", true, false, true, true, 1 + 64, 0, ""},
      {"without elements", true, false, false, false, 1, 0, "Warning: Quality evaluation on surface 7 skipped\n"},
      {"without elements, not output", false, false, false, false, 1, 0, ""},
      {"without elements, all entities", false, false, false, false, 1 + 64, 0,
       "Warning: Quality evaluation on surface 7 skipped\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    mgn_surface& s = surface(7);
    s.output = c.output;
    s.is_virtual = c.is_virtual;
    s.hole = c.hole;
    if (c.meshed) face(s, node(0, 0, 0), node(1, 0, 0), node(0, 1, 0));
    const captured printed = evaluate_and_print(c.bits);
    EXPECT_EQ(mgn_quality.tria.count, c.evaluated);
    EXPECT_EQ(printed.err, c.err);
    EXPECT_EQ(mgn_warning_count, c.err.empty() ? 0 : 1);
  }
}

// The worst quality is printed in exponent form below 0.0001.
TEST_F(Quality, WorstQualityForm) {
  const struct {
    double height;
    const char* line;
  } cases[] = {
      {2.165e-5, "                 5.0e-05 - worst tria quality\n"},
      {5.2e-5, "                 0.00012 - worst tria quality\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TearDown();
    SetUp();
    sliver(c.height);
    EXPECT_NE(evaluate_and_print(1).out.find(c.line), std::string::npos);
  }
}

// Zero quality elements and face-mesh nodes without face edges are fatal
// manipulation errors naming the reporter.
TEST_F(Quality, FatalCases) {
  struct Case {
    const char* name;
    std::function<void(Quality&)> build;
    int bits;
    const char* message;
  };
  const Case cases[] = {
      {"collinear triangle",
       [](Quality& t) { face(t.surface(1), node(0, 0, 0), node(1, 0, 0), node(2, 0, 0)); }, 1,
       "mgn_report_face, file src/quality.*\nZero quality face detected\n"},
      {"folded quad",
       [](Quality& t) { quad(t.surface(1), node(0, 0, 0), node(1, 1, 0), node(1, 0, 0), node(0, 1, 0)); }, 1,
       "mgn_report_quad, file src/quality.*\nZero quality quad detected\n"},
      {"strongly warped mapped quad",
       [](Quality& t) {
         mgn_surface& s = t.surface(1);
         s.map = true;
         quad(s, node(0, 0, 0), node(1, 0, 1), node(1, 1, 0), node(0, 1, 1));
       },
       1, "mgn_report_quad_map, file src/quality.*\nZero quality quad detected\n"},
      {"flat tetra",
       [](Quality& t) {
         mgn_region& r = t.region(1);
         tetra(r, node(0, 0, 0), node(1, 0, 0), node(0, 1, 0), node(1, 1, 0));
       },
       1, "mgn_report_tetra, file src/quality.*\nZero quality tetra detected\n"},
      {"inverted pyramid",
       [](Quality& t) {
         mgn_node* n[5] = {node(0, 0, 0), node(1, 0, 0), node(1, 1, 0), node(0, 1, 0), node(0.5, 0.5, -0.7)};
         pyram(t.region(1), n);
       },
       1, "mgn_report_pyram, file src/quality.*\nZero quality pyram detected\n"},
      {"surface node with curve edges only",
       [](Quality& t) {
         mgn_surface& s = t.surface(1);
         mgn_node* a = node(s, 0, 0, 0);
         mgn_node* b = node(1, 0, 0);
         mgn_create_edge(a, b, MGN_CURVE, nullptr, nullptr);
         face(s, a, b, node(0, 1, 0));
       },
       4, "mgn_report_face_node, file src/quality.*\nUnexpected situation\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.build(*this);
    mgn_set.quality_report = c.bits;
    EXPECT_EXIT(mgn_evaluate_quality(), ::testing::ExitedWithCode(10), c.message);
  }
}

}  // namespace
