// Region tetrahedralization benchmark: the unit cube (six bilinear
// surfaces, the region inside) meshed with a uniform size at three sizes
// of about ten thousand, a hundred thousand and a million tetras, each in a
// process of its own so that the memory peaks belong to that run.  Printed
// per size: tetras, CPU seconds of the meshing (curves, surfaces and the
// region step with its front, smoothing and repair) with the wall seconds
// beside them, tetras per CPU second, microseconds per tetra, the listing
// memory peak and the peak resident memory of the process per tetra, the
// mean boundary quality, the worst one and the smallest dihedral angle.
//
// Arguments: a size (one run) and optionally "nosmooth"; a second form
// "off MODEL SIZE FILE" writes the boundary triangulation of region 1 of a
// model file at that size as an OFF file (bench/compare_tetgen.sh meshes it
// with TetGen and measures both meshes alike).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "discret.h"
#include "discret3.h"
#include "element.h"
#include "input.h"
#include "list.h"
#include "octree1.h"
#include "records.h"
#include "region.h"
#include "surface.h"
#include "topo3.h"
#include "vec3.h"

namespace {

// The unit cube: normals (Su x Sv) 1 +z, 2 +z, 3 -y, 4 -y, 5 +x, 6 +x, so
// that the region inside is bounded by 1 -2 -3 4 5 -6.
const char* kCube =
    "vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\nvertex 3 xyz 1 1 0\nvertex 4 xyz 0 1 0\n"
    "vertex 5 xyz 0 0 1\nvertex 6 xyz 1 0 1\nvertex 7 xyz 1 1 1\nvertex 8 xyz 0 1 1\n"
    "curve 1 vertex 1 2\ncurve 2 vertex 2 3\ncurve 3 vertex 4 3\ncurve 4 vertex 1 4\n"
    "curve 5 vertex 5 6\ncurve 6 vertex 6 7\ncurve 7 vertex 8 7\ncurve 8 vertex 5 8\n"
    "curve 9 vertex 1 5\ncurve 10 vertex 2 6\ncurve 11 vertex 3 7\ncurve 12 vertex 4 8\n"
    "surface 1 curve 1 4 3 2\nsurface 2 curve 5 8 7 6\nsurface 3 curve 1 9 5 10\n"
    "surface 4 curve 3 12 7 11\nsurface 5 curve 4 9 8 12\nsurface 6 curve 2 10 6 11\n";

mgn_region* build_cube(double size, bool smoothing) {
  mgn_set = mgn_settings{};
  mgn_set.nodal_smoothing = smoothing;
  mgn_set.quiet = true;
  mgn_set.uniform_size = mgn_set.default_size = size;
  const std::string path = "/tmp/mgn_discret3_bench_" + std::to_string(getpid()) + ".mgn";
  if (FILE* f = std::fopen(path.c_str(), "w")) {
    std::fputs(kCube, f);
    std::fclose(f);
  }
  mgn_set.input_file_name = path;
  mgn_build_model_from_file();
  std::remove(path.c_str());
  mgn_region* r = mgn_create_region(1);
  for (long s : {1L, -2L, -3L, 4L, 5L, -6L}) {
    mgn_surface* surface = mgn_find_surface(std::labs(s));
    if (s > 0) {
      mgn_add_item_to_tail(r->inner_surfaces, surface);
      surface->inner_region = r;
    } else {
      mgn_add_item_to_tail(r->outer_surfaces, surface);
      surface->outer_region = r;
    }
  }
  mgn_add_region_to_model(r);
  mgn_build_octree();
  return r;
}

void run(double size, bool smoothing) {
  mgn_region* r = build_cube(size, smoothing);
  // CPU time of the process (the machine may be shared: wall time would
  // count the waits), and the wall time beside it.
  auto cpu_now = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
  };
  const auto start = std::chrono::steady_clock::now();
  const double cpu_start = cpu_now();
  mgn_discretize_model();
  const double seconds = cpu_now() - cpu_start;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  long tetras = 0;
  double sum = 0.0, worst = 1.0, smallest_angle = MGN_PI;
  mgn_for_own_records<mgn_tetra>(r->mesh.tetras, r->mesh.tetra_total, true, [&](const mgn_tetra* t) {
    double volume = 0.0, angles[6], low = 0.0, high = 0.0;
    const double q = mgn_get_tetra_boundary_quality(t, &volume);
    mgn_get_tetra_angle_quality(t, angles, &low, &high);
    ++tetras;
    sum += q;
    worst = std::min(worst, q);
    smallest_angle = std::min(smallest_angle, low);
  });
  const double peak = static_cast<double>(mgn_listing_memory_peak());
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double resident = 1024.0 * static_cast<double>(usage.ru_maxrss);
  const std::string check = mgn_check_region_mesh(r);
  std::printf("size %-7.4f %9ld tetras  %7.3f s CPU (%.3f s wall)  %9.0f tetras/s  %6.2f us/tetra  peak %6.1f B/tetra "
              "(resident %6.1f)  quality mean %.4f worst %.4f  min dihedral %.2f deg%s%s\n",
              size, tetras, seconds, wall, tetras / seconds, 1e6 * seconds / tetras, peak / tetras, resident / tetras,
              sum / tetras, worst, smallest_angle * 180.0 / MGN_PI, smoothing ? "" : "  (no smoothing)",
              check.empty() ? "" : ("  INCONSISTENT: " + check).c_str());
  std::fflush(stdout);
}

