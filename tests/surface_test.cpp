// SURFACE definitions and their POLYGON lines: options, sequence rules,
// checks and messages, corners and orientation of the sides, order
// completion, fixed surfaces and the entities localized on them, coinciding
// surfaces, attraction items; and the vertex and curve rules that involve
// surfaces, read from model texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "bezier.h"
#include "curve.h"
#include "geom.h"
#include "input.h"
#include "list.h"
#include "message.h"
#include "model_fixture.h"
#include "surface.h"
#include "vertex.h"

namespace {

// The square of mgn_square_model (lines 1 to 8).
const std::string& square = mgn_square_model;
constexpr long square_next = 9;

// The square with surface 1 on it (line 9), four vertices fixed to it at
// u, v in {0.2, 0.6} (lines 10 to 13) and the four curves between them
// (lines 14 to 17): 11 at v = 0.2, 12 at u = 0.2, 13 at v = 0.6, 14 at
// u = 0.6, listed around the rectangle as its sides in the directions of
// the parent.
const std::string inner =
    mgn_square_model +
    "surface 1 curve 1 2 3 4\n"
    "vertex 11 fixed surface 1 uv 0.2 0.2\n"
    "vertex 12 fixed surface 1 uv 0.6 0.2\n"
    "vertex 13 fixed surface 1 uv 0.6 0.6\n"
    "vertex 14 fixed surface 1 uv 0.2 0.6\n"
    "curve 11 vertex 11 12 fixed surface 1\n"
    "curve 12 vertex 11 14 fixed surface 1\n"
    "curve 13 vertex 14 13 fixed surface 1\n"
    "curve 14 vertex 12 13 fixed surface 1\n";
constexpr long inner_next = 18;

mgn_input_error_case on(const char* name, const std::string& base, long next, const std::string& lines, long offset,
                        const std::string& message) {
  return {name, base + lines, next + offset, message};
}
mgn_input_error_case sq(const char* name, const std::string& lines, long offset, const std::string& message) {
  return on(name, square, square_next, lines, offset, message);
}
mgn_input_error_case in(const char* name, const std::string& lines, long offset, const std::string& message) {
  return on(name, inner, inner_next, lines, offset, message);
}

class SurfaceError : public ::testing::TestWithParam<mgn_input_error_case> {};

TEST_P(SurfaceError, ReportsMessageWithLineAndStatus25) {
  const mgn_input_error_case& c = GetParam();
  mgn_reset_model_settings();
  EXPECT_EXIT(mgn_read_model_text(c.text), ::testing::ExitedWithCode(25), mgn_input_error_regex(c.message, c.line));
}

std::string name_of(const ::testing::TestParamInfo<mgn_input_error_case>& info) { return info.param.name; }

const mgn_input_error_case option_cases[] = {
    sq("IdMissing", "surface\n", 0, "Missing surface id"),
    sq("IdZero", "surface 0 curve 1 2 3 4\n", 0, "Positive surface id required"),
    sq("IdTwice", "surface 1 curve 1 2 3 4\nsurface 1 curve 1 2 3 4\n", 1, "Multiple instance of surface 1 detected"),
    sq("NoCurve", "surface 1 size 1\n", 0, "Keyword CURVE missing"),
    sq("FirstCurveMissing", "surface 1 curve\n", 0, "Missing first curve id"),
    sq("SecondCurveMissing", "surface 1 curve 1\n", 0, "Missing second curve id"),
    sq("ThirdCurveMissing", "surface 1 curve 1 2\n", 0, "Missing third curve id"),
    sq("FourthCurveMissing", "surface 1 curve 1 2 3 # 4\n", 0, "Missing fourth curve id"),
    sq("CurveUnknown", "surface 1 curve 1 2 9 4\n", 0, "Curve 9 does not exist"),
    sq("UnknownKeyword", "surface 1 curve 1 2 3 4 colour red\n", 0, "Unexpected or invalid keyword \"COLOUR\" encountered"),
    sq("SizeTwice", "surface 1 curve 1 2 3 4 size 1 size 2\n", 0, "Keyword \"SIZE\" not expected due to the duplicity"),
    sq("CurvesTwice", "surface 1 curve 1 2 3 4 curve 1 2 3 4\n", 0, "Keyword \"CURVE\" not expected due to the duplicity"),
    sq("OrderUMissing", "surface 1 curve 1 2 3 4 order\n", 0, "Order u specification missing"),
    sq("OrderVMissing", "surface 1 curve 1 2 3 4 order 3\n", 0, "Order v specification missing"),
    sq("OrderUOne", "surface 1 curve 1 2 3 4 order 1 3\n", 0, "Order u specification out of range"),
    sq("OrderVSeventeen", "surface 1 curve 1 2 3 4 order 3 17\n", 0, "Order v specification out of range"),
    sq("FixedWithoutSurface", "surface 1 curve 1 2 3 4 fixed size 1\n", 0,
       "Keyword SURFACE missing (redundant keyword FIXED)"),
    sq("FixedAtLineEnd", "surface 1 curve 1 2 3 4 fixed\n", 0, "Keyword SURFACE missing"),
    sq("ParentMissing", "surface 1 curve 1 2 3 4 fixed surface\n", 0, "Missing parent surface id"),
    sq("ParentUnknown", "surface 1 curve 1 2 3 4 fixed surface 7\n", 0, "Surface 7 does not exist"),
    sq("SurfaceAlone", "surface 1 curve 1 2 3 4 surface 2\n", 0,
       "Keyword SURFACE not expected (keyword FIXED or COINCIDE missing)"),
    sq("PatchAlone", "surface 1 curve 1 2 3 4 patch 2\n", 0, "Keyword PATCH not expected (keyword COINCIDE missing)"),
    sq("ShellAlone", "surface 1 curve 1 2 3 4 shell 2\n", 0, "Keyword SHELL not expected (keyword COINCIDE missing)"),
    sq("CoincideWithoutKind", "surface 1 curve 1 2 3 4 coincide size 1\n", 0,
       "Keyword SURFACE or PATCH or SHELL missing (redundant keyword COINCIDE)"),
    sq("CoincideAtLineEnd", "surface 1 curve 1 2 3 4 coincide\n", 0, "Keyword SURFACE or PATCH or SHELL missing"),
    sq("CoincideNoSurface", "surface 1 curve 1 2 3 4 coincide surface\n", 0, "Missing coinciding surface id"),
    sq("CoincideNoPatch", "surface 1 curve 1 2 3 4 coincide patch size 1\n", 0, "Missing coinciding patch id"),
    sq("CoincideNoShell", "surface 1 curve 1 2 3 4 coincide shell\n", 0, "Missing coinciding shell id"),
    sq("CoincideUnknownSurface", "surface 1 curve 1 2 3 4 coincide surface 3\n", 0, "Surface 3 does not exist"),
    sq("CoincideUnknownPatch", "surface 1 curve 1 2 3 4 coincide patch 3\n", 0, "Patch 3 does not exist"),
    sq("CoincideUnknownShell", "surface 1 curve 1 2 3 4 coincide shell 3\n", 0, "Shell 3 does not exist"),
    sq("AttractFactorMissing", "surface 1 curve 1 2 3 4 attract\n", 0, "Missing attraction factor"),
    sq("AttractMinusOne", "surface 1 curve 1 2 3 4 attract -1 all\n", 0, "Attraction factor out of range"),
    sq("AttractAboveTen", "surface 1 curve 1 2 3 4 attract 10.5 all\n", 0, "Attraction factor out of range"),
    sq("AttractWithoutKind", "surface 1 curve 1 2 3 4 attract 2 size 1\n", 0,
       "Keyword ALL or VERTEX or CURVE missing (redundant keyword ATTRACT)"),
    sq("AttractAtLineEnd", "surface 1 curve 1 2 3 4 attract 2\n", 0, "Keyword ALL or VERTEX or CURVE missing"),
    sq("AttractNoVertex", "surface 1 curve 1 2 3 4 attract 2 vertex\n", 0, "Missing attracted vertex id"),
    sq("AttractNoCurve", "surface 1 curve 1 2 3 4 attract 2 curve size 1\n", 0, "Missing attracted curve id"),
    sq("AttractUnknownVertex", "surface 1 curve 1 2 3 4 attract 2 vertex 1 8\n", 0, "Vertex 8 does not exist"),
    sq("VertexAlone", "surface 1 curve 1 2 3 4 vertex 1\n", 0, "Keyword VERTEX not expected (keyword ATTRACT missing)"),
    sq("AllAlone", "surface 1 curve 1 2 3 4 all\n", 0, "Keyword ALL not expected (keyword ATTRACT missing)"),
    sq("DiagonalWithoutKind", "surface 1 curve 1 2 3 4 quad map yes diagonal size 1\n", 0,
       "Keyword NONE or POSITIVE or NEGATIVE or POINT missing (redundant keyword DIAGONAL)"),
    sq("DiagonalAtLineEnd", "surface 1 curve 1 2 3 4 diagonal\n", 0, "Diagonal specification missing"),
    sq("DiagonalPointZMissing", "surface 1 curve 1 2 3 4 diagonal point 1 2\n", 0, "Coordinate z missing"),
    sq("PositiveAlone", "surface 1 curve 1 2 3 4 positive\n", 0, "Unexpected or invalid keyword \"POSITIVE\" encountered"),
    sq("WeakWithoutMirror", "surface 1 curve 1 2 3 4 weak size 1\n", 0, "Keyword MIRROR missing (redundand keyword WEAK)"),
    sq("WeakAtLineEnd", "surface 1 curve 1 2 3 4 weak\n", 0, "Keyword MIRROR missing"),
    sq("MirrorMissing", "surface 1 curve 1 2 3 4 mirror\n", 0, "Missing mirror surface id"),
    sq("MirrorUnknown", "surface 1 curve 1 2 3 4 mirror 4\n", 0, "Surface 4 does not exist"),
    sq("DuplicateMissing", "surface 1 curve 1 2 3 4 duplicate\n", 0, "Missing duplicated surface id"),
    sq("SizeMissing", "surface 1 curve 1 2 3 4 size\n", 0, "Size specification missing"),
    sq("SizeNegative", "surface 1 curve 1 2 3 4 size -1\n", 0, "Positive or zero mesh size required"),
    sq("SizeWord", "surface 1 curve 1 2 3 4 size yes\n", 0, "Unexpected or invalid keyword \"YES\" encountered"),
    sq("SizeCur", "surface 1 curve 1 2 3 4 size cur\n", 0, "Floating point number expected (CUR - read)"),
    sq("SizeMultiplierNegative", "surface 1 curve 1 2 3 4 size 1 * -2\n", 0,
       "Positive or zero mesh size multiplication factor required"),
    sq("RateNegative", "surface 1 curve 1 2 3 4 rate -0.1\n", 0, "Positive or zero curvature rate required"),
    sq("RateMultiplierMissing", "surface 1 curve 1 2 3 4 rate def *\n", 0, "Rate multiplication factor missing"),
    sq("FactorNegative", "surface 1 curve 1 2 3 4 factor -1\n", 0, "Positive or zero factor required"),
    sq("PropertyNegative", "surface 1 curve 1 2 3 4 property -1\n", 0, "Positive or zero property number required"),
    sq("OutputMissing", "surface 1 curve 1 2 3 4 output\n", 0, "Output specification missing"),
    sq("BassocWord", "surface 1 curve 1 2 3 4 bassoc maybe\n", 0, "Unexpected or invalid keyword \"MAYBE\" encountered"),
    sq("MapMissing", "surface 1 curve 1 2 3 4 quad map\n", 0, "Mapping specification missing"),
    sq("LcsSecondMissing", "surface 1 curve 1 2 3 4 lcs 1\n", 0, "Missing second lcs curve id"),
    sq("LcsUnknown", "surface 1 curve 1 2 3 4 lcs 1 7\n", 0, "Curve 7 does not exist"),
    sq("LcsSame", "surface 1 curve 1 2 3 4 lcs 2 2\n", 0, "LCS curves must be different"),
    sq("QuadGroupMissing", "surface 1 curve 1 2 3 4 elemgroup 1\n", 0, "Missing quad elem group id"),
    sq("XWithoutDir", "surface 1 curve 1 2 3 4 x\n", 0, "Keyword X not expected (keyword DIR missing)"),
    sq("PolysizeTooMany", "surface 1 curve 1 2 3 4 polysize 1 * 256 2\n", 0, "Too many poly size parameters"),
    sq("PolysizeRepeatTooMany", "surface 1 curve 1 2 3 4 polysize 1 * 257\n", 0, "Too many poly size parameters"),
    sq("PolysizeEmpty", "surface 1 curve 1 2 3 4 polysize\n", 0, "Missing poly size specification"),
};
INSTANTIATE_TEST_SUITE_P(Options, SurfaceError, ::testing::ValuesIn(option_cases), name_of);

const mgn_input_error_case check_cases[] = {
    sq("PolysizeNotFixed", "surface 1 curve 1 2 3 4 polysize 1\n", 0,
       "Keyword POLYSIZE not expected for non-fixed surface (1)"),
    sq("SizeSurWithoutParent", "surface 1 curve 1 2 3 4 size sur\n", 0,
       "Mesh size of surface (1) inherited from non-existent parent surface"),
    sq("VirtualCurveBoundsPhysical", "curve 5 vertex 1 2 virtual\nsurface 1 curve 5 2 3 4\n", 1,
       "Virtual curve (5) cannot form boundary of physical surface (1)"),
    // Corners.
    sq("NeighboursCollapsed", "curve 5 vertex 1 1\ncurve 6 vertex 1 1\nsurface 1 curve 5 6 3 4\n", 2,
       "Neighbouring curves 5 and 6 of surface 1 are collapsed"),
    sq("NeighboursCoinciding", "surface 1 curve 1 1 3 4\n", 0, "Neighbouring curves 1 and 1 of surface 1 are coinciding"),
    sq("NeighboursSameInterval", "curve 5 vertex 1 2 fixed curve 1\nsurface 1 curve 1 5 3 4\n", 1,
       "Neighbouring curves 1 and 5 of surface 1 are coinciding"),
    sq("NoCommonVertex", "surface 1 curve 1 2 4 3\n", 0, "Neighbouring curves 2 and 4 of surface 1 have no common vertex"),
    sq("NoCommonPhysicalVertex",
       "vertex 9 xyz 0 0 0 virtual\nvertex 10 fixed vertex 9\nvertex 11 fixed vertex 9\n"
       "curve 5 vertex 10 2\ncurve 6 vertex 11 4\nsurface 1 curve 5 6 3 4\n",
       5, "Neighbouring curves 5 and 6 of physical surface 1 have no common physical vertex"),
    sq("OppositeCoinciding", "surface 1 curve 1 2 1 4\n", 0, "Opposite curves 1 and 1 of surface 1 are coinciding"),
    sq("InvalidTopology", "curve 5 vertex 1 3\nsurface 1 curve 1 4 5 2\n", 1, "Invalid topology of surface 1"),
    sq("CornerWeights", "vertex 9 fixed vertex 1 weight 2\ncurve 5 vertex 9 2\nsurface 1 curve 5 2 3 4\n", 2,
       "Vertices 9 and 1 bounding curves 5 and 2 of surface 1 differ in weight"),
    // Fixed surfaces.
    in("FixedCollapsedCurve", "curve 20 vertex 11 11\nsurface 2 curve 20 12 13 14 fixed surface 1\n", 1,
       "Curve 20 of fixed surface 2 is collapsed"),
    in("FixedCurveNotOnParent", "vertex 20 xyz 4 4 5\ncurve 20 vertex 11 20\nsurface 2 curve 20 12 13 14 fixed surface 1\n",
       2, "Curve 20 of fixed surface 2 is not fixed to surface 1"),
    in("FixedTouchesBorder", "surface 2 curve 1 2 3 4 fixed surface 1\n", 0,
       "Physical surface 2 cannot touch border of its parent surface 1"),
    in("FixedSidesTurned", "surface 2 curve 12 13 14 11 fixed surface 1\n", 0, "Invalid side ordering of surface 2"),
    in("FixedSidesReversedLoop", "surface 2 curve 11 14 13 12 fixed surface 1\n", 0, "Invalid side ordering of surface 2"),
    in("PhysicalOnFixedVirtual",
       "surface 2 curve 11 12 13 14 fixed surface 1 virtual\nsurface 3 curve 11 12 13 14 fixed surface 2\n", 1,
       "Physical surface (3) cannot be fixed to fixed virtual surface (2)"),
    in("FixedPolysizeCount", "surface 2 curve 11 12 13 14 fixed surface 1 polysize 1\n", 0,
       "Order of surface 2 is in conflict with number of poly size parameters"),
    // Coinciding.
    sq("CoincideVirtual", "surface 1 curve 1 2 3 4 virtual\nsurface 2 curve 1 2 3 4 coincide surface 1\n", 1,
       "Only physical surfaces can be coinciding"),
};
INSTANTIATE_TEST_SUITE_P(Checks, SurfaceError, ::testing::ValuesIn(check_cases), name_of);

// The square as a biquadratic surface with one inner control point (1, 1),
// or as order 4 x 3 with the inner points (1, 1) and (2, 1); the polygon
// lines follow on line 10.
const std::string quadratic = square + "surface 1 curve 1 2 3 4 order 3 3\n";
const std::string cubic = square + "surface 1 curve 1 2 3 4 order 4 3\n";
constexpr long polygon_line = 10;

mgn_input_error_case poly(const char* name, const std::string& base, const std::string& lines, long offset,
                          const std::string& message) {
  return on(name, base, polygon_line, lines, offset, message);
}

const mgn_input_error_case polygon_cases[] = {
    poly("NotPolygon", quadratic, "vertex 9 xyz 0 0 0\n", 0, "Keyword POLYGON expected for surface 1"),
    poly("EndOfFile", quadratic, "", 0, "Unexpected end of input file encountered"),
    poly("UMissing", quadratic, "polygon\n", 0, "Missing ctrl point u id"),
    poly("VMissing", quadratic, "polygon 1\n", 0, "Missing ctrl point v id"),
    poly("UOutOfRange", quadratic, "polygon 2 1 xyz 5 5 0\n", 0, "Ctrl point u id out of range"),
    poly("VOutOfRange", quadratic, "polygon 1 0 xyz 5 5 0\n", 0, "Ctrl point v id out of range"),
    poly("Twice", cubic, "polygon 1 1 xyz 3 5 0\npolygon 1 1 xyz 3 5 0\n", 1, "Multiple instance of ctrl point 1 1 detected"),
    poly("NoPosition", quadratic, "polygon 1 1 weight 2\n", 0, "Position of ctrl point 1 1 not specified"),
    poly("XyzAfterPoly", quadratic, "polygon 1 1 poly 0 0 xyz 1 1 1\n", 0, "Keywords XYZ not expected for fixed ctrl point"),
    poly("PolyAfterXyz", quadratic, "polygon 1 1 xyz 1 1 1 poly 0 0\n", 0,
         "Keyword POLY not expected when keyword XYZ already used"),
    poly("PolyVMissing", quadratic, "polygon 1 1 poly 0\n", 0, "Missing parent ctrl point v id"),
    poly("PolyUOutOfRange", quadratic, "polygon 1 1 poly 3 0\n", 0, "Fixed ctrl point u id out of range"),
    poly("PolyVOutOfRange", quadratic, "polygon 1 1 poly 0 -1\n", 0, "Fixed ctrl point v id out of range"),
    poly("PolyNotDefined", cubic, "polygon 1 1 poly 2 1\n", 0, "Ctrl point 2 1 does not exist"),
    poly("SizeSurOfZero", quadratic, "polygon 1 1 xyz 5 5 0 size sur\n", 0,
         "Zero default mesh size specification cannot be used by ctrl point (1 1)"),
    poly("ExtraAfterPolyend", cubic, "polyend now\n", 0, "Unexpected or invalid keyword \"NOW\" encountered"),
    poly("DirWithoutWord", quadratic, "polygon 1 1 xyz 5 5 0 dir\n", 0, "Direction specification missing"),
    // Checks after the polygon lines report the surface line.
    {"CoincideAfterPolygon", square + "surface 2 curve 1 2 3 4 virtual\nsurface 1 curve 1 2 3 4 order 3 3 coincide surface 2\n"
                             "polygon 1 1 xyz 5 5 1\n",
     10, "Only physical surfaces can be coinciding"},
};
INSTANTIATE_TEST_SUITE_P(Polygon, SurfaceError, ::testing::ValuesIn(polygon_cases), name_of);

class Surface : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }
  void TearDown() override { mgn_release_model(); }

  // Reads the text and returns what went to standard error.
  static std::string read_capturing(const std::string& text) {
    ::testing::internal::CaptureStderr();
    mgn_read_model_text(text);
    return ::testing::internal::GetCapturedStderr();
  }
  // Reads the text into the model read so far and returns what went to
  // standard error.
  static std::string read_more_capturing(const std::string& text) {
    ::testing::internal::CaptureStderr();
    mgn_read_more_model_text(text);
    return ::testing::internal::GetCapturedStderr();
  }
  // Reads a model file of tests/models.
  static void read_model_file(const std::string& name) {
    mgn_release_model();
    mgn_set.input_file_name = std::string(MGN_TEST_MODELS) + "/" + name;
    mgn_build_model_from_file();
  }
};

