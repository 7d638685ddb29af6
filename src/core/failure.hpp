// How a run fails: the exact message (its text from messages.hpp) and the form in which main
// writes it.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "core/messages.hpp"

namespace maskery {

class Failure : public std::runtime_error {
 public:
  enum class Form {
    named,  // "<program name>: <text>\n"
    bare,   // the text exactly as it stands
  };

  Failure(Form form, std::string text)
      : std::runtime_error(text), form_(form), text_(std::move(text)) {}

  Form form() const noexcept { return form_; }
  // The exit status main gives it: 1, or 2 for the modes whose 1 means "no" (grep, contains).
  int status() const noexcept { return status_; }
  Failure with_status(int status) const {
    Failure f = *this;
    f.status_ = status;
    return f;
  }
  const std::string& text() const noexcept { return text_; }

  // The bytes for standard error, under the given program name; a context ("FILE:LINE")
  // comes after the name, as grep writes it: "maskery: FILE:LINE: text".
  std::string render(std::string_view program_name, std::string_view context = {}) const;

 private:
  Form form_;
  std::string text_;
  int status_ = 1;
};

// Standard output refused a write: the run cannot go on, whatever mode it is in.
class WriteFailure final : public Failure {
 public:
  explicit WriteFailure(std::string text) : Failure(Form::named, std::move(text)) {}
};

// The last component of the name the program was started under.
std::string_view program_name(const char* argv0) noexcept;

[[noreturn]] void usage();
[[noreturn]] void fail(std::string text);               // named form
[[noreturn]] void fail_bare(std::string text);          // bare form
[[noreturn]] void invalid_mask(std::string_view word);  // msg::invalid_mask, the word, "\n"

}  // namespace maskery
