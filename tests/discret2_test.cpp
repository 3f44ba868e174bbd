// Surface triangulation: closed fronts, exact placement on curved surfaces,
// orientation, conformity across shared curves, element quality, the
// collapsed side of a sphere octant and the fatal errors a small model can
// reach.  Vertices and curves are read from text; the surfaces are built in
// the test process from their four curves (a sphere octant gets its exact
// inner control point), the octree is refined over them and the meshing
// driver is run.
#include "discret2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bezier.h"
#include "curve.h"
#include "discret.h"
#include "element.h"
#include "geom.h"
#include "mesh_file.h"
#include "message.h"
#include "model_fixture.h"
#include "octree.h"
#include "octree1.h"
#include "project.h"
#include "quality.h"
#include "vertex.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
const std::string kW = "0.70710678118654752440";  // weight of a quarter circle's middle point

// A surface on four curves: sides 0 to 3 with their reversal flags and the
// four corner vertices (0, 0), (0, 1), (1, 1), (1, 0).
struct surface_def {
  long id;
  long curves[4];
  bool reversed[4];
  long corners[4];
};

mgn_surface* add_surface(const surface_def& d) {
  mgn_surface* s = mgn_create_surface(d.id);
  for (int k = 0; k < 4; ++k) {
    s->curve[k] = mgn_find_curve(d.curves[k]);
    s->reversed[k] = d.reversed[k];
    s->vertex[k] = mgn_find_vertex(d.corners[k]);
  }
  mgn_create_surface_ctrl_polygon(s);
  mgn_add_surface_to_model(s);
  return s;
}

// Refines the octree over the surface with its own size, as the surface
// sampling does: a parameter grid fine enough for the size.
void refine_surface(const mgn_surface* s, double size) {
  double a[3], b[3];
  mgn_get_surface_point(s, 0.0, 0.0, a);
  mgn_get_surface_point(s, 1.0, 1.0, b);
  double extent = 0.0;
  for (int k = 0; k < 3; ++k) extent = std::max(extent, std::fabs(b[k] - a[k]));
  const int n = std::max(4, static_cast<int>(4.0 * extent / size));
  for (int i = 0; i <= n; ++i) {
    for (int j = 0; j <= n; ++j) {
      double p[3];
      mgn_get_surface_point(s, static_cast<double>(i) / n, static_cast<double>(j) / n, p);
      mgn_refine_octree_at_point(p, size, 0.5, false);
    }
  }
}

std::vector<mgn_face*> faces_of(const mgn_surface* s) {
  std::vector<mgn_face*> out;
  long k = 0;
  for (mgn_face** f : mgn_listing_range<mgn_face*>(s->mesh.faces)) {
    if (k++ >= s->mesh.face_count) break;
    out.push_back(*f);
  }
  return out;
}

std::vector<mgn_node*> nodes_of(const mgn_surface* s) {
  std::set<mgn_node*> seen;
  std::vector<mgn_node*> out;
  for (mgn_face* f : faces_of(s))
    for (mgn_node* n : f->n)
      if (seen.insert(n).second) out.push_back(n);
  return out;
}

double area(const mgn_face* f) {
  double u[3], v[3], c[3];
  mgn_sub(f->n[1]->xyz, f->n[0]->xyz, u);
  mgn_sub(f->n[2]->xyz, f->n[0]->xyz, v);
  mgn_cross(u, v, c);
  return 0.5 * std::sqrt(mgn_dot(c, c));
}

// The listings of a meshed entity rest on its own first block.

// Edges (node pairs) of the faces of a surface with the number of faces
// using each.
std::map<std::pair<mgn_node*, mgn_node*>, int> edge_use(const mgn_surface* s) {
  std::map<std::pair<mgn_node*, mgn_node*>, int> use;
  for (mgn_face* f : faces_of(s)) {
    for (int i = 0; i < 3; ++i) {
      mgn_node* a = f->n[i];
      mgn_node* b = f->n[(i + 1) % 3];
      ++use[a < b ? std::make_pair(a, b) : std::make_pair(b, a)];
    }
  }
  return use;
}

std::set<std::pair<mgn_node*, mgn_node*>> curve_edges(const mgn_surface* s) {
  std::set<std::pair<mgn_node*, mgn_node*>> out;
  for (mgn_curve* c : s->curve) {
    if (c == nullptr || c->mesh.edges == nullptr) continue;
    long k = 0;
    for (mgn_edge** e : mgn_listing_range<mgn_edge*>(c->mesh.edges)) {
      if (k++ >= c->mesh.edge_count) break;
      mgn_node* a = (*e)->n[0];
      mgn_node* b = (*e)->n[1];
      out.insert(a < b ? std::make_pair(a, b) : std::make_pair(b, a));
    }
  }
  return out;
}

class SurfaceMeshTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mgn_reset_model_settings();
    mgn_set.quiet = false;
  }

  // Reads the vertices and curves, adds the surfaces, builds the octree
  // (uniform size h) and meshes the model.
  static void mesh(const std::string& text, const std::vector<surface_def>& surfaces, double h,
                   void (*adjust)() = nullptr) {
    mgn_set.uniform_size = mgn_set.default_size = h;
    mgn_read_model_text(text);
    for (const surface_def& d : surfaces) add_surface(d);
    if (adjust) adjust();
    mgn_build_octree();
    for (const surface_def& d : surfaces) refine_surface(mgn_find_surface(d.id), h);
    mgn_discretize_model();
  }

  // Every face's normal agrees with Su x Sv at the nearest surface point.
  static void expect_oriented(const mgn_surface* s) {
    long wrong = 0;
    for (mgn_face* f : faces_of(s)) {
      double c[3], u[3], v[3], n[3];
      for (int k = 0; k < 3; ++k) c[k] = (f->n[0]->xyz[k] + f->n[1]->xyz[k] + f->n[2]->xyz[k]) / 3.0;
      mgn_sub(f->n[1]->xyz, f->n[0]->xyz, u);
      mgn_sub(f->n[2]->xyz, f->n[0]->xyz, v);
      mgn_cross(u, v, n);
      double pu, pv, su[3], sv[3], sn[3];
      mgn_find_closest_surface_point(s, c, &pu, &pv);
      mgn_get_surface_derivative(s, pu, pv, 0, su);
      mgn_get_surface_derivative(s, pu, pv, 1, sv);
      mgn_cross(su, sv, sn);
      if (!(mgn_dot(n, sn) > 0.0)) ++wrong;
    }
    EXPECT_EQ(wrong, 0) << "faces turned against Su x Sv on surface " << s->id;
  }

  // The mesh of each surface is a closed, conforming triangulation: edges
  // on its curves used once, every other edge twice.
  static void expect_conforming(const mgn_surface* s) {
    const auto use = edge_use(s);
    const auto boundary = curve_edges(s);
    long bad = 0;
    for (const auto& [edge, count] : use) {
      const int expected = boundary.count(edge) ? 1 : 2;
      if (count != expected) ++bad;
    }
    EXPECT_EQ(bad, 0) << "edges of surface " << s->id << " used a wrong number of times";
    for (const auto& edge : boundary) EXPECT_EQ(use.count(edge), 1u) << "curve edge without face";
  }

  static double quality_mean(const mgn_surface* s, double* worst) {
    double sum = 0.0;
    *worst = 1.0;
    const auto faces = faces_of(s);
    for (mgn_face* f : faces) {
      const double q = mgn_get_triangle_quality(f->n[0]->xyz, f->n[1]->xyz, f->n[2]->xyz);
      sum += q;
      *worst = std::min(*worst, q);
    }
    return faces.empty() ? 0.0 : sum / static_cast<double>(faces.size());
  }
};

