#include "modes/execute.hpp"

#include <string>
#include <type_traits>

#include "version.hpp"

namespace maskery {

int execute(const Request& request, const RunContext& ctx) {
  return std::visit(
      [&](const auto& r) -> int {
        using T = std::decay_t<decltype(r)>;
        if constexpr (std::is_same_v<T, ReportRequest>) {
          write_result(network_report(r.network), ctx.format, ctx.out);
        } else if constexpr (std::is_same_v<T, HostsRequest>) {
          write_result(mask_discover(r.count, r.af), ctx.format, ctx.out);
        } else if constexpr (std::is_same_v<T, PtrRequest>) {
          write_result(ptr_record(r.address, r.hostname, r.tree), ctx.format, ctx.out);
        } else if constexpr (std::is_same_v<T, StfRequest>) {
          write_result(stf(r.af, r.address), ctx.format, ctx.out);
        } else if constexpr (std::is_same_v<T, ZonesRequest>) {
          write_result(reverse_zones(request_address(r.network), r.network.bits, r.style, r.cnames),
                       ctx.format, ctx.out);
        } else if constexpr (std::is_same_v<T, MergeRequest>) {
          return merge_mode(r, ctx);
        } else if constexpr (std::is_same_v<T, GrepRequest>) {
          return grep_mode(r, ctx);
        } else if constexpr (std::is_same_v<T, ContainsRequest>) {
          return contains_mode(r, ctx);
        } else if constexpr (std::is_same_v<T, SplitRequest>) {
          return split_mode(r, ctx);
        } else if constexpr (std::is_same_v<T, BatchRequest>) {
          return batch_mode(r, ctx);
        } else if constexpr (std::is_same_v<T, HelpRequest>) {
          ctx.out.write(msg::usage);
          ctx.out.write(msg::help);
        } else {
          static_assert(std::is_same_v<T, VersionRequest>);
          ctx.out.write(std::string("maskery ").append(kVersion).append("\n"));
        }
        return 0;
      },
      request);
}

}  // namespace maskery
