// Mesh file: byte-exact content of small hand-built meshes, node data,
// quadratic elements, boundary associations, the partial output and the
// failures of opening and writing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "element.h"
#include "list.h"
#include "message.h"
#include "output.h"
#include "renum.h"
#include "support.h"

namespace {

// A straight curve 5 (property 3) from vertex 1 to vertex 2, meshed with two
// edges through a curve node at its middle.
class MeshFile : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = mgn_set;
    mgn_reset_mesh_store();
    mgn_create_mesh_store(2);
    mgn_set.renumbering_type = 0;
    mgn_set.output_spec = 0;
    mgn_set.element_degree = 1;
    mgn_set.quad_hexa_support = true;
    mgn_set.numbering_shift = {0, 0};
    dir_ = mgn_temp_dir();
    mgn_set.output_file_name = dir_ + "/mesh.out";
    v1_.id = 1;
    v2_.id = 2;
    curve_.id = 5;
    curve_.property = 3;
    curve_.vertex[0] = &v1_;
    curve_.vertex[1] = &v2_;
    curve_.straight = true;
    curve_.direction[0] = 1.0;
  }
  void TearDown() override {
    mgn_reset_mesh_store();
    mgn_set = saved_;
  }
  // The wire mesh with its nodes and edges in the finite-element listings.
  void build_wire() {
    const double a[3] = {0, 0, 0}, b[3] = {2, 0, 0}, m[3] = {1, 0, 0};
    const double t = 0.5;
    n1_ = mgn_create_node(a, nullptr, MGN_VERTEX, &v1_, &mgn_mesh.fe_nodes);
    n2_ = mgn_create_node(b, nullptr, MGN_VERTEX, &v2_, &mgn_mesh.fe_nodes);
    nm_ = mgn_create_node(m, &t, MGN_CURVE, &curve_, &mgn_mesh.fe_nodes);
    e1_ = mgn_create_edge(n1_, nm_, MGN_CURVE, &curve_, &mgn_mesh.fe_edges);
    e2_ = mgn_create_edge(nm_, n2_, MGN_CURVE, &curve_, &mgn_mesh.fe_edges);
  }
  std::string write() {
    ::testing::internal::CaptureStdout();
    mgn_renumber_mesh();
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(mgn_store_mesh_on_file(), 1);
    return mgn_read_file(mgn_set.output_file_name);
  }
  mgn_settings saved_;
  std::string dir_;
  mgn_vertex v1_, v2_;
  mgn_curve curve_;
  mgn_node *n1_ = nullptr, *n2_ = nullptr, *nm_ = nullptr;
  mgn_edge *e1_ = nullptr, *e2_ = nullptr;
};

const std::string wire_nodes =
    "         1  0.0000000e+00  0.0000000e+00  0.0000000e+00    1         1         0\n"
    "         2  2.0000000e+00  0.0000000e+00  0.0000000e+00    1         2         0\n"
    "         3  1.0000000e+00  0.0000000e+00  0.0000000e+00    2         5         3\n"
    "\n";
const std::string wire_edges =
    "         1         1         3    2         5         3\n"
    "         2         3         2    2         5         3\n"
    "\n";

TEST_F(MeshFile, WireMeshMixedType) {
  build_wire();
  EXPECT_EQ(write(),
            "         7         1         0         0\n"
            "         3         2         0         0         0         0         0         0\n"
            "\n" +
                wire_nodes + wire_edges);
}

TEST_F(MeshFile, WithoutQuadHexaSupportTheMeshIsTriTetra) {
  mgn_set.quad_hexa_support = false;
  build_wire();
  EXPECT_EQ(write(),
            "         3         1         0         0\n"
            "         3         2         0         0\n"
            "\n" +
                wire_nodes + wire_edges);
}

TEST_F(MeshFile, FastRenumberingBitIsClearedInTheHeader) {
  mgn_set.renumbering_type = 5;
  build_wire();
  std::string text = write();
  EXPECT_EQ(text.substr(0, 41), "         7         1         1         0\n");
}

TEST_F(MeshFile, CurveNodeDataTangentThenParameter) {
  mgn_set.output_spec = 3;
  build_wire();
  EXPECT_EQ(write(),
            "         7         1         0         3\n"
            "         3         2         0         0         0         0         0         0\n"
            "\n"
            "         1  0.0000000e+00  0.0000000e+00  0.0000000e+00    1         1         0\n"
            "         2  2.0000000e+00  0.0000000e+00  0.0000000e+00    1         2         0\n"
            "         3  1.0000000e+00  0.0000000e+00  0.0000000e+00    2         5         3"
            "       1.000000  0.000000  0.000000       0.500000\n"
            "\n" +
                wire_edges);
}

