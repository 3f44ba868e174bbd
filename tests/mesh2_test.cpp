// Whole-mesh passes over surface meshes and their output: the diagonal swap
// of two triangles, curve hiding and edge swapping across curves, the
// neighbour and boundary-entity columns of triangles, the surface node data
// and the boundary associations of the mesh file, and the release of the
// surface scratch records after the surfaces are meshed.
#include "mesh2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bezier.h"
#include "discret.h"
#include "discret2.h"
#include "element.h"
#include "geom.h"
#include "list.h"
#include "model_fixture.h"
#include "octree.h"
#include "octree1.h"
#include "smooth.h"
#include "support.h"

namespace {

const std::string kModels = MGN_TEST_MODELS;

// ---------------------------------------------------------------------------
// The mesh file
// ---------------------------------------------------------------------------

struct file_node {
  double xyz[3];
  int key;
  long entity;
  std::vector<double> data;
};

struct file_element {
  long id;
  std::vector<long> n;
  int key;
  long entity, property;
  std::vector<long> extra;  // element data columns
};

// A mesh file of a run with quad-hexa support (mesh type 7).
struct mesh_file {
  int degree = 1;
  int spec = 0;
  long counts[8] = {};
  std::map<long, file_node> nodes;
  std::vector<file_element> edges, trias;
  std::vector<std::string> assoc;  // lines of the boundary-association section
  std::map<long, const file_element*> tria_by_id;
};

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

file_element parse_element(const std::string& line, int corners) {
  std::istringstream in(line);
  file_element e;
  in >> e.id;
  e.n.resize(corners);
  for (long& n : e.n) in >> n;
  in >> e.key >> e.entity >> e.property;
  for (long v; in >> v;) e.extra.push_back(v);
  return e;
}

mesh_file parse_mesh(const std::string& text) {
  mesh_file m;
  const auto lines = split_lines(text);
  std::size_t i = 0;
  {
    std::istringstream in(lines.at(i++));
    int type, renum;
    in >> type >> m.degree >> renum >> m.spec;
  }
  {
    std::istringstream in(lines.at(i++));
    for (long& c : m.counts) in >> c;
  }
  ++i;  // empty line
  if (m.counts[0] > 0) {
    for (long k = 0; k < m.counts[0]; ++k) {
      std::istringstream in(lines.at(i++));
      long id;
      file_node n;
      in >> id >> n.xyz[0] >> n.xyz[1] >> n.xyz[2] >> n.key >> n.entity;
      long property;
      in >> property;
      for (double v; in >> v;) n.data.push_back(v);
      m.nodes[id] = n;
    }
    ++i;
  }
  if (m.counts[1] > 0) {
    for (long k = 0; k < m.counts[1]; ++k) m.edges.push_back(parse_element(lines.at(i++), m.degree == 2 ? 3 : 2));
    ++i;
  }
  if (m.counts[2] > 0) {
    for (long k = 0; k < m.counts[2]; ++k) m.trias.push_back(parse_element(lines.at(i++), 3 * m.degree));
    ++i;
  }
  for (; i < lines.size(); ++i) m.assoc.push_back(lines[i]);
  for (const file_element& t : m.trias) m.tria_by_id[t.id] = &t;
  return m;
}

// Runs the program on a model file with a uniform size and output
// specification; returns the parsed mesh file.
mesh_file run_mesh(const std::string& model, const std::string& size, const std::string& spec,
                   mgn_run_result* result = nullptr, const std::string& degree = "1") {
  const std::string dir = mgn_temp_dir();
  const mgn_run_result r =
      mgn_run_program({"-i", model, "-u", size, "-p", spec, "-k", degree, "-o", "out.msh"}, dir);
  if (result != nullptr) *result = r;
  EXPECT_EQ(r.status, 0) << r.err;
  return parse_mesh(mgn_read_file(dir + "/out.msh"));
}

std::string write_model(const std::string& text) {
  const std::string path = mgn_temp_dir() + "/model.mgn";
  mgn_write_file(path, text);
  return path;
}

using node_pair = std::pair<long, long>;
node_pair pair_of(long a, long b) { return a < b ? node_pair(a, b) : node_pair(b, a); }

// Triangles using each node pair.
std::map<node_pair, std::vector<const file_element*>> pair_use(const mesh_file& m) {
  std::map<node_pair, std::vector<const file_element*>> use;
  for (const file_element& t : m.trias)
    for (int i = 0; i < 3; ++i) use[pair_of(t.n[i], t.n[(i + 1) % 3])].push_back(&t);
  return use;
}

// Edge elements by node pair.
std::map<node_pair, const file_element*> edge_elements(const mesh_file& m) {
  std::map<node_pair, const file_element*> edges;
  for (const file_element& e : m.edges) edges[pair_of(e.n[0], e.n[1])] = &e;
  return edges;
}

double tria_quality(const mesh_file& m, const file_element& t) {
  const double* p[3];
  for (int i = 0; i < 3; ++i) p[i] = m.nodes.at(t.n[i]).xyz;
  double l2 = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) l2 += (p[(i + 1) % 3][k] - p[i][k]) * (p[(i + 1) % 3][k] - p[i][k]);
  double u[3], v[3], c[3];
  for (int k = 0; k < 3; ++k) {
    u[k] = p[1][k] - p[0][k];
    v[k] = p[2][k] - p[0][k];
  }
  c[0] = u[1] * v[2] - u[2] * v[1];
  c[1] = u[2] * v[0] - u[0] * v[2];
  c[2] = u[0] * v[1] - u[1] * v[0];
  const double area = 0.5 * std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
  return 4.0 * std::sqrt(3.0) * area / l2;
}

