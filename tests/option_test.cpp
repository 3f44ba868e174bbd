// Command line analysis: parameter checks, consistency rules, warnings, the
// help-only exit and the informational texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "message.h"
#include "option.h"
#include "records.h"
#include "support.h"

namespace {

// Runs the analysis in this process on a fresh settings record; model_read
// tells whether the model was restored from a binary file beforehand.
void run_analysis(const std::vector<std::string>& args, bool model_read = false) {
  mgn_run.model_not_yet_read = true;
  mgn_init_options();
  mgn_run.model_not_yet_read = !model_read;
  mgn_warning_count = 0;
  std::vector<std::string> storage = {"mgn"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);
  mgn_analyze_options(static_cast<int>(storage.size()), argv.data());
}

// A help-only exit inside a test that expects the analysis to return must
// not pass for a success: the process then ends with a failure status.
bool analysis_must_return = false;
void fail_unexpected_exit() {
  if (analysis_must_return) std::_Exit(99);
}
const int exit_guard = std::atexit(fail_unexpected_exit);

// Death tests: the analysis in the child, its standard output discarded.
void run_in_child(const std::vector<std::string>& args, bool model_read = false) {
  (void)exit_guard;
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::_Exit(98);
  run_analysis(args, model_read);
}

// An analysis that returns, giving what went to standard error.
std::string analyze(const std::vector<std::string>& args, bool model_read = false) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  analysis_must_return = true;
  run_analysis(args, model_read);
  analysis_must_return = false;
  std::fflush(stderr);
  std::fflush(stdout);
  testing::internal::GetCapturedStdout();
  return testing::internal::GetCapturedStderr();
}

std::vector<std::string> with_input(std::vector<std::string> args) {
  args.push_back("-i");
  args.push_back("model.mgn");
  return args;
}

// ---------------------------------------------------------------------------
// Option errors: each ends with status 5, the error line of the option and
// the message, and no place line.
// ---------------------------------------------------------------------------

struct error_case {
  std::vector<std::string> args;
  char option;
  const char* message;
};

TEST(OptionErrorDeathTest, EachFailureIsAnOptionErrorOfItsOption) {
  const std::string too_long(MGN_MAX_NAME + 1, 'a');
  const std::vector<error_case> cases = {
      {{"-L", "9"}, 'L', "Option parameter out of range"},
      {{"-L", "100001"}, 'L', "Option parameter out of range"},
      {{"-E", "1.6"}, 'E', "Option parameter out of range"},
      {{"-E", "0.99"}, 'E', "Option parameter out of range"},
      {{"-J", "7", "1"}, 'J', "Option parameter out of range"},
      {{"-J", "1", "2.5"}, 'J', "Option parameter out of range"},
      {{"-J", "0.5", "0"}, 'J', "Option parameter out of range"},
      {{"-d", "0"}, 'd', "Option parameter out of range"},
      {{"-u", "0"}, 'u', "Option parameter out of range"},
      {{"-e", "0"}, 'e', "Option parameter out of range"},
      {{"-R", "0"}, 'R', "Option parameter out of range"},
      {{"-v", "-0.1"}, 'v', "Option parameter out of range"},
      {{"-a", "-1"}, 'a', "Option parameter out of range"},
      {{"-a", "inf"}, 'a', "Floating point number expected"},
      {{"-m", "-a", "2"}, 'm', "Missing file name"},
      {{"-k", "0"}, 'k', "Option parameter out of range"},
      {{"-k", "3"}, 'k', "Option parameter out of range"},
      {{"-r", "8"}, 'r', "Option parameter out of range"},
      {{"-s", "4"}, 's', "Option parameter out of range"},
      {{"-p", "256"}, 'p', "Option parameter out of range"},
      {{"-q", "-1"}, 'q', "Option parameter out of range"},
      {{"-y", "4"}, 'y', "Option parameter out of range"},
      {{"-z", "16"}, 'z', "Option parameter out of range"},
      {{"-T", "0"}, 'T', "Option parameter out of range"},
      {{"-n", "1", "2", "3", "4", "5", "6", "-1"}, 'n', "Option parameter out of range"},
      {{"-n", "1", "2", "3", "4", "5", "6", "3000000000"}, 'n', "Option parameter out of range"},
      {{"-f", "0", "-1"}, 'f', "Option parameter out of range"},
      {{"-L"}, 'L', "Missing option parameter"},
      {{"-U", "1", "2"}, 'U', "Missing option parameter"},
      {{"-n", "1", "2", "3"}, 'n', "Missing option parameter"},
      {{"-L", "-i", "model"}, 'L', "Integer number expected"},
      {{"-L", "12a"}, 'L', "Integer number expected"},
      {{"-L", "1.5"}, 'L', "Integer number expected"},
      {{"-L", ""}, 'L', "Integer number expected"},
      {{"-d", "abc"}, 'd', "Floating point number expected"},
      {{"-d", "2x"}, 'd', "Floating point number expected"},
      {{"-d", "nan"}, 'd', "Floating point number expected"},
      {{"-U", "0", "inf", "0"}, 'U', "Floating point number expected"},
      {{"-d", "1e999"}, 'd', "Floating point number expected"},
      {{"-o"}, 'o', "Missing file name"},
      {{"-o", "-p", "1"}, 'o', "Missing file name"},
      {{"-x", too_long}, 'x', "Too long file name"},
      {{"-i", "a", "-i", "b"}, 'i', "Multiple input file name specification"},
      {{"-o", "a", "-o", "b"}, 'o', "Multiple output file name specification"},
      {{"-m", "a", "-m", "b"}, 'm', "Multiple bg mesh file name specification"},
      {{"-b", "a", "-b", "b"}, 'b', "Multiple binary file name specification"},
      {{"-x", "a", "-x", "b"}, 'x', "Multiple graphic file name specification"},
  };
  for (const error_case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += " '" + a.substr(0, 20) + "'";
    SCOPED_TRACE(joined);
    const std::string pattern = std::string("--> Option -") + c.option + " error\n" + c.message + "\n\n";
    EXPECT_EXIT(run_in_child(c.args), testing::ExitedWithCode(5), pattern);
  }
}

