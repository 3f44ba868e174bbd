// Shared records of mgn: the global settings, the run state, the containers,
// the model entities, and (added by their modules) the mesh and octree records
// and the compile-time limits.  Every module includes this header.
//
// Sections, each owned by one module; keep additions inside the section of
// the module that owns the record:
//   1. compile-time limits and small shared types
//   2. containers (list)
//   3. settings and run state (options, mgn)
//   4. model entities (input..., vertex, curve, surface, ...; geometric fields
//      read by bezier)
//   5. octree (octree)
//   6. mesh records (element)
#ifndef MGN_RECORDS_H
#define MGN_RECORDS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// An entity's identifier as the long that messages print.
template <typename Entity>
inline long mgn_lid(const Entity* entity) {
  return static_cast<long>(entity->id);
}

// ---------------------------------------------------------------------------
// 1. Compile-time limits and small shared types
// ---------------------------------------------------------------------------

constexpr int MGN_MAX_ORDER = 16;          // highest curve and surface order
constexpr std::size_t MGN_MAX_NAME = 512;  // longest file name accepted

// Entity kind codes; the key printed in mesh files is the code plus 1.
enum mgn_kind : int {
  MGN_VERTEX = 0,
  MGN_CURVE = 1,
  MGN_SURFACE = 2,
  MGN_REGION = 3,
  MGN_PATCH = 4,
  MGN_SHELL = 5,
  MGN_INTERFACE = 6
};
constexpr int MGN_KINDS = 7;

// ---------------------------------------------------------------------------
// 2. Containers
// ---------------------------------------------------------------------------

// Singly linked list item; a list is a pointer to its first item (null: empty).
struct mgn_list_item {
  void* object;
  mgn_list_item* next;
};
using mgn_list = mgn_list_item*;

// Doubly linked list with a current position.
struct mgn_bilist_item {
  void* object;
  mgn_bilist_item* prev;
  mgn_bilist_item* next;
};
struct mgn_bilist {
  mgn_bilist_item* current = nullptr;
  mgn_bilist_item* head = nullptr;
  mgn_bilist_item* tail = nullptr;
};

// One block of a listing: a chain of fixed-size record arrays handed out in
// order.  A listing is referred to by one of its blocks, normally the last.
struct mgn_listing {
  char* base;            // record array
  char* last;            // last record slot: base + (capacity - 1) * size
  char* next_free;       // next free slot, null when the block is full
  mgn_listing* next;     // following block
  mgn_listing* prev;     // preceding block
  std::size_t size;      // record size in bytes
  std::size_t capacity;  // capacity in records
  std::size_t bytes;     // bytes of the record array
};

// Records of one type reached by a 32-bit number in place of a reference:
// the records come from a listing whose blocks all hold
// MGN_NUMBERED_BLOCK of them (so the listing's memory stays counted), and
// the base of each block is kept, so number k lies at
// blocks[k >> MGN_NUMBERED_BLOCK_BITS] + (k & (MGN_NUMBERED_BLOCK - 1)).
// The first block of numbers is never handed out and has a null base: number
// 0 stands for "none" and leads to a null record without a test.  Records do
// not move and are not recycled before the store is reset.
constexpr int MGN_NUMBERED_BLOCK_BITS = 10;
constexpr uint32_t MGN_NUMBERED_BLOCK = uint32_t{1} << MGN_NUMBERED_BLOCK_BITS;
constexpr uint32_t MGN_NUMBERED_FIRST = MGN_NUMBERED_BLOCK;  // the first number handed out
struct mgn_numbered_listing {
  mgn_listing* listing = nullptr;
  // Base of each block, in order; the first, for the numbers below
  // MGN_NUMBERED_FIRST, is null even while the store is empty.
  std::vector<char*> blocks{nullptr};
  std::size_t size = 0;       // bytes per record
  uint32_t count = 0;         // the next number to hand out
};

// ---------------------------------------------------------------------------
// 3. Settings (one record per process) and run state
// ---------------------------------------------------------------------------

struct mgn_settings {
  std::string input_file_name;
  std::string output_file_name;
  std::string log_file_name;
  std::string bg_mesh_file_name;
  std::string binary_file_name;
  std::string graphics_file_name;
  // vertices, curves, surfaces, patches, shells, regions, interfaces
  std::array<long, 7> entity_counts{};
  std::array<long, 2> numbering_shift{};
  int renumbering_type = 0;
  int smoothing_type = 0;
  int element_degree = 1;
  int output_spec = 0;
  int quality_report = 1;
  int graphics_type = 0;
  int graphics_spec = 0;
  double default_size = 0.0;
  double uniform_size = 0.0;
  double size_factor = 1.0;
  double bg_size_factor = 1.0;
  double curvature_rate = 1.0;
  double curvature_factor = 1.0;
  double curve_density = 1.0;
  double user_epsilon = 1e-5;
  long listing_size = 1000;
  long hash_table_size = 100;
  double root_octant_size = 0.0;
  std::array<double, 3> root_octant_origin{};
  bool root_origin_given = false;
  double octant_excess = 1.0;
  double transition_f2c = 1.5;
  double transition_c2f = 1.5;
  bool quiet = false;
  bool warnings_suppressed = false;
  bool include_virtual = false;
  bool curvature_violation = false;
  bool boundary_conforming = false;
  bool default_bassoc_output = true;
  bool nodal_smoothing = true;
  bool store_options_in_binary = false;
  bool quad_hexa_support = true;
  bool convexity_check = false;
};

