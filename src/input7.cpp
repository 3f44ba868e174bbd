// The binary model file: writer and reader.
//
// One routine per record kind describes the fields of the record once
// (transfer_vertex, transfer_curve, ...); it runs over a binary_writer,
// which appends each field to the file, or over a binary_reader, which
// fills the field from the file with every check that the field needs.  So
// the two directions cannot drift apart.  References to other entities are
// written as identifiers (0: none) and resolved through the model store,
// which holds every record before the first record is read.  A control
// point is written in full at its first use and by its index afterwards,
// so points shared between vertices, curves and surface nets stay shared.
//
// Fields that only the meshing runs fill (the mesh store at the end of
// each record) are not part of the file.  A field added to a model record
// must be added to its transfer routine; the size checks below the
// routines fail the build until it is.
#include "input7.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "bezier.h"
#include "curve.h"
#include "input.h"
#include "interface.h"
#include "list.h"
#include "message.h"
#include "patch.h"
#include "region.h"
#include "shell.h"
#include "surface.h"
#include "vertex.h"

uint64_t mgn_binary_checksum(uint64_t state, const unsigned char* bytes, std::size_t count) {
  constexpr uint64_t prime = 1099511628211ull;  // the FNV-1a 64-bit prime
  for (std::size_t i = 0; i < count; ++i) {
    state ^= bytes[i];
    state *= prime;
  }
  return state;
}

namespace {

// Header values.  The signature is the base value plus the sum of the
// terms of the compile-time features this program is built with
// (1 + 2 + 4 + 8 + 16 + 102 + 208 + 416 + 832 + 1728 + 3264 + 6656 + 13312 +
// 27648 + 53248 = 107445); a build with another feature set writes and
// accepts another signature.
constexpr int32_t kMagic = 1357902468;  // bytes 0x84 0xF2 0xEF 0x50 on file
constexpr int32_t kSignatureBase = 123456789;
constexpr int32_t kFeatureSum = 107445;
constexpr int32_t kRevision = 12;
constexpr int32_t kCheckValue = 16;
constexpr int16_t kVersionMajor = 1;
constexpr int16_t kVersionMinor = 2;
constexpr std::size_t kCheckedBytes = 4 * 4;  // magic, signature, revision, check value
constexpr std::size_t kHeaderBytes = kCheckedBytes + 2 * 2;  // and the version
constexpr std::size_t kTrailerBytes = 8;     // the checksum

// Settings restored from a file that size tables are bounded, so that a
// forged file cannot make the reader allocate much more than the file
// holds: the hash table size (buckets per kind) and the preallocated
// identifier slots per kind.
constexpr long kLargestHashTable = 1L << 20;
constexpr long kLargestEntityCount = 1L << 22;

// Tags of a control point reference.
constexpr int32_t kPointNone = 0;
constexpr int32_t kPointNew = 1;     // the point follows in full
constexpr int32_t kPointKnown = 2;   // the index of a point already read follows

// The model store and the lookup of each kind.
template <typename T> struct kind_of;
template <> struct kind_of<mgn_vertex> {
  static mgn_entity_store& store() { return mgn_model.vertices; }
  static mgn_vertex* find(long id) { return mgn_find_vertex(id); }
  static mgn_vertex* create(long id) { return mgn_create_vertex(id); }
  static constexpr const char* word = "vertex";
};
template <> struct kind_of<mgn_curve> {
  static mgn_entity_store& store() { return mgn_model.curves; }
  static mgn_curve* find(long id) { return mgn_find_curve(id); }
  static mgn_curve* create(long id) { return mgn_create_curve(id); }
  static constexpr const char* word = "curve";
};
template <> struct kind_of<mgn_surface> {
  static mgn_entity_store& store() { return mgn_model.surfaces; }
  static mgn_surface* find(long id) { return mgn_find_surface(id); }
  static mgn_surface* create(long id) { return mgn_create_surface(id); }
  static constexpr const char* word = "surface";
};
template <> struct kind_of<mgn_patch> {
  static mgn_entity_store& store() { return mgn_model.patches; }
  static mgn_patch* find(long id) { return mgn_find_patch(id); }
  static mgn_patch* create(long id) { return mgn_create_patch(id); }
  static constexpr const char* word = "patch";
};
template <> struct kind_of<mgn_shell> {
  static mgn_entity_store& store() { return mgn_model.shells; }
  static mgn_shell* find(long id) { return mgn_find_shell(id); }
  static mgn_shell* create(long id) { return mgn_create_shell(id); }
  static constexpr const char* word = "shell";
};
template <> struct kind_of<mgn_region> {
  static mgn_entity_store& store() { return mgn_model.regions; }
  static mgn_region* find(long id) { return mgn_find_region(id); }
  static mgn_region* create(long id) { return mgn_create_region(id); }
  static constexpr const char* word = "region";
};
template <> struct kind_of<mgn_interface> {
  static mgn_entity_store& store() { return mgn_model.interfaces; }
  static mgn_interface* find(long id) { return mgn_find_interface(id); }
  static mgn_interface* create(long id) { return mgn_create_interface(id); }
  static constexpr const char* word = "interface";
};

// ---------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------

// Appends fields to the file through a buffer of its own, keeping the
// checksum of everything written.
class binary_writer {
 public:
  static constexpr bool reading = false;

  explicit binary_writer(const std::string& name) : name_(name) {}
  ~binary_writer() {
    if (fd_ >= 0) ::close(fd_);
  }

  void open() {
    fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd_ < 0) mgn_file_manipulation_error(mgn_format("Binary file %s opening error", name_.c_str()), MGN_HERE);
  }
  // Writes what is buffered and the checksum of it all, and closes.
  void finish() {
    flush();
    for (int i = 0; i < 8; ++i) buffer_.push_back(static_cast<unsigned char>(checksum_ >> (8 * i)));
    write_buffer();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
      mgn_file_manipulation_error(mgn_format("Binary output file %s closing error", name_.c_str()), MGN_HERE);
  }

