#include <random>

#include "host/codes.h"
#include "host/host.h"
#include "host/machine_copy.h"

namespace qor::host {
namespace {

bool hasStatus(const Machine& m, std::uint32_t s) {
  return m.status && *m.status == s;
}

Reply stateError(const char* message) {
  return Reply::failure(invalidState(message));
}

}  // namespace

Reply Host::start(Target& target, const Request& request) {
  Machine& m = *target.machine;
  if (hasStatus(m, status::kStarted) || hasStatus(m, status::kStarting) ||
      hasStatus(m, status::kResuming)) {
    return stateError("The virtual machine is already running.");
  }
  if (!hasStatus(m, status::kStopped) && !hasStatus(m, status::kPaused)) {
    return stateError("The virtual machine cannot be started in its current state.");
  }
  // Starting a stopped machine and resuming a paused one are the same request.
  m.status = status::kStarted;
  m.lastStart = StartRecord{*booleanOf(request.args[0]), *booleanOf(request.args[1])};
  changed_ = true;
  return Reply::ok();
}

Reply Host::suspend(Target& target, const Request& request) {
  Machine& m = *target.machine;
  if (hasStatus(m, status::kStopped)) return stateError("The virtual machine is not running.");
  if (hasStatus(m, status::kPaused) || hasStatus(m, status::kPausing)) {
    return stateError("The virtual machine is already suspended.");
  }
  if (!hasStatus(m, status::kStarted)) {
    return stateError("The virtual machine cannot be suspended in its current state.");
  }
  m.status = status::kPaused;
  m.lastSuspendSaving = *booleanOf(request.args[0]);
  changed_ = true;
  return Reply::ok();
}

Reply Host::stop(Target& target, const Request& request) {
  const std::uint32_t method = *uint32Of(request.args[0]);
  if (method != stop_method::kForce && method != stop_method::kKill &&
      method != stop_method::kRequest) {
    return Reply::failure(
        invalidArgs("The stop method must be 'FoRc' (force), 'KiLl' (kill) or 'ReQu' (request)."));
  }
  Machine& m = *target.machine;
  if (hasStatus(m, status::kStopped)) return stateError("The virtual machine is not running.");
  if (!hasStatus(m, status::kStarted) && !hasStatus(m, status::kPaused)) {
    return stateError("The virtual machine cannot be stopped in its current state.");
  }
  m.status = status::kStopped;
  m.lastStopMethod = method;
  releaseGuest(m);
  changed_ = true;
  return Reply::ok();
}

Reply Host::deleteMachine(Target& target, const Request&) {
  Machine& m = *target.machine;
  if (!hasStatus(m, status::kStopped)) {
    return stateError("The virtual machine must be stopped before it can be deleted.");
  }
  releaseGuest(m);
  const auto key = m.key;
  std::erase_if(world_.machines, [key](const Machine& x) { return x.key == key; });
  world_.machinesChanged();
  changed_ = true;
  return Reply::ok();
}

Reply Host::duplicate(Target& target, const Request& request) {
  auto name = duplicateName(request.args[0]);
  if (auto* e = std::get_if<HostError>(&name)) return Reply::failure(*e);
  const Machine& source = *target.machine;
  if (!hasStatus(source, status::kStopped)) {
    return stateError("The virtual machine must be stopped before it can be duplicated.");
  }
  static std::mt19937_64 random{std::random_device{}()};
  Machine copy = copyOfMachine(source, world_, std::get<std::optional<std::string>>(name), random);
  copyGuestFiles(world_.guestRootOf(source), world_.guestRootOf(copy));
  world_.machines.push_back(std::move(copy));
  world_.machinesChanged();
  changed_ = true;
  return Reply::ok();
}

// A machine that stops loses its guest: open files and running programs end, and the USB
// devices it held go back to the host.
void Host::releaseGuest(const Machine& machine) {
  files_.closeAllOf(machine.key);
  std::erase_if(processes_, [&](const auto& p) { return p.second.machineKey == machine.key; });
  for (auto& d : world_.usbDevices) {
    if (d.connectedTo && machine.id && *d.connectedTo == *machine.id) d.connectedTo.reset();
  }
}

}  // namespace qor::host
