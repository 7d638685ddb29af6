#include "lists/threads.hpp"

#include <sched.h>

#include <memory>
#include <system_error>
#include <utility>

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

namespace {

struct Start {
  std::function<void()> f;
  cpu_set_t cores;  // where the process may run, for the thread once started
  bool placed;      // the thread was started elsewhere than on cores
};

void* start(void* arg) {
  const std::unique_ptr<Start> s(static_cast<Start*>(arg));
  if (s->placed) (void)sched_setaffinity(0, sizeof s->cores, &s->cores);
  s->f();
  return nullptr;
}

}  // namespace

Helper::Helper(std::function<void()> f) {
  auto s = std::make_unique<Start>();
  s->f = std::move(f);
  CPU_ZERO(&s->cores);
  s->placed = false;
  pthread_attr_t attr;
  if (const int rc = pthread_attr_init(&attr); rc != 0) {
    throw std::system_error(rc, std::generic_category(), "thread");
  }
  const int here = sched_getcpu();
  if (here >= 0 && sched_getaffinity(0, sizeof s->cores, &s->cores) == 0 &&
      CPU_ISSET(here, &s->cores) && CPU_COUNT(&s->cores) > 1) {
    cpu_set_t others = s->cores;
    CPU_CLR(here, &others);
    s->placed = pthread_attr_setaffinity_np(&attr, sizeof others, &others) == 0;
  }
  const int rc = pthread_create(&thread_, &attr, start, s.get());
  pthread_attr_destroy(&attr);
  if (rc != 0) throw std::system_error(rc, std::generic_category(), "thread");
  s.release();  // the thread's now
}

void Helper::join() noexcept {
  if (!joined_) (void)pthread_join(thread_, nullptr);
  joined_ = true;
}

}  // namespace maskery
