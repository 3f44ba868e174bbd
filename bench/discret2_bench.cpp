// Surface triangulation benchmark: a sphere octant (one rational biquadratic
// patch with a collapsed pole side, radius 1) meshed with a uniform size at
// three sizes of about ten thousand, a hundred thousand and a million
// triangles.  Each size runs in a process of its own so that the listing
// memory peak belongs to that run.  Printed per size: triangles, seconds of
// the meshing driver (curves, triangulation and smoothing), triangles per
// second, microseconds per triangle, the listing memory peak per triangle
// (the whole run, octree included, and the part added by the meshing), the
// peak resident memory of the process per triangle and the mean triangle
// quality.  With MGN_BENCH_BREAKDOWN set in the environment, the listing
// bytes per triangle of each record pool follow (octree, nodes, edges,
// faces, references, scratch), as they stand at the end of the run.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bezier.h"
#include "curve.h"
#include "discret2.h"
#include "discret.h"
#include "input.h"
#include "list.h"
#include "octree.h"
#include "octree1.h"
#include "quality.h"
#include "records.h"
#include "surface.h"
#include "vertex.h"

namespace {

// Bytes held by a listing chain (block headers and record arrays).
double chain_bytes(mgn_listing* chain) {
  double bytes = 0.0;
  for (mgn_listing* b = chain ? mgn_get_first_listing_block(chain) : nullptr; b != nullptr; b = b->next)
    bytes += static_cast<double>(MGN_LISTING_HEADER_BYTES + b->bytes);
  return bytes;
}

// Listing bytes per triangle by pool, at the end of the run.
void print_breakdown(const mgn_surface* s, long triangles) {
  const struct {
    const char* name;
    mgn_listing* chain;
  } rows[] = {{"root octant", mgn_tree.octants},     {"octant children", mgn_tree.children},
              {"leaf node cells", mgn_tree.node_cells},
              {"nodes", mgn_mesh.node_pool},         {"coordinates", mgn_mesh.coordinates},
              {"surface params", mgn_mesh.surface_params}, {"list cells", mgn_mesh.cells},
              {"edges", mgn_mesh.edge_pool.listing},        {"faces", mgn_mesh.face_pool},
              {"fe nodes", mgn_mesh.fe_nodes},       {"fe edges", mgn_mesh.fe_edges},
              {"fe faces", mgn_mesh.fe_faces},       {"surface nodes", s->mesh.nodes},
              {"surface edges", s->mesh.edges},      {"surface faces", s->mesh.faces},
              {"scratch data", mgn_surface_work.data},   {"edge extras", mgn_mesh.edge_more.listing}};
  for (const auto& row : rows) std::printf("  %-16s %7.1f B/triangle\n", row.name, chain_bytes(row.chain) / triangles);
  const double corner_bytes = static_cast<double>(mgn_tree.corners.chunks.size() * MGN_CORNER_CHUNK * sizeof(float));
  std::printf("  %-16s %7.1f B/triangle\n", "octant corners", corner_bytes / triangles);
}

const char* kModel =
    "vertex 1 xyz 1 0 0\nvertex 2 xyz 0 1 0\nvertex 3 xyz 0 0 1\n"
    "curve 1 vertex 1 2 order 3\npolygon 1 xyz 1 1 0 weight 0.70710678118654752440\n"
    "curve 2 vertex 1 3 order 3\npolygon 1 xyz 1 0 1 weight 0.70710678118654752440\n"
    "curve 3 vertex 3 3 order 3\npolygon 1 xyz 0 0 1 weight 0.70710678118654752440\n"
    "curve 4 vertex 2 3 order 3\npolygon 1 xyz 0 1 1 weight 0.70710678118654752440\n";

void run(double size, bool smoothing) {
  mgn_set = mgn_settings{};
  mgn_set.nodal_smoothing = smoothing;
  mgn_set.quiet = true;
  mgn_set.uniform_size = mgn_set.default_size = size;
  const std::string path = "/tmp/mgn_discret2_bench_" + std::to_string(getpid()) + ".mgn";
  if (FILE* f = std::fopen(path.c_str(), "w")) {
    std::fputs(kModel, f);
    std::fclose(f);
  }
  mgn_set.input_file_name = path;
  mgn_build_model_from_file();
  std::remove(path.c_str());
  mgn_surface* s = mgn_create_surface(1);
  const long curves[4] = {1, 2, 3, 4};
  const long corners[4] = {1, 3, 3, 2};
  for (int k = 0; k < 4; ++k) {
    s->curve[k] = mgn_find_curve(curves[k]);
    s->vertex[k] = mgn_find_vertex(corners[k]);
  }
  mgn_create_surface_ctrl_polygon(s);
  s->net[4]->xyz[0] = s->net[4]->xyz[1] = s->net[4]->xyz[2] = 1.0;
  s->net[4]->w = 0.5;
  mgn_add_surface_to_model(s);
  mgn_build_octree();
  // The octree over the surface at the size (the surface sampling).
  const int n = static_cast<int>(3.0 / size) + 4;
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) {
      double p[3];
      mgn_get_surface_point(s, static_cast<double>(i) / n, static_cast<double>(j) / n, p);
      mgn_refine_octree_at_point(p, size, 0.5, false);
    }
  const std::size_t before = mgn_listing_memory();
  const auto start = std::chrono::steady_clock::now();
  mgn_discretize_model();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long triangles = s->mesh.face_count;
  double sum = 0.0, worst = 1.0;
  long k = 0;
  for (mgn_face** f : mgn_listing_range<mgn_face*>(s->mesh.faces)) {
    if (k++ >= s->mesh.face_total) break;
    if ((*f)->id == 0) continue;  // retired
    const double q = mgn_get_triangle_quality((*f)->n[0]->xyz, (*f)->n[1]->xyz, (*f)->n[2]->xyz);
    sum += q;
    worst = std::min(worst, q);
  }
  const double peak = static_cast<double>(mgn_listing_memory_peak());
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double resident = 1024.0 * static_cast<double>(usage.ru_maxrss);  // kilobytes on Linux
  std::printf("size %-8.5f %9ld triangles  %7.3f s  %9.0f triangles/s  %6.2f us/triangle  "
              "peak %6.1f B/triangle (meshing %6.1f, resident %6.1f)  quality mean %.4f worst %.3f%s\n",
              size, triangles, seconds, triangles / seconds, 1e6 * seconds / triangles, peak / triangles,
              (peak - static_cast<double>(before)) / triangles, resident / triangles, sum / triangles, worst,
              smoothing ? "" : "  (no smoothing)");
  if (std::getenv("MGN_BENCH_BREAKDOWN") != nullptr) print_breakdown(s, triangles);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  // Arguments: a size (one run), and "nosmooth" to switch nodal smoothing
  // off.
  if (argc > 1) {
    run(std::atof(argv[1]), !(argc > 2 && std::string(argv[2]) == "nosmooth"));
    return 0;
  }
  // About 10 thousand, 100 thousand and 1 million triangles.
  for (double size : {0.0192, 0.0061, 0.00192}) {
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
