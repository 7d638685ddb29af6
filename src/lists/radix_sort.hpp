// Sorting by a 32-bit key, a byte a pass from the least significant: stable, and a pass is
// skipped where every key has the same byte. The one sort of IPv4 starts: the pieces of a
// merge, and the starts and ends of the items grep --which asks about.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/prefault.hpp"

namespace maskery {

// Sorts [b, e) by key(x), with t (as long) to spare; the result is left in [b, e).
template <class T, class Key>
void radix_sort32(T* b, T* e, T* t, Key&& key) noexcept {
  const auto n = static_cast<std::size_t>(e - b);
  if (n < 2) return;
  T* from = b;
  T* to = t;
  for (unsigned shift = 0; shift < 32; shift += 8) {
    std::array<std::size_t, 256> count{};
    for (const T* x = from; x != from + n; ++x) ++count[key(*x) >> shift & 0xff];
    if (count[key(*from) >> shift & 0xff] == n) continue;
    std::size_t pos = 0;
    for (auto& c : count) {
      const std::size_t k = c;
      c = pos;
      pos += k;
    }
    for (const T* x = from; x != from + n; ++x) to[count[key(*x) >> shift & 0xff]++] = *x;
    std::swap(from, to);
  }
  if (from != b) std::copy(from, from + n, b);
}

// The same for a whole vector, with room to spare mapped at once.
// (Not set to zero first: every element is written before it is read.)
template <class T, class Key>
void radix_sort32(std::vector<T>& v, Key&& key) {
  const auto spare = std::make_unique_for_overwrite<T[]>(v.size());
  prefault(spare.get(), v.size() * sizeof(T));
  radix_sort32(v.data(), v.data() + v.size(), spare.get(), key);
}

}  // namespace maskery