mgn_surface* surface(long id) { return mgn_find_surface(id); }
mgn_vertex* vertex(long id) { return mgn_find_vertex(id); }
mgn_curve* curve(long id) { return mgn_find_curve(id); }

void expect_point(const mgn_surface* s, double u, double v, double x, double y, double z, double tol = 1e-12) {
  double p[3];
  mgn_get_surface_point(s, u, v, p);
  EXPECT_NEAR(p[0], x, tol) << "u " << u << " v " << v;
  EXPECT_NEAR(p[1], y, tol) << "u " << u << " v " << v;
  EXPECT_NEAR(p[2], z, tol) << "u " << u << " v " << v;
}

// --- corners and orientation --------------------------------------------------

TEST_F(Surface, SidesListedAroundTheSurfaceGiveCornersAndDirections) {
  // Around the square one way: u = +x, v = +y, normal +z; the other way
  // round the first side runs backward and the normal is -z.
  EXPECT_EQ(read_capturing(square + "surface 1 curve 1 2 3 4\nsurface 2 curve 1 4 3 2\n"), "");
  const mgn_surface* s = surface(1);
  EXPECT_EQ(s->vertex[0], vertex(1));
  EXPECT_EQ(s->vertex[1], vertex(4));
  EXPECT_EQ(s->vertex[2], vertex(3));
  EXPECT_EQ(s->vertex[3], vertex(2));
  for (bool r : s->reversed) EXPECT_FALSE(r);
  EXPECT_EQ(s->order_u, 2);
  EXPECT_EQ(s->order_v, 2);
  expect_point(s, 0.3, 0.7, 3, 7, 0);
  double n[3];
  ASSERT_EQ(mgn_get_surface_normal(s, 0.5, 0.5, n), 1);
  EXPECT_NEAR(n[2], 1.0, 1e-12);

  const mgn_surface* t = surface(2);
  EXPECT_EQ(t->vertex[0], vertex(2));
  EXPECT_EQ(t->vertex[1], vertex(3));
  EXPECT_EQ(t->vertex[2], vertex(4));
  EXPECT_EQ(t->vertex[3], vertex(1));
  EXPECT_TRUE(t->reversed[0]);   // curve 1 runs from corner 3 to corner 0
  EXPECT_FALSE(t->reversed[1]);  // curve 4: 2 -> 3
  EXPECT_TRUE(t->reversed[2]);   // curve 3: 4 -> 3 runs against 3 -> 4
  EXPECT_FALSE(t->reversed[3]);  // curve 2: 1 -> 4
  expect_point(t, 0.3, 0.7, 7, 7, 0);
  ASSERT_EQ(mgn_get_surface_normal(t, 0.5, 0.5, n), 1);
  EXPECT_NEAR(n[2], -1.0, 1e-12);
  // Each curve knows both surfaces it bounds.
  EXPECT_EQ(mgn_count_items(curve(1)->surfaces), 2);
  EXPECT_NE(mgn_find_item(curve(3)->surfaces, surface(2)), nullptr);
}

