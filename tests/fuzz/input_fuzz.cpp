// Random-mutation fuzzer of the model file reader, of the background mesh
// reader and of the binary model file reader.
//
// Every run takes a seed file (model files given on the command line or
// found in the given directories; files ending in .bgm are background
// meshes), applies a few random mutations (bytes, tokens of its language,
// extreme numbers, line edits, very long lines, splices with seeds of the
// same kind) and reads the result in a child process with a per-run
// timeout: a model file with mgn_build_model_from_file under randomly
// varied settings, a background mesh with mgn_build_octree_bg_mesh on a
// small octree with a random bg mesh size factor, a binary model file
// (seeds ending in .bin) with mgn_read_model_from_file.  Binary files are
// mutated byte-wise (bits, extreme 32-bit values, truncation, deletion,
// duplication, splices), and most of them get a valid checksum again so
// that the checks behind it are reached.
//
// A run passes when the child ends normally with status 0 or with the
// status of one of the program's fatal errors (input, file manipulation,
// manipulation, allocation; for binary files only 0 and the binary input
// error).  A signal, a sanitizer report (another exit
// status) or a timeout is a finding: the input is saved to the findings
// directory and the fuzzer ends with status 1.
//
// Usage: input_fuzz [-t seconds] [-r run_timeout] [-s seed] [-o findings_dir]
//                   [-n max_runs] path...
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bgmesh.h"
#include "input.h"
#include "input7.h"
#include "message.h"
#include "octree.h"
#include "records.h"

namespace {

namespace fs = std::filesystem;

const char* const dictionary[] = {
    "VERTEX", "CURVE", "SURFACE", "REGION", "PATCH", "SHELL", "INTERFACE", "VIEW_SETUP", "VIEW_MODEL", "VIEW_MESH",
    "VIEW_ANIM", "EOF", "VIRTUAL", "XYZ", "UV", "T", "FIXED", "SIZE", "WEIGHT", "FACTOR", "PROPERTY", "HIDDEN",
    "OUTPUT", "VER", "CUR", "SUR", "DEF", "UNI", "YES", "NO", "COINCIDE", "SLAVE", "MASTER", "NODEPROP", "SHIFT",
    "ORDER", "RATE", "DENSITY", "SWAP", "SMEAR", "ANGLE", "BASSOC", "COUNT", "POLYSIZE", "FIT", "ITER", "LIMIT",
    "DIR", "X", "Y", "Z", "XY", "YZ", "XZ", "F", "N", "TRANSITION", "EQUIDISTANT", "DUPLICATE", "MIRROR", "WEAK",
    "ELEMGROUP", "ELEMPROP", "POLYGON", "POLY", "POLYEND", "vertex", "curve", "polygon", "\\", "#", "'", "''",
    "' '", "*", "-", "+", "0", "1", "2", "3", "4", "16", "17", "-1", "0.5", "1e-300", "1e308", "1e999", "-0",
    "2147483647", "2147483648", "-2147483649", "nan", "inf", "0x1p3", "1.", ".", "e5", "99999999999999999999",
};

// Tokens of background mesh files: counts, types, node numbers, sizes and
// malformed or extreme numbers.
const char* const bg_dictionary[] = {
    "0",    "1",    "2",      "3",       "4",        "7",     "8",          "-1",        "0.5",   "1e-300",
    "1e-9", "1e308", "-1e308", "1e999",  "nan",      "inf",   "2147483647", "2147483648", "-0",   "1.",
    ".",    "e5",   "0x1p3",  "99999999999999999999", "9223372036854775807", "#",        "\t",  "\r",
    "1 1",  "1 2 3", "1 2 3 4", "1 2 3 4 5 6 7 8",
};

// Whether a seed file is a background mesh.
bool is_bg_mesh(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".bgm") == 0;
}

struct options {
  double seconds = 60.0;
  double run_timeout = 10.0;
  unsigned long seed = 1;
  long max_runs = -1;
  std::string findings = "fuzz_findings";
  std::vector<std::string> paths;
};

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Whether a seed file is a binary model file.
bool is_binary_model(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".bin") == 0;
}

// Kinds of input files.
enum file_kind { MODEL, BG_MESH, BINARY };

// Seed texts of each kind of file.
struct seed_set {
  std::vector<std::string> models;
  std::vector<std::string> bg_meshes;
  std::vector<std::string> binaries;
  void add(const fs::path& file) {
    const std::string name = file.string();
    (is_bg_mesh(name) ? bg_meshes : is_binary_model(name) ? binaries : models).push_back(read_file(file));
  }
};

seed_set load_seeds(const std::vector<std::string>& paths) {
  seed_set seeds;
  for (const std::string& p : paths) {
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(p, ec))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const auto& f : files) seeds.add(f);
    } else if (fs::is_regular_file(p, ec)) {
      seeds.add(p);
    }
  }
  return seeds;
}

