// Runs the program in-process: words in, exact standard output, standard error and status out.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "cli/run.hpp"
#include "core/failure.hpp"
#include "core/sink.hpp"

namespace maskery::testing {

struct Outcome {
  std::string out;
  std::string err;
  int status = 0;
  friend bool operator==(const Outcome&, const Outcome&) = default;
  friend std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << "{status " << o.status << ", out \"" << o.out << "\", err \"" << o.err << "\"}";
  }
};

// Collects what a run reports as main would print it under the name maskery.
class StringDiagnostics final : public Diagnostics {
 public:
  std::string err;
  void report(std::string_view context, const Failure& f) override {
    err += f.render("maskery", context);
  }
};

// What the program prints for these words, as main would print it under the name maskery.
inline Outcome invoke(const std::vector<std::string>& words) {
  std::vector<const char*> argv;
  for (const auto& w : words) argv.push_back(w.c_str());
  StringSink out;
  StringDiagnostics diag;
  Outcome o;
  try {
    o.status = run(argv, out, diag);
    o.out = out.str();
    o.err = diag.err;
  } catch (const Failure& f) {
    o.out = out.str();
    o.err = diag.err + f.render("maskery");
    o.status = f.status();
  }
  return o;
}

// A folder of a test's own for its files, removed with it.
class TempDir {
 public:
  explicit TempDir(const std::string& tag)
      : dir_(std::filesystem::temp_directory_path() /
             ("maskery_" + tag + "_" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir_);
  }
  ~TempDir() { std::filesystem::remove_all(dir_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const noexcept { return dir_; }
  // Writes a file of these bytes in the folder; its path.
  std::string file(const std::string& name, const std::string& text) const {
    const std::filesystem::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }

 private:
  std::filesystem::path dir_;
};

inline Outcome ok(std::string out) {
  return {std::move(out), "", 0};
}
inline Outcome named_error(const std::string& text) {
  return {"", "maskery: " + text + "\n", 1};
}
inline Outcome bare_error(std::string text) {
  return {"", std::move(text), 1};
}
inline Outcome usage_error() {
  return {"", std::string(msg::usage), 1};
}

}  // namespace maskery::testing
