// Topology of tetra meshes: local numbering, neighbour links, ball, shell
// and the consistency checker (see topo3.h for the terms).
#include "topo3.h"

#include <algorithm>

#include "element.h"
#include "geom.h"
#include "list.h"
#include "message.h"

const int mgn_tetra_outward_face[4][3] = {{1, 2, 3}, {2, 0, 3}, {0, 1, 3}, {0, 2, 1}};

int mgn_get_tetra_node_index(const mgn_tetra* tetra, const mgn_node* node) {
  for (int k = 0; k < 4; ++k)
    if (tetra->n[k] == node) return k;
  return -1;
}

int mgn_get_tetra_face_index(const mgn_tetra* tetra, const mgn_node* a, const mgn_node* b,
                             const mgn_node* c) {
  const int ia = mgn_get_tetra_node_index(tetra, a);
  const int ib = mgn_get_tetra_node_index(tetra, b);
  const int ic = mgn_get_tetra_node_index(tetra, c);
  if (ia < 0 || ib < 0 || ic < 0 || ia == ib || ib == ic || ia == ic) return -1;
  return 6 - ia - ib - ic;
}

void mgn_set_tetra_neighbour(mgn_tetra* tetra, int k, void* element, int type) {
  tetra->ngb[k] = element;
  tetra->ngb_type[k] = static_cast<int8_t>(element != nullptr ? type : MGN_ELEM_NONE);
}

void mgn_link_tetras(mgn_tetra* a, int ka, mgn_tetra* b, int kb) {
  mgn_set_tetra_neighbour(a, ka, b, MGN_ELEM_TETRA);
  mgn_set_tetra_neighbour(b, kb, a, MGN_ELEM_TETRA);
}

mgn_node* mgn_get_opposite_node(const mgn_tetra* tetra, int k) {
  const mgn_tetra* other = mgn_get_neighbour_tetra(tetra, k);
  if (other == nullptr) return nullptr;
  for (mgn_node* node : other->n)
    if (mgn_get_tetra_node_index(tetra, node) < 0) return node;
  return nullptr;
}

int mgn_get_face_side_of_tetra(const mgn_face* face, const mgn_tetra* tetra) {
  const int k = mgn_get_tetra_face_index(tetra, face->n[0], face->n[1], face->n[2]);
  if (k < 0) return -1;
  // The outward face k turns one way; the face's stored order turns the
  // same way when the tetra lies behind it (side 1).
  const int* o = mgn_tetra_outward_face[k];
  const mgn_node* const* n = tetra->n;
  for (int r = 0; r < 3; ++r)
    if (n[o[r]] == face->n[0] && n[o[(r + 1) % 3]] == face->n[1]) return 1;
  return 0;
}

double mgn_get_tetra_volume(const mgn_tetra* tetra) {
  double u[3], v[3], w[3], c[3];
  mgn_sub(tetra->n[1]->xyz, tetra->n[0]->xyz, u);
  mgn_sub(tetra->n[2]->xyz, tetra->n[0]->xyz, v);
  mgn_sub(tetra->n[3]->xyz, tetra->n[0]->xyz, w);
  mgn_cross(u, v, c);
  return mgn_dot(c, w) / 6.0;
}

void mgn_get_node_ball(mgn_tetra* start, const mgn_node* node, std::vector<mgn_tetra*>& ball) {
  const std::size_t first = ball.size();
  if (start == nullptr || mgn_get_tetra_node_index(start, node) < 0) return;
  ball.push_back(start);
  for (std::size_t i = first; i < ball.size(); ++i) {
    const mgn_tetra* t = ball[i];
    const int own = mgn_get_tetra_node_index(t, node);
    for (int k = 0; k < 4; ++k) {
      if (k == own) continue;  // the face opposite the node does not hold it
      mgn_tetra* next = mgn_get_neighbour_tetra(t, k);
      if (next == nullptr || next->id == 0) continue;
      if (std::find(ball.begin() + static_cast<long>(first), ball.end(), next) == ball.end())
        ball.push_back(next);
    }
  }
}

namespace {

// Walks around the edge a-b from start: each step leaves the current tetra
// through the face opposite its node `behind` (the face that holds a, b and
// the tetra's fourth node); the next tetra's `behind` is that fourth node.
// Appends the tetras met; returns true when the walk comes back to start.
bool walk_around(mgn_tetra* start, const mgn_node* a, const mgn_node* b, const mgn_node* behind,
                 std::vector<mgn_tetra*>& out) {
  mgn_tetra* t = start;
  for (std::size_t guard = 0; guard < 100000; ++guard) {
    const int k = mgn_get_tetra_node_index(t, behind);
    if (k < 0) return false;
    mgn_tetra* next = mgn_get_neighbour_tetra(t, k);
    if (next == nullptr || next->id == 0) return false;
    if (next == start) return true;
    out.push_back(next);
    const mgn_node* ahead = nullptr;
    for (const mgn_node* n : t->n)
      if (n != a && n != b && n != behind) ahead = n;
    behind = ahead;
    t = next;
  }
  return false;
}

}  // namespace

