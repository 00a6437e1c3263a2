#include "host/simulated/simulated_machines.h"

#include <utility>

#include "contract/codes.h"
#include "host/simulated/machine_copy.h"

namespace qor::host {
namespace {

using contract::code;
using contract::QorStatus;

bool hasStatus(const Machine& m, QorStatus s) {
  return m.status && *m.status == code(s);
}

Failure machineGone() {
  return noObject("The virtual machine does not exist.");
}

}  // namespace

SimulatedMachines::SimulatedMachines(SharedWorld& shared, GuestLost guestLost)
    : shared_(shared), guestLost_(std::move(guestLost)) {}

std::vector<MachineKey> SimulatedMachines::list() {
  std::vector<MachineKey> keys;
  keys.reserve(world().machines.size());
  for (const auto& m : world().machines) keys.push_back(m.key);
  return keys;
}

std::optional<MachineKey> SimulatedMachines::byId(std::string_view id) {
  const Machine* m = world().machineById(id);
  return m ? std::optional(m->key) : std::nullopt;
}

std::optional<MachineKey> SimulatedMachines::byName(std::string_view name) {
  const Machine* m = world().machineByName(name);
  return m ? std::optional(m->key) : std::nullopt;
}

std::optional<MachineInfo> SimulatedMachines::info(MachineKey key) {
  const Machine* m = world().machineByKey(key);
  if (!m) return std::nullopt;
  return MachineInfo{m->key, m->id, m->name, m->backend, m->status};
}

std::optional<std::vector<SerialPortInfo>> SimulatedMachines::serialPorts(MachineKey key) {
  const Machine* m = world().machineByKey(key);
  if (!m || !m->serialPorts) return std::nullopt;
  std::vector<SerialPortInfo> ports;
  for (const auto& p : *m->serialPorts) ports.push_back({p.id, p.interface, p.address, p.port});
  return ports;
}

void SimulatedMachines::start(MachineKey key, bool saving, bool recovery, Completion<Done> done) {
  Machine* m = world().machineByKey(key);
  if (!m) return done(machineGone());
  if (hasStatus(*m, QorStatus::started) || hasStatus(*m, QorStatus::starting) ||
      hasStatus(*m, QorStatus::resuming)) {
    return done(invalidState("The virtual machine is already running."));
  }
  if (!hasStatus(*m, QorStatus::stopped) && !hasStatus(*m, QorStatus::paused)) {
    return done(invalidState("The virtual machine cannot be started in its current state."));
  }
  // Starting a stopped machine and resuming a paused one are the same request; only a start
  // boots the guest.
  if (hasStatus(*m, QorStatus::stopped)) shared_.bootedAt[key] = std::chrono::steady_clock::now();
  m->status = code(QorStatus::started);
  m->lastStart = StartRecord{saving, recovery};
  shared_.changed = true;
  done(Done{});
}

void SimulatedMachines::suspend(MachineKey key, bool saving, Completion<Done> done) {
  Machine* m = world().machineByKey(key);
  if (!m) return done(machineGone());
  if (hasStatus(*m, QorStatus::stopped)) {
    return done(invalidState("The virtual machine is not running."));
  }
  if (hasStatus(*m, QorStatus::paused) || hasStatus(*m, QorStatus::pausing)) {
    return done(invalidState("The virtual machine is already suspended."));
  }
  if (!hasStatus(*m, QorStatus::started)) {
    return done(invalidState("The virtual machine cannot be suspended in its current state."));
  }
  m->status = code(QorStatus::paused);
  m->lastSuspendSaving = saving;
  shared_.changed = true;
  done(Done{});
}

void SimulatedMachines::stop(MachineKey key, std::uint32_t method, Completion<Done> done) {
  Machine* m = world().machineByKey(key);
  if (!m) return done(machineGone());
  if (hasStatus(*m, QorStatus::stopped)) {
    return done(invalidState("The virtual machine is not running."));
  }
  if (!hasStatus(*m, QorStatus::started) && !hasStatus(*m, QorStatus::paused)) {
    return done(invalidState("The virtual machine cannot be stopped in its current state."));
  }
  m->status = code(QorStatus::stopped);
  m->lastStopMethod = method;
  guestLost_(*m);
  shared_.changed = true;
  done(Done{});
}

void SimulatedMachines::remove(MachineKey key, Completion<Done> done) {
  const Machine* m = world().machineByKey(key);
  if (!m) return done(machineGone());
  if (!hasStatus(*m, QorStatus::stopped)) {
    return done(invalidState("The virtual machine must be stopped before it can be deleted."));
  }
  guestLost_(*m);
  std::erase_if(world().machines, [key](const Machine& x) { return x.key == key; });
  world().machinesChanged();
  shared_.changed = true;
  done(Done{});
}

void SimulatedMachines::duplicate(MachineKey key, std::optional<std::string> name,
                                  Completion<Done> done) {
  const Machine* source = world().machineByKey(key);
  if (!source) return done(machineGone());
  if (!hasStatus(*source, QorStatus::stopped)) {
    return done(invalidState("The virtual machine must be stopped before it can be duplicated."));
  }
  Machine copy = copyOfMachine(*source, world(), name, random_);
  copyGuestFiles(world().guestRootOf(*source), world().guestRootOf(copy));
  world().machines.push_back(std::move(copy));
  world().machinesChanged();
  shared_.changed = true;
  done(Done{});
}

}  // namespace qor::host
