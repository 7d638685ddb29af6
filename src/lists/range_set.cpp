// The set of ranges of one family that the list modes fill: see range_set.hpp for what it
// promises. Here: sorting and folding the held items, splitting large buckets, and draining
// the union in pieces through the ordered pipeline.
#include "lists/range_set.hpp"

#include <algorithm>
#include <array>
#include <memory>

#include "lists/ordered_pipeline.hpp"
#include "lists/radix_sort.hpp"
#include "lists/threads.hpp"

namespace maskery {

namespace {

// The highest set bit of v, or -1 when v is 0.
int top_bit(std::uint32_t v) noexcept {
  return v == 0 ? -1 : 31 - std::countl_zero(v);
}
int top_bit(u128 v) noexcept {
  const auto hi = static_cast<std::uint64_t>(v >> 64);
  const auto lo = static_cast<std::uint64_t>(v);
  if (hi != 0) return 127 - std::countl_zero(hi);
  return lo != 0 ? 63 - std::countl_zero(lo) : -1;
}

// An item as held, as a number that orders the items of a bucket by first address.
std::uint32_t key_of(const Range4& r) noexcept {
  return Packing<Range4>::key(r);
}
u128 key_of(const Packed6& h) noexcept {
  return Packing<Range6>::key(h);
}
u128 key_of(const Range6& r) noexcept {
  return r.first;
}

// The highest bit in which the keys of [b, e) differ, or -1 when they are equal.
template <class T>
int top_differing_bit(const T* b, const T* e) noexcept {
  const auto base = key_of(*b);
  decltype(key_of(*b)) differ = 0;
  for (const T* r = b; r != e; ++r) differ |= key_of(*r) ^ base;
  return top_bit(differ);
}

// Sorts [b, e) by first address, with t (as long) to spare: by insertion when small, else
// by one counting pass on the `Bits` bits below those that all its items share, and each
// bucket again, on 12 bits while it is large and then on 8. A piece fits in the second-level
// cache, so every pass runs there. Items of a list gather in networks of a few thousand, and
// 12 bits leave such a network mostly to insertion after one more pass.
template <unsigned Bits = 8, class R>
void sort_span(R* b, R* e, R* t) noexcept {
  if (e - b <= 32) {
    for (R* i = b + 1; i < e; ++i) {
      const R x = *i;
      R* j = i;
      for (; j != b && key_of(x) < key_of(j[-1]); --j) *j = j[-1];
      *j = x;
    }
    return;
  }
  const int top = top_differing_bit(b, e);
  if (top < 0) return;
  const int shift = std::max(top - static_cast<int>(Bits) + 1, 0);
  constexpr std::size_t mask = (std::size_t{1} << Bits) - 1;
  const auto digit = [&](const R& r) {
    return static_cast<std::size_t>(key_of(r) >> shift) & mask;
  };
  std::array<std::uint32_t, mask + 2> start{};
  for (const R* r = b; r != e; ++r) ++start[digit(*r) + 1];
  for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
  std::array<std::uint32_t, mask + 2> at = start;
  for (const R* r = b; r != e; ++r) t[at[digit(*r)]++] = *r;
  std::copy(t, t + (e - b), b);
  for (std::size_t k = 0; k + 1 < start.size(); ++k) {
    const std::uint32_t n = start[k + 1] - start[k];
    if (n > 2048) {
      sort_span<12>(b + start[k], b + start[k + 1], t + start[k]);
    } else if (n > 1) {
      sort_span<8>(b + start[k], b + start[k + 1], t + start[k]);
    }
  }
}

// IPv4: by first address, a byte a pass; the result is left in [b, e).
void sort_piece(Range4* b, Range4* e, Range4* t) noexcept {
  radix_sort32(b, e, t, [](const Range4& r) { return r.first; });
}
void sort_piece(Packed6* b, Packed6* e, Packed6* t) noexcept {
  sort_span<12>(b, e, t);
}

template <class R>
using Held = typename Packing<R>::Held;

// One step of a fold of sorted ranges: r extends cur, the range being grown, or closes it
// (written to out) and starts the next.
template <class R>
void fold_step(R& cur, bool& open, R*& out, const R& r) noexcept {
  if (open && joins(cur, r)) {
    if (r.last > cur.last) cur.last = r.last;
  } else {
    if (open) *out++ = cur;
    cur = r;
    open = true;
  }
}

// Folds sorted items into maximal ranges, and with them the ranges [wide, wide_end) (sorted
// and apart), each where it comes in order. The range being grown is kept in a local while a
// run of items is folded, not read back from the output, where it was a store and a load on
// the path from each item to the next.
template <class R>
class Fold {
 public:
  Fold(R* out, const R* wide = nullptr, const R* wide_end = nullptr) noexcept
      : out_(out), wide_(wide), wide_end_(wide_end) {
    next_wide_ = wide_ != wide_end_ ? wide_->first : ~Num<R>{0};
  }
  // The held items [b, e) of one bucket, sorted, and after those folded before.
  void add(const Held<R>* b, const Held<R>* e, std::size_t bucket) noexcept {
    R cur = cur_;
    bool open = open_;
    R* out = out_;
    for (; b != e; ++b) {
      const R r = Packing<R>::unpack(*b, bucket);
      if (r.first >= next_wide_) [[unlikely]] {
        for (; wide_ != wide_end_ && wide_->first <= r.first; ++wide_)
          fold_step(cur, open, out, *wide_);
        next_wide_ = wide_ != wide_end_ ? wide_->first : ~Num<R>{0};
      }
      fold_step(cur, open, out, r);
    }
    cur_ = cur;
    open_ = open;
    out_ = out;
  }
  // The end of the ranges written, the wide ones that are left included.
  R* end() noexcept {
    for (; wide_ != wide_end_; ++wide_) fold_step(cur_, open_, out_, *wide_);
    if (open_) *out_++ = cur_;
    open_ = false;
    return out_;
  }

