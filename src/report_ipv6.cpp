#include "reports.hpp"

namespace maskery {

NetworkReport ipv6_report(const cmdargs& cd) {
  const Address adr = request_address(cd);
  const unsigned long len = cd.bits;
  // Lengths above the width name a single address: the mask is all ones, no host bits.
  const unsigned plen = len >= 128 ? 128u : static_cast<unsigned>(len);
  NetworkReport r;
  r.af = Family::inet6;
  r.netmask = setaddrmask(adr, plen).mask;
  r.first = unsetmask(adr, plen);
  r.last = setmask(adr, plen);
  r.hosts = len > 128 ? std::string_view("0") : power_of_two_decimal(128 - plen);
  r.prefixlen = len;
  r.dorange = cd.dorange;
  return r;
}

}  // namespace maskery