bool mgn_get_edge_shell(mgn_tetra* start, const mgn_node* a, const mgn_node* b,
                        std::vector<mgn_tetra*>& shell) {
  shell.clear();
  if (start == nullptr || mgn_get_tetra_node_index(start, a) < 0 || mgn_get_tetra_node_index(start, b) < 0)
    return false;
  // The two nodes of start off the edge: turning one way first, then, when
  // the shell is open, the other way.
  const mgn_node* off[2];
  int m = 0;
  for (const mgn_node* n : start->n)
    if (n != a && n != b) off[m++] = n;
  shell.push_back(start);
  std::vector<mgn_tetra*> forward;
  if (walk_around(start, a, b, off[0], forward)) {
    shell.insert(shell.end(), forward.begin(), forward.end());
    return true;
  }
  std::vector<mgn_tetra*> backward;
  walk_around(start, a, b, off[1], backward);
  // Open shell: from the far end of the backward walk, through start, to
  // the far end of the forward walk.
  shell.clear();
  shell.insert(shell.end(), backward.rbegin(), backward.rend());
  shell.push_back(start);
  shell.insert(shell.end(), forward.begin(), forward.end());
  return false;
}

// ---------------------------------------------------------------------------
// Consistency checker
// ---------------------------------------------------------------------------

namespace {

// Checks that the faces of a bounding or inner entity carry a tetra of the
// region on every side that faces it.
template <typename T>
std::string check_faces_of(const T* entity, const char* word, const mgn_region* region, bool side0, bool side1) {
  if (entity == nullptr || entity->mesh.faces == nullptr) return {};
  std::vector<const mgn_face*> faces;
  mgn_for_own_records<mgn_face>(entity->mesh.faces, entity->mesh.face_total, entity->mesh.discretized,
                                [&](const mgn_face* f) { faces.push_back(f); });
  for (const mgn_face* f : faces) {
    const mgn_element_extra* extra = mgn_find_element_extra(f);
    if (extra == nullptr)
      return mgn_format("face %ld of %s %ld bounds region %ld without side cells", static_cast<long>(f->id), word,
                        static_cast<long>(entity->id), static_cast<long>(region->id));
    for (int s = 0; s < 2; ++s) {
      if (!(s == 0 ? side0 : side1)) continue;
      const auto* t = static_cast<const mgn_tetra*>(extra->side[s]);
      if (t == nullptr || extra->side_type[s] != MGN_ELEM_TETRA || t->id == 0)
        return mgn_format("side %d of face %ld of %s %ld has no tetra of region %ld", s, static_cast<long>(f->id),
                          word, static_cast<long>(entity->id), static_cast<long>(region->id));
      if (t->region != region)
        return mgn_format("side %d of face %ld of %s %ld holds a tetra of another region", s,
                          static_cast<long>(f->id), word, static_cast<long>(entity->id));
      if (mgn_get_face_side_of_tetra(f, t) != s)
        return mgn_format("tetra %ld lies on the wrong side of face %ld of %s %ld", static_cast<long>(t->id),
                          static_cast<long>(f->id), word, static_cast<long>(entity->id));
      const int k = mgn_get_tetra_face_index(t, f->n[0], f->n[1], f->n[2]);
      if (t->ngb_type[k] != MGN_ELEM_FACE || t->ngb[k] != f)
        return mgn_format("tetra %ld does not link back to face %ld of %s %ld", static_cast<long>(t->id),
                          static_cast<long>(f->id), word, static_cast<long>(entity->id));
    }
  }
  return {};
}

std::string check_tetra(const mgn_tetra* t) {
  const long id = t->id;
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j)
      if (t->n[i] == t->n[j]) return mgn_format("tetra %ld repeats a node", id);
  if (mgn_orient3d(t->n[0]->xyz, t->n[1]->xyz, t->n[2]->xyz, t->n[3]->xyz) <= 0)
    return mgn_format("tetra %ld is flat or inverted", id);
  for (int i = 0; i < 6; ++i) {
    const int* e = mgn_tetra_edge_nodes[i];
    if (mgn_get_node_edge(t->n[e[0]], t->n[e[1]]) == nullptr)
      return mgn_format("edge %d of tetra %ld is missing", i, id);
  }
  for (int k = 0; k < 4; ++k) {
    const mgn_node* a = t->n[mgn_tetra_outward_face[k][0]];
    const mgn_node* b = t->n[mgn_tetra_outward_face[k][1]];
    const mgn_node* c = t->n[mgn_tetra_outward_face[k][2]];
    switch (t->ngb_type[k]) {
      case MGN_ELEM_TETRA: {
        const auto* o = static_cast<const mgn_tetra*>(t->ngb[k]);
        if (o == nullptr || o->id == 0) return mgn_format("tetra %ld has a retired neighbour", id);
        if (o->region != t->region) return mgn_format("tetra %ld neighbours a tetra of another region", id);
        const int ko = mgn_get_tetra_face_index(o, a, b, c);
        if (ko < 0) return mgn_format("tetra %ld and its neighbour %ld share no face", id, static_cast<long>(o->id));
        if (o->ngb_type[ko] != MGN_ELEM_TETRA || o->ngb[ko] != t)
          return mgn_format("neighbour link of tetras %ld and %ld is one-sided", id, static_cast<long>(o->id));
        if (o->n[ko] == t->n[k]) return mgn_format("tetras %ld and %ld coincide", id, static_cast<long>(o->id));
        break;
      }
      case MGN_ELEM_FACE: {
        const auto* f = static_cast<const mgn_face*>(t->ngb[k]);
        if (f == nullptr || f->id == 0) return mgn_format("tetra %ld links a retired face", id);
        if (mgn_get_tetra_face_index(t, f->n[0], f->n[1], f->n[2]) != k)
          return mgn_format("tetra %ld links face %ld on another face", id, static_cast<long>(f->id));
        const int s = mgn_get_face_side_of_tetra(f, t);
        const mgn_element_extra* extra = mgn_find_element_extra(f);
        if (extra == nullptr || extra->side[s] != t)
          return mgn_format("face %ld does not hold tetra %ld on its side", static_cast<long>(f->id), id);
        break;
      }
      case MGN_ELEM_PYRAM: {
        const auto* p = static_cast<const mgn_pyram*>(t->ngb[k]);
        if (p == nullptr || p->id == 0) return mgn_format("tetra %ld links a retired pyramid", id);
        if (p->region != t->region) return mgn_format("tetra %ld neighbours a pyramid of another region", id);
        // Side j of the pyramid: base edge j-1 to j and the apex.
        int side = -1;
        for (int j = 1; j <= 4; ++j)
          if (mgn_get_tetra_face_index(t, p->n[j - 1], p->n[j % 4], p->n[4]) == k) side = j;
        if (side < 0) return mgn_format("tetra %ld links pyramid %ld on another face", id, static_cast<long>(p->id));
        if (p->ngb[side] != t || p->ngb_type[side] != MGN_ELEM_TETRA)
          return mgn_format("neighbour link of tetra %ld and pyramid %ld is one-sided", id, static_cast<long>(p->id));
        break;
      }
      default:
        return mgn_format("face %d of tetra %ld is left on the front", k, id);
    }
  }
  return {};
}

}  // namespace

