// Meshing driver: the listings and run flags of a meshing run, the walk over
// the entity kinds, the entry rules of vertices and curves, the collection
// of finished entities into the global finite-element listings, the passes
// over the whole mesh and the final compaction.
#include "discret.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "curve.h"
#include "discret1.h"
#include "discret2.h"
#include "discret3.h"
#include "discret4.h"
#include "element.h"
#include "list.h"
#include "mesh1.h"
#include "mesh2.h"
#include "mesh3.h"
#include "mesh4.h"
#include "message.h"
#include "progress.h"
#include "smooth.h"
#include "vertex.h"

mgn_discret_state mgn_discret;

namespace {

[[noreturn]] void unexpected(const char* routine, int line) {
  mgn_manipulation_error("Unexpected situation", routine, mgn_module_name(__FILE__), line);
}

long listing_size() { return std::max(1L, mgn_set.listing_size); }

void destroy_scratch(mgn_listing*& listing) {
  if (listing != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(listing));
  listing = nullptr;
}

void empty_scratch(mgn_listing*& listing) {
  if (listing == nullptr) return;
  listing = mgn_get_first_listing_block(listing);
  mgn_reset_listing(listing);
}

// Cells of a reference and a link.
mgn_listing* create_cells(long capacity) {
  return mgn_create_listing(std::max(1L, capacity), sizeof(mgn_list_item));
}

// Moves a per-entity listing (its first count references) behind a global
// finite-element listing.  The global chain is shrunk first, so that only
// its last block is ever partly used.
// The chains are linked here rather than by mgn_append_listing, whose guard
// against circular chains walks the whole global chain on every call.
void append_listing(mgn_listing*& global, mgn_listing*& own, long count, mgn_record_count& counter) {
  if (own == nullptr || count <= 0) return;
  own = mgn_get_first_listing_block(mgn_realloc_listing(own));
  if (global == nullptr) {
    global = mgn_get_last_listing_block(own);
  } else {
    mgn_listing* tail = mgn_realloc_listing(global);
    // An entity's own chain is never part of the global one already.
    for (const mgn_listing* block = own; block != nullptr; block = block->next)
      if (block == tail) unexpected(__func__, __LINE__);
    tail->next = own;
    own->prev = tail;
    global = mgn_get_last_listing_block(own);
  }
  counter.fe += count;
}

// Shrinks a per-entity listing to its records and leaves the reference on
// its first block, where the walks over the entity's records start.
void settle_listing(mgn_listing*& listing) {
  if (listing != nullptr) listing = mgn_get_first_listing_block(mgn_realloc_listing(listing));
}

bool master_or_slave(const mgn_vertex* vertex) { return vertex->slave || vertex->master; }

// Node, face and quad listings of a finished surface, patch or shell into
// the global listings, once, as its output request says.
template <typename T>
void collect_face_entity(T* entity) {
  if (entity->id == 0 || entity->is_virtual || entity->hole || !entity->mesh.discretized ||
      entity->mesh.collected || entity->mirrored != nullptr)
    return;
  entity->mesh.collected = true;
  if (!entity->output) return;
  mgn_entity_mesh& m = entity->mesh;
  append_listing(mgn_mesh.fe_nodes, m.nodes, m.node_count, mgn_run.nodes);
  append_listing(mgn_mesh.fe_faces, m.faces, m.face_count, mgn_run.trias);
  append_listing(mgn_mesh.fe_quads, m.quads, m.quad_count, mgn_run.quads);
}

// Node and volume element listings of a finished region, once.
void collect_region(mgn_region* region) {
  if (region->id == 0 || region->is_virtual || region->hole || !region->mesh.discretized ||
      region->mesh.collected)
    return;
  region->mesh.collected = true;
  mgn_discret.something_produced = true;
  if (!region->output) return;
  mgn_entity_mesh& m = region->mesh;
  append_listing(mgn_mesh.fe_nodes, m.nodes, m.node_count, mgn_run.nodes);
  append_listing(mgn_mesh.fe_tetras, m.tetras, m.tetra_count, mgn_run.tetras);
  append_listing(mgn_mesh.fe_pyrams, m.pyrams, m.pyram_count, mgn_run.pyrams);
  append_listing(mgn_mesh.fe_wedges, m.wedges, m.wedge_count, mgn_run.wedges);
  append_listing(mgn_mesh.fe_hexas, m.hexas, m.hexa_count, mgn_run.hexas);
}

bool curve_collectable(const mgn_curve* curve) {
  if (mgn_discret.hiding_pending && curve->hidden) return false;
  return curve->id != 0 && !curve->is_virtual && !curve->collapsed && curve->mesh.discretized &&
         !curve->mesh.collected && !mgn_check_curve_mesh_copy(curve);
}

// The vertex nodes that end the pieces of an output curve.
void enter_curve_vertex_nodes(mgn_curve* curve) {
  if (!curve->output) return;
  mgn_enter_vertex_node(curve->vertex[0]);
  mgn_enter_vertex_node(curve->vertex[1]);
  for (mgn_vertex* v : mgn_list_range<mgn_vertex>(curve->fixed_vertices))
    if (!v->is_virtual && mgn_get_vertex_representative(v)->mesh.node != nullptr) mgn_enter_vertex_node(v);
}

// The listings of a finished curve (its vertex nodes entered before).
void append_curve_listings(mgn_curve* curve) {
  curve->mesh.collected = true;
  if (!curve->output) return;
  mgn_entity_mesh& m = curve->mesh;
  // The nodes of slave and master curves are entered by the master and
  // slave pass.
  if (!curve->slave && !curve->master) append_listing(mgn_mesh.fe_nodes, m.nodes, m.node_count, mgn_run.nodes);
  // A hidden curve lies inside the faces merged across it: its nodes stay
  // mesh nodes, its edges are no elements.
  if (!curve->is_hidden) append_listing(mgn_mesh.fe_edges, m.edges, m.edge_count, mgn_run.edges);
}

// All finished curves: their vertex nodes first, then their listings, in
// model order.
void collect_curves() {
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list))
    if (curve_collectable(curve)) enter_curve_vertex_nodes(curve);
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list))
    if (curve_collectable(curve)) append_curve_listings(curve);
}

