// The run sequence of the executable: banner, stage messages, log file and
// quiet handling, file argument checks and the closing statistics.
#include <gtest/gtest.h>

#include <algorithm>
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

namespace {

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

// The bundled wire model runs from the model file to the mesh and VTK files.
TEST(EndToEnd, WireExampleWritesMeshAndGraphicsIdenticallyOnEveryRun) {
  const std::string dir = mgn_temp_dir();
  const std::string model = std::string(MGN_EXAMPLES) + "/wire.mgn";
  mgn_run_result a = mgn_run_program({"-i", model, "-o", "a.msh", "-y", "3", "-x", "a.vtk"}, dir);
  mgn_run_result b = mgn_run_program({"-i", model, "-o", "b.msh", "-y", "3", "-x", "b.vtk"}, dir);
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(a.err, "");
  for (const char* stage : {"Input data analyzed", "Octree built", "Curves discretized", "Discretization done",
                            "Output data printed", "Program finished"})
    EXPECT_TRUE(contains(a.out, stage)) << stage;
  EXPECT_TRUE(std::regex_search(a.out, std::regex("Number of nodes: +[0-9]+ \\(FE\\) +[0-9]+ \\(total\\)\n"
                                                  "Number of edges: +[0-9]+ \\(FE\\) +[0-9]+ \\(total\\)\n\n")))
      << a.out;
  EXPECT_FALSE(contains(a.out, "Number of trias"));
  const std::string mesh = mgn_read_file(dir + "/a.msh");
  EXPECT_EQ(first_line(mesh), "         7         1         0         0");
  EXPECT_EQ(mesh, mgn_read_file(dir + "/b.msh"));
  const std::string vtk = mgn_read_file(dir + "/a.vtk");
  EXPECT_EQ(vtk.rfind("# vtk DataFile Version", 0), 0u) << first_line(vtk);
  EXPECT_EQ(vtk, mgn_read_file(dir + "/b.vtk"));
}

// Header of the mesh file and the profile lines follow the options.
TEST(EndToEnd, MeshTypeRenumberingAndProfile) {
  struct Case {
    std::vector<std::string> options;
    std::string header;
    bool profile;
  };
  const Case cases[] = {
      {{}, "         7         1         0         0", false},
      {{"-H"}, "         3         1         0         0", false},
      {{"-r", "5"}, "         7         1         1         0", true},
      {{"-r", "1", "-k", "2"}, "         7         2         1         0", true},
  };
  const std::string model = std::string(MGN_EXAMPLES) + "/wire.mgn";
  for (const Case& c : cases) {
    const std::string dir = mgn_temp_dir();
    std::vector<std::string> args = {"-i", model, "-o", "m.msh"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    mgn_run_result r = mgn_run_program(args, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(first_line(mgn_read_file(dir + "/m.msh")), c.header);
    EXPECT_EQ(std::regex_search(r.out, std::regex("\nNominal profile: +[0-9]+ \\(old\\) +[0-9]+ \\(new\\)\n\n")),
              c.profile)
        << r.out;
  }
}

// A fatal manipulation error while meshing, with an output file named,
// writes the mesh made so far before the process ends.
TEST(EndToEnd, TooCloseVerticesWritePartialMesh) {
  const std::string dir = mgn_temp_dir();
  mgn_run_result r =
      mgn_run_program({"-i", std::string(MGN_TEST_MODELS) + "/too_close.mgn", "-o", "part.msh"}, dir);
  EXPECT_EQ(r.status, 10);
  EXPECT_TRUE(contains(r.err, "Vertices 1 and 2 on curve 1 are too close to each other\n")) << r.err;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("Tmp output data printed  " + kTime + "\nProgram terminated       " +
                                                  kTime + "\n\n$")))
      << r.out;
  const std::string mesh = mgn_read_file(dir + "/part.msh");
  EXPECT_EQ(first_line(mesh), "         7         1         0         0");
  EXPECT_TRUE(contains(mesh, "    2         2         0\n")) << "curve 2 edges expected";

  // Without an output file only the report is printed.
  mgn_run_result plain = mgn_run_program({"-i", std::string(MGN_TEST_MODELS) + "/too_close.mgn"}, dir);
  EXPECT_EQ(plain.status, 10);
  EXPECT_FALSE(contains(plain.out, "Tmp output data printed"));
}

}  // namespace

