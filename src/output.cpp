// Mesh output file.
#include "output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "bezier.h"
#include "element.h"
#include "geom.h"
#include "list.h"
#include "mesh1.h"
#include "mesh2.h"
#include "message.h"
#include "number_text.h"
#include "progress.h"
#include "project.h"
#include "renum.h"

namespace {

// The open mesh file: stream, name and the number of the line being
// written (for the error reports), and the text not yet written: lines are
// formatted into it and go to the stream in blocks of about a megabyte.
struct writer {
  FILE* stream = nullptr;
  const char* name = "";
  long line = 1;
  int spec = 0;        // output specification
  int degree = 1;      // element degree
  std::string text;
};
writer out;

constexpr std::size_t WRITE_BLOCK = 1 << 20;

[[noreturn]] void write_failed(const char* routine, int source_line) {
  mgn_output_error("", routine, mgn_module_name(__FILE__), source_line, out.name, out.line);
}

// Writes out the text held; a short write is an output error.
void flush_text() {
  if (out.text.empty()) return;
  const std::size_t written = std::fwrite(out.text.data(), 1, out.text.size(), out.stream);
  if (written != out.text.size()) write_failed(__func__, __LINE__);
  out.text.clear();
}

// Every line writer prints with its template (or the number writers for
// the fields of the long sections).
#define MGN_PUT(...) mgn_append_format(out.text, __VA_ARGS__)

void mgn_output_new_line() {
  out.text.push_back('\n');
  if (out.text.size() >= WRITE_BLOCK) flush_text();
  ++out.line;
  mgn_progress_tick();
}

void mgn_output_classification(int kind, const void* entity) {
  int key;
  long id, property;
  mgn_get_entity_classification(kind, entity, &key, &id, &property);
  out.text.push_back(' ');
  mgn_append_integer(out.text, key, 4);
  out.text.push_back(' ');
  mgn_append_integer(out.text, id, 9);
  out.text.push_back(' ');
  mgn_append_integer(out.text, property, 9);
}

void mgn_output_iso_type(int iso) {
  out.text.push_back(' ');
  mgn_append_integer(out.text, iso, 4);
}

void mgn_output_mesh_info(int type) {
  MGN_PUT(" %9d %9d %9d %9d", type, mgn_set.element_degree, mgn_set.renumbering_type & ~4, out.spec);
  mgn_output_new_line();
}

void mgn_output_tri_tetra_numbers() {
  MGN_PUT(" %9ld %9ld %9ld %9ld", mgn_run.nodes.fe, mgn_run.edges.fe, mgn_run.trias.fe, mgn_run.tetras.fe);
  mgn_output_new_line();
  mgn_output_new_line();
}

void mgn_output_mixed_mesh_numbers() {
  MGN_PUT(" %9ld %9ld %9ld %9ld %9ld %9ld %9ld %9ld", mgn_run.nodes.fe, mgn_run.edges.fe, mgn_run.trias.fe,
          mgn_run.quads.fe, mgn_run.tetras.fe, mgn_run.pyrams.fe, mgn_run.wedges.fe, mgn_run.hexas.fe);
  mgn_output_new_line();
  mgn_output_new_line();
}

// " %9ld %14.7e %14.7e %14.7e": number and coordinates.
void mgn_output_node(const mgn_node* node) {
  out.text.push_back(' ');
  mgn_append_integer(out.text, node->id, 9);
  for (int k = 0; k < 3; ++k) {
    out.text.push_back(' ');
    mgn_append_scientific(out.text, node->xyz[k], 14, 7);
  }
}

// A node data group: five blanks, then the values.
void mgn_output_values(const double* v, int count) {
  out.text.append(5, ' ');
  for (int k = 0; k < count; ++k) {
    out.text.push_back(' ');
    mgn_append_fixed(out.text, v[k], 9, 6);
  }
}

void mgn_output_node_tangent(const double t[3]) { mgn_output_values(t, 3); }
void mgn_output_node_normal(const double n[3]) { mgn_output_values(n, 3); }
void mgn_output_node_t(double t) { mgn_output_values(&t, 1); }
void mgn_output_node_uv(const double uv[2]) { mgn_output_values(uv, 2); }

void mgn_output_number(long number) {
  out.text.push_back(' ');
  mgn_append_integer(out.text, number, 9);
}

// ---------------------------------------------------------------------------
// Node data
// ---------------------------------------------------------------------------

// The own parameters of a node of a surface, patch or shell (null for one
// without, such as a midside node).
const double* own_surface_parameters(const mgn_node* node) {
  if (node->kind != MGN_SURFACE && node->kind != MGN_PATCH && node->kind != MGN_SHELL) return nullptr;
  if (node->parameters == nullptr || node->parameters == node->xyz) return nullptr;
  return node->parameters;
}

// Parameters of the midside node of an edge of the entity: the mean of the
// parameters of the edge's ends that belong to the entity, refined by a
// local projection.  False when no end gives a start or the projection
// fails.
bool midside_surface_parameters(const mgn_node* node, const mgn_surface* surface, double uv[2]) {
  if ((node->flags & MGN_NODE_MIDSIDE) == 0) return false;
  const mgn_edge* edge = mgn_node_first_edge(node);
  if (edge == nullptr) return false;
  double u = 0.0, v = 0.0;
  int ends = 0;
  for (const mgn_node* end : edge->n) {
    const double* p = own_surface_parameters(end);
    if (p == nullptr || end->entity != node->entity) continue;
    u += p[0];
    v += p[1];
    ++ends;
  }
  if (ends == 0) return false;
  u /= ends;
  v /= ends;
  double point[3], su[3], sv[3], normal[3];
  mgn_get_surface_point_derivatives(surface, u, v, point, su, sv);
  mgn_cross(su, sv, normal);
  const double l2 = mgn_dot(normal, normal);
  if (!(l2 > 1e-20)) return false;
  for (double& c : normal) c /= std::sqrt(l2);
  if (mgn_clip_point_surface(surface, &u, &v, normal, su, sv, point, node->xyz, mgn_tol.user_eps, 1e-9, false) == 0)
    return false;
  uv[0] = u;
  uv[1] = v;
  return true;
}

// Parameters of a node on the surface that carries an entity (the surface
// itself, a patch's or a shell's background surface): its own, those of a
// midside node from its edge, else the closest point.
void node_surface_parameters(const mgn_node* node, const mgn_surface* surface, double uv[2]) {
  if (const double* p = own_surface_parameters(node)) {
    uv[0] = p[0];
    uv[1] = p[1];
    return;
  }
  if (midside_surface_parameters(node, surface, uv)) return;
  mgn_find_closest_surface_point(surface, node->xyz, &uv[0], &uv[1]);
}

void output_curve_node_data(const mgn_node* node) {
  const auto* curve = static_cast<const mgn_curve*>(node->entity);
  const double t = mgn_get_node_curve_parameter(curve, node);
  if (out.spec & 2) {
    double d[3] = {0.0, 0.0, 0.0};
    if (curve->straight) {
      d[0] = curve->direction[0];
      d[1] = curve->direction[1];
      d[2] = curve->direction[2];
    } else {
      mgn_get_curve_unit_tangent(curve, t, d);
    }
    mgn_output_node_tangent(d);
  }
  if (out.spec & 1) mgn_output_node_t(t);
}

void output_surface_node_data(const mgn_node* node) {
  const mgn_surface* surface = nullptr;
  const double* plane_normal = nullptr;
  long id = 0;
  switch (node->kind) {
    case MGN_SURFACE:
      surface = static_cast<const mgn_surface*>(node->entity);
      id = surface->id;
      break;
    case MGN_PATCH: {
      const auto* patch = static_cast<const mgn_patch*>(node->entity);
      surface = patch->bg_surface;
      plane_normal = patch->normal;
      id = patch->id;
      break;
    }
    default: {
      const auto* shell = static_cast<const mgn_shell*>(node->entity);
      surface = shell->bg_surface;
      id = shell->id;
      break;
    }
  }
  double uv[2] = {0.0, 0.0};
  if (surface != nullptr) node_surface_parameters(node, surface, uv);
  if (out.spec & 4) {
    double n[3] = {0.0, 0.0, 0.0};
    if (plane_normal != nullptr) {
      n[0] = plane_normal[0];
      n[1] = plane_normal[1];
      n[2] = plane_normal[2];
    } else if (surface != nullptr) {
      mgn_get_surface_normal(surface, uv[0], uv[1], n);
    }
    if (n[0] * n[0] + n[1] * n[1] + n[2] * n[2] < 1e-20) {
      mgn_note_partial_entity(node->kind, node->entity);
      mgn_manipulation_error(mgn_format("Bad parameterization of surface %ld at u = %f, v = %f", id, uv[0], uv[1]),
                             MGN_HERE);
    }
    mgn_output_node_normal(n);
  }
  if (out.spec & 1) mgn_output_node_uv(uv);
}

void mgn_store_node(const mgn_node* node) {
  mgn_output_node(node);
  mgn_output_classification(node->kind, node->entity);
  if ((out.spec & 7) != 0 && node->entity != nullptr) {
    switch (node->kind) {
      case MGN_CURVE: output_curve_node_data(node); break;
      case MGN_SURFACE:
      case MGN_PATCH:
      case MGN_SHELL: output_surface_node_data(node); break;
      default: break;
    }
  }
  mgn_output_new_line();
}

// ---------------------------------------------------------------------------
// Elements
// ---------------------------------------------------------------------------

[[noreturn]] void unexpected(const char* routine, int line) {
  mgn_manipulation_error("Unexpected situation", routine, mgn_module_name(__FILE__), line);
}

// Number of the midside node of the edge between two nodes.
long midside_number(const mgn_node* a, const mgn_node* b) {
  mgn_edge* edge = mgn_get_node_edge(a, b);
  if (edge == nullptr || mgn_edge_mid(edge) == nullptr) unexpected(__func__, __LINE__);
  return mgn_edge_mid(edge)->id;
}

// Corner numbers, then (quadratic) the midside numbers in local edge order.
template <std::size_t N, std::size_t E>
void output_element_nodes(mgn_node* const (&n)[N], const int (&edges)[E][2]) {
  for (const mgn_node* node : n) mgn_output_number(node->id);
  if (out.degree == 2)
    for (const auto& e : edges) mgn_output_number(midside_number(n[e[0]], n[e[1]]));
}

const int edge_edges[1][2] = {{0, 1}};
const int face_edges[3][2] = {{0, 1}, {1, 2}, {2, 0}};
const int quad_edges[4][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}};

