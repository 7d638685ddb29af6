#include "report_text.hpp"

#include <algorithm>

#include "failure.hpp"

namespace maskery {

std::string power_of_two_decimal(unsigned k) {
  std::string digits = "1";  // least significant digit first
  for (unsigned i = 0; i < k; ++i) {
    unsigned carry = 0;
    for (char& d : digits) {
      const unsigned v = static_cast<unsigned>(d - '0') * 2 + carry;
      d = static_cast<char>('0' + v % 10);
      carry = v / 10;
    }
    if (carry != 0) digits.push_back(static_cast<char>('0' + carry));
  }
  std::reverse(digits.begin(), digits.end());
  return digits;
}

Address request_address(const cmdargs& cd) {
  // No address of either family is this long; such a text is refused whole, never cut.
  if (cd.address.size() >= kAddressField) fail(std::string(msg::invalid_address));
  return packadrinfo(cd.af, cd.address.c_str());
}

}  // namespace maskery
