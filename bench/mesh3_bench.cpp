// Tetra repair and region smoothing benchmark: meshes the regions of a model
// file with a uniform size and prints the processor time the front took,
// the time the repair passes and the smoothing sweeps add per tetra, the
// transformations made, and the quality of the final mesh (mean and
// smallest boundary quality, smallest dihedral angle, tetras below 10 and
// 20 degrees).
//
//   mesh3_bench MODEL SIZE [SIZE ...] [-S] [-o POLY_FILE]
//
// -S: no nodal smoothing (one repair pass).  -o: the boundary
// triangulation of the last region at the last size is written as a TetGen
// .poly file, for a comparison with an outside mesher on the same boundary
// (bench/tetgen_compare.sh).  With MGN_BENCH_PASSES set in the
// environment, each repair pass is printed with its processor time, the
// bad tetras it met and the transformations it made (face swap, edge
// removal, node removal, edge collapse, node insertion).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "discret.h"
#include "element.h"
#include "input.h"
#include "list.h"
#include "mesh3.h"
#include "octree1.h"
#include "records.h"
#include "smooth.h"
#include "topo3.h"
#include "vec3.h"

namespace {

// Processor time of the process: the figures do not depend on what else
// the machine runs.
struct clock_type {
  using duration = std::chrono::nanoseconds;
  using time_point = std::chrono::time_point<clock_type, duration>;
  static time_point now() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return time_point(duration(static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec));
  }
};

double seconds(clock_type::duration d) { return std::chrono::duration<double>(d).count(); }

struct timing {
  clock_type::time_point smoothing_start;
  clock_type::duration smoothing{};
  clock_type::duration repair{};
  long passes = 0;
  long done[MGN_REPAIR_KINDS] = {};
  long bad = 0;
} g_time;

// Counts a repair pass; with MGN_BENCH_PASSES set, prints its time and
// transformations.
void count_pass(const char* way, int cycle, clock_type::duration took) {
  g_time.repair += took;
  ++g_time.passes;
  g_time.bad += mgn_repair_count.bad;
  for (int k = 0; k < MGN_REPAIR_KINDS; ++k) g_time.done[k] += mgn_repair_count.done[k];
  if (std::getenv("MGN_BENCH_PASSES") == nullptr) return;
  const long* d = mgn_repair_count.done;
  std::printf("  %-8s pass, cycle %d: %.3f s, bad %ld, made %ld %ld %ld %ld %ld\n", way, cycle, seconds(took),
              mgn_repair_count.bad, d[0], d[1], d[2], d[3], d[4]);
}
void timed_forward(mgn_region* region, int cycle) {
  const auto t0 = clock_type::now();
  mgn_repair_region_forward(region, cycle);
  count_pass("forward", cycle, clock_type::now() - t0);
}
void timed_backward(mgn_region* region, int cycle) {
  const auto t0 = clock_type::now();
  mgn_repair_region_backward(region, cycle);
  count_pass("backward", cycle, clock_type::now() - t0);
}
// The smoothing of a region (its repair passes included) runs between
// these two.
void smoothing_starts(mgn_region*) { g_time.smoothing_start = clock_type::now(); }
void smoothing_ends(mgn_region*) { g_time.smoothing += clock_type::now() - g_time.smoothing_start; }

