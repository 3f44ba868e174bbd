// PATCH and SHELL definitions: options, sequence rules, checks after the
// line and their messages, the requests that are dropped with a warning,
// and what the records hold after a good line.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "input.h"
#include "input3.h"
#include "list.h"
#include "model_fixture.h"
#include "patch.h"
#include "shell.h"

namespace {

// The square of mgn_square_model (lines 1 to 8) with a loop around it,
// counterclockwise about +z: curve 1 (1 -> 2), 4 (2 -> 3), 3 against
// (3 -> 4), 2 against (4 -> 1).
const std::string& square = mgn_square_model;
constexpr long square_next = 9;
const std::string loop = " normal 0 0 1 boundary curve 1 4 -3 -2";

// The square with surface 1 on it (line 9) and, inside it, vertices 11 to
// 14 fixed to it at u, v in {0.2, 0.6} (lines 10 to 13) and the curves
// between them (lines 14 to 17): 11 at v = 0.2, 12 at u = 0.2, 13 at v =
// 0.6, 14 at u = 0.6.
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
const std::string shell_loop = " bgsurface 1 boundary curve 1 4 -3 -2";

mgn_input_error_case sq(const char* name, const std::string& lines, long offset, const std::string& message) {
  return {name, square + lines, square_next + offset, message};
}
mgn_input_error_case in(const char* name, const std::string& lines, long offset, const std::string& message) {
  return {name, inner + lines, inner_next + offset, message};
}

class FaceLineError : public ::testing::TestWithParam<mgn_input_error_case> {};

TEST_P(FaceLineError, ReportsMessageWithLineAndStatus25) {
  const mgn_input_error_case& c = GetParam();
  mgn_reset_model_settings();
  EXPECT_EXIT(mgn_read_model_text(c.text), ::testing::ExitedWithCode(25), mgn_input_error_regex(c.message, c.line));
}

std::string name_of(const ::testing::TestParamInfo<mgn_input_error_case>& info) { return info.param.name; }

const mgn_input_error_case patch_cases[] = {
    sq("IdMissing", "patch\n", 0, "Missing patch id"),
    sq("IdZero", "patch 0" + loop + "\n", 0, "Positive patch id required"),
    sq("IdTwice", "patch 1" + loop + "\npatch 1 normal 0 0 -1 boundary curve -1 -4 3 2\n", 1,
       "Multiple instance of patch 1 detected"),
    sq("NoNormal", "patch 1 boundary curve 1 4 -3 -2\n", 0, "Keyword NORMAL missing"),
    sq("NoBoundary", "patch 1 normal 0 0 1\n", 0, "Keyword BOUNDARY missing"),
    sq("BoundaryWithoutCurve", "patch 1 normal 0 0 1 boundary size 1\n", 0,
       "Keyword CURVE missing (redundand keyword BOUNDARY)"),
    sq("BoundaryAtLineEnd", "patch 1 normal 0 0 1 boundary\n", 0, "Keyword CURVE missing"),
    sq("FixedWithoutKind", "patch 1" + loop + " fixed size 1\n", 0,
       "Keyword VERTEX or CURVE missing (redundand keyword FIXED)"),
    sq("FixedAtLineEnd", "patch 1" + loop + " fixed\n", 0, "Keyword VERTEX or CURVE missing"),
    sq("CoincideAtLineEnd", "patch 1" + loop + " coincide\n", 0, "Keyword SURFACE or PATCH or SHELL missing"),
    sq("AttractAtLineEnd", "patch 1" + loop + " attract 1\n", 0, "Keyword ALL or VERTEX or CURVE missing"),
    sq("DiagonalWithoutKind", "patch 1" + loop + " diagonal size 1\n", 0,
       "Keyword NONE or POSITIVE or NEGATIVE or POINT missing (redundant keyword DIAGONAL)"),
    sq("WeakWithoutMirror", "patch 1" + loop + " weak size 1\n", 0, "Keyword MIRROR missing (redundand keyword WEAK)"),
    sq("NormalZMissing", "patch 1 normal 0 0\n", 0, "Normal z component missing"),
    sq("NormalZero", "patch 1 normal 0 0 0 boundary curve 1 4 -3 -2\n", 0, "Invalid normal vector detected"),
    sq("OriginYMissing", "patch 1" + loop + " origin 1\n", 0, "Origin y component missing"),
    sq("BoundaryIdMissing", "patch 1 normal 0 0 1 boundary curve\n", 0, "Missing boundary curve id"),
    sq("BoundaryUnknown", "patch 1 normal 0 0 1 boundary curve 1 9\n", 0, "Curve 9 does not exist"),
    sq("LeftSideTwice", "patch 1 normal 0 0 1 boundary curve 1 4 -3 -2 1\n", 0,
       "Left side of boundary curve 1 of patch 1 used more than once"),
    sq("RightSideTakenByAnother", "patch 1 normal 0 0 1 boundary curve 1 4 -3 -2\npatch 2 normal 0 0 1 boundary curve -3\n",
       1, "Right side of boundary curve 3 of patch 2 used more than once"),
    sq("FixedCurveMissing", "patch 1" + loop + " fixed curve\n", 0, "Missing fixed curve id"),
    sq("FixedCurveIsBoundary", "patch 1" + loop + " fixed curve 1\n", 0,
       "Left side of curve 1 fixed to patch 1 already used as boundary curve"),
    sq("FixedVertexMissing", "patch 1" + loop + " fixed vertex\n", 0, "Missing fixed vertex id"),
    sq("FixedVertexUnknown", "patch 1" + loop + " fixed vertex 9\n", 0, "Vertex 9 does not exist"),
    sq("CurveAlone", "patch 1" + loop + " curve 1\n", 0,
       "Keyword CURVE not expected (keyword BOUNDARY or ATTRACT or FIXED missing)"),
    sq("VertexAlone", "patch 1" + loop + " vertex 1\n", 0,
       "Keyword VERTEX not expected (keyword ATTRACT or FIXED missing)"),
    sq("SubpatchMissing", "patch 1" + loop + " subpatch\n", 0, "Missing subpatch id"),
    sq("SubpatchUnknown", "patch 1" + loop + " subpatch 5\n", 0, "Subpatch 5 does not exist"),
    sq("EpsilonMissing", "patch 1" + loop + " epsilon\n", 0, "Missing patch user epsilon"),
    sq("EpsilonNegative", "patch 1" + loop + " epsilon -1\n", 0, "Positive or zero epsilon required"),
    sq("IsoMissing", "patch 1" + loop + " iso\n", 0, "Iso specification missing"),
    sq("DirWithoutIso", "patch 1" + loop + " dir 1 0 0\n", 0, "Keyword DIR not expected (keyword ISO missing)"),
    sq("DirZMissing", "patch 1" + loop + " iso yes dir 1 0\n", 0, "Iso direction z component missing"),
    sq("DirZero", "patch 1" + loop + " iso yes dir 0 0 0\n", 0, "Invalid iso direction vector detected"),
    sq("DirOutOfPlane", "patch 1" + loop + " size 1 iso yes dir 1 0 1\n", 0, "Iso direction of patch 1 out of its plane"),
    sq("SizeTwice", "patch 1" + loop + " size 1 size 2\n", 0, "Keyword \"SIZE\" not expected due to the duplicity"),
    sq("AttractOutOfRange", "patch 1" + loop + " attract 11 all\n", 0, "Attraction factor out of range"),
    sq("LcsSameCurve", "patch 1" + loop + " lcs 1 1\n", 0, "LCS curves must be different"),
    sq("MirrorMissing", "patch 1" + loop + " mirror\n", 0, "Missing mirror patch id"),
    sq("MirrorUnknown", "patch 1" + loop + " mirror 7\n", 0, "Patch 7 does not exist"),
    sq("DuplicateMissing", "patch 1" + loop + " duplicate\n", 0, "Missing duplicated patch id"),
    sq("RateIsNotAPatchOption", "patch 1 rate 1" + loop + "\n", 0, "Unexpected or invalid keyword \"RATE\" encountered"),
    sq("NormalsOfSubpatchDiffer",
       "patch 1" + loop + "\npatch 2 normal 0 0 -1 boundary curve -1 -4 3 2 subpatch 1\n", 1,
       "Normals of patch 2 and subpatch 1 differ too much"),
    sq("VirtualSubpatchOfPhysical",
       "patch 1" + loop + " virtual\npatch 2 normal 0 0 1 boundary curve -1 -4 3 2 subpatch 1\n", 1,
       "Virtual patch (1) cannot be subpatch of physical patch (2)"),
    sq("VirtualCurveInLoop", "curve 5 vertex 1 3 virtual\npatch 1 normal 0 0 1 boundary curve 1 4 -5\n", 1,
       "Virtual curve (5) cannot form boundary of physical patch (1)"),
    sq("FixedVertexTwice", "vertex 5 xyz 5 5 0\npatch 1" + loop + " fixed vertex 5 fixed vertex 5\n", 1,
       "Fixed vertex 5 specified more than once"),
    sq("CoincideWithVirtual", "patch 1" + loop + " virtual\npatch 2 normal 0 0 1 boundary curve -1 -4 3 2 coincide patch 1\n",
       1, "Only physical patches can be coinciding"),
};
INSTANTIATE_TEST_SUITE_P(Patch, FaceLineError, ::testing::ValuesIn(patch_cases), name_of);

const mgn_input_error_case shell_cases[] = {
    in("IdMissing", "shell\n", 0, "Missing shell id"),
    in("IdZero", "shell 0" + shell_loop + "\n", 0, "Positive shell id required"),
    in("NoBgSurface", "shell 1 boundary curve 1 4 -3 -2\n", 0, "Keyword BGSURFACE missing"),
    in("NoBoundary", "shell 1 bgsurface 1\n", 0, "Keyword BOUNDARY missing"),
    in("BgSurfaceMissing", "shell 1 bgsurface\n", 0, "Missing background surface id"),
    in("BgSurfaceZero", "shell 1 bgsurface 0\n", 0, "Positive background surface id required"),
    in("BgSurfaceUnknown", "shell 1 bgsurface 9\n", 0, "Background surface 9 does not exist"),
    in("RightSideTwice", "shell 1 bgsurface 1 boundary curve -1 -2 -3 -4 -1\n", 0,
       "Right side of boundary curve 1 of shell 1 used more than once"),
    in("RateMissing", "shell 1" + shell_loop + " rate\n", 0, "Rate specification missing"),
    in("RateNegative", "shell 1" + shell_loop + " rate -1\n", 0, "Positive or zero curvature rate required"),
    in("RateFactorMissing", "shell 1" + shell_loop + " rate 1 *\n", 0, "Rate multiplication factor missing"),
    in("SubshellMissing", "shell 1" + shell_loop + " subshell\n", 0, "Missing subshell id"),
    in("SubshellUnknown", "shell 1" + shell_loop + " subshell 4\n", 0, "Subshell 4 does not exist"),
    in("MirrorUnknown", "shell 1" + shell_loop + " mirror 4\n", 0, "Shell 4 does not exist"),
    in("NormalIsNotAShellOption", "shell 1 normal 0 0 1" + shell_loop + "\n", 0,
       "Unexpected or invalid keyword \"NORMAL\" encountered"),
    in("FixedCurveIsBoundary", "shell 1" + shell_loop + " fixed curve 2\n", 0,
       "Right side of curve 2 fixed to shell 1 already used as boundary curve"),
    in("SubshellOnAnotherSurface",
       "surface 2 curve 11 12 13 14\nshell 1 bgsurface 2 boundary curve 11 14 -13 -12\n"
       "shell 2" + shell_loop + " subshell 1\n",
       2, "Shell 2 and subshell 1 have no common background surface"),
    in("FixedVertexOffTheSurface",
       "vertex 20 xyz 3 3 1\nshell 1 bgsurface 1 boundary curve 11 14 -13 -12 fixed vertex 20\n", 1,
       "Vertex 20 of shell 1 is not close enough to surface 1"),
    in("FixedVertexOutsideTheShell",
       "vertex 20 xyz 8 8 0\nshell 1 bgsurface 1 boundary curve 11 14 -13 -12 fixed vertex 20\n", 1,
       "Vertex 20 is not inside shell 1"),
    in("FixedCurveLeavesTheShell",
       "vertex 20 xyz 3 3 0\nvertex 21 xyz 8 8 0\ncurve 20 vertex 20 21\n"
       "shell 1 bgsurface 1 boundary curve 11 14 -13 -12 fixed curve 20\n",
       3, "Curve 20 is not inside shell 1"),
    in("CoincideWithVirtualPatch",
       "patch 1 normal 0 0 1 boundary curve 11 14 -13 -12 virtual\nshell 1" + shell_loop + " coincide patch 1\n", 1,
       "Only physical shells and patches can be coinciding"),
};
INSTANTIATE_TEST_SUITE_P(Shell, FaceLineError, ::testing::ValuesIn(shell_cases), name_of);

class FaceLine : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }
  static std::string read_capturing(const std::string& text) {
    ::testing::internal::CaptureStderr();
    mgn_read_model_text(text);
    return ::testing::internal::GetCapturedStderr();
  }
};

