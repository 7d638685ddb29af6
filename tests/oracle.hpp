// Independent answers from the platform's own address functions, and seeded random inputs.
#pragma once

#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>

#include "core/address_text.hpp"

namespace maskery::testing {

inline std::string ntop(const Address& a) {
  char buf[INET6_ADDRSTRLEN];
  const bool v4 = a.af == Family::inet;
  return inet_ntop(v4 ? AF_INET : AF_INET6, a.bytes.data(), buf, sizeof buf);
}

// An IPv6 address with many zero groups, often in the IPv4-mapped and -compatible ranges.
inline Address random_v6(std::mt19937_64& rng) {
  Address a{Family::inet6, {}};
  const auto group = [&]() -> unsigned {
    switch (rng() % 8) {
      case 0:
      case 1:
      case 2:
      case 3:
        return 0;
      case 4:
        return 0xffff;
      case 5:
        return static_cast<unsigned>(rng() % 16);
      default:
        return static_cast<unsigned>(rng() & 0xffff);
    }
  };
  for (unsigned i = 0; i < 8; ++i) {
    const unsigned g = group();
    a.bytes[2 * i] = static_cast<std::uint8_t>(g >> 8);
    a.bytes[2 * i + 1] = static_cast<std::uint8_t>(g);
  }
  switch (rng() % 6) {
    case 0:  // ::ffff:a.b.c.d
      for (unsigned i = 0; i < 10; ++i) a.bytes[i] = 0;
      a.bytes[10] = a.bytes[11] = 0xff;
      break;
    case 1:  // ::a.b.c.d and its neighbours
      for (unsigned i = 0; i < 12; ++i) a.bytes[i] = 0;
      break;
    default:
      break;
  }
  return a;
}

inline std::uint32_t random_v4(std::mt19937_64& rng) {
  switch (rng() % 4) {
    case 0:
      return static_cast<std::uint32_t>(rng() % 512);
    case 1:
      return 0xffffffffu - static_cast<std::uint32_t>(rng() % 512);
    default:
      return static_cast<std::uint32_t>(rng());
  }
}

}  // namespace maskery::testing
