// Where a run that goes on after a failed item (a batch line, a skipped list line) reports
// it: main writes it to standard error, after what standard output holds so far.
#pragma once

#include <string_view>

#include "core/failure.hpp"

namespace maskery {

class Diagnostics {
 public:
  virtual ~Diagnostics() = default;
  // The context ("FILE:LINE", or empty) comes before the message.
  virtual void report(std::string_view context, const Failure& failure) = 0;
};

}  // namespace maskery