  void i32(const int32_t& v) { put(static_cast<uint32_t>(v), 4); }
  void i16(const int16_t& v) { put(static_cast<uint16_t>(v), 2); }
  void flag(const bool& v) { put(v ? 1u : 0u, 1); }
  void f32(const float& v) { put(std::bit_cast<uint32_t>(v), 4); }
  void f64(const double& v) { put(std::bit_cast<uint64_t>(v), 8); }
  void f64s(const double* v, int n) {
    for (int i = 0; i < n; ++i) f64(v[i]);
  }
  void flags(const bool* v, int n) {
    for (int i = 0; i < n; ++i) flag(v[i]);
  }
  // The count n of a vector or list (item_bytes serves the reader).
  std::size_t length(std::size_t n, std::size_t item_bytes) {
    (void)item_bytes;
    i32(static_cast<int32_t>(n));
    return n;
  }
  // Option values, whatever their type in the settings record; the ranges
  // serve the reader.
  void option_int(const long& v, long, long) { i32(static_cast<int32_t>(v)); }
  void option_int(const int& v, long, long) { i32(v); }
  void option_flag(const bool& v) { i32(v ? 1 : 0); }
  void option_f64(const double& v, double, double) { f64(v); }

  // Reference to a model record: its identifier, 0 for none.  The record
  // must be the one the model store finds by that identifier.
  template <typename T>
  void ref(T* const& record) {
    if (record == nullptr) {
      i32(0);
      return;
    }
    if (kind_of<T>::find(record->id) != record) inconsistent();
    i32(record->id);
  }
  template <typename T>
  void ref_list(const mgn_list& list) {
    length(static_cast<std::size_t>(mgn_count_items(list)), 4);
    for (const mgn_list_item* item = list; item != nullptr; item = item->next) ref(static_cast<T*>(item->object));
  }
  // Reference to a record of the kind given by its code.
  void kind_ref(int32_t kind, void* const& record);
  void kind_ref_list(int32_t kind, const mgn_list& list);

  // A control point in full at its first use, by its index afterwards.
  void point(mgn_ctrl_point* const& p) {
    if (p == nullptr) {
      i32(kPointNone);
      return;
    }
    auto [it, added] = points_.try_emplace(p, static_cast<int32_t>(points_.size()));
    if (!added) {
      i32(kPointKnown);
      i32(it->second);
      return;
    }
    i32(kPointNew);
    f64s(p->xyz, 3);
    f64(p->w);
    f32(p->size);
  }
  void points(const std::vector<mgn_ctrl_point*>& v) {
    length(v.size(), 4);
    for (mgn_ctrl_point* p : v) point(p);
  }
  void floats(const std::vector<float>& v) {
    length(v.size(), 4);
    for (float f : v) f32(f);
  }

  [[noreturn]] void inconsistent() { mgn_manipulation_error("Model incosistency detected", MGN_HERE); }

 private:
  void put(uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) buffer_.push_back(static_cast<unsigned char>(value >> (8 * i)));
    if (buffer_.size() >= kFlushBytes) flush();
  }
  void flush() {
    checksum_ = mgn_binary_checksum(checksum_, buffer_.data(), buffer_.size());
    write_buffer();
  }
  void write_buffer() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
      const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) mgn_binary_output_error("", "mgn_write_model_to_file", mgn_module_name(__FILE__), __LINE__, name_);
      done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
  }

  static constexpr std::size_t kFlushBytes = 1 << 16;
  std::string name_;
  int fd_ = -1;
  std::vector<unsigned char> buffer_;
  uint64_t checksum_ = mgn_binary_checksum_start;
  std::unordered_map<const mgn_ctrl_point*, int32_t> points_;
};

void binary_writer::kind_ref(int32_t kind, void* const& record) {
  switch (kind) {
    case MGN_VERTEX: ref(static_cast<mgn_vertex*>(record)); break;
    case MGN_CURVE: ref(static_cast<mgn_curve*>(record)); break;
    case MGN_SURFACE: ref(static_cast<mgn_surface*>(record)); break;
    case MGN_REGION: ref(static_cast<mgn_region*>(record)); break;
    case MGN_PATCH: ref(static_cast<mgn_patch*>(record)); break;
    case MGN_SHELL: ref(static_cast<mgn_shell*>(record)); break;
    default:
      if (record != nullptr) inconsistent();
      i32(0);
  }
}

void binary_writer::kind_ref_list(int32_t kind, const mgn_list& list) {
  switch (kind) {
    case MGN_VERTEX: ref_list<mgn_vertex>(list); break;
    case MGN_CURVE: ref_list<mgn_curve>(list); break;
    default: inconsistent();
  }
}

// ---------------------------------------------------------------------------
// Reader
// ---------------------------------------------------------------------------

// Reads fields from the file through a buffer of its own.  Every read is
// checked against the bytes left before the trailer; the file has been
// checked whole (header and checksum) before the first field is read.
class binary_reader {
 public:
  static constexpr bool reading = true;

  explicit binary_reader(const std::string& name) : name_(name) {}
  ~binary_reader() {
    if (stream_ != nullptr) std::fclose(stream_);
  }

  // The routine named by the errors of the part being read.
  const char* routine = "mgn_read_model_from_file";

  void open();
  void check_header();
  void check_checksum();
  void close();

  [[noreturn]] void fail(const std::string& message) {
    mgn_binary_input_error(message, routine, mgn_module_name(__FILE__), __LINE__, name_);
  }
  [[noreturn]] void invalid(const char* what) {
    fail(mgn_format("Invalid %s in binary file %s", what, name_.c_str()));
  }

