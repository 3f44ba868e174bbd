// Graphics output: dispatcher, VTK, VRML 2.0 and ombrax viewer writers.
#include "output1.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "element.h"
#include "list.h"
#include "message.h"
#include "number_text.h"
#include "octree.h"
#include "output.h"


namespace {

// An open graphics file; lines counted for the error report of a failed
// write.  Lines are formatted into text, which goes to the stream in blocks
// of about a megabyte.
struct graphics_file {
  FILE* stream = nullptr;
  std::string name;
  long lines = 0;
  std::string text;
  bool failed = false;  // a block could not be written
};

constexpr std::size_t GRAPHICS_BLOCK = 1 << 20;

graphics_file open_graphics(const char* routine, int line) {
  graphics_file g;
  g.name = mgn_set.graphics_file_name;
  g.stream = mgn_open_file(g.name.c_str(), 2);
  if (g.stream == nullptr)
    mgn_file_manipulation_error(mgn_format("Output file %s opening error", g.name.c_str()), routine,
                                mgn_module_name(__FILE__), line);
  g.text.reserve(GRAPHICS_BLOCK + 4096);
  return g;
}

void write_text(graphics_file& g) {
  if (!g.text.empty() && std::fwrite(g.text.data(), 1, g.text.size(), g.stream) != g.text.size()) g.failed = true;
  g.text.clear();
}

// Ends a line of text written piece by piece.
void end_line(graphics_file& g) {
  g.text.push_back('\n');
  ++g.lines;
  if (g.text.size() >= GRAPHICS_BLOCK) write_text(g);
}

// Closes the file; a write that failed (full disk, ...) is an output error
// rather than a silently truncated file.
void close_graphics(graphics_file& g, const char* routine, int line) {
  write_text(g);
  bool failed = g.failed || std::fflush(g.stream) != 0 || std::ferror(g.stream) != 0;
  failed = std::fclose(g.stream) != 0 || failed;
  g.stream = nullptr;
  if (failed) mgn_output_error("", routine, mgn_module_name(__FILE__), line, g.name, g.lines);
}

void put(graphics_file& g, const char* format, ...) __attribute__((format(printf, 2, 3)));
void put(graphics_file& g, const char* format, ...) {
  va_list args;
  va_start(args, format);
  mgn_append_vformat(g.text, format, args);
  va_end(args);
  for (const char* c = format; *c != '\0'; ++c) g.lines += *c == '\n';
  if (g.text.size() >= GRAPHICS_BLOCK) write_text(g);
}

long point_index(const mgn_node* node) { return static_cast<long>(node->id) - mgn_set.numbering_shift[0] - 1; }

// Contour value of a node size in [0, 1].
double contour_value(double s) {
  const mgn_size_range& r = mgn_graphics_sizes;
  if (r.uniform) return 0.5;
  if (mgn_set.graphics_spec & 4) s = r.smallest + r.largest - s;
  return (s - r.smallest) / (r.largest - r.smallest);
}

template <typename T, typename F>
void for_each_valid(mgn_listing* listing, F&& f) {
  for (T** ref : mgn_listing_range<T*>(mgn_get_first_listing_block(listing)))
    if (*ref != nullptr && (*ref)->id != 0) f(*ref);
}

// Interface elements (kind 6) are not drawn.
template <typename T>
bool drawn(const T* element) {
  if constexpr (requires { element->kind; })
    return element->kind != MGN_INTERFACE;
  else
    return true;
}

const char* kind_word(int kind) {
  static const char* const words[] = {"vertex", "curve", "surface", "region", "patch", "shell", "interface"};
  return kind >= 0 && kind < MGN_KINDS ? words[kind] : "entity";
}

// ---------------------------------------------------------------------------
// VRML helpers
// ---------------------------------------------------------------------------

// Colour of a contour value: blue (0) through green to red (1), or grey.
std::array<double, 3> contour_colour(double v) {
  v = std::clamp(v, 0.0, 1.0);
  if (mgn_set.graphics_spec & 8) return {v, v, v};
  if (v < 0.5) return {0.0, 2.0 * v, 1.0 - 2.0 * v};
  return {2.0 * v - 1.0, 2.0 - 2.0 * v, 0.0};
}

// Faces of the volume elements of a region that no other element of the
// region shares: the outline of the region mesh.
using polygon = std::vector<long>;

void add_face(std::map<std::vector<long>, std::pair<polygon, int>>& faces, polygon p) {
  std::vector<long> key = p;
  std::sort(key.begin(), key.end());
  auto [it, inserted] = faces.try_emplace(key, std::move(p), 0);
  ++it->second.second;
}

struct vrml_writer {
  graphics_file& g;
  bool coordinates_defined = false;
  bool wire = false;
  bool colours = false;

