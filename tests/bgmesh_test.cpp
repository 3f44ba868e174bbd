// The background mesh: the sizes its nodes and elements leave in the octree
// (at the nodes, linearly interpolated inside every kind of element, outside
// the root box, with the bg mesh size factor), the leniencies and the
// records of its file, every malformed file with its message, and whole runs
// of the program whose mesh edges are measured: near a refined corner of a
// cube, and in bands along fields given by an edge, triangles and tetras.
#include "bgmesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "message.h"
#include "model_fixture.h"
#include "octree.h"
#include "octree_check.h"
#include "support.h"

namespace {

class BgMeshTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mgn_set = mgn_settings{};
    mgn_tol = mgn_tolerances{};
    mgn_warning_count = 0;
    dir_ = mgn_temp_dir();
  }

  // A root over [0, extent]^3 (R = extent).
  static void root(double extent) {
    const double lo[3] = {0.0, 0.0, 0.0};
    const double hi[3] = {extent, extent, extent};
    mgn_create_root_octant(lo, hi);
  }

  // Writes a file of the test directory and returns its path.
  std::string write(const std::string& name, const std::string& text) const {
    const std::string path = dir_ + "/" + name;
    mgn_write_file(path, text);
    return path;
  }

  // Names the text as the background mesh and refines the octree by it.
  void read(const std::string& text) {
    mgn_set.bg_mesh_file_name = write("bg.bgm", text);
    mgn_build_octree_bg_mesh();
  }

  std::string dir_;
};

double size_at(double x, double y, double z) {
  const double p[3] = {x, y, z};
  mgn_octant* hint = nullptr;
  return mgn_get_octree_mesh_size(&hint, p, false);
}

// --- sizes in the octree ------------------------------------------------------

// The size at a node is its requested size times the bg mesh size factor; a
// node of size 0 requests nothing.
TEST_F(BgMeshTest, NodesRefineTheOctreeToTheirSizesTimesTheFactor) {
  struct node_case {
    double factor;
    double size;
    double expected;
  };
  for (const node_case& c : {node_case{1.0, 0.1, 0.1}, node_case{2.0, 0.1, 0.2}, node_case{0.5, 0.3, 0.15},
                             node_case{1.0, 0.37, 0.37}}) {
    SCOPED_TRACE(c.factor);
    mgn_set.bg_size_factor = c.factor;
    root(10.0);
    read(mgn_format("3 1\n2 0 0 0\n1 2 3 4 %g\n2 7.5 6 1 %g\n", c.size, c.size));
    EXPECT_NEAR(size_at(2, 3, 4), c.expected, 1e-6 * c.expected);
    EXPECT_NEAR(size_at(7.5, 6, 1), c.expected, 1e-6 * c.expected);
    EXPECT_GT(size_at(9, 9, 9), 5.0 * c.expected);  // far from both nodes
    EXPECT_TRUE(octree_invariants_hold());
  }
}

TEST_F(BgMeshTest, NodeOfSizeZeroRequestsNothing) {
  root(10.0);
  read("3 1\n1 0 0 0\n1 2 3 4 0\n");
  EXPECT_EQ(mgn_tree.octant_count, 1);
  EXPECT_FLOAT_EQ(size_at(2, 3, 4), 0.85 * 10.0);
}

// With the factor 0, or without a file name, no file is read (the named one
// does not exist).
TEST_F(BgMeshTest, FactorZeroOrNoNameReadsNothing) {
  root(10.0);
  mgn_set.bg_size_factor = 0.0;
  mgn_set.bg_mesh_file_name = dir_ + "/missing.bgm";
  mgn_build_octree_bg_mesh();
  mgn_set.bg_size_factor = 1.0;
  mgn_set.bg_mesh_file_name.clear();
  mgn_build_octree_bg_mesh();
  EXPECT_EQ(mgn_tree.octant_count, 1);
}

// The sizes of an element vary linearly between its nodes.  Every element
// kind carries the linear field s = 0.1 + 0.08 x (its node sizes are the
// field at the nodes), so the octree must answer that field at every point
// inside it: sampled at random convex combinations of the corners.  The
// octree lowers each octant corner to the smallest size sampled near it,
// which leaves the answers somewhat below the field; only the corners on
// the side of a sample are lowered, which leaves points beside an edge or
// a triangle somewhat above it.
struct element_case {
  const char* name;
  std::string elements;  // counts of type 7 after the node count, then the element records
  std::vector<std::array<double, 3>> corners;
};

