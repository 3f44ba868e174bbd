// The model file reader: lines, tokens, comments, continuation lines,
// conversions, keywords, the top-level loop, the entity store and the steps
// after reading.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "curve.h"
#include "input.h"
#include "message.h"
#include "model_fixture.h"
#include "vertex.h"

namespace {

using namespace std::string_literals;

class InputError : public ::testing::TestWithParam<mgn_input_error_case> {};

TEST_P(InputError, ReportsMessageWithLineAndStatus25) {
  const mgn_input_error_case& c = GetParam();
  mgn_reset_model_settings();
  EXPECT_EXIT(mgn_read_model_text(c.text), ::testing::ExitedWithCode(25), mgn_input_error_regex(c.message, c.line));
}

const std::string digits400(400, '9');

const mgn_input_error_case frame_cases[] = {
    {"UnknownKeywordOnItsLine", "# a model\n\nPOINT 1\n", 3, "Unexpected or invalid keyword \"POINT\" encountered"},
    {"UnknownKeywordShownUpperCase", "vertex 1 xyz 0 0 0\npoint 2\n", 2,
     "Unexpected or invalid keyword \"POINT\" encountered"},
    {"IntegerWithLetters", "vertex 12a xyz 0 0 0\n", 1, "Integer number expected (12a - read)"},
    {"IntegerWithPoint", "vertex 1.5 xyz 0 0 0\n", 1, "Integer number expected (1.5 - read)"},
    {"IntegerSignOnly", "vertex - xyz 0 0 0\n", 1, "Integer number expected (- - read)"},
    {"FloatWord", "vertex 1 xyz 0 0 abc\n", 1, "Floating point number expected (abc - read)"},
    {"FloatInfinityWord", "vertex 1 xyz 0 0 inf\n", 1, "Floating point number expected (inf - read)"},
    {"FloatNanWord", "vertex 1 xyz 0 nan 0\n", 1, "Floating point number expected (nan - read)"},
    {"FloatHexadecimal", "vertex 1 xyz 0x10 0 0\n", 1, "Floating point number expected (0x10 - read)"},
    {"FloatBeyondRange", "vertex 1 xyz 1e999 0 0\n", 1, "Floating point number expected (1e999 - read)"},
    {"Float400Digits", "vertex 1 xyz " + digits400 + " 0 0\n", 1,
     "Floating point number expected (" + digits400 + " - read)"},
    {"FloatExponentWithoutDigits", "vertex 1 xyz 1e 0 0\n", 1, "Floating point number expected (1e - read)"},
    {"CoordinateMissing", "vertex 1 xyz 0 0\n", 1, "Coordinate z missing"},
    {"CommentHidesRequiredValue", "vertex 1 xyz 1.0 2 #3\n", 1, "Coordinate z missing"},
    {"ContinuationAtEndOfFile", "vertex 1 xyz 0 0 \\\n", 2, "Unexpected end of input file encountered"},
    {"ContinuationOverCommentsToEnd", "vertex 1 xyz 0 0 \\\n# more\n\n   \n", 5,
     "Unexpected end of input file encountered"},
    {"BackslashGluedToNumberIsNoContinuation", "vertex 1 xyz 0 0 0\\\n1\n", 1,
     "Floating point number expected (0\\ - read)"},
    {"ContinuationLinesAreCounted", "vertex 1 xyz 0 0 \\\n0\nvertex 1 xyz 0 0 0\n", 3,
     "Multiple instance of vertex 1 detected"},
    {"QuotedStringWithoutClosingQuote", "vertex 1 xyz 0 0 0 nodeprop 'abc\n", 1, "Quoted string expected (abc - read)"},
    {"QuotedStringWithoutQuotes", "vertex 1 xyz 0 0 0 nodeprop abc\n", 1, "Quoted string expected (abc - read)"},
    {"QuotedStringDoesNotSpanLines", "vertex 1 xyz 0 0 0 nodeprop 'a \\\nb'\n", 1,
     "Quoted string expected (a \\ - read)"},
    {"QuotedStringMissing", "vertex 1 xyz 0 0 0 nodeprop\n", 1, "Node property string missing"},
    {"SecondSizeInOneDefinition", "vertex 1 xyz 0 0 0 size 1 SIZE 2\n", 1,
     "Keyword \"SIZE\" not expected due to the duplicity"},
    {"SecondViewMeshLine", "VIEW_MESH a b\nvertex 1 xyz 0 0 0\nview_mesh\n", 3,
     "Keyword \"VIEW_MESH\" not expected due to the duplicity"},
    {"NulByteInLine", "vertex 1 xyz 0 0 0\nvertex 2 xyz 0\0 0 0\n"s, 2, "Reading error"},
    {"NulByteInComment", "# a\0b\n"s, 1, "Reading error"},
    {"ErrorAfterLineWithoutNewline", "vertex 1 xyz 0 0", 1, "Coordinate z missing"},
};

INSTANTIATE_TEST_SUITE_P(Frame, InputError, ::testing::ValuesIn(frame_cases),
                         [](const auto& info) { return std::string(info.param.name); });

class InputRead : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }
  void TearDown() override { mgn_release_model(); }
};

