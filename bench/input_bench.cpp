// Reading of large models: a file of n vertex lines read with the default
// options (hash table size 100) and with -T 1, for n = 0.5, 1 and 2 million.
// The time per line shows whether reading stays linear in the number of
// entities (each definition looks its identifier up before it is stored).
//
//   input_bench [largest count, default 2000000]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "input.h"
#include "records.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A model file of n sized vertices on a grid, identifiers in input order.
std::string write_model(long n) {
  char name[] = "/tmp/mgn_input_bench_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) std::exit(2);
  FILE* f = fdopen(fd, "w");
  for (long i = 1; i <= n; ++i) std::fprintf(f, "vertex %ld xyz %ld %ld 0 size 1\n", i, i % 1000, i / 1000);
  std::fclose(f);
  return name;
}

double read_seconds(const std::string& file, long hash_table_size) {
  mgn_release_model();
  mgn_set = mgn_settings{};
  mgn_set.hash_table_size = hash_table_size;
  mgn_set.input_file_name = file;
  mgn_run.model_not_yet_read = true;
  const auto start = std::chrono::steady_clock::now();
  mgn_build_model_from_file();
  const double seconds = seconds_since(start);
  if (mgn_model.vertices.count <= 0) std::exit(3);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const long largest = argc > 1 ? std::atol(argv[1]) : 2000000;
  std::printf("%10s %12s %14s %12s %14s\n", "vertices", "-T 100 (s)", "us per line", "-T 1 (s)", "us per line");
  for (long n : {largest / 4, largest / 2, largest}) {
    const std::string file = write_model(n);
    const double t100 = read_seconds(file, 100);
    const double t1 = read_seconds(file, 1);
    std::printf("%10ld %12.2f %14.3f %12.2f %14.3f\n", n, t100, 1e6 * t100 / n, t1, 1e6 * t1 / n);
    std::fflush(stdout);
    std::remove(file.c_str());
  }
  mgn_release_model();
  return 0;
}