// Signed area of a triangle seen from +z.
double area_z(const mesh_file& m, const file_element& t) {
  const double* a = m.nodes.at(t.n[0]).xyz;
  const double* b = m.nodes.at(t.n[1]).xyz;
  const double* c = m.nodes.at(t.n[2]).xyz;
  return 0.5 * ((b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]));
}

// ---------------------------------------------------------------------------
// The two squares through the program: conformity, neighbours, boundary
// entities
// ---------------------------------------------------------------------------

struct squares_case {
  const char* name;
  std::string model;
  bool curve4_crossed;   // hidden or swapped: triangles meet across curve 4
  bool curve4_edges;     // curve 4 gives edge elements
};

class TwoSquaresTest : public ::testing::TestWithParam<squares_case> {};

TEST_P(TwoSquaresTest, ConformingMeshWithSymmetricNeighboursAndBoundaryCurves) {
  const squares_case& c = GetParam();
  // Neighbours, boundary entities and boundary associations (node data is
  // withdrawn with curve swapping).
  const mesh_file m = run_mesh(c.model, "2.5", "56");
  ASSERT_EQ(m.spec, 56);
  ASSERT_GT(m.trias.size(), 0u);
  const auto use = pair_use(m);
  const auto edges = edge_elements(m);
  // A flat, conforming mesh of the rectangle [0, 20] x [0, 10], every
  // triangle turning counterclockwise seen from +z.
  double total = 0.0;
  for (const file_element& t : m.trias) {
    EXPECT_GT(area_z(m, t), 1e-6) << "triangle " << t.id;
    total += area_z(m, t);
    ASSERT_EQ(t.extra.size(), 9u) << "triangle " << t.id;
  }
  EXPECT_NEAR(total, 200.0, 1e-6);
  for (const auto& [pair, faces] : use) {
    ASSERT_LE(faces.size(), 2u);
    const double* a = m.nodes.at(pair.first).xyz;
    const double* b = m.nodes.at(pair.second).xyz;
    const bool outer = (a[0] == 0.0 && b[0] == 0.0) || (a[0] == 20.0 && b[0] == 20.0) ||
                       (a[1] == 0.0 && b[1] == 0.0) || (a[1] == 10.0 && b[1] == 10.0);
    EXPECT_EQ(faces.size(), outer ? 1u : 2u) << "pair " << pair.first << " " << pair.second;
  }
  bool crossing = false;
  for (const file_element& t : m.trias) {
    for (int i = 0; i < 3; ++i) {
      const long a = t.n[i], b = t.n[(i + 1) % 3];
      const long ngb = t.extra[i];
      const long bnd_id = t.extra[3 + i], bnd_prop = t.extra[6 + i];
      const auto& faces = use.at(pair_of(a, b));
      const auto edge = edges.find(pair_of(a, b));
      // Boundary entity: the curve of the edge element on this side.
      if (edge != edges.end()) {
        EXPECT_EQ(bnd_id, edge->second->entity) << "triangle " << t.id << " side " << i;
        EXPECT_EQ(bnd_prop, edge->second->property);
      } else {
        EXPECT_EQ(bnd_id, 0) << "triangle " << t.id << " side " << i;
      }
      if (faces.size() == 1) {
        EXPECT_EQ(ngb, 0) << "boundary side of triangle " << t.id;
        EXPECT_NE(bnd_id, 0) << "boundary side of triangle " << t.id;
        continue;
      }
      const file_element* other = faces[0] == &t ? faces[1] : faces[0];
      const bool across_surfaces = other->entity != t.entity;
      crossing = crossing || across_surfaces;
      if (across_surfaces && !c.curve4_crossed) {
        EXPECT_EQ(ngb, 0) << "triangle " << t.id << " across curve 4";
        continue;
      }
      ASSERT_EQ(ngb, other->id) << "triangle " << t.id << " side " << i;
      // Symmetric: the neighbour lists this triangle across the same side.
      const file_element* n = m.tria_by_id.at(ngb);
      int back = -1;
      for (int j = 0; j < 3; ++j)
        if (n->n[j] == b && n->n[(j + 1) % 3] == a) back = j;
      ASSERT_GE(back, 0) << "neighbour " << ngb << " does not run the side back";
      EXPECT_EQ(n->extra[back], t.id);
    }
  }
  EXPECT_TRUE(crossing);
  long curve4 = 0;
  for (const file_element& e : m.edges)
    if (e.entity == 4) ++curve4;
  EXPECT_EQ(curve4 > 0, c.curve4_edges);
}