void PrintTo(const element_case& c, std::ostream* os) { *os << c.name; }

class BgMeshElementTest : public BgMeshTest, public ::testing::WithParamInterface<element_case> {};

TEST_P(BgMeshElementTest, SizesFollowTheLinearInterpolationInside) {
  const element_case& c = GetParam();
  std::string text = mgn_format("7 1\n%zu %s\n", c.corners.size(), c.elements.substr(0, c.elements.find('\n')).c_str());
  for (std::size_t i = 0; i < c.corners.size(); ++i) {
    const auto& p = c.corners[i];
    text += mgn_format("%zu %g %g %g %.17g\n", i + 1, p[0], p[1], p[2], 0.1 + 0.08 * p[0]);
  }
  text += c.elements.substr(c.elements.find('\n') + 1);
  root(10.0);
  read(text);
  EXPECT_TRUE(octree_invariants_hold());

  std::mt19937 rng(7);
  std::exponential_distribution<double> weight(1.0);
  double sum = 0.0, lowest = 1e30, highest = 0.0;
  const int samples = 3000;
  for (int k = 0; k < samples; ++k) {
    std::vector<double> w(c.corners.size());
    double total = 0.0;
    for (double& v : w) total += v = weight(rng);
    double p[3] = {0.0, 0.0, 0.0};
    for (std::size_t i = 0; i < w.size(); ++i) {
      for (int a = 0; a < 3; ++a) p[a] += w[i] / total * c.corners[i][a];
    }
    const double ratio = size_at(p[0], p[1], p[2]) / (0.1 + 0.08 * p[0]);
    sum += ratio;
    lowest = std::min(lowest, ratio);
    highest = std::max(highest, ratio);
  }
  EXPECT_GT(lowest, 0.65);
  EXPECT_LT(highest, 1.3);
  EXPECT_GT(sum / samples, 0.8);
  EXPECT_LT(sum / samples, 1.05);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BgMeshElementTest,
    ::testing::Values(
        element_case{"edge", "1 0 0 0 0 0 0\n1 1 2\n", {{0.3, 0.2, 0.37}, {9.1, 7.7, 3.81}}},
        element_case{"tria", "0 1 0 0 0 0 0\n1 1 2 3\n", {{0.2, 0.3, 0.41}, {9.7, 0.6, 1.3}, {0.5, 9.2, 2.2}}},
        element_case{"quad",
                     "0 0 1 0 0 0 0\n1 1 2 3 4\n",
                     {{0.2, 0.3, 1.0}, {9.6, 0.5, 1.5}, {9.4, 9.2, 2.0}, {0.4, 9.7, 1.5}}},
        element_case{"tetra",
                     "0 0 0 1 0 0 0\n1 1 2 3 4\n",
                     {{0.2, 0.3, 0.41}, {9.7, 0.6, 1.3}, {0.5, 9.2, 2.2}, {3.0, 4.0, 9.0}}},
        element_case{"pyram",
                     "0 0 0 0 1 0 0\n1 1 2 3 4 5\n",
                     {{0.5, 0.5, 0.5}, {9.5, 0.5, 0.5}, {9.5, 9.5, 0.5}, {0.5, 9.5, 0.5}, {5.0, 5.0, 9.0}}},
        element_case{"wedge",
                     "0 0 0 0 0 1 0\n1 1 2 3 4 5 6\n",
                     {{0.5, 0.5, 0.5}, {9.5, 0.5, 0.5}, {0.5, 9.5, 0.5}, {0.5, 0.5, 9.5}, {9.5, 0.5, 9.5},
                      {0.5, 9.5, 9.5}}},
        element_case{"hexa",
                     "0 0 0 0 0 0 1\n1 1 2 3 4 5 6 7 8\n",
                     {{0.5, 0.5, 0.5}, {9.5, 0.5, 0.5}, {9.5, 9.5, 0.5}, {0.5, 9.5, 0.5}, {0.5, 0.5, 9.5},
                      {9.5, 0.5, 9.5}, {9.5, 9.5, 9.5}, {0.5, 9.5, 9.5}}}),
    [](const ::testing::TestParamInfo<element_case>& info) { return std::string(info.param.name); });