  void i32(int32_t& v) { v = static_cast<int32_t>(static_cast<uint32_t>(get(4))); }
  void i16(int16_t& v) { v = static_cast<int16_t>(static_cast<uint16_t>(get(2))); }
  void flag(bool& v) {
    const uint64_t b = get(1);
    if (b > 1) invalid("flag");
    v = b == 1;
  }
  void f32(float& v) {
    v = std::bit_cast<float>(static_cast<uint32_t>(get(4)));
    if (std::isnan(v)) invalid("number");
  }
  void f64(double& v) {
    v = std::bit_cast<double>(get(8));
    if (std::isnan(v)) invalid("number");
  }
  void f64s(double* v, int n) {
    for (int i = 0; i < n; ++i) f64(v[i]);
  }
  void flags(bool* v, int n) {
    for (int i = 0; i < n; ++i) flag(v[i]);
  }
  // A count of items of at least item_bytes each that must fit in the bytes
  // left.
  std::size_t length(std::size_t, std::size_t item_bytes) {
    int32_t n = 0;
    i32(n);
    if (n < 0 || static_cast<uint64_t>(n) * item_bytes > left()) invalid("count");
    return static_cast<std::size_t>(n);
  }
  void option_int(long& v, long lo, long hi) {
    int32_t x = 0;
    i32(x);
    if (x < lo || x > hi) invalid("option value");
    v = x;
  }
  void option_int(int& v, long lo, long hi) {
    long x = 0;
    option_int(x, lo, hi);
    v = static_cast<int>(x);
  }
  void option_flag(bool& v) {
    long x = 0;
    option_int(x, 0, 1);
    v = x == 1;
  }
  void option_f64(double& v, double lo, double hi) {
    f64(v);
    if (!(v >= lo && v <= hi)) invalid("option value");
  }

  template <typename T>
  void ref(T*& record) {
    int32_t id = 0;
    i32(id);
    record = nullptr;
    if (id == 0) return;
    record = kind_of<T>::find(id);
    if (record == nullptr) fail(mgn_format("Invalid %s reference in binary file %s", kind_of<T>::word, name_.c_str()));
  }
  template <typename T>
  void ref_list(mgn_list& list) {
    const std::size_t n = length(0, 4);
    mgn_destroy_list(list);
    for (std::size_t i = 0; i < n; ++i) {
      T* record = nullptr;
      ref(record);
      mgn_add_item_to_head(list, record);
    }
    mgn_reverse_list(list);
  }
  template <typename T>
  T* typed_ref() {
    T* record = nullptr;
    ref(record);
    return record;
  }
  void kind_ref(int32_t kind, void*& record);
  void kind_ref_list(int32_t kind, mgn_list& list);

  void point(mgn_ctrl_point*& p) {
    int32_t tag = 0;
    i32(tag);
    if (tag == kPointNone) {
      p = nullptr;
    } else if (tag == kPointKnown) {
      int32_t index = 0;
      i32(index);
      if (index < 0 || static_cast<std::size_t>(index) >= points_.size()) invalid("control point index");
      p = points_[static_cast<std::size_t>(index)];
    } else if (tag == kPointNew) {
      // A vertex's own point is filled in place.
      if (p == nullptr) p = mgn_create_ctrl_point();
      f64s(p->xyz, 3);
      f64(p->w);
      f32(p->size);
      points_.push_back(p);
    } else {
      invalid("control point");
    }
  }
  // A vector of points; a point reference takes 4 bytes at least.
  void points(std::vector<mgn_ctrl_point*>& v) {
    const std::size_t n = length(0, 4);
    v.assign(n, nullptr);
    for (mgn_ctrl_point*& p : v) point(p);
  }
  void floats(std::vector<float>& v) {
    const std::size_t n = length(0, 4);
    v.assign(n, 0.0f);
    for (float& f : v) f32(f);
  }

  uint64_t left() const { return end_ - position_; }
  const std::string& name() const { return name_; }

 private:
  uint64_t get(int bytes) {
    if (static_cast<uint64_t>(bytes) > left())
      fail(mgn_format("Unexpected end of binary file %s", name_.c_str()));
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(next_byte()) << (8 * i);
    return value;
  }
  unsigned char next_byte() {
    if (buffer_begin_ == buffer_end_) fill();
    ++position_;
    return buffer_[buffer_begin_++];
  }
  void fill() {
    buffer_begin_ = 0;
    buffer_end_ = std::fread(buffer_.data(), 1, buffer_.size(), stream_);
    if (buffer_end_ == 0) fail(mgn_format("Unexpected end of binary file %s", name_.c_str()));
  }

  std::string name_;
  std::FILE* stream_ = nullptr;
  uint64_t size_ = 0;      // bytes of the file
  uint64_t end_ = 0;       // position of the trailer
  uint64_t position_ = 0;  // bytes consumed
  std::vector<unsigned char> buffer_ = std::vector<unsigned char>(1 << 16);
  std::size_t buffer_begin_ = 0, buffer_end_ = 0;
  std::vector<mgn_ctrl_point*> points_;
};

void binary_reader::open() {
  stream_ = std::fopen(name_.c_str(), "rb");
  struct stat info {};
  if (stream_ == nullptr || ::fstat(::fileno(stream_), &info) != 0 || !S_ISREG(info.st_mode))
    mgn_file_manipulation_error(mgn_format("Binary file %s opening error", name_.c_str()), "mgn_read_model_from_file",
                                mgn_module_name(__FILE__), __LINE__);
  size_ = static_cast<uint64_t>(info.st_size);
  end_ = size_;
}

