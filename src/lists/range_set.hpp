// The set that holds the items of a list, of one family: added in any order, drained as
// their union.
//
// What it promises: drain() and take() give the union of every range added, as sorted,
// apart, maximal ranges (SortedRanges), whatever the order and overlap of the items.
// Memory follows the items held (16 bytes an item at most, after folding), not the lines they
// came from, and is touched only as items arrive.
//
// How: each item goes into a bucket by the top bits of its first address, in blocks of 4 KiB
// carved from slabs; an item that extends the last one added to its bucket is folded into it
// at once. At the end, buckets larger than a piece are split by the next bits below those all
// their items share, into leaves in address order; runs of leaves make pieces, which the list
// threads sort and fold on their own, and the ordered pipeline joins and emits in order.
// Why the fold across pieces is right: a piece holds exactly the items whose first address
// lies from its floor up to the next piece's floor, so it starts no lower than every item of
// the pieces before; a range that reaches past its piece is carried to the next pieces and
// extended there (join), and written by the piece where it ends. The prefixes that one_range
// places in a later bucket start in that bucket, so they too are in the piece of their first
// address.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "core/prefault.hpp"
#include "core/sink.hpp"
#include "lists/ranges.hpp"

namespace maskery {

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
  // The lowest address of the bucket.
  static std::uint32_t floor(std::size_t bucket) noexcept {
    return static_cast<std::uint32_t>(bucket << (32 - kBucketBits));
  }
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
  static u128 floor(std::size_t bucket) noexcept { return address(0, bucket); }
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
    if (used_ + n + Sink::kSlack > mapped_) [[unlikely]]
      map(used_ + n + Sink::kSlack);
    return buf_.get() + used_;
  }
  void commit(char* end) noexcept { used_ = static_cast<std::size_t>(end - buf_.get()); }
  void clear() noexcept { used_ = 0; }
  std::string_view view() const noexcept { return {buf_.get(), used_}; }
  // Room for n bytes in all, none of it mapped before it is written.
  void room(std::size_t n) {
    if (n + Sink::kSlack > size_) grow(n + Sink::kSlack);
  }

 private:
  // The buffer is mapped a stretch ahead of what is written (prefault.hpp): the pieces of
  // grep's output and of a merge's text fault thousands of fresh pages in a run, where one
  // alone costs the time of writing hundreds of lines.
  void map(std::size_t end) {
    if (end > size_) grow(end);
    mapped_ = prefault_to(buf_.get(), mapped_, end, size_);
  }
  // Only the text is copied: clearing the new room first was a third of a small merge.
  void grow(std::size_t end) {
    const std::size_t size = 2 * end;
    auto buf = std::make_unique_for_overwrite<char[]>(size);
    prefault(buf.get(), used_);
    if (used_ > 0) std::memcpy(buf.get(), buf_.get(), used_);
    buf_ = std::move(buf);
    size_ = size;
    mapped_ = used_;
  }
  std::unique_ptr<char[]> buf_;
  std::size_t size_ = 0;
  std::size_t used_ = 0;
  std::size_t mapped_ = 0;  // bytes of buf_ mapped (see prefault.hpp)
};

// Blocks of n items carved from slabs that grow from 4 blocks to 1024, and freed all together
// with the slabs: a malloc and a free for each block took a twentieth of a run.
template <class T>
class Slabs {
 public:
  Slabs() = default;
  Slabs(Slabs&& other) noexcept { *this = std::move(other); }
  Slabs& operator=(Slabs&& other) noexcept {
    slabs_ = std::move(other.slabs_);
    held_ = std::exchange(other.held_, 0);
    next_ = std::exchange(other.next_, nullptr);
    end_ = std::exchange(other.end_, nullptr);
    slab_ = std::exchange(other.slab_, nullptr);
    ready_ = std::exchange(other.ready_, nullptr);
    other.slabs_.clear();
    return *this;
  }
  T* block(std::size_t n) {
    if (static_cast<std::size_t>(end_ - next_) < n) {
      const std::size_t blocks = std::size_t{4} << std::min<std::size_t>(slabs_.size(), 8);
      slabs_.emplace_back(allocate(blocks * n, held_ >= kHugeFrom));
      held_ += blocks * n * sizeof(T);
      slab_ = ready_ = next_ = slabs_.back().get();
      end_ = next_ + blocks * n;
    }
    T* b = next_;
    next_ += n;
    if (next_ > ready_) [[unlikely]] {
      const std::size_t used = static_cast<std::size_t>(ready_ - slab_) * sizeof(T);
      T* const to = std::min(end_, std::max(next_, ready_ + prefault_stretch(used) / sizeof(T)));
      prefault(ready_, static_cast<std::size_t>(to - ready_) * sizeof(T));
      ready_ = to;
    }
    return b;
  }
  // Gives back the room [tail, end) of the last block carved, when it is that block's end:
  // the next block is carved from tail on.
  bool give_back(T* tail, T* end) noexcept {
    if (next_ != end) return false;
    next_ = tail;
    return true;
  }
  // Keeps other's slabs alive as long as these (its blocks may have moved here).
  void take_over(Slabs&& other) {
    for (auto& slab : other.slabs_) slabs_.push_back(std::move(slab));
    held_ += other.held_;
    other = Slabs();
  }

