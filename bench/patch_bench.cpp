// Patch triangulation benchmark: a square plate 10 x 10 with a grid of
// 10 x 10 circular holes (each a loop of four rational quarter arcs), meshed
// as one patch with a uniform size at three sizes of about ten thousand, a
// hundred thousand and a million triangles.  Each size runs in a process of
// its own so that the memory peaks belong to that run.  Printed per size:
// triangles, seconds of the meshing driver (curves, triangulation and
// smoothing; wall clock, and the processor time beside it, which a shared
// machine leaves undisturbed), triangles per second, microseconds per triangle (flat across
// the sizes when the mesher is linear), the listing memory peak per
// triangle (the whole run, and the part added by the meshing), the peak
// resident memory per triangle and the mean and worst triangle quality.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "discret.h"
#include "input.h"
#include "list.h"
#include "octree1.h"
#include "patch.h"
#include "quality.h"
#include "records.h"

namespace {

// The plate and its holes: hole (i, j) of radius 0.3 is centred in cell
// (i, j) of the 10 x 10 unit cells of the plate, at (0.5 + i, 0.5 + j).
std::string plate_model() {
  std::string text =
      "vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 10 10 0\nvertex 4 xyz 0 10 0\n"
      "curve 1 vertex 1 2\ncurve 2 vertex 2 3\ncurve 3 vertex 3 4\ncurve 4 vertex 4 1\n";
  std::string holes;
  const double r = 0.3;
  const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, 1, 0, -1};
  long id = 10;
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 10; ++j, id += 10) {
      const double cx = 0.5 + i, cy = 0.5 + j;
      char line[256];
      for (int k = 0; k < 4; ++k) {
        std::snprintf(line, sizeof line, "vertex %ld xyz %.17g %.17g 0\n", id + k, cx + r * dx[k], cy + r * dy[k]);
        text += line;
      }
      for (int k = 0; k < 4; ++k) {
        const int n = (k + 1) % 4;
        std::snprintf(line, sizeof line,
                      "curve %ld vertex %ld %ld order 3\npolygon 1 xyz %.17g %.17g 0 weight 0.70710678118654752440\n",
                      id + k, id + k, id + n, cx + r * (dx[k] + dx[n]), cy + r * (dy[k] + dy[n]));
        text += line;
        holes += " -" + std::to_string(id + k);
      }
    }
  return text + "patch 1 normal 0 0 1 boundary curve 1 2 3 4 boundary curve" + holes + "\n";
}

void run(double size) {
  mgn_set = mgn_settings{};
  mgn_set.quiet = true;
  mgn_set.uniform_size = mgn_set.default_size = size;
  const std::string path = "/tmp/mgn_patch_bench_" + std::to_string(getpid()) + ".mgn";
  if (FILE* f = std::fopen(path.c_str(), "w")) {
    std::fputs(plate_model().c_str(), f);
    std::fclose(f);
  }
  mgn_set.input_file_name = path;
  mgn_build_model_from_file();
  std::remove(path.c_str());
  mgn_build_octree();
  const std::size_t before = mgn_listing_memory();
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpu_start = std::clock();
  mgn_discretize_model();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  const mgn_patch* p = mgn_find_patch(1);
  const long triangles = p->mesh.face_count;
  double sum = 0.0, worst = 1.0;
  long k = 0;
  for (mgn_face** f : mgn_listing_range<mgn_face*>(p->mesh.faces)) {
    if (k++ >= triangles) break;
    const double q = mgn_get_triangle_quality((*f)->n[0]->xyz, (*f)->n[1]->xyz, (*f)->n[2]->xyz);
    sum += q;
    worst = std::min(worst, q);
  }
  const double peak = static_cast<double>(mgn_listing_memory_peak());
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double resident = 1024.0 * static_cast<double>(usage.ru_maxrss);  // kilobytes on Linux
  std::printf("size %-8.5f %9ld triangles  %7.3f s (cpu %7.3f s)  %9.0f triangles/s  %6.2f us/triangle  "
              "peak %6.1f B/triangle (meshing %6.1f, resident %6.1f)  quality mean %.4f worst %.3f\n",
              size, triangles, seconds, cpu, triangles / seconds, 1e6 * seconds / triangles, peak / triangles,
              (peak - static_cast<double>(before)) / triangles, resident / triangles, sum / triangles, worst);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  // Argument: a size (one run).
  if (argc > 1) {
    run(std::atof(argv[1]));
    return 0;
  }
  // About 10 thousand, 100 thousand and 1 million triangles (the plate
  // without its holes is about 71.7 square units).
  for (double size : {0.125, 0.0395, 0.0125}) {
    const pid_t pid = fork();
    if (pid == 0) {
      run(size);
      std::_Exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("size %g: run failed (status %d)\n", size, status);
  }
  return 0;
}