const double* position(long id) {
  mgn_vertex* v = mgn_find_vertex(id);
  EXPECT_NE(v, nullptr) << "vertex " << id;
  static const double none[3] = {-999, -999, -999};
  return v != nullptr ? v->ctrl_point->xyz : none;
}

TEST_F(InputRead, OnlyCommentsAndEmptyLinesGiveAnEmptyModel) {
  mgn_read_model_text("# nothing here\n\n   \t\n  # indented comment\r\n");
  EXPECT_EQ(mgn_model.vertices.count, 0);
  EXPECT_EQ(mgn_model.vertices.list, nullptr);
  EXPECT_FALSE(mgn_run.model_not_yet_read);
}

TEST_F(InputRead, KeywordsAreCaseInsensitive) {
  mgn_read_model_text(
      "vertex 1 xyz 1 2 3 size 2 property 4\n"
      "VERTEX 2 XYZ 1 2 3 SIZE 2 PROPERTY 4\n"
      "Vertex 3 Xyz 1 2 3 sIZE 2 Property 4\n");
  for (long id : {1, 2, 3}) {
    const mgn_vertex* v = mgn_find_vertex(id);
    ASSERT_NE(v, nullptr);
    EXPECT_DOUBLE_EQ(v->ctrl_point->xyz[2], 3.0);
    EXPECT_FLOAT_EQ(v->ctrl_point->size, 2.0f);
    EXPECT_EQ(v->property, 4);
  }
}

TEST_F(InputRead, ContinuationSkipsRestOfLineAndCommentLines) {
  mgn_read_model_text(
      "vertex 1 xyz 0 0 \\ this is dropped\n"
      "# a comment between\n"
      "\n"
      "   0 size 3   # and a comment at the end\n"
      "vertex 2 xyz 1 1 1\r\n");
  EXPECT_DOUBLE_EQ(position(1)[2], 0.0);
  EXPECT_FLOAT_EQ(mgn_find_vertex(1)->ctrl_point->size, 3.0f);
  EXPECT_DOUBLE_EQ(position(2)[0], 1.0);
  EXPECT_EQ(mgn_model.vertices.count, 2);
}

TEST_F(InputRead, CommentAfterTheLastValue) {
  mgn_read_model_text("vertex 1 xyz 1.0 2 3e0 # the third number is read\n");
  EXPECT_DOUBLE_EQ(position(1)[0], 1.0);
  EXPECT_DOUBLE_EQ(position(1)[1], 2.0);
  EXPECT_DOUBLE_EQ(position(1)[2], 3.0);
}

