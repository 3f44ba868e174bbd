// Quad meshing benchmark: the run sequence of the program (options, model,
// octree, discretization, quality and renumbering, mesh file) in the
// benchmark's process on one surface with a QUAD request, at a uniform size:
//
//   square  the flat unit square (bilinear surface)
//   octant  the octant of the unit sphere (rational biquadratic surface
//           with its pole side collapsed into a vertex)
//
// each at about 10 thousand, 100 thousand and 1 million quads.  Times are
// CPU seconds of the process (the machine is shared: wall time would measure
// the other users).  Printed per run: quads and triangles left, CPU seconds
// of the meshing (curves, quad front, pairing and clean-up, smoothing) and of
// the whole run, quads per CPU second of both, microseconds per quad, the
// peak resident memory of the process per quad, the share of the area in
// quads and the printed mean quad quality (arithmetic and worst).  Each run
// is a process of its own, so that its peak belongs to it alone.
//
// The topology of the quad mesh is summed up by its irregular interior
// nodes: nodes inside a surface, patch or shell with other than four
// element edges (valency 3 and 5 or more).
//
//   quad_bench                    both surfaces at the three sizes
//   quad_bench square|octant SIZE [...]   one surface at each SIZE
//   quad_bench file MODEL [OPTION ...]    the model file with the options
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "discret.h"
#include "input.h"
#include "list.h"
#include "octree.h"
#include "octree1.h"
#include "option.h"
#include "output.h"
#include "program_run.h"
#include "quality.h"
#include "records.h"
#include "renum.h"
#include "vec3.h"

