// Questions to a union of ranges (SortedRanges) and to the items it was made of.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "lists/ranges.hpp"

namespace maskery {

// The range of sorted, apart ranges that holds a, or null.
template <class R>
const R* find_range(std::span<const R> set, Num<R> a) noexcept {
  // The last range that starts at or below a.
  const auto it =
      std::upper_bound(set.begin(), set.end(), a, [](Num<R> x, const R& r) { return x < r.first; });
  if (it == set.begin()) return nullptr;
  const R& r = *(it - 1);
  return a <= r.last ? &r : nullptr;
}

// IPv4 ranges with an index by the top 16 bits of an address: where the ranges that can hold
// it start, so that a search looks at a few ranges, not all (a binary search over 100,000
// ranges missed the cache at most of its 17 steps). 256 KiB.
class IndexedRanges4 {
 public:
  IndexedRanges4() = default;
  explicit IndexedRanges4(SortedRanges<Range4> set) : set_(std::move(set)), start_(65537) {
    const std::span<const Range4> v = set_.view();
    std::size_t i = 0;
    for (std::uint32_t top = 0; top < 65536; ++top) {
      // The first range that ends at or above the /16's first address.
      while (i < v.size() && v[i].last < top << 16) ++i;
      start_[top] = static_cast<std::uint32_t>(i);
    }
    start_[65536] = static_cast<std::uint32_t>(v.size());
  }
  bool holds(std::uint32_t a) const noexcept {
    if (start_.empty()) return false;
    const std::span<const Range4> v = set_.view();
    const std::uint32_t top = a >> 16;
    // Ranges from start_[top] on end at or above the /16; those that start in it or before
    // it end no later than start_[top + 1], plus one that reaches past it.
    const std::size_t b = start_[top];
    const std::size_t e = std::min<std::size_t>(start_[top + 1] + 1, v.size());
    const auto it = std::upper_bound(v.begin() + static_cast<std::ptrdiff_t>(b),
                                     v.begin() + static_cast<std::ptrdiff_t>(e), a,
                                     [](std::uint32_t x, const Range4& r) { return x < r.first; });
    if (it == v.begin() + static_cast<std::ptrdiff_t>(b)) return false;
    return a <= (it - 1)->last;
  }
  const SortedRanges<Range4>& ranges() const noexcept { return set_; }

 private:
  SortedRanges<Range4> set_;
  std::vector<std::uint32_t> start_;
};

// Whether r lies wholly inside the union: within one of its ranges, since they are apart.
template <class R>
bool covers(std::span<const R> set, const R& r) noexcept {
  const R* at = find_range(set, r.first);
  return at != nullptr && r.last <= at->last;
}

// The addresses in both unions, sorted and apart.
template <class R>
SortedRanges<R> intersect(std::span<const R> a, std::span<const R> b) {
  std::vector<R> out;
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const Num<R> first = std::max(a[i].first, b[j].first);
    const Num<R> last = std::min(a[i].last, b[j].last);
    if (first <= last) out.push_back({first, last});
    // The range that ends first has nothing more in common with the other list.
    if (a[i].last < b[j].last) {
      ++i;
    } else {
      ++j;
    }
  }
  return SortedRanges<R>::adopt(std::move(out));
}

// Which item holds an address: the most specific (fewest addresses), the first given on a
// tie. Made once from the items, as the address line cut where the answer changes: each cut
// is a start and the item that holds the addresses from there to the next cut (or none).
// Memory: two cuts an item at most.
template <class R>
class MostSpecific {
 public:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
  // items[i] is item number i.
  explicit MostSpecific(std::span<const R> items) {
    struct Event {
      Num<R> at;
      bool start;
      std::uint32_t item;
    };
    std::vector<Event> events;
    events.reserve(2 * items.size());
    for (std::uint32_t i = 0; i < items.size(); ++i) {
      events.push_back({items[i].first, true, i});
      // An item that reaches the top of the space never ends.
      if (items[i].last != std::numeric_limits<Num<R>>::max()) {
        events.push_back({items[i].last + 1, false, i});
      }
    }
    std::sort(events.begin(), events.end(),
              [](const Event& x, const Event& y) { return x.at < y.at; });
    std::set<std::pair<Num<R>, std::uint32_t>> open;  // (size less one, item): best first
    for (std::size_t k = 0; k < events.size();) {
      const Num<R> at = events[k].at;
      for (; k < events.size() && events[k].at == at; ++k) {
        const R& r = items[events[k].item];
        const std::pair<Num<R>, std::uint32_t> key{r.last - r.first, events[k].item};
        if (events[k].start) {
          open.insert(key);
        } else {
          open.erase(key);
        }
      }
      const std::uint32_t best = open.empty() ? kNone : open.begin()->second;
      if (cuts_.empty() ? best != kNone : cuts_.back().item != best) cuts_.push_back({at, best});
    }
  }
  // The item that holds a, or kNone.
  std::uint32_t find(Num<R> a) const noexcept {
    const auto it = std::upper_bound(cuts_.begin(), cuts_.end(), a,
                                     [](Num<R> x, const Cut& c) { return x < c.at; });
    return it == cuts_.begin() ? kNone : (it - 1)->item;
  }

 private:
  struct Cut {
    Num<R> at;
    std::uint32_t item;
  };
  std::vector<Cut> cuts_;
};

}  // namespace maskery
