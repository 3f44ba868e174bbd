// Test support: running the mgn executable and reading files.
#ifndef MGN_TEST_SUPPORT_H
#define MGN_TEST_SUPPORT_H

#include <string>
#include <vector>

struct mgn_run_result {
  int status = -1;          // exit status of the process
  std::string out;          // standard output
  std::string err;          // standard error
};

// Runs build/mgn with the arguments (no shell quoting needed) in the given
// working directory (empty: a fresh temporary directory) and returns its
// exit status and both output streams.
mgn_run_result mgn_run_program(const std::vector<std::string>& args, const std::string& cwd = "");

// Whole content of a file ("" when missing).
std::string mgn_read_file(const std::string& path);
// Writes text to a file, creating or replacing it.
void mgn_write_file(const std::string& path, const std::string& text);
// A new empty temporary directory for one test.
std::string mgn_temp_dir();

// A mesh file as written by the program (any element degree and output
// specification): the header, the count line, the nodes and the elements
// of each kind with their node numbers and classification.
struct mgn_mesh_file {
  int mesh_type = 0, degree = 0, renumbering = 0, spec = 0;
  std::vector<long> counts;  // nodes, edges, trias, (quads,) tetras, ...
  struct node {
    double xyz[3];
    int key;
    long entity;
  };
  struct element {
    long number;
    std::vector<long> nodes;
    int key;
    long entity;
  };
  std::vector<long> node_numbers;  // in file order
  std::vector<node> nodes;         // in file order
  // Element sections in file order: edges, trias, quads, tetras, pyramids,
  // wedges, hexas (mesh type 3: edges, trias, tetras).
  std::vector<std::vector<element>> sections;
  std::string error;  // why the text could not be read, empty when read
};
mgn_mesh_file mgn_parse_mesh_file(const std::string& text);

// The faults of a parsed mesh file: a count that differs from its section,
// node numbers other than shift + 1 to shift + n, an element on a node the
// file does not list or on the same node twice.  Empty when consistent.
std::string mgn_check_mesh_file(const mgn_mesh_file& mesh, long node_shift = 0);

#endif
