// Text that came from outside the command line (file names, lines of files, words read from
// files), made safe to show in a message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace maskery {

// At most `most` bytes of text, with "..." after when there were more, and nothing that a
// terminal would take as a control sequence: the C0 controls, DEL, the C1 controls (as raw
// bytes 0x80-0x9f, or as UTF-8) and the invisible byte-order mark are shown as \xHH, byte
// by byte. Valid UTF-8 text otherwise passes as it is.
std::string shown(std::string_view text, std::size_t most = 80);

// Length of the valid UTF-8 sequence at the start of s, or 0 (RFC 3629: no overlong forms,
// no surrogates, nothing above U+10FFFF).
std::size_t utf8_sequence(std::string_view s) noexcept;

}  // namespace maskery
