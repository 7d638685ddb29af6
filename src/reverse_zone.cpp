#include <string>

#include "reports.hpp"
#include "zones.hpp"

namespace maskery {

PtrRecord reverse_zone(const char* address, const char* hostname, ReverseTree tree) {
  const Address a = packadrinfo(Family::inet6, address);
  // RFC 3596 2.5: one label per nibble, least significant nibble first.
  PtrRecord r;
  r.af = Family::inet6;
  r.name = reverse_labels(a, 128) + (tree == ReverseTree::ip6_int ? "ip6.int." : "ip6.arpa.");
  r.hostname = hostname;
  return r;
}

}  // namespace maskery