TEST_F(InputRead, LinesAfterEofAreNeverRead) {
  mgn_read_model_text("vertex 1 xyz 0 0 0\neof anything\nthis is ( not a model \\\n\0\n"s);
  EXPECT_EQ(mgn_model.vertices.count, 1);
}

TEST_F(InputRead, SingleViewLinesAreSkipped) {
  mgn_read_model_text("view_setup 1 2 'x' \\\n 3\nVIEW_MODEL\nview_mesh\nVIEW_ANIM a\nvertex 1 xyz 0 0 0\n");
  EXPECT_EQ(mgn_model.vertices.count, 1);
}

TEST_F(InputRead, PhysicalLinesOfAnyLength) {
  std::string line = "vertex 1" + std::string(1000000, ' ') + "xyz 1 2 3";
  mgn_read_model_text(line + "\nvertex 2 xyz 4 5 6\n");
  EXPECT_DOUBLE_EQ(position(1)[2], 3.0);
  EXPECT_DOUBLE_EQ(position(2)[2], 6.0);
}

TEST_F(InputRead, IntegerBeyondRangeIsClamped) {
  mgn_read_model_text("vertex " + digits400 + " xyz 0 0 0\n");
  EXPECT_NE(mgn_find_vertex(2147483647), nullptr);
}

TEST_F(InputRead, ModelListsHoldInputOrder) {
  mgn_read_model_text("vertex 5 xyz 0 0 0\nvertex 2 xyz 1 0 0\nvertex 9 xyz 2 0 0\n");
  std::vector<long> ids;
  for (mgn_vertex* v : mgn_list_objects<mgn_vertex>(mgn_model.vertices.list)) ids.push_back(v->id);
  EXPECT_EQ(ids, (std::vector<long>{5, 2, 9}));
  EXPECT_EQ(mgn_model.vertices.count, 3);
}

TEST_F(InputRead, HashBucketsShareByIdentifierModulo) {
  mgn_set.hash_table_size = 7;
  mgn_read_model_text("vertex 1 xyz 0 0 0\nvertex 8 xyz 1 0 0\nvertex 15 xyz 2 0 0\nvertex 3 xyz 3 0 0\n");
  ASSERT_EQ(mgn_model.vertices.bucket_count, 7);
  EXPECT_EQ(mgn_count_items(mgn_model.vertices.buckets[0]), 3);
  EXPECT_EQ(mgn_count_items(mgn_model.vertices.buckets[2]), 1);
  for (long id : {1, 8, 15, 3}) EXPECT_EQ(mgn_find_vertex(id)->id, id);
  EXPECT_EQ(mgn_find_vertex(22), nullptr);
}

// The hash table size is the initial bucket count: the table doubles when
// there are more than two entities per bucket, so that a lookup stays short
// however many entities are read (-T 1 included: one bucket to start with).
TEST_F(InputRead, HashTableGrowsWithTheEntitiesRead) {
  for (long initial : {1L, 7L}) {
    SCOPED_TRACE(initial);
    mgn_set.hash_table_size = initial;
    std::string text;
    for (long id = 1000; id >= 1; id -= 3) text += "vertex " + std::to_string(id) + " xyz 0 0 0\n";
    mgn_read_model_text(text);
    const long count = mgn_model.vertices.count;
    ASSERT_EQ(count, 334);
    EXPECT_GE(2 * mgn_model.vertices.bucket_count, count);
    long entries = 0, longest = 0;
    for (long b = 0; b < mgn_model.vertices.bucket_count; ++b) {
      for (mgn_vertex* v : mgn_list_objects<mgn_vertex>(mgn_model.vertices.buckets[b]))
        EXPECT_EQ((v->id - 1) % mgn_model.vertices.bucket_count, b);
      const long n = mgn_count_items(mgn_model.vertices.buckets[b]);
      entries += n;
      longest = std::max(longest, n);
    }
    EXPECT_EQ(entries, count);
    EXPECT_LE(longest, 4);
    for (long id = 1000; id >= 1; id -= 3) EXPECT_EQ(mgn_find_vertex(id)->id, id);
    EXPECT_EQ(mgn_find_vertex(2), nullptr);
    // The model list keeps the input order.
    EXPECT_EQ(static_cast<mgn_vertex*>(mgn_model.vertices.list->object)->id, 1000);
  }
}

