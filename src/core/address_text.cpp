#include "core/address_text.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/failure.hpp"

namespace maskery {

namespace {

constexpr bool is_digit(char c) noexcept {
  return c >= '0' && c <= '9';
}

// One number of an IPv4 text, read as strtoul with base 0 reads it: 0x and a hexadecimal
// digit start hexadecimal, 0 starts octal, anything else is decimal. Values above 32 bits
// saturate, since any of them fails the caller's range test.
constexpr std::uint64_t kTooBig = 0x100000000;
std::uint64_t read_number(const char*& p) noexcept {
  unsigned base = 10;
  if (p[0] == '0') {
    if ((p[1] == 'x' || p[1] == 'X') && hex_digit(p[2]) >= 0) {
      base = 16;
      p += 2;
    } else {
      base = 8;
    }
  }
  std::uint64_t v = 0;
  for (;; ++p) {
    const int d = hex_digit(*p);
    if (d < 0 || static_cast<unsigned>(d) >= base) break;
    v = v * base + static_cast<unsigned>(d);
    if (v > kTooBig) v = kTooBig;
  }
  return v;
}

// Each octet's digits and a dot, stored four bytes at once: lists of tens of thousands of
// IPv4 prefixes spent a third of their writing time on the branches of digit by digit.
struct OctetText {
  char text[4];
  std::uint8_t size;  // the digits and the dot
};
constexpr std::array<OctetText, 256> kOctets = [] {
  std::array<OctetText, 256> t{};
  for (unsigned v = 0; v < 256; ++v) {
    unsigned n = 0;
    if (v >= 100) t[v].text[n++] = static_cast<char>('0' + v / 100);
    if (v >= 10) t[v].text[n++] = static_cast<char>('0' + v / 10 % 10);
    t[v].text[n++] = static_cast<char>('0' + v % 10);
    t[v].text[n++] = '.';
    t[v].size = static_cast<std::uint8_t>(n);
  }
  return t;
}();

// The 32 hexadecimal digits of an IPv6 address, most significant first, at d.
void hex_digits(std::uint64_t hi, std::uint64_t lo, char* d) noexcept {
#if defined(__SSE2__) && !defined(MASKERY_PORTABLE)
  // All at once: nibbles of the bytes in order, then '0' + n, and 'a' - '0' - 10 more for a
  // letter. A group at a time took half as long again, and merge writes tens of millions.
  const __m128i x = _mm_set_epi64x(static_cast<long long>(__builtin_bswap64(lo)),
                                   static_cast<long long>(__builtin_bswap64(hi)));
  const __m128i nibble = _mm_set1_epi8(0x0f);
  const __m128i high = _mm_and_si128(_mm_srli_epi16(x, 4), nibble);
  const __m128i low = _mm_and_si128(x, nibble);
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i letter = _mm_set1_epi8('a' - '0' - 10);
  for (int half = 0; half < 2; ++half) {
    __m128i n = half == 0 ? _mm_unpacklo_epi8(high, low) : _mm_unpackhi_epi8(high, low);
    n = _mm_add_epi8(_mm_add_epi8(n, zero), _mm_and_si128(_mm_cmpgt_epi8(n, nine), letter));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16 * half), n);
  }
#else
  for (int i = 0; i < 16; ++i) {
    d[i] = kHexDigits[hi >> (60 - 4 * i) & 0xf];
    d[16 + i] = kHexDigits[lo >> (60 - 4 * i) & 0xf];
  }
#endif
}

// The zero run that "::" stands for: the longest run of two or more zero groups, and on a tie
// the first. start is -1 when there is none.
struct ZeroRun {
  int start = -1;
  int len = 0;
};

constexpr ZeroRun longest_zero_run(unsigned zeros) noexcept {
  ZeroRun best;
  for (int i = 0; i < 8;) {
    if ((zeros >> i & 1) == 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && (zeros >> j & 1) != 0) ++j;
    if (j - i > best.len) best = {i, j - i};  // strictly longer: the first of equal runs stays
    i = j;
  }
  if (best.len < 2) best = {};
  return best;
}