TEST(OptionErrorDeathTest, ModelOptionsAreStillConvertedForBinaryInput) {
  EXPECT_EXIT(run_in_child({"-d", "abc"}, true), testing::ExitedWithCode(5), "Floating point number expected");
  EXPECT_EXIT(run_in_child({"-n", "1"}, true), testing::ExitedWithCode(5), "Missing option parameter");
}

// ---------------------------------------------------------------------------
// Accepted values and the derived values
// ---------------------------------------------------------------------------

struct value_case {
  std::vector<std::string> args;
  std::function<bool()> holds;
  const char* what;
};

TEST(OptionValues, BoundsAndDerivedValues) {
  const std::vector<value_case> cases = {
      {{"-L", "10"}, [] { return mgn_set.listing_size == 10; }, "listing size 10"},
      {{"-L", "100000"}, [] { return mgn_set.listing_size == 100000; }, "listing size 100000"},
      {{"-E", "1.0"}, [] { return mgn_set.octant_excess == 1.0; }, "excess 1.0, reciprocal 1.0"},
      {{"-E", "1.5"}, [] { return mgn_set.octant_excess == 1.0 / 1.5; }, "excess 1.5, reciprocal"},
      {{"-J", "0", "0"},
       [] { return mgn_set.transition_f2c == 1.5 && mgn_set.transition_c2f == 1.5; }, "0 means 1.5"},
      {{"-J", "6", "2"}, [] { return mgn_set.transition_f2c == 6.0 && mgn_set.transition_c2f == 2.0; }, "6 2"},
      {{"-v", "0", "-d", "3"},
       [] { return mgn_set.size_factor == 0.0 && mgn_set.default_size == 0.0; }, "size factor 0"},
      {{"-d", "2", "-v", "0.5"}, [] { return mgn_set.default_size == 1.0; }, "default size times factor"},
      {{"-a", "0"}, [] { return mgn_set.bg_size_factor == 0.0; }, "bg mesh size factor 0 (file not read)"},
      {{"-a", "2.5", "-v", "2"}, [] { return mgn_set.bg_size_factor == 2.5; }, "bg size factor kept as given"},
      {{"-u", "2", "-v", "0.5"},
       [] { return mgn_set.default_size == 1.0 && mgn_set.uniform_size == 1.0; }, "default from uniform"},
      {{"-c", "2", "-w", "3"}, [] { return mgn_set.curvature_rate == 6.0; }, "rate times factor"},
      {{"-U", "-1", "2.5", "1e3"},
       [] {
         return mgn_set.root_origin_given && mgn_set.root_octant_origin[0] == -1.0 &&
                mgn_set.root_octant_origin[1] == 2.5 && mgn_set.root_octant_origin[2] == 1000.0;
       },
       "origin accepts negative numbers"},
      {{"-n", "1", "2", "3", "4", "5", "6", "7"},
       [] { return mgn_set.entity_counts == std::array<long, 7>{1, 2, 3, 4, 5, 6, 7}; }, "entity counts"},
      {{"-f", "10", "20"},
       [] { return mgn_set.numbering_shift[0] == 10 && mgn_set.numbering_shift[1] == 20; }, "shift"},
      {{"-A", "-S", "-H", "-B", "-V", "-C", "-Z"},
       [] {
         return !mgn_set.default_bassoc_output && !mgn_set.nodal_smoothing && !mgn_set.quad_hexa_support &&
                mgn_set.boundary_conforming && mgn_set.include_virtual && mgn_set.curvature_violation &&
                mgn_set.store_options_in_binary;
       },
       "flags"},
      {{"-o", "out.msh", "-m", "bg.msh", "-x", "g.vtk", "-b", "model.bin"},
       [] {
         return mgn_set.output_file_name == "out.msh" && mgn_set.bg_mesh_file_name == "bg.msh" &&
                mgn_set.graphics_file_name == "g.vtk" && mgn_set.binary_file_name == "model.bin" &&
                mgn_set.input_file_name == "model.mgn";
       },
       "file names"},
  };
  for (const value_case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string err = analyze(with_input(c.args));
    EXPECT_TRUE(c.holds());
    EXPECT_EQ(err, "");
    EXPECT_EQ(mgn_warning_count, 0);
  }
}

TEST(OptionValues, LongestFileNameIsAccepted) {
  const std::string name(MGN_MAX_NAME, 'n');
  analyze(with_input({"-o", name}));
  EXPECT_EQ(mgn_set.output_file_name, name);
}

// ---------------------------------------------------------------------------
// Warnings: consistency rules, repeated and unrecognized options
// ---------------------------------------------------------------------------

struct warning_case {
  std::vector<std::string> args;
  std::function<bool()> holds;
  std::string warnings;  // exact text on standard error
  long count;
};

