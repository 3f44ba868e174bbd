// Interface meshing (see discret4.h): the mesh of each of the two entities
// gathered, the node pairing by place, and the interface elements or the
// partner links over the matching records.
#include "discret4.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "element.h"
#include "list.h"
#include "mesh1.h"
#include "message.h"
#include "vec3.h"

namespace {

// The mesh of one side of an interface: its records in listing order and
// its nodes in the order the records first use them.
struct side_mesh {
  std::vector<mgn_node*> nodes;
  std::vector<mgn_edge*> edges;
  std::vector<mgn_face*> faces;
  std::vector<mgn_quad*> quads;
};

void add_node(side_mesh& side, std::unordered_set<mgn_node*>& seen, mgn_node* node) {
  if (seen.insert(node).second) side.nodes.push_back(node);
}

// The live records of the entity in its own listing, which starts at the
// entity's first block (once collected, the chain runs on into other
// entities' blocks: the entity check skips those).
template <typename T>
void gather(mgn_listing* listing, long count, const void* entity, std::vector<T*>& out) {
  if (listing == nullptr) return;
  for (T** ref : mgn_listing_first<T*>(listing, count))
    if (*ref != nullptr && (*ref)->id != 0 && (*ref)->entity == entity) out.push_back(*ref);
}

// The mesh of one entity of the interface; false when it has none to join
// (not meshed, or its nodes are not output).
bool gather_side(int kind, void* entity, side_mesh& side) {
  std::unordered_set<mgn_node*> seen;
  if (kind == MGN_VERTEX) {
    auto* vertex = static_cast<mgn_vertex*>(entity);
    mgn_node* node = mgn_get_vertex_node(vertex);
    if (node == nullptr) return false;
    side.nodes.push_back(node);
    return true;
  }
  mgn_entity_mesh* mesh = mgn_get_entity_mesh(kind, entity);
  if (kind == MGN_CURVE) {
    auto* curve = static_cast<mgn_curve*>(entity);
    if (!mesh->discretized || !curve->output) return false;
    gather(mesh->edges, mesh->edge_total, entity, side.edges);
    for (mgn_edge* e : side.edges) add_node(side, seen, e->n[0]), add_node(side, seen, e->n[1]);
    return !side.edges.empty();
  }
  bool output = false;
  if (kind == MGN_SURFACE) output = static_cast<mgn_surface*>(entity)->output;
  if (kind == MGN_PATCH) output = static_cast<mgn_patch*>(entity)->output;
  if (kind == MGN_SHELL) output = static_cast<mgn_shell*>(entity)->output;
  if (!mesh->discretized || !output) return false;
  gather(mesh->faces, mesh->face_total, entity, side.faces);
  gather(mesh->quads, mesh->quad_total, entity, side.quads);
  for (mgn_face* f : side.faces)
    for (mgn_node* n : f->n) add_node(side, seen, n);
  for (mgn_quad* q : side.quads)
    for (mgn_node* n : q->n) add_node(side, seen, n);
  return !side.nodes.empty();
}

[[noreturn]] void not_matching(mgn_interface* interface) {
  mgn_note_partial_interface(interface);
  mgn_manipulation_error(
      mgn_format("Meshes of the entities of interface %ld do not match", static_cast<long>(interface->id)),
      MGN_HERE);
}

// The partner of every node of the first side: the node of the second side
// at its place (itself when the sides share it), one to one.
std::unordered_map<mgn_node*, mgn_node*> pair_nodes(mgn_interface* interface, const side_mesh& first,
                                                    const side_mesh& second) {
  // Two nodes pair when they lie within a millionth of the model size.
  const double tolerance = 1e-6 * std::max(mgn_tree.model_size, 1e-300);
  std::vector<mgn_node*> by_x = second.nodes;
  std::sort(by_x.begin(), by_x.end(), [](const mgn_node* a, const mgn_node* b) { return a->xyz[0] < b->xyz[0]; });
  const std::unordered_set<mgn_node*> on_second(second.nodes.begin(), second.nodes.end());
  std::unordered_map<mgn_node*, mgn_node*> partner;
  std::unordered_set<mgn_node*> taken;
  for (mgn_node* node : first.nodes) {
    mgn_node* best = nullptr;
    if (on_second.count(node) != 0) {
      best = node;
    } else {
      double best_distance = tolerance;
      auto it = std::lower_bound(by_x.begin(), by_x.end(), node->xyz[0] - tolerance,
                                 [](const mgn_node* n, double x) { return n->xyz[0] < x; });
      for (; it != by_x.end() && (*it)->xyz[0] <= node->xyz[0] + tolerance; ++it) {
        const double d = mgn_get_point_distance((*it)->xyz, node->xyz);
        if (d <= best_distance) best = *it, best_distance = d;
      }
    }
    if (best == nullptr || !taken.insert(best).second) not_matching(interface);
    partner[node] = best;
  }
  if (taken.size() != second.nodes.size()) not_matching(interface);
  return partner;
}

// Records of the second side by their node set.
template <std::size_t N>
std::array<mgn_node*, N> key_of(std::array<mgn_node*, N> nodes) {
  std::sort(nodes.begin(), nodes.end(), std::less<mgn_node*>());
  return nodes;
}

template <typename T, std::size_t N>
std::map<std::array<mgn_node*, N>, T*> index_by_nodes(const std::vector<T*>& records, mgn_node* const* (*nodes_of)(const T*)) {
  std::map<std::array<mgn_node*, N>, T*> index;
  for (T* r : records) {
    std::array<mgn_node*, N> key;
    std::copy(nodes_of(r), nodes_of(r) + N, key.begin());
    index.emplace(key_of(key), r);
  }
  return index;
}

mgn_node* const* edge_nodes(const mgn_edge* e) { return e->n; }
mgn_node* const* face_nodes(const mgn_face* f) { return f->n; }
mgn_node* const* quad_nodes(const mgn_quad* q) { return q->n; }

// The partners of the nodes of a record of the first side, and whether the
// second side has a record over them (every pair a shared node: the record
// itself is shared and nothing joins it).
template <typename T, std::size_t N>
bool partners_of(const T* record, const std::unordered_map<mgn_node*, mgn_node*>& partner,
                 const std::map<std::array<mgn_node*, N>, T*>& second, std::array<mgn_node*, N>& out,
                 mgn_interface* interface) {
  bool shared = true;
  for (std::size_t k = 0; k < N; ++k) {
    out[k] = partner.at(record->n[k]);
    if (out[k] != record->n[k]) shared = false;
  }
  if (shared) return false;
  if (second.find(key_of(out)) == second.end()) not_matching(interface);
  return true;
}

// Interface edges between the paired nodes of the first side, once per
// pair, in the order of the first side's nodes.
void make_pair_edges(mgn_interface* interface, const side_mesh& first,
                     const std::unordered_map<mgn_node*, mgn_node*>& partner) {
  for (mgn_node* node : first.nodes) {
    mgn_node* other = partner.at(node);
    if (other != node) mgn_create_edge(node, other, MGN_INTERFACE, interface, &interface->mesh.edges);
  }
}

}  // namespace