// The rule above for every pattern of zero groups, made once: merge writes tens of millions
// of IPv6 addresses, and the search took a third of the time of writing one.
constexpr std::array<ZeroRun, 256> kZeroRuns = [] {
  std::array<ZeroRun, 256> t{};
  for (unsigned z = 0; z < 256; ++z) t[z] = longest_zero_run(z);
  return t;
}();

char* format_v4(char* out, const std::uint8_t* b) noexcept {
  return format_ipv4(
      out, std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3]);
}

}  // namespace

std::optional<std::uint32_t> parse_ipv4(const char* p) noexcept {
  static constexpr std::uint64_t max_last[4] = {0xffffffff, 0xffffff, 0xffff, 0xff};
  std::uint32_t high = 0;  // the numbers before the last, already in place
  unsigned parts = 0;
  for (;;) {
    if (!is_digit(*p)) return std::nullopt;
    const std::uint64_t v = read_number(p);
    if (*p != '.') {
      if (*p != '\0' && !is_blank(*p)) return std::nullopt;
      if (v > max_last[parts]) return std::nullopt;
      return high | static_cast<std::uint32_t>(v);
    }
    if (parts == 3 || v > 0xff) return std::nullopt;
    high |= static_cast<std::uint32_t>(v) << (24 - 8 * parts);
    ++parts;
    ++p;
  }
}

const char* scan_ipv4_decimal(const char* p, const char* end, std::uint32_t& out,
                              bool padded) noexcept {
  std::uint32_t v = 0;
  for (int part = 0; part < 4; ++part) {
    if (p == end || !is_digit(*p)) return nullptr;
    unsigned n = static_cast<unsigned>(*p++ - '0');
    if (n == 0 && !padded && p != end && is_digit(*p)) return nullptr;  // a leading zero
    for (int i = 0; i < 2 && p != end && is_digit(*p); ++i) {
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

namespace {

template <bool kPadded>
const char* scan_quad(const char* p, std::uint32_t& out) noexcept {
  // A quad is at most 15 bytes, and each number reads at most its three digits.
  std::uint32_t v = 0;
  for (int part = 0; part < 4; ++part) {
    const unsigned c0 = static_cast<unsigned char>(p[0]) - 48u;
    if (c0 > 9) return nullptr;
    const unsigned c1 = static_cast<unsigned char>(p[1]) - 48u;
    unsigned n;
    if (c1 > 9) {
      n = c0;
      p += 1;
    } else {
      if (!kPadded && c0 == 0) return nullptr;  // a leading zero
      const unsigned c2 = static_cast<unsigned char>(p[2]) - 48u;
      if (c2 > 9) {
        n = c0 * 10 + c1;
        p += 2;
      } else {
        n = c0 * 100 + c1 * 10 + c2;
        p += 3;
        if (n > 255) return nullptr;
      }
    }
    v = v << 8 | n;
    if (part < 3) {
      if (*p != '.') return nullptr;
      ++p;
    }
  }
  out = v;
  return p;
}

}  // namespace

const char* scan_ipv4_quad(const char* p, std::uint32_t& out) noexcept {
  return scan_quad<false>(p, out);
}

const char* scan_ipv4_padded(const char* p, std::uint32_t& out) noexcept {
#if defined(__SSE2__) && !defined(MASKERY_PORTABLE)
  // The addresses of a log come in no order, so whether a number has one, two or three
  // digits is a coin toss for a reader that branches on each (scan_quad: 20 ns a random
  // address, 9 on a sorted list). Here the layout comes from where the digits and dots of 16
  // bytes are, all at once, and each number from its bytes with no branch: 13 ns on either.
  // Lists are often sorted, so scan_ipv4_quad keeps the branches.
  const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i d = _mm_sub_epi8(w, _mm_set1_epi8('0'));
  const auto digits = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d)));
  // Three bits past the 16 bytes stand for dots, so that with fewer than three dots a number
  // is too long, rather than a count of zero bits (and a shift past the width).
  const unsigned dots =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(w, _mm_set1_epi8('.')))) | 7u << 16;
  const auto d1 = static_cast<unsigned>(std::countr_zero(dots));
  const unsigned rest = dots & (dots - 1);
  const auto d2 = static_cast<unsigned>(std::countr_zero(rest));
  const auto d3 = static_cast<unsigned>(std::countr_zero(rest & (rest - 1)));
  // The fourth number: up to three digits, as scan_quad reads it.
  const unsigned n4 = std::min(static_cast<unsigned>(std::countr_zero(~digits >> (d3 + 1))), 3u);
  const unsigned other = ((1u << d3) - 1) & ~dots & ~digits;  // before the third dot
  if ((d1 - 1 > 2) | (d2 - d1 - 2 > 2) | (d3 - d2 - 2 > 2) | (other != 0) | (n4 == 0)) {
    return nullptr;
  }
  // The n digits at s (1 to 3; s + 4 <= 16): the four bytes there less '0' (a borrow only
  // runs upward, out of the digits), moved up so that the last digit is the third byte.
  const auto number = [p](unsigned s, unsigned n) {
    std::uint32_t x;
    std::memcpy(&x, p + s, 4);
    x = (x - 0x30303030u) << (8 * (3 - n));
    return (x & 0xff) * 100 + (x >> 8 & 0xff) * 10 + (x >> 16 & 0xff);
  };
  const unsigned a = number(0, d1), b = number(d1 + 1, d2 - d1 - 1),
                 c = number(d2 + 1, d3 - d2 - 1), e = number(d3 + 1, n4);
  if ((a | b | c | e) > 255) return nullptr;  // each is below 1000: a bit above 255 shows
  out = a << 24 | b << 16 | c << 8 | e;
  return p + d3 + 1 + n4;
