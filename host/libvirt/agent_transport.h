#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "host/backend/result.h"

namespace qor::host::libvirt {

// Sends one guest-agent JSON command ({"execute": ..., "arguments": {...}}) to a machine and
// waits for its reply: the agent's "return" value, or a failure whose message is the agent's
// own "error" description, or libvirt's message when the command did not get through (no agent
// configured, not connected, machine not running, timed out); the guest agent reads that
// message to tell which.
//
// Blocks the calling thread for up to `timeoutSeconds`: call it from a worker thread, never
// from the host's loop.
class AgentTransport {
 public:
  virtual ~AgentTransport() = default;
  // `domainUuid` in either case.
  virtual Result<nlohmann::json> command(const std::string& domainUuid,
                                         const nlohmann::json& request, int timeoutSeconds) = 0;
};

}  // namespace qor::host::libvirt
