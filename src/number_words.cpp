#include "number_words.hpp"

#include <string>

#include "failure.hpp"

namespace maskery {

AtoiValue read_atoi(const char* p) noexcept {
  AtoiValue v;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  if (*p == '+' || *p == '-') v.negative = *p++ == '-';
  constexpr std::uint64_t kCap = std::uint64_t{1} << 63;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const auto d = static_cast<unsigned>(*p - '0');
    v.magnitude = v.magnitude >= kCap / 10 ? kCap : v.magnitude * 10 + d;
  }
  return v;
}

unsigned long read_prefix_length(const char* word) {
  const AtoiValue v = read_atoi(word);
  if ((v.negative && v.magnitude != 0) || v.magnitude > INT32_MAX) {
    fail(std::string("invalid prefix length: ") + word);
  }
  return static_cast<unsigned long>(v.magnitude);
}

}  // namespace maskery
