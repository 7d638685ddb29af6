#include "core/failure.hpp"

#include <cstring>

namespace maskery {

std::string Failure::render(std::string_view name) const {
  if (form_ == Form::bare) return text_;
  std::string s;
  s.reserve(name.size() + text_.size() + 3);
  s.append(name).append(": ").append(text_).push_back('\n');
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
