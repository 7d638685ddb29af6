// The front end's reader: the words of a command line (or of a batch line) into a request.
// It checks the shape of the words and nothing more; it computes and writes nothing.
#pragma once

#include <span>

#include "modes/requests.hpp"

namespace maskery {

// The words after --json, or throws Failure for a wrong or missing word.
Request read_request(std::span<const char* const> words);

// The words of the original forms (inet, inet6, stf, int6, arpa6).
Request proccmdargs(std::span<const char* const> words);

}  // namespace maskery
