#include "host/libvirt/guest_agent_programs.h"

#include <utility>

#include "support/base64.h"
#include "support/utf8.h"

namespace qor::host::libvirt {
namespace {

Failure lostResult(const std::string& libvirtMessage) {
  std::string message =
      "The program has ended, but its output is too large to come through libvirt (about "
      "3 MB at most in one answer), so its output and exit code are lost; write the output to "
      "a file in the guest and pull that instead. (" +
      libvirtMessage + ")";
  if (libvirtMessage.find("No complete agent response") != std::string::npos) {
    message += " The guest agent cannot be used until it reconnects (restart it or the guest).";
  }
  return failed(std::move(message));
}

// One captured stream: the agent's base64 as it is, or its bytes as valid text.
std::optional<std::string> streamOf(const nlohmann::json& ret, const char* key, bool base64) {
  auto it = ret.find(key);
  if (it == ret.end()) return std::string();
  if (!it->is_string()) return std::nullopt;
  const auto& text = it->get_ref<const std::string&>();
  auto bytes = support::base64Decode(text);
  if (!bytes) return std::nullopt;
  if (base64) return text;
  return support::validText(*bytes);
}

bool flagOf(const nlohmann::json& ret, const char* key) {
  auto it = ret.find(key);
  return it != ret.end() && it->is_boolean() && it->get<bool>();
}

Result<ProcessState> resultOf(const nlohmann::json& ret, bool base64) {
  const Failure malformed = malformedReply("guest-exec-status");
  if (!ret.is_object()) return malformed;
  auto exited = ret.find("exited");
  if (exited == ret.end() || !exited->is_boolean()) return malformed;
  ProcessState r;
  r.exited = exited->get<bool>();
  if (!r.exited) return r;
  auto code = ret.find("exitcode");
  auto signal = ret.find("signal");
  if (code != ret.end() && code->is_number_integer()) {
    r.exitCode = code->get<std::int64_t>();
  } else if (signal != ret.end() && signal->is_number_integer()) {
    r.exitCode = 128 + signal->get<std::int64_t>();
  } else {
    // Reading this as 0 would turn an unknown end into success.
    return failed("The guest agent reported the end of the program without its exit code.");
  }
  auto output = streamOf(ret, "out-data", base64);
  auto error = streamOf(ret, "err-data", base64);
  if (!output || !error) return malformed;
  r.output = std::move(*output);
  r.error = std::move(*error);
  r.outputTruncated = flagOf(ret, "out-truncated");
  r.errorTruncated = flagOf(ret, "err-truncated");
  return r;
}

}  // namespace

Result<GuestHandle> AgentPrograms::execute(const std::string& domainUuid,
                                           const std::string& program,
                                           const std::vector<std::string>& arguments,
                                           const std::vector<std::string>& environment,
                                           const std::string& input, bool base64, bool capture) {
  if (program.empty()) return invalidArgs("No program was given.");
  nlohmann::json args = {{"path", program}, {"capture-output", capture}};
  if (!arguments.empty()) args["arg"] = arguments;
  if (!environment.empty()) args["env"] = environment;
  if (base64) {
    if (!support::base64Decode(input)) {
      return invalidArgs("The input is not valid base64 text.");
    }
    if (!input.empty()) args["input-data"] = input;
  } else if (!input.empty()) {
    args["input-data"] = support::base64Encode(input);
  }
  // libvirt would refuse it with a message about its own encoding; say what is too large.
  if (args.dump().size() > kMaxAgentRequest) {
    return invalidArgs(
        "The program's input and arguments are too large for the guest agent: one request "
        "to it carries about 140 KB of input at most.");
  }
  const std::string domain = domainKey(domainUuid);
  // A pid one of this run's programs still holds was given out by an agent that started afresh
  // (a guest rebooted counts its pids from the start again).
  auto pidTaken = [&](const nlohmann::json& ret) {
    auto pid = ret.is_object() ? ret.find("pid") : ret.end();
    if (pid == ret.end() || !pid->is_number_integer()) return false;
    const AgentRun run = channel_.run(domain);
    std::lock_guard guard(mutex_);
    for (const auto& [handle, p] : processes_) {
      if (p->domain == domain && p->run == run && !p->finished &&
          p->pid == pid->get<std::int64_t>())
        return true;
    }
    return false;
  };
  auto started = channel_.handOut(domainUuid, "guest-exec", std::move(args),
                                  "Cannot run '" + program + "' in the guest", pidTaken);
  if (auto* e = std::get_if<Failure>(&started)) return std::move(*e);
  const auto& handed = std::get<AgentChannel::Handed>(started);
  const auto& ret = handed.reply;
  auto pid = ret.is_object() ? ret.find("pid") : ret.end();
  if (pid == ret.end() || !pid->is_number_integer()) {
    return malformedReply("guest-exec");
  }

  auto p = std::make_shared<Process>();
  p->domain = domain;
  p->run = handed.run;
  p->pid = pid->get<std::int64_t>();
  p->base64 = base64;
  p->started = std::chrono::steady_clock::now();
  std::lock_guard guard(mutex_);
  const GuestHandle handle = next_++;
  processes_.emplace(handle, std::move(p));
  return handle;
}

Result<ProcessState> AgentPrograms::status(const std::string& domainUuid, GuestHandle process) {
  auto p = find(domainUuid, process);
  if (!p) return noObject("The guest process is not known (any more).");
  {
    std::lock_guard processGuard(p->lock);
    if (p->final) return *p->final;
    auto reply =
        channel_.askIn(p->run, p->domain, "guest-exec-status", {{"pid", p->pid}}, staleProcess());
    if (const Failure* failure = failureOf(reply);
        failure && failure->kind == HostErrorKind::noObject) {
      // The agent that ran it is gone; its pid may now be another client's program.
      p->finish(*failure);
    } else if (failure) {
      switch (classifyAgentFailure(failure->message)) {
        case AgentFault::replyTooLarge:
          // The agent had the end and has forgotten the program: it cannot be asked again.
          p->finish(lostResult(failure->message));
          break;
        case AgentFault::agentError:
          // The agent no longer knows the pid (it was restarted, or another client took the
          // end); that will not change.
          p->finish(
              agentFailure(failure->message, "The guest agent cannot tell the program's end"));
          break;
        default:
          return agentFailure(failure->message, "The guest agent cannot tell the program's end");
      }
    } else {
      auto result = resultOf(std::get<nlohmann::json>(reply), p->base64);
      auto* r = std::get_if<ProcessState>(&result);
      if (r && !r->exited) return result;
      p->finish(std::move(result));
    }
  }
  forgetOld();
  std::lock_guard processGuard(p->lock);
  return *p->final;
}

std::optional<std::chrono::steady_clock::duration> AgentPrograms::age(GuestHandle process) {
  std::lock_guard guard(mutex_);
  auto it = processes_.find(process);
  if (it == processes_.end()) return std::nullopt;
  return std::chrono::steady_clock::now() - it->second->started;
}

void AgentPrograms::Process::finish(Result<ProcessState> result) {
  if (const auto* r = std::get_if<ProcessState>(&result)) {
    keptBytes = r->output.size() + r->error.size();
  }
  final = std::move(result);
  finished = true;
}

std::shared_ptr<AgentPrograms::Process> AgentPrograms::find(const std::string& domainUuid,
                                                            GuestHandle process) {
  std::lock_guard guard(mutex_);
  auto it = processes_.find(process);
  if (it == processes_.end() || it->second->domain != domainKey(domainUuid)) return nullptr;
  return it->second;
}

std::vector<GuestHandle> AgentPrograms::processes(const std::string& domainUuid) {
  const std::string key = domainKey(domainUuid);
  std::lock_guard guard(mutex_);
  std::vector<GuestHandle> out;
  for (const auto& [handle, p] : processes_) {
    if (p->domain == key) out.push_back(handle);
  }
  return out;
}

void AgentPrograms::release(GuestHandle process) {
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
  if (!p->final) {
    (void)channel_.askIn(p->run, p->domain, "guest-exec-status", {{"pid", p->pid}}, staleProcess());
  }
}

void AgentPrograms::forgetMachine(const std::string& domain) {
  std::lock_guard guard(mutex_);
  std::erase_if(processes_, [&](const auto& entry) { return entry.second->domain == domain; });
}

void AgentPrograms::forgetOld() {
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
