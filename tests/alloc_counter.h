// Counting replacement of the global allocation functions, for tests that
// check that evaluation paths allocate nothing.  Include in exactly one
// source file of a test program.
#ifndef MGN_ALLOC_COUNTER_H
#define MGN_ALLOC_COUNTER_H

#include <cstdlib>
#include <new>

inline long mgn_allocation_count = 0;
inline bool mgn_counting_allocations = false;

// The replacement pair is malloc/free on both sides; the compiler cannot see
// that through inlined library code and would warn about a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  if (mgn_counting_allocations) ++mgn_allocation_count;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

// Allocations made while running f.
template <typename F>
long mgn_count_allocations(F f) {
  mgn_allocation_count = 0;
  mgn_counting_allocations = true;
  f();
  mgn_counting_allocations = false;
  return mgn_allocation_count;
}

#endif  // MGN_ALLOC_COUNTER_H
