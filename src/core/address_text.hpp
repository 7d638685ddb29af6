// Address text: the readers of both families (the classic forms of the command line, and
// the strict forms of lists) and the writers of the standard text form.
#pragma once

#include <cstring>
#include <optional>
#include <string>

#include "core/address.hpp"

namespace maskery {

// The value of a hexadecimal digit of either case, or -1.
constexpr int hex_digit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// IPv4 text in the classic forms: one to four numbers, each decimal, octal (leading 0) or
// hexadecimal (leading 0x); the last number fills the remaining low bytes; a white-space
// character ends the text. Unlike inet_addr, 255.255.255.255 is an address, not a failure.
std::optional<std::uint32_t> parse_ipv4(const char* text) noexcept;

// White space of the C locale: it ends an IPv4 text, and separates the words of a line.
constexpr bool is_blank(char c) noexcept {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// A dotted quad of four decimal numbers 0-255 without leading zeros at the start of
// [p, end), the only IPv4 form of lists and of an IPv6 tail; padded, numbers of up to three
// digits with leading zeros, read as decimal (as logs pad them). Returns where it stops, or
// null.
const char* scan_ipv4_decimal(const char* p, const char* end, std::uint32_t& out,
                              bool padded = false) noexcept;

// scan_ipv4_decimal(p, end, out) (not padded) where at least kQuadReach bytes at p are
// readable, with no test for the end: a third less time, on lists that are mostly quads.
inline constexpr std::size_t kQuadReach = 16;
const char* scan_ipv4_quad(const char* p, std::uint32_t& out) noexcept;
// The same for scan_ipv4_decimal(p, end, out, true), padded: a quarter of grep's time on a
// list of addresses was the test for the end.
const char* scan_ipv4_padded(const char* p, std::uint32_t& out) noexcept;

// IPv6 text at the start of [p, e) (the grammar of parse_ipv6). Returns where it stops, at e
// or at the first character that cannot continue the address, or null when the text up to
// there is not an address.
const char* scan_ipv6(const char* p, const char* e, u128& out) noexcept;

// The hexadecimal digits of one group at p, up to five (five: too many for a group); p moves
// past them. Returns how many were read.
unsigned read_hex_group(const char*& p, const char* e, unsigned& value) noexcept;

// IPv6 text: eight groups of one to four hexadecimal digits, one "::" run, and an optional
// dotted IPv4 tail in place of the last two groups. Nothing else, white space included.
std::optional<std::array<std::uint8_t, 16>> parse_ipv6(const char* text) noexcept;

// The address of the family written in text, if it is one.
std::optional<Address> parse_address(Family af, const char* text) noexcept;

// The address written in text, or the failure "invalid address specification".
Address packadrinfo(Family af, const char* text);

// Address texts this long or longer are never valid and are rejected, not cut.
inline constexpr std::size_t kAddressField = 64;

// Longest text of an address: "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff".
inline constexpr std::size_t kMaxAddressText = 39;

// The hexadecimal digits, in lower case as every text of this program writes them.
inline constexpr char kHexDigits[] = "0123456789abcdef";

// Writes the standard text form of the address at out and returns the end. IPv6 follows the
// usual rules: lower case, no leading zeros, the longest run of two or more zero groups (the
// first of equal runs) as "::", and a dotted tail for ::a.b.c.d (groups 0-5 zero, group 6
// not) and ::ffff:a.b.c.d (groups 0-4 zero, group 5 ffff). It may store bytes past the end
// it returns, but none past out + kMaxAddressText (so kMaxAddressText + 1 bytes in all).
char* format_address(char* out, const Address& a) noexcept;
// The same for an IPv4 address given as its value.
char* format_ipv4(char* out, std::uint32_t v) noexcept;
// The same for an IPv6 address given as its two 64-bit halves, most significant first.
char* format_ipv6(char* out, std::uint64_t hi, std::uint64_t lo) noexcept;

// Writes IPv6 addresses as format_ipv6 does, and faster when they come in runs that differ
// only in a last group that is not zero: the prefixes of a narrow range, most of what merge
// writes. The text before that group does not change then (which groups are zero stays the
// same), so it is kept from the last address written in full.
class Ipv6Text {
 public:
  // The same bounds as format_ipv6: nothing stored past out + kMaxAddressText.
  char* write(char* out, std::uint64_t hi, std::uint64_t lo) noexcept {
    const auto last = static_cast<unsigned>(lo & 0xffff);
    if (hi != hi_ || lo >> 16 != upper_ || last == 0) return write_new(out, hi, lo);
    std::memcpy(out, stem_, sizeof stem_);
    return write_group(out + stem_size_, last);
  }

 private:
  static char* write_group(char* out, unsigned group) noexcept;
  char* write_new(char* out, std::uint64_t hi, std::uint64_t lo) noexcept;

  std::uint64_t hi_ = 0;
  std::uint64_t upper_ = ~std::uint64_t{0};  // lo >> 16 of the stem's address; none yet
  std::size_t stem_size_ = 0;
  char stem_[kMaxAddressText + 1 - 4]{};  // up to its last colon: seven groups at most
};

std::string getipaddress(const Address& a);

}  // namespace maskery
