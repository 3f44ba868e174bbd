// Mesh store: creation, retirement and relocation of nodes, edges, faces,
// quads, tetras, pyramids, wedges and hexas; lookups of element edges; the
// tetra quality measures; noting mesh records for the partial output.
//
// Every record is taken from the record pool of its kind (mgn_mesh) and a
// reference to it is stored in the listing of the owning entity, whose
// per-kind counters (mgn_entity_mesh) grow with it.  Per-entity listings are
// passed by address; a null listing is created on first use, and a null
// address (slave and master vertex nodes) stores no reference.
#ifndef MGN_ELEMENT_H
#define MGN_ELEMENT_H

#include "list.h"
#include "records.h"

// Local numbering of the tetra (nodes 0..3).
extern const int mgn_tetra_edge_nodes[6][2];    // 0-1, 1-2, 2-0, 0-3, 1-3, 2-3
extern const int mgn_tetra_face_nodes[4][3];    // (0 1 2), (0 1 3), (1 2 3), (2 0 3)
extern const int mgn_tetra_edge_faces[6][2];    // the two faces of each edge
// Pyramid: edges 0-1, 1-2, 2-3, 3-0, 0-4, 1-4, 2-4, 3-4; faces: the base
// quad (0 1 2 3), then the triangles (0 1 4), (1 2 4), (2 3 4), (3 0 4).
extern const int mgn_pyram_edge_nodes[8][2];
// Wedge: edges of the lower triangle, of the upper one, then the three
// vertical ones; faces: (0 1 2), (3 4 5), then the quads (0 1 4 3),
// (1 2 5 4), (2 0 3 5).
extern const int mgn_wedge_edge_nodes[9][2];
// Hexa: edges of the lower quad, of the upper one, then the four vertical
// ones; faces: (0 1 2 3), (4 5 6 7), (0 1 5 4), (1 2 6 5), (2 3 7 6),
// (3 0 4 7).
extern const int mgn_hexa_edge_nodes[12][2];

// The per-entity mesh of the entity of the given kind (null for a null
// entity; "Invalid entity type encountered" for an unknown kind).
mgn_entity_mesh* mgn_get_entity_mesh(int kind, void* entity);

// Creates the pools and listings a meshing run starts with: coordinates,
// parameters, edge-list cells, nodes, finite-element nodes (capacity from
// the vertex count) and edges, and resets the identifier counters.
void mgn_create_mesh_store(long vertex_count);
// Resets the whole mesh store to its empty state (the pools are dropped).
void mgn_reset_mesh_store();

// Edge lists of nodes.  The edges at a node are chained through the edges
// themselves (mgn_edge::next), by their numbers in the edge pool; a node
// that is neither end of its first edge (a midside node) has that edge only.
// The edge of a number (null for 0).
inline mgn_edge* mgn_edge_of_number(uint32_t number) {
  return mgn_numbered_record<mgn_edge>(mgn_mesh.edge_pool, number);
}
inline mgn_edge* mgn_node_first_edge(const mgn_node* node) { return mgn_edge_of_number(node->edges); }
inline mgn_edge* mgn_next_node_edge(const mgn_edge* edge, const mgn_node* node) {
  const uint32_t next = edge->n[0] == node ? edge->next[0] : edge->n[1] == node ? edge->next[1] : 0;
  return mgn_edge_of_number(next);
}

// The edges of a node:  for (mgn_edge* e : mgn_node_edges(node)) ...
// The following edge is read before the body runs, so the body may unlink
// the current edge.
class mgn_node_edges {
 public:
  class iterator {
   public:
    iterator(mgn_edge* edge, const mgn_node* node) : edge_(edge), node_(node), next_(follow()) {}
    mgn_edge* operator*() const { return edge_; }
    iterator& operator++() {
      edge_ = next_;
      next_ = follow();
      return *this;
    }
    bool operator!=(const iterator& other) const { return edge_ != other.edge_; }