TEST_F(Surface, CornerOfTwoVerticesWithOneRoot) {
  // Vertex 9 is fixed to vertex 1: curves 5 (9 -> 2) and 2 (1 -> 4) meet at
  // the corner through the common root.  Sizes 2 and 1 at the corner: the
  // larger is lowered with a warning.
  const std::string err = read_capturing(square + "vertex 9 fixed vertex 1 size 2\ncurve 5 vertex 9 2\n"
                                                  "surface 1 curve 5 2 3 4\n");
  EXPECT_EQ(err,
            "Warning: Vertices 9 and 1 bounding curves 5 and 2 of surface 1 differ in mesh size\n"
            "         Mesh size at vertex 9 has been modified to 1.000000e+00\n");
  EXPECT_EQ(mgn_warning_count, 1);
  EXPECT_FLOAT_EQ(vertex(9)->ctrl_point->size, 1.0f);
  EXPECT_FLOAT_EQ(vertex(9)->size, 1.0f);
  EXPECT_FLOAT_EQ(vertex(1)->ctrl_point->size, 1.0f);
  EXPECT_EQ(surface(1)->vertex[0], vertex(9));
}

TEST_F(Surface, ZeroSizeAtACornerWhenSizesAreRequired) {
  mgn_reset_model_settings();
  mgn_set.default_size = 0.0;
  const std::string text =
      "vertex 1 xyz 0 0 0 factor 0\nvertex 2 xyz 1 0 0 size 1\nvertex 3 xyz 1 1 0 size 1\nvertex 4 xyz 0 1 0 size 1\n"
      "curve 1 vertex 1 2\ncurve 2 vertex 1 4\ncurve 3 vertex 4 3\ncurve 4 vertex 2 3\n";
  EXPECT_EXIT(mgn_read_model_text(text + "surface 1 curve 1 2 3 4\n"), ::testing::ExitedWithCode(25),
              mgn_input_error_regex("Zero mesh size specification detected at vertex 1 of surface 1", 9));
  // A surface of factor 0 takes no size from its corners.
  EXPECT_EQ(read_capturing(text + "surface 1 curve 1 2 3 4 factor 0\n"),
            "Warning: Default zero mesh size specification detected at vertex 1\n");
}