void write_poly(const mgn_region* r, const char* path) {
  std::vector<const mgn_face*> faces;
  auto take = [&](mgn_list list) {
    for (const mgn_surface* s : mgn_list_range<mgn_surface>(list))
      mgn_for_own_records<mgn_face>(s->mesh.faces, s->mesh.face_total, s->mesh.discretized,
                                    [&](const mgn_face* f) { faces.push_back(f); });
  };
  take(r->inner_surfaces);
  take(r->outer_surfaces);
  std::vector<const mgn_node*> nodes;
  std::vector<long> index;
  auto number = [&](const mgn_node* n) {
    if (n->id >= static_cast<long>(index.size())) index.resize(n->id + 1, 0);
    if (index[n->id] == 0) {
      nodes.push_back(n);
      index[n->id] = static_cast<long>(nodes.size());
    }
    return index[n->id];
  };
  std::vector<std::array<long, 3>> tri;
  for (const mgn_face* f : faces) tri.push_back({number(f->n[0]), number(f->n[1]), number(f->n[2])});
  FILE* out = std::fopen(path, "w");
  std::fprintf(out, "%zu 3 0 0\n", nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i)
    std::fprintf(out, "%zu %.17g %.17g %.17g\n", i + 1, nodes[i]->xyz[0], nodes[i]->xyz[1], nodes[i]->xyz[2]);
  std::fprintf(out, "%zu 0\n", tri.size());
  for (const auto& t : tri) std::fprintf(out, "1\n3 %ld %ld %ld\n", t[0], t[1], t[2]);
  std::fprintf(out, "0\n0\n");
  std::fclose(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: mesh3_bench MODEL SIZE [SIZE ...] [-S] [-o POLY]\n");
    return 1;
  }
  std::vector<double> sizes;
  bool no_smoothing = false;
  const char* poly = nullptr;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "-S") == 0) no_smoothing = true;
    else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) poly = argv[++i];
    else sizes.push_back(std::atof(argv[i]));
  }
  std::printf("%-8s %9s %8s %8s %8s | %6s %6s %7s %5s %5s | %5s %5s %5s %5s %5s\n", "size", "tetras", "front",
              "repair", "smooth", "mean q", "min q", "min dih", "<10", "<20", "swap", "edge", "node", "coll", "ins");
  for (double h : sizes) {
    mgn_release_model();
    mgn_set = mgn_settings{};
    mgn_set.quiet = std::getenv("MGN_BENCH_VERBOSE") == nullptr;
    mgn_set.uniform_size = mgn_set.default_size = h;
    mgn_set.nodal_smoothing = !no_smoothing;
    mgn_tol = mgn_tolerances{};
    mgn_set.input_file_name = argv[1];
    mgn_build_model_from_file();
    std::vector<mgn_region*> made;
    for (mgn_region* r : mgn_list_range<mgn_region>(mgn_model.regions.list)) made.push_back(r);
    mgn_build_octree();
    g_time = timing{};
    mgn_smooth_hook = mgn_smooth_hooks{};
    mgn_smooth_hook.repair_forward = timed_forward;
    mgn_smooth_hook.repair_backward = timed_backward;
    mgn_smooth_hook.prepare_region = smoothing_starts;
    mgn_smooth_hook.finish_region = smoothing_ends;
    const auto t0 = clock_type::now();
    mgn_discretize_model();
    const double total = seconds(clock_type::now() - t0);
    // Quality over every region; times and transformations of the run.
    double qsum = 0.0, qmin = 1.0, amin = MGN_PI;
    long n = 0, below10 = 0, below20 = 0;
    for (mgn_region* r : made) {
      const std::string fault = mgn_check_region_mesh(r);
      if (!fault.empty()) std::printf("CHECK FAILED: %s\n", fault.c_str());
      mgn_for_own_records<mgn_tetra>(r->mesh.tetras, r->mesh.tetra_total, r->mesh.discretized, [&](const mgn_tetra* t) {
        double v = 0.0, angles[6], lo = 0.0, hi = 0.0;
        const double q = mgn_get_tetra_boundary_quality(t, &v);
        mgn_get_tetra_angle_quality(t, angles, &lo, &hi);
        qsum += q;
        qmin = std::min(qmin, q);
        amin = std::min(amin, lo);
        if (lo * 180.0 / MGN_PI < 10.0) ++below10;
        if (lo * 180.0 / MGN_PI < 20.0) ++below20;
        ++n;
      });
      if (poly != nullptr) write_poly(r, poly);
    }
    const double smoothing = seconds(g_time.smoothing);
    const double repair = seconds(g_time.repair);
    std::printf("%-8g %9ld %8.3f %8.3f %8.3f | %6.4f %6.4f %7.2f %5ld %5ld | %5ld %5ld %5ld %5ld %5ld\n", h, n,
                total - smoothing, repair, smoothing - repair, qsum / n, qmin, amin * 180.0 / MGN_PI, below10, below20,
                g_time.done[0], g_time.done[1], g_time.done[2], g_time.done[3], g_time.done[4]);
    std::printf("         per tetra: repair %.2f us, smoothing %.2f us; bad tetras seen %ld\n", 1e6 * repair / n,
                1e6 * (smoothing - repair) / n, g_time.bad);
  }
  return 0;
}