   private:
    mgn_edge* follow() const { return edge_ != nullptr ? mgn_next_node_edge(edge_, node_) : nullptr; }
    mgn_edge* edge_;
    const mgn_node* node_;
    mgn_edge* next_;
  };
  explicit mgn_node_edges(const mgn_node* node) : node_(node) {}
  iterator begin() const { return iterator(mgn_node_first_edge(node_), node_); }
  iterator end() const { return iterator(nullptr, node_); }

 private:
  const mgn_node* node_;
};

// Takes the edge out of the node's edge list (false when absent); the edge
// count follows.
bool mgn_unlink_node_edge(mgn_node* node, mgn_edge* edge);
// Moves end k of the edge to another node: out of the edge list of its
// old node, into the head of the list of the new one.
void mgn_move_edge_end(mgn_edge* edge, int k, mgn_node* to);

// The extra record of an edge (further faces, quads, side slots of a
// front, midside node): created on first use by mgn_get_edge_more; null
// from mgn_find_edge_more while the edge has none.
mgn_edge_more* mgn_get_edge_more(mgn_edge* edge);
inline mgn_edge_more* mgn_find_edge_more(const mgn_edge* edge) {
  return edge->more != 0 ? mgn_numbered_record<mgn_edge_more>(mgn_mesh.edge_more, edge->more) : nullptr;
}

// Faces and quads using an edge.  A face is added once; removing a face
// that is not there does nothing and returns false.  Replacing puts `to` in
// the place of `from` (nothing when from is absent).
void mgn_add_edge_face(mgn_edge* edge, mgn_face* face);
bool mgn_remove_edge_face(mgn_edge* edge, const mgn_face* face);
void mgn_replace_edge_face(mgn_edge* edge, const mgn_face* from, mgn_face* to);
bool mgn_edge_has_face(const mgn_edge* edge, const mgn_face* face);
void mgn_add_edge_quad(mgn_edge* edge, mgn_quad* quad);
bool mgn_edge_has_quad(const mgn_edge* edge, const mgn_quad* quad);
inline bool mgn_edge_has_quads(const mgn_edge* edge) {
  const mgn_edge_more* more = mgn_find_edge_more(edge);
  return more != nullptr && more->quads != nullptr;
}

// The faces of an edge, the two slots first, then the further ones:
//   for (mgn_face* f : mgn_edge_faces(edge)) ...
class mgn_edge_faces {
 public:
  class iterator {
   public:
    iterator(const mgn_edge* edge, int slot) : edge_(edge), slot_(slot), item_(nullptr) { settle(); }
    mgn_face* operator*() const { return slot_ < 2 ? edge_->face[slot_] : static_cast<mgn_face*>(item_->object); }
    iterator& operator++() {
      if (slot_ < 2) ++slot_;
      else item_ = item_->next;
      settle();
      return *this;
    }
    bool operator!=(const iterator& other) const { return slot_ != other.slot_ || item_ != other.item_; }

   private:
    // Moves on to the next occupied slot or list cell (slot 3: the end).
    void settle() {
      while (slot_ < 2 && edge_->face[slot_] == nullptr) ++slot_;
      if (slot_ == 2) {
        const mgn_edge_more* more = mgn_find_edge_more(edge_);
        item_ = more != nullptr ? more->faces : nullptr;
        slot_ = 3;
      }
      if (slot_ == 3) {
        while (item_ != nullptr && item_->object == nullptr) item_ = item_->next;
        if (item_ == nullptr) slot_ = 4;
      }
    }
    const mgn_edge* edge_;
    int slot_;  // 0, 1: the slots; 3: the list; 4: the end
    mgn_list_item* item_;
  };
  explicit mgn_edge_faces(const mgn_edge* edge) : edge_(edge) {}
  iterator begin() const { return iterator(edge_, 0); }
  iterator end() const { return iterator(edge_, 4); }

 private:
  const mgn_edge* edge_;
};

