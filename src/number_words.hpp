// Numbers in command-line words, read the way atoi reads them: leading white space, an
// optional sign, then the leading digits; no digits reads as 0.
#pragma once

#include <cstdint>

namespace maskery {

struct AtoiValue {
  bool negative = false;
  std::uint64_t magnitude = 0;  // saturates near 2^63; every caller's limit is far below
};

AtoiValue read_atoi(const char* word) noexcept;

// A prefix length word: negative values and values above INT32_MAX are the failure
// "invalid prefix length: <word>".
unsigned long read_prefix_length(const char* word);

}  // namespace maskery
