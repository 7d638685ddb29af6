// The program: the command line in, the result out, and on failure one message and status 1.
#include <unistd.h>

#include <exception>
#include <span>
#include <string>
#include <string_view>

#include "cli/run.hpp"
#include "core/failure.hpp"
#include "core/sink.hpp"

namespace {

void write_stderr(std::string_view s) noexcept {
  while (!s.empty()) {
    const ssize_t w = ::write(STDERR_FILENO, s.data(), s.size());
    if (w <= 0) return;  // nowhere left to complain; the status still tells
    s.remove_prefix(static_cast<std::size_t>(w));
  }
}

// Messages of a run that goes on after a failed item: standard output first, so that a
// terminal shows them in the order of the input.
class StderrDiagnostics final : public maskery::Diagnostics {
 public:
  StderrDiagnostics(std::string_view name, maskery::Sink& out) : name_(name), out_(out) {}
  void report(std::string_view context, const maskery::Failure& f) override {
    out_.flush();
    write_stderr(f.render(name_, context));
  }

 private:
  std::string_view name_;
  maskery::Sink& out_;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string_view name = maskery::program_name(argc > 0 ? argv[0] : nullptr);
  const std::span<const char* const> words(argv + (argc > 0 ? 1 : 0),
                                           static_cast<std::size_t>(argc > 0 ? argc - 1 : 0));
  maskery::FdSink out(STDOUT_FILENO);
  StderrDiagnostics diag(name, out);
  try {
    const int status = maskery::run(words, out, diag);
    out.flush();
    return status;
  } catch (const maskery::Failure& f) {
    write_stderr(f.render(name));
    return f.status();
  } catch (const std::exception& e) {
    write_stderr(std::string(name) + ": " + e.what() + "\n");
  }
  return 1;
}
