// CURVE definitions and their POLYGON lines: options, sequence rules,
// checks, fixed curves, and the relations between curves.
#include <gtest/gtest.h>

#include <string>

#include "bezier.h"
#include "curve.h"
#include "input.h"
#include "message.h"
#include "model_fixture.h"
#include "vertex.h"

namespace {

// Vertices 1 (origin) and 2 (10, 0, 0), a straight curve 1 between them and
// the vertices 3 and 4 on it at t = 0.2 and 0.8.
const std::string base =
    "vertex 1 xyz 0 0 0\n"
    "vertex 2 xyz 10 0 0\n"
    "curve 1 vertex 1 2\n"
    "vertex 3 fixed curve 1 t 0.2\n"
    "vertex 4 fixed curve 1 t 0.8\n";
// The next line of a model that starts with base.
constexpr long next_line = 6;

class CurveError : public ::testing::TestWithParam<mgn_input_error_case> {};

TEST_P(CurveError, ReportsMessageWithLineAndStatus25) {
  const mgn_input_error_case& c = GetParam();
  mgn_reset_model_settings();
  EXPECT_EXIT(mgn_read_model_text(c.text), ::testing::ExitedWithCode(25), mgn_input_error_regex(c.message, c.line));
}

mgn_input_error_case on_base(const char* name, const std::string& lines, long line_offset, const std::string& message) {
  return {name, base + lines, next_line + line_offset, message};
}

const mgn_input_error_case option_cases[] = {
    {"IdMissing", "curve\n", 1, "Missing curve id"},
    {"IdZero", "curve 0 vertex 1 2\n", 1, "Positive curve id required"},
    {"VertexNotDefined", "vertex 1 xyz 0 0 0\ncurve 1 vertex 1 3\n", 2, "Vertex 3 does not exist"},
    on_base("IdTwice", "curve 1 vertex 1 2\n", 0, "Multiple instance of curve 1 detected"),
    on_base("VertexUnknown", "curve 5 vertex 1 9\n", 0, "Vertex 9 does not exist"),
    on_base("FirstVertexMissing", "curve 5 vertex\n", 0, "Missing first vertex id"),
    on_base("SecondVertexMissing", "curve 5 vertex 1 # 2\n", 0, "Missing second vertex id"),
    on_base("NoVertexKeyword", "curve 5 order 3\n", 0, "Keyword VERTEX missing"),
    on_base("OrderMissing", "curve 5 vertex 1 2 order\n", 0, "Order specification missing"),
    on_base("OrderOne", "curve 5 vertex 1 2 order 1\n", 0, "Order specification out of range"),
    on_base("OrderSeventeen", "curve 5 vertex 1 2 order 17\n", 0, "Order specification out of range"),
    on_base("FixedWithoutParent", "curve 5 vertex 3 4 fixed size 1\n", 0,
            "Keyword CURVE or SURFACE missing (redundand keyword FIXED)"),
    on_base("FixedAtLineEnd", "curve 5 vertex 3 4 fixed\n", 0, "Keyword CURVE or SURFACE missing"),
    on_base("CoincideWithoutCurve", "curve 5 vertex 1 2 coincide size 1\n", 0,
            "Keyword CURVE missing (redundand keyword COINCIDE)"),
    on_base("CoincideAtLineEnd", "curve 5 vertex 1 2 coincide\n", 0, "Keyword CURVE missing"),
    on_base("CoincideEmptyList", "curve 5 vertex 1 2 coincide curve\n", 0, "Missing coinciding curve id"),
    on_base("CoincideUnknownCurve", "curve 5 vertex 1 2 coincide curve 1 8\n", 0, "Curve 8 does not exist"),
    on_base("WeakWithoutMirror", "curve 5 vertex 1 2 weak size 1\n", 0, "Keyword MIRROR missing (redundand keyword WEAK)"),
    on_base("WeakAtLineEnd", "curve 5 vertex 1 2 weak\n", 0, "Keyword MIRROR missing"),
    on_base("CurveWithoutFixedOrCoincide", "curve 5 vertex 1 2 curve 1\n", 0,
            "Keyword CURVE not expected (keyword FIXED or COINCIDE missing)"),
    on_base("SurfaceWithoutFixed", "curve 5 vertex 1 2 surface 1\n", 0,
            "Keyword SURFACE not expected (keyword FIXED missing)"),
    on_base("ParentCurveMissing", "curve 5 vertex 3 4 fixed curve\n", 0, "Missing parent curve id"),
    on_base("ParentCurveUnknown", "curve 5 vertex 3 4 fixed curve 9\n", 0, "Curve 9 does not exist"),
    on_base("ParentSurfaceMissing", "curve 5 vertex 3 4 fixed surface\n", 0, "Missing parent surface id"),
    on_base("ParentSurfaceUnknown", "curve 5 vertex 3 4 fixed surface 9\n", 0, "Surface 9 does not exist"),
    on_base("SizeMissing", "curve 5 vertex 1 2 size\n", 0, "Size specification missing"),
    on_base("SizeNegative", "curve 5 vertex 1 2 size -1\n", 0, "Positive or zero mesh size required"),
    on_base("SizeWord", "curve 5 vertex 1 2 size yes\n", 0, "Unexpected or invalid keyword \"YES\" encountered"),
    on_base("SizeWordOfVerticesOnly", "curve 5 vertex 1 2 size ver\n", 0, "Floating point number expected (VER - read)"),
    on_base("SizeMultiplierMissing", "curve 5 vertex 1 2 size 1 *\n", 0, "Mesh size multiplication factor missing"),
    on_base("SizeMultiplierNegative", "curve 5 vertex 1 2 size 1 * -1\n", 0,
            "Positive or zero mesh size multiplication factor required"),
    on_base("RateMissing", "curve 5 vertex 1 2 rate\n", 0, "Rate specification missing"),
    on_base("RateNegative", "curve 5 vertex 1 2 rate -0.1\n", 0, "Positive or zero curvature rate required"),
    on_base("RateWord", "curve 5 vertex 1 2 rate uni\n", 0, "Unexpected or invalid keyword \"UNI\" encountered"),
    on_base("RateMultiplierMissing", "curve 5 vertex 1 2 rate def *\n", 0, "Rate multiplication factor missing"),
    on_base("RateMultiplierNegative", "curve 5 vertex 1 2 rate 1 * -2\n", 0,
            "Positive or zero rate multiplication factor required"),
    on_base("DensityMissing", "curve 5 vertex 1 2 density\n", 0, "Density specification missing"),
    on_base("DensityNegative", "curve 5 vertex 1 2 density -3\n", 0, "Positive or zero density required"),
    on_base("DensityMultiplierMissing", "curve 5 vertex 1 2 density 1 *\n", 0, "Density multiplication factor missing"),
    on_base("DensityMultiplierNegative", "curve 5 vertex 1 2 density def * -1\n", 0,
            "Positive or zero density multiplication factor required"),
    on_base("FactorMissing", "curve 5 vertex 1 2 factor\n", 0, "Factor specification missing"),
    on_base("FactorNegative", "curve 5 vertex 1 2 factor -1\n", 0, "Positive or zero factor required"),
    on_base("PropertyMissing", "curve 5 vertex 1 2 property\n", 0, "Property specification missing"),
    on_base("PropertyNegative", "curve 5 vertex 1 2 property -4\n", 0, "Positive or zero property number required"),
    on_base("SwapMissing", "curve 5 vertex 1 2 swap\n", 0, "Swap specification missing"),
    on_base("SwapWord", "curve 5 vertex 1 2 swap maybe\n", 0, "Unexpected or invalid keyword \"MAYBE\" encountered"),
    on_base("SmearMissing", "curve 5 vertex 1 2 smear\n", 0, "Smear specification missing"),
    on_base("AngleAlone", "curve 5 vertex 1 2 angle 100\n", 0,
            "Keyword ANGLE unexpected (keyword SWAP or SMEAR missing)"),
    on_base("AngleAfterOtherOption", "curve 5 vertex 1 2 swap yes size 1 angle 100\n", 0,
            "Keyword ANGLE unexpected (keyword SWAP or SMEAR missing)"),
    on_base("AngleTwiceAfterSwap", "curve 5 vertex 1 2 swap yes angle 100 angle 120\n", 0,
            "Keyword ANGLE unexpected (keyword SWAP or SMEAR missing)"),
    on_base("AngleMissing", "curve 5 vertex 1 2 swap yes angle\n", 0, "Angle specification missing"),
    on_base("AngleBelow90", "curve 5 vertex 1 2 swap yes angle 45\n", 0, "Angle out of permissible range"),
    on_base("AngleAbove180", "curve 5 vertex 1 2 smear no angle 180.5\n", 0, "Angle out of permissible range"),
    on_base("OutputMissing", "curve 5 vertex 1 2 output\n", 0, "Output specification missing"),
    on_base("BassocMissing", "curve 5 vertex 1 2 bassoc\n", 0, "Specification of output of boundary association missing"),
    on_base("BassocWord", "curve 5 vertex 1 2 bassoc def\n", 0, "Unexpected or invalid keyword \"DEF\" encountered"),
    on_base("CountMissing", "curve 5 vertex 1 2 count\n", 0, "Count specification missing"),
    on_base("CountNegative", "curve 5 vertex 1 2 count -1\n", 0, "Positive or zero count required"),
    on_base("PolysizeEmpty", "curve 5 vertex 3 4 fixed curve 1 polysize size 1\n", 0, "Missing poly size specification"),
    on_base("PolysizeLeadingStar", "curve 5 vertex 3 4 fixed curve 1 polysize * 2\n", 0, "Repetition sign * not expected"),
    on_base("PolysizeStarAfterCount", "curve 5 vertex 3 4 fixed curve 1 polysize 1 * 2 * 2\n", 0,
            "Repetition sign * not expected"),
    on_base("PolysizeCountMissing", "curve 5 vertex 3 4 fixed curve 1 polysize 1 *\n", 0, "Missing number of repetition"),
    on_base("PolysizeCountZero", "curve 5 vertex 3 4 fixed curve 1 polysize 1 * 0\n", 0,
            "Positive number of repetition required"),
    on_base("PolysizeRepeatedBeyond16", "curve 5 vertex 3 4 fixed curve 1 polysize 1 * 17\n", 0,
            "Too many poly size parameters"),
    on_base("PolysizeHugeRepetition", "curve 5 vertex 3 4 fixed curve 1 polysize 1 * 2000000000\n", 0,
            "Too many poly size parameters"),
    on_base("PolysizeSeventeenValues",
            "curve 5 vertex 3 4 fixed curve 1 polysize 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 def\n", 0,
            "Too many poly size parameters"),
    on_base("PolysizeNotFixed", "curve 5 vertex 1 2 polysize 1 2\n", 0,
            "Keyword POLYSIZE not expected for non-fixed curve (5)"),
    on_base("TransitionF2cMissing", "curve 5 vertex 1 2 transition\n", 0, "Transition f2c factor specification missing"),
    on_base("TransitionC2fMissing", "curve 5 vertex 1 2 transition 2\n", 0, "Transition c2f factor specification missing"),
    on_base("TransitionF2cBelowOne", "curve 5 vertex 1 2 transition 0.5 1\n", 0,
            "First transition factor out of permissible range"),
    on_base("TransitionF2cAboveSix", "curve 5 vertex 1 2 transition 6.5 1\n", 0,
            "First transition factor out of permissible range"),
    on_base("TransitionC2fAboveTwo", "curve 5 vertex 1 2 transition def 3\n", 0,
            "Second transition factor out of permissible range"),
    on_base("MirrorMissing", "curve 5 vertex 1 2 mirror\n", 0, "Missing mirror curve id"),
    on_base("MirrorUnknown", "curve 5 vertex 1 2 weak mirror 7\n", 0, "Curve 7 does not exist"),
    on_base("DuplicateMissing", "curve 5 vertex 1 2 duplicate\n", 0, "Missing duplicated curve id"),
    on_base("DuplicateUnknown", "curve 5 vertex 1 2 duplicate 7\n", 0, "Curve 7 does not exist"),
    on_base("ElemgroupMissing", "curve 5 vertex 1 2 elemgroup\n", 0, "Missing edge elem group id"),
    on_base("ElempropMissing", "curve 5 vertex 1 2 elemprop\n", 0, "Elem property string missing"),
    on_base("ShiftYMissing", "curve 5 vertex 1 2 shift 1\n", 0, "Shift y missing"),
    on_base("FitMissing", "curve 5 vertex 1 2 fit\n", 0, "Fitting specification missing"),
    on_base("IterNegative", "curve 5 vertex 1 2 iter -1\n", 0, "Positive or zero number of iterations required"),
    on_base("IterMissing", "curve 5 vertex 1 2 iter\n", 0, "Missing number of iterations"),
    on_base("LimitNegative", "curve 5 vertex 1 2 limit -1\n", 0, "Positive or zero fitting limit required"),
    on_base("LimitMissing", "curve 5 vertex 1 2 limit\n", 0, "Missing fitting limit"),
    on_base("DirectionComponentMissing", "curve 5 vertex 1 2 dir t 1 2\n", 0, "Component z missing"),
    on_base("DirectionWord", "curve 5 vertex 1 2 dir q\n", 0, "Unexpected or invalid keyword \"Q\" encountered"),
    on_base("DirectionWordWithoutDir", "curve 5 vertex 1 2 xz\n", 0, "Keyword XZ not expected (keyword DIR missing)"),
    on_base("ValueWordAsOption", "curve 5 vertex 1 2 def\n", 0, "Unexpected or invalid keyword \"DEF\" encountered"),
    on_base("SecondSize", "curve 5 vertex 1 2 size 1 size 2\n", 0, "Keyword \"SIZE\" not expected due to the duplicity"),
};

const mgn_input_error_case check_cases[] = {
    on_base("SlaveAndMaster", "curve 5 vertex 1 2 master slave\n", 0, "Keywords SLAVE and MASTER cannot be used together"),
    on_base("MirroredFixedCurveWithPhysicalParent", "curve 5 vertex 3 4 fixed curve 1 mirror 1\n", 0,
            "Mirrored curve (5) can have virtual parent curves only"),
    on_base("FixedWithIdenticalVertices", "curve 5 vertex 3 3 fixed curve 1\n", 0,
            "Identical vertices for fixed curve (5) specification not allowed"),
    on_base("SizeCurWithoutParent", "curve 5 vertex 1 2 size cur\n", 0,
            "Mesh size of curve (5) inherited from non-existent parent curve"),
    on_base("SizeSurWithoutParent", "curve 5 vertex 3 4 fixed curve 1 size sur\n", 0,
            "Mesh size of curve (5) inherited from non-existent parent surface"),
    on_base("VirtualVertexOnPhysicalCurve", "vertex 5 xyz 1 1 1 virtual\ncurve 5 vertex 1 5\n", 1,
            "Virtual vertex (5) cannot form boundary of physical curve (5)"),
    on_base("PropertyOnPhysicalPiece", "curve 5 vertex 3 4 fixed curve 1 property 2\n", 0,
            "Keyword PROPERTY not expected for fixed curve (5) with physical parent curve (1)"),
    on_base("SlaveOnPhysicalPiece", "curve 5 vertex 3 4 fixed curve 1 slave\n", 0,
            "Keyword SLAVE not expected for fixed curve (5) with physical parent curve (1)"),
    on_base("MasterOnPhysicalPiece", "curve 5 vertex 3 4 fixed curve 1 master\n", 0,
            "Keyword MASTER not expected for fixed curve (5) with physical parent curve (1)"),
    on_base("VertexNotOnParent", "vertex 5 xyz 5 5 0\ncurve 5 vertex 3 5 fixed curve 1\n", 1,
            "Vertex 5 of curve 5 is not fixed to parent curve 1"),
    on_base("VertexWeightDiffersFromParentEnd", "vertex 5 fixed vertex 1 weight 2\ncurve 5 vertex 5 4 fixed curve 1\n", 1,
            "Vertex 5 cannot bound fixed curve 5\nIt differs in weight from vertex 1 of parent curve 1"),
    on_base("IdenticalVerticesOfCurvedCurve", "curve 5 vertex 1 1 order 3\npolygon 1 xyz 5 5 0\n", 0,
            "Identical vertices for non-collapsed higher order curve (5) specification not allowed"),
    on_base("CoincideVirtual", "curve 5 vertex 1 2 virtual coincide curve 1\n", 0, "Only physical curves can be coinciding"),
    on_base("CoincideWithPiece", "curve 5 vertex 3 4 fixed curve 1\ncurve 6 vertex 1 2 coincide curve 5\n", 1,
            "Only top physical parent curve (5) can be coinciding"),
};

const mgn_input_error_case polygon_cases[] = {
    on_base("PointIdBeyondOrder", "curve 5 vertex 1 2 order 4\npolygon 3 xyz 1 1 1\n", 1, "Ctrl point id out of range"),
    on_base("PointIdZero", "curve 5 vertex 1 2 order 4\npolygon 0 xyz 1 1 1\n", 1, "Ctrl point id out of range"),
    on_base("PointIdMissing", "curve 5 vertex 1 2 order 4\npolygon\n", 1, "Missing ctrl point id"),
    on_base("PointTwice", "curve 5 vertex 1 2 order 4\npolygon 1 xyz 1 1 1\npolygon 1 xyz 2 2 2\n", 2,
            "Multiple instance of ctrl point 1 detected"),
    on_base("OtherLineInsteadOfPolygon", "curve 5 vertex 1 2 order 3\n\n# c\nvertex 9 xyz 0 0 0\n", 3,
            "Keyword POLYGON expected for curve 5"),
    on_base("EndOfFileBeforePolygon", "curve 5 vertex 1 2 order 3\n", 1, "Unexpected end of input file encountered"),
    on_base("PositionMissing", "curve 5 vertex 1 2 order 3\npolygon 1 weight 2\n", 1,
            "Position of ctrl point 1 not specified"),
    on_base("XyzAfterPoly", "curve 5 vertex 1 2 order 3\npolygon 1 poly 0 xyz 1 1 1\n", 1,
            "Keyword XYZ not expected for fixed ctrl point"),
    on_base("PolyAfterXyz", "curve 5 vertex 1 2 order 3\npolygon 1 xyz 1 1 1 poly 0\n", 1,
            "Keyword POLY not expected when keyword XYZ already used"),
    on_base("PolyIdMissing", "curve 5 vertex 1 2 order 3\npolygon 1 poly\n", 1, "Missing parent ctrl point id"),
    on_base("PolyIdBeyondOrder", "curve 5 vertex 1 2 order 4\npolygon 1 poly 4\n", 1, "Fixed ctrl point id out of range"),
    on_base("PolyIdNegative", "curve 5 vertex 1 2 order 4\npolygon 1 poly -1\n", 1, "Fixed ctrl point id out of range"),
    on_base("PolyOfUndefinedPoint", "curve 5 vertex 1 2 order 4\npolygon 1 poly 2\n", 1, "Ctrl point 2 does not exist"),
    on_base("WeightMissing", "curve 5 vertex 1 2 order 3\npolygon 1 xyz 1 1 1 weight\n", 1, "Weight specification missing"),
    // The weight function 1 - 5t + 5t^2 is negative at t = 0.5: reported at
    // the curve's line.
    on_base("WeightFunctionVanishes", "curve 5 vertex 1 2 order 3\npolygon 1 xyz 5 5 0 weight -1.5\n", 0,
            "Zero weight detected on curve 5 at t = 0.500000"),
    on_base("SizeCurOfZeroCurveSize", "curve 5 vertex 1 2 order 3\npolygon 1 xyz 1 1 1 size cur\n", 1,
            "Zero default mesh size specification cannot be used by ctrl point (1)"),
    on_base("SizeMultiplierMissing", "curve 5 vertex 1 2 order 3\npolygon 1 xyz 1 1 1 size 2 *\n", 1,
            "Mesh size multiplication factor missing"),
    on_base("DirectionWordWithoutDir", "curve 5 vertex 1 2 order 3\npolygon 1 xyz 1 1 1 x\n", 1,
            "Keyword X not expected (keyword DIR missing)"),
    on_base("SecondXyz", "curve 5 vertex 1 2 order 3\npolygon 1 xyz 1 1 1 xyz 1 1 1\n", 1,
            "Keyword \"XYZ\" not expected due to the duplicity"),
    on_base("LinesCountOnAfterPolygon", "curve 5 vertex 1 2 order 3\npolygon 1 xyz 1 1 1\npoint 2\n", 2,
            "Unexpected or invalid keyword \"POINT\" encountered"),
    on_base("WordsAfterPolyend", "curve 5 vertex 1 2 order 3\npolyend now\n", 1,
            "Unexpected or invalid keyword \"NOW\" encountered"),
};

INSTANTIATE_TEST_SUITE_P(Options, CurveError, ::testing::ValuesIn(option_cases),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Checks, CurveError, ::testing::ValuesIn(check_cases),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Polygon, CurveError, ::testing::ValuesIn(polygon_cases),
                         [](const auto& info) { return std::string(info.param.name); });

class CurveRead : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }
  void TearDown() override { mgn_release_model(); }
  static mgn_curve* curve(long id) {
    mgn_curve* c = mgn_find_curve(id);
    EXPECT_NE(c, nullptr) << "curve " << id;
    return c;
  }
  static const double* point(long id, int k) { return curve(id)->polygon[0][k]->xyz; }
};