// ---------------------------------------------------------------------------
// Models
// ---------------------------------------------------------------------------

const surface_def kSquare{1, {1, 2, 3, 4}, {false, false, false, false}, {1, 4, 3, 2}};

// Sphere octant of radius R: equator (curve 1), meridians (curves 2 and 4)
// and the collapsed pole side (curve 3).
std::string sphere_text(double r) {
  const std::string R = std::to_string(r);
  return "vertex 1 xyz " + R + " 0 0\nvertex 2 xyz 0 " + R + " 0\nvertex 3 xyz 0 0 " + R + "\n" +
         "curve 1 vertex 1 2 order 3\npolygon 1 xyz " + R + " " + R + " 0 weight " + kW + "\n" +
         "curve 2 vertex 1 3 order 3\npolygon 1 xyz " + R + " 0 " + R + " weight " + kW + "\n" +
         "curve 3 vertex 3 3 order 3\npolygon 1 xyz 0 0 " + R + " weight " + kW + "\n" +
         "curve 4 vertex 2 3 order 3\npolygon 1 xyz 0 " + R + " " + R + " weight " + kW + "\n";
}
const surface_def kSphere{1, {1, 2, 3, 4}, {false, false, false, false}, {1, 3, 3, 2}};
double sphere_radius = 1.0;
// The exact inner control point of the octant.
void exact_sphere() {
  mgn_surface* s = mgn_find_surface(1);
  mgn_ctrl_point* p = s->net[4];
  p->xyz[0] = p->xyz[1] = p->xyz[2] = sphere_radius;
  p->w = 0.5;
}

// Quarter cylinder of radius R and height H around the z axis.
std::string cylinder_text(double r, double h) {
  const std::string R = std::to_string(r), H = std::to_string(h);
  return "vertex 1 xyz " + R + " 0 0\nvertex 2 xyz 0 " + R + " 0\nvertex 3 xyz 0 " + R + " " + H +
         "\nvertex 4 xyz " + R + " 0 " + H + "\n" + "curve 1 vertex 1 2 order 3\npolygon 1 xyz " + R + " " + R +
         " 0 weight " + kW + "\n" + "curve 2 vertex 1 4\n" + "curve 3 vertex 4 3 order 3\npolygon 1 xyz " + R +
         " " + R + " " + H + " weight " + kW + "\n" + "curve 4 vertex 2 3\n";
}
const surface_def kCylinder{1, {1, 2, 3, 4}, {false, false, false, false}, {1, 4, 3, 2}};

// ---------------------------------------------------------------------------
// Tests
// ---------------------------------------------------------------------------

TEST_F(SurfaceMeshTest, SquareWithFourEdgesPerSideClosesWithoutWarning) {
  mesh(mgn_square_model, {kSquare}, 2.5);
  mgn_surface* s = mgn_find_surface(1);
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(mgn_find_curve(k)->mesh.edge_count, 4) << "curve " << k;
  EXPECT_TRUE(s->mesh.discretized);
  EXPECT_GT(s->mesh.face_count, 0);
  EXPECT_EQ(mgn_warning_count, 0);
  for (mgn_node* n : nodes_of(s)) EXPECT_EQ(n->front_count, 0) << "node " << n->id;
  expect_conforming(s);
  expect_oriented(s);
  double total = 0.0;
  for (mgn_face* f : faces_of(s)) total += area(f);
  EXPECT_NEAR(total, 100.0, 1e-9);
  // Euler: a disc with V nodes and B boundary nodes has 2 V - B - 2 faces.
  const long v = static_cast<long>(nodes_of(s).size());
  EXPECT_EQ(s->mesh.face_count, 2 * v - 16 - 2);
  // The faces are in the global listing.
  EXPECT_EQ(mgn_run.trias.fe, s->mesh.face_count);
}

TEST_F(SurfaceMeshTest, FlatSquareQualityWithUniformSize) {
  mesh(mgn_square_model, {kSquare}, 0.5);
  mgn_surface* s = mgn_find_surface(1);
  double worst;
  const double mean = quality_mean(s, &worst);
  EXPECT_GE(mean, 0.93);
  EXPECT_GE(worst, 0.5);
  expect_conforming(s);
  expect_oriented(s);
  EXPECT_EQ(mgn_warning_count, 0);
}

struct curved_case {
  const char* name;
  bool sphere;
  double size;
  double area_tolerance;  // relative; the polyhedral area of a coarse mesh falls short
};

class CurvedSurfaceTest : public SurfaceMeshTest, public ::testing::WithParamInterface<curved_case> {};

TEST_P(CurvedSurfaceTest, NodesOnSurfaceAreaAndOrientation) {
  const curved_case& c = GetParam();
  const double R = 10.0, H = 15.0;
  sphere_radius = R;
  if (c.sphere)
    mesh(sphere_text(R), {kSphere}, c.size, exact_sphere);
  else
    mesh(cylinder_text(R, H), {kCylinder}, c.size);
  mgn_surface* s = mgn_find_surface(1);
  ASSERT_GT(s->mesh.face_count, 0);
  double worst_radius = 0.0;
  for (mgn_node* n : nodes_of(s)) {
    const double r = c.sphere ? std::sqrt(mgn_dot(n->xyz, n->xyz))
                              : std::sqrt(n->xyz[0] * n->xyz[0] + n->xyz[1] * n->xyz[1]);
    worst_radius = std::max(worst_radius, std::fabs(r - R));
    EXPECT_EQ(n->front_count, 0);
  }
  EXPECT_LT(worst_radius, 1e-9 * R);
  double total = 0.0, smallest = 1e300;
  for (mgn_face* f : faces_of(s)) {
    total += area(f);
    smallest = std::min(smallest, area(f));
  }
  const double exact = c.sphere ? kPi * R * R / 2.0 : kPi * R * H / 2.0;
  EXPECT_NEAR(total / exact, 1.0, c.area_tolerance);
  EXPECT_GT(smallest, 1e-3 * c.size * c.size);  // no zero-area triangle, also at the pole
  expect_conforming(s);
  expect_oriented(s);
  double worst;
  const double mean = quality_mean(s, &worst);
  if (c.sphere) {
    EXPECT_GE(mean, 0.90);
  }
  EXPECT_GT(worst, 0.3);
  EXPECT_EQ(mgn_warning_count, 0);
}

