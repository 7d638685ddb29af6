// 6to4 (RFC 3056): the 2002::/16 prefix of an IPv4 address, and the IPv4 address inside one.
#include <cstdint>
#include <cstring>
#include <string>

#include "core/failure.hpp"
#include "forms/forms.hpp"

namespace maskery {

namespace {

// The IPv4 address in bits 16 to 47 of a 6to4 text: "2002:" and up to two groups. What
// follows the second group is not looked at, so a prefix, an address or a bare
// "2002:c000" all do.
std::uint32_t parent_of(const char* p) {
  const char* const e = p + std::strlen(p);
  static constexpr char head[] = "2002:";
  for (const char* h = head; *h != '\0'; ++h, ++p) {
    if (*p != *h) fail(std::string(msg::invalid_address));
  }
  // A group is one to four digits; a fifth digit is not read as part of it.
  const auto group = [e](const char*& q, unsigned& v) {
    const char* const end = e - q > 4 ? q + 4 : e;
    return read_hex_group(q, end, v);
  };
  unsigned high, low = 0;
  if (group(p, high) == 0) fail(std::string(msg::invalid_address));
  if (*p == ':' && hex_digit(p[1]) >= 0) {
    ++p;
    group(p, low);
  }
  return high << 16 | low;
}

}  // namespace

StfReport stf(Family af, const char* address) {
  return {af == Family::inet ? packadrinfo(Family::inet, address)
                             : Address::v4(parent_of(address))};
}

}  // namespace maskery