INSTANTIATE_TEST_SUITE_P(
    Passes, TwoSquaresTest,
    ::testing::Values(squares_case{"Plain", kModels + "/two_squares.mgn", false, true},
                      squares_case{"Hidden", kModels + "/two_squares_hidden.mgn", true, false},
                      squares_case{"Swapped", kModels + "/two_squares_swap.mgn", true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CurveHiding, NodesOfAHiddenCurveLeaveItAndItsEdgesAreNoElements) {
  const mesh_file m = run_mesh(kModels + "/two_squares_hidden.mgn", "2.5", "16");
  double moved = 0.0;
  long curve_nodes = 0;
  for (const auto& [id, n] : m.nodes) {
    EXPECT_EQ(n.xyz[2], 0.0);
    EXPECT_GE(n.xyz[0], 0.0);
    EXPECT_LE(n.xyz[0], 20.0);
    if (n.key == 2 && n.entity == 4) {
      ++curve_nodes;
      moved = std::max(moved, std::fabs(n.xyz[0] - 10.0));
    }
  }
  // The three inner nodes of the curve are still mesh nodes, off the line.
  EXPECT_EQ(curve_nodes, 3);
  EXPECT_GT(moved, 1e-3);
  EXPECT_LT(moved, 1.25);
  for (const file_element& e : m.edges) EXPECT_NE(e.entity, 4);
  EXPECT_EQ(m.counts[1], 24);
  // Six curves take part in the boundary associations, curve 4 not.
  ASSERT_FALSE(m.assoc.empty());
  EXPECT_EQ(m.assoc[0], "         6         2         0         0");
  for (const std::string& line : m.assoc) EXPECT_NE(line.rfind("         2         4 ", 0), 0u) << line;
}

// Two curved surfaces that meet tangentially: the nodes of the hidden seam
// leave it but stay on the cylinder.
TEST(CurveHiding, SeamNodesOfTangentCurvedSurfacesStayOnTheSurface) {
  const mesh_file m = run_mesh(kModels + "/half_cylinder_hidden.mgn", "0.4", "0");
  double moved = 0.0, off_cylinder = 0.0;
  long seam_nodes = 0;
  for (const auto& [id, n] : m.nodes) {
    const double r = std::sqrt(n.xyz[0] * n.xyz[0] + n.xyz[1] * n.xyz[1]);
    off_cylinder = std::max(off_cylinder, std::fabs(r - 2.0));
    if (n.key == 2 && n.entity == 4) {
      ++seam_nodes;
      moved = std::max(moved, std::fabs(n.xyz[0]));
    }
  }
  EXPECT_GT(seam_nodes, 3);
  EXPECT_GT(moved, 1e-5);
  EXPECT_LT(off_cylinder, 1e-6);
  for (const file_element& e : m.edges) EXPECT_NE(e.entity, 4);
}

// Curves that stay: faces that do not meet flat, or of different properties.
struct refusal_case {
  const char* name;
  const char* far_side;   // the far side of the second square: vertices 5 and 6
  const char* surface2;   // options of the second surface
  const char* curve4;     // options of curve 4
};

class CurvePassRefusalTest : public ::testing::TestWithParam<refusal_case> {};

TEST_P(CurvePassRefusalTest, CurveKeepsItsEdges) {
  const refusal_case& c = GetParam();
  const std::string text = std::string("vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 10 10 0\n"
                                       "vertex 4 xyz 0 10 0\n") +
                           c.far_side +
                           "curve 1 vertex 1 2\ncurve 2 vertex 1 4\ncurve 3 vertex 4 3\n"
                           "curve 4 vertex 2 3 " + c.curve4 +
                           "\ncurve 5 vertex 2 5\ncurve 6 vertex 3 6\ncurve 7 vertex 5 6\n"
                           "surface 1 curve 1 2 3 4\nsurface 2 curve 5 4 6 7 " + c.surface2 + "\n";
  const mesh_file m = run_mesh(write_model(text), "2.5", "0");
  std::set<long> curve4_nodes;
  for (const file_element& e : m.edges)
    if (e.entity == 4) curve4_nodes.insert(e.n.begin(), e.n.end());
  ASSERT_FALSE(curve4_nodes.empty());
  // Every node of its edges still lies on the line x = 10, z = 0.
  for (long id : curve4_nodes) {
    EXPECT_EQ(m.nodes.at(id).xyz[0], 10.0) << "node " << id;
    EXPECT_EQ(m.nodes.at(id).xyz[2], 0.0) << "node " << id;
  }
}

const char* const kFlat = "vertex 5 xyz 20 0 0\nvertex 6 xyz 20 10 0\n";
const char* const kUpright = "vertex 5 xyz 10 0 10\nvertex 6 xyz 10 10 10\n";

INSTANTIATE_TEST_SUITE_P(Passes, CurvePassRefusalTest,
                         ::testing::Values(refusal_case{"HiddenWithOtherProperty", kFlat, "property 3", "hidden"},
                                           refusal_case{"HiddenAtRightAngle", kUpright, "", "hidden"},
                                           refusal_case{"SwapAtRightAngle", kUpright, "", "count 1 swap yes"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EdgeSwapping, SwapsAcrossTheCurveRaiseTheWorstQuality) {
  const mesh_file swapped = run_mesh(kModels + "/two_squares_swap.mgn", "2.5", "0");
  // The same model without the swap request.
  std::string text = mgn_read_file(kModels + "/two_squares_swap.mgn");
  const std::string request = " swap yes";
  text.erase(text.find(request), request.size());
  const mesh_file plain = run_mesh(write_model(text), "2.5", "0");
  auto worst = [](const mesh_file& m) {
    double w = 1.0;
    for (const file_element& t : m.trias) w = std::min(w, tria_quality(m, t));
    return w;
  };
  EXPECT_GT(worst(swapped), worst(plain) + 0.05);
  EXPECT_EQ(swapped.trias.size(), plain.trias.size());
  // A triangle now spans both squares.
  bool spans = false;
  for (const file_element& t : swapped.trias) {
    bool left = false, right = false;
    for (long n : t.n) {
      left = left || swapped.nodes.at(n).xyz[0] < 10.0 - 1e-9;
      right = right || swapped.nodes.at(n).xyz[0] > 10.0 + 1e-9;
    }
    spans = spans || (left && right);
  }
  EXPECT_TRUE(spans);
}

// Vertex hiding: the node of a hidden vertex moves when the curves that
// asked to be hidden there are hidden.
struct vertex_case {
  const char* name;
  std::string model;
  long vertex;
  double at[3];       // where the vertex was given
  bool moves;
  bool on_line_y0;    // it may only slide along y = 0
  double area;
};

// A model file with some lines changed (pairs of old and new text).
std::string model_with(const std::string& file, const std::vector<std::pair<std::string, std::string>>& changes) {
  std::string text = mgn_read_file(kModels + "/" + file);
  for (const auto& [from, to] : changes) text.replace(text.find(from), from.size(), to);
  return write_model(text);
}
const std::pair<std::string, std::string> kHideVertex2{"vertex 2 xyz 10  0 0", "vertex 2 xyz 10 0 0 hidden"};

// Four squares 10 x 10 around the vertex 5 at (10, 10) whose four curves are
// hidden; the vertex is hidden too.
const std::string kFourSquares =
    "vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 20 0 0\nvertex 4 xyz 0 10 0\n"
    "vertex 5 xyz 10 10 0 hidden\nvertex 6 xyz 20 10 0\nvertex 7 xyz 0 20 0\nvertex 8 xyz 10 20 0\n"
    "vertex 9 xyz 20 20 0\n"
    "curve 1 vertex 1 2\ncurve 2 vertex 2 3\ncurve 3 vertex 4 5 hidden\ncurve 4 vertex 5 6 hidden\n"
    "curve 5 vertex 7 8\ncurve 6 vertex 8 9\ncurve 7 vertex 1 4\ncurve 8 vertex 4 7\n"
    "curve 9 vertex 2 5 hidden\ncurve 10 vertex 5 8 hidden\ncurve 11 vertex 3 6\ncurve 12 vertex 6 9\n"
    "surface 1 curve 1 7 3 9\nsurface 2 curve 2 9 4 11\nsurface 3 curve 3 8 5 10\nsurface 4 curve 4 10 6 12\n";

class VertexHidingTest : public ::testing::TestWithParam<vertex_case> {};

TEST_P(VertexHidingTest, NodeMovesOnlyWhereItMayAndTheMeshStaysValid) {
  const vertex_case& c = GetParam();
  const mesh_file m = run_mesh(c.model, "2.5", "0");
  const file_node* node = nullptr;
  for (const auto& [id, n] : m.nodes)
    if (n.key == 1 && n.entity == c.vertex) node = &n;
  ASSERT_NE(node, nullptr);
  const double moved = std::sqrt(mgn_get_point_square_distance(node->xyz, c.at));
  if (c.moves) {
    EXPECT_GT(moved, 1e-4);
    EXPECT_LT(moved, 1.0);
  } else {
    EXPECT_EQ(moved, 0.0);
  }
  EXPECT_EQ(node->xyz[2], 0.0);
  if (c.on_line_y0) {
    EXPECT_EQ(node->xyz[1], 0.0);
  }
  double total = 0.0;
  for (const file_element& t : m.trias) {
    EXPECT_GT(area_z(m, t), 1e-6) << "triangle " << t.id;
    total += area_z(m, t);
  }
  EXPECT_NEAR(total, c.area, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Passes, VertexHidingTest,
    ::testing::Values(
        vertex_case{"SlidesAlongTheBoundary", model_with("two_squares_hidden.mgn", {kHideVertex2}), 2,
                    {10.0, 0.0, 0.0}, true, true, 200.0},
        vertex_case{"InsideFourMergedSquares", write_model(kFourSquares), 5, {10.0, 10.0, 0.0}, true, false, 400.0},
        // Its curve is not hidden: the vertex stays.
        vertex_case{"CurveNotHidden", model_with("two_squares.mgn", {kHideVertex2}), 2, {10.0, 0.0, 0.0}, false,
                    true, 200.0},
        // The curves left there meet at an angle: the vertex stays.
        vertex_case{"AtACorner",
                    model_with("two_squares_hidden.mgn", {kHideVertex2, {"vertex 5 xyz 20  0 0", "vertex 5 xyz 20 -2 0"}}),
                    2, {10.0, 0.0, 0.0}, false, true, 210.0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Node data and boundary associations
// ---------------------------------------------------------------------------

struct node_data_case {
  const char* name;
  const char* model;
  const char* size;
  const char* degree;
  double off_surface;  // largest distance of a node from the surface (midside nodes of curved ones)
};

class SurfaceNodeDataTest : public ::testing::TestWithParam<node_data_case> {};

// Bits 1 and 4: a surface node carries the unit normal, then (u, v); the
// surface at (u, v) is the node (for a midside node off a curved surface,
// its foot point) and its normal agrees with Su x Sv, and so does the normal
// of every written triangle.
TEST_P(SurfaceNodeDataTest, ParametersLocateTheNodeAndNormalsAreUnitSuCrossSv) {
  const node_data_case& c = GetParam();
  const std::string path = kModels + "/" + c.model + ".mgn";
  const mesh_file m = run_mesh(path, c.size, "5", nullptr, c.degree);
  mgn_reset_model_settings();
  mgn_read_model_text(mgn_read_file(path));
  long surface_nodes = 0;
  for (const auto& [id, n] : m.nodes) {
    if (n.key != 3) continue;
    ++surface_nodes;
    const mgn_surface* s = mgn_find_surface(n.entity);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(n.data.size(), 5u) << "node " << id;
    const double* normal = n.data.data();
    const double u = n.data[3], v = n.data[4];
    EXPECT_GE(u, 0.0);
    EXPECT_LE(u, 1.0);
    EXPECT_GE(v, 0.0);
    EXPECT_LE(v, 1.0);
    EXPECT_NEAR(mgn_dot(normal, normal), 1.0, 1e-5) << "node " << id;
    double p[3], su[3], sv[3], cr[3], d[3];
    mgn_get_surface_point(s, u, v, p);
    EXPECT_LT(std::sqrt(mgn_get_point_square_distance(p, n.xyz)), c.off_surface) << "node " << id;
    mgn_get_surface_derivative(s, u, v, 0, su);
    mgn_get_surface_derivative(s, u, v, 1, sv);
    mgn_sub(n.xyz, p, d);
    EXPECT_LT(std::fabs(mgn_dot(d, su)) / std::sqrt(mgn_dot(su, su)), 1e-4) << "node " << id;
    EXPECT_LT(std::fabs(mgn_dot(d, sv)) / std::sqrt(mgn_dot(sv, sv)), 1e-4) << "node " << id;
    mgn_cross(su, sv, cr);
    EXPECT_GT(mgn_dot(cr, normal) / std::sqrt(mgn_dot(cr, cr)), 0.9999) << "node " << id;
  }
  EXPECT_GT(surface_nodes, 10);
  // The triangles as written turn counterclockwise seen from the side Su x Sv
  // points to: their normal agrees with the normal of a surface node on them.
  long oriented = 0;
  for (const file_element& t : m.trias) {
    for (int i = 0; i < 3; ++i) {
      const file_node& n = m.nodes.at(t.n[i]);
      if (n.key != 3) continue;
      double a[3], b[3], c[3];
      mgn_sub(m.nodes.at(t.n[1]).xyz, m.nodes.at(t.n[0]).xyz, a);
      mgn_sub(m.nodes.at(t.n[2]).xyz, m.nodes.at(t.n[0]).xyz, b);
      mgn_cross(a, b, c);
      EXPECT_GT(mgn_dot(c, n.data.data()), 0.0) << "triangle " << t.id;
      ++oriented;
      break;
    }
  }
  EXPECT_GT(oriented, static_cast<long>(m.trias.size()) / 2);
  mgn_release_model();
}

INSTANTIATE_TEST_SUITE_P(Models, SurfaceNodeDataTest,
                         ::testing::Values(node_data_case{"TwoSquares", "two_squares", "2.5", "1", 1e-4},
                                           node_data_case{"QuarterCylinder", "quarter_cylinder", "0.5", "1", 1e-4},
                                           node_data_case{"SphereOctant", "sphere_octant", "0.5", "1", 1e-4},
                                           node_data_case{"TwoSquaresQuadratic", "two_squares", "2.5", "2", 1e-4},
                                           // Midside nodes at chord midpoints: a sagitta below 0.02.
                                           node_data_case{"SphereOctantQuadratic", "sphere_octant", "0.5", "2", 0.02}),
                         [](const auto& info) { return std::string(info.param.name); });

// Quadratic triangles: corners 1 to 3, then the midside nodes of the sides
// 1-2, 2-3 and 3-1, each at the middle of its side (flat squares) and
// shared by the triangles on that side.
TEST(QuadraticTriangles, MidsideNodesLieOnTheirSidesAndAreShared) {
  const mesh_file m = run_mesh(kModels + "/two_squares.mgn", "2.5", "0", nullptr, "2");
  ASSERT_EQ(m.degree, 2);
  ASSERT_GT(m.trias.size(), 0u);
  std::map<node_pair, long> midside;
  for (const file_element& t : m.trias) {
    ASSERT_EQ(t.n.size(), 6u);
    for (int i = 0; i < 3; ++i) {
      const double* a = m.nodes.at(t.n[i]).xyz;
      const double* b = m.nodes.at(t.n[(i + 1) % 3]).xyz;
      const double* c = m.nodes.at(t.n[3 + i]).xyz;
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(c[k], 0.5 * (a[k] + b[k]), 1e-6) << "triangle " << t.id;
      const auto [it, added] = midside.emplace(pair_of(t.n[i], t.n[(i + 1) % 3]), t.n[3 + i]);
      if (!added) {
        EXPECT_EQ(it->second, t.n[3 + i]) << "triangle " << t.id;
      }
    }
  }
  // Every node is a corner or a midside node of some edge.
  long corners = 0;
  std::set<long> seen;
  for (const file_element& t : m.trias)
    for (int i = 0; i < 3; ++i)
      if (seen.insert(t.n[i]).second) ++corners;
  EXPECT_EQ(m.counts[0], corners + static_cast<long>(midside.size()));
}

// Bit 16: each curve lists the triangles on its edges, each surface one line
// per triangle (no region: no volume element on either side).
TEST(BoundaryAssociation, CurvesListTheirTrianglesAndSurfacesTheirTriangles) {
  const mesh_file m = run_mesh(kModels + "/two_squares.mgn", "2.5", "16");
  ASSERT_FALSE(m.assoc.empty());
  EXPECT_EQ(m.assoc[0], "         7         2         0         0");
  std::map<long, long> trias_of;
  for (const file_element& t : m.trias) ++trias_of[t.entity];
  std::size_t i = 2;
  for (long curve = 1; curve <= 7; ++curve) {
    std::istringstream head(m.assoc.at(i++));
    long key, id, property, count;
    head >> key >> id >> property >> count;
    EXPECT_EQ(key, 2);
    EXPECT_EQ(id, curve);
    std::vector<const file_element*> curve_edges;
    for (const file_element& e : m.edges)
      if (e.entity == curve) curve_edges.push_back(&e);
    ASSERT_EQ(count, static_cast<long>(curve_edges.size()));
    for (const file_element* e : curve_edges) {
      std::istringstream line(m.assoc.at(i++));
      long faces;
      line >> faces;
      EXPECT_EQ(faces, curve == 4 ? 2 : 1) << "curve " << curve;
      std::set<long> entities;
      for (long k = 0, t; k < faces && line >> t; ++k) {
        const file_element* tria = m.tria_by_id.at(t);
        EXPECT_TRUE(std::count(tria->n.begin(), tria->n.end(), e->n[0]) == 1 &&
                    std::count(tria->n.begin(), tria->n.end(), e->n[1]) == 1)
            << "triangle " << t << " is not on edge " << e->id;
        entities.insert(tria->entity);
      }
      EXPECT_EQ(entities.size(), static_cast<std::size_t>(faces));
    }
    EXPECT_EQ(m.assoc.at(i++), "");
  }
  for (long surface = 1; surface <= 2; ++surface) {
    std::istringstream head(m.assoc.at(i++));
    long key, id, property, count;
    head >> key >> id >> property >> count;
    EXPECT_EQ(key, 3);
    EXPECT_EQ(id, surface);
    EXPECT_EQ(count, trias_of[surface]);
    for (long k = 0; k < count; ++k) EXPECT_EQ(m.assoc.at(i++), "         0");
    EXPECT_EQ(m.assoc.at(i++), "");
  }
  EXPECT_EQ(i, m.assoc.size());
}

// ---------------------------------------------------------------------------
// The diagonal swap of two triangles
// ---------------------------------------------------------------------------

class SwapEdgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mgn_reset_mesh_store();
    mgn_create_mesh_store(4);
    mgn_tol = mgn_tolerances{};
  }
  void TearDown() override {
    for (mgn_listing* l : {surface_.mesh.nodes, surface_.mesh.edges, surface_.mesh.faces})
      if (l != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(l));
    mgn_reset_mesh_store();
  }
  mgn_node* node(double x, double y) {
    const double xyz[3] = {x, y, 0.0};
    const double uv[2] = {x, y};
    return mgn_create_node(xyz, uv, MGN_SURFACE, &surface_, &surface_.mesh.nodes);
  }
  mgn_edge* edge(mgn_node* a, mgn_node* b) {
    edges_.push_back(mgn_create_edge(a, b, MGN_SURFACE, &surface_, &surface_.mesh.edges));
    return edges_.back();
  }
  mgn_face* face(mgn_node* a, mgn_node* b, mgn_node* c) {
    mgn_face* f = mgn_create_face(a, b, c, MGN_SURFACE, &surface_, &surface_.mesh.faces, nullptr, false);
    for (int i = 0; i < 3; ++i) {
      mgn_edge* e = mgn_get_node_edge(f->n[i], f->n[(i + 1) % 3]);
      if (e != nullptr) mgn_add_edge_face(e, f);
    }
    return f;
  }
  // The quad p (0, 0), x, q (1, 0), y with the diagonal p-q and the two
  // triangles (p, q, x) and (q, p, y).
  mgn_edge* quad(double xx, double xy, double yx, double yy) {
    p_ = node(0.0, 0.0);
    q_ = node(1.0, 0.0);
    x_ = node(xx, xy);
    y_ = node(yx, yy);
    mgn_edge* pq = edge(p_, q_);
    edge(q_, x_);
    edge(x_, p_);
    edge(p_, y_);
    edge(y_, q_);
    f1_ = face(p_, q_, x_);
    f2_ = face(q_, p_, y_);
    return pq;
  }
  static bool has(const mgn_face* f, const mgn_node* a, const mgn_node* b, const mgn_node* c) {
    for (int i = 0; i < 3; ++i)
      if (f->n[i] == a && f->n[(i + 1) % 3] == b && f->n[(i + 2) % 3] == c) return true;
    return false;
  }
  static long face_count(const mgn_edge* e) {
    long n = 0;
    for (mgn_face* f : mgn_edge_faces(e)) n += f != nullptr;
    return n;
  }
  static bool at(const mgn_node* node, const mgn_edge* e) {
    for (mgn_edge* x : mgn_node_edges(node))
      if (x == e) return true;
    return false;
  }
  mgn_surface surface_;
  std::vector<mgn_edge*> edges_;
  mgn_node *p_ = nullptr, *q_ = nullptr, *x_ = nullptr, *y_ = nullptr;
  mgn_face *f1_ = nullptr, *f2_ = nullptr;
};

TEST_F(SwapEdgeTest, FlatPairIsSwappedWithEveryListKeptInStep) {
  // Apexes close to the diagonal: the triangles are flat, the other
  // diagonal gives two good ones.
  mgn_edge* pq = quad(0.5, 0.2, 0.5, -0.2);
  ASSERT_TRUE(mgn_swap_edge(pq));
  // The edge joins y and x; both triangles turn counterclockwise.
  EXPECT_TRUE((pq->n[0] == y_ && pq->n[1] == x_));
  EXPECT_TRUE(has(f1_, p_, y_, x_));
  EXPECT_TRUE(has(f2_, y_, q_, x_));
  EXPECT_EQ(p_->edge_count, 2);
  EXPECT_EQ(q_->edge_count, 2);
  EXPECT_EQ(x_->edge_count, 3);
  EXPECT_EQ(y_->edge_count, 3);
  EXPECT_FALSE(at(p_, pq));
  EXPECT_FALSE(at(q_, pq));
  EXPECT_TRUE(at(x_, pq));
  EXPECT_TRUE(at(y_, pq));
  EXPECT_EQ(mgn_get_node_edge(x_, y_), pq);
  EXPECT_EQ(mgn_get_node_edge(p_, q_), nullptr);
  // Face lists: p-y holds f1, q-x holds f2, the diagonal both.
  mgn_edge* py = mgn_get_node_edge(p_, y_);
  mgn_edge* qx = mgn_get_node_edge(q_, x_);
  EXPECT_TRUE(mgn_edge_has_face(py, f1_));
  EXPECT_FALSE(mgn_edge_has_face(py, f2_));
  EXPECT_TRUE(mgn_edge_has_face(qx, f2_));
  EXPECT_FALSE(mgn_edge_has_face(qx, f1_));
  EXPECT_EQ(face_count(pq), 2);
  // Swapping back would close the smallest angle again: refused.
  EXPECT_FALSE(mgn_swap_edge(pq));
}

TEST_F(SwapEdgeTest, ChangeAloneFollowsTheTriangleGivenFirstAndLeavesAnAbsentEdgeAlone) {
  // The surface mesher's case: the first triangle runs against the edge's
  // direction, and the edge from b to its apex is not attached yet.
  mgn_edge* pq = quad(0.5, 0.866, 0.5, -0.866);
  mgn_edge* qx = mgn_get_node_edge(q_, x_);
  mgn_edge* py = mgn_get_node_edge(p_, y_);
  // ab = f2 = (q, p, y): a = q, b = p, its apex y; ba = f1 with apex x.
  mgn_apply_edge_swap(pq, f2_, f1_, qx, nullptr);
  EXPECT_TRUE((pq->n[0] == x_ && pq->n[1] == y_));
  EXPECT_TRUE(f2_->n[0] == q_ && f2_->n[1] == x_ && f2_->n[2] == y_);
  EXPECT_TRUE(f1_->n[0] == x_ && f1_->n[1] == p_ && f1_->n[2] == y_);
  EXPECT_EQ(pq->face[0], f2_);
  EXPECT_EQ(pq->face[1], f1_);
  EXPECT_TRUE(mgn_edge_has_face(qx, f2_));
  EXPECT_FALSE(mgn_edge_has_face(qx, f1_));
  // p-y was not handed over: it still lists the triangle it had.
  EXPECT_TRUE(mgn_edge_has_face(py, f2_));
  EXPECT_FALSE(mgn_edge_has_face(py, f1_));
  EXPECT_TRUE(at(x_, pq) && at(y_, pq) && !at(p_, pq) && !at(q_, pq));
}

struct no_swap_case {
  const char* name;
  double xx, xy, yx, yy;
};

class SwapRefusalTest : public SwapEdgeTest, public ::testing::WithParamInterface<no_swap_case> {};

TEST_P(SwapRefusalTest, PairStaysAsItIs) {
  const no_swap_case& c = GetParam();
  mgn_edge* pq = quad(c.xx, c.xy, c.yx, c.yy);
  EXPECT_FALSE(mgn_swap_edge(pq));
  EXPECT_TRUE(has(f1_, p_, q_, x_));
  EXPECT_TRUE(has(f2_, q_, p_, y_));
  EXPECT_EQ(mgn_get_node_edge(p_, q_), pq);
}

INSTANTIATE_TEST_SUITE_P(
    Quads, SwapRefusalTest,
    ::testing::Values(no_swap_case{"AlreadyBest", 0.5, 0.866, 0.5, -0.866},
                      // Swapping a non-convex quad would fold a triangle.
                      no_swap_case{"NonConvex", 1.6, 0.1, 1.6, -0.1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SwapEdgeTest, EdgeWithOneTriangleOrAnExistingDiagonalStays) {
  mgn_edge* pq = quad(0.5, 0.2, 0.5, -0.2);
  // The diagonal x-y exists already.
  edge(x_, y_);
  EXPECT_FALSE(mgn_swap_edge(pq));
  // A boundary edge.
  EXPECT_FALSE(mgn_swap_edge(mgn_get_node_edge(q_, x_)));
}

// ---------------------------------------------------------------------------
// Release of the surface scratch records
// ---------------------------------------------------------------------------

TEST(SurfaceScratch, NodesAndEdgesDropTheirScratchRecordsAndLaterSmoothingLeavesThemAlone) {
  mgn_reset_model_settings();
  mgn_set.uniform_size = mgn_set.default_size = 2.5;
  mgn_read_model_text(mgn_read_file(kModels + "/two_squares.mgn"));
  mgn_build_octree();
  mgn_discretize_model();
  long nodes = 0, with_data = 0, edges = 0, with_sides = 0;
  for (mgn_node* n : mgn_listing_range<mgn_node>(mgn_get_first_listing_block(mgn_mesh.node_pool))) {
    ++nodes;
    if (n->aux != nullptr) ++with_data;
  }
  for (mgn_edge* e : mgn_listing_range<mgn_edge>(mgn_get_first_listing_block(mgn_mesh.edge_pool.listing))) {
    ++edges;
    // Side slots a front gave to a curve edge are given back with the front.
    if (mgn_edge_has_side_slots(e)) ++with_sides;
  }
  EXPECT_GT(nodes, 20);
  EXPECT_GT(edges, 40);
  EXPECT_EQ(with_data, 0);
  EXPECT_EQ(with_sides, 0);
  // The released records are handed out again (to the next user of the
  // scratch listing); smoothing a surface now must not write into them.
  std::vector<mgn_surface_data*> reused;
  for (long k = 0; k < nodes; ++k) {
    auto* d = mgn_get_listing_item_as<mgn_surface_data>(mgn_surface_work.data);
    d->u = d->v = -7.0;
    reused.push_back(d);
  }
  mgn_smooth_surface(mgn_find_surface(1));
  mgn_smooth_surface(mgn_find_surface(2));
  long touched = 0;
  for (const mgn_surface_data* d : reused)
    if (d->u != -7.0 || d->v != -7.0) ++touched;
  EXPECT_EQ(touched, 0);
  mgn_empty_surface_scratch();
  // The surfaces' own edge listings are in no global listing.
  for (mgn_surface* s : mgn_list_range<mgn_surface>(mgn_model.surfaces.list)) {
    if (s->mesh.edges != nullptr) mgn_destroy_listing(s->mesh.edges);
    s->mesh.edges = nullptr;
  }
  mgn_release_model();
  mgn_reset_mesh_store();
}

}  // namespace
