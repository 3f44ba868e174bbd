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
#include <string>
#include <vector>

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

// Control point: position, homogeneous weight and attached mesh size.
struct mgn_ctrl_point {
  double xyz[3] = {0.0, 0.0, 0.0};
  double w = 1.0;
  float size = 0.0f;
};

// (Entity records are completed by the model input modules; the geometric
// fields read by the geometry kernel are described with each record.)

// ---------------------------------------------------------------------------
// 5. Octree
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// 6. Mesh records
// ---------------------------------------------------------------------------

#endif  // MGN_RECORDS_H
