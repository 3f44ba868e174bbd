// The model input file: the reader (physical and logical lines, tokens,
// comments, continuation lines), the number and string conversions, keyword
// tables with the duplicity rule, the top-level loop that dispatches every
// definition to the parser of its kind, and the steps run once the whole
// file has been read.
//
// The parsers of the entity kinds live in the module of each kind:
// mgn_input_vertex in src/vertex, mgn_input_curve and the polygon lines in
// src/curve, and so on.  They use only the routines declared here.
#ifndef MGN_INPUT_H
#define MGN_INPUT_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "list.h"
#include "message.h"
#include "records.h"

// State of the one reader of the model file.
struct mgn_input_state {
  FILE* stream = nullptr;        // open input file (null when none is open)
  std::string file_name;         // as used in messages
  long line_number = 0;          // raised before every physical line is read
  // Current physical line without its line end.  Tokens are handed out as
  // pointers into it, each terminated in place like strtok does; they stay
  // valid until the next physical line is read.
  std::string line;
  std::size_t position = 0;      // tokenizer position in line
  // Read buffer of the stream (lines of any length are assembled from it).
  std::vector<char> buffer;
  std::size_t buffer_begin = 0, buffer_end = 0;
  bool at_end = false;           // the stream has delivered its last byte

  // Model-wide flags gathered while reading.
  bool properties_seen = false;  // ELEMGROUP, NODEPROP or ELEMPROP met
  bool hidden_seen = false;      // a hidden curve, surface, patch or shell
  bool master_curve_seen = false;
  bool slave_curve_seen = false;
  bool swap_curve_seen = false;
  bool smear_curve_seen = false;

  // Entity under construction (kind code and record; null between
  // definitions) and the temporary list of coinciding entities kept by the
  // parsers (vertices or curves), so that everything in flight stays
// reachable.
  int building_kind = -1;
  void* building = nullptr;
  mgn_list coinciding = nullptr;
  // Shift of the definition being read, added to the coordinates of its
  // polygon lines.
  double shift[3] = {0.0, 0.0, 0.0};
};
extern mgn_input_state mgn_input;

// The place arguments of an input error raised by the calling routine:
//   mgn_input_error("Missing vertex id", MGN_INPUT_HERE);
#define MGN_INPUT_HERE MGN_HERE, mgn_input.file_name, mgn_input.line_number
// The same for a helper that reports on behalf of the named reading routine.
#define MGN_INPUT_AT(routine) (routine), mgn_module_name(__FILE__), __LINE__, mgn_input.file_name, mgn_input.line_number

// Reads the model from mgn_set.input_file_name into the model lists, closes
// the file and runs the post-reading steps.  Called once by the run
// sequence.
void mgn_build_model_from_file();

// Warnings and setting changes for what the model read cannot support
// (node and element properties, node data of quadratic meshes with hidden,
// master or slave curves, curve swapping and smearing), from the model-wide
// flags of the reader; part of the post-reading steps, and run again after
// a model restored from a binary model file once the options are known.
void mgn_check_model_requests();

// Opens the named file as the input file of the reader, with the line
// count at 0 ("Input file name missing" for an empty name, "Input file %s
// opening error" when it cannot be opened).
void mgn_open_input_file(const std::string& name);

// First token of the next line that is neither empty nor a comment; null at
// the end of the file, or the input error message when one is given.
char* mgn_get_first_token(const char* message);
// Next token of the current logical line (following continuation lines);
// null at its end or at a comment, or the input error message when given.
char* mgn_get_next_token(const char* message);

// Conversions of a whole token; anything else is an input error.
int32_t mgn_get_int_from_token(const char* token);
double mgn_get_fpn_from_token(const char* token);
// True when the token is a number that mgn_get_fpn_from_token accepts.
bool mgn_check_fpn_token(const char* token);
// A string in quotes (the token and, while the closing quote is missing,
// the next tokens of the same physical line joined by one blank); nothing
// when the token does not begin with the quote and the string is optional.
std::optional<std::string> mgn_get_string_from_token(const char* token, char quote, bool required);

// The next token, required (the message is the input error when it is
// missing), converted.
int32_t mgn_get_next_int(const char* message);
double mgn_get_next_fpn(const char* message);
std::optional<std::string> mgn_get_next_string(const char* message, char quote, bool required);

// Index of the token in the keyword table of n entries, or n when it is not
// there.  The token is turned to upper case in place first, so keywords are
// case-insensitive and later messages show them in upper case.
int mgn_get_keyword_index(char* token, const char* const* table, int n);
// Toggles the flag of the keyword; its second use within one definition is
// an input error.
void mgn_check_keyword_duplicity(int index, int* flags, const char* token);

