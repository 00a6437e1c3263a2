#pragma once

#include "host/backend/guest_files.h"
#include "host/libvirt/agent_jobs.h"

namespace qor::host::libvirt {

// Files inside libvirt machines' guests, through the guest agent: each request runs on the
// worker and completes on the loop. The handles and the files' state are the GuestAgent's.
//
// The loop's thread only; it keeps nothing of its own and never waits for the agent.
class LibvirtGuestFiles : public GuestFiles {
 public:
  explicit LibvirtGuestFiles(AgentJobs& jobs) : jobs_(jobs) {}

  std::vector<GuestHandle> files(MachineKey key) override;
  void open(MachineKey key, OpenFileArgs args, Completion<GuestHandle> done) override;
  void read(MachineKey key, GuestHandle file, ReadArgs args, Completion<std::string> done) override;
  void write(MachineKey key, GuestHandle file, WriteArgs args, Completion<Done> done) override;
  void close(MachineKey key, GuestHandle file, Completion<Done> done) override;
  void releaseFile(GuestHandle file) override;

 private:
  AgentJobs& jobs_;
};

}  // namespace qor::host::libvirt
