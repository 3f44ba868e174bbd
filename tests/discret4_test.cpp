// Interface meshing through the program: two coincident node sets paired
// one to one by interface edges, quads and wedges; the -H form without
// them; element-free, degenerated, undetached and mismatched interfaces;
// the graphics file leaving interface elements out.  Master and slave
// nodes: slaves merge into the masters at their places.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support.h"

namespace {

const std::string kModels = MGN_TEST_MODELS;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Element sections of a type-7 mesh file.
enum { EDGES, TRIAS, QUADS, TETRAS, PYRAMS, WEDGES, HEXAS };

struct meshed {
  mgn_run_result run;
  mgn_mesh_file mesh;
  std::string dir;
};

meshed mesh_model(const std::string& model_text_or_file, std::vector<std::string> options, bool is_file) {
  meshed m;
  m.dir = mgn_temp_dir();
  std::string path = model_text_or_file;
  if (!is_file) {
    path = m.dir + "/model.mgn";
    mgn_write_file(path, model_text_or_file);
  }
  std::vector<std::string> args = {"-i", path, "-o", "mesh.msh"};
  args.insert(args.end(), options.begin(), options.end());
  m.run = mgn_run_program(args, m.dir);
  m.mesh = mgn_parse_mesh_file(mgn_read_file(m.dir + "/mesh.msh"));
  return m;
}

const mgn_mesh_file::node& node_of(const mgn_mesh_file& mesh, long number) {
  for (std::size_t i = 0; i < mesh.node_numbers.size(); ++i)
    if (mesh.node_numbers[i] == number) return mesh.nodes[i];
  ADD_FAILURE() << "no node " << number;
  return mesh.nodes.front();
}

bool same_place(const mgn_mesh_file& mesh, long a, long b) {
  const auto& p = node_of(mesh, a);
  const auto& q = node_of(mesh, b);
  for (int k = 0; k < 3; ++k)
    if (std::abs(p.xyz[k] - q.xyz[k]) > 1e-9) return false;
  return true;
}

// Interface elements (key 7) of a section.
std::vector<mgn_mesh_file::element> interface_elements(const mgn_mesh_file& mesh, int section) {
  std::vector<mgn_mesh_file::element> out;
  for (const auto& e : mesh.sections.at(section))
    if (e.key == 7) out.push_back(e);
  return out;
}

// The "lower" and "upper" halves of interface elements: node k and its
// partner (k + half) lie at one place, are distinct nodes, and every node
// is in one half only, always with the same partner.
void expect_paired(const mgn_mesh_file& mesh, const std::vector<mgn_mesh_file::element>& elements,
                   std::map<long, long>& partner) {
  for (const auto& e : elements) {
    const std::size_t half = e.nodes.size() / 2;
    for (std::size_t k = 0; k < half; ++k) {
      const long a = e.nodes[k], b = e.nodes[e.nodes.size() == 4 && half == 2 ? 3 - k : k + half];
      EXPECT_NE(a, b) << "element " << e.number;
      EXPECT_TRUE(same_place(mesh, a, b)) << "element " << e.number;
      auto [it, fresh] = partner.emplace(a, b);
      EXPECT_EQ(it->second, b) << "node " << a << " has two partners";
      EXPECT_EQ(partner.count(b), 0u) << "node " << b << " on both sides";
    }
  }
}

TEST(InterfaceMesh, TwoSquaresGluedBySurfaceInterfaceAreWedgesOverPairedNodes) {
  const meshed m = mesh_model(kModels + "/interface_squares.mgn", {"-u", "3"}, true);
  ASSERT_EQ(m.run.status, 0) << m.run.err;
  ASSERT_EQ(m.mesh.error, "");
  EXPECT_EQ(mgn_check_mesh_file(m.mesh), "");
  EXPECT_TRUE(contains(m.run.out, "Interfaces discretized")) << m.run.out;
  EXPECT_EQ(m.mesh.mesh_type, 7);
  ASSERT_EQ(m.mesh.counts.size(), 8u);
  // Every triangle of the first square under one wedge; the two node sets
  // paired one to one, the whole mesh in the pairs.
  long first_trias = 0;
  for (const auto& t : m.mesh.sections[TRIAS]) first_trias += t.entity == 1;
  const auto wedges = interface_elements(m.mesh, WEDGES);
  EXPECT_EQ(static_cast<long>(wedges.size()), first_trias);
  EXPECT_EQ(m.mesh.counts[6], first_trias);
  EXPECT_EQ(2 * first_trias, m.mesh.counts[2]);
  std::map<long, long> partner;
  expect_paired(m.mesh, wedges, partner);
  EXPECT_EQ(2 * partner.size(), m.mesh.nodes.size());
  for (const auto& w : wedges) EXPECT_EQ(w.entity, 1);

  // Quadratic: the wedges carry the midside nodes of their triangles; the
  // edges between the pairs have none of their own (number 0).
  const meshed q = mesh_model(kModels + "/interface_squares.mgn", {"-u", "3", "-k", "2", "-L", "10"}, true);
  ASSERT_EQ(q.run.status, 0) << q.run.err;
  for (const auto& w : interface_elements(q.mesh, WEDGES)) {
    ASSERT_EQ(w.nodes.size(), 15u);
    int zeros = 0;
    for (long n : w.nodes) zeros += n == 0;
    EXPECT_EQ(zeros, 3) << "wedge " << w.number;
  }

  // With -H: no interface elements, the mesh type 3 with four counts, and
  // the warning.
  const meshed h = mesh_model(kModels + "/interface_squares.mgn", {"-u", "3", "-H"}, true);
  ASSERT_EQ(h.run.status, 0) << h.run.err;
  EXPECT_EQ(h.mesh.mesh_type, 3);
  EXPECT_EQ(h.mesh.counts.size(), 4u);
  EXPECT_TRUE(contains(h.run.err, "Warning: Discretization of interfaces ignored\n         due to the -H option\n"));
  EXPECT_FALSE(contains(h.run.out, "Interfaces discretized"));
  for (const auto& section : h.mesh.sections)
    for (const auto& e : section) EXPECT_NE(e.key, 7);
}

TEST(InterfaceMesh, CurvesAreQuadsAndVerticesEdges) {
  const meshed m = mesh_model(kModels + "/interface_lines.mgn", {"-u", "2.5"}, true);
  ASSERT_EQ(m.run.status, 0) << m.run.err;
  ASSERT_EQ(m.mesh.error, "");
  EXPECT_EQ(mgn_check_mesh_file(m.mesh), "");
  // Four edges on each curve: four quads a1 b1 b2 a2, five edges between
  // the pairs of the curves and one between the two vertices.
  const auto quads = interface_elements(m.mesh, QUADS);
  const auto edges = interface_elements(m.mesh, EDGES);
  ASSERT_EQ(quads.size(), 4u);
  ASSERT_EQ(edges.size(), 6u);
  std::map<long, long> partner;
  expect_paired(m.mesh, quads, partner);
  EXPECT_EQ(partner.size(), 5u);
  std::map<long, int> per_interface;
  for (const auto& e : edges) {
    EXPECT_NE(e.nodes[0], e.nodes[1]);
    EXPECT_TRUE(same_place(m.mesh, e.nodes[0], e.nodes[1]));
    ++per_interface[e.entity];
    if (e.entity == 1) {
      EXPECT_EQ(partner.at(e.nodes[0]), e.nodes[1]);
    }
  }
  EXPECT_EQ(per_interface[1], 5);
  EXPECT_EQ(per_interface[2], 1);
  // The quads of one curve pair lie between the curves' own edges.
  for (const auto& q : quads) EXPECT_EQ(q.entity, 1);

  const meshed h = mesh_model(kModels + "/interface_lines.mgn", {"-u", "2.5", "-H"}, true);
  ASSERT_EQ(h.run.status, 0) << h.run.err;
  EXPECT_EQ(h.mesh.mesh_type, 3);
  ASSERT_EQ(h.mesh.counts.size(), 4u);
  EXPECT_EQ(h.mesh.counts[1], 8);  // the curves' own edges
}

TEST(InterfaceMesh, TwoRegionsGluedByInterfaceSurface) {
  const meshed m = mesh_model(kModels + "/interface_boxes.mgn", {"-u", "0.25"}, true);
  ASSERT_EQ(m.run.status, 0) << m.run.err;
  ASSERT_EQ(m.mesh.error, "");
  EXPECT_EQ(mgn_check_mesh_file(m.mesh), "");
  const auto wedges = interface_elements(m.mesh, WEDGES);
  long glued_trias = 0;
  for (const auto& t : m.mesh.sections[TRIAS]) glued_trias += t.entity == 6;
  ASSERT_GT(glued_trias, 0);
  EXPECT_EQ(static_cast<long>(wedges.size()), glued_trias);
  std::map<long, long> partner;
  expect_paired(m.mesh, wedges, partner);
  // The two regions share no node: one side of every pair is in each.
  std::set<long> in_region[2];
  for (const auto& t : m.mesh.sections[TETRAS])
    for (long n : t.nodes) in_region[t.entity - 1].insert(n);
  for (long n : in_region[0]) EXPECT_EQ(in_region[1].count(n), 0u) << "node " << n;
  for (const auto& [a, b] : partner) {
    EXPECT_EQ(in_region[0].count(a), 1u);
    EXPECT_EQ(in_region[1].count(b), 1u);
  }

  // The graphics file leaves the interface wedges out.
  const mgn_run_result vtk = mgn_run_program(
      {"-i", kModels + "/interface_boxes.mgn", "-u", "0.25", "-x", "mesh.vtk", "-y", "3"}, m.dir);
  ASSERT_EQ(vtk.status, 0) << vtk.err;
  const std::string text = mgn_read_file(m.dir + "/mesh.vtk");
  const long cells = m.mesh.counts[1] + m.mesh.counts[2] + m.mesh.counts[4];
  EXPECT_TRUE(contains(text, "\nCELLS " + std::to_string(cells) + " ")) << text.substr(0, 200);
  EXPECT_FALSE(contains(text, "\n13\n"));  // no wedge cell type
}

// Two square patches at one place, each with its own loop, glued by a
// patch interface: one wedge over each pair of triangles.
TEST(InterfaceMesh, PatchesGluedByInterface) {
  std::string model;
  for (int copy : {0, 10}) {
    const double corners[4][2] = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    for (int k = 0; k < 4; ++k)
      model += "vertex " + std::to_string(copy + k + 1) + " xyz " + std::to_string(corners[k][0]) + " " +
               std::to_string(corners[k][1]) + " 0\n";
    for (int k = 0; k < 4; ++k)
      model += "curve " + std::to_string(copy + k + 1) + " vertex " + std::to_string(copy + k + 1) + " " +
               std::to_string(copy + (k + 1) % 4 + 1) + "\n";
    model += "patch " + std::to_string(copy / 10 + 1) + " normal 0 0 1 boundary curve " + std::to_string(copy + 1) +
             " " + std::to_string(copy + 2) + " " + std::to_string(copy + 3) + " " + std::to_string(copy + 4) + "\n";
  }
  model += "interface 4 type patch 1 2\n";
  const meshed m = mesh_model(model, {"-u", "1"}, false);
  ASSERT_EQ(m.run.status, 0) << m.run.err;
  EXPECT_EQ(mgn_check_mesh_file(m.mesh), "");
  const auto wedges = interface_elements(m.mesh, WEDGES);
  ASSERT_GT(wedges.size(), 0u);
  EXPECT_EQ(2 * wedges.size(), m.mesh.sections[TRIAS].size());
  std::map<long, long> partner;
  expect_paired(m.mesh, wedges, partner);
  EXPECT_EQ(2 * partner.size(), m.mesh.nodes.size());
}

const char* const kTwoLines = R"(
vertex 1 xyz 0 0 0
vertex 2 xyz 10 0 0
vertex 3 xyz 10 0 0
curve 1 vertex 1 2
curve 2 vertex 1 3
)";

