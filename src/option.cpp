// Command line analysis and the informational outputs of the program.
#include "option.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "message.h"
#include "records.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// Integers of the command line are 32-bit values.
constexpr long kIntMax = 2147483647L;

bool version_printed = false;
bool directives_printed = false;

// Options whose value belongs to the model; they are ignored when the model
// was restored from a binary model file.
bool is_model_option(unsigned char c) { return c != '\0' && std::strchr("nTudvcwte", c) != nullptr; }

// Options known to the analysis.
bool is_known_option(unsigned char c) {
  return c != '\0' && std::strchr("iogmbxnfrskpqyzduvacwteLTRUEJQWVCBASZHKhPF", c) != nullptr;
}

const char* multiple_file_message(unsigned char c) {
  switch (c) {
    case 'i': return "Multiple input file name specification";
    case 'o': return "Multiple output file name specification";
    case 'm': return "Multiple bg mesh file name specification";
    case 'g': return "Multiple log file name specification";
    case 'b': return "Multiple binary file name specification";
    case 'x': return "Multiple graphic file name specification";
    default: return nullptr;
  }
}

// The current value of an option as text, quoted when a repeated option
// overrides it.  Flags have no value text.
std::string value_text(unsigned char c) {
  const mgn_settings& s = mgn_set;
  switch (c) {
    case 'r': return mgn_format("%d", s.renumbering_type);
    case 's': return mgn_format("%d", s.smoothing_type);
    case 'k': return mgn_format("%d", s.element_degree);
    case 'p': return mgn_format("%d", s.output_spec);
    case 'q': return mgn_format("%d", s.quality_report);
    case 'y': return mgn_format("%d", s.graphics_type);
    case 'z': return mgn_format("%d", s.graphics_spec);
    case 'L': return mgn_format("%ld", s.listing_size);
    case 'T': return mgn_format("%ld", s.hash_table_size);
    case 'n':
      return mgn_format("%ld %ld %ld %ld %ld %ld %ld", s.entity_counts[0], s.entity_counts[1], s.entity_counts[2],
                        s.entity_counts[3], s.entity_counts[4], s.entity_counts[5], s.entity_counts[6]);
    case 'f': return mgn_format("%ld %ld", s.numbering_shift[0], s.numbering_shift[1]);
    case 'd': return mgn_format("%e", s.default_size);
    case 'u': return mgn_format("%e", s.uniform_size);
    case 'v': return mgn_format("%e", s.size_factor);
    case 'a': return mgn_format("%e", s.bg_size_factor);
    case 'c': return mgn_format("%e", s.curvature_rate);
    case 'w': return mgn_format("%e", s.curvature_factor);
    case 't': return mgn_format("%e", s.curve_density);
    case 'e': return mgn_format("%e", s.user_epsilon);
    case 'R': return mgn_format("%e", s.root_octant_size);
    case 'E': return mgn_format("%e", s.octant_excess);
    case 'U':
      return mgn_format("%e %e %e", s.root_octant_origin[0], s.root_octant_origin[1], s.root_octant_origin[2]);
    case 'J': return mgn_format("%e %e", s.transition_f2c, s.transition_c2f);
    default: return std::string();
  }
}

// Walks the arguments of one option: each read takes the next argument.
struct arg_cursor {
  int argc;
  char** argv;
  int index;  // index of the last argument consumed
  char option;

  int left() const { return argc - 1 - index; }
  const char* next() const { return left() > 0 ? argv[index + 1] : nullptr; }

  long read_int() {
    long value = mgn_read_int_parameter(left(), next(), option);
    ++index;
    return value;
  }
  long read_int(long minimum, long maximum, bool check) {
    long value = read_int();
    if (check) mgn_check_int_range(value, minimum, maximum, option);
    return value;
  }
  double read_fpn() {
    double value = mgn_read_fpn_parameter(left(), next(), option);
    ++index;
    return value;
  }
  double read_fpn(double lower, bool lower_inclusive, double upper, bool upper_inclusive, bool check) {
    double value = read_fpn();
    if (check) mgn_check_fpn_range(value, lower, lower_inclusive, upper, upper_inclusive, option);
    return value;
  }
  std::string read_file_name() {
    std::string name = mgn_read_file_name_parameter(left(), next(), option);
    ++index;
    return name;
  }
};

