// Whole-mesh passes over surface meshes: curve hiding, edge swapping across
// curves, vertex hiding and the neighbour tables of triangles and quads.
#include "mesh2.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "bezier.h"
#include "curve.h"
#include "element.h"
#include "geom.h"
#include "list.h"
#include "mesh1.h"
#include "message.h"
#include "project.h"
#include "smooth.h"

namespace {

// ---------------------------------------------------------------------------
// Face entities
// ---------------------------------------------------------------------------

// A surface, patch or shell as the passes see it.
struct face_entity {
  int kind = -1;
  void* entity = nullptr;
  int32_t property = 0;
  bool output = false;
  bool meshed = false;
  const mgn_surface* surface = nullptr;   // the surface its nodes lie on
  const double* plane_normal = nullptr;   // fixed unit normal of a planar one
};

face_entity describe(int kind, void* entity) {
  face_entity f;
  f.kind = kind;
  f.entity = entity;
  switch (kind) {
    case MGN_SURFACE: {
      auto* s = static_cast<mgn_surface*>(entity);
      f.property = s->property;
      f.output = s->output;
      f.meshed = s->mesh.discretized;
      f.surface = s;
      if (s->planar) f.plane_normal = s->normal;
      break;
    }
    case MGN_PATCH: {
      auto* p = static_cast<mgn_patch*>(entity);
      f.property = p->property;
      f.output = p->output;
      f.meshed = p->mesh.discretized;
      f.surface = p->bg_surface;
      f.plane_normal = p->normal;
      break;
    }
    case MGN_SHELL: {
      auto* s = static_cast<mgn_shell*>(entity);
      f.property = s->property;
      f.output = s->output;
      f.meshed = s->mesh.discretized;
      f.surface = s->bg_surface;
      if (s->bg_surface != nullptr && s->bg_surface->planar) f.plane_normal = s->bg_surface->normal;
      break;
    }
    default: break;
  }
  return f;
}

// Whether the elements of the entity are in the mesh output.
bool output_entity(int kind, const void* entity) {
  switch (kind) {
    case MGN_SURFACE: {
      const auto* s = static_cast<const mgn_surface*>(entity);
      return s->output && s->mesh.discretized;
    }
    case MGN_PATCH: {
      const auto* p = static_cast<const mgn_patch*>(entity);
      return p->output && p->mesh.discretized;
    }
    case MGN_SHELL: {
      const auto* s = static_cast<const mgn_shell*>(entity);
      return s->output && s->mesh.discretized;
    }
    default: return false;
  }
}

// The faces of the model on the two sides of a curve: every side of a
// surface, patch or shell that the curve forms counts once.  True when
// there are exactly two, of two entities, both meshed and with the same
// property.
bool curve_faces(const mgn_curve* curve, face_entity& a, face_entity& b) {
  std::vector<face_entity> sides;
  for (mgn_surface* s : mgn_list_range<mgn_surface>(curve->surfaces)) {
    if (s == nullptr || s->id == 0 || s->is_virtual) continue;
    for (const mgn_curve* c : s->curve)
      if (c == curve) sides.push_back(describe(MGN_SURFACE, s));
  }
  auto count_in = [&](mgn_list list) {
    int n = 0;
    for (const mgn_curve* c : mgn_list_range<mgn_curve>(list))
      if (c == curve) ++n;
    return n;
  };
  for (mgn_patch* p : mgn_list_range<mgn_patch>(curve->patches)) {
    if (p == nullptr || p->id == 0 || p->is_virtual) continue;
    for (int n = count_in(p->left_curves) + count_in(p->right_curves); n > 0; --n)
      sides.push_back(describe(MGN_PATCH, p));
  }
  for (mgn_shell* s : mgn_list_range<mgn_shell>(curve->shells)) {
    if (s == nullptr || s->id == 0 || s->is_virtual) continue;
    for (int n = count_in(s->left_curves) + count_in(s->right_curves); n > 0; --n)
      sides.push_back(describe(MGN_SHELL, s));
  }
  if (sides.size() != 2 || sides[0].entity == sides[1].entity) return false;
  a = sides[0];
  b = sides[1];
  return a.meshed && b.meshed && a.property == b.property;
}

// Calls the function on the non-null references among the first count of
// the listing of a meshed entity.
template <typename T, typename F>
void for_each_reference(mgn_listing* listing, long count, F&& function) {
  for (T** ref : mgn_listing_first<T*>(listing, count))
    if (*ref != nullptr) function(*ref);
}

// Unit normal of the face at a node of one of its boundary curves; false
// where it does not exist (a collapsed side).
bool face_normal_at(const face_entity& f, const mgn_curve* curve, const mgn_node* node, double n[3]) {
  if (f.plane_normal != nullptr) {
    for (int k = 0; k < 3; ++k) n[k] = f.plane_normal[k];
    return mgn_dot(n, n) > 0.0;
  }
  if (f.surface == nullptr) return false;
  double uv[2] = {0.0, 0.0};
  bool found = false;
  if (f.kind == MGN_SURFACE) {
    const auto* s = static_cast<const mgn_surface*>(f.entity);
    for (int side = 0; side < 4 && !found; ++side) {
      if (s->curve[side] != curve) continue;
      double t = mgn_get_node_curve_parameter(curve, node);
      if (s->reversed[side]) t = 1.0 - t;
      switch (side) {
        case 0: uv[0] = t; uv[1] = 0.0; break;
        case 1: uv[0] = 0.0; uv[1] = t; break;
        case 2: uv[0] = t; uv[1] = 1.0; break;
        default: uv[0] = 1.0; uv[1] = t; break;
      }
      found = true;
    }
  }
  if (!found) mgn_find_closest_surface_point(f.surface, node->xyz, &uv[0], &uv[1]);
  return mgn_get_surface_normal(f.surface, uv[0], uv[1], n) != 0;
}

// Whether the normals of the two faces pass the test at every node of the
// curve where both exist (and at one node at least).
template <typename Test>
bool faces_agree(const mgn_curve* curve, const face_entity& a, const face_entity& b, Test test) {
  bool checked = false, agree = true;
  auto check = [&](const mgn_node* node) {
    if (!agree || node == nullptr) return;
    double na[3], nb[3];
    if (!face_normal_at(a, curve, node, na) || !face_normal_at(b, curve, node, nb)) return;
    checked = true;
    if (!test(mgn_dot(na, nb))) agree = false;
  };
  check(mgn_find_vertex_node(curve->vertex[0]));
  for_each_reference<mgn_node>(curve->mesh.nodes, curve->mesh.node_count, check);
  check(mgn_find_vertex_node(curve->vertex[1]));
  return checked && agree;
}

// A curve that carries its own mesh and may be hidden or swapped across.
bool own_meshed_curve(mgn_curve* curve) {
  return curve->id != 0 && !curve->is_virtual && !curve->collapsed && curve->mirrored == nullptr &&
         curve->mesh.discretized && mgn_get_top_physical_curve(curve) == curve;
}

// ---------------------------------------------------------------------------
// Neighbour tables
// ---------------------------------------------------------------------------

// Cells of the element lists of the neighbour tables.
mgn_listing* neighbour_cells = nullptr;

mgn_list_item* take_cell() {
  mgn_listing*& cells = neighbour_cells;
  if (cells == nullptr)
    cells = mgn_create_listing(std::max(1L, std::min(mgn_set.listing_size, 100L)), sizeof(mgn_list_item));
  auto* cell = mgn_get_listing_item_as<mgn_list_item>(cells);
  cell->object = nullptr;
  cell->next = nullptr;
  return cell;
}

bool joins(const mgn_edge* edge, const mgn_node* a, const mgn_node* b) {
  return (edge->n[0] == a && edge->n[1] == b) || (edge->n[0] == b && edge->n[1] == a);
}

// The edge from a to b whose face (or quad) list holds the element, else
// any edge joining them.
mgn_edge* side_edge(const mgn_node* a, const mgn_node* b, const void* element, bool quad) {
  mgn_edge* any = nullptr;
  for (mgn_edge* edge : mgn_node_edges(a)) {
    if (edge->id == 0 || !joins(edge, a, b)) continue;
    if (quad ? mgn_edge_has_quad(edge, static_cast<const mgn_quad*>(element))
             : mgn_edge_has_face(edge, static_cast<const mgn_face*>(element)))
      return edge;
    if (any == nullptr) any = edge;
  }
  return any;
}

// Whether elements of two entities meet across the edge as neighbours: an
// edge inside a surface, or an edge of a hidden or swapped curve.
bool crossable(const mgn_edge* edge) {
  if (edge->kind != MGN_CURVE) return true;
  const auto* curve = static_cast<const mgn_curve*>(edge->entity);
  return curve != nullptr && (curve->is_hidden || curve->swapped);
}

// The element across an edge from the given element of the given entity.
void* across(const mgn_edge* edge, const void* self, int kind, const void* entity) {
  if (edge == nullptr) return nullptr;
  void* same = nullptr;
  void* any = nullptr;
  int same_count = 0, any_count = 0;
  auto consider = [&](void* element, int32_t id, int element_kind, const void* element_entity) {
    if (element == self || id == 0 || !output_entity(element_kind, element_entity)) return;
    ++any_count;
    any = element;
    if (element_kind == kind && element_entity == entity) {
      ++same_count;
      same = element;
    }
  };
  for (mgn_face* f : mgn_edge_faces(edge)) consider(f, f->id, f->kind, f->entity);
  for (mgn_quad* q : mgn_edge_quads(edge))
    if (q != nullptr) consider(q, q->id, q->kind, q->entity);
  if (same_count == 1) return same;
  if (same_count == 0 && any_count == 1 && crossable(edge)) return any;
  return nullptr;
}

template <typename T>
bool has_table(const T* element) {
  return mgn_neighbour_table(element) != nullptr;
}

template <typename T, int N>
void fill_table(T* element) {
  if (element->id == 0) return;
  mgn_element_extra* extra = mgn_get_element_extra(element);
  if (extra->ngb == nullptr) {
    mgn_list_item* head = nullptr;
    for (int i = 0; i < N; ++i) {
      mgn_list_item* cell = take_cell();
      cell->next = head;
      head = cell;
    }
    extra->ngb = head;
  }
  mgn_list_item* cell = extra->ngb;
  for (int i = 0; i < N && cell != nullptr; ++i, cell = cell->next) {
    const mgn_edge* edge = side_edge(element->n[i], element->n[(i + 1) % N], element, N == 4);
    cell->object = across(edge, element, element->kind, element->entity);
  }
}

// Rebuilds the table of an element that has one, and of the elements on
// its sides.
template <typename T, int N>
void refresh_around(T* element) {
  if (has_table(element)) fill_table<T, N>(element);
  for (int i = 0; i < N; ++i) {
    const mgn_edge* edge = side_edge(element->n[i], element->n[(i + 1) % N], element, N == 4);
    if (edge == nullptr) continue;
    for (mgn_face* f : mgn_edge_faces(edge))
      if (static_cast<void*>(f) != static_cast<void*>(element) && has_table(f)) fill_table<mgn_face, 3>(f);
    for (mgn_quad* q : mgn_edge_quads(edge))
      if (q != nullptr && static_cast<void*>(q) != static_cast<void*>(element) && has_table(q))
        fill_table<mgn_quad, 4>(q);
  }
}

// ---------------------------------------------------------------------------
// Vertex hiding
// ---------------------------------------------------------------------------

// Mean of the other ends of the node's edges.
bool neighbour_mean(const mgn_node* node, double mean[3]) {
  double sum[3] = {0.0, 0.0, 0.0};
  long count = 0;
  for (const mgn_edge* edge : mgn_node_edges(node)) {
    if (edge->id == 0) continue;
    const mgn_node* other = edge->n[0] == node ? edge->n[1] : edge->n[0];
    for (int k = 0; k < 3; ++k) sum[k] += other->xyz[k];
    ++count;
  }
  if (count == 0) return false;
  for (int k = 0; k < 3; ++k) mean[k] = sum[k] / static_cast<double>(count);
  return true;
}

// The live triangles around a node.
void faces_around(const mgn_node* node, std::vector<mgn_face*>& faces) {
  faces.clear();
  for (const mgn_edge* edge : mgn_node_edges(node)) {
    if (edge->id == 0) continue;
    for (mgn_face* f : mgn_edge_faces(edge))
      if (f->id != 0 && std::find(faces.begin(), faces.end(), f) == faces.end()) faces.push_back(f);
  }
}

// The target put onto the nearest of the faces around the node.
bool onto_nearest_face(const std::vector<mgn_face*>& faces, const double target[3], double place[3]) {
  double best = -1.0;
  std::vector<const void*> seen;
  for (const mgn_face* f : faces) {
    if (std::find(seen.begin(), seen.end(), f->entity) != seen.end()) continue;
    seen.push_back(f->entity);
    const face_entity e = describe(f->kind, f->entity);
    double p[3];
    if (e.plane_normal != nullptr) {
      // Into the plane through the face.
      double d[3];
      mgn_sub(target, f->n[0]->xyz, d);
      const double h = mgn_dot(d, e.plane_normal);
      for (int k = 0; k < 3; ++k) p[k] = target[k] - h * e.plane_normal[k];
    } else if (e.surface != nullptr) {
      double u = 0.0, v = 0.0;
      mgn_find_closest_surface_point(e.surface, target, &u, &v);
      mgn_get_surface_point(e.surface, u, v, p);
    } else {
      continue;
    }
    const double d2 = mgn_get_point_square_distance(p, target);
    if (best < 0.0 || d2 < best) {
      best = d2;
      for (int k = 0; k < 3; ++k) place[k] = p[k];
    }
  }
  return best >= 0.0;
}

// The target projected onto the common line of the curves, when they are
// all straight and parallel.
bool onto_common_line(const mgn_node* node, const std::vector<mgn_curve*>& curves, const double target[3],
                      double place[3]) {
  double d[3] = {0.0, 0.0, 0.0};
  for (std::size_t i = 0; i < curves.size(); ++i) {
    mgn_curve* c = curves[i];
    if (!c->straight && !mgn_check_curve_straightness(c)) return false;
    if (i == 0) {
      for (int k = 0; k < 3; ++k) d[k] = c->direction[k];
      if (!(mgn_dot(d, d) > 0.0)) return false;
    } else if (std::fabs(mgn_dot(d, c->direction)) < 1.0 - 1e-9) {
      return false;
    }
  }
  double r[3];
  mgn_sub(target, node->xyz, r);
  const double s = mgn_dot(r, d) / mgn_dot(d, d);
  for (int k = 0; k < 3; ++k) place[k] = node->xyz[k] + s * d[k];
  return true;
}

// Whether every triangle around the node keeps its facing with the node at
// xyz.
bool faces_kept(mgn_node* node, const std::vector<mgn_face*>& faces, const std::vector<double>& before,
                const double xyz[3]) {
  double old[3] = {node->xyz[0], node->xyz[1], node->xyz[2]};
  for (int k = 0; k < 3; ++k) node->xyz[k] = xyz[k];
  bool kept = true;
  for (std::size_t i = 0; i < faces.size() && kept; ++i) {
    const mgn_face* f = faces[i];
    double u[3], v[3], n[3];
    mgn_sub(f->n[1]->xyz, f->n[0]->xyz, u);
    mgn_sub(f->n[2]->xyz, f->n[0]->xyz, v);
    mgn_cross(u, v, n);
    if (!(n[0] * before[3 * i] + n[1] * before[3 * i + 1] + n[2] * before[3 * i + 2] > 0.0)) kept = false;
  }
  for (int k = 0; k < 3; ++k) node->xyz[k] = old[k];
  return kept;
}

// Moves the node toward the place, shortening the move until no triangle
// around it turns over; false when it stays.
bool move_without_fold(mgn_node* node, const std::vector<mgn_face*>& faces, const double place[3]) {
  std::vector<double> before(3 * faces.size());
  for (std::size_t i = 0; i < faces.size(); ++i) {
    const mgn_face* f = faces[i];
    double u[3], v[3];
    mgn_sub(f->n[1]->xyz, f->n[0]->xyz, u);
    mgn_sub(f->n[2]->xyz, f->n[0]->xyz, v);
    mgn_cross(u, v, &before[3 * i]);
  }
  double d[3], xyz[3];
  mgn_sub(place, node->xyz, d);
  for (int step = 0; step <= MGN_SMOOTH_BACKOFF_STEPS; ++step) {
    for (int k = 0; k < 3; ++k) xyz[k] = node->xyz[k] + d[k];
    if (faces_kept(node, faces, before, xyz)) {
      mgn_move_node(node, xyz);
      return true;
    }
    for (double& c : d) c *= MGN_SMOOTH_BACKOFF;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Interface
// ---------------------------------------------------------------------------

mgn_edge* mgn_get_face_side_edge(const mgn_face* face, int i) {
  return side_edge(face->n[i], face->n[(i + 1) % 3], face, false);
}

mgn_edge* mgn_get_quad_side_edge(const mgn_quad* quad, int i) {
  return side_edge(quad->n[i], quad->n[(i + 1) % 4], quad, true);
}

void* mgn_get_face_neighbour(const mgn_face* face, int i) {
  return across(mgn_get_face_side_edge(face, i), face, face->kind, face->entity);
}

void* mgn_get_quad_neighbour(const mgn_quad* quad, int i) {
  return across(mgn_get_quad_side_edge(quad, i), quad, quad->kind, quad->entity);
}

void mgn_build_neighbour_table(int kind, void* entity) {
  if (entity == nullptr) return;
  mgn_entity_mesh* mesh = mgn_get_entity_mesh(kind, entity);
  for_each_reference<mgn_face>(mesh->faces, mesh->face_total, [](mgn_face* f) { fill_table<mgn_face, 3>(f); });
  for_each_reference<mgn_quad>(mesh->quads, mesh->quad_total, [](mgn_quad* q) { fill_table<mgn_quad, 4>(q); });
}

void mgn_update_edge_neighbours(mgn_edge* edge) {
  if (edge == nullptr) return;
  for (mgn_face* f : mgn_edge_faces(edge))
    if (f->id != 0) refresh_around<mgn_face, 3>(f);
  for (mgn_quad* q : mgn_edge_quads(edge))
    if (q != nullptr && q->id != 0) refresh_around<mgn_quad, 4>(q);
}

void mgn_create_neighbour_cells() {
  const long l = std::max(1L, mgn_set.listing_size);
  neighbour_cells = mgn_create_listing(std::min(l, 100L), sizeof(mgn_list_item));
}

void mgn_release_neighbour_cells() {
  if (neighbour_cells != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(neighbour_cells));
  neighbour_cells = nullptr;
}

bool mgn_hide_curves(bool neighbours) {
  bool hidden = false;
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list)) {
    if (!curve->hidden || curve->is_hidden || curve->fixed_split || !own_meshed_curve(curve)) continue;
    face_entity a, b;
    if (!curve_faces(curve, a, b)) continue;
    if (!faces_agree(curve, a, b, [](double c) { return std::fabs(c - 1.0) <= 1e-5; })) continue;
    curve->is_hidden = true;
    hidden = true;
    mgn_smooth_hidden_curve(curve, a.kind, a.entity, b.kind, b.entity);
    if (neighbours && a.output && b.output)
      for_each_reference<mgn_edge>(curve->mesh.edges, curve->mesh.edge_count, mgn_update_edge_neighbours);
  }
  return hidden;
}

bool mgn_swap_curves(int pass, bool neighbours) {
  bool any = false;
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list)) {
    if (!curve->swap || !own_meshed_curve(curve)) continue;
    face_entity a, b;
    if (!curve_faces(curve, a, b)) continue;
    const bool one_kind = a.kind == b.kind;
    if ((pass == 1 && !one_kind) || (pass == 2 && one_kind)) continue;
    const double threshold = curve->swap_angle;
    if (!faces_agree(curve, a, b, [threshold](double c) { return c >= threshold; })) continue;
    const bool newly = !curve->swapped;
    curve->swapped = true;
    for_each_reference<mgn_edge>(curve->mesh.edges, curve->mesh.edge_count, [newly, neighbours, &any](mgn_edge* edge) {
      const bool swapped = mgn_swap_edge(edge);
      if (swapped) any = true;
      // Elements now meet across the curve.
      if ((swapped || newly) && neighbours) mgn_update_edge_neighbours(edge);
    });
  }
  return any;
}

