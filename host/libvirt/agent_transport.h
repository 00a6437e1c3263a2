#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace qor::host::libvirt {

// The answer to one guest-agent command: the agent's "return" value, or an error text (the
// agent's own "error" description, or libvirt's message when the command did not get through:
// no agent configured, not connected, machine not running, timed out).
struct AgentReply {
  std::optional<nlohmann::json> ret;
  std::optional<std::string> error;
};

// Sends one guest-agent JSON command ({"execute": ..., "arguments": {...}}) to a machine and
// waits for its reply. Blocks the calling thread for up to `timeoutSeconds`: call it from a
// worker thread, never from the host's loop.
class AgentTransport {
 public:
  virtual ~AgentTransport() = default;
  // `domainUuid` in either case.
  virtual AgentReply command(const std::string& domainUuid, const nlohmann::json& request,
                             int timeoutSeconds) = 0;
};

}  // namespace qor::host::libvirt