TEST_F(FaceLine, PatchOptionsAreStored) {
  read_capturing(square + "vertex 5 xyz 5 5 0\ncurve 5 vertex 5 3\n"
                          "patch 1 normal 0 0 2 boundary curve 1 4 boundary curve -3 -2 fixed vertex 5 fixed curve 5 "
                          "size 2 * 0.5 factor 3 property 7 epsilon 0 origin 1 2 0 iso yes dir 2 0 0 bassoc yes "
                          "attract 2 curve 1 slave\n");
  const mgn_patch* p = mgn_find_patch(1);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->normal[2], 1.0);  // normalised
  EXPECT_EQ(mgn_count_items(p->left_curves), 2);
  EXPECT_EQ(mgn_count_items(p->right_curves), 2);
  EXPECT_EQ(mgn_count_items(p->fixed_vertices), 1);
  EXPECT_EQ(mgn_count_items(p->fixed_curves), 1);
  EXPECT_FLOAT_EQ(p->size, 1.0f);
  EXPECT_FLOAT_EQ(p->factor, 3.0f);
  EXPECT_EQ(p->property, 7);
  EXPECT_TRUE(p->epsilon_given);
  EXPECT_EQ(p->epsilon, 0.0);
  EXPECT_TRUE(p->origin_given);
  EXPECT_EQ(p->origin[1], 2.0);
  EXPECT_TRUE(p->iso);
  EXPECT_EQ(p->iso_direction[0], 1.0);
  EXPECT_TRUE(p->bassoc);
  EXPECT_TRUE(p->slave);
  EXPECT_NE(p->attractions, nullptr);
  // Both sides of a fixed curve are taken; the loop curves know the patch.
  EXPECT_TRUE(mgn_find_curve(5)->left_used && mgn_find_curve(5)->right_used);
  EXPECT_NE(mgn_find_item(mgn_find_curve(1)->patches, const_cast<mgn_patch*>(p)), nullptr);
  // The background surface is built in the plane: Su x Sv along NORMAL.
  ASSERT_NE(p->bg_surface, nullptr);
  double su[3], sv[3], n[3];
  for (int k = 0; k < 3; ++k) {
    su[k] = p->bg_surface->net[1]->xyz[k] - p->bg_surface->net[0]->xyz[k];
    sv[k] = p->bg_surface->net[2]->xyz[k] - p->bg_surface->net[0]->xyz[k];
  }
  n[0] = su[1] * sv[2] - su[2] * sv[1];
  n[1] = su[2] * sv[0] - su[0] * sv[2];
  n[2] = su[0] * sv[1] - su[1] * sv[0];
  EXPECT_GT(n[2], 0.0);
  EXPECT_EQ(n[0], 0.0);
  EXPECT_EQ(n[1], 0.0);
  // The iso direction is the first axis.
  EXPECT_GT(su[0], 0.0);
  EXPECT_EQ(su[1], 0.0);
}

