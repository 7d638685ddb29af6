#include "lists/text_addresses.hpp"

#include "core/address_text.hpp"

namespace maskery::text_addresses {

// The token [b, e), which holds a colon, as IPv6 text, a full stop after it left out; out.end is
// where the address stops. Returns the end of what it read, or null.
const char* scan_v6_token(const char* b, const char* e, TextAddress& out) noexcept {
  const char* end = e;
  if (end[-1] == '.') --end;  // a full stop ends a sentence
  u128 v;
  if (scan_ipv6(b, end, v) != end) return nullptr;
  out.begin = b;
  out.end = end;
  out.v6 = true;
  out.value6 = v;
  out.mapped = v >> 32 == 0xffff;
  out.v4 = static_cast<std::uint32_t>(v);
  return end;
}

}  // namespace maskery::text_addresses