// The quads of an edge:  for (mgn_quad* q : mgn_edge_quads(edge)) ...
class mgn_edge_quads {
 public:
  class iterator {
   public:
    explicit iterator(mgn_list_item* item) : item_(item) {}
    mgn_quad* operator*() const { return static_cast<mgn_quad*>(item_->object); }
    iterator& operator++() {
      item_ = item_->next;
      return *this;
    }
    bool operator!=(const iterator& other) const { return item_ != other.item_; }

   private:
    mgn_list_item* item_;
  };
  explicit mgn_edge_quads(const mgn_edge* edge) : edge_(edge) {}
  iterator begin() const {
    const mgn_edge_more* more = mgn_find_edge_more(edge_);
    return iterator(more != nullptr ? more->quads : nullptr);
  }
  iterator end() const { return iterator(nullptr); }

 private:
  const mgn_edge* edge_;
};


// The midside node of an edge (null in a linear mesh), and its setting.
inline mgn_node* mgn_edge_mid(const mgn_edge* edge) {
  const mgn_edge_more* more = mgn_find_edge_more(edge);
  return more != nullptr ? more->mid : nullptr;
}
inline void mgn_set_edge_mid(mgn_edge* edge, mgn_node* mid) { mgn_get_edge_more(edge)->mid = mid; }

// Side slots of a surface front (see mgn_edge): the edge's own pair while a
// front holds it (it was taken over from another entity), else its face
// slots.
inline bool mgn_edge_has_side_slots(const mgn_edge* edge) {
  const mgn_edge_more* more = mgn_find_edge_more(edge);
  return more != nullptr && more->has_sides;
}
inline mgn_face** mgn_edge_sides(mgn_edge* edge) {
  mgn_edge_more* more = mgn_find_edge_more(edge);
  return more != nullptr && more->has_sides ? more->sides : edge->face;
}
inline mgn_face* const* mgn_edge_sides(const mgn_edge* edge) {
  const mgn_edge_more* more = mgn_find_edge_more(edge);
  return more != nullptr && more->has_sides ? more->sides : edge->face;
}

// Hands the side of an edge held by one triangle over to another: in its
// face slots and list, and in the side slots a front gave it.
void mgn_hand_over_edge_side(mgn_edge* edge, const mgn_face* from, mgn_face* to);

// The side cells and neighbour table of a face or quad, created on first
// use.
mgn_element_extra* mgn_get_element_extra(mgn_face* face);
mgn_element_extra* mgn_get_element_extra(mgn_quad* quad);
// The same when the face or quad has them, else null.
template <typename T>
inline mgn_element_extra* mgn_find_element_extra(const T* element) {
  return element->extra != 0 ? mgn_numbered_record<mgn_element_extra>(mgn_mesh.extras, element->extra) : nullptr;
}
// The neighbour table of a face or quad (null while none is built).
template <typename T>
mgn_list_item* mgn_neighbour_table(const T* element) {
  const mgn_element_extra* extra = mgn_find_element_extra(element);
  return extra != nullptr ? extra->ngb : nullptr;
}

// Creation.  params: t for kind 1, (u, v) for kinds 2, 4 and 5, ignored
// otherwise.  The node is entered in the octree (when there is one) and its
// size taken from it.
mgn_node* mgn_create_node(const double xyz[3], const double* params, int kind, void* entity,
                          mgn_listing** listing);
mgn_edge* mgn_create_edge(mgn_node* a, mgn_node* b, int kind, void* entity, mgn_listing** listing);
// pool: the listing the face record is taken from (null: the global face
// pool); sides: the face bounds a region and gets its two side slots.
mgn_face* mgn_create_face(mgn_node* a, mgn_node* b, mgn_node* c, int kind, void* entity,
                          mgn_listing** listing, mgn_listing** pool, bool sides);
mgn_quad* mgn_create_quad(mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d, int kind,
                          void* entity, mgn_listing** listing, bool sides);
mgn_tetra* mgn_create_tetra(mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d, mgn_region* region,
                            mgn_listing** listing);