// Capacity of the midside node reference listing for e edges.
long midside_capacity(long e) {
  const long l = listing_size();
  if (e > 1000 && static_cast<double>(e) > 1.5 * static_cast<double>(l)) {
    const long k = static_cast<long>(static_cast<double>((e - 1) / l) / 1.5 + 1.0);
    return (e - 1) / k + 1;
  }
  return std::max(1L, e);
}

// The nodes of slave and master vertices and curves are entered as
// finite-element nodes after the pairing (the slaves merged into their
// masters are retired and skipped by the numbering and the writer).
void enter_master_slave_nodes() {
  for (mgn_vertex* v : mgn_list_range<mgn_vertex>(mgn_model.vertices.list)) {
    mgn_vertex* rep = mgn_get_vertex_representative(v);
    mgn_node* node = rep->mesh.node;
    if (node == nullptr || node->kind != MGN_VERTEX) continue;
    auto* owner = static_cast<mgn_vertex*>(node->entity);
    if (owner->mesh.collected || !(master_or_slave(v) || master_or_slave(rep) || master_or_slave(owner))) continue;
    *static_cast<mgn_node**>(mgn_get_listing_item(mgn_mesh.fe_nodes)) = node;
    ++mgn_run.nodes.fe;
    owner->mesh.collected = true;
  }
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list)) {
    if (!curve->mesh.collected || !curve->output || !(curve->slave || curve->master) ||
        mgn_check_curve_mesh_copy(curve))
      continue;
    append_listing(mgn_mesh.fe_nodes, curve->mesh.nodes, curve->mesh.node_count, mgn_run.nodes);
  }
}

// Midside nodes of the edges of every curve (quadratic elements).
void create_curve_midnodes() {
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list)) {
    if (curve->id == 0 || curve->is_virtual || !curve->mesh.discretized || mgn_check_curve_mesh_copy(curve))
      continue;
    // Edges the master and slave pass dropped stay in the listing, retired.
    for (mgn_edge** ref : mgn_listing_first<mgn_edge*>(curve->mesh.edges, curve->mesh.edge_total))
      if ((*ref)->id != 0 && (*ref)->entity == curve && mgn_edge_mid(*ref) == nullptr) mgn_create_midnode(*ref);
  }
}