  void shape(const char* kind, long id, const std::vector<polygon>& polygons, bool lines, bool closed) {
    if (polygons.empty()) return;
    put(g, "    Shape {\n");
    put(g, "      # %s %ld\n", kind, id);
    put(g, "      appearance Appearance {\n");
    if (lines)
      put(g, "        material Material { emissiveColor 0 0 0 }\n");
    else
      put(g, "        material Material { diffuseColor 0.8 0.8 0.8 }\n");
    put(g, "      }\n");
    put(g, "      geometry %s {\n", lines ? "IndexedLineSet" : "IndexedFaceSet");
    if (coordinates_defined) {
      put(g, "        coord USE mgn_coordinates\n");
      if (colours) put(g, "        color USE mgn_colors\n");
    } else {
      coordinates_defined = true;
      define_coordinates();
    }
    if (colours) put(g, "        colorPerVertex TRUE\n");
    put(g, "        coordIndex [\n");
    for (const polygon& p : polygons) {
      put(g, "         ");
      for (long i : p) put(g, " %ld,", i);
      if (closed) put(g, " %ld,", p.front());
      put(g, " -1,\n");
    }
    put(g, "        ]\n");
    if (!lines) put(g, "        solid FALSE\n");
    put(g, "      }\n");
    put(g, "    }\n");
  }

  void define_coordinates() {
    std::vector<const mgn_node*> nodes;
    mgn_get_output_nodes(nodes);
    put(g, "        coord DEF mgn_coordinates Coordinate {\n          point [\n");
    for (const mgn_node* node : nodes) put(g, "            %g %g %g,\n", node->xyz[0], node->xyz[1], node->xyz[2]);
    put(g, "          ]\n        }\n");
    if (colours) {
      put(g, "        color DEF mgn_colors Color {\n          color [\n");
      for (const mgn_node* node : nodes) {
        auto c = contour_colour(contour_value(node->size));
        put(g, "            %g %g %g,\n", c[0], c[1], c[2]);
      }
      put(g, "          ]\n        }\n");
    }
  }

  // Surface-like shape: polygons drawn as faces, or as outlines in wireframe.
  void surface_shape(const char* kind, long id, const std::vector<polygon>& polygons) {
    shape(kind, id, polygons, wire, wire);
  }
};

template <std::size_t N>
polygon indices(mgn_node* const (&n)[N], std::initializer_list<int> which) {
  polygon p;
  for (int k : which) p.push_back(point_index(n[k]));
  return p;
}

template <typename T>
void collect_by_entity(mgn_listing* listing, std::unordered_map<const void*, std::vector<polygon>>& map,
                       int corners) {
  for_each_valid<T>(listing, [&](T* e) {
    if (!drawn(e)) return;
    polygon p;
    for (int k = 0; k < corners; ++k) p.push_back(point_index(e->n[k]));
    map[e->entity].push_back(std::move(p));
  });
}

}  // namespace

// ---------------------------------------------------------------------------
// Dispatcher
// ---------------------------------------------------------------------------

int mgn_store_graphics() {
  if (mgn_run.nodes.total == 0 || mgn_set.graphics_file_name.empty() || mgn_set.graphics_type == 0) return 0;
  if (mgn_set.graphics_spec & 2) {
    const double r = mgn_tree.root_size;
    mgn_size_range& range = mgn_graphics_sizes;
    range.smallest = r * r;
    range.largest = 0.0;
    for_each_valid<mgn_node>(mgn_mesh.fe_nodes, [&range](const mgn_node* node) {
      const double s = node->size;
      if (s < range.smallest) range.smallest = s;
      if (s > range.largest) range.largest = s;
    });
    // Node sizes are single-precision values reached through products and
    // interpolations of the octree: a size field the user asked to be
    // uniform (-u) comes out with differences of a few units in the last
    // place, which must not be stretched over the whole colour range.
    const double resolution = std::max(mgn_tol.eps, 1e-6 * range.largest);
    range.uniform = range.largest - range.smallest < resolution;
  }
  switch (mgn_set.graphics_type) {
    case 1: return mgn_store_graphics_ombrax();
    case 2: return mgn_store_graphics_vrml();
    case 3: return mgn_store_graphics_vtk();
    default: return 0;
  }
}

