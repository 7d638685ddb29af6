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
  const std::string at = "maskery: " + file;
  want.err = at + ":2: invalid address specification\n" + at + ":4: " + usage + at +
             ":5: `batch' cannot be used in a batch\n" + at +
             ":6: `merge' cannot be used in a batch\n" + at +
             ":7: `--help' cannot be used in a batch\n";
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

// Lines from files are untrusted: nothing in them is cut short, misread or shown raw.
TEST(Batch, HostileLines) {
  struct Row {
    std::string text, out, err;
  };
  const std::string one = invoke({"arpa4", "1.2.3.4", "host#name"}).out;
  const std::vector<Row> rows = {
      // A comment starts where a word could start, as in the shell.
      {"arpa4 1.2.3.4 host#name\n", one, ""},
      {"arpa4 1.2.3.4 host#name #note\n", one, ""},
      {"\xef\xbb\xbf"
       "arpa4 1.2.3.4 host#name\n",
       one, ""},  // a byte-order mark first
      // A NUL in a word makes no request.
      {std::string("inet 1.2.3.4/2\0"
                   "4\n",
                   17),
       "", ":1: a NUL byte in a word: 1.2.3.4/2\\x004\n"},
      // Control bytes of a request's words are shown escaped.
      {"\x1b]0;pwned\x07\x1b[2J\n", "",
       ":1: `\\x1b]0;pwned\\x07\\x1b[2J' is an invalid address family.\n"},
      {"inet 1.2.3.4 netmask \xc2\x9b"
       "31m\n",
       "", ":1: invalid mask specification: \\xc2\\x9b31m\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const std::string file = write_file("batch_hostile", row.text);
    Outcome want = ok(row.out);
    if (!row.err.empty()) {
      want.err = "maskery: " + file + row.err;
      want.status = 1;
    }
    EXPECT_EQ(invoke({"batch", file}), want);
    fs::remove(file);
  }
}

TEST(Batch, LongLinesAreRefusedByTheirBytesAlone) {
  // Up to 1 MiB a line is read; past it, it is refused there, and its file ends.
  const std::string limit(std::size_t{1} << 20, ' ');
  const std::string file = write_file("batch_long", limit + "\n" + limit + "x\ninet hosts 1\n");
  const Outcome got = invoke({"batch", file});
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "maskery: " + file + ":2: line too long: " + std::string(80, ' ') + "...\n");
  EXPECT_EQ(got.status, 1);
  fs::remove(file);
}

TEST(Batch, JsonAccountsForEveryFile) {
  const std::string file = write_file("batch_json", "inet hosts 1\n");
  const std::string missing = (fs::temp_directory_path() / "maskery-no-such-file").string();
  const Outcome got = invoke({"--json", "batch", file, missing, file});
  const std::string host = invoke({"--json", "inet", "hosts", "1"}).out;
  EXPECT_EQ(got.out, host + "{\"error\":\"" + missing +
                         ": No such file or directory\",\"file\":\"" + missing + "\"}\n" + host);
  EXPECT_EQ(got.status, 1);
  // --json is a first word; later, it is said so rather than opened as a file.
  EXPECT_EQ(invoke({"batch", "--json"}), named_error("--json must be the first word"));
  EXPECT_EQ(invoke({"merge", "--json"}), named_error("--json must be the first word"));
  fs::remove(file);
}

}  // namespace
}  // namespace maskery::testing