TEST_F(MeshFile, RenumberedNodesAreWrittenInNewOrderWithShifts) {
  mgn_set.renumbering_type = 1;
  mgn_set.numbering_shift = {100, 1000};
  build_wire();
  std::string text = write();
  // The path 1 - 3 - 2 of the listing is renumbered from one end.
  const std::string nodes_101_to_103 =
      "       101  0.0000000e+00  0.0000000e+00  0.0000000e+00    1         1         0\n"
      "       102  1.0000000e+00  0.0000000e+00  0.0000000e+00    2         5         3\n"
      "       103  2.0000000e+00  0.0000000e+00  0.0000000e+00    1         2         0\n";
  const std::string reversed =
      "       101  2.0000000e+00  0.0000000e+00  0.0000000e+00    1         2         0\n"
      "       102  1.0000000e+00  0.0000000e+00  0.0000000e+00    2         5         3\n"
      "       103  0.0000000e+00  0.0000000e+00  0.0000000e+00    1         1         0\n";
  EXPECT_TRUE(text.find(nodes_101_to_103) != std::string::npos || text.find(reversed) != std::string::npos)
      << text;
  EXPECT_NE(text.find("\n      1001       "), std::string::npos);
  EXPECT_NE(text.find("\n      1002       "), std::string::npos);
  EXPECT_NE(text.find("         3         2         0"), std::string::npos);  // counts unshifted
}

TEST_F(MeshFile, QuadraticEdgesCarryTheirMidsideNode) {
  mgn_set.element_degree = 2;
  build_wire();
  mgn_create_midnode(e1_);
  mgn_create_midnode(e2_);
  mgn_mesh.fe_nodes = mgn_append_listing(mgn_mesh.fe_nodes, mgn_get_first_listing_block(mgn_mesh.midnodes));
  mgn_mesh.midnodes = nullptr;
  EXPECT_EQ(write(),
            "         7         2         0         0\n"
            "         5         2         0         0         0         0         0         0\n"
            "\n" +
                wire_nodes.substr(0, wire_nodes.size() - 1) +
                "         4  5.0000000e-01  0.0000000e+00  0.0000000e+00    2         5         3\n"
                "         5  1.5000000e+00  0.0000000e+00  0.0000000e+00    2         5         3\n"
                "\n"
                "         1         1         3         4    2         5         3\n"
                "         2         3         2         5    2         5         3\n"
                "\n");
}

TEST_F(MeshFile, TetraLineHasEightFieldsAndBoundaryZeros) {
  mgn_region region;
  region.id = 9;
  region.property = 2;
  mgn_node* n[4];
  const double p[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -1.5}};
  for (int i = 0; i < 4; ++i) n[i] = mgn_create_node(p[i], nullptr, MGN_REGION, &region, &mgn_mesh.fe_nodes);
  mgn_create_tetra(n[0], n[1], n[2], n[3], &region, &mgn_mesh.fe_tetras);
  std::string text = write();
  EXPECT_EQ(text,
            "         7         1         0         0\n"
            "         4         0         0         0         1         0         0         0\n"
            "\n"
            "         1  0.0000000e+00  0.0000000e+00  0.0000000e+00    4         9         2\n"
            "         2  1.0000000e+00  0.0000000e+00  0.0000000e+00    4         9         2\n"
            "         3  0.0000000e+00  1.0000000e+00  0.0000000e+00    4         9         2\n"
            "         4  0.0000000e+00  0.0000000e+00 -1.5000000e+00    4         9         2\n"
            "\n"
            "         1         1         2         3         4    4         9         2\n"
            "\n");
  // With boundary entities, a tetra on no surface writes zeros for the
  // identifier, key and property of every face.
  mgn_set.output_spec = 8;
  text = write();
  EXPECT_NE(text.find("         1         1         2         3         4    4         9         2"
                      "         0         0         0         0    0    0    0    0"
                      "         0         0         0         0\n"),
            std::string::npos)
      << text;
}

TEST_F(MeshFile, BoundaryAssociationOfACurve) {
  mgn_set.output_spec = 16;
  build_wire();
  mgn_add_item_to_head(mgn_model.curves.list, &curve_);
  std::string text = write();
  mgn_destroy_list(mgn_model.curves.list);
  EXPECT_EQ(text,
            "         7         1         0        16\n"
            "         3         2         0         0         0         0         0         0\n"
            "\n" +
                wire_nodes + wire_edges +
                "         1         0         0         0\n"
                "\n"
                "         2         5         3         2\n"
                "         0\n"
                "         0\n"
                "\n");
  // Without its association request the curve is not listed.
  curve_.bassoc = false;
  mgn_add_item_to_head(mgn_model.curves.list, &curve_);
  text = write();
  mgn_destroy_list(mgn_model.curves.list);
  EXPECT_NE(text.find(wire_edges + "         0         0         0         0\n\n"), std::string::npos) << text;
}