// A node outside the root box refines at its position moved onto the box,
// with its size grown by half the distance moved: here 0.05 / 0.85 + 0.1
// as corner value.
TEST_F(BgMeshTest, OutsideNodeRefinesOnTheRootBoxWithAGrownSize) {
  root(1.0);
  read("3 1\n1 0 0 0\n1 1.2 0.5 0.5 0.05\n");
  EXPECT_NEAR(size_at(1.0, 0.5, 0.5), 0.85 * (0.05 / 0.85 + 0.1), 1e-6);
  EXPECT_TRUE(octree_invariants_hold());
}

// Elements reaching far beyond the root box are split only where they
// come near it: a tetra around the root with its corners 10^12 root sizes
// away sizes the whole root; a tetra with a corner near the largest double
// next to the root, a tetra beside the root with its corners 10^300 away
// (it sizes nothing) and an edge from the root to there all end at once.
TEST_F(BgMeshTest, ElementsReachingFarOutsideTheRootEndAtOnce) {
  root(1.0);
  read("3 1\n12 1 0 3\n"
       // a needle: three corners in the root, one far below
       "1 0.1 0.1 0.1 0.1\n2 0.9 0.1 -1.7e308 0.2\n3 0.1 0.9 0.1 0.2\n4 0.1 0.1 0.9 0.2\n"
       // around the root: alternate corners of a cube
       "5 1e12 1e12 1e12 0.05\n6 1e12 -1e12 -1e12 0.05\n7 -1e12 1e12 -1e12 0.05\n8 -1e12 -1e12 1e12 0.05\n"
       // beside the root: the corner x + y + z >= 1e300 of a cube
       "9 1e300 1e300 1e300 0.01\n10 -1e300 1e300 1e300 0.01\n11 1e300 -1e300 1e300 0.01\n"
       "12 1e300 1e300 -1e300 0.01\n"
       "1 1 9\n"
       "1 1 2 3 4\n2 5 6 7 8\n3 9 10 11 12\n");
  for (double x : {0.0, 0.3, 0.5, 1.0}) EXPECT_NEAR(size_at(x, 1.0 - x, 0.7), 0.05, 1e-6) << x;
  EXPECT_TRUE(octree_invariants_hold());
}

TEST_F(BgMeshTest, TooFineNodeIsCoarsenedWithAWarning) {
  root(1.0);
  testing::internal::CaptureStderr();
  read("3 1\n1 0 0 0\n1 0.5 0.5 0.5 1e-20\n");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(mgn_warning_count, 1);
  const double reduced = 0.85 * 0.5 * mgn_tree.min_size;
  EXPECT_EQ(err, mgn_format("Warning: Too fine octree required at bg node 1\n"
                            "         Mesh size reduced to %e\n",
                            reduced));
  EXPECT_NEAR(size_at(0.5, 0.5, 0.5), reduced, 1e-6 * reduced);
}

// What the file may hold besides its records: comments, empty lines,
// leading blanks, line ends with carriage returns, fields after a record
// (the midside nodes of a quadratic mesh, remarks), a line of a megabyte,
// no line end at the end.
TEST_F(BgMeshTest, CommentsBlanksTrailingFieldsAndLongLinesAreRead) {
  root(10.0);
  testing::internal::CaptureStderr();
  read("# a quadratic edge with its midside node listed as a node\r\n"
       "\n"
       "   3 2\r\n"
       "\t3 1 0 0   # nodes edges trias tetras\n"
       "#\n"
       "1 1 1 1 0.2\n"
       "3 5 1 1 0.2 remark\n" +
       std::string(1 << 20, ' ') + "\n" +
       "  2 9 1 1 0.2" + std::string(1 << 20, ' ') + "\n" +
       "1 1 2 3");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning: Midside bg nodes ignored\n");
  EXPECT_EQ(mgn_warning_count, 1);
  for (double x : {1.0, 3.0, 5.0, 7.0, 9.0}) EXPECT_NEAR(size_at(x, 1, 1), 0.2, 0.05) << x;
}

// A mesh split into files: "0 k" names the files name.0 .. name.k-1, each a
// complete mesh with its own numbering.
TEST_F(BgMeshTest, MultiFileMeshReadsEveryPart) {
  root(10.0);
  write("parts.0", "3 1\n1 0 0 0\n1 2 2 2 0.1\n");
  write("parts.1", "# the second part\n4 1\n1 0 0 0\n1 8 8 8 0.3\n");
  mgn_set.bg_mesh_file_name = write("parts", "# two parts\n0 2\n");
  mgn_build_octree_bg_mesh();
  EXPECT_NEAR(size_at(2, 2, 2), 0.1, 1e-6);
  EXPECT_NEAR(size_at(8, 8, 8), 0.3, 1e-6);
}

