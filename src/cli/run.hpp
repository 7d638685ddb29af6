// One whole run, as main makes it: the words of the command line in, the result through the
// sink, the exit status back.
#pragma once

#include <span>

#include "core/sink.hpp"
#include "modes/run_context.hpp"

namespace maskery {

// --json, --help and --version (or -h and -V) as the first word, then the request. Returns
// the exit status, or throws Failure.
int run(std::span<const char* const> words, Sink& out, Diagnostics& diag);

}  // namespace maskery
