#include "core/json.hpp"

#include <cstdint>

#include "core/address_text.hpp"
#include "core/untrusted.hpp"

namespace maskery {

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
