// Quad topology of surface meshes: merging triangles into quads, moving lone
// triangles toward one another, removing interior nodes of valency 2, and
// lowering irregular valencies.
//
// The quad front builds each quad as two triangles on its diagonal and hands
// the pairs over here once the front is closed.  What the front could not
// pair is paired afterwards: first every triangle with a neighbour across an
// own edge, best quad first; then each lone triangle walks through the quads
// to the nearest other triangle it can reach and the two merge where they
// meet.  Each step of a walk cuts a quad along one of its diagonals: the
// half at the triangle joins it into a quad, the other half goes on.  The
// walk is searched over the places the triangle can take (four in each
// quad) and keeps only steps whose quads are convex and a meeting whose
// quad is convex, so where the straight way would make a corner of 180
// degrees or more (rows of quads meeting on a straight line) it goes
// around.  A mesh whose boundary has an even number of edges has an even
// number of triangles (each triangle adds three edge sides, each quad four,
// and the boundary edges are the odd ones), so the walks end with quads
// only unless the geometry forbids every convex way; an odd boundary keeps
// one triangle.
//
// The smoothing runs the clean-up before and after each of its passes.  A
// pass may push a corner of a quad across its diagonal: such a folded quad
// is cut into two triangles, which the pairing then takes up like any
// other.  The passes move nodes only, so a triangle whose walk failed and
// that has not moved since looks only nearby the next time (where the pass
// may have made a quad convex), which keeps the clean-ups around the passes
// cheap on large meshes.  The front may also leave two triangles a hundred
// rows apart, beyond any nearby look: a few clean-ups after passes let the
// remaining triangles walk as far as their partners, within a budget of
// places of about one look at the whole mesh.
//
// Last, each clean-up lowers the irregular valencies the front left (a
// quad front leaves interior nodes of valency 3 and 5 where rows of quads
// meet): edges between two quads are turned and diamonds of two valency-3
// corners collapsed wherever that lowers the squared deviation of the
// valencies from those of a square grid and leaves good convex quads.
// Neither moves a node, so every node stays on the surface.  Only the
// first clean-up of an entity looks at the whole mesh; the later ones look
// near the elements they made and at what was refused for the quality of
// its quads or for a triangle nearby (the smoothing passes in between only
// move nodes).  Triangles still to be paired, and the elements around
// them, are left to the walks.
#include "mesh4.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "element.h"
#include "list.h"
#include "quality.h"
#include "vec3.h"

namespace {

// A merged quad below this quality is not made: the two triangles are
// better than a quad that is nearly a triangle.
constexpr double kMinMergeQuality = 0.02;
// Places a walk from a lone triangle looks at before it gives up (about
// two per quad): a triangle that has failed before and stayed where it was
// looks nearby only.
constexpr std::size_t kNearWalk = 400;
constexpr std::size_t kFarWalk = 2000;
// Places per element of the mesh that the walks of the triangles no other
// lies near may look at in one clean-up (each quad holds four), and the
// clean-ups of one entity that walk them: each may look at the whole mesh,
// so a pair the geometry keeps apart is not looked for again and again.
constexpr std::size_t kWholeWalkPlaces = 4;
constexpr int kWholeWalkCleanups = 4;
// Walks a lone triangle tries before it stays.
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
  // The nodes of the triangles still to be paired and of the elements
  // around them (sorted): the valency operations leave them to the walks.
  std::vector<const mgn_node*> near_triangles;
  // The nodes of the elements made in this clean-up, where valencies may
  // have changed.
  std::vector<mgn_node*> touched;
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
  // Whether the valencies of the whole mesh were looked at, and the
  // valency operations refused since for what the passes or the walks may
  // change.
  bool valencies_seen = false;
  std::vector<mgn_edge*> retry_flips;
  std::vector<mgn_quad*> retry_collapses;
  // The clean-ups of the entity so far, those that walked the far
  // triangles, and the last of them.
  int cleanups = 0;
  int whole_walks = 0;
  int last_whole_walk = -2;
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
    if (mgn_edge* e = mgn_get_node_edge(q->n[i], q->n[(i + 1) % 4]); e != nullptr && e->more != 0)
      mgn_unlink_item(mgn_find_edge_more(e)->quads, q);
  mgn_retire_quad(q);
}

mgn_face* add_face(mgn_node* a, mgn_node* b, mgn_node* c) {
  mgn_face* f = mgn_create_face(a, b, c, tc.kind, tc.entity, &tc.mesh->faces, nullptr, tc.sides);
  for (int i = 0; i < 3; ++i) mgn_add_edge_face(edge_of(f->n[i], f->n[(i + 1) % 3]), f);
  tc.made.push_back(f);
  tc.touched.insert(tc.touched.end(), f->n, f->n + 3);
  return f;
}