// --- orders and polygon lines -------------------------------------------------

TEST_F(Surface, OrderNotGivenIsTheHighestSideOrder) {
  // Side 1 a quadratic, side 3 straight: orders 3 x 2 (no polygon lines:
  // the next line is read as a definition).  A given order below a side's
  // warns and is raised.
  const std::string model = square + "curve 5 vertex 4 3 order 3\npolygon 1 xyz 5 12 0\n";
  EXPECT_EQ(read_capturing(model + "surface 1 curve 1 2 5 4\nvertex 9 xyz 1 1 1\n"), "");
  EXPECT_EQ(surface(1)->order_u, 3);
  EXPECT_EQ(surface(1)->order_v, 2);
  EXPECT_EQ(surface(1)->shape_order_u, 3);
  ASSERT_NE(vertex(9), nullptr);
  // The straight side 1 enters the net raised: the surface follows both
  // sides exactly.
  expect_point(surface(1), 0.5, 0.0, 5, 0, 0);
  expect_point(surface(1), 0.5, 1.0, 5, 11, 0);
  EXPECT_EQ(read_capturing(model + "surface 1 curve 1 2 5 4 order 2 2\n"),
            "Warning: Curve 5 is of higher order than surface 1\n");
  EXPECT_EQ(surface(1)->order_u, 3);
  EXPECT_EQ(surface(1)->order_v, 2);
}

