#include "lists/threads.hpp"

#include <sched.h>

namespace maskery {

unsigned list_threads() noexcept {
  // The cores this process may run on (taskset narrows them), not those the machine has: a
  // second thread on one core only takes turns with the first.
  static const unsigned threads = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 2u;
    return CPU_COUNT(&set) > 1 ? 2u : 1u;
  }();
  return threads;
}

}  // namespace maskery
