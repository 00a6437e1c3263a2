#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/libvirt/agent_transport.h"
#include "host/libvirt/connection.h"
#include "host/libvirt/guest_agent.h"

namespace qor::host::libvirt {

// The guest agent's ways into libvirt: both block their thread (the agent command for up to
// its timeout), so they run on the lanes only.

// Guest-agent commands through virDomainQemuAgentCommand, on connections of their own: libvirt
// serves a few calls of one connection at a time, and agents that do not answer must not take
// those places from the machines' lifecycle, nor all of them from other machines' agents.
class LibvirtAgentTransport : public AgentTransport {
 public:
  static constexpr std::size_t kConnections = 4;

  // nullopt: libvirt's default URI.
  explicit LibvirtAgentTransport(const std::optional<std::string>& uri);
  Result<nlohmann::json> command(const std::string& domainUuid, const nlohmann::json& request,
                                 int timeoutSeconds) override;

 private:
  Connection& connectionFor(const std::string& domainUuid);

  std::vector<std::unique_ptr<Connection>> connections_;
};

// The addresses libvirt knows of a machine without its agent (DHCP leases, the ARP table): the
// guest agent's fallback. nullopt when that source failed.
std::optional<std::vector<InterfaceAddress>> libvirtAddresses(Connection& connection,
                                                              const std::string& uuid,
                                                              AddressSource source);

}  // namespace qor::host::libvirt