TEST_F(CurveRead, StraightCurveReadsNoPolygonLines) {
  mgn_read_model_text(base + "curve 5 vertex 2 1\nvertex 9 xyz 0 0 0\n");
  const mgn_curve* c = curve(5);
  EXPECT_EQ(c->order, 2);
  ASSERT_EQ(c->polygon[0].size(), 2u);
  EXPECT_EQ(c->polygon[0][0], mgn_find_vertex(2)->ctrl_point);
  EXPECT_EQ(c->polygon[0][1], mgn_find_vertex(1)->ctrl_point);
  EXPECT_NE(mgn_find_vertex(9), nullptr);
  EXPECT_FALSE(c->collapsed);
}

TEST_F(CurveRead, DefaultsFromTheSettings) {
  mgn_set.curvature_rate = 0.25;
  mgn_set.curve_density = 3.0;
  mgn_set.default_bassoc_output = false;
  mgn_set.transition_f2c = 2.0;
  mgn_set.transition_c2f = 1.25;
  mgn_read_model_text(base + "curve 5 vertex 1 2\n");
  const mgn_curve* c = curve(5);
  EXPECT_FLOAT_EQ(c->rate, 0.25f);
  EXPECT_FLOAT_EQ(c->density, 3.0f);
  EXPECT_FALSE(c->bassoc);
  EXPECT_FLOAT_EQ(c->f2c, 2.0f);
  EXPECT_FLOAT_EQ(c->c2f, 1.25f);
  EXPECT_FLOAT_EQ(c->factor, 1.0f);
  EXPECT_FLOAT_EQ(c->swap_angle, 0.70710677f);
  EXPECT_TRUE(c->output);
}

