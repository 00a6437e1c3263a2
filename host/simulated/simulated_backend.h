#pragma once

#include <filesystem>

#include "host/backend/backend.h"
#include "host/backend/loop.h"
#include "host/simulated/guest_process.h"
#include "host/simulated/simulated_files.h"
#include "host/simulated/simulated_machines.h"
#include "host/simulated/simulated_network.h"
#include "host/simulated/simulated_processes.h"
#include "host/simulated/simulated_readiness.h"
#include "host/simulated/simulated_usb.h"
#include "host/simulated/simulated_windows.h"
#include "host/simulated/world.h"
#include "host/simulated/world_persistence.h"

namespace qor::host {

// Machines from a world file, every concern of a backend: it owns the world and the units that
// act on it, and wires the one rule that crosses them (a machine that stops or goes loses its
// guest: files, programs and the USB devices it held). It adds no behaviour of its own.
class SimulatedBackend : public Backend {
 public:
  // `worldFile` empty: nothing is written (tests).
  SimulatedBackend(World world, ProcessLauncher& launcher, Loop& loop,
                   std::filesystem::path worldFile = {});
  SimulatedBackend(const SimulatedBackend&) = delete;
  SimulatedBackend& operator=(const SimulatedBackend&) = delete;

  Backends concerns() override;

  // True once after every request that changed the world.
  bool takeChanged() { return persistence_.takeChanged(); }
  const World& world() const { return shared_.world; }

 private:
  void guestLost(const Machine& machine);

  SharedWorld shared_;
  SimulatedMachines machines_;
  SimulatedFiles files_;
  SimulatedProcesses processes_;
  SimulatedNetwork network_;
  SimulatedReadiness readiness_;
  SimulatedUsb usb_;
  SimulatedWindows windows_;
  WorldPersistence persistence_;
};

}  // namespace qor::host
