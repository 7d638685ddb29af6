// Merging address lists: items (addresses, prefixes, first-last ranges) of both families in,
// the fewest CIDR prefixes (or the maximal ranges) of their union, less the exceptions, out.
#pragma once

#include <bit>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "output.hpp"
#include "reports.hpp"

namespace maskery {

__extension__ using u128 = unsigned __int128;  // GCC and Clang; the IPv6 address as a number

struct Range4 {
  std::uint32_t first, last;
};

// The number with its low `bits` bits set, up to all of them: the host part of a prefix
// with that many host bits, or the size of its block less one.
template <class N>
constexpr N low_ones(unsigned bits) noexcept {
  return bits >= sizeof(N) * 8 ? ~N{0} : (N{1} << bits) - 1;
}
struct Range6 {
  u128 first, last;
};

// One line of a list: nothing (blank or comment), or one item.
struct Item {
  enum class Kind : std::uint8_t { none, inet, inet6 } kind = Kind::none;
  Range4 r4{};
  Range6 r6{};
};

// Reads one line (it may be changed in place). Throws Failure "<where>: <reason>: <text>"
// when the line is not an item.
Item parse_item(char* line, std::size_t size, std::string_view where);

// The same, with the common forms read in one pass first; a failure's text is
// ": <reason>: <text>".
Item read_item(char* line, std::size_t size);

// How a set holds an item, within its bucket (the top bits of its first address, which
// the set knows). IPv4: as it is. IPv6: in 16 bytes rather than 32, which is half the memory
// to fill and to move: the first address less its top 12 bits (those of the bucket), and
// below it, in 12 bits, a code: last - first when that is below 2048, or else 2048 plus the
// number of host bits of a prefix. A range that is neither (a wide one) does not fit, and the
// set keeps it apart, as it is. As a number (key) the held form orders items of one bucket
// by their first address.
struct Packed6 {
  std::uint64_t hi, lo;
};

template <class R>
struct Packing;
template <>
struct Packing<Range4> {
  using Held = Range4;
  // Buckets by the top 8 bits: with 12, the blocks being filled were more pages than the
  // processor keeps addresses for, and adding took a fifth longer.
  static constexpr unsigned kBucketBits = 8;
  static std::size_t bucket(std::uint32_t first) noexcept { return first >> (32 - kBucketBits); }
  static bool fits(const Range4&) noexcept { return true; }
  static Range4 pack(const Range4& r) noexcept { return r; }
  static Range4 unpack(const Range4& h, std::size_t) noexcept { return h; }
  static std::uint32_t key(const Range4& h) noexcept { return h.first; }
  // The lowest address of items whose key is no lower than key, in the bucket.
  static std::uint32_t address(std::uint32_t key, std::size_t) noexcept { return key; }
};
template <>
struct Packing<Range6> {
  using Held = Packed6;
  // IPv6 lists gather in fewer top bits; the held form leaves out the bucket's, and puts
  // the code in their place.
  static constexpr unsigned kBucketBits = 12;
  static constexpr unsigned kCodeBits = kBucketBits;
  static constexpr std::uint64_t kSpans = 2048;  // codes from here on: prefixes
  static std::size_t bucket(u128 first) noexcept {
    return static_cast<std::size_t>(first >> (128 - kBucketBits));
  }
  // The number of host bits of a prefix whose last - first is span (2^k - 1): its width,
  // which needs no population count (a library call on plain x86-64).
  static unsigned host_bits(u128 span) noexcept {
    const auto hi = static_cast<std::uint64_t>(span >> 64);
    return hi != 0 ? 64 + static_cast<unsigned>(std::bit_width(hi))
                   : static_cast<unsigned>(std::bit_width(static_cast<std::uint64_t>(span)));
  }
  static bool fits(const Range6& r) noexcept {
    const u128 span = r.last - r.first;
    // Short; or 2^k - 1 (span + 1 wraps to 0 for the whole space) with first aligned.
    return span < kSpans || ((span & (span + 1)) == 0 && (r.first & span) == 0);
  }
  static Packed6 pack(const Range6& r) noexcept {
    const u128 span = r.last - r.first;
    const std::uint64_t code =
        span < kSpans ? static_cast<std::uint64_t>(span) : kSpans | host_bits(span);
    const u128 x = r.first << kCodeBits | code;
    return {static_cast<std::uint64_t>(x >> 64), static_cast<std::uint64_t>(x)};
  }
  static u128 key(const Packed6& h) noexcept { return u128{h.hi} << 64 | h.lo; }
  static u128 address(u128 key, std::size_t bucket) noexcept {
    return u128{bucket} << (128 - kBucketBits) | key >> kCodeBits;
  }
  static Range6 unpack(const Packed6& h, std::size_t bucket) noexcept {
    const u128 f = address(key(h), bucket);
    const std::uint64_t code = h.lo & (kSpans * 2 - 1);
    if (code < kSpans) return {f, f + code};
    return {f, f | low_ones<u128>(static_cast<unsigned>(code - kSpans))};
  }
};

// Text made from a piece of the result, away from the sink, so that two threads can make it.
class Text {
 public:
  // At least n writable bytes (plus Sink::kSlack) at the end; hand the new end to commit().
  char* reserve(std::size_t n) {
    if (used_ + n + Sink::kSlack > buf_.size()) buf_.resize(2 * (used_ + n + Sink::kSlack));
    return buf_.data() + used_;
  }
  void commit(char* end) noexcept { used_ = static_cast<std::size_t>(end - buf_.data()); }
  void clear() noexcept { used_ = 0; }
  std::string_view view() const noexcept { return {buf_.data(), used_}; }