// Format descriptions asked for on the command line.
struct description_requests {
  bool input = false;
  bool output = false;
  bool bg_mesh = false;
  bool boundary = false;
  bool ombrax = false;
};

// First pass: warnings suppression and the informational requests, each
// handled at its first match, in the order of the arguments.
void run_pre_pass(int argc, char** argv, description_requests& wanted) {
  bool seen_w = false, seen_ver = false, seen_dir = false, seen_h = false, seen_p = false, seen_f = false;
  bool seen_fin = false, seen_fout = false, seen_fbgm = false, seen_fbnd = false, seen_fomx = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-W" && !seen_w) {
      seen_w = true;
      mgn_set.warnings_suppressed = true;
    } else if (arg == "-ver" && !seen_ver) {
      seen_ver = true;
      mgn_print_version();
    } else if (arg == "-dir" && !seen_dir) {
      seen_dir = true;
      mgn_print_directives();
    } else if (arg == "-h" && !seen_h) {
      seen_h = true;
      mgn_print_usage();
    } else if (arg == "-P" && !seen_p) {
      seen_p = true;
      mgn_print_parameters();
    } else if (arg == "-F" && !seen_f) {
      seen_f = true;
      wanted.input = wanted.output = wanted.bg_mesh = true;
    } else if (arg == "-Fin" && !seen_fin) {
      seen_fin = true;
      wanted.input = true;
    } else if (arg == "-Fout" && !seen_fout) {
      seen_fout = true;
      wanted.output = true;
    } else if (arg == "-Fbgm" && !seen_fbgm) {
      seen_fbgm = true;
      wanted.bg_mesh = true;
    } else if (arg == "-Fbnd" && !seen_fbnd) {
      seen_fbnd = true;
      wanted.boundary = true;
    } else if (arg == "-Fomx" && !seen_fomx) {
      seen_fomx = true;
      wanted.ombrax = true;
    }
  }
  if (argc <= 1) mgn_print_usage();
}

bool is_long_request(const char* arg) {
  static const char* const requests[] = {"-ver", "-dir", "-Fin", "-Fout", "-Fbgm", "-Fbnd", "-Fomx"};
  for (const char* request : requests)
    if (std::strcmp(arg, request) == 0) return true;
  return false;
}

