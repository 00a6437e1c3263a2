#include <random>

#include "host/core/vocabulary.h"
#include "host/simulated/machine_copy.h"
#include "host/simulated/simulated_backend.h"

namespace qor::host {
namespace {

bool hasStatus(const Machine& m, std::uint32_t s) {
  return m.status && *m.status == s;
}

}  // namespace

void SimulatedBackend::start(MachineKey key, bool saving, bool recovery, Completion<Done> done) {
  Machine& m = *find(key);
  if (hasStatus(m, code(QorStatus::started)) || hasStatus(m, code(QorStatus::starting)) ||
      hasStatus(m, code(QorStatus::resuming))) {
    return done(invalidState("The virtual machine is already running."));
  }
  if (!hasStatus(m, code(QorStatus::stopped)) && !hasStatus(m, code(QorStatus::paused))) {
    return done(invalidState("The virtual machine cannot be started in its current state."));
  }
  // Starting a stopped machine and resuming a paused one are the same request; only a start
  // boots the guest.
  if (hasStatus(m, code(QorStatus::stopped))) startedAt_[key] = std::chrono::steady_clock::now();
  m.status = code(QorStatus::started);
  m.lastStart = StartRecord{saving, recovery};
  changed_ = true;
  done(Done{});
}

void SimulatedBackend::suspend(MachineKey key, bool saving, Completion<Done> done) {
  Machine& m = *find(key);
  if (hasStatus(m, code(QorStatus::stopped))) return done(invalidState("The virtual machine is not running."));
  if (hasStatus(m, code(QorStatus::paused)) || hasStatus(m, code(QorStatus::pausing))) {
    return done(invalidState("The virtual machine is already suspended."));
  }
  if (!hasStatus(m, code(QorStatus::started))) {
    return done(invalidState("The virtual machine cannot be suspended in its current state."));
  }
  m.status = code(QorStatus::paused);
  m.lastSuspendSaving = saving;
  changed_ = true;
  done(Done{});
}

void SimulatedBackend::stop(MachineKey key, std::uint32_t method, Completion<Done> done) {
  Machine& m = *find(key);
  if (hasStatus(m, code(QorStatus::stopped))) return done(invalidState("The virtual machine is not running."));
  if (!hasStatus(m, code(QorStatus::started)) && !hasStatus(m, code(QorStatus::paused))) {
    return done(invalidState("The virtual machine cannot be stopped in its current state."));
  }
  m.status = code(QorStatus::stopped);
  m.lastStopMethod = method;
  releaseGuest(m);
  changed_ = true;
  done(Done{});
}

void SimulatedBackend::remove(MachineKey key, Completion<Done> done) {
  Machine& m = *find(key);
  if (!hasStatus(m, code(QorStatus::stopped))) {
    return done(invalidState("The virtual machine must be stopped before it can be deleted."));
  }
  releaseGuest(m);
  std::erase_if(world_.machines, [key](const Machine& x) { return x.key == key; });
  world_.machinesChanged();
  changed_ = true;
  done(Done{});
}

void SimulatedBackend::duplicate(MachineKey key, std::optional<std::string> name,
                                 Completion<Done> done) {
  const Machine& source = *find(key);
  if (!hasStatus(source, code(QorStatus::stopped))) {
    return done(invalidState("The virtual machine must be stopped before it can be duplicated."));
  }
  static std::mt19937_64 random{std::random_device{}()};
  Machine copy = copyOfMachine(source, world_, name, random);
  copyGuestFiles(world_.guestRootOf(source), world_.guestRootOf(copy));
  world_.machines.push_back(std::move(copy));
  world_.machinesChanged();
  changed_ = true;
  done(Done{});
}

void SimulatedBackend::releaseGuest(const Machine& machine) {
  files_.closeAllOf(machine.key);
  for (auto it = processes_.begin(); it != processes_.end();) {
    auto next = std::next(it);
    if (it->second.machineKey == machine.key) eraseProcess(it);
    it = next;
  }
  for (auto& d : world_.usbDevices) {
    if (d.connectedTo && machine.id && *d.connectedTo == *machine.id) d.connectedTo.reset();
  }
}

}  // namespace qor::host