long element_id(const void* element) {
  return element == nullptr ? 0 : static_cast<long>(*static_cast<const int32_t*>(element));
}

// Triangle and quad records using the nodes (any order): through the
// triangle and quad lists of the edge of the first two.
const mgn_face* find_face(const mgn_node* a, const mgn_node* b, const mgn_node* c) {
  const mgn_edge* edge = mgn_get_node_edge(a, b);
  if (edge == nullptr) return nullptr;
  for (const mgn_face* face : mgn_edge_faces(edge)) {
    if (face->id != 0 && (face->n[0] == c || face->n[1] == c || face->n[2] == c)) return face;
  }
  return nullptr;
}

const mgn_quad* find_quad(const mgn_node* a, const mgn_node* b, const mgn_node* c) {
  const mgn_edge* edge = mgn_get_node_edge(a, b);
  if (edge == nullptr) return nullptr;
  for (const mgn_quad* quad : mgn_edge_quads(edge)) {
    if (quad->id != 0 && (quad->n[0] == c || quad->n[1] == c || quad->n[2] == c || quad->n[3] == c))
      return quad;
  }
  return nullptr;
}

// Boundary data of the sides of a face element: the curve on which each
// side lies (none for a hidden curve, which no longer bounds anything);
// identifiers first, then properties.
template <std::size_t N, typename T, typename SideEdge>
void output_edge_boundary(const T* element, SideEdge side_edge) {
  long ids[N], props[N];
  for (std::size_t i = 0; i < N; ++i) {
    ids[i] = props[i] = 0;
    const mgn_edge* edge = side_edge(element, static_cast<int>(i));
    if (edge != nullptr && edge->kind == MGN_CURVE && edge->entity != nullptr &&
        !static_cast<const mgn_curve*>(edge->entity)->is_hidden) {
      int key;
      mgn_get_entity_classification(edge->kind, edge->entity, &key, &ids[i], &props[i]);
    }
  }
  for (long id : ids) mgn_output_number(id);
  for (long p : props) mgn_output_number(p);
}

