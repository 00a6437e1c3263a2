#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/backend/result.h"
#include "host/libvirt/agent_transport.h"
#include "host/libvirt/guest_agent_errors.h"

namespace qor::host::libvirt {

// Domain UUIDs are compared in one case.
std::string domainKey(std::string_view uuid);

// A run of a machine's guest agent, as far as the host can tell: it grows whenever the agent
// may have started afresh. What the agent hands out (file handles, process ids) is only
// meaningful in the run it came from: after a guest reboot the agent counts its handles from the
// start again (its counter lives in the guest's /run), so an old number may name another
// client's file.
using AgentRun = std::uint64_t;

// The way to the machines' guest agents that the guest agent's parts share: one command at a
// time per machine, with the timeout; the agent's runs; and the closes the agent did not answer,
// tried again after its next answer in the same run so that a file does not stay open in the
// guest because the agent was busy when its client left.
//
// Its calls block on the agent (worker threads only); safe from several threads at once. The
// table's lock is never held across an agent call; a machine's command lock is, so that a check
// of the run and the command it guards are one step, and so is a hand-out and the look at what
// it says about the run. run and restarted never wait for the agent.
class AgentChannel {
 public:
  // What a command that hands something out answered, and the agent run it belongs to.
  struct Handed {
    nlohmann::json reply;
    AgentRun run = 0;
  };
  // Whether a hand-out's reply proves that the agent started afresh (a process id that one of
  // the current run's programs still has).
  using RestartShown = std::function<bool(const nlohmann::json& reply)>;

  AgentChannel(AgentTransport& transport, int timeoutSeconds)
      : transport_(transport), timeoutSeconds_(timeoutSeconds) {}

  // One agent command, its failure as the transport gave it (the caller reads libvirt's words).
  Result<nlohmann::json> ask(const std::string& domainUuid, const char* command,
                             nlohmann::json arguments);
  // The same, a failure turned into the one for the client, with `context` before the agent's
  // own words.
  Result<nlohmann::json> call(const std::string& domainUuid, const char* command,
                              nlohmann::json arguments, std::string_view context);
  // ask and call on something run `run` handed out: when the agent has restarted since, the
  // command is not sent and `stale` is the answer.
  Result<nlohmann::json> askIn(AgentRun run, const std::string& domainUuid, const char* command,
                               nlohmann::json arguments, const Failure& stale);
  Result<nlohmann::json> callIn(AgentRun run, const std::string& domainUuid, const char* command,
                                nlohmann::json arguments, std::string_view context,
                                const Failure& stale);
  // A command that hands out a file handle or a process: failures as call gives them. A file
  // handle not above the last one of the current run, or `restartShown`, starts a new run.
  Result<Handed> handOut(const std::string& domainUuid, const char* command,
                         nlohmann::json arguments, std::string_view context,
                         const RestartShown& restartShown = {});
  // Whether the agent answers a guest-ping within a second: false while it is not there yet,
  // or silent; a failure only when it never can (the machine has no agent channel).
  Result<bool> ping(const std::string& domainUuid);

  AgentRun run(const std::string& domainUuid);
  // The machine's agent has (or may have) started afresh: everything handed out before is
  // stale, and the closes owed to the old agent are moot.
  void restarted(const std::string& domainUuid);
  void closeLater(const std::string& domain, AgentRun run, std::int64_t agentHandle);

 private:
  struct Machine {
    std::mutex commands;                 // one command at a time
    AgentRun run = 1;                    // guarded by the table's lock
    std::vector<std::int64_t> unclosed;  // of `run`; guarded by the table's lock
    // The last file handle of a run; guarded by `commands`.
    std::pair<AgentRun, std::int64_t> lastFile{0, 0};
  };

  Machine& machine(const std::string& domain);
  Result<nlohmann::json> send(const std::string& domain, const nlohmann::json& request);
  AgentRun bump(Machine& m);
  void retryCloses(const std::string& domain, Machine& m);

  AgentTransport& transport_;
  const int timeoutSeconds_;
  std::mutex mutex_;                         // guards the table and each machine's run and closes
  std::map<std::string, Machine> machines_;  // by domain; never erased, so references hold
  std::atomic<bool> anyUnclosed_{false};
};

}  // namespace qor::host::libvirt