// Reads the parameters of option c and stores them (unless `store` is
// false: a model option while the model came from a binary file, whose
// parameters are read and converted but neither checked nor stored).
// Returns by how much the option decreases the count of arguments that ask
// for work.
long apply_option(unsigned char c, arg_cursor& cur, bool store) {
  mgn_settings& s = mgn_set;
  const bool check = store;
  switch (c) {
    // File names.
    case 'i': s.input_file_name = cur.read_file_name(); return 0;
    case 'o': s.output_file_name = cur.read_file_name(); return 0;
    case 'm': s.bg_mesh_file_name = cur.read_file_name(); return 0;
    case 'b': s.binary_file_name = cur.read_file_name(); return 0;
    case 'x': s.graphics_file_name = cur.read_file_name(); return 0;
    case 'g':
      // The log file was opened before the banner with the argument that
      // follows as its name, whatever it is: that argument is only skipped.
      if (cur.left() <= 0) mgn_option_error("Missing file name", cur.option);
      ++cur.index;
      return 2;

    // Integers.
    case 'n': {
      std::array<long, 7> counts{};
      for (long& count : counts) count = cur.read_int(0, kIntMax, check);
      if (store) s.entity_counts = counts;
      return 0;
    }
    case 'f': {
      long node_shift = cur.read_int(0, kIntMax, true);
      long element_shift = cur.read_int(0, kIntMax, true);
      s.numbering_shift = {node_shift, element_shift};
      return 0;
    }
    case 'r': s.renumbering_type = static_cast<int>(cur.read_int(0, 7, true)); return 0;
    case 's': s.smoothing_type = static_cast<int>(cur.read_int(0, 3, true)); return 0;
    case 'k': s.element_degree = static_cast<int>(cur.read_int(1, 2, true)); return 2;
    case 'p': s.output_spec = static_cast<int>(cur.read_int(0, 255, true)); return 2;
    case 'q': s.quality_report = static_cast<int>(cur.read_int(0, 255, true)); return 0;
    case 'y': s.graphics_type = static_cast<int>(cur.read_int(0, 3, true)); return 0;
    case 'z': s.graphics_spec = static_cast<int>(cur.read_int(0, 15, true)); return 0;
    case 'L': s.listing_size = cur.read_int(10, 100000, true); return 0;
    case 'T': {
      long size = cur.read_int(1, kIntMax, check);
      if (store) s.hash_table_size = size;
      return 0;
    }

    // Floating point numbers.
    case 'd': {
      double size = cur.read_fpn(0.0, false, kInf, false, check);
      if (store) s.default_size = size;
      return 0;
    }
    case 'u': {
      double size = cur.read_fpn(0.0, false, kInf, false, check);
      if (store) s.uniform_size = size;
      return 0;
    }
    case 'v': {
      double factor = cur.read_fpn(0.0, true, kInf, false, check);
      if (store) s.size_factor = factor;
      return 0;
    }
    case 'a': s.bg_size_factor = cur.read_fpn(0.0, true, kInf, false, true); return 0;
    case 'c': {
      double rate = cur.read_fpn(0.0, true, kInf, false, check);
      if (store) s.curvature_rate = rate;
      return 0;
    }
    case 'w': {
      double factor = cur.read_fpn(0.0, true, kInf, false, check);
      if (store) s.curvature_factor = factor;
      return 0;
    }
    case 't': {
      double density = cur.read_fpn(0.0, true, kInf, false, check);
      if (store) s.curve_density = density;
      return 0;
    }
    case 'e': {
      double epsilon = cur.read_fpn(0.0, false, kInf, false, check);
      if (store) s.user_epsilon = epsilon;
      return 0;
    }
    case 'R': s.root_octant_size = cur.read_fpn(0.0, false, kInf, false, true); return 0;
    case 'U': {
      std::array<double, 3> origin{};
      for (double& coordinate : origin) coordinate = cur.read_fpn();
      s.root_octant_origin = origin;
      s.root_origin_given = true;
      return 0;
    }
    case 'E': s.octant_excess = cur.read_fpn(1.0, true, 1.5, true, true); return 0;
    case 'J': {
      double f2c = cur.read_fpn();
      if (f2c == 0.0) f2c = 1.5;
      mgn_check_fpn_range(f2c, 1.0, true, 6.0, true, cur.option);
      double c2f = cur.read_fpn();
      if (c2f == 0.0) c2f = 1.5;
      mgn_check_fpn_range(c2f, 1.0, true, 2.0, true, cur.option);
      s.transition_f2c = f2c;
      s.transition_c2f = c2f;
      return 0;
    }

    // Flags and requests.
    case 'Q': s.quiet = true; return 1;
    case 'W': s.warnings_suppressed = true; return 1;
    case 'V': s.include_virtual = true; return 0;
    case 'C': s.curvature_violation = true; return 0;
    case 'B': s.boundary_conforming = true; return 0;
    case 'A': s.default_bassoc_output = false; return 0;
    case 'S': s.nodal_smoothing = false; return 0;
    case 'Z': s.store_options_in_binary = true; return 0;
    case 'H': s.quad_hexa_support = false; return 0;
    case 'K': s.convexity_check = true; return 0;
    case 'h':
    case 'P':
    case 'F': return 1;  // handled by the first pass
    default: return 0;
  }
}

