// JSON pieces for the writers: strings escaped so that any word (any bytes) makes valid JSON.
#pragma once

#include <string>
#include <string_view>

namespace maskery {

// Appends s as a JSON string, quotes included. Quotes, backslashes and control characters
// are escaped; valid UTF-8 passes through; every byte that is not part of valid UTF-8
// becomes U+FFFD, since JSON text must be UTF-8 and a word may hold any bytes.
void append_json_string(std::string& out, std::string_view s);

// Appends "key": with its comma when it is not the first key of the object.
inline void append_json_key(std::string& out, std::string_view key) {
  if (out.back() != '{') out += ',';
  out += '"';
  out += key;
  out += "\":";
}

}  // namespace maskery