 private:
  R* out_;
  const R* wide_;
  const R* wide_end_;
  Num<R> next_wide_;
  R cur_{};
  bool open_ = false;
};

template <class R>
using Blocks = typename RangeSet<R>::Blocks;
template <class R>
using Block = typename RangeSet<R>::Block;

template <class R>
std::size_t count(const Blocks<R>& blocks) noexcept {
  std::size_t n = 0;
  for (const auto& b : blocks) n += b.size;
  return n;
}

template <class R>
using Cursor = typename RangeSet<R>::Cursor;

template <class R>
using Spare = std::vector<Held<R>*>;

// Opens a block of kBlock items after the cursor's; given small, a bucket's first blocks are
// smaller (kFirstBlock, then twice the one before) and carved from small. (Growing four
// times left a list of 40,000 lines in 256 buckets with half of its blocks empty.)
template <class R>
void open_block(Blocks<R>& blocks, Cursor<R>& c, std::size_t bucket, Slabs<Held<R>>& slabs,
                Spare<R>* spare = nullptr, Slabs<Held<R>>* small = nullptr) {
  constexpr std::size_t full = RangeSet<R>::kBlock;
  std::size_t n = full;
  if (small != nullptr) {
    n = c.begin == nullptr ? RangeSet<R>::kFirstBlock
                           : std::clamp(2 * static_cast<std::size_t>(c.end - c.begin),
                                        RangeSet<R>::kFirstBlock, full);
  }
  if (c.begin != nullptr) blocks.back().size = static_cast<std::size_t>(c.tail - c.begin);
  Held<R>* b;
  if (n == full && spare != nullptr && !spare->empty()) {
    b = spare->back();
    spare->pop_back();
  } else {
    // Small blocks from slabs of their own, so that the large ones' slabs stay whole.
    b = (n == full ? slabs : *small).block(n);
  }
  blocks.push_back({b, 0, bucket});
  c.begin = c.tail = b;
  c.end = b + n;
}

// What the items of blocks [b, e) (of one bucket) share: differ has a bit set where the key
// of one of them differs from base; last is the furthest last address.
template <class R>
void survey(const Block<R>* b, const Block<R>* e, Num<R> base, Num<R>& differ,
            Num<R>& last) noexcept {
  for (; b != e; ++b) {
    for (const Held<R>* h = b->items; h != b->items + b->size; ++h) {
      differ |= key_of(*h) ^ base;
      last = std::max(last, Packing<R>::unpack(*h, b->bucket).last);
    }
  }
}

// The range [first, last] as a leaf of its own, held as its prefixes, in order: those that
// start in a later bucket are in blocks of that bucket.
template <class R>
Blocks<R> one_range(Num<R> first, Num<R> last, Slabs<Held<R>>& slabs, Spare<R>& spare) {
  Blocks<R> one;
  Cursor<R> c;
  constexpr unsigned width = kWidth<R>;
  prefixes_of(R{first, last}, [&](Num<R> a, unsigned len) {
    const std::size_t bucket = Packing<R>::bucket(a);
    if (c.tail == c.end || one.back().bucket != bucket)
      open_block<R>(one, c, bucket, slabs, &spare);
    *c.tail++ = Packing<R>::pack(R{a, a | low_ones<Num<R>>(width - len)});
  });
  one.back().size = static_cast<std::size_t>(c.tail - c.begin);
  one.front().floor = first;
  return one;
}

template <class R>
using Parts = std::array<Blocks<R>, 256>;

// The floor of the part for digit d when items whose keys share base's bits above shift + 8
// are distributed by the 8 bits from shift on: keys of that part are no lower than base's
// upper bits with d below them, and those of the parts before are lower.
template <class R>
Num<R> part_floor(Num<R> base, int shift, std::size_t d, std::size_t bucket) noexcept {
  constexpr int width = sizeof(Num<R>) * 8;
  const Num<R> upper = shift + 8 >= width ? Num<R>{0} : base >> (shift + 8) << (shift + 8);
  return Packing<R>::address(upper | static_cast<Num<R>>(d) << shift, bucket);
}

// Moves the items of blocks [b, e) into parts by the 8 bits of their first address from
// shift on. A block read is kept in spare for the parts, so that the memory stays that of
// the items: a thread's allocations do not use what another thread's blocks free, and the
// memory grew by half without this.
template <class R>
void distribute(Block<R>* b, Block<R>* e, int shift, Parts<R>& parts, Slabs<Held<R>>& slabs,
                Spare<R>& spare) {
  std::array<Cursor<R>, 256> cursors;
  for (; b != e; ++b) {
    for (const Held<R>* h = b->items; h != b->items + b->size; ++h) {
      const auto d = static_cast<std::size_t>(key_of(*h) >> shift) & 255;
      Cursor<R>& c = cursors[d];
      if (c.tail == c.end) open_block<R>(parts[d], c, b->bucket, slabs, &spare);
      *c.tail++ = *h;
    }
    if (b->size == RangeSet<R>::kBlock) spare.push_back(b->items);
  }
  for (std::size_t d = 0; d < 256; ++d) {
    if (!parts[d].empty()) {
      parts[d].back().size = static_cast<std::size_t>(cursors[d].tail - cursors[d].begin);
    }
  }
}

// Splits a bucket larger than limit by the 8 bits below those all its items share, and the
// parts again, until each is at most limit (or one range). The parts go to out in
// ascending order.
template <class R>
void refine(Blocks<R>&& bucket, std::size_t size, std::size_t limit, std::vector<Blocks<R>>& out,
            Slabs<Held<R>>& slabs, Spare<R>& spare) {
  if (size <= limit) {
    out.push_back(std::move(bucket));
    return;
  }
  const Block<R>& front = bucket.front();
  const Num<R> base = key_of(front.items[0]);
  Num<R> differ = 0, last = 0;
  survey<R>(bucket.data(), bucket.data() + bucket.size(), base, differ, last);
  const int top = top_bit(differ);
  if (top < 0) {  // all the same item: one range
    out.push_back(
        one_range<R>(Packing<R>::unpack(front.items[0], front.bucket).first, last, slabs, spare));
    return;
  }
  Parts<R> parts;
  const int shift = std::max(top - 7, 0);
  distribute<R>(bucket.data(), bucket.data() + bucket.size(), shift, parts, slabs, spare);
  bucket.clear();
  for (std::size_t d = 0; d < 256; ++d) {
    Blocks<R>& part = parts[d];
    if (part.empty()) continue;
    part.front().floor = part_floor<R>(base, shift, d, part.front().bucket);
    const std::size_t n = count<R>(part);
    refine<R>(std::move(part), n, limit, out, slabs, spare);
  }
}

// Splits a bucket by the 8 bits below those all its items share, with both cores, each
// taking half of its blocks; the parts go to out in ascending order, and their slabs to
// keep.
template <class R>
void split_on_both(Blocks<R>&& bucket, std::vector<Blocks<R>>& out,
                   std::vector<Slabs<Held<R>>>& keep) {
  Block<R>* const b = bucket.data();
  Block<R>* const e = b + bucket.size();
  Block<R>* const m = b + bucket.size() / 2;
  const Num<R> base = key_of(b->items[0]);
  std::array<Num<R>, 2> differ{}, last{};
  for_each_task(2, [&](std::size_t t) {
    survey<R>(t == 0 ? b : m, t == 0 ? m : e, base, differ[t], last[t]);
  });
  keep.resize(keep.size() + 2);
  const auto slabs = keep.end() - 2;
  std::array<Spare<R>, 2> spare;
  const int top = top_bit(differ[0] | differ[1]);
  if (top < 0) {  // all the same item: one range
    out.push_back(one_range<R>(Packing<R>::unpack(b->items[0], b->bucket).first,
                               std::max(last[0], last[1]), slabs[0], spare[0]));
    return;
  }
  std::array<Parts<R>, 2> parts;
  const int shift = std::max(top - 7, 0);
  for_each_task(2, [&](std::size_t t) {
    distribute<R>(t == 0 ? b : m, t == 0 ? m : e, shift, parts[t],
                  slabs[static_cast<std::ptrdiff_t>(t)], spare[t]);
  });
  const std::size_t bucket_of = b->bucket;
  bucket.clear();
  for (std::size_t d = 0; d < 256; ++d) {
    Blocks<R>& part = parts[0][d];
    for (auto& block : parts[1][d]) part.push_back(std::move(block));
    if (part.empty()) continue;
    part.front().floor = part_floor<R>(base, shift, d, bucket_of);
    out.push_back(std::move(part));
  }
}

}  // namespace

template <class R>
void RangeSet<R>::add(const R& r) {
  if (bucketed_) {
    add_to_bucket(r);
    return;
  }
  // As in a bucket, an item that extends the one before is folded into it.
  if (!flat_.empty()) {
    R& back = flat_.back();
    if (back.first <= r.first && joins(back, r)) {
      if (r.last > back.last) back.last = r.last;
      return;
    }
    if (r.first < back.first) {
      if (flat_.size() >= flat_limit_) {  // past the limit only while in order
        leave_flat();
        add_to_bucket(r);
        return;
      }
      flat_sorted_ = false;
    }
  }
  if (flat_.size() < flat_limit_ || flat_sorted_) {
    flat_.push_back(r);
    return;
  }
  leave_flat();
  add_to_bucket(r);
}

namespace {

// Folds the sorted ranges in place into maximal ones; each is read before its place is
// written.
template <class R>
void fold_sorted(FlatRanges<R>& v) noexcept {
  Fold<R> fold(v.begin(), v.begin(), v.end());
  v.shrink(static_cast<std::size_t>(fold.end() - v.begin()));
}

}  // namespace

template <class R>
void RangeSet<R>::leave_flat() {
  bucketed_ = true;
  FlatRanges<R> flat = std::move(flat_);
  if (flat_sorted_ && flat.size() > flat_limit_ && wide_.empty()) {
    // A sorted array too large to copy stays as it is, folded, apart.
    fold_sorted(flat);
    wide_ = std::move(flat);
    return;
  }
  for (const R& r : flat) add_to_bucket(r);
}

template <class R>
void RangeSet<R>::add_to_bucket(const R& r) {
  using P = Packing<R>;
  if (!P::fits(r)) {
    // A wide range that is no prefix is held as it is, apart: as its prefixes it could take
    // hundreds of items.
    wide_.push_back(r);
    return;
  }
  if (cursors_.empty()) {
    cursors_.resize(kBuckets);
    buckets_.resize(kBuckets);
  }
  const std::size_t k = P::bucket(r.first);
  // Only while the buckets come in order: afterwards nothing is given back.
  if (ordered_ && k != current_) [[unlikely]] {
    if (k > current_) leave(current_);
    ordered_ = k > current_;
    current_ = k;
  }
  auto& c = cursors_[k];
  // An item that extends the one added just before to this bucket is folded into it: a list
  // in order, or an address given again and again, takes little memory.
  // The cursor keeps a copy of that item: reading it from the block missed the cache.
  if (c.tail != c.begin && c.back.first <= r.first && joins(c.back, r)) {
    if (r.last <= c.back.last) return;
    const R joined{c.back.first, r.last};
    if (P::fits(joined)) {
      c.back = joined;
      c.tail[-1] = P::pack(joined);
      return;
    }
  }
  if (c.tail == c.end) open_block<R>(buckets_[k], c, k, slabs_, nullptr, &small_);
  // The lines a little ahead in the block are asked for before they are written: they are
  // new memory, and waiting for each took a twentieth of an IPv6 list's time. (An address
  // past the block is only a hint, so it is made as a number.)
  __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(c.tail) + 128),
                     1);
  *c.tail++ = P::pack(r);
  c.back = r;
}

