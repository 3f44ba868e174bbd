// Graphics output: dispatcher conditions, VTK structure (points, cells, cell
// types, interface elements left out, contours, grey table, incomplete mesh),
// VRML and ombrax files, opening failure; a VTK reader cross-check when one
// is installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "element.h"
#include "list.h"
#include "message.h"
#include "octree.h"
#include "output1.h"
#include "renum.h"
#include "support.h"

namespace {

class Graphics : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = mgn_set;
    saved_run_ = mgn_run;
    mgn_reset_mesh_store();
    mgn_create_mesh_store(0);
    mgn_set.renumbering_type = 0;
    mgn_set.output_spec = 0;
    mgn_set.element_degree = 1;
    mgn_set.numbering_shift = {0, 0};
    mgn_set.graphics_type = 3;
    mgn_set.graphics_spec = 0;
    dir_ = mgn_temp_dir();
    mgn_set.graphics_file_name = dir_ + "/mesh.vtk";
    mgn_run.discretization_done = true;
    mgn_tree.root_size = 10.0;
    curve_.id = 4;
    surface_.id = 3;
    region_.id = 8;
  }
  void TearDown() override {
    mgn_reset_mesh_store();
    mgn_set = saved_;
    mgn_run = saved_run_;
    mgn_tree.root_size = 0.0;
  }
  // Five nodes; an edge, a triangle and a tetra, plus an interface edge and
  // an interface wedge that are not drawn.
  void build() {
    const double p[5][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
    for (int i = 0; i < 5; ++i) n_[i] = mgn_create_node(p[i], nullptr, MGN_REGION, &region_, &mgn_mesh.fe_nodes);
    mgn_create_edge(n_[0], n_[1], MGN_CURVE, &curve_, &mgn_mesh.fe_edges);
    mgn_create_edge(n_[3], n_[4], MGN_INTERFACE, &interface_, &mgn_mesh.fe_edges);
    mgn_create_face(n_[0], n_[1], n_[2], MGN_SURFACE, &surface_, &mgn_mesh.fe_faces, nullptr, false);
    mgn_create_tetra(n_[0], n_[1], n_[2], n_[3], &region_, &mgn_mesh.fe_tetras);
    mgn_node* w[6] = {n_[0], n_[1], n_[2], n_[3], n_[4], n_[4]};
    mgn_create_wedge(w, MGN_INTERFACE, &interface_, &mgn_mesh.fe_wedges);
    mgn_renumber_mesh();
  }
  std::string file() const { return mgn_read_file(mgn_set.graphics_file_name); }
  mgn_settings saved_;
  mgn_run_state saved_run_;
  std::string dir_;
  mgn_curve curve_;
  mgn_surface surface_;
  mgn_region region_;
  mgn_interface interface_;
  mgn_node* n_[5] = {};
};

const std::string vtk_mesh =
    "# vtk DataFile Version 2.0\n"
    "# Mgn - mesh generator\n"
    "ASCII\n"
    "DATASET UNSTRUCTURED_GRID\n"
    "POINTS 5 float\n"
    "0 0 0\n"
    "1 0 0\n"
    "0 1 0\n"
    "0 0 1\n"
    "1 1 1\n"
    "CELLS 3 12\n"
    "2 0 1\n"
    "3 0 1 2\n"
    "4 0 1 2 3\n"
    "CELL_TYPES 3\n"
    "3\n"
    "5\n"
    "10\n";

TEST_F(Graphics, VtkPointsCellsAndTypesLeaveInterfaceElementsOut) {
  build();
  EXPECT_EQ(mgn_store_graphics(), 1);
  EXPECT_EQ(file(), vtk_mesh);
}

TEST_F(Graphics, PointIndicesDoNotDependOnTheShift) {
  mgn_set.numbering_shift = {100, 1000};
  build();
  EXPECT_EQ(n_[0]->id, 101);
  EXPECT_EQ(mgn_store_graphics(), 1);
  EXPECT_EQ(file(), vtk_mesh);
}