// ---------------------------------------------------------------------------
// VTK
// ---------------------------------------------------------------------------

int mgn_store_graphics_vtk() {
  if (mgn_set.graphics_file_name.empty()) return 0;
  graphics_file g = open_graphics(__func__, __LINE__);
  put(g, "# vtk DataFile Version 2.0\n");
  put(g, "# Mgn - mesh generator\n");
  put(g, "ASCII\n");
  put(g, "DATASET UNSTRUCTURED_GRID\n");
  if (!mgn_run.discretization_done) {
    mgn_print_warning(stderr, "Warning: VTK graphics output of incomplete mesh not supported\n");
    ++mgn_warning_count;
    close_graphics(g, __func__, __LINE__);
    return 1;
  }
  // Points in the order of their numbers.
  std::vector<const mgn_node*> nodes;
  mgn_get_output_nodes(nodes);
  put(g, "POINTS %ld float\n", static_cast<long>(nodes.size()));
  for (const mgn_node* node : nodes) {  // "%g %g %g\n"
    for (int k = 0; k < 3; ++k) {
      if (k > 0) g.text.push_back(' ');
      mgn_append_general(g.text, node->xyz[k], 6);
    }
    end_line(g);
  }

  // Cells: count first, then the node lists, then the types.
  long cells = 0, size = 0;
  auto count = [&]<typename T>(mgn_listing* listing, int nodes_per_cell, bool skip_interface, T*) {
    for_each_valid<T>(listing, [&](T* e) {
      if (skip_interface && !drawn(e)) return;
      ++cells;
      size += nodes_per_cell + 1;
    });
  };
  count(mgn_mesh.fe_edges, 2, true, static_cast<mgn_edge*>(nullptr));
  count(mgn_mesh.fe_faces, 3, false, static_cast<mgn_face*>(nullptr));
  count(mgn_mesh.fe_quads, 4, true, static_cast<mgn_quad*>(nullptr));
  count(mgn_mesh.fe_tetras, 4, false, static_cast<mgn_tetra*>(nullptr));
  count(mgn_mesh.fe_pyrams, 5, false, static_cast<mgn_pyram*>(nullptr));
  count(mgn_mesh.fe_wedges, 6, true, static_cast<mgn_wedge*>(nullptr));
  count(mgn_mesh.fe_hexas, 8, true, static_cast<mgn_hexa*>(nullptr));
  put(g, "CELLS %ld %ld\n", cells, size);
  std::vector<int> types;
  types.reserve(static_cast<std::size_t>(cells));
  auto write = [&]<typename T>(mgn_listing* listing, int nodes_per_cell, bool skip_interface, int type, T*) {
    for_each_valid<T>(listing, [&](T* e) {
      if (skip_interface && !drawn(e)) return;
      mgn_append_integer(g.text, nodes_per_cell, 0);
      for (int k = 0; k < nodes_per_cell; ++k) {
        g.text.push_back(' ');
        mgn_append_integer(g.text, point_index(e->n[k]), 0);
      }
      end_line(g);
      types.push_back(type);
    });
  };
  write(mgn_mesh.fe_edges, 2, true, 3, static_cast<mgn_edge*>(nullptr));
  write(mgn_mesh.fe_faces, 3, false, 5, static_cast<mgn_face*>(nullptr));
  write(mgn_mesh.fe_quads, 4, true, 9, static_cast<mgn_quad*>(nullptr));
  write(mgn_mesh.fe_tetras, 4, false, 10, static_cast<mgn_tetra*>(nullptr));
  write(mgn_mesh.fe_pyrams, 5, false, 14, static_cast<mgn_pyram*>(nullptr));
  write(mgn_mesh.fe_wedges, 6, true, 13, static_cast<mgn_wedge*>(nullptr));
  write(mgn_mesh.fe_hexas, 8, true, 12, static_cast<mgn_hexa*>(nullptr));
  put(g, "CELL_TYPES %ld\n", cells);
  for (int type : types) {
    mgn_append_integer(g.text, type, 0);
    end_line(g);
  }

  if (mgn_set.graphics_spec & 2) {
    put(g, "POINT_DATA %ld\n", static_cast<long>(nodes.size()));
    put(g, "SCALARS iso float\n");
    const bool grey = (mgn_set.graphics_spec & 8) != 0;
    put(g, grey ? "LOOKUP_TABLE bw\n" : "LOOKUP_TABLE default\n");
    for (const mgn_node* node : nodes) {
      mgn_append_general(g.text, contour_value(node->size), 6);
      end_line(g);
    }
    if (grey) {
      static const double levels[11] = {0.090909091, 0.18181818, 0.27272727, 0.36363636,
                                        0.45454545,  0.54545455, 0.63636364, 0.72727273,
                                        0.81818182,  0.90909091, 1.0};
      put(g, "LOOKUP_TABLE bw %d\n", 11);
      for (double level : levels) put(g, "%g %g %g %g\n", level, level, level, 1.0);
    }
  }
  close_graphics(g, __func__, __LINE__);
  return 1;
}

