#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/backend/completion.h"
#include "host/backend/objects.h"
#include "host/libvirt/connection.h"
#include "host/libvirt/worker_jobs.h"

namespace qor::host::libvirt {

// How long a look at libvirt's machines serves reads: long enough for one client's run of
// requests (a list of many machines), short enough that a change made elsewhere (virsh) shows
// at once to a person. A change made through this host is seen at once.
inline constexpr std::chrono::milliseconds kSnapshotLife{100};
inline constexpr std::chrono::milliseconds kBusySnapshotLife{20};

// libvirt's machines as the loop sees them, shared by the backend's concerns. It owns the look
// (a short-lived snapshot taken on the loop's own connection: a few quick calls for all
// machines at once), the host's key of each machine (by UUID, never reused), and the requests
// that change machines: those run on the worker with a connection of their own, and the next
// read looks again.
//
// The loop's thread only. It never blocks the loop for longer than one look takes; a job it
// runs on the worker gets the worker's connection and what it was given, nothing of this.
class Domains {
 public:
  struct Row {
    MachineKey key = 0;
    std::string uuid;  // in capitals
    std::string name;
    int state = 0;
    int reason = 0;
    bool saved = false;
    int id = -1;  // libvirt's number for a run; -1 while stopped
    std::shared_ptr<virDomain> domain;
  };
  struct Look {
    std::chrono::steady_clock::time_point taken;
    std::vector<Row> rows;  // in list order
    std::optional<Failure> error;
    std::uint64_t number = 0;  // counts the looks taken, so that a reader can tell a new one
  };
  // What a job is told of the machine it works on.
  struct Target {
    std::string uuid;
    std::string name;
  };
  using MachineJob = std::function<Result<Done>(virConnectPtr, const Target&)>;

  // nullopt: libvirt's default URI. `workerConnection` is the one the worker's jobs use.
  Domains(Loop& loop, Worker& worker, Connection& workerConnection, std::optional<std::string> uri);

  // The current look, taken again once it is old.
  const Look& look();
  const Row* row(MachineKey key);
  // The loop's own connection, for other quick reads (the host's USB devices).
  Result<ConnectionRef> readConnection() { return readConnection_.get(); }

  // Runs `job` on a worker thread with the worker's connection and the machine as the look
  // knows it, then completes `done` on the loop; the machine is looked at afresh afterwards.
  void onMachine(MachineKey key, MachineJob job, Completion<Done> done);
  // Runs `job` on a worker thread, then completes `done` on the loop and looks again.
  template <class T>
  void change(std::function<Result<T>()> job, Completion<T> done);

 private:
  void refresh(Look& look);
  MachineKey keyFor(const std::string& uuid);

  Connection readConnection_;
  Connection& workerConnection_;
  // While a request of this host changes a machine, its state moves without notice.
  WorkerJobs changes_;
  std::optional<Look> look_;
  std::uint64_t looks_ = 0;
  std::map<std::string, MachineKey> keys_;  // by UUID in capitals; never reused
  MachineKey nextKey_ = 1;
};

template <class T>
void Domains::change(std::function<Result<T>()> job, Completion<T> done) {
  changes_.run<T>(std::move(job), [this, done](Result<T> outcome) {
    look_.reset();  // whatever the request changed shows in the next read
    done(std::move(outcome));
  });
}

}  // namespace qor::host::libvirt
