// The model input file: lines and tokens, conversions, keyword tables, the
// top-level loop and the post-reading steps; the generic entity store.
//
// Physical lines of any length are read whole (a line is never split into
// two counted lines).  A line holding a NUL byte is not text: it is reported
// as a reading error on its line.
#include "input.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "curve.h"
#include "input3.h"
#include "interface.h"
#include "list.h"
#include "patch.h"
#include "region.h"
#include "shell.h"
#include "surface.h"
#include "vertex.h"

mgn_input_state mgn_input;
mgn_model_store mgn_model;

const char* const mgn_top_keywords[MGN_TOP_KEYWORDS] = {
    "VERTEX",     "CURVE",      "SURFACE",   "REGION",    "PATCH", "SHELL", "INTERFACE",
    "VIEW_SETUP", "VIEW_MODEL", "VIEW_MESH", "VIEW_ANIM", "EOF"};

namespace {

constexpr std::size_t read_block = 1 << 16;

bool is_separator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void close_input() {
  if (mgn_input.stream != nullptr) std::fclose(mgn_input.stream);
  mgn_input.stream = nullptr;
}

// Reads the next physical line into mgn_input.line (without its line end).
// Returns false at the end of the file; a read failure or a NUL byte is the
// input error "Reading error".
bool read_physical_line() {
  mgn_input_state& in = mgn_input;
  in.line.clear();
  in.position = 0;
  bool got_any = false;
  for (;;) {
    if (in.buffer_begin == in.buffer_end) {
      if (in.at_end || in.stream == nullptr) break;
      if (in.buffer.size() < read_block) in.buffer.resize(read_block);
      std::size_t n = std::fread(in.buffer.data(), 1, in.buffer.size(), in.stream);
      in.buffer_begin = 0;
      in.buffer_end = n;
      if (n < in.buffer.size()) {
        if (std::ferror(in.stream)) mgn_input_error("Reading error", MGN_INPUT_AT("mgn_get_first_token"));
        in.at_end = true;
      }
      if (n == 0) break;
    }
    const char* begin = in.buffer.data() + in.buffer_begin;
    const std::size_t available = in.buffer_end - in.buffer_begin;
    const void* newline = std::memchr(begin, '\n', available);
    const std::size_t take =
        newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - begin) + 1 : available;
    in.line.append(begin, take);
    in.buffer_begin += take;
    got_any = true;
    if (newline != nullptr) break;
  }
  if (!got_any) return false;
  if (!in.line.empty() && in.line.back() == '\n') in.line.pop_back();
  if (std::memchr(in.line.data(), '\0', in.line.size()) != nullptr)
    mgn_input_error("Reading error", MGN_INPUT_AT("mgn_get_first_token"));
  return true;
}

// Next token of the current physical line, terminated in place; null at the
// end of the line.  Comments and continuations are not interpreted here.
char* next_raw_token() {
  std::string& line = mgn_input.line;
  std::size_t pos = mgn_input.position;
  const std::size_t end = line.size();
  while (pos < end && is_separator(line[pos])) ++pos;
  if (pos >= end) {
    mgn_input.position = end;
    return nullptr;
  }
  const std::size_t start = pos;
  while (pos < end && !is_separator(line[pos])) ++pos;
  if (pos < end) {
    line[pos] = '\0';
    mgn_input.position = pos + 1;
  } else {
    mgn_input.position = end;
  }
  return line.data() + start;
}

// The rest of the current logical line is read and dropped.
void skip_logical_line() {
  while (mgn_get_next_token(nullptr) != nullptr) {
  }
}

// Decimal digits with an optional sign and an optional exponent: the forms
// the floating conversion accepts (no hexadecimal, infinity or NaN words).
bool is_decimal_number(const char* s) {
  if (*s == '+' || *s == '-') ++s;
  bool digits = false;
  while (std::isdigit(static_cast<unsigned char>(*s))) ++s, digits = true;
  if (*s == '.') {
    ++s;
    while (std::isdigit(static_cast<unsigned char>(*s))) ++s, digits = true;
  }
  if (!digits) return false;
  if (*s == 'e' || *s == 'E') {
    ++s;
    if (*s == '+' || *s == '-') ++s;
    if (!std::isdigit(static_cast<unsigned char>(*s))) return false;
    while (std::isdigit(static_cast<unsigned char>(*s))) ++s;
  }
  return *s == '\0';
}