TEST(OptionWarnings, ConsistencyRulesAndRepetitions) {
  const std::vector<warning_case> cases = {
      {{"-r", "4"}, [] { return mgn_set.renumbering_type == 0; },
       "Warning: Option -r is ignored if neither from node or element\n"
       "         renumbering is selected\n",
       1},
      {{"-r", "2"}, [] { return mgn_set.renumbering_type == 0; },
       "Warning: Option -r is ignored (element renumbering is disabled)\n", 1},
      {{"-r", "6"}, [] { return mgn_set.renumbering_type == 0; },
       "Warning: Option -r is ignored (element renumbering is disabled)\n", 1},
      {{"-r", "5"}, [] { return mgn_set.renumbering_type == 5; }, "", 0},
      {{"-q", "8"}, [] { return mgn_set.quality_report == 0; },
       "Warning: Option -q setting is ignored unless at least one from element\n"
       "         quality, angle quality and connectivity quality is used\n",
       1},
      {{"-q", "12"}, [] { return mgn_set.quality_report == 12; }, "", 0},
      {{"-K", "-H"}, [] { return mgn_set.convexity_check; }, "Warning: Option -K is ignored if option -H is used\n",
       1},
      {{"-y", "1", "-z", "3"}, [] { return mgn_set.graphics_spec == 2; },
       "Warning: Wireframe graphics output ignored for non-VRML graphics output\n", 1},
      {{"-y", "2", "-z", "3"}, [] { return mgn_set.graphics_spec == 1; },
       "Warning: Contours graphics output specification ignored for wireframe\n", 1},
      {{"-y", "3", "-z", "1"}, [] { return mgn_set.graphics_spec == 0; },
       "Warning: Wireframe graphics output ignored for non-VRML graphics output\n", 1},
      {{"-y", "3", "-z", "12"}, [] { return mgn_set.graphics_spec == 12; },
       "Warning: Reverted and bw contours graphics output specification ignored\n"
       "         unless mesh size contours are specified\n",
       1},
      {{"-y", "2", "-z", "1"}, [] { return mgn_set.graphics_spec == 1; }, "", 0},
      {{"-k", "2", "-k", "1"}, [] { return mgn_set.element_degree == 1; },
       "Warning: Multiple occurrence of option -k\n"
       "         Previously defined value '2' is ignored\n",
       1},
      {{"-d", "2", "-d", "3"}, [] { return mgn_set.default_size == 3.0; },
       "Warning: Multiple occurrence of option -d\n"
       "         Previously defined value '2.000000e+00' is ignored\n",
       1},
      {{"-f", "1", "2", "-f", "3", "4", "-f", "5", "6"}, [] { return mgn_set.numbering_shift[0] == 5; },
       "Warning: Multiple occurrence of option -f\n"
       "         Previously defined value '1 2' is ignored\n"
       "Warning: Multiple occurrence of option -f\n"
       "         Previously defined value '3 4' is ignored\n",
       2},
      {{"-J", "2", "1", "-J", "3", "1"}, [] { return mgn_set.transition_f2c == 3.0; },
       "Warning: Multiple occurrence of option -J\n"
       "         Previously defined value '2.000000e+00 1.000000e+00' is ignored\n",
       1},
      {{"-V", "-V"}, [] { return mgn_set.include_virtual; }, "Warning: Multiple occurrence of option -V\n", 1},
      // The argument after -g named the log file before the analysis, even
      // one that looks like an option: it is skipped.
      {{"-g", "-x"}, [] { return mgn_set.graphics_file_name.empty(); }, "", 0},
      {{"-1"}, [] { return true; }, "Warning: Unrecognized option -1 (input ignored)\n", 1},
      {{"-abc"}, [] { return true; }, "Warning: Unrecognized option -abc (input ignored)\n", 1},
      {{"-j", "-j"}, [] { return true; },
       "Warning: Unrecognized option -j (input ignored)\n"
       "Warning: Unrecognized option -j (input ignored)\n",
       2},
      {{"stray"}, [] { return true; }, "Warning: Unrecognized option stray (input ignored)\n", 1},
      {{"-W", "-1", "-r", "4"}, [] { return mgn_set.renumbering_type == 0; }, "", 2},
      {{"-1", "-W"}, [] { return mgn_set.warnings_suppressed; }, "", 1},
  };
  for (const warning_case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += " " + a;
    SCOPED_TRACE(joined);
    std::string err = analyze(with_input(c.args));
    EXPECT_TRUE(c.holds());
    EXPECT_EQ(err, c.warnings);
    EXPECT_EQ(mgn_warning_count, c.count);
  }
}

TEST(OptionWarnings, ModelOptionsAreIgnoredForBinaryInput) {
  std::string err = analyze({"-n", "1", "2", "3", "4", "5", "6", "7", "-n", "1", "1", "1", "1", "1", "1", "1", "-d",
                             "-5", "-L", "20", "-k", "2"},
                            true);
  EXPECT_EQ(err,
            "Warning: Option -n ignored when processing binary input\n"
            "Warning: Option -d ignored when processing binary input\n");
  EXPECT_EQ(mgn_warning_count, 2);
  EXPECT_EQ(mgn_set.entity_counts, (std::array<long, 7>{}));
  EXPECT_EQ(mgn_set.default_size, 0.0);
  // Other options still take effect, and the run goes on although nothing
  // else was asked for.
  EXPECT_EQ(mgn_set.listing_size, 20);
  EXPECT_EQ(mgn_set.element_degree, 2);
}