TEST_F(Surface, PolygonLinesSetTheInnerPoints) {
  // Order 4 x 4: four inner points.  (1, 1) by position, weight and size;
  // (2, 1) at the position of (1, 1); (1, 2) sized by the surface; (2, 2)
  // not given: blended from the sides.  The shift applies to XYZ.
  mgn_set.default_size = 0.5;
  EXPECT_EQ(read_capturing(square +
                           "surface 1 curve 1 2 3 4 order 4 4 size 3 shift 0 0 1\n"
                           "polygon 1 1 xyz 2 2 4 weight 2 size 0.25 * 2\n"
                           "polygon 2 1 poly 1 1\n"
                           "POLYGON 1 2 xyz 3 7 0 size sur\n"
                           "polyend\n"
                           "vertex 9 xyz 0 0 0\n"),
            "");
  const mgn_surface* s = surface(1);
  ASSERT_EQ(s->net.size(), 16u);
  const mgn_ctrl_point* p11 = s->net[1 * 4 + 1];
  EXPECT_DOUBLE_EQ(p11->xyz[2], 5.0);
  EXPECT_DOUBLE_EQ(p11->w, 2.0);
  EXPECT_FLOAT_EQ(p11->size, 0.5f);
  const mgn_ctrl_point* p21 = s->net[1 * 4 + 2];
  EXPECT_DOUBLE_EQ(p21->xyz[0], 2.0);
  EXPECT_DOUBLE_EQ(p21->xyz[2], 5.0);
  EXPECT_DOUBLE_EQ(p21->w, 2.0);
  EXPECT_FLOAT_EQ(p21->size, 0.5f);
  const mgn_ctrl_point* p12 = s->net[2 * 4 + 1];
  EXPECT_DOUBLE_EQ(p12->xyz[2], 1.0);
  EXPECT_FLOAT_EQ(p12->size, 3.0f);
  const mgn_ctrl_point* p22 = s->net[2 * 4 + 2];
  EXPECT_NEAR(p22->xyz[0], 20.0 / 3, 1e-12);
  EXPECT_NEAR(p22->xyz[1], 20.0 / 3, 1e-12);
  EXPECT_DOUBLE_EQ(p22->xyz[2], 0.0);
  // The line after POLYEND is a definition again.
  ASSERT_NE(vertex(9), nullptr);
}

TEST_F(Surface, PolygonPointWithoutSizeWarnsWhenTheDefaultIsZero) {
  mgn_reset_model_settings();
  mgn_set.default_size = 0.0;
  const std::string model =
      "vertex 1 xyz 0 0 0 size 1\nvertex 2 xyz 1 0 0 size 1\nvertex 3 xyz 1 1 0 size 1\nvertex 4 xyz 0 1 0 size 1\n"
      "curve 1 vertex 1 2\ncurve 2 vertex 1 4\ncurve 3 vertex 4 3\ncurve 4 vertex 2 3\n";
  EXPECT_EQ(read_capturing(model + "surface 1 curve 1 2 3 4 order 3 3\npolygon 1 1 xyz 0.5 0.5 1\n"),
            "Warning: Default zero mesh size specification detected at ctrl point 1 1 of surface 1\n");
}

// --- the model files of tests/models --------------------------------------------

TEST_F(Surface, SphereOctantIsExactWithACollapsedPoleSide) {
  ::testing::internal::CaptureStderr();
  read_model_file("sphere_octant.mgn");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  const mgn_surface* s = surface(1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->order_u, 3);
  EXPECT_EQ(s->order_v, 3);
  EXPECT_TRUE(s->curve[2]->collapsed);
  EXPECT_EQ(s->vertex[1], vertex(3));
  EXPECT_EQ(s->vertex[2], vertex(3));
  for (int i = 0; i <= 10; ++i)
    for (int j = 0; j <= 10; ++j) {
      double p[3];
      mgn_get_surface_point(s, i / 10.0, j / 10.0, p);
      EXPECT_NEAR(std::sqrt(mgn_dot(p, p)), 2.0, 1e-12);
      for (double x : p) EXPECT_GE(x, -1e-12);
      if (j == 10) continue;
      double n[3];
      ASSERT_EQ(mgn_get_surface_normal(s, i / 10.0, j / 10.0, n), 1);
      EXPECT_NEAR(mgn_dot(n, p), 2.0, 1e-9);  // outward
    }
  // The pole side has no u tangent.
  double d[3];
  EXPECT_EQ(mgn_get_surface_tangent_u(s, 0.5, 1.0, d), 0.0);
  EXPECT_NEAR(mgn_get_surface_curvature(s, 0.3, 0.4), 0.5, 1e-9);
}

TEST_F(Surface, QuarterCylinderAndSquaresFromFiles) {
  ::testing::internal::CaptureStderr();
  read_model_file("quarter_cylinder.mgn");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  const mgn_surface* c = surface(1);
  EXPECT_EQ(c->order_u, 3);
  EXPECT_EQ(c->order_v, 2);
  for (int i = 0; i <= 8; ++i) {
    double p[3], n[3];
    mgn_get_surface_point(c, i / 8.0, 0.3, p);
    EXPECT_NEAR(std::hypot(p[0], p[1]), 2.0, 1e-12);
    EXPECT_NEAR(p[2], 0.9, 1e-12);
    ASSERT_EQ(mgn_get_surface_normal(c, i / 8.0, 0.3, n), 1);
    EXPECT_NEAR(n[0] * p[0] + n[1] * p[1], 2.0, 1e-9);
  }

  read_model_file("two_squares.mgn");
  ASSERT_EQ(mgn_model.surfaces.count, 2);
  EXPECT_EQ(mgn_count_items(curve(4)->surfaces), 2);
  double n[3];
  for (long id : {1, 2}) {
    ASSERT_EQ(mgn_get_surface_normal(surface(id), 0.5, 0.5, n), 1);
    EXPECT_NEAR(n[2], 1.0, 1e-12);
  }
  expect_point(surface(2), 0.5, 0.5, 15, 5, 0);

  read_model_file("square.mgn");
  expect_point(surface(1), 0.25, 0.5, 2.5, 5, 0);
}

// --- options and warnings ------------------------------------------------------

TEST_F(Surface, OptionsAreStored) {
  mgn_set.size_factor = 2.0;
  mgn_set.curvature_factor = 0.5;
  mgn_set.curvature_rate = 0.3;
  EXPECT_EQ(read_capturing(square +
                           "surface 1 curve 1 2 3 4 size 1.5 * 2 rate def * 2 factor 0.5 property 7 output no "
                           "bassoc no quad map yes lcs 1 2 diagonal point 1 2 3 equidistant slave\n"
                           "surface 2 curve 1 2 3 4 rate 0.4 weak mirror 1 duplicate 1 hidden property 4 "
                           "nodeprop 'a b' elemgroup 1 2 dir t 1 0 0 fit yes iter 3 limit 0.1\n"
                           "surface 3 curve 1 2 3 4 size uni virtual\n"),
            "Warning: Keyword PROPERTY ignored for hidden surface (2)\n"
            "Warning: Default zero mesh size specification detected at surface 3\n"
            "Warning: Node and elem properties not supported in this version\n"
            "Warning: Element groups not supported in this version\n");
  const mgn_surface* s = surface(1);
  EXPECT_FLOAT_EQ(s->size, 6.0f);
  EXPECT_FLOAT_EQ(s->rate, 0.6f);
  EXPECT_FLOAT_EQ(s->factor, 0.5f);
  EXPECT_EQ(s->property, 7);
  EXPECT_FALSE(s->output);
  EXPECT_FALSE(s->bassoc);
  EXPECT_TRUE(s->quad);
  EXPECT_TRUE(s->map);
  EXPECT_EQ(s->lcs[1], curve(2));
  EXPECT_EQ(s->diagonal, 2);
  EXPECT_DOUBLE_EQ(s->diagonal_point[2], 3.0);
  EXPECT_TRUE(s->equidistant);
  EXPECT_TRUE(s->slave);
  const mgn_surface* t = surface(2);
  EXPECT_FLOAT_EQ(t->rate, 0.2f);
  EXPECT_EQ(t->mirrored, s);
  EXPECT_TRUE(t->weak_mirror);
  EXPECT_EQ(t->duplicated, s);
  EXPECT_TRUE(t->hidden);
  EXPECT_EQ(t->property, 0);
  EXPECT_TRUE(surface(3)->is_virtual);
  EXPECT_FALSE(surface(3)->output);
}

