#include "host/bus/direct_host.h"

#include <optional>

namespace qor::host {

DirectHost::DirectHost(Backend& backend, ManualLoop& loop, std::span<const Route> routes)
    : loop_(loop),
      backends_(backend.concerns()),
      dispatcher_(backends_, routes, &loop),
      diagnostics_(dispatcher_, {}, nullptr) {}

Reply DirectHost::handle(const Request& request) {
  std::optional<Reply> reply;
  diagnostics_.serve(request, Completion<Reply>([&reply](Result<Reply> outcome) {
                       reply = std::holds_alternative<Reply>(outcome)
                                   ? std::get<Reply>(std::move(outcome))
                                   : Reply::failure(std::get<Failure>(outcome));
                     }));
  // Each turn answers every request that waits for a timer, so a few turns are plenty.
  for (int turn = 0; !reply && turn < 8 && loop_.runPending() > 0; ++turn) {
  }
  return reply.value_or(Reply::failure(failed("The request was never answered.")));
}

}  // namespace qor::host
