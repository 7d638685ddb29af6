// Questions to a union of ranges (SortedRanges) and to the items it was made of.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/prefault.hpp"
#include "lists/radix_sort.hpp"
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

// An index of sorted IPv4 keys by their top 16 bits: where the last key at or below an
// address can be, a few keys rather than all (a binary search over 100,000 ranges missed the
// cache at most of its 17 steps). A /16 that holds more than kDense keys is indexed again by
// its /24s, so that a list crowded into a few networks is searched as fast. 256 KiB, and
// about 1 KiB a crowded /16.
class TopIndex {
 public:
  static constexpr std::size_t kDense = 32;
  TopIndex() = default;
  template <class Key>
  TopIndex(std::size_t n, Key&& key) {
    // Its 256 KiB mapped at once rather than faulted a page at a time.
    below_.reserve(65537);
    prefault(below_.data(), 65537 * sizeof(std::uint32_t));
    below_.resize(65537);
    std::size_t i = 0;
    for (std::uint32_t top = 0; top < 65536; ++top) {
      while (i < n && key(i) < top << 16) ++i;
      below_[top] = static_cast<std::uint32_t>(i);  // the keys below the /16
    }
    below_[65536] = static_cast<std::uint32_t>(n);
    for (std::uint32_t top = 0; top < 65536; ++top) {
      const std::uint32_t end = below_[top + 1];
      i = below_[top];
      if (end - i <= kDense) continue;
      dense_.push_back(top);
      for (std::uint32_t mid = 0; mid < 256; ++mid) {
        while (i < end && key(i) < (top << 16 | mid << 8)) ++i;
        sub_.push_back(static_cast<std::uint32_t>(i));  // the keys below the /24
      }
      sub_.push_back(end);
    }
  }
  // The keys from the first on, up to the second, hold the last key at or below a: those in
  // a's /16 (or /24, in a crowded /16) and the last one before them.
  std::pair<std::size_t, std::size_t> span(std::uint32_t a) const noexcept {
    const std::uint32_t top = a >> 16;
    std::uint32_t k = below_[top], end = below_[top + 1];
    if (end - k > kDense) {
      const auto d = std::lower_bound(dense_.begin(), dense_.end(), top) - dense_.begin();
      const std::uint32_t* sub = sub_.data() + d * 257 + (a >> 8 & 255);
      k = sub[0];
      end = sub[1];
    }
    return {k == 0 ? 0 : k - 1, end};
  }
  bool empty() const noexcept { return below_.empty(); }

 private:
  std::vector<std::uint32_t> below_;
  std::vector<std::uint32_t> dense_;  // the crowded /16s, ascending
  std::vector<std::uint32_t> sub_;    // 257 counts for each: the keys below each /24, and all
};

// The last of the keys [b, e) at or below a, or e when there is none. Halves with no branch
// on the keys: in a crowded network the keys are many, and which half holds a was a guess
// the processor missed at half the steps.
template <class It, class Key>
It last_at_or_below(It b, It e, std::uint32_t a, Key&& key) noexcept {
  if (b == e) return e;
  It base = b;  // the answer, if any, is in [base, base + n)
  for (auto n = e - b; n > 1;) {
    const auto half = n / 2;
    base = key(base[half]) <= a ? base + half : base;
    n -= half;
  }
  return key(*base) <= a ? base : e;
}

// IPv4 ranges, indexed: whether an address is inside. Each /16 is first looked up in a
// table of 16 KiB, which says whether the set holds all of it, none of it, or some: only
// for some is the index searched (half the /16s, with 47,000 ranges spread over them all,
// and the searches missed the cache).
class IndexedRanges4 {
 public:
  IndexedRanges4() = default;
  explicit IndexedRanges4(SortedRanges<Range4> set)
      : set_(std::move(set)),
        index_(set_.size(), [this](std::size_t i) { return set_[i].first; }),
        whole_(65536 / 4, 0) {
    const auto mark = [this](std::uint32_t top, unsigned state) {
      // A /16 that one range holds whole no other range touches; where two touch it, some.
      whole_[top / 4] = static_cast<std::uint8_t>(whole_[top / 4] | state << (top % 4 * 2));
    };
    for (const Range4& r : set_.view()) {
      const std::uint32_t first = r.first >> 16, last = r.last >> 16;
      mark(first,
           (r.first & 0xffff) == 0 && (first < last || (r.last & 0xffff) == 0xffff) ? kAll : kSome);
      if (last == first) continue;
      for (std::uint32_t top = first + 1; top < last; ++top) mark(top, kAll);
      mark(last, (r.last & 0xffff) == 0xffff ? kAll : kSome);
    }
  }
  bool holds(std::uint32_t a) const noexcept {
    if (index_.empty()) return false;
    const unsigned state = whole_[a >> 18] >> (a >> 16 & 3) * 2 & 3;
    if (state != kSome) return state == kAll;
    const std::span<const Range4> v = set_.view();
    const auto [first, end] = index_.span(a);
    const auto b = v.begin() + static_cast<std::ptrdiff_t>(first);
    const auto e = v.begin() + static_cast<std::ptrdiff_t>(end);
    const auto r = last_at_or_below(b, e, a, [](const Range4& x) { return x.first; });
    return r != e && a <= r->last;
  }