// Neighbours of a face element: its neighbour table, one cell per side
// (0 for a side without one, or when no table was built).
void output_neighbours(const mgn_list_item* cell, int count) {
  for (int i = 0; i < count; ++i) {
    mgn_output_number(cell != nullptr ? element_id(cell->object) : 0);
    if (cell != nullptr) cell = cell->next;
  }
}

// Boundary data of the faces of a volume element: identifiers, keys and
// properties of the surface, patch or shell on which each face lies.
struct side_entity {
  long id = 0, property = 0;
  int key = 0;
};

side_entity entity_of_side(int kind, const void* entity) {
  side_entity s;
  if (entity != nullptr && (kind == MGN_SURFACE || kind == MGN_PATCH || kind == MGN_SHELL))
    mgn_get_entity_classification(kind, entity, &s.key, &s.id, &s.property);
  return s;
}

side_entity triangle_side(const mgn_node* a, const mgn_node* b, const mgn_node* c) {
  const mgn_face* face = find_face(a, b, c);
  return face == nullptr ? side_entity{} : entity_of_side(face->kind, face->entity);
}

side_entity quad_side(const mgn_node* a, const mgn_node* b, const mgn_node* c) {
  const mgn_quad* quad = find_quad(a, b, c);
  return quad == nullptr ? side_entity{} : entity_of_side(quad->kind, quad->entity);
}

