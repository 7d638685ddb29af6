// The command line: which mode a run is, and the words each mode needs.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "failure.hpp"
#include "output.hpp"
#include "reports.hpp"

namespace maskery {

// Where the modes that go on after a failed item (batch) report it: main writes it to
// standard error. The context ("FILE:LINE") comes before the message.
class Diagnostics {
 public:
  virtual ~Diagnostics() = default;
  virtual void report(std::string_view context, const Failure& failure) = 0;
};

// What every mode is given: how to write, where to, and where to report.
struct RunContext {
  Format format;
  Sink& out;
  Diagnostics& diag;
};

// Reads the words of the original forms (the arguments after the program name). A
// single-shot form (stf, int6, arpa6, hosts) is carried out at once and gives no request;
// the network report forms give the request for a report. Every wrong or missing word is a
// Failure.
std::optional<cmdargs> proccmdargs(std::span<const char* const> words, Format format, Sink& out);

// One request: the new modes first, then the original forms. Returns the exit status;
// throws Failure when the request fails as a whole.
int run_request(std::span<const char* const> words, const RunContext& ctx);

// One whole run: --json, --help and --version (or -h and -V) as the first word, then the
// request. Returns the exit status, or throws Failure.
int run(std::span<const char* const> words, Sink& out, Diagnostics& diag);

// Pieces of the network words, for the modes that read a network as the reports do.
void split_cidr(std::string_view word, cmdargs& cd);
bool is_network_keyword(Family af, std::string_view word);
unsigned long keyword_bits(Family af, std::string_view keyword, const char* value);

// The modes past the network reports, each in its own source file.
int arpa4_mode(std::span<const char* const> words, const RunContext& ctx);
int zones_mode(std::span<const char* const> words, const RunContext& ctx);
int merge_mode(std::span<const char* const> words, const RunContext& ctx);
int batch_mode(std::span<const char* const> words, const RunContext& ctx);

}  // namespace maskery
