#include "core/untrusted.hpp"

#include "core/address_text.hpp"

namespace maskery {

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

namespace {

void escape(std::string& s, std::string_view bytes) {
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    s += "\\x";
    s += kHexDigits[c >> 4];
    s += kHexDigits[c & 0xf];
  }
}

}  // namespace

std::string shown(std::string_view text, std::size_t most) {
  const std::string_view kept = text.substr(0, most);
  std::string s;
  s.reserve(kept.size());
  for (std::size_t i = 0; i < kept.size();) {
    const auto c = static_cast<unsigned char>(kept[i]);
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7f) {
        escape(s, kept.substr(i, 1));
      } else {
        s += kept[i];
      }
      ++i;
      continue;
    }
    const std::size_t n = utf8_sequence(kept.substr(i));
    if (n == 0) {
      // A byte of no character: the C1 range is a control to an 8-bit terminal.
      if (c <= 0x9f) {
        escape(s, kept.substr(i, 1));
      } else {
        s += kept[i];
      }
      ++i;
      continue;
    }
    const std::string_view seq = kept.substr(i, n);
    // U+0080 to U+009F are the C1 controls; U+FEFF (a byte-order mark) shows as nothing.
    const bool c1 = n == 2 && c == 0xc2 && static_cast<unsigned char>(seq[1]) <= 0x9f;
    if (c1 || seq == "\xef\xbb\xbf") {
      escape(s, seq);
    } else {
      s += seq;
    }
    i += n;
  }
  if (text.size() > most) s += "...";
  return s;
}

}  // namespace maskery
