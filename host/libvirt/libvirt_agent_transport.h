#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/libvirt/agent_transport.h"
#include "host/libvirt/connection.h"
#include "host/libvirt/guest_agent.h"

namespace qor::host::libvirt {

// The guest agent's ways into libvirt, on a connection of the worker's: both block their
// thread (the agent command for up to its timeout), so they run on worker threads only.

// Guest-agent commands through virDomainQemuAgentCommand.
class LibvirtAgentTransport : public AgentTransport {
 public:
  explicit LibvirtAgentTransport(Connection& connection) : connection_(connection) {}
  Result<nlohmann::json> command(const std::string& domainUuid, const nlohmann::json& request,
                                 int timeoutSeconds) override;

 private:
  Connection& connection_;
};

// The addresses libvirt knows of a machine without its agent (DHCP leases, the ARP table): the
// guest agent's fallback. nullopt when that source failed.
std::optional<std::vector<InterfaceAddress>> libvirtAddresses(Connection& connection,
                                                              const std::string& uuid,
                                                              AddressSource source);

}  // namespace qor::host::libvirt