// Midside nodes of the edges of every meshed surface, patch and shell
// (quadratic elements), in that order.
template <typename T>
void create_face_entity_midnodes(const mgn_entity_store& store) {
  for (T* entity : mgn_list_range<T>(store.list)) {
    if (entity->id == 0 || !entity->mesh.discretized) continue;
    for (mgn_edge** ref : mgn_listing_first<mgn_edge*>(entity->mesh.edges, entity->mesh.edge_total)) {
      mgn_edge* edge = *ref;
      if (edge != nullptr && edge->id != 0 && mgn_edge_mid(edge) == nullptr) mgn_create_midnode(edge);
    }
  }
}

// Interface edges get no midside node of their own: they share one
// placeholder node record (identifier 0, kind interface).
void give_interface_placeholder_midnodes() {
  mgn_node* placeholder = nullptr;
  for (mgn_interface* interface : mgn_list_range<mgn_interface>(mgn_model.interfaces.list)) {
    if (interface->mesh.edge_count <= 0) continue;
    if (placeholder == nullptr) {
      placeholder = mgn_get_listing_item_as<mgn_node>(mgn_mesh.node_pool);
      placeholder->id = 0;
      placeholder->kind = MGN_INTERFACE;
      placeholder->entity = interface;
    }
    for (mgn_edge** ref : mgn_listing_first<mgn_edge*>(interface->mesh.edges, interface->mesh.edge_count))
      mgn_set_edge_mid(*ref, placeholder);
  }
}

// A second smoothing of every meshed surface, patch and shell (after edge
// swaps), mapped ones excepted.
void smooth_face_entities_again() {
  for (mgn_surface* s : mgn_list_range<mgn_surface>(mgn_model.surfaces.list))
    if (s->id != 0 && s->mesh.discretized && !s->map && s->mirrored == nullptr) mgn_smooth_surface(s);
  for (mgn_patch* p : mgn_list_range<mgn_patch>(mgn_model.patches.list))
    if (p->id != 0 && p->mesh.discretized && !p->map && p->mirrored == nullptr) mgn_smooth_patch(p);
  for (mgn_shell* s : mgn_list_range<mgn_shell>(mgn_model.shells.list))
    if (s->id != 0 && s->mesh.discretized && !s->map && s->mirrored == nullptr) mgn_smooth_shell(s);
}

// The neighbour tables of every meshed surface, patch and shell whose
// elements are output (built again: the region passes may have changed
// them).
void build_face_neighbour_tables() {
  for (mgn_surface* s : mgn_list_range<mgn_surface>(mgn_model.surfaces.list))
    if (s->id != 0 && s->mesh.discretized && s->output) mgn_build_neighbour_table(MGN_SURFACE, s);
  for (mgn_patch* p : mgn_list_range<mgn_patch>(mgn_model.patches.list))
    if (p->id != 0 && p->mesh.discretized && p->output) mgn_build_neighbour_table(MGN_PATCH, p);
  for (mgn_shell* s : mgn_list_range<mgn_shell>(mgn_model.shells.list))
    if (s->id != 0 && s->mesh.discretized && s->output) mgn_build_neighbour_table(MGN_SHELL, s);
}

void compact_global(mgn_listing*& listing) {
  if (listing != nullptr) listing = mgn_realloc_listing(listing);
}

// The live progress line of one kind of entity: entities done of all of
// that kind, elements made.
void begin_progress(const char* name, const char* entity_word, long entities, const char* element_word,
                    std::initializer_list<const long*> counters) {
  mgn_progress_stage stage;
  stage.name = name;
  stage.entity_word = entity_word;
  stage.entity_total = entities;
  stage.element_word = element_word;
  int k = 0;
  for (const long* counter : counters) stage.counters[k++] = counter;
  mgn_progress_begin(stage);
}

void print_progress(const char* text) {
  mgn_progress_end();
  if (mgn_discret.something_produced) mgn_print_message(stdout, text);
  mgn_discret.something_produced = false;
}