TEST(InterfaceMesh, ElementFreeDegeneratedUndetachedAndMismatched) {
  // Element free: no interface elements, the nodes stay paired only.
  meshed m = mesh_model(std::string(kTwoLines) + "vertex 4 xyz 0 0 0\ncurve 3 vertex 4 3\n" +
                            "interface 1 type curve 2 3 elemfree\n",
                        {"-u", "2.5"}, false);
  ASSERT_EQ(m.run.status, 0) << m.run.err;
  for (const auto& section : m.mesh.sections)
    for (const auto& e : section) EXPECT_NE(e.key, 7);

  // Curves that meet at one end (the front of a crack): a warning, and the
  // quad at the shared end has that node twice.
  m = mesh_model(std::string(kTwoLines) + "interface 1 type curve 1 2\n", {"-u", "2.5"}, false);
  ASSERT_EQ(m.run.status, 0) << m.run.err;
  EXPECT_TRUE(contains(m.run.err, "Warning: Interface 1 is degenerated\n")) << m.run.err;
  const auto quads = interface_elements(m.mesh, QUADS);
  ASSERT_EQ(quads.size(), 4u);
  int with_shared_node = 0;
  for (const auto& q : quads) with_shared_node += q.nodes[0] == q.nodes[3] || q.nodes[1] == q.nodes[2];
  EXPECT_EQ(with_shared_node, 1);
  EXPECT_EQ(interface_elements(m.mesh, EDGES).size(), 4u);  // no edge from the shared node to itself

  // Curves sharing both vertices, one edge each: nothing is detached.
  m = mesh_model("vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\ncurve 1 vertex 1 2\ncurve 2 vertex 1 2\n"
                 "interface 7 type curve 1 2\n",
                 {"-u", "5"}, false);
  EXPECT_EQ(m.run.status, 10);
  EXPECT_TRUE(contains(m.run.err, "Interface 7 is not formed by fully detached entities\n")) << m.run.err;

  // Coincident curves meshed otherwise (a vertex fixed on one of them):
  // their nodes cannot pair.
  m = mesh_model("vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 0 0 0\nvertex 4 xyz 10 0 0\n"
                 "curve 1 vertex 1 2\ncurve 2 vertex 3 4\nvertex 5 fixed curve 2 t 0.33\n"
                 "interface 3 type curve 1 2\n",
                 {"-u", "2.5"}, false);
  EXPECT_EQ(m.run.status, 10);
  EXPECT_TRUE(contains(m.run.err, "Meshes of the entities of interface 3 do not match\n")) << m.run.err;
}