namespace {

TEST(Preparation, WeakMirrorWarnsOfPossibleQualityDegradation) {
  const std::string base = "vertex 1 xyz 0 0 0 size 1\nvertex 2 xyz 1 0 0 size 1\nvertex 3 xyz 2 0 0 size 1\n"
                           "curve 1 vertex 1 2\n";
  struct Case {
    std::string curve;
    bool warned;
  };
  const Case cases[] = {{"curve 2 vertex 2 3 weak mirror 1\n", true},
                        {"curve 2 vertex 2 3 mirror 1\n", false},
                        {"curve 2 vertex 2 3\n", false}};
  for (const Case& c : cases) {
    const std::string dir = mgn_temp_dir();
    mgn_write_file(dir + "/m.mgn", base + c.curve);
    mgn_run_result r = mgn_run_program({"-i", "m.mgn"}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(contains(r.err, "Warning: Possible element quality degradation\n"
                              "         due to curve/surface/patch/shell mirroring\n"),
              c.warned)
        << c.curve << r.err;
  }
}

}  // namespace

namespace {

// Equidistant spacing is a request of mapped meshing; a surface meshed by
// the triangulation (or by free quads) drops it with a warning.
TEST(Preparation, EquidistantRequestOfUnstructuredSurfaceIsDropped) {
  std::string model = mgn_read_file(std::string(MGN_TEST_MODELS) + "/square.mgn");
  const std::size_t at = model.find("\nsurface 1 ");
  ASSERT_NE(at, std::string::npos);
  const std::size_t end = model.find('\n', at + 1);
  model.insert(end, " equidistant");
  const std::string dir = mgn_temp_dir();
  mgn_write_file(dir + "/m.mgn", model);
  mgn_run_result r = mgn_run_program({"-i", "m.mgn", "-u", "2"}, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.err, "Warning: Equidistant request on unstructured surface 1 ignored\n")) << r.err;
}

// Mapped quad meshing is not available: a surface, patch or shell with
// QUAD and MAP YES is meshed with free quads (smoothed like any quad mesh),
// after a counted warning that names it.
TEST(Preparation, MappedQuadRequestGivesFreeQuadsWithAWarning) {
  struct Case {
    const char* model;
    const char* line;  // the start of the entity's line
    const char* size;
    const char* warning;
  };
  const Case cases[] = {
      {"square.mgn", "surface 1 ", "2.5", "Warning: Mapped meshing of surface 1 not available: free quads used\n"},
      {"plate_three_holes.mgn", "patch 1 ", "1", "Warning: Mapped meshing of patch 1 not available: free quads used\n"},
      {"cylinder_window_shell.mgn", "shell 1 ", "0.5",
       "Warning: Mapped meshing of shell 1 not available: free quads used\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    std::string model = mgn_read_file(std::string(MGN_TEST_MODELS) + "/" + c.model);
    const std::size_t at = model.find(std::string("\n") + c.line);
    ASSERT_NE(at, std::string::npos);
    std::size_t end = model.find('\n', at + 1);
    if (const std::size_t comment = model.find('#', at); comment < end) end = comment;
    model.insert(end, " quad map yes");
    const std::string dir = mgn_temp_dir();
    mgn_write_file(dir + "/m.mgn", model);
    mgn_run_result r = mgn_run_program({"-i", "m.mgn", "-o", "m.msh", "-u", c.size}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, c.warning)) << r.err;
    EXPECT_TRUE(contains(r.out + r.err, "Altogether 1 warning has been generated")) << r.err;
    const std::size_t quads = r.out.find("Number of quads:");
    ASSERT_NE(quads, std::string::npos) << r.out;
    EXPECT_GT(std::atol(r.out.c_str() + quads + 16), 0) << r.out;
    EXPECT_FALSE(contains(r.out, "Map quads")) << r.out;
  }
}

}  // namespace

