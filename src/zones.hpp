// Reverse DNS names of addresses and networks: in-addr.arpa (RFC 1035 3.5), ip6.arpa
// nibbles (RFC 3596 2.5) and classless delegation below a /24 (RFC 2317, RFC 4183).
#pragma once

#include <string>
#include <vector>

#include "reports.hpp"

namespace maskery {

// The labels of the reverse name of the first len bits of a, each followed by a dot: the
// bytes (IPv4, len a multiple of 8) or the nibbles (IPv6, len a multiple of 4) from the last
// of them to the first. The tree comes after them.
std::string reverse_labels(const Address& a, unsigned len);

// The same with its tree: in-addr.arpa. or ip6.arpa.
std::string reverse_name(const Address& a, unsigned len);

// The PTR line of an IPv4 address under in-addr.arpa.
PtrRecord reverse_zone4(const char* address, const char* hostname);

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

void write_result(const ZonesReport& r, Format f, Sink& out);

}  // namespace maskery
