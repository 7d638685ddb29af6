// maskery merge [--ranges] [--except FILE]... [FILE]...: address lists to the fewest prefixes.
//
// Items are held as ranges of numbers (8 bytes an IPv4 item, 24 an IPv6 one), never as text,
// so memory follows the number of items and not the length of lines. They go into buckets by
// their top bits as they are read; an item that extends the one before it in its bucket is
// folded into it, so that ordered lists and repeated addresses take little room. At the end
// the buckets, the large ones split further, are cut into pieces of consecutive addresses,
// which the two cores sort, fold and write out side by side.
#include "merge.hpp"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <type_traits>

#include "failure.hpp"
#include "frontend.hpp"
#include "input_files.hpp"
#include "line_reader.hpp"

namespace maskery {

namespace {

using namespace std::string_literals;

// No item is longer; a longer line is refused unless what is kept of it ends in a comment.
constexpr std::size_t kMaxLine = 4096;

constexpr bool is_blank(char c) noexcept {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The offending text for a message: at most 80 bytes, and nothing that a terminal would
// take as a control sequence.
std::string shown(std::string_view text) {
  std::string s;
  for (const char ch : text.substr(0, 80)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) {
      s += "\\x";
      s += kHexDigits[c >> 4];
      s += kHexDigits[c & 0xf];
    } else {
      s += ch;
    }
  }
  if (text.size() > 80) s += "...";
  return s;
}

[[noreturn]] void bad_line(std::string_view where, std::string_view reason, std::string_view text) {
  std::string s(where);
  s.append(": ").append(reason).append(": ").append(shown(text));
  fail(std::move(s));
}

// A dotted quad of plain decimal numbers without leading zeros at the start of [p, end):
// nearly every IPv4 item, read without a copy. Returns where it stops, or null; anything else
// (octal, hexadecimal, short forms) goes to parse_ipv4.
const char* quick_v4(const char* p, const char* end, std::uint32_t& out) noexcept {
  std::uint32_t v = 0;
  for (int part = 0; part < 4; ++part) {
    if (p == end || *p < '0' || *p > '9') return nullptr;
    unsigned n = static_cast<unsigned>(*p++ - '0');
    if (n == 0 && p != end && *p >= '0' && *p <= '9') return nullptr;  // octal: not here
    for (int i = 0; i < 2 && p != end && *p >= '0' && *p <= '9'; ++i) {
      n = n * 10 + static_cast<unsigned>(*p++ - '0');
    }
    if (n > 255) return nullptr;
    v = v << 8 | n;
    if (part < 3) {
      if (p == end || *p != '.') return nullptr;
      ++p;
    }
  }
  out = v;
  return p;
}

constexpr std::array<signed char, 256> kHexValue = [] {
  std::array<signed char, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[static_cast<std::size_t>(c)] = static_cast<signed char>(hex_digit(static_cast<char>(c)));
  return t;
}();

// Two hexadecimal digits, by their two bytes as a number (the first in the low byte): their
// value with the top bit set, so that two entries are both digits when their AND is
// negative; 0 for anything else. Only the digits are set, to stay within what compilers
// evaluate at compile time.
constexpr std::array<std::int16_t, 65536> kHexPairs = [] {
  std::array<std::int16_t, 65536> t{};
  constexpr std::string_view digits = "0123456789abcdefABCDEF";
  for (const char a : digits) {
    for (const char b : digits) {
      const auto i =
          static_cast<unsigned char>(a) | static_cast<unsigned>(static_cast<unsigned char>(b)) << 8;
      t[i] = static_cast<std::int16_t>(0x8000 | hex_digit(a) << 4 | hex_digit(b));
    }
  }
  return t;
}();
unsigned pair_at(const char* p) noexcept {
  return static_cast<unsigned>(static_cast<unsigned char>(p[0])) |
         static_cast<unsigned>(static_cast<unsigned char>(p[1])) << 8;
}

// IPv6 text of hexadecimal groups only (no dotted tail) at the start of [p, e), read in
// place. Returns where it stops, at e or at the first character that is neither a digit nor
// a colon, or null when the text up to there is not such an address; the value is then what
// parse_ipv6 gives for that text. parse_ipv6 took a quarter of the time of an IPv6 list for
// the copy and the byte-by-byte rules. (A loop without branches, and one on bit masks of the
// line, both took longer than this: their chains of dependent steps cost more than the
// wrong guesses at the ends of groups. Reading four digits at once took 0.77 of the time.)
const char* quick_v6(const char* p, const char* e, u128& out) noexcept {
  u128 packed = 0;  // the groups read, the last in the low bits
  int n = 0, gap = -1;
  if (p != e && *p == ':') {
    if (e - p < 2 || p[1] != ':') return nullptr;
    gap = 0;
    p += 2;
  }
  const auto hex = [](char c) { return kHexValue[static_cast<unsigned char>(c)]; };
  while (p != e) {
    unsigned v = 0;
    int digits = 0;
    // Most groups of a random address have four digits: those are read at once, two digits
    // a lookup.
    int pair0, pair1;
    if (e - p >= 4 && ((pair0 = kHexPairs[pair_at(p)]) & (pair1 = kHexPairs[pair_at(p + 2)])) < 0) {
      v = static_cast<unsigned>((pair0 & 0xff) << 8 | (pair1 & 0xff));
      p += 4;
      digits = p != e && hex(*p) >= 0 ? 5 : 4;
    } else {
      for (; p != e && digits < 5; ++p, ++digits) {
        const int h = hex(*p);
        if (h < 0) break;
        v = v << 4 | static_cast<unsigned>(h);
      }
    }
    if (digits == 0) {
      if (gap == n) break;  // the end, right after a "::"
      return nullptr;
    }
    if (digits > 4 || n == 8) return nullptr;
    packed = packed << 16 | v;
    ++n;
    if (p == e || *p != ':') break;
    if (++p == e) return nullptr;  // a colon at the end
    if (*p == ':') {
      if (gap >= 0) return nullptr;
      gap = n;
      ++p;
    }
  }
  if (gap < 0 ? n != 8 : n == 8) return nullptr;  // "::" stands for at least one group
  if (gap > 0) {
    // The groups before the gap go to the top; the zeros it stands for come between.
    const unsigned tail = 16 * static_cast<unsigned>(n - gap);  // at most 96
    const u128 low = packed & ((u128{1} << tail) - 1);
    packed = (packed >> tail) << (128 - 16 * gap) | low;
  }
  out = packed;
  return p;
}

// "/len" at p: one to three decimal digits, len from 0 to width. Returns where the digits
// stop, or null.
const char* prefix_length(const char* p, const char* e, unsigned width, unsigned& len) noexcept {
  if (p == e || *p != '/') return nullptr;
  len = 0;
  int digits = 0;
  for (++p; p != e && *p >= '0' && *p <= '9' && digits < 4; ++p, ++digits) {
    len = len * 10 + static_cast<unsigned>(*p - '0');
  }
  return digits == 0 || digits > 3 || len > width ? nullptr : p;
}

// One address token (no blanks in it) of either family.
bool read_token(const char* p, const char* end, Item::Kind& kind, u128& value) noexcept {
  std::uint32_t v4;
  if (quick_v4(p, end, v4) == end) {
    kind = Item::Kind::inet;
    value = v4;
    return true;
  }
  if (quick_v6(p, end, value) == end) {
    kind = Item::Kind::inet6;
    return true;
  }
  const auto n = static_cast<std::size_t>(end - p);
  if (n == 0 || n >= kAddressField) return false;
  // The IPv4 reader stops at white space; an item must be one word.
  for (const char* q = p; q != end; ++q) {
    if (is_blank(*q)) return false;
  }
  char buf[kAddressField];
  std::memcpy(buf, p, n);
  buf[n] = '\0';
  if (std::memchr(p, ':', n) != nullptr) {
    const auto b = parse_ipv6(buf);
    if (!b) return false;
    u128 v = 0;
    for (const auto byte : *b) v = v << 8 | byte;
    kind = Item::Kind::inet6;
    value = v;
    return true;
  }
  const auto v = parse_ipv4(buf);
  if (!v) return false;
  kind = Item::Kind::inet;
  value = *v;
  return true;
}

const char* trim_end(const char* b, const char* e) noexcept {
  while (e != b && is_blank(e[-1])) --e;
  return e;
}
const char* trim_begin(const char* b, const char* e) noexcept {
  while (b != e && is_blank(*b)) ++b;
  return b;
}

}  // namespace

Item parse_item(char* line, std::size_t size, std::string_view where) {
  // One pass over the line for the comment, the dash and the slash: lines are short, and
  // three memchr calls took longer than the parsing (perf, 10 million lines).
  const char* b = line;
  const char* e = line + size;
  const char* dash = nullptr;
  const char* slash = nullptr;
  for (const char* p = b; p != e; ++p) {
    const char c = *p;
    if (c == '#') {
      e = p;
      break;
    }
    if (c == '-' && dash == nullptr) dash = p;
    if (c == '/' && slash == nullptr) slash = p;
  }
  b = trim_begin(b, e);
  e = trim_end(b, e);
  Item item;
  if (b == e) return item;
  const std::string_view text(b, static_cast<std::size_t>(e - b));
  constexpr std::string_view kNotItem = "not an address, prefix or range";

  Item::Kind kind{}, kind2{};
  u128 first = 0, last = 0;
  if (dash != nullptr) {
    if (!read_token(b, trim_end(b, dash), kind, first) ||
        !read_token(trim_begin(dash + 1, e), e, kind2, last)) {
      bad_line(where, kNotItem, text);
    }
    if (kind != kind2) bad_line(where, "a range of two families", text);
    if (first > last) bad_line(where, "a range that ends before it starts", text);
  } else if (slash != nullptr) {
    if (!read_token(b, slash, kind, first)) bad_line(where, kNotItem, text);
    const unsigned width = kind == Item::Kind::inet ? 32 : 128;
    unsigned len;
    if (prefix_length(slash, e, width, len) != e) bad_line(where, "invalid prefix length", text);
    // Host bits below the length are ignored.
    const u128 mask = low_ones<u128>(width - len);
    first &= ~mask;
    last = first | mask;
    if (kind == Item::Kind::inet) last &= 0xffffffff;
  } else {
    if (!read_token(b, e, kind, first)) bad_line(where, kNotItem, text);
    last = first;
  }
  item.kind = kind;
  if (kind == Item::Kind::inet) {
    item.r4 = {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last)};
  } else {
    item.r6 = {first, last};
  }
  return item;
}

