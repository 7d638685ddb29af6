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