std::string mgn_check_region_mesh(const mgn_region* region) {
  if (region == nullptr) return "no region";
  if (region->mesh.tetras == nullptr) return mgn_format("region %ld has no tetra", static_cast<long>(region->id));
  long live = 0;
  std::string fault;
  mgn_for_own_records<mgn_tetra>(region->mesh.tetras, region->mesh.tetra_total, region->mesh.discretized, [&](const mgn_tetra* t) {
    ++live;
    if (!fault.empty()) return;
    if (t->region != region) fault = mgn_format("tetra %ld of another region listed", static_cast<long>(t->id));
    else fault = check_tetra(t);
  });
  if (!fault.empty()) return fault;
  if (live == 0) return mgn_format("region %ld has no tetra", static_cast<long>(region->id));
  for (const mgn_surface* s : mgn_list_range<mgn_surface>(region->inner_surfaces))
    if (fault.empty()) fault = check_faces_of(s, "surface", region, true, false);
  for (const mgn_surface* s : mgn_list_range<mgn_surface>(region->outer_surfaces))
    if (fault.empty()) fault = check_faces_of(s, "surface", region, false, true);
  for (const mgn_surface* s : mgn_list_range<mgn_surface>(region->fixed_surfaces))
    if (fault.empty()) fault = check_faces_of(s, "surface", region, true, true);
  for (const mgn_patch* p : mgn_list_range<mgn_patch>(region->inner_patches))
    if (fault.empty()) fault = check_faces_of(p, "patch", region, true, false);
  for (const mgn_patch* p : mgn_list_range<mgn_patch>(region->outer_patches))
    if (fault.empty()) fault = check_faces_of(p, "patch", region, false, true);
  for (const mgn_patch* p : mgn_list_range<mgn_patch>(region->fixed_patches))
    if (fault.empty()) fault = check_faces_of(p, "patch", region, true, true);
  for (const mgn_shell* s : mgn_list_range<mgn_shell>(region->inner_shells))
    if (fault.empty()) fault = check_faces_of(s, "shell", region, true, false);
  for (const mgn_shell* s : mgn_list_range<mgn_shell>(region->outer_shells))
    if (fault.empty()) fault = check_faces_of(s, "shell", region, false, true);
  for (const mgn_shell* s : mgn_list_range<mgn_shell>(region->fixed_shells))
    if (fault.empty()) fault = check_faces_of(s, "shell", region, true, true);
  if (!fault.empty()) return fault;
  if (region->mesh.nodes != nullptr)
    mgn_for_own_records<mgn_node>(region->mesh.nodes, region->mesh.node_total, region->mesh.discretized, [&](const mgn_node* n) {
      if (fault.empty() && n->front_count != 0)
        fault = mgn_format("node %ld is left on the front", static_cast<long>(n->id));
    });
  return fault;
}
