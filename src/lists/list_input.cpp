#include "lists/list_input.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <exception>
#include <limits>
#include <string>
#include <system_error>
#include <thread>

#include "core/failure.hpp"
#include "core/input_files.hpp"
#include "core/line_reader.hpp"
#include "core/untrusted.hpp"
#include "lists/list_line.hpp"
#include "lists/threads.hpp"

namespace maskery {

namespace {

// What one reader of a part of a file found: its sets, its lines, and the first failure.
struct Part {
  ListSets sets;
  unsigned long lines = 0;
  std::string error;  // ": <reason>: <text>" of the first bad line, or empty
  unsigned long error_line = 0;
  int read_error = 0;  // errno of a failed read
};

void add(ListSets& sets, const Item& item) {
  if (item.kind == Item::Kind::inet) {
    sets.v4.add(item.r4);
  } else if (item.kind == Item::Kind::inet6) {
    sets.v6.add(item.r6);
  }
}

void read_part(LineReader& reader, Part& part) {
  LineReader::Line line;
  for (;;) {
    try {
      // Whole lines of the common forms straight from the buffer: each finds its own end,
      // which spared a search for the newline before every line. Any other line, and the
      // last one without a newline, go the general way below.
      const char* b;
      const char* e;
      while (reader.window(b, e)) {
        const char* p = b;
        Item item;
        while (p != e) {
          const char* nl = quick_item(p, e, true, item);
          if (nl == nullptr) break;
          ++part.lines;
          add(part.sets, item);
          p = nl + 1;
        }
        reader.consume(p);
        if (p != e) break;
      }
      if (!reader.next(line)) return;
    } catch (const std::system_error& e) {
      part.read_error = e.code().value();
      return;
    }
    ++part.lines;
    // The same rule whether or not the reader had to cut the line: no item is this long,
    // so only a comment can make such a line acceptable.
    if ((line.cut || line.size > kMaxLine) && std::memchr(line.data, '#', kMaxLine) == nullptr) {
      part.error = ": line too long: " + shown(std::string_view(line.data, line.size));
      part.error_line = part.lines;
      return;
    }
    Item item;
    try {
      item = read_item(line.data, line.size);
    } catch (const Failure& f) {
      part.error = f.text();
      part.error_line = part.lines;
      return;
    }
    add(part.sets, item);
  }
}

// Where the second half of a regular file starts: just after the first newline at or past
// its middle, or 0 when the file is too small to be worth a second reader.
off_t second_half(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < (off_t{8} << 20)) return 0;
  char buf[kMaxLine];
  for (off_t at = st.st_size / 2; at < st.st_size;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, at);
    if (n <= 0) return 0;
    if (const void* nl = std::memchr(buf, '\n', static_cast<std::size_t>(n))) {
      return at + (static_cast<const char*>(nl) - buf) + 1;
    }
    at += n;
  }
  return 0;
}

}  // namespace

void read_list(std::string_view name, ListSets& sets) {
  InputFile file(name);
  Part first, second;
  const off_t mid = list_threads() > 1 ? second_half(file.fd()) : 0;
  if (mid == 0) {
    LineReader reader(file.fd(), kMaxLine);
    read_part(reader, first);
  } else {
    LineReader head(file.fd(), kMaxLine, 0, static_cast<std::size_t>(mid));
    LineReader tail(file.fd(), kMaxLine, mid, std::numeric_limits<std::size_t>::max());
    std::exception_ptr lost;  // what the helper could not handle (memory, say), for here
    std::thread helper([&] {
      try {
        read_part(tail, second);
      } catch (...) {
        lost = std::current_exception();
      }
    });
    try {
      read_part(head, first);
    } catch (...) {
      helper.join();
      throw;
    }
    helper.join();
    if (lost) std::rethrow_exception(lost);
  }
  // The first failure in the order of the file.
  if (first.read_error != 0) file_failure(name, first.read_error);
  const auto fail_at = [&](unsigned long line, const std::string& text) {
    fail(std::string(name) + ":" + std::to_string(line) + text);
  };
  if (!first.error.empty()) fail_at(first.error_line, first.error);
  if (second.read_error != 0) file_failure(name, second.read_error);
  if (!second.error.empty()) fail_at(first.lines + second.error_line, second.error);
  sets.absorb(std::move(first.sets));
  sets.absorb(std::move(second.sets));
}

}  // namespace maskery
