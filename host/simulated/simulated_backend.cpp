#include "host/simulated/simulated_backend.h"

#include <utility>

namespace qor::host {

SimulatedBackend::SimulatedBackend(World world, ProcessLauncher& launcher, Loop& loop,
                                   std::filesystem::path worldFile)
    : shared_{std::move(world), false, {}},
      machines_(shared_, [this](const Machine& m) { guestLost(m); }),
      files_(shared_),
      processes_(shared_, launcher, loop),
      network_(shared_),
      readiness_(shared_),
      usb_(shared_),
      windows_(shared_),
      persistence_(shared_, std::move(worldFile)) {}

Backends SimulatedBackend::concerns() {
  Backends b;
  b.machines = &machines_;
  b.serialPorts = &machines_;
  b.files = &files_;
  b.processes = &processes_;
  b.network = &network_;
  b.readiness = &readiness_;
  b.usb = &usb_;
  b.windows = &windows_;
  b.persistence = &persistence_;
  return b;
}

void SimulatedBackend::guestLost(const Machine& machine) {
  files_.machineLost(machine.key);
  processes_.machineLost(machine.key);
  usb_.machineLost(machine);
}

}  // namespace qor::host
