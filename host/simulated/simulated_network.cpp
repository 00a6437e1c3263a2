#include "host/simulated/simulated_network.h"

#include "host/simulated/guest_access.h"

namespace qor::host {

void SimulatedNetwork::addresses(MachineKey key, Completion<std::vector<std::string>> done) {
  auto guest = runningGuest(shared_.world, key);
  if (auto* e = failureOf(guest)) return done(*e);
  const Machine& m = *std::get<Machine*>(guest);
  if (!m.ipAddresses) {
    return done(Failure{HostErrorKind::noValue, "The guest reports no IP addresses."});
  }
  done(*m.ipAddresses);
}

}  // namespace qor::host