TEST(OptionValues, RestoredModelValuesAreNotDerivedAgain) {
  // Values as a binary model file brings them: derived in the writing run.
  auto restore_and_analyze = [](const std::vector<std::string>& args) {
    mgn_run.model_not_yet_read = true;
    mgn_init_options();
    mgn_set.default_size = 1.0;
    mgn_set.uniform_size = 1.0;
    mgn_set.size_factor = 0.5;
    mgn_set.curvature_rate = 6.0;
    mgn_set.curvature_factor = 3.0;
    mgn_set.octant_excess = 0.8;
    mgn_run.model_not_yet_read = false;
    mgn_init_options();  // keeps the model values, resets the others
    mgn_set.octant_excess = 0.8;  // restored with the options (-Z)
    std::vector<std::string> storage = {"mgn"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    mgn_warning_count = 0;
    testing::internal::CaptureStderr();
    analysis_must_return = true;
    mgn_analyze_options(static_cast<int>(storage.size()), argv.data());
    analysis_must_return = false;
    return testing::internal::GetCapturedStderr();
  };
  restore_and_analyze({"-k", "1"});
  EXPECT_EQ(mgn_set.default_size, 1.0);
  EXPECT_EQ(mgn_set.uniform_size, 1.0);
  EXPECT_EQ(mgn_set.curvature_rate, 6.0);
  EXPECT_EQ(mgn_set.octant_excess, 0.8);
  // A size factor on the command line is ignored with its warning and
  // changes nothing; an octant size excess given again is taken as given.
  EXPECT_EQ(restore_and_analyze({"-v", "4", "-E", "1.25"}),
            "Warning: Option -v ignored when processing binary input\n");
  EXPECT_EQ(mgn_set.default_size, 1.0);
  EXPECT_DOUBLE_EQ(mgn_set.octant_excess, 0.8);
  mgn_run.model_not_yet_read = true;
}

TEST(OptionWarnings, InitKeepsModelValuesOnceTheModelIsRead) {
  mgn_run.model_not_yet_read = true;
  mgn_init_options();
  mgn_set.default_size = 4.0;
  mgn_set.hash_table_size = 7;
  mgn_set.listing_size = 50;
  mgn_run.model_not_yet_read = false;
  mgn_init_options();
  EXPECT_EQ(mgn_set.default_size, 4.0);
  EXPECT_EQ(mgn_set.hash_table_size, 7);
  EXPECT_EQ(mgn_set.listing_size, 1000);
  mgn_run.model_not_yet_read = true;
  mgn_init_options();
  EXPECT_EQ(mgn_set.default_size, 0.0);
}

// ---------------------------------------------------------------------------
// Help-only runs end inside the analysis with status 0
// ---------------------------------------------------------------------------

TEST(OptionExitDeathTest, HelpOnlyRunsEndWithProgramFinished) {
  EXPECT_EXIT(run_in_child({"-k", "2"}), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(run_in_child({"-Q", "-W"}), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(run_in_child({"-1"}), testing::ExitedWithCode(0),
              "Unrecognized option -1 \\(input ignored\\)\nAltogether 1 warning has been generated\n\n");
  EXPECT_EXIT(run_in_child({"-1", "-x1"}), testing::ExitedWithCode(0),
              "Altogether 2 warnings have been generated\n\n");
  EXPECT_EXIT(run_in_child({"-Fout", "-o", "mesh"}), testing::ExitedWithCode(0), "");
}

TEST(OptionExit, WorkArgumentsContinueTheRun) {
  // Each returns to the run sequence with the derived values in place.
  analyze({"-Fout", "-i", "model.mgn", "-E", "1.25"});
  EXPECT_DOUBLE_EQ(mgn_set.octant_excess, 0.8);
  analyze({"-Fin", "-P", "-o", "mesh", "-E", "1.25"});
  EXPECT_DOUBLE_EQ(mgn_set.octant_excess, 0.8);
  analyze({"-g", "run.log", "-L", "20"});
  EXPECT_EQ(mgn_set.listing_size, 20);
  EXPECT_EQ(mgn_set.log_file_name, "");
  analyze({"-Q", "-x", "g.vtk"});
  EXPECT_TRUE(mgn_set.quiet);
}

// ---------------------------------------------------------------------------
// Through the executable
// ---------------------------------------------------------------------------

// Text between the "Program started" line and the "Program finished" line.
std::string between_progress_lines(const std::string& out) {
  std::size_t start = out.find("Program started");
  std::size_t end = out.find("Program finished");
  if (start == std::string::npos || end == std::string::npos || end < start) return "";
  start = out.find('\n', start) + 1;
  return out.substr(start, end - start);
}

const char* const kVersion = "\nMgn - version 1.2 (revised July 5, 2005)\n\n";

const char* const kUsage =
    "\n"
    "Usage: mgn [option [parameter(s)]] ...\n\n"
    "Options:\n\n"
    "    -h   usage description\n"
    "    -P   parameter description            -F   format description\n"
    "    -Q   silent run                       -W   suppress warnings\n"
    "    -V   include virtual entities         -C   enable curvature violation\n"
    "    -B   boundary conforming elements     -A   disable default bassoc output\n"
    "    -S   disable nodal smoothing          -Z   store all options in binary\n"
    "    -H   disable quad-hexa support        -K   enable convexity check\n"
    "    -i   (string) input file name         -o   (string) output file name\n"
    "    -g   (string) log file name           -m   (string) bg mesh file name\n"
    "    -b   (string) binary file name        -x   (string) graphics file name  \n"
    "    -n   (7x int #) number of entities    -f   (2x int #) numbering shift\n"
    "    -r   (int #) renumbering type         -s   (int #) smoothing type\n"
    "    -k   (int #) element degree\n"
    "    -p   (int #) output specification     -q   (int #) quality report type\n"
    "    -y   (int #) graphics output type     -z   (int #) graphics output spec\n"
    "    -d   (fpn #) default mesh size        -u   (fpn #) uniform mesh size\n"
    "    -v   (fpn #) mesh size factor         -a   (fpn #) bg mesh size factor\n"
    "    -c   (fpn #) default curvature rate   -w   (fpn #) curvature rate factor\n"
    "    -t   (fpn #) default curve density    -e   (fpn #) user epsilon\n"
    "    -L   (int #) default listing size     -T   (int #) hash table size\n"
    "    -R   (fpn #) root octant size         -U   (3x fpn #) root octant origin\n"
    "    -E   (fpn #) octant size excess       -J   (2x fpn #) transition factors\n"
    "\n"
    "  -ver   print version                  -dir   print compile directives\n\n"
    "\n";

const char* const kDirectives =
    "MGN_INTERFACE  . . . . . . . . . . . . . . . . . . . .  defined\n"
    "MGN_MIRRORING  . . . . . . . . . . . . . . . . . . . .  defined\n"
    "MGN_QUAD_HEXA_SUPPORT  . . . . . . . . . . . . . . . .  defined\n"
    "MGN_QUAD_HEXA_MAPPING  . . . . . . . . . . . . . . . .  defined\n"
    "MGN_QUAD_HEXA_MESHING  . . . . . . . . . . . . . . . .  defined\n"
    "MGN_COINCIDE . . . . . . . . . . . . . . . . . . . . .  defined\n"
    "MGN_VIOLATION  . . . . . . . . . . . . . . . . . . . .  defined\n"
    "MGN_BINARY_SUPPORT . . . . . . . . . . . . . . . . . .  defined\n"
    "MGN_PROPERTY . . . . . . . . . . . . . . . . . . . NOT  defined\n"
    "MGN_DEPENDENCY . . . . . . . . . . . . . . . . . . NOT  defined\n"
    "MGN_MULTIPLE_INPUT . . . . . . . . . . . . . . . . NOT  defined\n"
    "MGN_BND_MESH . . . . . . . . . . . . . . . . . . . NOT  defined\n"
    "MGN_CURVE_SWAPPING . . . . . . . . . . . . . . . . . .  defined\n"
    "MGN_CURVE_SMEARING . . . . . . . . . . . . . . . . . .  defined\n"
    "MGN_NONPLANAR_PATCH  . . . . . . . . . . . . . . . . .  defined\n"
    "MGN_ALL_WARNING  . . . . . . . . . . . . . . . . . NOT  defined\n"
    "MGN_QUALITY_WARNING  . . . . . . . . . . . . . . . NOT  defined\n"
    "MGN_OUTPUT_NEIGHBOUR . . . . . . . . . . . . . . . . .  defined\n"
    "MGN_TMP_OUTPUT . . . . . . . . . . . . . . . . . . . .  defined\n"
    "MGN_GRAPHICS_OUTPUT  . . . . . . . . . . . . . . . . .  defined\n"
    "MGN_OMBRAX . . . . . . . . . . . . . . . . . . . . NOT  defined\n"
    "MGN_TIMING . . . . . . . . . . . . . . . . . . . . . .  defined\n"
    "MGN_NO_MAIN  . . . . . . . . . . . . . . . . . . . NOT  defined\n"
    "MGN_SIMPLE_GRAPHICS  . . . . . . . . . . . . . . . NOT  defined\n"
    "MGN_PC_VERSION . . . . . . . . . . . . . . . . . . . .  defined\n"
    "\n";

TEST(OptionProgram, InformationalTextsExactly) {
  struct text_case {
    std::vector<std::string> args;
    std::string expected;
    std::string err;
  };
  const std::vector<text_case> cases = {
      {{"-ver"}, kVersion, ""},
      {{"-h"}, std::string(kVersion) + kUsage, ""},
      {{}, std::string(kVersion) + kUsage, ""},
      {{"-dir"}, std::string(kVersion) + kDirectives, ""},
      // The version is printed once, each text once and in the order of the
      // arguments; a repeated -h is a repeated option.
      {{"-ver", "-h", "-dir", "-h", "-ver"}, std::string(kVersion) + kUsage + kDirectives,
       "Warning: Multiple occurrence of option -h\nAltogether 1 warning has been generated\n\n"},
  };
  for (const text_case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += " " + a;
    SCOPED_TRACE(joined);
    mgn_run_result r = mgn_run_program(c.args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(between_progress_lines(r.out), c.expected);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(OptionProgram, ParameterDescription) {
  mgn_run_result r = mgn_run_program({"-P"});
  EXPECT_EQ(r.status, 0);
  const std::string text = between_progress_lines(r.out);
  EXPECT_EQ(text.find(std::string(kVersion) + "\nParameter description:\n----------------------\n\n"), 0u);
  for (const char* line : {
           "    Renumbering type:      0 - no renumbering (default)\n",
           "                           1 - node renumbering \n",
           "    Element degree:        1 - linear (default)\n",
           "                             1 - element quality (default)\n",
           "    Listing size:          10 - 100000 (default = 1000)\n",
           "             (ordering:    ver, cur, sur, ptch, shll, reg, iface)\n",
           "    Mesh size factor:      >= 0.0 (default = 1.0)\n",
           "    Octant size excess:    1.0 - 1.5 (default = 1.0)\n",
           "    Transition factor f2c: 1.0 - 10.0 (default = 1.5)\n",
           "    Transition factor c2f: 1.0 - 2.0 (default = 1.5)\n",
           "    User epsilon:          > 0.0 (default = 1.000000e-05)\n",
           "    Graphics output type:  0 - no graphics output (default)\n",
           "                           8 - black-and-white contours \n",
       })
    EXPECT_NE(text.find(line), std::string::npos) << line;
  // Printed before any value is analysed: the defaults, whatever follows.
  r = mgn_run_program({"-P", "-L", "20", "-k", "2"});
  EXPECT_NE(r.out.find("    Listing size:          10 - 100000 (default = 1000)\n"), std::string::npos);
}

// Every option of the option table through the program: its letter is
// known (a run with a valid value writes the mesh and warns of no
// unrecognized option), and each value of the wrong type or out of range
// ends the run with the option error of its letter, status 5.  (-m and -b,
// the background mesh and binary model files, have tests of their own.)
struct option_case {
  std::vector<std::string> valid;
  std::vector<std::pair<std::vector<std::string>, const char*>> invalid;
};

TEST(OptionProgram, EveryOptionIsKnownAndChecked) {
  const char* const range = "Option parameter out of range";
  const char* const integer = "Integer number expected";
  const char* const fpn = "Floating point number expected";
  const char* const missing = "Missing option parameter";
  const char* const no_name = "Missing file name";
  const std::vector<option_case> cases = {
      {{"-o", "other.msh"}, {{{"-o"}, no_name}, {{"-o", "-k", "1"}, no_name}}},
      {{"-g", "run.log"}, {{{"-g"}, no_name}}},
      {{"-x", "g.vtk", "-y", "3"}, {{{"-x"}, no_name}}},
      {{"-n", "0", "0", "0", "0", "0", "0", "0"},
       {{{"-n", "0", "0", "0"}, missing}, {{"-n", "0", "0", "0", "0", "0", "0", "-1"}, range},
        {{"-n", "0", "a", "0", "0", "0", "0", "0"}, integer}}},
      {{"-f", "10", "3"}, {{{"-f", "0", "-1"}, range}, {{"-f", "1.5", "0"}, integer}, {{"-f", "1"}, missing}}},
      {{"-r", "5"}, {{{"-r", "8"}, range}, {{"-r", "x"}, integer}}},
      {{"-s", "3"}, {{{"-s", "4"}, range}, {{"-s", "1.0"}, integer}}},
      {{"-k", "2"}, {{{"-k", "3"}, range}, {{"-k", "0"}, range}, {{"-k", ""}, integer}}},
      {{"-p", "255"}, {{{"-p", "256"}, range}, {{"-p", "8a"}, integer}}},
      {{"-q", "3"}, {{{"-q", "-1"}, range}, {{"-q", "q"}, integer}}},
      {{"-y", "3", "-x", "g.vtk"}, {{{"-y", "4"}, range}, {{"-y", "3.0"}, integer}}},
      {{"-z", "2"}, {{{"-z", "16"}, range}, {{"-z", "z"}, integer}}},
      {{"-d", "0.5"}, {{{"-d", "0"}, range}, {{"-d", "abc"}, fpn}, {{"-d", "nan"}, fpn}}},
      {{"-u", "0.5"}, {{{"-u", "-1"}, range}, {{"-u", "inf"}, fpn}}},
      {{"-v", "0.5"}, {{{"-v", "-0.1"}, range}, {{"-v", "x"}, fpn}}},
      {{"-a", "0.5"}, {{{"-a", "-1"}, range}, {{"-a", "nan"}, fpn}}},
      {{"-c", "0.5"}, {{{"-c", "-1"}, range}, {{"-c", "1e999"}, fpn}}},
      {{"-w", "2"}, {{{"-w", "-1"}, range}, {{"-w", "w"}, fpn}}},
      {{"-t", "3"}, {{{"-t", "-5"}, range}, {{"-t", "nan"}, fpn}, {{"-t"}, missing}}},
      {{"-e", "1e-6"}, {{{"-e", "0"}, range}, {{"-e", "e"}, fpn}}},
      {{"-L", "20"}, {{{"-L", "9"}, range}, {{"-L", "100001"}, range}, {{"-L", "1.5"}, integer}}},
      {{"-T", "7"}, {{{"-T", "0"}, range}, {{"-T", "T"}, integer}}},
      {{"-R", "100"}, {{{"-R", "0"}, range}, {{"-R", "R"}, fpn}}},
      {{"-U", "-1", "-1", "-1"}, {{{"-U", "1", "2"}, missing}, {{"-U", "0", "inf", "0"}, fpn}}},
      {{"-E", "1.5"}, {{{"-E", "1.6"}, range}, {{"-E", "0.99"}, range}, {{"-E", "E"}, fpn}}},
      {{"-J", "6", "2"}, {{{"-J", "7", "1"}, range}, {{"-J", "1", "2.5"}, range}, {{"-J", "x", "1"}, fpn}}},
      {{"-Q"}, {}}, {{"-W"}, {}}, {{"-V"}, {}}, {{"-C"}, {}}, {{"-B"}, {}},
      {{"-A"}, {}}, {{"-S"}, {}}, {{"-Z"}, {}}, {{"-H"}, {}}, {{"-K"}, {}},
      {{"-h"}, {}}, {{"-P"}, {}}, {{"-F"}, {}},
  };
  const std::string dir = mgn_temp_dir();
  const std::vector<std::string> base = {"-i", std::string(MGN_TEST_MODELS) + "/two_lines.mgn", "-u", "1"};
  for (const option_case& c : cases) {
    SCOPED_TRACE(c.valid[0]);
    std::vector<std::string> args = base;
    args.insert(args.end(), {"-o", "mesh.msh"});
    if (c.valid[0] == "-o") args.resize(base.size());
    args.insert(args.end(), c.valid.begin(), c.valid.end());
    std::remove((dir + "/mesh.msh").c_str());
    std::remove((dir + "/other.msh").c_str());
    mgn_run_result r = mgn_run_program(args, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Unrecognized option"), std::string::npos) << r.err;
    EXPECT_FALSE(mgn_read_file(dir + (c.valid[0] == "-o" ? "/other.msh" : "/mesh.msh")).empty());
    const char letter = c.valid[0][1];
    for (const auto& [bad, message] : c.invalid) {
      std::vector<std::string> wrong = base;
      wrong.insert(wrong.end(), bad.begin(), bad.end());
      std::string joined;
      for (const std::string& a : bad) joined += " '" + a + "'";
      SCOPED_TRACE(joined);
      r = mgn_run_program(wrong, dir);
      EXPECT_EQ(r.status, 5);
      EXPECT_NE(r.err.find(std::string("--> Option -") + letter + " error\n" + message + "\n\n"), std::string::npos)
          << r.err;
    }
  }
}

// The default curve density (-t) reaches the curves: a straight curve of
// length 10 between vertices of size 100 gets 10 / density elements.
TEST(OptionProgram, DefaultCurveDensityDividesCurves) {
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/line.mgn", "vertex 1 xyz 0 0 0 size 100\nvertex 2 xyz 10 0 0 size 100\ncurve 1 vertex 1 2\n");
  for (const auto& [density, edges] : std::vector<std::pair<std::string, std::string>>{{"", "1"}, {"5", "5"}, {"2.5", "3"}}) {
    SCOPED_TRACE(density);
    std::vector<std::string> args = {"-i", "line.mgn"};
    if (!density.empty()) args.insert(args.end(), {"-t", density});
    mgn_run_result r = mgn_run_program(args, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Number of edges:    " + std::string(8 - edges.size(), ' ') + edges + " (FE)"), std::string::npos)
        << r.out;
  }
}

TEST(OptionProgram, OptionErrorReport) {
  mgn_run_result r = mgn_run_program({"-o", "mesh", "-L", "9"});
  EXPECT_EQ(r.status, 5);
  EXPECT_TRUE(std::regex_search(r.err, std::regex("\n\n[0-9:]{8} --> Option -L error\n"
                                                  "Option parameter out of range\n\n$")))
      << r.err;
  EXPECT_EQ(r.err.find("(routine"), std::string::npos);
  EXPECT_NE(r.out.find("Program terminated"), std::string::npos);
  EXPECT_EQ(r.out.find("Tmp output data printed"), std::string::npos);
}

TEST(OptionProgram, WarningTotalOfAHelpOnlyRun) {
  mgn_run_result r = mgn_run_program({"-abc", "-1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "Warning: Unrecognized option -abc (input ignored)\n"
            "Warning: Unrecognized option -1 (input ignored)\n"
            "Altogether 2 warnings have been generated\n\n");
  EXPECT_NE(r.out.find("Program finished"), std::string::npos);
  // With -W neither the warnings nor the total are written.
  r = mgn_run_program({"-abc", "-W"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

// Output description under a few settings: the record layouts follow the
// element degree and the output specification.
TEST(OptionProgram, OutputDescriptionFollowsTheSettings) {
  struct layout_case {
    std::vector<std::string> args;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const std::vector<layout_case> cases = {
      {{"-Fout", "-p", "9"},
       {"Output file description:\n------------------------\n", "  node_id x y z ent_key ent_id ent_prop [node data]\n",
        "2 curve:                      t\n", "3 surface, 5 patch, 6 shell:  u v\n",
        "  tetra_id nd1 ... nd4 ent_key ent_id ent_prop\n      bnd_ent_id1 ... bnd_ent_id4 bnd_ent_key1 ... "
        "bnd_ent_key4\n      bnd_ent_prop1 ... bnd_ent_prop4\n",
        "  tria_id nd1 nd2 nd3 ent_key ent_id ent_prop\n      bnd_ent_id1 ... bnd_ent_id3 bnd_ent_prop1 ... "
        "bnd_ent_prop3\n",
        "counterclockwise seen from the side\n             to which the surface normal Su x Sv points"},
       {"ngb1", "iso_type", "tx ty tz", "Boundary association section", "midside"}},
      {{"-Fout", "-k", "2", "-p", "0"},
       {"  edge_id nd1 nd2 nd3 ent_key ent_id ent_prop\n", "  tetra_id nd1 ... nd10 ent_key ent_id ent_prop\n",
        "  hexa_id nd1 ... nd20 ent_key ent_id ent_prop\n", "tetra: 1-2 2-3 3-1 1-4 2-4 3-4;",
        "  node_id x y z ent_key ent_id ent_prop\n\n"},
       {"bnd_ent", "ngb1", "[node data]", "Boundary association section"}},
      {{"-Fout", "-p", "118", "-H"},
       {"  num_nodes num_edges num_trias num_tetras\n", "      mesh_type: 3", "2 curve:                      tx ty tz\n",
        "nx ny nz", "      iso_type ngb1 ngb2 ngb3\n", "Boundary association section:\n",
        "  2 curve_id curve_prop num_edges\n"},
       {"quad_id", "hexa_id", "num_quads", "bnd_ent"}},
  };
  for (const layout_case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += " " + a;
    SCOPED_TRACE(joined);
    mgn_run_result r = mgn_run_program(c.args);
    EXPECT_EQ(r.status, 0);
    const std::string text = between_progress_lines(r.out);
    for (const std::string& s : c.present) EXPECT_NE(text.find(s), std::string::npos) << s;
    for (const std::string& s : c.absent) EXPECT_EQ(text.find(s), std::string::npos) << s;
  }
}

// The side of a boundary entity that a region uses is the one fact of the
// model file that cannot be guessed: the description states it.
TEST(OptionProgram, InputDescriptionStatesTheSideOfRegionBoundaries) {
  mgn_run_result r = mgn_run_program({"-Fin"});
  ASSERT_EQ(r.status, 0);
  const std::size_t region = r.out.find("\nRegion # ");
  ASSERT_NE(region, std::string::npos);
  const std::string block = r.out.substr(region, r.out.find("\nInterface # ") - region);
  EXPECT_NE(block.find("positive id puts the region on the side to which\n                      Su x Sv of the surface points"),
            std::string::npos)
      << block;
  EXPECT_NE(block.find("boundary surface -1 -2 ..."), std::string::npos) << block;
}

// The input description is the manual of the model file: every keyword of
// every definition must be found in the block of that definition.
TEST(OptionProgram, InputDescriptionListsEveryKeyword) {
  mgn_run_result r = mgn_run_program({"-Fin"});
  ASSERT_EQ(r.status, 0);
  std::string text = between_progress_lines(r.out);
  ASSERT_EQ(text.find("Input file description:\n-----------------------\n\nNotation: [] - optional parameter\n"), 0u);

  struct block {
    const char* start;  // first line of the definition's syntax
    std::vector<std::string> keywords;
  };
  const std::vector<block> blocks = {
      {"\nVertex # ",
       {"VIRTUAL", "XYZ", "UV", "T", "FIXED", "VERTEX", "CURVE", "SURFACE", "SIZE", "WEIGHT", "FACTOR", "PROPERTY",
        "HIDDEN", "OUTPUT", "VER", "CUR", "SUR", "DEF", "UNI", "YES", "NO", "COINCIDE", "SLAVE", "MASTER", "NODEPROP",
        "SHIFT"}},
      {"\nCurve # ",
       {"VIRTUAL", "ORDER", "FIXED", "CURVE", "SURFACE", "VERTEX", "SIZE", "RATE", "DENSITY", "FACTOR", "PROPERTY",
        "HIDDEN", "SWAP", "SMEAR", "ANGLE", "OUTPUT", "BASSOC", "COUNT", "POLYSIZE", "CUR", "SUR", "DEF", "UNI", "YES",
        "NO", "FIT", "ITER", "LIMIT", "DIR", "X", "Y", "Z", "XY", "YZ", "XZ", "XYZ", "F", "T", "N", "TRANSITION",
        "EQUIDISTANT", "DUPLICATE", "COINCIDE", "SLAVE", "MASTER", "MIRROR", "WEAK", "ELEMGROUP", "NODEPROP",
        "ELEMPROP", "SHIFT"}},
      {"\nPolygon # {",
       {"POLYGON", "XYZ", "POLY", "WEIGHT", "SIZE", "POLYEND", "CUR", "DEF", "UNI", "DIR", "X", "Y", "Z", "XY", "YZ",
        "XZ", "F", "T", "N"}},
      {"\nSurface # ",
       {"VIRTUAL",  "ORDER",    "FIXED",     "SURFACE",  "PATCH", "SHELL",       "CURVE",     "VERTEX",
        "SIZE",     "RATE",     "FACTOR",    "ATTRACT",  "PROPERTY", "HIDDEN",   "HOLE",      "OUTPUT",
        "BASSOC",   "POLYSIZE", "QUAD",      "MAP",      "DIAGONAL", "SUR",      "DEF",       "UNI",
        "ALL",      "YES",      "NO",        "POSITIVE", "NEGATIVE", "POINT",    "NONE",      "FIT",
        "ITER",     "LIMIT",    "DIR",       "X",        "Y",        "Z",        "XY",        "YZ",
        "XZ",       "XYZ",      "F",         "T",        "N",        "EQUIDISTANT", "DUPLICATE", "COINCIDE",
        "SLAVE",    "MIRROR",   "WEAK",      "ELEMGROUP", "NODEPROP", "ELEMPROP", "LCS",       "SHIFT"}},
      {"\nPolygon # # {",
       {"POLYGON", "XYZ", "POLY", "WEIGHT", "SIZE", "POLYEND", "SUR", "DEF", "UNI", "DIR", "X", "Y", "Z", "XY", "YZ",
        "XZ", "F", "T", "N"}},
      {"\nPatch # ",
       {"VIRTUAL", "BOUNDARY", "SUBPATCH", "FIXED", "VERTEX", "CURVE", "SURFACE", "PATCH", "SHELL", "NORMAL",
        "ORIGIN", "SIZE", "FACTOR", "ATTRACT", "PROPERTY", "HIDDEN", "HOLE", "OUTPUT", "BASSOC", "QUAD", "DIAGONAL",
        "MAP", "ISO", "DIR", "DEF", "UNI", "ALL", "YES", "NO", "POSITIVE", "NEGATIVE", "POINT", "NONE", "EPSILON",
        "EQUIDISTANT", "DUPLICATE", "COINCIDE", "SLAVE", "MIRROR", "WEAK", "ELEMGROUP", "NODEPROP", "ELEMPROP",
        "LCS"}},
      {"\nShell # ",
       {"VIRTUAL", "BOUNDARY", "SUBSHELL", "FIXED", "VERTEX", "CURVE", "SURFACE", "PATCH", "SHELL", "BGSURFACE",
        "SIZE", "RATE", "FACTOR", "ATTRACT", "PROPERTY", "HIDDEN", "HOLE", "OUTPUT", "BASSOC", "QUAD", "DIAGONAL",
        "MAP", "DEF", "UNI", "ALL", "YES", "NO", "POSITIVE", "NEGATIVE", "POINT", "NONE", "EQUIDISTANT", "DUPLICATE",
        "COINCIDE", "SLAVE", "MIRROR", "WEAK", "ELEMGROUP", "NODEPROP", "ELEMPROP", "LCS"}},
      {"\nRegion # ",
       {"VIRTUAL", "BOUNDARY", "SUBREGION", "FIXED", "VERTEX", "CURVE", "SURFACE", "PATCH", "SHELL", "SIZE", "FACTOR",
        "PROPERTY", "EXTRUDE", "WEAK", "HOLE", "OUTPUT", "HEXA", "MAP", "ISO", "DIR1", "DIR2", "DEF", "UNI", "YES",
        "NO", "EQUIDISTANT", "ELEMGROUP", "NODEPROP", "ELEMPROP", "LCS"}},
      {"\nInterface # ",
       {"VIRTUAL", "ELEMFREE", "WEAK", "TYPE", "VERTEX", "CURVE", "SURFACE", "PATCH", "SHELL", "PROPERTY", "OUTPUT",
        "YES", "NO", "ELEMGROUP", "NODEPROP", "ELEMPROP"}},
      {"\nView_setup ", {"VIEW_SETUP", "VIEW_MODEL", "VIEW_MESH", "VIEW_ANIM", "EOF"}},
  };
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char ch) { return std::tolower(ch); });
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    std::string start = blocks[b].start;
    std::transform(start.begin(), start.end(), start.begin(), [](unsigned char ch) { return std::tolower(ch); });
    const std::size_t begin = text.find(start);
    ASSERT_NE(begin, std::string::npos) << start;
    std::size_t end = text.size();
    if (b + 1 < blocks.size()) {
      std::string next = blocks[b + 1].start;
      std::transform(next.begin(), next.end(), next.begin(), [](unsigned char ch) { return std::tolower(ch); });
      end = text.find(next, begin + 1);
      ASSERT_NE(end, std::string::npos) << next;
    }
    const std::string part = text.substr(begin, end - begin);
    for (std::string keyword : blocks[b].keywords) {
      std::transform(keyword.begin(), keyword.end(), keyword.begin(),
                     [](unsigned char ch) { return std::tolower(ch); });
      EXPECT_TRUE(std::regex_search(part, std::regex("(^|[^a-z0-9_])" + keyword + "([^a-z0-9_]|$)")))
          << keyword << " missing in the block " << blocks[b].start;
    }
  }
}

TEST(OptionProgram, FormatDescriptionsInTheirOrder) {
  mgn_run_result r = mgn_run_program({"-Fomx", "-Fbnd", "-F"});
  EXPECT_EQ(r.status, 0);
  const std::string text = between_progress_lines(r.out);
  std::size_t at = 0;
  for (const char* heading :
       {"Input file description:\n-----------------------\n", "Output file description:\n------------------------\n",
        "Background mesh file description:\n---------------------------------\n",
        "Boundary input file description:\n--------------------------------\n",
        "Boundary mesh file description:\n-------------------------------\n",
        "Ombrax input command description:\n---------------------------------\n"}) {
    std::size_t found = text.find(heading, at);
    EXPECT_NE(found, std::string::npos) << heading;
    if (found != std::string::npos) at = found;
  }
  // Every line of the manuals fits a terminal.
  std::size_t line_start = 0;
  while (line_start < text.size()) {
    std::size_t line_end = text.find('\n', line_start);
    if (line_end == std::string::npos) line_end = text.size();
    EXPECT_LE(line_end - line_start, 80u) << text.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
  }
}

}  // namespace