void output_side_entities(const side_entity* sides, int count) {
  for (int i = 0; i < count; ++i) mgn_output_number(sides[i].id);
  for (int i = 0; i < count; ++i) mgn_output_iso_type(sides[i].key);
  for (int i = 0; i < count; ++i) mgn_output_number(sides[i].property);
}

void mgn_store_edge(const mgn_edge* edge) {
  if (edge->kind != MGN_CURVE && edge->kind != MGN_INTERFACE) unexpected(__func__, __LINE__);
  mgn_output_number(edge->id);
  mgn_output_number(edge->n[0]->id);
  mgn_output_number(edge->n[1]->id);
  if (out.degree == 2) {
    // Interface edges share one placeholder midside node numbered 0.
    if (mgn_edge_mid(edge) == nullptr) unexpected(__func__, __LINE__);
    mgn_output_number(mgn_edge_mid(edge)->id);
  }
  mgn_output_classification(edge->kind, edge->entity);
  mgn_output_new_line();
}

void mgn_store_face(const mgn_face* face) {
  if (face->kind != MGN_SURFACE && face->kind != MGN_PATCH && face->kind != MGN_SHELL) unexpected(__func__, __LINE__);
  mgn_output_number(face->id);
  output_element_nodes(face->n, face_edges);
  mgn_output_classification(face->kind, face->entity);
  if (out.spec & 64) mgn_output_iso_type(face->iso_type);
  if (out.spec & 32) output_neighbours(mgn_neighbour_table(face), 3);
  if (out.spec & 8) output_edge_boundary<3>(face, mgn_get_face_side_edge);
  mgn_output_new_line();
}

void mgn_store_quad(const mgn_quad* quad) {
  if (quad->kind != MGN_SURFACE && quad->kind != MGN_PATCH && quad->kind != MGN_SHELL &&
      quad->kind != MGN_INTERFACE)
    unexpected(__func__, __LINE__);
  mgn_output_number(quad->id);
  output_element_nodes(quad->n, quad_edges);
  mgn_output_classification(quad->kind, quad->entity);
  if (out.spec & 64) mgn_output_iso_type(quad->iso_type);
  if (out.spec & 32) output_neighbours(mgn_neighbour_table(quad), 4);
  if (out.spec & 8) output_edge_boundary<4>(quad, mgn_get_quad_side_edge);
  mgn_output_new_line();
}

void mgn_store_tetra(const mgn_tetra* tetra) {
  mgn_output_number(tetra->id);
  output_element_nodes(tetra->n, mgn_tetra_edge_nodes);
  mgn_output_classification(MGN_REGION, tetra->region);
  if (out.spec & 32) {
    // Faces (0 1 2), (0 1 3), (1 2 3), (2 0 3) lie opposite nodes 3, 2, 0, 1.
    // Across a face of a surface, patch or shell the neighbour is the tetra
    // on the face's other side (another region's, or none).
    for (int cell : {3, 2, 0, 1}) {
      const void* across = nullptr;
      if (tetra->ngb_type[cell] == MGN_ELEM_TETRA) {
        across = tetra->ngb[cell];
      } else if (tetra->ngb_type[cell] == MGN_ELEM_FACE) {
        const auto* face = static_cast<const mgn_face*>(tetra->ngb[cell]);
        if (const mgn_element_extra* extra = mgn_find_element_extra(face))
          for (int s = 0; s < 2; ++s)
            if (extra->side[s] != tetra && extra->side_type[s] == MGN_ELEM_TETRA) across = extra->side[s];
      }
      mgn_output_number(across != nullptr ? element_id(across) : 0);
    }
  }
  if (out.spec & 8) {
    side_entity sides[4];
    for (int f = 0; f < 4; ++f) {
      const int* v = mgn_tetra_face_nodes[f];
      sides[f] = triangle_side(tetra->n[v[0]], tetra->n[v[1]], tetra->n[v[2]]);
    }
    output_side_entities(sides, 4);
  }
  mgn_output_new_line();
}

void mgn_store_pyram(const mgn_pyram* pyram) {
  mgn_output_number(pyram->id);
  output_element_nodes(pyram->n, mgn_pyram_edge_nodes);
  mgn_output_classification(MGN_REGION, pyram->region);
  if (out.spec & 32)
    for (const void* ngb : pyram->ngb) mgn_output_number(element_id(ngb));
  if (out.spec & 8) {
    const mgn_node* const* n = pyram->n;
    side_entity sides[5] = {quad_side(n[0], n[1], n[2]), triangle_side(n[0], n[1], n[4]),
                            triangle_side(n[1], n[2], n[4]), triangle_side(n[2], n[3], n[4]),
                            triangle_side(n[3], n[0], n[4])};
    output_side_entities(sides, 5);
  }
  mgn_output_new_line();
}