TEST_F(CurveRead, PolygonLinesInAnyOrderWithShift) {
  mgn_read_model_text(base +
                      "curve 5 vertex 1 2 order 4 shift 0 0 1\n"
                      "polygon 2 xyz 7 0 3 weight -0.5 size 2\n"
                      "polygon 1 xyz 3 0 3 dir t 1 0 0\n"
                      "vertex 9 xyz 0 0 0\n");
  EXPECT_DOUBLE_EQ(point(5, 1)[0], 3.0);
  EXPECT_DOUBLE_EQ(point(5, 1)[2], 4.0);
  EXPECT_DOUBLE_EQ(point(5, 2)[2], 4.0);
  EXPECT_DOUBLE_EQ(curve(5)->polygon[0][2]->w, -0.5);
  EXPECT_FLOAT_EQ(curve(5)->polygon[0][2]->size, 2.0f);
  // XYZ without WEIGHT and SIZE: weight 1 and the default size.
  EXPECT_DOUBLE_EQ(curve(5)->polygon[0][1]->w, 1.0);
  EXPECT_FLOAT_EQ(curve(5)->polygon[0][1]->size, 1.0f);
  // A negative weight raises the second order.
  EXPECT_EQ(curve(5)->second_order, 5);
  EXPECT_NE(mgn_find_vertex(9), nullptr);
}

