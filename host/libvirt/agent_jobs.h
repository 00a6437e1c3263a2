#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "host/backend/completion.h"
#include "host/libvirt/domains.h"
#include "host/libvirt/guest_agent.h"
#include "host/libvirt/worker_jobs.h"

namespace qor::host::libvirt {

// What the guest requests (files, programs, addresses) share: which machine's agent can be
// asked, the run of each machine its agent's handles belong to, and the agent requests under
// way on the lanes. Guest requests change nothing the look at the machines shows, so they
// take the latest one as it is: a file transfer's thousands of requests do not each have the
// machines read again.
//
// The loop's thread only, but for the jobs it runs: those reach the GuestAgent (safe from any
// thread) and nothing else of it.
class AgentJobs {
 public:
  AgentJobs(Loop& loop, Lanes& lanes, Domains& domains, GuestAgent& agent)
      : domains_(domains), agent_(agent), lanes_(lanes), jobs_(lanes, loop) {}

  GuestAgent& agent() { return agent_; }

  // The UUID of a machine the look knows, or nullopt; a new run of it makes what its old agent
  // had open stale.
  std::optional<std::string> known(MachineKey key);
  // Runs `job` with the machine's UUID on its agent's lane and completes `done` on the loop, if
  // the machine's agent can be asked; else `done` fails at once saying why not. An agent that
  // does not answer holds up only its own machine's guest requests.
  template <class T>
  void run(MachineKey key, std::function<Result<T>(const std::string& uuid)> job,
           Completion<T> done);
  // Runs `job` on a lane of the releases; nothing waits for it.
  void detached(std::function<void()> job) { lanes_.submit("agent releases", std::move(job)); }

  static std::string laneOf(const std::string& uuid) { return "agent " + uuid; }

 private:
  Result<std::string> askable(MachineKey key);
  void noteRun(const Domains::Row& r);

  Domains& domains_;
  GuestAgent& agent_;
  Lanes& lanes_;
  WorkerJobs jobs_;
  std::map<std::string, int> runs_;  // the run (libvirt's id) the agent's handles are of
};

template <class T>
void AgentJobs::run(MachineKey key, std::function<Result<T>(const std::string& uuid)> job,
                    Completion<T> done) {
  auto machine = askable(key);
  if (auto* e = failureOf(machine)) return done(std::move(*e));
  const std::string uuid = std::get<std::string>(machine);
  jobs_.run<T>(
      laneOf(uuid), [uuid, job = std::move(job)] { return job(uuid); },
      [done](Result<T> outcome) { done(std::move(outcome)); });
}

}  // namespace qor::host::libvirt
