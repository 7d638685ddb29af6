#include "core/failure.hpp"

#include <cstring>

namespace maskery {

std::string Failure::render(std::string_view name, std::string_view context) const {
  if (form_ == Form::bare && context.empty()) return text_;
  std::string s;
  s.reserve(name.size() + context.size() + text_.size() + 5);
  s.append(name).append(": ");
  if (!context.empty()) s.append(context).append(": ");
  s.append(text_);
  if (form_ == Form::named) s.push_back('\n');
  return s;
}

std::string_view program_name(const char* argv0) noexcept {
  if (argv0 == nullptr || *argv0 == '\0') return "maskery";
  const char* slash = std::strrchr(argv0, '/');
  return slash != nullptr ? slash + 1 : argv0;
}

void usage() {
  throw Failure(Failure::Form::bare, std::string(msg::usage));
}

void fail(std::string text) {
  throw Failure(Failure::Form::named, std::move(text));
}

void fail_bare(std::string text) {
  throw Failure(Failure::Form::bare, std::move(text));
}

void invalid_mask(std::string_view word) {
  std::string text(msg::invalid_mask);
  text.append(word).push_back('\n');
  fail_bare(std::move(text));
}

}  // namespace maskery
