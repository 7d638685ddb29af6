#include "address_primitives.hpp"

#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "failure.hpp"

namespace maskery {

namespace {

// Value of a mask byte with k leading one bits.
constexpr std::array<std::uint8_t, 9> pl2m = {0, 128, 192, 224, 240, 248, 252, 254, 255};

constexpr bool is_digit(char c) noexcept {
  return c >= '0' && c <= '9';
}

// White space of the C locale, which ends an IPv4 text.
constexpr bool is_space(char c) noexcept {
  return c == ' ' || (c >= '\t' && c <= '\r');
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

// A dotted quad in the strict form allowed as the tail of an IPv6 text: four decimal
// numbers up to 255, no leading zeros, nothing after.
bool parse_dotted_tail(const char* p, std::uint8_t* out) noexcept {
  for (int i = 0; i < 4; ++i) {
    if (!is_digit(*p)) return false;
    unsigned v = 0;
    const char* start = p;
    while (is_digit(*p)) {
      if (p != start && v == 0) return false;  // leading zero
      v = v * 10 + static_cast<unsigned>(*p - '0');
      if (v > 255) return false;
      ++p;
    }
    out[i] = static_cast<std::uint8_t>(v);
    if (i < 3 && *p++ != '.') return false;
  }
  return *p == '\0';
}

char* append_decimal_octet(char* out, unsigned v) noexcept {
  if (v >= 100) *out++ = static_cast<char>('0' + v / 100);
  if (v >= 10) *out++ = static_cast<char>('0' + v / 10 % 10);
  *out++ = static_cast<char>('0' + v % 10);
  return out;
}

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
  for (int i = 0; i < 4; ++i) {
    if (i != 0) *out++ = '.';
    out = append_decimal_octet(out, b[i]);
  }
  return out;
}

}  // namespace

Address plen2mask(unsigned n) noexcept {
  Address ia{Family::inet6, {}};
  for (auto& byte : ia.bytes) {
    if (n >= 8) {
      byte = 0xff;
      n -= 8;
    } else {
      byte = pl2m[n];
      break;
    }
  }
  return ia;
}

Address unsetmask(Address a, unsigned b) noexcept {
  const Address m = plen2mask(b);
  for (unsigned i = 0; i < a.size(); ++i) a.bytes[i] &= m.bytes[i];
  return a;
}

Address setmask(Address a, unsigned b) noexcept {
  const Address m = plen2mask(b);
  for (unsigned i = 0; i < a.size(); ++i) {
    a.bytes[i] = static_cast<std::uint8_t>(a.bytes[i] | ~m.bytes[i]);
  }
  return a;
}

unsigned extractbits(const Address& mask) noexcept {
  unsigned n = 0;
  for (unsigned i = 0; i < mask.size(); ++i)
    n += static_cast<unsigned>(std::popcount(mask.bytes[i]));
  return n;
}

Address invert_mask(Address mask) noexcept {
  for (unsigned i = 0; i < mask.size(); ++i)
    mask.bytes[i] = static_cast<std::uint8_t>(~mask.bytes[i]);
  return mask;
}

MaskedAddress setaddrmask(Address ip, unsigned bits) noexcept {
  Address mask = plen2mask(bits);
  mask.af = ip.af;
  for (unsigned i = 0; i < ip.size(); ++i) ip.bytes[i] &= mask.bytes[i];
  for (unsigned i = ip.size(); i < mask.bytes.size(); ++i) mask.bytes[i] = 0;
  return {ip, mask};
}

std::optional<std::uint32_t> parse_ipv4(const char* p) noexcept {
  static constexpr std::uint64_t max_last[4] = {0xffffffff, 0xffffff, 0xffff, 0xff};
  std::uint32_t high = 0;  // the numbers before the last, already in place
  unsigned parts = 0;
  for (;;) {
    if (!is_digit(*p)) return std::nullopt;
    const std::uint64_t v = read_number(p);
    if (*p != '.') {
      if (*p != '\0' && !is_space(*p)) return std::nullopt;
      if (v > max_last[parts]) return std::nullopt;
      return high | static_cast<std::uint32_t>(v);
    }
    if (parts == 3 || v > 0xff) return std::nullopt;
    high |= static_cast<std::uint32_t>(v) << (24 - 8 * parts);
    ++parts;
    ++p;
  }
}

std::optional<std::array<std::uint8_t, 16>> parse_ipv6(const char* p) noexcept {
  std::array<std::uint8_t, 16> out{};
  unsigned n = 0;  // bytes written
  int gap = -1;    // where "::" stands, in bytes
  if (*p == ':') {
    if (p[1] != ':') return std::nullopt;
    ++p;  // the second colon is read below as the start of an empty group
  }
  const char* group = p;
  unsigned digits = 0;
  unsigned value = 0;
  for (; *p != '\0'; ++p) {
    const int d = hex_digit(*p);
    if (d >= 0) {
      if (++digits > 4) return std::nullopt;
      value = value << 4 | static_cast<unsigned>(d);
      continue;
    }
    if (*p == ':') {
      group = p + 1;
      if (digits == 0) {
        if (gap >= 0) return std::nullopt;
        gap = static_cast<int>(n);
        continue;
      }
      if (p[1] == '\0' || n + 2 > 16) return std::nullopt;
      out[n++] = static_cast<std::uint8_t>(value >> 8);
      out[n++] = static_cast<std::uint8_t>(value);
      digits = 0;
      value = 0;
      continue;
    }
    if (*p == '.' && n + 4 <= 16 && parse_dotted_tail(group, out.data() + n)) {
      n += 4;
      digits = 0;
      break;
    }
    return std::nullopt;
  }
  if (digits > 0) {
    if (n + 2 > 16) return std::nullopt;
    out[n++] = static_cast<std::uint8_t>(value >> 8);
    out[n++] = static_cast<std::uint8_t>(value);
  }
  if (gap >= 0) {
    if (n == 16) return std::nullopt;  // "::" must stand for at least one group
    const unsigned g = static_cast<unsigned>(gap);
    const unsigned tail = n - g;
    for (unsigned i = 0; i < tail; ++i) out[15 - i] = out[n - 1 - i];
    for (unsigned i = g; i < 16 - tail; ++i) out[i] = 0;
    n = 16;
  }
  if (n != 16) return std::nullopt;
  return out;
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