void reset_state() {
  mgn_release_curve_scratch();
  destroy_scratch(mgn_discret.association_cells);
  mgn_release_neighbour_cells();
  destroy_scratch(mgn_discret.region_cells);
  destroy_scratch(mgn_discret.region_long_cells);
  mgn_discret = mgn_discret_state{};
}

}  // namespace

// ---------------------------------------------------------------------------
// Vertex nodes and curves in the global listings
// ---------------------------------------------------------------------------

void mgn_enter_vertex_node(mgn_vertex* vertex) {
  mgn_vertex* rep = mgn_get_vertex_representative(vertex);
  mgn_node* node = rep->mesh.node;
  if (node == nullptr || node->kind != MGN_VERTEX) return;
  auto* owner = static_cast<mgn_vertex*>(node->entity);
  if (master_or_slave(vertex) || master_or_slave(rep) || master_or_slave(owner)) {
    mgn_discret.master_slave_present = true;
    return;
  }
  if (owner->mesh.collected) return;
  *static_cast<mgn_node**>(mgn_get_listing_item(mgn_mesh.fe_nodes)) = node;
  ++mgn_run.nodes.fe;
  owner->mesh.collected = true;
}

bool mgn_check_curve_mesh_copy(const mgn_curve* curve) {
  return !curve->is_virtual && mgn_get_top_physical_curve(const_cast<mgn_curve*>(curve)) != curve;
}

void mgn_collect_curve(mgn_curve* curve) {
  if (!curve_collectable(curve)) return;
  enter_curve_vertex_nodes(curve);
  append_curve_listings(curve);
}

void mgn_collect_finished_entities() {
  if (mgn_mesh.fe_nodes == nullptr) return;
  // Curves still waiting for the hiding pass are collected as they are.
  mgn_discret.hiding_pending = false;
  collect_curves();
  for (mgn_surface* s : mgn_list_range<mgn_surface>(mgn_model.surfaces.list)) collect_face_entity(s);
  for (mgn_patch* p : mgn_list_range<mgn_patch>(mgn_model.patches.list)) collect_face_entity(p);
  for (mgn_shell* s : mgn_list_range<mgn_shell>(mgn_model.shells.list)) collect_face_entity(s);
  for (mgn_region* r : mgn_list_range<mgn_region>(mgn_model.regions.list)) collect_region(r);
}

// ---------------------------------------------------------------------------
// Entity discretizers
// ---------------------------------------------------------------------------

void mgn_discretize_vertex(mgn_vertex* vertex, void* argument) {
  if (vertex->id == 0 || vertex->is_virtual || vertex->mesh.discretized) return;
  vertex->mesh.discretized = true;
  mgn_vertex* rep = mgn_get_vertex_representative(vertex);
  if (rep != vertex) mgn_discretize_vertex(rep, argument);
  // A plain vertex gets its node from the first curve that ends there.
  if (vertex->output_requested || vertex->slave) {
    const bool existed = rep->mesh.node != nullptr;
    mgn_get_vertex_node(vertex);
    if (!existed) mgn_discret.something_produced = true;
    mgn_enter_vertex_node(vertex);
  }
  if (rep->mesh.node != nullptr) vertex->mesh.node = rep->mesh.node;
}

