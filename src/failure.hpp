// How a run fails: the exact message and the form in which main writes it.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

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
  const std::string& text() const noexcept { return text_; }

  // The bytes for standard error, under the given program name.
  std::string render(std::string_view program_name) const;

 private:
  Form form_;
  std::string text_;
};

// The last component of the name the program was started under.
std::string_view program_name(const char* argv0) noexcept;

// Every message text of the program, in one place.
namespace msg {
inline constexpr std::string_view usage =
    "usage: maskery [inet | inet6] address [netmask | mask ] mask <print>\n"
    "       maskery [inet | inet6] address [prefixlen] len <print>\n"
    "       maskery [inet | inet6] hosts value\n"
    "       maskery [int6 | arpa6] address hostname\n"
    "       maskery stf [inet | inet6 ] address\n";
inline constexpr std::string_view invalid_address = "invalid address specification";
inline constexpr std::string_view invalid_cidr = "invalid address/cidr specification\n";
}  // namespace msg

[[noreturn]] void usage();
[[noreturn]] void fail(std::string text);               // named form
[[noreturn]] void fail_bare(std::string text);          // bare form
[[noreturn]] void invalid_mask(std::string_view word);  // "invalid mask specification: %s\n"

}  // namespace maskery