TEST_F(Surface, RequestsThatCannotBeHonouredWarn) {
  struct warning_case {
    const char* definition;
    const char* warnings;
  };
  const warning_case cases[] = {
      {"surface 2 curve 1 2 3 4 hole hidden property 3 output yes duplicate 1 mirror 1",
       "Warning: Keyword HIDDEN ignored for hole surface (2)\n"
       "Warning: Keyword PROPERTY ignored for hole surface (2)\n"
       "Warning: Keyword OUTPUT ignored for hole surface (2)\n"
       "Warning: Keyword DUPLICATE ignored for hole surface (2)\n"
       "Warning: Keyword MIRROR ignored for hole surface (2)\n"},
      {"surface 2 curve 1 2 3 4 hidden output yes", "Warning: Keyword HIDDEN ignored for output surface (2)\n"},
      {"surface 2 curve 1 2 3 4 map yes", "Warning: Keyword MAP ignored for surface (2) not subjected to quad meshing\n"},
      {"surface 2 curve 1 2 3 4 quad diagonal positive",
       "Warning: Keyword DIAGONAL ignored for surface (2) not subjected to quad mapping\n"},
      {"surface 2 curve 1 2 3 4 quad map yes diagonal negative",
       "Warning: DIAGONAL request may be ambiguous for surface (2) without LCS specification\n"},
      {"surface 2 curve 1 2 3 4 quad map yes diagonal negative lcs 1 2", ""},
      {"surface 2 curve 1 2 3 4 duplicate 1 mirror 1",
       "Warning: Keyword DUPLICATE ignored for surface 2 duplicating virtual surface (1)\n"
       "Warning: Keyword MIRROR ignored for surface 2 mirroring virtual surface (1)\n"},
  };
  for (const warning_case& c : cases) {
    SCOPED_TRACE(c.definition);
    mgn_reset_model_settings();
    EXPECT_EQ(read_capturing(square + "surface 1 curve 1 2 3 4 virtual\n" + c.definition + "\n"), c.warnings);
  }
  const mgn_surface* s = surface(2);
  EXPECT_EQ(s->duplicated, nullptr);
  EXPECT_EQ(s->mirrored, nullptr);
  // The requests dropped by the first cases.
  read_capturing(square + "surface 2 curve 1 2 3 4 hole hidden property 3 output no\n"
                          "surface 3 curve 1 2 3 4 map yes diagonal none\n"
                          "surface 4 curve 1 2 3 4 duplicate 2 mirror 2\n");
  EXPECT_FALSE(surface(2)->hidden);
  EXPECT_EQ(surface(2)->property, 0);
  EXPECT_TRUE(surface(2)->output);
  EXPECT_FALSE(surface(3)->map);
  EXPECT_EQ(surface(4)->mirrored, nullptr);
  EXPECT_EQ(surface(4)->duplicated, nullptr);
  // Without quad support QUAD, MAP and EQUIDISTANT request nothing.
  mgn_reset_model_settings();
  mgn_set.quad_hexa_support = false;
  EXPECT_EQ(read_capturing(square + "surface 1 curve 1 2 3 4 quad equidistant\n"), "");
  EXPECT_FALSE(surface(1)->quad);
  EXPECT_FALSE(surface(1)->equidistant);
}

// --- attraction and coincidence ------------------------------------------------

TEST_F(Surface, AttractionItemsAndTheGlobalAttraction) {
  // Items of listed curves and vertices; the global attraction of surface 3
  // gathers its corners and sides, vertex 9 fixed on side 1, the vertices
  // fixed to it and curve 5 fixed to it.
  read_capturing(square +
                 "surface 1 curve 1 2 3 4 attract 10 curve 4 2 4\n"
                 "surface 2 curve 1 2 3 4 attract 2 vertex 3 1\n"
                 "surface 3 curve 1 2 3 4 attract -0.5 all\n"
                 "vertex 9 fixed curve 1 t 0.5\n"
                 "vertex 10 fixed surface 3 uv 0.2 0.5\n"
                 "vertex 11 fixed surface 3 uv 0.7 0.5\n"
                 "vertex 12 fixed surface 3 uv 0.5 0.8\n"
                 "curve 5 vertex 10 11 fixed surface 3\n");
  auto items = mgn_list_objects<mgn_attraction>(surface(1)->attractions);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_FLOAT_EQ(items[0]->factor, 11.0f);
  EXPECT_EQ(items[0]->kind, 1);
  EXPECT_EQ(mgn_list_objects<mgn_curve>(items[0]->entities), (std::vector<mgn_curve*>{curve(4), curve(2)}));
  items = mgn_list_objects<mgn_attraction>(surface(2)->attractions);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_FLOAT_EQ(items[0]->factor, 3.0f);
  EXPECT_EQ(items[0]->kind, 0);
  EXPECT_EQ(mgn_list_objects<mgn_vertex>(items[0]->entities), (std::vector<mgn_vertex*>{vertex(3), vertex(1)}));
  // The global attraction becomes a vertex item and a curve item once the
  // file is read.
  const mgn_surface* s = surface(3);
  EXPECT_EQ(s->global_attraction, 0.0f);
  items = mgn_list_objects<mgn_attraction>(s->attractions);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_FLOAT_EQ(items[0]->factor, 0.5f);
  EXPECT_EQ(items[0]->kind, 0);
  EXPECT_EQ(items[1]->kind, 1);
  const auto vertices = mgn_list_objects<mgn_vertex>(items[0]->entities);
  EXPECT_EQ(vertices.size(), 8u);  // 4 corners, 9 on a side, 10, 11, 12
  for (long id : {1, 2, 3, 4, 9, 10, 11, 12})
    EXPECT_NE(std::find(vertices.begin(), vertices.end(), vertex(id)), vertices.end()) << id;
  EXPECT_EQ(mgn_list_objects<mgn_curve>(items[1]->entities).size(), 5u);
}

TEST_F(Surface, CoincidingSurfacesAreLinkedBothWays) {
  read_capturing(square +
                 "surface 1 curve 1 2 3 4\n"
                 "surface 2 curve 1 2 3 4 coincide surface 1\n"
                 "surface 3 curve 1 2 3 4 coincide surface 2 coincide surface 2\n"
                 // Two surfaces of one group: the group is joined once, and
                 // the new surface never lists itself.
                 "surface 4 curve 1 2 3 4 coincide surface 1 3\n");
  for (long id : {1, 2, 3, 4}) EXPECT_EQ(mgn_count_items(surface(id)->coinciding_surfaces), 3) << id;
  EXPECT_NE(mgn_find_item(surface(1)->coinciding_surfaces, surface(3)), nullptr);
  EXPECT_EQ(mgn_find_item(surface(4)->coinciding_surfaces, surface(4)), nullptr);
}

// --- fixed surfaces -------------------------------------------------------------