void mgn_store_wedge(const mgn_wedge* wedge) {
  if (wedge->kind != MGN_REGION && wedge->kind != MGN_INTERFACE) unexpected(__func__, __LINE__);
  mgn_output_number(wedge->id);
  output_element_nodes(wedge->n, mgn_wedge_edge_nodes);
  mgn_output_classification(wedge->kind, wedge->entity);
  if (out.spec & 32)
    for (const void* ngb : wedge->ngb) mgn_output_number(element_id(ngb));
  if (out.spec & 8) {
    const mgn_node* const* n = wedge->n;
    side_entity sides[5] = {triangle_side(n[0], n[1], n[2]), triangle_side(n[3], n[4], n[5]),
                            quad_side(n[0], n[1], n[4]), quad_side(n[1], n[2], n[5]),
                            quad_side(n[2], n[0], n[3])};
    output_side_entities(sides, 5);
  }
  mgn_output_new_line();
}

void mgn_store_hexa(const mgn_hexa* hexa) {
  if (hexa->kind != MGN_REGION && hexa->kind != MGN_INTERFACE) unexpected(__func__, __LINE__);
  mgn_output_number(hexa->id);
  output_element_nodes(hexa->n, mgn_hexa_edge_nodes);
  mgn_output_classification(hexa->kind, hexa->entity);
  if (out.spec & 64) mgn_output_iso_type(hexa->iso_type);
  if (out.spec & 32)
    for (const void* ngb : hexa->ngb) mgn_output_number(element_id(ngb));
  if (out.spec & 8) {
    const mgn_node* const* n = hexa->n;
    side_entity sides[6] = {quad_side(n[0], n[1], n[2]), quad_side(n[4], n[5], n[6]),
                            quad_side(n[0], n[1], n[5]), quad_side(n[1], n[2], n[6]),
                            quad_side(n[2], n[3], n[7]), quad_side(n[3], n[0], n[4])};
    output_side_entities(sides, 6);
  }
  mgn_output_new_line();
}

template <typename T, typename F>
void store_section(mgn_listing* listing, long count, F&& store) {
  if (count <= 0) return;
  for (T** ref : mgn_listing_range<T*>(mgn_get_first_listing_block(listing)))
    if (*ref != nullptr && (*ref)->id != 0) store(*ref);
  mgn_output_new_line();
}

// ---------------------------------------------------------------------------
// Boundary associations
// ---------------------------------------------------------------------------

template <typename T>
bool associated(const T* entity) {
  return entity != nullptr && entity->id != 0 && !entity->is_virtual && entity->output && entity->bassoc;
}

bool face_entity_associated(int kind, const void* entity) {
  switch (kind) {
    case MGN_SURFACE: return associated(static_cast<const mgn_surface*>(entity));
    case MGN_PATCH: return associated(static_cast<const mgn_patch*>(entity));
    case MGN_SHELL: return associated(static_cast<const mgn_shell*>(entity));
    default: return false;
  }
}

// Finite-element records of each entity, in listing order.
template <typename T>
std::unordered_map<const void*, std::vector<const T*>> records_by_entity(mgn_listing* listing) {
  std::unordered_map<const void*, std::vector<const T*>> map;
  for (T** ref : mgn_listing_range<T*>(mgn_get_first_listing_block(listing)))
    if (*ref != nullptr && (*ref)->id != 0) map[(*ref)->entity].push_back(*ref);
  return map;
}

// A hidden curve takes no part in the output: it has no edges.
bool hidden_entity(const mgn_curve* curve) { return curve->is_hidden; }
bool hidden_entity(const void*) { return false; }

template <typename T>
std::vector<const T*> model_entities(const mgn_entity_store& store) {
  std::vector<const T*> v;
  for (const T* entity : mgn_list_range<T>(store.list))
    if (associated(entity) && !hidden_entity(entity)) v.push_back(entity);
  return v;
}

void mgn_store_edge_assoc_elems(const mgn_edge* edge) {
  long count = 0;
  for (const mgn_face* face : mgn_edge_faces(edge)) {
    if (face->id != 0 && face_entity_associated(face->kind, face->entity)) ++count;
  }
  for (const mgn_quad* quad : mgn_edge_quads(edge)) {
    if (quad->id != 0 && face_entity_associated(quad->kind, quad->entity)) ++count;
  }
  MGN_PUT(" %9ld", count);
  for (const mgn_face* face : mgn_edge_faces(edge)) {
    if (face->id != 0 && face_entity_associated(face->kind, face->entity)) mgn_output_number(face->id);
  }
  for (const mgn_quad* quad : mgn_edge_quads(edge)) {
    if (quad->id != 0 && face_entity_associated(quad->kind, quad->entity)) mgn_output_number(quad->id);
  }
  mgn_output_new_line();
}

