// INTERFACE definitions: options, sequence rules, the checks after the line
// and the record they leave.
#include <gtest/gtest.h>

#include <string>

#include "curve.h"
#include "input.h"
#include "interface.h"
#include "message.h"
#include "model_fixture.h"
#include "surface.h"
#include "vertex.h"

namespace {

// Two squares on the same place: curves 1 to 4 with surface 1, and their
// copies 5 to 8 (on vertices 5 to 8) with surface 2.
const std::string two_squares =
    mgn_square_model +
    "vertex 5 xyz 0 0 0\nvertex 6 xyz 10 0 0\nvertex 7 xyz 10 10 0\nvertex 8 xyz 0 10 0\n"
    "curve 5 vertex 5 6\ncurve 6 vertex 5 8\ncurve 7 vertex 8 7\ncurve 8 vertex 6 7\n"
    "surface 1 curve 1 2 3 4\nsurface 2 curve 5 6 7 8\n";
constexpr long two_squares_lines = 18;

std::string on_squares(const std::string& line) { return two_squares + line; }

class InterfaceError : public ::testing::TestWithParam<mgn_input_error_case> {};

TEST_P(InterfaceError, ReportsMessageWithLineAndStatus25) {
  const mgn_input_error_case& c = GetParam();
  mgn_reset_model_settings();
  EXPECT_EXIT(mgn_read_model_text(c.text), ::testing::ExitedWithCode(25), mgn_input_error_regex(c.message, c.line));
}

constexpr long L = two_squares_lines + 1;
const mgn_input_error_case interface_cases[] = {
    {"IdMissing", "interface\n", 1, "Missing interface id"},
    {"IdZero", "interface 0 type vertex 1 2\n", 1, "Positive interface id required"},
    {"IdTwice", on_squares("interface 1 type vertex 1 5\ninterface 1 type vertex 2 6\n"), L + 1,
     "Multiple instance of interface 1 detected"},
    {"UnknownOption", on_squares("interface 1 type vertex 1 5 glue\n"), L,
     "Unexpected or invalid keyword \"GLUE\" encountered"},
    {"ValueWordAsOption", on_squares("interface 1 type vertex 1 5 no\n"), L,
     "Unexpected or invalid keyword \"NO\" encountered"},
    {"TypeWithoutKind", on_squares("interface 1 type property 2\n"), L,
     "Keyword VERTEX or CURVE or SURFACE or PATCH or SHELL missing (redundand keyword TYPE)"},
    {"TypeAtLineEnd", on_squares("interface 1 property 2 type\n"), L,
     "Keyword VERTEX or CURVE or SURFACE or PATCH or SHELL missing"},
    {"NoType", on_squares("interface 1 weak\n"), L, "Keyword TYPE missing"},
    {"CurveWithoutType", on_squares("interface 1 curve 2 3\n"), L, "Keyword CURVE not expected (keyword TYPE missing)"},
    {"ShellWithoutType", on_squares("interface 1 shell 2 3\n"), L, "Keyword SHELL not expected (keyword TYPE missing)"},
    {"SecondType", on_squares("interface 1 type vertex 1 5 type curve 1 5\n"), L,
     "Keyword \"TYPE\" not expected due to the duplicity"},
    {"FirstVertexMissing", on_squares("interface 1 type vertex\n"), L, "Missing first vertex id"},
    {"SecondCurveMissing", on_squares("interface 1 type curve 1\n"), L, "Missing second curve id"},
    {"SurfaceUnknown", on_squares("interface 1 type surface 1 9\n"), L, "Surface 9 does not exist"},
    {"PatchUnknown", on_squares("interface 1 type patch 1 2\n"), L, "Patch 1 does not exist"},
    {"ShellUnknown", on_squares("interface 1 type shell 3 2\n"), L, "Shell 3 does not exist"},
    {"PropertyMissing", on_squares("interface 1 type vertex 1 5 property\n"), L, "Property specification missing"},
    {"PropertyNegative", on_squares("interface 1 type vertex 1 5 property -2\n"), L,
     "Positive or zero property number required"},
    {"OutputMissing", on_squares("interface 1 type vertex 1 5 output\n"), L, "Output specification missing"},
    {"GroupBeforeType", on_squares("interface 1 elemgroup 1 type vertex 1 5\n"), L, "Keyword TYPE missing"},
    {"EdgeGroupMissing", on_squares("interface 1 type vertex 1 5 elemgroup\n"), L,
     "Missing interface edge elem group id"},
    {"QuadGroupMissing", on_squares("interface 1 type curve 1 5 elemgroup\n"), L,
     "Missing interface quad elem group id"},
    {"HexaGroupMissing", on_squares("interface 1 type surface 1 2 elemgroup 3\n"), L,
     "Missing interface hexa elem group id"},
    {"NodePropertyMissing", on_squares("interface 1 type vertex 1 5 nodeprop\n"), L, "Node property string missing"},
    {"ElemPropertyMissing", on_squares("interface 1 type vertex 1 5 elemprop\n"), L, "Elem property string missing"},
    {"VirtualVertex", on_squares("vertex 9 xyz 0 0 0 virtual\ninterface 1 type vertex 1 9\n"), L + 1,
     "Virtual vertex (9) cannot form physical interface (1)"},
    {"VirtualCurve", on_squares("curve 9 vertex 1 2 virtual\ninterface 1 type curve 9 1\n"), L + 1,
     "Virtual curve (9) cannot form physical interface (1)"},
    {"IdenticalVertices", on_squares("vertex 9 fixed vertex 1\ninterface 1 type vertex 1 9\n"), L + 1,
     "Identical vertices for interface (1) specification not allowed"},
    {"IdenticalCurves", on_squares("curve 9 fixed curve 1 vertex 1 2\ninterface 1 type curve 9 1\n"), L + 1,
     "Identical curves for interface (1) specification not allowed"},
    {"IdenticalSurfaces", on_squares("interface 1 type surface 2 2\n"), L,
     "Identical surfaces for interface (1) specification not allowed"},
};

INSTANTIATE_TEST_SUITE_P(Interface, InterfaceError, ::testing::ValuesIn(interface_cases),
                         [](const auto& info) { return std::string(info.param.name); });

class InterfaceRead : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }
  void TearDown() override { mgn_release_model(); }
};

