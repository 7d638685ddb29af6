// The reverse zones that cover a network, classless delegation below a /24 included.
#include "forms/zones.hpp"

#include <string>
#include <string_view>

#include "core/failure.hpp"

namespace maskery {

namespace {

std::string label_of(unsigned first, unsigned len, ZoneStyle style) {
  const unsigned last = first + (1u << (32 - len)) - 1;
  switch (style) {
    case ZoneStyle::rfc2317:
      return std::to_string(first) + "/" + std::to_string(len);
    case ZoneStyle::rfc4183:
      return std::to_string(first) + "-" + std::to_string(len);
    case ZoneStyle::range:
      break;
  }
  return std::to_string(first) + "-" + std::to_string(last);
}

}  // namespace

ZonesReport reverse_zones(const Address& address, unsigned long len, ZoneStyle style, bool cnames) {
  ZonesReport r;
  r.af = address.af;
  const unsigned width = address.width();
  const unsigned plen = len >= width ? width : static_cast<unsigned>(len);
  const Address net = unsetmask(address, plen);
  // Zones are cut at byte (IPv4) or nibble (IPv6) boundaries.
  const unsigned step = r.af == Family::inet ? 8 : 4;

  if (r.af == Family::inet && plen > 24 && plen < 32) {
    const unsigned first = net.bytes[3];
    const std::string parent = reverse_name(net, 24);
    const std::string label = label_of(first, plen, style);
    r.zones.push_back(label + "." + parent);
    if (cnames) {
      r.with_cnames = true;
      const unsigned count = 1u << (32 - plen);
      for (unsigned i = 0; i < count; ++i) {
        const std::string host = std::to_string(first + i);
        r.cnames.push_back({host + "." + parent, host + "." + label + "." + parent});
      }
    }
    return r;
  }
  if (cnames) fail(std::string(msg::cnames_length));

  // The next boundary at or above the length, and the zones at it that share the network.
  const unsigned cut = (plen + step - 1) / step * step;
  const unsigned count = 1u << (cut - plen);  // at most 2^7 (IPv4 /1) or 2^3 (IPv6)
  Address zone = net;
  for (unsigned i = 0; i < count; ++i) {
    r.zones.push_back(reverse_name(zone, cut));
    if (i + 1 == count) break;
    // The next zone: add one at the last unit of the cut, which never carries past it.
    if (r.af == Family::inet) {
      ++zone.bytes[cut / 8 - 1];
    } else {
      const unsigned nibble = cut / 4 - 1;
      zone.bytes[nibble / 2] =
          static_cast<std::uint8_t>(zone.bytes[nibble / 2] + (nibble % 2 == 0 ? 0x10 : 0x01));
    }
  }
  return r;
}

}  // namespace maskery
