// REGION definitions: options, sequence rules, checks, warnings and the
// records they fill (boundary lists, side marks, fixed entities), read from
// model texts on the unit cube and from the volume models of tests/models.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "input.h"
#include "list.h"
#include "message.h"
#include "model_fixture.h"
#include "region.h"
#include "surface.h"

namespace {

// The cube with entities inside it: the square surface 7 at z = 0.5
// (vertices 9 to 12, curves 13 to 16), the curve 17 beside it, the vertex
// 15 below it, a hole surface 8 and a virtual surface 9 on the square's
// curves.
const std::string base = mgn_cube_model +
                         "vertex 9 xyz 0.25 0.25 0.5\nvertex 10 xyz 0.75 0.25 0.5\n"
                         "vertex 11 xyz 0.75 0.75 0.5\nvertex 12 xyz 0.25 0.75 0.5\n"
                         "curve 13 vertex 9 10\ncurve 14 vertex 9 12\ncurve 15 vertex 12 11\ncurve 16 vertex 10 11\n"
                         "surface 7 curve 13 14 15 16\n"
                         "vertex 13 xyz 0.15 0.85 0.15\nvertex 14 xyz 0.85 0.85 0.85\ncurve 17 vertex 13 14\n"
                         "vertex 15 xyz 0.5 0.5 0.25\n"
                         "surface 8 curve 13 14 15 16 hole\n"
                         "surface 9 curve 13 14 15 16 virtual\n";
constexpr long base_next = mgn_cube_model_lines + 16;

// The boundary of the region inside the cube, and of the one that uses the
// other sides (inverted, but closed and consistent: it serves as a second
// region holding the same entities).
const std::string inside = " boundary surface -1 -2 -3 -4 -5 -6";
const std::string other_sides = " boundary surface 1 2 3 4 5 6";

mgn_input_error_case at(const char* name, const std::string& lines, long offset, const std::string& message) {
  return {name, base + lines, base_next + offset, message};
}

class RegionError : public ::testing::TestWithParam<mgn_input_error_case> {};

TEST_P(RegionError, ReportsMessageWithLineAndStatus25) {
  const mgn_input_error_case& c = GetParam();
  mgn_reset_model_settings();
  EXPECT_EXIT(mgn_read_model_text(c.text), ::testing::ExitedWithCode(25), mgn_input_error_regex(c.message, c.line));
}

std::string name_of(const ::testing::TestParamInfo<mgn_input_error_case>& info) { return info.param.name; }

const std::string r1 = "region 1" + inside;

const mgn_input_error_case option_cases[] = {
    at("IdMissing", "region\n", 0, "Missing region id"),
    at("IdZero", "region 0" + inside + "\n", 0, "Positive region id required"),
    at("IdTwice", r1 + "\nregion 1" + other_sides + "\n", 1, "Multiple instance of region 1 detected"),
    at("NoBoundary", "region 1 size 1\n", 0, "Keyword BOUNDARY missing"),
    at("UnknownKeyword", "region 1 colour red" + inside + "\n", 0,
       "Unexpected or invalid keyword \"COLOUR\" encountered"),
    // A list of identifiers runs to the next keyword of the table.
    at("WordInAList", r1 + " colour\n", 0, "Integer number expected (COLOUR - read)"),
    at("ValueWordAlone", r1 + " def\n", 0, "Unexpected or invalid keyword \"DEF\" encountered"),
    at("SizeTwice", r1 + " size 1 size 2\n", 0, "Keyword \"SIZE\" not expected due to the duplicity"),
    at("ExtrudeTwice", r1 + " extrude extrude\n", 0, "Keyword \"EXTRUDE\" not expected due to the duplicity"),
    // BOUNDARY
    at("BoundaryAtLineEnd", "region 1 boundary\n", 0, "Keyword SURFACE or PATCH or SHELL missing"),
    at("BoundaryWithoutKind", "region 1 boundary size 1\n", 0,
       "Keyword SURFACE or PATCH or SHELL missing (redundand keyword BOUNDARY)"),
    at("BoundaryVertex", "region 1 boundary vertex 1\n", 0,
       "Keyword SURFACE or PATCH or SHELL missing (redundand keyword BOUNDARY)"),
    at("BoundarySurfaceMissing", "region 1 boundary surface\n", 0, "Missing boundary surface id"),
    at("BoundaryPatchMissing", "region 1 boundary patch size 1\n", 0, "Missing boundary patch id"),
    at("BoundaryShellMissing", "region 1 boundary shell # 1\n", 0, "Missing boundary shell id"),
    at("BoundarySurfaceUnknown", "region 1 boundary surface -1 -10\n", 0, "Surface 10 does not exist"),
    at("BoundarySurfaceZero", "region 1 boundary surface 0\n", 0, "Surface 0 does not exist"),
    at("BoundaryPatchUnknown", "region 1 boundary patch 1\n", 0, "Patch 1 does not exist"),
    at("BoundaryShellUnknown", "region 1 boundary shell -2\n", 0, "Shell 2 does not exist"),
    at("OuterSideTwice", "region 1 boundary surface -1 -2 -1\n", 0,
       "Outer side of boundary surface 1 of region 1 used more than once"),
    at("InnerSideTwiceAcrossGroups", "region 1 boundary surface 1 2 boundary surface 3 1\n", 0,
       "Inner side of boundary surface 1 of region 1 used more than once"),
    at("SurfaceAlone", "region 1 surface 1\n", 0,
       "Keyword SURFACE not expected (keyword BOUNDARY or FIXED or EXTRUDE missing)"),
    at("PatchAlone", r1 + " size 1 patch 1\n", 0,
       "Keyword PATCH not expected (keyword BOUNDARY or FIXED or EXTRUDE missing)"),
    at("ShellAlone", r1 + " hole shell 1\n", 0,
       "Keyword SHELL not expected (keyword BOUNDARY or FIXED or EXTRUDE missing)"),
    // FIXED
    at("FixedAtLineEnd", r1 + " fixed\n", 0, "Keyword VERTEX or CURVE or SURFACE or PATCH or SHELL missing"),
    at("FixedWithoutKind", r1 + " fixed size 1\n", 0,
       "Keyword VERTEX or CURVE or SURFACE or PATCH or SHELL missing (redundand keyword FIXED)"),
    at("FixedSurfaceMissing", r1 + " fixed surface\n", 0, "Missing fixed surface id"),
    at("FixedPatchMissing", r1 + " fixed patch\n", 0, "Missing fixed patch id"),
    at("FixedShellMissing", r1 + " fixed shell\n", 0, "Missing fixed shell id"),
    at("FixedVertexMissing", r1 + " fixed vertex size 1\n", 0, "Missing fixed vertex id"),
    at("FixedVertexUnknown", r1 + " fixed vertex 15 99\n", 0, "Vertex 99 does not exist"),
    at("FixedCurveMissing", r1 + " fixed curve\n", 0, "Missing fixed curve id"),
    at("FixedCurveUnknown", r1 + " fixed curve 99\n", 0, "Curve 99 does not exist"),
    at("FixedPatchUnknown", r1 + " fixed patch 3\n", 0, "Patch 3 does not exist"),
    at("VertexAlone", r1 + " vertex 15\n", 0, "Keyword VERTEX not expected (keyword FIXED missing)"),
    at("CurveAlone", r1 + " curve 17\n", 0, "Keyword CURVE not expected (keyword FIXED missing)"),
    // EXTRUDE, WEAK, SUBREGION
    at("WeakAtLineEnd", r1 + " weak\n", 0, "Keyword EXTRUDE missing"),
    at("WeakWithoutExtrude", r1 + " weak size 1\n", 0, "Keyword EXTRUDE missing (redundand keyword WEAK)"),
    at("BaseSurfaceMissing", r1 + " extrude surface\n", 0, "Missing region base surface id"),
    at("BasePatchMissing", r1 + " extrude patch\n", 0, "Missing region base patch id"),
    at("BaseShellMissing", r1 + " extrude shell\n", 0, "Missing region base shell id"),
    at("BaseSurfaceUnknown", r1 + " extrude surface 99\n", 0, "Surface 99 does not exist"),
    at("SubregionMissing", r1 + " subregion\n", 0, "Missing subregion id"),
    at("SubregionUnknown", r1 + " subregion 5\n", 0, "Subregion 5 does not exist"),
    // Values
    at("SizeMissing", r1 + " size\n", 0, "Size specification missing"),
    at("SizeNegative", r1 + " size -1\n", 0, "Positive or zero mesh size required"),
    at("SizeSurWord", r1 + " size sur\n", 0, "Floating point number expected (SUR - read)"),
    at("SizeYesWord", r1 + " size yes\n", 0, "Unexpected or invalid keyword \"YES\" encountered"),
    at("SizeMultiplierMissing", r1 + " size def *\n", 0, "Mesh size multiplication factor missing"),
    at("SizeMultiplierNegative", r1 + " size 1 * -2\n", 0, "Positive or zero mesh size multiplication factor required"),
    at("FactorNegative", r1 + " factor -1\n", 0, "Positive or zero factor required"),
    at("PropertyNegative", r1 + " property -1\n", 0, "Positive or zero property number required"),
    at("MapMissing", r1 + " map\n", 0, "Mapping specification missing"),
    at("OutputMissing", r1 + " output\n", 0, "Output specification missing"),
    at("OutputWord", r1 + " output maybe\n", 0, "Unexpected or invalid keyword \"MAYBE\" encountered"),
    // ISO and its directions
    at("IsoMissing", r1 + " iso\n", 0, "Iso specification missing"),
    at("Dir1WithoutIso", r1 + " dir1 1 0 0\n", 0, "Keyword DIR1 not expected (keyword ISO missing)"),
    at("Dir2NotAfterIso", r1 + " iso yes size 1 dir2 0 1 0\n", 0, "Keyword DIR2 not expected (keyword ISO missing)"),
    at("Dir1XMissing", r1 + " iso yes dir1\n", 0, "Iso direction 1 x component missing"),
    at("Dir1ZMissing", r1 + " iso yes dir1 1 0\n", 0, "Iso direction 1 z component missing"),
    at("Dir2YMissing", r1 + " iso yes dir1 1 0 0 dir2 1\n", 0, "Iso direction 2 y component missing"),
    at("Dir1Zero", r1 + " iso yes dir1 0 0 0\n", 0, "Invalid iso direction 1 vector detected"),
    at("Dir2Tiny", r1 + " iso yes dir2 0 0.000001 0\n", 0, "Invalid iso direction 2 vector detected"),
    at("OnlyDir1", r1 + " hexa iso yes dir1 1 0 0\n", 0, "Keyword DIR2 missing"),
    at("OnlyDir2", r1 + " hexa iso yes dir2 0 1 0\n", 0, "Keyword DIR1 missing"),
    at("NotPerpendicular", r1 + " size 1 hexa iso yes dir1 1 0 0 dir2 1 1 0\n", 0,
       "Iso directions 1 and 2 are not perpendicular"),
    // LCS, groups, properties
    at("LcsFirstMissing", r1 + " lcs\n", 0, "Missing first lcs curve id"),
    at("LcsSecondMissing", r1 + " lcs 1\n", 0, "Missing second lcs curve id"),
    at("LcsThirdMissing", r1 + " lcs 1 2\n", 0, "Missing third lcs curve id"),
    at("LcsUnknown", r1 + " lcs 1 2 99\n", 0, "Curve 99 does not exist"),
    at("LcsRepeated", r1 + " lcs 1 2 1\n", 0, "LCS curves must be different"),
    at("ElemgroupFirstMissing", r1 + " elemgroup\n", 0, "Missing tetra elem group id"),
    at("ElemgroupLastMissing", r1 + " elemgroup 1 2 3\n", 0, "Missing hexa elem group id"),
    at("NodepropMissing", r1 + " nodeprop\n", 0, "Node property string missing"),
    at("ElempropMissing", r1 + " elemprop\n", 0, "Elem property string missing"),
};
INSTANTIATE_TEST_SUITE_P(Options, RegionError, ::testing::ValuesIn(option_cases), name_of);

// The checks after the line: sides, holes, virtual entities, entities fixed
// in two regions, subregions, the extrusion base, repeats and the inside
// tests.
const mgn_input_error_case check_cases[] = {
    at("SideOfOtherRegion", r1 + "\nregion 2 boundary surface -1 2 3 4 5 6\n", 1,
       "Outer side of surface 1 already used as boundary surface of region 1"),
    at("VirtualBoundary", "region 1 boundary surface 9\n", 0,
       "Virtual surface (9) cannot form boundary of physical region (1)"),
    at("HoleBoundary", "region 1 boundary surface 8\n", 0, "Hole surface (8) cannot form boundary of solid region (1)"),
    at("HoleFixed", r1 + " fixed surface 8\n", 0, "Hole surface (8) cannot be fixed to solid region (1)"),
    at("FixedInTwoRegions", r1 + " fixed surface 7\nregion 2" + other_sides + " fixed surface 7\n", 1,
       "Surface 7 fixed to region 2 already localized in region 1"),
    at("FixedSideUsedByOtherRegion", r1 + "\nregion 2 fixed surface 1 boundary surface 7\n", 1,
       "Outer side of surface 1 fixed to region 2 already used as boundary surface"),
    at("FixedAfterBoundary", r1 + " fixed surface 3\n", 0,
       "Outer side of surface 3 fixed to region 1 already used as boundary surface"),
    at("BoundaryAfterFixed", "region 1 fixed surface 7" + inside + " 7\n", 0,
       "Inner side of surface 7 fixed to region 1 already used as boundary surface"),
    at("BoundaryLocalizedElsewhere",
       r1 + " fixed surface 7\nregion 2" + other_sides + "\nregion 3 boundary surface 7\n", 2,
       "Surface 7 already localized in region 1"),
    at("VertexInTwoRegions", r1 + " fixed vertex 15\nregion 2" + other_sides + " fixed vertex 15\n", 1,
       "Vertex 15 already localized in region 1"),
    at("CurveInTwoRegions", r1 + " fixed curve 17\nregion 2" + other_sides + " fixed curve 17\n", 1,
       "Curve 17 already localized in region 1"),
    at("VirtualSubregion", "region 2 virtual" + other_sides + "\n" + r1 + " subregion 2\n", 1,
       "Virtual region (2) cannot be subregion of physical region (1)"),
    at("BaseNotOnBoundary", r1 + " extrude surface 7\n", 0,
       "Base surface (7) does not form boundary of physical region (1)"),
    at("CurveTwice", r1 + " fixed curve 17 fixed curve 17\n", 0, "Fixed curve 17 specified more than once"),
    at("VertexTwiceInOneList", r1 + " fixed vertex 15 15\n", 0, "Fixed vertex 15 specified more than once"),
    at("VertexAndItsParent", "vertex 16 fixed vertex 15\n" + r1 + " fixed vertex 15 16\n", 1,
       "Fixed vertex 16 specified more than once"),
    // Curve 19 lies on curve 17 through the virtual curve 18.
    at("ParentCurveInOtherRegion",
       "vertex 16 fixed curve 17 t 0.5\ncurve 18 vertex 13 16 fixed curve 17 virtual\n"
       "curve 19 vertex 13 16 fixed curve 18\n" +
           r1 + " fixed curve 17\nregion 2" + other_sides + " fixed curve 19\n",
       4, "Curve 19 and its parent curve 17 localized in different regions"),
    at("EndVertexInOtherRegion", r1 + " fixed vertex 13\nregion 2" + other_sides + " fixed curve 17\n", 1,
       "Vertex 13 already localized in region 1"),
    at("CurveOfVertexInOtherRegion", r1 + " fixed curve 17\nregion 2" + other_sides + " fixed vertex 14\n", 1,
       "Curve 17 already localized in region 1"),
    at("VertexOutside", "vertex 16 xyz 0.5 0.5 1.5\n" + r1 + " fixed vertex 16\n", 1,
       "Vertex 16 is not inside region 1"),
    at("VertexOnBoundary", "vertex 16 xyz 0.5 0.3 1\n" + r1 + " fixed vertex 16\n", 1,
       "Vertex 16 is not inside region 1"),
    at("VertexOfBoundary", r1 + " fixed vertex 7\n", 0, "Vertex 7 is not inside region 1"),
    at("CurveLeavingTheCube", "vertex 16 xyz 1.5 0.5 0.5\ncurve 18 vertex 15 16\n" + r1 + " fixed curve 18\n", 2,
       "Curve 18 is not inside region 1"),
    at("CurveAlongAFace", r1 + " fixed curve 1\n", 0, "Curve 1 is not inside region 1"),
    at("CurveEndingInAFace", "vertex 16 xyz 0.5 0.5 1\ncurve 18 vertex 15 16\n" + r1 + " fixed curve 18\n", 2,
       "Curve 18 is not inside region 1"),
    at("SurfaceCrossingAFace",
       "vertex 16 xyz 0.2 0.2 0.8\nvertex 17 xyz 1.2 0.2 0.8\nvertex 18 xyz 1.2 0.8 0.8\nvertex 19 xyz 0.2 0.8 0.8\n"
       "curve 18 vertex 16 17\ncurve 19 vertex 16 19\ncurve 20 vertex 19 18\ncurve 21 vertex 17 18\n"
       "surface 10 curve 18 19 20 21\n" +
           r1 + " fixed surface 10\n",
       9, "Surface 10 is not inside region 1"),
};
INSTANTIATE_TEST_SUITE_P(Checks, RegionError, ::testing::ValuesIn(check_cases), name_of);

class RegionRead : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }
  static mgn_region* region(long id) { return mgn_find_region(id); }
  static mgn_surface* surface(long id) { return mgn_find_surface(id); }
  static std::vector<long> ids(mgn_list list) {
    std::vector<long> out;
    for (mgn_surface* s : mgn_list_range<mgn_surface>(list)) out.push_back(s->id);
    return out;
  }
  // Reads the text and returns what the warnings printed.
  static std::string read_with_warnings(const std::string& text) {
    ::testing::internal::CaptureStderr();
    mgn_read_model_text(text);
    return ::testing::internal::GetCapturedStderr();
  }
};

