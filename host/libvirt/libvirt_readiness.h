#pragma once

#include "host/backend/guest_readiness.h"
#include "host/libvirt/agent_jobs.h"

namespace qor::host::libvirt {

// Whether a libvirt machine's guest is ready: its agent answers a guest-ping, and for `ip` it
// also reports an address, on the worker.
//
// The loop's thread only; it keeps nothing and never waits for the agent.
class LibvirtReadiness : public GuestReadiness {
 public:
  explicit LibvirtReadiness(AgentJobs& jobs) : jobs_(jobs) {}

  void ready(MachineKey key, std::uint32_t condition, Completion<bool> done) override;

 private:
  AgentJobs& jobs_;
};

}  // namespace qor::host::libvirt
