// The grammar of one line of a list: blank, a comment, or one item (ADDRESS, ADDRESS/LEN or
// FIRST-LAST, either family) with an optional comment after it. A comment starts at "#" or
// ";" (block lists write "1.10.16.0/20 ; SBL256894"). IPv4 is four decimal numbers 0-255
// without leading zeros: lists build filters, and the classic forms (octal, hexadecimal,
// short) are refused with the reason rather than misread.
//
// Two readers of the same grammar, side by side: quick_item reads the common lines in one
// pass straight from the input buffer and gives up on anything else; parse_item reads every
// line and gives the messages. read_item is the two in turn. They agree on every line that
// quick_item accepts (the tests hold them to it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lists/ranges.hpp"

namespace maskery {

// No item is longer; a longer line is refused unless what is kept of it ends in a comment.
inline constexpr std::size_t kMaxLine = 4096;

constexpr bool is_comment(char c) noexcept {
  return c == '#' || c == ';';
}

// One line of a list: nothing (blank or comment), or one item.
struct Item {
  enum class Kind : std::uint8_t { none, inet, inet6 } kind = Kind::none;
  bool range = false;  // written FIRST-LAST (else ADDRESS or ADDRESS/LEN)
  Range4 r4{};
  Range6 r6{};
};

// Reads one line. Throws Failure "<where>: <reason>: <text>" when the line is not an item.
Item parse_item(char* line, std::size_t size, std::string_view where);

// The same, with the common forms read in one pass first; a failure's text is
// ": <reason>: <text>".
Item read_item(char* line, std::size_t size);

// One item of the command line (a word, or a piece of a comma-separated word), read as a
// list line is. Throws Failure "<reason>: <word>" when it is not exactly one item.
Item parse_word(std::string_view word);

// A common item at p: the whole of [p, e), or, with to_newline, up to a newline before e.
// Returns where it stops (e, or the newline), or null for any other line.
const char* quick_item(const char* p, const char* e, bool to_newline, Item& item) noexcept;

}  // namespace maskery
