#pragma once

#include "host/libvirt/agent_transport.h"
#include "host/libvirt/connection.h"

namespace qor::host::libvirt {

// Guest-agent commands through libvirt (virDomainQemuAgentCommand) on a connection of the
// worker's; blocks its thread for up to the timeout.
class LibvirtAgentTransport : public AgentTransport {
 public:
  explicit LibvirtAgentTransport(Connection& connection) : connection_(connection) {}
  AgentReply command(const std::string& domainUuid, const nlohmann::json& request,
                     int timeoutSeconds) override;

 private:
  Connection& connection_;
};

}  // namespace qor::host::libvirt