// Record counters printed at the end of a run: finite-element records and
// records created in total, per kind.
struct mgn_record_count {
  long fe = 0;
  long total = 0;
};

// Process-wide state of one run.
struct mgn_run_state {
  double start_time = 0.0;
  bool model_not_yet_read = true;
  long run_counter = 0;
  bool octree_built = false;
  bool discretization_done = false;
  bool renumbering_done = false;
  bool discretization_under_way = false;
  mgn_record_count nodes, edges, trias, quads, tetras, pyrams, wedges, hexas;
  double profile_old = 0.0;  // nominal profile before renumbering
  double profile_new = 0.0;  // and after
  // Program version printed by -ver; a restored binary model file replaces
  // it with the version that wrote the file.
  int version_major = 1;
  int version_minor = 2;
};

// Geometric tolerances: eps is the geometric tolerance (with its square and
// cube as area and volume tolerances), user_eps the working user epsilon.
struct mgn_tolerances {
  double eps = 1e-5;
  double eps2 = 1e-10;
  double eps3 = 1e-15;
  double user_eps = 1e-5;
  double user_eps2 = 1e-10;
  double user_eps3 = 1e-15;
  double relative = 1e-14;  // fixed relative tolerance
};

// The few process-wide values of the program, grouped in one place.
extern mgn_settings mgn_set;      // command-line settings
extern mgn_run_state mgn_run;     // run state and closing statistics
extern mgn_tolerances mgn_tol;    // geometric tolerances

// ---------------------------------------------------------------------------
// 4. Model entities
// ---------------------------------------------------------------------------

struct mgn_vertex;
struct mgn_curve;
struct mgn_surface;
struct mgn_patch;
struct mgn_shell;
struct mgn_region;
struct mgn_interface;

// Storage of the entities of one kind.  The model list holds the records in
// input order once reading has ended (they are added at the head while the
// file is read); the record with identifier i is also in bucket
// (i - 1) mod bucket_count, where the bucket count starts as the hash table
// size (-T) and doubles whenever there are more than two records per bucket;
// with an entity count N given on the command line the record with
// identifier i is also slot i - 1.
struct mgn_entity_store {
  mgn_list list = nullptr;
  mgn_list* buckets = nullptr;   // bucket_count lists (null before the store is prepared)
  long bucket_count = 0;
  void** slots = nullptr;        // slot_count records by identifier - 1
  long slot_count = 0;
  long count = 0;                // definitions read
};

// The model: one store per entity kind.
struct mgn_model_store {
  mgn_entity_store vertices, curves, surfaces, regions, patches, shells, interfaces;
};
extern mgn_model_store mgn_model;

// Control point: position, homogeneous weight and attached mesh size.
struct mgn_ctrl_point {
  double xyz[3] = {0.0, 0.0, 0.0};
  double w = 1.0;
  float size = 0.0f;
};

// Mesh of one model entity, kept by the mesh store (src/element): listings of
// references to the records the entity owns and, per kind, the number of its
// records and the number including retired ones.  Every entity record ends
// with one of these, named mesh.
struct mgn_node;
struct mgn_entity_mesh {
  mgn_listing* nodes = nullptr;
  mgn_listing* edges = nullptr;
  mgn_listing* faces = nullptr;
  mgn_listing* quads = nullptr;
  mgn_listing* tetras = nullptr;
  mgn_listing* pyrams = nullptr;
  mgn_listing* wedges = nullptr;
  mgn_listing* hexas = nullptr;
  int32_t node_count = 0, node_total = 0;
  int32_t edge_count = 0, edge_total = 0;
  int32_t face_count = 0, face_total = 0;
  int32_t quad_count = 0, quad_total = 0;
  int32_t tetra_count = 0, tetra_total = 0;
  int32_t pyram_count = 0, pyram_total = 0;
  int32_t wedge_count = 0, wedge_total = 0;
  int32_t hexa_count = 0, hexa_total = 0;
  mgn_node* node = nullptr;  // the node of a vertex (or the one stored on a curve)
  bool discretized = false;
  bool collected = false;    // node and element listings moved to the global ones
};

// Model entity records.  Flags are 0/1 values held as bool; identifiers,
// properties and counts are 32-bit; orders 16-bit; sizes, rates, densities,
// factors and angles single precision; coordinates, weights and parameters
// double.  Records are filled by the input parsers and the model checks and
// read by the geometry kernel (src/bezier, src/project, src/geom); the
// meshing modules add their own fields at the end of each record.