mgn_quad* add_quad(mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d) {
  mgn_quad* q = mgn_create_quad(a, b, c, d, tc.kind, tc.entity, &tc.mesh->quads, tc.sides);
  for (int i = 0; i < 4; ++i) mgn_add_edge_quad(edge_of(q->n[i], q->n[(i + 1) % 4]), q);
  tc.touched.insert(tc.touched.end(), q->n, q->n + 4);
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
// The check of a merge (merge_faces applies it): the quality of the quad
// that the triangles fn and gn across their shared edge e would make, -1
// when they make none (not merged across e, or not convex).
double merge_score(mgn_node* const (&fn)[3], mgn_node* const (&gn)[3], const mgn_edge* e) {
  mgn_node* n[4];
  if (!merged_nodes(fn, gn, e, n)) return -1.0;
  return quad_score(n[0], n[1], n[2], n[3]);
}

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
  int corners() const { return face != nullptr ? 3 : 4; }
  mgn_node* const* nodes() const { return face != nullptr ? face->n : quad->n; }
};

// The elements across the own edges of an element, with those edges.
template <typename F>
void for_each_neighbour(const element& el, F&& visit) {
  const int count = el.corners();
  mgn_node* const* n = el.nodes();
  for (int i = 0; i < count; ++i) {
    mgn_edge* e = mgn_get_node_edge(n[i], n[(i + 1) % count]);
    if (!own_edge(e)) continue;
    for (mgn_face* f : mgn_edge_faces(e))
      if (own_face(f) && f != el.face) visit(element{f, nullptr}, e);
    for (mgn_quad* q : mgn_edge_quads(e))
      if (own_quad(q) && q != el.quad) visit(element{nullptr, q}, e);
  }
}

// Adds the entity's elements on edge e that are not in `around` yet;
// whether the edge bounds any element of the entity.
bool add_elements_of_edge(const mgn_edge* e, std::vector<element>& around) {
  bool used = false;
  auto add = [&](const element& el) {
    used = true;
    if (std::find(around.begin(), around.end(), el) == around.end()) around.push_back(el);
  };
  for (mgn_face* f : mgn_edge_faces(e))
    if (own_face(f)) add({f, nullptr});
  for (mgn_quad* q : mgn_edge_quads(e))
    if (own_quad(q)) add({nullptr, q});
  return used;
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
      const double s = merge_score(f->n, other.face->n, e);
      if (s > kMinMergeQuality) pairs.push_back({s, f, other.face});
    });
  }
  std::stable_sort(pairs.begin(), pairs.end(), [](const pairing& a, const pairing& b) { return a.score > b.score; });
  long made = 0;
  for (const pairing& p : pairs)
    if (p.f->id != 0 && p.g->id != 0 && merge_faces(p.f, p.g, kMinMergeQuality) != nullptr) ++made;
  return made;
}

// One step of a walk: the lone triangle t (its corners) and the quad q
// across the edge e_in.  The quad is cut along one of its diagonals: the
// half at t joins t into a quad, the other half is the triangle that goes
// on.  With t = (a, b, c) over e_in = a-b and q = (b, a, q1, q2):
//
//   cut q1-b: the quad a q1 b c, the triangle (b, q1, q2) goes on;
//   cut a-q2: the quad a q2 b c, the triangle (a, q1, q2) goes on.
//
// A cut passes when its quad is convex (and not nearly a triangle) and the
// triangle that goes on turns the right way.
struct move_plan {
  mgn_node* quad[4];  // the quad the triangle and the half at it make
  mgn_node* rest[3];  // the triangle that goes on
  int left_out;       // the corner of q the triangle that goes on lacks
};
bool cuts_of(mgn_node* const (&t)[3], const mgn_quad* q, const mgn_edge* e_in, move_plan (&cuts)[2]) {
  const int ti = edge_index(t, e_in->n[0], e_in->n[1]);
  const int qi = edge_index(q->n, e_in->n[0], e_in->n[1]);
  if (ti < 0 || qi < 0) return false;
  mgn_node* a = t[ti];
  mgn_node* b = t[(ti + 1) % 3];
  mgn_node* c = t[(ti + 2) % 3];
  if (q->n[qi] != b || q->n[(qi + 1) % 4] != a) return false;
  mgn_node* const q1 = q->n[(qi + 2) % 4];  // after a
  mgn_node* const q2 = q->n[(qi + 3) % 4];  // before b
  cuts[0] = {{a, q1, b, c}, {b, q1, q2}, (qi + 1) % 4};
  cuts[1] = {{a, q2, b, c}, {a, q1, q2}, qi};
  return true;
}

