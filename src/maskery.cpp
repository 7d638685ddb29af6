// The program: the command line in, the report out, and on failure one message and status 1.
#include <unistd.h>

#include <exception>
#include <span>
#include <string>
#include <string_view>

#include "failure.hpp"
#include "frontend.hpp"
#include "output.hpp"

namespace {

void write_stderr(std::string_view s) noexcept {
  while (!s.empty()) {
    const ssize_t w = ::write(STDERR_FILENO, s.data(), s.size());
    if (w <= 0) return;  // nowhere left to complain; the status still tells
    s.remove_prefix(static_cast<std::size_t>(w));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view name = maskery::program_name(argc > 0 ? argv[0] : nullptr);
  const std::span<const char* const> words(argv + (argc > 0 ? 1 : 0),
                                           static_cast<std::size_t>(argc > 0 ? argc - 1 : 0));
  maskery::FdSink out(STDOUT_FILENO);
  try {
    maskery::run(words, out);
    out.flush();
    return 0;
  } catch (const maskery::Failure& f) {
    write_stderr(f.render(name));
  } catch (const std::exception& e) {
    write_stderr(std::string(name) + ": " + e.what() + "\n");
  }
  return 1;
}
