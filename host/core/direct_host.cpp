#include "host/core/direct_host.h"

#include <optional>

namespace qor::host {

DirectHost::DirectHost(World world, ProcessLauncher& launcher)
    : backend_(std::move(world), launcher, loop_), dispatcher_(backend_) {}

Reply DirectHost::handle(const Request& request) {
  std::optional<Reply> reply;
  dispatcher_.handle(request, Completion<Reply>([&reply](Result<Reply> outcome) {
                       reply = std::holds_alternative<Reply>(outcome)
                                   ? std::get<Reply>(std::move(outcome))
                                   : Reply::failure(std::get<HostError>(std::move(outcome)));
                     }));
  // Each turn answers every request that waits for a timer, so a few turns are plenty.
  for (int turn = 0; !reply && turn < 8 && loop_.runPending() > 0; ++turn) {
  }
  return reply.value_or(Reply::failure(failed("The request was never answered.")));
}

}  // namespace qor::host