TEST_F(Surface, FixedSurfaceIsThePieceOfItsParent) {
  // The parent is a curved biquadratic square: the child on [0.2, 0.6]^2
  // follows it exactly, and takes the sizes of POLYSIZE for its inner point.
  const std::string model = square +
                            "surface 1 curve 1 2 3 4 order 3 3\n"
                            "polygon 1 1 xyz 5 5 4 weight 2\n"
                            "vertex 11 fixed surface 1 uv 0.2 0.2\n"
                            "vertex 12 fixed surface 1 uv 0.6 0.2\n"
                            "vertex 13 fixed surface 1 uv 0.6 0.6\n"
                            "vertex 14 fixed surface 1 uv 0.2 0.6\n"
                            "curve 11 vertex 11 12 fixed surface 1\n"
                            "curve 12 vertex 11 14 fixed surface 1\n"
                            "curve 13 vertex 14 13 fixed surface 1\n"
                            "curve 14 vertex 12 13 fixed surface 1\n"
                            "surface 2 curve 11 12 13 14 fixed surface 1 size sur * 2 polysize 0.125\n";
  EXPECT_EQ(read_capturing(model), "");
  const mgn_surface* parent = surface(1);
  const mgn_surface* child = surface(2);
  EXPECT_EQ(child->parent_surface, parent);
  EXPECT_NE(mgn_find_item(parent->child_surfaces, child), nullptr);
  EXPECT_DOUBLE_EQ(child->umin, 0.2);
  EXPECT_DOUBLE_EQ(child->umax, 0.6);
  EXPECT_DOUBLE_EQ(child->vmin, 0.2);
  EXPECT_DOUBLE_EQ(child->vmax, 0.6);
  EXPECT_EQ(child->order_u, 3);
  EXPECT_EQ(child->order_v, 3);
  EXPECT_EQ(child->vertex[0], vertex(11));
  EXPECT_EQ(child->vertex[2], vertex(13));
  EXPECT_FLOAT_EQ(child->net[4]->size, 0.125f);
  for (double u : {0.0, 0.3, 0.5, 1.0})
    for (double v : {0.0, 0.7, 1.0}) {
      double p[3];
      mgn_get_surface_point(parent, 0.2 + 0.4 * u, 0.2 + 0.4 * v, p);
      expect_point(child, u, v, p[0], p[1], p[2], 1e-9);
    }
}

TEST_F(Surface, EntitiesInsideANewChildAreLocalizedOnIt) {
  // Inside [0.2, 0.6]^2: vertices 15, 16 and curve 15 between them, and the
  // small child surface 3; vertex 17 lies outside.  A virtual child takes
  // nothing.
  const std::string inside =
      "vertex 15 fixed surface 1 uv 0.3 0.3\n"
      "vertex 16 fixed surface 1 uv 0.3 0.5\n"
      "vertex 17 fixed surface 1 uv 0.8 0.8\n"
      "curve 15 vertex 15 16 fixed surface 1\n"
      "vertex 21 fixed surface 1 uv 0.4 0.3\n"
      "vertex 22 fixed surface 1 uv 0.5 0.3\n"
      "vertex 23 fixed surface 1 uv 0.5 0.4\n"
      "vertex 24 fixed surface 1 uv 0.4 0.4\n"
      "curve 21 vertex 21 22 fixed surface 1\n"
      "curve 22 vertex 21 24 fixed surface 1\n"
      "curve 23 vertex 24 23 fixed surface 1\n"
      "curve 24 vertex 22 23 fixed surface 1\n"
      "surface 3 curve 21 22 23 24 fixed surface 1\n";
  const std::string err = read_capturing(inner + inside + "surface 2 curve 11 12 13 14 fixed surface 1\n");
  EXPECT_EQ(err,
            "Warning: Vertex 15 is localized on surface 2 (u = 0.250000, v = 0.250000)\n"
            "Warning: Vertex 16 is localized on surface 2 (u = 0.250000, v = 0.750000)\n"
            "Warning: Vertex 21 is localized on surface 2 (u = 0.500000, v = 0.250000)\n"
            "Warning: Vertex 22 is localized on surface 2 (u = 0.750000, v = 0.250000)\n"
            "Warning: Vertex 23 is localized on surface 2 (u = 0.750000, v = 0.500000)\n"
            "Warning: Vertex 24 is localized on surface 2 (u = 0.500000, v = 0.500000)\n"
            "Warning: Curve 15 is localized on surface 2\n"
            "Warning: Curve 21 is localized on surface 2\n"
            "Warning: Curve 22 is localized on surface 2\n"
            "Warning: Curve 23 is localized on surface 2\n"
            "Warning: Curve 24 is localized on surface 2\n"
            "Warning: Surface 3 is localized on surface 2\n");
  mgn_surface* parent = surface(1);
  mgn_surface* child = surface(2);
  EXPECT_EQ(vertex(15)->parent_surface, child);
  EXPECT_EQ(vertex(17)->parent_surface, parent);
  EXPECT_EQ(curve(15)->parent_surface, child);
  EXPECT_NEAR(curve(15)->parent_uv[1][1], 0.75, 1e-12);
  EXPECT_EQ(curve(11)->parent_surface, parent);  // a side of the child
  EXPECT_EQ(surface(3)->parent_surface, child);
  EXPECT_NEAR(surface(3)->umin, 0.5, 1e-12);
  EXPECT_NEAR(surface(3)->vmax, 0.5, 1e-12);
  EXPECT_EQ(mgn_find_item(parent->child_surfaces, surface(3)), nullptr);
  EXPECT_EQ(mgn_count_items(parent->fixed_vertices), 5);  // 11 to 14 and 17
  EXPECT_EQ(mgn_count_items(child->fixed_vertices), 6);
  EXPECT_EQ(mgn_count_items(child->fixed_curves), 5);
  // The curve keeps its place: the point at its middle is the same on the
  // child as on the parent.
  double a[2], b[2];
  ASSERT_EQ(mgn_get_surface_curve_uv(child, curve(15), a, b), 1);
  expect_point(child, a[0], a[1], 3, 3, 0, 1e-9);

  EXPECT_EQ(read_capturing(inner + inside + "surface 2 curve 11 12 13 14 fixed surface 1 virtual\n"), "");
  EXPECT_EQ(vertex(15)->parent_surface, surface(1));
}

TEST_F(Surface, VirtualChildMayTouchTheBorderOfItsParent) {
  // The left half of the square: two sides are pieces of sides of the
  // parent, the right side a curve fixed to it; its corners on the parent's
  // sides are formed by vertices fixed both to a side vertex and to the
  // surface.
  const std::string half = square +
                           "surface 1 curve 1 2 3 4\n"
                           "vertex 5 fixed curve 1 t 0.5\n"
                           "vertex 6 fixed curve 3 t 0.5\n"
                           "vertex 15 fixed vertex 5 fixed surface 1\n"
                           "vertex 16 fixed vertex 6 fixed surface 1\n"
                           "curve 11 vertex 1 5 fixed curve 1\n"
                           "curve 13 vertex 4 6 fixed curve 3\n"
                           "curve 14 vertex 15 16 fixed surface 1\n"
                           "surface 2 curve 11 2 13 14 fixed surface 1";
  EXPECT_EQ(read_capturing(half + " virtual\n"), "");
  const mgn_surface* s = surface(2);
  EXPECT_DOUBLE_EQ(s->umin, 0.0);
  EXPECT_NEAR(s->umax, 0.5, 1e-12);
  EXPECT_DOUBLE_EQ(s->vmin, 0.0);
  EXPECT_DOUBLE_EQ(s->vmax, 1.0);
  EXPECT_EQ(s->vertex[3], vertex(15));  // the vertex of side 3, on vertex 5
  expect_point(s, 0.5, 0.5, 2.5, 5, 0, 1e-12);
  mgn_reset_model_settings();
  EXPECT_EXIT(mgn_read_model_text(half + "\n"), ::testing::ExitedWithCode(25),
              mgn_input_error_regex("Physical surface 2 cannot touch border of its parent surface 1", 17));
}

