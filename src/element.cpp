// Mesh store: the records of the mesh, their creation and retirement, node
// relocation in the octree, element edge lookups and the tetra measures.
#include "element.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "list.h"
#include "message.h"
#include "octree.h"
#include "progress.h"
#include "vec3.h"


const int mgn_tetra_edge_nodes[6][2] = {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}};
const int mgn_tetra_face_nodes[4][3] = {{0, 1, 2}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}};
const int mgn_tetra_edge_faces[6][2] = {{0, 1}, {0, 2}, {0, 3}, {3, 1}, {1, 2}, {2, 3}};
const int mgn_pyram_edge_nodes[8][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0},
                                        {0, 4}, {1, 4}, {2, 4}, {3, 4}};
const int mgn_wedge_edge_nodes[9][2] = {{0, 1}, {1, 2}, {2, 0}, {3, 4}, {4, 5},
                                        {5, 3}, {0, 3}, {1, 4}, {2, 5}};
const int mgn_hexa_edge_nodes[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                        {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};

namespace {

// Capacity of a pool created on first use.
long pool_capacity() { return std::max(10L, mgn_set.listing_size); }
long small_capacity() { return std::max(10L, std::min(mgn_set.listing_size, 1000L)); }

template <typename T>
T* take_record(mgn_listing*& pool, long capacity) {
  if (pool == nullptr) pool = mgn_create_listing(capacity, sizeof(T));
  return mgn_get_listing_item_as<T>(pool);
}

// Stores a reference to the record in the owning entity's listing.
void store_reference(mgn_listing** listing, void* record) {
  if (listing == nullptr) return;
  if (*listing == nullptr) *listing = mgn_create_listing(std::max(10L, std::min(mgn_set.listing_size, 100L)), sizeof(void*));
  *static_cast<void**>(mgn_get_listing_item(*listing)) = record;
}

// A list cell from the cell pool (node edge lists and partner lists).
mgn_list_item* take_cell(void* object) {
  auto* cell = take_record<mgn_list_item>(mgn_mesh.cells, std::max(10L, mgn_set.listing_size / 10));
  cell->object = object;
  cell->next = nullptr;
  return cell;
}

int32_t next_id(int32_t& counter, mgn_record_count& count) {
  ++count.total;
  mgn_progress_tick();
  return ++counter;
}

// ---------------------------------------------------------------------------
// Octree link of the nodes
// ---------------------------------------------------------------------------

// Enters a new node in the leaf of the octree that contains it and takes its
// size from the octree; before the octree exists a node has no leaf and no
// size.
void octree_enter_node(mgn_node* node) {
  if (mgn_tree.root == nullptr) return;
  mgn_locate_node(node, nullptr);
}

// Takes the size of a moved node from the octree and moves it to the node
// list of the leaf that now contains it.
void octree_relocate_node(mgn_node* node) {
  if (mgn_tree.root == nullptr) return;
  if (node->octant == nullptr) {
    mgn_locate_node(node, nullptr);
  } else {
    mgn_relocate_node(node);
  }
}

// ---------------------------------------------------------------------------
// Per-entity counters
// ---------------------------------------------------------------------------

enum record_kind { NODE, EDGE, FACE, QUAD, TETRA, PYRAM, WEDGE, HEXA };

void count_on_entity(int kind, void* entity, record_kind what, int delta) {
  mgn_entity_mesh* mesh = mgn_get_entity_mesh(kind, entity);
  if (mesh == nullptr) return;
  int32_t* count = nullptr;
  int32_t* total = nullptr;
  switch (what) {
    case NODE: count = &mesh->node_count; total = &mesh->node_total; break;
    case EDGE: count = &mesh->edge_count; total = &mesh->edge_total; break;
    case FACE: count = &mesh->face_count; total = &mesh->face_total; break;
    case QUAD: count = &mesh->quad_count; total = &mesh->quad_total; break;
    case TETRA: count = &mesh->tetra_count; total = &mesh->tetra_total; break;
    case PYRAM: count = &mesh->pyram_count; total = &mesh->pyram_total; break;
    case WEDGE: count = &mesh->wedge_count; total = &mesh->wedge_total; break;
    case HEXA: count = &mesh->hexa_count; total = &mesh->hexa_total; break;
  }
  *count += delta;
  if (delta > 0) *total += delta;
}

// Cross product of face f of a tetra, oriented outward for a tetra of
// positive volume (node 3 above the base face).
mgn_vec3 tetra_face_cross(const mgn_tetra* tetra, int f) {
  const int* v = mgn_tetra_face_nodes[f];
  const double* a = tetra->n[v[0]]->xyz;
  mgn_vec3 c = mgn_cross(mgn_sub(tetra->n[v[1]]->xyz, a), mgn_sub(tetra->n[v[2]]->xyz, a));
  if (f == 0) c = {-c.x, -c.y, -c.z};
  return c;
}

[[noreturn]] void edge_not_found(const char* routine, int line) {
  mgn_manipulation_error("Edge of element not found", routine, mgn_module_name(__FILE__), line);
}

}  // namespace

// ---------------------------------------------------------------------------
// Store
// ---------------------------------------------------------------------------

mgn_entity_mesh* mgn_get_entity_mesh(int kind, void* entity) {
  if (entity == nullptr) return nullptr;
  switch (kind) {
    case MGN_VERTEX: return &static_cast<mgn_vertex*>(entity)->mesh;
    case MGN_CURVE: return &static_cast<mgn_curve*>(entity)->mesh;
    case MGN_SURFACE: return &static_cast<mgn_surface*>(entity)->mesh;
    case MGN_REGION: return &static_cast<mgn_region*>(entity)->mesh;
    case MGN_PATCH: return &static_cast<mgn_patch*>(entity)->mesh;
    case MGN_SHELL: return &static_cast<mgn_shell*>(entity)->mesh;
    case MGN_INTERFACE: return &static_cast<mgn_interface*>(entity)->mesh;
    default: break;
  }
  mgn_manipulation_error("Invalid entity type encountered", MGN_HERE);
}

void mgn_create_mesh_store(long vertex_count) {
  const long l = mgn_set.listing_size;
  const long small = std::min(l, 1000L);
  mgn_mesh.coordinates = mgn_create_listing(small, 3 * sizeof(double));
  mgn_mesh.surface_params = mgn_create_listing(small, 2 * sizeof(double));
  mgn_mesh.curve_params = mgn_create_listing(small, sizeof(double));
  mgn_mesh.cells = mgn_create_listing(std::max(10L, l / 10), sizeof(mgn_list_item));
  mgn_mesh.node_pool = mgn_create_listing(l, sizeof(mgn_node));
  mgn_mesh.fe_nodes = mgn_create_listing(std::min(l, vertex_count), sizeof(mgn_node*));
  mgn_mesh.node_id = mgn_mesh.edge_id = mgn_mesh.face_id = mgn_mesh.quad_id = 0;
  mgn_mesh.tetra_id = mgn_mesh.pyram_id = mgn_mesh.wedge_id = mgn_mesh.hexa_id = 0;
  mgn_mesh.midnode_count = 0;
}

void mgn_reset_mesh_store() {
  mgn_listing** chains[] = {&mgn_mesh.coordinates, &mgn_mesh.surface_params, &mgn_mesh.curve_params,
                            &mgn_mesh.cells,       &mgn_mesh.node_pool,      &mgn_mesh.face_pool,
                            &mgn_mesh.quad_pool,   &mgn_mesh.tetra_pool,     &mgn_mesh.pyram_pool,
                            &mgn_mesh.wedge_pool,  &mgn_mesh.hexa_pool,      &mgn_mesh.fe_nodes,
                            &mgn_mesh.fe_edges,    &mgn_mesh.fe_faces,       &mgn_mesh.fe_quads,
                            &mgn_mesh.fe_tetras,   &mgn_mesh.fe_pyrams,      &mgn_mesh.fe_wedges,
                            &mgn_mesh.fe_hexas,    &mgn_mesh.midnodes};
  for (mgn_listing** chain : chains) {
    if (*chain != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(*chain));
    *chain = nullptr;
  }
  mgn_destroy_numbered_listing(mgn_mesh.edge_pool);
  mgn_destroy_numbered_listing(mgn_mesh.edge_more);
  mgn_destroy_numbered_listing(mgn_mesh.extras);
  mgn_mesh = mgn_mesh_store{};
  mgn_record_count* counts[] = {&mgn_run.nodes,  &mgn_run.edges,  &mgn_run.trias,  &mgn_run.quads,
                                &mgn_run.tetras, &mgn_run.pyrams, &mgn_run.wedges, &mgn_run.hexas};
  for (mgn_record_count* count : counts) *count = mgn_record_count{};
}

// ---------------------------------------------------------------------------
// Creation
// ---------------------------------------------------------------------------

mgn_node* mgn_create_node(const double xyz[3], const double* params, int kind, void* entity,
                          mgn_listing** listing) {
  auto* node = take_record<mgn_node>(mgn_mesh.node_pool, pool_capacity());
  node->id = next_id(mgn_mesh.node_id, mgn_run.nodes);
  node->kind = kind;
  node->entity = entity;
  auto* coordinates = static_cast<double*>(
      mgn_get_listing_item(mgn_mesh.coordinates ? mgn_mesh.coordinates
                                                : (mgn_mesh.coordinates = mgn_create_listing(
                                                       small_capacity(), 3 * sizeof(double)))));
  std::memcpy(coordinates, xyz, 3 * sizeof(double));
  node->xyz = coordinates;
  switch (kind) {
    case MGN_CURVE:
      if (params != nullptr) {
        if (mgn_mesh.curve_params == nullptr)
          mgn_mesh.curve_params = mgn_create_listing(small_capacity(), sizeof(double));
        node->parameters = static_cast<double*>(mgn_get_listing_item(mgn_mesh.curve_params));
        node->parameters[0] = params[0];
      }
      break;
    case MGN_SURFACE:
    case MGN_PATCH:
    case MGN_SHELL:
      if (params != nullptr) {
        if (mgn_mesh.surface_params == nullptr)
          mgn_mesh.surface_params = mgn_create_listing(small_capacity(), 2 * sizeof(double));
        node->parameters = static_cast<double*>(mgn_get_listing_item(mgn_mesh.surface_params));
        node->parameters[0] = params[0];
        node->parameters[1] = params[1];
      }
      break;
    default:
      node->parameters = coordinates;
      break;
  }
  if (listing != nullptr) {
    store_reference(listing, node);
    count_on_entity(kind, entity, NODE, 1);
  }
  octree_enter_node(node);
  return node;
}

namespace {

// Enters the edge (of the given number) at the head of the node's edge list
// (the node must be an end of the edge, or a midside node with no edge
// yet).
void link_node_edge(mgn_node* node, mgn_edge* edge, uint32_t number);

// A new edge (of the given number) in a clean record: identifier, owner,
// nodes, and a place in the edge lists of its nodes.
void fill_edge(mgn_edge* edge, uint32_t number, mgn_node* a, mgn_node* b, int kind, void* entity) {
  edge->id = next_id(mgn_mesh.edge_id, mgn_run.edges);
  edge->kind = static_cast<int8_t>(kind);
  edge->entity = entity;
  edge->n[0] = a;
  edge->n[1] = b;
  link_node_edge(a, edge, number);
  if (b != a) link_node_edge(b, edge, number);
}

}  // namespace

mgn_edge* mgn_create_edge(mgn_node* a, mgn_node* b, int kind, void* entity, mgn_listing** listing) {
  static_assert(mgn_listing_record_v<mgn_edge>, "listing records must be plain records");
  const uint32_t number = mgn_new_numbered_record(mgn_mesh.edge_pool, sizeof(mgn_edge));
  auto* edge = mgn_numbered_record<mgn_edge>(mgn_mesh.edge_pool, number);
  fill_edge(edge, number, a, b, kind, entity);
  store_reference(listing, edge);
  count_on_entity(kind, entity, EDGE, 1);
  return edge;
}

mgn_face* mgn_create_face(mgn_node* a, mgn_node* b, mgn_node* c, int kind, void* entity,
                          mgn_listing** listing, mgn_listing** pool, bool sides) {
  mgn_listing*& from = pool != nullptr ? *pool : mgn_mesh.face_pool;
  auto* face = take_record<mgn_face>(from, pool_capacity());
  face->id = next_id(mgn_mesh.face_id, mgn_run.trias);
  face->kind = static_cast<int8_t>(kind);
  face->entity = entity;
  face->n[0] = a;
  face->n[1] = b;
  face->n[2] = c;
  face->has_sides = sides || kind == MGN_REGION;
  if (face->has_sides) mgn_get_element_extra(face);
  store_reference(listing, face);
  count_on_entity(kind, entity, FACE, 1);
  return face;
}

mgn_quad* mgn_create_quad(mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d, int kind,
                          void* entity, mgn_listing** listing, bool sides) {
  auto* quad = take_record<mgn_quad>(mgn_mesh.quad_pool, pool_capacity());
  quad->id = next_id(mgn_mesh.quad_id, mgn_run.quads);
  quad->kind = kind;
  quad->entity = entity;
  quad->n[0] = a;
  quad->n[1] = b;
  quad->n[2] = c;
  quad->n[3] = d;
  quad->has_sides = sides;
  if (sides) mgn_get_element_extra(quad);
  if (mgn_mesh.keep_partners) {
    mgn_link_partner_nodes(a, c);
    mgn_link_partner_nodes(b, d);
  }
  store_reference(listing, quad);
  count_on_entity(kind, entity, QUAD, 1);
  return quad;
}

namespace {

// A new tetra in a clean record: identifier, region and nodes.
void fill_tetra(mgn_tetra* tetra, mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d, mgn_region* region) {
  tetra->id = next_id(mgn_mesh.tetra_id, mgn_run.tetras);
  tetra->region = region;
  tetra->n[0] = a;
  tetra->n[1] = b;
  tetra->n[2] = c;
  tetra->n[3] = d;
}

}  // namespace

mgn_tetra* mgn_create_tetra(mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d, mgn_region* region,
                            mgn_listing** listing) {
  auto* tetra = take_record<mgn_tetra>(mgn_mesh.tetra_pool, pool_capacity());
  fill_tetra(tetra, a, b, c, d, region);
  store_reference(listing, tetra);
  count_on_entity(MGN_REGION, region, TETRA, 1);
  return tetra;
}

mgn_pyram* mgn_create_pyram(mgn_node* const nodes[5], mgn_region* region, mgn_listing** listing) {
  auto* pyram = take_record<mgn_pyram>(mgn_mesh.pyram_pool, pool_capacity());
  pyram->id = next_id(mgn_mesh.pyram_id, mgn_run.pyrams);
  pyram->region = region;
  std::copy(nodes, nodes + 5, pyram->n);
  store_reference(listing, pyram);
  count_on_entity(MGN_REGION, region, PYRAM, 1);
  return pyram;
}

mgn_wedge* mgn_create_wedge(mgn_node* const nodes[6], int kind, void* entity,
                            mgn_listing** listing) {
  auto* wedge = take_record<mgn_wedge>(mgn_mesh.wedge_pool, pool_capacity());
  wedge->id = next_id(mgn_mesh.wedge_id, mgn_run.wedges);
  wedge->kind = kind;
  wedge->entity = entity;
  std::copy(nodes, nodes + 6, wedge->n);
  store_reference(listing, wedge);
  count_on_entity(kind, entity, WEDGE, 1);
  return wedge;
}

mgn_hexa* mgn_create_hexa(mgn_node* const nodes[8], int kind, void* entity, mgn_listing** listing) {
  auto* hexa = take_record<mgn_hexa>(mgn_mesh.hexa_pool, pool_capacity());
  hexa->id = next_id(mgn_mesh.hexa_id, mgn_run.hexas);
  hexa->kind = kind;
  hexa->entity = entity;
  std::copy(nodes, nodes + 8, hexa->n);
  store_reference(listing, hexa);
  count_on_entity(kind, entity, HEXA, 1);
  return hexa;
}

// ---------------------------------------------------------------------------
// Edge lists of nodes, faces and quads of edges, element extras
// ---------------------------------------------------------------------------

namespace {

// The link of the edge that continues the edge list of the node.
uint32_t* node_link(mgn_edge* edge, const mgn_node* node) {
  if (edge->n[0] == node) return &edge->next[0];
  if (edge->n[1] == node) return &edge->next[1];
  return nullptr;
}

void link_node_edge(mgn_node* node, mgn_edge* edge, uint32_t number) {
  uint32_t* link = node_link(edge, node);
  // A midside node keeps its one edge without a link of its own.
  if (link != nullptr) *link = node->edges;
  node->edges = number;
  ++node->edge_count;
}

// Takes the edge out of the node's edge list; returns its number (0 when
// absent).
uint32_t unlink_node_edge(mgn_node* node, const mgn_edge* edge) {
  uint32_t* at = &node->edges;
  while (*at != 0) {
    mgn_edge* current = mgn_edge_of_number(*at);
    uint32_t* link = node_link(current, node);
    if (current == edge) {
      const uint32_t number = *at;
      *at = link != nullptr ? *link : 0;
      if (link != nullptr) *link = 0;
      --node->edge_count;
      return number;
    }
    if (link == nullptr) return 0;
    at = link;
  }
  return 0;
}

// The number of an edge of the node's edge list (0 when absent).
uint32_t edge_number_at(const mgn_node* node, const mgn_edge* edge) {
  for (uint32_t number = node->edges; number != 0;) {
    mgn_edge* current = mgn_edge_of_number(number);
    if (current == edge) return number;
    const uint32_t* link = node_link(current, node);
    if (link == nullptr) return 0;
    number = *link;
  }
  return 0;
}

template <typename T>
mgn_element_extra* element_extra(T* element) {
  if (element->extra == 0) element->extra = mgn_new_numbered_record(mgn_mesh.extras, sizeof(mgn_element_extra));
  return mgn_numbered_record<mgn_element_extra>(mgn_mesh.extras, element->extra);
}

}  // namespace

mgn_edge_more* mgn_get_edge_more(mgn_edge* edge) {
  if (edge->more == 0) edge->more = mgn_new_numbered_record(mgn_mesh.edge_more, sizeof(mgn_edge_more));
  return mgn_numbered_record<mgn_edge_more>(mgn_mesh.edge_more, edge->more);
}

bool mgn_unlink_node_edge(mgn_node* node, mgn_edge* edge) { return unlink_node_edge(node, edge) != 0; }

void mgn_move_edge_end(mgn_edge* edge, int k, mgn_node* to) {
  const uint32_t number = unlink_node_edge(edge->n[k], edge);
  if (number == 0) mgn_manipulation_error("Item not found", MGN_HERE);
  edge->n[k] = to;
  link_node_edge(to, edge, number);
}

void mgn_add_edge_face(mgn_edge* edge, mgn_face* face) {
  if (face == nullptr || mgn_edge_has_face(edge, face)) return;
  for (mgn_face*& slot : edge->face)
    if (slot == nullptr) {
      slot = face;
      return;
    }
  mgn_link_item_to_head(mgn_get_edge_more(edge)->faces, take_cell(face));
}

bool mgn_remove_edge_face(mgn_edge* edge, const mgn_face* face) {
  for (mgn_face*& slot : edge->face)
    if (slot == face && face != nullptr) {
      // A further face moves up into the freed slot.
      // (List cells come from the cell pool and are not freed.)
      mgn_edge_more* more = mgn_find_edge_more(edge);
      mgn_list_item* cell = more != nullptr ? mgn_unlink_head_item(more->faces) : nullptr;
      slot = cell != nullptr ? static_cast<mgn_face*>(cell->object) : nullptr;
      return true;
    }
  mgn_edge_more* more = mgn_find_edge_more(edge);
  return more != nullptr && face != nullptr && mgn_unlink_item(more->faces, const_cast<mgn_face*>(face)) != nullptr;
}

void mgn_replace_edge_face(mgn_edge* edge, const mgn_face* from, mgn_face* to) {
  if (from == nullptr || to == nullptr) return;
  for (mgn_face*& slot : edge->face)
    if (slot == from) {
      slot = to;
      return;
    }
  if (mgn_edge_more* more = mgn_find_edge_more(edge))
    for (mgn_list_item* item = more->faces; item != nullptr; item = item->next)
      if (item->object == from) {
        item->object = to;
        return;
      }
}

bool mgn_edge_has_face(const mgn_edge* edge, const mgn_face* face) {
  if (face == nullptr) return false;
  if (edge->face[0] == face || edge->face[1] == face) return true;
  const mgn_edge_more* more = mgn_find_edge_more(edge);
  return more != nullptr && mgn_find_item(more->faces, face) != nullptr;
}

void mgn_add_edge_quad(mgn_edge* edge, mgn_quad* quad) {
  if (quad == nullptr || mgn_edge_has_quad(edge, quad)) return;
  mgn_link_item_to_head(mgn_get_edge_more(edge)->quads, take_cell(quad));
}

bool mgn_edge_has_quad(const mgn_edge* edge, const mgn_quad* quad) {
  const mgn_edge_more* more = mgn_find_edge_more(edge);
  return more != nullptr && quad != nullptr && mgn_find_item(more->quads, quad) != nullptr;
}

void mgn_hand_over_edge_side(mgn_edge* edge, const mgn_face* from, mgn_face* to) {
  mgn_replace_edge_face(edge, from, to);
  if (mgn_edge_has_side_slots(edge))
    for (mgn_face*& side : mgn_find_edge_more(edge)->sides)
      if (side == from) side = to;
}

mgn_element_extra* mgn_get_element_extra(mgn_face* face) { return element_extra(face); }
mgn_element_extra* mgn_get_element_extra(mgn_quad* quad) { return element_extra(quad); }

// ---------------------------------------------------------------------------
// Retirement and partner links
// ---------------------------------------------------------------------------

void mgn_retire_node(mgn_node* node) {
  if (node->id == 0) return;
  node->id = 0;
  mgn_unlocate_node(node);
  count_on_entity(node->kind, node->entity, NODE, -1);
}

void mgn_retire_edge(mgn_edge* edge) {
  if (edge->id == 0) return;
  edge->id = 0;
  mgn_unlink_node_edge(edge->n[0], edge);
  if (edge->n[1] != edge->n[0]) mgn_unlink_node_edge(edge->n[1], edge);
  count_on_entity(edge->kind, edge->entity, EDGE, -1);
}

void mgn_retire_face(mgn_face* face) {
  if (face->id == 0) return;
  face->id = 0;
  count_on_entity(face->kind, face->entity, FACE, -1);
}

void mgn_retire_quad(mgn_quad* quad) {
  if (quad->id == 0) return;
  quad->id = 0;
  if (mgn_mesh.keep_partners) {
    mgn_unlink_partner_nodes(quad->n[0], quad->n[2]);
    mgn_unlink_partner_nodes(quad->n[1], quad->n[3]);
  }
  count_on_entity(quad->kind, quad->entity, QUAD, -1);
}

void mgn_retire_tetra(mgn_tetra* tetra) {
  if (tetra->id == 0) return;
  tetra->id = 0;
  count_on_entity(MGN_REGION, tetra->region, TETRA, -1);
}

mgn_tetra* mgn_renew_tetra(mgn_tetra* tetra, mgn_node* a, mgn_node* b, mgn_node* c, mgn_node* d) {
  mgn_region* region = tetra->region;
  *tetra = mgn_tetra{};
  fill_tetra(tetra, a, b, c, d, region);
  return tetra;
}

bool mgn_can_renew_edge(const mgn_edge* edge) {
  return edge->id != 0 && edge->kind == MGN_REGION && edge->more == 0 && edge->face[0] == nullptr &&
         edge->face[1] == nullptr;
}

mgn_edge* mgn_renew_edge(mgn_edge* edge, mgn_node* a, mgn_node* b) {
  const uint32_t number = unlink_node_edge(edge->n[0], edge);
  if (number == 0) mgn_manipulation_error("Item not found", MGN_HERE);
  if (edge->n[1] != edge->n[0]) unlink_node_edge(edge->n[1], edge);
  const int kind = edge->kind;
  void* entity = edge->entity;
  *edge = mgn_edge{};
  fill_edge(edge, number, a, b, kind, entity);
  return edge;
}

void mgn_retire_pyram(mgn_pyram* pyram) {
  if (pyram->id == 0) return;
  pyram->id = 0;
  count_on_entity(MGN_REGION, pyram->region, PYRAM, -1);
}

void mgn_retire_wedge(mgn_wedge* wedge) {
  if (wedge->id == 0) return;
  wedge->id = 0;
  count_on_entity(wedge->kind, wedge->entity, WEDGE, -1);
}

void mgn_retire_hexa(mgn_hexa* hexa) {
  if (hexa->id == 0) return;
  hexa->id = 0;
  count_on_entity(hexa->kind, hexa->entity, HEXA, -1);
}

void mgn_link_partner_nodes(mgn_node* a, mgn_node* b) {
  if (a == b || mgn_find_item(mgn_node_partners(a), b) != nullptr) return;
  mgn_link_item_to_head(mgn_mesh.partners[a], take_cell(b));
  mgn_link_item_to_head(mgn_mesh.partners[b], take_cell(a));
}

namespace {

// Takes b out of the partners of a; a node left without partners leaves
// the table.
void unlink_partner(const mgn_node* a, mgn_node* b) {
  const auto found = mgn_mesh.partners.find(a);
  if (found == mgn_mesh.partners.end()) return;
  mgn_unlink_item(found->second, b);
  if (found->second == nullptr) mgn_mesh.partners.erase(found);
}

}  // namespace

void mgn_unlink_partner_nodes(mgn_node* a, mgn_node* b) {
  unlink_partner(a, b);
  unlink_partner(b, a);
}

// ---------------------------------------------------------------------------
// Edge swap
// ---------------------------------------------------------------------------

namespace {

// Largest cosine of the three corners of a triangle (the cosine of its
// smallest angle); 1 for a degenerate one.
double largest_corner_cosine(const double* a, const double* b, const double* c) {
  const double* p[3] = {a, b, c};
  double largest = -1.0;
  for (int i = 0; i < 3; ++i) {
    const mgn_vec3 u = mgn_sub(p[(i + 1) % 3], p[i]);
    const mgn_vec3 v = mgn_sub(p[(i + 2) % 3], p[i]);
    const double l = mgn_norm(u) * mgn_norm(v);
    if (!(l > 0.0)) return 1.0;
    largest = std::max(largest, mgn_dot(u, v) / l);
  }
  return largest;
}

// The first two live triangles of an edge's face list; returns the number
// of live triangles.
int live_faces(const mgn_edge* edge, mgn_face* found[2]) {
  int count = 0;
  for (mgn_face* face : mgn_edge_faces(edge)) {
    if (face->id == 0) continue;
    if (count < 2) found[count] = face;
    ++count;
  }
  return count;
}

// Position of the node in the triangle, -1 when absent.
int corner_of(const mgn_face* face, const mgn_node* node) {
  for (int i = 0; i < 3; ++i)
    if (face->n[i] == node) return i;
  return -1;
}

// The edge joining two nodes whose face list holds the face.
mgn_edge* edge_with_face(const mgn_node* a, const mgn_node* b, const mgn_face* face) {
  for (mgn_edge* edge : mgn_node_edges(a)) {
    if (!((edge->n[0] == a && edge->n[1] == b) || (edge->n[0] == b && edge->n[1] == a))) continue;
    if (mgn_edge_has_face(edge, face)) return edge;
  }
  return nullptr;
}

}  // namespace

bool mgn_swap_edge(mgn_edge* edge) {
  if (edge == nullptr || edge->id == 0 || mgn_edge_has_quads(edge)) return false;
  mgn_face* f[2] = {nullptr, nullptr};
  if (live_faces(edge, f) != 2) return false;
  mgn_node* p = edge->n[0];
  mgn_node* q = edge->n[1];
  // f1 runs the edge from p to q (the edge on its left), f2 from q to p.
  auto runs = [](const mgn_face* face, const mgn_node* a, const mgn_node* b) {
    const int i = corner_of(face, a);
    return i >= 0 && face->n[(i + 1) % 3] == b;
  };
  mgn_face* f1 = runs(f[0], p, q) ? f[0] : f[1];
  mgn_face* f2 = f1 == f[0] ? f[1] : f[0];
  if (!runs(f1, p, q) || !runs(f2, q, p)) return false;
  mgn_node* x = f1->n[(corner_of(f1, q) + 1) % 3];
  mgn_node* y = f2->n[(corner_of(f2, p) + 1) % 3];
  if (x == y || x == p || x == q || y == p || y == q || mgn_get_node_edge(x, y) != nullptr) return false;
  // The new triangles (p, y, x) and (y, q, x) must face the way both old
  // ones face and must not be degenerate.
  const mgn_vec3 n1 = mgn_cross(mgn_sub(q->xyz, p->xyz), mgn_sub(x->xyz, p->xyz));
  const mgn_vec3 n2 = mgn_cross(mgn_sub(p->xyz, q->xyz), mgn_sub(y->xyz, q->xyz));
  const mgn_vec3 m1 = mgn_cross(mgn_sub(y->xyz, p->xyz), mgn_sub(x->xyz, p->xyz));
  const mgn_vec3 m2 = mgn_cross(mgn_sub(q->xyz, y->xyz), mgn_sub(x->xyz, y->xyz));
  const double tiny = mgn_tol.eps2;
  if (!(mgn_norm(m1) > tiny) || !(mgn_norm(m2) > tiny)) return false;
  if (!(mgn_dot(m1, n1) > 0.0 && mgn_dot(m1, n2) > 0.0 && mgn_dot(m2, n1) > 0.0 && mgn_dot(m2, n2) > 0.0)) return false;
  // Only a swap that opens the smallest angle of the pair.
  const double before = std::max(largest_corner_cosine(p->xyz, q->xyz, x->xyz),
                                 largest_corner_cosine(q->xyz, p->xyz, y->xyz));
  const double after = std::max(largest_corner_cosine(p->xyz, y->xyz, x->xyz),
                                largest_corner_cosine(y->xyz, q->xyz, x->xyz));
  if (!(after < before - 1e-12)) return false;
  mgn_edge* py = edge_with_face(p, y, f2);
  mgn_edge* qx = edge_with_face(q, x, f1);
  if (py == nullptr || qx == nullptr) return false;
  mgn_apply_edge_swap(edge, f1, f2, py, qx);
  return true;
}

void mgn_apply_edge_swap(mgn_edge* edge, mgn_face* ab, mgn_face* ba, mgn_edge* ay, mgn_edge* bx) {
  // ab runs a -> b -> x, ba runs b -> a -> y.
  const int ix = 3 - corner_of(ab, edge->n[0]) - corner_of(ab, edge->n[1]);
  mgn_node* x = ab->n[ix];
  mgn_node* a = ab->n[(ix + 1) % 3];
  mgn_node* b = ab->n[(ix + 2) % 3];
  mgn_node* y = ba->n[3 - corner_of(ba, a) - corner_of(ba, b)];
  ab->n[0] = a;
  ab->n[1] = y;
  ab->n[2] = x;
  ba->n[0] = y;
  ba->n[1] = b;
  ba->n[2] = x;
  mgn_hand_over_edge_side(ay, ba, ab);
  if (bx != nullptr) mgn_hand_over_edge_side(bx, ab, ba);
  // The edge now joins y and x: ab on its left, ba on its right.
  mgn_move_edge_end(edge, 0, y);
  mgn_move_edge_end(edge, 1, x);
  // Its face slots, which are its side slots on a front, follow the sides.
  if ((edge->face[0] == ab && edge->face[1] == ba) || (edge->face[0] == ba && edge->face[1] == ab)) {
    edge->face[0] = ab;
    edge->face[1] = ba;
  }
  if (mgn_edge_has_side_slots(edge)) {
    mgn_edge_more* more = mgn_find_edge_more(edge);
    more->sides[0] = ab;
    more->sides[1] = ba;
  }
}

// ---------------------------------------------------------------------------
// Node moves and midside nodes
// ---------------------------------------------------------------------------

void mgn_move_node(mgn_node* node, const double xyz[3]) {
  node->xyz[0] = xyz[0];
  node->xyz[1] = xyz[1];
  node->xyz[2] = xyz[2];
  octree_relocate_node(node);
  mgn_progress_tick();
}

void mgn_update_node_size(mgn_node* node) { octree_relocate_node(node); }

mgn_node* mgn_create_midnode(mgn_edge* edge) {
  if (edge->kind < MGN_CURVE || edge->kind > MGN_SHELL)
    mgn_manipulation_error("Invalid entity type encountered", MGN_HERE);
  auto* node = take_record<mgn_node>(mgn_mesh.node_pool, pool_capacity());
  node->id = next_id(mgn_mesh.node_id, mgn_run.nodes);
  node->kind = edge->kind;
  node->entity = edge->entity;
  if (mgn_mesh.coordinates == nullptr)
    mgn_mesh.coordinates = mgn_create_listing(small_capacity(), 3 * sizeof(double));
  auto* xyz = static_cast<double*>(mgn_get_listing_item(mgn_mesh.coordinates));
  for (int i = 0; i < 3; ++i) xyz[i] = 0.5 * (edge->n[0]->xyz[i] + edge->n[1]->xyz[i]);
  node->xyz = xyz;
  node->flags = MGN_NODE_MIDSIDE;
  const uint32_t number = edge_number_at(edge->n[0], edge);
  if (number == 0) mgn_manipulation_error("Item not found", MGN_HERE);
  link_node_edge(node, edge, number);
  mgn_set_edge_mid(edge, node);
  if (mgn_mesh.midnodes == nullptr) mgn_mesh.midnodes = mgn_create_listing(small_capacity(), sizeof(void*));
  store_reference(&mgn_mesh.midnodes, node);
  ++mgn_mesh.midnode_count;
  return node;
}

// ---------------------------------------------------------------------------
// Lookups
// ---------------------------------------------------------------------------

mgn_edge* mgn_get_node_edge(const mgn_node* a, const mgn_node* b) {
  // Scan the shorter edge list.
  if (b->edge_count < a->edge_count) std::swap(a, b);
  for (mgn_edge* edge : mgn_node_edges(a)) {
    if ((edge->n[0] == a && edge->n[1] == b) || (edge->n[0] == b && edge->n[1] == a)) return edge;
  }
  return nullptr;
}

mgn_edge* mgn_get_face_edge(const mgn_face* face, int i) {
  mgn_edge* edge = mgn_get_node_edge(face->n[i], face->n[(i + 1) % 3]);
  if (edge == nullptr) {
    mgn_note_partial_face(const_cast<mgn_face*>(face));
    edge_not_found(__func__, __LINE__);
  }
  return edge;
}

mgn_edge* mgn_get_quad_edge(const mgn_quad* quad, int i) {
  mgn_edge* edge = mgn_get_node_edge(quad->n[i], quad->n[(i + 1) % 4]);
  if (edge == nullptr) {
    mgn_note_partial_quad(const_cast<mgn_quad*>(quad));
    edge_not_found(__func__, __LINE__);
  }
  return edge;
}

mgn_edge* mgn_get_tetra_edge(const mgn_tetra* tetra, int i) {
  mgn_edge* edge = mgn_get_node_edge(tetra->n[mgn_tetra_edge_nodes[i][0]], tetra->n[mgn_tetra_edge_nodes[i][1]]);
  if (edge == nullptr) {
    mgn_note_partial_tetra(const_cast<mgn_tetra*>(tetra));
    edge_not_found(__func__, __LINE__);
  }
  return edge;
}

mgn_edge* mgn_get_pyram_edge(const mgn_pyram* pyram, int i) {
  mgn_edge* edge = mgn_get_node_edge(pyram->n[mgn_pyram_edge_nodes[i][0]], pyram->n[mgn_pyram_edge_nodes[i][1]]);
  if (edge == nullptr) {
    mgn_note_partial_pyram(const_cast<mgn_pyram*>(pyram));
    edge_not_found(__func__, __LINE__);
  }
  return edge;
}

mgn_edge* mgn_get_wedge_edge(const mgn_wedge* wedge, int i) {
  mgn_edge* edge = mgn_get_node_edge(wedge->n[mgn_wedge_edge_nodes[i][0]], wedge->n[mgn_wedge_edge_nodes[i][1]]);
  if (edge == nullptr) {
    mgn_note_partial_wedge(const_cast<mgn_wedge*>(wedge));
    edge_not_found(__func__, __LINE__);
  }
  return edge;
}

mgn_edge* mgn_get_hexa_edge(const mgn_hexa* hexa, int i) {
  mgn_edge* edge = mgn_get_node_edge(hexa->n[mgn_hexa_edge_nodes[i][0]], hexa->n[mgn_hexa_edge_nodes[i][1]]);
  if (edge == nullptr) {
    mgn_note_partial_hexa(const_cast<mgn_hexa*>(hexa));
    edge_not_found(__func__, __LINE__);
  }
  return edge;
}

// ---------------------------------------------------------------------------
// Measures
// ---------------------------------------------------------------------------

double mgn_get_tetra_shape_quality(const double* a, const double* b, const double* c, const double* d,
                                   double* volume) {
  const mgn_vec3 ab = mgn_sub(b, a), ac = mgn_sub(c, a), ad = mgn_sub(d, a);
  const mgn_vec3 bc = mgn_sub(c, b), bd = mgn_sub(d, b);
  const mgn_vec3 base = mgn_cross(ab, ac);
  const double v = mgn_dot(base, ad) / 6.0;
  if (volume != nullptr) *volume = v;
  if (!(v > mgn_tol.eps3)) return 0.0;
  const double s = 0.5 * (mgn_norm(base) + mgn_norm(mgn_cross(ab, ad)) + mgn_norm(mgn_cross(ac, ad)) +
                          mgn_norm(mgn_cross(bc, bd)));
  return 374.1229744 * v * v / (s * s * s);
}

double mgn_get_tetra_boundary_quality(const mgn_tetra* tetra, double* volume) {
  const double* p0 = tetra->n[0]->xyz;
  mgn_vec3 base = mgn_cross(mgn_sub(tetra->n[1]->xyz, p0), mgn_sub(tetra->n[2]->xyz, p0));
  double base_length = mgn_norm(base);
  double area = 0.5 * base_length;
  if (area <= mgn_tol.eps2 || base_length == 0.0) {
    if (volume != nullptr) *volume = 0.0;
    if (tetra->id == -1) return 0.0;
    mgn_note_partial_tetra(const_cast<mgn_tetra*>(tetra));
    mgn_manipulation_error("Zero area face of tetra detected", MGN_HERE);
  }
  double v = area * mgn_dot(mgn_sub(tetra->n[3]->xyz, p0), base) / base_length / 3.0;
  if (volume != nullptr) *volume = v;
  if (v <= mgn_tol.eps3) return 0.0;
  double s = area;
  for (int f = 1; f < 4; ++f) s += 0.5 * mgn_norm(tetra_face_cross(tetra, f));
  return 374.1229744 * v * v / (s * s * s);
}

double mgn_get_tetra_angle_quality(const mgn_tetra* tetra, double angles[6], double* min_angle,
                                   double* max_angle) {
  mgn_vec3 normal[4];
  double length[4];
  for (int f = 0; f < 4; ++f) {
    normal[f] = tetra_face_cross(tetra, f);
    length[f] = mgn_norm(normal[f]);
  }
  double smallest = MGN_PI;
  double largest = 0.0;
  if (0.5 * length[0] <= mgn_tol.eps2 || length[0] == 0.0) {
    if (tetra->id != -1) {
      mgn_note_partial_tetra(const_cast<mgn_tetra*>(tetra));
      mgn_manipulation_error("Zero area face of tetra detected", MGN_HERE);
    }
  } else if (length[1] >= mgn_tol.eps && length[2] >= mgn_tol.eps && length[3] >= mgn_tol.eps) {
    for (int e = 0; e < 6; ++e) {
      const mgn_vec3& a = normal[mgn_tetra_edge_faces[e][0]];
      const mgn_vec3& b = normal[mgn_tetra_edge_faces[e][1]];
      double c = -mgn_dot(a, b) / (length[mgn_tetra_edge_faces[e][0]] * length[mgn_tetra_edge_faces[e][1]]);
      double angle = std::acos(std::clamp(c, -1.0, 1.0));
      if (angles != nullptr) angles[e] = angle;
      smallest = std::min(smallest, angle);
      largest = std::max(largest, angle);
    }
    if (min_angle != nullptr) *min_angle = smallest;
    if (max_angle != nullptr) *max_angle = largest;
    return largest > 0.0 ? smallest / largest : 0.0;
  }
  if (angles != nullptr) std::fill(angles, angles + 6, 0.0);
  if (min_angle != nullptr) *min_angle = 0.0;
  if (max_angle != nullptr) *max_angle = 0.0;
  return 0.0;
}

// ---------------------------------------------------------------------------
// Noting records for the partial output
// ---------------------------------------------------------------------------

void mgn_note_partial_entity(int kind, void* entity) {
  if (entity == nullptr) return;
  switch (kind) {
    case MGN_VERTEX: mgn_note_partial_vertex(static_cast<mgn_vertex*>(entity)); break;
    case MGN_CURVE: mgn_note_partial_curve(static_cast<mgn_curve*>(entity)); break;
    case MGN_SURFACE: mgn_note_partial_surface(static_cast<mgn_surface*>(entity)); break;
    case MGN_REGION: mgn_note_partial_region(static_cast<mgn_region*>(entity)); break;
    case MGN_PATCH: mgn_note_partial_patch(static_cast<mgn_patch*>(entity)); break;
    case MGN_SHELL: mgn_note_partial_shell(static_cast<mgn_shell*>(entity)); break;
    case MGN_INTERFACE: mgn_note_partial_interface(static_cast<mgn_interface*>(entity)); break;
    default: break;
  }
}

void mgn_note_partial_node(mgn_node* node) {
  if (node == nullptr) return;
  mgn_note_record(mgn_noted.nodes, node);
  mgn_note_partial_entity(node->kind, node->entity);
}

void mgn_note_partial_edge(mgn_edge* edge) {
  if (edge == nullptr) return;
  mgn_note_record(mgn_noted.edges, edge);
  mgn_note_partial_entity(edge->kind, edge->entity);
  for (mgn_node* node : edge->n) mgn_note_partial_node(node);
}

void mgn_note_partial_face(mgn_face* face) {
  if (face == nullptr) return;
  mgn_note_record(mgn_noted.faces, face);
  mgn_note_partial_entity(face->kind, face->entity);
  for (mgn_node* node : face->n) mgn_note_partial_node(node);
}

void mgn_note_partial_quad(mgn_quad* quad) {
  if (quad == nullptr) return;
  mgn_note_record(mgn_noted.quads, quad);
  mgn_note_partial_entity(quad->kind, quad->entity);
  for (mgn_node* node : quad->n) mgn_note_partial_node(node);
}

void mgn_note_partial_tetra(mgn_tetra* tetra) {
  if (tetra == nullptr) return;
  mgn_note_record(mgn_noted.tetras, tetra);
  mgn_note_partial_entity(MGN_REGION, tetra->region);
  for (mgn_node* node : tetra->n) mgn_note_partial_node(node);
}

void mgn_note_partial_pyram(mgn_pyram* pyram) {
  if (pyram == nullptr) return;
  mgn_note_record(mgn_noted.pyrams, pyram);
  mgn_note_partial_entity(MGN_REGION, pyram->region);
  for (mgn_node* node : pyram->n) mgn_note_partial_node(node);
}

void mgn_note_partial_wedge(mgn_wedge* wedge) {
  if (wedge == nullptr) return;
  mgn_note_record(mgn_noted.wedges, wedge);
  mgn_note_partial_entity(wedge->kind, wedge->entity);
  for (mgn_node* node : wedge->n) mgn_note_partial_node(node);
}

void mgn_note_partial_hexa(mgn_hexa* hexa) {
  if (hexa == nullptr) return;
  mgn_note_record(mgn_noted.hexas, hexa);
  mgn_note_partial_entity(hexa->kind, hexa->entity);
  for (mgn_node* node : hexa->n) mgn_note_partial_node(node);
}