void mgn_hide_vertices() {
  std::vector<mgn_curve*> kept;
  std::vector<mgn_face*> faces;
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(mgn_model.vertices.list)) {
    if (!vertex->hidden || vertex->is_hidden || vertex->id == 0 || vertex->is_virtual) continue;
    if (mgn_get_vertex_representative(vertex) != vertex) continue;
    mgn_node* node = vertex->mesh.node;
    if (node == nullptr || node->id == 0 || node->kind != MGN_VERTEX || node->entity != vertex) continue;
    // The curves ending here: every one that asked to be hidden must be.
    bool any_hidden = false, blocked = false;
    kept.clear();
    for (mgn_curve* c : mgn_list_range<mgn_curve>(vertex->curves)) {
      if (c == nullptr || c->id == 0 || c->is_virtual || c->collapsed) continue;
      if (c->is_hidden)
        any_hidden = true;
      else if (c->hidden)
        blocked = true;
      else if (std::find(kept.begin(), kept.end(), c) == kept.end())
        kept.push_back(c);
    }
    if (!any_hidden || blocked) continue;
    double target[3], place[3];
    if (!neighbour_mean(node, target)) continue;
    faces_around(node, faces);
    if (faces.empty()) continue;
    const bool placed = kept.empty() ? onto_nearest_face(faces, target, place)
                                     : onto_common_line(node, kept, target, place);
    if (!placed) continue;
    if (move_without_fold(node, faces, place)) vertex->is_hidden = true;
  }
}