// Volume elements on the two sides of a face or quad.
template <typename T>
void mgn_store_face_assoc_tetras(const T* face) {
  long count = 0;
  void* const none[2] = {nullptr, nullptr};
  const mgn_element_extra* extra = mgn_find_element_extra(face);
  void* const* side = extra != nullptr ? extra->side : none;
  for (int s = 0; s < 2; ++s)
    if (side[s] != nullptr && element_id(side[s]) != 0) ++count;
  MGN_PUT(" %9ld", count);
  for (int s = 0; s < 2; ++s)
    if (side[s] != nullptr && element_id(side[s]) != 0) mgn_output_number(element_id(side[s]));
  mgn_output_new_line();
}

template <typename T>
void store_face_entity_assoc(int key, const T* entity,
                             const std::unordered_map<const void*, std::vector<const mgn_face*>>& faces,
                             const std::unordered_map<const void*, std::vector<const mgn_quad*>>& quads) {
  static const std::vector<const mgn_face*> no_faces;
  static const std::vector<const mgn_quad*> no_quads;
  auto f = faces.find(entity);
  auto q = quads.find(entity);
  const auto& fs = f == faces.end() ? no_faces : f->second;
  const auto& qs = q == quads.end() ? no_quads : q->second;
  MGN_PUT(" %9d %9ld %9ld %9ld", key, static_cast<long>(entity->id), static_cast<long>(entity->property),
          static_cast<long>(fs.size() + qs.size()));
  mgn_output_new_line();
  for (const mgn_face* face : fs) mgn_store_face_assoc_tetras(face);
  for (const mgn_quad* quad : qs) mgn_store_face_assoc_tetras(quad);
  mgn_output_new_line();
}

void store_boundary_associations() {
  auto curves = model_entities<mgn_curve>(mgn_model.curves);
  auto surfaces = model_entities<mgn_surface>(mgn_model.surfaces);
  auto patches = model_entities<mgn_patch>(mgn_model.patches);
  auto shells = model_entities<mgn_shell>(mgn_model.shells);
  MGN_PUT(" %9ld %9ld %9ld %9ld", static_cast<long>(curves.size()), static_cast<long>(surfaces.size()),
          static_cast<long>(patches.size()), static_cast<long>(shells.size()));
  mgn_output_new_line();
  mgn_output_new_line();
  auto edges = records_by_entity<mgn_edge>(mgn_mesh.fe_edges);
  for (const mgn_curve* curve : curves) {
    auto found = edges.find(curve);
    const long count = found == edges.end() ? 0 : static_cast<long>(found->second.size());
    MGN_PUT(" %9d %9ld %9ld %9ld", MGN_CURVE + 1, static_cast<long>(curve->id), static_cast<long>(curve->property),
            count);
    mgn_output_new_line();
    if (count > 0)
      for (const mgn_edge* edge : found->second) mgn_store_edge_assoc_elems(edge);
    mgn_output_new_line();
  }
  auto faces = records_by_entity<mgn_face>(mgn_mesh.fe_faces);
  auto quads = records_by_entity<mgn_quad>(mgn_mesh.fe_quads);
  for (const mgn_surface* s : surfaces) store_face_entity_assoc(MGN_SURFACE + 1, s, faces, quads);
  for (const mgn_patch* p : patches) store_face_entity_assoc(MGN_PATCH + 1, p, faces, quads);
  for (const mgn_shell* s : shells) store_face_entity_assoc(MGN_SHELL + 1, s, faces, quads);
}

// ---------------------------------------------------------------------------
// Partial output
// ---------------------------------------------------------------------------

// Moves an entity's node listing (and its element listings) into the
// finite-element listings, once.
void collect_entity(int kind, void* entity, std::set<const void*>& done) {
  if (entity == nullptr || !done.insert(entity).second) return;
  mgn_entity_mesh* mesh = mgn_get_entity_mesh(kind, entity);
  if (kind == MGN_VERTEX) {
    if (mesh->node != nullptr) {
      if (mgn_mesh.fe_nodes == nullptr) mgn_mesh.fe_nodes = mgn_create_listing(10, sizeof(mgn_node*));
      *static_cast<mgn_node**>(mgn_get_listing_item(mgn_mesh.fe_nodes)) = mesh->node;
    }
    return;
  }
  if (mesh->collected) return;
  mesh->collected = true;
  auto move = [](mgn_listing*& global, mgn_listing* own) {
    if (own != nullptr) global = mgn_append_listing(global, mgn_get_first_listing_block(own));
  };
  move(mgn_mesh.fe_nodes, mesh->nodes);
  // Only the edges of curves are elements of the mesh file; those of
  // surfaces, patches, shells and regions are internal to their meshes.
  if (kind == MGN_CURVE) move(mgn_mesh.fe_edges, mesh->edges);
  move(mgn_mesh.fe_faces, mesh->faces);
  move(mgn_mesh.fe_quads, mesh->quads);
  move(mgn_mesh.fe_tetras, mesh->tetras);
  move(mgn_mesh.fe_pyrams, mesh->pyrams);
  move(mgn_mesh.fe_wedges, mesh->wedges);
  move(mgn_mesh.fe_hexas, mesh->hexas);
}

