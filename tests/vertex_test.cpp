// VERTEX definitions: options, sequence rules, checks, completion from the
// parents, and the vertex store helpers.
#include <gtest/gtest.h>

#include <string>

#include "curve.h"
#include "input.h"
#include "message.h"
#include "model_fixture.h"
#include "vertex.h"

namespace {

// Vertex 1 at the origin, vertex 2 at (10, 0, 0) with size 3, and the
// straight curve 1 between them.
const std::string line_model =
    "vertex 1 xyz 0 0 0\n"
    "vertex 2 xyz 10 0 0 size 3\n"
    "curve 1 vertex 1 2\n";

class VertexError : public ::testing::TestWithParam<mgn_input_error_case> {};

TEST_P(VertexError, ReportsMessageWithLineAndStatus25) {
  const mgn_input_error_case& c = GetParam();
  mgn_reset_model_settings();
  EXPECT_EXIT(mgn_read_model_text(c.text), ::testing::ExitedWithCode(25), mgn_input_error_regex(c.message, c.line));
}

const mgn_input_error_case vertex_cases[] = {
    {"IdMissing", "vertex\n", 1, "Missing vertex id"},
    {"IdZero", "vertex 0 xyz 0 0 0\n", 1, "Positive vertex id required"},
    {"IdTwice", "vertex 1 xyz 0 0 0\n\nvertex 1 xyz 1 1 1\n", 3, "Multiple instance of vertex 1 detected"},
    {"CoordinateXMissing", "vertex 1 xyz\n", 1, "Coordinate x missing"},
    {"CoordinateZMissing", "vertex 1 xyz 0 0\n", 1, "Coordinate z missing"},
    {"UnknownOption", "vertex 1 xyz 0 0 0 point 3\n", 1, "Unexpected or invalid keyword \"POINT\" encountered"},
    {"ValueWordAsOption", "vertex 1 xyz 0 0 0 yes\n", 1, "Unexpected or invalid keyword \"YES\" encountered"},
    {"FixedWithoutParent", "vertex 1 fixed size 1\n", 1,
     "Keyword VERTEX, CURVE or SURFACE missing (redundand keyword FIXED)"},
    {"FixedAtLineEnd", "vertex 1 xyz 0 0 0 fixed\n", 1, "Keyword VERTEX, CURVE or SURFACE missing"},
    {"CoincideWithoutVertex", "vertex 1 xyz 0 0 0 coincide size 1\n", 1,
     "Keyword VERTEX missing (redundand keyword COINCIDE)"},
    {"CoincideAtLineEnd", "vertex 1 xyz 0 0 0 coincide\n", 1, "Keyword VERTEX missing"},
    {"CoincideEmptyList", "vertex 1 xyz 0 0 0 coincide vertex size 1\n", 1, "Missing coinciding vertex id"},
    {"CoincideUnknownVertex", "vertex 1 xyz 0 0 0 coincide vertex 7\n", 1, "Vertex 7 does not exist"},
    {"CoincideNotANumber", "vertex 1 xyz 0 0 0 coincide vertex 2x\n", 1, "Integer number expected (2X - read)"},
    {"VertexWithoutFixedOrCoincide", "vertex 1 xyz 0 0 0 vertex 2\n", 1,
     "Keyword VERTEX unexpected (keyword FIXED or COINCIDE missing)"},
    {"ParentVertexMissing", "vertex 1 fixed vertex\n", 1, "Missing parent vertex id"},
    {"ParentVertexUnknown", "vertex 1 fixed vertex 3\n", 1, "Vertex 3 does not exist"},
    {"SecondParentVertex", "vertex 1 xyz 0 0 0\nvertex 2 xyz 0 0 0\nvertex 3 fixed vertex 1 fixed vertex 2\n", 3,
     "Keyword \"VERTEX\" not expected due to the duplicity"},
    {"CurveWithoutFixed", "vertex 1 xyz 0 0 0 curve 1\n", 1, "Keyword CURVE unexpected (keyword FIXED missing)"},
    {"ParentCurveMissing", "vertex 1 fixed curve\n", 1, "Missing parent curve id"},
    {"ParentCurveUnknown", "vertex 1 fixed curve 4\n", 1, "Curve 4 does not exist"},
    {"SecondParentCurve", line_model + "vertex 3 fixed curve 1 fixed curve 1\n", 4,
     "Keyword \"CURVE\" not expected due to the duplicity"},
    {"SurfaceWithoutFixed", "vertex 1 xyz 0 0 0 surface 1\n", 1, "Keyword SURFACE unexpected (keyword FIXED missing)"},
    {"ParentSurfaceMissing", "vertex 1 fixed surface\n", 1, "Missing parent surface id"},
    {"ParentSurfaceUnknown", "vertex 1 fixed surface 2\n", 1, "Surface 2 does not exist"},
    {"TWithoutCurve", "vertex 1 xyz 0 0 0 t 0.5\n", 1, "Keyword T unexpected (keyword CURVE missing)"},
    {"UvWithoutSurface", "vertex 1 xyz 0 0 0 uv 0.5 0.5\n", 1, "Keyword UV unexpected (keyword SURFACE missing)"},
    {"TMissing", line_model + "vertex 3 fixed curve 1 t\n", 4, "Missing t parameter"},
    {"TZero", line_model + "vertex 3 fixed curve 1 t 0\n", 4, "Parameter t out of range"},
    {"TOne", line_model + "vertex 3 fixed curve 1 t 1\n", 4, "Parameter t out of range"},
    {"SizeMissing", "vertex 1 xyz 0 0 0 size\n", 1, "Size specification missing"},
    {"SizeZero", "vertex 1 xyz 0 0 0 size 0\n", 1, "Positive mesh size required"},
    {"SizeWord", "vertex 1 xyz 0 0 0 size yes\n", 1, "Unexpected or invalid keyword \"YES\" encountered"},
    {"SizeMultiplierMissing", "vertex 1 xyz 0 0 0 size 1 *\n", 1, "Mesh size multiplication factor missing"},
    {"SizeMultiplierNegative", "vertex 1 xyz 0 0 0 size def * -1\n", 1,
     "Positive or zero mesh size multiplication factor required"},
    {"WeightMissing", "vertex 1 xyz 0 0 0 weight\n", 1, "Weight specification missing"},
    {"WeightZero", "vertex 1 xyz 0 0 0 weight 0\n", 1, "Positive weight required"},
    {"FactorMissing", "vertex 1 xyz 0 0 0 factor\n", 1, "Factor specification missing"},
    {"FactorNegative", "vertex 1 xyz 0 0 0 factor -1\n", 1, "Positive or zero factor required"},
    {"PropertyMissing", "vertex 1 xyz 0 0 0 property\n", 1, "Property specification missing"},
    {"PropertyNegative", "vertex 1 xyz 0 0 0 property -1\n", 1, "Positive or zero property number required"},
    {"OutputMissing", "vertex 1 xyz 0 0 0 output\n", 1, "Output specification missing"},
    {"OutputWord", "vertex 1 xyz 0 0 0 output maybe\n", 1, "Unexpected or invalid keyword \"MAYBE\" encountered"},
    {"ShiftZMissing", "vertex 1 xyz 0 0 0 shift 1 2\n", 1, "Shift z missing"},
    {"NoPosition", "vertex 1 size 1\n", 1, "Position of vertex 1 not specified"},
    {"CurveWithoutT", line_model + "vertex 3 fixed curve 1\n", 4, "Keyword XYZ or T missing"},
    {"SlaveAndMaster", "vertex 1 xyz 0 0 0 slave master\n", 1, "Keywords SLAVE and MASTER cannot be used together"},
    {"WeightOnCurve", line_model + "vertex 3 fixed curve 1 t 0.5 weight 2\n", 4,
     "Keyword WEIGHT not expected for vertex (3) fixed to curve (1)"},
    {"SizeVerWithoutParent", "vertex 1 xyz 0 0 0 size ver\n", 1,
     "Mesh size of vertex (1) inherited from non-existent parent vertex"},
    {"SizeCurWithoutCurve", "vertex 1 xyz 0 0 0 size cur\n", 1,
     "Mesh size of vertex (1) inherited from non-existent parent curve"},
    {"SizeSurWithoutSurface", "vertex 1 xyz 0 0 0 size sur * 2\n", 1,
     "Mesh size of vertex (1) inherited from non-existent parent surface"},
    {"AmbiguousParentVertex", "vertex 1 xyz 0 0 0\nvertex 2 fixed vertex 1 xyz 0 0 0.001\n", 2,
     "Ambiguous position of vertex 2 detected"},
    {"TooFarFromCurve", line_model + "vertex 3 fixed curve 1 xyz 5 5 0\n", 4,
     "Position of vertex 3 is too far from curve 1 (distance = 5.000000)"},
    {"AmbiguousOnCurve", line_model + "vertex 3 fixed curve 1 t 0.5 xyz 4 0 0\n", 4,
     "Ambiguous position of vertex 3 detected"},
    {"PropertyWithPhysicalParent", "vertex 1 xyz 0 0 0\nvertex 2 fixed vertex 1 property 0\n", 2,
     "Keyword PROPERTY not expected for fixed vertex (2) with physical parent (1)"},
    {"CoincideVirtual", "vertex 1 xyz 0 0 0\nvertex 2 xyz 0 0 0 virtual coincide vertex 1\n", 2,
     "Only physical vertices can be coinciding"},
    {"CoincideWithFixedVertex", "vertex 1 xyz 0 0 0\nvertex 2 fixed vertex 1\nvertex 3 xyz 0 0 0 coincide vertex 2\n",
     3, "Only top physical parent vertex (2) can be coinciding"},
    {"CoincideThenFixedVertexBothRead", "vertex 3 xyz 0 0 0\nvertex 4 xyz 0 0 0\nvertex 7 coincide vertex 3 fixed vertex 4\n",
     3, "Only top physical parent vertex (7) can be coinciding"},
    {"NodePropertyMissing", "vertex 1 xyz 0 0 0 nodeprop\n", 1, "Node property string missing"},
};

INSTANTIATE_TEST_SUITE_P(Vertex, VertexError, ::testing::ValuesIn(vertex_cases),
                         [](const auto& info) { return std::string(info.param.name); });

class VertexRead : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }
  void TearDown() override { mgn_release_model(); }
  static mgn_vertex* vertex(long id) {
    mgn_vertex* v = mgn_find_vertex(id);
    EXPECT_NE(v, nullptr) << "vertex " << id;
    return v;
  }
};