// --- malformed files ------------------------------------------------------------

struct bad_file_case {
  const char* name;
  std::string text;
  long line;
  std::string message;
};

void PrintTo(const bad_file_case& c, std::ostream* os) { *os << c.name; }

class BgMeshBadFileTest : public BgMeshTest, public ::testing::WithParamInterface<bad_file_case> {};

TEST_P(BgMeshBadFileTest, EndsWithTheInputErrorOfItsLine) {
  const bad_file_case& c = GetParam();
  root(10.0);
  EXPECT_EXIT(read(c.text), ::testing::ExitedWithCode(25), mgn_input_error_regex(c.message, c.line));
}

const std::string kTwoNodes = "3 1\n2 1 0 0\n1 1 1 1 0.5\n2 2 2 2 0.5\n";
// Four nodes of a mixed mesh whose counts of triangles, quads and tetras are
// formatted in.
const std::string kFourNodes = "7 1\n4 0 %s 0 0 0\n1 1 1 1 0.5\n2 2 1 1 0.5\n3 1 2 1 0.5\n4 1 1 2 0.5\n";

INSTANTIATE_TEST_SUITE_P(
    Files, BgMeshBadFileTest,
    ::testing::Values(
        bad_file_case{"empty", "", 1, "Unexpected end of background mesh file encountered"},
        bad_file_case{"only_comments", "# nothing\n\n   # else\n", 4, "Unexpected end of background mesh file encountered"},
        bad_file_case{"first_record_not_a_number", "three 1\n", 1, "Invalid record in general section of bg mesh file"},
        bad_file_case{"binary_garbage", std::string("\x7f\x45\x4c\x46\x02\x01\x01\x00\x00\x00", 10) + "\n3 1\n", 1,
                      "Invalid record in general section of bg mesh file"},
        bad_file_case{"multi_file_without_count", "0\n", 1,
                      "Invalid record in general section of bg mesh file [0 num_files]"},
        bad_file_case{"multi_file_of_no_file", "0 0\n", 1,
                      "Invalid record in general section of bg mesh file [0 num_files]"},
        bad_file_case{"multi_file_count_too_large", "0 2147483648\n", 1,
                      "Invalid record in general section of bg mesh file [0 num_files]"},
        bad_file_case{"type_without_degree", "3\n", 1,
                      "Invalid record in general section of bg mesh file [mesh_type elem_degree]"},
        bad_file_case{"degree_three", "3 3\n", 1, "Unsupported element degree"},
        bad_file_case{"type_five", "5 1\n", 1, "Unknown mesh type"},
        bad_file_case{"counts_missing_one", "3 1\n2 0 0\n", 2,
                      "Invalid record in general section of bg mesh file [nodes edges trias tetras]"},
        bad_file_case{"quad_hexa_counts_missing", "4 1\n# counts\n", 3, "Unexpected end of background mesh file encountered"},
        bad_file_case{"quad_hexa_counts_not_integers", "4 1\n2 0 0.5 0\n", 2,
                      "Invalid record in general section of bg mesh file [nodes edges quads hexas]"},
        bad_file_case{"mixed_counts_missing_one", "7 1\n2 0 0 0 0 0 0\n", 2,
                      "Invalid record in general section of bg mesh file [nodes edges trias quads tetras pyrams wedges hexas]"},
        bad_file_case{"count_too_large_for_a_long", "3 1\n99999999999999999999 0 0 0\n", 2,
                      "Invalid record in general section of bg mesh file [nodes edges trias tetras]"},
        bad_file_case{"negative_count", "3 1\n2 0 -1 0\n", 2, "Negative number of bg mesh entities not expected"},
        bad_file_case{"no_nodes", "3 1\n0 0 0 0\n", 2, "Zero number of bg nodes not expected"},
        bad_file_case{"edge_of_one_node", "3 1\n1 1 0 0\n", 2, "Not enough bg nodes for bg edge description"},
        bad_file_case{"tria_of_two_nodes", "3 1\n2 0 1 0\n", 2, "Not enough bg nodes for bg face description"},
        bad_file_case{"tetra_of_three_nodes", "3 1\n3 0 0 1\n", 2, "Not enough bg nodes for bg tetra description"},
        bad_file_case{"quad_of_three_nodes", "4 1\n3 0 1 0\n", 2, "Not enough bg nodes for bg quad description"},
        bad_file_case{"hexa_of_seven_nodes", "4 1\n7 0 0 1\n", 2, "Not enough bg nodes for bg hexa description"},
        bad_file_case{"pyram_of_four_nodes", "7 1\n4 0 0 0 0 1 0 0\n", 2, "Not enough bg nodes for bg pyram description"},
        bad_file_case{"wedge_of_five_nodes", "7 1\n5 0 0 0 0 0 1 0\n", 2, "Not enough bg nodes for bg wedge description"},
        bad_file_case{"huge_node_count", "3 1\n9000000000000000000 0 0 0\n1 1 1 1 1\n", 4,
                      "Unexpected end of background mesh file encountered"},
        bad_file_case{"node_record_short", "3 1\n1 0 0 0\n1 1 1 1\n", 3,
                      "Invalid record in bg node section [node_id x y z size]"},
        bad_file_case{"node_coordinate_nan", "3 1\n1 0 0 0\n1 nan 1 1 0.5\n", 3,
                      "Invalid record in bg node section [node_id x y z size]"},
        bad_file_case{"node_size_infinite", "3 1\n1 0 0 0\n1 1 1 1 inf\n", 3,
                      "Invalid record in bg node section [node_id x y z size]"},
        bad_file_case{"node_size_overflows", "3 1\n1 0 0 0\n1 1 1 1 1e999\n", 3,
                      "Invalid record in bg node section [node_id x y z size]"},
        bad_file_case{"node_line_of_a_megabyte_of_digits", "3 1\n1 0 0 0\n1 1 1 1 " + std::string(1 << 20, '9') + "\n",
                      3, "Invalid record in bg node section [node_id x y z size]"},
        bad_file_case{"node_record_with_a_nul_byte", std::string("3 1\n1 0 0 0\n1 1 1") + '\0' + " 1 0.5\n", 3,
                      "Invalid record in bg node section [node_id x y z size]"},
        bad_file_case{"node_id_zero", "3 1\n1 0 0 0\n0 1 1 1 0.5\n", 3, "Invalid bg node number detected"},
        bad_file_case{"node_id_above_count", "3 1\n2 0 0 0\n1 1 1 1 0.5\n3 1 1 1 0.5\n", 4,
                      "Invalid bg node number detected"},
        bad_file_case{"node_id_repeated", "3 1\n3 0 0 0\n1 1 1 1 0.5\n2 2 2 2 0.5\n# again\n1 3 3 3 0.5\n", 6,
                      "Repeated bg node number detected"},
        bad_file_case{"negative_size", "3 1\n1 0 0 0\n1 1 1 1 -0.5\n", 3, "Negative bg mesh size detected"},
        bad_file_case{"truncated_in_nodes", "3 1\n2 1 0 0\n1 1 1 1 0.5\n", 4,
                      "Unexpected end of background mesh file encountered"},
        bad_file_case{"truncated_in_elements", kTwoNodes, 5, "Unexpected end of background mesh file encountered"},
        bad_file_case{"edge_record_short", kTwoNodes + "1 1\n", 5, "Invalid record in bg edge section [edge_id nd1 nd2]"},
        bad_file_case{"edge_node_not_an_integer", kTwoNodes + "1 1 2.0\n", 5,
                      "Invalid record in bg edge section [edge_id nd1 nd2]"},
        bad_file_case{"edge_id_out_of_range", kTwoNodes + "2 1 2\n", 5, "Invalid bg edge number detected"},
        bad_file_case{"edge_node_out_of_range", kTwoNodes + "1 1 3\n", 5, "Bg node 2 out of range"},
        bad_file_case{"edge_node_zero", kTwoNodes + "1 0 2\n", 5, "Bg node 1 out of range"},
        bad_file_case{"edge_of_one_node_twice", kTwoNodes + "1 2 2\n", 5, "Identical bg nodes detected"},
        bad_file_case{"tria_record_short", mgn_format(kFourNodes.c_str(), "1 0 0") + "1 1 2\n", 7,
                      "Invalid record in bg face section [tria_id nd1 nd2 nd3]"},
        bad_file_case{"tetra_id_zero", mgn_format(kFourNodes.c_str(), "0 0 1") + "0 1 2 3 4\n", 7,
                      "Invalid bg tetra number detected"},
        bad_file_case{"tetra_node_repeated", mgn_format(kFourNodes.c_str(), "0 0 1") + "1 1 2 3 1\n", 7,
                      "Identical bg nodes detected"},
        bad_file_case{"quad_node_out_of_range", mgn_format(kFourNodes.c_str(), "0 1 0") + "1 1 2 3 9\n", 7,
                      "Bg node 4 out of range"},
        bad_file_case{"record_after_the_last_section", kTwoNodes + "1 1 2\n2 1 2\n", 6,
                      "Unexpected record after the last section of bg mesh file"},
        bad_file_case{"node_count_too_small", "3 1\n1 0 0 0\n1 1 1 1 0.5\n2 2 2 2 0.5\n", 4,
                      "Unexpected record after the last section of bg mesh file"}),
    [](const ::testing::TestParamInfo<bad_file_case>& info) { return std::string(info.param.name); });

