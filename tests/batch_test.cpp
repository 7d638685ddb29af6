// batch: each request line gives exactly the output of the same words on the command line;
// a failed line is reported with its place and the run goes on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace maskery::testing {
namespace {

namespace fs = std::filesystem;

std::string write_file(const std::string& name, const std::string& text) {
  const fs::path p = fs::temp_directory_path() / (name + std::to_string(::getpid()));
  std::ofstream(p, std::ios::binary) << text;
  return p.string();
}

TEST(Batch, EachLineAsOnTheCommandLine) {
  const std::vector<std::vector<std::string>> requests = {
      {"inet", "192.168.1.77/24"},
      {"inet6", "2001:db8::1/126", "print"},
      {"inet", "hosts", "100"},
      {"arpa6", "::1", "localhost."},
      {"int6", "::1", "x"},
      {"stf", "inet6", "2002:c000:0201::"},
      {"arpa4", "10.1.2.3", "h"},
      {"zones", "inet", "192.0.2.64/26", "cnames"},
      {"inet", "10.0.0.1", "mask", "0.0.0.255", "print"},
  };
  std::string text, want;
  for (const auto& words : requests) {
    for (const auto& w : words) text += w + (&w == &words.back() ? "" : " \t ");
    text += "  # a comment\n\n";
    want += invoke(words).out;
  }
  const std::string file = write_file("batch_ok", text);
  EXPECT_EQ(invoke({"batch", file}), ok(want));
  EXPECT_EQ(invoke({"batch", file, file}), ok(want + want));
  fs::remove(file);
}

TEST(Batch, FailedLinesAreReportedAndTheRunGoesOn) {
  const std::string file = write_file("batch_bad",
                                      "inet 10.0.0.0/30\n"
                                      "inet bogus/8\n"
                                      "   # only a comment\n"
                                      "inet\n"
                                      "batch x\n"
                                      "merge\n"
                                      "--help\n"
                                      "inet hosts 1\r\n");
  const std::string usage(msg::usage);
  Outcome want = ok(invoke({"inet", "10.0.0.0/30"}).out + invoke({"inet", "hosts", "1"}).out);
  want.status = 1;
  want.err = file + ":2: maskery: invalid address specification\n" + file + ":4: " + usage + file +
             ":5: maskery: `batch' cannot be used in a batch\n" + file +
             ":6: maskery: `merge' cannot be used in a batch\n" + file +
             ":7: maskery: `--help' cannot be used in a batch\n";
  EXPECT_EQ(invoke({"batch", file}), want);

  const std::string json_err =
      "{\"error\":\"invalid address specification\",\"file\":\"" + file + "\",\"line\":2}\n";
  const Outcome json = invoke({"--json", "batch", file});
  EXPECT_EQ(json.status, 1);
  EXPECT_NE(json.out.find(json_err), std::string::npos) << json.out;
  EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 7);  // one line per request
  fs::remove(file);

  const std::string missing = (fs::temp_directory_path() / "maskery-no-such-file").string();
  Outcome gone = {"", "maskery: " + missing + ": No such file or directory\n", 1};
  EXPECT_EQ(invoke({"batch", missing}), gone);
}

}  // namespace
}  // namespace maskery::testing