void collect_curve(mgn_curve* curve, std::set<const void*>& done) {
  collect_entity(MGN_CURVE, curve, done);
  collect_entity(MGN_VERTEX, curve->vertex[0], done);
  collect_entity(MGN_VERTEX, curve->vertex[1], done);
}

void collect_curves(mgn_list curves, std::set<const void*>& done) {
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(curves)) collect_curve(curve, done);
}

void collect_surface(mgn_surface* surface, std::set<const void*>& done) {
  collect_entity(MGN_SURFACE, surface, done);
  for (mgn_curve* curve : surface->curve)
    if (curve != nullptr) collect_curve(curve, done);
}

template <typename T>
void collect_trimmed(int kind, T* entity, std::set<const void*>& done) {
  collect_entity(kind, entity, done);
  collect_curves(entity->left_curves, done);
  collect_curves(entity->right_curves, done);
}

void collect_region(mgn_region* region, std::set<const void*>& done) {
  collect_entity(MGN_REGION, region, done);
  for (mgn_list list : {region->inner_surfaces, region->outer_surfaces})
    for (mgn_surface* s : mgn_list_range<mgn_surface>(list)) collect_surface(s, done);
  for (mgn_list list : {region->inner_patches, region->outer_patches})
    for (mgn_patch* p : mgn_list_range<mgn_patch>(list)) collect_trimmed(MGN_PATCH, p, done);
  for (mgn_list list : {region->inner_shells, region->outer_shells})
    for (mgn_shell* s : mgn_list_range<mgn_shell>(list)) collect_trimmed(MGN_SHELL, s, done);
}

template <typename T>
void restore_ids(const mgn_entity_store& store) {
  for (T* entity : mgn_list_range<T>(store.list)) entity->id = std::abs(entity->id);
}

bool write_partial_hook() { return mgn_write_partial_mesh(); }
void restore_ids_hook() { mgn_restore_entity_ids(); }

}  // namespace

// ---------------------------------------------------------------------------
// Interface
// ---------------------------------------------------------------------------

void mgn_get_entity_classification(int kind, const void* entity, int* key, long* id, long* property) {
  *key = kind + 1;
  *id = 0;
  *property = 0;
  if (entity == nullptr) return;
  auto take = [&](const auto* record) {
    *id = record->id;
    *property = record->property;
  };
  switch (kind) {
    case MGN_VERTEX: take(static_cast<const mgn_vertex*>(entity)); break;
    case MGN_CURVE: take(static_cast<const mgn_curve*>(entity)); break;
    case MGN_SURFACE: take(static_cast<const mgn_surface*>(entity)); break;
    case MGN_REGION: take(static_cast<const mgn_region*>(entity)); break;
    case MGN_PATCH: take(static_cast<const mgn_patch*>(entity)); break;
    case MGN_SHELL: take(static_cast<const mgn_shell*>(entity)); break;
    case MGN_INTERFACE: take(static_cast<const mgn_interface*>(entity)); break;
    default: break;
  }
}

void mgn_get_output_nodes(std::vector<const mgn_node*>& nodes) {
  nodes.clear();
  const auto& order = mgn_mesh.order;
  if (!order.empty()) {
    nodes.assign(order.begin(), order.end());
    if (mgn_mesh.reverse) std::reverse(nodes.begin(), nodes.end());
    return;
  }
  // The renumbering marked the first occurrence of each node in the listing
  // with its position.
  long k = 0;
  for (mgn_node** ref : mgn_listing_range<mgn_node*>(mgn_get_first_listing_block(mgn_mesh.fe_nodes))) {
    const mgn_node* node = *ref;
    if (node == nullptr || node->id == 0 || node->work != k + 1) continue;
    ++k;
    nodes.push_back(node);
  }
}