TEST_F(CurveRead, PolyendKeepsInterpolatedPoints) {
  mgn_read_model_text(
      "vertex 1 xyz 0 0 0 size 1\n"
      "vertex 2 xyz 3 6 9 size 4 weight 4\n"
      "curve 5 vertex 1 2 order 4\n"
      "polyend\n"
      "vertex 9 xyz 0 0 0\n");
  const mgn_curve* c = curve(5);
  EXPECT_DOUBLE_EQ(c->polygon[0][1]->xyz[1], 2.0);
  EXPECT_DOUBLE_EQ(c->polygon[0][2]->xyz[2], 6.0);
  EXPECT_DOUBLE_EQ(c->polygon[0][1]->w, 2.0);
  EXPECT_FLOAT_EQ(c->polygon[0][2]->size, 3.0f);
  EXPECT_EQ(c->second_order, 4);
  EXPECT_NE(mgn_find_vertex(9), nullptr);
}

TEST_F(CurveRead, PolyCopiesAnotherPoint) {
  mgn_read_model_text(
      "vertex 1 xyz 0 0 0 weight 3 size 2\n"
      "vertex 2 xyz 9 0 0\n"
      "curve 5 vertex 1 2 order 4 size 5\n"
      "polygon 2 poly 0 weight 0.5\n"
      "polygon 1 poly 2 size cur * 2\n");
  const mgn_curve* c = curve(5);
  EXPECT_DOUBLE_EQ(c->polygon[0][2]->xyz[0], 0.0);
  EXPECT_DOUBLE_EQ(c->polygon[0][2]->w, 0.5);
  EXPECT_FLOAT_EQ(c->polygon[0][2]->size, 2.0f);
  EXPECT_DOUBLE_EQ(c->polygon[0][1]->w, 0.5);
  EXPECT_FLOAT_EQ(c->polygon[0][1]->size, 10.0f);
}

