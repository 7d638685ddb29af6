#include "core/address.hpp"

#include <bit>

namespace maskery {

namespace {

// Value of a mask byte with k leading one bits.
constexpr std::array<std::uint8_t, 9> pl2m = {0, 128, 192, 224, 240, 248, 252, 254, 255};

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

Address netmask_of(Family af, unsigned bits) noexcept {
  Address mask = plen2mask(bits);
  mask.af = af;
  for (unsigned i = mask.size(); i < mask.bytes.size(); ++i) mask.bytes[i] = 0;
  return mask;
}

}  // namespace maskery