TEST_F(FaceLine, ShellOptionsAreStored) {
  read_capturing(inner + "shell 1 bgsurface 1 boundary curve 11 14 -13 -12 size def rate 0.5 * 2 hidden "
                         "coincide surface 1\n"
                         "shell 2" + shell_loop + " subshell 1\n");
  const mgn_shell* s = mgn_find_shell(1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->bg_surface, mgn_find_surface(1));
  EXPECT_FLOAT_EQ(s->size, static_cast<float>(mgn_set.default_size));
  EXPECT_FLOAT_EQ(s->rate, static_cast<float>(0.5 * mgn_set.curvature_factor * 2.0));
  EXPECT_EQ(s->hidden, mgn_set.nodal_smoothing);
  EXPECT_NE(mgn_find_item(mgn_find_surface(1)->coinciding_shells, const_cast<mgn_shell*>(s)), nullptr);
  EXPECT_NE(mgn_find_item(s->coinciding_surfaces, mgn_find_surface(1)), nullptr);
  EXPECT_EQ(mgn_count_items(mgn_find_shell(2)->subshells), 1);
}

TEST_F(FaceLine, RequestsThatCannotBeHonouredWarn) {
  struct warning_case {
    const char* definition;
    const char* warnings;
  };
  const std::string square_loop = "normal 0 0 1 boundary curve 1 4 -3 -2 ";
  // The square with sizes at its vertices, so that a zero default size is
  // accepted.
  const std::string sized_square =
      "vertex 1 xyz 0 0 0 size 1\nvertex 2 xyz 10 0 0 size 1\nvertex 3 xyz 10 10 0 size 1\n"
      "vertex 4 xyz 0 10 0 size 1\n"
      "curve 1 vertex 1 2\ncurve 2 vertex 1 4\ncurve 3 vertex 4 3\ncurve 4 vertex 2 3\n";
  const warning_case cases[] = {
      {"patch 2 NL hole hidden property 3 output yes duplicate 1 mirror 1",
       "Warning: Keyword HIDDEN ignored for hole patch (2)\n"
       "Warning: Keyword PROPERTY ignored for hole patch (2)\n"
       "Warning: Keyword OUTPUT ignored for hole patch (2)\n"
       "Warning: Keyword DUPLICATE ignored for hole patch (2)\n"
       "Warning: Keyword MIRROR ignored for hole patch (2)\n"},
      {"patch 2 NL hidden property 3", "Warning: Keyword PROPERTY ignored for hidden patch (2)\n"},
      {"patch 2 NL hidden output yes", "Warning: Keyword HIDDEN ignored for output patch (2)\n"},
      {"patch 2 NL quad map yes size 1 iso yes", "Warning: Keyword ISO ignored for map-quad patch (2)\n"},
      {"patch 2 NL duplicate 1 mirror 1",
       "Warning: Keyword DUPLICATE ignored for patch 2 duplicating virtual patch (1)\n"
       "Warning: Keyword MIRROR ignored for patch 2 mirroring virtual patch (1)\n"},
      {"patch 2 NL size def", "Warning: Default zero mesh size specification detected at patch 2\n"},
      {"patch 2 NL factor 2", "Warning: Factor specification ignored at patch 2\n"},
      {"patch 2 NL iso yes", "Warning: Keyword ISO ignored for patch (2) with no mesh size specification\n"},
      {"patch 2 NL map yes", "Warning: Keyword MAP ignored for patch (2) not subjected to quad meshing\n"},
      {"patch 2 NL diagonal positive",
       "Warning: Keyword DIAGONAL ignored for patch (2) not subjected to quad mapping or iso quad meshing\n"},
      {"patch 2 NL quad map yes diagonal negative",
       "Warning: DIAGONAL request may be ambiguous for patch (2) without LCS specification\n"},
      {"patch 2 NL size 1 iso yes diagonal negative",
       "Warning: DIAGONAL request may be ambiguous for patch (2) without DIR specification\n"},
      {"patch 2 NL size 1 iso yes dir 1 0 0 diagonal negative", ""},
      // Mirrored and duplicated meshes of patches are not made.
      {"patch 2 NL mirror 3",
       "Warning: Keyword MIRROR ignored for patch (2): mirrored meshes of patches are not supported\n"},
      {"patch 2 NL duplicate 3",
       "Warning: Keyword DUPLICATE ignored for patch (2): duplicated meshes of patches are not supported\n"},
  };
  for (const warning_case& c : cases) {
    SCOPED_TRACE(c.definition);
    mgn_reset_model_settings();
    mgn_set.default_size = 0.0;
    std::string definition = c.definition;
    definition.replace(definition.find("NL"), 2, square_loop);
    EXPECT_EQ(read_capturing(sized_square + "patch 1 normal 0 0 -1 boundary curve -1 -4 3 2 virtual\n"
                                            "vertex 5 xyz 0 0 5 size 1\nvertex 6 xyz 1 0 5 size 1\n"
                                            "vertex 7 xyz 0 1 5 size 1\n"
                                      "curve 5 vertex 5 6\ncurve 6 vertex 6 7\ncurve 7 vertex 7 5\n"
                                      "patch 3 normal 0 0 1 boundary curve 5 6 7\n" +
                                      definition + "\n"),
              c.warnings);
  }
  const mgn_patch* p = mgn_find_patch(2);
  EXPECT_EQ(p->mirrored, nullptr);
  EXPECT_EQ(p->duplicated, nullptr);
  // The shell's own forms.
  const warning_case shell_cases[] = {
      {"shell 2 bgsurface 1 boundary curve 1 4 -3 -2 hole hidden property 3 output no",
       "Warning: Keyword HIDDEN ignored for hole shell (2)\n"
       "Warning: Keyword PROPERTY ignored for hole shell (2)\n"
       "Warning: Keyword OUTPUT ignored for hole shell (2)\n"},
      {"shell 2 bgsurface 1 boundary curve 1 4 -3 -2 quad diagonal positive",
       "Warning: Keyword DIAGONAL ignored for shell 2 not subjected to quad mapping\n"},
      {"shell 2 bgsurface 1 boundary curve 1 4 -3 -2 map yes",
       "Warning: Keyword MAP ignored for shell (2) not subjected to quad meshing\n"},
  };
  for (const warning_case& c : shell_cases) {
    SCOPED_TRACE(c.definition);
    mgn_reset_model_settings();
    EXPECT_EQ(read_capturing(inner + c.definition + "\n"), c.warnings);
  }
}

TEST_F(FaceLine, EmptyEntityIsDroppedWithAWarning) {
  // A loop of one collapsed curve holds nothing.
  const std::string text = square + "curve 5 vertex 1 1 order 2\n";
  ::testing::internal::CaptureStderr();
  mgn_read_model_text(text + "patch 1 normal 0 0 1 boundary curve 5\n");
  const std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(mgn_find_curve(5)->collapsed);
  EXPECT_EQ(err, "Warning: Empty patch 1 ignored\n");
  EXPECT_EQ(mgn_warning_count, 1);
  // Later passes skip it: it has no identifier any more.
  EXPECT_EQ(mgn_find_patch(1), nullptr);
}

}  // namespace
