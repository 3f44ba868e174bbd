// Curve discretization: the interval count rule, spacing by size and by
// length, prescribed counts, fixed vertices and the distribution of a count
// over them, the too-close error, fixed curves and mirrored curves.  Each
// model is read from text, its octree built and the meshing driver run.
#include "discret1.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bezier.h"
#include "curve.h"
#include "discret.h"
#include "element.h"
#include "mesh1.h"
#include "message.h"
#include "model_fixture.h"
#include "octree1.h"
#include "vertex.h"

namespace {

class CurveMeshTest : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }

  static void read(const std::string& text) {
    mgn_read_model_text(text);
    mgn_build_octree();
  }
  static void mesh(const std::string& text) {
    read(text);
    mgn_discretize_model();
  }

  // The nodes of a meshed curve from its first to its last vertex (the
  // listing of a discretized curve rests on its first block).
  static std::vector<mgn_node*> nodes_of(const mgn_curve* curve) {
    std::vector<mgn_node*> nodes;
    long k = 0;
    for (mgn_edge** edge : mgn_listing_range<mgn_edge*>(curve->mesh.edges)) {
      if (k++ >= curve->mesh.edge_count) break;
      if (nodes.empty()) nodes.push_back((*edge)->n[0]);
      EXPECT_EQ((*edge)->n[0], nodes.back()) << "edges of curve " << curve->id << " do not chain";
      nodes.push_back((*edge)->n[1]);
    }
    return nodes;
  }

  static double distance(const mgn_node* a, const mgn_node* b) {
    return std::sqrt(std::pow(a->xyz[0] - b->xyz[0], 2) + std::pow(a->xyz[1] - b->xyz[1], 2) +
                     std::pow(a->xyz[2] - b->xyz[2], 2));
  }

  static std::vector<double> edge_lengths(const mgn_curve* curve) {
    const std::vector<mgn_node*> nodes = nodes_of(curve);
    std::vector<double> out;
    for (std::size_t i = 1; i < nodes.size(); ++i) out.push_back(distance(nodes[i - 1], nodes[i]));
    return out;
  }

  static long index_of(const std::vector<mgn_node*>& nodes, const mgn_node* node) {
    for (std::size_t i = 0; i < nodes.size(); ++i)
      if (nodes[i] == node) return static_cast<long>(i);
    return -1;
  }
};

// --- the count rule ---------------------------------------------------------

TEST(CurveIntervalCount, IntegerPartOfTheIntegralPlusAVanishingTerm) {
  struct Case {
    double integral;
    long count;
  };
  const Case cases[] = {{0.0, 1},  {0.5, 1},  {1.3, 2},   {2.2, 2},    {2.3, 3},
                        {10.0, 10}, {20.0, 20}, {100.0, 100}, {100.9, 100}};
  for (const Case& c : cases) EXPECT_EQ(mgn_get_curve_interval_count(c.integral), c.count) << c.integral;
  // The added term never exceeds 0.8: the count stays within (I - 1, I + 0.8].
  for (double integral = 1.0; integral < 200.0; integral += 0.0137) {
    const long n = mgn_get_curve_interval_count(integral);
    EXPECT_GT(static_cast<double>(n), integral - 1.0);
    EXPECT_LE(static_cast<double>(n), integral + 0.8);
  }
}

TEST(CurveListingCapacity, ChunksOnlyForLongPieces) {
  struct Case {
    long n, listing_size, capacity;
  };
  const Case cases[] = {{500, 1000, 500}, {1001, 1000, 1001}, {1500, 1000, 1500},
                        {3001, 1000, 751}, {2000, 100, 100}, {1, 1000, 1}};
  for (const Case& c : cases) {
    mgn_set.listing_size = c.listing_size;
    EXPECT_EQ(mgn_get_chunk_capacity(c.n), c.capacity) << c.n << " " << c.listing_size;
  }
  mgn_set = mgn_settings{};
}

// --- spacing by size --------------------------------------------------------