// --- vertex and curve rules involving surfaces ------------------------------------

TEST_F(Surface, VerticesAndCurvesOnTheSphereOctant) {
  // Fixed by parameters or by the projection of a position; a curve on the
  // line u = 0.5 between two of them is an arc of a meridian.
  read_model_file("sphere_octant.mgn");
  mgn_read_more_model_text(
      "vertex 11 fixed surface 1 uv 0.5 0.25\n"
      "vertex 12 fixed surface 1 xyz 1.224744871391589 0.7071067811865476 1.4142135623730951\n"
      "vertex 13 fixed surface 1 uv 0.5 0.75\n"
      "curve 11 vertex 13 11 fixed surface 1\n");
  for (long id : {11, 12, 13}) EXPECT_NEAR(std::sqrt(mgn_dot(vertex(id)->xyz, vertex(id)->xyz)), 2.0, 1e-9) << id;
  // At latitude 45 degrees: v = 0.5.
  EXPECT_NEAR(vertex(12)->param[1], 0.5, 1e-6);
  EXPECT_NEAR(vertex(12)->xyz[0], 1.224744871391589, 1e-6);
  const mgn_curve* k = curve(11);
  EXPECT_TRUE(k->reversed);
  EXPECT_EQ(k->vertex[0], vertex(11));
  EXPECT_EQ(k->order, 3);
  for (int i = 0; i <= 10; ++i) {
    double p[3];
    mgn_get_curve_point(k, i / 10.0, p);
    EXPECT_NEAR(std::sqrt(mgn_dot(p, p)), 2.0, 1e-9);
    EXPECT_NEAR(p[0], p[1], 1e-9);  // on the plane x = y
  }
  // Near the collapsed pole side, and a curve along the latitude v = 0.5
  // (vertex 12 lies on it: the curve would be refused).
  mgn_read_more_model_text(
      "vertex 21 fixed surface 1 xyz 0.1 0.1 1.9949937343260002\n"
      "vertex 22 fixed surface 1 uv 0.6 0.5\n"
      "vertex 23 fixed surface 1 uv 0.8 0.5\n"
      "curve 21 vertex 22 23 fixed surface 1\n");
  EXPECT_NEAR(vertex(21)->xyz[0], 0.1, 1e-6);
  EXPECT_NEAR(vertex(21)->xyz[1], 0.1, 1e-6);
  EXPECT_NEAR(vertex(21)->param[0], 0.5, 1e-6);
  EXPECT_GT(vertex(21)->param[1], 0.9);
  for (int i = 0; i <= 10; ++i) {
    double p[3];
    mgn_get_curve_point(curve(21), i / 10.0, p);
    EXPECT_NEAR(std::sqrt(mgn_dot(p, p)), 2.0, 1e-9);
    EXPECT_NEAR(p[2], std::sqrt(2.0), 1e-9);
  }
  // The vertex on the curve is refused.
  mgn_reset_model_settings();
  read_model_file("sphere_octant.mgn");
  EXPECT_EXIT(mgn_read_more_model_text("vertex 11 fixed surface 1 uv 0.5 0.25\nvertex 13 fixed surface 1 uv 0.5 0.75\n"
                                       "curve 11 vertex 13 11 fixed surface 1\nvertex 14 fixed surface 1 uv 0.5 0.5\n"),
              ::testing::ExitedWithCode(25), mgn_input_error_regex("Vertex 14 intersects curve 11 on surface 1", 4));
}

TEST_F(Surface, EntitiesFixedToChildSurfaces) {
  // A physical child takes the vertices later fixed to its parent inside
  // its range; vertices and curves fixed to it directly lie on the parent.
  EXPECT_EQ(read_capturing(inner + "surface 2 curve 11 12 13 14 fixed surface 1\n"), "");
  EXPECT_EQ(read_more_capturing("vertex 15 fixed surface 1 uv 0.3 0.5\n"
                                "vertex 16 fixed surface 2 uv 0.75 0.25\n"
                                "vertex 17 fixed surface 2 uv 0.75 0.75\n"
                                "curve 15 vertex 16 17 fixed surface 2\n"),
            "Warning: Vertex 15 is localized on surface 2 (u = 0.250000, v = 0.750000)\n");
  EXPECT_EQ(vertex(15)->parent_surface, surface(2));
  EXPECT_NEAR(vertex(16)->xyz[0], 5.0, 1e-12);
  EXPECT_NEAR(vertex(16)->xyz[1], 3.0, 1e-12);
  double p[3];
  mgn_get_curve_point(curve(15), 0.5, p);
  EXPECT_NEAR(p[0], 5.0, 1e-12);
  EXPECT_NEAR(p[1], 4.0, 1e-12);
  // A vertex on curve 15 is refused by the child.
  EXPECT_EXIT(mgn_read_more_model_text("vertex 18 fixed surface 2 uv 0.75 0.5\n"), ::testing::ExitedWithCode(25),
              mgn_input_error_regex("Vertex 18 intersects curve 15 on surface 2", 1));

  // What is fixed to a virtual child is not meshed with the physical
  // parent.
  EXPECT_EQ(read_capturing(inner + "surface 2 curve 11 12 13 14 fixed surface 1 virtual\n"), "");
  EXPECT_EQ(read_more_capturing("vertex 15 fixed surface 2 uv 0.25 0.25\n"
                                "vertex 16 fixed surface 2 uv 0.25 0.75\n"
                                "curve 15 vertex 15 16 fixed surface 2\n"
                                "vertex 17 fixed surface 1 uv 0.3 0.5\n"),
            "Warning: Vertex 15 will be ignored when discretizing surface 1\n"
            "Warning: Vertex 16 will be ignored when discretizing surface 1\n"
            "Warning: Curve 15 will be ignored when discretizing surface 1\n");
  EXPECT_NEAR(vertex(15)->xyz[0], 3.0, 1e-12);
  EXPECT_EQ(vertex(17)->parent_surface, surface(1));
}

TEST_F(Surface, SurfaceThroughInfinityIsRejected) {
  // Positive sides, a negative inner weight: the weight function is -0.25 at
  // the centre, reported at the surface's line (18).
  EXPECT_EXIT(read_model_file("vanishing_weight_surface.mgn"), ::testing::ExitedWithCode(25),
              mgn_input_error_regex("Zero weight detected on surface 1 at u = 0.500000, v = 0.500000", 18));
  // A negative inner weight that leaves the function positive (0.625 at
  // the centre) is accepted.
  std::string text = mgn_read_file(std::string(MGN_TEST_MODELS) + "/vanishing_weight_surface.mgn");
  text.replace(text.rfind("weight -4"), 9, "weight -0.5");
  mgn_read_model_text(text);
  ASSERT_NE(surface(1), nullptr);
  EXPECT_DOUBLE_EQ(surface(1)->net[4]->w, -0.5);
}

}  // namespace