TEST_F(Graphics, RenumberedPointsFollowTheNewNumbers) {
  mgn_set.renumbering_type = 1;
  ::testing::internal::CaptureStdout();
  build();
  ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(mgn_store_graphics(), 1);
  std::istringstream in(file());
  std::string line;
  for (int k = 0; k < 5; ++k) std::getline(in, line);
  // Point k is the node numbered k + 1.
  for (int k = 0; k < 5; ++k) {
    std::getline(in, line);
    const mgn_node* node = nullptr;
    for (mgn_node* n : n_)
      if (n->id == k + 1) node = n;
    ASSERT_NE(node, nullptr);
    std::ostringstream expected;
    expected << node->xyz[0] << " " << node->xyz[1] << " " << node->xyz[2];
    EXPECT_EQ(line, expected.str()) << k;
  }
}

struct contour_case {
  const char* name;
  int spec;
  float sizes[5];
  std::vector<std::string> values;
  const char* table;
};

TEST_F(Graphics, SizeContours) {
  const contour_case cases[] = {
      {"uniform", 2, {1, 1, 1, 1, 1}, {"0.5", "0.5", "0.5", "0.5", "0.5"}, "LOOKUP_TABLE default\n"},
      {"range", 2, {1, 3, 2, 5, 1}, {"0", "0.5", "0.25", "1", "0"}, "LOOKUP_TABLE default\n"},
      {"reverted", 6, {1, 3, 2, 5, 1}, {"1", "0.5", "0.75", "0", "1"}, "LOOKUP_TABLE default\n"},
      {"grey", 10, {1, 3, 2, 5, 1}, {"0", "0.5", "0.25", "1", "0"}, "LOOKUP_TABLE bw\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    mgn_set.graphics_spec = c.spec;
    build();
    for (int i = 0; i < 5; ++i) n_[i]->size = c.sizes[i];
    ASSERT_EQ(mgn_store_graphics(), 1);
    std::string expected = vtk_mesh + "POINT_DATA 5\nSCALARS iso float\n" + c.table;
    for (const auto& v : c.values) expected += v + "\n";
    if (c.spec & 8) {
      expected += "LOOKUP_TABLE bw 11\n"
                  "0.0909091 0.0909091 0.0909091 1\n"
                  "0.181818 0.181818 0.181818 1\n"
                  "0.272727 0.272727 0.272727 1\n"
                  "0.363636 0.363636 0.363636 1\n"
                  "0.454545 0.454545 0.454545 1\n"
                  "0.545455 0.545455 0.545455 1\n"
                  "0.636364 0.636364 0.636364 1\n"
                  "0.727273 0.727273 0.727273 1\n"
                  "0.818182 0.818182 0.818182 1\n"
                  "0.909091 0.909091 0.909091 1\n"
                  "1 1 1 1\n";
    }
    EXPECT_EQ(file(), expected);
  }
}

TEST_F(Graphics, IncompleteMeshWritesHeaderAndWarns) {
  build();
  mgn_run.discretization_done = false;
  long warnings = mgn_warning_count;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(mgn_store_graphics(), 1);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Warning: VTK graphics output of incomplete mesh not supported\n");
  EXPECT_EQ(mgn_warning_count, warnings + 1);
  EXPECT_EQ(file(), "# vtk DataFile Version 2.0\n# Mgn - mesh generator\nASCII\nDATASET UNSTRUCTURED_GRID\n");
}

TEST_F(Graphics, NothingWithoutNameTypeOrNodes) {
  build();
  mgn_set.graphics_type = 0;
  EXPECT_EQ(mgn_store_graphics(), 0);
  mgn_set.graphics_type = 3;
  mgn_set.graphics_file_name.clear();
  EXPECT_EQ(mgn_store_graphics(), 0);
  EXPECT_EQ(mgn_store_graphics_vtk(), 0);
  EXPECT_EQ(mgn_store_graphics_vrml(), 0);
  EXPECT_EQ(mgn_store_graphics_ombrax(), 0);
  mgn_set.graphics_file_name = dir_ + "/none.vtk";
  mgn_run.nodes.total = 0;
  EXPECT_EQ(mgn_store_graphics(), 0);
  EXPECT_EQ(mgn_read_file(dir_ + "/none.vtk"), "");
}

TEST_F(Graphics, OpeningFailureIsAFileError) {
  build();
  mgn_set.graphics_file_name = dir_ + "/missing/mesh.vtk";
  EXPECT_EXIT(mgn_store_graphics(), ::testing::ExitedWithCode(20), "Output file .*/missing/mesh.vtk opening error");
}

TEST_F(Graphics, FailedWriteIsAnOutputError) {
  build();
  mgn_set.graphics_file_name = "/dev/full";
  EXPECT_EXIT(mgn_store_graphics(), ::testing::ExitedWithCode(30), "Output error \\(file /dev/full");
}

long count_of(const std::string& text, const std::string& word) {
  long n = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

TEST_F(Graphics, VrmlSharesOneCoordinateNode) {
  mgn_set.graphics_type = 2;
  mgn_set.graphics_spec = 2;
  mgn_set.graphics_file_name = dir_ + "/mesh.wrl";
  build();
  mgn_add_item_to_head(mgn_model.curves.list, &curve_);
  mgn_add_item_to_head(mgn_model.surfaces.list, &surface_);
  mgn_add_item_to_head(mgn_model.regions.list, &region_);
  ASSERT_EQ(mgn_store_graphics(), 1);
  mgn_destroy_list(mgn_model.curves.list);
  mgn_destroy_list(mgn_model.surfaces.list);
  mgn_destroy_list(mgn_model.regions.list);
  std::string text = file();
  EXPECT_EQ(text.rfind("#VRML V2.0 utf8\n", 0), 0u);
  EXPECT_NE(text.find("fieldOfView 0.785398"), std::string::npos);
  EXPECT_NE(text.find("description \"Default View\""), std::string::npos);
  EXPECT_NE(text.find("type [ \"EXAMINE\", \"FLY\" ]"), std::string::npos);
  EXPECT_EQ(count_of(text, "DEF mgn_coordinates"), 1);
  EXPECT_EQ(count_of(text, "USE mgn_coordinates"), 2);
  EXPECT_EQ(count_of(text, "DEF mgn_colors"), 1);
  EXPECT_EQ(count_of(text, "USE mgn_colors"), 2);
  EXPECT_EQ(count_of(text, "IndexedLineSet"), 1);  // the curve
  EXPECT_EQ(count_of(text, "IndexedFaceSet"), 2);  // the surface and the region outline
  EXPECT_EQ(count_of(text, "{"), count_of(text, "}"));
  EXPECT_EQ(count_of(text, "["), count_of(text, "]"));
  // The region outline is the four faces of its tetra.
  EXPECT_EQ(count_of(text.substr(text.find("# region 8")), "-1,"), 4);
}

TEST_F(Graphics, OmbraxRecordsEveryNodeAndElement) {
  mgn_set.graphics_type = 1;
  mgn_set.graphics_file_name = dir_ + "/mesh.omx";
  build();
  ASSERT_EQ(mgn_store_graphics(), 1);
  std::string text = file();
  EXPECT_EQ(text.rfind("# ombrax graphics format, version 1\n", 0), 0u);
  EXPECT_EQ(count_of(text, "\nn "), 5);
  EXPECT_NE(text.find("\ne 1 1 2 4 \"curve 4\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nt 3 1 2 3 3 \"surface 3\"\n"), std::string::npos);
  EXPECT_NE(text.find("\nT 4 1 2 3 4 8 \"region 8\"\n"), std::string::npos);
  EXPECT_NE(text.find("\nW 5 "), std::string::npos);
}

// A VTK reader (meshio, when installed) loads the file with the right
// counts.
TEST_F(Graphics, VtkFileLoadsInAReader) {
  std::string python;
  for (const char* candidate : {"python3", "/usr/bin/python3"})
    if (std::system((std::string(candidate) + " -c 'import meshio' >/dev/null 2>&1").c_str()) == 0) {
      python = candidate;
      break;
    }
  if (python.empty()) GTEST_SKIP() << "meshio not installed";
  mgn_set.graphics_spec = 10;  // contours with the grey table
  build();
  ASSERT_EQ(mgn_store_graphics(), 1);
  const std::string script = dir_ + "/read.py";
  mgn_write_file(script,
                 "import sys, meshio\n"
                 "m = meshio.read(sys.argv[1])\n"
                 "cells = {c.type: len(c.data) for c in m.cells}\n"
                 "print(len(m.points), cells.get('line', 0), cells.get('triangle', 0), cells.get('tetra', 0),\n"
                 "      [float(v) for v in m.point_data['iso'].ravel()])\n");
  const std::string result = dir_ + "/result.txt";
  ASSERT_EQ(std::system((python + " " + script + " " + mgn_set.graphics_file_name + " > " + result + " 2>&1").c_str()), 0)
      << mgn_read_file(result);
  EXPECT_EQ(mgn_read_file(result), "5 1 1 1 [0.5, 0.5, 0.5, 0.5, 0.5]\n");
}

}  // namespace

namespace {

// The program's VTK file read back by a VTK reader (meshio, when installed):
// as many points, lines and triangles as the run reports, contour values in
// [0, 1], every value 0.5 for a uniform size field (-u) and the whole range
// used for a graded one.
TEST(GraphicsOfTheProgram, VtkFileReadsBackWithTheReportedCounts) {
  std::string python;
  for (const char* candidate : {"/usr/bin/python3", "python3"})
    if (std::system((std::string(candidate) + " -c 'import meshio' >/dev/null 2>&1").c_str()) == 0) {
      python = candidate;
      break;
    }
  if (python.empty()) GTEST_SKIP() << "meshio not installed";
  struct Case {
    const char* name;
    std::string model;
    std::vector<std::string> options;
    const char* contours;  // smallest and largest value read back
  };
  const std::string models = MGN_TEST_MODELS;
  const Case cases[] = {
      {"uniform square", models + "/square.mgn", {"-u", "2", "-z", "2"}, "0.5 0.5"},
      {"uniform square renumbered, grey", models + "/square.mgn", {"-u", "2", "-r", "1", "-z", "10"}, "0.5 0.5"},
      {"graded wire", std::string(MGN_EXAMPLES) + "/wire.mgn", {"-z", "6"}, "0.0 1.0"},
      {"sphere octant by curvature", models + "/sphere_octant.mgn", {"-d", "0.5", "-c", "0.2", "-z", "2"}, "0.0 1.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = mgn_temp_dir();
    std::vector<std::string> args = {"-i", c.model, "-y", "3", "-x", "mesh.vtk"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const mgn_run_result r = mgn_run_program(args, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    // The finite-element counts the run printed.
    auto reported = [&r](const std::string& label) {
      const std::size_t at = r.out.find("Number of " + label + ":");
      return at == std::string::npos ? 0L : std::atol(r.out.c_str() + at + 20);
    };
    const std::string script = dir + "/read.py";
    mgn_write_file(script,
                   "import sys, meshio\n"
                   "m = meshio.read(sys.argv[1])\n"
                   "cells = {}\n"
                   "for block in m.cells: cells[block.type] = cells.get(block.type, 0) + len(block.data)\n"
                   "iso = m.point_data['iso'].ravel()\n"
                   "print(len(m.points), cells.get('line', 0), cells.get('triangle', 0), len(cells),\n"
                   "      len(iso), float(iso.min()), float(iso.max()))\n");
    const std::string result = dir + "/result.txt";
    ASSERT_EQ(std::system((python + " " + script + " " + dir + "/mesh.vtk > " + result + " 2>&1").c_str()), 0)
        << mgn_read_file(result);
    const long nodes = reported("nodes"), edges = reported("edges"), trias = reported("trias");
    ASSERT_GT(nodes, 0);
    const long kinds = (edges > 0 ? 1 : 0) + (trias > 0 ? 1 : 0);
    EXPECT_EQ(mgn_read_file(result), std::to_string(nodes) + " " + std::to_string(edges) + " " +
                                         std::to_string(trias) + " " + std::to_string(kinds) + " " +
                                         std::to_string(nodes) + " " + c.contours + "\n");
  }
}

}  // namespace

namespace {

// The polygons of one shape of a VRML file (the one headed "# <kind> <id>"):
// the point indices of each coordIndex entry.
std::vector<std::vector<long>> vrml_polygons(const std::string& text, const std::string& shape) {
  std::vector<std::vector<long>> out;
  const std::size_t begin = text.find("# " + shape + "\n");
  if (begin == std::string::npos) return out;
  const std::size_t end = text.find("Shape {", begin);
  std::istringstream in(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
  for (std::string line; std::getline(in, line);) {
    if (line.find("-1,") == std::string::npos) continue;
    std::vector<long> polygon;
    std::istringstream words(line);
    for (std::string w; words >> w && w != "-1,";) polygon.push_back(std::atol(w.c_str()));
    out.push_back(polygon);
  }
  return out;
}

// Quad meshes in the VRML file: a surface's quads are 4-point faces (closed
// 5-point lines in wireframe), and the outline of a region standing on quads
// is the pyramids' bases, one 4-point face per boundary quad.
TEST(GraphicsOfTheProgram, VrmlDrawsQuadsWithTheirFourCorners) {
  struct Case {
    const char* name;
    const char* model;
    const char* wireframe;  // -z value
    const char* shape;      // the shape whose polygons are checked
    std::size_t corners;    // points per polygon (the first repeated in wireframe)
  };
  const Case cases[] = {
      {"square faces", "square.mgn", "0", "surface 1", 4},
      {"square wireframe", "square.mgn", "1", "surface 1", 5},
      {"cube outline", "unit_cube.mgn", "0", "region 1", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = mgn_temp_dir();
    std::string text = mgn_read_file(std::string(MGN_TEST_MODELS) + "/" + c.model);
    // QUAD on every surface line.
    std::string model;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("surface ", 0) == 0) line = line.substr(0, line.find('#')) + " quad";
      model += line + "\n";
    }
    mgn_write_file(dir + "/model.mgn", model);
    const bool cube = std::string(c.model) == "unit_cube.mgn";
    const mgn_run_result r = mgn_run_program({"-i", dir + "/model.mgn", "-u", cube ? "0.5" : "2.5", "-y", "2", "-z",
                                              c.wireframe, "-x", "mesh.wrl", "-o", "mesh.msh"},
                                             dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::size_t at = r.out.find("Number of quads:");
    ASSERT_NE(at, std::string::npos) << r.out;
    const long quads = std::atol(r.out.c_str() + at + 16);
    EXPECT_EQ(quads, cube ? 24 : 16);
    const auto polygons = vrml_polygons(mgn_read_file(dir + "/mesh.wrl"), c.shape);
    EXPECT_EQ(static_cast<long>(polygons.size()), quads);
    for (const auto& p : polygons) {
      ASSERT_EQ(p.size(), c.corners);
      // Four distinct corners; a wireframe outline closes on the first.
      EXPECT_EQ(std::set<long>(p.begin(), p.begin() + 4).size(), 4u);
      if (c.corners == 5) {
        EXPECT_EQ(p.front(), p.back());
      }
    }
  }
}

}  // namespace