// Vertex: a point of the model; it owns one control point, shared as the end
// point of every curve polygon that ends at the vertex.
struct mgn_vertex {
  int32_t id = 0;
  int32_t property = 0;
  float size = 0.0f;    // effective mesh size: control point size x factor
  float factor = 1.0f;
  bool slave = false, master = false, fixed = false, hidden = false, is_virtual = false;
  bool output_requested = false;
  bool output = true;
  mgn_ctrl_point* ctrl_point = nullptr;
  mgn_vertex* parent_vertex = nullptr;
  mgn_curve* parent_curve = nullptr;
  mgn_surface* parent_surface = nullptr;
  double param[2] = {0.0, 0.0};  // t on the parent curve, or (u, v) on the parent surface
  double* xyz = nullptr;         // position: ctrl_point->xyz
  mgn_list fixed_vertices = nullptr;       // vertices fixed to this vertex
  mgn_list coinciding_vertices = nullptr;
  // Set on the vertices of physical curves and on their top physical
  // parents; the curves ending at a top physical parent are listed there.
  bool bounds_curve = false;
  mgn_list curves = nullptr;
  // Curve discretization: the interval count prescribed for the piece of
  // curve that ends at the vertex (0 none, n > 0 spaced by the size, n < 0
  // spaced equally by length), consumed by that piece; and the exemption of
  // the vertex from the too-close test of a prescribed count.
  int32_t prescribed_count = 0;
  bool close_exempt = false;
  // Whole-mesh passes: the vertex hiding pass moved the node of this
  // vertex (a vertex with a hiding request inside merged faces).
  bool is_hidden = false;
  mgn_region* localized_region = nullptr;  // region the vertex is fixed inside
  mgn_entity_mesh mesh;  // mesh store of the entity
};

