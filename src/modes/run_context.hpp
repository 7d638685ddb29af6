// What every mode is given: how to write, where to, where to report a failed item, and how
// to read a request from words (for batch, which reads requests from files).
#pragma once

#include <span>
#include <string_view>

#include "core/failure.hpp"
#include "core/sink.hpp"
#include "modes/requests.hpp"
#include "writers/writers.hpp"

namespace maskery {

// Where the modes that go on after a failed item (batch) report it: main writes it to
// standard error. The context ("FILE:LINE") comes before the message.
class Diagnostics {
 public:
  virtual ~Diagnostics() = default;
  virtual void report(std::string_view context, const Failure& failure) = 0;
};

// Reads words into a request, or throws Failure: the front end's reader, handed down so
// that no mode includes the front end.
using RequestReader = Request (*)(std::span<const char* const> words);

struct RunContext {
  Format format;
  Sink& out;
  Diagnostics& diag;
  RequestReader read;
};

}  // namespace maskery