void mgn_store_mesh_default(FILE* stream, const char* file_name) {
  out.stream = stream;
  out.name = file_name;
  out.line = 1;
  out.text.clear();
  out.text.reserve(WRITE_BLOCK + 4096);
  out.spec = mgn_set.output_spec;
  out.degree = mgn_set.element_degree;
  // Header and counts.
  if (mgn_set.quad_hexa_support) {
    mgn_output_mesh_info(7);
    mgn_output_mixed_mesh_numbers();
  } else {
    mgn_output_mesh_info(3);
    mgn_output_tri_tetra_numbers();
  }
  if (mgn_run.nodes.fe > 0) {
    std::vector<const mgn_node*> nodes;
    mgn_get_output_nodes(nodes);
    for (const mgn_node* node : nodes) mgn_store_node(node);
    mgn_output_new_line();
  }
  store_section<mgn_edge>(mgn_mesh.fe_edges, mgn_run.edges.fe, mgn_store_edge);
  store_section<mgn_face>(mgn_mesh.fe_faces, mgn_run.trias.fe, mgn_store_face);
  store_section<mgn_quad>(mgn_mesh.fe_quads, mgn_run.quads.fe, mgn_store_quad);
  store_section<mgn_tetra>(mgn_mesh.fe_tetras, mgn_run.tetras.fe, mgn_store_tetra);
  store_section<mgn_pyram>(mgn_mesh.fe_pyrams, mgn_run.pyrams.fe, mgn_store_pyram);
  store_section<mgn_wedge>(mgn_mesh.fe_wedges, mgn_run.wedges.fe, mgn_store_wedge);
  store_section<mgn_hexa>(mgn_mesh.fe_hexas, mgn_run.hexas.fe, mgn_store_hexa);
  if (out.spec & 16) store_boundary_associations();
  flush_text();
}

int mgn_store_mesh_on_file() {
  const std::string& name = mgn_set.output_file_name;
  if (name.empty()) return 0;
  FILE* stream = mgn_open_file(name.c_str(), 2);
  if (stream == nullptr)
    mgn_file_manipulation_error(mgn_format("Output file %s opening error", name.c_str()), MGN_HERE);
  // The lines of the file: header, counts and the sections with their empty
  // lines (the boundary associations are not foreseen).
  out.line = 1;
  mgn_progress_stage stage;
  stage.name = "Writing the mesh file";
  stage.element_word = "lines";
  stage.counters[0] = &out.line;
  if ((mgn_set.output_spec & 16) == 0) {
    stage.element_total = 3;
    for (const mgn_record_count* count : {&mgn_run.nodes, &mgn_run.edges, &mgn_run.trias, &mgn_run.quads,
                                          &mgn_run.tetras, &mgn_run.pyrams, &mgn_run.wedges, &mgn_run.hexas})
      if (count->fe > 0) stage.element_total += count->fe + 1;
  }
  mgn_progress_begin(stage);
  mgn_store_mesh_default(stream, name.c_str());
  mgn_progress_end();
  // Buffered writes fail at the latest when the file is flushed and closed.
  bool failed = std::fflush(stream) != 0 || std::ferror(stream) != 0;
  failed = std::fclose(stream) != 0 || failed;
  out.stream = nullptr;
  if (failed) {
    out.line = out.line > 1 ? out.line - 1 : 1;
    write_failed(__func__, __LINE__);
  }
  return 1;
}

bool mgn_write_partial_mesh() {
  // Nothing was meshed before the mesh store exists.
  if (mgn_mesh.node_pool == nullptr) return false;
  std::set<const void*> done;
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_noted.curves)) collect_curve(curve, done);
  for (mgn_surface* surface : mgn_list_range<mgn_surface>(mgn_noted.surfaces)) collect_surface(surface, done);
  for (mgn_patch* patch : mgn_list_range<mgn_patch>(mgn_noted.patches)) collect_trimmed(MGN_PATCH, patch, done);
  for (mgn_shell* shell : mgn_list_range<mgn_shell>(mgn_noted.shells)) collect_trimmed(MGN_SHELL, shell, done);
  for (mgn_region* region : mgn_list_range<mgn_region>(mgn_noted.regions)) collect_region(region, done);
  mgn_set.renumbering_type = 0;
  // Midside nodes are made at the end of meshing: before that the partial
  // mesh is linear.
  if (mgn_mesh.midnode_count == 0) mgn_set.element_degree = 1;
  mgn_renumber_mesh();
  mgn_set.output_spec = 0;
  mgn_store_mesh_on_file();
  return true;
}

void mgn_restore_entity_ids() {
  restore_ids<mgn_vertex>(mgn_model.vertices);
  restore_ids<mgn_curve>(mgn_model.curves);
  restore_ids<mgn_surface>(mgn_model.surfaces);
  restore_ids<mgn_patch>(mgn_model.patches);
  restore_ids<mgn_shell>(mgn_model.shells);
  restore_ids<mgn_region>(mgn_model.regions);
}

void mgn_init_mesh_output() {
  mgn_terminate_hook.write_partial_mesh = write_partial_hook;
  mgn_terminate_hook.restore_entity_ids = restore_ids_hook;
}
