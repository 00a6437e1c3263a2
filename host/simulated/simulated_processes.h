#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "host/backend/guest_processes.h"
#include "host/backend/loop.h"
#include "host/simulated/guest_process.h"
#include "host/simulated/world.h"

namespace qor::host {

// How long a GetResult of a running program may wait for its end before answering that it is
// still running: a client that asks without pause then asks about twenty times a second.
inline constexpr std::chrono::milliseconds kResultPause{50};

// Programs in the simulated guests: real ones through the launcher, or the world's scripted
// GetResult records (a machine's processResults, one sequence per Execute, which it takes out
// of the world). It owns the processes and the GetResult requests it holds; everything
// completes at once except a GetResult of a running program, which waits on the loop for the
// program's end or kResultPause. It never blocks the loop and never changes a machine's state.
class SimulatedProcesses : public GuestProcesses {
 public:
  SimulatedProcesses(SharedWorld& shared, ProcessLauncher& launcher, Loop& loop);
  // Running programs end with the host; nobody is left to answer.
  ~SimulatedProcesses() override;
  SimulatedProcesses(const SimulatedProcesses&) = delete;
  SimulatedProcesses& operator=(const SimulatedProcesses&) = delete;

  std::vector<GuestHandle> processes(MachineKey key) override;
  void execute(MachineKey key, ExecuteArgs args, Completion<GuestHandle> done) override;
  void result(MachineKey key, GuestHandle process, Completion<contract::Value> done) override;
  void releaseProcess(GuestHandle process) override;

  // The machine has stopped or is going: its programs end, and GetResults held for them are
  // answered.
  void machineLost(MachineKey key);

 private:
  using Processes = std::map<GuestHandle, GuestProcess>;

  // Launches the program, or takes the machine's next scripted sequence.
  Result<GuestProcess> startProcess(Machine& m, ExecuteArgs args);
  void forgetOldProcesses();
  // Drops a process, answering every GetResult still waiting for it first.
  void eraseProcess(Processes::iterator it);
  void answerWaiting(GuestHandle number, std::optional<std::uint64_t> onlyWaiter);

  SharedWorld& shared_;
  ProcessLauncher& launcher_;
  Loop& loop_;
  Processes processes_;
  GuestHandle nextProcess_ = 1;
  std::uint64_t nextWaiter_ = 1;
};

}  // namespace qor::host
