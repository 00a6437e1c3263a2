#include "host/libvirt/guest_agent_channel.h"

#include <cctype>
#include <utility>

namespace qor::host::libvirt {

std::string domainKey(std::string_view uuid) {
  std::string key(uuid);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

Result<nlohmann::json> AgentChannel::ask(const std::string& domainUuid, const char* command,
                                         nlohmann::json arguments) {
  nlohmann::json request = {{"execute", command}};
  if (!arguments.is_null()) request["arguments"] = std::move(arguments);
  auto reply = transport_.command(domainUuid, request, timeoutSeconds_);
  if (succeeded(reply) && anyUnclosed_) retryCloses(domainKey(domainUuid));
  return reply;
}

Result<nlohmann::json> AgentChannel::call(const std::string& domainUuid, const char* command,
                                          nlohmann::json arguments, std::string_view context) {
  auto reply = ask(domainUuid, command, std::move(arguments));
  if (const Failure* failure = failureOf(reply)) return agentFailure(failure->message, context);
  return reply;
}

Result<bool> AgentChannel::ping(const std::string& domainUuid) {
  // Short: a guest still booting is asked again soon, and the wait is the client's to bound.
  constexpr int kPingTimeoutSeconds = 1;
  const auto reply =
      transport_.command(domainUuid, {{"execute", "guest-ping"}}, kPingTimeoutSeconds);
  const Failure* failure = failureOf(reply);
  if (!failure) return true;
  if (classifyAgentFailure(failure->message) == AgentFault::notConfigured) {
    return agentFailure(failure->message, "");
  }
  return false;
}

void AgentChannel::closeLater(const std::string& domain, std::int64_t agentHandle) {
  std::lock_guard guard(mutex_);
  unclosed_[domain].push_back(agentHandle);
  anyUnclosed_ = true;
}

void AgentChannel::forget(const std::string& domain) {
  std::lock_guard guard(mutex_);
  unclosed_.erase(domain);
  anyUnclosed_ = !unclosed_.empty();
}

void AgentChannel::retryCloses(const std::string& domain) {
  std::vector<std::int64_t> handles;
  {
    std::lock_guard guard(mutex_);
    auto it = unclosed_.find(domain);
    if (it == unclosed_.end()) return;
    handles = std::move(it->second);
    unclosed_.erase(it);
    anyUnclosed_ = !unclosed_.empty();
  }
  for (std::int64_t handle : handles) {
    const auto reply = transport_.command(
        domain, {{"execute", "guest-file-close"}, {"arguments", {{"handle", handle}}}},
        timeoutSeconds_);
    const Failure* failure = failureOf(reply);
    if (failure && classifyAgentFailure(failure->message) == AgentFault::notAnswering) {
      closeLater(domain, handle);
    }
  }
}

}  // namespace qor::host::libvirt