namespace {

const char* kSquare =
    "vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\nvertex 3 xyz 1 1 0\nvertex 4 xyz 0 1 0\n"
    "curve 1 vertex 1 2\ncurve 2 vertex 1 4\ncurve 3 vertex 4 3\ncurve 4 vertex 2 3\n"
    "surface 1 curve 1 2 3 4 quad\n";

// Quarter circles of weight cos(45 degrees); the net's middle point has
// the product weight 1/2.
const char* kOctant =
    "vertex 1 xyz 1 0 0\nvertex 2 xyz 0 1 0\nvertex 3 xyz 0 0 1\n"
    "curve 1 vertex 1 2 order 3\npolygon 1 xyz 1 1 0 weight 0.70710678118654752\n"
    "curve 2 vertex 1 3 order 3\npolygon 1 xyz 1 0 1 weight 0.70710678118654752\n"
    "curve 4 vertex 2 3 order 3\npolygon 1 xyz 0 1 1 weight 0.70710678118654752\n"
    "curve 3 vertex 3 3 order 3\npolygon 1 xyz 0 0 1 weight 0.70710678118654752\n"
    "surface 1 curve 1 2 3 4 quad\npolygon 1 1 xyz 1 1 1 weight 0.5\n";

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double triangle_area(const double* a, const double* b, const double* c) {
  double ab[3], ac[3], n[3];
  mgn_sub(b, a, ab);
  mgn_sub(c, a, ac);
  mgn_cross(ab, ac, n);
  return 0.5 * mgn_norm(n);
}

template <typename T>
double listing_area(mgn_listing* listing, int corners) {
  double area = 0.0;
  for (T** ref : mgn_listing_range<T*>(mgn_get_first_listing_block(listing))) {
    const T* e = *ref;
    if (e == nullptr || e->id == 0) continue;
    area += triangle_area(e->n[0]->xyz, e->n[1]->xyz, e->n[2]->xyz);
    if (corners == 4) area += triangle_area(e->n[0]->xyz, e->n[2]->xyz, e->n[3]->xyz);
  }
  return area;
}

// Interior nodes of surfaces, patches and shells by their number of
// element edges (in the collected quads and triangles).
std::map<int, long> interior_valencies() {
  std::map<const mgn_node*, std::set<const mgn_node*>> around;
  auto add = [&](mgn_node* const* n, int count) {
    for (int i = 0; i < count; ++i) {
      around[n[i]].insert(n[(i + 1) % count]);
      around[n[(i + 1) % count]].insert(n[i]);
    }
  };
  for (mgn_quad** ref : mgn_listing_range<mgn_quad*>(mgn_get_first_listing_block(mgn_mesh.fe_quads)))
    if (*ref != nullptr && (*ref)->id != 0) add((*ref)->n, 4);
  for (mgn_face** ref : mgn_listing_range<mgn_face*>(mgn_get_first_listing_block(mgn_mesh.fe_faces)))
    if (*ref != nullptr && (*ref)->id != 0) add((*ref)->n, 3);
  std::map<int, long> count;
  for (const auto& [node, others] : around)
    if (node->kind == MGN_SURFACE || node->kind == MGN_PATCH || node->kind == MGN_SHELL)
      ++count[static_cast<int>(others.size())];
  return count;
}

void run(const std::string& shape, const std::string& size, const std::vector<std::string>& options = {}) {
  const double process_start = cpu_seconds();
  const std::string base = "/tmp/mgn_quad_bench_" + std::to_string(getpid());
  const bool from_file = shape == "file";
  const std::string input = from_file ? size : base + ".mgn", output = base + ".mgnmesh";
  if (!from_file) std::ofstream(input) << (shape == "octant" ? kOctant : kSquare);
  std::vector<std::string> arguments = {"mgn", "-Q", "-i", input, "-o", output};
  if (!from_file) arguments.insert(arguments.end(), {"-u", size});
  arguments.insert(arguments.end(), options.begin(), options.end());
  const int figures = mgn_bench_start_program_run(arguments);
  if (figures < 0) return;
  mgn_build_model_from_file();
  if (!from_file) std::remove(input.c_str());

  mgn_build_octree();
  double start = cpu_seconds();
  mgn_discretize_model();
  const double meshing = cpu_seconds() - start;
  const double quad_area = listing_area<mgn_quad>(mgn_mesh.fe_quads, 4);
  const double tria_area = listing_area<mgn_face>(mgn_mesh.fe_faces, 3);
  start = cpu_seconds();
  mgn_evaluate_quality();
  mgn_renumber_mesh();
  const double numbering = cpu_seconds() - start;
  start = cpu_seconds();
  mgn_store_mesh_on_file();
  const double writing = cpu_seconds() - start;
  std::remove(output.c_str());
  const double whole = cpu_seconds() - process_start;

  mgn_bench_end_program_run(figures);
  const long quads = mgn_run.quads.fe, trias = mgn_run.trias.fe;
  const mgn_quality_acc& q = mgn_quality.quad;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double resident = 1024.0 * static_cast<double>(usage.ru_maxrss);  // kilobytes on Linux
  std::printf("%-6s size %-8s %8ld quads %4ld trias  meshing %7.3f s %8.0f quads/s (%5.2f us/quad)  "
              "whole %7.3f s %8.0f quads/s (quality+numbering %5.3f s, writing %5.3f s)  "
              "peak %6.1f B/quad  quad area %6.2f %%  quality mean %.4f worst %.3f\n",
              shape.c_str(), size.c_str(), quads, trias, meshing, quads / meshing, 1e6 * meshing / quads, whole,
              quads / whole, numbering, writing, resident / quads,
              100.0 * quad_area / (quad_area + tria_area), q.count > 0 ? q.sum / q.count : 0.0, q.worst);
  long interior = 0, irregular = 0;
  std::string valencies;
  for (const auto& [valency, nodes] : interior_valencies()) {
    interior += nodes;
    if (valency != 4) irregular += nodes;
    char item[48];
    std::snprintf(item, sizeof item, " %d:%ld", valency, nodes);
    valencies += item;
  }
  std::printf("       interior nodes %ld, irregular %ld (%.2f %%), by valency%s\n", interior, irregular,
              interior > 0 ? 100.0 * irregular / interior : 0.0, valencies.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::pair<std::string, std::string>> runs;
  std::vector<std::string> options;
  if (argc > 2 && std::string(argv[1]) == "file") {
    runs.emplace_back(argv[1], argv[2]);
    options.assign(argv + 3, argv + argc);
  } else if (argc > 2) {
    for (int k = 2; k < argc; ++k) runs.emplace_back(argv[1], argv[k]);
  } else {
    // About 10 thousand, 100 thousand and 1 million quads: the unit square
    // holds 1/h^2 of them, the octant (area pi/2) 1.57/h^2.
    for (const char* size : {"0.01", "0.00316", "0.001"}) runs.emplace_back("square", size);
    for (const char* size : {"0.0125", "0.00396", "0.00125"}) runs.emplace_back("octant", size);
  }
  for (const auto& [shape, size] : runs) {
    const pid_t pid = fork();
    if (pid == 0) {
      run(shape, size, options);
      std::_Exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      std::printf("%s size %s: run failed (status %d)\n", shape.c_str(), size.c_str(), status);
  }
  return 0;
}