// Magic number, then the signature, revision and check value.
void binary_reader::check_header() {
  int32_t magic = 0, signature = 0, revision = 0, check = 0;
  i32(magic);
  if (magic != kMagic) fail(mgn_format("Binary file %s is not compatible", name_.c_str()));
  i32(signature);
  i32(revision);
  i32(check);
  // Only files of this revision are read: the layout of the records is
  // this program's own.
  // Compared in 64 bits: a forged signature near the limits of int32_t must
  // not overflow.
  if (static_cast<int64_t>(signature) - kFeatureSum != kSignatureBase || check != kCheckValue || revision != kRevision)
    fail(mgn_format("Binary file %s is not compatible with Mgn executable", name_.c_str()));
}

// The checksum of everything before the trailer; the reader is set back
// behind the values check_header read, with the trailer out of reach.
void binary_reader::check_checksum() {
  if (size_ < kHeaderBytes + kTrailerBytes) fail(mgn_format("Unexpected end of binary file %s", name_.c_str()));
  const uint64_t body = size_ - kTrailerBytes;
  if (std::fseek(stream_, 0, SEEK_SET) != 0) fail(mgn_format("Binary file %s reading error", name_.c_str()));
  uint64_t sum = mgn_binary_checksum_start;
  uint64_t done = 0;
  while (done < body) {
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(buffer_.size(), body - done));
    const std::size_t got = std::fread(buffer_.data(), 1, want, stream_);
    if (got != want) fail(mgn_format("Binary file %s reading error", name_.c_str()));
    sum = mgn_binary_checksum(sum, buffer_.data(), got);
    done += got;
  }
  unsigned char trailer[kTrailerBytes];
  if (std::fread(trailer, 1, kTrailerBytes, stream_) != kTrailerBytes)
    fail(mgn_format("Binary file %s reading error", name_.c_str()));
  uint64_t stored = 0;
  for (std::size_t i = 0; i < kTrailerBytes; ++i) stored |= static_cast<uint64_t>(trailer[i]) << (8 * i);
  if (stored != sum) fail(mgn_format("Binary file %s is damaged", name_.c_str()));
  if (std::fseek(stream_, static_cast<long>(kCheckedBytes), SEEK_SET) != 0)
    fail(mgn_format("Binary file %s reading error", name_.c_str()));
  position_ = kCheckedBytes;
  end_ = body;
  buffer_begin_ = buffer_end_ = 0;
}

void binary_reader::close() {
  if (position_ != end_) fail(mgn_format("Binary file %s holds more than its model", name_.c_str()));
  std::FILE* stream = stream_;
  stream_ = nullptr;
  if (std::fclose(stream) != 0)
    mgn_file_manipulation_error(mgn_format("Binary input file %s closing error", name_.c_str()),
                                "mgn_read_model_from_file", mgn_module_name(__FILE__), __LINE__);
}

void binary_reader::kind_ref(int32_t kind, void*& record) {
  switch (kind) {
    case MGN_VERTEX: record = typed_ref<mgn_vertex>(); break;
    case MGN_CURVE: record = typed_ref<mgn_curve>(); break;
    case MGN_SURFACE: record = typed_ref<mgn_surface>(); break;
    case MGN_REGION: record = typed_ref<mgn_region>(); break;
    case MGN_PATCH: record = typed_ref<mgn_patch>(); break;
    case MGN_SHELL: record = typed_ref<mgn_shell>(); break;
    default: {
      int32_t id = 0;
      i32(id);
      if (id != 0) invalid("entity kind");
      record = nullptr;
    }
  }
}

void binary_reader::kind_ref_list(int32_t kind, mgn_list& list) {
  switch (kind) {
    case MGN_VERTEX: ref_list<mgn_vertex>(list); break;
    case MGN_CURVE: ref_list<mgn_curve>(list); break;
    default: invalid("entity kind");
  }
}

// ---------------------------------------------------------------------------
// Options
// ---------------------------------------------------------------------------

// The options block: the model-related values always, all others when the
// writing run asked for them (-Z).  The boundary-conforming switch is
// stored inverted, 0 when -B was given.
template <typename A>
void transfer_options(A& a) {
  mgn_settings& s = mgn_set;
  // A larger hash table than the reader accepts is stored at that size: it
  // only speeds up lookups.
  long hash_table_size = std::min(s.hash_table_size, kLargestHashTable);
  a.option_int(hash_table_size, 1, kLargestHashTable);
  s.hash_table_size = hash_table_size;
  for (long& n : s.entity_counts) a.option_int(n, 0, kLargestEntityCount);
  a.option_f64(s.user_epsilon, std::numeric_limits<double>::denorm_min(), HUGE_VAL);
  a.option_f64(s.uniform_size, 0.0, HUGE_VAL);
  a.option_f64(s.default_size, 0.0, HUGE_VAL);
  a.option_f64(s.size_factor, 0.0, HUGE_VAL);
  a.option_f64(s.curvature_rate, 0.0, HUGE_VAL);
  a.option_f64(s.curvature_factor, 0.0, HUGE_VAL);
  a.option_f64(s.curve_density, 0.0, HUGE_VAL);
  bool all = s.store_options_in_binary;
  a.option_flag(all);
  if (!all) return;
  a.option_flag(s.nodal_smoothing);
  a.option_flag(s.quiet);
  a.option_flag(s.warnings_suppressed);
  a.option_flag(s.quad_hexa_support);
  a.option_flag(s.convexity_check);
  a.option_flag(s.include_virtual);
  a.option_flag(s.curvature_violation);
  bool not_conforming = !s.boundary_conforming;
  a.option_flag(not_conforming);
  s.boundary_conforming = !not_conforming;
  a.option_flag(s.default_bassoc_output);
  a.option_int(s.element_degree, 1, 2);
  a.option_int(s.renumbering_type, 0, 7);
  a.option_int(s.smoothing_type, 0, 3);
  a.option_int(s.output_spec, 0, 255);
  a.option_int(s.quality_report, 0, 255);
  a.option_int(s.listing_size, 10, 100000);
  a.option_int(s.numbering_shift[0], 0, INT32_MAX);
  a.option_int(s.numbering_shift[1], 0, INT32_MAX);
  a.option_f64(s.bg_size_factor, 0.0, HUGE_VAL);
  // The working octant excess (the reciprocal of the option value).
  a.option_f64(s.octant_excess, 1.0 / 1.5, 1.0);
  a.option_f64(s.transition_f2c, 1.0, 6.0);
  a.option_f64(s.transition_c2f, 1.0, 2.0);
  a.option_f64(s.root_octant_size, 0.0, HUGE_VAL);
  a.option_flag(s.root_origin_given);
  for (double& x : s.root_octant_origin) a.option_f64(x, -HUGE_VAL, HUGE_VAL);
}

