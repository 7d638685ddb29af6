// Addresses as they stand in free text (log lines, lists, reports): where a token is an
// address, and which.
//
// A token is a maximal run of the characters that can make an address (hexadecimal digits,
// ':' and '.'), and only a whole token is read, so that nothing inside a longer word is
// taken for an address: in host-10.0.0.9.example.com, 1.2.3.4.5, a1.2.3.4, 10.0.0.256,
// 12:34:56 and 00:1a:2b:3c:4d:5e there is none. A token is no address when a letter, digit
// or '_' stands right before it or right after it.
//   IPv6: the whole token is standard IPv6 text; a full stop after it ends a sentence;
//         "[...]", a "%zone" or a "/len" after it are left alone (client=[2001:db8::1]:443,
//         fe80::1%eth0).
//   IPv4: four decimal numbers 0-255 with dots from the token's start, a leading zero read
//         as decimal (logs pad, they do not mean octal); after it a port (10.0.0.1:8080),
//         a full stop that ends a sentence, or any character that is no part of a word.
//         A token that starts with a single ':' (tcp:10.0.0.1) is read after it.
// ::ffff:a.b.c.d (and ::ffff:0:0/96 in any form) is also its IPv4 address.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__) && !defined(MASKERY_PORTABLE)
#include <emmintrin.h>
#endif

#include "core/address_text.hpp"
#include "lists/ranges.hpp"

namespace maskery {

struct TextAddress {
  const char* begin;  // the address as it stands in the text
  const char* end;
  bool v6;      // else IPv4
  bool mapped;  // IPv6 in ::ffff:0:0/96: also the IPv4 address v4
  std::uint32_t v4;
  u128 value6;
};

namespace text_addresses {

// Character classes, one lookup a byte.
enum : std::uint8_t { kRun = 1, kWord = 2, kDigit = 4 };
inline constexpr auto kClass = [] {
  struct Table {
    std::uint8_t c[256];
  } t{};
  for (int i = 0; i < 256; ++i) {
    const bool digit = i >= '0' && i <= '9';
    const bool hexl = (i >= 'a' && i <= 'f') || (i >= 'A' && i <= 'F');
    const bool letter = (i >= 'a' && i <= 'z') || (i >= 'A' && i <= 'Z');
    std::uint8_t v = 0;
    if (digit || hexl || i == ':' || i == '.') v |= kRun;
    if (digit || letter || i == '_') v |= kWord;
    if (digit) v |= kDigit;
    t.c[i] = v;
  }
  return t;
}();
inline std::uint8_t cls(char c) noexcept {
  return kClass.c[static_cast<unsigned char>(c)];
}

// Whether the text from p on may follow an address: the end, or no word character, and a
// full stop only when no word character follows it.
inline bool ends_token(const char* p, const char* e) noexcept {
  if (p == e) return true;
  if ((cls(*p) & kWord) != 0) return false;
  if (*p == '.') return p + 1 == e || (cls(p[1]) & kWord) == 0;
  return true;
}

// The token [b, e), which holds a colon, as IPv6 text.
const char* scan_v6_token(const char* b, const char* e, TextAddress& out) noexcept;

// The first '.' or ':' in [p, e) (with kNewline, or '\n'), or e: eight bytes a step, as most
// bytes of a log line are none of them.
template <bool kNewline = false>
inline const char* next_separator(const char* p, const char* e) noexcept {
#if defined(__SSE2__) && !defined(MASKERY_PORTABLE)
  // Sixteen bytes a step where the processor compares them at once: grep of a log in 0.94
  // of the time that eight took.
  for (; e - p >= 16; p += 16) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit =
        _mm_or_si128(_mm_cmpeq_epi8(w, _mm_set1_epi8('.')), _mm_cmpeq_epi8(w, _mm_set1_epi8(':')));
    if constexpr (kNewline) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(w, _mm_set1_epi8('\n')));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return p + std::countr_zero(mask);
  }
#endif
  constexpr std::uint64_t ones = 0x0101010101010101, highs = 0x8080808080808080;
  for (; e - p >= 8; p += 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    // A byte of w that is zero sets its high bit here, and the lowest byte that does is
    // the first such byte (the borrows run only upward).
    const std::uint64_t dot = w ^ (ones * '.'), colon = w ^ (ones * ':');
    std::uint64_t hit = ((dot - ones) & ~dot) | ((colon - ones) & ~colon);
    if constexpr (kNewline) {
      const std::uint64_t nl = w ^ (ones * '\n');
      hit |= (nl - ones) & ~nl;
    }
    hit &= highs;
    if (hit != 0) return p + (std::countr_zero(hit) >> 3);
  }
  while (p != e && *p != '.' && *p != ':' && (!kNewline || *p != '\n')) ++p;
  return p;
}