void mgn_discretize_curve(mgn_curve* curve, void* argument) {
  if (curve->id == 0 || curve->is_virtual || curve->mesh.discretized) return;
  // A mirror chain that leads back to a curve under way has no source.
  if (curve->meshing) unexpected(__func__, __LINE__);
  if (curve->collapsed) {
    // Not meshed on its own: its vertices share one node.
    curve->mesh.discretized = true;
    return;
  }
  curve->meshing = true;
  mgn_open_warning_scope();
  mgn_curve* top = mgn_get_top_physical_curve(curve);
  if (top != curve) {
    // The physical parent hands its mesh down (mgn_update_fixed_curve).
    if (curve->mirrored != nullptr) {
      mgn_note_partial_curve(curve);
      mgn_manipulation_error(
          mgn_format("Mirrored curve (%ld) can have virtual parent curves only", static_cast<long>(curve->id)),
          MGN_HERE);
    }
    mgn_discretize_curve(top, argument);
    curve->meshing = false;
    if (!curve->mesh.discretized) unexpected(__func__, __LINE__);
    return;
  }
  if (curve->mirrored != nullptr) {
    mgn_curve* source = curve->mirrored;
    mgn_discretize_curve(source, argument);
    if (!source->mesh.discretized || source->collapsed) unexpected(__func__, __LINE__);
    mgn_mirror_subcurve(curve);
  } else {
    mgn_get_vertex_node(curve->vertex[0]);
    mgn_get_vertex_node(curve->vertex[1]);
    mgn_build_data_curve_vertex(curve);
    mgn_vertex* vertex = curve->vertex[0];
    double t = 0.0;
    int pieces = 0;
    for (;;) {
      double t_next;
      mgn_vertex* next = mgn_get_next_fixed_vertex(curve, vertex, t, &t_next);
      mgn_discretize_subcurve(curve, vertex, next, t, t_next);
      mgn_empty_curve_scratch();
      ++pieces;
      if (next == curve->vertex[1]) break;
      vertex = next;
      t = t_next;
    }
    curve->fixed_split = pieces > 1;
  }
  settle_listing(curve->mesh.nodes);
  settle_listing(curve->mesh.edges);
  curve->mesh.discretized = true;
  curve->meshing = false;
  mgn_update_fixed_curve(curve);
  mgn_discret.something_produced = true;
  if (curve->slave || curve->master) mgn_discret.master_slave_present = true;
}

// Surfaces, patches and shells: the entry rules.  The meshers (data of the
// entity, triangles, free quads, mapped and iso quads, smoothing, the front
// check, the collection and the neighbour table) plug in below.
void mgn_discretize_surface(mgn_surface* surface, void* argument) {
  // A surface that bounds a region or lies inside one is meshed even when
  // none of its records are output: the region's mesh stands on it.
  const bool in_region =
      surface->inner_region != nullptr || surface->outer_region != nullptr || surface->localized_region != nullptr;
  if (surface->id == 0 || (!surface->output && !in_region) || surface->is_virtual || surface->hole ||
      surface->mesh.discretized)
    return;
  if (surface->mirrored != nullptr) mgn_discretize_surface(surface->mirrored, argument);
  // Surface meshing: mgn_build_data_subsurface, then the triangle, quad,
  // mapped or iso mesher; then smoothing, the front check and collection.
  // The quad, mapped and iso meshers and mirroring plug in here; every
  // other surface is triangulated.
  if (surface->mirrored != nullptr) return;
  mgn_mesh_subsurface(surface);
  mgn_discret.something_produced = true;
  collect_face_entity(surface);
  if (mgn_discret.neighbours_wanted && surface->output) mgn_build_neighbour_table(MGN_SURFACE, surface);
}

// A patch or shell that bounds a region or lies inside one is meshed even
// when none of its records are output, as a surface is.
template <typename Entity>
bool face_entity_wanted(const Entity* entity) {
  const bool in_region =
      entity->inner_region != nullptr || entity->outer_region != nullptr || entity->localized_region != nullptr;
  return entity->id != 0 && (entity->output || in_region) && !entity->is_virtual && !entity->hole &&
         !entity->mesh.discretized;
}

// The vertices fixed inside a patch or shell are nodes of its mesh: they
// get their node here (a vertex alone has none), entered with the entity's
// nodes when it is output.
template <typename Entity>
void give_fixed_vertices_nodes(const Entity* entity) {
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(entity->fixed_vertices)) {
    if (vertex == nullptr || vertex->is_virtual) continue;
    mgn_get_vertex_node(vertex);
    if (entity->output) mgn_enter_vertex_node(vertex);
  }
}

void mgn_discretize_patch(mgn_patch* patch, void* argument) {
  (void)argument;
  if (!face_entity_wanted(patch)) return;
  give_fixed_vertices_nodes(patch);
  // Mirrored and duplicated meshes of patches are not made (the reader
  // drops the requests with a warning).
  mgn_mesh_subpatch(patch);
  mgn_discret.something_produced = true;
  collect_face_entity(patch);
  if (mgn_discret.neighbours_wanted && patch->output) mgn_build_neighbour_table(MGN_PATCH, patch);
}