void mgn_write_options_to_file(binary_writer& w) { transfer_options(w); }

// The restored run keeps its own values of the options the file does not
// hold, and its own -Z.
void mgn_read_options_from_file(binary_reader& r) {
  r.routine = __func__;
  transfer_options(r);
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// Kind codes of joined entities and extrusion bases.
bool face_kind(int32_t kind) { return kind == MGN_SURFACE || kind == MGN_PATCH || kind == MGN_SHELL; }

template <typename A>
void transfer_attractions(A& a, mgn_list& attractions) {
  std::size_t n = 0;
  if constexpr (!A::reading) {
    for (const mgn_list_item* item = attractions; item != nullptr; item = item->next) ++n;
  }
  n = a.length(n, 12);
  if constexpr (A::reading) {
    mgn_release_attractions(attractions);
    for (std::size_t i = 0; i < n; ++i) mgn_add_item_to_head(attractions, mgn_create_attraction(1.0f, 0));
    mgn_reverse_list(attractions);
  }
  for (mgn_attraction* item : mgn_list_range<mgn_attraction>(attractions)) {
    a.f32(item->factor);
    a.i32(item->kind);
    if constexpr (A::reading) {
      if (item->kind != MGN_VERTEX && item->kind != MGN_CURVE) a.invalid("attraction");
    }
    a.kind_ref_list(item->kind, item->entities);
  }
}

template <typename A>
void transfer_vertex(A& a, mgn_vertex& v) {
  a.i32(v.property);
  a.f32(v.size);
  a.f32(v.factor);
  a.flag(v.slave), a.flag(v.master), a.flag(v.fixed), a.flag(v.hidden), a.flag(v.is_virtual);
  a.flag(v.output_requested), a.flag(v.output);
  a.point(v.ctrl_point);
  a.ref(v.parent_vertex);
  a.ref(v.parent_curve);
  a.ref(v.parent_surface);
  a.f64s(v.param, 2);
  a.template ref_list<mgn_vertex>(v.fixed_vertices);
  a.template ref_list<mgn_vertex>(v.coinciding_vertices);
  a.flag(v.bounds_curve);
  a.template ref_list<mgn_curve>(v.curves);
  a.i32(v.prescribed_count);
  a.flag(v.close_exempt);
  a.flag(v.is_hidden);
  a.ref(v.localized_region);
  if constexpr (A::reading) {
    if (v.ctrl_point == nullptr) a.invalid("vertex record");
    v.xyz = v.ctrl_point->xyz;
  }
}

// An order of a curve or surface.
bool valid_order(int order) { return order >= 2 && order <= MGN_MAX_ORDER; }

template <typename A>
void transfer_curve(A& a, mgn_curve& c) {
  a.i32(c.property);
  a.i16(c.order);
  a.i16(c.shape_order);
  a.f32(c.size), a.f32(c.rate), a.f32(c.density), a.f32(c.factor);
  a.f32(c.smear_angle), a.f32(c.swap_angle);
  a.flag(c.slave), a.flag(c.master), a.flag(c.fixed), a.flag(c.hidden);
  a.flag(c.swap), a.flag(c.smear), a.flag(c.is_virtual);
  a.flag(c.reversed), a.flag(c.equidistant), a.flag(c.output_requested), a.flag(c.output), a.flag(c.bassoc);
  a.i32(c.count);
  a.floats(c.polysize);
  a.f32(c.f2c), a.f32(c.c2f);
  a.ref(c.vertex[0]);
  a.ref(c.vertex[1]);
  a.ref(c.parent_curve);
  a.f64s(c.parent_t, 2);
  a.ref(c.parent_surface);
  a.f64s(&c.parent_uv[0][0], 4);
  a.ref(c.duplicated);
  a.ref(c.mirrored);
  a.flag(c.weak_mirror);
  a.flag(c.left_used), a.flag(c.right_used);
  a.flag(c.collapsed), a.flag(c.straight);
  a.f64s(c.direction, 3);
  // Polygon slots: slot k is empty or holds order + k points.
  std::size_t slots = a.length(c.polygon.size(), 4);
  if constexpr (A::reading) {
    if (!valid_order(c.order) || slots < 1 || slots > static_cast<std::size_t>(MGN_MAX_ORDER - c.order + 1))
      a.invalid("curve polygon");
    c.polygon.assign(slots, {});
  }
  for (std::size_t k = 0; k < slots; ++k) {
    std::vector<mgn_ctrl_point*>& slot = c.polygon[k];
    a.points(slot);
    if constexpr (A::reading) {
      const bool shaped = (slot.empty() && k > 0) || slot.size() == static_cast<std::size_t>(c.order) + k;
      if (!shaped) a.invalid("curve polygon");
      for (const mgn_ctrl_point* p : slot)
        if (p == nullptr) a.invalid("curve polygon");
    }
  }
  a.template ref_list<mgn_curve>(c.fixed_curves);
  a.template ref_list<mgn_vertex>(c.fixed_vertices);
  a.template ref_list<mgn_curve>(c.coinciding_curves);
  a.template ref_list<mgn_surface>(c.surfaces);
  a.template ref_list<mgn_patch>(c.patches);
  a.template ref_list<mgn_shell>(c.shells);
  a.i16(c.second_order);
  a.f64s(c.box, 6);
  a.template ref_list<mgn_curve>(c.duplicates);
  a.f32(c.edge_length);
  a.flag(c.fixed_split), a.flag(c.meshing), a.flag(c.is_hidden), a.flag(c.swapped);
  a.ref(c.localized_region);
  if constexpr (A::reading) {
    if (!valid_order(c.shape_order) || c.second_order < 2 || c.second_order > MGN_MAX_ORDER + 1 ||
        c.vertex[0] == nullptr || c.vertex[1] == nullptr)
      a.invalid("curve record");
  }
}

template <typename A>
void transfer_surface(A& a, mgn_surface& s) {
  a.i32(s.property);
  a.i16(s.order_u), a.i16(s.order_v);
  a.i16(s.shape_order_u), a.i16(s.shape_order_v);
  a.f32(s.size), a.f32(s.rate), a.f32(s.factor);
  a.flag(s.hole), a.flag(s.hidden), a.flag(s.is_virtual);
  a.flag(s.output_requested), a.flag(s.output), a.flag(s.bassoc);
  a.ref(s.inner_region), a.ref(s.outer_region), a.ref(s.localized_region);
  for (mgn_vertex*& v : s.vertex) a.ref(v);
  for (mgn_curve*& c : s.curve) a.ref(c);
  a.flags(s.reversed, 4);
  a.ref(s.parent_surface);
  a.f64(s.umin), a.f64(s.vmin), a.f64(s.umax), a.f64(s.vmax);
  a.template ref_list<mgn_vertex>(s.fixed_vertices);
  a.template ref_list<mgn_curve>(s.fixed_curves);
  a.template ref_list<mgn_surface>(s.child_surfaces);
  transfer_attractions(a, s.attractions);
  a.template ref_list<mgn_surface>(s.coinciding_surfaces);
  a.template ref_list<mgn_patch>(s.coinciding_patches);
  a.template ref_list<mgn_shell>(s.coinciding_shells);
  a.flag(s.planar);
  a.f64s(s.normal, 3);
  a.points(s.net);
  a.flag(s.quad), a.flag(s.map), a.flag(s.equidistant), a.flag(s.slave);
  a.i16(s.diagonal);
  a.f64s(s.diagonal_point, 3);
  a.ref(s.lcs[0]), a.ref(s.lcs[1]);
  a.ref(s.duplicated), a.ref(s.mirrored);
  a.flag(s.weak_mirror);
  a.f32(s.global_attraction);
  if constexpr (A::reading) {
    bool valid = valid_order(s.order_u) && valid_order(s.order_v) && valid_order(s.shape_order_u) &&
                 valid_order(s.shape_order_v) && s.net.size() == static_cast<std::size_t>(s.order_u * s.order_v);
    for (const mgn_ctrl_point* p : s.net) valid = valid && p != nullptr;
    for (int k = 0; k < 4; ++k) valid = valid && s.vertex[k] != nullptr && s.curve[k] != nullptr;
    if (!valid) a.invalid("surface record");
  }
}

template <typename A, typename Entity>
void transfer_face_requests(A& a, Entity& e) {
  a.flag(e.quad), a.flag(e.map), a.flag(e.equidistant), a.flag(e.slave);
  a.i16(e.diagonal);
  a.f64s(e.diagonal_point, 3);
  a.ref(e.lcs[0]), a.ref(e.lcs[1]);
  a.ref(e.duplicated), a.ref(e.mirrored);
  a.flag(e.weak_mirror);
}

template <typename A, typename Entity>
void transfer_coinciding(A& a, Entity& e) {
  a.template ref_list<mgn_surface>(e.coinciding_surfaces);
  a.template ref_list<mgn_patch>(e.coinciding_patches);
  a.template ref_list<mgn_shell>(e.coinciding_shells);
}

template <typename A>
void transfer_patch(A& a, mgn_patch& p) {
  a.i32(p.property);
  a.f64s(p.normal, 3);
  a.f64s(p.origin, 3);
  a.flag(p.origin_given);
  a.template ref_list<mgn_curve>(p.left_curves);
  a.template ref_list<mgn_curve>(p.right_curves);
  a.template ref_list<mgn_patch>(p.subpatches);
  a.template ref_list<mgn_vertex>(p.fixed_vertices);
  a.template ref_list<mgn_curve>(p.fixed_curves);
  a.f32(p.size), a.f32(p.factor);
  a.flag(p.hole), a.flag(p.hidden), a.flag(p.is_virtual);
  a.flag(p.output_requested), a.flag(p.output), a.flag(p.bassoc);
  a.ref(p.inner_region), a.ref(p.outer_region), a.ref(p.localized_region);
  // The planar background surface of a patch is no model surface: the
  // restoring run builds it again with the patch checks.
  a.f64(p.epsilon);
  a.flag(p.epsilon_given);
  a.flag(p.iso);
  a.f64s(p.iso_direction, 3);
  a.flag(p.iso_direction_given);
  transfer_attractions(a, p.attractions);
  a.f32(p.global_attraction);
  transfer_coinciding(a, p);
  transfer_face_requests(a, p);
}

template <typename A>
void transfer_shell(A& a, mgn_shell& s) {
  a.i32(s.property);
  a.ref(s.bg_surface);
  a.template ref_list<mgn_curve>(s.left_curves);
  a.template ref_list<mgn_curve>(s.right_curves);
  a.template ref_list<mgn_shell>(s.subshells);
  a.template ref_list<mgn_vertex>(s.fixed_vertices);
  a.template ref_list<mgn_curve>(s.fixed_curves);
  a.f32(s.size), a.f32(s.rate), a.f32(s.factor);
  a.flag(s.hole), a.flag(s.hidden), a.flag(s.is_virtual);
  a.flag(s.output_requested), a.flag(s.output), a.flag(s.bassoc);
  a.ref(s.inner_region), a.ref(s.outer_region), a.ref(s.localized_region);
  transfer_attractions(a, s.attractions);
  a.f32(s.global_attraction);
  transfer_coinciding(a, s);
  transfer_face_requests(a, s);
}

template <typename A>
void transfer_region(A& a, mgn_region& r) {
  a.i32(r.property);
  a.template ref_list<mgn_surface>(r.inner_surfaces);
  a.template ref_list<mgn_surface>(r.outer_surfaces);
  a.template ref_list<mgn_patch>(r.inner_patches);
  a.template ref_list<mgn_patch>(r.outer_patches);
  a.template ref_list<mgn_shell>(r.inner_shells);
  a.template ref_list<mgn_shell>(r.outer_shells);
  a.template ref_list<mgn_region>(r.subregions);
  a.template ref_list<mgn_vertex>(r.fixed_vertices);
  a.template ref_list<mgn_curve>(r.fixed_curves);
  a.template ref_list<mgn_surface>(r.fixed_surfaces);
  a.template ref_list<mgn_patch>(r.fixed_patches);
  a.template ref_list<mgn_shell>(r.fixed_shells);
  a.f32(r.size), a.f32(r.factor);
  a.flag(r.hole), a.flag(r.is_virtual), a.flag(r.output_requested), a.flag(r.output);
  a.flag(r.hexa), a.flag(r.map), a.flag(r.iso), a.flag(r.extrude), a.flag(r.weak_extrude);
  a.flag(r.equidistant);
  a.f64s(&r.iso_direction[0][0], 6);
  for (mgn_curve*& c : r.lcs) a.ref(c);
  a.i32(r.extrude_base_kind);
  if constexpr (A::reading) {
    if (r.extrude_base_kind != -1 && !face_kind(r.extrude_base_kind)) a.invalid("region record");
  }
  a.kind_ref(r.extrude_base_kind, r.extrude_base);
  a.f32(r.volume);
}

template <typename A>
void transfer_interface(A& a, mgn_interface& i) {
  a.i32(i.property);
  a.i32(i.kind);
  if constexpr (A::reading) {
    if (i.kind != MGN_VERTEX && i.kind != MGN_CURVE && !face_kind(i.kind)) a.invalid("interface record");
  }
  a.kind_ref(i.kind, i.entity[0]);
  a.kind_ref(i.kind, i.entity[1]);
  a.flag(i.is_virtual), a.flag(i.weak), a.flag(i.element_free);
  a.flag(i.output_requested), a.flag(i.output);
  if constexpr (A::reading) {
    if (i.entity[0] == nullptr || i.entity[1] == nullptr) a.invalid("interface record");
  }
}

// A field added to a model record changes its size: add the field to its
// transfer routine above, then the size here.
template <typename T>
constexpr std::size_t own_bytes = sizeof(T) - sizeof(mgn_entity_mesh);
static_assert(own_bytes<mgn_vertex> == 128, "vertex record changed: update transfer_vertex");
static_assert(own_bytes<mgn_curve> == 368, "curve record changed: update transfer_curve");
static_assert(own_bytes<mgn_surface> == 360, "surface record changed: update transfer_surface");
static_assert(own_bytes<mgn_patch> == 312, "patch record changed: update transfer_patch");
static_assert(own_bytes<mgn_shell> == 216, "shell record changed: update transfer_shell");
static_assert(own_bytes<mgn_region> == 216, "region record changed: update transfer_region");
static_assert(own_bytes<mgn_interface> == 40, "interface record changed: update transfer_interface");

// The per-kind writers and readers of the records.
void mgn_write_vertex_to_file(binary_writer& w, mgn_vertex* v) { transfer_vertex(w, *v); }
void mgn_write_curve_to_file(binary_writer& w, mgn_curve* c) { transfer_curve(w, *c); }
void mgn_write_surface_to_file(binary_writer& w, mgn_surface* s) { transfer_surface(w, *s); }
void mgn_write_patch_to_file(binary_writer& w, mgn_patch* p) { transfer_patch(w, *p); }
void mgn_write_shell_to_file(binary_writer& w, mgn_shell* s) { transfer_shell(w, *s); }
void mgn_write_region_to_file(binary_writer& w, mgn_region* r) { transfer_region(w, *r); }
void mgn_write_interface_to_file(binary_writer& w, mgn_interface* i) { transfer_interface(w, *i); }
void mgn_read_vertex_from_file(binary_reader& r, mgn_vertex* v) {
  r.routine = __func__;
  transfer_vertex(r, *v);
}
void mgn_read_curve_from_file(binary_reader& r, mgn_curve* c) {
  r.routine = __func__;
  transfer_curve(r, *c);
}
void mgn_read_surface_from_file(binary_reader& r, mgn_surface* s) {
  r.routine = __func__;
  transfer_surface(r, *s);
}
void mgn_read_patch_from_file(binary_reader& r, mgn_patch* p) {
  r.routine = __func__;
  transfer_patch(r, *p);
}
void mgn_read_shell_from_file(binary_reader& r, mgn_shell* s) {
  r.routine = __func__;
  transfer_shell(r, *s);
}
void mgn_read_region_from_file(binary_reader& r, mgn_region* g) {
  r.routine = __func__;
  transfer_region(r, *g);
}
void mgn_read_interface_from_file(binary_reader& r, mgn_interface* i) {
  r.routine = __func__;
  transfer_interface(r, *i);
}

// The model-wide flags of the reader (the post-reading checks of a
// restored run use them).
template <typename A>
void transfer_model_flags(A& a) {
  mgn_input_state& in = mgn_input;
  a.flag(in.properties_seen), a.flag(in.hidden_seen), a.flag(in.master_curve_seen);
  a.flag(in.slave_curve_seen), a.flag(in.swap_curve_seen), a.flag(in.smear_curve_seen);
}

// ---------------------------------------------------------------------------
// The whole model
// ---------------------------------------------------------------------------

// Identifier table of one kind (records with identifier 0 are skipped);
// the number written must be the kind's count.
template <typename T>
void write_identifiers(binary_writer& w) {
  const mgn_entity_store& store = kind_of<T>::store();
  long written = 0;
  for (T* record : mgn_list_range<T>(store.list))
    if (record->id != 0) {
      w.i32(record->id);
      ++written;
    }
  if (written != store.count) w.inconsistent();
}

template <typename T>
void write_records(binary_writer& w, void (*write)(binary_writer&, T*)) {
  for (T* record : mgn_list_range<T>(kind_of<T>::store().list))
    if (record->id != 0) write(w, record);
}

// Reads count identifiers and creates their records, each at the head of
// its model list and bucket.
template <typename T>
void read_identifiers(binary_reader& r, long count) {
  mgn_entity_store& store = kind_of<T>::store();
  for (long k = 0; k < count; ++k) {
    int32_t id = 0;
    r.i32(id);
    if (id < 1 || (store.slots != nullptr && id > store.slot_count) || kind_of<T>::find(id) != nullptr)
      r.fail(mgn_format("Invalid %s identifier in binary file %s", kind_of<T>::word, r.name().c_str()));
    mgn_add_entity_to_store(store, kind_of<T>::create(id), id);
  }
}

template <typename T>
void read_records(binary_reader& r, void (*read)(binary_reader&, T*)) {
  for (T* record : mgn_list_range<T>(kind_of<T>::store().list)) read(r, record);
}

}  // namespace

