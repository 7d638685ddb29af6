#include "core/untrusted.hpp"

#include "core/address_text.hpp"

namespace maskery {

std::string shown(std::string_view text, std::size_t most) {
  std::string s;
  for (const char ch : text.substr(0, most)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f) {
      s += "\\x";
      s += kHexDigits[c >> 4];
      s += kHexDigits[c & 0xf];
    } else {
      s += ch;
    }
  }
  if (text.size() > most) s += "...";
  return s;
}

}  // namespace maskery