TEST_F(CurveMeshTest, StraightCurveOfUniformSizeGetsEqualEdges) {
  struct Case {
    const char* name;
    const char* second_vertex;
    double uniform_size;
    long intervals;
    double tolerance;
  };
  // Length 10: the size integral is 10 / u.  Off the axes the octree sizes
  // differ by single-precision rounding.
  const Case cases[] = {{"along x, I = 10", "10 0 0", 1.0, 10, 1e-9},
                        {"diagonal, I = 10", "6 8 0", 1.0, 10, 1e-7},
                        {"I = 20", "10 0 0", 0.5, 20, 1e-9},
                        {"I = 1.3", "0 0 10", 10.0 / 1.3, 2, 1e-9},
                        {"I = 0.5", "10 0 0", 20.0, 1, 1e-9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mgn_reset_model_settings();
    mgn_set.uniform_size = mgn_set.default_size = c.uniform_size;
    mesh(std::string("vertex 1 xyz 0 0 0\nvertex 2 xyz ") + c.second_vertex + "\ncurve 1 vertex 1 2\n");
    const mgn_curve* curve = mgn_find_curve(1);
    ASSERT_EQ(curve->mesh.edge_count, c.intervals);
    EXPECT_EQ(curve->mesh.node_count, c.intervals - 1);
    const std::vector<mgn_node*> nodes = nodes_of(curve);
    ASSERT_EQ(nodes.size(), static_cast<std::size_t>(c.intervals + 1));
    EXPECT_EQ(nodes.front(), mgn_find_vertex(1)->mesh.node);
    EXPECT_EQ(nodes.back(), mgn_find_vertex(2)->mesh.node);
    const double step = 10.0 / static_cast<double>(c.intervals);
    for (double length : edge_lengths(curve)) EXPECT_NEAR(length, step, c.tolerance);
    for (std::size_t k = 1; k + 1 < nodes.size(); ++k) {
      EXPECT_EQ(nodes[k]->kind, MGN_CURVE);
      EXPECT_EQ(nodes[k]->entity, curve);
      EXPECT_NEAR(nodes[k]->parameters[0], static_cast<double>(k) / c.intervals, c.tolerance / 10.0);
    }
    EXPECT_NEAR(curve->edge_length, 10.0, 1e-5);
  }
}

TEST_F(CurveMeshTest, GradedSizeGivesGradedEdges) {
  // Sizes 0.2 at the start and 1 at the end: the edges grow along the curve
  // and each is close to the size around it.
  mesh("vertex 1 xyz 0 0 0 size 0.2\nvertex 2 xyz 10 0 0 size 1\ncurve 1 vertex 1 2 size 1\n");
  const mgn_curve* curve = mgn_find_curve(1);
  const std::vector<mgn_node*> nodes = nodes_of(curve);
  ASSERT_GT(nodes.size(), 12u);
  for (std::size_t k = 1; k < nodes.size(); ++k) {
    const double length = distance(nodes[k - 1], nodes[k]);
    const double size = 0.5 * (nodes[k - 1]->size + nodes[k]->size);
    EXPECT_GT(length, 0.6 * size) << k;
    EXPECT_LT(length, 1.6 * size) << k;
  }
  EXPECT_LT(distance(nodes[0], nodes[1]), distance(nodes[nodes.size() - 2], nodes.back()));
}

// --- prescribed counts ------------------------------------------------------

TEST_F(CurveMeshTest, CountWithAndWithoutEquidistantOnAQuarterCircle) {
  // A quarter circle of radius 10 with a fine size at its start.
  const std::string arc =
      "vertex 1 xyz 10 0 0 size 0.3\nvertex 2 xyz 0 10 0 size 3\n"
      "curve 1 vertex 1 2 order 3 count 4%s\npolygon 1 xyz 10 10 0 weight 0.70710678\n";
  for (bool equidistant : {true, false}) {
    SCOPED_TRACE(equidistant ? "equidistant" : "by size");
    mgn_reset_model_settings();
    std::string text = arc;
    text.replace(text.find("%s"), 2, equidistant ? " equidistant" : "");
    mesh(text);
    mgn_curve* curve = mgn_find_curve(1);
    ASSERT_EQ(curve->mesh.edge_count, 4);
    const std::vector<mgn_node*> nodes = nodes_of(curve);
    std::vector<double> t{0.0};
    for (std::size_t k = 1; k + 1 < nodes.size(); ++k) t.push_back(nodes[k]->parameters[0]);
    t.push_back(1.0);
    const double total = mgn_integrate_curve_length(curve, 0.0, 1.0);
    EXPECT_NEAR(total, 5.0 * M_PI, 1e-4);
    for (std::size_t k = 1; k < t.size(); ++k) {
      const double arc_length = mgn_integrate_curve_length(curve, t[k - 1], t[k]);
      if (equidistant) {
        EXPECT_NEAR(arc_length, total / 4.0, 1e-6 * total) << k;
        EXPECT_NEAR(distance(nodes[k - 1], nodes[k]), 20.0 * std::sin(M_PI / 16.0), 1e-5) << k;
      }
    }
    if (!equidistant) {
      // Spaced by the size: the first arc is clearly shorter than the last.
      EXPECT_LT(mgn_integrate_curve_length(curve, t[0], t[1]),
                0.8 * mgn_integrate_curve_length(curve, t[3], t[4]));
    }
  }
}

TEST_F(CurveMeshTest, CountPrescribedOnTheEndVertexIsUsedOnce) {
  // A graded line; the count written on the end vertex overrides the size:
  // negative counts space equally by length, positive ones by the size.
  const std::string text = "vertex 1 xyz 0 0 0 size 0.1\nvertex 2 xyz 10 0 0 size 2\ncurve 1 vertex 1 2 size 2\n";
  for (int prescribed : {-3, 5}) {
    SCOPED_TRACE(prescribed);
    mgn_reset_model_settings();
    read(text);
    mgn_find_vertex(2)->prescribed_count = prescribed;
    mgn_discretize_model();
    const mgn_curve* curve = mgn_find_curve(1);
    ASSERT_EQ(curve->mesh.edge_count, std::abs(prescribed));
    EXPECT_EQ(mgn_find_vertex(2)->prescribed_count, 0);
    const std::vector<double> lengths = edge_lengths(curve);
    if (prescribed < 0) {
      for (double length : lengths) EXPECT_NEAR(length, 10.0 / 3.0, 1e-9);
    } else {
      EXPECT_LT(lengths.front(), 0.5 * lengths.back());
    }
  }
}

// --- fixed vertices ---------------------------------------------------------

TEST_F(CurveMeshTest, FixedVertexSplitsTheCurve) {
  mgn_set.uniform_size = 1.0;
  mesh("vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\ncurve 1 vertex 1 2\nvertex 3 fixed curve 1 t 0.35\n");
  const mgn_curve* curve = mgn_find_curve(1);
  const std::vector<mgn_node*> nodes = nodes_of(curve);
  // Pieces of length 3.5 and 6.5: 4 and 7 intervals.
  ASSERT_EQ(nodes.size(), 12u);
  const mgn_node* fixed = mgn_find_vertex(3)->mesh.node;
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(index_of(nodes, fixed), 4);
  EXPECT_EQ(fixed->kind, MGN_VERTEX);
  EXPECT_NEAR(fixed->xyz[0], 3.5, 1e-12);
  EXPECT_TRUE(curve->fixed_split);
  for (std::size_t k = 1; k < 5; ++k) EXPECT_NEAR(distance(nodes[k - 1], nodes[k]), 3.5 / 4, 1e-9);
  for (std::size_t k = 5; k < nodes.size(); ++k) EXPECT_NEAR(distance(nodes[k - 1], nodes[k]), 6.5 / 7, 1e-9);
  EXPECT_EQ(mgn_run.nodes.fe, 12);
  EXPECT_EQ(mgn_run.edges.fe, 11);
}

TEST_F(CurveMeshTest, CountIsDistributedOverFixedVertices) {
  // COUNT 4 on a line of uniform size: each fixed vertex takes the index of
  // its place; two that want the same index end on consecutive ones.
  struct Case {
    double t1, t2;
    long index1, index2;
  };
  const Case cases[] = {{0.5, 0.52, 2, 3}, {0.1, 0.12, 1, 2}, {0.9, 0.95, 2, 3}, {0.25, 0.75, 1, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.t1 << " " << c.t2);
    mgn_reset_model_settings();
    mgn_set.uniform_size = 1.0;
    mesh("vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\ncurve 1 vertex 1 2 count 4\nvertex 3 fixed curve 1 t " +
         std::to_string(c.t1) + "\nvertex 4 fixed curve 1 t " + std::to_string(c.t2) + "\n");
    const std::vector<mgn_node*> nodes = nodes_of(mgn_find_curve(1));
    ASSERT_EQ(nodes.size(), 5u);
    EXPECT_EQ(index_of(nodes, mgn_find_vertex(3)->mesh.node), c.index1);
    EXPECT_EQ(index_of(nodes, mgn_find_vertex(4)->mesh.node), c.index2);
    for (long id : {2, 3, 4}) EXPECT_EQ(mgn_find_vertex(id)->prescribed_count, 0);
  }
}

TEST_F(CurveMeshTest, EquidistantCountOverFixedVerticesSpacesEachPieceByLength) {
  mesh("vertex 1 xyz 0 0 0 size 0.1\nvertex 2 xyz 10 0 0 size 2\n"
       "curve 1 vertex 1 2 size 2 count 4 equidistant\nvertex 3 fixed curve 1 t 0.5\n");
  const mgn_curve* curve = mgn_find_curve(1);
  const std::vector<mgn_node*> nodes = nodes_of(curve);
  ASSERT_EQ(nodes.size(), 5u);
  EXPECT_EQ(index_of(nodes, mgn_find_vertex(3)->mesh.node), 2);
  for (double length : edge_lengths(curve)) EXPECT_NEAR(length, 2.5, 1e-9);
}

TEST_F(CurveMeshTest, TooManyFixedVerticesForTheCountWarnAndMeshByTheSize) {
  mgn_set.uniform_size = 1.0;
  read("vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\ncurve 1 vertex 1 2 count 2\n"
       "vertex 3 fixed curve 1 t 0.3\nvertex 4 fixed curve 1 t 0.6\n");
  const long warnings = mgn_warning_count;
  testing::internal::CaptureStderr();
  mgn_discretize_model();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "Warning: Number of vertices (2) to be accommodated on curve 1 is too large\n"
            "         with respect to the prescribed number of intervals\n"
            "         Quad mapping requests on entities bounded by curve 1 are ignored\n");
  EXPECT_EQ(mgn_warning_count, warnings + 1);
  // Pieces of 3, 3 and 4 by the size.
  EXPECT_EQ(mgn_find_curve(1)->mesh.edge_count, 10);
}