bool cut_passes(const move_plan& cut) {
  return triangle_turns(cut.rest[0], cut.rest[1], cut.rest[2]) &&
         quad_score(cut.quad[0], cut.quad[1], cut.quad[2], cut.quad[3]) > kMinMergeQuality;
}

// A place of the lone triangle on a walk: its corners, the quad it was cut
// from and the edge it entered that quad by (none at the start), and the
// index of the place it came from.
struct walk_place {
  mgn_node* t[3];
  mgn_quad* quad;
  mgn_edge* entered;
  int left_out;
  int from;
};

// The shortest walk of the lone triangle to another triangle along which
// every step passes and that ends with a convex merge: a search over the
// places the triangle can take (each quad holds four, one per corner left
// out), so a quad that would not pass the triangle on from one side, or a
// meeting that makes no convex quad, is gone around.  Quads in `blocked`
// are not entered; at most max_walk places are looked at, and max_walk is
// lowered by the places looked at.  path[0] is the start; false when there
// is no such walk.
bool find_walk(mgn_face* start, const std::vector<const void*>& blocked, std::size_t& max_walk,
               std::vector<walk_place>& path, mgn_face** partner) {
  constexpr unsigned kEveryPlace = 0xF;
  std::vector<walk_place> places;
  std::unordered_map<const void*, unsigned> reached;  // per quad, a bit per corner left out
  for (const void* b : blocked) reached[b] = kEveryPlace;
  places.push_back({{start->n[0], start->n[1], start->n[2]}, nullptr, nullptr, -1, -1});
  int found = -1;
  for (std::size_t next = 0; next < places.size() && found < 0 && places.size() < max_walk; ++next) {
    const walk_place here = places[next];  // a copy: places grows below
    for (int i = 0; i < 3 && found < 0; ++i) {
      mgn_edge* e = mgn_get_node_edge(here.t[i], here.t[(i + 1) % 3]);
      if (!own_edge(e)) continue;
      for (mgn_face* g : mgn_edge_faces(e)) {
        if (g == start || !own_face(g) || reached.count(g) != 0) continue;
        if (!(merge_score(here.t, g->n, e) > kMinMergeQuality)) continue;
        found = static_cast<int>(next);
        *partner = g;
        break;
      }
      if (found >= 0) break;
      for (mgn_quad* q : mgn_edge_quads(e)) {
        if (q == here.quad || !own_quad(q)) continue;
        move_plan cuts[2];
        if (!cuts_of(here.t, q, e, cuts)) continue;
        unsigned& mask = reached[q];
        for (const move_plan& cut : cuts) {
          const unsigned bit = 1u << cut.left_out;
          if ((mask & bit) != 0 || !cut_passes(cut)) continue;
          mask |= bit;
          places.push_back({{cut.rest[0], cut.rest[1], cut.rest[2]}, q, e, cut.left_out, static_cast<int>(next)});
        }
      }
    }
  }
  max_walk -= std::min(max_walk, places.size());
  if (found < 0) return false;
  path.clear();
  for (int k = found; k >= 0; k = places[k].from) path.push_back(places[k]);
  std::reverse(path.begin(), path.end());
  return true;
}

// Walks the lone triangle along the path and merges it with the partner.
// Returns path.size() when they merged, else the index of the place the
// walk could not take (its quad was changed by an earlier step of the same
// walk); lone is left where the triangle got to.
std::size_t walk_path(mgn_face*& lone, const std::vector<walk_place>& path, mgn_face* partner) {
  for (std::size_t k = 1; k < path.size(); ++k) {
    const walk_place& place = path[k];
    move_plan cuts[2];
    if (!own_quad(place.quad) || !cuts_of(lone->n, place.quad, place.entered, cuts)) return k;
    const move_plan& cut = cuts[0].left_out == place.left_out ? cuts[0] : cuts[1];
    if (!cut_passes(cut)) return k;
    drop_face(lone);
    drop_quad(place.quad);
    add_quad(cut.quad[0], cut.quad[1], cut.quad[2], cut.quad[3]);
    lone = add_face(cut.rest[0], cut.rest[1], cut.rest[2]);
    retire_if_unused(place.entered);
  }
  if (merge_faces(lone, partner, kMinMergeQuality) != nullptr) return path.size();
  return path.size() - 1;
}