// A mesh split into files is never split further, and a list of files is
// itself no part.
TEST_F(BgMeshTest, PartOfAMultiFileMeshMayNotListFiles) {
  root(10.0);
  write("parts.0", "# a part that lists parts again\n0 1\n");
  mgn_set.bg_mesh_file_name = write("parts", "0 1\n");
  EXPECT_EXIT(mgn_build_octree_bg_mesh(), ::testing::ExitedWithCode(25),
              mgn_input_error_regex("Recursive use of multiple bg mesh file not allowed", 2));
  write("list", "0 2\n# no more records\n1 1\n");
  mgn_set.bg_mesh_file_name = dir_ + "/list";
  EXPECT_EXIT(mgn_build_octree_bg_mesh(), ::testing::ExitedWithCode(25),
              mgn_input_error_regex("Unexpected record after the last section of bg mesh file", 3));
}

// A file that cannot be opened (missing, a directory, a missing part) is a
// file manipulation error.
TEST_F(BgMeshTest, UnopenableFilesAreFileManipulationErrors) {
  root(10.0);
  write("parts", "0 2\n");
  write("parts.0", "3 1\n1 0 0 0\n1 1 1 1 0.5\n");
  for (const std::string& name : {dir_ + "/missing.bgm", dir_, dir_ + "/parts"}) {
    SCOPED_TRACE(name);
    mgn_set.bg_mesh_file_name = name;
    const std::string opened = name == dir_ + "/parts" ? name + ".1" : name;
    EXPECT_EXIT(mgn_build_octree_bg_mesh(), ::testing::ExitedWithCode(20),
                "File manipulation error\n\\(routine mgn_build_octree_bg_mesh, file src/bgmesh, line [0-9]+\\)\n" +
                    mgn_regex_escape("Background mesh " + opened + " file opening error") + "\n");
  }
}

