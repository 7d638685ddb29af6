// maskery batch [FILE]...: many requests in one run, one per line, each with exactly the
// output of the same words on the command line. A failed request is reported with its file
// and line, and the run goes on.
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/failure.hpp"
#include "core/input_files.hpp"
#include "core/json.hpp"
#include "core/line_reader.hpp"
#include "core/untrusted.hpp"
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

// Splits the line in place into words at blanks and tabs. A "#" where a word could start
// (at the start of the line or after a blank) starts a comment, as in the shell, so that a
// line means what the same words mean on the command line. A word with a NUL byte in it is
// refused: as a C string it would end there.
void split_words(char* p, std::size_t size, std::vector<const char*>& words) {
  words.clear();
  char* const end = p + size;
  if (p != end && end[-1] == '\r') *(end - 1) = ' ';  // a line ending in CR LF
  for (;;) {
    while (p != end && separates_words(*p)) ++p;
    if (p == end || *p == '#') break;
    char* const word = p;
    while (p != end && !separates_words(*p)) ++p;
    if (std::memchr(word, '\0', static_cast<std::size_t>(p - word)) != nullptr) {
      fail(std::string(msg::nul_in_word)
               .append(": ")
               .append(shown(std::string_view(word, static_cast<std::size_t>(p - word)))));
    }
    words.push_back(word);
    if (p == end) break;
    *p++ = '\0';
  }
  *end = '\0';  // the reader leaves one writable byte after the line
}

bool runs_only_alone(std::string_view w) {
  return w == "batch" || w == "merge" || w == "grep" || w == "contains" || w == "split" ||
         w == "--help" || w == "-h" || w == "--version" || w == "-V" || w == "--json";
}

void write_json_error(const Failure& f, std::string_view file, const unsigned long* line,
                      Sink& out) {
  std::string text = f.text();
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::string s = "{\"error\":";
  append_json_string(s, text);
  s += ",\"file\":";
  append_json_string(s, file);
  if (line != nullptr) s += ",\"line\":" + std::to_string(*line);
  s += "}\n";
  out.write(s);
}

// The failure of a request read from a file, its words (untrusted text) shown escaped; the
// lines of a message of several (the usage) stay lines.
Failure escaped(const Failure& f) {
  std::string text;
  std::string_view rest = f.text();
  for (;;) {
    const std::size_t nl = rest.find('\n');
    text += shown(rest.substr(0, nl), std::string_view::npos);
    if (nl == std::string_view::npos) break;
    text += '\n';
    rest.remove_prefix(nl + 1);
  }
  return Failure(f.form(), std::move(text));
}

}  // namespace

int batch_mode(const BatchRequest& batch, const RunContext& ctx) {
  int status = 0;
  std::vector<const char*> request;
  for (const std::string_view name : batch.files) {
    const std::string shown_name = shown(name, std::string_view::npos);
    try {
      InputFile file(name);
      LineReader reader(file.fd(), kMaxRequestLine);
      LineReader::Line line;
      unsigned long number = 0;
      while (next_line(reader, line, name)) {
        ++number;
        if (number == 1) skip_byte_order_mark(line);
        const std::string where = shown_name + ":" + std::to_string(number);
        try {
          if (line.cut) {
            // Known too long as its limit is passed; its rest may never end (/dev/zero), so
            // the file ends here.
            fail(std::string(msg::line_too_long)
                     .append(": ")
                     .append(shown(std::string_view(line.data, line.size))));
          }
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
        } catch (const Failure& raw) {
          status = 1;
          if (ctx.format == Format::json) write_json_error(raw, name, &number, ctx.out);
          ctx.diag.report(where, escaped(raw));
          if (line.cut) break;
        }
      }
    } catch (const WriteFailure&) {
      throw;
    } catch (const Failure& f) {
      status = 1;
      if (ctx.format == Format::json) write_json_error(f, name, nullptr, ctx.out);
      ctx.diag.report("", f);
    }
  }
  return status;
}

}  // namespace maskery
