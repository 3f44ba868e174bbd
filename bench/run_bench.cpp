// Whole-run benchmark of surface meshing: the run sequence of the program
// (options, model, octree, discretization, quality and renumbering, mesh
// file) in the benchmark's process, each stage timed, on the surfaces of a
// model (its REGION lines dropped) at a uniform size.  Printed per run:
// triangles, octree leaves, the CPU seconds of each stage and of the whole
// process, microseconds per triangle of the octree and of the whole run,
// and the whole-process peak resident memory per triangle.  Each run is a
// process of its own, so that its peak belongs to it alone.  With
// MGN_BENCH_STAGES set in the environment, the peak and current resident
// bytes per triangle and the processor seconds used follow after each stage
// (the octree is given back after meshing, as the program does).
//
//   run_bench                    the sphere of examples/ at about 0.1, 1
//                                and 2 million triangles
//   run_bench MODEL SIZE [...]   the surfaces of MODEL at each SIZE
//
// Run from the project root (the default model is examples/sphere.mgn).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "discret.h"
#include "input.h"
#include "octree.h"
#include "octree1.h"
#include "option.h"
#include "output.h"
#include "program_run.h"
#include "quality.h"
#include "records.h"
#include "renum.h"

namespace {

// CPU seconds of the process (the machine is shared: wall time would count
// the other users' work).
struct cpu_clock {
  static double now() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
  }
};

// The process's peak and current resident bytes (VmHWM, VmRSS) and the
// processor seconds it has used.
struct stage_figures {
  double peak = 0.0;
  double now = 0.0;
  double cpu = 0.0;
};
stage_figures resident_bytes() {
  stage_figures f;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) f.peak = 1024.0 * std::atof(line.c_str() + 6);
    if (line.rfind("VmRSS:", 0) == 0) f.now = 1024.0 * std::atof(line.c_str() + 6);
  }
  f.cpu = cpu_clock::now();
  return f;
}

double seconds_since(double start) { return cpu_clock::now() - start; }

// The leaves of the octree below the octant.
long count_leaves(const mgn_octant* octant) {
  if (octant == nullptr) return 0;
  if (octant->state != MGN_OCTANT_DIVIDED) return 1;
  long n = 0;
  for (int k = 0; k < 8; ++k) n += count_leaves(mgn_octant_child(octant, k));
  return n;
}

// The model's text without its REGION lines, written to the path.
std::string surfaces_only(const std::string& model, const std::string& path) {
  std::ifstream in(model);
  std::ostringstream text;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("region", 0) != 0 && line.rfind("REGION", 0) != 0) text << line << '\n';
  std::ofstream(path) << text.str();
  return path;
}

void run(const std::string& model, const std::string& size) {
  const auto process_start = cpu_clock::now();
  const std::string dir = "/tmp";
  const std::string input = surfaces_only(model, dir + "/mgn_run_bench_" + std::to_string(getpid()) + ".mgn");
  const std::string output = dir + "/mgn_run_bench_" + std::to_string(getpid()) + ".mgnmesh";
  const int figures = mgn_bench_start_program_run({"mgn", "-Q", "-i", input, "-u", size, "-o", output});
  if (figures < 0) return;
  mgn_build_model_from_file();
  std::remove(input.c_str());

  // Resident bytes (peak so far, now) and processor seconds after each
  // stage.
  std::vector<std::pair<const char*, stage_figures>> stages;
  stages.emplace_back("model", resident_bytes());
  auto start = cpu_clock::now();
  mgn_build_octree();
  stages.emplace_back("octree", resident_bytes());
  const double octree = seconds_since(start);
  const long leaves = count_leaves(mgn_tree.root);
  start = cpu_clock::now();
  mgn_discretize_model();
  mgn_release_octree();
  const double meshing = seconds_since(start);
  stages.emplace_back("meshing", resident_bytes());
  start = cpu_clock::now();
  mgn_evaluate_quality();
  stages.emplace_back("quality", resident_bytes());
  mgn_renumber_mesh();
  stages.emplace_back("numbering", resident_bytes());
  const double numbering = seconds_since(start);
  start = cpu_clock::now();
  mgn_store_mesh_on_file();
  const double writing = seconds_since(start);
  stages.emplace_back("writing", resident_bytes());
  std::remove(output.c_str());
  const double whole = seconds_since(process_start);

  mgn_bench_end_program_run(figures);
  const long triangles = mgn_run.trias.fe;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double resident = 1024.0 * static_cast<double>(usage.ru_maxrss);  // kilobytes on Linux
  std::printf("size %-8s %9ld triangles %9ld leaves  octree %6.3f s (%5.3f us/tri, %4.1f %%)  meshing %7.3f s  "
              "quality+numbering %6.3f s  writing %6.3f s  whole %7.3f s (%5.2f us/tri)  peak %6.1f B/tri\n",
              size.c_str(), triangles, leaves, octree, 1e6 * octree / triangles, 100.0 * octree / whole, meshing,
              numbering, writing, whole, 1e6 * whole / triangles, resident / triangles);
  if (std::getenv("MGN_BENCH_STAGES") != nullptr)
    for (const auto& [stage, f] : stages)
      std::printf("  after %-10s peak %6.1f B/tri, resident %6.1f B/tri, processor %7.3f s\n", stage,
                  f.peak / triangles, f.now / triangles, f.cpu);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string model = "examples/sphere.mgn";
  std::vector<std::string> sizes = {"0.0171", "0.0054", "0.00382"};
  if (argc > 2) {
    model = argv[1];
    sizes.assign(argv + 2, argv + argc);
  }
  for (const std::string& size : sizes) {
    const pid_t pid = fork();
    if (pid == 0) {
      run(model, size);
      std::_Exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      std::printf("size %s: run failed (status %d)\n", size.c_str(), status);
  }
  return 0;
}
