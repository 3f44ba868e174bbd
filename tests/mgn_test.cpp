// The run sequence of the executable: banner, stage messages, log file and
// quiet handling, file argument checks and the closing statistics.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support.h"

namespace {

const std::string kTime = "[0-9]{2}:[0-9]{2}:[0-9]{2}";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(RunSequence, EmptyModelEndsWithManipulationError) {
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/empty.mgn", "# nothing but a comment\n\n");
  mgn_run_result r = mgn_run_program({"-i", "empty.mgn"}, dir);
  EXPECT_EQ(r.status, 10);
  EXPECT_TRUE(std::regex_search(r.out, std::regex("^\n.*[Mm]gn.*\n.*2005-[0-9]{4}\n={33}\n\nProgram started          " + kTime + "\n")))
      << r.out;
  EXPECT_TRUE(contains(r.out, "Options analyzed"));
  EXPECT_TRUE(contains(r.out, "Input data analyzed"));
  EXPECT_TRUE(std::regex_search(r.out, std::regex("Program terminated       " + kTime + "\n\n$"))) << r.out;
  EXPECT_TRUE(contains(r.err, "--> Manipulation error\n(routine mgn_run_meshing, file src/mgn, line "));
  EXPECT_TRUE(contains(r.err, "There is no entity in the model\n\n"));
}

// Errors in the log, binary file and file-name arguments are option errors
// reported after the banner, without a place line.
TEST(RunSequence, FileArgumentErrors) {
  struct Case {
    std::vector<std::string> args;
    char option;
    std::string message;
  };
  const std::string long_name(513, 'n');
  const Case cases[] = {
      {{"-g", "a.log", "-g", "b.log"}, 'g', "Multiple log file name specification"},
      {{"-u", "1", "-g"}, 'g', "Missing file name"},
      {{"-g", long_name}, 'g', "Too long file name"},
      {{"-b", "a.bin", "-b", "b.bin"}, 'b', "Multiple binary file name specification"},
      {{"-i", "m.mgn", "-b"}, 'b', "Missing file name"},
      {{"-i", "m.mgn", "-b", long_name}, 'b', "Too long file name"},
  };
  for (const Case& c : cases) {
    mgn_run_result r = mgn_run_program(c.args);
    EXPECT_EQ(r.status, 5) << c.message;
    EXPECT_TRUE(contains(r.out, "Program started")) << c.message;
    const std::string expected = std::string("--> Option -") + c.option + " error\n" + c.message + "\n\n";
    EXPECT_TRUE(contains(r.err, expected)) << r.err;
    EXPECT_FALSE(contains(r.err, "(routine")) << r.err;
  }
}

TEST(RunSequence, UnopenableLogFileIsAFileManipulationError) {
  mgn_run_result r = mgn_run_program({"-g", "/nonexistent-dir/run.log", "-i", "m.mgn"});
  EXPECT_EQ(r.status, 20);
  EXPECT_TRUE(contains(r.err, "File manipulation error")) << r.err;
  EXPECT_TRUE(contains(r.err, "/nonexistent-dir/run.log")) << r.err;
}

TEST(RunSequence, QuietRunWithoutLogWritesNothingToStandardError) {
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/empty.mgn", "\n");
  mgn_run_result r = mgn_run_program({"-Q", "-i", "empty.mgn", "-1"}, dir);
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(contains(r.out, "Program terminated"));
}

// With a log file, the log holds the copy of standard output and the
// warnings and errors, in the order they were produced.
TEST(RunSequence, LogFileHoldsOutputWarningsAndErrorsInOrder) {
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/empty.mgn", "\n");
  mgn_run_result r = mgn_run_program({"-g", "run.log", "-i", "empty.mgn", "-abc"}, dir);
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.err, "");
  const std::string log = mgn_read_file(dir + "/run.log");
  const std::size_t started = log.find("Program started");
  const std::size_t warning = log.find("Warning: Unrecognized option -abc (input ignored)");
  const std::size_t analyzed = log.find("Options analyzed");
  const std::size_t error = log.find("There is no entity in the model");
  const std::size_t terminated = log.find("Program terminated");
  ASSERT_NE(started, std::string::npos) << log;
  ASSERT_NE(warning, std::string::npos) << log;
  ASSERT_NE(error, std::string::npos) << log;
  ASSERT_NE(terminated, std::string::npos) << log;
  EXPECT_LT(started, warning);
  EXPECT_LT(warning, analyzed);
  EXPECT_LT(analyzed, error);
  EXPECT_LT(error, terminated);
}

TEST(RunSequence, QuietWithLogKeepsOutputCopyButNoWarnings) {
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/empty.mgn", "\n");
  mgn_run_result r = mgn_run_program({"-Q", "-g", "run.log", "-i", "empty.mgn", "-abc"}, dir);
  EXPECT_EQ(r.status, 10);
  const std::string log = mgn_read_file(dir + "/run.log");
  EXPECT_TRUE(contains(log, "Program started")) << log;
  EXPECT_TRUE(contains(log, "Program terminated")) << log;
  EXPECT_FALSE(contains(log, "Warning")) << log;
  EXPECT_FALSE(contains(log, "There is no entity")) << log;
}

}  // namespace
