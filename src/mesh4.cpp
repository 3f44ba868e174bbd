// Quad topology of surface meshes: merging triangles into quads, moving lone
// triangles toward one another, removing interior nodes of valency 2.
//
// The quad front builds each quad as two triangles on its diagonal and hands
// the pairs over here once the front is closed.  What the front could not
// pair is paired afterwards: first every triangle with a neighbour across an
// own edge, best quad first; then each lone triangle walks along the
// shortest chain of quads to the nearest other triangle (every quad of the
// chain is re-cut along the diagonal that passes the triangle on) and the
// two merge when they meet.  A mesh whose boundary has an even number of
// edges has an even number of triangles (each triangle adds three edge
// sides, each quad four, and the boundary edges are the odd ones), so the
// walks end with quads only unless the geometry forbids a convex quad on
// the way; an odd boundary keeps one triangle.
//
// The smoothing runs the clean-up before and after each of its passes.  A
// pass may push a corner of a quad across its diagonal: such a folded quad
// is cut into two triangles, which the pairing then takes up like any
// other.  The passes move nodes only, so a triangle whose long walk failed
// and that has not moved since looks only nearby the next time (where the
// pass may have made a quad convex), which keeps the clean-ups around the
// passes cheap on large meshes.
#include "mesh4.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <unordered_map>
#include <vector>

#include "element.h"
#include "list.h"
#include "quality.h"
#include "vec3.h"