using CurveMeshDeathTest = CurveMeshTest;

TEST_F(CurveMeshDeathTest, VerticesTooCloseOnACurveEndTheRun) {
  struct Case {
    const char* name;
    const char* t1;
    const char* t2;
  };
  // Closer than the user epsilon: at the same parameter, and at parameters
  // 1e-7 apart (1e-6 apart on a curve of length 10).
  const Case cases[] = {{"same parameter", "0.5", "0.5"}, {"close parameters", "0.5", "0.5000001"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mgn_reset_model_settings();
    mgn_set.uniform_size = 1.0;
    read(std::string("vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\ncurve 1 vertex 1 2\nvertex 3 fixed curve 1 t ") +
         c.t1 + "\nvertex 4 fixed curve 1 t " + c.t2 + "\n");
    EXPECT_EXIT(mgn_discretize_model(), testing::ExitedWithCode(10),
                "Manipulation error\n\\(routine mgn_[a-z_]+, file src/discret1, line [0-9]+\\)\n"
                "Vertices 3 and 4 on curve 1 are too close to each other\n");
  }
}

// --- fixed and mirrored curves ----------------------------------------------

TEST_F(CurveMeshTest, FixedCurveTakesTheRecordsOfItsParentInterval) {
  for (const char* ends : {"3 4", "4 3"}) {
    SCOPED_TRACE(ends);
    mgn_reset_model_settings();
    mgn_set.uniform_size = 1.0;
    mesh(std::string("vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\ncurve 1 vertex 1 2\n"
                     "vertex 3 fixed curve 1 t 0.3\nvertex 4 fixed curve 1 t 0.7\n"
                     "curve 2 vertex ") +
         ends + " fixed curve 1\n");
    const mgn_curve* parent = mgn_find_curve(1);
    const mgn_curve* child = mgn_find_curve(2);
    EXPECT_TRUE(child->mesh.discretized);
    EXPECT_TRUE(mgn_check_curve_mesh_copy(child));
    EXPECT_FALSE(mgn_check_curve_mesh_copy(parent));
    const std::vector<mgn_node*> all = nodes_of(parent);
    const std::vector<mgn_node*> part = nodes_of(child);
    ASSERT_EQ(all.size(), 11u);
    ASSERT_EQ(part.size(), 5u);
    for (std::size_t k = 0; k < part.size(); ++k) EXPECT_EQ(part[k], all[k + 3]);
    EXPECT_EQ(child->mesh.node_count, 3);
    // Only the parent's records are finite-element records.
    EXPECT_EQ(mgn_run.edges.fe, 10);
    EXPECT_EQ(mgn_run.nodes.fe, 11);
  }
}

TEST_F(CurveMeshTest, MirroredCurveRepeatsTheSpacingOfItsSource) {
  struct Case {
    const char* name;
    const char* mirrored;  // definition of curve 2
    bool opposite;
    bool mirror_first;  // curve 2 comes first in the curve list
  };
  // Curve 1 runs from vertex 1 (fine) to vertex 2 (coarse) along +x; its
  // mirror image in the plane x = 0 runs either the same way (vertex 3 to
  // 4) or back to the shared vertex 1.
  const Case cases[] = {{"same direction", "curve 2 vertex 3 4 mirror 1\n", false, false},
                        {"towards a shared vertex", "curve 2 vertex 4 1 mirror 1\n", true, false},
                        {"mirror listed before its source", "curve 2 vertex 3 4 mirror 1\n", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    mgn_reset_model_settings();
    read(std::string("vertex 1 xyz 0 0 0 size 0.1\nvertex 2 xyz 10 0 0 size 1\n"
                     "vertex 3 xyz 0 0 0.5 size 1\nvertex 4 xyz -10 0 0 size 1\n") +
         "curve 1 vertex 1 2 size 1\n" + c.mirrored);
    if (c.mirror_first) mgn_reverse_list(mgn_model.curves.list);
    mgn_discretize_model();
    std::vector<mgn_node*> source = nodes_of(mgn_find_curve(1));
    std::vector<mgn_node*> image = nodes_of(mgn_find_curve(2));
    ASSERT_EQ(source.size(), image.size());
    ASSERT_GT(source.size(), 10u);
    if (c.opposite) std::reverse(image.begin(), image.end());
    // Same parameters, mirrored positions (up to the offset of vertex 3).
    for (std::size_t k = 1; k + 1 < source.size(); ++k) {
      EXPECT_NEAR(image[k]->xyz[0], -source[k]->xyz[0], 1e-9) << k;
      EXPECT_EQ(image[k]->kind, MGN_CURVE);
    }
  }
}

TEST_F(CurveMeshTest, VertexFixedOnAMirroredCurveTakesTheNearestNode) {
  mgn_set.uniform_size = 1.0;
  mesh("vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 0 1 0\nvertex 4 xyz -10 1 0\n"
       "curve 1 vertex 1 2\ncurve 2 vertex 3 4 mirror 1\nvertex 5 fixed curve 2 t 0.52\n");
  const std::vector<mgn_node*> image = nodes_of(mgn_find_curve(2));
  ASSERT_EQ(image.size(), 11u);
  EXPECT_EQ(index_of(image, mgn_find_vertex(5)->mesh.node), 5);
  EXPECT_TRUE(mgn_find_curve(2)->fixed_split);
}

TEST_F(CurveMeshDeathTest, TwoVerticesCompetingForOneMirroredNodeEndTheRun) {
  mgn_set.uniform_size = 1.0;
  read("vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 0 1 0\nvertex 4 xyz -10 1 0\n"
       "curve 1 vertex 1 2\ncurve 2 vertex 3 4 mirror 1\n"
       "vertex 5 fixed curve 2 t 0.49\nvertex 6 fixed curve 2 t 0.52\n");
  EXPECT_EXIT(mgn_discretize_model(), testing::ExitedWithCode(10),
              "Vertex 6 on mirrored curve 2 cannot be accommodated\n");
}

}  // namespace
