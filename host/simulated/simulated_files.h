#pragma once

#include <string>
#include <vector>

#include "host/backend/guest_files.h"
#include "host/simulated/open_files.h"
#include "host/simulated/world.h"

namespace qor::host {

// Files inside the simulated guests (a folder per guest, see World::guestRootOf), as a running
// guest's agent would serve them. It owns the open files; it never changes the world, and
// answers every request at once.
class SimulatedFiles : public GuestFiles {
 public:
  explicit SimulatedFiles(SharedWorld& shared) : shared_(shared) {}

  std::vector<GuestHandle> files(MachineKey key) override;
  void open(MachineKey key, OpenFileArgs args, Completion<GuestHandle> done) override;
  void read(MachineKey key, GuestHandle file, ReadArgs args, Completion<std::string> done) override;
  void write(MachineKey key, GuestHandle file, WriteArgs args, Completion<Done> done) override;
  void close(MachineKey key, GuestHandle file, Completion<Done> done) override;
  void releaseFile(GuestHandle file) override { files_.close(file); }

  // The machine has stopped or is going: its files close.
  void machineLost(MachineKey key) { files_.closeAllOf(key); }

 private:
  // The open file `number` of the running guest `key`, or why it cannot be used.
  Result<OpenGuestFile*> usable(MachineKey key, GuestHandle number);

  SharedWorld& shared_;
  OpenFiles files_;
};

}  // namespace qor::host
