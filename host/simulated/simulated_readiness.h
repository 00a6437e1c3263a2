#pragma once

#include "host/backend/guest_readiness.h"
#include "host/simulated/world.h"

namespace qor::host {

// When a simulated guest is ready: its agent answers once the machine's "agentDelayMs" (a key
// of the world file; none: at once) has passed since this host booted it, and `ip` also needs
// an address in the world. It reads the world and never changes it; it answers at once.
class SimulatedReadiness : public GuestReadiness {
 public:
  explicit SimulatedReadiness(SharedWorld& shared) : shared_(shared) {}
  void ready(MachineKey key, std::uint32_t condition, Completion<bool> done) override;

 private:
  SharedWorld& shared_;
};

}  // namespace qor::host