bool mgn_mesh_interface(mgn_interface* interface) {
  side_mesh first, second;
  if (!gather_side(interface->kind, interface->entity[0], first) ||
      !gather_side(interface->kind, interface->entity[1], second))
    return false;
  const std::unordered_map<mgn_node*, mgn_node*> partner = pair_nodes(interface, first, second);

  long shared = 0;
  for (mgn_node* node : first.nodes)
    if (partner.at(node) == node) ++shared;
  if (shared == static_cast<long>(first.nodes.size())) {
    mgn_note_partial_interface(interface);
    mgn_manipulation_error(mgn_format("Interface %ld is not formed by fully detached entities",
                                      static_cast<long>(interface->id)),
                           MGN_HERE);
  }
  if (shared > 0) mgn_warning("Warning: Interface %ld is degenerated\n", static_cast<long>(interface->id));

  const bool elements = !interface->element_free;
  if (!elements) {
    // Partner links only: each pair, and across the diagonals of each pair
    // of edges.
    for (mgn_node* node : first.nodes)
      if (partner.at(node) != node) mgn_link_partner_nodes(node, partner.at(node));
    const auto second_edges = index_by_nodes<mgn_edge, 2>(second.edges, edge_nodes);
    for (mgn_edge* e : first.edges) {
      std::array<mgn_node*, 2> p;
      if (!partners_of(e, partner, second_edges, p, interface)) continue;
      if (p[1] != e->n[0]) mgn_link_partner_nodes(e->n[0], p[1]);
      if (p[0] != e->n[1]) mgn_link_partner_nodes(e->n[1], p[0]);
    }
    for (mgn_face* f : first.faces)
      for (int k = 0; k < 3; ++k) {
        mgn_node* a = f->n[k];
        mgn_node* b = f->n[(k + 1) % 3];
        if (partner.at(b) != a) mgn_link_partner_nodes(a, partner.at(b));
        if (partner.at(a) != b) mgn_link_partner_nodes(b, partner.at(a));
      }
    for (mgn_quad* q : first.quads)
      for (int k = 0; k < 4; ++k) {
        mgn_node* a = q->n[k];
        mgn_node* b = q->n[(k + 1) % 4];
        if (partner.at(b) != a) mgn_link_partner_nodes(a, partner.at(b));
        if (partner.at(a) != b) mgn_link_partner_nodes(b, partner.at(a));
      }
    return true;
  }

  switch (interface->kind) {
    case MGN_VERTEX:
      make_pair_edges(interface, first, partner);
      break;
    case MGN_CURVE: {
      const auto second_edges = index_by_nodes<mgn_edge, 2>(second.edges, edge_nodes);
      if (second_edges.size() != first.edges.size()) not_matching(interface);
      for (mgn_edge* e : first.edges) {
        std::array<mgn_node*, 2> p;
        if (!partners_of(e, partner, second_edges, p, interface)) continue;
        mgn_create_quad(e->n[0], e->n[1], p[1], p[0], MGN_INTERFACE, interface, &interface->mesh.quads, false);
      }
      make_pair_edges(interface, first, partner);
      break;
    }
    default: {
      const auto second_faces = index_by_nodes<mgn_face, 3>(second.faces, face_nodes);
      const auto second_quads = index_by_nodes<mgn_quad, 4>(second.quads, quad_nodes);
      if (second_faces.size() != first.faces.size() || second_quads.size() != first.quads.size())
        not_matching(interface);
      for (mgn_face* f : first.faces) {
        std::array<mgn_node*, 3> p;
        if (!partners_of(f, partner, second_faces, p, interface)) continue;
        mgn_node* const nodes[6] = {f->n[0], f->n[1], f->n[2], p[0], p[1], p[2]};
        mgn_create_wedge(nodes, MGN_INTERFACE, interface, &interface->mesh.wedges);
      }
      for (mgn_quad* q : first.quads) {
        std::array<mgn_node*, 4> p;
        if (!partners_of(q, partner, second_quads, p, interface)) continue;
        mgn_node* const nodes[8] = {q->n[0], q->n[1], q->n[2], q->n[3], p[0], p[1], p[2], p[3]};
        mgn_create_hexa(nodes, MGN_INTERFACE, interface, &interface->mesh.hexas);
      }
      // The edges between the pairs close the wedges and hexas (their
      // midside places in a quadratic mesh); they are no elements of their
      // own.
      make_pair_edges(interface, first, partner);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Master and slave nodes
// ---------------------------------------------------------------------------

namespace {

void add_unique(std::vector<mgn_node*>& out, std::unordered_set<mgn_node*>& seen, mgn_node* node) {
  if (node != nullptr && node->id != 0 && seen.insert(node).second) out.push_back(node);
}

// The nodes of the vertices and curves marked master (or slave), in model
// order: the node of each vertex, the nodes of each curve's edges.
std::vector<mgn_node*> marked_nodes(bool master) {
  std::vector<mgn_node*> out;
  std::unordered_set<mgn_node*> seen;
  for (mgn_vertex* v : mgn_list_range<mgn_vertex>(mgn_model.vertices.list)) {
    if (v->id == 0 || v->is_virtual || !(master ? v->master : v->slave)) continue;
    add_unique(out, seen, mgn_get_vertex_representative(v)->mesh.node);
  }
  for (mgn_curve* c : mgn_list_range<mgn_curve>(mgn_model.curves.list)) {
    if (c->id == 0 || c->is_virtual || !c->mesh.discretized || !(master ? c->master : c->slave)) continue;
    std::vector<mgn_edge*> edges;
    gather(c->mesh.edges, c->mesh.edge_total, c, edges);
    for (mgn_edge* e : edges) add_unique(out, seen, e->n[0]), add_unique(out, seen, e->n[1]);
  }
  return out;
}

// Each slave node that has a master node at its place takes it as its
// master.
std::unordered_map<mgn_node*, mgn_node*> locate_master_nodes() {
  const std::vector<mgn_node*> masters = marked_nodes(true);
  const std::vector<mgn_node*> slaves = marked_nodes(false);
  const std::unordered_set<mgn_node*> is_master(masters.begin(), masters.end());
  const double tolerance = 1e-6 * std::max(mgn_tree.model_size, 1e-300);
  std::vector<mgn_node*> by_x = masters;
  std::sort(by_x.begin(), by_x.end(), [](const mgn_node* a, const mgn_node* b) { return a->xyz[0] < b->xyz[0]; });
  std::unordered_map<mgn_node*, mgn_node*> master_of;
  for (mgn_node* slave : slaves) {
    if (is_master.count(slave) != 0) continue;
    mgn_node* best = nullptr;
    double best_distance = tolerance;
    auto it = std::lower_bound(by_x.begin(), by_x.end(), slave->xyz[0] - tolerance,
                               [](const mgn_node* n, double x) { return n->xyz[0] < x; });
    for (; it != by_x.end() && (*it)->xyz[0] <= slave->xyz[0] + tolerance; ++it) {
      const double d = mgn_get_point_distance((*it)->xyz, slave->xyz);
      if (d <= best_distance) best = *it, best_distance = d;
    }
    if (best != nullptr) master_of[slave] = best;
  }
  return master_of;
}

// Every element of a finite-element listing on the master nodes in place
// of their slaves.
template <typename T>
void replace_slave_nodes(mgn_listing* listing, const std::unordered_map<mgn_node*, mgn_node*>& master_of) {
  if (listing == nullptr) return;
  for (T** ref : mgn_listing_range<T*>(mgn_get_first_listing_block(listing))) {
    T* element = *ref;
    if (element == nullptr || element->id == 0) continue;
    for (mgn_node*& n : element->n) {
      auto it = master_of.find(n);
      if (it != master_of.end()) n = it->second;
    }
  }
}

// The edges of a slave node pass to its master: an edge that the master
// side already has is retired (its faces and quads go to the master's
// edge), any other is moved over.
void move_slave_edges(mgn_node* slave, const std::unordered_map<mgn_node*, mgn_node*>& master_of) {
  auto mapped = [&](mgn_node* n) {
    auto it = master_of.find(n);
    return it == master_of.end() ? n : it->second;
  };
  std::vector<mgn_edge*> edges;
  for (mgn_edge* e : mgn_node_edges(slave)) edges.push_back(e);
  mgn_node* master = mapped(slave);
  for (mgn_edge* e : edges) {
    if (e->id == 0) continue;
    mgn_node* a = mapped(e->n[0]);
    mgn_node* b = mapped(e->n[1]);
    mgn_edge* existing = a != b ? mgn_get_node_edge(a, b) : nullptr;
    if (a == b || (existing != nullptr && existing != e)) {
      if (existing != nullptr) {
        for (mgn_face* f : mgn_edge_faces(e)) mgn_add_edge_face(existing, f);
        for (mgn_quad* q : mgn_edge_quads(e)) mgn_add_edge_quad(existing, q);
      }
      mgn_retire_edge(e);
      continue;
    }
    mgn_move_edge_end(e, e->n[0] == slave ? 0 : 1, master);
  }
}

}  // namespace

void mgn_pair_master_slave_nodes() {
  const std::unordered_map<mgn_node*, mgn_node*> master_of = locate_master_nodes();
  const std::vector<mgn_node*> slaves = marked_nodes(false);
  for (mgn_node* slave : slaves)
    if (master_of.count(slave) != 0) move_slave_edges(slave, master_of);
  replace_slave_nodes<mgn_face>(mgn_mesh.fe_faces, master_of);
  replace_slave_nodes<mgn_quad>(mgn_mesh.fe_quads, master_of);
  replace_slave_nodes<mgn_tetra>(mgn_mesh.fe_tetras, master_of);
  replace_slave_nodes<mgn_pyram>(mgn_mesh.fe_pyrams, master_of);
  replace_slave_nodes<mgn_wedge>(mgn_mesh.fe_wedges, master_of);
  replace_slave_nodes<mgn_hexa>(mgn_mesh.fe_hexas, master_of);
  // The slaves that found a master leave the mesh.
  for (mgn_node* slave : slaves)
    if (master_of.count(slave) != 0) mgn_retire_node(slave);
}