mgn_pyram* mgn_create_pyram(mgn_node* const nodes[5], mgn_region* region, mgn_listing** listing);
mgn_wedge* mgn_create_wedge(mgn_node* const nodes[6], int kind, void* entity,
                            mgn_listing** listing);
mgn_hexa* mgn_create_hexa(mgn_node* const nodes[8], int kind, void* entity, mgn_listing** listing);

// Retirement: identifier 0, one record less on the owning entity.  An edge
// leaves the edge lists of its nodes; a quad drops the partner links of its
// diagonals when partner links are kept.
void mgn_retire_edge(mgn_edge* edge);
// A node no element uses any longer (a region node freed by a local
// remeshing): identifier 0, out of the octree's node index.
void mgn_retire_node(mgn_node* node);
void mgn_retire_face(mgn_face* face);
void mgn_retire_quad(mgn_quad* quad);
void mgn_retire_tetra(mgn_tetra* tetra);
void mgn_retire_pyram(mgn_pyram* pyram);
void mgn_retire_wedge(mgn_wedge* wedge);
void mgn_retire_hexa(mgn_hexa* hexa);

// Renewal: a record about to be retired becomes a new element in place,
// with a new identifier, keeping its owner and its slot in the owner's
// listing (no new reference is stored), so that a local remeshing that
// replaces elements does not grow the record pools.  Every reference to
// the old element must go with it: the caller holds none after the call.
// A renewed edge leaves the edge lists of its old nodes and joins those of
// the new ones; only a region edge without further faces, quads or midside
// node can be renewed (mgn_can_renew_edge).
mgn_tetra* mgn_renew_tetra(mgn_tetra* tetra, mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d);
bool mgn_can_renew_edge(const mgn_edge* edge);
mgn_edge* mgn_renew_edge(mgn_edge* edge, mgn_node* a, mgn_node* b);

// Swaps the diagonal of the two triangles on an edge: with the triangles
// (p, q, x) and (q, p, y) on the edge p-q, they become (p, y, x) and
// (y, q, x) and the edge joins y and x.  Done only when the edge carries
// exactly these two live triangles (and no quad), y-x is not an edge yet,
// both new triangles face the way both old ones face, and the swap opens
// the smallest angle of the pair.  Each triangle keeps its entity; the
// edge keeps its entity, its face list and its list cells.  Returns true
// when swapped.
bool mgn_swap_edge(mgn_edge* edge);
// The change of a diagonal swap, without any check (the caller has decided
// on it): the triangles ab = (a, b, x) and ba = (b, a, y) on the edge
// joining a and b (in either direction) become (a, y, x) and (y, b, x),
// their nodes in that order; the edge runs from y to x with ab in face slot
// 0 (on its left) and ba in slot 1 (when its slots held the two), and so in
// its side slots of a front; the edge ay passes from ba to ab and the edge
// bx (null: not made yet) from ab to ba.
void mgn_apply_edge_swap(mgn_edge* edge, mgn_face* ab, mgn_face* ba, mgn_edge* ay, mgn_edge* bx);

// Removal of an inner node that only three or four triangles share
// (element_removal.cpp).  The plan: the node, its edges, its triangles in
// turning order (triangle k is (node, ring[k], ring[k + 1]) in the faces'
// own orientation), the diagonal kept of four (ring[d] to ring[d + 2]), and
// the worst triangle quality before and after.
struct mgn_node_removal {
  mgn_node* node = nullptr;
  int count = 0;
  mgn_edge* edges[4] = {nullptr, nullptr, nullptr, nullptr};
  mgn_face* faces[4] = {nullptr, nullptr, nullptr, nullptr};
  mgn_node* ring[4] = {nullptr, nullptr, nullptr, nullptr};
  int diagonal = -1;
  double before = 0.0, after = 0.0;
};
// Fills the plan and tells whether the removal is valid and worth doing:
// the node is live and has three or four edges, all of its own entity,
// without quads or midside nodes, each between two live triangles of that
// entity that close a fan around it; for four, the diagonal is not an edge
// yet; the new triangles face the way every old one faces, and their worst
// quality is higher than the worst of the fan or at least 0.6 (fair
// triangles that smoothing improves, where the fan cannot be).
bool mgn_check_node_removal(mgn_node* node, mgn_node_removal* plan);
// Carries out a plan the check accepted: the fan becomes one triangle or
// two on the diagonal (reusing the fan's triangle records, the spoke to the
// far end of the diagonal becoming the diagonal); the other triangles, the
// other spokes and the node are retired.
void mgn_apply_node_removal(const mgn_node_removal& plan);

