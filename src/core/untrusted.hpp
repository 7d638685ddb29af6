// Text that came from outside the command line (file names, lines of files, words read from
// files), made safe to show in a message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace maskery {

// At most `most` bytes of text, with "..." after when there were more, and nothing that a
// terminal would take as a control sequence: every byte below 0x20 and DEL are shown as \xHH.
std::string shown(std::string_view text, std::size_t most = 80);

}  // namespace maskery