// Consistency rules between options, in a fixed order; each rule that
// changes or questions a setting counts one warning.
void apply_consistency_rules() {
  mgn_settings& s = mgn_set;
  if (s.renumbering_type == 4) {
    mgn_warning(
        "Warning: Option -r is ignored if neither from node or element\n"
        "         renumbering is selected\n");
    s.renumbering_type = 0;
  }
  if (s.renumbering_type != 0 && (s.renumbering_type & 1) == 0) {
    mgn_warning("Warning: Option -r is ignored (element renumbering is disabled)\n");
    s.renumbering_type = 0;
  }
  if (s.convexity_check && !s.quad_hexa_support) mgn_warning("Warning: Option -K is ignored if option -H is used\n");
  if (s.quality_report != 0 && (s.quality_report & 7) == 0) {
    mgn_warning(
        "Warning: Option -q setting is ignored unless at least one from element\n"
        "         quality, angle quality and connectivity quality is used\n");
    s.quality_report = 0;
  }
  if (s.graphics_spec != 0) {
    if (s.graphics_type != 2 && (s.graphics_spec & 1) != 0) {
      s.graphics_spec &= ~1;
      mgn_warning("Warning: Wireframe graphics output ignored for non-VRML graphics output\n");
    }
    if (s.graphics_spec != 0) {
      if ((s.graphics_spec & 1) != 0 && s.graphics_spec != 1) {
        s.graphics_spec = 1;
        mgn_warning("Warning: Contours graphics output specification ignored for wireframe\n");
      } else if ((s.graphics_spec & 3) == 0) {
        mgn_warning(
            "Warning: Reverted and bw contours graphics output specification ignored\n"
            "         unless mesh size contours are specified\n");
      }
    }
  }
}

// The value text of the parameter description: "none" for an unset size.
std::string size_text(double value) { return value == 0.0 ? std::string("none") : mgn_format("%e", value); }

// One value line of a block of the parameter description: the label on the
// first line only, "(default)" on the value that the setting selects.
void print_value_line(const char* label, const char* value_format, int value, const char* meaning,
                      bool is_default) {
  std::string format = std::string("    %-23s") + value_format + " - %s %s\n";
  mgn_print(stdout, format.c_str(), label, value, meaning, is_default ? "(default)" : "");
}

struct value_meaning {
  int value;
  const char* meaning;
};

// A block of bit values (cumulative) or of exclusive values.
template <std::size_t N>
void print_value_block(const char* label, const char* value_format, const value_meaning (&values)[N], int setting,
                       bool cumulative) {
  for (std::size_t k = 0; k < N; ++k) {
    const int value = values[k].value;
    bool is_default;
    if (cumulative)
      is_default = value == 0 ? setting == 0 : (setting & value) != 0;
    else
      is_default = setting == value;
    print_value_line(k == 0 ? label : "", value_format, value, values[k].meaning, is_default);
  }
  mgn_print(stdout, "    %-23s(%s)\n\n", "", cumulative ? "cumulative" : "exclusive");
}

}  // namespace

// ---------------------------------------------------------------------------
// Settings and analysis
// ---------------------------------------------------------------------------

void mgn_init_options() {
  mgn_settings& s = mgn_set;
  const mgn_settings defaults;
  if (mgn_run.model_not_yet_read) {
    s = defaults;
    return;
  }
  // The model-related values came with the model: keep them.
  mgn_settings kept = s;
  s = defaults;
  s.entity_counts = kept.entity_counts;
  s.hash_table_size = kept.hash_table_size;
  s.user_epsilon = kept.user_epsilon;
  s.uniform_size = kept.uniform_size;
  s.default_size = kept.default_size;
  s.size_factor = kept.size_factor;
  s.curvature_rate = kept.curvature_rate;
  s.curvature_factor = kept.curvature_factor;
  s.curve_density = kept.curve_density;
}