TEST_F(InterfaceRead, KindEntitiesAndFlagsInOrderGiven) {
  mgn_read_model_text(on_squares(
      "interface 3 type curve 5 1 weak property 4 output no\n"
      "INTERFACE 1 Type Surface 1 2 elemgroup 7 8\n"
      "interface 2 type vertex 7 3 elemfree\n"));
  ASSERT_EQ(mgn_model.interfaces.count, 3);
  const auto list = mgn_list_objects<mgn_interface>(mgn_model.interfaces.list);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]->id, 3);  // input order
  EXPECT_EQ(list[0]->kind, MGN_CURVE);
  EXPECT_EQ(list[0]->entity[0], mgn_find_curve(5));
  EXPECT_EQ(list[0]->entity[1], mgn_find_curve(1));
  EXPECT_TRUE(list[0]->weak);
  EXPECT_EQ(list[0]->property, 4);
  EXPECT_FALSE(list[0]->output);
  EXPECT_FALSE(list[0]->output_requested);
  EXPECT_EQ(list[1]->kind, MGN_SURFACE);
  EXPECT_EQ(list[1]->entity[0], mgn_find_surface(1));
  EXPECT_TRUE(list[1]->output);
  EXPECT_FALSE(list[1]->element_free);
  EXPECT_EQ(list[2]->kind, MGN_VERTEX);
  EXPECT_EQ(list[2]->entity[0], mgn_find_vertex(7));
  EXPECT_TRUE(list[2]->element_free);
  EXPECT_EQ(mgn_find_interface(2), list[2]);
  // The element groups are dropped with the model-wide warnings.
  EXPECT_TRUE(mgn_input.properties_seen);
}

TEST_F(InterfaceRead, ElementFreeDropsPropertyWithWarningVirtualSilently) {
  mgn_read_model_text(on_squares(
      "interface 1 type curve 1 5 elemfree property 5\n"
      "interface 2 type curve 2 6 virtual elemfree property 5 output yes\n"));
  mgn_interface* free_interface = mgn_find_interface(1);
  EXPECT_EQ(free_interface->property, 0);
  EXPECT_TRUE(free_interface->element_free);
  EXPECT_EQ(mgn_warning_count, 1);
  mgn_interface* virtual_interface = mgn_find_interface(2);
  EXPECT_TRUE(virtual_interface->is_virtual);
  EXPECT_FALSE(virtual_interface->element_free);
  EXPECT_EQ(virtual_interface->property, 0);
  EXPECT_FALSE(virtual_interface->output);
  EXPECT_FALSE(virtual_interface->output_requested);
}

TEST_F(InterfaceRead, ElementFreePropertyWarningText) {
  ::testing::internal::CaptureStderr();
  mgn_read_model_text(on_squares("interface 1 type curve 1 5 elemfree property 5\n"));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Warning: Keyword PROPERTY ignored for element free interface (1)\n");
}

TEST_F(InterfaceRead, VirtualInterfaceMayJoinVirtualOrIdenticalEntities) {
  mgn_read_model_text(on_squares("vertex 9 xyz 0 0 0 virtual\ninterface 1 type vertex 9 9 virtual\n"));
  EXPECT_EQ(mgn_find_interface(1)->entity[0], mgn_find_vertex(9));
}

}  // namespace