namespace {

// A merged quad below this quality is not made: the two triangles are
// better than a quad that is nearly a triangle.
constexpr double kMinMergeQuality = 0.02;
// Elements a walk from a lone triangle visits before it gives up: a
// triangle that has failed before and stayed where it was looks nearby only.
constexpr std::size_t kNearWalk = 400;
constexpr std::size_t kFarWalk = 4000;
// Chains a lone triangle tries before it stays.
constexpr int kWalkAttempts = 8;
// Rounds of pairing and walking in one clean-up.
constexpr int kRounds = 3;

// The entity whose mesh is worked on.
struct topology_context {
  int kind = MGN_SURFACE;
  void* entity = nullptr;
  mgn_entity_mesh* mesh = nullptr;
  bool sides = false;  // the entity bounds a region: elements get side slots
  bool planar = false;
  double normal[3] = {0.0, 0.0, 0.0};
  // The live triangles as last listed and those made since (known: the
  // listing need not be read again).
  bool faces_known = false;
  std::vector<mgn_face*> faces;
  std::vector<mgn_face*> made;
};
topology_context tc;

// What the last clean-up of an entity left: the triangles (by address,
// sorted) whose walks failed in its last round without moving them, the
// live triangles with the entity's face total then (the smoothing passes
// between two clean-ups make no faces, so the next clean-up need not read
// the whole face listing, which holds every retired half of a quad), and
// whether it left quads only.
struct cleanup_memory {
  int kind = 0;
  void* entity = nullptr;
  std::vector<mgn_face*> failed;
  std::vector<mgn_face*> faces;
  int32_t face_total = -1;
  bool quads_only = false;
};
cleanup_memory memory;

template <typename Entity>
void set_sides(const Entity* e) {
  tc.sides = e->inner_region != nullptr || e->outer_region != nullptr || e->localized_region != nullptr;
}

void set_context(int kind, void* entity) {
  tc = topology_context{};
  tc.kind = kind;
  tc.entity = entity;
  tc.mesh = mgn_get_entity_mesh(kind, entity);
  const mgn_surface* geometry = nullptr;
  if (kind == MGN_SURFACE) {
    auto* s = static_cast<mgn_surface*>(entity);
    set_sides(s);
    geometry = s;
  } else if (kind == MGN_PATCH) {
    auto* p = static_cast<mgn_patch*>(entity);
    set_sides(p);
    tc.planar = true;
    mgn_copy3(tc.normal, p->normal);
  } else if (kind == MGN_SHELL) {
    auto* sh = static_cast<mgn_shell*>(entity);
    set_sides(sh);
    geometry = sh->bg_surface;
  }
  if (geometry != nullptr && geometry->planar) {
    tc.planar = true;
    mgn_copy3(tc.normal, geometry->normal);
  }
  if (tc.planar && !mgn_normalize(tc.normal)) tc.planar = false;
}

bool own_edge(const mgn_edge* e) {
  return e != nullptr && e->id != 0 && e->kind == tc.kind && e->entity == tc.entity;
}
bool own_face(const mgn_face* f) { return f != nullptr && f->id != 0 && f->entity == tc.entity && f->kind == tc.kind; }
bool own_quad(const mgn_quad* q) { return q != nullptr && q->id != 0 && q->entity == tc.entity && q->kind == tc.kind; }

// The normal the elements at the nodes turn about: the plane's, else the
// mean of the surface normals the nodes carry, else the element's own.
void reference_normal(mgn_node* const* n, int count, double out[3]) {
  if (tc.planar) {
    mgn_copy3(out, tc.normal);
    return;
  }
  out[0] = out[1] = out[2] = 0.0;
  for (int i = 0; i < count; ++i) {
    const auto* d = static_cast<const mgn_surface_data*>(n[i]->aux);
    if (d == nullptr || d->singular) continue;
    for (int k = 0; k < 3; ++k) out[k] += d->normal[k];
  }
  if (mgn_normalize(out)) return;
  // The area vector of the polygon (Newell).
  out[0] = out[1] = out[2] = 0.0;
  for (int i = 0; i < count; ++i) {
    const double* p = n[i]->xyz;
    const double* q = n[(i + 1) % count]->xyz;
    out[0] += (p[1] - q[1]) * (p[2] + q[2]);
    out[1] += (p[2] - q[2]) * (p[0] + q[0]);
    out[2] += (p[0] - q[0]) * (p[1] + q[1]);
  }
  mgn_normalize(out);
}

// Quality of the quad a b c d when it is convex about the surface, else -1.
double quad_score(mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d) {
  mgn_node* const n[4] = {a, b, c, d};
  double normal[3];
  reference_normal(n, 4, normal);
  if (!mgn_check_quad_convexity(a->xyz, b->xyz, c->xyz, d->xyz, normal)) return -1.0;
  const double* p[4] = {a->xyz, b->xyz, c->xyz, d->xyz};
  return mgn_get_quad_quality(p, !tc.planar);
}

// Whether the triangle turns counterclockwise about the surface.
bool triangle_turns(mgn_node* a, mgn_node* b, mgn_node* c) {
  mgn_node* const n[3] = {a, b, c};
  double normal[3], u[3], v[3], w[3];
  reference_normal(n, 3, normal);
  mgn_sub(b->xyz, a->xyz, u);
  mgn_sub(c->xyz, a->xyz, v);
  mgn_cross(u, v, w);
  return mgn_dot(w, normal) > 0.0;
}

// ---------------------------------------------------------------------------
// Elements: taking out and putting in
// ---------------------------------------------------------------------------

mgn_edge* edge_of(mgn_node* a, mgn_node* b) {
  mgn_edge* e = mgn_get_node_edge(a, b);
  if (e == nullptr) e = mgn_create_edge(a, b, tc.kind, tc.entity, &tc.mesh->edges);
  return e;
}

// An own edge that no element uses any more is retired.
void retire_if_unused(mgn_edge* e) {
  if (!own_edge(e)) return;
  for (const mgn_face* f : mgn_edge_faces(e))
    if (f->id != 0) return;
  for (const mgn_quad* q : mgn_edge_quads(e))
    if (q->id != 0) return;
  mgn_retire_edge(e);
}

void drop_face(mgn_face* f) {
  for (int i = 0; i < 3; ++i)
    if (mgn_edge* e = mgn_get_node_edge(f->n[i], f->n[(i + 1) % 3])) mgn_remove_edge_face(e, f);
  mgn_retire_face(f);
}

void drop_quad(mgn_quad* q) {
  for (int i = 0; i < 4; ++i)
    if (mgn_edge* e = mgn_get_node_edge(q->n[i], q->n[(i + 1) % 4]); e != nullptr && e->more != nullptr)
      mgn_unlink_item(e->more->quads, q);
  mgn_retire_quad(q);
}

mgn_face* add_face(mgn_node* a, mgn_node* b, mgn_node* c) {
  mgn_face* f = mgn_create_face(a, b, c, tc.kind, tc.entity, &tc.mesh->faces, nullptr, tc.sides);
  for (int i = 0; i < 3; ++i) mgn_add_edge_face(edge_of(f->n[i], f->n[(i + 1) % 3]), f);
  tc.made.push_back(f);
  return f;
}

mgn_quad* add_quad(mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d) {
  mgn_quad* q = mgn_create_quad(a, b, c, d, tc.kind, tc.entity, &tc.mesh->quads, tc.sides);
  for (int i = 0; i < 4; ++i) mgn_add_edge_quad(edge_of(q->n[i], q->n[(i + 1) % 4]), q);
  return q;
}

// The position of the edge a-b in the element's circuit: i when it runs
// n[i] -> n[i+1], -1 when it is not an edge of the element.
template <int N>
int edge_index(mgn_node* const (&n)[N], const mgn_node* a, const mgn_node* b) {
  for (int i = 0; i < N; ++i) {
    const mgn_node* p = n[i];
    const mgn_node* q = n[(i + 1) % N];
    if ((p == a && q == b) || (p == b && q == a)) return i;
  }
  return -1;
}

// The quad that two triangles sharing the edge e make: f runs p -> q -> r,
// g runs q -> p -> s, the quad p s q r.  False when they share no edge.
bool merged_nodes(mgn_node* const (&fn)[3], mgn_node* const (&gn)[3], const mgn_edge* e, mgn_node* out[4]) {
  const int i = edge_index(fn, e->n[0], e->n[1]);
  const int j = edge_index(gn, e->n[0], e->n[1]);
  if (i < 0 || j < 0) return false;
  mgn_node* p = fn[i];
  mgn_node* q = fn[(i + 1) % 3];
  mgn_node* r = fn[(i + 2) % 3];
  if (gn[j] != q || gn[(j + 1) % 3] != p) return false;  // opposite orientations
  mgn_node* s = gn[(j + 2) % 3];
  if (s == r) return false;
  out[0] = p;
  out[1] = s;
  out[2] = q;
  out[3] = r;
  return true;
}

// The own edge shared by two triangles (null: none).
mgn_edge* shared_edge(const mgn_face* f, const mgn_face* g) {
  for (int i = 0; i < 3; ++i) {
    mgn_edge* e = mgn_get_node_edge(f->n[i], f->n[(i + 1) % 3]);
    if (own_edge(e) && edge_index(g->n, e->n[0], e->n[1]) >= 0) return e;
  }
  return nullptr;
}

// Merges the two triangles into a quad when it is good enough.
mgn_quad* merge_faces(mgn_face* f, mgn_face* g, double min_quality) {
  if (!own_face(f) || !own_face(g) || f == g) return nullptr;
  mgn_edge* e = shared_edge(f, g);
  mgn_node* n[4];
  if (e == nullptr || !merged_nodes(f->n, g->n, e, n)) return nullptr;
  if (quad_score(n[0], n[1], n[2], n[3]) <= min_quality) return nullptr;
  drop_face(f);
  drop_face(g);
  mgn_quad* q = add_quad(n[0], n[1], n[2], n[3]);
  retire_if_unused(e);
  return q;
}

// ---------------------------------------------------------------------------
// Walks over the elements
// ---------------------------------------------------------------------------

// An element of the entity: a triangle or a quad.
struct element {
  mgn_face* face = nullptr;
  mgn_quad* quad = nullptr;
  bool operator==(const element& o) const { return face == o.face && quad == o.quad; }
  const void* key() const { return face != nullptr ? static_cast<const void*>(face) : quad; }
};

// The elements across the own edges of an element, with those edges.
template <typename F>
void for_each_neighbour(const element& el, F&& visit) {
  const int count = el.face != nullptr ? 3 : 4;
  mgn_node* const* n = el.face != nullptr ? el.face->n : el.quad->n;
  for (int i = 0; i < count; ++i) {
    mgn_edge* e = mgn_get_node_edge(n[i], n[(i + 1) % count]);
    if (!own_edge(e)) continue;
    for (mgn_face* f : mgn_edge_faces(e))
      if (own_face(f) && f != el.face) visit(element{f, nullptr}, e);
    for (mgn_quad* q : mgn_edge_quads(e))
      if (own_quad(q) && q != el.quad) visit(element{nullptr, q}, e);
  }
}

std::vector<mgn_face*> live_faces() {
  std::vector<mgn_face*> out;
  if (tc.faces_known) {
    for (const auto* list : {&tc.faces, &tc.made})
      for (mgn_face* f : *list)
        if (own_face(f)) out.push_back(f);
  } else if (tc.mesh->faces != nullptr) {
    for (mgn_face** ref :
         mgn_listing_first<mgn_face*>(mgn_get_first_listing_block(tc.mesh->faces), tc.mesh->face_total))
      if (*ref != nullptr && own_face(*ref)) out.push_back(*ref);
  }
  tc.faces = out;
  tc.made.clear();
  tc.faces_known = true;
  return out;
}

// Every two of the triangles across an own edge, best quad first.
long pair_neighbours(const std::vector<mgn_face*>& faces) {
  struct pairing {
    double score;
    mgn_face* f;
    mgn_face* g;
  };
  std::vector<pairing> pairs;
  for (mgn_face* f : faces) {
    for_each_neighbour(element{f, nullptr}, [&](const element& other, mgn_edge* e) {
      if (other.face == nullptr || other.face->id < f->id) return;
      mgn_node* n[4];
      if (!merged_nodes(f->n, other.face->n, e, n)) return;
      const double s = quad_score(n[0], n[1], n[2], n[3]);
      if (s > kMinMergeQuality) pairs.push_back({s, f, other.face});
    });
  }
  std::stable_sort(pairs.begin(), pairs.end(), [](const pairing& a, const pairing& b) { return a.score > b.score; });
  long made = 0;
  for (const pairing& p : pairs)
    if (p.f->id != 0 && p.g->id != 0 && merge_faces(p.f, p.g, kMinMergeQuality) != nullptr) ++made;
  return made;
}

// One step of a walk: the lone triangle t (its nodes) and the quad q
// across the edge e_in; the quad is cut so that the half at t joins t and
// the other half, which holds e_out (when given), becomes the lone
// triangle.  Checks only: false when no cut gives a convex quad.
struct move_plan {
  mgn_node* quad[4];  // the quad the triangle and the half at it make
  mgn_node* rest[3];  // the triangle that goes on
};
bool plan_move(mgn_node* const (&t)[3], const mgn_quad* q, const mgn_edge* e_in, const mgn_edge* e_out,
               move_plan& plan) {
  const int ti = edge_index(t, e_in->n[0], e_in->n[1]);
  const int qi = edge_index(q->n, e_in->n[0], e_in->n[1]);
  if (ti < 0 || qi < 0) return false;
  mgn_node* a = t[ti];
  mgn_node* b = t[(ti + 1) % 3];
  mgn_node* c = t[(ti + 2) % 3];
  if (q->n[qi] != b || q->n[(qi + 1) % 4] != a) return false;
  mgn_node* const q1 = q->n[(qi + 2) % 4];  // after a
  mgn_node* const q2 = q->n[(qi + 3) % 4];  // before b
  // Cut q1-b: the half (b, a, q1) joins t, the quad a q1 b c; (b, q1, q2)
  // goes on.  Cut a-q2: the half (b, a, q2) joins t, the quad a q2 b c;
  // (a, q1, q2) goes on.
  const move_plan cuts[2] = {{{a, q1, b, c}, {b, q1, q2}}, {{a, q2, b, c}, {a, q1, q2}}};
  int best = -1;
  double best_score = kMinMergeQuality;
  for (int k = 0; k < 2; ++k) {
    const move_plan& ct = cuts[k];
    if (e_out != nullptr && edge_index(ct.rest, e_out->n[0], e_out->n[1]) < 0) continue;
    if (!triangle_turns(ct.rest[0], ct.rest[1], ct.rest[2])) continue;
    const double s = quad_score(ct.quad[0], ct.quad[1], ct.quad[2], ct.quad[3]);
    if (s > best_score) {
      best_score = s;
      best = k;
    }
  }
  if (best < 0) return false;
  plan = cuts[best];
  return true;
}

// The step planned by plan_move, done: returns the triangle that goes on,
// or null when there is no such step (nothing changes then).
mgn_face* move_through(mgn_face* t, mgn_quad* q, mgn_edge* e_in, const mgn_edge* e_out) {
  move_plan plan;
  if (!plan_move(t->n, q, e_in, e_out, plan)) return nullptr;
  drop_face(t);
  drop_quad(q);
  add_quad(plan.quad[0], plan.quad[1], plan.quad[2], plan.quad[3]);
  mgn_face* rest = add_face(plan.rest[0], plan.rest[1], plan.rest[2]);
  retire_if_unused(e_in);
  return rest;
}

// The shortest chain of quads from the triangle to another triangle,
// avoiding the blocked elements: the elements after the start (the last is
// the triangle found) and the edge crossed into each.  False when none.
bool find_chain(mgn_face* start, const std::vector<const void*>& blocked, std::size_t max_walk,
                std::vector<element>& chain, std::vector<mgn_edge*>& crossed) {
  struct visit {
    element from;
    mgn_edge* edge;  // crossed to get here
  };
  std::unordered_map<const void*, visit> seen;
  std::deque<element> queue;
  const element origin{start, nullptr};
  seen[origin.key()] = {element{}, nullptr};
  for (const void* b : blocked) seen[b] = {element{}, nullptr};
  queue.push_back(origin);
  element target{};
  while (!queue.empty() && target.face == nullptr && seen.size() < max_walk) {
    const element el = queue.front();
    queue.pop_front();
    for_each_neighbour(el, [&](const element& next, mgn_edge* e) {
      if (target.face != nullptr || seen.count(next.key()) != 0) return;
      seen[next.key()] = {el, e};
      if (next.face != nullptr) target = next;
      else queue.push_back(next);
    });
  }
  if (target.face == nullptr) return false;
  chain.clear();
  crossed.clear();
  for (element el = target; !(el == origin);) {
    const visit& v = seen[el.key()];
    chain.push_back(el);
    crossed.push_back(v.edge);
    el = v.from;
  }
  std::reverse(chain.begin(), chain.end());
  std::reverse(crossed.begin(), crossed.end());
  return true;
}

// Walks the lone triangle along the chain (chain[k] reached across
// crossed[k], the last element the triangle to merge with) and merges the
// two.  Returns chain.size() when they merged, else the index of the
// element that stopped the walk (a quad the triangle could not pass
// convexly, or the last one when the two make no convex quad); lone is left
// where the triangle got to.
std::size_t walk_chain(mgn_face*& lone, const std::vector<element>& chain, const std::vector<mgn_edge*>& crossed) {
  for (std::size_t k = 0; k + 1 < chain.size(); ++k) {
    mgn_face* next = move_through(lone, chain[k].quad, crossed[k], crossed[k + 1]);
    if (next == nullptr) return k;
    lone = next;
  }
  if (merge_faces(lone, chain.back().face, kMinMergeQuality) != nullptr) return chain.size();
  return chain.size() - 1;
}

// Moves the lone triangle into one of its quads, away from the other
// triangle: the first quad (in the order of the triangle's edges) through
// which it passes convexly onto an edge the other does not hold.
bool step_aside(mgn_face* lone, const mgn_face* other, mgn_face** moved) {
  for (int i = 0; i < 3; ++i) {
    mgn_edge* e = mgn_get_node_edge(lone->n[i], lone->n[(i + 1) % 3]);
    if (!own_edge(e)) continue;
    for (mgn_quad* q : mgn_edge_quads(e)) {
      if (!own_quad(q)) continue;
      for (int k = 0; k < 4; ++k) {
        mgn_edge* out = mgn_get_node_edge(q->n[k], q->n[(k + 1) % 4]);
        if (out == e || out == nullptr || edge_index(other->n, out->n[0], out->n[1]) >= 0) continue;
        if (mgn_face* next = move_through(lone, q, e, out)) {
          *moved = next;
          return true;
        }
      }
    }
  }
  return false;
}

// Walks the lone triangle along the shortest chain of quads to the nearest
// other triangle and merges the two there.  A quad that cannot pass the
// triangle on convexly, or a triangle it cannot merge with, is avoided by
// the next chain, from wherever the triangle got to.  True when it merged.
bool walk_lone_triangle(mgn_face* start, std::size_t max_walk) {
  std::vector<const void*> blocked;
  std::vector<element> chain;
  std::vector<mgn_edge*> crossed;
  mgn_face* lone = start;
  for (int attempt = 0; attempt < kWalkAttempts; ++attempt) {
    if (!find_chain(lone, blocked, max_walk, chain, crossed)) return false;
    // chain[k] is reached across crossed[k]; the last is the triangle found.
    const std::size_t stop = walk_chain(lone, chain, crossed);
    if (stop == chain.size()) return true;
    if (stop + 1 < chain.size()) {
      blocked.push_back(chain[stop].key());
      continue;
    }
    // The two triangles met but make no convex quad: the lone one steps
    // aside into a quad it does not share with the other, and the next
    // chain takes it back around.
    if (!step_aside(lone, chain.back().face, &lone)) blocked.push_back(chain.back().key());
  }
  return false;
}

// ---------------------------------------------------------------------------
// Folded quads
// ---------------------------------------------------------------------------

// A quad that is no longer convex about the surface (a smoothing pass moved
// a corner across its diagonal), or so warped that its opposite corners
// turn against each other (a pass pulled an inner corner off the plane of
// three corners on a curve), is cut into the two triangles of the diagonal
// that leaves both turning the right way; the pairing then finds them new
// partners.  Returns the number of quads cut.
long split_folded_quads() {
  if (tc.mesh->quads == nullptr) return 0;
  std::vector<mgn_quad*> folded;
  for (mgn_quad** ref :
       mgn_listing_first<mgn_quad*>(mgn_get_first_listing_block(tc.mesh->quads), tc.mesh->quad_total)) {
    mgn_quad* q = *ref;
    if (q != nullptr && own_quad(q) && quad_score(q->n[0], q->n[1], q->n[2], q->n[3]) <= 0.0) folded.push_back(q);
  }
  long cut = 0;
  for (mgn_quad* q : folded) {
    mgn_node* const* n = q->n;
    for (int d = 0; d < 2; ++d) {
      mgn_node* a = n[d];
      mgn_node* b = n[d + 1];
      mgn_node* c = n[d + 2];
      mgn_node* e = n[(d + 3) % 4];
      if (!triangle_turns(a, b, c) || !triangle_turns(a, c, e)) continue;
      drop_quad(q);
      add_face(a, b, c);
      add_face(a, c, e);
      ++cut;
      break;
    }
  }
  return cut;
}

// ---------------------------------------------------------------------------
// Nodes of valency 2
// ---------------------------------------------------------------------------

// The circuit of an element started at the node (the node first).
int circuit_from(const element& el, const mgn_node* node, mgn_node* out[4]) {
  const int count = el.face != nullptr ? 3 : 4;
  mgn_node* const* n = el.face != nullptr ? el.face->n : el.quad->n;
  int i = 0;
  while (i < count && n[i] != node) ++i;
  if (i == count) return 0;
  for (int k = 0; k < count; ++k) out[k] = n[(i + k) % count];
  return count;
}

// An interior node with two edges lies between two elements: they become
// one (a quad from two quads, a triangle from a quad and a triangle).
bool remove_valency_two(mgn_node* node) {
  if (node->id == 0 || node->kind != tc.kind || node->entity != tc.entity || node->edge_count != 2) return false;
  std::vector<element> around;
  mgn_edge* edges[2] = {nullptr, nullptr};
  int ne = 0;
  for (mgn_edge* e : mgn_node_edges(node)) {
    if (!own_edge(e) || ne == 2) return false;
    edges[ne++] = e;
    for (mgn_face* f : mgn_edge_faces(e))
      if (own_face(f) && std::find(around.begin(), around.end(), element{f, nullptr}) == around.end())
        around.push_back({f, nullptr});
    for (mgn_quad* q : mgn_edge_quads(e))
      if (own_quad(q) && std::find(around.begin(), around.end(), element{nullptr, q}) == around.end())
        around.push_back({nullptr, q});
  }
  if (ne != 2 || around.size() != 2) return false;
  mgn_node* c1[4];
  mgn_node* c2[4];
  const int k1 = circuit_from(around[0], node, c1);
  const int k2 = circuit_from(around[1], node, c2);
  if (k1 == 0 || k2 == 0 || c1[k1 - 1] != c2[1] || c2[k2 - 1] != c1[1]) return false;
  mgn_node* poly[4];
  int count = 0;
  for (int k = 1; k < k1; ++k) poly[count++] = c1[k];
  for (int k = 2; k < k2 - 1; ++k) {
    if (count == 4) return false;
    poly[count++] = c2[k];
  }
  if (count == 4) {
    if (quad_score(poly[0], poly[1], poly[2], poly[3]) <= 0.0) return false;
  } else if (count != 3 || !triangle_turns(poly[0], poly[1], poly[2])) {
    return false;
  }
  for (const element& el : around) {
    if (el.face != nullptr) drop_face(el.face);
    else drop_quad(el.quad);
  }
  for (mgn_edge* e : edges) mgn_retire_edge(e);
  mgn_retire_node(node);
  if (count == 4) add_quad(poly[0], poly[1], poly[2], poly[3]);
  else add_face(poly[0], poly[1], poly[2]);
  return true;
}

long remove_valency_two_nodes() {
  long removed = 0;
  if (tc.mesh->nodes == nullptr) return 0;
  std::vector<mgn_node*> nodes;
  for (mgn_node** ref :
       mgn_listing_first<mgn_node*>(mgn_get_first_listing_block(tc.mesh->nodes), tc.mesh->node_total))
    if (*ref != nullptr && (*ref)->id != 0 && (*ref)->edge_count == 2) nodes.push_back(*ref);
  for (mgn_node* node : nodes)
    if (remove_valency_two(node)) ++removed;
  return removed;
}

}  // namespace

