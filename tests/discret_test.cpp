// Meshing driver: a wire model end to end with its finite-element counts,
// the vertex entry rules, output requests, the interface warning, midside
// nodes, nodes shared through collapsed curves, and the collection of the
// finished curves on the fatal-error path with the partial mesh file.
#include "discret.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "curve.h"
#include "element.h"
#include "interface.h"
#include "list.h"
#include "message.h"
#include "model_fixture.h"
#include "octree1.h"
#include "output.h"
#include "vertex.h"

namespace {

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }

  // Reads the model, builds the octree and runs the driver; returns what the
  // driver printed on standard output.
  static std::string mesh(const std::string& text) {
    mgn_read_model_text(text);
    mgn_build_octree();
    testing::internal::CaptureStdout();
    mgn_discretize_model();
    return testing::internal::GetCapturedStdout();
  }

  // The distinct references of a global listing, in order; duplicates are
  // counted.
  template <typename T>
  static std::vector<T*> global(mgn_listing* listing, long* duplicates = nullptr) {
    std::vector<T*> out;
    std::set<T*> seen;
    long dup = 0;
    for (T** ref : mgn_listing_range<T*>(mgn_get_first_listing_block(listing))) {
      if (seen.insert(*ref).second) {
        out.push_back(*ref);
      } else {
        ++dup;
      }
    }
    if (duplicates != nullptr) *duplicates = dup;
    return out;
  }

  // Every finite-element edge has its nodes (and midside node) among the
  // finite-element nodes; the counters match the listings.
  static void expect_consistent_mesh() {
    long duplicates = 0;
    const std::vector<mgn_node*> nodes = global<mgn_node>(mgn_mesh.fe_nodes, &duplicates);
    EXPECT_EQ(duplicates, 0);
    const std::vector<mgn_edge*> edges = global<mgn_edge>(mgn_mesh.fe_edges);
    EXPECT_EQ(mgn_run.nodes.fe, static_cast<long>(nodes.size()));
    EXPECT_EQ(mgn_run.edges.fe, static_cast<long>(edges.size()));
    const std::set<mgn_node*> node_set(nodes.begin(), nodes.end());
    for (const mgn_edge* edge : edges) {
      EXPECT_TRUE(node_set.count(edge->n[0]) && node_set.count(edge->n[1])) << "edge " << edge->id;
      if (mgn_edge_mid(edge) != nullptr) {
        EXPECT_TRUE(node_set.count(mgn_edge_mid(edge))) << "edge " << edge->id;
      }
    }
  }

  static std::vector<mgn_edge*> edges_of(const mgn_curve* curve) {
    std::vector<mgn_edge*> out;
    for (mgn_edge** ref : mgn_listing_range<mgn_edge*>(curve->mesh.edges)) {
      if (static_cast<long>(out.size()) >= curve->mesh.edge_count) break;
      out.push_back(*ref);
    }
    return out;
  }
};

TEST_F(DriverTest, WireModelGetsAConsistentMeshWithItsCounts) {
  mgn_read_model_text(mgn_read_file(MGN_EXAMPLES "/wire.mgn"));
  mgn_build_octree();
  testing::internal::CaptureStdout();
  mgn_discretize_model();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Curves discretized       "), std::string::npos);
  EXPECT_EQ(out.find("Vertices discretized"), std::string::npos);
  EXPECT_EQ(out.find("Surfaces discretized"), std::string::npos);
  EXPECT_FALSE(mgn_run.discretization_under_way);
  // No regions: none of their listings.
  EXPECT_EQ(mgn_discret.association_cells, nullptr);
  EXPECT_EQ(mgn_discret.region_cells, nullptr);
  EXPECT_EQ(out.find("Regions discretized"), std::string::npos);

  long curve_edges = 0, curve_nodes = 0;
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list)) {
    SCOPED_TRACE(curve->id);
    EXPECT_TRUE(curve->mesh.discretized);
    EXPECT_TRUE(curve->mesh.collected);
    const std::vector<mgn_edge*> edges = edges_of(curve);
    ASSERT_FALSE(edges.empty());
    // A chain of edges from the node of the first vertex to that of the last.
    EXPECT_EQ(edges.front()->n[0], curve->vertex[0]->mesh.node);
    EXPECT_EQ(edges.back()->n[1], curve->vertex[1]->mesh.node);
    for (std::size_t i = 1; i < edges.size(); ++i) EXPECT_EQ(edges[i]->n[0], edges[i - 1]->n[1]);
    EXPECT_EQ(curve->mesh.node_count, curve->mesh.edge_count - 1);
    curve_edges += curve->mesh.edge_count;
    curve_nodes += curve->mesh.node_count;
  }
  // Four vertices, each node once, all of them output.
  EXPECT_EQ(mgn_run.edges.fe, curve_edges);
  EXPECT_EQ(mgn_run.edges.total, curve_edges);
  EXPECT_EQ(mgn_run.nodes.fe, curve_nodes + 4);
  EXPECT_EQ(mgn_run.nodes.total, curve_nodes + 4);
  expect_consistent_mesh();
}

