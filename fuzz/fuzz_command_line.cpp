// The whole command line, in-process. The input is the words, one per line. Properties: no
// crash or sanitizer report, and every run ends either with output and success, or with
// no output and exactly one of the program's own messages.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/run.hpp"
#include "core/failure.hpp"
#include "core/sink.hpp"

namespace {

struct Stop {};  // a listing long enough: cut it here

class CappedSink final : public maskery::Sink {
 public:
  std::size_t bytes = 0;

 protected:
  void drain(const char*, std::size_t n) override {
    bytes += n;
    if (bytes > (std::size_t{1} << 19)) throw Stop{};
  }
};

class NullDiagnostics final : public maskery::Diagnostics {
 public:
  void report(std::string_view, const maskery::Failure&) override {}
};

bool starts_with(std::string_view s, std::string_view p) {
  return s.substr(0, p.size()) == p;
}

// One of the program's own messages, as the messages file gives them.
bool known_message(const maskery::Failure& f) {
  namespace msg = maskery::msg;
  using Form = maskery::Failure::Form;
  const std::string& t = f.text();
  if (f.form() == Form::bare) {
    return t == msg::usage || t == msg::invalid_cidr ||
           (starts_with(t, msg::invalid_mask) && t.back() == '\n');
  }
  for (const std::string_view exact : msg::word_failures) {
    if (t == exact) return true;
  }
  for (const std::string_view head : msg::word_failure_heads) {
    if (starts_with(t, head)) return true;
  }
  for (const std::string_view reason : msg::item_failures) {
    if (starts_with(t, std::string(reason) + ": ")) return true;
  }
  // "/LEN is shorter than the network NETWORK"
  if (starts_with(t, "/") && t.find(msg::shorter_than_network) != std::string::npos) return true;
  return starts_with(t, msg::word_quote) && t.size() > msg::unknown_form.size() &&
         t.ends_with(msg::unknown_form);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words(1);
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\n') {
      words.emplace_back();
    } else if (c != '\0') {  // a command-line word cannot hold a NUL
      words.back() += c;
    }
  }
  if (size == 0) words.clear();
  std::vector<const char*> argv;
  for (const auto& w : words) argv.push_back(w.c_str());
  // The modes that read files (standard input, or any path the input names, such as
  // /dev/zero) are fuzzed through their lines by fuzz_merge_lines, not here.
  const std::size_t at = !words.empty() && words[0] == "--json" ? 1 : 0;
  if (words.size() > at && (words[at] == "merge" || words[at] == "batch" || words[at] == "grep")) {
    return 0;
  }
  for (const auto& w : words) {
    if (w.starts_with("--except")) return 0;  // split's lists
  }
  // contains answers with its status alone.
  const bool quiet = words.size() > at && words[at] == "contains" && at == 0;

  CappedSink out;
  try {
    NullDiagnostics diag;
    maskery::run(argv, out, diag);
    out.flush();
    if (out.bytes == 0 && !quiet) std::abort();  // success says something
  } catch (const Stop&) {
    // A long listing, cut short.
  } catch (const maskery::Failure& f) {
    out.flush();
    if (out.bytes != 0) std::abort();  // failures come before any output
    if (!known_message(f)) std::abort();
  }
  return 0;
}