// A padded IPv4 address at p, in text that ends at e.
inline const char* ipv4_at(const char* p, const char* e, std::uint32_t& v) noexcept {
  return e - p >= static_cast<std::ptrdiff_t>(kQuadReach) ? scan_ipv4_padded(p, v)
                                                          : scan_ipv4_decimal(p, e, v, true);
}

// The addresses of the text from b on, to f in order, to e, or with kToNewline to the first
// newline before e. Returns where the text ended (e, or the newline), or null when f
// returned false (the rest is unread).
template <bool kToNewline, class F>
const char* scan_addresses(const char* b, const char* e, F&& f) {
  // Every address has a '.' or a ':': only the tokens around them are read, rather than
  // every token of the line (a byte at a time took four fifths of grep's time on lines read
  // to their end).
  const char* done = b;  // the tokens before it have been read
  // A line that starts with an IPv4 address and a character that ends its token (a list of
  // addresses, most logs) has it read at once, with no search for its token.
  if (b != e && (cls(*b) & kDigit) != 0) {
    std::uint32_t v;
    const char* end = ipv4_at(b, e, v);
    if (end != nullptr && (end == e || (cls(*end) & kRun) == 0) && ends_token(end, e)) {
      if (!f(static_cast<const TextAddress&>(TextAddress{b, end, false, false, v, 0}))) {
        return nullptr;
      }
      done = end;
    }
  }
  // A line that is one address (a list) ends here.
  if (kToNewline && done != e && *done == '\n') return done;
  for (const char* h = next_separator<kToNewline>(done, e); h != e;
       h = next_separator<kToNewline>(done, e)) {
    if (kToNewline && *h == '\n') return h;
    // The token [p, q) around h, read from h on: no separator stands between p and h, which
    // is the first since done. Its separators alone say whether it may be an address, and most
    // tokens of a log line (a time of day, a version, a file name) are known not to be before
    // their start is looked for.
    // IPv6 text has two to eight colons, and six or seven without a "::": a time of day
    // (12:00:01) is none, and is not read as one.
    unsigned colons = 0, dots = 0;
    bool gap = false;
    const char* q = h;
    for (; q != e && (cls(*q) & kRun) != 0; ++q) {
      if (*q == ':') {
        ++colons;
        gap |= q + 1 != e && q[1] == ':';
      }
      dots += *q == '.';
    }
    const bool colon = gap ? colons <= 8 : colons == 6 || colons == 7;
    // An IPv4 address has its three dots within the token: a version (1.1), a time of day
    // or a file name (index.html) is not read as one.
    if (!colon && dots < 3) {
      done = q;
      continue;
    }
    const char* p = h;
    while (p != done && (cls(p[-1]) & kRun) != 0) --p;
    const bool free = p == b || (cls(p[-1]) & kWord) == 0;
    if (q - p >= 2) {
      TextAddress a;
      const char* start = p;
      bool found = false;
      if (*p == ':' && p[1] != ':') {
        ++start;  // "tcp:10.0.0.1": a lone colon separates, and an IPv4 address may follow
      } else if (!free) {
        start = nullptr;
      } else if (colon && scan_v6_token(p, q, a) != nullptr) {
        found = ends_token(a.end, e);
      }
      if (!found && start != nullptr && dots >= 3 && (cls(*start) & kDigit) != 0) {
        std::uint32_t v;
        // Read to e rather than q: the byte at q is no digit or dot, and stops it all the same.
        const char* end = ipv4_at(start, e, v);
        // After it: a port, or what may follow any address.
        if (end != nullptr && (ends_token(end, e) || *end == ':')) {
          a = {start, end, false, false, v, 0};
          found = true;
        }
      }
      if (found && !f(static_cast<const TextAddress&>(a))) return nullptr;
    }
    done = q;
  }
  return e;
}

}  // namespace text_addresses

// Calls f(const TextAddress&) for each address in [b, e), in order; stops early when f
// returns false.
template <class F>
void for_each_address(const char* b, const char* e, F&& f) {
  text_addresses::scan_addresses<false>(b, e, std::forward<F>(f));
}

// The same for the line that starts at b, up to the first newline before e (a newline is a
// character that may follow any address, so the line is read as it would be alone): returns
// that newline, or null when f stopped.
template <class F>
const char* for_each_address_in_line(const char* b, const char* e, F&& f) {
  return text_addresses::scan_addresses<true>(b, e, std::forward<F>(f));
}

}  // namespace maskery
