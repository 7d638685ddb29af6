// The reverse zones of a network: in-addr.arpa and ip6.arpa zones cut at byte and nibble
// boundaries, and classless delegation below a /24 (RFC 2317, RFC 4183).
#pragma once

#include <string>
#include <vector>

#include "forms/forms.hpp"

namespace maskery {

// How the first label of a classless IPv4 zone names its block.
enum class ZoneStyle : std::uint8_t {
  rfc2317,  // "64/26"
  rfc4183,  // "64-26"
  range,    // "64-127"
};

struct Cname {
  std::string name;    // the address's own name in the parent zone
  std::string target;  // its name inside the classless zone
};

struct ZonesReport {
  Family af = Family::inet;
  std::vector<std::string> zones;  // ascending address order, absolute, lower case
  bool with_cnames = false;
  std::vector<Cname> cnames;
};

// The zones that together cover exactly the network of address and length (capped at the
// width); with cnames, the CNAME lines of a classless IPv4 zone (length 25 to 31).
ZonesReport reverse_zones(const Address& network, unsigned long len, ZoneStyle style, bool cnames);

}  // namespace maskery