class mutator {
 public:
  explicit mutator(unsigned long seed) : rng_(seed) {}

  // A mutation of one of the seeds, with tokens of the given dictionary.
  template <std::size_t N>
  std::string mutate(const std::vector<std::string>& seeds, const char* const (&tokens)[N]) {
    tokens_ = tokens;
    token_count_ = N;
    std::string text = seeds[pick(seeds.size())];
    const int steps = 1 + static_cast<int>(pick(8));
    for (int i = 0; i < steps; ++i) step(text, seeds);
    return text;
  }

  std::size_t pick(std::size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

  // A byte-wise mutation of one of the binary seeds; three times in four
  // its checksum is made valid again.
  std::string mutate_binary(const std::vector<std::string>& seeds) {
    std::string bytes = seeds[pick(seeds.size())];
    const int steps = 1 + static_cast<int>(pick(4));
    for (int i = 0; i < steps; ++i) binary_step(bytes, seeds);
    if (bytes.size() >= 8 && chance(75)) {
      const std::size_t body = bytes.size() - 8;
      const uint64_t sum =
          mgn_binary_checksum(mgn_binary_checksum_start, reinterpret_cast<const unsigned char*>(bytes.data()), body);
      for (int i = 0; i < 8; ++i) bytes[body + i] = static_cast<char>(sum >> (8 * i));
    }
    return bytes;
  }

 private:
  void binary_step(std::string& bytes, const std::vector<std::string>& seeds) {
    if (bytes.empty()) return;
    const std::size_t at = pick(bytes.size());
    switch (pick(7)) {
      case 0:  // flip a bit
        bytes[at] ^= static_cast<char>(1 << pick(8));
        break;
      case 1:
      case 2: {  // a 32-bit value: extreme, small or an identifier-like one
        static const uint32_t values[] = {0u, 1u, 2u, 3u, 7u, 16u, 17u, 255u, 0x7fffffffu, 0x80000000u,
                                          0xffffffffu, 0xfffffffeu, 65536u, 1000000u};
        const uint32_t value = chance(80) ? values[pick(sizeof values / sizeof values[0])]
                                          : static_cast<uint32_t>(pick(1u << 31));
        const std::size_t word = at & ~std::size_t{3};
        for (std::size_t i = 0; i < 4 && word + i < bytes.size(); ++i)
          bytes[word + i] = static_cast<char>(value >> (8 * i));
        break;
      }
      case 3:  // truncate
        bytes.resize(pick(bytes.size() + 1));
        break;
      case 4:  // delete a span
        bytes.erase(at, 1 + pick(std::min<std::size_t>(32, bytes.size() - at)));
        break;
      case 5:  // duplicate a span
        bytes.insert(at, bytes.substr(at, 1 + pick(32)));
        break;
      default: {  // splice another seed
        const std::string& other = seeds[pick(seeds.size())];
        const std::size_t from = pick(other.size() + 1);
        bytes.insert(at, other.substr(from, pick(std::min<std::size_t>(256, other.size() - from) + 1)));
      }
    }
  }

  bool chance(int percent) { return static_cast<int>(pick(100)) < percent; }

  std::string token() { return tokens_[pick(token_count_)]; }

  // Start and end of a random line.
  std::pair<std::size_t, std::size_t> line_span(const std::string& text) {
    if (text.empty()) return {0, 0};
    std::size_t at = pick(text.size());
    std::size_t begin = text.rfind('\n', at == 0 ? 0 : at - 1);
    begin = begin == std::string::npos || at == 0 ? 0 : begin + 1;
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    return {begin, end};
  }

  void step(std::string& text, const std::vector<std::string>& seeds) {
    const std::size_t at = pick(text.size() + 1);
    switch (pick(12)) {
      case 0:  // flip a byte
        if (!text.empty()) text[pick(text.size())] ^= static_cast<char>(1 << pick(8));
        break;
      case 1: {  // insert a byte, often a special one
        static const char special[] = {'\0', '\n', '\r', '\t', ' ', '\\', '#', '\'', '*', '-', '.', 'e'};
        const char c = chance(70) ? special[pick(sizeof special)] : static_cast<char>(pick(256));
        text.insert(at, 1, c);
        break;
      }
      case 2: {  // delete a span
        if (text.empty()) break;
        const std::size_t from = pick(text.size());
        text.erase(from, 1 + pick(std::min<std::size_t>(64, text.size() - from)));
        break;
      }
      case 3:
      case 4:  // insert a token of the language
        text.insert(at, " " + token() + " ");
        break;
      case 5: {  // replace a token by another one
        const std::size_t begin = text.find_first_not_of(" \t\r\n", at);
        if (begin == std::string::npos) break;
        const std::size_t end = std::min(text.find_first_of(" \t\r\n", begin), text.size());
        text.replace(begin, end - begin, token());
        break;
      }
      case 6: {  // duplicate a line
        const auto [begin, end] = line_span(text);
        text.insert(begin, text.substr(begin, end - begin));
        break;
      }
      case 7: {  // move a line elsewhere
        const auto [begin, end] = line_span(text);
        const std::string line = text.substr(begin, end - begin);
        text.erase(begin, end - begin);
        text.insert(pick(text.size() + 1), line);
        break;
      }
      case 8:  // truncate
        text.resize(pick(text.size() + 1));
        break;
      case 9: {  // a long run: blanks, digits, one letter or a repeated token
        if (!chance(25)) break;
        const std::size_t length = chance(20) ? 200000 + pick(800000) : 1 + pick(5000);
        std::string run;
        switch (pick(4)) {
          case 0: run.assign(length, ' '); break;
          case 1: run.assign(length, '9'); break;
          case 2: run.assign(length, 'a'); break;
          default: {
            const std::string t = " " + token();
            for (std::size_t n = 0; n < length / 8 + 1; ++n) run += t;
          }
        }
        text.insert(at, run);
        break;
      }
      case 10: {  // splice another seed
        const std::string& other = seeds[pick(seeds.size())];
        const std::size_t from = pick(other.size() + 1);
        text.insert(at, other.substr(from, pick(other.size() - from + 1)));
        break;
      }
      default: {  // an extreme or malformed number next to a keyword
        static const char* const numbers[] = {"0", "-0", "1e-320", "1e308", "-1e308", "4294967296", "-2147483648",
                                              "1.7976931348623157e308", "3e", "0.999999999999", "1e-9", "12a"};
        text.insert(at, std::string(" ") + numbers[pick(sizeof numbers / sizeof numbers[0])] + " ");
        break;
      }
    }
  }

  std::mt19937_64 rng_;
  const char* const* tokens_ = dictionary;
  std::size_t token_count_ = sizeof dictionary / sizeof dictionary[0];
};

// Settings of one run, varied to reach the store variants.
void vary_settings(std::mt19937_64& rng) {
  auto pick = [&](int n) { return static_cast<int>(std::uniform_int_distribution<int>(0, n - 1)(rng)); };
  mgn_set = mgn_settings{};
  static const long hash_sizes[] = {1, 7, 100};
  mgn_set.hash_table_size = hash_sizes[pick(3)];
  if (pick(4) == 0) mgn_set.entity_counts = {8, 8, 0, 0, 0, 0, 0};
  mgn_set.default_size = pick(5) == 0 ? 0.0 : 1.0;
  mgn_set.size_factor = pick(8) == 0 ? 0.0 : 1.0;
  mgn_set.nodal_smoothing = pick(4) != 0;
  mgn_set.element_degree = 1 + pick(2);
  mgn_set.output_spec = pick(8);
  mgn_set.boundary_conforming = pick(2) == 0;
  mgn_set.quiet = true;  // the child's reports are not wanted
}

bool accepted_status(int status, file_kind kind) {
  if (kind == BINARY) return status == 0 || status == MGN_EXIT_BINARY_INPUT;
  return status == 0 || status == MGN_EXIT_MANIPULATION || status == MGN_EXIT_ALLOCATION ||
         status == MGN_EXIT_FILE || status == MGN_EXIT_INPUT;
}

// Reads a background mesh into an octree over the unit cube.  The depth of
// the tree is cut to 4 levels so that the fine sizes a mutation may ask for
// over whole elements stay cheap to refine.
void read_bg_mesh(const std::string& path, std::mt19937_64& rng) {
  static const double factors[] = {1.0, 0.5, 3.0, 1e-6};
  mgn_set = mgn_settings{};
  mgn_set.quiet = true;
  mgn_set.bg_mesh_file_name = path;
  mgn_set.bg_size_factor = factors[std::uniform_int_distribution<int>(0, 3)(rng)];
  const double lo[3] = {0.0, 0.0, 0.0};
  const double hi[3] = {1.0, 1.0, 1.0};
  mgn_create_root_octant(lo, hi);
  mgn_tree.max_depth = 4;
  mgn_tree.min_size = mgn_tree.root_size / 16.0;
  mgn_build_octree_bg_mesh();
}

// Reads the file in a child; returns a description of the failure, or an
// empty string when the run passed.
std::string run_one(const std::string& path, file_kind kind, double timeout, std::mt19937_64& settings_rng) {
  if (kind == MODEL) {
    vary_settings(settings_rng);
    mgn_set.input_file_name = path;
  } else if (kind == BINARY) {
    mgn_set = mgn_settings{};
    mgn_set.quiet = true;
    mgn_set.binary_file_name = path;
  }
  const std::string err_path = path + ".err";
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    const int null_out = open("/dev/null", O_WRONLY);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (null_out >= 0) dup2(null_out, STDOUT_FILENO);
    if (err >= 0) dup2(err, STDERR_FILENO);
    if (kind == BG_MESH) {
      read_bg_mesh(path, settings_rng);
    } else if (kind == BINARY) {
      mgn_read_model_from_file();
    } else {
      mgn_build_model_from_file();
    }
    std::fflush(nullptr);
    std::exit(0);
  }
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > timeout) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return "timeout";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  const int code = WEXITSTATUS(status);
  const std::string err = read_file(err_path);
  if (err.find("Sanitizer") != std::string::npos || err.find("runtime error") != std::string::npos)
    return "sanitizer report (status " + std::to_string(code) + ")";
  if (!accepted_status(code, kind)) return "exit status " + std::to_string(code);
  return "";
}

