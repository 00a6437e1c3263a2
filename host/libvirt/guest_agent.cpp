#include "host/libvirt/guest_agent.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "host/libvirt/guest_agent_state.h"

namespace qor::host::libvirt {

std::string domainKey(std::string_view uuid) {
  std::string key(uuid);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

void GuestAgent::Process::finish(GuestResult<ProcessResult> result) {
  if (const auto* r = std::get_if<ProcessResult>(&result)) {
    keptBytes = r->output.size() + r->error.size();
  }
  final = std::move(result);
  finished = true;
}

GuestAgent::GuestAgent(AgentTransport& transport, AddressLookup lookup, int timeoutSeconds)
    : transport_(transport), timeoutSeconds_(timeoutSeconds), addressLookup_(std::move(lookup)) {}

GuestAgent::~GuestAgent() = default;

AgentReply GuestAgent::ask(const std::string& domainUuid, const char* command,
                           nlohmann::json arguments) {
  nlohmann::json request = {{"execute", command}};
  if (!arguments.is_null()) request["arguments"] = std::move(arguments);
  AgentReply reply = transport_.command(domainUuid, request, timeoutSeconds_);
  if (!reply.error && !reply.ret) {
    reply.error = std::string("The guest agent gave no answer to ") + command;
  }
  if (!reply.error && anyUnclosed_) retryCloses(domainKey(domainUuid));
  return reply;
}

GuestResult<bool> GuestAgent::ping(const std::string& domainUuid) {
  // Short: a guest still booting is asked again soon, and the wait is the client's to bound.
  constexpr int kPingTimeoutSeconds = 1;
  const AgentReply reply =
      transport_.command(domainUuid, {{"execute", "guest-ping"}}, kPingTimeoutSeconds);
  if (!reply.error) return reply.ret.has_value();
  if (classifyAgentFailure(*reply.error) == AgentFault::notConfigured) {
    return agentFailure(*reply.error, "");
  }
  return false;
}

void GuestAgent::closeLater(const std::string& domain, std::int64_t agentHandle) {
  std::lock_guard guard(mutex_);
  unclosed_[domain].push_back(agentHandle);
  anyUnclosed_ = true;
}

void GuestAgent::retryCloses(const std::string& domain) {
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
    AgentReply reply = transport_.command(
        domain, {{"execute", "guest-file-close"}, {"arguments", {{"handle", handle}}}},
        timeoutSeconds_);
    if (reply.error && classifyAgentFailure(*reply.error) == AgentFault::notAnswering) {
      closeLater(domain, handle);
    }
  }
}

GuestResult<nlohmann::json> GuestAgent::call(const std::string& domainUuid, const char* command,
                                             nlohmann::json arguments, std::string_view context) {
  AgentReply reply = ask(domainUuid, command, std::move(arguments));
  if (reply.error) return agentFailure(*reply.error, context);
  return std::move(*reply.ret);
}

std::shared_ptr<GuestAgent::File> GuestAgent::findFile(const std::string& domainUuid,
                                                       GuestHandle file) {
  std::lock_guard guard(mutex_);
  auto it = files_.find(file);
  if (it == files_.end() || it->second->domain != domainKey(domainUuid)) return nullptr;
  return it->second;
}

std::shared_ptr<GuestAgent::Process> GuestAgent::findProcess(const std::string& domainUuid,
                                                             GuestHandle process) {
  std::lock_guard guard(mutex_);
  auto it = processes_.find(process);
  if (it == processes_.end() || it->second->domain != domainKey(domainUuid)) return nullptr;
  return it->second;
}

std::vector<GuestHandle> GuestAgent::files(const std::string& domainUuid) {
  const std::string key = domainKey(domainUuid);
  std::lock_guard guard(mutex_);
  std::vector<GuestHandle> out;
  for (const auto& [handle, f] : files_) {
    if (f->domain == key) out.push_back(handle);
  }
  return out;
}

std::vector<GuestHandle> GuestAgent::processes(const std::string& domainUuid) {
  const std::string key = domainKey(domainUuid);
  std::lock_guard guard(mutex_);
  std::vector<GuestHandle> out;
  for (const auto& [handle, p] : processes_) {
    if (p->domain == key) out.push_back(handle);
  }
  return out;
}

void GuestAgent::releaseFile(GuestHandle file) {
  std::shared_ptr<File> f;
  {
    std::lock_guard guard(mutex_);
    auto it = files_.find(file);
    if (it == files_.end()) return;
    f = std::move(it->second);
    files_.erase(it);
  }
  // Waits for a request still running on the file; its outcome no longer has a reader.
  std::lock_guard fileGuard(f->lock);
  if (!f->closed) closeLocked(*f);
}

void GuestAgent::releaseProcess(GuestHandle process) {
  std::shared_ptr<Process> p;
  {
    std::lock_guard guard(mutex_);
    auto it = processes_.find(process);
    if (it == processes_.end()) return;
    p = std::move(it->second);
    processes_.erase(it);
  }
  std::lock_guard processGuard(p->lock);
  // One last look lets the agent drop a program that has ended meanwhile; one still running
  // goes on, and the agent keeps its end until the guest restarts.
  if (!p->final) ask(p->domain, "guest-exec-status", {{"pid", p->pid}});
}

void GuestAgent::forgetMachine(const std::string& domainUuid) {
  const std::string key = domainKey(domainUuid);
  std::lock_guard guard(mutex_);
  for (auto it = files_.begin(); it != files_.end();) {
    if (it->second->domain == key) {
      // Not through its lock: a request still on the file may wait seconds for the agent.
      it->second->closed = true;
      it = files_.erase(it);
    } else {
      ++it;
    }
  }
  std::erase_if(processes_, [&](const auto& entry) { return entry.second->domain == key; });
  unclosed_.erase(key);
  anyUnclosed_ = !unclosed_.empty();
}

void GuestAgent::forgetOldProcesses() {
  std::lock_guard guard(mutex_);
  std::size_t finished = 0;
  std::size_t kept = 0;
  for (const auto& [handle, p] : processes_) {
    if (p->finished) {
      ++finished;
      kept += p->keptBytes;
    }
  }
  // The map is ordered by handle, so the oldest come first.
  for (auto it = processes_.begin(); it != processes_.end();) {
    if (finished <= kMaxFinishedProcesses && kept <= kMaxKeptOutput) break;
    if (it->second->finished) {
      --finished;
      kept -= it->second->keptBytes;
      it = processes_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace qor::host::libvirt
