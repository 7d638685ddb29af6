// The command line: which mode a run is, and the words each mode needs.
#pragma once

#include <optional>
#include <span>

#include "output.hpp"
#include "reports.hpp"

namespace maskery {

// Reads the words (the arguments after the program name). A single-shot mode (stf, int6,
// arpa6, hosts) is carried out at once and gives no request; the network report forms give
// the request for a report. Every wrong or missing word is a Failure.
std::optional<cmdargs> proccmdargs(std::span<const char* const> words, Sink& out);

// One whole run: the words to the output, or a Failure. --help and --version (or -h and -V)
// as the first word print the usage text or the version to the output.
void run(std::span<const char* const> words, Sink& out);

}  // namespace maskery
