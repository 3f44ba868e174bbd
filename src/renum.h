// Renumbering: output numbers of the finite-element nodes and elements.
// Nodes are numbered in the order of the finite-element node listing or,
// with node renumbering (bit 1 of renumbering_type), by Sloan's profile
// reduction, component by component, keeping the result only when it does
// not increase the nominal profile.  Elements are numbered in one sequence
// in the order of the global listings.
#ifndef MGN_RENUM_H
#define MGN_RENUM_H

#include <vector>

#include "records.h"

// Numbers every finite-element node and element (shifts of numbering_shift
// included), fills mgn_mesh.order and mgn_mesh.reverse, the profiles
// mgn_run.profile_old and profile_new and the finite-element counts of
// mgn_run; prints "Renumbering completed" when renumbering_type is not 0.
void mgn_renumber_mesh();

// Enters in the finite-element node listing, behind the nodes listed there,
// every node of a finite-element element that the listing lacks, in the
// order of the element listings: an element refers only to written nodes,
// whatever the output requests of the entities that own its nodes (a curve
// with OUTPUT NO bounding an output surface, the nodes of master and slave
// curves in a partial mesh).  Called by mgn_renumber_mesh.
void mgn_enter_element_nodes();

// Adjacency of the finite-element nodes as the renumbering sees it: node i
// is the i-th distinct valid node of the finite-element node listing; the
// neighbours of i are adj[start[i]] .. adj[start[i + 1] - 1] (other ends of
// its edges and its partners; midside nodes of quadratic meshes have none).
struct mgn_node_graph {
  std::vector<mgn_node*> nodes;
  std::vector<int> start;
  std::vector<int> adj;
  std::vector<char> midside;
  int degree(int i) const { return start[i + 1] - start[i]; }
  // Index of a node, -1 when it is not a finite-element node.
  int index(const mgn_node* node) const;
};

// Builds the graph from the finite-element node listing; partners count
// unless the mesh is quadratic and quad-hexa support is off.
void mgn_build_node_graph(mgn_node_graph& graph);

// Pseudo-peripheral pair of the component of start: s_out and e_out.
void mgn_get_peripheral_nodes(const mgn_node_graph& graph, int start, int* s_out, int* e_out);

// Nominal profile of a numbering (number[i] of node i): the sum over all
// nodes of (number - smallest number among the node and its neighbours + 1);
// for quadratic meshes the smallest number over all nodes sharing a
// finite-element element with the node, midside nodes included.
double mgn_get_mesh_profile(const mgn_node_graph& graph, const std::vector<long>& number);

#endif  // MGN_RENUM_H
