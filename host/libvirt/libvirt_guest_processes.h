#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>

#include "host/backend/guest_processes.h"
#include "host/libvirt/agent_jobs.h"

namespace qor::host::libvirt {

// Programs run inside libvirt machines' guests, through the guest agent on the worker. It owns
// the GetResults it holds on the loop while their program runs (guest_agent_pacing.h), so that
// a client asking without pause does not spin; the handles and what a program left are the
// GuestAgent's.
//
// The loop's thread only; a held GetResult waits on a timer of the loop, never on a thread.
class LibvirtGuestProcesses : public GuestProcesses {
 public:
  LibvirtGuestProcesses(Loop& loop, AgentJobs& jobs) : loop_(loop), jobs_(jobs) {}

  std::vector<GuestHandle> processes(MachineKey key) override;
  void execute(MachineKey key, ExecuteArgs args, Completion<GuestHandle> done) override;
  void result(MachineKey key, GuestHandle process, Completion<contract::Value> done) override;
  void releaseProcess(GuestHandle process) override;

 private:
  void lookForEnd(MachineKey key, GuestHandle process,
                  std::chrono::steady_clock::time_point arrived, Completion<contract::Value> done);

  Loop& loop_;
  AgentJobs& jobs_;
  std::map<std::uint64_t, std::unique_ptr<Timer>> held_;
  std::uint64_t nextHeld_ = 1;
};

}  // namespace qor::host::libvirt