// The triangulation of the surfaces that bound region 1 of a model file,
// at a uniform size, as an OFF file turned to face out of the region (for
// meshing the same boundary with another program).
void write_off(const char* model, double size, const char* file) {
  mgn_set = mgn_settings{};
  mgn_set.quiet = true;
  mgn_set.uniform_size = mgn_set.default_size = size;
  mgn_set.input_file_name = model;
  mgn_build_model_from_file();
  mgn_region* region = mgn_find_region(1);
  if (region == nullptr) return;
  std::vector<std::pair<mgn_surface*, bool>> boundary;  // surface, turned
  for (mgn_surface* s : mgn_list_range<mgn_surface>(region->inner_surfaces)) boundary.emplace_back(s, true);
  for (mgn_surface* s : mgn_list_range<mgn_surface>(region->outer_surfaces)) boundary.emplace_back(s, false);
  // Mesh the surfaces only.
  for (mgn_region* r : mgn_list_range<mgn_region>(mgn_model.regions.list)) r->is_virtual = true;
  mgn_build_octree();
  mgn_discretize_model();
  std::map<const mgn_node*, long> index;
  std::vector<const mgn_node*> nodes;
  std::vector<std::array<long, 3>> faces;
  for (const auto& [surface, turned] : boundary)
    mgn_for_own_records<mgn_face>(surface->mesh.faces, surface->mesh.face_total, true, [&](const mgn_face* f) {
      long k[3];
      for (int j = 0; j < 3; ++j) {
        auto [it, added] = index.emplace(f->n[j], static_cast<long>(nodes.size()));
        if (added) nodes.push_back(f->n[j]);
        k[j] = it->second;
      }
      faces.push_back(turned ? std::array<long, 3>{k[1], k[0], k[2]} : std::array<long, 3>{k[0], k[1], k[2]});
    });
  FILE* out = std::fopen(file, "w");
  if (out == nullptr) return;
  std::fprintf(out, "OFF\n%zu %zu 0\n", nodes.size(), faces.size());
  for (const mgn_node* n : nodes) std::fprintf(out, "%.17g %.17g %.17g\n", n->xyz[0], n->xyz[1], n->xyz[2]);
  for (const auto& f : faces) std::fprintf(out, "3 %ld %ld %ld\n", f[0], f[1], f[2]);
  std::fclose(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 4 && std::string(argv[1]) == "off") {
    write_off(argv[2], std::atof(argv[3]), argv[4]);
    return 0;
  }
  if (argc > 1) {
    run(std::atof(argv[1]), !(argc > 2 && std::string(argv[2]) == "nosmooth"));
    return 0;
  }
  // About 10 thousand, 100 thousand and 1 million tetras.
  for (double size : {0.114, 0.053, 0.0246}) {
    const pid_t pid = fork();
    if (pid == 0) {
      run(size, true);
      std::_Exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("size %g: run failed (status %d)\n", size, status);
  }
  return 0;
}