template <class R>
void RangeSet<R>::leave(std::size_t bucket) noexcept {
  // Its open block was the last one carved: no other bucket has had an item since.
  Cursor& c = cursors_[bucket];
  if (c.tail != c.end && (slabs_.give_back(c.tail, c.end) || small_.give_back(c.tail, c.end))) {
    c.end = c.tail;
  }
}

template <class R>
void RangeSet<R>::seal() noexcept {
  for (std::size_t k = 0; k < cursors_.size(); ++k) {
    if (cursors_[k].begin != nullptr) {
      buckets_[k].back().size = static_cast<std::size_t>(cursors_[k].tail - cursors_[k].begin);
    }
  }
}

template <class R>
void RangeSet<R>::absorb(RangeSet&& other) {
  if (!other.bucketed_) {
    if (!bucketed_ && flat_.empty() && wide_.empty()) {
      // The first part of a file, say: taken as it is.
      flat_ = std::move(other.flat_);
      flat_sorted_ = other.flat_sorted_;
      wide_ = std::move(other.wide_);
    } else if (other.flat_sorted_ && other.flat_.size() > other.flat_limit_ && wide_.empty() &&
               other.wide_.empty()) {
      // The second part of a sorted file: held apart, folded, rather than copied.
      fold_sorted(other.flat_);
      wide_ = std::move(other.flat_);
    } else {
      for (const R& r : other.flat_) add(r);
      for (const R& r : other.wide_) add(r);
    }
    other = RangeSet(other.flat_limit_);
    return;
  }
  if (!bucketed_) leave_flat();
  wide_.append(other.wide_.begin(), other.wide_.end());
  other.wide_.clear();
  if (other.cursors_.empty()) return;
  if (cursors_.empty()) {
    FlatRanges<R> wide = std::move(wide_);
    *this = std::move(other);
    wide_ = std::move(wide);
    return;
  }
  other.seal();
  bool moved = false;
  for (std::size_t k = 0; k < kBuckets; ++k) {
    auto& to = buckets_[k];
    for (auto& b : other.buckets_[k]) {
      if (b.size < kBlock) {
        // Items of a block not full are copied, so that many small lists (many files, say)
        // do not leave a block each, mostly empty, in every bucket.
        for (std::size_t i = 0; i < b.size; ++i) add(Packing<R>::unpack(b.items[i], b.bucket));
      } else {
        // This set's open block stays last, where its cursor points.
        to.insert(cursors_[k].begin != nullptr ? to.end() - 1 : to.end(), std::move(b));
        moved = true;
      }
    }
  }
  // The slabs go with the blocks; a set that only had items to copy frees its own.
  if (moved) slabs_.take_over(std::move(other.slabs_));
  other = RangeSet();
}