 private:
  std::vector<char> buf_;
  std::size_t used_ = 0;
};

// Blocks of n items carved from slabs that grow from 4 blocks to 256, and freed all together
// with the slabs: a malloc and a free for each block took a twentieth of a run.
template <class T>
class Slabs {
 public:
  Slabs() = default;
  Slabs(Slabs&& other) noexcept { *this = std::move(other); }
  Slabs& operator=(Slabs&& other) noexcept {
    slabs_ = std::move(other.slabs_);
    next_ = std::exchange(other.next_, nullptr);
    end_ = std::exchange(other.end_, nullptr);
    other.slabs_.clear();
    return *this;
  }
  T* block(std::size_t n) {
    if (static_cast<std::size_t>(end_ - next_) < n) {
      const std::size_t blocks = std::size_t{4} << std::min<std::size_t>(slabs_.size(), 6);
      slabs_.push_back(std::make_unique_for_overwrite<T[]>(blocks * n));
      next_ = slabs_.back().get();
      end_ = next_ + blocks * n;
    }
    T* b = next_;
    next_ += n;
    return b;
  }
  // Keeps other's slabs alive as long as these (its blocks may have moved here).
  void take_over(Slabs&& other) {
    for (auto& slab : other.slabs_) slabs_.push_back(std::move(slab));
    other = Slabs();
  }

 private:
  std::vector<std::unique_ptr<T[]>> slabs_;
  T* next_ = nullptr;
  T* end_ = nullptr;
};

// The union of ranges of one family. Items are added in any order and held compactly, in
// blocks of 4 KiB, in buckets by the top bits of their first address; at the end each
// bucket (split further where it is large) is sorted and folded on its own, so that every
// item is moved a few times and sorted where the cache holds it.
template <class R>
class RangeSet {
 public:
  // Ranges in a piece of the result, about this many.
  static constexpr std::size_t kPiece = 32768;
  using Held = typename Packing<R>::Held;
  static constexpr std::size_t kBlock = 4096 / sizeof(Held);  // items in a block
  using Render = std::function<void(std::span<const R>, Text&)>;
  using Emit = std::function<void(std::span<const R>, const Text&)>;
  struct Block {
    Held* items;         // kBlock of them, or fewer, in one of the set's slabs
    std::size_t size;    // those in use
    std::size_t bucket;  // of all of them
    // In the first block of a part of the result, when it is drained: an address that no
    // item of the parts before exceeds, and no item of this part is below.
    decltype(R::first) floor{};
  };
  using Blocks = std::vector<Block>;
  // Where items go in a bucket: its open block, the last of its blocks.
  struct Cursor {
    Held* begin = nullptr;
    Held* tail = nullptr;
    Held* end = nullptr;
    R back{};  // the item at tail[-1], unpacked, when tail is past begin
  };

  void add(const R& r);
  // The union of everything added, as sorted maximal ranges, in consecutive pieces of about
  // `piece` ranges: render turns each piece into text, on two threads when there are several
  // pieces, and emit receives the pieces and their texts in order. The set is emptied.
  void drain(const Render& render, const Emit& emit, std::size_t piece = kPiece);
  // The union, collected.
  std::vector<R> take(std::size_t piece = kPiece);
  // Takes over everything added to other.
  void absorb(RangeSet&& other);

 private:
  static constexpr std::size_t kBuckets = std::size_t{1} << Packing<R>::kBucketBits;
  void seal() noexcept;
  std::vector<Cursor> cursors_;  // both kBuckets long once anything is added
  std::vector<Blocks> buckets_;
  Slabs<Held> slabs_;
  std::vector<R> wide_;  // the ranges that the held form does not fit
};

// The merged addresses, both families: the input items and the exceptions, held until the
// writer drains them in order.
struct MergeResult {
  RangeSet<Range4> v4;
  RangeSet<Range6> v6;
  std::vector<Range4> except4;  // sorted and maximal
  std::vector<Range6> except6;
  bool ranges = false;  // write first-last ranges rather than prefixes
};

// Writes the addresses of r (which it empties) as prefixes or ranges.
void write_result(MergeResult& r, Format f, Sink& out);

// The parts of r outside the sorted, maximal exceptions ex, to f. Called with ranges in
// ascending order, it keeps its place in ex in at.
template <class R, class F>
void subtract(R r, const std::vector<R>& ex, std::size_t& at, F&& f) {
  while (at < ex.size() && ex[at].last < r.first) ++at;
  for (std::size_t k = at; k < ex.size() && ex[k].first <= r.last; ++k) {
    if (ex[k].first > r.first) f(R{r.first, ex[k].first - 1});
    if (ex[k].last >= r.last) return;
    r.first = ex[k].last + 1;
  }
  f(r);
}

Address to_address(std::uint32_t v) noexcept;
Address to_address(u128 v) noexcept;

}  // namespace maskery