// Partner (additional neighbour) links, in both directions; linking twice
// adds nothing.
void mgn_link_partner_nodes(mgn_node* a, mgn_node* b);
void mgn_unlink_partner_nodes(mgn_node* a, mgn_node* b);

// Sets new coordinates of a node, takes its size again from the octree and
// moves it to the leaf that now contains it.
void mgn_move_node(mgn_node* node, const double xyz[3]);
// Takes the size of a node again from the octree (relocating it as needed).
void mgn_update_node_size(mgn_node* node);

// The midside node of an edge of a quadratic mesh.
mgn_node* mgn_create_midnode(mgn_edge* edge);

// Edge lookups: the edge joining two nodes (null when none); edge i of an
// element in the local numbering above ("Edge of element not found" when the
// mesh lacks it, after noting the element).
mgn_edge* mgn_get_node_edge(const mgn_node* a, const mgn_node* b);
mgn_edge* mgn_get_face_edge(const mgn_face* face, int i);  // n[i] - n[i+1]
mgn_edge* mgn_get_quad_edge(const mgn_quad* quad, int i);  // n[i] - n[i+1]
mgn_edge* mgn_get_tetra_edge(const mgn_tetra* tetra, int i);
mgn_edge* mgn_get_pyram_edge(const mgn_pyram* pyram, int i);
mgn_edge* mgn_get_wedge_edge(const mgn_wedge* wedge, int i);
mgn_edge* mgn_get_hexa_edge(const mgn_hexa* hexa, int i);

// Tetra measures.  The boundary quality returns 374.1229744 V^2 / S^3 (1 for
// the regular tetra) and the signed volume through volume; a tetra whose
// volume is not above the volume tolerance (flat or inverted) gets 0.  The
// angle quality returns the smallest over the largest dihedral angle, the
// six angles (edge order) through angles and the extremes through min_angle
// and max_angle; a tetra with a degenerate face other than the base gets 0.
// A base face of zero area is fatal, "Zero area face of tetra detected",
// unless the tetra is temporary (identifier -1), which then gets 0.
double mgn_get_tetra_boundary_quality(const mgn_tetra* tetra, double* volume);
// The boundary quality of the tetra on four points, for trial tetras that
// exist only as points: never fatal, 0 when the volume (returned through
// volume when not null) is not above the volume tolerance.
double mgn_get_tetra_shape_quality(const double* a, const double* b, const double* c, const double* d,
                                   double* volume);
double mgn_get_tetra_angle_quality(const mgn_tetra* tetra, double angles[6], double* min_angle,
                                   double* max_angle);

// Noting mesh records for the partial output: each record once, with its
// owning entity and its nodes.
void mgn_note_partial_node(mgn_node* node);
void mgn_note_partial_edge(mgn_edge* edge);
void mgn_note_partial_face(mgn_face* face);
void mgn_note_partial_quad(mgn_quad* quad);
void mgn_note_partial_tetra(mgn_tetra* tetra);
void mgn_note_partial_pyram(mgn_pyram* pyram);
void mgn_note_partial_wedge(mgn_wedge* wedge);
void mgn_note_partial_hexa(mgn_hexa* hexa);
// Notes the entity of the given kind.
void mgn_note_partial_entity(int kind, void* entity);

#endif  // MGN_ELEMENT_H
