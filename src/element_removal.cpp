// Removal of an inner node of few triangles from a triangle mesh.
//
// A node that only three or four triangles share is a closure artifact of
// an advancing front: where two fronts meet in a gap narrower than a row, a
// node put into the gap gets a fan of four triangles whose corners at the
// node sum to a full turn with two or three corners near 90 degrees, and no
// node position makes them good.  Removing the node and joining its
// neighbours by one diagonal (four triangles) or nothing (three) leaves
// triangles of the rows around it.  The decision and the change are
// separate: mgn_check_node_removal builds a plan and tells whether it is
// valid and worth doing; mgn_apply_node_removal carries it out.
#include <algorithm>
#include <cmath>

#include "element.h"
#include "geom.h"
#include "quality.h"
#include "vec3.h"

namespace {

// Position of the node in the triangle, -1 when absent.
int corner_in(const mgn_face* face, const mgn_node* node) {
  for (int i = 0; i < 3; ++i)
    if (face->n[i] == node) return i;
  return -1;
}

mgn_vec3 face_normal(const mgn_node* a, const mgn_node* b, const mgn_node* c) {
  return mgn_cross(mgn_sub(b->xyz, a->xyz), mgn_sub(c->xyz, a->xyz));
}

// The single live triangle on the edge other than the given one (null when
// there is not exactly one).
mgn_face* other_face(const mgn_edge* edge, const mgn_face* face) {
  mgn_face* found = nullptr;
  int count = 0;
  for (mgn_face* f : mgn_edge_faces(edge)) {
    if (f->id == 0 || f == face) continue;
    found = f;
    ++count;
  }
  return count == 1 ? found : nullptr;
}

}  // namespace

bool mgn_check_node_removal(mgn_node* node, mgn_node_removal* plan) {
  if (node == nullptr || node->id == 0) return false;
  plan->node = node;
  plan->count = 0;
  // The edges: three or four, of the node's own entity, each between two
  // live triangles and no quad.
  for (mgn_edge* e : mgn_node_edges(node)) {
    if (e->id == 0) continue;
    if (plan->count == 4 || e->kind != node->kind || e->entity != node->entity || mgn_edge_mid(e) != nullptr ||
        mgn_edge_has_quads(e))
      return false;
    plan->edges[plan->count++] = e;
  }
  const int n = plan->count;
  if (n < 3) return false;
  // The fan in turning order: triangle k is (node, ring[k], ring[k + 1]).
  mgn_face* first = nullptr;
  for (mgn_face* f : mgn_edge_faces(plan->edges[0]))
    if (f->id != 0) {
      first = f;
      break;
    }
  if (first == nullptr) return false;
  mgn_face* face = first;
  for (int k = 0; k < n; ++k) {
    const int i = corner_in(face, node);
    if (i < 0 || face->kind != node->kind || face->entity != node->entity) return false;
    plan->faces[k] = face;
    plan->ring[k] = face->n[(i + 1) % 3];
    mgn_node* next = face->n[(i + 2) % 3];
    mgn_edge* spoke = mgn_get_node_edge(node, next);
    if (spoke == nullptr) return false;
    face = other_face(spoke, face);
    if (face == nullptr) return false;
    if (k + 1 < n && face == first) return false;
  }
  if (face != first) return false;
  for (int k = 0; k < n; ++k)
    for (int j = k + 1; j < n; ++j)
      if (plan->ring[k] == plan->ring[j] || plan->faces[k] == plan->faces[j]) return false;
  double before = 1.0;
  mgn_vec3 old_normals[4];
  for (int k = 0; k < n; ++k) {
    const mgn_face* f = plan->faces[k];
    before = std::min(before, mgn_get_triangle_quality(f->n[0]->xyz, f->n[1]->xyz, f->n[2]->xyz));
    old_normals[k] = face_normal(f->n[0], f->n[1], f->n[2]);
  }
  // The new triangles must face the way every old one faces.
  auto faces_along = [&](const mgn_node* a, const mgn_node* b, const mgn_node* c) {
    const mgn_vec3 m = face_normal(a, b, c);
    if (!(mgn_norm(m) > mgn_tol.eps2)) return false;
    for (int k = 0; k < n; ++k)
      if (!(mgn_dot(m, old_normals[k]) > 0.0)) return false;
    return true;
  };
  plan->diagonal = -1;
  double after = -1.0;
  if (n == 3) {
    if (!faces_along(plan->ring[0], plan->ring[1], plan->ring[2])) return false;
    after = mgn_get_triangle_quality(plan->ring[0]->xyz, plan->ring[1]->xyz, plan->ring[2]->xyz);
  } else {
    for (int d = 0; d < 2; ++d) {
      mgn_node* const* r = plan->ring;
      mgn_node* p0 = r[d];
      mgn_node* p1 = r[d + 1];
      mgn_node* p2 = r[d + 2];
      mgn_node* p3 = r[(d + 3) % 4];
      if (mgn_get_node_edge(p0, p2) != nullptr) continue;
      if (!faces_along(p0, p1, p2) || !faces_along(p0, p2, p3)) continue;
      const double q = std::min(mgn_get_triangle_quality(p0->xyz, p1->xyz, p2->xyz),
                                mgn_get_triangle_quality(p0->xyz, p2->xyz, p3->xyz));
      if (q > after) {
        after = q;
        plan->diagonal = d;
      }
    }
    if (plan->diagonal < 0) return false;
  }
  plan->before = before;
  plan->after = after;
  // The fan's corners at the node cannot all come near 60 degrees, so its
  // triangles stay poor whatever smoothing does; two fair triangles in its
  // place (quality 0.6 or more) become good once their nodes are smoothed.
  constexpr double kFairQuality = 0.6;
  return after > before || after >= kFairQuality;
}

