// The print-mode listing: every address of a network, one per line, at the speed of the
// output rather than of a formatter.
//
// The addresses are taken in blocks that share everything but their last byte. Within a
// block the text of every line is a fixed prefix followed by the text of the last byte,
// because the last byte never changes how the address is written (for IPv6: which zero
// run is compressed, and whether the tail is dotted) -- with one exception handled apart,
// a last group of 0. So the formatter runs once per block (once per 256 lines) and each
// line is two fixed-size stores from precomputed text.
#include <array>
#include <cstring>
#include <string_view>

#include "writers/writers.hpp"

namespace maskery {

namespace {

struct Suffix {
  char text[4];  // the text of the last byte and the newline, padded
  unsigned char len;
};
using SuffixTable = std::array<Suffix, 256>;

enum class Digits { decimal, hex, hex_two };

constexpr SuffixTable make_table(Digits kind, char end) {
  SuffixTable t{};
  for (unsigned v = 0; v < 256; ++v) {
    char* p = t[v].text;
    if (kind == Digits::decimal) {
      if (v >= 100) *p++ = static_cast<char>('0' + v / 100);
      if (v >= 10) *p++ = static_cast<char>('0' + v / 10 % 10);
      *p++ = static_cast<char>('0' + v % 10);
    } else {
      if (v >= 16 || kind == Digits::hex_two) *p++ = kHexDigits[v >> 4];
      *p++ = kHexDigits[v & 0xf];
    }
    *p++ = end;
    t[v].len = static_cast<unsigned char>(p - t[v].text);
  }
  return t;
}

// How the lines of a style begin and end: text lines end in a newline; JSON elements after
// the first begin with a comma and a quote and end in a quote.
struct Style {
  std::string_view head;
  char end;
  SuffixTable decimal;  // "0\n" .. "255\n"
  SuffixTable hex;      // "0\n" .. "ff\n"
  SuffixTable hex_two;  // "00\n" .. "ff\n"
};

constexpr Style kLines = {"", '\n', make_table(Digits::decimal, '\n'),
                          make_table(Digits::hex, '\n'), make_table(Digits::hex_two, '\n')};
constexpr Style kJson = {",\"", '"', make_table(Digits::decimal, '"'), make_table(Digits::hex, '"'),
                         make_table(Digits::hex_two, '"')};

// Room for the longest line; the stores of one line may reach this far past its start.
constexpr std::size_t kLineRoom = 48;

// Lines for last bytes lo..hi: the prefix (stored whole, kept only plen bytes long) and the
// text of the last byte.
template <std::size_t Width>
char* emit_lines(char* p, const char (&prefix)[Width], std::size_t plen, const SuffixTable& t,
                 unsigned lo, unsigned hi) noexcept {
  for (unsigned v = lo; v <= hi; ++v) {
    std::memcpy(p, prefix, Width);
    p += plen;
    std::memcpy(p, t[v].text, sizeof t[v].text);
    p += t[v].len;
  }
  return p;
}

// The same, with the prefix taken from the first plen characters of text.
template <std::size_t Width>
char* emit_prefixed(char* p, const char* text, std::size_t plen, const SuffixTable& t, unsigned lo,
                    unsigned hi) noexcept {
  char prefix[Width] = {};
  std::memcpy(prefix, text, plen);
  return emit_lines(p, prefix, plen, t, lo, hi);
}

char* emit_full(char* p, const Address& a, const Style& style) noexcept {
  std::memcpy(p, style.head.data(), style.head.size());
  p = format_address(p + style.head.size(), a);
  *p++ = style.end;
  return p;
}

// Lines for the addresses of the block of cur whose last bytes run from lo to hi.
char* emit_block(char* p, Address cur, unsigned lo, unsigned hi, const Style& style) noexcept {
  const unsigned low = cur.size() - 1;
  // The text of the block's address with last byte 1 ends in the text of that byte.
  Address rep = cur;
  rep.bytes[low] = 1;
  char text[kMaxAddressText + 3];
  std::memcpy(text, style.head.data(), style.head.size());
  const std::size_t len =
      static_cast<std::size_t>(format_address(text + style.head.size(), rep) - text);

  const SuffixTable* table = &style.decimal;  // dotted: "...c.1"
  std::size_t strip = 1;
  if (cur.af == Family::inet6 && std::memchr(text, '.', len) == nullptr) {
    if (cur.bytes[low - 1] != 0) {
      table = &style.hex_two;  // "...:hh01"
      strip = 2;
    } else {
      table = &style.hex;  // "...:1"
      // A last group of 0 can join a zero run and change the compression: write it whole.
      if (lo == 0) {
        cur.bytes[low] = 0;
        p = emit_full(p, cur, style);
        if (hi == 0) return p;
        lo = 1;
      }
    }
  }
  // The fewer bytes stored per line, the faster: 2001:db8::/104 took 16 ms into /dev/null
  // with the 32-byte prefix store where a 48-byte one took 26 ms (bench/run.sh).
  const std::size_t plen = len - strip;
  if (plen <= 8) return emit_prefixed<8>(p, text, plen, *table, lo, hi);
  if (plen <= 16) return emit_prefixed<16>(p, text, plen, *table, lo, hi);
  if (plen <= 32) return emit_prefixed<32>(p, text, plen, *table, lo, hi);
  return emit_prefixed<48>(p, text, plen, *table, lo, hi);
}

bool same_block(const Address& a, const Address& b) noexcept {
  return std::memcmp(a.bytes.data(), b.bytes.data(), a.size() - 1) == 0;
}

}  // namespace

void list_addresses(const Address& first, const Address& last, Sink& out, ListStyle style) {
  static_assert(256 * kLineRoom <= Sink::kMaxReserve);
  const unsigned low = first.size() - 1;
  Address cur = first;
  const Style* st = &kLines;
  if (style == ListStyle::json_elements) {
    // The first element has no comma before it; every later one has.
    char* p = out.reserve(kLineRoom);
    *p++ = '"';
    p = format_address(p, first);
    *p++ = '"';
    out.commit(p);
    if (first == last) return;
    for (unsigned i = cur.size(); i-- > 0;) {
      if (++cur.bytes[i] != 0) break;
    }
    st = &kJson;
  }
  for (;;) {
    const bool final_block = same_block(cur, last);
    const unsigned lo = cur.bytes[low];
    const unsigned hi = final_block ? last.bytes[low] : 255u;
    char* p = out.reserve(256 * kLineRoom);
    p = emit_block(p, cur, lo, hi, *st);
    out.commit(p);
    if (final_block) return;
    // On to the next block. It exists: cur's block lies below last's, so no carry runs out.
    cur.bytes[low] = 0;
    for (unsigned i = low; i-- > 0;) {
      if (++cur.bytes[i] != 0) break;
    }
  }
}

}  // namespace maskery