options parse(int argc, char** argv) {
  options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "input_fuzz: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "-t") o.seconds = std::min(120.0, std::stod(value()));
    else if (a == "-r") o.run_timeout = std::stod(value());
    else if (a == "-s") o.seed = std::stoul(value());
    else if (a == "-o") o.findings = value();
    else if (a == "-n") o.max_runs = std::stol(value());
    else o.paths.push_back(a);
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const options o = parse(argc, argv);
  const seed_set seeds = load_seeds(o.paths);
  if (seeds.models.empty() && seeds.bg_meshes.empty() && seeds.binaries.empty()) {
    std::fprintf(stderr, "input_fuzz: no seed files\n");
    return 2;
  }
  // The seeds of each kind, in this order, are run first.
  std::vector<std::pair<file_kind, const std::string*>> first_runs;
  for (const std::string& t : seeds.models) first_runs.emplace_back(MODEL, &t);
  for (const std::string& t : seeds.bg_meshes) first_runs.emplace_back(BG_MESH, &t);
  for (const std::string& t : seeds.binaries) first_runs.emplace_back(BINARY, &t);
  char dir_pattern[] = "/tmp/mgn_fuzz_XXXXXX";
  const char* dir = mkdtemp(dir_pattern);
  if (dir == nullptr) {
    std::fprintf(stderr, "input_fuzz: no temporary directory\n");
    return 2;
  }
  const std::string model_input = std::string(dir) + "/input.mgn";
  const std::string bg_input = std::string(dir) + "/input.bgm";
  const std::string binary_input = std::string(dir) + "/input.bin";
  mutator mutate(o.seed);
  std::mt19937_64 settings_rng(o.seed ^ 0x9e3779b97f4a7c15ULL);

  const auto start = std::chrono::steady_clock::now();
  long runs = 0, findings = 0;
  // The seeds themselves first, then mutations until the time is up: a
  // quarter of them background meshes and a quarter binary model files
  // when there are seeds of those kinds.
  for (std::size_t i = 0;; ++i) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (elapsed > o.seconds || (o.max_runs >= 0 && runs >= o.max_runs)) break;
    file_kind kind = MODEL;
    std::string text;
    if (i < first_runs.size()) {
      kind = first_runs[i].first;
      text = *first_runs[i].second;
    } else {
      const std::size_t choice = mutate.pick(4);
      if (choice == 0 && !seeds.bg_meshes.empty()) kind = BG_MESH;
      else if (choice == 1 && !seeds.binaries.empty()) kind = BINARY;
      else if (!seeds.models.empty()) kind = MODEL;
      else kind = !seeds.binaries.empty() ? BINARY : BG_MESH;
      text = kind == BG_MESH  ? mutate.mutate(seeds.bg_meshes, bg_dictionary)
             : kind == BINARY ? mutate.mutate_binary(seeds.binaries)
                              : mutate.mutate(seeds.models, dictionary);
    }
    const std::string& input = kind == BG_MESH ? bg_input : kind == BINARY ? binary_input : model_input;
    write_file(input, text);
    const std::string failure = run_one(input, kind, o.run_timeout, settings_rng);
    ++runs;
    if (failure.empty()) continue;
    ++findings;
    fs::create_directories(o.findings);
    const std::string saved = o.findings + "/finding_" + std::to_string(o.seed) + "_" + std::to_string(runs) +
                              (kind == BG_MESH ? ".bgm" : kind == BINARY ? ".bin" : ".mgn");
    write_file(saved, text);
    std::fprintf(stderr, "input_fuzz: %s on run %ld (seed %lu), input saved as %s\n%s", failure.c_str(), runs, o.seed,
                 saved.c_str(), read_file(input + ".err").substr(0, 4000).c_str());
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  std::printf("input_fuzz: %ld runs in %.0f s, %ld findings (seed %lu)\n", runs,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), findings, o.seed);
  return findings == 0 ? 0 : 1;
}