void mgn_write_model_to_file() {
  binary_writer w(mgn_set.binary_file_name);
  w.open();
  w.i32(kMagic);
  w.i32(kSignatureBase + kFeatureSum);
  w.i32(kRevision);
  w.i32(kCheckValue);
  w.i16(kVersionMajor);
  w.i16(kVersionMinor);
  mgn_write_options_to_file(w);
  const mgn_model_store& m = mgn_model;
  for (const mgn_entity_store* store :
       {&m.vertices, &m.curves, &m.surfaces, &m.patches, &m.shells, &m.regions, &m.interfaces})
    w.i32(static_cast<int32_t>(store->count));
  write_identifiers<mgn_vertex>(w);
  write_identifiers<mgn_curve>(w);
  write_identifiers<mgn_surface>(w);
  write_identifiers<mgn_patch>(w);
  write_identifiers<mgn_shell>(w);
  write_identifiers<mgn_region>(w);
  write_identifiers<mgn_interface>(w);
  write_records<mgn_vertex>(w, mgn_write_vertex_to_file);
  write_records<mgn_curve>(w, mgn_write_curve_to_file);
  write_records<mgn_surface>(w, mgn_write_surface_to_file);
  write_records<mgn_patch>(w, mgn_write_patch_to_file);
  write_records<mgn_shell>(w, mgn_write_shell_to_file);
  write_records<mgn_region>(w, mgn_write_region_to_file);
  write_records<mgn_interface>(w, mgn_write_interface_to_file);
  transfer_model_flags(w);
  w.finish();
  mgn_print_message(stdout, "Binary data stored");
}

