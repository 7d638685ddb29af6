#include "core/numbers.hpp"

#include <string>

#include "core/address_text.hpp"
#include "core/failure.hpp"

namespace maskery {

std::optional<NumberWord> read_number_word(const char* p) noexcept {
  NumberWord v;
  while (is_blank(*p)) ++p;
  if (*p == '+' || *p == '-') v.negative = *p++ == '-';
  if (!(*p >= '0' && *p <= '9')) return std::nullopt;
  constexpr std::uint64_t kCap = std::uint64_t{1} << 63;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const auto d = static_cast<unsigned>(*p - '0');
    v.magnitude = v.magnitude >= kCap / 10 ? kCap : v.magnitude * 10 + d;
  }
  if (*p != '\0') return std::nullopt;
  return v;
}

unsigned long read_prefix_length(const char* word) {
  const auto v = read_number_word(word);
  if (!v || (v->negative && v->magnitude != 0) || v->magnitude > INT32_MAX) {
    fail(std::string(msg::invalid_prefix_length) + word);
  }
  return static_cast<unsigned long>(v->magnitude);
}

}  // namespace maskery
