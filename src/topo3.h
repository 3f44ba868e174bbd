// Topology of tetra meshes: the local numbering of the tetra, the links
// between a tetra and the elements across its faces, and the queries every
// volume pass shares (node and face lookups in a tetra, the opposite node,
// the ball of a node, the shell of an edge), with the consistency checker
// that the tests run after every meshing and repair pass.
//
// Terminology
//  - Local numbering.  A tetra holds nodes 0..3; face k is the face opposite
//    node k.  A tetra is positive when node 3 lies on the side that
//    (n1 - n0) x (n2 - n0) points to; every tetra the region mesher creates
//    is positive.
//
//                 3
//                /|\            face 0 = (1 2 3)   face 1 = (2 0 3)
//               / | \           face 2 = (0 1 3)   face 3 = (0 2 1)
//              /  |  \          (each written so that it turns
//             0 - | - 2          counterclockwise seen from outside)
//              \  |  /
//               \ | /           edges: 0-1, 1-2, 2-0, 0-3, 1-3, 2-3
//                \|/
//                 1
//
//  - Neighbour.  ngb[k] and ngb_type[k] of a tetra name the element across
//    face k: another tetra (MGN_ELEM_TETRA), a triangle of a surface, patch
//    or shell that bounds the region or lies inside it (MGN_ELEM_FACE, whose
//    side cell holds the tetra in turn), or nothing (MGN_ELEM_NONE) while
//    face k is on the front.  The links are kept while the region is meshed
//    and repaired; the neighbour tables of the output read them.
//  - Front face, free side.  A face with an element on one side only, the
//    other side (its free side) still to be filled.
//  - Opposite node.  Across face k, the node of the neighbouring tetra that
//    is not on face k.
//  - Ball of a node: the tetras that have the node.  Shell of an edge: the
//    tetras that have both its nodes, in turning order around it.
//  - Cavity.  Tetras taken out of a mesh together, leaving a hole whose
//    faces return to the front.
#ifndef MGN_TOPO3_H
#define MGN_TOPO3_H

#include <string>
#include <vector>

#include "list.h"
#include "records.h"

// The live records of an entity's own listing: its first `total`
// references, skipping retired records.  A finished entity's listing
// rests on its own first block (settled), and may be linked into the global
// one with other entities' blocks before and after it; the listing of an
// entity being meshed is walked from the first block of its chain.
template <typename T, typename F>
void mgn_for_own_records(mgn_listing* listing, long total, bool settled, F&& visit) {
  long k = 0;
  for (T** ref : mgn_listing_range<T*>(settled ? listing : mgn_get_first_listing_block(listing))) {
    if (k++ >= total) break;
    if (*ref != nullptr && (*ref)->id != 0) visit(*ref);
  }
}

// Faces of the local numbering, each turning counterclockwise seen from
// outside the tetra: face k is mgn_tetra_outward_face[k].
extern const int mgn_tetra_outward_face[4][3];

// Index (0..3) of a node in a tetra, -1 when absent.
int mgn_get_tetra_node_index(const mgn_tetra* tetra, const mgn_node* node);
// Index of the face of a tetra made of the three nodes (any order), -1 when
// they are not a face of it.
int mgn_get_tetra_face_index(const mgn_tetra* tetra, const mgn_node* a, const mgn_node* b,
                             const mgn_node* c);

// Sets the element across face k of a tetra (one direction only).
void mgn_set_tetra_neighbour(mgn_tetra* tetra, int k, void* element, int type);
// Links two tetras across their faces ka and kb (both directions).
void mgn_link_tetras(mgn_tetra* a, int ka, mgn_tetra* b, int kb);
// The tetra across face k, null when there is none (a face or the front).
inline mgn_tetra* mgn_get_neighbour_tetra(const mgn_tetra* tetra, int k) {
  return tetra->ngb_type[k] == MGN_ELEM_TETRA ? static_cast<mgn_tetra*>(tetra->ngb[k]) : nullptr;
}
// The node of the tetra across face k that is not on face k; null when no
// tetra lies across.
mgn_node* mgn_get_opposite_node(const mgn_tetra* tetra, int k);

// Side of a triangle on which a tetra lies: 0 when the tetra's node off the
// triangle is on the side Su x Sv of the triangle points to ((n1 - n0) x
// (n2 - n0) of its stored nodes), 1 on the other side, -1 when the triangle
// is not a face of the tetra.
int mgn_get_face_side_of_tetra(const mgn_face* face, const mgn_tetra* tetra);

// Signed volume of the tetra (positive for a positive tetra).
double mgn_get_tetra_volume(const mgn_tetra* tetra);

// The ball of a node reached from a tetra holding it, across the faces that
// hold the node (the whole ball when the region around the node is one
// piece).  The tetras are appended to ball in the order met.
void mgn_get_node_ball(mgn_tetra* start, const mgn_node* node, std::vector<mgn_tetra*>& ball);
// The shell of the edge a-b reached from a tetra holding both, in turning
// order; returns true when the shell closes around the edge (an inner edge)
// and false when it ends on faces without a tetra across (a boundary or
// front edge), in which case the shell runs from one open end to the other.
bool mgn_get_edge_shell(mgn_tetra* start, const mgn_node* a, const mgn_node* b,
                        std::vector<mgn_tetra*>& shell);

// The consistency checker of a region mesh: every live tetra is positive
// (exact orientation test); every neighbour link is mutual and joins the
// same three nodes; a tetra across a face of a surface, patch or shell is
// the one its side cell names, on the side its orientation says; no face is
// left without an element on a side that faces the region; every tetra
// edge exists in the node edge lists; and no node of the region is left on
// the front.  Returns an empty text when the mesh is consistent, else a
// description of the first fault found.
std::string mgn_check_region_mesh(const mgn_region* region);

#endif  // MGN_TOPO3_H
