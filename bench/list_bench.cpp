// Listing throughput: handing out records and walking them three ways.
#include <chrono>
#include <cstdio>

#include "list.h"

namespace {

struct record {
  long id;
  double xyz[3];
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void add_id(void* r, void* sum) { *static_cast<long*>(sum) += static_cast<record*>(r)->id; }

}  // namespace

int main() {
  constexpr long n = 20'000'000;
  auto start = std::chrono::steady_clock::now();
  mgn_listing* listing = mgn_create_listing(1000, sizeof(record));
  mgn_listing* first = listing;
  for (long i = 0; i < n; ++i) mgn_get_listing_item_as<record>(listing)->id = i;
  std::printf("hand out %ld records: %.3f s\n", n, seconds_since(start));

  long sum = 0;
  start = std::chrono::steady_clock::now();
  for (record* r : mgn_listing_range<record>(first)) sum += r->id;
  std::printf("range walk:           %.3f s (%ld)\n", seconds_since(start), sum);

  sum = 0;
  start = std::chrono::steady_clock::now();
  mgn_apply_to_listing(first, add_id, &sum);
  std::printf("apply (untyped):      %.3f s (%ld)\n", seconds_since(start), sum);

  sum = 0;
  start = std::chrono::steady_clock::now();
  mgn_step_listing_forward(first, 1, -1, add_id, &sum);
  std::printf("step forward:         %.3f s (%ld)\n", seconds_since(start), sum);

  std::printf("memory peak: %zu bytes\n", mgn_listing_memory_peak());
  mgn_destroy_listing(first);
  return 0;
}