TEST_F(VertexRead, DefaultsOfAVertexByCoordinates) {
  mgn_set.default_size = 1.5;
  mgn_read_model_text("vertex 1 xyz 1 2 3\n");
  const mgn_vertex* v = vertex(1);
  EXPECT_FLOAT_EQ(v->ctrl_point->size, 1.5f);
  EXPECT_FLOAT_EQ(v->size, 1.5f);
  EXPECT_DOUBLE_EQ(v->ctrl_point->w, 1.0);
  EXPECT_FLOAT_EQ(v->factor, 1.0f);
  EXPECT_TRUE(v->output);
  EXPECT_FALSE(v->output_requested);
  EXPECT_FALSE(v->fixed);
  EXPECT_EQ(v->xyz, v->ctrl_point->xyz);
}

TEST_F(VertexRead, ShiftBeforeOrAfterCoordinatesAndOnlyForItsVertex) {
  mgn_read_model_text(
      "vertex 1 shift 1 0 0 xyz 0 0 0\n"
      "vertex 2 xyz 0 0 0 shift 1 0 0\n"
      "vertex 3 xyz 0 0 0\n");
  EXPECT_DOUBLE_EQ(vertex(1)->xyz[0], 1.0);
  EXPECT_DOUBLE_EQ(vertex(2)->xyz[0], 1.0);
  EXPECT_DOUBLE_EQ(vertex(3)->xyz[0], 0.0);
}