// --- whole runs: mesh edges measured ----------------------------------------------

// Edges of the triangles, or of the tetras, of a mesh file (a linear mesh
// of type 7 without additional output): midpoint and length of each edge,
// each once.
struct mesh_edge {
  double mid[3];
  double length;
};

enum class measured { triangles, tetras };

std::vector<mesh_edge> mesh_edges(const std::string& path, measured which) {
  std::istringstream in(mgn_read_file(path));
  long header[4] = {};
  long counts[8] = {};  // nodes edges trias quads tetras pyrams wedges hexas
  for (long& h : header) in >> h;
  for (long& c : counts) in >> c;
  std::map<long, std::array<double, 3>> nodes;
  for (long k = 0; k < counts[0]; ++k) {
    long id = 0, key = 0, entity = 0, property = 0;
    std::array<double, 3> xyz{};
    in >> id >> xyz[0] >> xyz[1] >> xyz[2] >> key >> entity >> property;
    nodes[id] = xyz;
  }
  // Element lines: number, nodes, key, entity, property.
  auto read_elements = [&](long count, int corners) {
    std::vector<std::vector<long>> elements;
    for (long k = 0; k < count; ++k) {
      std::vector<long> fields(static_cast<std::size_t>(corners) + 4);
      for (long& f : fields) in >> f;
      elements.emplace_back(fields.begin() + 1, fields.begin() + 1 + corners);
    }
    return elements;
  };
  read_elements(counts[1], 2);
  const auto trias = read_elements(counts[2], 3);
  read_elements(counts[3], 4);
  const auto tetras = read_elements(counts[4], 4);
  std::set<std::pair<long, long>> seen;
  std::vector<mesh_edge> edges;
  for (const std::vector<long>& n : which == measured::triangles ? trias : tetras) {
    for (std::size_t i = 0; i < n.size(); ++i) {
      for (std::size_t j = i + 1; j < n.size(); ++j) {
        const long a = std::min(n[i], n[j]);
        const long b = std::max(n[i], n[j]);
        if (!seen.insert({a, b}).second) continue;
        mesh_edge e{};
        double d2 = 0.0;
        for (int c = 0; c < 3; ++c) {
          e.mid[c] = 0.5 * (nodes[a][c] + nodes[b][c]);
          d2 += (nodes[b][c] - nodes[a][c]) * (nodes[b][c] - nodes[a][c]);
        }
        e.length = std::sqrt(d2);
        edges.push_back(e);
      }
    }
  }
  return edges;
}