// Option readers shared by the definition lines.  Their input errors name
// the reading routine, module and source line of the call (MGN_INPUT_CALLER).
struct mgn_input_caller {
  const char* routine;
  const char* file;
  long line;
};
#define MGN_INPUT_CALLER mgn_input_caller{__func__, __FILE__, __LINE__}
// "Unexpected or invalid keyword \"token\" encountered".
[[noreturn]] void mgn_unexpected_keyword(const char* token, const mgn_input_caller& at);
// An input error with the place of the caller.
[[noreturn]] void mgn_input_error_at(const std::string& message, const mgn_input_caller& at);
// Reads identifiers up to the next keyword of the table or the end of the
// line and appends the records found through find to out, in input order:
// each once, or every one as written when once is false (for the callers
// that report repeats themselves).  Returns the token that ended the list
// (the next option).  The missing message when there is no identifier;
// unknown_format (with the identifier) for one that does not exist.
template <typename T>
char* mgn_read_id_list(std::vector<T*>& out, T* (*find)(long), const char* const* table, int n, const char* missing,
                       const char* unknown_format, const mgn_input_caller& at, bool once = true) {
  std::unordered_set<const T*> seen(out.begin(), out.end());
  long listed = 0;
  char* next = nullptr;
  for (next = mgn_get_next_token(nullptr); next != nullptr; next = mgn_get_next_token(nullptr)) {
    if (mgn_get_keyword_index(next, table, n) != n) break;
    const long id = mgn_get_int_from_token(next);
    T* record = find(id);
    if (record == nullptr) mgn_input_error_at(mgn_format(unknown_format, id), at);
    if (seen.insert(record).second || !once) out.push_back(record);
    ++listed;
  }
  if (listed == 0) mgn_input_error_at(missing, at);
  return next;
}
// The same with signed identifiers (a boundary entity used from one side or
// the other): the record of the absolute value with the sign (+1 or -1) of
// the identifier, every one as written.
template <typename T>
char* mgn_read_signed_id_list(std::vector<std::pair<T*, int>>& out, T* (*find)(long), const char* const* table, int n,
                              const char* missing, const char* unknown_format, const mgn_input_caller& at) {
  long listed = 0;
  char* next = nullptr;
  for (next = mgn_get_next_token(nullptr); next != nullptr; next = mgn_get_next_token(nullptr)) {
    if (mgn_get_keyword_index(next, table, n) != n) break;
    const long id = mgn_get_int_from_token(next);
    const long magnitude = id < 0 ? -id : id;
    T* record = find(magnitude);
    if (record == nullptr) mgn_input_error_at(mgn_format(unknown_format, magnitude), at);
    out.emplace_back(record, id < 0 ? -1 : 1);
    ++listed;
  }
  if (listed == 0) mgn_input_error_at(missing, at);
  return next;
}
// YES or NO after a keyword; anything else is an invalid keyword.
bool mgn_read_yes_no(const char* missing, const mgn_input_caller& at);
// An optional "* m" multiplier (positive or zero) after a value.  Returns
// the token after it (or the token that is not "*"), which is the next
// option.
char* mgn_read_multiplier(double* multiplier, const char* missing, const char* negative, const mgn_input_caller& at);
// The FACTOR of a mesh size and the PROPERTY number of an entity, both
// positive or zero.
float mgn_read_factor(const mgn_input_caller& at);
int32_t mgn_read_property(const mgn_input_caller& at);
// The value of a SIZE, RATE or DENSITY option and its optional multiplier.
struct mgn_value_option {
  const char* missing;             // the value is missing
  const char* negative;            // the number is out of range
  bool zero_allowed;               // zero is a valid number
  const char* multiplier_missing;  // "*" without a factor
  const char* multiplier_negative;
};
extern const mgn_value_option mgn_size_option, mgn_rate_option, mgn_density_option;
// Reads a word of the keyword table among the accepted ones (its index is
// returned) or a number (n is returned and the number stored), then the
// optional multiplier; *next is the token after them.  Another keyword is
// invalid.
int mgn_read_value_option(const mgn_value_option& option, const char* const* table, int n,
                          std::initializer_list<int> accepted, double* number, double* multiplier, char** next,
                          const mgn_input_caller& at);
// One POLYSIZE value: a number (scaled by the size factor) or the size word
// it came from (resolved once the line is read).
struct mgn_polysize_value {
  double value;
  int word;  // the index of DEF or UNI in the line's keyword table, -1 for a number
};
// Reads the values of a POLYSIZE option, at most max: numbers positive or
// zero, the words def and uni of the keyword table, and "* k" repeating the
// value before k times in all.  Returns the token that ended them (the next
// option).
char* mgn_read_polysize(std::vector<mgn_polysize_value>& values, int max, const char* const* table, int n, int def,
                        int uni, const mgn_input_caller& at);
