// The node of a vertex, the parameter of a node on a curve, and the
// capacity of reference blocks.
#include "mesh1.h"

#include <algorithm>
#include <vector>

#include "bezier.h"
#include "element.h"
#include "list.h"
#include "message.h"
#include "project.h"
#include "vertex.h"

// ---------------------------------------------------------------------------
// Nodes of vertices
// ---------------------------------------------------------------------------

mgn_vertex* mgn_get_vertex_representative(mgn_vertex* vertex) {
  return vertex->parent_vertex == nullptr ? vertex : mgn_get_top_physical_vertex(vertex);
}

mgn_node* mgn_get_vertex_node(mgn_vertex* vertex) {
  mgn_vertex* rep = mgn_get_vertex_representative(vertex);
  if (rep->mesh.node == nullptr) {
    // The vertices joined through collapsed curves (not meshed on their own)
    // share one node: the one stored on such a curve, else one of theirs,
    // else a new one.
    std::vector<mgn_vertex*> group{rep};
    std::vector<mgn_curve*> curves;
    for (std::size_t i = 0; i < group.size(); ++i) {
      for (mgn_curve* c : mgn_list_range<mgn_curve>(group[i]->curves)) {
        if (!c->collapsed || c->is_virtual || std::find(curves.begin(), curves.end(), c) != curves.end())
          continue;
        curves.push_back(c);
        for (mgn_vertex* end : c->vertex) {
          mgn_vertex* r = mgn_get_vertex_representative(end);
          if (std::find(group.begin(), group.end(), r) == group.end()) group.push_back(r);
        }
      }
    }
    mgn_node* node = nullptr;
    for (const mgn_curve* c : curves)
      if (node == nullptr) node = c->mesh.node;
    for (const mgn_vertex* r : group)
      if (node == nullptr) node = r->mesh.node;
    if (node == nullptr) node = mgn_create_node(rep->xyz, nullptr, MGN_VERTEX, rep, nullptr);
    for (mgn_vertex* r : group) r->mesh.node = node;
    for (mgn_curve* c : curves) c->mesh.node = node;
  }
  vertex->mesh.node = rep->mesh.node;
  return rep->mesh.node;
}

mgn_node* mgn_find_vertex_node(mgn_vertex* vertex) {
  return vertex == nullptr ? nullptr : mgn_get_vertex_representative(vertex)->mesh.node;
}

mgn_node* mgn_find_vertex_chain_node(const mgn_vertex* vertex) {
  for (const mgn_vertex* v = vertex; v != nullptr; v = v->parent_vertex)
    if (v->mesh.node != nullptr) return v->mesh.node;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Parameters of nodes on curves
// ---------------------------------------------------------------------------

bool mgn_find_node_curve_parameter(const mgn_curve* curve, const mgn_node* node, double* t) {
  if (node->kind == MGN_CURVE && node->parameters != nullptr) {
    const auto* owner = static_cast<const mgn_curve*>(node->entity);
    const double own = node->parameters[0];
    if (owner == curve) return *t = own, true;
    double s1, e1, s2, e2;
    const mgn_curve* r1 = mgn_get_root_curve(owner, &s1, &e1);
    const mgn_curve* r2 = mgn_get_root_curve(curve, &s2, &e2);
    if (r1 == r2 && e2 != s2) return *t = (s1 + own * (e1 - s1) - s2) / (e2 - s2), true;
  }
  if (node->kind == MGN_VERTEX) {
    if (node == mgn_find_vertex_node(curve->vertex[0])) return *t = 0.0, true;
    if (node == mgn_find_vertex_node(curve->vertex[1])) return *t = 1.0, true;
    if (mgn_get_vertex_curve_parameter(static_cast<const mgn_vertex*>(node->entity), curve, t)) return true;
    for (mgn_vertex* v : mgn_list_range<mgn_vertex>(curve->fixed_vertices))
      if (!v->is_virtual && mgn_find_vertex_node(v) == node && mgn_get_vertex_curve_parameter(v, curve, t))
        return true;
  }
  return false;
}

double mgn_get_node_curve_parameter(const mgn_curve* curve, const mgn_node* node) {
  double t = 0.0;
  if (mgn_find_node_curve_parameter(curve, node, &t)) return t;
  t = 0.0;
  mgn_find_closest_curve_point(curve, node->xyz, &t);
  return t;
}

// ---------------------------------------------------------------------------
// Reference blocks
// ---------------------------------------------------------------------------

long mgn_get_chunk_capacity(long n) {
  const long l = std::max(1L, mgn_set.listing_size);
  if (n > 1000 && static_cast<double>(n) > 1.5 * static_cast<double>(l)) {
    const long k = (n - 1) / l + 1;
    return (n - 1) / k + 1;
  }
  return std::max(1L, n);
}

void mgn_check_data_node(mgn_node* node, int kind, void* entity, const char* word, long id) {
  if (node == nullptr || node->id == 0 || node->front_count == 0) return;
  mgn_note_partial_entity(kind, entity);
  mgn_note_partial_node(node);
  mgn_manipulation_error(mgn_format("Node %ld detected as remaining on front (%ld) of %s %ld\n",
                                    static_cast<long>(node->id), static_cast<long>(node->front_count), word, id),
                         MGN_HERE);
}