void mgn_analyze_options(int argc, char** argv) {
  const bool binary_model = !mgn_run.model_not_yet_read;

  description_requests wanted;
  run_pre_pass(argc, argv, wanted);

  std::array<int, 256> occurrences{};
  long remaining = argc > 0 ? argc - 1 : 0;

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (is_long_request(arg)) {
      --remaining;
      continue;
    }
    if (arg[0] != '-' || arg[1] == '\0' || arg[2] != '\0') {
      mgn_warning("Warning: Unrecognized option %s (input ignored)\n", arg);
      --remaining;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(arg[1]);
    if (!is_known_option(c)) {
      // Not counted, so that a repetition is reported the same way.
      mgn_warning("Warning: Unrecognized option -%c (input ignored)\n", c);
      --remaining;
      continue;
    }

    const bool repeated = ++occurrences[c] > 1;
    const bool ignored = binary_model && is_model_option(c);
    std::string previous;
    if (repeated) {
      if (const char* message = multiple_file_message(c)) mgn_option_error(message, static_cast<char>(c));
      previous = value_text(c);
    }

    arg_cursor cursor{argc, argv, i, static_cast<char>(c)};
    remaining -= apply_option(c, cursor, !ignored);
    i = cursor.index;

    if (ignored) {
      if (!repeated) mgn_warning("Warning: Option -%c ignored when processing binary input\n", c);
    } else if (repeated) {
      if (previous.empty())
        mgn_warning("Warning: Multiple occurrence of option -%c\n", c);
      else
        mgn_warning(
            "Warning: Multiple occurrence of option -%c\n"
            "         Previously defined value '%s' is ignored\n",
            c, previous.c_str());
    }
  }

  apply_consistency_rules();

  if (wanted.input) mgn_print_input_description();
  if (wanted.output) mgn_print_output_description();
  if (wanted.bg_mesh) mgn_print_bg_mesh_description();
  if (wanted.boundary) mgn_print_boundary_description();
  if (wanted.ombrax) mgn_print_ombrax_description();

  if (!binary_model && (remaining <= 0 || (wanted.output && mgn_set.input_file_name.empty()))) {
    mgn_print_warning_total();
    mgn_print_message(stdout, "Program finished");
    mgn_print(stdout, "\n");
    std::fflush(stdout);
    std::exit(0);
  }

  // Derived values.  The model values of a restored binary model file were
  // derived in the run that wrote it (and the command line cannot change
  // them), so they are not derived a second time; the same holds for an
  // octant size excess restored with the options and not given again.
  mgn_settings& s = mgn_set;
  if (!binary_model) {
    if (s.default_size == 0.0) s.default_size = s.uniform_size;
    s.default_size *= s.size_factor;
    s.uniform_size *= s.size_factor;
    s.curvature_rate *= s.curvature_factor;
  }
  if (!binary_model || occurrences['E'] > 0) s.octant_excess = 1.0 / s.octant_excess;
}

void mgn_print_warning_total() {
  if (mgn_warning_count <= 0) return;
  if (mgn_warning_count == 1)
    mgn_print_warning(stderr, "Altogether %ld warning has been generated\n", mgn_warning_count);
  else
    mgn_print_warning(stderr, "Altogether %ld warnings have been generated\n", mgn_warning_count);
  mgn_print_warning(stderr, "\n");
}

// ---------------------------------------------------------------------------
// Parameter readers
// ---------------------------------------------------------------------------

long mgn_read_int_parameter(int left, const char* arg, char option) {
  if (left <= 0 || arg == nullptr) mgn_option_error("Missing option parameter", option);
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(arg, &end, 10);
  if (end == arg || *end != '\0') mgn_option_error("Integer number expected", option);
  return value;
}

double mgn_read_fpn_parameter(int left, const char* arg, char option) {
  if (left <= 0 || arg == nullptr) mgn_option_error("Missing option parameter", option);
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(arg, &end);
  if (end == arg || *end != '\0' || !std::isfinite(value)) mgn_option_error("Floating point number expected", option);
  return value;
}

std::string mgn_read_file_name_parameter(int left, const char* arg, char option) {
  if (left <= 0 || arg == nullptr || arg[0] == '-') mgn_option_error("Missing file name", option);
  if (std::strlen(arg) > MGN_MAX_NAME) mgn_option_error("Too long file name", option);
  return arg;
}

