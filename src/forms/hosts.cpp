// The host count: the prefix length a network of a number of addresses needs.
#include <cmath>
#include <cstdint>

#include "core/failure.hpp"
#include "core/numbers.hpp"
#include "forms/forms.hpp"

namespace maskery {

namespace {

// The double nearest the natural logarithm of 2: the base-2 logarithms below are a natural
// logarithm and one division by it, and the 30 decimals printed show the last bit of that.
constexpr double kLn2 = 0.6931471805599453;

}  // namespace

HostsReport mask_discover(const char* number, Family af) {
  // A count is an unsigned 32-bit number; a negative word wraps ("-1" is 4294967295). A word
  // that is not a number ("12abc", "1e3") or does not fit 32 bits at all is refused rather
  // than silently read as another count.
  const auto v = read_number_word(number);
  if (!v || v->magnitude > UINT32_MAX) invalid_mask(number);
  const auto magnitude = static_cast<std::uint32_t>(v->magnitude);
  const std::uint32_t sp = v->negative ? static_cast<std::uint32_t>(0u - magnitude) : magnitude;
  if (sp == 0) invalid_mask(number);

  const int mx = af == Family::inet6 ? 128 : 32;
  double pwr = 0;
  for (int i = 0; i <= mx; ++i) {
    pwr = std::exp2(i);
    if (pwr >= static_cast<double>(sp)) break;
  }
  const double lg = std::log(static_cast<double>(sp)) / kLn2;
  const double lg2 = std::log(pwr) / kLn2;
  return {af, mx - lg, mx - lg2, std::exp2(lg2), sp};
}

}  // namespace maskery