// ---------------------------------------------------------------------------
// VRML 2.0
// ---------------------------------------------------------------------------

int mgn_store_graphics_vrml() {
  if (mgn_set.graphics_file_name.empty()) return 0;
  graphics_file g = open_graphics(__func__, __LINE__);
  put(g, "#VRML V2.0 utf8\n\n");
  put(g, "Viewpoint {\n  fieldOfView 0.785398\n  description \"Default View\"\n}\n\n");
  put(g, "NavigationInfo {\n  type [ \"EXAMINE\", \"FLY\" ]\n  speed 4.0\n  headlight TRUE\n}\n\n");
  put(g, "DirectionalLight {\n  direction 0 0 -1\n}\n\n");
  put(g, "Transform {\n  children [\n");
  vrml_writer w{g};
  w.wire = (mgn_set.graphics_spec & 1) != 0;
  w.colours = (mgn_set.graphics_spec & 2) != 0;

  std::unordered_map<const void*, std::vector<polygon>> edges, faces;
  collect_by_entity<mgn_edge>(mgn_mesh.fe_edges, edges, 2);
  collect_by_entity<mgn_face>(mgn_mesh.fe_faces, faces, 3);
  collect_by_entity<mgn_quad>(mgn_mesh.fe_quads, faces, 4);
  static const std::vector<polygon> none;
  auto of = [](const std::unordered_map<const void*, std::vector<polygon>>& map,
               const void* entity) -> const std::vector<polygon>& {
    auto it = map.find(entity);
    return it == map.end() ? none : it->second;
  };
  for (const mgn_curve* c : mgn_list_range<mgn_curve>(mgn_model.curves.list)) {
    w.shape("curve", c->id, of(edges, c), true, false);
  }
  for (const mgn_surface* s : mgn_list_range<mgn_surface>(mgn_model.surfaces.list))
    w.surface_shape("surface", s->id, of(faces, s));
  for (const mgn_patch* p : mgn_list_range<mgn_patch>(mgn_model.patches.list))
    w.surface_shape("patch", p->id, of(faces, p));
  for (const mgn_shell* s : mgn_list_range<mgn_shell>(mgn_model.shells.list))
    w.surface_shape("shell", s->id, of(faces, s));

  // Regions: the outline of their volume elements.
  std::unordered_map<const void*, std::map<std::vector<long>, std::pair<polygon, int>>> region_faces;
  for_each_valid<mgn_tetra>(mgn_mesh.fe_tetras, [&](mgn_tetra* t) {
    auto& f = region_faces[t->region];
    for (const auto& v : mgn_tetra_face_nodes) add_face(f, indices(t->n, {v[0], v[1], v[2]}));
  });
  for_each_valid<mgn_pyram>(mgn_mesh.fe_pyrams, [&](mgn_pyram* p) {
    auto& f = region_faces[p->region];
    add_face(f, indices(p->n, {0, 1, 2, 3}));
    for (int k = 0; k < 4; ++k) add_face(f, indices(p->n, {k, (k + 1) % 4, 4}));
  });
  for_each_valid<mgn_wedge>(mgn_mesh.fe_wedges, [&](mgn_wedge* e) {
    if (!drawn(e)) return;
    auto& f = region_faces[e->entity];
    add_face(f, indices(e->n, {0, 1, 2}));
    add_face(f, indices(e->n, {3, 4, 5}));
    for (int k = 0; k < 3; ++k) add_face(f, indices(e->n, {k, (k + 1) % 3, (k + 1) % 3 + 3, k + 3}));
  });
  for_each_valid<mgn_hexa>(mgn_mesh.fe_hexas, [&](mgn_hexa* e) {
    if (!drawn(e)) return;
    auto& f = region_faces[e->entity];
    add_face(f, indices(e->n, {0, 1, 2, 3}));
    add_face(f, indices(e->n, {4, 5, 6, 7}));
    for (int k = 0; k < 4; ++k) add_face(f, indices(e->n, {k, (k + 1) % 4, (k + 1) % 4 + 4, k + 4}));
  });
  for (const mgn_region* r : mgn_list_range<mgn_region>(mgn_model.regions.list)) {
    auto it = region_faces.find(r);
    if (it == region_faces.end()) continue;
    std::vector<polygon> outline;
    for (auto& [key, face] : it->second)
      if (face.second == 1) outline.push_back(face.first);
    w.surface_shape("region", r->id, outline);
  }
  put(g, "  ]\n}\n");
  close_graphics(g, __func__, __LINE__);
  return 1;
}