 private:
  // Once the slabs hold kHugeFrom, the next ones (2 MiB each) are aligned to 2 MiB and mapped,
  // where the kernel can, in pages of that size: one fault for each rather than 512, and as
  // many fewer misses of the address cache: lists of 10 million lines merged in 0.84 to 0.86 of
  // the time. Sooner, a page of 2 MiB mapped whole would be more than a smaller list needs.
  static constexpr std::size_t kHuge = std::size_t{2} << 20;
  static constexpr std::size_t kHugeFrom = std::size_t{8} << 20;
  static_assert(kHuge % alignof(T) == 0);
  static T* allocate(std::size_t n, bool huge) {
    const std::size_t bytes = n * sizeof(T);
    const std::size_t align = huge && bytes >= kHuge ? kHuge : alignof(T);
    void* p = std::aligned_alloc(align, (bytes + align - 1) / align * align);
    if (p == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    if (align == kHuge) (void)::madvise(p, bytes, MADV_HUGEPAGE);
#endif
    return static_cast<T*>(p);
  }
  struct Free {
    void operator()(T* p) const noexcept { std::free(p); }
  };
  std::vector<std::unique_ptr<T[], Free>> slabs_;
  std::size_t held_ = 0;  // bytes in slabs_
  T* next_ = nullptr;
  T* end_ = nullptr;
  T* slab_ = nullptr;   // the start of the last slab
  T* ready_ = nullptr;  // mapped from next_ up to here, within end_
};

// Ranges in one array of a room reserved at once: room that large is mapped memory, of which
// only the pages written are touched, and growing it (past the room, seldom) moves pages
// rather than copies them. (Doubling from a small array touched twice the pages.)
template <class R>
class FlatRanges {
 public:
  FlatRanges() = default;
  FlatRanges(FlatRanges&& other) noexcept { *this = std::move(other); }
  FlatRanges& operator=(FlatRanges&& other) noexcept {
    std::swap(v_, other.v_);
    std::swap(size_, other.size_);
    std::swap(cap_, other.cap_);
    std::swap(ready_, other.ready_);
    std::swap(room_, other.room_);
    other.clear();
    return *this;
  }
  ~FlatRanges() { std::free(v_); }
  explicit FlatRanges(std::size_t room) : room_(room) {}
  void push_back(const R& r) {
    if (size_ == ready_) [[unlikely]]
      ahead();
    v_[size_++] = r;
  }
  void append(const R* b, const R* e) {
    for (; b != e; ++b) push_back(*b);
  }
  R* begin() noexcept { return v_; }
  R* end() noexcept { return v_ + size_; }
  const R* begin() const noexcept { return v_; }
  const R* end() const noexcept { return v_ + size_; }
  R& back() noexcept { return v_[size_ - 1]; }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  void shrink(std::size_t n) noexcept { size_ = std::min(size_, n); }
  void clear() noexcept {
    std::free(std::exchange(v_, nullptr));
    size_ = cap_ = ready_ = 0;
  }

