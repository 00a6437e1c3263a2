#include "host/libvirt/guest_agent_channel.h"

#include <cctype>
#include <utility>

namespace qor::host::libvirt {

std::string domainKey(std::string_view uuid) {
  std::string key(uuid);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

AgentChannel::Machine& AgentChannel::machine(const std::string& domain) {
  std::lock_guard guard(mutex_);
  return machines_[domain];
}

Result<nlohmann::json> AgentChannel::send(const std::string& domain,
                                          const nlohmann::json& request) {
  return transport_.command(domain, request, timeoutSeconds_);
}

Result<nlohmann::json> AgentChannel::ask(const std::string& domainUuid, const char* command,
                                         nlohmann::json arguments) {
  const std::string domain = domainKey(domainUuid);
  Machine& m = machine(domain);
  nlohmann::json request = {{"execute", command}};
  if (!arguments.is_null()) request["arguments"] = std::move(arguments);
  std::lock_guard commands(m.commands);
  auto reply = send(domain, request);
  if (succeeded(reply) && anyUnclosed_) retryCloses(domain, m);
  return reply;
}

Result<nlohmann::json> AgentChannel::call(const std::string& domainUuid, const char* command,
                                          nlohmann::json arguments, std::string_view context) {
  auto reply = ask(domainUuid, command, std::move(arguments));
  if (const Failure* failure = failureOf(reply)) return agentFailure(failure->message, context);
  return reply;
}

Result<nlohmann::json> AgentChannel::askIn(AgentRun run, const std::string& domainUuid,
                                           const char* command, nlohmann::json arguments,
                                           const Failure& stale) {
  const std::string domain = domainKey(domainUuid);
  Machine& m = machine(domain);
  nlohmann::json request = {{"execute", command}, {"arguments", std::move(arguments)}};
  std::lock_guard commands(m.commands);
  // Checked with the machine's commands held: no hand-out of a newer run can come between the
  // check and this command.
  if (this->run(domain) != run) return stale;
  auto reply = send(domain, request);
  if (succeeded(reply) && anyUnclosed_) retryCloses(domain, m);
  return reply;
}

Result<nlohmann::json> AgentChannel::callIn(AgentRun run, const std::string& domainUuid,
                                            const char* command, nlohmann::json arguments,
                                            std::string_view context, const Failure& stale) {
  auto reply = askIn(run, domainUuid, command, std::move(arguments), stale);
  if (const Failure* failure = failureOf(reply)) {
    if (failure->kind == stale.kind && failure->message == stale.message) return stale;
    return agentFailure(failure->message, context);
  }
  return reply;
}

Result<AgentChannel::Handed> AgentChannel::handOut(const std::string& domainUuid,
                                                   const char* command, nlohmann::json arguments,
                                                   std::string_view context,
                                                   const RestartShown& restartShown) {
  const std::string domain = domainKey(domainUuid);
  Machine& m = machine(domain);
  const nlohmann::json request = {{"execute", command}, {"arguments", std::move(arguments)}};
  std::lock_guard commands(m.commands);
  auto reply = send(domain, request);
  if (const Failure* failure = failureOf(reply)) return agentFailure(failure->message, context);
  Handed out{std::get<nlohmann::json>(std::move(reply)), run(domain)};
  bool fresh = restartShown && restartShown(out.reply);
  // The agent counts its file handles up through a boot, and keeps the count when it restarts
  // within one; only an agent that started afresh hands out a number it has handed out before.
  const bool fileHandle =
      std::string_view(command) == "guest-file-open" && out.reply.is_number_integer();
  if (fileHandle && m.lastFile.first == out.run &&
      out.reply.get<std::int64_t>() <= m.lastFile.second) {
    fresh = true;
  }
  if (fresh) out.run = bump(m);
  if (fileHandle) m.lastFile = {out.run, out.reply.get<std::int64_t>()};
  // Only now: a close owed to an old run must never reach the new one.
  if (anyUnclosed_) retryCloses(domain, m);
  return out;
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

AgentRun AgentChannel::run(const std::string& domainUuid) {
  const std::string domain = domainKey(domainUuid);
  std::lock_guard guard(mutex_);
  return machines_[domain].run;
}

AgentRun AgentChannel::bump(Machine& m) {
  std::lock_guard guard(mutex_);
  ++m.run;
  m.unclosed.clear();
  bool any = false;
  for (const auto& [domain, other] : machines_) any = any || !other.unclosed.empty();
  anyUnclosed_ = any;
  return m.run;
}

void AgentChannel::restarted(const std::string& domainUuid) {
  bump(machine(domainKey(domainUuid)));
}

void AgentChannel::closeLater(const std::string& domain, AgentRun run, std::int64_t agentHandle) {
  std::lock_guard guard(mutex_);
  Machine& m = machines_[domainKey(domain)];
  if (m.run != run) return;  // the agent that had it open is gone, and the file with it
  m.unclosed.push_back(agentHandle);
  anyUnclosed_ = true;
}

void AgentChannel::retryCloses(const std::string& domain, Machine& m) {
  std::vector<std::int64_t> handles;
  AgentRun run = 0;
  {
    std::lock_guard guard(mutex_);
    if (m.unclosed.empty()) return;
    handles = std::move(m.unclosed);
    m.unclosed.clear();
    run = m.run;
    bool any = false;
    for (const auto& [name, other] : machines_) any = any || !other.unclosed.empty();
    anyUnclosed_ = any;
  }
  // The caller holds the machine's commands, so the run cannot gain a hand-out meanwhile; a
  // restart seen meanwhile (an event) ends the retries.
  for (std::int64_t handle : handles) {
    if (this->run(domain) != run) return;
    const auto reply =
        send(domain, {{"execute", "guest-file-close"}, {"arguments", {{"handle", handle}}}});
    const Failure* failure = failureOf(reply);
    if (failure && classifyAgentFailure(failure->message) == AgentFault::notAnswering) {
      closeLater(domain, run, handle);
    }
  }
}

}  // namespace qor::host::libvirt