// The model-wide flags raised by one curve, surface, patch or shell.
void note_curve_flags(const mgn_curve* curve) {
  if (curve->hidden) mgn_input.hidden_seen = true;
  if (curve->master) mgn_input.master_curve_seen = true;
  if (curve->slave) mgn_input.slave_curve_seen = true;
  if (curve->swap) mgn_input.swap_curve_seen = true;
  if (curve->smear) mgn_input.smear_curve_seen = true;
}

// Reads the definitions of the file up to its end or an EOF line.
void read_definitions() {
  int top_flags[MGN_TOP_KEYWORDS] = {};
  for (;;) {
    char* token = mgn_get_first_token(nullptr);
    if (token == nullptr) break;
    const int key = mgn_get_keyword_index(token, mgn_top_keywords, MGN_TOP_KEYWORDS);
    switch (key) {
      case MGN_TOP_VERTEX:
        mgn_add_vertex_to_model(mgn_input_vertex());
        break;
      case MGN_TOP_CURVE: {
        mgn_curve* curve = mgn_input_curve();
        mgn_add_curve_to_model(curve);
        note_curve_flags(curve);
        break;
      }
      case MGN_TOP_SURFACE: {
        mgn_surface* surface = mgn_input_surface();
        mgn_add_surface_to_model(surface);
        if (surface->hidden) mgn_input.hidden_seen = true;
        break;
      }
      case MGN_TOP_REGION:
        mgn_add_region_to_model(mgn_input_region());
        break;
      case MGN_TOP_PATCH: {
        mgn_patch* patch = mgn_input_patch();
        mgn_add_patch_to_model(patch);
        if (patch->hidden) mgn_input.hidden_seen = true;
        break;
      }
      case MGN_TOP_SHELL: {
        mgn_shell* shell = mgn_input_shell();
        mgn_add_shell_to_model(shell);
        if (shell->hidden) mgn_input.hidden_seen = true;
        break;
      }
      case MGN_TOP_INTERFACE:
        mgn_add_interface_to_model(mgn_input_interface());
        break;
      case MGN_TOP_VIEW_SETUP:
      case MGN_TOP_VIEW_MODEL:
      case MGN_TOP_VIEW_MESH:
      case MGN_TOP_VIEW_ANIM:
        // Commands of an interactive viewer: checked for duplicity, skipped.
        mgn_check_keyword_duplicity(key, top_flags, token);
        skip_logical_line();
        break;
      case MGN_TOP_EOF:
        return;
      default:
        mgn_input_error(mgn_format("Unexpected or invalid keyword \"%s\" encountered", token),
                        MGN_INPUT_AT("mgn_build_model_from_file"));
    }
    mgn_input.building = nullptr;
    mgn_input.building_kind = -1;
  }
}

// Clears the output bits of node parameters, tangents and normals that
// cannot be honoured, each with its warning and the given reason line.
void drop_node_outputs(const char* reason) {
  static const struct {
    int bit;
    const char* text;
  } outputs[] = {{1, "Warning: Node parameters output not supported\n"},
                 {2, "Warning: Node tangent output not supported\n"},
                 {4, "Warning: Node normal output not supported\n"}};
  for (const auto& output : outputs) {
    if ((mgn_set.output_spec & output.bit) == 0) continue;
    mgn_set.output_spec &= ~output.bit;
    mgn_warning("%s%s", output.text, reason);
  }
}

}  // namespace

void mgn_check_model_requests() {
  const mgn_input_state& in = mgn_input;
  if (in.properties_seen) {
    mgn_warning("Warning: Node and elem properties not supported in this version\n");
    mgn_warning("Warning: Element groups not supported in this version\n");
  }
  if (in.hidden_seen && mgn_set.element_degree == 2 && (mgn_set.output_spec & 1) != 0) {
    mgn_set.output_spec &= ~1;
    mgn_warning(
        "Warning: Node parameters output not supported\n"
        "         for quadratic meshes with hidden entities\n");
  }
  if ((in.master_curve_seen || in.slave_curve_seen) && mgn_set.element_degree == 2)
    drop_node_outputs("         for quadratic meshes with master or slave curves\n");
  if (in.swap_curve_seen)
    mgn_warning(
        "WARNING: Classification of nodes and elements to model entities\n"
        "         related to curve swapping may be incorrect !!!\n");
  if (in.swap_curve_seen || in.smear_curve_seen) {
    if (mgn_set.boundary_conforming) {
      mgn_set.boundary_conforming = false;
      mgn_warning(
          "Warning: Boundary conforming elements not supported\n"
          "         when curve swapping or smearing is applied\n");
    }
    drop_node_outputs("         when curve swapping or smearing is applied\n");
  }
}