TEST_F(DriverTest, VerticesGetNodesOnlyWhenRequested) {
  struct Case {
    const char* name;
    const char* text;
    bool line;          // "Vertices discretized" printed
    long fe_nodes;
    bool master_slave;  // the master and slave pass runs
  };
  const Case cases[] = {
      {"plain vertex", "vertex 1 xyz 0 0 0\n", false, 0, false},
      {"output request", "vertex 1 xyz 0 0 0 output yes\n", true, 1, false},
      {"virtual vertex", "vertex 1 xyz 0 0 0 virtual output yes\nvertex 2 xyz 1 0 0\n", false, 0, false},
      {"slave vertex", "vertex 1 xyz 0 0 0 slave\n", true, 1, true},
      {"master vertex", "vertex 1 xyz 0 0 0 master\n", false, 0, false},
      {"fixed to a vertex", "vertex 1 xyz 0 0 0 output yes\nvertex 2 fixed vertex 1 output yes\n", true, 1,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mgn_reset_model_settings();
    const std::string out = mesh(c.text);
    EXPECT_EQ(out.find("Vertices discretized") != std::string::npos, c.line);
    EXPECT_EQ(mgn_run.nodes.fe, c.fe_nodes);
    EXPECT_EQ(mgn_discret.master_slave_present, c.master_slave);
    expect_consistent_mesh();
  }
  // A vertex fixed to another shares its node.
  EXPECT_EQ(mgn_find_vertex(2)->mesh.node, mgn_find_vertex(1)->mesh.node);
  EXPECT_EQ(mgn_run.nodes.total, 1);
}

TEST_F(DriverTest, CurveWithoutOutputLeavesItsRecordsOutOfTheMesh) {
  mgn_set.uniform_size = 1.0;
  mesh("vertex 1 xyz 0 0 0\nvertex 2 xyz 4 0 0\nvertex 3 xyz 4 3 0\n"
       "curve 1 vertex 1 2 output no\ncurve 2 vertex 2 3\n");
  const mgn_curve* hidden = mgn_find_curve(1);
  const mgn_curve* shown = mgn_find_curve(2);
  EXPECT_EQ(hidden->mesh.edge_count, 4);
  EXPECT_EQ(mgn_run.edges.fe, shown->mesh.edge_count);
  // The nodes of curve 2 with its two vertices; vertex 1 is on curve 1 only.
  EXPECT_EQ(mgn_run.nodes.fe, shown->mesh.node_count + 2);
  const std::vector<mgn_node*> nodes = global<mgn_node>(mgn_mesh.fe_nodes);
  EXPECT_EQ(std::count(nodes.begin(), nodes.end(), mgn_find_vertex(1)->mesh.node), 0);
  expect_consistent_mesh();
}

TEST_F(DriverTest, SlaveCurveNodesAreEnteredByTheMasterSlavePass) {
  mgn_set.uniform_size = 1.0;
  mesh("vertex 1 xyz 0 0 0\nvertex 2 xyz 4 0 0\ncurve 1 vertex 1 2 slave\n");
  EXPECT_TRUE(mgn_discret.master_slave_present);
  EXPECT_EQ(mgn_run.nodes.fe, 5);
  EXPECT_EQ(mgn_run.edges.fe, 4);
  expect_consistent_mesh();
}

TEST_F(DriverTest, InterfacesNeedQuadHexaSupport) {
  // Two vertices joined by a vertex interface (built as a record: the
  // interface line is read by the interface parser).
  const std::string text = "vertex 1 xyz 0 0 0 output yes\nvertex 2 xyz 0 0 0 output yes\n";
  for (bool support : {false, true}) {
    SCOPED_TRACE(support);
    mgn_reset_model_settings();
    mgn_set.quad_hexa_support = support;
    mgn_read_model_text(text);
    mgn_interface* interface = mgn_create_interface(1);
    interface->kind = MGN_VERTEX;
    interface->entity[0] = mgn_find_vertex(1);
    interface->entity[1] = mgn_find_vertex(2);
    mgn_add_interface_to_model(interface);
    mgn_build_octree();
    const long warnings = mgn_warning_count;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    mgn_discretize_model();
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    if (support) {
      EXPECT_EQ(err, "");
      EXPECT_EQ(mgn_warning_count, warnings);
    } else {
      EXPECT_EQ(err, "Warning: Discretization of interfaces ignored\n         due to the -H option\n");
      EXPECT_EQ(mgn_warning_count, warnings + 1);
    }
    // With the support the two vertex nodes are joined by one interface
    // edge; without it nothing joins them.
    EXPECT_EQ(mgn_run.edges.fe, support ? 1 : 0);
  }
}

TEST_F(DriverTest, QuadraticMeshGetsAMidsideNodePerEdge) {
  mgn_set.uniform_size = 1.0;
  mgn_set.element_degree = 2;
  mesh("vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\ncurve 1 vertex 1 2\n");
  const std::vector<mgn_edge*> edges = edges_of(mgn_find_curve(1));
  ASSERT_EQ(edges.size(), 10u);
  for (const mgn_edge* edge : edges) {
    ASSERT_NE(mgn_edge_mid(edge), nullptr);
    EXPECT_NEAR(mgn_edge_mid(edge)->xyz[0], 0.5 * (edge->n[0]->xyz[0] + edge->n[1]->xyz[0]), 1e-12);
  }
  EXPECT_EQ(mgn_mesh.midnode_count, 10);
  EXPECT_EQ(mgn_run.nodes.fe, 21);
  expect_consistent_mesh();
}

TEST_F(DriverTest, VerticesJoinedByACollapsedCurveShareOneNode) {
  // Vertices 2 and 3 lie at the place of the virtual vertex 1; the cubic
  // curve 1 between them is collapsed and not meshed on its own.
  mgn_set.uniform_size = 1.0;
  mesh("vertex 1 xyz 0 0 0 virtual\nvertex 2 fixed vertex 1\nvertex 3 fixed vertex 1\n"
       "vertex 4 xyz 3 0 0\nvertex 5 xyz 0 3 0\n"
       "curve 1 vertex 2 3 order 3\npolygon 1 xyz 0 0 0\n"
       "curve 2 vertex 2 4\ncurve 3 vertex 5 3\n");
  ASSERT_TRUE(mgn_find_curve(1)->collapsed);
  EXPECT_EQ(mgn_find_curve(1)->mesh.edge_count, 0);
  mgn_node* shared = mgn_find_vertex(2)->mesh.node;
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(mgn_find_vertex(3)->mesh.node, shared);
  EXPECT_EQ(mgn_find_curve(1)->mesh.node, shared);
  EXPECT_EQ(edges_of(mgn_find_curve(3)).back()->n[1], shared);
  // Two interior nodes on each of curves 2 and 3, the shared node, 4, 5.
  EXPECT_EQ(mgn_run.nodes.fe, 2 + 2 + 3);
  expect_consistent_mesh();
}

using DriverDeathTest = DriverTest;

TEST_F(DriverDeathTest, FatalErrorWritesTheFinishedCurvesAsPartialMesh) {
  // Curve 1 is meshed; curve 2 carries two vertices closer than the user
  // epsilon.  The partial mesh holds curve 1 with its vertices.
  const std::string dir = mgn_temp_dir();
  const std::string file = dir + "/partial.out";
  mgn_set.uniform_size = 1.0;
  mgn_set.output_file_name = file;
  mgn_read_model_text("vertex 1 xyz 0 0 0\nvertex 2 xyz 4 0 0\nvertex 3 xyz 4 5 0\n"
                      "curve 1 vertex 1 2\ncurve 2 vertex 2 3\n"
                      "vertex 4 fixed curve 2 t 0.5\nvertex 5 fixed curve 2 t 0.5000001\n");
  mgn_build_octree();
  EXPECT_EXIT(
      {
        mgn_init_mesh_output();
        mgn_discretize_model();
      },
      testing::ExitedWithCode(10),
      "Vertices 4 and 5 on curve 2 are too close to each other\n");
  const std::string written = mgn_read_file(file);
  ASSERT_FALSE(written.empty());
  // Header, then the counts: at least the 5 nodes and 4 edges of curve 1.
  std::istringstream in(written);
  long type, degree, renumbering, spec, nodes, edges;
  in >> type >> degree >> renumbering >> spec >> nodes >> edges;
  EXPECT_EQ(type, 7);
  EXPECT_GE(nodes, 5);
  EXPECT_GE(edges, 4);
}

}  // namespace