double distance(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

// Mean length of the edges whose midpoint lies within [lo, hi) of the point.
double mean_length_near(const std::vector<mesh_edge>& edges, const double point[3], double lo, double hi) {
  double sum = 0.0;
  long n = 0;
  for (const mesh_edge& e : edges) {
    const double d = distance(e.mid, point);
    if (d < lo || d >= hi) continue;
    sum += e.length;
    ++n;
  }
  EXPECT_GT(n, 0) << lo << " " << hi;
  return n > 0 ? sum / n : 0.0;
}

// Runs the program in dir and returns the edges of the mesh it wrote.
std::vector<mesh_edge> run_and_measure(const std::string& dir, std::vector<std::string> args,
                                       measured which = measured::triangles) {
  args.insert(args.end(), {"-o", "out.msh"});
  const mgn_run_result r = mgn_run_program(args, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  return mesh_edges(dir + "/out.msh", which);
}

// The six faces of the unit cube model (its region left out) as a model file
// of the directory; returns its path.
std::string write_cube_faces(const std::string& dir) {
  std::istringstream in(mgn_read_file(std::string(MGN_TEST_MODELS) + "/unit_cube.mgn"));
  std::string text, line;
  while (std::getline(in, line)) {
    if (line.rfind("region", 0) != 0) text += line + "\n";
  }
  mgn_write_file(dir + "/cube_faces.mgn", text);
  return dir + "/cube_faces.mgn";
}

// A cube of edge 1 meshed at the default size 0.2, with a background mesh
// asking ten times smaller at the corner (0, 0, 0): a single node there, or
// four tetras around it.  Near the corner the edges take the requested size
// times the factor of -a, within a factor 1.5; far from it they keep the
// size of the run without background mesh.  Measured on the triangles of
// the cube's faces and on the tetras of the solid cube.
TEST(BgMeshRun, CubeCornerTakesTheRequestedSize) {
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/node.bgm", "3 1\n1 0 0 0\n1 0 0 0 0.02\n");
  mgn_write_file(dir + "/tetras.bgm",
                 "# four tetras in the corner of the cube, all at size 0.02\n"
                 "3 1\n5 0 0 4\n"
                 "1 0 0 0 0.02\n2 0.08 0 0 0.02\n3 0 0.08 0 0.02\n4 0 0 0.08 0.02\n5 0.08 0.08 0.08 0.02\n"
                 "1 1 2 3 4\n2 2 3 4 5\n3 1 2 3 5\n4 1 3 4 5\n");
  const double corner[3] = {0.0, 0.0, 0.0};
  const std::pair<std::string, measured> models[] = {
      {write_cube_faces(dir), measured::triangles},
      {std::string(MGN_TEST_MODELS) + "/unit_cube.mgn", measured::tetras},
  };
  for (const auto& [cube, which] : models) {
    const std::vector<mesh_edge> plain = run_and_measure(dir, {"-i", cube, "-d", "0.2"}, which);
    const double plain_far = mean_length_near(plain, corner, 0.8, 10.0);
    EXPECT_NEAR(plain_far, 0.2, 0.03);
    for (const char* bg : {"node.bgm", "tetras.bgm"}) {
      for (double factor : {1.0, 2.0}) {
        SCOPED_TRACE(cube + " " + bg + " -a " + std::to_string(factor));
        const std::vector<mesh_edge> edges =
            run_and_measure(dir, {"-i", cube, "-d", "0.2", "-m", bg, "-a", mgn_format("%g", factor)}, which);
        const double wanted = 0.02 * factor;
        const double near = mean_length_near(edges, corner, 0.0, 2.0 * wanted);
        EXPECT_GT(near, wanted / 1.5);
        EXPECT_LT(near, wanted * 1.5);
        EXPECT_NEAR(mean_length_near(edges, corner, 0.8, 10.0), plain_far, 0.05 * plain_far);
      }
    }
  }
}

// With -a 0 the background file is not read: a missing one is no error and
// the mesh is the one of the run without it.
TEST(BgMeshRun, FactorZeroLeavesTheFileUnread) {
  const std::string dir = mgn_temp_dir();
  const std::string cube = std::string(MGN_TEST_MODELS) + "/unit_cube.mgn";
  const mgn_run_result plain = mgn_run_program({"-i", cube, "-d", "0.2", "-o", "plain.msh"}, dir);
  const mgn_run_result off = mgn_run_program({"-i", cube, "-d", "0.2", "-m", "missing.bgm", "-a", "0", "-o", "off.msh"}, dir);
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(off.status, 0) << off.err;
  EXPECT_EQ(mgn_read_file(dir + "/off.msh"), mgn_read_file(dir + "/plain.msh"));
  EXPECT_FALSE(mgn_read_file(dir + "/off.msh").empty());
}

// The square 10 x 10 of z = 0 meshed at a default size coarser than the
// field s = 0.1 + 0.09 x, given by an edge along y = 5, by two triangles
// covering the square, or by six tetras filling the block around it (the
// square cuts them through their inside).  Every edge near the field is
// compared with the field at its midpoint; the mean ratio of each band of x
// stays near 1 (the octree keeps the smallest size sampled near each octant
// corner, so the sizes come out somewhat smaller, never much larger).
struct field_case {
  const char* name;
  std::string bg;
  double band_half_width;  // edges within this distance of y = 5 (0: all)
};

void PrintTo(const field_case& c, std::ostream* os) { *os << c.name; }

class BgMeshFieldRunTest : public ::testing::TestWithParam<field_case> {};

std::string block_of_six_tetras() {
  // The block [0, 10] x [0, 10] x [-5, 5] cut into six tetras around its
  // diagonal from corner 1 to corner 8.
  std::string text = "3 1\n8 0 0 6\n";
  int id = 0;
  for (double z : {-5.0, 5.0}) {
    for (double y : {0.0, 10.0}) {
      for (double x : {0.0, 10.0}) text += mgn_format("%d %g %g %g %g\n", ++id, x, y, z, 0.1 + 0.09 * x);
    }
  }
  text += "1 1 2 4 8\n2 1 2 6 8\n3 1 3 4 8\n4 1 3 7 8\n5 1 5 6 8\n6 1 5 7 8\n";
  return text;
}

TEST_P(BgMeshFieldRunTest, EdgeLengthsFollowTheLinearField) {
  const field_case& c = GetParam();
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/field.bgm", c.bg);
  const std::vector<mesh_edge> edges =
      run_and_measure(dir, {"-i", std::string(MGN_TEST_MODELS) + "/square.mgn", "-d", "3", "-m", "field.bgm"});
  for (double lo = 0.0; lo < 10.0; lo += 2.0) {
    double sum = 0.0;
    long n = 0;
    for (const mesh_edge& e : edges) {
      if (e.mid[0] < lo || e.mid[0] >= lo + 2.0) continue;
      if (c.band_half_width > 0.0 && std::fabs(e.mid[1] - 5.0) > c.band_half_width) continue;
      sum += e.length / (0.1 + 0.09 * e.mid[0]);
      ++n;
    }
    ASSERT_GT(n, 2) << lo;
    EXPECT_GT(sum / n, 0.7) << "x from " << lo;
    EXPECT_LT(sum / n, 1.15) << "x from " << lo;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BgMeshFieldRunTest,
    ::testing::Values(field_case{"edge", "3 1\n2 1 0 0\n1 0 5 0 0.1\n2 10 5 0 1.0\n1 1 2\n", 0.3},
                      field_case{"triangles",
                                 "3 1\n4 0 2 0\n1 0 0 0 0.1\n2 10 0 0 1.0\n3 10 10 0 1.0\n4 0 10 0 0.1\n"
                                 "1 1 2 3\n2 1 3 4\n",
                                 0.0},
                      field_case{"tetras", block_of_six_tetras(), 0.0}),
    [](const ::testing::TestParamInfo<field_case>& info) { return std::string(info.param.name); });

}  // namespace
