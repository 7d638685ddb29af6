#include <string>

#include "reports.hpp"

namespace maskery {

void reverse_zone(const char* address, const char* hostname, ReverseTree tree, Sink& out) {
  const Address a = packadrinfo(Family::inet6, address);
  // RFC 3596 2.5: one label per nibble, least significant nibble first.
  static constexpr char hex[] = "0123456789abcdef";
  std::string s;
  s.reserve(128);
  for (unsigned k = 16; k-- > 0;) {
    s += hex[a.bytes[k] & 0xf];
    s += '.';
    s += hex[a.bytes[k] >> 4];
    s += '.';
  }
  s += tree == ReverseTree::ip6_int ? "ip6.int.\tIN\tPTR\t" : "ip6.arpa.\tIN\tPTR\t";
  s += hostname;
  s += '\n';
  out.write(s);
}

}  // namespace maskery
