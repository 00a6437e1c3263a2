#include "host/simulated/simulated_readiness.h"

#include "contract/codes.h"
#include "host/simulated/guest_access.h"

namespace qor::host {

void SimulatedReadiness::ready(MachineKey key, std::uint32_t condition, Completion<bool> done) {
  auto guest = runningGuest(shared_.world, key);
  if (failureOf(guest)) return done(false);
  const Machine& m = *std::get<Machine*>(guest);
  bool answers = true;
  const auto booted = shared_.bootedAt.find(key);
  const auto delay = m.extra.find("agentDelayMs");
  if (booted != shared_.bootedAt.end() && delay != m.extra.end() && delay->is_number_unsigned()) {
    const std::chrono::milliseconds startup{delay->get<std::uint64_t>()};
    answers = std::chrono::steady_clock::now() - booted->second >= startup;
  }
  if (condition == contract::code(contract::QorWaitCondition::ip)) {
    answers = answers && m.ipAddresses && !m.ipAddresses->empty();
  }
  done(answers);
}

}  // namespace qor::host