 private:
  static constexpr unsigned kAll = 1, kSome = 3;  // none is 0; some marked over all is some
  SortedRanges<Range4> set_;
  TopIndex index_;
  std::vector<std::uint8_t> whole_;  // two bits a /16
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

// The addresses in either union, sorted and apart: the two merged by first address and
// folded.
template <class R>
SortedRanges<R> unite(std::span<const R> a, std::span<const R> b) {
  std::vector<R> out;
  out.reserve(a.size() + b.size());
  prefault(out.data(), (a.size() + b.size()) * sizeof(R));
  std::size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    const R& r = j == b.size() || (i < a.size() && a[i].first <= b[j].first) ? a[i++] : b[j++];
    if (!out.empty() && joins(out.back(), r)) {
      out.back().last = std::max(out.back().last, r.last);
    } else {
      out.push_back(r);
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
    // A sweep over the starts and the ends, with the items open at each point in a heap,
    // best on top; an item that has ended leaves the heap only when it comes to the top,
    // where it would be wrong.
    // Every array is mapped ahead of its first use (prefault.hpp): page by page, the faults
    // were a third of the time of making the sets of 100,000 items.
    std::vector<std::pair<Num<R>, std::uint32_t>> starts;  // (first, item)
    starts.reserve(items.size());
    prefault(starts.data(), items.size() * sizeof starts[0]);
    for (std::uint32_t i = 0; i < items.size(); ++i) starts.emplace_back(items[i].first, i);
    if constexpr (std::is_same_v<Num<R>, std::uint32_t>) {
      // In the order of the items already: equal starts stay in the order of their numbers.
      radix_sort32(starts, [](const auto& s) { return s.first; });
    } else {
      std::sort(starts.begin(), starts.end());
    }
    std::vector<Num<R>> ends;    // where items end, one past their last; an item that reaches
    ends.reserve(items.size());  // the top of the space never ends
    prefault(ends.data(), items.size() * sizeof(Num<R>));
    for (const R& r : items) {
      if (r.last != std::numeric_limits<Num<R>>::max()) ends.push_back(r.last + 1);
    }
    if constexpr (std::is_same_v<Num<R>, std::uint32_t>) {
      radix_sort32(ends, [](std::uint32_t e) { return e; });
    } else {
      std::sort(ends.begin(), ends.end());
    }
    using Open = std::pair<Num<R>, std::uint32_t>;  // (size less one, item): the least is best
    // Room for all at once, taken as it is used: grown step by step, each copy touched new
    // pages, and a new page costs as much as a few hundred items here.
    std::vector<Open> open;
    open.reserve(items.size());
    cuts_.reserve(2 * items.size());
    std::size_t mapped = 0;  // cuts_ mapped ahead, as far as this
    const auto worse = [](const Open& x, const Open& y) { return y < x; };
    std::size_t i = 0, j = 0;
    while (i < starts.size() || j < ends.size()) {
      const Num<R> at = j == ends.size() || (i < starts.size() && starts[i].first < ends[j])
                            ? starts[i].first
                            : ends[j];
      for (; i < starts.size() && starts[i].first == at; ++i) {
        const R& r = items[starts[i].second];
        open.push_back({r.last - r.first, starts[i].second});
        std::push_heap(open.begin(), open.end(), worse);
      }
      while (j < ends.size() && ends[j] == at) ++j;
      while (!open.empty() && items[open.front().second].last < at) {
        std::pop_heap(open.begin(), open.end(), worse);
        open.pop_back();
      }
      const std::uint32_t best = open.empty() ? kNone : open.front().second;
      if (cuts_.empty() ? best != kNone : cuts_.back().item != best) {
        map_ahead(cuts_, mapped);
        cuts_.push_back({at, best});
      }
    }
    if constexpr (std::is_same_v<Num<R>, std::uint32_t>) {
      index_ = TopIndex(cuts_.size(), [this](std::size_t k) { return cuts_[k].at; });
    }
  }
  // The item that holds a, or kNone.
  std::uint32_t find(Num<R> a) const noexcept {
    if constexpr (std::is_same_v<Num<R>, std::uint32_t>) {
      if (cuts_.empty()) return kNone;
      const auto [first, end] = index_.span(a);
      const auto b = cuts_.begin() + static_cast<std::ptrdiff_t>(first);
      const auto e = cuts_.begin() + static_cast<std::ptrdiff_t>(end);
      const auto c = last_at_or_below(b, e, a, [](const Cut& x) { return x.at; });
      return c == e ? kNone : c->item;
    } else {
      const auto it = std::upper_bound(cuts_.begin(), cuts_.end(), a,
                                       [](Num<R> x, const Cut& c) { return x < c.at; });
      return it == cuts_.begin() ? kNone : (it - 1)->item;
    }
  }

 private:
  struct Cut {
    Num<R> at;
    std::uint32_t item;
  };
  std::vector<Cut> cuts_;
  TopIndex index_;  // IPv4 only
};

}  // namespace maskery
