// Numbers in command-line words: optional leading white space, an optional sign, then one or
// more decimal digits and nothing after them. Anything else is a typo, never a number.
#pragma once

#include <cstdint>
#include <optional>

namespace maskery {

struct NumberWord {
  bool negative = false;
  std::uint64_t magnitude = 0;  // saturates near 2^63; every caller's limit is far below
};

// The number in the word, or nothing when the word is not of that shape ("24x", "0x18",
// "64.0", "24 ", "", "abc").
std::optional<NumberWord> read_number_word(const char* word) noexcept;

// A prefix length word: anything but a number from 0 to INT32_MAX is the failure
// "invalid prefix length: <word>".
unsigned long read_prefix_length(const char* word);

}  // namespace maskery