// A run of a flat set's items, sorted.
template <class R>
struct Run {
  const R* at;
  const R* end;
};

template <class R>
void RangeSet<R>::drain_flat(const Render& render, const Emit& emit) {
  FlatRanges<R> flat = std::move(flat_);
  R* const b = flat.begin();
  R* const e = flat.end();
  // Runs of 128 KiB, each sorted where the second-level cache holds it and its room to sort
  // in (a sort in place, with no room, waited on memory at every step: two fifths of a
  // 40,000-line merge); the fold takes the least of their next items in turn.
  constexpr std::size_t chunk = (std::size_t{128} << 10) / sizeof(R);
  // An unsorted array holds at most kFlat items; and the ranges held apart are one run more.
  constexpr std::size_t most = (kFlat + chunk - 1) / chunk + 1;
  std::array<Run<R>, most> runs;
  std::size_t n_runs = 0;
  const FlatRanges<R> apart = std::move(wide_);
  if (!apart.empty()) runs[n_runs++] = {apart.begin(), apart.end()};
  if (std::is_sorted(b, e, [](const R& x, const R& y) { return x.first < y.first; })) {
    runs[n_runs++] = {b, e};
  } else {
    const auto room =
        std::make_unique_for_overwrite<R[]>(std::min(chunk, static_cast<std::size_t>(e - b)));
    for (R* c = b; c != e;) {
      R* const stop = c + std::min(chunk, static_cast<std::size_t>(e - c));
      if constexpr (std::is_same_v<R, Range4>) {
        sort_piece(c, stop, room.get());
      } else {
        sort_span<12>(c, stop, room.get());
      }
      runs[n_runs++] = {c, stop};
      c = stop;
    }
  }
  // Folded into a slice of ranges at a time, each made into text and emitted when full.
  std::array<R, kSlice> slice;
  R* out = slice.data();
  Text text;
  const auto flush = [&] {
    const std::span<const R> done(slice.data(), out);
    text.clear();
    render(done, text);
    emit(done, text);
    out = slice.data();
  };
  R cur{};
  bool open = false;
  for (;;) {
    Run<R>* least = nullptr;
    for (std::size_t i = 0; i < n_runs; ++i) {
      if (runs[i].at != runs[i].end && (least == nullptr || runs[i].at->first < least->at->first)) {
        least = &runs[i];
      }
    }
    if (least == nullptr) break;
    fold_step(cur, open, out, *least->at++);
    if (out == slice.data() + kSlice) flush();
  }
  if (open) *out++ = cur;
  if (out != slice.data()) flush();
}