// Walks the lone triangle to the nearest other triangle it can reach and
// merges the two there.  A walk that crosses its own track meets a quad it
// has already cut; that quad is avoided by the next walk, from wherever the
// triangle got to.  The walks look at max_walk places together (lowered by
// those looked at).  True when it merged.
bool walk_lone_triangle(mgn_face* start, std::size_t& max_walk) {
  std::vector<const void*> blocked;
  std::vector<walk_place> path;
  mgn_face* lone = start;
  for (int attempt = 0; attempt < kWalkAttempts; ++attempt) {
    mgn_face* partner = nullptr;
    if (!find_walk(lone, blocked, max_walk, path, &partner)) return false;
    const std::size_t stop = walk_path(lone, path, partner);
    if (stop == path.size()) return true;
    if (stop < path.size() - 1) blocked.push_back(path[stop].quad);
    else blocked.push_back(partner);
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
  const int count = el.corners();
  mgn_node* const* n = el.nodes();
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
    add_elements_of_edge(e, around);
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

// ---------------------------------------------------------------------------
// Valencies
// ---------------------------------------------------------------------------

// A quad mesh is at its best where every node has the valency of a square
// grid: 4 inside, and on the boundary one more than the quarter turns of
// the boundary's angle there (2 at a right corner, 3 along a straight
// side).  The deviation of a node is its valency less that ideal; the
// operations below lower the sum of the squared deviations.
struct node_valency {
  int count = 0;       // element edges at the node
  double ideal = 4.0;  // the valency of a square grid there
};

// The corner angle of the element at the node (the node first in circuit).
double corner_angle(mgn_node* const* circuit, int count) {
  double u[3], v[3];
  mgn_sub(circuit[1]->xyz, circuit[0]->xyz, u);
  mgn_sub(circuit[count - 1]->xyz, circuit[0]->xyz, v);
  const double nu = mgn_norm(u), nv = mgn_norm(v);
  if (!(nu > 0.0) || !(nv > 0.0)) return 0.0;
  return std::acos(std::clamp(mgn_dot(u, v) / (nu * nv), -1.0, 1.0));
}

bool near_triangle(const mgn_node* node) {
  return std::binary_search(tc.near_triangles.begin(), tc.near_triangles.end(), node);
}

bool interior_node(const mgn_node* node) { return node->kind == tc.kind && node->entity == tc.entity; }

node_valency valency_of(mgn_node* node) {
  node_valency v;
  if (interior_node(node)) {
    v.count = node->edge_count;
    return v;
  }
  // A node on a curve: its edges that bound elements of the entity, and
  // the angle the elements fill at it.
  std::vector<element> around;
  for (mgn_edge* e : mgn_node_edges(node))
    if (add_elements_of_edge(e, around)) ++v.count;
  if (static_cast<int>(around.size()) >= v.count) return v;  // the elements close around it
  double angle = 0.0;
  for (const element& el : around) {
    mgn_node* circuit[4];
    const int count = circuit_from(el, node, circuit);
    if (count > 0) angle += corner_angle(circuit, count);
  }
  constexpr double kQuarterTurn = 1.57079632679489661923;  // pi / 2
  v.ideal = 1.0 + std::max(1.0, angle / kQuarterTurn);
  return v;
}

// Change of the squared deviation when the valency changes by step (+1, -1).
double deviation_change(const node_valency& v, int step) {
  const double before = v.count - v.ideal, after = before + step;
  return after * after - before * before;
}

// The quality below which a valency operation may not take a quad: a
// regular node is not worth a quad that the smoothing may not save.
constexpr double kValencyQualityFloor = 0.3;
// What a turn below the floor must add to the poorer of the quads it
// replaces.
constexpr double kValencyQualityGain = 0.05;
// Passes of flips and collapses in one clean-up.
constexpr int kValencyPasses = 6;

// Edge flip: the own edge shared by two quads is a diagonal of their
// hexagon h0 .. h5 (counterclockwise, the edge joins h0 and h3); it is
// turned to h1-h4 or to h2-h5, which takes one edge from h0 and h3 and
// gives one to each end of the new edge.  Turned to h1-h4:
//
//     h4 ---- h3 ---- h2          h4 ---- h3 ---- h2
//     |       |       |           | `-.           |
//     |       |       |    ->     |    `-.        |
//     |       |       |           |       `-.     |
//     h5 ---- h0 ---- h1          h5 ---- h0 ---- h1
//
// the quads h1 h2 h3 h4 and h4 h5 h0 h1.
struct flip_plan {
  mgn_edge* edge = nullptr;
  mgn_quad* old[2] = {nullptr, nullptr};
  mgn_node* quads[2][4] = {};
  double gain = 0.0;     // decrease of the sum of squared valency deviations
  double quality = 0.0;  // the poorer new quad
  bool retry = false;    // a turn that would help was refused for what may change
                         // (the quality of its quads, a triangle nearby)
};

// Checks only: whether turning the edge lowers the valency deviation and
// leaves two convex quads not poorer than the floor (or, below it, clearly
// better than the two it replaces); the better of the two turns in plan.  The edge must be an own edge between exactly two quads of
// the entity (no triangle on it), with six distinct hexagon nodes, and the
// new diagonal must not be an edge yet.
bool check_quad_flip(mgn_edge* e, flip_plan& plan) {
  if (!own_edge(e)) return false;
  for (mgn_face* f : mgn_edge_faces(e))
    if (own_face(f)) return false;
  mgn_quad* q[2] = {nullptr, nullptr};
  int nq = 0;
  for (mgn_quad* quad : mgn_edge_quads(e)) {
    if (!own_quad(quad)) continue;
    if (nq == 2) return false;
    q[nq++] = quad;
  }
  if (nq != 2) return false;
  // Q0 runs a -> b along the edge, Q1 b -> a.
  const int i0 = edge_index(q[0]->n, e->n[0], e->n[1]);
  if (i0 < 0) return false;
  mgn_node* a = q[0]->n[i0];
  mgn_node* b = q[0]->n[(i0 + 1) % 4];
  const int i1 = edge_index(q[1]->n, a, b);
  if (i1 < 0 || q[1]->n[i1] != b || q[1]->n[(i1 + 1) % 4] != a) return false;
  // The hexagon, counterclockwise: a, then Q1's far nodes, b, Q0's.
  mgn_node* const h[6] = {a, q[1]->n[(i1 + 2) % 4], q[1]->n[(i1 + 3) % 4],
                          b, q[0]->n[(i0 + 2) % 4], q[0]->n[(i0 + 3) % 4]};
  bool near = false;
  for (int i = 0; i < 6; ++i) {
    near = near || near_triangle(h[i]);
    for (int j = i + 1; j < 6; ++j)
      if (h[i] == h[j]) return false;
  }
  // Valencies; the ends of the edge each lose one.
  node_valency v[6];
  for (int i = 0; i < 6; ++i) v[i] = valency_of(h[i]);
  for (int i : {0, 3})
    if (v[i].count - 1 < (interior_node(h[i]) ? 3 : 2)) return false;
  const double loss = deviation_change(v[0], -1) + deviation_change(v[3], -1);
  // Below the floor a turn must at least better the quads it replaces.
  const double floor = std::min(kValencyQualityFloor,
                                std::min(quad_score(q[0]->n[0], q[0]->n[1], q[0]->n[2], q[0]->n[3]),
                                         quad_score(q[1]->n[0], q[1]->n[1], q[1]->n[2], q[1]->n[3])) +
                                    kValencyQualityGain);
  bool found = false;
  for (int k : {1, 2}) {
    const double gain = -(loss + deviation_change(v[k], 1) + deviation_change(v[k + 3], 1));
    if (!(gain > 1e-9) || mgn_get_node_edge(h[k], h[k + 3]) != nullptr) continue;
    if (near) {
      plan.retry = true;
      continue;
    }
    mgn_node* const first[4] = {h[k], h[k + 1], h[(k + 2) % 6], h[(k + 3) % 6]};
    mgn_node* const second[4] = {h[(k + 3) % 6], h[(k + 4) % 6], h[(k + 5) % 6], h[k]};
    const double quality = std::min(quad_score(first[0], first[1], first[2], first[3]),
                                    quad_score(second[0], second[1], second[2], second[3]));
    if (!(quality > 0.0) || quality < floor) {
      plan.retry = true;
      continue;
    }
    if (found && (gain < plan.gain || (gain == plan.gain && quality <= plan.quality))) continue;
    found = true;
    plan.edge = e;
    plan.old[0] = q[0];
    plan.old[1] = q[1];
    std::copy(first, first + 4, plan.quads[0]);
    std::copy(second, second + 4, plan.quads[1]);
    plan.gain = gain;
    plan.quality = quality;
  }
  return found;
}

// The flip planned by check_quad_flip, done: the two quads are replaced,
// the old edge retired and the new one made.
void apply_quad_flip(const flip_plan& plan) {
  drop_quad(plan.old[0]);
  drop_quad(plan.old[1]);
  for (const auto& n : plan.quads) add_quad(n[0], n[1], n[2], n[3]);
  retire_if_unused(plan.edge);
}

// Whether a flip of the edge could lower the deviation at all: only the
// ends of the edge lose a valency, so one of them must have more than its
// ideal.
bool has_excess(mgn_node* node) {
  if (interior_node(node)) return node->edge_count > 4;
  const node_valency v = valency_of(node);
  return v.count > v.ideal + 1e-9;
}

// The edges a flip could help: own edges at a node of excess valency.
std::vector<mgn_edge*> flip_candidates() {
  std::vector<mgn_edge*> candidates;
  if (tc.mesh->edges == nullptr || tc.mesh->quad_count < 2) return candidates;
  for (mgn_edge** ref :
       mgn_listing_first<mgn_edge*>(mgn_get_first_listing_block(tc.mesh->edges), tc.mesh->edge_total)) {
    mgn_edge* e = *ref;
    if (e != nullptr && own_edge(e) && (has_excess(e->n[0]) || has_excess(e->n[1]))) candidates.push_back(e);
  }
  return candidates;
}

// The operations on the candidates (edges to flip, quads to collapse) that
// check out, in their order; those refused for what may change go to
// retry.  Returns the operations made.
template <typename Plan, typename Record>
long try_operations(const std::vector<Record*>& candidates, std::vector<Record*>& retry,
                    bool (*check)(Record*, Plan&), void (*apply)(const Plan&)) {
  long made = 0;
  for (Record* r : candidates) {
    Plan plan;
    if (check(r, plan)) {
      apply(plan);
      ++made;
    } else if (plan.retry) {
      retry.push_back(r);
    }
  }
  return made;
}
long try_flips(const std::vector<mgn_edge*>& candidates, std::vector<mgn_edge*>& retry) {
  return try_operations<flip_plan>(candidates, retry, check_quad_flip, apply_quad_flip);
}

// The elements of the entity at a node.
std::vector<element> elements_at(mgn_node* node) {
  std::vector<element> around;
  for (mgn_edge* e : mgn_node_edges(node)) {
    add_elements_of_edge(e, around);
  }
  return around;
}

// The quality of an element with the node from replaced by the node to
// (quads: the printed measure when convex, else -1; triangles: 1 when they
// turn the right way, else -1).
double element_score(const element& el, const mgn_node* from, mgn_node* to) {
  const int count = el.corners();
  mgn_node* const* src = el.nodes();
  mgn_node* n[4];
  for (int i = 0; i < count; ++i) n[i] = src[i] == from ? to : src[i];
  if (count == 3) return triangle_turns(n[0], n[1], n[2]) ? 1.0 : -1.0;
  return quad_score(n[0], n[1], n[2], n[3]);
}

// Diamond collapse: a quad p s r t whose opposite corners p and r are
// interior nodes is removed and r joins p (p keeps its place, which lies
// on the surface); the edges r-s and r-t become p-s and p-t, so s and t
// lose one edge each and p has the valencies of both less two.  Two
// corners of valency 3 become one node of valency 4:
//
//           t                    t
//         /   \                  |
//       p  (q)  r      ->        p          (s and t: one edge less)
//         \   /                  |
//           s                    s
struct collapse_plan {
  mgn_quad* quad = nullptr;
  mgn_node* keep = nullptr;  // stays where it is
  mgn_node* gone = nullptr;  // joins keep
  double gain = 0.0;         // decrease of the sum of squared valency deviations
  double quality = 0.0;      // the poorest element made again at keep
  bool retry = false;        // a collapse that would help was refused for what may
                             // change (quality, a triangle nearby)
};

// The neighbours of a node along its edges.
std::vector<mgn_node*> neighbours_of(mgn_node* node) {
  std::vector<mgn_node*> out;
  for (mgn_edge* e : mgn_node_edges(node)) out.push_back(e->n[0] == node ? e->n[1] : e->n[0]);
  return out;
}

// Checks only: whether removing the quad by joining one pair of its
// opposite interior corners lowers the valency deviation and leaves every
// element made again at the joined node valid and not poorer than the
// floor.  The joined nodes must share no neighbour but the quad's two
// other corners (else two edges would fall onto one).
bool check_diamond_collapse(mgn_quad* q, collapse_plan& plan) {
  if (!own_quad(q)) return false;
  bool found = false;
  for (int d = 0; d < 2; ++d) {
    mgn_node* p = q->n[d];
    mgn_node* r = q->n[d + 2];
    mgn_node* side[2] = {q->n[d + 1], q->n[(d + 3) % 4]};
    if (!interior_node(p) || !interior_node(r) || (p->edge_count != 3 && r->edge_count != 3)) continue;
    node_valency vs[2] = {valency_of(side[0]), valency_of(side[1])};
    bool thin = false;
    for (int k = 0; k < 2; ++k) thin |= vs[k].count - 1 < (interior_node(side[k]) ? 3 : 2);
    if (thin) continue;
    const double dp = p->edge_count - 4.0, dr = r->edge_count - 4.0, joined = p->edge_count + r->edge_count - 6.0;
    const double gain =
        dp * dp + dr * dr - joined * joined - deviation_change(vs[0], -1) - deviation_change(vs[1], -1);
    if (!(gain > 1e-9) || (found && gain < plan.gain) || mgn_get_node_edge(p, r) != nullptr) continue;
    if (near_triangle(p) || near_triangle(r) || near_triangle(side[0]) || near_triangle(side[1])) {
      plan.retry = true;
      continue;
    }
    // No neighbour in common but the two other corners.
    const std::vector<mgn_node*> around_p = neighbours_of(p);
    bool shared = false;
    for (mgn_node* x : neighbours_of(r))
      if (x != side[0] && x != side[1] && std::find(around_p.begin(), around_p.end(), x) != around_p.end()) shared = true;
    if (shared) continue;
    // Which of the two stays: the one that leaves the better elements.
    const std::vector<element> at_p = elements_at(p), at_r = elements_at(r);
    for (int keep = 0; keep < 2; ++keep) {
      mgn_node* stays = keep == 0 ? p : r;
      mgn_node* moves = keep == 0 ? r : p;
      double after = 1.0;
      for (const element& el : keep == 0 ? at_r : at_p)
        if (!(el == element{nullptr, q})) after = std::min(after, element_score(el, moves, stays));
      if (!(after > 0.0) || after < kValencyQualityFloor) {
        plan.retry = true;
        continue;
      }
      if (found && gain == plan.gain && after <= plan.quality) continue;
      found = true;
      plan.quad = q;
      plan.keep = stays;
      plan.gone = moves;
      plan.gain = gain;
      plan.quality = after;
    }
  }
  return found;
}

// The collapse planned by check_diamond_collapse, done: the quad goes, the
// elements of the joining node are made again on the node that stays, and
// the joining node and its edges are retired.
void apply_diamond_collapse(const collapse_plan& plan) {
  const std::vector<element> around = elements_at(plan.gone);
  drop_quad(plan.quad);
  for (const element& el : around) {
    if (el == element{nullptr, plan.quad}) continue;
    mgn_node* n[4];
    for (int i = 0; i < el.corners(); ++i) n[i] = el.nodes()[i] == plan.gone ? plan.keep : el.nodes()[i];
    if (el.face != nullptr) {
      drop_face(el.face);
      add_face(n[0], n[1], n[2]);
    } else {
      drop_quad(el.quad);
      add_quad(n[0], n[1], n[2], n[3]);
    }
  }
  std::vector<mgn_edge*> edges;
  for (mgn_edge* e : mgn_node_edges(plan.gone)) edges.push_back(e);
  for (mgn_edge* e : edges) mgn_retire_edge(e);
  mgn_retire_node(plan.gone);
}

// The candidates near the touched nodes (their edges and elements and
// those of their neighbours), in the order the nodes were touched; the
// touched list is emptied.
void touched_candidates(std::vector<mgn_edge*>& edges, std::vector<mgn_quad*>& quads) {
  std::unordered_set<const void*> seen;
  std::vector<mgn_node*> nodes;
  for (mgn_node* node : tc.touched) {
    if (node->id == 0) continue;
    if (seen.insert(node).second) nodes.push_back(node);
    for (mgn_node* other : neighbours_of(node))
      if (seen.insert(other).second) nodes.push_back(other);
  }
  tc.touched.clear();
  for (mgn_node* node : nodes) {
    for (mgn_edge* e : mgn_node_edges(node))
      if (own_edge(e) && seen.insert(e).second && (has_excess(e->n[0]) || has_excess(e->n[1]))) edges.push_back(e);
    if (!interior_node(node) || node->edge_count != 3) continue;
    for (const element& el : elements_at(node))
      if (el.quad != nullptr && seen.insert(el.quad).second) quads.push_back(el.quad);
  }
}

// The quads a collapse could help: those with an interior corner of
// valency 3.
std::vector<mgn_quad*> collapse_candidates() {
  std::vector<mgn_quad*> candidates;
  if (tc.mesh->quads == nullptr) return candidates;
  for (mgn_quad** ref :
       mgn_listing_first<mgn_quad*>(mgn_get_first_listing_block(tc.mesh->quads), tc.mesh->quad_total)) {
    mgn_quad* q = *ref;
    if (q == nullptr || !own_quad(q)) continue;
    for (int i = 0; i < 4; ++i)
      if (interior_node(q->n[i]) && q->n[i]->edge_count == 3) {
        candidates.push_back(q);
        break;
      }
  }
  return candidates;
}

long try_collapses(const std::vector<mgn_quad*>& candidates, std::vector<mgn_quad*>& retry) {
  return try_operations<collapse_plan>(candidates, retry, check_diamond_collapse, apply_diamond_collapse);
}

// The items in their first order, each once.
template <typename T>
std::vector<T*> without_repeats(const std::vector<T*>& items) {
  std::unordered_set<const T*> seen;
  std::vector<T*> out;
  for (T* item : items)
    if (seen.insert(item).second) out.push_back(item);
  return out;
}

// The valency clean-up: flips and collapses until neither finds work.
// The smoothing passes between two clean-ups move nodes only, and the
// other operations of the clean-up change valencies only where they make
// elements: after the first look at the whole mesh, only the neighbourhood
// of the elements made and what was refused for quality are looked at.
void improve_valencies() {
  tc.near_triangles.clear();
  if (tc.mesh->face_count > 0) {
    for (mgn_face* f : live_faces())
      for (mgn_node* corner : f->n)
        for (const element& el : elements_at(corner))
          tc.near_triangles.insert(tc.near_triangles.end(), el.nodes(), el.nodes() + el.corners());
    std::sort(tc.near_triangles.begin(), tc.near_triangles.end());
  }
  // The first clean-up of the entity looks at the whole mesh; the later
  // ones near what they changed and at what was refused for quality.
  std::vector<mgn_edge*> edges;
  std::vector<mgn_quad*> quads;
  if (!memory.valencies_seen) {
    edges = flip_candidates();
    quads = collapse_candidates();
    tc.touched.clear();
    memory.valencies_seen = true;
  } else {
    edges = memory.retry_flips;
    quads = memory.retry_collapses;
    touched_candidates(edges, quads);
  }
  std::vector<mgn_edge*> retry_flips;
  std::vector<mgn_quad*> retry_collapses;
  for (int pass = 0; pass < kValencyPasses; ++pass) {
    if (try_flips(edges, retry_flips) + try_collapses(quads, retry_collapses) == 0) break;
    edges.clear();
    quads.clear();
    touched_candidates(edges, quads);
  }
  memory.retry_flips = without_repeats(retry_flips);
  memory.retry_collapses = without_repeats(retry_collapses);
}

// The triangles whose bounded walks found no partner: the walks reach a few
// thousand elements, and the front may leave two triangles a hundred rows
// apart on a large mesh.  Each remaining triangle walks to its nearest
// partner however far, within a budget of places for all of them together
// (about one look at the whole mesh).  Only clean-ups after a smoothing
// pass do so, not two in a row (nothing moves between the clean-up after a
// pass and the one before the next), and a few per entity: where no walk
// passes now, a pass may straighten the quads in the way.
void walk_far_triangles(std::vector<mgn_face*>& failed) {
  if (tc.mesh->face_count < 2 || memory.cleanups < 2 || memory.cleanups < memory.last_whole_walk + 2 ||
      memory.whole_walks >= kWholeWalkCleanups)
    return;
  ++memory.whole_walks;
  memory.last_whole_walk = memory.cleanups;
  std::size_t budget = kWholeWalkPlaces * static_cast<std::size_t>(tc.mesh->quad_count + tc.mesh->face_count);
  long walked = 0;
  for (mgn_face* f : live_faces()) {
    if (!own_face(f) || tc.mesh->face_count < 2 || budget == 0) continue;
    if (walk_lone_triangle(f, budget)) ++walked;
  }
  if (walked > 0) remove_valency_two_nodes();
  failed = live_faces();
  std::sort(failed.begin(), failed.end());
  memory.failed = failed;
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
  // A new quad mesh of the entity: nothing the clean-ups remembered holds.
  memory = cleanup_memory{};
  memory.kind = kind;
  memory.entity = entity;
  long made = 0;
  for (const auto& [f, g] : pairs)
    if (f->id != 0 && g->id != 0 && merge_faces(f, g, kMinMergeQuality) != nullptr) ++made;
  return made;
}

void mgn_clean_quad_mesh(int kind, void* entity) {
  set_context(kind, entity);
  if (tc.mesh == nullptr || tc.mesh->discretized) return;
  if (memory.kind != kind || memory.entity != entity) {
    memory = cleanup_memory{};
    memory.kind = kind;
    memory.entity = entity;
  }
  if (memory.face_total == tc.mesh->face_total) {
    tc.faces = memory.faces;
    tc.faces_known = true;
  }
  const long split = split_folded_quads();
  // A mesh the last clean-up left with quads only stays so unless a quad
  // was folded since.
  if (split == 0 && memory.quads_only && tc.mesh->face_count == 0) {
    improve_valencies();
    return;
  }
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
      // A last triangle has no partner to walk to.
      const bool known = std::binary_search(memory.failed.begin(), memory.failed.end(), f);
      std::size_t reach = known ? kNearWalk : kFarWalk;
      if (tc.mesh->face_count >= 2 && walk_lone_triangle(f, reach)) ++walked;
      else if (own_face(f)) failed.push_back(f);
    }
    if (walked > 0) walked += remove_valency_two_nodes();
    changes += walked;
    std::sort(failed.begin(), failed.end());
    memory.failed = failed;
    if (changes == 0 || tc.mesh->face_count == 0) break;
  }
  walk_far_triangles(failed);
  // Flips and collapses make triangles only from triangles that were there.
  improve_valencies();
  memory.quads_only = tc.mesh->face_count == 0;
  ++memory.cleanups;
  memory.faces = live_faces();
  memory.face_total = tc.mesh->face_total;
}