TEST_F(VertexRead, SizeSourcesFactorsAndMultipliers) {
  mgn_set.size_factor = 0.5;
  mgn_set.default_size = 4.0;  // already scaled by the option analysis
  mgn_set.uniform_size = 7.0;
  mgn_read_model_text(
      "vertex 1 xyz 0 0 0 size 2\n"
      "vertex 2 xyz 0 0 0 size def * 3\n"
      "vertex 3 xyz 0 0 0 size uni factor 2\n"
      "vertex 4 xyz 0 0 0 size 2 * 0 factor 0\n");
  EXPECT_FLOAT_EQ(vertex(1)->ctrl_point->size, 1.0f);
  EXPECT_FLOAT_EQ(vertex(2)->ctrl_point->size, 12.0f);
  EXPECT_FLOAT_EQ(vertex(3)->ctrl_point->size, 7.0f);
  EXPECT_FLOAT_EQ(vertex(3)->size, 14.0f);
  // A zero size falls back to the default size.
  EXPECT_FLOAT_EQ(vertex(4)->ctrl_point->size, 4.0f);
  EXPECT_FLOAT_EQ(vertex(4)->size, 0.0f);
}

TEST_F(VertexRead, ZeroSizeWithoutDefault) {
  mgn_set.default_size = 0.0;
  EXPECT_EXIT(mgn_read_model_text("vertex 1 xyz 0 0 0\n"), ::testing::ExitedWithCode(25),
              mgn_input_error_regex("Zero mesh size specification detected at vertex 1", 1));
  ::testing::internal::CaptureStderr();
  mgn_read_model_text("vertex 1 xyz 0 0 0 factor 0\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Warning: Default zero mesh size specification detected at vertex 1\n");
  EXPECT_EQ(mgn_warning_count, 1);
  // Without a size factor no size is needed at all.
  mgn_set.size_factor = 0.0;
  mgn_read_model_text("vertex 1 xyz 0 0 0 factor 3\n");
  EXPECT_FLOAT_EQ(vertex(1)->factor, 0.0f);
  EXPECT_EQ(mgn_warning_count, 1);
}

