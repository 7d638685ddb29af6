// PTR lines of both families, and the reverse names they (and the zones) are made of:
// in-addr.arpa (RFC 1035 3.5) and ip6.arpa nibbles (RFC 3596 2.5).
#include <string>

#include "forms/forms.hpp"

namespace maskery {

std::string reverse_labels(const Address& a, unsigned len) {
  std::string s;
  if (a.af == Family::inet) {
    for (unsigned i = len / 8; i-- > 0;) s.append(std::to_string(a.bytes[i])).push_back('.');
    return s;
  }
  s.reserve(len / 2);
  for (unsigned i = len / 4; i-- > 0;) {
    const unsigned byte = a.bytes[i / 2];
    s += kHexDigits[i % 2 == 0 ? byte >> 4 : byte & 0xf];
    s += '.';
  }
  return s;
}

std::string reverse_name(const Address& a, unsigned len) {
  return reverse_labels(a, len) + (a.af == Family::inet ? "in-addr.arpa." : "ip6.arpa.");
}

PtrRecord ptr_record(const char* address, const char* hostname, ReverseTree tree) {
  const Family af = tree == ReverseTree::in_addr_arpa ? Family::inet : Family::inet6;
  const Address a = packadrinfo(af, address);
  PtrRecord r;
  r.af = af;
  r.name = tree == ReverseTree::ip6_int ? reverse_labels(a, 128) + "ip6.int."
                                        : reverse_name(a, a.width());
  r.hostname = hostname;
  return r;
}

PtrRecord reverse_zone(const char* address, const char* hostname, ReverseTree tree) {
  return ptr_record(address, hostname, tree);
}

PtrRecord reverse_zone4(const char* address, const char* hostname) {
  return ptr_record(address, hostname, ReverseTree::in_addr_arpa);
}

}  // namespace maskery