// Curve: a rational Bezier curve of order 2..16 (the number of control
// points) over t in [0, 1], from vertex[0] to vertex[1].
struct mgn_curve {
  int32_t id = 0;
  int32_t property = 0;
  int16_t order = 2;
  // Order of the underlying root geometry (inherited from a parent curve or
  // surface); it bounds the subdivision depth of the length integration, the
  // global searches and the curve discretization.
  int16_t shape_order = 2;
  float size = 0.0f;
  float rate = 0.0f;             // curvature rate
  float density = 1.0f;
  float factor = 1.0f;
  float smear_angle = 0.70710677f;  // negated cosines of the angles
  float swap_angle = 0.70710677f;
  bool slave = false, master = false, fixed = false, hidden = false;
  bool swap = false, smear = false, is_virtual = false;
  bool reversed = false;     // runs against its parent curve: t is read as 1 - t
  bool equidistant = false;
  bool output_requested = false;
  bool output = true;
  bool bassoc = true;        // boundary-association output
  int32_t count = 0;         // requested number of elements (0: automatic)
  std::vector<float> polysize;   // sizes of the inner control points of a fixed curve
  float f2c = 1.5f, c2f = 1.5f;  // transition factors
  mgn_vertex* vertex[2] = {nullptr, nullptr};
  // Fixation to a parent curve: this curve is the piece [parent_t[0],
  // parent_t[1]] of the parent (t maps to t1 + t (t2 - t1)).
  mgn_curve* parent_curve = nullptr;
  double parent_t[2] = {0.0, 1.0};
  // Fixation to a parent surface: the (u, v) of the curve's two ends on it.
  mgn_surface* parent_surface = nullptr;
  double parent_uv[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
  mgn_curve* duplicated = nullptr;
  mgn_curve* mirrored = nullptr;
  bool weak_mirror = false;
  bool left_used = false, right_used = false;  // sides bounding a patch or shell
  // Geometry state.
  bool collapsed = false;      // degenerate to a single point
  bool straight = false;       // set by the straightness test
  double direction[3] = {0.0, 0.0, 0.0};  // unit direction of a straight curve
  // Control polygon slots: slot k holds the polygon of the curve raised to
  // order + k (order + k control points; the first and last are the control
  // points of vertex[0] and vertex[1]); slot 0 is the curve's own polygon,
  // higher slots are empty until created.
  std::vector<std::vector<mgn_ctrl_point*>> polygon;
  mgn_list fixed_curves = nullptr;      // curves fixed to this curve
  mgn_list fixed_vertices = nullptr;    // vertices fixed on this curve
  mgn_list coinciding_curves = nullptr;
  mgn_list surfaces = nullptr;          // surfaces bounded by this curve
  mgn_list patches = nullptr;
  mgn_list shells = nullptr;
  // Order with which the curve is meshed and sampled: order + 1 when a
  // polygon line gave a negative weight (from the parent for fixed curves).
  int16_t second_order = 2;
  double box[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};  // bounding box: min x, y, z, max x, y, z
  mgn_list duplicates = nullptr;  // the other curves of its duplication group
  // Curve discretization: the total length of its mesh edges, whether it was
  // meshed in pieces between fixed vertices, and the mark of a curve whose
  // meshing is under way (guards the mirror recursion).
  float edge_length = 0.0f;
  bool fixed_split = false;
  bool meshing = false;
  // Whole-mesh passes: the curve was hidden (its nodes smoothed into the two
  // faces that meet there, its edges no longer output), or its two faces
  // were found flat enough for edges to be swapped across it.
  bool is_hidden = false;
  bool swapped = false;
  mgn_region* localized_region = nullptr;  // region the curve is fixed inside
  mgn_entity_mesh mesh;  // mesh store of the entity
};

// Surface: a rational tensor-product Bezier patch of orders order_u x order_v
// over (u, v) in [0, 1]^2.  Sides and corners:
//   side 0: v = 0, t -> (t, 0)     side 1: u = 0, t -> (0, t)
//   side 2: v = 1, t -> (t, 1)     side 3: u = 1, t -> (1, t)
// with t replaced by 1 - t when reversed[side] is set; corner vertex k lies at
// (0,0), (0,1), (1,1), (1,0) for k = 0..3 and is shared by sides k and k+1.
struct mgn_surface {
  int32_t id = 0;
  int32_t property = 0;
  int16_t order_u = 2, order_v = 2;
  // Shape orders: u the larger of sides 0 and 2, v the larger of sides 1 and 3.
  int16_t shape_order_u = 2, shape_order_v = 2;
  float size = 0.0f;
  float rate = 0.0f;
  float factor = 1.0f;
  bool hole = false, hidden = false, is_virtual = false;
  bool output_requested = false;
  bool output = true;
  bool bassoc = true;
  // Regions using the two sides: inner is the side Su x Sv points to
  // (a positive identifier in a region's boundary list), outer the other.
  mgn_region* inner_region = nullptr;
  mgn_region* outer_region = nullptr;
  mgn_region* localized_region = nullptr;  // region the surface is fixed inside
  mgn_vertex* vertex[4] = {nullptr, nullptr, nullptr, nullptr};
  mgn_curve* curve[4] = {nullptr, nullptr, nullptr, nullptr};
  bool reversed[4] = {false, false, false, false};  // side runs against its curve
  // Fixation to a parent surface: this surface is the parameter range
  // [umin, umax] x [vmin, vmax] of the parent.
  mgn_surface* parent_surface = nullptr;
  double umin = 0.0, vmin = 0.0, umax = 1.0, vmax = 1.0;
  mgn_list fixed_vertices = nullptr;
  mgn_list fixed_curves = nullptr;
  mgn_list child_surfaces = nullptr;
  mgn_list attractions = nullptr;
  mgn_list coinciding_surfaces = nullptr;
  mgn_list coinciding_patches = nullptr;
  mgn_list coinciding_shells = nullptr;
  // A planar surface (for example the background surface of a patch) keeps
  // one unit normal that replaces the evaluated normal.
  bool planar = false;
  double normal[3] = {0.0, 0.0, 0.0};
  // Control net: order_u x order_v control points, u index fastest (point
  // (i, j) at j * order_u + i); boundary rows and columns are the side
  // polygons at the surface orders.
  std::vector<mgn_ctrl_point*> net;
  // Meshing requests.
  bool quad = false, map = false, equidistant = false, slave = false;
  int16_t diagonal = 0;  // 0 none, 1 positive, -1 negative, 2 point
  double diagonal_point[3] = {0.0, 0.0, 0.0};
  mgn_curve* lcs[2] = {nullptr, nullptr};
  mgn_surface* duplicated = nullptr;
  mgn_surface* mirrored = nullptr;
  bool weak_mirror = false;
  float global_attraction = 0.0f;
  mgn_entity_mesh mesh;  // mesh store of the entity
};

// Attraction item of a surface, patch or shell: the factor (given value + 1)
// by which the listed vertices (kind 0) or curves (kind 1) attract the mesh.
struct mgn_attraction {
  float factor = 1.0f;
  int32_t kind = 0;
  mgn_list entities = nullptr;
};

// Patch: a planar face bounded by loops of curves, each used from its left
// side (positive identifier in the input) or its right side (negative).
struct mgn_patch {
  int32_t id = 0;
  int32_t property = 0;
  double normal[3] = {0.0, 0.0, 0.0};  // unit plane normal
  double origin[3] = {0.0, 0.0, 0.0};
  bool origin_given = false;
  mgn_list left_curves = nullptr;      // boundary curves used from their left side
  mgn_list right_curves = nullptr;     // and from their right side
  mgn_list subpatches = nullptr;
  mgn_list fixed_vertices = nullptr;
  mgn_list fixed_curves = nullptr;
  float size = 0.0f;
  float factor = 1.0f;
  bool hole = false, hidden = false, is_virtual = false;
  bool output_requested = false;
  bool output = true;
  bool bassoc = true;
  mgn_region* inner_region = nullptr;  // regions using the two sides
  mgn_region* outer_region = nullptr;
  mgn_region* localized_region = nullptr;  // region the patch is fixed inside
  mgn_surface* bg_surface = nullptr;   // background surface built for meshing
  double epsilon = 0.0;                // own tolerance of the planarity checks
  bool epsilon_given = false;
  // Set by the planarity check: a vertex or curve of the patch lies off
  // its plane by more than the internal tolerance (but within EPSILON).
  bool nonplanar = false;
  bool iso = false;
  double iso_direction[3] = {0.0, 0.0, 0.0};
  bool iso_direction_given = false;
  mgn_list attractions = nullptr;
  float global_attraction = 0.0f;
  mgn_list coinciding_surfaces = nullptr;
  mgn_list coinciding_patches = nullptr;
  mgn_list coinciding_shells = nullptr;
  // Meshing requests.
  bool quad = false, map = false, equidistant = false, slave = false;
  int16_t diagonal = 0;  // 0 none, 1 positive, -1 negative, 2 point
  double diagonal_point[3] = {0.0, 0.0, 0.0};
  mgn_curve* lcs[2] = {nullptr, nullptr};
  mgn_patch* duplicated = nullptr;
  mgn_patch* mirrored = nullptr;
  bool weak_mirror = false;
  mgn_entity_mesh mesh;  // mesh store of the entity
};

// Shell: a trimmed piece of a background surface bounded by loops of curves
// used from their left or right side, as for patches.
struct mgn_shell {
  int32_t id = 0;
  int32_t property = 0;
  mgn_surface* bg_surface = nullptr;   // the surface on which the shell lies
  mgn_list left_curves = nullptr;
  mgn_list right_curves = nullptr;
  mgn_list subshells = nullptr;
  mgn_list fixed_vertices = nullptr;
  mgn_list fixed_curves = nullptr;
  float size = 0.0f;
  float rate = 0.0f;
  float factor = 1.0f;
  bool hole = false, hidden = false, is_virtual = false;
  bool output_requested = false;
  bool output = true;
  bool bassoc = true;
  mgn_region* inner_region = nullptr;
  mgn_region* outer_region = nullptr;
  mgn_region* localized_region = nullptr;  // region the shell is fixed inside
  mgn_list attractions = nullptr;
  float global_attraction = 0.0f;
  mgn_list coinciding_surfaces = nullptr;
  mgn_list coinciding_patches = nullptr;
  mgn_list coinciding_shells = nullptr;
  // Meshing requests.
  bool quad = false, map = false, equidistant = false, slave = false;
  int16_t diagonal = 0;
  double diagonal_point[3] = {0.0, 0.0, 0.0};
  mgn_curve* lcs[2] = {nullptr, nullptr};
  mgn_shell* duplicated = nullptr;
  mgn_shell* mirrored = nullptr;
  bool weak_mirror = false;
  mgn_entity_mesh mesh;  // mesh store of the entity
};

// Region: a volume bounded by surfaces, patches and shells, each used from
// its inner side (positive identifier in the input) or its outer side.
struct mgn_region {
  int32_t id = 0;
  int32_t property = 0;
  mgn_list inner_surfaces = nullptr, outer_surfaces = nullptr;
  mgn_list inner_patches = nullptr, outer_patches = nullptr;
  mgn_list inner_shells = nullptr, outer_shells = nullptr;
  mgn_list subregions = nullptr;
  mgn_list fixed_vertices = nullptr;
  mgn_list fixed_curves = nullptr;
  mgn_list fixed_surfaces = nullptr;
  mgn_list fixed_patches = nullptr;
  mgn_list fixed_shells = nullptr;
  float size = 0.0f;
  float factor = 1.0f;
  bool hole = false, is_virtual = false;
  bool output_requested = false;
  bool output = true;
  // Structured meshing requests.
  bool hexa = false, map = false, iso = false, extrude = false, weak_extrude = false;
  bool equidistant = false;
  double iso_direction[2][3] = {{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};
  mgn_curve* lcs[3] = {nullptr, nullptr, nullptr};
  void* extrude_base = nullptr;         // surface, patch or shell
  int32_t extrude_base_kind = -1;       // its kind code
  // Region meshing: the volume enclosed by the boundary triangulation
  // (reference), replaced by the sum of the element volumes once the front
  // closed.
  float volume = 0.0f;
  mgn_entity_mesh mesh;  // mesh store of the entity
};

// Interface: joins two coincident entities of one kind (kind code 0 vertex,
// 1 curve, 2 surface, 4 patch, 5 shell).
struct mgn_interface {
  int32_t id = 0;
  int32_t property = 0;
  int32_t kind = -1;
  void* entity[2] = {nullptr, nullptr};
  bool is_virtual = false, weak = false, element_free = false;
  bool output_requested = false;
  bool output = true;
  mgn_entity_mesh mesh;  // mesh store of the entity
};

// ---------------------------------------------------------------------------
// 5. Octree
// ---------------------------------------------------------------------------

// Largest number of octants one neighbourhood query may return.
constexpr int MGN_OCTANTS = 100;

struct mgn_node;
struct mgn_octant;

// Octant states.
enum mgn_octant_state : int32_t {
  MGN_OCTANT_DIVIDED = 1,       // internal octant with eight children
  MGN_OCTANT_EMPTY = 2,         // leaf without nodes
  MGN_OCTANT_REGION_NODES = 3,  // leaf holding only region nodes (kind 3)
  MGN_OCTANT_NODES = 4          // leaf holding at least one other node
};

// Octant: a cube of the octree.  Child and corner k lies at origin + size x
// (bit 0 of k, bit 1 of k, bit 2 of k).  A leaf has eight corner size
// records, shared with every octant meeting at the corner point, and holds
// the mesh nodes lying in it; a divided octant holds its eight children,
// made together as one sibling block (child k is children + k, see
// mgn_octant_child).  Face f of axis a (0 x, 1 y, 2 z) is a on the low side
// and 5 - a on the high side: 0 -x, 1 -y, 2 -z, 3 +z, 4 +y, 5 +x; the
// opposite of face f is 5 - f.  Neighbours across faces are not stored: they
// are found by walking the tree (mgn_get_octant_neighbour).  The corners are
// numbers of records of the tree's corner store, held once per sibling block
// for the points the eight siblings share (mgn_octant_corner), which keeps
// the record at 56 bytes with its parent and origin inside.
struct mgn_octant {
  int16_t state;        // mgn_octant_state
  int16_t index;        // its place in its sibling block (child index; 0 for the root)
  float size;           // edge length: always a single-precision value, so
                        // it is held as one (it reads back as the same double)
  mgn_octant* parent;   // null for the root
  mgn_list nodes;       // mgn_node* of a leaf (empty for divided octants)
  double origin[3];     // corner with the smallest x, y, z
  mgn_octant* children; // divided: the first of the eight children (null for a leaf)
};
static_assert(sizeof(mgn_octant) == 56, "an octant is held for about every triangle: keep it packed");

// The eight children of an octant, made together, and the numbers of the
// corner size records at the 3 x 3 x 3 grid of points they share (index
// x + 3 y + 9 z, in units of a child's size): corner m of child k is grid
// point (bit 0 of k + bit 0 of m, bit 1 of k + bit 1 of m, bit 2 + bit 2).
// The root sits alone in a block of its own, as child 0.  Sharing the grid
// costs 108 bytes per eight octants, against 32 bytes per octant for eight
// numbers of its own.
struct mgn_octant_block {
  uint32_t corners[27];
  uint32_t unused;
  mgn_octant octants[8];
};

// The corner size records of the tree: single-precision values numbered
// from 0, held in chunks that never move, so that a record's address stays
// valid while the store grows.
constexpr int MGN_CORNER_CHUNK_BITS = 14;
constexpr uint32_t MGN_CORNER_CHUNK = uint32_t{1} << MGN_CORNER_CHUNK_BITS;
struct mgn_corner_store {
  std::vector<std::unique_ptr<float[]>> chunks;
  uint32_t count = 0;
};

// The octree of a run: root, root box, depth limits, octant count, the
// record pools, and the model box measured before the root was created.
struct mgn_octree {
  mgn_octant* root = nullptr;
  double root_min[3] = {0.0, 0.0, 0.0};  // root box
  double root_max[3] = {0.0, 0.0, 0.0};
  double root_size = 0.0;                // R
  int16_t max_depth = 0;                 // D
  double min_size = 0.0;                 // R / 2^D
  long octant_count = 0;
  // Record pools: the root's block, the blocks of eight children, the
  // corner sizes, and the list cells of the leaves' node lists with the
  // chain of cells given back (reused first).
  mgn_listing* octants = nullptr;
  mgn_listing* children = nullptr;
  mgn_corner_store corners;
  mgn_listing* node_cells = nullptr;
  mgn_list_item* free_cells = nullptr;
  // Model box and model size (its largest extent).
  double model_min[3] = {0.0, 0.0, 0.0};
  double model_max[3] = {0.0, 0.0, 0.0};
  double model_size = 0.0;
};
extern mgn_octree mgn_tree;

// Child k of a divided octant.
inline mgn_octant* mgn_octant_child(const mgn_octant* octant, int k) { return octant->children + k; }

// The sibling block of an octant.
inline mgn_octant_block* mgn_octant_block_of(const mgn_octant* octant) {
  const mgn_octant* first = octant - octant->index;
  return reinterpret_cast<mgn_octant_block*>(const_cast<char*>(reinterpret_cast<const char*>(first)) -
                                             offsetof(mgn_octant_block, octants));
}

// The grid point of corner m of child k in a sibling block, and the same
// as a table (mgn_block_grid[k][m]) for the lookups of the size queries.
constexpr int mgn_block_grid_point(int k, int m) {
  return (k & 1) + (m & 1) + 3 * (((k >> 1) & 1) + ((m >> 1) & 1)) + 9 * (((k >> 2) & 1) + ((m >> 2) & 1));
}
struct mgn_block_grid_table {
  uint8_t point[8][8];
};
constexpr mgn_block_grid_table mgn_make_block_grid() {
  mgn_block_grid_table table{};
  for (int k = 0; k < 8; ++k)
    for (int m = 0; m < 8; ++m) table.point[k][m] = static_cast<uint8_t>(mgn_block_grid_point(k, m));
  return table;
}
inline constexpr mgn_block_grid_table mgn_block_grid = mgn_make_block_grid();

// The number of the size record at corner k of a leaf, and the record
// itself (shared with the leaves that meet there).
inline uint32_t mgn_octant_corner_number(const mgn_octant* octant, int k) {
  return mgn_octant_block_of(octant)->corners[mgn_block_grid.point[octant->index][k]];
}
inline float* mgn_corner_record(uint32_t number) {
  return mgn_tree.corners.chunks[number >> MGN_CORNER_CHUNK_BITS].get() + (number & (MGN_CORNER_CHUNK - 1));
}
inline float* mgn_octant_corner(const mgn_octant* octant, int k) {
  return mgn_corner_record(mgn_octant_corner_number(octant, k));
}


// ---------------------------------------------------------------------------
// 6. Mesh records
// ---------------------------------------------------------------------------

struct mgn_octant;
struct mgn_edge;
struct mgn_face;

// Capacity limits of the region mesher: the largest neighbourhoods one step
// and one local remeshing may gather (reaching one ends the run with a
// message that names it).
constexpr int MGN_NEIGHBOUR_NODE = 200;   // candidate nodes of a step
constexpr int MGN_NEIGHBOUR_EDGE = 800;   // front edges near a step
constexpr int MGN_NEIGHBOUR_FACE = 500;   // front faces near a pyramid
constexpr int MGN_NEIGHBOUR_QUAD = 500;   // front quads near a pyramid
constexpr int MGN_OPPOSITE_NODE = 100;    // nodes behind a base face
constexpr int MGN_TETRA_NUMBER = 200;     // tetras of a local remeshing
constexpr int MGN_NODE_NUMBER = 400;      // nodes of a local remeshing
constexpr int MGN_EDGE_NUMBER = 400;      // edges of a local remeshing
constexpr int MGN_FACE_NUMBER = 400;      // faces of a local remeshing

// Element type codes, used by side cells and neighbour references.
enum mgn_elem_type : int8_t {
  MGN_ELEM_NONE = 0,
  MGN_ELEM_EDGE = 2,
  MGN_ELEM_FACE = 3,
  MGN_ELEM_QUAD = 4,
  MGN_ELEM_TETRA = 5,
  MGN_ELEM_PYRAM = 6,
  MGN_ELEM_WEDGE = 7,
  MGN_ELEM_HEXA = 8
};

// Mesh node.  id: node number (0 retired); kind and entity: the owning model
// entity.  parameters: t of a curve node, (u, v) of a surface, patch or shell
// node (a record of the parameter listings), or xyz itself for a vertex or
// region node.  octant: the leaf holding the node (after meshing, the master
// node of a slave node).  edges: the number (in mgn_mesh.edge_pool, 0 for
// none) of the first edge of the node's edge list, with edge_count edges;
// the list runs through the edges themselves (see mgn_edge::next), so it
// costs no list cells; walk it with mgn_node_edges.  The additional
// neighbours of the few nodes that have them (the diagonal nodes of quads)
// sit beside the records, in mgn_mesh.partners (read with
// mgn_node_partners).  A node is the most numerous record of a mesh after
// the edge: its fields are ordered to leave no padding (64 bytes).
struct mgn_node {
  int32_t id;
  int8_t kind;
  int8_t flags;          // MGN_NODE_... bits
  int16_t edge_count;
  uint32_t edges;
  int32_t front_count;   // front entities still using the node
  void* entity;
  void* aux;             // surface data while the entity is meshed
  double* parameters;
  double* xyz;
  mgn_octant* octant;
  float size;            // requested element size at the node
  int32_t work;          // scratch value of the pass that owns the node
};
static_assert(sizeof(mgn_node) == 64, "nodes are half as numerous as triangles: keep the record packed");
constexpr int8_t MGN_NODE_MIDSIDE = 1;   // midside node of a quadratic edge
constexpr int8_t MGN_NODE_APEX = 2;      // apex of a pyramid (smoothing leaves it)

// Surface data of a node of a surface, patch or shell while the entity is
// meshed (held in node->aux, a record of the surface scratch listing): the
// current parameters, the first derivatives, the unit normal, and the mark
// of a parameterization that is singular at the node (clipping failed or
// the derivatives vanish).  The node's parameters hold the saved copy of
// (u, v).
struct mgn_surface_data {
  double u, v;
  double su[3];
  double sv[3];
  double normal[3];
  int32_t singular;
};

// Faces beyond the first two and the quads using an edge (rare: a curve
// bounding three surfaces or more, quad meshes), the side slots of an edge
// that the surface front takes over from another entity (a curve edge):
// has_sides while that front holds them, and the midside node of an edge of
// a quadratic mesh (read through mgn_edge_mid).  Fields an edge seldom
// needs live here, so that the edge record stays small.
struct mgn_edge_more {
  mgn_list faces;
  mgn_list quads;
  mgn_face* sides[2];
  mgn_node* mid;
  bool has_sides;
};

// Mesh edge between n[0] and n[1].  next[k] continues the edge list of node
// n[k] (the number of the following edge, 0 at the end).  face: the first two triangles using the edge (null slots are
// free), more: the number of the record (in mgn_mesh.edge_more) with the
// further ones, the quads and the midside node of a quadratic mesh (0 when
// there are none); read them through mgn_edge_faces, mgn_edge_quads and
// mgn_edge_mid.  The side slots of the
// surface front (the face on each side, k = 0 on the left of n[0] -> n[1])
// are the face slots themselves for an edge the front creates (its two faces
// are the ones on its sides) and more->sides for an edge it takes over;
// free_sides: 0 when the edge is not on a front.  An edge is the most
// numerous record of a surface mesh (one and a half per triangle): its fields
// are ordered to leave no padding (64 bytes).
struct mgn_edge {
  int32_t id;
  int32_t work;
  void* entity;
  mgn_node* n[2];
  uint32_t next[2];
  mgn_face* face[2];
  uint32_t more;
  int16_t iso_type;
  int8_t free_sides;
  int8_t kind;
};
static_assert(sizeof(mgn_edge) == 64, "the edge record is the bulk of a surface mesh: keep it packed");

// The volume element on each side of a triangle or a quad bounding a region
// (type MGN_ELEM_NONE and null while the side is on a region front), and
// the neighbour table of the element.
struct mgn_element_extra {
  void* side[2];
  int8_t side_type[2];
  // Neighbour table (built when neighbour output is wanted): a chain of one
  // cell per side, side i from n[i] to n[i+1], each holding the element
  // across that side (null: none).
  mgn_list_item* ngb;
};

// Triangular face.  extra: the number of the record (in mgn_mesh.extras)
// with the side cells, created with the face when the owning entity bounds
// a region (has_sides), and the neighbour table; 0 while neither exists
// (read it through mgn_find_element_extra).  The record is the most
// numerous of a surface mesh after the edge: its fields are ordered to
// leave no padding (48 bytes).
struct mgn_face {
  int32_t id;
  int8_t kind;
  bool has_sides;
  int16_t iso_type;
  void* entity;
  mgn_node* n[3];
  uint32_t extra;
  int32_t work;          // scratch value of the mesher that owns the face
};
static_assert(sizeof(mgn_face) == 48, "the face record is the bulk of a surface mesh: keep it packed");

// Quad: four nodes in circuit order; side cells and neighbour table as for
// faces (72 bytes).
struct mgn_quad {
  int32_t id;
  int32_t kind;
  void* entity;
  mgn_node* n[4];
  void* word;
  uint32_t extra;
  bool has_sides;
  int8_t pad;
  int16_t iso_type;
  int16_t flags;
  int16_t pad2;
  int32_t work;
};

// Tetra of a region.  ngb[k]/ngb_type[k]: the element across the face
// opposite node k (filled by the neighbour tables).
struct mgn_tetra {
  int32_t id;
  int8_t ngb_type[4];
  mgn_region* region;
  mgn_node* n[4];
  void* ngb[4];
};

// Pyramid: base quad n[0..3] in circuit order, apex n[4].
struct mgn_pyram {
  int32_t id;
  int8_t ngb_type[5];
  int8_t pad[3];
  mgn_region* region;
  mgn_node* n[5];
  void* ngb[5];
};

// Wedge of a region (kind 3) or an interface (kind 6): triangle n[0..2] and
// the triangle n[3..5] above it.
struct mgn_wedge {
  int32_t id;
  int32_t kind;
  void* entity;
  mgn_node* n[6];
  void* ngb[5];
  int8_t ngb_type[5];
};

// Hexa (kind 3 or 6): quad n[0..3] and the quad n[4..7] above it.
struct mgn_hexa {
  int32_t id;
  int32_t kind;
  void* entity;
  mgn_node* n[8];
  void* ngb[6];
  int8_t ngb_type[6];
  int16_t iso_type;
};

// The mesh store of a run: record pools of every kind, the finite-element
// listings (references to the records that are output), the running
// identifier counters, and the work listings shared by the meshers.
struct mgn_mesh_store {
  // Record pools.
  mgn_listing* coordinates = nullptr;     // three doubles per node
  mgn_listing* surface_params = nullptr;  // (u, v) per surface node
  mgn_listing* curve_params = nullptr;    // t per curve node
  mgn_listing* cells = nullptr;           // list items (partner lists, further faces and
                                          // quads of edges, neighbour tables)
  mgn_numbered_listing edge_more;         // mgn_edge_more records
  mgn_numbered_listing extras;            // mgn_element_extra records
  mgn_listing* node_pool = nullptr;
  mgn_numbered_listing edge_pool;         // edges, reached by number from the
                                          // edge lists of nodes
  mgn_listing* face_pool = nullptr;
  mgn_listing* quad_pool = nullptr;
  mgn_listing* tetra_pool = nullptr;
  mgn_listing* pyram_pool = nullptr;
  mgn_listing* wedge_pool = nullptr;
  mgn_listing* hexa_pool = nullptr;
  // Finite-element listings (references).
  mgn_listing* fe_nodes = nullptr;
  mgn_listing* fe_edges = nullptr;
  mgn_listing* fe_faces = nullptr;
  mgn_listing* fe_quads = nullptr;
  mgn_listing* fe_tetras = nullptr;
  mgn_listing* fe_pyrams = nullptr;
  mgn_listing* fe_wedges = nullptr;
  mgn_listing* fe_hexas = nullptr;
  mgn_listing* midnodes = nullptr;        // references to midside nodes
  // Running identifier counters (the last identifier given).
  int32_t node_id = 0, edge_id = 0, face_id = 0, quad_id = 0;
  int32_t tetra_id = 0, pyram_id = 0, wedge_id = 0, hexa_id = 0;
  long midnode_count = 0;
  // Partner links between the diagonal nodes of quads are kept, and the
  // partners of each node that has some (list cells of the cell pool).
  bool keep_partners = false;
  std::unordered_map<const mgn_node*, mgn_list> partners;
  // Node order of the renumbering (references in new-number order), written
  // from its end when reverse is set; empty when the nodes go in listing
  // order.
  std::vector<mgn_node*> order;
  bool reverse = false;
};
extern mgn_mesh_store mgn_mesh;

// The partners of a node (null when it has none).
inline mgn_list mgn_node_partners(const mgn_node* node) {
  if (mgn_mesh.partners.empty()) return nullptr;
  const auto found = mgn_mesh.partners.find(node);
  return found != mgn_mesh.partners.end() ? found->second : nullptr;
}

#endif  // MGN_RECORDS_H