TEST_F(VertexRead, FixedToVertexTakesItsPositionWeightSizeAndProperty) {
  mgn_read_model_text(
      "vertex 1 xyz 1 2 3 weight 2 size 5 property 7\n"
      "vertex 2 fixed vertex 1 xyz 1 2 3.000001\n"
      "vertex 3 fixed vertex 2\n");
  const mgn_vertex* v = vertex(2);
  EXPECT_EQ(v->parent_vertex, vertex(1));
  EXPECT_DOUBLE_EQ(v->xyz[2], 3.0);
  EXPECT_DOUBLE_EQ(v->ctrl_point->w, 2.0);
  EXPECT_FLOAT_EQ(v->ctrl_point->size, 5.0f);
  EXPECT_EQ(v->property, 7);
  EXPECT_NE(mgn_find_item(vertex(1)->fixed_vertices, v), nullptr);
  EXPECT_EQ(mgn_get_root_vertex(vertex(3)), vertex(1));
  EXPECT_EQ(mgn_get_common_root_vertex(vertex(3), vertex(2)), vertex(1));
  EXPECT_TRUE(mgn_check_vertex_ancestor(vertex(1), vertex(3)));
  EXPECT_FALSE(mgn_check_vertex_ancestor(vertex(3), vertex(1)));
}

TEST_F(VertexRead, FixedToCurveByParameterOrByPosition) {
  mgn_read_model_text(line_model +
                      "vertex 3 fixed curve 1 t 0.25\n"
                      "vertex 4 fixed curve 1 xyz 3 0.000001 0\n"
                      "vertex 5 fixed curve 1 t 0.5 size cur * 2\n");
  const mgn_vertex* v3 = vertex(3);
  EXPECT_DOUBLE_EQ(v3->param[0], 0.25);
  EXPECT_DOUBLE_EQ(v3->xyz[0], 2.5);
  EXPECT_DOUBLE_EQ(v3->ctrl_point->w, 1.0);
  EXPECT_FLOAT_EQ(v3->ctrl_point->size, 1.5f);  // interpolated between 1 and 3
  EXPECT_NEAR(vertex(4)->param[0], 0.3, 1e-9);
  EXPECT_DOUBLE_EQ(vertex(4)->xyz[1], 0.000001);
  EXPECT_FLOAT_EQ(vertex(5)->ctrl_point->size, 4.0f);
  EXPECT_EQ(mgn_count_items(mgn_find_curve(1)->fixed_vertices), 3);
}