// ---------------------------------------------------------------------------
// Ombrax viewer format
// ---------------------------------------------------------------------------

int mgn_store_graphics_ombrax() {
  if (mgn_set.graphics_file_name.empty()) return 0;
  graphics_file g = open_graphics(__func__, __LINE__);
  put(g, "# ombrax graphics format, version 1\n");
  put(g, "# records: n number x y z colour; e, t, q, T, P, W, H number nodes colour \"text\"\n");
  std::vector<const mgn_node*> nodes;
  mgn_get_output_nodes(nodes);
  for (const mgn_node* node : nodes)
    put(g, "n %ld %.9g %.9g %.9g %d\n", static_cast<long>(node->id), node->xyz[0], node->xyz[1], node->xyz[2],
        node->kind + 1);
  auto records = [&]<typename T>(mgn_listing* listing, char tag, int corners, int kind_of_all, T*) {
    for_each_valid<T>(listing, [&](T* e) {
      int kind;
      const void* entity;
      if constexpr (requires { e->region; }) {
        kind = kind_of_all;
        entity = e->region;
      } else {
        kind = e->kind;
        entity = e->entity;
      }
      int key;
      long id, property;
      mgn_get_entity_classification(kind, entity, &key, &id, &property);
      put(g, "%c %ld", tag, static_cast<long>(e->id));
      for (int k = 0; k < corners; ++k) put(g, " %ld", static_cast<long>(e->n[k]->id));
      put(g, " %ld \"%s %ld\"\n", id > 0 ? (id - 1) % 15 + 1 : 0, kind_word(kind), id);
    });
  };
  records(mgn_mesh.fe_edges, 'e', 2, 0, static_cast<mgn_edge*>(nullptr));
  records(mgn_mesh.fe_faces, 't', 3, 0, static_cast<mgn_face*>(nullptr));
  records(mgn_mesh.fe_quads, 'q', 4, 0, static_cast<mgn_quad*>(nullptr));
  records(mgn_mesh.fe_tetras, 'T', 4, MGN_REGION, static_cast<mgn_tetra*>(nullptr));
  records(mgn_mesh.fe_pyrams, 'P', 5, MGN_REGION, static_cast<mgn_pyram*>(nullptr));
  records(mgn_mesh.fe_wedges, 'W', 6, 0, static_cast<mgn_wedge*>(nullptr));
  records(mgn_mesh.fe_hexas, 'H', 8, 0, static_cast<mgn_hexa*>(nullptr));
  close_graphics(g, __func__, __LINE__);
  return 1;
}
