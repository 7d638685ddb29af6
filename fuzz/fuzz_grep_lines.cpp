// A line of a log, any bytes, as grep reads it. Properties: no crash or sanitizer report;
// every address found lies within the line, after the one before, with no word character
// right before or after it; its text is one that the plain readers accept (IPv6 text, or
// four decimal numbers 0-255), with the value found; and whether it lies in a set of
// networks is what a plain interval test says. Read as the first line of a window of lines,
// the text up to its first newline gives the same addresses as alone, and the scan ends at
// that newline.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/address_text.hpp"
#include "lists/lookup.hpp"
#include "lists/text_addresses.hpp"

namespace {

bool word(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// Four decimal numbers 0-255, leading zeros allowed, and nothing else.
bool plain_v4(const std::string& s, std::uint32_t& v) {
  v = 0;
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    unsigned n = 0;
    std::size_t digits = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++digits)
      n = n * 10 + unsigned(s[i] - '0');
    if (digits == 0 || digits > 3 || n > 255) return false;
    v = v << 8 | n;
    if (part < 3 && (i == s.size() || s[i++] != '.')) return false;
  }
  return i == s.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const char* const b = line.data();
  const char* const e = b + line.size();
  using maskery::Range4;
  using maskery::Range6;
  using maskery::u128;
  const Range4 set4[] = {{0x0a000000, 0x0affffff}, {0xc0a80100, 0xc0a801ff}};
  const Range6 set6[] = {{u128{0x20010db8} << 96, (u128{0x20010db8} << 96) | ~(~u128{0} << 96)}};
  const char* previous = b;
  maskery::for_each_address(b, e, [&](const maskery::TextAddress& a) {
    if (a.begin < previous || a.end <= a.begin || a.end > e) std::abort();
    previous = a.end;
    if (a.begin != b && word(a.begin[-1]) && a.begin[-1] != ':') std::abort();
    if (a.end != e && word(*a.end)) std::abort();
    const std::string text(a.begin, a.end);
    if (a.v6) {
      unsigned char want[16];
      if (text.find('\0') != std::string::npos || inet_pton(AF_INET6, text.c_str(), want) != 1) {
        std::abort();
      }
      u128 v = 0;
      for (const unsigned char x : want) v = v << 8 | x;
      if (v != a.value6) std::abort();
      const bool in = v >= set6[0].first && v <= set6[0].last;
      if (in != (maskery::find_range(std::span<const Range6>(set6), a.value6) != nullptr)) {
        std::abort();
      }
    } else {
      std::uint32_t v;
      if (!plain_v4(text, v) || v != a.v4) std::abort();
      bool in = false;
      for (const Range4& r : set4) in = in || (v >= r.first && v <= r.last);
      if (in != (maskery::find_range(std::span<const Range4>(set4), a.v4) != nullptr)) std::abort();
    }
    return true;
  });

  // The first line, alone and followed by a newline and more lines.
  const std::size_t nl = line.find('\n');
  const std::string first = line.substr(0, nl);
  const std::string window = first + "\n" + line + "\n";
  struct Seen {
    std::ptrdiff_t begin, end;
    bool v6;
    u128 value;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> alone, in_window;
  maskery::for_each_address(
      first.data(), first.data() + first.size(), [&](const maskery::TextAddress& a) {
        alone.push_back(
            {a.begin - first.data(), a.end - first.data(), a.v6, a.v6 ? a.value6 : a.v4});
        return true;
      });
  const char* end = maskery::for_each_address_in_line(
      window.data(), window.data() + window.size(), [&](const maskery::TextAddress& a) {
        in_window.push_back(
            {a.begin - window.data(), a.end - window.data(), a.v6, a.v6 ? a.value6 : a.v4});
        return true;
      });
  if (end != window.data() + first.size() || alone != in_window) std::abort();
  return 0;
}
