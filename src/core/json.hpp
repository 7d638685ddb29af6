// JSON pieces for the writers: strings escaped so that any word (any bytes) makes valid JSON.
#pragma once

#include <string>
#include <string_view>

namespace maskery {

// Appends s as a JSON string, quotes included. Quotes, backslashes and control characters
// are escaped; valid UTF-8 passes through; every byte that is not part of valid UTF-8
// becomes U+FFFD, since JSON text must be UTF-8 and a word may hold any bytes.
void append_json_string(std::string& out, std::string_view s);

// The start of an object whose first key is the family: {"family":"inet"
inline std::string json_object_of(std::string_view family) {
  std::string s = "{\"family\":\"";
  s.append(family).push_back('"');
  return s;
}

}  // namespace maskery
