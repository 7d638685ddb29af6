// Plain 128-bit arithmetic for the tests' independent answers.
#pragma once

#include <cstdint>

#include "core/address_text.hpp"

namespace maskery::testing {

__extension__ typedef unsigned __int128 u128;

inline u128 to_u128(const Address& a) {
  u128 v = 0;
  for (unsigned i = 0; i < 16; ++i) v = v << 8 | a.bytes[i];
  return v;
}

inline Address from_u128(u128 v) {
  Address a{Family::inet6, {}};
  for (unsigned i = 16; i-- > 0;) {
    a.bytes[i] = static_cast<std::uint8_t>(v);
    v >>= 8;
  }
  return a;
}

// The mask of prefix length len (0 to 128).
inline u128 mask128(unsigned len) {
  return len == 0 ? 0 : ~u128{0} << (128 - len);
}

}  // namespace maskery::testing
