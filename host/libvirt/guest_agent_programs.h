#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/backend/objects.h"
#include "host/libvirt/guest_agent_channel.h"

namespace qor::host::libvirt {

// A request to the agent of more than about 210 KB reaches qemu-ga cut, so a program's input
// and arguments must fit in one request of this size.
inline constexpr std::size_t kMaxAgentRequest = 192 * 1024;
// Finished programs whose results are kept for their clients.
inline constexpr std::size_t kMaxFinishedProcesses = 100;
inline constexpr std::size_t kMaxKeptOutput = 64 * 1024 * 1024;

// Programs run in guests through guest-exec and guest-exec-status. It owns the table of
// handles (never reused, not the agent's pids) and each program's end once told, since the
// agent forgets a program as soon as it has reported its end.
//
// A program an earlier run of the agent started stays in the table, answering that the agent
// restarted (or with its end, if that was told before), until its client goes.
//
// execute, status and release block on the agent (worker threads only); processes and age
// answer at once from any thread. The table's lock is never held across an agent
// call.
class AgentPrograms {
 public:
  explicit AgentPrograms(AgentChannel& channel) : channel_(channel) {}

  Result<GuestHandle> execute(const std::string& domainUuid, const std::string& program,
                              const std::vector<std::string>& arguments,
                              const std::vector<std::string>& environment, const std::string& input,
                              bool base64, bool capture);
  // One look at the program (no waiting); a finished program's end is answered again without
  // asking the agent.
  Result<ProcessState> status(const std::string& domainUuid, GuestHandle process);
  // How long the program has been known to run; nullopt for an unknown handle.
  std::optional<std::chrono::steady_clock::duration> age(GuestHandle process);

  std::vector<GuestHandle> processes(const std::string& domainUuid);
  // The client has gone: the program is forgotten (it goes on in the guest).
  void release(GuestHandle process);
  // The machine stopped: its programs are gone with it.
  void forgetMachine(const std::string& domain);

 private:
  struct Process {
    std::mutex lock;
    std::string domain;
    AgentRun run = 0;
    std::int64_t pid = 0;
    bool base64 = true;
    std::chrono::steady_clock::time_point started;
    // Set once the agent has told the end (it forgets the program then), or once the end can
    // no longer be learnt.
    std::optional<Result<ProcessState>> final;
    // The same, for the table's pruning, which must not wait for a process's lock.
    std::atomic<bool> finished{false};
    std::atomic<std::size_t> keptBytes{0};

    void finish(Result<ProcessState> result);
  };

  std::shared_ptr<Process> find(const std::string& domainUuid, GuestHandle process);
  void forgetOld();

  AgentChannel& channel_;
  std::mutex mutex_;  // guards the table
  std::map<GuestHandle, std::shared_ptr<Process>> processes_;
  GuestHandle next_ = 1;
};

}  // namespace qor::host::libvirt