void mgn_discretize_shell(mgn_shell* shell, void* argument) {
  (void)argument;
  if (!face_entity_wanted(shell)) return;
  give_fixed_vertices_nodes(shell);
  mgn_mesh_subshell(shell);
  mgn_discret.something_produced = true;
  collect_face_entity(shell);
  if (mgn_discret.neighbours_wanted && shell->output) mgn_build_neighbour_table(MGN_SHELL, shell);
}

// Regions: the entry rules.  The volume meshers (advancing front, extrusion,
// iso and mapped hexas) with smoothing and the front check plug in below.
void mgn_discretize_region(mgn_region* region, void* argument) {
  (void)argument;
  if (region->id == 0 || !region->output || region->hole || region->is_virtual || region->mesh.collected ||
      region->mesh.discretized)
    return;
  // Structured meshing of regions (extrusion, iso and mapped hexas) is not
  // part of this program: such a region ends the run rather than getting a
  // mesh it did not ask for.
  if (region->extrude || region->hexa) {
    mgn_note_partial_region(region);
    mgn_manipulation_error(mgn_format("Structured meshing of region %ld (%s) not supported", static_cast<long>(region->id),
                                      region->extrude ? "extrusion" : "hexa"),
                           MGN_HERE);
  }
  // Vertices fixed inside the region become nodes of its mesh.
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(region->fixed_vertices)) {
    if (vertex == nullptr || vertex->is_virtual) continue;
    mgn_get_vertex_node(vertex);
    mgn_enter_vertex_node(vertex);
  }
  mgn_progress_phase(nullptr);
  mgn_discretize_subregion(region);
  mgn_progress_phase("smoothing");
  mgn_smooth_region(region);
  // Every node of the region has left the front.
  if (region->mesh.nodes != nullptr)
    for (mgn_node** ref : mgn_listing_range<mgn_node*>(mgn_get_first_listing_block(region->mesh.nodes)))
      mgn_check_data_node(*ref, MGN_REGION, region, "region", region->id);
  if (region->mesh.tetra_count + region->mesh.pyram_count + region->mesh.wedge_count + region->mesh.hexa_count == 0)
    mgn_manipulation_error("Unexpected situation", MGN_HERE);
  settle_listing(region->mesh.nodes);
  settle_listing(region->mesh.edges);
  settle_listing(region->mesh.tetras);
  settle_listing(region->mesh.pyrams);
  region->mesh.discretized = true;
  mgn_discret.something_produced = true;
}

// Interfaces (with quad-hexa support only): the interface elements between
// the paired entities (src/discret4), collected as the interface's output
// request says.  The nodes of a vertex pair are nodes of the mesh.
void mgn_discretize_interface(mgn_interface* interface, void* argument) {
  (void)argument;
  if (interface->id == 0 || interface->is_virtual || interface->mesh.discretized) return;
  interface->mesh.discretized = true;
  if (interface->kind == MGN_VERTEX)
    for (void* entity : interface->entity) {
      auto* vertex = static_cast<mgn_vertex*>(entity);
      if (vertex->is_virtual) continue;
      mgn_get_vertex_node(vertex);
      mgn_enter_vertex_node(vertex);
    }
  if (!mgn_mesh_interface(interface)) {
    mgn_warning("Warning: Interface %ld ignored (an entity of it is not meshed or not output)\n",
                static_cast<long>(interface->id));
    return;
  }
  mgn_discret.something_produced = true;
  interface->mesh.collected = true;
  mgn_entity_mesh& m = interface->mesh;
  settle_listing(m.edges);
  settle_listing(m.quads);
  settle_listing(m.wedges);
  settle_listing(m.hexas);
  if (!interface->output) return;
  // Only the edges of vertex and curve pairs are elements; those between
  // the faces of surface, patch and shell pairs only close the wedges and
  // hexas.
  if (interface->kind == MGN_VERTEX || interface->kind == MGN_CURVE)
    append_listing(mgn_mesh.fe_edges, m.edges, m.edge_count, mgn_run.edges);
  append_listing(mgn_mesh.fe_quads, m.quads, m.quad_count, mgn_run.quads);
  append_listing(mgn_mesh.fe_wedges, m.wedges, m.wedge_count, mgn_run.wedges);
  append_listing(mgn_mesh.fe_hexas, m.hexas, m.hexa_count, mgn_run.hexas);
}