namespace {

// The closing statistics of a complete run, in their order and widths: the
// counts, the profile, the time and the memory (in kB, never 0 once records
// were allocated), and nothing after the final empty line.
TEST(RunSequence, ClosingStatisticsInOrderAndWidths) {
  const std::string dir = mgn_temp_dir();
  const mgn_run_result r = mgn_run_program({"-i", std::string(MGN_EXAMPLES) + "/wire.mgn", "-r", "1"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m,
                                std::regex("Program finished         " + kTime +
                                           "\n\n"
                                           "Number of nodes:    [ 0-9]{8} \\(FE\\)  [ 0-9]{8} \\(total\\)\n"
                                           "Number of edges:    [ 0-9]{8} \\(FE\\)  [ 0-9]{8} \\(total\\)\n\n"
                                           "Nominal profile: [ 0-9]{11} \\(old\\) [ 0-9]{10} \\(new\\)\n\n"
                                           "Real time consumed     [ 0-9]{10} sec\n"
                                           "Memory consumed      ([ 0-9]{12}) kB\n\n$")))
      << r.out;
  EXPECT_GT(std::stol(m[1].str()), 0);
}

// A triangulated surface with renumbering, node data and neighbours: two
// runs give the same files byte for byte (nothing depends on addresses).
TEST(EndToEnd, SurfaceMeshRerunsAreIdentical) {
  const std::string dir = mgn_temp_dir();
  const std::string model = std::string(MGN_TEST_MODELS) + "/sphere_octant.mgn";
  for (const char* name : {"a", "b"}) {
    const std::string base = name;
    mgn_run_result r = mgn_run_program({"-i", model, "-d", "0.15", "-r", "1", "-p", "127", "-o", base + ".msh", "-y",
                                        "3", "-z", "2", "-x", base + ".vtk"},
                                       dir);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const std::string mesh = mgn_read_file(dir + "/a.msh");
  ASSERT_FALSE(mesh.empty());
  EXPECT_TRUE(mesh == mgn_read_file(dir + "/b.msh"));
  const std::string vtk = mgn_read_file(dir + "/a.vtk");
  ASSERT_FALSE(vtk.empty());
  EXPECT_TRUE(vtk == mgn_read_file(dir + "/b.vtk"));
}

}  // namespace

namespace {

// "Output data printed" follows the files actually written: the mesh file
// of -o, the graphics file of -x only with a graphics type.
TEST(EndToEnd, OutputDataPrintedOnlyWhenAFileIsWritten) {
  struct Case {
    std::vector<std::string> options;
    bool printed;
    std::vector<const char*> files;
  };
  const Case cases[] = {
      {{}, false, {}},
      {{"-x", "g.vtk"}, false, {}},
      {{"-y", "3", "-x", "g.vtk"}, true, {"g.vtk"}},
      {{"-o", "m.msh"}, true, {"m.msh"}},
  };
  for (const Case& c : cases) {
    const std::string dir = mgn_temp_dir();
    std::vector<std::string> args = {"-i", std::string(MGN_EXAMPLES) + "/wire.mgn"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const mgn_run_result r = mgn_run_program(args, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(contains(r.out, "Output data printed"), c.printed) << args.size();
    for (const char* file : {"g.vtk", "m.msh"}) {
      const bool wanted = std::find(c.files.begin(), c.files.end(), std::string(file)) != c.files.end();
      EXPECT_EQ(!mgn_read_file(dir + "/" + file).empty(), wanted) << file;
    }
  }
}

}  // namespace
