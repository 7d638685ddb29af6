#include <string>

#include "report_text.hpp"
#include "reports.hpp"

namespace maskery {

void ipv6_report(const cmdargs& cd, Sink& out) {
  const Address adr = request_address(cd);
  const std::string_view pre = line_prefix(cd);
  const unsigned long len = cd.bits;

  // Lengths above the width name a single address: the mask is all ones, no host bits.
  const unsigned plen = len >= 128 ? 128u : static_cast<unsigned>(len);
  const Address mask = setaddrmask(adr, plen).mask;
  const Address first = unsetmask(adr, plen);
  const Address last = setmask(adr, plen);

  std::string s;
  s.append(pre).append("range:       ").append(getipaddress(first)).append(" > ");
  s.append(getipaddress(last)).push_back('\n');
  s.append(pre).append("hosts:       ");
  s.append(len > 128 ? std::string("0") : power_of_two_decimal(128 - plen)).push_back('\n');
  s.append(pre).append("prefixlen:   ").append(std::to_string(len)).push_back('\n');
  s.append(pre).append("mask:        ").append(getipaddress(mask)).push_back('\n');
  out.write(s);

  if (cd.dorange) list_addresses(first, last, out);
}

}  // namespace maskery