TEST_F(InputRead, LookupOfZeroOrNegativeFindsNothing) {
  mgn_read_model_text("vertex 1 xyz 0 0 0\n");
  EXPECT_EQ(mgn_find_vertex(0), nullptr);
  EXPECT_EQ(mgn_find_vertex(-1), nullptr);
  EXPECT_EQ(mgn_find_curve(1), nullptr);
}

TEST_F(InputRead, PreallocatedIdentifiers) {
  mgn_set.entity_counts[0] = 10;
  mgn_read_model_text("vertex 10 xyz 0 0 0\nvertex 3 xyz 1 0 0\n");
  EXPECT_EQ(mgn_model.vertices.slot_count, 10);
  EXPECT_EQ(mgn_find_vertex(10)->id, 10);
  EXPECT_EQ(mgn_find_vertex(3)->id, 3);
  EXPECT_EQ(mgn_find_vertex(11), nullptr);
  EXPECT_EQ(mgn_find_vertex(4), nullptr);
}

TEST_F(InputRead, IdentifierAbovePreallocatedCountIsFatal) {
  mgn_set.entity_counts[0] = 10;
  EXPECT_EXIT(mgn_read_model_text("vertex 10 xyz 0 0 0\nvertex 11 xyz 1 0 0\n"), ::testing::ExitedWithCode(10),
              "Manipulation error\n[^\n]*\nVertex with too high identification number \\(11\\) encountered\n");
  mgn_set.entity_counts = {0, 2, 0, 0, 0, 0, 0};
  EXPECT_EXIT(mgn_read_model_text("vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\ncurve 3 vertex 1 2\n"),
              ::testing::ExitedWithCode(10), "Curve with too high identification number \\(3\\) encountered\n");
}

TEST_F(InputRead, LongUnknownKeywordIsReported) {
  EXPECT_EXIT(mgn_read_model_text(std::string(1000000, 'x') + " 1\n"), ::testing::ExitedWithCode(25),
              "Unexpected or invalid keyword \"X+\" encountered\n");
}

TEST_F(InputRead, FileErrors) {
  mgn_set.input_file_name.clear();
  EXPECT_EXIT(mgn_build_model_from_file(), ::testing::ExitedWithCode(20), "Input file name missing\n");
  mgn_set.input_file_name = mgn_temp_dir() + "/absent.mgn";
  EXPECT_EXIT(mgn_build_model_from_file(), ::testing::ExitedWithCode(20),
              "Input file " + mgn_regex_escape(mgn_set.input_file_name) + " opening error\n");
  // A directory opens but cannot be read.
  mgn_set.input_file_name = mgn_temp_dir();
  EXPECT_EXIT(mgn_build_model_from_file(), ::testing::ExitedWithCode(25), mgn_input_error_regex("Reading error", 1));
}

// Token functions on a file opened by the reader.
class InputTokens : public InputRead {
 protected:
  void open(const std::string& text) { mgn_open_input_file(mgn_write_model(text)); }
};

TEST_F(InputTokens, QuotedStrings) {
  open("x 'a   b' '' '#c\\' 'd''e' 'f\n");
  ASSERT_STREQ(mgn_get_first_token(nullptr), "x");
  EXPECT_EQ(mgn_get_next_string("m", '\'', true), "a b");
  EXPECT_EQ(mgn_get_next_string("m", '\'', true), "");
  EXPECT_EQ(mgn_get_next_string("m", '\'', true), "#c\\");
  EXPECT_EQ(mgn_get_next_string("m", '\'', true), "d''e");
  EXPECT_EXIT(mgn_get_next_string("m", '\'', true), ::testing::ExitedWithCode(25),
              mgn_input_error_regex("Quoted string expected (f - read)", 1));
}