void mgn_check_int_range(long value, long minimum, long maximum, char option) {
  if (value < minimum || value > maximum) mgn_option_error("Option parameter out of range", option);
}

void mgn_check_fpn_range(double value, double lower, bool lower_inclusive, double upper, bool upper_inclusive,
                         char option) {
  const bool above = lower_inclusive ? value >= lower : value > lower;
  const bool below = upper_inclusive ? value <= upper : value < upper;
  if (!(above && below)) mgn_option_error("Option parameter out of range", option);
}

// ---------------------------------------------------------------------------
// Version, usage, compile directives, parameter description
// ---------------------------------------------------------------------------

void mgn_print_version() {
  if (version_printed) return;
  version_printed = true;
  mgn_print(stdout, "\n");
  mgn_print(stdout, "Mgn - version %d.%d (revised %s)\n", mgn_run.version_major, mgn_run.version_minor,
            "July 5, 2005");
  mgn_print(stdout, "\n");
}

void mgn_print_usage() {
  mgn_print_version();
  mgn_print(stdout, "\n");
  mgn_print(stdout, "Usage: mgn [option [parameter(s)]] ...\n\n");
  mgn_print(stdout, "Options:\n\n");
  mgn_print(stdout, "    -h   usage description\n");
  mgn_print(stdout, "    -P   parameter description            -F   format description\n");
  mgn_print(stdout, "    -Q   silent run                       -W   suppress warnings\n");
  mgn_print(stdout, "    -V   include virtual entities         -C   enable curvature violation\n");
  mgn_print(stdout, "    -B   boundary conforming elements     -A   disable default bassoc output\n");
  mgn_print(stdout, "    -S   disable nodal smoothing      ");
  mgn_print(stdout, "    -Z   store all options in binary\n");
  mgn_print(stdout, "    -H   disable quad-hexa support        -K   enable convexity check\n");
  mgn_print(stdout, "    -i   (string) input file name         -o   (string) output file name\n");
  mgn_print(stdout, "    -g   (string) log file name           -m   (string) bg mesh file name\n");
  mgn_print(stdout, "    -b   (string) binary file name    ");
  mgn_print(stdout, "    -x   (string) graphics file name  ");
  mgn_print(stdout, "\n");
  mgn_print(stdout, "    -n   (7x int #) number of entities    -f   (2x int #) numbering shift\n");
  mgn_print(stdout, "    -r   (int #) renumbering type         -s   (int #) smoothing type\n");
  mgn_print(stdout, "    -k   (int #) element degree\n");
  mgn_print(stdout, "    -p   (int #) output specification     -q   (int #) quality report type\n");
  mgn_print(stdout, "    -y   (int #) graphics output type     -z   (int #) graphics output spec\n");
  mgn_print(stdout, "    -d   (fpn #) default mesh size        -u   (fpn #) uniform mesh size\n");
  mgn_print(stdout, "    -v   (fpn #) mesh size factor         -a   (fpn #) bg mesh size factor\n");
  mgn_print(stdout, "    -c   (fpn #) default curvature rate   -w   (fpn #) curvature rate factor\n");
  mgn_print(stdout, "    -t   (fpn #) default curve density    -e   (fpn #) user epsilon\n");
  mgn_print(stdout, "    -L   (int #) default listing size     -T   (int #) hash table size\n");
  mgn_print(stdout, "    -R   (fpn #) root octant size         -U   (3x fpn #) root octant origin\n");
  mgn_print(stdout, "    -E   (fpn #) octant size excess       -J   (2x fpn #) transition factors\n");
  mgn_print(stdout, "\n");
  mgn_print(stdout, "  -ver   print version                  -dir   print compile directives\n\n");
  mgn_print(stdout, "\n");
  std::fflush(stdout);
}