TEST_F(RegionRead, BoundaryListsAndSideMarks) {
  mgn_read_model_text(base + "region 1 boundary surface -1 -2 -3 boundary surface -4 -5 -6\n");
  mgn_region* r = region(1);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(ids(r->outer_surfaces), (std::vector<long>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(r->inner_surfaces, nullptr);
  for (long s = 1; s <= 6; ++s) {
    EXPECT_EQ(surface(s)->outer_region, r) << s;
    EXPECT_EQ(surface(s)->inner_region, nullptr) << s;
  }
  EXPECT_EQ(surface(7)->outer_region, nullptr);
  EXPECT_EQ(mgn_warning_count, 0);
}

TEST_F(RegionRead, TwoBoxesUseTheTwoSidesOfTheirCommonFace) {
  mgn_set.input_file_name = std::string(MGN_TEST_MODELS) + "/two_boxes.mgn";
  mgn_release_model();
  mgn_build_model_from_file();
  mgn_surface* shared = surface(6);
  EXPECT_EQ(shared->outer_region, region(1));
  EXPECT_EQ(shared->inner_region, region(2));
  EXPECT_EQ(ids(region(2)->inner_surfaces), (std::vector<long>{6}));
  EXPECT_EQ(ids(region(2)->outer_surfaces), (std::vector<long>{7, 8, 9, 10, 11}));
}

TEST_F(RegionRead, FixedEntitiesAreLocalized) {
  mgn_read_model_text(base + "vertex 16 fixed vertex 15\nvertex 17 xyz 0.5 0.5 0.2 virtual\n" + r1 +
                      " fixed surface 7 fixed curve 17 fixed vertex 16 17\n");
  mgn_region* r = region(1);
  EXPECT_EQ(ids(r->fixed_surfaces), (std::vector<long>{7}));
  EXPECT_EQ(surface(7)->localized_region, r);
  EXPECT_EQ(surface(7)->inner_region, nullptr);
  EXPECT_EQ(mgn_find_curve(17)->localized_region, r);
  // The top physical parent carries the mesh; the virtual vertex is skipped.
  const auto vertices = mgn_list_objects<mgn_vertex>(r->fixed_vertices);
  ASSERT_EQ(vertices.size(), 1u);
  EXPECT_EQ(vertices[0], mgn_find_vertex(15));
  EXPECT_EQ(mgn_find_vertex(15)->localized_region, r);
  EXPECT_EQ(mgn_find_vertex(16)->localized_region, nullptr);
  EXPECT_EQ(mgn_find_vertex(17)->localized_region, nullptr);
}

TEST_F(RegionRead, ModelWithEntitiesFixedInsideReadsAsIs) {
  mgn_set.input_file_name = std::string(MGN_TEST_MODELS) + "/cube_fixed_inside.mgn";
  mgn_release_model();
  mgn_build_model_from_file();
  mgn_region* r = region(1);
  EXPECT_EQ(surface(7)->localized_region, r);
  EXPECT_EQ(mgn_find_curve(17)->localized_region, r);
  EXPECT_EQ(mgn_find_vertex(15)->localized_region, r);
}

TEST_F(RegionRead, OptionsFillTheRecord) {
  mgn_read_model_text(base + r1 +
                      " size 0.5 * 2 factor 3 property 4 output no hexa iso yes dir1 2 0 0 dir2 0 0 3 "
                      "equidistant elemgroup 1 2 3 4 nodeprop 'a b'\n");
  mgn_region* r = region(1);
  EXPECT_FLOAT_EQ(r->size, 1.0f);
  EXPECT_FLOAT_EQ(r->factor, 3.0f);
  EXPECT_EQ(r->property, 4);
  EXPECT_FALSE(r->output);
  EXPECT_TRUE(r->hexa);
  EXPECT_TRUE(r->iso);
  EXPECT_TRUE(r->equidistant);
  EXPECT_DOUBLE_EQ(r->iso_direction[0][0], 1.0);
  EXPECT_DOUBLE_EQ(r->iso_direction[1][2], 1.0);
  EXPECT_TRUE(mgn_input.properties_seen);
  // With the size factor the number scales; DEF takes the default size.
  mgn_set.size_factor = 0.5;
  mgn_read_model_text(base + r1 + " size 2\n");
  EXPECT_FLOAT_EQ(region(1)->size, 1.0f);
  mgn_set.size_factor = 1.0;
  mgn_set.default_size = 0.25;
  mgn_read_model_text(base + r1 + " size def * 2\n");
  EXPECT_FLOAT_EQ(region(1)->size, 0.5f);
}

TEST_F(RegionRead, ExtrusionAndMapping) {
  mgn_read_model_text(base + r1 + " weak extrude surface 3 map yes lcs 1 2 9\n");
  mgn_region* r = region(1);
  EXPECT_TRUE(r->extrude);
  EXPECT_TRUE(r->weak_extrude);
  EXPECT_EQ(r->extrude_base, surface(3));
  EXPECT_EQ(r->extrude_base_kind, MGN_SURFACE);
  EXPECT_TRUE(r->map);
  EXPECT_EQ(r->lcs[2], mgn_find_curve(9));
  // Without quad-hexa support the structured requests are not taken.
  mgn_set.quad_hexa_support = false;
  mgn_read_model_text(base + r1 + " extrude hexa map yes\n");
  EXPECT_FALSE(region(1)->extrude);
  EXPECT_FALSE(region(1)->hexa);
  EXPECT_FALSE(region(1)->map);
}

TEST_F(RegionRead, Warnings) {
  struct Case {
    std::string options;
    std::string warnings;
  };
  const Case cases[] = {
      {" hole property 3 output yes",
       "Warning: Keyword PROPERTY ignored for hole (region 1)\n"
       "Warning: Keyword OUTPUT ignored for hole (region 1)\n"},
      {" iso yes", "Warning: Keyword ISO ignored for non-hexa mesh (region 1)\n"},
      {" lcs 1 2 3", "Warning: Keyword LCS ignored for region (1) not subjected to hexa mapping\n"},
      {" size 1 hexa map yes iso yes", "Warning: Keyword ISO ignored for map-hexa region (1)\n"},
      {" size 1 extrude hexa iso yes",
       "Warning: Keyword HEXA ignored for extruded region (1)\n"
       "Warning: Keyword ISO ignored for extruded region (1)\n"},
      {" size uni factor 2",
       "Warning: Default zero mesh size specification detected at region 1\n"
       "Warning: Factor specification ignored in region 1\n"},
      {" hexa iso yes",
       "Warning: Keyword ISO ignored for region (1) with no mesh size specification\n"
       "Warning: Request for unstructured hexa meshing of region 1 ignored\n"},
      {" hexa", "Warning: Request for unstructured hexa meshing of region 1 ignored\n"},
      // A virtual region drops its requests silently.
      {" virtual hole property 2 output yes extrude hexa iso yes", ""},
  };
  for (const Case& c : cases) {
    mgn_warning_count = 0;
    const std::string err = read_with_warnings(base + r1 + c.options + "\n");
    EXPECT_EQ(err, c.warnings) << c.options;
    long lines = 0;
    for (std::size_t p = c.warnings.find("Warning"); p != std::string::npos; p = c.warnings.find("Warning", p + 1))
      ++lines;
    EXPECT_EQ(mgn_warning_count, lines) << c.options;
  }
}

TEST_F(RegionRead, DroppedRequests) {
  read_with_warnings(base + r1 + " hole property 3 output no\n");
  EXPECT_EQ(region(1)->property, 0);
  EXPECT_TRUE(region(1)->output);
  read_with_warnings(base + r1 + " size 1 extrude hexa iso yes\n");
  EXPECT_TRUE(region(1)->extrude);
  EXPECT_FALSE(region(1)->hexa);
  EXPECT_FALSE(region(1)->iso);
  read_with_warnings(base + r1 + " size uni factor 2\n");
  EXPECT_FLOAT_EQ(region(1)->factor, 1.0f);
  mgn_set.size_factor = 0.0;
  read_with_warnings(base + r1 + " size 2 factor 2\n");
  EXPECT_FLOAT_EQ(region(1)->size, 0.0f);
  EXPECT_FLOAT_EQ(region(1)->factor, 0.0f);
}

// A virtual region is meshed through its subregions: it takes no side and
// localizes nothing, so a physical region may use the same sides.
TEST_F(RegionRead, VirtualRegionTakesNoSide) {
  mgn_read_model_text(base + "region 1 virtual" + inside + " fixed vertex 15\n" + "region 2" + inside +
                      " fixed vertex 15\nregion 3 virtual" + other_sides + " subregion 2\n");
  EXPECT_EQ(surface(1)->outer_region, region(2));
  EXPECT_EQ(mgn_find_vertex(15)->localized_region, region(2));
  EXPECT_EQ(mgn_list_objects<mgn_region>(region(3)->subregions), (std::vector<mgn_region*>{region(2)}));
}

// A surface fixed to a boundary surface, meshed on its own in the hole it
// leaves, bounds the region from the same side; so does one fixed to it.
TEST_F(RegionRead, SurfacesFixedToABoundarySurfaceBoundTheRegion) {
  const std::string children =
      "vertex 9 fixed surface 1 uv 0.2 0.2\nvertex 10 fixed surface 1 uv 0.8 0.2\n"
      "vertex 11 fixed surface 1 uv 0.8 0.8\nvertex 12 fixed surface 1 uv 0.2 0.8\n"
      "curve 13 vertex 9 10 fixed surface 1\ncurve 14 vertex 9 12 fixed surface 1\n"
      "curve 15 vertex 12 11 fixed surface 1\ncurve 16 vertex 10 11 fixed surface 1\n"
      "surface 7 curve 13 14 15 16 fixed surface 1\n"
      "vertex 13 fixed surface 7 uv 0.25 0.25\nvertex 14 fixed surface 7 uv 0.75 0.25\n"
      "vertex 15 fixed surface 7 uv 0.75 0.75\nvertex 16 fixed surface 7 uv 0.25 0.75\n"
      "curve 17 vertex 13 14 fixed surface 7\ncurve 18 vertex 13 16 fixed surface 7\n"
      "curve 19 vertex 16 15 fixed surface 7\ncurve 20 vertex 14 15 fixed surface 7\n"
      "surface 8 curve 17 18 19 20 fixed surface 7\n";
  mgn_read_model_text(mgn_cube_model + children + "region 1" + inside + "\n");
  EXPECT_EQ(ids(region(1)->outer_surfaces), (std::vector<long>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(surface(7)->outer_region, region(1));
  EXPECT_EQ(surface(8)->outer_region, region(1));
  // Listing the child with the other side of its parent is inconsistent.
  EXPECT_EXIT(mgn_read_model_text(mgn_cube_model + children + "region 1" + inside + " 7\n"),
              ::testing::ExitedWithCode(10), "Check orientation of surfaces 1 and 7\n");
  // A hole in a face leaves the boundary open.
  const std::string hole =
      children.substr(0, children.find("surface 7")) + "surface 7 curve 13 14 15 16 fixed surface 1 hole\n";
  EXPECT_EXIT(mgn_read_model_text(mgn_cube_model + hole + "region 1" + inside + "\n"), ::testing::ExitedWithCode(10),
              "Curve 13 shared only by surface 1\n");
}

// The volume models of tests/models pass every check of their regions.
TEST(RegionModels, ReadWithAllChecks) {
  for (const char* model : {"unit_cube", "sphere", "box_spherical_void", "two_boxes", "cube_fixed_inside", "torus"}) {
    mgn_reset_model_settings();
    mgn_release_model();
    mgn_set.input_file_name = std::string(MGN_TEST_MODELS) + "/" + model + ".mgn";
    mgn_build_model_from_file();
    EXPECT_NE(mgn_find_region(1), nullptr) << model;
    EXPECT_EQ(mgn_warning_count, 0) << model;
  }
}

}  // namespace
