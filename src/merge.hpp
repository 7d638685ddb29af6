// Merging address lists: items (addresses, prefixes, first-last ranges) of both families in,
// the fewest CIDR prefixes (or the maximal ranges) of their union, less the exceptions, out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "output.hpp"
#include "reports.hpp"

namespace maskery {

__extension__ using u128 = unsigned __int128;  // GCC and Clang; the IPv6 address as a number

struct Range4 {
  std::uint32_t first, last;
};
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

// The union of ranges of one family. Items are added in any order and held compactly, in
// blocks of 4 KiB, in buckets by the top bits of their first address; at the end each
// bucket (split further where it is large) is sorted and folded on its own, so that every
// item is moved a few times and sorted where the cache holds it.
template <class R>
class RangeSet {
 public:
  // Ranges in a piece of the result, about this many.
  static constexpr std::size_t kPiece = 32768;
  static constexpr std::size_t kBlock = 4096 / sizeof(R);  // items in a block
  using Render = std::function<void(std::span<const R>, Text&)>;
  using Emit = std::function<void(std::span<const R>, const Text&)>;
  struct Block {
    std::unique_ptr<R[]> items;  // kBlock of them, or fewer
    std::size_t size;            // those in use
  };
  using Blocks = std::vector<Block>;
  // Where items go in a bucket: its open block, the last of its blocks.
  struct Cursor {
    R* begin = nullptr;
    R* tail = nullptr;
    R* end = nullptr;
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
  static constexpr unsigned kWidth = sizeof(R::first) * 8;
  // Buckets by the top 8 bits of an IPv4 address: with 4096, the blocks being filled were
  // more pages than the processor keeps addresses for, and adding took a fifth longer.
  // IPv6 lists gather in fewer top bits, and their items fill a page in 128.
  static constexpr unsigned kKeyBits = sizeof(R) == sizeof(Range4) ? 8 : 12;
  static constexpr std::size_t kBuckets = std::size_t{1} << kKeyBits;
  void seal() noexcept;
  std::vector<Cursor> cursors_;  // both kBuckets long once anything is added
  std::vector<Blocks> buckets_;
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