void mgn_print_directives() {
  if (directives_printed) return;
  directives_printed = true;
  struct directive {
    const char* name;
    bool defined;
  };
  static const directive directives[] = {
      {"MGN_INTERFACE", true},          {"MGN_MIRRORING", true},       {"MGN_QUAD_HEXA_SUPPORT", true},
      {"MGN_QUAD_HEXA_MAPPING", true},  {"MGN_QUAD_HEXA_MESHING", true}, {"MGN_COINCIDE", true},
      {"MGN_VIOLATION", true},          {"MGN_BINARY_SUPPORT", true},  {"MGN_PROPERTY", false},
      {"MGN_DEPENDENCY", false},        {"MGN_MULTIPLE_INPUT", false}, {"MGN_BND_MESH", false},
      {"MGN_CURVE_SWAPPING", true},     {"MGN_CURVE_SMEARING", true},  {"MGN_NONPLANAR_PATCH", true},
      {"MGN_ALL_WARNING", false},       {"MGN_QUALITY_WARNING", false}, {"MGN_OUTPUT_NEIGHBOUR", true},
      {"MGN_TMP_OUTPUT", true},         {"MGN_GRAPHICS_OUTPUT", true}, {"MGN_OMBRAX", false},
      {"MGN_TIMING", true},             {"MGN_NO_MAIN", false},        {"MGN_SIMPLE_GRAPHICS", false},
      {"MGN_PC_VERSION", true},
  };
  // Dot leader of 35 pairs " ."; each line takes the tail that fills it up
  // to column 50, so that the states line up in one column.
  std::string leader;
  for (int k = 0; k < 35; ++k) leader += " .";
  mgn_print_version();
  for (const directive& d : directives) {
    const int length = static_cast<int>(std::strlen(d.name));
    const int width = length + (length % 2);
    const int tail = 50 - width - 1;
    const std::string dots = tail > 0 ? leader.substr(leader.size() - static_cast<std::size_t>(tail)) : std::string();
    mgn_print(stdout, "%-*s %s %12s\n", width, d.name, dots.c_str(), d.defined ? ". .  defined" : "NOT  defined");
  }
  mgn_print(stdout, "\n");
}