void mgn_apply_node_removal(const mgn_node_removal& plan) {
  mgn_node* x = plan.node;
  const int n = plan.count;
  // Renamed so that the kept diagonal joins ring[0] and ring[2]: triangle k
  // is (x, ring[k], ring[k + 1]).
  const int shift = n == 4 ? plan.diagonal : 0;
  mgn_node* ring[4];
  mgn_face* faces[4];
  for (int k = 0; k < n; ++k) {
    ring[k] = plan.ring[(k + shift) % n];
    faces[k] = plan.faces[(k + shift) % n];
  }
  auto spoke = [x](const mgn_node* to) { return mgn_get_node_edge(x, to); };
  auto replace_corner = [x](mgn_face* f, mgn_node* by) {
    for (mgn_node*& c : f->n)
      if (c == x) c = by;
  };
  auto outer_edge = [](const mgn_node* a, const mgn_node* b, const mgn_face* f) {
    for (mgn_edge* e : mgn_node_edges(a))
      if (e->id != 0 && (e->n[0] == b || e->n[1] == b) && mgn_edge_has_face(e, f)) return e;
    return static_cast<mgn_edge*>(nullptr);
  };
  if (n == 3) {
    // Triangle 1 (x, r1, r2) becomes (r0, r1, r2); the others go.
    mgn_edge* e01 = outer_edge(ring[0], ring[1], faces[0]);
    mgn_edge* e20 = outer_edge(ring[2], ring[0], faces[2]);
    replace_corner(faces[1], ring[0]);
    if (e01 != nullptr) mgn_hand_over_edge_side(e01, faces[0], faces[1]);
    if (e20 != nullptr) mgn_hand_over_edge_side(e20, faces[2], faces[1]);
    for (int k = 0; k < 3; ++k) mgn_retire_edge(spoke(ring[k]));
    mgn_retire_face(faces[0]);
    mgn_retire_face(faces[2]);
  } else {
    // Triangles 1 (x, r1, r2) and 2 (x, r2, r3) become (r0, r1, r2) and
    // (r0, r2, r3); the spoke to r2 becomes the diagonal r0-r2 and keeps
    // both on the same sides; triangles 0 and 3 and the other spokes go.
    mgn_edge* e01 = outer_edge(ring[0], ring[1], faces[0]);
    mgn_edge* e30 = outer_edge(ring[3], ring[0], faces[3]);
    mgn_edge* diagonal = spoke(ring[2]);
    replace_corner(faces[1], ring[0]);
    replace_corner(faces[2], ring[0]);
    if (e01 != nullptr) mgn_hand_over_edge_side(e01, faces[0], faces[1]);
    if (e30 != nullptr) mgn_hand_over_edge_side(e30, faces[3], faces[2]);
    for (int k : {0, 1, 3}) mgn_retire_edge(spoke(ring[k]));
    const int end = diagonal->n[0] == x ? 0 : 1;
    mgn_move_edge_end(diagonal, end, ring[0]);
    mgn_retire_face(faces[0]);
    mgn_retire_face(faces[3]);
  }
  mgn_retire_node(x);
}
