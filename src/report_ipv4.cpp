#include <charconv>
#include <string>

#include "report_text.hpp"
#include "reports.hpp"

namespace maskery {

namespace {

std::string hex(std::uint32_t v) {
  char buf[8];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v, 16).ptr);
}

}  // namespace

void ipv4_report(const cmdargs& cd, Sink& out) {
  const Address adr = request_address(cd);
  const std::string_view pre = line_prefix(cd);
  const unsigned long len = cd.bits;

  // Lengths above the width name a single address, as they do for IPv6: no host bits.
  const bool single = len >= 32;
  const unsigned plen = single ? 32u : static_cast<unsigned>(len);
  const Address first = unsetmask(adr, plen);
  const Address last = setmask(adr, plen);
  const Address netmask = setaddrmask(adr, plen).mask;

  std::string s;
  s.append(pre).append("range:       ").append(getipaddress(first)).append(" > ");
  s.append(getipaddress(last)).push_back('\n');
  s.append(pre).append("range b10:   ").append(std::to_string(first.v4_value()));
  s.append(" > ").append(std::to_string(last.v4_value())).push_back('\n');
  s.append(pre).append("range b16:   0x").append(hex(first.v4_value()));
  s.append(" > 0x").append(hex(last.v4_value())).push_back('\n');
  s.append(pre).append("hosts:       ");
  s.append(len > 32 ? std::string("0") : power_of_two_decimal(32 - plen)).push_back('\n');
  s.append(pre).append("prefixlen:   ").append(std::to_string(len)).push_back('\n');
  s.append(pre).append("netmask:     ").append(getipaddress(netmask)).push_back('\n');
  s.append(pre).append("mask:        ").append(getipaddress(invert_mask(netmask))).push_back('\n');
  out.write(s);

  if (cd.dorange) list_addresses(first, last, out);
}

}  // namespace maskery