// Curve 2 is the piece of curve 1 from x = 2 to x = 8, written from its end
// at x = 8: it runs against curve 1.
const std::string piece_model = line_model +
                                "vertex 3 fixed curve 1 t 0.2\n"
                                "vertex 4 fixed curve 1 t 0.8\n"
                                "curve 2 vertex 4 3 fixed curve 1\n";

TEST_F(VertexRead, ParameterOnReversedCurveIsStoredMirrored) {
  mgn_read_model_text(piece_model + "vertex 5 fixed curve 2 t 0.25\nvertex 6 fixed curve 2 t 0.5\n");
  ASSERT_TRUE(mgn_find_curve(2)->reversed);
  EXPECT_DOUBLE_EQ(vertex(5)->param[0], 0.75);
  EXPECT_DOUBLE_EQ(vertex(5)->xyz[0], 6.5);
  EXPECT_DOUBLE_EQ(vertex(6)->param[0], 0.5);
}

TEST_F(VertexRead, VerticesOnCurvesAreRecordedUpAndDown) {
  mgn_read_model_text(piece_model +
                      "vertex 5 fixed curve 1 t 0.5\n"   // inside curve 2 as well
                      "vertex 6 fixed curve 1 t 0.9\n"   // outside curve 2
                      "vertex 7 fixed curve 2 t 0.25\n"  // on curve 1 at 0.65
                      "vertex 8 fixed curve 1 t 0.1 virtual\n");
  mgn_curve* c1 = mgn_find_curve(1);
  mgn_curve* c2 = mgn_find_curve(2);
  EXPECT_NE(mgn_find_item(c2->fixed_vertices, vertex(5)), nullptr);
  EXPECT_EQ(mgn_find_item(c2->fixed_vertices, vertex(6)), nullptr);
  EXPECT_NE(mgn_find_item(c1->fixed_vertices, vertex(7)), nullptr);
  double t = 0.0;
  ASSERT_TRUE(mgn_get_vertex_curve_parameter(vertex(7), c1, &t));
  EXPECT_NEAR(t, 0.65, 1e-12);
  ASSERT_TRUE(mgn_get_vertex_curve_parameter(vertex(5), c2, &t));
  EXPECT_NEAR(t, 0.5, 1e-12);
  EXPECT_FALSE(mgn_get_vertex_curve_parameter(vertex(6), c2, &t));
  ASSERT_TRUE(mgn_get_vertex_curve_parameter(vertex(1), c1, &t));
  EXPECT_EQ(t, 0.0);
}

TEST_F(VertexRead, HiddenVertexWarnings) {
  ::testing::internal::CaptureStderr();
  mgn_read_model_text(
      "vertex 1 xyz 0 0 0 hidden property 3 output yes\n"
      "vertex 2 xyz 0 0 0 hidden output no\n"
      "vertex 3 fixed vertex 2\n"
      "vertex 4 fixed vertex 3 hidden\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Warning: Keyword PROPERTY ignored for hidden vertex (1)\n"
            "Warning: Keyword OUTPUT ignored for hidden vertex (1)\n");
  EXPECT_EQ(mgn_warning_count, 2);
  EXPECT_EQ(vertex(1)->property, 0);
  EXPECT_FALSE(vertex(1)->output);
  EXPECT_FALSE(vertex(2)->output);
  // A hidden vertex hides its top physical parent.
  EXPECT_TRUE(vertex(2)->hidden);
  EXPECT_FALSE(vertex(3)->hidden);
}