TEST_F(InputTokens, OptionalStringIsLeftAlone) {
  open("x abc\n");
  mgn_get_first_token(nullptr);
  EXPECT_FALSE(mgn_get_string_from_token(mgn_get_next_token(nullptr), '\'', false).has_value());
}

TEST_F(InputTokens, LogicalLinesAndLineNumbers) {
  open("\n# c\na b \\ dropped\n\n# c\n c # d\ne\n");
  EXPECT_STREQ(mgn_get_first_token(nullptr), "a");
  EXPECT_EQ(mgn_input.line_number, 3);
  EXPECT_STREQ(mgn_get_next_token(nullptr), "b");
  EXPECT_STREQ(mgn_get_next_token(nullptr), "c");
  EXPECT_EQ(mgn_input.line_number, 6);
  EXPECT_EQ(mgn_get_next_token(nullptr), nullptr);
  EXPECT_STREQ(mgn_get_first_token(nullptr), "e");
  EXPECT_EQ(mgn_get_first_token(nullptr), nullptr);
  EXPECT_EQ(mgn_input.line_number, 8);
}

TEST_F(InputTokens, Conversions) {
  open("x\n");
  EXPECT_EQ(mgn_get_int_from_token("+17"), 17);
  EXPECT_EQ(mgn_get_int_from_token("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(mgn_get_int_from_token("-99999999999"), -2147483647 - 1);
  EXPECT_EQ(mgn_get_int_from_token("2147483648"), 2147483647);
  EXPECT_DOUBLE_EQ(mgn_get_fpn_from_token("-.5e+1"), -5.0);
  EXPECT_DOUBLE_EQ(mgn_get_fpn_from_token("3."), 3.0);
  EXPECT_DOUBLE_EQ(mgn_get_fpn_from_token("1e-400"), 0.0);
  EXPECT_TRUE(mgn_check_fpn_token("7"));
  EXPECT_FALSE(mgn_check_fpn_token("."));
  EXPECT_FALSE(mgn_check_fpn_token("1e5x"));
}

TEST_F(InputTokens, KeywordLookupTurnsTokenToUpperCase) {
  const char* const table[] = {"ALPHA", "BETA"};
  char token[] = "bEtA";
  EXPECT_EQ(mgn_get_keyword_index(token, table, 2), 1);
  EXPECT_STREQ(token, "BETA");
  char other[] = "gamma";
  EXPECT_EQ(mgn_get_keyword_index(other, table, 2), 2);
}

// Warnings and setting changes once the model is read.
TEST_F(InputRead, PropertiesAndGroupsWarnTwice) {
  ::testing::internal::CaptureStderr();
  mgn_read_model_text("vertex 1 xyz 0 0 0 nodeprop 'p'\nvertex 2 xyz 1 0 0\ncurve 1 vertex 1 2 elemgroup 3\n");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(mgn_warning_count, 2);
  EXPECT_EQ(err,
            "Warning: Node and elem properties not supported in this version\n"
            "Warning: Element groups not supported in this version\n");
}

TEST_F(InputRead, SwappedCurveDropsUnsupportedOutputs) {
  mgn_set.output_spec = 1 | 2 | 4 | 8;
  mgn_set.boundary_conforming = true;
  ::testing::internal::CaptureStderr();
  mgn_read_model_text("vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\ncurve 1 vertex 1 2 swap yes\n");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(mgn_set.output_spec, 8);
  EXPECT_FALSE(mgn_set.boundary_conforming);
  EXPECT_EQ(mgn_warning_count, 5);
  EXPECT_EQ(err,
            "WARNING: Classification of nodes and elements to model entities\n"
            "         related to curve swapping may be incorrect !!!\n"
            "Warning: Boundary conforming elements not supported\n"
            "         when curve swapping or smearing is applied\n"
            "Warning: Node parameters output not supported\n"
            "         when curve swapping or smearing is applied\n"
            "Warning: Node tangent output not supported\n"
            "         when curve swapping or smearing is applied\n"
            "Warning: Node normal output not supported\n"
            "         when curve swapping or smearing is applied\n");
}

TEST_F(InputRead, MasterCurveInQuadraticMesh) {
  mgn_set.element_degree = 2;
  mgn_set.output_spec = 2 | 4;
  ::testing::internal::CaptureStderr();
  mgn_read_model_text("vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\ncurve 1 vertex 1 2 master\n");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(mgn_set.output_spec, 0);
  EXPECT_EQ(mgn_warning_count, 2);
  EXPECT_EQ(err,
            "Warning: Node tangent output not supported\n"
            "         for quadratic meshes with master or slave curves\n"
            "Warning: Node normal output not supported\n"
            "         for quadratic meshes with master or slave curves\n");
}

TEST_F(InputRead, HiddenCurveInQuadraticMesh) {
  mgn_set.element_degree = 2;
  mgn_set.output_spec = 1 | 4;
  ::testing::internal::CaptureStderr();
  mgn_read_model_text("vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\ncurve 1 vertex 1 2 hidden\n");
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(mgn_set.output_spec, 4);
  EXPECT_EQ(mgn_warning_count, 1);
  EXPECT_EQ(err,
            "Warning: Node parameters output not supported\n"
            "         for quadratic meshes with hidden entities\n");
}

TEST_F(InputRead, LinearMeshKeepsOutputsOfHiddenAndMasterCurves) {
  mgn_set.output_spec = 7;
  mgn_read_model_text("vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\ncurve 1 vertex 1 2 hidden\ncurve 2 vertex 1 2 slave\n");
  EXPECT_EQ(mgn_set.output_spec, 7);
  EXPECT_EQ(mgn_warning_count, 0);
}

TEST_F(InputRead, ReleaseEmptiesTheModel) {
  mgn_set.hash_table_size = 3;
  mgn_set.entity_counts[1] = 5;
  mgn_read_model_text("vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\ncurve 1 vertex 1 2\n");
  mgn_release_model();
  EXPECT_EQ(mgn_model.curves.count, 0);
  EXPECT_EQ(mgn_model.curves.slots, nullptr);
  EXPECT_EQ(mgn_find_vertex(1), nullptr);
  // A second model reads into a clean store.
  mgn_read_model_text("vertex 1 xyz 5 0 0\n");
  EXPECT_DOUBLE_EQ(position(1)[0], 5.0);
}

}  // namespace

namespace {

using namespace std::string_literals;

// The place line names the reading routine that met the error.
TEST(InputPlace, ReportNamesTheReadingRoutine) {
  mgn_reset_model_settings();
  EXPECT_EXIT(mgn_read_model_text("POINT 1\n"), ::testing::ExitedWithCode(25),
              "\n\\(routine mgn_build_model_from_file, file src/input, line [0-9]+\\)\n");
  EXPECT_EXIT(mgn_read_model_text("vertex 1 xyz 0 0\n"), ::testing::ExitedWithCode(25),
              "\n\\(routine mgn_get_next_token, file src/input, line [0-9]+\\)\nCoordinate z missing\n");
  EXPECT_EXIT(mgn_read_model_text("vertex 1 xyz 0 0 0\0\n"s), ::testing::ExitedWithCode(25),
              "\n\\(routine mgn_get_first_token, file src/input, line [0-9]+\\)\nReading error\n");
  EXPECT_EXIT(mgn_read_model_text("vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\ncurve 1 vertex 1 2 swap no maybe\n"),
              ::testing::ExitedWithCode(25), "\n\\(routine mgn_input_curve, file src/curve, line [0-9]+\\)\n");
}

}  // namespace