#else
  return scan_quad<true>(p, out);
#endif
}

namespace {

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

}  // namespace

unsigned read_hex_group(const char*& p, const char* e, unsigned& value) noexcept {
  unsigned v = 0, digits = 0;
  for (; p != e && digits < 5; ++p, ++digits) {
    const int h = kHexValue[static_cast<unsigned char>(*p)];
    if (h < 0) break;
    v = v << 4 | static_cast<unsigned>(h);
  }
  value = v;
  return digits;
}

// Groups are read in place, four digits at a time where they can be. parse_ipv6 once copied
// the text and went byte by byte, which took a quarter of the time of an IPv6 list. (A loop
// without branches, and one on bit masks of the line, both took longer than this: their chains
// of dependent steps cost more than the wrong guesses at the ends of groups. Reading four
// digits at once took 0.77 of the time.)
const char* scan_ipv6(const char* p, const char* e, u128& out) noexcept {
  u128 packed = 0;  // the groups read, the last in the low bits
  int n = 0, gap = -1;
  if (p != e && *p == ':') {
    if (e - p < 2 || p[1] != ':') return nullptr;
    gap = 0;
    p += 2;
  }
  while (p != e) {
    const char* const group = p;
    unsigned v = 0, digits;
    // Most groups of a random address have four digits: those are read at once, two digits
    // a lookup.
    int pair0, pair1;
    if (e - p >= 4 && ((pair0 = kHexPairs[pair_at(p)]) & (pair1 = kHexPairs[pair_at(p + 2)])) < 0) {
      v = static_cast<unsigned>((pair0 & 0xff) << 8 | (pair1 & 0xff));
      p += 4;
      digits = p != e && kHexValue[static_cast<unsigned char>(*p)] >= 0 ? 5 : 4;
    } else {
      digits = read_hex_group(p, e, v);
    }
    if (p != e && *p == '.') {
      // A dotted IPv4 tail in place of the last two groups, and nothing after it.
      std::uint32_t quad;
      const char* const stop = scan_ipv4_decimal(group, e, quad);
      if (stop == nullptr || n > 6) return nullptr;
      packed = packed << 32 | quad;
      n += 2;
      p = stop;
      break;
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

std::optional<std::array<std::uint8_t, 16>> parse_ipv6(const char* p) noexcept {
  const char* const e = p + std::strlen(p);
  u128 v;
  if (scan_ipv6(p, e, v) != e) return std::nullopt;
  return from_value(v).bytes;
}

std::optional<Address> parse_address(Family af, const char* text) noexcept {
  if (af == Family::inet) {
    if (auto v = parse_ipv4(text)) return Address::v4(*v);
  } else {
    if (auto b = parse_ipv6(text)) return Address::v6(*b);
  }
  return std::nullopt;
}

Address packadrinfo(Family af, const char* text) {
  if (auto a = parse_address(af, text)) return *a;
  fail(std::string(msg::invalid_address));
}

char* format_ipv4(char* out, std::uint32_t v) noexcept {
  for (int shift = 24; shift >= 0; shift -= 8) {
    const OctetText& t = kOctets[v >> shift & 0xff];
    std::memcpy(out, t.text, 4);
    out += t.size;
  }
  return out - 1;  // the last dot stays behind the end
}

char* format_address(char* out, const Address& a) noexcept {
  if (a.af == Family::inet) return format_v4(out, a.bytes.data());
  std::uint64_t hi = 0, lo = 0;
  for (unsigned i = 0; i < 8; ++i) {
    hi = hi << 8 | a.bytes[i];
    lo = lo << 8 | a.bytes[8 + i];
  }
  return format_ipv6(out, hi, lo);
}

char* format_ipv6(char* out, std::uint64_t hi, std::uint64_t lo) noexcept {
  unsigned words[8];
  unsigned zeros = 0;  // bit i set: group i is zero
  for (unsigned i = 0; i < 4; ++i) {
    words[i] = static_cast<unsigned>(hi >> (48 - 16 * i)) & 0xffff;
    words[4 + i] = static_cast<unsigned>(lo >> (48 - 16 * i)) & 0xffff;
  }
  for (unsigned i = 0; i < 8; ++i) zeros |= unsigned{words[i] == 0} << i;
  const ZeroRun run = kZeroRuns[zeros];
  if (run.start == 0 && (run.len == 6 || (run.len == 5 && words[5] == 0xffff))) {
    std::memcpy(out, "::ffff:", 7);
    out += run.len == 6 ? 2 : 7;
    const std::uint8_t tail[4] = {
        static_cast<std::uint8_t>(lo >> 24), static_cast<std::uint8_t>(lo >> 16),
        static_cast<std::uint8_t>(lo >> 8), static_cast<std::uint8_t>(lo)};
    return format_v4(out, tail);
  }
  char d[48];  // the digits, and room for the last group's four-byte copy
  hex_digits(hi, lo, d);
  // A group without its leading zeros, and a colon after it.
  const auto group = [&](int i) {
    const auto w = static_cast<std::uint16_t>(words[i] | 1);
    const unsigned skip = static_cast<unsigned>(std::countl_zero(w)) / 4;
    std::memcpy(out, d + 4 * i + skip, 4);
    out += 4 - skip;
    *out++ = ':';
  };
  if (run.start < 0) {
    for (int i = 0; i < 8; ++i) group(i);
    return out - 1;
  }
  for (int i = 0; i < run.start; ++i) group(i);
  *out++ = ':';
  if (run.start == 0) *out++ = ':';
  if (run.start + run.len == 8) return out;
  for (int i = run.start + run.len; i < 8; ++i) group(i);
  return out - 1;
}

char* Ipv6Text::write_group(char* out, unsigned group) noexcept {
  const unsigned digits =
      4 - static_cast<unsigned>(std::countl_zero(static_cast<std::uint16_t>(group | 1))) / 4;
  for (unsigned i = digits; i-- > 0; group >>= 4) out[i] = kHexDigits[group & 0xf];
  return out + digits;
}

char* Ipv6Text::write_new(char* out, std::uint64_t hi, std::uint64_t lo) noexcept {
  char* end = format_ipv6(out, hi, lo);
  const auto last = static_cast<unsigned>(lo & 0xffff);
  // A last group that is not zero ends the text after a colon, unless the tail is dotted
  // (only where the upper six groups are 0:0:0:0:0:0 or 0:0:0:0:0:ffff).
  if (last != 0 && !(hi == 0 && (lo >> 32 == 0 || lo >> 32 == 0xffff))) {
    const unsigned digits =
        4 - static_cast<unsigned>(std::countl_zero(static_cast<std::uint16_t>(last))) / 4;
    stem_size_ = static_cast<std::size_t>(end - out) - digits;
    std::memcpy(stem_, out, sizeof stem_);  // a fixed size is a few moves; what follows is not used
    hi_ = hi;
    upper_ = lo >> 16;
  } else {
    upper_ = ~std::uint64_t{0};
  }
  return end;
}

std::string getipaddress(const Address& a) {
  char buf[kMaxAddressText + 1];
  return std::string(buf, format_address(buf, a));
}

}  // namespace maskery
