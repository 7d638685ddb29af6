// The threads of the list engine: how many, and running work on them.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>

namespace maskery {

// How many threads list work runs on: two where the machine has two cores or more (the work
// is split in two throughout), one where it has one. The one place this is decided.
unsigned list_threads() noexcept;

// A second thread that runs f (which must catch what it throws), started on another core
// than the one this thread runs on: Linux puts a new thread on its parent's core, and while
// the parent worked the new one waited there 2 to 4 ms for a turn, the other core idle (the
// country table of 390,000 lines lost most of its second core so). Once started it may run
// anywhere this process may. Joined by join(), or at the latest when it is destroyed.
class Helper {
 public:
  explicit Helper(std::function<void()> f);
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;
  ~Helper() { join(); }
  void join() noexcept;

 private:
  pthread_t thread_;
  bool joined_ = false;
};

// Runs work on this thread and, when threads > 1, on threads - 1 more at the same time;
// work catches what it throws.
template <class F>
void run_on(unsigned threads, const F& work) {
  if (threads <= 1) {
    work();
    return;
  }
  Helper helper([&work] { work(); });  // list_threads() is at most two
  work();
  helper.join();
}

// Runs f(0) to f(n - 1), each once, on as many threads as there are tasks and list threads;
// the first exception any of them throws is thrown here once all have stopped.
template <class F>
void for_each_task(std::size_t n, F&& f) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::exception_ptr lost;
  std::mutex m;
  const auto work = [&] {
    try {
      for (std::size_t i; !stop && (i = next++) < n;) f(i);
    } catch (...) {
      std::lock_guard lock(m);
      if (!lost) lost = std::current_exception();
      stop = true;
    }
  };
  run_on(n > 1 ? list_threads() : 1, work);
  if (lost) std::rethrow_exception(lost);
}

}  // namespace maskery