// Two squares meshed on their own, their coincident sides a master and a
// slave curve: one node per place, the slave curve's edges gone, and every
// side between the squares used by two triangles.
TEST(MasterSlave, SlaveCurveMergesIntoMasterCurve) {
  for (const char* degree : {"1", "2"}) {
    SCOPED_TRACE(degree);
    const meshed m = mesh_model(kModels + "/master_slave_squares.mgn", {"-u", "2.5", "-k", degree}, true);
    ASSERT_EQ(m.run.status, 0) << m.run.err;
    ASSERT_EQ(m.mesh.error, "");
    EXPECT_EQ(mgn_check_mesh_file(m.mesh), "");
    std::set<std::vector<double>> places;
    for (const auto& n : m.mesh.nodes) places.insert({n.xyz[0], n.xyz[1], n.xyz[2]});
    EXPECT_EQ(places.size(), m.mesh.nodes.size());
    // Seven curves of four edges are output; the slave's duplicate the
    // master's and are dropped.
    EXPECT_EQ(m.mesh.counts[1], 28);
    for (const auto& e : m.mesh.sections[EDGES]) EXPECT_NE(e.entity, 6);
    std::map<std::pair<long, long>, int> uses;
    for (const auto& t : m.mesh.sections[TRIAS])
      for (int k = 0; k < 3; ++k) {
        long a = t.nodes[k], b = t.nodes[(k + 1) % 3];
        ++uses[{std::min(a, b), std::max(a, b)}];
      }
    int on_boundary = 0;
    for (const auto& [side, count] : uses) {
      EXPECT_LE(count, 2);
      on_boundary += count == 1;
    }
    EXPECT_EQ(on_boundary, 24);  // the outline of the 20 x 10 rectangle
  }
}