namespace {

void release_store(mgn_entity_store& store, void (*release)(void*)) {
  mgn_destroy_list_and_objects(store.list, release);
  for (long i = 0; i < store.bucket_count; ++i) mgn_destroy_list(store.buckets[i]);
  std::free(store.buckets);
  std::free(static_cast<void*>(store.slots));
  store = mgn_entity_store{};
}

mgn_list* new_buckets(long count) {
  auto* buckets = static_cast<mgn_list*>(std::calloc(static_cast<std::size_t>(count), sizeof(mgn_list)));
  if (buckets == nullptr) mgn_allocation_error("Memory allocation failed", MGN_HERE);
  return buckets;
}

// Entities per bucket beyond which the table doubles.
constexpr long kBucketLoad = 2;

// The identifier is the first field of every entity record.
template <typename... T>
constexpr bool identifier_first() {
  return ((std::is_standard_layout_v<T> && offsetof(T, id) == 0) && ...);
}
static_assert(identifier_first<mgn_vertex, mgn_curve, mgn_surface, mgn_patch, mgn_shell, mgn_region, mgn_interface>());
int32_t entity_id(const void* record) { return *static_cast<const int32_t*>(record); }

// Doubles the bucket count and moves every entry to its new bucket
// ((identifier - 1) mod count), so that a lookup stays a short walk however
// many entities are read.
void grow_buckets(mgn_entity_store& store) {
  const long count = 2 * store.bucket_count;
  mgn_list* buckets = new_buckets(count);
  for (long i = 0; i < store.bucket_count; ++i) {
    mgn_list_item* item = store.buckets[i];
    while (item != nullptr) {
      mgn_list_item* next = item->next;
      mgn_list& bucket = buckets[(entity_id(item->object) - 1) % count];
      item->next = bucket;
      bucket = item;
      item = next;
    }
  }
  std::free(store.buckets);
  store.buckets = buckets;
  store.bucket_count = count;
}

void prepare_store(mgn_entity_store& store, long slots) {
  // The hash table size is the initial bucket count; the table grows with
  // the entities read (a single bucket, -T 1, included).
  const long buckets = std::max(1L, mgn_set.hash_table_size);
  if (store.buckets == nullptr) {
    store.buckets = new_buckets(buckets);
    store.bucket_count = buckets;
  }
  if (slots > 0 && store.slots == nullptr) {
    store.slots = static_cast<void**>(std::calloc(static_cast<std::size_t>(slots), sizeof(void*)));
    if (store.slots == nullptr) mgn_allocation_error("Memory allocation failed", MGN_HERE);
    store.slot_count = slots;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Tokens
// ---------------------------------------------------------------------------

char* mgn_get_first_token(const char* message) {
  for (;;) {
    ++mgn_input.line_number;
    if (!read_physical_line()) {
      if (mgn_input.stream != nullptr && std::ferror(mgn_input.stream))
        mgn_input_error("Reading error", MGN_INPUT_HERE);
      if (message != nullptr) mgn_input_error(message, MGN_INPUT_HERE);
      return nullptr;
    }
    if (!mgn_input.line.empty() && mgn_input.line[0] == '#') continue;
    char* token = next_raw_token();
    if (token == nullptr || token[0] == '#') continue;
    return token;
  }
}

char* mgn_get_next_token(const char* message) {
  char* token = next_raw_token();
  if (token != nullptr && token[0] == '#') {
    // A comment runs to the end of the physical line.
    mgn_input.position = mgn_input.line.size();
    token = nullptr;
  }
  if (token == nullptr) {
    if (message != nullptr) mgn_input_error(message, MGN_INPUT_HERE);
    return nullptr;
  }
  while (token[0] == '\\') token = mgn_get_first_token("Unexpected end of input file encountered");
  return token;
}

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

int32_t mgn_get_int_from_token(const char* token) {
  if (token == nullptr) mgn_input_error("Integer number expected ( - read)", MGN_INPUT_HERE);
  const char* s = token;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  if (*s == '\0') mgn_input_error(mgn_format("Integer number expected (%s - read)", token), MGN_INPUT_HERE);
  // Accumulated with saturation: values beyond the 32-bit range are clamped.
  const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                 : static_cast<int64_t>(std::numeric_limits<int32_t>::max());
  int64_t value = 0;
  for (; *s != '\0'; ++s) {
    if (!std::isdigit(static_cast<unsigned char>(*s)))
      mgn_input_error(mgn_format("Integer number expected (%s - read)", token), MGN_INPUT_HERE);
    if (value < limit) value = std::min<int64_t>(limit, value * 10 + (*s - '0'));
  }
  return static_cast<int32_t>(negative ? -value : value);
}

bool mgn_check_fpn_token(const char* token) {
  // A value beyond the double range is not a usable number either.
  if (token == nullptr || !is_decimal_number(token)) return false;
  char* end = nullptr;
  const double value = std::strtod(token, &end);
  return end != token && *end == '\0' && std::isfinite(value);
}

double mgn_get_fpn_from_token(const char* token) {
  if (!mgn_check_fpn_token(token))
    mgn_input_error(mgn_format("Floating point number expected (%s - read)", token != nullptr ? token : ""),
                    MGN_INPUT_HERE);
  return std::strtod(token, nullptr);
}

std::optional<std::string> mgn_get_string_from_token(const char* token, char quote, bool required) {
  if (token == nullptr || token[0] != quote) {
    if (required)
      mgn_input_error(mgn_format("Quoted string expected (%s - read)", token != nullptr ? token : ""),
                      MGN_INPUT_HERE);
    return std::nullopt;
  }
  std::string text(token + 1);
  while (text.empty() || text.back() != quote) {
    const char* next = next_raw_token();
    if (next == nullptr)
      mgn_input_error(mgn_format("Quoted string expected (%s - read)", text.c_str()), MGN_INPUT_HERE);
    text += ' ';
    text += next;
  }
  text.pop_back();
  return text;
}

int32_t mgn_get_next_int(const char* message) { return mgn_get_int_from_token(mgn_get_next_token(message)); }

double mgn_get_next_fpn(const char* message) { return mgn_get_fpn_from_token(mgn_get_next_token(message)); }

std::optional<std::string> mgn_get_next_string(const char* message, char quote, bool required) {
  return mgn_get_string_from_token(mgn_get_next_token(message), quote, required);
}

// ---------------------------------------------------------------------------
// Keywords
// ---------------------------------------------------------------------------

int mgn_get_keyword_index(char* token, const char* const* table, int n) {
  for (char* c = token; *c != '\0'; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
  for (int i = 0; i < n; ++i)
    if (std::strcmp(token, table[i]) == 0) return i;
  return n;
}

void mgn_check_keyword_duplicity(int index, int* flags, const char* token) {
  flags[index] ^= 1;
  if (flags[index] == 0)
    mgn_input_error(mgn_format("Keyword \"%s\" not expected due to the duplicity", token), MGN_INPUT_HERE);
}

// ---------------------------------------------------------------------------
// Shared option readers
// ---------------------------------------------------------------------------

// The place arguments of an input error raised for the calling routine.
#define MGN_INPUT_FOR(at) (at).routine, mgn_module_name((at).file), (at).line, mgn_input.file_name, mgn_input.line_number

const mgn_value_option mgn_size_option = {"Size specification missing", "Positive or zero mesh size required", true,
                                          "Mesh size multiplication factor missing",
                                          "Positive or zero mesh size multiplication factor required"};
const mgn_value_option mgn_rate_option = {"Rate specification missing", "Positive or zero curvature rate required", true,
                                          "Rate multiplication factor missing",
                                          "Positive or zero rate multiplication factor required"};
const mgn_value_option mgn_density_option = {"Density specification missing", "Positive or zero density required", true,
                                             "Density multiplication factor missing",
                                             "Positive or zero density multiplication factor required"};

void mgn_input_error_at(const std::string& message, const mgn_input_caller& at) {
  mgn_input_error(message, MGN_INPUT_FOR(at));
}

void mgn_unexpected_keyword(const char* token, const mgn_input_caller& at) {
  mgn_input_error(mgn_format("Unexpected or invalid keyword \"%s\" encountered", token), MGN_INPUT_FOR(at));
}

bool mgn_read_yes_no(const char* missing, const mgn_input_caller& at) {
  static const char* const answers[2] = {"YES", "NO"};
  char* answer = mgn_get_next_token(missing);
  const int word = mgn_get_keyword_index(answer, answers, 2);
  if (word == 2) mgn_unexpected_keyword(answer, at);
  return word == 0;
}

char* mgn_read_multiplier(double* multiplier, const char* missing, const char* negative, const mgn_input_caller& at) {
  char* next = mgn_get_next_token(nullptr);
  if (next == nullptr || std::strcmp(next, "*") != 0) return next;
  const double m = mgn_get_next_fpn(missing);
  if (m < 0.0) mgn_input_error(negative, MGN_INPUT_FOR(at));
  *multiplier = m;
  return mgn_get_next_token(nullptr);
}

float mgn_read_factor(const mgn_input_caller& at) {
  const double f = mgn_get_next_fpn("Factor specification missing");
  if (f < 0.0) mgn_input_error("Positive or zero factor required", MGN_INPUT_FOR(at));
  return static_cast<float>(f);
}

int32_t mgn_read_property(const mgn_input_caller& at) {
  const int32_t p = mgn_get_next_int("Property specification missing");
  if (p < 0) mgn_input_error("Positive or zero property number required", MGN_INPUT_FOR(at));
  return p;
}

int mgn_read_value_option(const mgn_value_option& option, const char* const* table, int n,
                          std::initializer_list<int> accepted, double* number, double* multiplier, char** next,
                          const mgn_input_caller& at) {
  char* value = mgn_get_next_token(option.missing);
  const int word = mgn_get_keyword_index(value, table, n);
  if (word != n) {
    if (std::find(accepted.begin(), accepted.end(), word) == accepted.end()) mgn_unexpected_keyword(value, at);
  } else {
    *number = mgn_get_fpn_from_token(value);
    if (option.zero_allowed ? *number < 0.0 : !(*number > 0.0)) mgn_input_error(option.negative, MGN_INPUT_FOR(at));
  }
  *next = mgn_read_multiplier(multiplier, option.multiplier_missing, option.multiplier_negative, at);
  return word;
}

char* mgn_read_polysize(std::vector<mgn_polysize_value>& values, int max, const char* const* table, int n, int def,
                        int uni, const mgn_input_caller& at) {
  bool after_value = false;
  char* next = nullptr;
  for (next = mgn_get_next_token(nullptr); next != nullptr; next = mgn_get_next_token(nullptr)) {
    if (std::strcmp(next, "*") == 0) {
      if (!after_value) mgn_input_error("Repetition sign * not expected", MGN_INPUT_FOR(at));
      const int32_t k = mgn_get_next_int("Missing number of repetition");
      if (k < 1) mgn_input_error("Positive number of repetition required", MGN_INPUT_FOR(at));
      if (k - 1 > max - static_cast<int>(values.size())) mgn_input_error("Too many poly size parameters", MGN_INPUT_FOR(at));
      const mgn_polysize_value repeated = values.back();
      for (int32_t i = 1; i < k; ++i) values.push_back(repeated);
      after_value = false;
      continue;
    }
    const int word = mgn_get_keyword_index(next, table, n);
    mgn_polysize_value value{0.0, -1};
    if (word == def || word == uni) {
      value.word = word;
    } else if (word == n && mgn_check_fpn_token(next)) {
      value.value = mgn_get_fpn_from_token(next);
      if (value.value < 0.0) mgn_input_error("Positive or zero mesh size required", MGN_INPUT_FOR(at));
      value.value *= mgn_set.size_factor;
    } else {
      break;  // the next option
    }
    if (static_cast<int>(values.size()) == max) mgn_input_error("Too many poly size parameters", MGN_INPUT_FOR(at));
    values.push_back(value);
    after_value = true;
  }
  if (values.empty()) mgn_input_error("Missing poly size specification", MGN_INPUT_FOR(at));
  return next;
}

bool mgn_resolve_polysize(std::vector<mgn_polysize_value>& values, int def, int uni) {
  bool zero = false;
  for (mgn_polysize_value& value : values) {
    if (value.word == def) value.value = mgn_set.default_size;
    if (value.word == uni) value.value = mgn_set.uniform_size;
    if (value.word != -1 && value.value == 0.0) zero = true;
  }
  return zero;
}

void mgn_read_polygon_point(mgn_ctrl_point* point, const mgn_polygon_line& line,
                            const std::function<const mgn_ctrl_point*()>& read_poly, const mgn_input_caller& at) {
  int flags[MGN_P_KEYWORDS] = {};
  const mgn_ctrl_point* source = nullptr;  // POLY
  bool xyz_given = false, weight_given = false, size_given = false;
  int size_source = -1;
  double weight = 1.0, size = 0.0, size_multiplier = 1.0;
  double xyz[3] = {0.0, 0.0, 0.0};

  char* option = mgn_get_next_token(nullptr);
  while (option != nullptr) {
    const int key = mgn_get_keyword_index(option, line.keywords, MGN_P_KEYWORDS);
    if (key == MGN_P_KEYWORDS) mgn_unexpected_keyword(option, at);
    mgn_check_keyword_duplicity(key, flags, option);
    char* next = nullptr;
    switch (key) {
      case MGN_P_XYZ:
        if (source != nullptr) mgn_input_error(line.xyz_not_expected, MGN_INPUT_FOR(at));
        xyz[0] = mgn_get_next_fpn("Coordinate x missing");
        xyz[1] = mgn_get_next_fpn("Coordinate y missing");
        xyz[2] = mgn_get_next_fpn("Coordinate z missing");
        xyz_given = true;
        break;
      case MGN_P_POLY:
        if (xyz_given) mgn_input_error("Keyword POLY not expected when keyword XYZ already used", MGN_INPUT_FOR(at));
        source = read_poly();
        break;
      case MGN_P_WEIGHT:
        weight = mgn_get_next_fpn("Weight specification missing");
        weight_given = true;
        break;
      case MGN_P_SIZE: {
        double number = 0.0;
        const int word = mgn_read_value_option(mgn_size_option, line.keywords, MGN_P_KEYWORDS,
                                               {MGN_P_PARENT, MGN_P_DEF, MGN_P_UNI}, &number, &size_multiplier, &next, at);
        if (word != MGN_P_KEYWORDS)
          size_source = word;
        else
          size = number * mgn_set.size_factor;
        size_given = true;
        break;
      }
      case MGN_P_DIR:
        mgn_read_direction(line.keywords, MGN_P_KEYWORDS, MGN_P_X, MGN_P_N, MGN_P_T, MGN_P_N, at);
        break;
      case MGN_P_X: case MGN_P_Y: case MGN_P_Z: case MGN_P_XY: case MGN_P_YZ: case MGN_P_XZ: case MGN_P_F:
      case MGN_P_T: case MGN_P_N:
        mgn_input_error(mgn_format("Keyword %s not expected (keyword DIR missing)", option), MGN_INPUT_FOR(at));
      default:
        mgn_unexpected_keyword(option, at);
    }
    option = next != nullptr ? next : mgn_get_next_token(nullptr);
  }
  if (!xyz_given && source == nullptr)
    mgn_input_error(mgn_format("Position of ctrl point %s not specified", line.point.c_str()), MGN_INPUT_FOR(at));

  if (size_given) {
    switch (size_source) {
      case MGN_P_PARENT:
        if (line.size == 0.0f)
          mgn_input_error(
              mgn_format("Zero default mesh size specification cannot be used by ctrl point (%s)", line.point.c_str()),
              MGN_INPUT_FOR(at));
        size = line.size;
        break;
      case MGN_P_DEF: size = mgn_set.default_size; break;
      case MGN_P_UNI: size = mgn_set.uniform_size; break;
      default: break;
    }
    size *= size_multiplier;
  }
  if (source != nullptr) {
    for (int i = 0; i < 3; ++i) point->xyz[i] = source->xyz[i];
    point->w = weight_given ? weight : source->w;
    point->size = static_cast<float>(size_given ? size : source->size);
  } else {
    for (int i = 0; i < 3; ++i) point->xyz[i] = xyz[i] + mgn_input.shift[i];
    point->w = weight_given ? weight : 1.0;
    point->size = static_cast<float>(size_given ? size : mgn_set.default_size);
  }
  if (!size_given && point->size == 0.0f) {
    point->size = static_cast<float>(mgn_set.default_size);
    if (point->size == 0.0f && mgn_set.size_factor != 0.0 && line.factor != 0.0f)
      mgn_warning("Warning: Default zero mesh size specification detected at ctrl point %s of %s %ld\n",
                  line.point.c_str(), line.kind, line.id);
  }
}

void mgn_read_direction(const char* const* table, int n, int first, int last, int with_vector_a, int with_vector_b,
                        const mgn_input_caller& at) {
  char* word = mgn_get_next_token("Direction specification missing");
  const int key = mgn_get_keyword_index(word, table, n);
  if (key < first || key > last) mgn_unexpected_keyword(word, at);
  if (key == with_vector_a || key == with_vector_b) {
    mgn_get_next_fpn("Component x missing");
    mgn_get_next_fpn("Component y missing");
    mgn_get_next_fpn("Component z missing");
  }
}

bool mgn_read_fitting_option(const char* keyword, const mgn_input_caller& at) {
  // The direction words; T and N carry a vector.
  static const char* const directions[10] = {"X", "Y", "Z", "XY", "YZ", "XZ", "XYZ", "F", "T", "N"};
  if (std::strcmp(keyword, "FIT") == 0) {
    mgn_read_yes_no("Fitting specification missing", at);
  } else if (std::strcmp(keyword, "ITER") == 0) {
    if (mgn_get_next_int("Missing number of iterations") < 0)
      mgn_input_error("Positive or zero number of iterations required", MGN_INPUT_FOR(at));
  } else if (std::strcmp(keyword, "LIMIT") == 0) {
    if (mgn_get_next_fpn("Missing fitting limit") < 0.0)
      mgn_input_error("Positive or zero fitting limit required", MGN_INPUT_FOR(at));
  } else if (std::strcmp(keyword, "DIR") == 0) {
    mgn_read_direction(directions, 10, 0, 9, 8, 9, at);
  } else {
    for (const char* word : directions)
      if (std::strcmp(keyword, word) == 0)
        mgn_input_error(mgn_format("Keyword %s not expected (keyword DIR missing)", keyword), MGN_INPUT_FOR(at));
    return false;
  }
  return true;
}

void mgn_check_leading_keyword(std::span<const mgn_leading_keyword> rules, int previous, int key,
                               const mgn_input_caller& at) {
  for (const mgn_leading_keyword& rule : rules) {
    if (rule.keyword != previous) continue;
    if (key < 0) mgn_input_error(rule.line_ends, MGN_INPUT_FOR(at));
    if (std::find(std::begin(rule.followers), std::end(rule.followers), key) == std::end(rule.followers))
      mgn_input_error(rule.other_follows, MGN_INPUT_FOR(at));
  }
}

void mgn_read_property_string(const char* missing) {
  mgn_get_next_string(missing, '\'', true);
  mgn_input.properties_seen = true;
}

void mgn_read_shift(double shift[3]) {
  shift[0] = mgn_get_next_fpn("Shift x missing");
  shift[1] = mgn_get_next_fpn("Shift y missing");
  shift[2] = mgn_get_next_fpn("Shift z missing");
}

// ---------------------------------------------------------------------------
// Entity store
// ---------------------------------------------------------------------------

void mgn_prepare_model_store() {
  const auto& n = mgn_set.entity_counts;  // vertex, curve, surface, patch, shell, region, interface
  prepare_store(mgn_model.vertices, n[0]);
  prepare_store(mgn_model.curves, n[1]);
  prepare_store(mgn_model.surfaces, n[2]);
  prepare_store(mgn_model.patches, n[3]);
  prepare_store(mgn_model.shells, n[4]);
  prepare_store(mgn_model.regions, n[5]);
  prepare_store(mgn_model.interfaces, n[6]);
}

void** mgn_get_entity_slot(mgn_entity_store& store, long id, const char* too_high_format) {
  if (store.slots == nullptr) return nullptr;
  if (id < 1 || id > store.slot_count) mgn_manipulation_error(mgn_format(too_high_format, id), MGN_HERE);
  return &store.slots[id - 1];
}

void mgn_add_entity_to_store(mgn_entity_store& store, void* record, long id) {
  mgn_add_item_to_head(store.list, record);
  if (store.buckets != nullptr && id >= 1) {
    mgn_add_item_to_head(store.buckets[(id - 1) % store.bucket_count], record);
    if (store.count + 1 > kBucketLoad * store.bucket_count) grow_buckets(store);
  }
  if (store.slots != nullptr && id >= 1 && id <= store.slot_count) store.slots[id - 1] = record;
  ++store.count;
}

void* mgn_find_entity(const mgn_entity_store& store, long id, int32_t (*id_of)(const void*)) {
  if (id < 1) return nullptr;
  if (store.slots != nullptr) {
    if (id > store.slot_count) return nullptr;
    void* record = store.slots[id - 1];
    return record != nullptr && id_of(record) == id ? record : nullptr;
  }
  mgn_list list = store.buckets != nullptr ? store.buckets[(id - 1) % store.bucket_count] : store.list;
  for (mgn_list_item* item = list; item != nullptr; item = item->next)
    if (item->object != nullptr && id_of(item->object) == id) return item->object;
  return nullptr;
}

mgn_attraction* mgn_create_attraction(float factor, int kind) {
  auto* item = new (std::nothrow) mgn_attraction();
  if (item == nullptr) mgn_allocation_error("Memory allocation failed", MGN_HERE);
  item->factor = factor;
  item->kind = kind;
  return item;
}

void mgn_add_global_attraction(mgn_list& attractions, float factor, mgn_list vertices, mgn_list curves) {
  mgn_attraction* vertex_item = mgn_create_attraction(factor, 0);
  vertex_item->entities = vertices;
  mgn_add_item_to_tail(attractions, vertex_item);
  mgn_attraction* curve_item = mgn_create_attraction(factor, 1);
  curve_item->entities = curves;
  mgn_add_item_to_tail(attractions, curve_item);
}

void mgn_release_attractions(mgn_list& attractions) {
  for (mgn_attraction* item : mgn_list_range<mgn_attraction>(attractions)) {
    mgn_destroy_list(item->entities);
    delete item;
  }
  mgn_destroy_list(attractions);
}

void mgn_entity_collector::add(void* object) {
  if (object != nullptr && seen.insert(object).second) mgn_add_item_to_head(list, object);
}

void mgn_collect_boundary_curves(mgn_list curves, mgn_entity_collector& vertex_set, mgn_entity_collector& curve_set) {
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(curves)) {
    curve_set.add(curve);
    vertex_set.add(curve->vertex[0]);
    vertex_set.add(curve->vertex[1]);
    if (!curve->hidden)
      for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(curve->fixed_vertices)) vertex_set.add(vertex);
  }
}

void mgn_finish_global_attraction(mgn_list& attractions, float& factor, mgn_entity_collector& vertex_set,
                                  mgn_entity_collector& curve_set, mgn_list fixed_vertices, mgn_list fixed_curves) {
  for (mgn_vertex* vertex : mgn_list_range<mgn_vertex>(fixed_vertices)) vertex_set.add(vertex);
  for (mgn_curve* curve : mgn_list_range<mgn_curve>(fixed_curves)) {
    curve_set.add(curve);
    vertex_set.add(curve->vertex[0]);
    vertex_set.add(curve->vertex[1]);
  }
  mgn_add_global_attraction(attractions, factor, mgn_reverse_list(vertex_set.list), mgn_reverse_list(curve_set.list));
  vertex_set.list = curve_set.list = nullptr;
  factor = 0.0f;
}

void mgn_release_model() {
  close_input();
  release_store(mgn_model.interfaces, [](void* r) { mgn_release_interface(static_cast<mgn_interface*>(r)); });
  release_store(mgn_model.regions, [](void* r) { mgn_release_region(static_cast<mgn_region*>(r)); });
  release_store(mgn_model.shells, [](void* r) { mgn_release_shell(static_cast<mgn_shell*>(r)); });
  release_store(mgn_model.patches, [](void* r) { mgn_release_patch(static_cast<mgn_patch*>(r)); });
  release_store(mgn_model.surfaces, [](void* r) { mgn_release_surface(static_cast<mgn_surface*>(r)); });
  release_store(mgn_model.curves, [](void* r) { mgn_release_curve(static_cast<mgn_curve*>(r)); });
  release_store(mgn_model.vertices, [](void* r) { mgn_release_vertex(static_cast<mgn_vertex*>(r)); });
  mgn_destroy_list(mgn_input.coinciding);
  mgn_input = mgn_input_state{};
}

// ---------------------------------------------------------------------------
// The whole file
// ---------------------------------------------------------------------------

void mgn_open_input_file(const std::string& name) {
  if (name.empty()) mgn_file_manipulation_error("Input file name missing", MGN_HERE);
  close_input();
  mgn_input.stream = mgn_open_file(name.c_str(), 0);
  if (mgn_input.stream == nullptr)
    mgn_file_manipulation_error(mgn_format("Input file %s opening error", name.c_str()), MGN_HERE);
  mgn_input.file_name = name;
  mgn_input.line_number = 0;
  mgn_input.line.clear();
  mgn_input.position = 0;
  mgn_input.buffer_begin = mgn_input.buffer_end = 0;
  mgn_input.at_end = false;
}

void mgn_build_model_from_file() {
  mgn_open_input_file(mgn_set.input_file_name);
  mgn_run.model_not_yet_read = false;

  mgn_prepare_model_store();
  read_definitions();
  close_input();
  // The buffer of the reader is not needed any more.
  std::vector<char>().swap(mgn_input.buffer);
  std::string().swap(mgn_input.line);

  mgn_check_model_requests();
  mgn_reverse_list(mgn_model.vertices.list);
  mgn_reverse_list(mgn_model.curves.list);
  mgn_reverse_list(mgn_model.surfaces.list);
  mgn_reverse_list(mgn_model.regions.list);
  mgn_reverse_list(mgn_model.patches.list);
  mgn_reverse_list(mgn_model.shells.list);
  mgn_reverse_list(mgn_model.interfaces.list);

  // The geometry of the patches, once every patch and its subpatches are
  // known: planarity, the background surface, the orientation of the loops.
  mgn_prepare_patches();

  for (mgn_surface* surface : mgn_list_range<mgn_surface>(mgn_model.surfaces.list))
    mgn_build_surface_global_attraction(surface);
  for (mgn_patch* patch : mgn_list_range<mgn_patch>(mgn_model.patches.list))
    mgn_build_patch_global_attraction(patch);
  for (mgn_shell* shell : mgn_list_range<mgn_shell>(mgn_model.shells.list))
    mgn_build_shell_global_attraction(shell);
}
