// Make pieces in parallel, emit them in order: the two-core pipeline of the list engine.
//
// Piece p (0 to n - 1) goes through these stages, each on whichever list thread took it:
//   make(p, slot, worker)  in any order, in parallel, with at most kAhead pieces taken and not yet
//                    emitted (so the memory held is a few pieces, whatever n is);
//   join(p, slot)    in the order of p, one at a time, under the lock: where a piece learns
//                    what the pieces before it left open;
//   then either
//     render(p, slot)  in parallel, and later emit(p, slot) in the order of p, by whichever
//                      thread finds the next piece ready while no other thread emits;
//   or, when streams(slot) after the join,
//     stream(p, slot)  in its turn (every piece before it emitted), while no other thread
//                      emits; it emits as it goes, and the slot has nothing left to emit.
// A slot is a piece's working memory, reused for a later piece once emitted; a worker
// (Stages::Worker) is a thread's own, for the whole run.
//
// The state shared by the threads is under one lock, m:
//   next      pieces taken;            waited on by take:   stop || next == n || next - emitted <
//   kAhead joined    pieces joined;           waited on by join:   stop || joined == p emitted
//   pieces emitted;          waited on by stream: stop || (emitted == p && !emitting) emitting  a
//   thread is emitting (the sink is its own meanwhile) ready     made pieces waiting for their turn
//   to be emitted; spare: slots to reuse stop, lost  the first exception of any stage, which stops
//   every thread and is rethrown
// Whoever changes joined, emitted, emitting or stop notifies every waiter (one condition
// variable, `changed`); each wait rechecks its predicate.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "lists/threads.hpp"

namespace maskery {

template <class Slot, class Stages>
void run_ordered(std::size_t n, Stages& stages) {
  constexpr std::size_t kAhead = 4;
  std::mutex m;
  std::condition_variable changed;
  std::size_t next = 0, joined = 0, emitted = 0;
  bool stop = false, emitting = false;
  std::vector<std::unique_ptr<Slot>> ready(n), spare;
  std::exception_ptr lost;

  const auto work = [&] {
    typename Stages::Worker worker;
    try {
      for (;;) {
        std::size_t p;
        std::unique_ptr<Slot> slot;
        {
          std::unique_lock lock(m);
          changed.wait(lock, [&] { return stop || next == n || next - emitted < kAhead; });
          if (stop || next == n) return;
          p = next++;
          if (!spare.empty()) {
            slot = std::move(spare.back());
            spare.pop_back();
          }
        }
        if (!slot) slot = std::make_unique<Slot>();
        stages.make(p, *slot, worker);
        {
          std::unique_lock lock(m);
          changed.wait(lock, [&] { return stop || joined == p; });
          if (stop) return;
          stages.join(p, *slot);
          ++joined;
          changed.notify_all();
        }
        bool mine = false;  // this thread holds the turn to emit
        if (stages.streams(*slot)) {
          {
            std::unique_lock lock(m);
            changed.wait(lock, [&] { return stop || (emitted == p && !emitting); });
            if (stop) return;
            emitting = mine = true;
          }
          stages.stream(p, *slot);
        } else {
          stages.render(p, *slot);
        }
        std::unique_lock lock(m);
        ready[p] = std::move(slot);
        if (emitting && !mine) continue;  // the thread emitting will find it
        emitting = true;
        while (!stop && emitted < n && ready[emitted]) {
          const std::size_t q = emitted;
          std::unique_ptr<Slot> e = std::move(ready[q]);
          lock.unlock();
          stages.emit(q, *e);
          lock.lock();
          spare.push_back(std::move(e));
          ++emitted;
          changed.notify_all();
        }
        emitting = false;
        changed.notify_all();
      }
    } catch (...) {
      std::lock_guard lock(m);
      if (!lost) lost = std::current_exception();
      stop = true;
      changed.notify_all();
    }
  };
  run_on(n > 1 ? list_threads() : 1, work);
  if (lost) std::rethrow_exception(lost);
}

}  // namespace maskery
