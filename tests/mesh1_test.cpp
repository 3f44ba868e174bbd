// The mesh seen from the model: the parameter of a node on a curve in each
// way the records tell it, the closest-point fallback, and the two meanings
// of the node of a vertex.
#include "mesh1.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "curve.h"
#include "discret.h"
#include "element.h"
#include "model_fixture.h"
#include "octree1.h"
#include "vertex.h"

namespace {

// A straight curve 1 along x from 0 to 10 with vertex 3 fixed at t = 0.3,
// and curve 2 from vertex 3 to vertex 4 (t = 0.7) fixed on it, meshed with
// edges of length 1; curve 5 elsewhere.
class NodeCurveParameterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mgn_reset_model_settings();
    mgn_set.uniform_size = 1.0;
    mgn_read_model_text(
        "vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\ncurve 1 vertex 1 2\n"
        "vertex 3 fixed curve 1 t 0.3\nvertex 4 fixed curve 1 t 0.7\n"
        "curve 2 vertex 3 4 fixed curve 1\n"
        "vertex 5 xyz 0 5 0\nvertex 6 xyz 10 5 0\ncurve 5 vertex 5 6\n");
    mgn_build_octree();
    mgn_discretize_model();
  }
  // The node of curve 1 at x.
  static const mgn_node* node_at(double x) {
    const mgn_curve* c = mgn_find_curve(1);
    for (mgn_node** ref : mgn_listing_first<mgn_node*>(c->mesh.nodes, c->mesh.node_count))
      if (std::fabs((*ref)->xyz[0] - x) < 1e-9) return *ref;
    return nullptr;
  }
};

TEST_F(NodeCurveParameterTest, RecordsTellTheParameterOnEveryCurveOfTheFamily) {
  mgn_curve* parent = mgn_find_curve(1);
  mgn_curve* child = mgn_find_curve(2);
  struct parameter_case {
    const char* what;
    const mgn_curve* curve;
    const mgn_node* node;
    double t;
  };
  const parameter_case cases[] = {
      {"own node", parent, node_at(5.0), 0.5},
      {"parent node seen from the fixed curve", child, node_at(5.0), 0.5},
      {"start vertex", parent, mgn_find_vertex_node(mgn_find_vertex(1)), 0.0},
      {"end vertex", parent, mgn_find_vertex_node(mgn_find_vertex(2)), 1.0},
      {"fixed vertex on the parent", parent, mgn_find_vertex_node(mgn_find_vertex(3)), 0.3},
      {"same vertex ending the fixed curve", child, mgn_find_vertex_node(mgn_find_vertex(3)), 0.0},
  };
  for (const parameter_case& c : cases) {
    ASSERT_NE(c.node, nullptr) << c.what;
    double t = -1.0;
    EXPECT_TRUE(mgn_find_node_curve_parameter(c.curve, c.node, &t)) << c.what;
    EXPECT_NEAR(t, c.t, 1e-12) << c.what;
    EXPECT_EQ(mgn_get_node_curve_parameter(c.curve, c.node), t) << c.what;
  }
}

TEST_F(NodeCurveParameterTest, NodeOfAnotherCurveFallsBackToTheClosestPoint) {
  const mgn_curve* other = mgn_find_curve(5);
  const mgn_node* node = node_at(8.0);
  ASSERT_NE(node, nullptr);
  double t = -1.0;
  EXPECT_FALSE(mgn_find_node_curve_parameter(other, node, &t));
  EXPECT_NEAR(mgn_get_node_curve_parameter(other, node), 0.8, 1e-9);
}

TEST(VertexNode, SharedNodeAndNodeUpTheChainAreTwoMeanings) {
  // A physical vertex with a node and a virtual vertex fixed to it: the
  // virtual one is its own representative and shares no node, while the
  // chain of parent vertices reaches the parent's node.
  mgn_vertex parent{};
  mgn_vertex child{};
  child.parent_vertex = &parent;
  child.is_virtual = true;
  mgn_node node{};
  parent.mesh.node = &node;
  EXPECT_EQ(mgn_get_vertex_representative(&child), &child);
  EXPECT_EQ(mgn_find_vertex_node(&child), nullptr);
  EXPECT_EQ(mgn_find_vertex_chain_node(&child), &node);
  EXPECT_EQ(mgn_find_vertex_node(nullptr), nullptr);
  // A physical child shares its parent's node both ways.
  child.is_virtual = false;
  EXPECT_EQ(mgn_find_vertex_node(&child), &node);
  EXPECT_EQ(mgn_find_vertex_chain_node(&child), &node);
}

}  // namespace