TEST_F(MeshFile, NoFileWithoutName) {
  mgn_set.output_file_name.clear();
  build_wire();
  EXPECT_EQ(mgn_store_mesh_on_file(), 0);
}

TEST_F(MeshFile, OpeningFailureIsAFileError) {
  mgn_set.output_file_name = dir_ + "/missing/mesh.out";
  build_wire();
  EXPECT_EXIT(mgn_store_mesh_on_file(), ::testing::ExitedWithCode(20), "Output file .*/missing/mesh.out opening error");
}

TEST_F(MeshFile, FailedWriteIsAnOutputError) {
  mgn_set.output_file_name = "/dev/full";
  build_wire();
  mgn_renumber_mesh();
  EXPECT_EXIT(mgn_store_mesh_on_file(), ::testing::ExitedWithCode(30), "Output error \\(file /dev/full, line [0-9]+\\)");
}

TEST_F(MeshFile, PartialOutputCollectsNotedCurvesWithTheirVertexNodes) {
  mgn_set.output_spec = 3;       // forced to 0
  mgn_set.renumbering_type = 1;  // forced to 0
  const double a[3] = {0, 0, 0}, b[3] = {2, 0, 0}, m[3] = {1, 0, 0};
  const double t = 0.5;
  // The curve is finished but not collected; its end nodes belong to the
  // vertices.
  v1_.mesh.node = mgn_create_node(a, nullptr, MGN_VERTEX, &v1_, nullptr);
  v2_.mesh.node = mgn_create_node(b, nullptr, MGN_VERTEX, &v2_, nullptr);
  mgn_node* mid = mgn_create_node(m, &t, MGN_CURVE, &curve_, &curve_.mesh.nodes);
  mgn_create_edge(v1_.mesh.node, mid, MGN_CURVE, &curve_, &curve_.mesh.edges);
  mgn_create_edge(mid, v2_.mesh.node, MGN_CURVE, &curve_, &curve_.mesh.edges);
  mgn_noted = mgn_noted_records{};
  mgn_note_partial_curve(&curve_);
  EXPECT_TRUE(mgn_write_partial_mesh());
  mgn_destroy_list(mgn_noted.curves);
  EXPECT_EQ(mgn_read_file(mgn_set.output_file_name),
            "         7         1         0         0\n"
            "         3         2         0         0         0         0         0         0\n"
            "\n"
            "         1  1.0000000e+00  0.0000000e+00  0.0000000e+00    2         5         3\n"
            "         2  0.0000000e+00  0.0000000e+00  0.0000000e+00    1         1         0\n"
            "         3  2.0000000e+00  0.0000000e+00  0.0000000e+00    1         2         0\n"
            "\n"
            "         1         2         1    2         5         3\n"
            "         2         1         3    2         5         3\n"
            "\n");
  EXPECT_TRUE(curve_.mesh.collected);
}

TEST_F(MeshFile, PartialOutputNeedsAStartedMesh) {
  mgn_reset_mesh_store();
  EXPECT_FALSE(mgn_write_partial_mesh());
}

TEST_F(MeshFile, HooksAreInstalledAndIdentifiersRestored) {
  mgn_init_mesh_output();
  EXPECT_NE(mgn_terminate_hook.write_partial_mesh, nullptr);
  ASSERT_NE(mgn_terminate_hook.restore_entity_ids, nullptr);
  curve_.id = -5;
  v1_.id = -1;
  mgn_add_item_to_head(mgn_model.curves.list, &curve_);
  mgn_add_item_to_head(mgn_model.vertices.list, &v1_);
  mgn_terminate_hook.restore_entity_ids();
  mgn_destroy_list(mgn_model.curves.list);
  mgn_destroy_list(mgn_model.vertices.list);
  EXPECT_EQ(curve_.id, 5);
  EXPECT_EQ(v1_.id, 1);
  mgn_terminate_hook = mgn_terminate_hooks{};
}

}  // namespace

namespace {

// The program's mesh file for a small model against files derived by hand
// from the format: field widths, blanks, node data, empty lines, the
// boundary-association section, the type 3 form and quadratic edges.
TEST(MeshFileOfTheProgram, MatchesTheHandDerivedFiles) {
  struct Case {
    std::vector<std::string> options;
    const char* expected;  // file in the test models
  };
  const Case cases[] = {
      {{"-u", "1", "-p", "19"}, "two_lines_mesh.txt"},
      {{"-u", "1", "-H", "-k", "2"}, "two_lines_quadratic_mesh.txt"},
  };
  const std::string models = MGN_TEST_MODELS;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    const std::string dir = mgn_temp_dir();
    std::vector<std::string> args = {"-i", models + "/two_lines.mgn", "-o", "mesh.out"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const mgn_run_result r = mgn_run_program(args, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string expected = mgn_read_file(models + "/" + c.expected);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(mgn_read_file(dir + "/mesh.out"), expected);
  }
}

}  // namespace
