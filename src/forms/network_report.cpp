// The network report of both families: its range, size, length and masks.
#include "core/failure.hpp"
#include "core/messages.hpp"
#include "forms/forms.hpp"

namespace maskery {

namespace {

// Decimal texts of 2^0 .. 2^128, made once at compile time: a report is a table look-up.
struct PowerTable {
  char text[129][40];  // 2^128 has 39 digits
  unsigned char len[129];
};

constexpr PowerTable make_powers() {
  PowerTable t{};
  char digits[40] = {'1'};  // least significant first
  unsigned n = 1;
  for (unsigned k = 0; k <= 128; ++k) {
    for (unsigned i = 0; i < n; ++i) t.text[k][i] = digits[n - 1 - i];
    t.len[k] = static_cast<unsigned char>(n);
    unsigned carry = 0;
    for (unsigned i = 0; i < n; ++i) {
      const unsigned v = static_cast<unsigned>(digits[i] - '0') * 2 + carry;
      digits[i] = static_cast<char>('0' + v % 10);
      carry = v / 10;
    }
    if (carry != 0 && n < 40) digits[n++] = static_cast<char>('0' + carry);
  }
  return t;
}

constexpr PowerTable kPowers = make_powers();

}  // namespace

std::string_view power_of_two_decimal(unsigned k) noexcept {
  if (k > 128) k = 128;
  return {kPowers.text[k], kPowers.len[k]};
}

Address request_address(const cmdargs& cd) {
  // No address of either family is this long; such a text is refused whole, never cut.
  if (cd.address.size() >= kAddressField) fail(std::string(msg::invalid_address));
  return packadrinfo(cd.af, cd.address.c_str());
}

NetworkReport network_report(const cmdargs& cd) {
  const Address adr = request_address(cd);
  const unsigned width = adr.width();
  const unsigned long len = cd.bits;
  // Lengths above the width name a single address: the mask is all ones, no host bits.
  const unsigned plen = len >= width ? width : static_cast<unsigned>(len);
  NetworkReport r;
  r.af = cd.af;
  r.first = unsetmask(adr, plen);
  r.last = setmask(adr, plen);
  r.hosts = len > width ? std::string_view("0") : power_of_two_decimal(width - plen);
  r.prefixlen = len;
  r.netmask = netmask_of(cd.af, plen);
  if (cd.af == Family::inet) r.mask = invert_mask(r.netmask);
  r.dorange = cd.dorange;
  return r;
}

NetworkReport ipv4_report(const cmdargs& cd) {
  return network_report(cd);
}

NetworkReport ipv6_report(const cmdargs& cd) {
  return network_report(cd);
}

}  // namespace maskery
