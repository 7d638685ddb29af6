#include <string>

#include "reports.hpp"

namespace maskery {

PtrRecord reverse_zone(const char* address, const char* hostname, ReverseTree tree) {
  const Address a = packadrinfo(Family::inet6, address);
  // RFC 3596 2.5: one label per nibble, least significant nibble first.
  static constexpr char hex[] = "0123456789abcdef";
  PtrRecord r;
  r.af = Family::inet6;
  r.name.reserve(73);
  for (unsigned k = 16; k-- > 0;) {
    r.name += hex[a.bytes[k] & 0xf];
    r.name += '.';
    r.name += hex[a.bytes[k] >> 4];
    r.name += '.';
  }
  r.name += tree == ReverseTree::ip6_int ? "ip6.int." : "ip6.arpa.";
  r.hostname = hostname;
  return r;
}

}  // namespace maskery
