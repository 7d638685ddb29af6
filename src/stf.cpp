#include <cstdint>
#include <string>

#include "failure.hpp"
#include "reports.hpp"

namespace maskery {

namespace {

// One group of one to four hexadecimal digits, as IPv6 text means it; -1 when none.
long read_group(const char*& p) noexcept {
  long v = -1;
  for (int i = 0; i < 4 && hex_digit(*p) >= 0; ++i, ++p) v = (v < 0 ? 0 : v << 4) | hex_digit(*p);
  return v;
}

// The IPv4 address in bits 16 to 47 of a 6to4 text: "2002:" and up to two groups. What
// follows the second group is not looked at, so a prefix, an address or a bare
// "2002:c000" all do.
std::uint32_t parent_of(const char* p) {
  static constexpr char head[] = "2002:";
  for (const char* h = head; *h != '\0'; ++h, ++p) {
    if (*p != *h) fail(std::string(msg::invalid_address));
  }
  const long high = read_group(p);
  if (high < 0) fail(std::string(msg::invalid_address));
  long low = 0;
  if (*p == ':' && hex_digit(p[1]) >= 0) {
    ++p;
    low = read_group(p);
  }
  return static_cast<std::uint32_t>(high) << 16 | static_cast<std::uint32_t>(low);
}

}  // namespace

StfReport stf(Family af, const char* address) {
  return {af == Family::inet ? packadrinfo(Family::inet, address)
                             : Address::v4(parent_of(address))};
}

}  // namespace maskery
