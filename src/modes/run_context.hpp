// What every mode is given: how to write, where to, where to report a failed item, and how
// to read a request from words (for batch, which reads requests from files).
#pragma once

#include <span>
#include <string_view>

#include "core/diagnostics.hpp"
#include "core/failure.hpp"
#include "core/sink.hpp"
#include "modes/requests.hpp"
#include "writers/writers.hpp"

namespace maskery {

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