void mgn_print_parameters() {
  const mgn_settings& s = mgn_set;
  mgn_print_version();
  mgn_print(stdout, "\n");
  mgn_print(stdout, "Parameter description:\n");
  mgn_print(stdout, "----------------------\n\n");

  static const value_meaning renumbering[] = {
      {0, "no renumbering"}, {1, "node renumbering"}, {2, "element renumbering (disabled)"}, {4, "fast renumbering"}};
  print_value_block("Renumbering type:", "%d", renumbering, s.renumbering_type, true);
  static const value_meaning smoothing[] = {
      {0, "no weighting"}, {1, "element size weighting"}, {2, "connectivity weighting"}};
  print_value_block("Smoothing type:", "%d", smoothing, s.smoothing_type, true);
  static const value_meaning degree[] = {{1, "linear"}, {2, "quadratic"}};
  print_value_block("Element degree:", "%d", degree, s.element_degree, false);
  static const value_meaning output[] = {{0, "no additional output"},   {1, "node parameter(s)"},
                                         {2, "node tangent"},           {4, "node normal"},
                                         {8, "boundary entity"},        {16, "bassoc elements"},
                                         {32, "neighbour elements"},    {64, "element iso type"},
                                         {128, "native node ordering on output"}};
  print_value_block("Output specification:", "%3d", output, s.output_spec, true);
  static const value_meaning quality[] = {{0, "no quality report"},
                                          {1, "element quality"},
                                          {2, "dihedral angle quality"},
                                          {4, "connectivity quality"},
                                          {8, "quality distribution"},
                                          {16, "disable face quality report"},
                                          {32, "disable cell quality report"},
                                          {64, "all entity quality report"},
                                          {128, "per entity quality report (log)"}};
  print_value_block("Quality report:", "%3d", quality, s.quality_report, true);

  mgn_print(stdout, "    Listing size:          %d - %d (default = %ld)\n", 10, 100000, s.listing_size);
  mgn_print(stdout, "    Hash table size:       >= %d (default = %ld)\n", 1, s.hash_table_size);
  mgn_print(stdout, "    Number of entities:    >= %d (default = %ld %ld %ld %ld %ld %ld %ld)\n", 0, s.entity_counts[0],
            s.entity_counts[1], s.entity_counts[2], s.entity_counts[3], s.entity_counts[4], s.entity_counts[5],
            s.entity_counts[6]);
  mgn_print(stdout, "             (ordering:    ver, cur, sur, ptch, shll, reg, iface)\n");
  mgn_print(stdout, "    Numbering shift:       >= %d (default = %ld %ld)\n", 0, s.numbering_shift[0],
            s.numbering_shift[1]);
  mgn_print(stdout, "    Uniform mesh size:     > 0.0 (default = %s)\n", size_text(s.uniform_size).c_str());
  mgn_print(stdout, "    Default mesh size:     > 0.0 (default = %s)\n", size_text(s.default_size).c_str());
  mgn_print(stdout, "    Mesh size factor:      >= 0.0 (default = %3.1f)\n", s.size_factor);
  mgn_print(stdout, "    Curvature rate:        >= 0.0 (default = %3.1f)\n", s.curvature_rate);
  mgn_print(stdout, "    Curvature factor:      >= 0.0 (default = %3.1f)\n", s.curvature_factor);
  mgn_print(stdout, "    Curve density:         >= 0.0 (default = %3.1f)\n", s.curve_density);
  mgn_print(stdout, "    Bg mesh size factor:   >= 0.0 (default = %3.1f)\n", s.bg_size_factor);
  if (s.root_origin_given)
    mgn_print(stdout, "    Root octant origin:    any (default = %e %e %e)\n", s.root_octant_origin[0],
              s.root_octant_origin[1], s.root_octant_origin[2]);
  else
    mgn_print(stdout, "    Root octant origin:    any (default = none)\n");
  mgn_print(stdout, "    Root octant size:      > 0.0 (default = %s)\n", size_text(s.root_octant_size).c_str());
  mgn_print(stdout, "    Octant size excess:    1.0 - 1.5 (default = %3.1f)\n", s.octant_excess);
  mgn_print(stdout, "    Transition factor f2c: 1.0 - 10.0 (default = %3.1f)\n", s.transition_f2c);
  mgn_print(stdout, "    Transition factor c2f: 1.0 - 2.0 (default = %3.1f)\n", s.transition_c2f);
  mgn_print(stdout, "    User epsilon:          > 0.0 (default = %e)\n", s.user_epsilon);
  mgn_print(stdout, "    Log file name:         string (default = %s)\n",
            s.log_file_name.empty() ? "standard error" : s.log_file_name.c_str());
  mgn_print(stdout, "\n");

  static const value_meaning graphics_type[] = {
      {0, "no graphics output"}, {1, "ombrax graphics output"}, {2, "VRML"}, {3, "VTK"}};
  print_value_block("Graphics output type:", "%d", graphics_type, s.graphics_type, false);
  static const value_meaning graphics_spec[] = {{0, "no graphics specification"},
                                                {1, "wireframe"},
                                                {2, "mesh size contours"},
                                                {4, "reverted contours"},
                                                {8, "black-and-white contours"}};
  print_value_block("Graphics output spec:", "%d", graphics_spec, s.graphics_spec, true);
}

void mgn_set_tolerances() {
  double relative = 1.0;
  for (int i = 0; i < 14; ++i) relative /= 10.0;
  mgn_tol.relative = relative;
  mgn_tol.user_eps = std::min(mgn_set.user_epsilon, 1e-5);
  mgn_tol.user_eps2 = mgn_tol.user_eps * mgn_tol.user_eps;
  mgn_tol.user_eps3 = mgn_tol.user_eps2 * mgn_tol.user_eps;
  // Until the model box is known the geometric tolerance is the user epsilon.
  mgn_tol.eps = mgn_tol.user_eps;
  mgn_tol.eps2 = mgn_tol.user_eps2;
  mgn_tol.eps3 = mgn_tol.user_eps3;
}