TEST_F(VertexRead, VirtualVertexDropsItsRequests) {
  mgn_read_model_text("vertex 1 xyz 0 0 0 virtual hidden property 3 output yes slave\n");
  const mgn_vertex* v = vertex(1);
  EXPECT_TRUE(v->is_virtual);
  EXPECT_FALSE(v->hidden || v->output || v->output_requested || v->slave);
  EXPECT_EQ(v->property, 0);
  EXPECT_EQ(mgn_warning_count, 0);
}

TEST_F(VertexRead, TopPhysicalParentStopsAtVirtualVertex) {
  mgn_read_model_text(
      "vertex 1 xyz 0 0 0\n"
      "vertex 2 fixed vertex 1 virtual\n"
      "vertex 3 fixed vertex 2\n"
      "vertex 4 fixed vertex 3\n");
  EXPECT_EQ(mgn_get_top_physical_vertex(vertex(4)), vertex(3));
  EXPECT_EQ(mgn_get_top_physical_vertex(vertex(1)), vertex(1));
  EXPECT_EQ(mgn_get_top_nonvirtual_vertex(vertex(4)), vertex(1));
  EXPECT_EQ(mgn_get_top_virtual_vertex(vertex(4)), vertex(2));
  EXPECT_EQ(mgn_get_top_virtual_vertex(vertex(1)), nullptr);
  // Property of a physical vertex on a virtual parent is its own.
  EXPECT_EQ(vertex(3)->property, 0);
}

TEST_F(VertexRead, CoincideListThenNextOption) {
  mgn_read_model_text(
      "vertex 3 xyz 0 0 0\n"
      "vertex 4 xyz 0 0 0\n"
      "vertex 1 xyz 0 0 0 coincide vertex 3 4 3 size 2\n"
      "vertex 5 xyz 0 0 0 coincide vertex 3\n");
  EXPECT_FLOAT_EQ(vertex(1)->ctrl_point->size, 2.0f);
  EXPECT_EQ(mgn_count_items(vertex(1)->coinciding_vertices), 3);  // 3, 4 and 5
  EXPECT_EQ(mgn_count_items(vertex(4)->coinciding_vertices), 1);  // 1 only
  EXPECT_NE(mgn_find_item(vertex(3)->coinciding_vertices, vertex(1)), nullptr);
  EXPECT_NE(mgn_find_item(vertex(4)->coinciding_vertices, vertex(1)), nullptr);
  // Coinciding with 3 links vertex 5 with the whole group of 3.
  EXPECT_EQ(mgn_count_items(vertex(5)->coinciding_vertices), 2);
  EXPECT_NE(mgn_find_item(vertex(1)->coinciding_vertices, vertex(5)), nullptr);
}

}  // namespace

// Vertices fixed to a surface (the square of mgn_square_model).
namespace {

class VertexOnSurfaceError : public ::testing::TestWithParam<mgn_input_error_case> {};

TEST_P(VertexOnSurfaceError, ReportsMessageWithLineAndStatus25) {
  const mgn_input_error_case& c = GetParam();
  mgn_reset_model_settings();
  EXPECT_EXIT(mgn_read_on_square(c.text), ::testing::ExitedWithCode(25), mgn_input_error_regex(c.message, c.line));
}

const mgn_input_error_case surface_cases[] = {
    {"UvMissing", "vertex 9 fixed surface 1\n", 1, "Keyword XYZ or UV missing"},
    {"UMissing", "vertex 9 fixed surface 1 uv\n", 1, "Missing u parameter"},
    {"VMissing", "vertex 9 fixed surface 1 uv 0.5\n", 1, "Missing v parameter"},
    {"UZero", "vertex 9 fixed surface 1 uv 0 0.5\n", 1, "Parameter u out of range"},
    {"VOne", "vertex 9 fixed surface 1 uv 0.5 1\n", 1, "Parameter v out of range"},
    {"CurveAndSurface", "vertex 9 xyz 1 0 0 fixed curve 1 fixed surface 1\n", 1,
     "Vertex (9) is not allowed to be fixed to curve (1) and surface (1) simultaneously"},
    {"WeightOnSurface", "vertex 9 fixed surface 1 uv 0.5 0.5 weight 2\n", 1,
     "Keyword WEIGHT not expected for vertex (9) fixed to surface (1)"},
    {"TooFarFromSurface", "vertex 9 fixed surface 1 xyz 3 4 2\n", 1,
     "Position of vertex 9 is too far from surface 1 (distance = 2.000000)"},
    {"AmbiguousOnSurface", "vertex 9 fixed surface 1 uv 0.5 0.5 xyz 5 5.1 0\n", 1,
     "Ambiguous position of vertex 9 detected"},
    {"OnCurveOfSurface",
     "vertex 9 fixed surface 1 uv 0.2 0.5\nvertex 10 fixed surface 1 uv 0.8 0.5\ncurve 9 vertex 9 10 fixed surface 1\n"
     "vertex 11 fixed surface 1 xyz 5 5 0\n",
     4, "Vertex 11 intersects curve 9 on surface 1"},
};

INSTANTIATE_TEST_SUITE_P(Surface, VertexOnSurfaceError, ::testing::ValuesIn(surface_cases),
                         [](const auto& info) { return std::string(info.param.name); });

class VertexOnSurface : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }
  void TearDown() override { mgn_release_model(); }
};

