#include "core/input_files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/failure.hpp"
#include "core/untrusted.hpp"

namespace maskery {

void file_failure(std::string_view name, int error) {
  fail(shown(name, std::string_view::npos) + ": " + std::strerror(error));
}

bool next_line(LineReader& reader, LineReader::Line& line, std::string_view name) {
  try {
    return reader.next(line);
  } catch (const std::system_error& e) {
    file_failure(name, e.code().value());
  }
}

InputFile::InputFile(std::string_view name) : fd_(STDIN_FILENO) {
  if (name == "-") return;
  fd_ = ::open(std::string(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) file_failure(name, errno);
}

InputFile::~InputFile() {
  if (fd_ != STDIN_FILENO) ::close(fd_);
}

}  // namespace maskery
