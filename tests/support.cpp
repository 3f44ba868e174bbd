#include "support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace {

// The temporary directories the test process made, removed when it ends:
// by the process that made them only (the forked child of a death test or
// of a program run ends too, while its parent still uses them).  With
// MGN_KEEP_TEST_DIRS set they stay for a look.
struct temp_dirs {
  pid_t owner = getpid();
  std::vector<std::string> made;
  ~temp_dirs() {
    if (getpid() != owner || std::getenv("MGN_KEEP_TEST_DIRS") != nullptr) return;
    std::error_code ignored;
    for (const std::string& dir : made) std::filesystem::remove_all(dir, ignored);
  }
};

temp_dirs& made_dirs() {
  static temp_dirs dirs;
  return dirs;
}

}  // namespace

std::string mgn_temp_dir() {
  char pattern[] = "/tmp/mgn_test_XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (dir == nullptr) throw std::runtime_error("mkdtemp failed");
  made_dirs().made.push_back(dir);
  return dir;
}

std::string mgn_read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void mgn_write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

mgn_run_result mgn_run_program(const std::vector<std::string>& args, const std::string& cwd) {
  const std::string dir = cwd.empty() ? mgn_temp_dir() : cwd;
  const std::string out_path = dir + "/.stdout";
  const std::string err_path = dir + "/.stderr";
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    std::string exe = MGN_EXE;
    argv.push_back(exe.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  mgn_run_result result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = mgn_read_file(out_path);
  result.err = mgn_read_file(err_path);
  return result;
}

mgn_mesh_file mgn_parse_mesh_file(const std::string& text) {
  mgn_mesh_file mesh;
  std::istringstream in(text);
  std::string line;
  auto next_line = [&]() {
    while (std::getline(in, line))
      if (line.find_first_not_of(' ') != std::string::npos) return true;
    return false;
  };
  if (!next_line()) return mesh.error = "no header", mesh;
  std::istringstream(line) >> mesh.mesh_type >> mesh.degree >> mesh.renumbering >> mesh.spec;
  if (!next_line()) return mesh.error = "no count line", mesh;
  std::istringstream counts(line);
  for (long c; counts >> c;) mesh.counts.push_back(c);
  const bool mixed = mesh.mesh_type == 7;
  if (mesh.counts.size() != (mixed ? 8u : 4u)) return mesh.error = "count line: " + line, mesh;
  const bool quadratic = mesh.degree == 2;
  // Corner (+ midside) nodes of edges, trias, quads, tetras, pyramids,
  // wedges, hexas; type 3 has edges, trias and tetras only.
  const std::vector<int> mixed_nodes = quadratic ? std::vector<int>{3, 6, 8, 10, 13, 15, 20}
                                                 : std::vector<int>{2, 3, 4, 4, 5, 6, 8};
  const std::vector<int> per = mixed ? mixed_nodes : std::vector<int>{mixed_nodes[0], mixed_nodes[1], mixed_nodes[3]};
  for (long k = 0; k < mesh.counts[0]; ++k) {
    if (!next_line()) return mesh.error = "node section short", mesh;
    std::istringstream row(line);
    long number;
    mgn_mesh_file::node node{};
    if (!(row >> number >> node.xyz[0] >> node.xyz[1] >> node.xyz[2] >> node.key >> node.entity))
      return mesh.error = "node line: " + line, mesh;
    mesh.node_numbers.push_back(number);
    mesh.nodes.push_back(node);
  }
  for (std::size_t kind = 0; kind < per.size(); ++kind) {
    mesh.sections.emplace_back();
    for (long k = 0; k < mesh.counts[kind + 1]; ++k) {
      if (!next_line()) return mesh.error = "element section short", mesh;
      std::istringstream row(line);
      mgn_mesh_file::element element{};
      element.nodes.resize(per[kind]);
      row >> element.number;
      for (long& n : element.nodes) row >> n;
      long property;
      if (!(row >> element.key >> element.entity >> property)) return mesh.error = "element line: " + line, mesh;
      mesh.sections.back().push_back(element);
    }
  }
  return mesh;
}

std::string mgn_check_mesh_file(const mgn_mesh_file& mesh, long node_shift) {
  if (!mesh.error.empty()) return mesh.error;
  std::set<long> listed(mesh.node_numbers.begin(), mesh.node_numbers.end());
  const long n = static_cast<long>(mesh.node_numbers.size());
  if (static_cast<long>(listed.size()) != n) return "a node number listed twice";
  if (n > 0 && (*listed.begin() != node_shift + 1 || *listed.rbegin() != node_shift + n))
    return "node numbers " + std::to_string(*listed.begin()) + " to " + std::to_string(*listed.rbegin());
  for (const auto& section : mesh.sections)
    for (const mgn_mesh_file::element& e : section) {
      std::set<long> own;
      for (long node : e.nodes) {
        if (listed.count(node) == 0)
          return "element " + std::to_string(e.number) + " on node " + std::to_string(node) + ", not listed";
        if (!own.insert(node).second)
          return "element " + std::to_string(e.number) + " repeats node " + std::to_string(node);
      }
    }
  return "";
}