TEST_F(CurveRead, SwapAndSmearAngles) {
  mgn_read_model_text(base +
                      "curve 5 vertex 1 2 swap yes angle 135\n"
                      "curve 6 vertex 1 2 smear yes angle 90 swap no angle 180\n");
  EXPECT_TRUE(curve(5)->swap);
  EXPECT_FLOAT_EQ(curve(5)->swap_angle, 0.70710677f);
  EXPECT_TRUE(curve(6)->smear);
  EXPECT_FALSE(curve(6)->swap);
  EXPECT_NEAR(curve(6)->smear_angle, 0.0f, 1e-7);
  EXPECT_FLOAT_EQ(curve(6)->swap_angle, 1.0f);
}

TEST_F(CurveRead, RateDensityAndTransition) {
  mgn_set.curvature_rate = 0.75;
  mgn_set.curvature_factor = 2.0;
  mgn_read_model_text(base +
                      "curve 5 vertex 1 2 rate def * 2 density 3 * 2 transition 6 2\n"
                      "curve 6 vertex 1 2 rate 0.5 density def transition def 1\n");
  EXPECT_FLOAT_EQ(curve(5)->rate, 1.5f);
  EXPECT_FLOAT_EQ(curve(5)->density, 6.0f);
  EXPECT_FLOAT_EQ(curve(5)->f2c, 6.0f);
  EXPECT_FLOAT_EQ(curve(5)->c2f, 2.0f);
  EXPECT_FLOAT_EQ(curve(6)->rate, 1.0f);
  EXPECT_FLOAT_EQ(curve(6)->density, 1.0f);
  EXPECT_FLOAT_EQ(curve(6)->f2c, 1.5f);
  EXPECT_FLOAT_EQ(curve(6)->c2f, 1.0f);
}

TEST_F(CurveRead, SizeSources) {
  mgn_set.size_factor = 2.0;
  mgn_set.default_size = 3.0;
  mgn_set.uniform_size = 5.0;
  mgn_read_model_text(base +
                      "curve 5 vertex 1 2 size 1.5 * 2\n"
                      "curve 6 vertex 1 2 size uni\n"
                      "vertex 5 fixed curve 5 t 0.3\nvertex 6 fixed curve 5 t 0.6\n"
                      "curve 7 vertex 5 6 fixed curve 5 size cur * 0.5\n");
  EXPECT_FLOAT_EQ(curve(5)->size, 6.0f);
  EXPECT_FLOAT_EQ(curve(6)->size, 5.0f);
  EXPECT_FLOAT_EQ(curve(7)->size, 3.0f);
}

