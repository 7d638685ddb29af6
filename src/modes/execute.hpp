// Carrying out a request: the one place where every form is computed and written.
#pragma once

#include "modes/requests.hpp"
#include "modes/run_context.hpp"

namespace maskery {

// Computes and writes the request's result. Returns the exit status; throws Failure when the
// request fails as a whole.
int execute(const Request& request, const RunContext& ctx);

// The modes with more to them than one record, each in its own file.
int merge_mode(const MergeRequest& request, const RunContext& ctx);
int batch_mode(const BatchRequest& request, const RunContext& ctx);
int grep_mode(const GrepRequest& request, const RunContext& ctx);
int contains_mode(const ContainsRequest& request, const RunContext& ctx);
int split_mode(const SplitRequest& request, const RunContext& ctx);

}  // namespace maskery
