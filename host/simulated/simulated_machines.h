#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "host/backend/machines.h"
#include "host/backend/serial_ports.h"
#include "host/simulated/world.h"

namespace qor::host {

// The world's machines: lookups, their serial ports, and the lifecycle (start, suspend, stop,
// delete, duplicate) as state changes in the world. Everything completes at once. It owns no
// guest: what a machine loses when it stops (files, programs, devices) it leaves to the
// `guestLost` callback, and it never touches another concern's state itself.
class SimulatedMachines : public Machines, public SerialPorts {
 public:
  // Called when a machine stops or is deleted, before it leaves the world.
  using GuestLost = std::function<void(const Machine& machine)>;

  SimulatedMachines(SharedWorld& shared, GuestLost guestLost);

  Result<Done> reachable() override { return Done{}; }
  std::vector<MachineKey> list() override;
  std::optional<MachineKey> byId(std::string_view id) override;
  std::optional<MachineKey> byName(std::string_view name) override;
  std::optional<MachineInfo> info(MachineKey key) override;

  void start(MachineKey key, bool saving, bool recovery, Completion<Done> done) override;
  void suspend(MachineKey key, bool saving, Completion<Done> done) override;
  void stop(MachineKey key, std::uint32_t method, Completion<Done> done) override;
  void remove(MachineKey key, Completion<Done> done) override;
  void duplicate(MachineKey key, std::optional<std::string> name, Completion<Done> done) override;

  std::optional<std::vector<SerialPortInfo>> serialPorts(MachineKey key) override;

 private:
  World& world() { return shared_.world; }

  SharedWorld& shared_;
  GuestLost guestLost_;
  std::mt19937_64 random_{std::random_device{}()};
};

}  // namespace qor::host