INSTANTIATE_TEST_SUITE_P(Surfaces, CurvedSurfaceTest,
                         ::testing::Values(curved_case{"SphereOctant", true, 1.0, 0.005},
                                           curved_case{"SphereOctantCoarse", true, 4.0, 0.05},
                                           curved_case{"QuarterCylinder", false, 1.0, 0.005},
                                           curved_case{"QuarterCylinderCoarse", false, 3.0, 0.05}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SurfaceMeshTest, TwoSurfacesSharingACurveConform) {
  const std::string text = mgn_square_model +
                           "vertex 5 xyz 20 0 0\nvertex 6 xyz 20 10 0\n"
                           "curve 5 vertex 2 5\ncurve 6 vertex 5 6\ncurve 7 vertex 3 6\n";
  const surface_def second{2, {5, 4, 7, 6}, {false, false, false, false}, {2, 3, 6, 5}};
  mesh(text, {kSquare, second}, 1.0);
  mgn_surface* s1 = mgn_find_surface(1);
  mgn_surface* s2 = mgn_find_surface(2);
  expect_conforming(s1);
  expect_conforming(s2);
  expect_oriented(s1);
  expect_oriented(s2);
  // The nodes of the shared curve are the same records in both meshes.
  std::set<mgn_node*> shared;
  const mgn_curve* c4 = mgn_find_curve(4);
  long k = 0;
  for (mgn_edge** e : mgn_listing_range<mgn_edge*>(c4->mesh.edges)) {
    if (k++ >= c4->mesh.edge_count) break;
    shared.insert((*e)->n[0]);
    shared.insert((*e)->n[1]);
  }
  const auto n1 = nodes_of(s1), n2 = nodes_of(s2);
  const std::set<mgn_node*> set1(n1.begin(), n1.end()), set2(n2.begin(), n2.end());
  for (mgn_node* n : shared) {
    EXPECT_TRUE(set1.count(n)) << "curve node " << n->id << " not in surface 1";
    EXPECT_TRUE(set2.count(n)) << "curve node " << n->id << " not in surface 2";
  }
  // No other node is common to both meshes.
  long common = 0;
  for (mgn_node* n : n1) common += set2.count(n);
  EXPECT_EQ(common, static_cast<long>(shared.size()));
  // The edges on the shared curve are used once in each surface.
  const auto u1 = edge_use(s1), u2 = edge_use(s2);
  k = 0;
  for (mgn_edge** e : mgn_listing_range<mgn_edge*>(c4->mesh.edges)) {
    if (k++ >= c4->mesh.edge_count) break;
    mgn_node* a = (*e)->n[0];
    mgn_node* b = (*e)->n[1];
    const auto key = a < b ? std::make_pair(a, b) : std::make_pair(b, a);
    EXPECT_EQ(u1.at(key), 1);
    EXPECT_EQ(u2.at(key), 1);
  }
  EXPECT_EQ(mgn_run.trias.fe, s1->mesh.face_count + s2->mesh.face_count);
}

TEST_F(SurfaceMeshTest, SurfaceDataOfBoundaryNodes) {
  // The parameters of the curve nodes follow the sides and their reversal.
  mgn_set.uniform_size = mgn_set.default_size = 2.5;
  mgn_read_model_text(mgn_square_model + "curve 5 vertex 3 4\n");
  // Side 2 (v = 1) on curve 5, which runs from (10, 10) to (0, 10): reversed.
  const surface_def d{1, {1, 2, 5, 4}, {false, false, true, false}, {1, 4, 3, 2}};
  mgn_surface* s = add_surface(d);
  mgn_build_octree();
  mgn_discretize_model();
  ASSERT_TRUE(s->mesh.discretized);
  expect_conforming(s);
  expect_oriented(s);
}

TEST_F(SurfaceMeshTest, CurveAndVertexInsideTheSurfaceAreMeshedIn) {
  // Curve 9 on the line v = 0.5 of the square and vertex 11 alone at
  // (5, 2): both become part of the mesh, the curve with faces on both sides.
  mgn_set.uniform_size = mgn_set.default_size = 1.0;
  mgn_read_on_square(
      "vertex 9 fixed surface 1 uv 0.2 0.5\nvertex 10 fixed surface 1 uv 0.8 0.5\n"
      "vertex 11 fixed surface 1 uv 0.5 0.2 output yes\n"
      "curve 9 vertex 9 10 fixed surface 1\n");
  mgn_build_octree();
  mgn_surface* s = mgn_find_surface(1);
  refine_surface(s, 1.0);
  mgn_discretize_model();
  expect_conforming(s);
  expect_oriented(s);
  const auto use = edge_use(s);
  const mgn_curve* c9 = mgn_find_curve(9);
  ASSERT_GT(c9->mesh.edge_count, 0);
  long k = 0;
  for (mgn_edge** e : mgn_listing_range<mgn_edge*>(c9->mesh.edges)) {
    if (k++ >= c9->mesh.edge_count) break;
    mgn_node* a = (*e)->n[0];
    mgn_node* b = (*e)->n[1];
    EXPECT_EQ(use.at(a < b ? std::make_pair(a, b) : std::make_pair(b, a)), 2);
  }
  mgn_node* lone = mgn_find_vertex(11)->mesh.node;
  ASSERT_NE(lone, nullptr);
  const auto nodes = nodes_of(s);
  EXPECT_NE(std::find(nodes.begin(), nodes.end(), lone), nodes.end());
  EXPECT_EQ(lone->front_count, 0);
  double total = 0.0;
  for (mgn_face* f : faces_of(s)) total += area(f);
  EXPECT_NEAR(total, 100.0, 1e-9);
}

// A channel whose bottom turns by more than 120 degrees over one edge.
TEST_F(SurfaceMeshTest, TooCoarseMeshOnATurningChannel) {
  const std::string text =
      "vertex 1 xyz 1 0 0\nvertex 2 xyz -1 0 0\nvertex 3 xyz -1 0 1\nvertex 4 xyz 1 0 1\n"
      "curve 1 vertex 1 2 order 3 count 1\npolygon 1 xyz 0 2 0\n"
      "curve 2 vertex 1 4 count 1\n"
      "curve 3 vertex 4 3 order 3 count 1\npolygon 1 xyz 0 2 1\n"
      "curve 4 vertex 2 3 count 1\n";
  // A fresh process runs the test up to the error: the records of the
  // earlier tests (octree node lists dropped with their octree) are not its
  // own, so a leak check at its exit finds nothing.
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(mesh(text, {kCylinder}, 2.0), ::testing::ExitedWithCode(10),
              "Too coarse mesh required on surface 1 at x = -?[0-9.]+, y = -?[0-9.]+, z = -?[0-9.]+\n");
  GTEST_FLAG_SET(death_test_style, style);
}

// Records in the record arrays of a listing chain.
long chain_capacity(mgn_listing* listing) {
  long capacity = 0;
  for (mgn_listing* b = mgn_get_first_listing_block(listing); b != nullptr; b = b->next)
    capacity += static_cast<long>(b->capacity);
  return capacity;
}

// Surface data and side slots go back to the scratch as nodes leave the
// front and edges close, so the scratch listings (here in blocks of 10
// records) grow to the size of the front, not of the mesh.  The swaps of a
// curved surface read the data of nodes that left the front again.
TEST_F(SurfaceMeshTest, SurfaceScratchFollowsTheFrontNotTheMesh) {
  // Fresh scratch listings, created by the driver with the listing size.
  mgn_empty_surface_scratch();
  if (mgn_surface_work.data != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(mgn_surface_work.data));
  mgn_surface_work.data = nullptr;
  mgn_set.listing_size = 10;
  sphere_radius = 10.0;
  mesh(sphere_text(10.0), {kSphere}, 0.25, exact_sphere);
  mgn_surface* s = mgn_find_surface(1);
  expect_conforming(s);
  expect_oriented(s);
  EXPECT_EQ(mgn_warning_count, 0);
  EXPECT_LT(chain_capacity(mgn_surface_work.data), s->mesh.node_count / 4);
}

// The triangle section of the printed quality report (default quality
// report type): the count, the three classes, the means and the worst.
struct tria_report {
  long trias = 0, good = 0, fair = 0, poor = 0;
  double mean = 0.0, harmonic = 0.0, worst = 0.0;
};

bool read_tria_report(const std::string& out, tria_report& t) {
  const std::regex section(
      "\\nNumber of trias: +([0-9]+) \\(FE\\) .*\\n\\n"
      "Trias quality:    ([ 0-9]{6}) : \\(1\\.000 - 0\\.866\\) ([ 0-9]{3}\\.[0-9]{2}) %\\n"
      " {18}([ 0-9]{6}) : \\(0\\.866 - 0\\.577\\) [ 0-9]{3}\\.[0-9]{2} %\\n"
      " {18}([ 0-9]{6}) : \\(0\\.577 - 0\\.000\\) [ 0-9]{3}\\.[0-9]{2} %\\n"
      " {17}([01]\\.[0-9]{5}) - arithmetic mean quality\\n"
      " {17}([01]\\.[0-9]{5}) - harmonic mean quality\\n"
      " {17}([01]\\.[0-9]{5}) - worst tria quality\\n\\n"
      "Real time consumed");
  std::smatch m;
  if (!std::regex_search(out, m, section)) return false;
  t.trias = std::stol(m[1]);
  t.good = std::stol(m[2]);
  t.fair = std::stol(m[4]);
  t.poor = std::stol(m[5]);
  t.mean = std::stod(m[6]);
  t.harmonic = std::stod(m[7]);
  t.worst = std::stod(m[8]);
  return true;
}

// The model files through the program: every surface meshes with a
// closed front and no warning, and the printed triangle quality report
// shows the quality the mesher must reach: no triangle in the third class,
// an arithmetic mean of at least 0.93 on flat squares and 0.90 on curved
// surfaces, and a worst quality of at least 0.5.
struct program_case {
  const char* model;
  const char* size;
  double min_mean;
};

class SurfaceProgramTest : public ::testing::TestWithParam<program_case> {};

TEST_P(SurfaceProgramTest, MeshesWithoutWarning) {
  const program_case& c = GetParam();
  const mgn_run_result r =
      mgn_run_program({"-i", std::string(MGN_TEST_MODELS) + "/" + c.model + ".mgn", "-u", c.size, "-o", "out.msh"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("Warning"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("Surfaces discretized"), std::string::npos);
  tria_report t;
  ASSERT_TRUE(read_tria_report(r.out, t)) << r.out;
  EXPECT_EQ(t.good + t.fair + t.poor, t.trias);
  EXPECT_EQ(t.poor, 0) << "triangles below 0.577";
  EXPECT_GE(t.mean, c.min_mean);
  EXPECT_GE(t.mean, t.harmonic);
  EXPECT_GE(t.worst, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Models, SurfaceProgramTest,
                         ::testing::Values(program_case{"square", "2.5", 0.93}, program_case{"square", "0.3", 0.93},
                                           program_case{"two_squares", "0.7", 0.93},
                                           program_case{"sphere_octant", "0.7", 0.90},
                                           program_case{"sphere_octant", "0.1", 0.90},
                                           program_case{"quarter_cylinder", "0.2", 0.90}),
                         [](const auto& info) {
                           std::string name = std::string(info.param.model) + "_" + info.param.size;
                           for (char& ch : name)
                             if (ch == '.') ch = '_';
                           return name;
                         });

// The surfaces of the torus (sixteen rational patches, two of each kind of
// curvature: outer, inner saddle-shaped): in each patch the rows grown from
// its long side shorten and those from its short side stretch, and where
// they meet a node put into the narrow gap left a fan of four triangles
// (worst quality 0.66 to 0.77 with smoothing).  The sizes here put such
// gaps on outer and inner patches; every triangle must reach 0.8.
class TorusSurfaceQualityTest : public ::testing::TestWithParam<const char*> {};

TEST_P(TorusSurfaceQualityTest, WorstTriangleReachesPointEight) {
  std::string model;
  std::istringstream in(mgn_read_file(std::string(MGN_TEST_MODELS) + "/torus.mgn"));
  for (std::string line; std::getline(in, line);)
    if (line.rfind("region", 0) != 0) model += line + "\n";
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/torus_surfaces.mgn", model);
  const mgn_run_result r = mgn_run_program({"-i", dir + "/torus_surfaces.mgn", "-u", GetParam(), "-o", "out.msh"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  tria_report t;
  ASSERT_TRUE(read_tria_report(r.out, t)) << r.out;
  EXPECT_GE(t.worst, 0.8);
  EXPECT_GE(t.mean, 0.985);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TorusSurfaceQualityTest, ::testing::Values("0.1", "0.06", "0.045"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& ch : name)
                             if (ch == '.') ch = '_';
                           return name;
                         });

// With a curvature rate c and no mesh size (a size factor of 0 drops every
// size), the sizes follow the curvature: on a sphere octant and a quarter
// cylinder of radius R every triangle edge is at most K x c x R long (K the
// chord ratio of the octree sampling) and, the octree halving sizes at
// most, not much shorter than a quarter of c x R.
struct rate_case {
  const char* model;
  const char* rate;
};

class CurvatureRateProgramTest : public ::testing::TestWithParam<rate_case> {};

TEST_P(CurvatureRateProgramTest, EdgesFollowTheRadiusOfCurvature) {
  const rate_case& c = GetParam();
  const std::string dir = mgn_temp_dir();
  const mgn_run_result r = mgn_run_program(
      {"-i", std::string(MGN_TEST_MODELS) + "/" + c.model + ".mgn", "-v", "0", "-c", c.rate, "-o", "out.msh"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("Warning"), std::string::npos) << r.err;
  const written_mesh m = read_written_mesh(mgn_read_file(dir + "/out.msh"));
  ASSERT_GT(m.trias.size(), 0u);
  const double radius = 2.0, wanted = std::stod(c.rate) * radius;
  double longest = 0.0, shortest = 1e300;
  for (const std::vector<long>& t : m.trias) {
    for (int i = 0; i < 3; ++i) {
      const double* a = m.nodes.at(t[i]).data();
      const double* b = m.nodes.at(t[(i + 1) % 3]).data();
      const double d = std::sqrt(mgn_get_point_square_distance(a, b));
      longest = std::max(longest, d);
      shortest = std::min(shortest, d);
    }
  }
  EXPECT_LE(longest, MGN_CHORD_RATIO * wanted);
  EXPECT_GE(shortest, 0.25 * wanted);
}

INSTANTIATE_TEST_SUITE_P(Models, CurvatureRateProgramTest,
                         ::testing::Values(rate_case{"sphere_octant", "1"}, rate_case{"sphere_octant", "0.3"},
                                           rate_case{"sphere_octant", "0.05"}, rate_case{"quarter_cylinder", "0.1"}),
                         [](const auto& info) {
                           std::string name = std::string(info.param.model) + "_" + info.param.rate;
                           for (char& ch : name)
                             if (ch == '.') ch = '_';
                           return name;
                         });

// Curves meshed by a few edges each (keyword COUNT) around a curved surface
// meshed with a finer size: the long boundary edges are chords that lie
// well inside the surface, so the apex of a flat first triangle projects
// onto the surface farther from the base than twice its height.  The
// surface still gets a closed, conforming mesh on the surface, every
// triangle turned like Su x Sv (outward on both models).  Where one edge
// spans a whole side, so many front edges lie near the base that the
// buffer of the intersection check grows, with its warning once.
struct coarse_case {
  const char* model;
  int count;
  const char* size;
  const char* err;  // standard error
};

class CoarseCurvesProgramTest : public ::testing::TestWithParam<coarse_case> {};

TEST_P(CoarseCurvesProgramTest, CurvedSurfaceMeshesInsideChordsOfItsCurves) {
  const coarse_case& c = GetParam();
  const std::string dir = mgn_temp_dir();
  const std::string text = mgn_read_file(std::string(MGN_TEST_MODELS) + "/" + c.model + ".mgn");
  const std::string counted = std::regex_replace(text, std::regex("(\n?curve [0-9]+ vertex [0-9]+ [0-9]+)"),
                                                 "$1 count " + std::to_string(c.count));
  ASSERT_NE(counted, text);
  mgn_write_file(dir + "/model.mgn", counted);
  const mgn_run_result r = mgn_run_program({"-i", "model.mgn", "-u", c.size, "-o", "out.msh"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, c.err);
  const written_mesh m = read_written_mesh(mgn_read_file(dir + "/out.msh"));
  ASSERT_GT(m.trias.size(), 0u);
  const bool sphere = std::string(c.model) == "sphere_octant";
  // Every curve is meshed by its count of edges (the collapsed pole side of
  // the octant by none).
  EXPECT_EQ(static_cast<long>(m.edges.size()), (sphere ? 3 : 4) * c.count);
  for (const auto& [id, p] : m.nodes) {
    const double r2 = p[0] * p[0] + p[1] * p[1] + (sphere ? p[2] * p[2] : 0.0);
    EXPECT_NEAR(std::sqrt(r2), 2.0, 1e-6) << "node " << id;
  }
  std::map<std::pair<long, long>, int> use;
  auto key = [](long a, long b) { return a < b ? std::make_pair(a, b) : std::make_pair(b, a); };
  long turned = 0;
  for (const std::vector<long>& t : m.trias) {
    const double* p[3] = {m.nodes.at(t[0]).data(), m.nodes.at(t[1]).data(), m.nodes.at(t[2]).data()};
    double u[3], v[3], n[3], outward[3];
    mgn_sub(p[1], p[0], u);
    mgn_sub(p[2], p[0], v);
    mgn_cross(u, v, n);
    for (int k = 0; k < 3; ++k) outward[k] = p[0][k] + p[1][k] + p[2][k];
    if (!sphere) outward[2] = 0.0;
    if (!(mgn_dot(n, outward) > 0.0)) ++turned;
    for (int i = 0; i < 3; ++i) ++use[key(t[i], t[(i + 1) % 3])];
  }
  EXPECT_EQ(turned, 0);
  std::set<std::pair<long, long>> boundary;
  for (const std::vector<long>& e : m.edges) boundary.insert(key(e[0], e[1]));
  long bad = 0;
  for (const auto& [pair, count] : use) bad += count != (boundary.count(pair) ? 1 : 2);
  EXPECT_EQ(bad, 0) << "mesh edges used a wrong number of times";
  for (const auto& pair : boundary) EXPECT_EQ(use.count(pair), 1u) << "curve edge without a triangle";
}

INSTANTIATE_TEST_SUITE_P(Models, CoarseCurvesProgramTest,
                         ::testing::Values(coarse_case{"quarter_cylinder", 1, "0.6", ""},
                                           coarse_case{"quarter_cylinder", 3, "0.3", ""},
                                           coarse_case{"sphere_octant", 2, "0.3", ""},
                                           coarse_case{"sphere_octant", 3, "0.1", ""},
                                           coarse_case{"quarter_cylinder", 1, "0.1",
                                                       "Warning: Too many edges in the neighbourhood\n"
                                                       "Altogether 1 warning has been generated\n\n"}),
                         [](const auto& info) {
                           std::string name = std::string(info.param.model) + "_count_" +
                                              std::to_string(info.param.count) + "_size_" + info.param.size;
                           for (char& ch : name)
                             if (ch == '.') ch = '_';
                           return name;
                         });

// Surfaces fixed to the square, side by side and sharing a curve: the square
// meshes around a physical or hole child, through a virtual one; a physical
// child meshes its own rectangle.  The triangles of each surface cover its
// area exactly, all turn counterclockwise seen from +z, and the mesh is
// conforming: the only edges used by one triangle are those on the border of
// the meshed area.
struct children_case {
  const char* name;
  const char* second;  // options added to surfaces 2 and 3
  const char* third;
  double area[3];      // meshed area of surfaces 1, 2 and 3
  long border_edges;   // at size 1: the outer border and the border of the holes
};

class ChildSurfaceProgramTest : public ::testing::TestWithParam<children_case> {};

TEST_P(ChildSurfaceProgramTest, SquareMeshesAroundOrThroughItsChildren) {
  const children_case& c = GetParam();
  const std::string dir = mgn_temp_dir();
  std::string text = mgn_read_file(std::string(MGN_TEST_MODELS) + "/square_two_children.mgn");
  for (const auto& [line, options] : {std::make_pair("fixed surface 1\nsurface 3", c.second),
                                      std::make_pair("fixed surface 1\n", c.third)}) {
    const std::size_t at = text.rfind(line);
    ASSERT_NE(at, std::string::npos);
    text.insert(at + std::string("fixed surface 1").size(), std::string(" ") + options);
  }
  mgn_write_file(dir + "/model.mgn", text);
  const mgn_run_result r = mgn_run_program({"-i", "model.mgn", "-u", "1", "-o", "out.msh"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("Warning"), std::string::npos) << r.err;
  const written_mesh m = read_written_mesh(mgn_read_file(dir + "/out.msh"));
  double area[3] = {0.0, 0.0, 0.0};
  long turned = 0;
  std::map<std::pair<long, long>, int> use;
  for (std::size_t k = 0; k < m.trias.size(); ++k) {
    const std::vector<long>& t = m.trias[k];
    const double* p[3] = {m.nodes.at(t[0]).data(), m.nodes.at(t[1]).data(), m.nodes.at(t[2]).data()};
    const double a = 0.5 * ((p[1][0] - p[0][0]) * (p[2][1] - p[0][1]) - (p[1][1] - p[0][1]) * (p[2][0] - p[0][0]));
    if (!(a > 0.0)) ++turned;
    const long entity = m.tria_entities[k];
    ASSERT_TRUE(entity >= 1 && entity <= 3) << entity;
    area[entity - 1] += a;
    for (int i = 0; i < 3; ++i) ++use[std::minmax(t[i], t[(i + 1) % 3])];
  }
  EXPECT_EQ(turned, 0);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(area[k], c.area[k], 1e-9) << "surface " << k + 1;
  long once = 0, other = 0;
  for (const auto& [pair, count] : use) {
    once += count == 1;
    other += count != 1 && count != 2;
  }
  EXPECT_EQ(once, c.border_edges);
  EXPECT_EQ(other, 0);
}

INSTANTIATE_TEST_SUITE_P(Models, ChildSurfaceProgramTest,
                         ::testing::Values(children_case{"Physical", "", "", {84.0, 8.0, 8.0}, 40},
                                           children_case{"PhysicalAndHole", "", "hole", {84.0, 8.0, 0.0}, 52},
                                           children_case{"Holes", "hole", "hole", {84.0, 0.0, 0.0}, 56},
                                           children_case{"VirtualAndPhysical", "virtual", "", {92.0, 0.0, 8.0}, 40},
                                           children_case{"VirtualAndHole", "virtual", "hole", {92.0, 0.0, 0.0}, 52},
                                           children_case{"Virtual", "virtual", "virtual", {100.0, 0.0, 0.0}, 40}),
                         [](const auto& info) { return std::string(info.param.name); });

// The fatal errors of the triangulation that small models reach: the run
// ends with status 10, the report ends with the message, and the mesh file
// named by -o holds the mesh made so far (the curves, and the triangles of
// the surface when the front had started) with consistent numbers.  The
// square cases add a vertex lying on the square, output on its own, to
// square.mgn.
struct fatal_case {
  const char* name;
  const char* model;  // a model file, or "square" with the extra line
  const char* extra;
  const char* size;
  const char* message;  // a regular expression
  long curve_edges;
  bool faces;  // triangles were made before the error
};

class SurfaceFatalProgramTest : public ::testing::TestWithParam<fatal_case> {};

TEST_P(SurfaceFatalProgramTest, ReportEndsWithTheMessageAndThePartialMeshIsWritten) {
  const fatal_case& c = GetParam();
  const std::string dir = mgn_temp_dir();
  const std::string models = MGN_TEST_MODELS;
  std::string model = models + "/" + c.model + ".mgn";
  if (*c.extra != '\0') {
    model = dir + "/model.mgn";
    mgn_write_file(model, mgn_read_file(models + "/" + c.model + ".mgn") + c.extra);
  }
  const mgn_run_result r = mgn_run_program({"-i", model, "-u", c.size, "-o", "part.msh"}, dir);
  EXPECT_EQ(r.status, 10) << r.err;
  EXPECT_TRUE(std::regex_search(r.err, std::regex("--> Manipulation error\n\\(routine mgn_[a-z_]+, file src/discret2, "
                                                  "line [0-9]+\\)\n" + std::string(c.message) + "\n\n$")))
      << r.err;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\nTmp output data printed  [0-9:]{8}\nProgram terminated       "
                                                  "[0-9:]{8}\n\n$")))
      << r.out;
  const written_mesh m = read_written_mesh(mgn_read_file(dir + "/part.msh"));
  EXPECT_EQ(static_cast<long>(m.nodes.size()), m.counts[0]);
  EXPECT_EQ(static_cast<long>(m.edges.size()), c.curve_edges);
  EXPECT_EQ(static_cast<long>(m.trias.size()), m.counts[2]);
  EXPECT_EQ(m.trias.empty(), !c.faces);
  // Nodes numbered 1 to n, every element on written nodes.
  long expected_id = 1;
  for (const auto& [id, xyz] : m.nodes) EXPECT_EQ(id, expected_id++);
  for (const auto* elements : {&m.edges, &m.trias})
    for (const std::vector<long>& e : *elements)
      for (long n : e) EXPECT_EQ(m.nodes.count(n), 1u) << "element on node " << n;
}

// A size far above the surface: every ideal point lies far outside and is
// clipped back onto the surface, by a walk that must reach the boundary
// however many steps it takes, and that may end on a collapsed side.  The
// flat square is covered exactly with every triangle turned to +z; every
// triangle of the octant faces outward.
struct far_coarse_case {
  const char* model;
  std::vector<std::string> options;
  bool flat_square;  // else the octant around the origin
};

class SurfaceFarCoarseSizeProgramTest : public ::testing::TestWithParam<far_coarse_case> {};

TEST_P(SurfaceFarCoarseSizeProgramTest, SurfaceMeshesWhenEveryIdealPointIsFarOutside) {
  const far_coarse_case& c = GetParam();
  const std::string dir = mgn_temp_dir();
  std::vector<std::string> args = {"-i", std::string(MGN_TEST_MODELS) + "/" + c.model + ".mgn", "-o", "mesh.msh"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const mgn_run_result r = mgn_run_program(args, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const written_mesh m = read_written_mesh(mgn_read_file(dir + "/mesh.msh"));
  ASSERT_FALSE(m.trias.empty());
  double area = 0.0;
  for (const std::vector<long>& t : m.trias) {
    const std::vector<double>& a = m.nodes.at(t[0]);
    const std::vector<double>& b = m.nodes.at(t[1]);
    const std::vector<double>& d = m.nodes.at(t[2]);
    const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double v[3] = {d[0] - a[0], d[1] - a[1], d[2] - a[2]};
    const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    if (c.flat_square) {
      EXPECT_GT(n[2], 0.0) << "triangle turned against +z";
      area += 0.5 * n[2];
    } else {
      EXPECT_GT(n[0] * (a[0] + b[0] + d[0]) + n[1] * (a[1] + b[1] + d[1]) + n[2] * (a[2] + b[2] + d[2]), 0.0)
          << "triangle turned inward";
    }
  }
  if (c.flat_square) {
    EXPECT_NEAR(area, 1e-4, 1e-12);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, SurfaceFarCoarseSizeProgramTest,
    ::testing::Values(far_coarse_case{"small_square_high_order_sides", {"-v", "0", "-R", "1"}, true},
                      far_coarse_case{"small_square_high_order_sides", {"-v", "0", "-R", "5"}, true},
                      far_coarse_case{"blended_octant", {"-v", "0", "-c", "0", "-R", "10.5"}, false}),
    [](const auto& info) {
      return std::string(info.param.model) + "_" + std::to_string(info.index);
    });

// Boundary nodes are too close to each other when they lie nearer than the
// working user epsilon: the value of option -e, capped at 1e-5.  A vertex
// 1.4e-6 from a corner of the square is too close unless -e is below that.
TEST(SurfaceClosenessProgramTest, UserEpsilonDecidesWhetherBoundaryNodesAreTooClose) {
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/model.mgn", mgn_read_file(std::string(MGN_TEST_MODELS) + "/square.mgn") +
                                         "vertex 9 fixed surface 1 uv 0.9999999 0.9999999 output yes\n");
  struct epsilon_case {
    std::vector<std::string> option;
    int status;
  };
  const epsilon_case cases[] = {{{}, 10}, {{"-e", "1"}, 10}, {{"-e", "2e-5"}, 10}, {{"-e", "1e-6"}, 0}};
  for (const epsilon_case& c : cases) {
    std::vector<std::string> args = {"-i", "model.mgn", "-u", "0.5"};
    args.insert(args.end(), c.option.begin(), c.option.end());
    const mgn_run_result r = mgn_run_program(args, dir);
    EXPECT_EQ(r.status, c.status) << (c.option.empty() ? "default" : c.option[1]) << "\n" << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, SurfaceFatalProgramTest,
    ::testing::Values(
        fatal_case{"TooCoarseMesh", "turning_channel", "", "2",
                   "Too coarse mesh required on surface 1 at x = 0\\.000000, y = 0\\.000000, z = 1\\.000000", 4, true},
        fatal_case{"NodeOnActiveEdge", "square", "vertex 9 fixed surface 1 uv 0.51 1e-15 output yes\n", "0.5",
                   "Node [0-9]+ and active edge [0-9]+ on surface 1 are too close to each other \\(temporary node and "
                   "edge numbers\\)",
                   80, true},
        fatal_case{"VerticesTooClose", "square", "vertex 9 fixed surface 1 uv 0.9999999 0.9999999 output yes\n", "0.5",
                   "Vertices 9 and 3 on surface 1 are too close to each other", 80, true},
        fatal_case{"VertexAndCurveTooClose", "square", "vertex 9 fixed surface 1 uv 0.55 0.9999999 output yes\n",
                   "0.5", "Vertex 9 and curve 3 on surface 1 are too close to each other", 80, true},
        fatal_case{"CurvesTooClose", "narrow_waist_square", "", "0.5",
                   "Curves 3 and 1 on surface 1 are too close to each other", 106, true},
        fatal_case{"NoNormalAlongASide", "cusp_side_surface", "", "1",
                   "Intersection check failure \\(poor parameterization of surface 1\\)", 43, true}),
    [](const auto& info) { return std::string(info.param.name); });


// ---------------------------------------------------------------------------
// Quad meshes
// ---------------------------------------------------------------------------

// The nodes and face elements of a mesh file of mesh type 7 (counts of
// nodes, edges, triangles, quads, ...), with the entity of each element.
struct mixed_mesh {
  long counts[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  std::map<long, std::vector<double>> nodes;
  std::vector<std::vector<long>> edges, trias, quads;
};

mixed_mesh read_mixed_mesh(const std::string& text) {
  mixed_mesh m;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  std::getline(in, line);
  std::istringstream counts(line);
  for (long& c : m.counts) counts >> c;
  auto records = [&](long count, int fields, std::vector<std::vector<long>>* out) {
    while (count > 0 && std::getline(in, line)) {
      std::istringstream row(line);
      long id;
      if (!(row >> id)) continue;  // the empty line before a section
      if (out == nullptr) {
        std::vector<double> xyz(3);
        for (double& x : xyz) row >> x;
        m.nodes[id] = xyz;
      } else {
        std::vector<long> nodes(fields);
        for (long& x : nodes) row >> x;
        out->push_back(nodes);
      }
      --count;
    }
  };
  records(m.counts[0], 3, nullptr);
  records(m.counts[1], 2, &m.edges);
  records(m.counts[2], 3, &m.trias);
  records(m.counts[3], 4, &m.quads);
  return m;
}

// A quad mesh of one surface: the model with QUAD on its surface line, the
// size, the most triangles the boundary leaves (0 when its number of edges
// is even), the least mean quad quality printed, the surface as a
// residual of its implicit equation with the outward direction of Su x Sv
// at a point, and its area (with the relative tolerance of a polygonal
// cover).
struct quad_case {
  const char* name;
  const char* model;
  const char* curve1;  // further options of curve 1
  const char* size;    // "" for the sizes of the model
  long max_trias;
  double min_mean;
  int shape;          // 0 plane z = 0 (+z), 1 cylinder x^2 + y^2 = 4 (outward), 2 sphere of radius 2 (outward)
  double area;
  double area_tolerance;
};

class QuadProgramTest : public ::testing::TestWithParam<quad_case> {};

TEST_P(QuadProgramTest, ConformingConvexOrientedOnTheSurface) {
  const quad_case& c = GetParam();
  const std::string dir = mgn_temp_dir();
  std::string text = mgn_read_file(std::string(MGN_TEST_MODELS) + "/" + c.model + ".mgn");
  // QUAD on the surface line (the graded plate carries it already).
  if (text.find(" quad") == std::string::npos)
    text = std::regex_replace(text, std::regex("(\nsurface 1 curve [0-9 ]+[0-9])"), "$1 quad");
  text = std::regex_replace(text, std::regex("(\ncurve 1 vertex [0-9]+ [0-9]+)"), std::string("$1") + c.curve1);
  mgn_write_file(dir + "/model.mgn", text);
  std::vector<std::string> args = {"-i", dir + "/model.mgn", "-o", "out.msh", "-q", "5"};
  if (*c.size != '\0') args.insert(args.end(), {"-u", c.size});
  const mgn_run_result r = mgn_run_program(args, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("Warning"), std::string::npos) << r.err;
  const mixed_mesh m = read_mixed_mesh(mgn_read_file(dir + "/out.msh"));
  ASSERT_GT(m.quads.size(), 0u);
  EXPECT_LE(static_cast<long>(m.trias.size()), c.max_trias);
  // The printed report: the mean quad quality, and no interior node held
  // by two quads only.
  std::smatch q;
  ASSERT_TRUE(std::regex_search(r.out, q, std::regex(" {17}([01]\\.[0-9]{5}) - arithmetic mean quality\n"
                                                     " {17}[01]\\.[0-9]{5} - harmonic mean quality\n"
                                                     " {17}[0-9.e-]+ - worst quad quality")))
      << r.out;
  EXPECT_GE(std::stod(q[1]), c.min_mean);
  EXPECT_NE(r.out.find("Quads valency:         0 : (    0 -     2)"), std::string::npos) << r.out;

  auto at = [&](long id) { return m.nodes.at(id).data(); };
  auto outward = [&](const double* p, double* n) {
    if (c.shape == 0) {
      n[0] = n[1] = 0.0;
      n[2] = 1.0;
    } else {
      n[0] = p[0];
      n[1] = p[1];
      n[2] = c.shape == 2 ? p[2] : 0.0;
    }
  };
  // Every node on the surface.
  for (const auto& [id, p] : m.nodes) {
    const double residual = c.shape == 0   ? p[2]
                            : c.shape == 1 ? std::hypot(p[0], p[1]) - 2.0
                                           : std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]) - 2.0;
    EXPECT_NEAR(residual, 0.0, 1e-6) << "node " << id;
  }
  // Every element turns counterclockwise about Su x Sv at each corner (a
  // quad is convex), and the elements cover the area.
  double total = 0.0;
  std::map<std::pair<long, long>, int> use;
  for (const auto* elements : {&m.trias, &m.quads}) {
    for (const std::vector<long>& e : *elements) {
      const std::size_t k = e.size();
      for (std::size_t i = 0; i < k; ++i) {
        const double* prev = at(e[(i + k - 1) % k]);
        const double* p = at(e[i]);
        const double* next = at(e[(i + 1) % k]);
        double u[3], v[3], w[3], n[3];
        mgn_sub(p, prev, u);
        mgn_sub(next, p, v);
        mgn_cross(u, v, w);
        outward(p, n);
        EXPECT_GT(mgn_dot(w, n), 0.0) << "element corner at node " << e[i];
        const long a = e[i], b = e[(i + 1) % k];
        ++use[{std::min(a, b), std::max(a, b)}];
      }
      for (std::size_t i = 1; i + 1 < k; ++i) {
        double u[3], v[3], w[3];
        mgn_sub(at(e[i]), at(e[0]), u);
        mgn_sub(at(e[i + 1]), at(e[0]), v);
        mgn_cross(u, v, w);
        total += 0.5 * std::sqrt(mgn_dot(w, w));
      }
    }
  }
  EXPECT_NEAR(total, c.area, c.area_tolerance * c.area);
  // Conforming: the boundary (the curve edges) once, every other edge twice.
  std::set<std::pair<long, long>> boundary;
  for (const std::vector<long>& e : m.edges) boundary.insert({std::min(e[0], e[1]), std::max(e[0], e[1])});
  for (const auto& [edge, count] : use)
    EXPECT_EQ(count, boundary.count(edge) != 0 ? 1 : 2) << "edge " << edge.first << "-" << edge.second;
  for (const auto& edge : boundary) EXPECT_EQ(use.count(edge), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Models, QuadProgramTest,
    ::testing::Values(quad_case{"SquareEven", "square", "", "1", 0, 0.99, 0, 100.0, 1e-9},
                      quad_case{"SquareFine", "square", "", "0.37", 0, 0.99, 0, 100.0, 1e-9},
                      quad_case{"SquareOddBoundary", "square", " count 9", "1", 1, 0.85, 0, 100.0, 1e-9},
                      quad_case{"SquareUnequalSides", "square", " count 6", "1", 0, 0.85, 0, 100.0, 1e-9},
                      // A large even square stays a regular grid.
                      quad_case{"SquareGrid", "square", "", "0.1", 0, 0.99, 0, 100.0, 1e-9},
                      // Boundary spacing a little off the size: the lone
                      // triangles the front leaves meet only around quads
                      // they cannot pass straight through.
                      quad_case{"SquareSpacingOffSize", "square", "", "0.3", 0, 0.99, 0, 100.0, 1e-9},
                      quad_case{"GradedPlate", "graded_plate", "", "", 0, 0.85, 0, 4000.0, 1e-9},
                      // Fronts that once grew long sides and tangled.
                      quad_case{"GradedPlateOdd", "graded_plate_odd", "", "", 3, 0.85, 0, 4000.0, 1e-9},
                      quad_case{"QuarterCylinder", "quarter_cylinder", "", "0.2", 0, 0.9, 1, 3.0 * kPi, 2e-3},
                      quad_case{"SphereOctant", "sphere_octant", "", "0.1", 1, 0.85, 2, 2.0 * kPi, 5e-3},
                      // Fine enough that a smoothing pass folds quads: they
                      // are cut and paired again, none reaches the report.
                      quad_case{"SphereOctantFine", "sphere_octant", "", "0.02", 8, 0.85, 2, 2.0 * kPi, 5e-3},
                      quad_case{"SphereOctantGrownSides", "sphere_octant", "", "0.0249878", 5, 0.85, 2, 2.0 * kPi, 5e-3},
                      // Fronts starting from edges several sizes long: a
                      // slave side of two edges, holes whose sizes jump
                      // (the second patch of that model is all triangles).
                      quad_case{"SquareLongSlaveSide", "square_long_slave_side", "", "7.55", 8, 0.85, 0, 10000.0, 1e-9},
                      quad_case{"PatchSmallHoles", "quad_patch_small_holes", "", "4.08333333", 480, 0.6, 0, 2849.15949, 1e-3},
                      // A triangle with a collapsed side: the parameters
                      // fan out from one corner, and a triangle turning the
                      // right way in them once folded over its neighbour
                      // in space.
                      quad_case{"CollapsedSideTriangle", "collapsed_side_triangle", "", "", 1, 0.7, 0, 0.5, 1e-9},
                      quad_case{"CollapsedSideRows", "collapsed_side_rows", "", "", 2, 0.75, 0, 50.0, 1e-9}),
    [](const auto& info) { return std::string(info.param.name); });


// A side point of a quad that the surface folds away from ends the run with
// the quad front's message; the halves made so far are written.
TEST(QuadFatalProgramTest, FoldedSurfaceEndsWithTheLeftFaceMessageAndThePartialMesh) {
  const std::string dir = mgn_temp_dir();
  std::string text = mgn_read_file(std::string(MGN_TEST_MODELS) + "/folded_surface.mgn");
  text = std::regex_replace(text, std::regex("(\nsurface 1 curve [0-9 ]+[0-9])"), "$1 quad");
  mgn_write_file(dir + "/model.mgn", text);
  const mgn_run_result r = mgn_run_program({"-i", dir + "/model.mgn", "-u", "1", "-o", "part.msh"}, dir);
  EXPECT_EQ(r.status, 10) << r.err;
  EXPECT_TRUE(std::regex_search(r.err, std::regex("--> Manipulation error\n\\(routine mgn_generate_quad, file src/discret2, "
                                                  "line [0-9]+\\)\nCreation of left face of ideal quad failure on "
                                                  "surface 1 at x = [-0-9.]+, y = [-0-9.]+, z = [-0-9.]+\n\n$")))
      << r.err;
  const mixed_mesh m = read_mixed_mesh(mgn_read_file(dir + "/part.msh"));
  EXPECT_GT(m.counts[0], 0);
  EXPECT_EQ(static_cast<long>(m.nodes.size()), m.counts[0]);
  for (const auto* elements : {&m.edges, &m.trias, &m.quads})
    for (const std::vector<long>& e : *elements)
      for (long n : e) EXPECT_EQ(m.nodes.count(n), 1u) << "element on node " << n;
}

}  // namespace

namespace {

// Coarse quads on a sphere that a smoothing pass warps until opposite
// corners turn against each other: the clean-up after the pass cuts them,
// so the run ends normally and no written quad is folded.
// A front edge (here a fixed inner curve's) never closes on a node that
// lies a rounding error off its line: the triangle would be flat.
TEST(QuadProgramTest, NoFlatTriangleOnANodeLevelWithTheBase) {
  const std::string dir = mgn_temp_dir();
  const mgn_run_result r = mgn_run_program({"-i", std::string(MGN_TEST_MODELS) + "/quad_fixed_curve_level.mgn", "-u",
                                            "2.04166667", "-t", "0", "-o", "out.msh"},
                                           dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const mixed_mesh m = read_mixed_mesh(mgn_read_file(dir + "/out.msh"));
  ASSERT_GT(m.trias.size(), 0u);
  for (const std::vector<long>& t : m.trias) {
    const double* a = m.nodes.at(t[0]).data();
    const double* b = m.nodes.at(t[1]).data();
    const double* c = m.nodes.at(t[2]).data();
    double u[3], v[3], w[3], x[3];
    mgn_sub(b, a, u);
    mgn_sub(c, a, v);
    mgn_sub(c, b, x);
    mgn_cross(u, v, w);
    const double longest2 = std::max({mgn_dot(u, u), mgn_dot(v, v), mgn_dot(x, x)});
    EXPECT_GT(std::sqrt(mgn_dot(w, w)), 1e-3 * longest2) << "triangle " << t[0] << " " << t[1] << " " << t[2];
  }
}

TEST(QuadProgramTest, QuadsWarpedBySmoothingAreCutNotReported) {
  const std::string dir = mgn_temp_dir();
  const mgn_run_result r = mgn_run_program(
      {"-i", std::string(MGN_TEST_MODELS) + "/coarse_octant_quads.mgn", "-w", "0.5", "-s", "2", "-C", "-o", "out.msh"},
      dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const mixed_mesh m = read_mixed_mesh(mgn_read_file(dir + "/out.msh"));
  ASSERT_GT(m.quads.size(), 10u);
  for (const std::vector<long>& q : m.quads) {
    // The corner normals (twice the corner triangles' areas).
    double n[4][3];
    for (int i = 0; i < 4; ++i) {
      const double* p = m.nodes.at(q[i]).data();
      const double* a = m.nodes.at(q[(i + 3) % 4]).data();
      const double* b = m.nodes.at(q[(i + 1) % 4]).data();
      double u[3], v[3];
      mgn_sub(a, p, u);
      mgn_sub(b, p, v);
      mgn_cross(v, u, n[i]);
    }
    EXPECT_GT(mgn_dot(n[0], n[2]), 0.0) << "quad " << q[0] << " " << q[1] << " " << q[2] << " " << q[3];
    EXPECT_GT(mgn_dot(n[1], n[3]), 0.0) << "quad " << q[0] << " " << q[1] << " " << q[2] << " " << q[3];
  }
}

}  // namespace