// ---------------------------------------------------------------------------
// The driver
// ---------------------------------------------------------------------------

void mgn_discretize_model() {
  // 1. Run flags; discretization under way.
  reset_state();
  mgn_open_warning_stage();
  mgn_discret.neighbours_wanted = (mgn_set.output_spec & 32) != 0;
  mgn_terminate_hook.collect_finished = mgn_collect_finished_entities;
  // The tetra repair passes, unless a caller put its own in their place.
  if (mgn_smooth_hook.repair_forward == nullptr) mgn_smooth_hook.repair_forward = mgn_repair_region_forward;
  if (mgn_smooth_hook.repair_backward == nullptr) mgn_smooth_hook.repair_backward = mgn_repair_region_backward;
  if (mgn_smooth_hook.quad_topology == nullptr) mgn_smooth_hook.quad_topology = mgn_clean_quad_mesh;
  mgn_run.discretization_under_way = true;
  const long l = listing_size();

  // 2. Coordinates, parameters, edge-list cells, nodes, finite-element
  // nodes, edges.
  mgn_reset_mesh_store();
  mgn_create_mesh_store(mgn_model.vertices.count);

  // 3. Vertices.
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(mgn_model.vertices.list))
    mgn_discretize_vertex(vertex, nullptr);
  print_progress("Vertices discretized");
  mgn_mesh.fe_nodes = mgn_realloc_listing(mgn_mesh.fe_nodes);

  // 4. Curves.
  mgn_create_curve_scratch();
  begin_progress("Meshing curves", "curves", mgn_model.curves.count, "edges", {&mgn_run.edges.total});
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(mgn_model.curves.list)) {
    mgn_discretize_curve(curve, nullptr);
    mgn_progress_entity_done();
  }
  print_progress("Curves discretized");
  mgn_empty_curve_scratch();
  mgn_discret.hiding_pending = mgn_set.nodal_smoothing;
  collect_curves();
  // Every vertex now refers to the node of its representative.
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(mgn_model.vertices.list))
    if (!vertex->is_virtual) vertex->mesh.node = mgn_get_vertex_representative(vertex)->mesh.node;

  // 5. Cells of the surface meshers.  The scratch listings of surface data
  // and surface work records belong to the surface mesher.
  const bool has_regions = mgn_model.regions.list != nullptr;
  if (has_regions) mgn_discret.association_cells = create_cells(std::min(l, 100L));
  if (mgn_discret.neighbours_wanted) mgn_create_neighbour_cells();
  mgn_create_surface_scratch();

  // 6. Surfaces, patches, shells.
  begin_progress("Meshing surfaces", "surfaces",
                 mgn_model.surfaces.count + mgn_model.patches.count + mgn_model.shells.count, "trias",
                 {&mgn_run.trias.total, &mgn_run.quads.total});
  if (mgn_model.surfaces.list != nullptr)
    for (mgn_surface* s : mgn_list_range<mgn_surface>(mgn_model.surfaces.list)) {
      mgn_discretize_surface(s, nullptr);
      mgn_progress_entity_done();
    }
  if (mgn_model.patches.list != nullptr)
    for (mgn_patch* p : mgn_list_range<mgn_patch>(mgn_model.patches.list)) {
      mgn_discretize_patch(p, nullptr);
      mgn_progress_entity_done();
    }
  if (mgn_model.shells.list != nullptr)
    for (mgn_shell* s : mgn_list_range<mgn_shell>(mgn_model.shells.list)) {
      mgn_discretize_shell(s, nullptr);
      mgn_progress_entity_done();
    }

  // 7. With nodal smoothing: curve hiding, the edge swapping passes, vertex
  // hiding, and a second smoothing of surfaces, patches and shells when a
  // swap asks for it.  The curves that waited for the hiding pass are
  // collected afterwards.
  if (mgn_set.nodal_smoothing) {
    mgn_progress_phase("hiding and swapping");
    const bool neighbours = mgn_discret.neighbours_wanted;
    if (mgn_hide_curves(neighbours)) mgn_discret.something_hidden = true;
    bool swapped = mgn_swap_curves(1, neighbours);
    swapped = mgn_swap_curves(2, neighbours) || swapped;
    mgn_hide_vertices();
    swapped = mgn_swap_curves(3, neighbours) || swapped;
    if (swapped) mgn_discret.resmoothing_needed = true;
    if (mgn_discret.resmoothing_needed) smooth_face_entities_again();
  }
  mgn_discret.hiding_pending = false;
  collect_curves();

  // 8.
  print_progress("Surfaces discretized");
  mgn_empty_surface_scratch();

  // 9. Regions.
  if (has_regions) {
    mgn_discret.region_cells = create_cells(std::min(l, 100L));
    mgn_discret.region_long_cells = create_cells(std::max(10L, l / 10));
    begin_progress("Meshing regions", "regions", mgn_model.regions.count, "tetras",
                   {&mgn_run.tetras.total, &mgn_run.pyrams.total, &mgn_run.wedges.total, &mgn_run.hexas.total});
    for (mgn_region* r : mgn_list_range<mgn_region>(mgn_model.regions.list)) {
      mgn_discretize_region(r, nullptr);
      mgn_progress_entity_done();
    }
    // With nodal smoothing, the hiding of surfaces, patches and shells
    // plugs in here.
    for (mgn_region* r : mgn_list_range<mgn_region>(mgn_model.regions.list)) collect_region(r);
    // The neighbour tables of regions plug in here.
    if (mgn_discret.neighbours_wanted) build_face_neighbour_tables();
    print_progress("Regions discretized");
    empty_scratch(mgn_discret.region_cells);
    empty_scratch(mgn_discret.region_long_cells);
  }

  // 10. Interfaces.
  if (mgn_model.interfaces.list != nullptr) {
    if (!mgn_set.quad_hexa_support) {
      mgn_warning("Warning: Discretization of interfaces ignored\n"
                  "         due to the -H option\n");
    } else {
      for (mgn_interface* i : mgn_list_range<mgn_interface>(mgn_model.interfaces.list))
        mgn_discretize_interface(i, nullptr);
      print_progress("Interfaces discretized");
    }
  }

  // 11. Master and slave nodes.
  if (mgn_discret.master_slave_present) {
    if (mgn_mesh.wedge_pool == nullptr) mgn_mesh.wedge_pool = mgn_create_listing(10, sizeof(mgn_wedge));
    mgn_pair_master_slave_nodes();
    enter_master_slave_nodes();
  }

  // 12. Midside nodes of quadratic elements.
  if (mgn_set.element_degree == 2) {
    if (mgn_mesh.midnodes == nullptr)
      mgn_mesh.midnodes = mgn_create_listing(midside_capacity(mgn_run.edges.total), sizeof(mgn_node*));
    create_curve_midnodes();
    create_face_entity_midnodes<mgn_surface>(mgn_model.surfaces);
    create_face_entity_midnodes<mgn_patch>(mgn_model.patches);
    create_face_entity_midnodes<mgn_shell>(mgn_model.shells);
    create_face_entity_midnodes<mgn_region>(mgn_model.regions);
    give_interface_placeholder_midnodes();
    // The references now belong to the finite-element node listing.
    append_listing(mgn_mesh.fe_nodes, mgn_mesh.midnodes, mgn_mesh.midnode_count, mgn_run.nodes);
    mgn_mesh.midnodes = nullptr;
  }

  // 13. Final compaction.
  compact_global(mgn_mesh.fe_nodes);
  compact_global(mgn_mesh.fe_edges);
  compact_global(mgn_mesh.fe_faces);
  compact_global(mgn_mesh.fe_quads);
  compact_global(mgn_mesh.fe_tetras);
  compact_global(mgn_mesh.fe_pyrams);
  compact_global(mgn_mesh.fe_wedges);
  compact_global(mgn_mesh.fe_hexas);
  mgn_run.discretization_under_way = false;
}
