// Background mesh benchmark: the octree of the unit cube built from a
// background mesh of about a million tetras (a grid of n^3 cubes of six
// tetras each, n = 56 by default) whose sizes follow the element size and
// grow across the cube.  Reports the time of reading and refining, the
// octants made, the listing memory of the octree and the peak memory of the
// process.
//
//   bgmesh_bench [n] [file]     (file: where the mesh is written, default a
//                                temporary file, removed at the end)
#include <sys/resource.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bgmesh.h"
#include "list.h"
#include "octree.h"
#include "records.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Writes the grid mesh: node (i, j, k) at (i, j, k) / n with the size
// h (0.8 + 0.8 x) for the grid spacing h, each cube cut into six tetras
// around its diagonal from corner 0 to corner 7.
long write_grid_mesh(const std::string& path, int n) {
  FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) return -1;
  const long m = n + 1;
  const long nodes = m * m * m;
  const long tetras = 6L * n * n * n;
  std::fprintf(out, "3 1\n%ld 0 0 %ld\n", nodes, tetras);
  const double h = 1.0 / n;
  for (long k = 0; k < m; ++k) {
    for (long j = 0; j < m; ++j) {
      for (long i = 0; i < m; ++i) {
        const double x = i * h;
        std::fprintf(out, "%ld %.9g %.9g %.9g %.6g\n", 1 + i + m * (j + m * k), x, j * h, k * h,
                     h * (0.8 + 0.8 * x));
      }
    }
  }
  // The six paths from corner 0 to corner 7 of a cube, one axis at a time.
  static const int paths[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  long id = 0;
  for (long k = 0; k < n; ++k) {
    for (long j = 0; j < n; ++j) {
      for (long i = 0; i < n; ++i) {
        for (const auto& path_axes : paths) {
          long c[3] = {i, j, k};
          long v[4];
          v[0] = 1 + c[0] + m * (c[1] + m * c[2]);
          for (int s = 0; s < 3; ++s) {
            ++c[path_axes[s]];
            v[s + 1] = 1 + c[0] + m * (c[1] + m * c[2]);
          }
          std::fprintf(out, "%ld %ld %ld %ld %ld\n", ++id, v[0], v[1], v[2], v[3]);
        }
      }
    }
  }
  std::fclose(out);
  return tetras;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 56;
  const bool temporary = argc <= 2;
  const std::string path = temporary ? (std::filesystem::temp_directory_path() / "mgn_bgmesh_bench.bgm").string()
                                     : std::string(argv[2]);
  auto start = std::chrono::steady_clock::now();
  const long tetras = write_grid_mesh(path, n);
  if (tetras < 0) {
    std::fprintf(stderr, "bgmesh_bench: cannot write %s\n", path.c_str());
    return 1;
  }
  std::printf("background mesh of %ld tetras, %.1f MB, written in %.2f s\n", tetras,
              static_cast<double>(std::filesystem::file_size(path)) / 1e6, seconds_since(start));

  mgn_set.bg_mesh_file_name = path;
  const double lo[3] = {0.0, 0.0, 0.0};
  const double hi[3] = {1.0, 1.0, 1.0};
  mgn_create_root_octant(lo, hi);
  start = std::chrono::steady_clock::now();
  const std::clock_t cpu_start = std::clock();
  mgn_build_octree_bg_mesh();
  const double elapsed = seconds_since(start);
  const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  std::printf("read and refined in %.2f s (processor %.2f s, %.2f million tetras per s): %ld octants\n", elapsed,
              cpu, tetras / cpu / 1e6, mgn_tree.octant_count);
  std::printf("octree listings %.1f MB; peak resident memory of the process %.1f MB\n",
              static_cast<double>(mgn_listing_memory_peak()) / 1e6, [] {
                rusage usage{};
                getrusage(RUSAGE_SELF, &usage);
                return static_cast<double>(usage.ru_maxrss) / 1e3;
              }());
  if (temporary) std::filesystem::remove(path);
  return 0;
}
