#include "host/libvirt/agent_jobs.h"

namespace qor::host::libvirt {

void AgentJobs::noteRun(const Domains::Row& r) {
  // A new run of the machine has a new agent: whatever the old one had open is gone.
  auto [it, added] = runs_.emplace(r.uuid, r.id);
  if (!added && it->second != r.id) {
    // A stopped machine's handles are gone; a rebooted one's stay listed, stale, so that
    // their clients learn why.
    if (r.id < 0) {
      agent_.machineStopped(r.uuid);
    } else {
      agent_.agentRestarted(r.uuid);
    }
    it->second = r.id;
  }
}

std::optional<std::string> AgentJobs::known(MachineKey key) {
  const auto* r = domains_.latestRow(key);
  if (!r) return std::nullopt;
  noteRun(*r);
  return r->uuid;
}

Result<std::string> AgentJobs::askable(MachineKey key) {
  const auto* r = domains_.latestRow(key);
  if (!r) return domains_.missing();
  noteRun(*r);
  switch (r->state) {
    case VIR_DOMAIN_RUNNING:
      return r->uuid;
    case VIR_DOMAIN_PAUSED:
      return invalidState(
          "The virtual machine is paused, so its guest agent cannot answer; start it to "
          "resume it.");
    default:
      return invalidState("The virtual machine is not running, so it has no guest agent.");
  }
}

}  // namespace qor::host::libvirt
