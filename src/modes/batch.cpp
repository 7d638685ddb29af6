// maskery batch [FILE]...: many requests in one run, one per line, each with exactly the
// output of the same words on the command line. A failed request is reported with its file
// and line, and the run goes on.
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/failure.hpp"
#include "core/input_files.hpp"
#include "core/json.hpp"
#include "core/line_reader.hpp"
#include "modes/execute.hpp"

namespace maskery {

namespace {

// A request line may be as long as the longest command-line word the kernel passes, and then
// some; memory stays bounded by this.
constexpr std::size_t kMaxRequestLine = std::size_t{1} << 20;

// Words of a request line are apart where the shell would split them: at blanks and tabs.
constexpr bool separates_words(char c) noexcept {
  return c == ' ' || c == '\t';
}

// Splits the line in place into words at blanks and tabs; "#" starts a comment.
void split_words(char* p, std::size_t size, std::vector<const char*>& words) {
  words.clear();
  char* const end = p + size;
  if (p != end && end[-1] == '\r') *(end - 1) = ' ';  // a line ending in CR LF
  for (;;) {
    while (p != end && separates_words(*p)) ++p;
    if (p == end || *p == '#') break;
    words.push_back(p);
    while (p != end && !separates_words(*p) && *p != '#') ++p;
    if (p == end) break;
    const bool comment = *p == '#';
    *p++ = '\0';
    if (comment) break;
  }
  *end = '\0';  // the reader leaves one writable byte after the line
}

bool runs_only_alone(std::string_view w) {
  return w == "batch" || w == "merge" || w == "--help" || w == "-h" || w == "--version" ||
         w == "-V" || w == "--json";
}

void write_json_error(const Failure& f, std::string_view file, unsigned long line, Sink& out) {
  std::string text = f.text();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::string s = "{\"error\":";
  append_json_string(s, text);
  s += ",\"file\":";
  append_json_string(s, file);
  s += ",\"line\":" + std::to_string(line) + "}\n";
  out.write(s);
}

}  // namespace

int batch_mode(const BatchRequest& batch, const RunContext& ctx) {
  int status = 0;
  std::vector<const char*> request;
  for (const std::string_view name : batch.files) {
    try {
      InputFile file(name);
      LineReader reader(file.fd(), kMaxRequestLine);
      LineReader::Line line;
      unsigned long number = 0;
      for (;;) {
        try {
          if (!reader.next(line)) break;
        } catch (const std::system_error& e) {
          file_failure(name, e.code().value());
        }
        ++number;
        try {
          if (line.cut) fail(std::string(msg::line_too_long));
          split_words(line.data, line.size, request);
          if (request.empty()) continue;
          if (runs_only_alone(request[0])) {
            std::string text(msg::word_quote);
            text.append(request[0]).append(msg::not_in_batch);
            fail(std::move(text));
          }
          if (execute(ctx.read(request), ctx) != 0) status = 1;
        } catch (const WriteFailure&) {
          throw;
        } catch (const Failure& f) {
          status = 1;
          const std::string where = std::string(name) + ":" + std::to_string(number);
          if (ctx.format == Format::json) write_json_error(f, name, number, ctx.out);
          ctx.diag.report(where, f);
        }
      }
    } catch (const WriteFailure&) {
      throw;
    } catch (const Failure& f) {
      status = 1;
      ctx.diag.report("", f);
    }
  }
  return status;
}

}  // namespace maskery