bool mgn_check_quad_convexity(const double* a, const double* b, const double* c, const double* d,
                              const double* normal) {
  const double* p[4] = {a, b, c, d};
  // Each corner: the turn from the incoming to the outgoing edge is to the
  // left about the normal, by more than a sliver of the corner's edges.
  for (int i = 0; i < 4; ++i) {
    double u[3], v[3], w[3];
    mgn_sub(p[i], p[(i + 3) % 4], u);
    mgn_sub(p[(i + 1) % 4], p[i], v);
    mgn_cross(u, v, w);
    const double s = mgn_dot(w, normal);
    if (!(s > 1e-12 * std::sqrt(mgn_dot(u, u) * mgn_dot(v, v)))) return false;
  }
  return true;
}

long mgn_merge_triangle_pairs(int kind, void* entity, const std::vector<std::pair<mgn_face*, mgn_face*>>& pairs) {
  set_context(kind, entity);
  long made = 0;
  for (const auto& [f, g] : pairs)
    if (f->id != 0 && g->id != 0 && merge_faces(f, g, kMinMergeQuality) != nullptr) ++made;
  return made;
}

void mgn_clean_quad_mesh(int kind, void* entity) {
  set_context(kind, entity);
  if (tc.mesh == nullptr || tc.mesh->discretized) return;
  if (memory.kind != kind || memory.entity != entity) memory = cleanup_memory{kind, entity, {}, {}, -1, false};
  if (memory.face_total == tc.mesh->face_total) {
    tc.faces = memory.faces;
    tc.faces_known = true;
  }
  const long split = split_folded_quads();
  // A mesh the last clean-up left with quads only stays so unless a quad
  // was folded since.
  if (split == 0 && memory.quads_only && tc.mesh->face_count == 0) return;
  std::vector<mgn_face*> failed;
  for (int round = 0; round < kRounds; ++round) {
    const std::vector<mgn_face*> faces = live_faces();
    long changes = pair_neighbours(faces);
    if (round == 0 || changes > 0) changes += remove_valency_two_nodes();
    failed.clear();
    long walked = 0;
    for (mgn_face* f : faces) {
      if (!own_face(f)) continue;
      // A triangle whose long walk failed before, and that has not moved
      // since, looks only nearby (a smoothing pass may have made a quad
      // there convex); far away nothing has changed for it.
      const bool known = std::binary_search(memory.failed.begin(), memory.failed.end(), f);
      if (walk_lone_triangle(f, known ? kNearWalk : kFarWalk)) ++walked;
      else if (own_face(f)) failed.push_back(f);
    }
    if (walked > 0) walked += remove_valency_two_nodes();
    changes += walked;
    std::sort(failed.begin(), failed.end());
    memory.failed = failed;
    if (changes == 0 || tc.mesh->face_count == 0) break;
  }
  memory.quads_only = tc.mesh->face_count == 0;
  memory.faces = live_faces();
  memory.face_total = tc.mesh->face_total;
}
