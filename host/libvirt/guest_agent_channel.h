#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "host/backend/result.h"
#include "host/libvirt/agent_transport.h"
#include "host/libvirt/guest_agent_errors.h"

namespace qor::host::libvirt {

// Domain UUIDs are compared in one case.
std::string domainKey(std::string_view uuid);

// The way to the machines' guest agents that the guest agent's parts share: one command at a
// time per call, with the timeout, and the closes the agent did not answer, tried again after
// its next answer so that a file does not stay open in the guest because the agent was busy
// when its client left.
//
// Its calls block on the agent (worker threads only); safe from several threads at once. It
// never holds its lock across an agent call.
class AgentChannel {
 public:
  AgentChannel(AgentTransport& transport, int timeoutSeconds)
      : transport_(transport), timeoutSeconds_(timeoutSeconds) {}

  // One agent command, its failure as the transport gave it (the caller reads libvirt's words).
  Result<nlohmann::json> ask(const std::string& domainUuid, const char* command,
                             nlohmann::json arguments);
  // The same, a failure turned into the one for the client, with `context` before the agent's
  // own words.
  Result<nlohmann::json> call(const std::string& domainUuid, const char* command,
                              nlohmann::json arguments, std::string_view context);
  // Whether the agent answers a guest-ping within a second: false while it is not there yet,
  // or silent; a failure only when it never can (the machine has no agent channel).
  Result<bool> ping(const std::string& domainUuid);
  void closeLater(const std::string& domain, std::int64_t agentHandle);
  // The machine stopped: the closes owed to its old agent are moot.
  void forget(const std::string& domain);

 private:
  void retryCloses(const std::string& domain);

  AgentTransport& transport_;
  const int timeoutSeconds_;
  std::mutex mutex_;
  std::map<std::string, std::vector<std::int64_t>> unclosed_;  // by domain
  std::atomic<bool> anyUnclosed_{false};
};

}  // namespace qor::host::libvirt