namespace {

template <class R>
using Num = decltype(R::first);

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

// IPv4: least significant byte first, one counting pass per byte, and a byte that all items
// share is skipped; the result is left in [b, e).
void sort_piece(Range4* b, Range4* e, Range4* t) noexcept {
  const auto n = static_cast<std::size_t>(e - b);
  if (n < 2) return;
  Range4* from = b;
  Range4* to = t;
  for (unsigned shift = 0; shift < 32; shift += 8) {
    std::array<std::uint32_t, 256> count{};
    for (const Range4* r = from; r != from + n; ++r) ++count[(r->first >> shift) & 0xff];
    if (count[(from->first >> shift) & 0xff] == n) continue;
    std::uint32_t pos = 0;
    for (auto& c : count) {
      const std::uint32_t k = c;
      c = pos;
      pos += k;
    }
    for (const Range4* r = from; r != from + n; ++r) to[count[(r->first >> shift) & 0xff]++] = *r;
    std::swap(from, to);
  }
  if (from != b) std::copy(from, from + n, b);
}
void sort_piece(Packed6* b, Packed6* e, Packed6* t) noexcept {
  sort_span<12>(b, e, t);
}

// Whether r, which starts no lower than back, overlaps or touches it, so that the two are one
// range. back.last + 1 would wrap at the top of the space: compare without adding.
template <class R>
bool joins(const R& back, const R& r) noexcept {
  return r.first <= back.last || r.first - back.last == 1;
}

template <class R>
using Held = typename Packing<R>::Held;

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
        for (; wide_ != wide_end_ && wide_->first <= r.first; ++wide_) step(cur, open, out, *wide_);
        next_wide_ = wide_ != wide_end_ ? wide_->first : ~Num<R>{0};
      }
      step(cur, open, out, r);
    }
    cur_ = cur;
    open_ = open;
    out_ = out;
  }
  // The end of the ranges written, the wide ones that are left included.
  R* end() noexcept {
    for (; wide_ != wide_end_; ++wide_) step(cur_, open_, out_, *wide_);
    if (open_) *out_++ = cur_;
    open_ = false;
    return out_;
  }

 private:
  static void step(R& cur, bool& open, R*& out, R r) noexcept {
    if (open && joins(cur, r)) {
      if (r.last > cur.last) cur.last = r.last;
    } else {
      if (open) *out++ = cur;
      cur = r;
      open = true;
    }
  }

  R* out_;
  const R* wide_;
  const R* wide_end_;
  Num<R> next_wide_;
  R cur_{};
  bool open_ = false;
};