// Gives the def and uni values the default and uniform mesh sizes; true when
// one of these is zero.
bool mgn_resolve_polysize(std::vector<mgn_polysize_value>& values, int def, int uni);
// Keywords of a POLYGON line (a control point of a curve or surface
// polygon), in table order.  The parent word is CUR in the tables of curves
// and SUR in those of surfaces.
enum mgn_polygon_keyword : int {
  MGN_P_POLYGON, MGN_P_XYZ, MGN_P_POLY, MGN_P_WEIGHT, MGN_P_SIZE, MGN_P_POLYEND, MGN_P_PARENT, MGN_P_DEF,
  MGN_P_UNI, MGN_P_DIR, MGN_P_X, MGN_P_Y, MGN_P_Z, MGN_P_XY, MGN_P_YZ, MGN_P_XZ, MGN_P_F, MGN_P_T, MGN_P_N,
  MGN_P_KEYWORDS
};
// The entity of a POLYGON line and the control point it defines.
struct mgn_polygon_line {
  const char* const* keywords;   // the keyword table of the entity's polygon lines
  const char* xyz_not_expected;  // the error of XYZ after POLY
  std::string point;             // the ids of the control point, as messages name it
  const char* kind;              // "curve" or "surface"
  long id;
  float size, factor;            // the entity's mesh size and factor
};
// Reads the options of a POLYGON line after the ids of its control point
// and sets the point: XYZ (moved by the SHIFT of the definition) or the
// point that POLY names (read by read_poly), WEIGHT, SIZE (a number, the
// parent word for the entity's size, DEF or UNI, then the multiplier); DIR
// is checked and dropped.  A point with no SIZE whose size is zero takes
// the default size, with a warning when that is zero too.
void mgn_read_polygon_point(mgn_ctrl_point* point, const mgn_polygon_line& line,
                            const std::function<const mgn_ctrl_point*()>& read_poly, const mgn_input_caller& at);
// The direction word after DIR, among first..last of the keyword table (the
// two vector words carry a vector); checked and dropped.
void mgn_read_direction(const char* const* table, int n, int first, int last, int with_vector_a, int with_vector_b,
                        const mgn_input_caller& at);
// The fitting options of curve and surface lines, checked and dropped as
// the mesher does not use them: FIT (YES or NO), ITER (a count), LIMIT (a
// value) and DIR (a direction word); a direction word (X Y Z XY YZ XZ XYZ F
// T N) with no DIR before it is an error.  The keyword is in upper case;
// false when it is none of these.
bool mgn_read_fitting_option(const char* keyword, const mgn_input_caller& at);
// A keyword that must be followed by one of some keywords (FIXED by the kind
// of entity fixed to, COINCIDE by the kind of coinciding entities, WEAK by
// MIRROR...), with the error when another keyword follows it and the error
// when the line ends after it.
struct mgn_leading_keyword {
  int keyword;
  int followers[5] = {-1, -1, -1, -1, -1};
  const char* other_follows;
  const char* line_ends;
  constexpr mgn_leading_keyword(int leading, std::initializer_list<int> allowed, const char* other, const char* end)
      : keyword(leading), other_follows(other), line_ends(end) {
    int i = 0;
    for (int k : allowed) followers[i++] = k;
  }
};
// Checks the keyword that follows previous (-1: the end of the line)
// against the rules.
void mgn_check_leading_keyword(std::span<const mgn_leading_keyword> rules, int previous, int key,
                               const mgn_input_caller& at);
// A NODEPROP or ELEMPROP string, dropped; it marks the model as carrying
// properties.
void mgn_read_property_string(const char* missing);
// The three components of a SHIFT.
void mgn_read_shift(double shift[3]);

// Top-level keywords in table order.
enum mgn_top_keyword : int {
  MGN_TOP_VERTEX,
  MGN_TOP_CURVE,
  MGN_TOP_SURFACE,
  MGN_TOP_REGION,
  MGN_TOP_PATCH,
  MGN_TOP_SHELL,
  MGN_TOP_INTERFACE,
  MGN_TOP_VIEW_SETUP,
  MGN_TOP_VIEW_MODEL,
  MGN_TOP_VIEW_MESH,
  MGN_TOP_VIEW_ANIM,
  MGN_TOP_EOF,
  MGN_TOP_KEYWORDS
};
extern const char* const mgn_top_keywords[MGN_TOP_KEYWORDS];

