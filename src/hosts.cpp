#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "failure.hpp"
#include "number_words.hpp"
#include "reports.hpp"

namespace maskery {

namespace {

// The double nearest the natural logarithm of 2: the base-2 logarithms below are a natural
// logarithm and one division by it, and the 30 decimals printed show the last bit of that.
constexpr double kLn2 = 0.6931471805599453;

std::string format_double(const char* format, double v) {
  char buf[512];  // "%.30f" of a value below 2^129 needs about 70
  const int n = std::snprintf(buf, sizeof buf, format, v);
  return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace

void mask_discover(const char* number, Family af, Sink& out) {
  // A count is an unsigned 32-bit number; a negative word wraps ("-1" is 4294967295), and a
  // magnitude that does not fit 32 bits at all is refused rather than silently mangled.
  const AtoiValue v = read_atoi(number);
  if (v.magnitude > UINT32_MAX) invalid_mask(number);
  const auto magnitude = static_cast<std::uint32_t>(v.magnitude);
  const std::uint32_t sp = v.negative ? static_cast<std::uint32_t>(0u - magnitude) : magnitude;
  if (sp == 0) invalid_mask(number);

  const int mx = af == Family::inet6 ? 128 : 32;
  double pwr = 0;
  for (int i = 0; i <= mx; ++i) {
    pwr = std::exp2(i);
    if (pwr >= static_cast<double>(sp)) break;
  }
  const double lg = std::log(static_cast<double>(sp)) / kLn2;
  const double lg2 = std::log(pwr) / kLn2;

  std::string s = "theoretical len: " + format_double("%.30f", mx - lg) + '\n';
  s += "working len:     " + format_double("%.0f", mx - lg2) + '\n';
  s += "hosts:           " + format_double("%.0f", std::exp2(lg2)) + '\n';
  out.write(s);
}

}  // namespace maskery