unsigned trailing_zeros(std::uint32_t v, unsigned width) noexcept {
  return v == 0 ? width : static_cast<unsigned>(std::countr_zero(v));
}
unsigned trailing_zeros(u128 v, unsigned width) noexcept {
  if (v == 0) return width;
  const auto lo = static_cast<std::uint64_t>(v);
  return lo != 0
             ? static_cast<unsigned>(std::countr_zero(lo))
             : 64 + static_cast<unsigned>(std::countr_zero(static_cast<std::uint64_t>(v >> 64)));
}
// floor(log2(v + 1)) for the count v + 1 of a range, v = last - first.
unsigned log2_count(std::uint32_t v) noexcept {
  const std::uint64_t n = std::uint64_t{v} + 1;
  return 63 - static_cast<unsigned>(std::countl_zero(n));
}
unsigned log2_count(u128 v) noexcept {
  if (v == ~u128{0}) return 128;
  const u128 n = v + 1;
  const auto hi = static_cast<std::uint64_t>(n >> 64);
  return hi != 0 ? 127 - static_cast<unsigned>(std::countl_zero(hi))
                 : 63 - static_cast<unsigned>(std::countl_zero(static_cast<std::uint64_t>(n)));
}

// The prefixes of one range, largest first: each as long a block as the first address's
// alignment and the rest of the range allow.
template <class R, class Emit>
void prefixes_of(const R& r, unsigned width, Emit&& emit) {
  auto a = r.first;
  if constexpr (std::is_same_v<decltype(a), u128>) {
    // Most IPv6 ranges lie within one /64 and are not all of it: the same steps on the low
    // halves alone, with no 128-bit arithmetic.
    const auto hi = static_cast<std::uint64_t>(a >> 64);
    auto lo = static_cast<std::uint64_t>(a);
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
  for (;;) {
    const unsigned k = std::min(trailing_zeros(a, width), log2_count(r.last - a));
    emit(a, width - k);
    // The block ends at last, possibly the top of the space: stop before adding past it.
    const auto size_less_one = low_ones<decltype(a)>(k);
    if (r.last - a == size_less_one) return;
    a += size_less_one + 1;
  }
}

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

template <class R>
void open_block(Blocks<R>& blocks, Cursor<R>& c, std::size_t bucket, Slabs<Held<R>>& slabs,
                Spare<R>* spare = nullptr) {
  if (c.begin != nullptr) blocks.back().size = static_cast<std::size_t>(c.tail - c.begin);
  Held<R>* b;
  if (spare != nullptr && !spare->empty()) {
    b = spare->back();
    spare->pop_back();
  } else {
    b = slabs.block(RangeSet<R>::kBlock);
  }
  blocks.push_back({b, 0, bucket});
  c.begin = c.tail = b;
  c.end = b + RangeSet<R>::kBlock;
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
  constexpr unsigned width = sizeof(Num<R>) * 8;
  prefixes_of(R{first, last}, width, [&](Num<R> a, unsigned len) {
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

// Runs work here and, when two, on one more thread at the same time; work catches what it
// throws.
template <class F>
void run_on(bool two, const F& work) {
  if (!two) {
    work();
    return;
  }
  std::thread helper(work);
  work();
  helper.join();
}

// Runs f(0) to f(n - 1), each once, on this thread and one more when n > 1; the first
// exception any of them throws is thrown here once both have stopped.
template <class F>
void on_both_cores(std::size_t n, F&& f) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::exception_ptr lost;
  std::mutex m;
  const auto work = [&] {
    try {
      for (std::size_t i; !stop && (i = next++) < n;) f(i);
    } catch (...) {
      std::lock_guard lock(m);
      if (!lost) lost = std::current_exception();
      stop = true;
    }
  };
  run_on(n > 1, work);
  if (lost) std::rethrow_exception(lost);
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
  on_both_cores(2, [&](std::size_t t) {
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
  on_both_cores(2, [&](std::size_t t) {
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
  if (c.tail == c.end) open_block<R>(buckets_[k], c, k, slabs_);
  // The lines a little ahead in the block are asked for before they are written: they are
  // new memory, and waiting for each took a twentieth of an IPv6 list's time. (An address
  // past the block is only a hint, so it is made as a number.)
  __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(c.tail) + 128),
                     1);
  *c.tail++ = P::pack(r);
  c.back = r;
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
  wide_.insert(wide_.end(), other.wide_.begin(), other.wide_.end());
  other.wide_.clear();
  if (other.cursors_.empty()) return;
  if (cursors_.empty()) {
    std::vector<R> wide = std::move(wide_);
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

template <class R>
void RangeSet<R>::drain(const Render& render, const Emit& emit, std::size_t piece) {
  seal();
  // The wide ranges, as maximal ranges in order; each is folded in with the piece whose
  // floor (see Block) is the last at or below its start.
  std::vector<R> wide = std::move(wide_);
  wide_ = {};
  std::sort(wide.begin(), wide.end(), [](const R& a, const R& b) { return a.first < b.first; });
  {
    // Folded in place: each range is read before its place is written.
    Fold<R> fold(wide.data(), wide.data(), wide.data() + wide.size());
    wide.erase(wide.begin() + (fold.end() - wide.data()), wide.end());
  }

  std::vector<Cursor>().swap(cursors_);
  std::vector<Blocks> buckets;
  for (auto& bucket : buckets_) {
    if (bucket.empty()) continue;
    bucket.front().floor = Packing<R>::address(0, bucket.front().bucket);
    buckets.push_back(std::move(bucket));
  }
  std::vector<Blocks>().swap(buckets_);

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
  on_both_cores(large.size(), [&](std::size_t i) {
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
  // order. A piece made before its turn to be emitted waits in `ready`, and its thread goes
  // on to the next: waiting for the turn took a twentieth of each thread's time.
  struct Made {
    std::unique_ptr<R[]> v;  // its ranges, from v[begin] to v[end]
    std::size_t room = 0;
    std::size_t begin = 0, end = 0;
    Text text;
  };
  constexpr std::size_t kAhead = 4;  // pieces taken and not yet emitted, at most
  std::mutex m;
  std::condition_variable changed;
  std::size_t next = 0, joined = 0, emitted = 0;
  bool stop = false, emitting = false;
  std::vector<std::unique_ptr<Made>> ready(pieces), spare_made;
  std::exception_ptr lost;
  R carry{};  // the last range so far, which the next pieces may extend
  bool open = false;
  // A piece with many wide ranges (each may be hundreds of prefixes) is made into text a
  // slice of ranges at a time, each emitted before the next is made, so that the text held
  // stays a few MiB.
  constexpr std::size_t slice = 256;
  const auto emit_slices = [&](std::span<const R> ranges, Text& text) {
    for (std::size_t at = 0; at < ranges.size(); at += slice) {
      const auto part = ranges.subspan(at, std::min(slice, ranges.size() - at));
      text.clear();
      render(part, text);
      emit(part, text);
    }
  };

  const auto work = [&] {
    // Room for a piece as held and for its sort, not cleared first: every item is written
    // before it is read.
    std::unique_ptr<Held[]> held, tmp;
    std::size_t room = 0;
    try {
      for (;;) {
        std::size_t p;
        std::unique_ptr<Made> made;
        {
          std::unique_lock lock(m);
          changed.wait(lock, [&] { return stop || next == pieces || next - emitted < kAhead; });
          if (stop || next == pieces) return;
          p = next++;
          if (!spare_made.empty()) {
            made = std::move(spare_made.back());
            spare_made.pop_back();
          }
        }
        if (!made) made = std::make_unique<Made>();
        const bool final = p + 1 == pieces;
        // The wide ranges that start from this piece's floor on, and below the next piece's,
        // are folded in with its items.
        const auto below = [](const R& r, const Num<R>& a) { return r.first < a; };
        const auto wa = p == 0 ? wide.cbegin()
                               : std::lower_bound(wide.cbegin(), wide.cend(),
                                                  leaves[starts[p]].front().floor, below);
        const auto wb = final ? wide.cend()
                              : std::lower_bound(wide.cbegin(), wide.cend(),
                                                 leaves[starts[p + 1]].front().floor, below);
        const std::size_t size = 1 + items[p];  // v[0] is free for the carry, should it end here
        if (size > room) {
          room = std::max(size, 2 * room);
          held = std::make_unique_for_overwrite<Held[]>(room);
          tmp = std::make_unique_for_overwrite<Held[]>(room);
        }
        const std::size_t most = size + static_cast<std::size_t>(wb - wa);  // ranges
        if (most > made->room) {
          made->room = std::max(most, 2 * made->room);
          made->v = std::make_unique_for_overwrite<R[]>(made->room);
        }
        R* const v = made->v.get();
        // Each leaf is sorted on its own, and within it each bucket: they are in order, and
        // the held form orders items only within a bucket.
        Held* to = held.get();
        Fold<R> fold(v + 1, std::to_address(wa), std::to_address(wb));
        for (std::size_t i = starts[p]; i < starts[p + 1]; ++i) {
          const Blocks& leaf = leaves[i];
          for (std::size_t j = 0; j < leaf.size();) {
            Held* const from = to;
            const std::size_t bucket = leaf[j].bucket;
            for (; j < leaf.size() && leaf[j].bucket == bucket; ++j) {
              to = std::copy(leaf[j].items, leaf[j].items + leaf[j].size, to);
            }
            sort_piece(from, to, tmp.get() + (from - held.get()));
            fold.add(from, to, bucket);
          }
        }
        const auto n = static_cast<std::size_t>(fold.end() - v);
        {
          std::unique_lock lock(m);
          changed.wait(lock, [&] { return joined == p || stop; });
          if (stop) return;
          std::size_t i = 1;
          while (open && i < n && joins(carry, v[i])) {
            if (v[i].last > carry.last) carry.last = v[i].last;
            ++i;
          }
          made->begin = i;
          if (open && (i < n || final)) v[--made->begin] = carry;  // the carry ends here
          if (i < n) {
            carry = v[n - 1];
            open = true;
            made->end = final ? n : n - 1;
          } else {
            open = open && !final;
            made->end = i;  // nothing of this piece's own is left
          }
          ++joined;
          changed.notify_all();
        }
        const std::span<const R> ranges(v + made->begin, made->end - made->begin);
        bool mine = false;  // this thread is the one emitting
        if (static_cast<std::size_t>(wb - wa) > slice) {
          {
            std::unique_lock lock(m);
            changed.wait(lock, [&] { return stop || (emitted == p && !emitting); });
            if (stop) return;
            emitting = mine = true;
          }
          emit_slices(ranges, made->text);
          made->begin = made->end;
        } else {
          made->text.clear();
          if (!ranges.empty()) render(ranges, made->text);
        }
        // Emitted in order, by whichever thread finds the next one ready and no other thread
        // emitting; the sink is that thread's meanwhile.
        std::unique_lock lock(m);
        ready[p] = std::move(made);
        if (emitting && !mine) continue;
        emitting = true;
        while (!stop && emitted < pieces && ready[emitted]) {
          std::unique_ptr<Made> e = std::move(ready[emitted]);
          lock.unlock();
          if (e->end > e->begin) {
            emit(std::span<const R>(e->v.get() + e->begin, e->end - e->begin), e->text);
          }
          lock.lock();
          spare_made.push_back(std::move(e));
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
  run_on(pieces > 1, work);
  slabs_ = Slabs<Held>();
  if (lost) std::rethrow_exception(lost);
  if (pieces == 0 && !wide.empty()) {  // nothing but wide ranges
    Text text;
    emit_slices(wide, text);
  }
}

template <class R>
std::vector<R> RangeSet<R>::take(std::size_t piece) {
  std::vector<R> out;
  drain([](std::span<const R>, Text&) {},
        [&](std::span<const R> ranges, const Text&) {
          out.insert(out.end(), ranges.begin(), ranges.end());
        },
        piece);
  return out;
}

template class RangeSet<Range4>;
template class RangeSet<Range6>;

Address to_address(std::uint32_t v) noexcept {
  return Address::v4(v);
}

Address to_address(u128 v) noexcept {
  std::array<std::uint8_t, 16> b{};
  for (unsigned i = 16; i-- > 0; v >>= 8) b[i] = static_cast<std::uint8_t>(v);
  return Address::v6(b);
}

namespace {

// Lines of prefixes or of ranges. In JSON, array elements (quoted strings, or objects), each
// after a comma: the pieces are made apart, and the first comma of all is left out when
// they are written.

class Writer {
 public:
  Writer(Format f, bool ranges, Text& out) : json_(f == Format::json), ranges_(ranges), out_(out) {}

  template <class N>
  void prefix(N a, unsigned len) {
    char* p = start();
    p = number(p, a);
    *p++ = '/';
    if (len >= 100) *p++ = static_cast<char>('0' + len / 100);
    if (len >= 10) *p++ = static_cast<char>('0' + len / 10 % 10);
    *p++ = static_cast<char>('0' + len % 10);
    end(p);
  }
  template <class N>
  void range(N a, N b) {
    char* p = start();
    if (json_) {
      std::memcpy(p, "{\"first\":\"", 10);
      p = number(p + 10, a);
      std::memcpy(p, "\",\"last\":\"", 10);
      p = number(p + 10, b);
      *p++ = '"';
      *p++ = '}';
      out_.commit(p);
      return;
    }
    p = number(p, a);
    *p++ = '-';
    p = number(p, b);
    end(p);
  }

 private:
  char* start() {
    char* p = out_.reserve(128);
    if (json_) {
      *p++ = ',';
      if (!ranges_) *p++ = '"';
    }
    return p;
  }
  void end(char* p) {
    *p++ = json_ ? '"' : '\n';
    out_.commit(p);
  }

  char* number(char* p, std::uint32_t v) noexcept { return format_address(p, Address::v4(v)); }
  char* number(char* p, u128 v) noexcept {
    return six_.write(p, static_cast<std::uint64_t>(v >> 64), static_cast<std::uint64_t>(v));
  }

  bool json_;
  bool ranges_;
  Text& out_;
  Ipv6Text six_;
};

// Writes one family's ranges, less the exceptions ex, as prefixes or as ranges.
template <class R>
void write_family(RangeSet<R>& set, const std::vector<R>& ex, Format f, bool ranges, bool& first,
                  Sink& out) {
  constexpr unsigned width = sizeof(Num<R>) * 8;
  const auto render = [&](std::span<const R> piece, Text& text) {
    Writer w(f, ranges, text);
    // Where the exceptions that can touch this piece start.
    std::size_t at = static_cast<std::size_t>(
        std::partition_point(ex.begin(), ex.end(),
                             [&](const R& x) { return x.last < piece.front().first; }) -
        ex.begin());
    for (const R& r : piece) {
      if (ranges) {
        subtract(r, ex, at, [&](const R& x) { w.range(x.first, x.last); });
      } else {
        subtract(r, ex, at, [&](const R& x) {
          prefixes_of(x, width, [&](Num<R> a, unsigned len) { w.prefix(a, len); });
        });
      }
    }
  };
  const auto emit = [&](std::span<const R>, const Text& text) {
    std::string_view s = text.view();
    if (s.empty()) return;
    if (f == Format::json && first) s.remove_prefix(1);
    first = false;
    out.write(s);
  };
  set.drain(render, emit);
}

}  // namespace

void write_result(MergeResult& r, Format f, Sink& out) {
  if (f == Format::json) out.write(r.ranges ? "{\"ranges\":[" : "{\"prefixes\":[");
  bool first = true;
  write_family(r.v4, r.except4, f, r.ranges, first, out);
  write_family(r.v6, r.except6, f, r.ranges, first, out);
  if (f == Format::json) out.write("]}\n");
}

namespace {

const char* quick_number(const char* p, const char* e, std::uint32_t& v) noexcept {
  return quick_v4(p, e, v);
}
const char* quick_number(const char* p, const char* e, u128& v) noexcept {
  return quick_v6(p, e, v);
}

// The common lines of one family, "ADDRESS", "ADDRESS/LEN" and "FIRST - LAST", with the
// addresses in their usual forms and nothing else, in one pass; every other line takes the
// general path, which also gives the messages. This halved the time of reading (perf, 10
// million lines), and reading ranges here too took another tenth off an IPv6 list. Returns
// where the item stops, or null.
template <class R>
const char* quick_range(const char* p, const char* e, R& out) noexcept {
  using N = Num<R>;
  constexpr unsigned width = sizeof(N) * 8;
  N first;
  const char* end = quick_number(p, e, first);
  if (end == nullptr) return nullptr;
  N last = first;
  if (end != e && *end == '/') {
    unsigned len;
    end = prefix_length(end, e, width, len);
    if (end == nullptr) return nullptr;
    const N host = low_ones<N>(width - len);
    first &= ~host;
    last = first | host;
  } else if (end != e && (*end == ' ' || *end == '-')) {
    while (end != e && *end == ' ') ++end;
    if (end == e || *end != '-') return nullptr;
    ++end;
    while (end != e && *end == ' ') ++end;
    end = quick_number(end, e, last);
    if (end == nullptr || last < first) return nullptr;
  }
  out = {first, last};
  return end;
}

// A common item from p: the whole of [p, e), or, with to_newline, up to a newline before e.
// Returns where it stops, or null.
const char* quick_item(const char* p, const char* e, bool to_newline, Item& item) noexcept {
  const auto whole = [&](const char* stop) {
    return stop != nullptr && (to_newline ? stop != e && *stop == '\n' : stop == e);
  };
  // A dotted quad has a dot in its first four bytes; trying the other family first cost an
  // IPv6 list a thirtieth of its time. Either way both are tried.
  bool dotted = false;
  for (const char* q = p + 1; q < e && q < p + 4; ++q) dotted = dotted || *q == '.';
  const char* stop;
  if (!dotted && whole(stop = quick_range(p, e, item.r6))) {
    item.kind = Item::Kind::inet6;
    return stop;
  }
  if (whole(stop = quick_range(p, e, item.r4))) {
    item.kind = Item::Kind::inet;
    return stop;
  }
  if (dotted && whole(stop = quick_range(p, e, item.r6))) {
    item.kind = Item::Kind::inet6;
    return stop;
  }
  return nullptr;
}

}  // namespace

Item read_item(char* line, std::size_t size) {
  Item item;
  if (quick_item(line, line + size, false, item) != nullptr) return item;
  return parse_item(line, size, "");
}

namespace {

struct Sets {
  RangeSet<Range4> v4;
  RangeSet<Range6> v6;
  void absorb(Sets&& other) {
    v4.absorb(std::move(other.v4));
    v6.absorb(std::move(other.v6));
  }
};

// What one reader of a part of a file found: its sets, its lines, and the first failure.
struct Part {
  Sets sets;
  unsigned long lines = 0;
  std::string error;  // ": <reason>: <text>" of the first bad line, or empty
  unsigned long error_line = 0;
  int read_error = 0;  // errno of a failed read
};

void add(Sets& sets, const Item& item) {
  if (item.kind == Item::Kind::inet) {
    sets.v4.add(item.r4);
  } else if (item.kind == Item::Kind::inet6) {
    sets.v6.add(item.r6);
  }
}

void read_part(LineReader& reader, Part& part) {
  LineReader::Line line;
  for (;;) {
    try {
      // Whole lines of the common forms straight from the buffer: each finds its own end,
      // which spared a search for the newline before every line. Any other line, and the
      // last one without a newline, go the general way below.
      const char* b;
      const char* e;
      while (reader.window(b, e)) {
        const char* p = b;
        Item item;
        while (p != e) {
          const char* nl = quick_item(p, e, true, item);
          if (nl == nullptr) break;
          ++part.lines;
          add(part.sets, item);
          p = nl + 1;
        }
        reader.consume(p);
        if (p != e) break;
      }
      if (!reader.next(line)) return;
    } catch (const std::system_error& e) {
      part.read_error = e.code().value();
      return;
    }
    ++part.lines;
    // The same rule whether or not the reader had to cut the line: no item is this long,
    // so only a comment can make such a line acceptable.
    if ((line.cut || line.size > kMaxLine) && std::memchr(line.data, '#', kMaxLine) == nullptr) {
      part.error = ": line too long: " + shown(std::string_view(line.data, line.size));
      part.error_line = part.lines;
      return;
    }
    Item item;
    try {
      item = read_item(line.data, line.size);
    } catch (const Failure& f) {
      part.error = f.text();
      part.error_line = part.lines;
      return;
    }
    add(part.sets, item);
  }
}

// Where the second half of a regular file starts: just after the first newline at or past
// its middle, or 0 when the file is too small to be worth a second reader.
off_t second_half(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < (off_t{8} << 20)) return 0;
  char buf[kMaxLine];
  for (off_t at = st.st_size / 2; at < st.st_size;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, at);
    if (n <= 0) return 0;
    if (const void* nl = std::memchr(buf, '\n', static_cast<std::size_t>(n))) {
      return at + (static_cast<const char*>(nl) - buf) + 1;
    }
    at += n;
  }
  return 0;
}

// Reads a list into the sets. A large regular file is read by two threads, a half each:
// parsing is what takes the time, and the machine has two cores.
void read_list(std::string_view name, Sets& sets) {
  InputFile file(name);
  Part first, second;
  const off_t mid = second_half(file.fd());
  if (mid == 0) {
    LineReader reader(file.fd(), kMaxLine);
    read_part(reader, first);
  } else {
    LineReader head(file.fd(), kMaxLine, 0, static_cast<std::size_t>(mid));
    LineReader tail(file.fd(), kMaxLine, mid, std::numeric_limits<std::size_t>::max());
    std::exception_ptr lost;  // what the helper could not handle (memory, say), for here
    std::thread helper([&] {
      try {
        read_part(tail, second);
      } catch (...) {
        lost = std::current_exception();
      }
    });
    try {
      read_part(head, first);
    } catch (...) {
      helper.join();
      throw;
    }
    helper.join();
    if (lost) std::rethrow_exception(lost);
  }
  // The first failure in the order of the file.
  if (first.read_error != 0) file_failure(name, first.read_error);
  const auto fail_at = [&](unsigned long line, const std::string& text) {
    fail(std::string(name) + ":" + std::to_string(line) + text);
  };
  if (!first.error.empty()) fail_at(first.error_line, first.error);
  if (second.read_error != 0) file_failure(name, second.read_error);
  if (!second.error.empty()) fail_at(first.lines + second.error_line, second.error);
  sets.absorb(std::move(first.sets));
  sets.absorb(std::move(second.sets));
}

}  // namespace

int merge_mode(std::span<const char* const> words, const RunContext& ctx) {
  std::vector<std::string_view> files, excepts;
  bool ranges = false, options = true;
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string_view w = words[i];
    if (options && w == "--") {
      options = false;
    } else if (options && w == "--ranges") {
      ranges = true;
    } else if (options && w == "--except") {
      if (i + 1 == words.size()) fail("option --except needs a file");
      excepts.push_back(words[++i]);
    } else if (options && w.starts_with("--except=")) {
      excepts.push_back(w.substr(9));
    } else if (options && w.size() > 1 && w[0] == '-') {
      fail("invalid option: "s.append(w));
    } else {
      files.push_back(w);
    }
  }
  if (files.empty()) files.emplace_back("-");

  MergeResult r;
  r.ranges = ranges;
  {
    Sets ex;
    for (const auto name : excepts) read_list(name, ex);
    r.except4 = ex.v4.take();
    r.except6 = ex.v6.take();
  }
  Sets in;
  for (const auto name : files) read_list(name, in);
  r.v4 = std::move(in.v4);
  r.v6 = std::move(in.v6);
  write_result(r, ctx.format, ctx.out);
  return 0;
}

}  // namespace maskery
