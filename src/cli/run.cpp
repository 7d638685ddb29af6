#include "cli/run.hpp"

#include <string_view>

#include "cli/words.hpp"
#include "core/failure.hpp"
#include "modes/execute.hpp"

namespace maskery {

namespace {

// The words of the command line: help and version as the first word only; any other word
// that starts with "-" is an address family like any other, and wrong.
Request command_line_request(std::span<const char* const> words) {
  if (words.empty()) usage();
  const std::string_view first = words[0];
  if (first == "--help" || first == "-h") return HelpRequest{};
  if (first == "--version" || first == "-V") return VersionRequest{};
  return read_request(words);
}

}  // namespace

int run(std::span<const char* const> words, Sink& out, Diagnostics& diag) {
  RunContext ctx{Format::text, out, diag, &read_request};
  if (!words.empty() && std::string_view(words[0]) == "--json") {
    ctx.format = Format::json;
    words = words.subspan(1);
  }
  return execute(command_line_request(words), ctx);
}

}  // namespace maskery