 private:
  // The next stretch of room mapped, after the array has grown if it is full.
  void ahead() {
    if (size_ == cap_) grow();
    ready_ = prefault_room(v_, size_, cap_);
  }
  void grow() {
    const std::size_t cap = cap_ == 0 ? std::max<std::size_t>(room_, 256) : 2 * cap_;
    void* v = std::realloc(v_, cap * sizeof(R));
    if (v == nullptr) throw std::bad_alloc();
    v_ = static_cast<R*>(v);
    cap_ = cap;
  }
  R* v_ = nullptr;
  std::size_t size_ = 0, cap_ = 0;
  std::size_t ready_ = 0;  // items from size_ up to here are mapped, and within cap_
  std::size_t room_ = 0;
};

// The union of ranges of one family. Items are added in any order. A few of them (up to a
// limit, kFlat unless given), or any number that come in order, are held in one array as they
// come, and sorted at the end: little else is allocated, so a list of tens of thousands of
// lines, or a sorted list of any size, touches little more memory than its items. Past the limit
// they are held compactly, in blocks of 2 KiB, in buckets by the top bits of their first address;
// at the end each bucket (split further where it is large) is sorted and folded on its own, so that
// every item is moved a few times and sorted where the cache holds it.
template <class R>
class RangeSet {
 public:
  static constexpr std::size_t kFlat = 65536;
  explicit RangeSet(std::size_t flat = kFlat)
      : flat_limit_(std::min(flat, kFlat)), flat_(flat_limit_) {}
  // Ranges in a piece of the result, about this many.
  static constexpr std::size_t kPiece = 32768;
  // Sets of at most kSerial items are drained on one thread, in pieces of kSmallPiece.
  static constexpr std::size_t kSerial = std::size_t{1} << 20;
  static constexpr std::size_t kSmallPiece = 4096;
  // Ranges made into text at once where the text is made as it is written.
  static constexpr std::size_t kSlice = 256;
  using Held = typename Packing<R>::Held;
  static constexpr std::size_t kBlock = 2048 / sizeof(Held);  // items in a block
  // A bucket's first block as items are added holds this many, and each next one twice
  // as many up to kBlock: a small list scattered over thousands of buckets touched a page
  // for each of them (a list of 20,000 IPv6 items, 16 MiB).
  static constexpr std::size_t kFirstBlock = 16;
  using Render = std::function<void(std::span<const R>, Text&)>;
  using Emit = std::function<void(std::span<const R>, const Text&)>;
  struct Block {
    Held* items;         // kBlock of them, or fewer, in one of the set's slabs: the first
                         // ones of a bucket are smaller, and a bucket's last one may be cut
                         // to its items
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
  // `piece` ranges: render turns each piece into text, on the list threads when there are
  // several pieces and more than `serial` items, and emit receives the pieces and their
  // texts in order. The set is emptied.
  void drain(const Render& render, const Emit& emit, std::size_t piece = kPiece,
             std::size_t serial = kSerial);
  // The union, collected.
  SortedRanges<R> take(std::size_t piece = kPiece, std::size_t serial = kSerial);
  // Takes over everything added to other.
  void absorb(RangeSet&& other);

 private:
  static constexpr std::size_t kBuckets = std::size_t{1} << Packing<R>::kBucketBits;
  void seal() noexcept;
  void leave(std::size_t bucket) noexcept;
  void add_to_bucket(const R& r);
  void leave_flat();
  void drain_flat(const Render& render, const Emit& emit);
  std::size_t flat_limit_;
  bool bucketed_ = false;  // the items are in buckets, no longer in flat_
  FlatRanges<R> flat_;
  // Whether flat_ is in order of first address. A sorted list stays in flat_ past the limit,
  // as it comes, and is sorted already: it holds its items and nothing more.
  bool flat_sorted_ = true;
  std::vector<Cursor> cursors_;  // both kBuckets long once anything is added
  // While items come in the order of their buckets (a sorted list), a bucket that is left
  // gets no more of them, and the room left in its open block is given back.
  bool ordered_ = true;
  std::size_t current_ = 0;  // the bucket of the last item added, while ordered_
  std::vector<Blocks> buckets_;
  Slabs<Held> slabs_;
  Slabs<Held> small_;  // the blocks of fewer than kBlock items
  // The ranges that the held form does not fit; or a sorted array that was flat_, folded,
  // when more items came out of order (or another set's, taken over): either way, ranges
  // held apart and folded in with the pieces they fall in.
  FlatRanges<R> wide_;
};

}  // namespace maskery
