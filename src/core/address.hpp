// The address value of both families, its numeric forms, and prefix masks: the small routines
// every calculation rests on. Text in and out is in address_text.hpp.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>

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

__extension__ using u128 = unsigned __int128;  // GCC and Clang; an IPv6 address as a number

// The number with its low `bits` bits set, up to all of them: the host part of a prefix
// with that many host bits, or the size of its block less one.
template <class N>
constexpr N low_ones(unsigned bits) noexcept {
  return bits >= sizeof(N) * 8 ? ~N{0} : (N{1} << bits) - 1;
}

// An address as a number, most significant byte first, and back.
constexpr u128 v6_value(const Address& a) noexcept {
  u128 v = 0;
  for (const auto byte : a.bytes) v = v << 8 | byte;
  return v;
}
constexpr Address from_value(std::uint32_t v) noexcept {
  return Address::v4(v);
}
constexpr Address from_value(u128 v) noexcept {
  std::array<std::uint8_t, 16> b{};
  for (unsigned i = 16; i-- > 0; v >>= 8) b[i] = static_cast<std::uint8_t>(v);
  return Address::v6(b);
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

// The contiguous mask of prefix length bits (capped at the width) of the family.
Address netmask_of(Family af, unsigned bits) noexcept;

}  // namespace maskery