template <class R>
void RangeSet<R>::drain(const Render& render, const Emit& emit, std::size_t piece,
                        std::size_t serial_items) {
  if (!bucketed_) {
    drain_flat(render, emit);
    return;
  }
  seal();
  // The wide ranges, as maximal ranges in order; each is folded in with the piece whose
  // floor (see Block) is the last at or below its start.
  FlatRanges<R> held_apart = std::move(wide_);
  const auto by_first = [](const R& a, const R& b) { return a.first < b.first; };
  if (!std::is_sorted(held_apart.begin(), held_apart.end(), by_first)) {
    std::sort(held_apart.begin(), held_apart.end(), by_first);
  }
  fold_sorted(held_apart);
  const std::span<const R> wide(held_apart.begin(), held_apart.size());

  std::vector<Cursor>().swap(cursors_);
  std::vector<Blocks> buckets;
  for (auto& bucket : buckets_) {
    if (bucket.empty()) continue;
    bucket.front().floor = Packing<R>::floor(bucket.front().bucket);
    buckets.push_back(std::move(bucket));
  }
  std::vector<Blocks>().swap(buckets_);

  // A small set, or a single core, is drained on this thread alone, in smaller pieces whose
  // text goes out a slice at a time: for a list of 40,000 lines, the second thread, the room
  // for pieces of the size that two threads want and their whole text were most of the
  // memory touched, and half the time.
  std::size_t total = 0;
  for (const auto& bucket : buckets) total += count<R>(bucket);
  const bool serial = list_threads() == 1 || total <= serial_items;
  if (total <= serial_items) piece = std::min(piece, kSmallPiece);

  // Buckets too large for one piece are split first, on both cores: one far larger (a list
  // within one network, say) by both at once, each taking half of its blocks, as often as it
  // takes; the others each by one, to the end.
  const std::size_t limit = std::max(2 * piece, kBlock);
  std::vector<Slabs<Held>> split_slabs;  // where the parts of split buckets are
  for (bool again = true; again;) {
    again = false;
    std::vector<Blocks> next;
    for (auto& bucket : buckets) {
      if (count<R>(bucket) > 8 * limit) {
        split_on_both<R>(std::move(bucket), next, split_slabs);
        again = true;
      } else {
        next.push_back(std::move(bucket));
      }
    }
    buckets.swap(next);
  }
  std::vector<std::size_t> sizes(buckets.size()), large;
  for (std::size_t k = 0; k < buckets.size(); ++k) {
    sizes[k] = count<R>(buckets[k]);
    if (sizes[k] > limit) large.push_back(k);
  }
  std::vector<std::vector<Blocks>> split(large.size());
  const std::size_t first_large = split_slabs.size();
  split_slabs.resize(first_large + large.size());  // each thread carves from its own
  for_each_task(large.size(), [&](std::size_t i) {
    Spare<R> spare;
    refine<R>(std::move(buckets[large[i]]), sizes[large[i]], limit, split[i],
              split_slabs[first_large + i], spare);
  });
  std::vector<Blocks> leaves;
  for (std::size_t k = 0, i = 0; k < buckets.size(); ++k) {
    if (i < large.size() && large[i] == k) {
      for (auto& b : split[i++]) leaves.push_back(std::move(b));
    } else {
      leaves.push_back(std::move(buckets[k]));
    }
  }
  buckets.clear();

  // Pieces: runs of consecutive leaves of about `piece` items together.
  std::vector<std::size_t> starts;  // the first leaf of each piece, then leaves.size()
  std::vector<std::size_t> items;   // the items of each piece
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const std::size_t n = count<R>(leaves[i]);
    if (starts.empty() || items.back() + n > piece) {
      starts.push_back(i);
      items.push_back(0);
    }
    items.back() += n;
  }
  const std::size_t pieces = starts.size();
  starts.push_back(leaves.size());

  // Each piece is gathered, sorted and folded, and made into text on its own; only joining
  // it to its neighbours (a range may reach into later pieces) and emitting it are done in
  // order. A piece with many wide ranges (each may be hundreds of prefixes) is made into text
  // a slice of ranges at a time, each emitted before the next is made, so that the text held
  // stays a few MiB.
  constexpr std::size_t slice = kSlice;
  const auto emit_slices = [&](std::span<const R> ranges, Text& text) {
    for (std::size_t at = 0; at < ranges.size(); at += slice) {
      const auto part = ranges.subspan(at, std::min(slice, ranges.size() - at));
      text.clear();
      render(part, text);
      emit(part, text);
    }
  };
  struct Made {
    std::unique_ptr<R[]> v;  // its ranges, from v[begin] to v[end]
    std::size_t room = 0;
    std::size_t begin = 0, end = 0;
    std::size_t n = 0;     // the ranges folded, from v[1]
    std::size_t wide = 0;  // the wide ranges folded in
    Text text;
  };
  struct Stages {
    // Room for a piece as held and for its sort, a thread's own, not cleared first: every
    // item is written before it is read.
    struct Worker {
      std::unique_ptr<Held[]> held, tmp;
      std::size_t room = 0;
    };
    const std::vector<Blocks>& leaves;
    const std::vector<std::size_t>& starts;
    const std::vector<std::size_t>& items;
    std::span<const R> wide;
    const decltype(emit_slices)& slices;
    const Emit& emit_text;
    const Render& render_text;
    std::size_t pieces;
    R carry{};  // the last range so far, which the next pieces may extend (joined in order)
    bool open = false;

    void make(std::size_t p, Made& made, Worker& s) {
      const bool final = p + 1 == pieces;
      // The wide ranges that start from this piece's floor on, and below the next piece's,
      // are folded in with its items.
      const auto below = [](const R& r, const Num<R>& a) { return r.first < a; };
      const auto wa = p == 0 ? wide.begin()
                             : std::lower_bound(wide.begin(), wide.end(),
                                                leaves[starts[p]].front().floor, below);
      const auto wb = final ? wide.end()
                            : std::lower_bound(wide.begin(), wide.end(),
                                               leaves[starts[p + 1]].front().floor, below);
      const std::size_t size = 1 + items[p];  // v[0] is free for the carry, should it end here
      if (size > s.room) {
        s.room = std::max(size, 2 * s.room);
        s.held = std::make_unique_for_overwrite<Held[]>(s.room);
        s.tmp = std::make_unique_for_overwrite<Held[]>(s.room);
      }
      made.wide = static_cast<std::size_t>(wb - wa);
      const std::size_t most = size + made.wide;  // ranges
      if (most > made.room) {
        made.room = std::max(most, 2 * made.room);
        made.v = std::make_unique_for_overwrite<R[]>(made.room);
      }
      R* const v = made.v.get();
      // Each leaf is sorted on its own, and within it each bucket: they are in order, and
      // the held form orders items only within a bucket.
      Held* to = s.held.get();
      Fold<R> fold(v + 1, std::to_address(wa), std::to_address(wb));
      for (std::size_t i = starts[p]; i < starts[p + 1]; ++i) {
        const Blocks& leaf = leaves[i];
        for (std::size_t j = 0; j < leaf.size();) {
          Held* const from = to;
          const std::size_t bucket = leaf[j].bucket;
          for (; j < leaf.size() && leaf[j].bucket == bucket; ++j) {
            to = std::copy(leaf[j].items, leaf[j].items + leaf[j].size, to);
          }
          // A sorted list comes sorted: one look spares the passes.
          if (!std::is_sorted(from, to,
                              [](const Held& a, const Held& b) { return key_of(a) < key_of(b); })) {
            sort_piece(from, to, s.tmp.get() + (from - s.held.get()));
          }
          fold.add(from, to, bucket);
        }
      }
      made.n = static_cast<std::size_t>(fold.end() - v);
    }
    // A piece's first ranges may extend the carry; its last range may be extended by the
    // pieces after it, so it becomes the carry, written out by the piece where it ends.
    void join(std::size_t p, Made& made) {
      const bool final = p + 1 == pieces;
      R* const v = made.v.get();
      const std::size_t n = made.n;
      std::size_t i = 1;
      while (open && i < n && joins(carry, v[i])) {
        if (v[i].last > carry.last) carry.last = v[i].last;
        ++i;
      }
      made.begin = i;
      if (open && (i < n || final)) v[--made.begin] = carry;  // the carry ends here
      if (i < n) {
        carry = v[n - 1];
        open = true;
        made.end = final ? n : n - 1;
      } else {
        open = open && !final;
        made.end = i;  // nothing of this piece's own is left
      }
    }
    std::span<const R> ranges(const Made& made) const noexcept {
      return {made.v.get() + made.begin, made.end - made.begin};
    }
    bool streams(const Made& made) const noexcept { return made.wide > slice; }
    void stream(std::size_t, Made& made) {
      slices(ranges(made), made.text);
      made.begin = made.end;
    }
    void render(std::size_t, Made& made) {
      made.text.clear();
      if (made.end > made.begin) render_text(ranges(made), made.text);
    }
    void emit(std::size_t, Made& made) {
      if (made.end > made.begin) emit_text(ranges(made), made.text);
    }
  } stages{leaves, starts, items, wide, emit_slices, emit, render, pieces};
  if (serial) {
    Made made;
    typename Stages::Worker worker;
    for (std::size_t p = 0; p < pieces; ++p) {
      stages.make(p, made, worker);
      stages.join(p, made);
      stages.stream(p, made);
    }
  } else {
    run_ordered<Made>(pieces, stages);
  }
  slabs_ = Slabs<Held>();
  small_ = Slabs<Held>();
  if (pieces == 0 && !wide.empty()) {  // nothing but wide ranges
    Text text;
    emit_slices(wide, text);
  }
}

template <class R>
SortedRanges<R> RangeSet<R>::take(std::size_t piece, std::size_t serial) {
  // Room for as many ranges as items are held, the most the union can have: grown step by
  // step, the copies and their new pages were a seventh of building grep's set.
  seal();
  std::size_t most = flat_.size() + wide_.size();
  for (const Blocks& bucket : buckets_) {
    for (const Block& b : bucket) most += b.size;
  }
  std::vector<R> out;
  out.reserve(most);
  std::size_t mapped = 0;  // out's room mapped ahead (prefault.hpp), as far as this
  drain([](std::span<const R>, Text&) {},
        [&](std::span<const R> ranges, const Text&) {
          mapped = prefault_to(out.data(), mapped, out.size() + ranges.size(), out.capacity());
          out.insert(out.end(), ranges.begin(), ranges.end());
        },
        piece, serial);
  return SortedRanges<R>::adopt(std::move(out));
}

template class RangeSet<Range4>;
template class RangeSet<Range6>;

}  // namespace maskery
