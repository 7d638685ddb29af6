// Addresses, prefix masks and address text: the small routines every calculation rests on.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

namespace maskery {

enum class Family : std::uint8_t { inet, inet6 };

// The bit order, written down once. Position 0 is the most significant bit of bytes[0];
// position pos lives in bytes[pos / 8] under the mask 0x80 >> (pos % 8). For a prefix
// length n, positions 0..n-1 are network bits and n..width-1 are host bits.
struct Address {
  Family af = Family::inet;
  // Network byte order. An IPv4 address uses bytes[0..3]; the other twelve stay zero so
  // that the defaulted comparison is the numeric order within a family.
  std::array<std::uint8_t, 16> bytes{};

  constexpr unsigned width() const noexcept { return af == Family::inet ? 32u : 128u; }
  constexpr unsigned size() const noexcept { return width() / 8; }
  friend constexpr auto operator<=>(const Address&, const Address&) = default;

  static constexpr Address v4(std::uint32_t value) noexcept {
    Address a;
    for (unsigned i = 0; i < 4; ++i) a.bytes[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    return a;
  }
  static constexpr Address v6(const std::array<std::uint8_t, 16>& b) noexcept {
    return Address{Family::inet6, b};
  }
  // The IPv4 address as a host-order number.
  constexpr std::uint32_t v4_value() const noexcept {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
  }
};

inline bool getb(std::span<const std::uint8_t> field, unsigned pos) noexcept {
  return (field[pos / 8] & (0x80u >> (pos % 8))) != 0;
}

inline void setb(std::span<std::uint8_t> field, unsigned pos, bool state) noexcept {
  const auto bit = static_cast<std::uint8_t>(0x80u >> (pos % 8));
  if (state) {
    field[pos / 8] = static_cast<std::uint8_t>(field[pos / 8] | bit);
  } else {
    field[pos / 8] = static_cast<std::uint8_t>(field[pos / 8] & ~bit);
  }
}

// The sixteen-byte mask of prefix length n; 128 and above give all ones.
Address plen2mask(unsigned n) noexcept;

// The address with every host bit for prefix length b cleared (the first address of its
// network) or set (the last). A b at or above the width changes nothing.
Address unsetmask(Address a, unsigned b) noexcept;
Address setmask(Address a, unsigned b) noexcept;

// The number of one bits of a mask, wherever they stand.
unsigned extractbits(const Address& mask) noexcept;

// Every bit of the mask flipped, within the width of its family.
Address invert_mask(Address mask) noexcept;

struct MaskedAddress {
  Address ip;    // the network address
  Address mask;  // the prefix mask
};
MaskedAddress setaddrmask(Address ip, unsigned bits) noexcept;

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

// IPv6 text: eight groups of one to four hexadecimal digits, one "::" run, and an optional
// dotted IPv4 tail in place of the last two groups. Nothing else, white space included.
std::optional<std::array<std::uint8_t, 16>> parse_ipv6(const char* text) noexcept;

// The address of the family written in text, if it is one.
std::optional<Address> parse_address(Family af, const char* text) noexcept;

// The address written in text, or the failure "invalid address specification".
Address packadrinfo(Family af, const char* text);

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