TEST_F(CurveRead, ZeroDefaultSizeWarns) {
  ::testing::internal::CaptureStderr();
  mgn_set.default_size = 0.0;
  mgn_read_model_text(
      "vertex 1 xyz 0 0 0 size 1\nvertex 2 xyz 1 0 0 size 1\n"
      "curve 5 vertex 1 2 size def\ncurve 6 vertex 1 2 size def factor 0\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Warning: Default zero mesh size specification detected at curve 5\n");
}

TEST_F(CurveRead, OutputHiddenAndVirtualRules) {
  ::testing::internal::CaptureStderr();
  mgn_read_model_text(base +
                      "curve 5 vertex 1 2 output yes hidden swap yes\n"
                      "curve 6 vertex 1 2 hidden property 2 count 4\n"
                      "curve 7 vertex 1 2 hidden smear yes\n"
                      "curve 8 vertex 1 2 virtual hidden property 2 count 3 output yes master\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Warning: Keyword HIDDEN ignored for output curve (5)\n"
            "Warning: Keyword SWAP ignored for output curve (5)\n"
            "Warning: Keyword PROPERTY ignored for hidden curve (6)\n"
            "Warning: Keyword COUNT ignored for hidden curve (6)\n"
            "Warning: Keyword HIDDEN ignored for curve subjected to swapping or smearing\n");
  EXPECT_EQ(mgn_warning_count, 5);
  EXPECT_TRUE(curve(5)->output && curve(5)->output_requested);
  EXPECT_FALSE(curve(5)->hidden || curve(5)->swap);
  EXPECT_TRUE(curve(6)->hidden);
  EXPECT_EQ(curve(6)->property, 0);
  EXPECT_EQ(curve(6)->count, 0);
  EXPECT_FALSE(curve(7)->hidden);
  const mgn_curve* v = curve(8);
  EXPECT_FALSE(v->hidden || v->output || v->master);
  EXPECT_EQ(v->count, 0);
}

TEST_F(CurveRead, HiddenNeedsNodalSmoothing) {
  mgn_set.nodal_smoothing = false;
  mgn_read_model_text(base + "curve 5 vertex 1 2 hidden\n");
  EXPECT_FALSE(curve(5)->hidden);
}

TEST_F(CurveRead, MirrorRules) {
  ::testing::internal::CaptureStderr();
  mgn_read_model_text(base +
                      "curve 5 vertex 1 2 virtual\n"
                      "curve 6 vertex 1 2 mirror 5\n"
                      "curve 7 vertex 1 2 weak mirror 1 count 3 output no\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Warning: Keyword MIRROR ignored for curve 6 mirroring virtual curve (5)\n"
            "Warning: Keyword COUNT ignored for mirrored curve (7)\n"
            "Warning: Keyword OUTPUT ignored for mirrored curve (7)\n");
  EXPECT_EQ(curve(6)->mirrored, nullptr);
  EXPECT_EQ(curve(7)->mirrored, curve(1));
  EXPECT_TRUE(curve(7)->weak_mirror);
  EXPECT_TRUE(curve(7)->output);
  EXPECT_EQ(curve(7)->count, 0);
}

TEST_F(CurveRead, PieceOfParentCurve) {
  mgn_read_model_text(base +
                      "vertex 5 fixed curve 1 t 0.5\n"
                      "vertex 6 fixed curve 1 t 0.9\n"
                      "curve 5 vertex 4 3 fixed curve 1 order 3\n");
  mgn_curve* c = curve(5);
  EXPECT_TRUE(c->reversed);
  EXPECT_EQ(c->vertex[0], mgn_find_vertex(3));
  EXPECT_EQ(c->vertex[1], mgn_find_vertex(4));
  EXPECT_DOUBLE_EQ(c->parent_t[0], 0.2);
  EXPECT_DOUBLE_EQ(c->parent_t[1], 0.8);
  EXPECT_EQ(c->order, 3);
  ASSERT_EQ(c->polygon[0].size(), 3u);
  EXPECT_EQ(c->polygon[0][0], mgn_find_vertex(3)->ctrl_point);
  EXPECT_EQ(c->polygon[0][2], mgn_find_vertex(4)->ctrl_point);
  EXPECT_NEAR(c->polygon[0][1]->xyz[0], 5.0, 1e-12);
  // The vertices keep their places on the parent.
  EXPECT_NEAR(mgn_find_vertex(3)->xyz[0], 2.0, 1e-12);
  // Vertex 5 lies inside the piece, vertex 6 does not.
  EXPECT_NE(mgn_find_item(c->fixed_vertices, mgn_find_vertex(5)), nullptr);
  EXPECT_EQ(mgn_find_item(c->fixed_vertices, mgn_find_vertex(6)), nullptr);
  EXPECT_NE(mgn_find_item(curve(1)->fixed_curves, c), nullptr);
}

TEST_F(CurveRead, OrderOfFixedCurveAndPolysize) {
  ::testing::internal::CaptureStderr();
  mgn_read_model_text(
      "vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\n"
      "curve 1 vertex 1 2 order 3\npolygon 1 xyz 5 5 0\n"
      "vertex 3 fixed curve 1 t 0.25\nvertex 4 fixed curve 1 t 0.75\n"
      "curve 5 vertex 3 4 fixed curve 1 order 2\n"
      "curve 6 vertex 3 4 fixed curve 1\n"
      "curve 7 vertex 4 3 fixed curve 1 order 6 polysize 1 * 3 def\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Warning: Invalid order specification for fixed curve 5\n");
  EXPECT_EQ(curve(5)->order, 3);
  EXPECT_EQ(curve(6)->order, 3);
  const mgn_curve* c = curve(7);
  ASSERT_EQ(c->order, 6);
  ASSERT_TRUE(c->reversed);
  // Sizes from the first vertex written (vertex 4), which is the far end now.
  EXPECT_FLOAT_EQ(c->polygon[0][4]->size, 1.0f);
  EXPECT_FLOAT_EQ(c->polygon[0][2]->size, 1.0f);
  EXPECT_FLOAT_EQ(c->polygon[0][1]->size, 1.0f);  // the default size
  // The piece runs on the parent's parabola.
  double p[3];
  mgn_get_curve_point(c, 0.5, p);
  EXPECT_NEAR(p[0], 5.0, 1e-9);
  EXPECT_NEAR(p[1], 2.5, 1e-9);
}

