// Messages, warnings and the fatal error routines.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include <unistd.h>

#include "message.h"
#include "support.h"
#include "records.h"

namespace {

const char* kTime = "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]";

std::string report(const std::string& error_line, const std::string& place, const std::string& message) {
  std::string text = std::string("\n\n") + kTime + " --> " + error_line + "\n";
  if (!place.empty()) text += place + "\n";
  return text + message + "\n\n$";
}

// The report texts are checked exactly, one per error kind.
TEST(FatalErrorReport, ExactTextsOfEveryKind) {
  struct Case {
    std::function<void()> raise;
    int status;
    std::string expected;
  };
  const Case cases[] = {
      {[] { mgn_option_error("Missing file name", 'o'); }, 5, report("Option -o error", "", "Missing file name")},
      {[] { mgn_manipulation_error("Unexpected situation", "mgn_x", "src/list", 12); }, 10,
       report("Manipulation error", "\\(routine mgn_x, file src/list, line 12\\)", "Unexpected situation")},
      {[] { mgn_allocation_error("Memory allocation failed", "mgn_y", "src/list", 3); }, 15,
       report("Allocation error", "\\(routine mgn_y, file src/list, line 3\\)", "Memory allocation failed")},
      {[] { mgn_file_manipulation_error("Input file a opening error", "mgn_z", "src/input", 4); }, 20,
       report("File manipulation error", "\\(routine mgn_z, file src/input, line 4\\)", "Input file a opening error")},
      {[] { mgn_input_error("Coordinate z missing", "mgn_input_vertex", "src/vertex", 5, "m.mgn", 7); }, 25,
       report("Input error \\(file m.mgn, line 7\\)", "\\(routine mgn_input_vertex, file src/vertex, line 5\\)",
              "Coordinate z missing")},
      {[] { mgn_output_error("Writing error", "mgn_w", "src/output", 6, "m.msh", 9); }, 30,
       report("Output error \\(file m.msh, line 9\\)", "\\(routine mgn_w, file src/output, line 6\\)", "Writing error")},
      {[] { mgn_binary_input_error("Reading error", "mgn_b", "src/input7", 8, "m.bin"); }, 35,
       report("Binary input error \\(file m.bin\\)", "\\(routine mgn_b, file src/input7, line 8\\)", "Reading error")},
      {[] { mgn_binary_output_error("Writing error", "mgn_c", "src/input7", 9, "m.bin"); }, 40,
       report("Binary output error \\(file m.bin\\)", "\\(routine mgn_c, file src/input7, line 9\\)", "Writing error")},
  };
  for (const Case& c : cases) EXPECT_EXIT(c.raise(), ::testing::ExitedWithCode(c.status), c.expected);
}

TEST(FatalErrorReport, ProgramTerminatedEndsStandardOutput) {
  EXPECT_EXIT(
      {
        // Standard output joins standard error so the death test sees both.
        std::fflush(stdout);
        dup2(2, 1);
        mgn_manipulation_error("Unexpected situation", "r", "src/m", 1);
      },
      ::testing::ExitedWithCode(10), "Unexpected situation\n\nProgram terminated       " + std::string(kTime) + "\n\n$");
}

TEST(FatalErrorReport, MessagesLongerThanAnyBufferArePrintedWhole) {
  const std::string message(5000, 'x');
  EXPECT_EXIT(mgn_manipulation_error(message + "END", "r", "src/m", 1), ::testing::ExitedWithCode(10),
              "x{5000}END\n");
}

// A fatal error while the first one writes the partial mesh ends with the
// first status and one short line about the second.
TEST(FatalErrorReport, SecondErrorDuringPartialOutputKeepsFirstStatus) {
  EXPECT_EXIT(
      {
        mgn_set.output_file_name = "partial.msh";
        mgn_terminate_hook.write_partial_mesh = [] () -> bool {
          mgn_output_error("Writing error", "mgn_store_mesh_on_file", "src/output", 1, "partial.msh", 3);
        };
        mgn_manipulation_error("Unexpected situation", "r", "src/m", 1);
      },
      ::testing::ExitedWithCode(10), "Unexpected situation\n\nTemporary output failed due to an additional error \\(30\\)\n\n$");
}

TEST(FatalErrorReport, PartialOutputOnlyForManipulationAndAllocationWithOutputFile) {
  struct Case {
    std::function<void()> raise;
    bool output_named;
    int status;
    bool written;
  };
  const Case cases[] = {
      {[] { mgn_manipulation_error("m", "r", "src/m", 1); }, true, 10, true},
      {[] { mgn_allocation_error("m", "r", "src/m", 1); }, true, 15, true},
      {[] { mgn_manipulation_error("m", "r", "src/m", 1); }, false, 10, false},
      {[] { mgn_option_error("m", 'x'); }, true, 5, false},
      {[] { mgn_input_error("m", "r", "src/m", 1, "f", 2); }, true, 25, false},
  };
  static std::string marker;
  for (const Case& c : cases) {
    marker = mgn_temp_dir() + "/written";
    EXPECT_EXIT(
        {
          if (c.output_named) mgn_set.output_file_name = "out.msh";
          mgn_terminate_hook.write_partial_mesh = [] {
            mgn_write_file(marker, "x");
            return true;
          };
          c.raise();
        },
        ::testing::ExitedWithCode(c.status), "");
    EXPECT_EQ(!mgn_read_file(marker).empty(), c.written) << "status " << c.status;
  }
}

TEST(Printing, QuietDropsStandardErrorAndSuppressedWarningsStillCount) {
  EXPECT_EXIT(
      {
        mgn_set.quiet = true;
        mgn_print(stderr, "hidden text\n");
        mgn_set.quiet = false;
        mgn_set.warnings_suppressed = true;
        long before = mgn_warning_count;
        mgn_warning("Warning: suppressed\n");
        mgn_print_warning(stderr, "Warning: also suppressed\n");
        mgn_set.warnings_suppressed = false;
        mgn_warning("Warning: shown %d\n", 1);
        std::fprintf(stderr, "count %ld\n", mgn_warning_count - before);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^Warning: shown 1\ncount 2\n$");
}

// Warnings that passes could repeat: a kind of scope warning is given once
// per scope (the work on one entity), a once-per-stage text once per stage;
// what is dropped is not counted either.
TEST(Printing, RepeatableWarningsAreGivenOncePerScopeAndStage) {
  EXPECT_EXIT(
      {
        const long before = mgn_warning_count;
        mgn_open_warning_stage();
        mgn_open_warning_scope();
        for (int i = 0; i < 3; ++i) {
          if (mgn_first_in_warning_scope(MGN_WARNING_OCTREE_OVERFLOW)) mgn_warning("Warning: scope %d\n", i);
          mgn_warning_once("Warning: entity %d\n", 7);
        }
        mgn_warning_once("Warning: entity %d\n", 8);
        mgn_open_warning_scope();
        if (mgn_given_in_warning_scope(MGN_WARNING_OCTREE_OVERFLOW)) std::fprintf(stderr, "still given\n");
        if (mgn_first_in_warning_scope(MGN_WARNING_OCTREE_OVERFLOW)) mgn_warning("Warning: scope %d\n", 3);
        mgn_warning_once("Warning: entity %d\n", 7);
        mgn_open_warning_stage();
        mgn_warning_once("Warning: entity %d\n", 7);
        std::fprintf(stderr, "count %ld\n", mgn_warning_count - before);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0),
      "^Warning: scope 0\nWarning: entity 7\nWarning: entity 8\nWarning: scope 3\nWarning: entity 7\ncount 5\n$");
}

TEST(Printing, ProgressMessagePadsTextTo24Columns) {
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(2, 1);
        mgn_print_message(stdout, "Octree built");
        std::fflush(stdout);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), std::string("^Octree built             ") + kTime + "\n$");
}

TEST(Printing, ModuleNameOfSourcePath) {
  EXPECT_EQ(mgn_module_name("/work/main/src/curve.cpp"), "src/curve");
  EXPECT_EQ(mgn_module_name("src/octree1.cpp"), "src/octree1");
}

TEST(Printing, GetTimeFormatsTimeOfDay) {
  char buffer[16];
  double now = mgn_get_time(buffer);
  EXPECT_GT(now, 1.0e9);
  EXPECT_EQ(std::string(buffer).size(), 8u);
  EXPECT_EQ(buffer[2], ':');
  EXPECT_EQ(buffer[5], ':');
}

}  // namespace