// A slave curve that lies on half of its master: the nodes of the common
// half merge, the rest of the slave stays, linear and quadratic.
TEST(MasterSlave, SlaveCurveOverlappingHalfOfItsMaster) {
  for (const char* degree : {"1", "2"}) {
    SCOPED_TRACE(degree);
    const meshed m = mesh_model("vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 5 0 0\nvertex 4 xyz 15 0 0\n"
                                "curve 1 vertex 1 2 master\ncurve 2 vertex 3 4 slave\n",
                                {"-u", "2.5", "-k", degree}, false);
    ASSERT_EQ(m.run.status, 0) << m.run.err;
    EXPECT_EQ(mgn_check_mesh_file(m.mesh), "");
    EXPECT_EQ(m.mesh.counts[1], 6);  // four master edges, two left of the slave
    std::set<std::vector<double>> places;
    for (const auto& n : m.mesh.nodes) places.insert({n.xyz[0], n.xyz[1], n.xyz[2]});
    EXPECT_EQ(places.size(), m.mesh.nodes.size());
  }
}

TEST(MasterSlave, SlaveVertexTakesTheMasterNode) {
  const meshed m = mesh_model("vertex 1 xyz 0 0 0 output yes master\nvertex 2 xyz 0 0 0 slave\n"
                              "vertex 3 xyz 1 0 0 slave\n",
                              {"-u", "1"}, false);
  ASSERT_EQ(m.run.status, 0) << m.run.err;
  // The slave at the master's place merges; the other has no master and
  // stays a node.
  ASSERT_EQ(m.mesh.nodes.size(), 2u);
  EXPECT_EQ(m.mesh.nodes[0].xyz[0] + m.mesh.nodes[1].xyz[0], 1.0);
}

}  // namespace
