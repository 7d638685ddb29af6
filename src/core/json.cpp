#include "core/json.hpp"

#include <cstdint>

#include "core/address_text.hpp"

namespace maskery {

namespace {

// Length of the valid UTF-8 sequence at the start of s, or 0 (RFC 3629: no overlong forms,
// no surrogates, nothing above U+10FFFF).
std::size_t utf8_sequence(std::string_view s) noexcept {
  const auto b = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
  const std::uint8_t c = b(0);
  std::size_t n;
  std::uint8_t lo = 0x80, hi = 0xbf;  // the range of the second byte
  if (c >= 0xc2 && c <= 0xdf) {
    n = 2;
  } else if (c >= 0xe0 && c <= 0xef) {
    n = 3;
    if (c == 0xe0) lo = 0xa0;
    if (c == 0xed) hi = 0x9f;
  } else if (c >= 0xf0 && c <= 0xf4) {
    n = 4;
    if (c == 0xf0) lo = 0x90;
    if (c == 0xf4) hi = 0x8f;
  } else {
    return 0;
  }
  if (s.size() < n || b(1) < lo || b(1) > hi) return 0;
  for (std::size_t i = 2; i < n; ++i) {
    if (b(i) < 0x80 || b(i) > 0xbf) return 0;
  }
  return n;
}

}  // namespace

void append_json_string(std::string& out, std::string_view s) {
  out += '"';
  while (!s.empty()) {
    const auto c = static_cast<std::uint8_t>(s[0]);
    if (c >= 0x80) {
      const std::size_t n = utf8_sequence(s);
      if (n == 0) {
        out += "\xef\xbf\xbd";
        s.remove_prefix(1);
      } else {
        out.append(s.substr(0, n));
        s.remove_prefix(n);
      }
      continue;
    }
    s.remove_prefix(1);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHexDigits[c >> 4];
          out += kHexDigits[c & 0xf];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

}  // namespace maskery
