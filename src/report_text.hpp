// Pieces of text shared by the network reports.
#pragma once

#include <string>
#include <string_view>

#include "address_primitives.hpp"
#include "reports.hpp"

namespace maskery {

inline std::string_view line_prefix(const cmdargs& cd) {
  return cd.dorange ? "; " : "";
}

// The exact decimal text of 2 to the power k, for k up to 128.
std::string power_of_two_decimal(unsigned k);

// The address of the request, or the failure "invalid address specification".
Address request_address(const cmdargs& cd);

}  // namespace maskery