TEST_F(CurveRead, PolysizeCountMustFitOrder) {
  mgn_reset_model_settings();
  EXPECT_EXIT(mgn_read_model_text(base + "curve 5 vertex 3 4 fixed curve 1 order 4 polysize 1\n"),
              ::testing::ExitedWithCode(25),
              mgn_input_error_regex("Order of curve 5 is in conflict with number of poly size parameters", next_line));
}

TEST_F(CurveRead, CollapsedCurve) {
  mgn_read_model_text(base + "curve 5 vertex 1 1 order 4\npolygon 1 xyz 0 0 0\npolygon 2 poly 1\n");
  EXPECT_TRUE(curve(5)->collapsed);
  EXPECT_EXIT(mgn_read_model_text(base + "vertex 5 xyz 0 0 0\ncurve 5 vertex 1 5\n"), ::testing::ExitedWithCode(10),
              "Vertices \\(1 and 5\\) of collapsed curve 5 are coinciding\n");
}

TEST_F(CurveRead, VerticesOfPhysicalCurvesAndTheirTopParents) {
  mgn_read_model_text(base +
                      "vertex 5 fixed vertex 2\n"
                      "vertex 6 fixed vertex 2 virtual\n"
                      "vertex 7 fixed vertex 6\n"
                      "curve 5 vertex 5 1\n"
                      "curve 6 vertex 7 7 virtual\n");
  mgn_vertex* v2 = mgn_find_vertex(2);
  EXPECT_TRUE(mgn_find_vertex(5)->bounds_curve);
  EXPECT_TRUE(v2->bounds_curve);
  EXPECT_NE(mgn_find_item(v2->curves, curve(5)), nullptr);
  EXPECT_NE(mgn_find_item(mgn_find_vertex(1)->curves, curve(5)), nullptr);
  EXPECT_EQ(mgn_find_item(v2->curves, curve(6)), nullptr);
  EXPECT_FALSE(mgn_find_vertex(7)->bounds_curve);
}

TEST_F(CurveRead, DuplicatedAndCoincidingCurvesAreLinkedBothWays) {
  ::testing::internal::CaptureStderr();
  mgn_read_model_text(base +
                      "curve 5 vertex 1 2 duplicate 1\n"
                      "curve 6 vertex 1 2 duplicate 1 coincide curve 1 5\n"
                      "curve 7 vertex 1 2 virtual\n"
                      "curve 8 vertex 1 2 duplicate 7 coincide curve 6\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Warning: Keyword DUPLICATE ignored for curve 8 duplicating virtual curve (7)\n");
  EXPECT_EQ(curve(6)->duplicated, curve(1));
  EXPECT_EQ(mgn_count_items(curve(1)->duplicates), 2);
  EXPECT_NE(mgn_find_item(curve(5)->duplicates, curve(6)), nullptr);
  EXPECT_NE(mgn_find_item(curve(6)->duplicates, curve(5)), nullptr);
  EXPECT_EQ(curve(8)->duplicated, nullptr);
  // Curve 8 joins the coincidence group of 6, which holds 1 and 5.
  EXPECT_EQ(mgn_count_items(curve(8)->coinciding_curves), 3);
  EXPECT_NE(mgn_find_item(curve(1)->coinciding_curves, curve(8)), nullptr);
}

TEST_F(CurveRead, CoincidenceAndIdentityOfPieces) {
  mgn_read_model_text(base +
                      "vertex 5 fixed curve 1 t 0.5\n"
                      "vertex 6 fixed curve 1 t 0.9\n"
                      "curve 5 vertex 3 4 fixed curve 1 virtual\n"      // [0.2, 0.8]
                      "curve 6 vertex 5 6 fixed curve 1\n"              // [0.5, 0.9]
                      "curve 7 vertex 4 6 fixed curve 1\n"              // [0.8, 0.9]
                      "curve 8 vertex 4 3 fixed curve 1\n"              // [0.2, 0.8]
                      "curve 9 vertex 5 4 fixed curve 5\n");            // [0.5, 0.8] through 5
  EXPECT_TRUE(mgn_check_curve_coincidence(curve(5), curve(6)));
  EXPECT_FALSE(mgn_check_curve_coincidence(curve(5), curve(7)));
  EXPECT_TRUE(mgn_check_curve_coincidence(curve(9), curve(6)));
  EXPECT_TRUE(mgn_check_curve_coincidence(curve(1), curve(7)));
  EXPECT_TRUE(mgn_check_curve_identity(curve(5), curve(8)));
  EXPECT_FALSE(mgn_check_curve_identity(curve(5), curve(6)));
  EXPECT_TRUE(mgn_check_curve_identity(curve(6), curve(6)));
  EXPECT_EQ(mgn_get_top_physical_curve(curve(9)), curve(9));
  EXPECT_EQ(mgn_get_top_physical_curve(curve(6)), curve(1));
}

}  // namespace