void mgn_read_model_from_file() {
  binary_reader r(mgn_set.binary_file_name);
  r.open();
  r.check_header();
  r.check_checksum();
  int16_t major = 0, minor = 0;
  r.i16(major);
  r.i16(minor);
  mgn_run.version_major = major;
  mgn_run.version_minor = minor;
  mgn_read_options_from_file(r);
  r.routine = "mgn_read_model_from_file";

  long counts[MGN_KINDS];
  for (long& count : counts) {
    int32_t n = 0;
    r.i32(n);
    // Each record takes 4 bytes of identifier at least.
    if (n < 0 || static_cast<uint64_t>(n) * 4 > r.left()) r.invalid("entity count");
    count = n;
  }
  mgn_run.model_not_yet_read = false;
  mgn_prepare_model_store();
  read_identifiers<mgn_vertex>(r, counts[0]);
  read_identifiers<mgn_curve>(r, counts[1]);
  read_identifiers<mgn_surface>(r, counts[2]);
  read_identifiers<mgn_patch>(r, counts[3]);
  read_identifiers<mgn_shell>(r, counts[4]);
  read_identifiers<mgn_region>(r, counts[5]);
  read_identifiers<mgn_interface>(r, counts[6]);
  mgn_model_store& m = mgn_model;
  for (mgn_entity_store* store : {&m.vertices, &m.curves, &m.surfaces, &m.patches, &m.shells, &m.regions,
                                  &m.interfaces})
    mgn_reverse_list(store->list);
  read_records<mgn_vertex>(r, mgn_read_vertex_from_file);
  read_records<mgn_curve>(r, mgn_read_curve_from_file);
  read_records<mgn_surface>(r, mgn_read_surface_from_file);
  read_records<mgn_patch>(r, mgn_read_patch_from_file);
  read_records<mgn_shell>(r, mgn_read_shell_from_file);
  read_records<mgn_region>(r, mgn_read_region_from_file);
  read_records<mgn_interface>(r, mgn_read_interface_from_file);
  r.routine = "mgn_read_model_from_file";
  transfer_model_flags(r);
  r.close();
  mgn_print_message(stdout, "Binary data restored");
}
