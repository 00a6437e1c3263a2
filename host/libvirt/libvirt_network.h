#pragma once

#include "host/backend/network.h"
#include "host/libvirt/agent_jobs.h"

namespace qor::host::libvirt {

// A libvirt machine's addresses as its guest sees them: the guest agent first, libvirt's own
// sources when the agent cannot answer (GuestAgent::addresses), on the worker.
//
// The loop's thread only; it keeps nothing and never waits for the agent.
class LibvirtNetwork : public Network {
 public:
  explicit LibvirtNetwork(AgentJobs& jobs) : jobs_(jobs) {}

  void addresses(MachineKey key, Completion<std::vector<std::string>> done) override;

 private:
  AgentJobs& jobs_;
};

}  // namespace qor::host::libvirt
