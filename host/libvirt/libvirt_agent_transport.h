#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/libvirt/agent_transport.h"
#include "host/libvirt/connection.h"
#include "host/libvirt/guest_agent.h"

namespace qor::host::libvirt {

// The guest agent's ways into libvirt: both block their thread (the agent command for up to
// its timeout), so they run on the lanes only.

// Guest-agent commands through virDomainQemuAgentCommand, on a connection per machine: an agent
// that does not answer holds a call of its connection for up to the timeout, and must hold up
// neither the machines' lifecycle nor another machine's agent (a shared connection did, for
// seconds).
class LibvirtAgentTransport : public AgentTransport {
 public:
  // nullopt: libvirt's default URI.
  explicit LibvirtAgentTransport(std::optional<std::string> uri) : uri_(std::move(uri)) {}
  Result<nlohmann::json> command(const std::string& domainUuid, const nlohmann::json& request,
                                 int timeoutSeconds) override;

 private:
  Connection& connectionFor(const std::string& domainUuid);

  std::optional<std::string> uri_;
  std::mutex mutex_;  // guards the table; a connection is safe from any thread
  std::map<std::string, std::unique_ptr<Connection>> connections_;  // by machine
};

// The addresses libvirt knows of a machine without its agent (DHCP leases, the ARP table): the
// guest agent's fallback. nullopt when that source failed.
std::optional<std::vector<InterfaceAddress>> libvirtAddresses(Connection& connection,
                                                              const std::string& uuid,
                                                              AddressSource source);

}  // namespace qor::host::libvirt