// Entity store: the model list, hash buckets and identifier slots of one
// kind (the records live in mgn_model).
//
// Allocates the hash buckets and the preallocated identifier slots of every
// kind from the settings (hash table size, entity counts); called before
// reading.  "Memory allocation failed" when they cannot be allocated.
void mgn_prepare_model_store();
// Adds a record with identifier id at the head of the store's model list
// and hash bucket, puts it in its identifier slot and counts it; the bucket
// count doubles when the store holds more than two records per bucket, so
// that reading stays linear in the number of entities.
void mgn_add_entity_to_store(mgn_entity_store& store, void* record, long id);
// Slot of identifier id in a preallocated store: fatal manipulation error
// with the kind's "too high identification number" message above the
// preallocated count.  Returns null when the store is not preallocated.
void** mgn_get_entity_slot(mgn_entity_store& store, long id, const char* too_high_format);
// Record with identifier id, or null.  id_of reads a record's identifier.
void* mgn_find_entity(const mgn_entity_store& store, long id, int32_t (*id_of)(const void*));
// Record of kind T with identifier id, or null.
template <typename T>
T* mgn_find_entity_of(const mgn_entity_store& store, long id) {
  return static_cast<T*>(mgn_find_entity(store, id, [](const void* r) { return static_cast<const T*>(r)->id; }));
}
// New record of kind T with identifier id, its other fields at their
// defaults: the slot check of the store first, then "Memory allocation
// failed" named for the calling routine when memory is exhausted.
template <typename T>
T* mgn_new_entity(mgn_entity_store& store, long id, const char* too_high_format, const mgn_input_caller& at) {
  mgn_get_entity_slot(store, id, too_high_format);
  auto* record = new (std::nothrow) T();
  if (record == nullptr)
    mgn_allocation_error("Memory allocation failed", at.routine, mgn_module_name(at.file), at.line);
  record->id = static_cast<int32_t>(id);
  return record;
}
// Links a new entity with one it coincides with (or duplicates): the other
// and every entity already linked to it get the new one in their list, and
// the new one gets them all; each once, and never the new one itself.
// list names the member that holds the links.
template <typename T>
void mgn_link_coinciding(T* entity, T* other, mgn_list T::*list) {
  for (T* linked : mgn_list_range<T>(other->*list)) {
    if (linked == entity) continue;
    mgn_add_item_once(linked->*list, entity);
    mgn_add_item_once(entity->*list, linked);
  }
  mgn_add_item_once(other->*list, entity);
  mgn_add_item_once(entity->*list, other);
}
// Attraction items of surfaces, patches and shells.
// New item with the factor and entity kind (0 vertices, 1 curves).
mgn_attraction* mgn_create_attraction(float factor, int kind);
// Adds a vertex item and a curve item with the factor, holding the given
// lists (taken over), to the attraction list.
void mgn_add_global_attraction(mgn_list& attractions, float factor, mgn_list vertices, mgn_list curves);
// Frees the items of an attraction list and the list.
void mgn_release_attractions(mgn_list& attractions);
// Entities gathered for a global attraction, each once, in the order first
// added (the list holds them newest first).
struct mgn_entity_collector {
  std::unordered_set<const void*> seen;
  mgn_list list = nullptr;
  void add(void* object);
};
// Adds the boundary curves of the list with their end vertices and, for a
// curve not hidden, its fixed vertices.
void mgn_collect_boundary_curves(mgn_list curves, mgn_entity_collector& vertex_set, mgn_entity_collector& curve_set);
// Completes a global attraction: the entity's fixed vertices, then its fixed
// curves with their end vertices, join the collected entities, whose vertex
// and curve items go to the attraction list with the factor; the factor is
// then spent (zero).
void mgn_finish_global_attraction(mgn_list& attractions, float& factor, mgn_entity_collector& vertex_set,
                                  mgn_entity_collector& curve_set, mgn_list fixed_vertices, mgn_list fixed_curves);
// Global attraction of a patch or a shell (bounded by its left and right
// curves); none for a virtual or hole entity or a zero factor.
template <typename Entity>
void mgn_build_sided_global_attraction(Entity* entity) {
  if (entity->is_virtual || entity->hole || entity->global_attraction == 0.0f) return;
  mgn_entity_collector vertex_set, curve_set;
  mgn_collect_boundary_curves(entity->left_curves, vertex_set, curve_set);
  mgn_collect_boundary_curves(entity->right_curves, vertex_set, curve_set);
  mgn_finish_global_attraction(entity->attractions, entity->global_attraction, vertex_set, curve_set,
                               entity->fixed_vertices, entity->fixed_curves);
}

// Releases every record of the model with its lists and owned blocks and
// empties the stores and the reader state (for a new model in the same
// process; used by the tests).
void mgn_release_model();

#endif  // MGN_INPUT_H
