// Opening the files a mode reads: "-" is standard input.
#pragma once

#include <string>
#include <string_view>

#include "core/line_reader.hpp"

namespace maskery {

// An open file, closed on destruction (standard input is left open).
class InputFile {
 public:
  // Throws Failure "NAME: <reason>" when the file cannot be opened.
  explicit InputFile(std::string_view name);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  int fd() const noexcept { return fd_; }

 private:
  int fd_;
};

// The failure "NAME: <reason>" for a file that could not be read, the name shown escaped.
[[noreturn]] void file_failure(std::string_view name, int error);

// The next line of the file named name, or false at its end; a read error is the failure
// above.
bool next_line(LineReader& reader, LineReader::Line& line, std::string_view name);

}  // namespace maskery