// Curves fixed to a surface (the square of mgn_square_model).
namespace {

// Vertices 9 and 10 on the line v = 0.5 of the square, 11 and 12 on the
// line u = 0.5.
const std::string square_points =
    "vertex 9 fixed surface 1 uv 0.2 0.5\n"
    "vertex 10 fixed surface 1 uv 0.8 0.5\n"
    "vertex 11 fixed surface 1 uv 0.5 0.1\n"
    "vertex 12 fixed surface 1 uv 0.5 0.9\n";

class CurveOnSurfaceError : public ::testing::TestWithParam<mgn_input_error_case> {};

TEST_P(CurveOnSurfaceError, ReportsMessageWithLineAndStatus25) {
  const mgn_input_error_case& c = GetParam();
  mgn_reset_model_settings();
  EXPECT_EXIT(mgn_read_on_square(square_points + c.text), ::testing::ExitedWithCode(25),
              mgn_input_error_regex(c.message, c.line + 4));
}

const mgn_input_error_case surface_cases[] = {
    {"VertexNotOnSurface", "curve 9 vertex 9 2 fixed surface 1\n", 1,
     "Vertex 2 of curve 9 is not fixed to parent surface 1"},
    {"NotIsoParametric", "curve 9 vertex 9 12 fixed surface 1\n", 1,
     "Curve 9 does not coincide with any parametric curve on surface 1"},
    {"NotUnique", "vertex 13 fixed surface 1 uv 0.2 0.5\ncurve 9 vertex 9 13 fixed surface 1\n", 2,
     "Fixation of curve 9 to parametric curve on surface 1 is not unique"},
    {"OnBoundary", "vertex 13 fixed surface 1 uv 0.2 1e-12\nvertex 14 fixed surface 1 uv 0.7 1e-12\n"
                   "curve 9 vertex 13 14 fixed surface 1\n",
     3, "Curve 9 cannot coincide with boundary of surface 1"},
    {"ThroughFixedVertex", "vertex 13 fixed surface 1 uv 0.5 0.5\ncurve 9 vertex 9 10 fixed surface 1\n", 2,
     "Vertex 13 intersects curve 9 on surface 1"},
    {"CrossingCurve", "curve 9 vertex 9 10 fixed surface 1\ncurve 10 vertex 12 11 fixed surface 1\n", 2,
     "Curve 10 intersects curve 9 on surface 1"},
    {"IdenticalVertices", "curve 9 vertex 9 9 fixed surface 1\n", 1,
     "Identical vertices for fixed curve (9) specification not allowed"},
};

INSTANTIATE_TEST_SUITE_P(Surface, CurveOnSurfaceError, ::testing::ValuesIn(surface_cases),
                         [](const auto& info) { return std::string(info.param.name); });

class CurveOnSurface : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }
  void TearDown() override { mgn_release_model(); }
};

TEST_F(CurveOnSurface, IsoParametricPieces) {
  mgn_read_on_square(square_points +
                     "curve 9 vertex 10 9 fixed surface 1\n"
                     "vertex 13 fixed surface 1 uv 0.5 0.3\n"
                     "curve 10 vertex 11 13 fixed surface 1 order 3\n");
  const mgn_curve* c = mgn_find_curve(9);
  EXPECT_TRUE(c->reversed);
  EXPECT_EQ(c->vertex[0], mgn_find_vertex(9));
  EXPECT_EQ(c->order, 2);
  EXPECT_DOUBLE_EQ(c->parent_uv[0][0], 0.2);
  EXPECT_DOUBLE_EQ(c->parent_uv[1][0], 0.8);
  double p[3];
  mgn_get_curve_point(c, 0.5, p);
  EXPECT_NEAR(p[0], 5.0, 1e-12);
  EXPECT_NEAR(p[1], 5.0, 1e-12);
  const mgn_curve* d = mgn_find_curve(10);
  EXPECT_FALSE(d->reversed);
  EXPECT_EQ(d->order, 3);
  mgn_get_curve_point(d, 0.5, p);
  EXPECT_NEAR(p[0], 5.0, 1e-12);
  EXPECT_NEAR(p[1], 2.0, 1e-12);
  EXPECT_EQ(mgn_count_items(mgn_find_surface(1)->fixed_curves), 2);
}

TEST_F(CurveOnSurface, CurveOnVirtualChildIsIgnoredByPhysicalParent) {
  mgn_read_model_text(mgn_square_model);
  mgn_surface* parent = mgn_add_square_surface(1);
  mgn_surface* child = mgn_add_square_surface(2);
  child->is_virtual = true;
  child->parent_surface = parent;
  ::testing::internal::CaptureStderr();
  mgn_read_more_model_text(
      "vertex 9 fixed surface 2 uv 0.2 0.5 virtual\nvertex 10 fixed surface 2 uv 0.8 0.5 virtual\n"
      "curve 9 vertex 9 10 fixed surface 2 virtual\n"
      "vertex 11 fixed surface 2 uv 0.2 0.6\nvertex 12 fixed surface 2 uv 0.8 0.6\n"
      "curve 10 vertex 11 12 fixed surface 2 mirror 1\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Warning: Vertex 11 will be ignored when discretizing surface 1\n"
            "Warning: Vertex 12 will be ignored when discretizing surface 1\n"
            "Warning: Curve 10 will be ignored when discretizing surface 1\n");
  // The mirror of a curve on a virtual surface stays.
  EXPECT_EQ(mgn_find_curve(10)->mirrored, mgn_find_curve(1));
}

TEST_F(CurveRead, CurveThroughInfinityIsRejected) {
  // The model of the file used to make the length integration run without
  // end; its curve is now refused at its line (6).
  mgn_set.input_file_name = std::string(MGN_TEST_MODELS) + "/vanishing_weight_curve.mgn";
  EXPECT_EXIT(mgn_build_model_from_file(), ::testing::ExitedWithCode(25),
              mgn_input_error_regex("Zero weight detected on curve 2 at t = 0.500000", 6));
}

}  // namespace
