// Tetra repair and region smoothing benchmark: meshes a model file's region
// with a uniform size and prints the time the front took, the time the
// repair passes and the smoothing sweeps add per tetra, the transformations
// made, and the quality of the final mesh (mean and smallest boundary
// quality, smallest dihedral angle, tetras below 10 and 20 degrees).
//
//   mesh3_bench MODEL SIZE [SIZE ...] [-S] [-o NODES_AND_FACES_FILE]
//
// The model's REGION lines of the form "region ID boundary surface S ..."
// are taken by the benchmark itself (it enters the region as the region
// parser does), so that any model of closed surfaces can be measured.  With
// -o the boundary triangulation of the last size is written as a TetGen
// .poly file, for a comparison with an outside mesher.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "curve.h"
#include "discret.h"
#include "element.h"
#include "input.h"
#include "list.h"
#include "mesh3.h"
#include "octree1.h"
#include "records.h"
#include "region.h"
#include "smooth.h"
#include "surface.h"
#include "topo3.h"
#include "vec3.h"
#include "vertex.h"

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

void timed_forward(mgn_region* region, int cycle) {
  const auto t0 = clock_type::now();
  mgn_repair_region_forward(region, cycle);
  g_time.repair += clock_type::now() - t0;
  ++g_time.passes;
  g_time.bad += mgn_repair_count.bad;
  for (int k = 0; k < MGN_REPAIR_KINDS; ++k) g_time.done[k] += mgn_repair_count.done[k];
}
void timed_backward(mgn_region* region, int cycle) {
  const auto t0 = clock_type::now();
  mgn_repair_region_backward(region, cycle);
  g_time.repair += clock_type::now() - t0;
  ++g_time.passes;
  g_time.bad += mgn_repair_count.bad;
  for (int k = 0; k < MGN_REPAIR_KINDS; ++k) g_time.done[k] += mgn_repair_count.done[k];
}
void smoothing_starts(mgn_region*) { g_time.smoothing_start = clock_type::now(); }
void smoothing_ends(mgn_region*) { g_time.smoothing += clock_type::now() - g_time.smoothing_start; }

// A REGION line of the model: its signed bounding surfaces and the
// surfaces, curves and vertices fixed inside it.
struct region_line {
  long id = 0;
  std::vector<long> boundary, surfaces, curves, vertices;
};

// The model text without its REGION lines, and those lines.
std::string read_model(const char* path, std::vector<region_line>& regions) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path);
    std::exit(1);
  }
  std::string text, line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word != "region") {
      text += line + "\n";
      continue;
    }
    region_line r;
    words >> r.id;
    std::vector<long>* list = nullptr;
    bool fixed = false;
    while (words >> word) {
      for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (word == "boundary") fixed = false;
      else if (word == "fixed") fixed = true;
      else if (word == "surface") list = fixed ? &r.surfaces : &r.boundary;
      else if (word == "curve") list = &r.curves;
      else if (word == "vertex") list = &r.vertices;
      else if (list != nullptr) list->push_back(std::atol(word.c_str()));
    }
    regions.push_back(r);
  }
  return text;
}

mgn_region* add_region(const region_line& line) {
  mgn_region* r = mgn_create_region(line.id);
  for (long s : line.boundary) {
    mgn_surface* surface = mgn_find_surface(std::labs(s));
    if (s > 0) {
      mgn_add_item_to_tail(r->inner_surfaces, surface);
      surface->inner_region = r;
    } else {
      mgn_add_item_to_tail(r->outer_surfaces, surface);
      surface->outer_region = r;
    }
  }
  for (long s : line.surfaces) {
    mgn_surface* surface = mgn_find_surface(s);
    mgn_add_item_to_tail(r->fixed_surfaces, surface);
    surface->localized_region = r;
  }
  for (long c : line.curves) {
    mgn_curve* curve = mgn_find_curve(c);
    mgn_add_item_to_tail(r->fixed_curves, curve);
    curve->localized_region = r;
  }
  for (long v : line.vertices) {
    mgn_vertex* vertex = mgn_find_vertex(v);
    mgn_add_item_to_tail(r->fixed_vertices, vertex);
    vertex->localized_region = r;
  }
  mgn_add_region_to_model(r);
  return r;
}

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
  std::vector<region_line> regions;
  const std::string text = read_model(argv[1], regions);
  const std::string path = "/tmp/mesh3_bench_model.mgn";
  {
    std::ofstream out(path);
    out << text;
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
    mgn_set.input_file_name = path;
    mgn_build_model_from_file();
    std::vector<mgn_region*> made;
    for (const region_line& line : regions) made.push_back(add_region(line));
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
    for (mgn_region* r : made) {
      const std::string fault = mgn_check_region_mesh(r);
      if (!fault.empty()) std::printf("CHECK FAILED: %s\n", fault.c_str());
      double qsum = 0.0, qmin = 1.0, amin = MGN_PI;
      long n = 0, below10 = 0, below20 = 0;
      mgn_for_own_records<mgn_tetra>(r->mesh.tetras, r->mesh.tetra_total, r->mesh.collected, [&](const mgn_tetra* t) {
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
      const double smoothing = seconds(g_time.smoothing);
      const double repair = seconds(g_time.repair);
      std::printf("%-8g %9ld %8.3f %8.3f %8.3f | %6.4f %6.4f %7.2f %5ld %5ld | %5ld %5ld %5ld %5ld %5ld\n", h, n,
                  total - smoothing, repair, smoothing - repair, qsum / n, qmin, amin * 180.0 / MGN_PI, below10,
                  below20, g_time.done[0], g_time.done[1], g_time.done[2], g_time.done[3], g_time.done[4]);
      std::printf("         per tetra: repair %.2f us, smoothing %.2f us; bad tetras seen %ld\n", 1e6 * repair / n,
                  1e6 * (smoothing - repair) / n, g_time.bad);
      if (poly != nullptr) write_poly(r, poly);
    }
  }
  return 0;
}