TEST_F(VertexOnSurface, ByParametersOrByPosition) {
  mgn_read_on_square("vertex 9 fixed surface 1 uv 0.25 0.5 size sur * 3\nvertex 10 fixed surface 1 xyz 3 4 0\n");
  const mgn_vertex* v = mgn_find_vertex(9);
  EXPECT_NEAR(v->xyz[0], 2.5, 1e-12);
  EXPECT_NEAR(v->xyz[1], 5.0, 1e-12);
  EXPECT_DOUBLE_EQ(v->ctrl_point->w, 1.0);
  EXPECT_FLOAT_EQ(v->ctrl_point->size, 3.0f);
  EXPECT_NEAR(mgn_find_vertex(10)->param[0], 0.3, 1e-9);
  EXPECT_NEAR(mgn_find_vertex(10)->param[1], 0.4, 1e-9);
  EXPECT_EQ(mgn_count_items(mgn_find_surface(1)->fixed_vertices), 2);
}

TEST_F(VertexOnSurface, LocalizedOnChildSurface) {
  mgn_read_model_text(mgn_square_model);
  mgn_surface* parent = mgn_add_square_surface(1);
  mgn_surface* child = mgn_add_square_surface(2);
  child->parent_surface = parent;
  child->umin = child->vmin = 0.2;
  child->umax = child->vmax = 0.6;
  mgn_add_item_to_head(parent->child_surfaces, child);
  ::testing::internal::CaptureStderr();
  mgn_read_more_model_text("vertex 9 fixed surface 1 uv 0.3 0.5\nvertex 10 fixed surface 1 uv 0.7 0.5\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Warning: Vertex 9 is localized on surface 2 (u = 0.250000, v = 0.750000)\n");
  const mgn_vertex* v = mgn_find_vertex(9);
  EXPECT_EQ(v->parent_surface, child);
  EXPECT_EQ(mgn_find_item(parent->fixed_vertices, v), nullptr);
  EXPECT_NE(mgn_find_item(child->fixed_vertices, v), nullptr);
  EXPECT_EQ(mgn_find_vertex(10)->parent_surface, parent);
}

TEST_F(VertexOnSurface, VertexOnVirtualChildIsIgnoredByPhysicalParent) {
  mgn_read_model_text(mgn_square_model);
  mgn_surface* parent = mgn_add_square_surface(1);
  mgn_surface* child = mgn_add_square_surface(2);
  child->is_virtual = true;
  child->parent_surface = parent;
  ::testing::internal::CaptureStderr();
  mgn_read_more_model_text("vertex 9 fixed surface 2 uv 0.3 0.5\nvertex 10 fixed surface 2 uv 0.3 0.6 virtual\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Warning: Vertex 9 will be ignored when discretizing surface 1\n");
}

}  // namespace
