// Ranges of addresses as numbers, and the small pure operations on them that the list engine
// is made of: whether two ranges join, the prefixes of a range, a range less a set.
//
// A range is [first, last], both included, first <= last. SortedRanges holds ranges that are
// sorted (ascending), apart (none overlaps or touches the next: between two there is at
// least one address) and therefore maximal: the one form of a union.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include <string>

#include "core/address_text.hpp"

namespace maskery {

struct Range4 {
  std::uint32_t first, last;
};
struct Range6 {
  u128 first, last;
};

template <class R>
using Num = decltype(R::first);
template <class R>
inline constexpr unsigned kWidth = sizeof(Num<R>) * 8;

// Ranges sorted, apart and maximal (see above). Made only by the list engine, which
// establishes the invariant; readers get the ranges as they are.
template <class R>
class SortedRanges {
 public:
  SortedRanges() = default;
  // The caller vouches for the invariant.
  static SortedRanges adopt(std::vector<R>&& v) {
    SortedRanges s;
    s.v_ = std::move(v);
    return s;
  }
  std::span<const R> view() const noexcept { return v_; }
  std::size_t size() const noexcept { return v_.size(); }
  bool empty() const noexcept { return v_.empty(); }
  const R& operator[](std::size_t i) const noexcept { return v_[i]; }
  auto begin() const noexcept { return v_.begin(); }
  auto end() const noexcept { return v_.end(); }

 private:
  std::vector<R> v_;
};

// Whether r, which starts no lower than back, overlaps or touches it, so that the two are one
// range. back.last + 1 would wrap at the top of the space: compare without adding.
template <class R>
constexpr bool joins(const R& back, const R& r) noexcept {
  return r.first <= back.last || r.first - back.last == 1;
}

inline unsigned trailing_zeros(std::uint32_t v, unsigned width) noexcept {
  return v == 0 ? width : static_cast<unsigned>(std::countr_zero(v));
}
inline unsigned trailing_zeros(u128 v, unsigned width) noexcept {
  if (v == 0) return width;
  const auto lo = static_cast<std::uint64_t>(v);
  return lo != 0
             ? static_cast<unsigned>(std::countr_zero(lo))
             : 64 + static_cast<unsigned>(std::countr_zero(static_cast<std::uint64_t>(v >> 64)));
}
// floor(log2(v + 1)) for the count v + 1 of a range, v = last - first.
inline unsigned log2_count(std::uint32_t v) noexcept {
  const std::uint64_t n = std::uint64_t{v} + 1;
  return 63 - static_cast<unsigned>(std::countl_zero(n));
}
inline unsigned log2_count(u128 v) noexcept {
  if (v == ~u128{0}) return 128;
  const u128 n = v + 1;
  const auto hi = static_cast<std::uint64_t>(n >> 64);
  return hi != 0 ? 127 - static_cast<unsigned>(std::countl_zero(hi))
                 : 63 - static_cast<unsigned>(std::countl_zero(static_cast<std::uint64_t>(n)));
}

// The prefixes of one range, largest first, each as emit(address, length): each as long a
// block as the first address's alignment and the rest of the range allow. The reference;
// prefixes_of below gives the same, faster.
template <class R, class Emit>
void prefixes_of_plain(const R& r, Emit&& emit) {
  constexpr unsigned width = kWidth<R>;
  auto a = r.first;
  for (;;) {
    const unsigned k = std::min(trailing_zeros(a, width), log2_count(r.last - a));
    emit(a, width - k);
    // The block ends at last, possibly the top of the space: stop before adding past it.
    const auto size_less_one = low_ones<Num<R>>(k);
    if (r.last - a == size_less_one) return;
    a += size_less_one + 1;
  }
}

template <class R, class Emit>
void prefixes_of(const R& r, Emit&& emit) {
  if constexpr (std::is_same_v<Num<R>, u128>) {
    // Most IPv6 ranges lie within one /64 and are not all of it: the same steps on the low
    // halves alone, with no 128-bit arithmetic.
    const auto hi = static_cast<std::uint64_t>(r.first >> 64);
    auto lo = static_cast<std::uint64_t>(r.first);
    const auto last = static_cast<std::uint64_t>(r.last);
    if (static_cast<std::uint64_t>(r.last >> 64) == hi && last - lo != ~std::uint64_t{0}) {
      for (;;) {
        const std::uint64_t rest = last - lo;  // below 2^64 - 1: rest + 1 does not wrap
        const unsigned k = std::min(lo == 0 ? 64u : static_cast<unsigned>(std::countr_zero(lo)),
                                    63u - static_cast<unsigned>(std::countl_zero(rest + 1)));
        emit(u128{hi} << 64 | lo, 128 - k);
        const std::uint64_t size_less_one = low_ones<std::uint64_t>(k);
        if (rest == size_less_one) return;
        lo += size_less_one + 1;
      }
    }
  }
  prefixes_of_plain(r, std::forward<Emit>(emit));
}

// r as lists write it, at out: ADDRESS/LEN when it is a prefix (as_range false), else
// FIRST-LAST. Returns the end; writes no more than kMaxRangeText bytes.
inline constexpr std::size_t kMaxRangeText = 2 * kMaxAddressText + 2;
inline char* format_value(char* out, std::uint32_t v) noexcept {
  return format_ipv4(out, v);
}
inline char* format_value(char* out, u128 v) noexcept {
  return format_ipv6(out, static_cast<std::uint64_t>(v >> 64), static_cast<std::uint64_t>(v));
}
template <class R>
char* write_range_text(char* out, const R& r, bool as_range) noexcept {
  // Each address straight at out: it may store past its text, but not past kMaxAddressText,
  // which the '-' and the next address (or the length) then write over.
  out = format_value(out, r.first);
  if (as_range) {
    *out++ = '-';
    return format_value(out, r.last);
  }
  const unsigned len = kWidth<R> - log2_count(r.last - r.first);
  *out++ = '/';
  if (len >= 100) *out++ = static_cast<char>('0' + len / 100);
  if (len >= 10) *out++ = static_cast<char>('0' + len / 10 % 10);
  *out++ = static_cast<char>('0' + len % 10);
  return out;
}
template <class R>
std::string range_text(const R& r, bool as_range) {
  char buf[kMaxRangeText];
  return {buf, write_range_text(buf, r, as_range)};
}

// The parts of r outside the sorted ranges ex, to f. Called with ranges in ascending order,
// it keeps its place in ex in at.
template <class R, class F>
void subtract(R r, std::span<const R> ex, std::size_t& at, F&& f) {
  while (at < ex.size() && ex[at].last < r.first) ++at;
  for (std::size_t k = at; k < ex.size() && ex[k].first <= r.last; ++k) {
    if (ex[k].first > r.first) f(R{r.first, ex[k].first - 1});
    if (ex[k].last >= r.last) return;
    r.first = ex[k].last + 1;
  }
  f(r);
}

// Where the ranges of ex that can touch ranges from first on start.
template <class R>
std::size_t first_reaching(std::span<const R> ex, Num<R> first) noexcept {
  return static_cast<std::size_t>(
      std::partition_point(ex.begin(), ex.end(), [&](const R& x) { return x.last < first; }) -
      ex.begin());
}

}  // namespace maskery
