// The start of a run of the program's sequence inside a benchmark process,
// shared by the whole-run benchmarks: the program's messages go to
// /dev/null (the benchmark prints its figures on the standard output it
// had), the options are analysed as the program would and the tolerances
// set from them.
#ifndef MGN_BENCH_PROGRAM_RUN_H
#define MGN_BENCH_PROGRAM_RUN_H

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "option.h"
#include "output.h"

// words: the command line, the program's name first.  Returns a descriptor
// of the benchmark's standard output (give it back with
// mgn_bench_end_program_run), or -1 when the messages could not be turned
// away.
inline int mgn_bench_start_program_run(std::vector<std::string> words) {
  std::fflush(stdout);
  const int figures = dup(STDOUT_FILENO);
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return -1;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  mgn_init_options();
  mgn_init_mesh_output();
  mgn_analyze_options(static_cast<int>(argv.size()), argv.data());
  mgn_set_tolerances();
  return figures;
}

// The benchmark's standard output back for its figures.
inline void mgn_bench_end_program_run(int figures) {
  std::fflush(stdout);
  dup2(figures, STDOUT_FILENO);
  close(figures);
}

#endif  // MGN_BENCH_PROGRAM_RUN_H
