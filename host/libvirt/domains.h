#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "host/backend/completion.h"
#include "host/backend/objects.h"
#include "host/libvirt/connection.h"
#include "host/libvirt/look.h"
#include "host/libvirt/watcher.h"
#include "host/libvirt/worker_jobs.h"

namespace qor::host::libvirt {

// How old a look guest requests take as it is: a machine started or stopped elsewhere shows in
// them after this long at most.
inline constexpr std::chrono::seconds kGuestLookLife{1};

// libvirt's machines as the loop sees them, shared by the backend's concerns. It owns the look
// the loop reads (the watcher's latest, with the host's key of each machine: by UUID, never
// reused), and runs the requests that change machines: each on its machine's lane, with the
// actions' connection, after which the lane takes a look of its own so that the next read
// shows what the request did.
//
// The loop's thread only. It never calls libvirt: a read waits at most kFreshWait for a look.
class Domains {
 public:
  using Row = Look::Row;
  // What a job is told of the machine it works on.
  struct Target {
    std::string uuid;
    std::string name;
  };
  using MachineJob = std::function<Result<Done>(virConnectPtr, const Target&)>;

  // `actions` is the connection the lanes' jobs use.
  Domains(Loop& loop, Lanes& lanes, Connection& actions, Watcher& watcher);

  // The current look: the latest, or a fresh one if it comes soon enough.
  const Look& look();
  const Row* row(MachineKey key);
  // Why a machine a request names is not in the look: libvirt cannot be reached, or it has gone.
  Failure missing();
  // The same from the latest look however old, for requests that need not see a new change; a
  // machine that does not read as running there is looked at anew.
  const Row* latestRow(MachineKey key);
  Watcher& watcher() { return watcher_; }

  // Runs `job` on the machine's lane with the actions' connection and the machine as the look
  // knows it, then completes `done` on the loop.
  void onMachine(MachineKey key, MachineJob job, Completion<Done> done);
  // Runs `job` on `lane`, then completes `done` on the loop.
  template <class T>
  void change(const std::string& lane, std::function<Result<T>()> job, Completion<T> done);

  static std::string laneOf(const std::string& uuid) { return "machine " + uuid; }

 private:
  void install(const std::shared_ptr<const Look>& latest);
  MachineKey keyFor(const std::string& uuid);
  // After an action: a look, and the ports of the machine it was on, for the reads to come.
  static void lookAfter(Connection& connection, Watcher& watcher,
                        const std::optional<std::string>& uuid);

  Connection& actions_;
  Watcher& watcher_;
  WorkerJobs changes_;
  Look current_;
  Look unanswered_;                        // what reads see while the watcher's look gets no answer
  std::uint64_t installed_ = 0;            // the number of the look current_ is
  std::optional<std::uint64_t> waitedOn_;  // the stale look a read already waited past
  std::map<std::string, MachineKey> keys_;  // by UUID in capitals; never reused
  MachineKey nextKey_ = 1;
};

template <class T>
void Domains::change(const std::string& lane, std::function<Result<T>()> job, Completion<T> done) {
  changes_.run<T>(
      lane,
      [&connection = actions_, &watcher = watcher_, job = std::move(job)]() -> Result<T> {
        Result<T> outcome = job();
        lookAfter(connection, watcher, std::nullopt);
        return outcome;
      },
      [done](Result<T> outcome) { done(std::move(outcome)); });
}

}  // namespace qor::host::libvirt
