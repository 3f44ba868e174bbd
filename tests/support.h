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

#endif
