#include "host/objects/virtual_machine.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "contract/codes.h"
#include "host/core/arguments.h"
#include "host/core/handles.h"
#include "host/core/held_waits.h"
#include "host/core/router.h"
#include "host/objects/reply.h"

namespace qor::host::objects {
namespace {

using contract::ObjectClass;
using contract::Value;
namespace p = contract::properties;
namespace m = contract::methods;

Result<Value> id(Context&, const Target& t) {
  return valueOr(t.machine->id, p::kMachineId.name, Value::string);
}
Result<Value> name(Context&, const Target& t) {
  return valueOr(t.machine->name, p::kMachineName.name, Value::string);
}
Result<Value> backend(Context&, const Target& t) {
  return valueOr(t.machine->backend, p::kBackend.name, Value::uint32);
}
Result<Value> status(Context&, const Target& t) {
  return valueOr(t.machine->status, p::kStatus.name, Value::uint32);
}

Result<Value> serialPorts(Context& c, const Target& t) {
  const auto ports = c.backends.serialPorts ? c.backends.serialPorts->serialPorts(t.key())
                                            : std::optional<std::vector<SerialPortInfo>>();
  if (!ports) return noValue(p::kSerialPorts.name);
  std::vector<std::string> paths;
  const std::string machine = c.router.machinePath(c, *t.machine);
  for (std::size_t i = 0; i < ports->size(); ++i) {
    paths.push_back(c.router.pathOf(ObjectClass::serialPort, machine, i));
  }
  return Value::objectPathArray(paths);
}

bool flag(const Request& r, std::size_t i) {
  return *contract::booleanOf(r.args[i]);
}

void start(Context& c, const Target& t, const Request& r, Completion<Values> done) {
  c.backends.machines->start(t.key(), flag(r, 0), flag(r, 1), replyingNothing(std::move(done)));
}

void suspend(Context& c, const Target& t, const Request& r, Completion<Values> done) {
  c.backends.machines->suspend(t.key(), flag(r, 0), replyingNothing(std::move(done)));
}

void stop(Context& c, const Target& t, const Request& r, Completion<Values> done) {
  using contract::QorStopMethod;
  const std::uint32_t method = *contract::uint32Of(r.args[0]);
  if (method != contract::code(QorStopMethod::force) &&
      method != contract::code(QorStopMethod::kill) &&
      method != contract::code(QorStopMethod::request)) {
    done(invalidArgs("The stop method must be 'FoRc' (force), 'KiLl' (kill) or 'ReQu' (request)."));
    return;
  }
  c.backends.machines->stop(t.key(), method, replyingNothing(std::move(done)));
}

void remove(Context& c, const Target& t, const Request&, Completion<Values> done) {
  c.backends.machines->remove(t.key(), replyingNothing(std::move(done)));
}

void duplicate(Context& c, const Target& t, const Request& r, Completion<Values> done) {
  auto name = duplicateName(r.args[0]);
  if (const auto* f = failureOf(name)) {
    done(*f);
    return;
  }
  c.backends.machines->duplicate(t.key(), std::get<std::optional<std::string>>(std::move(name)),
                                 replyingNothing(std::move(done)));
}

// A new file or process belongs to the connection that asked for it; its path is below the
// machine's path as the request found it.
Completion<GuestHandle> claiming(Context& c, const Target& t, const Request& r,
                                 HandleOwners::Kind kind, ObjectClass objectClass,
                                 Completion<Values> done) {
  return replying<GuestHandle>(
      std::move(done), [&c, machine = c.router.machinePath(c, *t.machine), sender = r.sender, kind,
                        objectClass](GuestHandle handle) {
        c.handles.claim(kind, handle, sender);
        return Values{Value::objectPath(c.router.pathOf(objectClass, machine, handle))};
      });
}

void openFile(Context& c, const Target& t, const Request& r, Completion<Values> done) {
  if (!c.backends.files) {
    done(notSupported("This host cannot open files in its machines' guests."));
    return;
  }
  OpenFileArgs args{*contract::textOf(r.args[0]), *contract::uint32Of(r.args[1]), flag(r, 2)};
  c.backends.files->open(
      t.key(), std::move(args),
      claiming(c, t, r, HandleOwners::Kind::file, ObjectClass::guestFile, std::move(done)));
}

void execute(Context& c, const Target& t, const Request& r, Completion<Values> done) {
  if (!c.backends.processes) {
    done(notSupported("This host cannot run programs in its machines' guests."));
    return;
  }
  ExecuteArgs args;
  args.program = *contract::textOf(r.args[0]);
  args.arguments = textsOf(r.args[1]);
  args.environment = textsOf(r.args[2]);
  args.input = *contract::textOf(r.args[3]);
  args.base64 = flag(r, 4);
  args.capture = flag(r, 5);
  c.backends.processes->execute(
      t.key(), std::move(args),
      claiming(c, t, r, HandleOwners::Kind::process, ObjectClass::guestProcess, std::move(done)));
}

void queryIp(Context& c, const Target& t, const Request&, Completion<Values> done) {
  if (!c.backends.network) {
    done(notSupported("This host cannot tell its machines' addresses."));
    return;
  }
  c.backends.network->addresses(
      t.key(), replying<std::vector<std::string>>(std::move(done), [](auto addresses) {
        return Values{Value::stringArray(addresses)};
      }));
}

void waitFor(Context& c, const Target& t, const Request& r, Completion<Values> done) {
  using contract::QorWaitCondition;
  const std::uint32_t condition = *contract::uint32Of(r.args[0]);
  const std::int64_t milliseconds = *contract::signedOf(r.args[1]);
  const bool known = condition == contract::code(QorWaitCondition::agent) ||
                     condition == contract::code(QorWaitCondition::ip) ||
                     condition == contract::code(QorWaitCondition::started) ||
                     condition == contract::code(QorWaitCondition::stopped) ||
                     condition == contract::code(QorWaitCondition::paused);
  if (!known) {
    done(invalidArgs(
        "The condition must be 'WfAg' (agent), 'WfIp' (ip), 'StSc' (started), 'StSa' (stopped) "
        "or 'StSe' (paused)."));
    return;
  }
  if (milliseconds < 0) {
    done(invalidArgs("The time to wait must not be negative."));
    return;
  }
  c.waits.hold(t.key(), condition,
               std::chrono::milliseconds(std::min(milliseconds, contract::kWaitForLongestHoldMs)),
               r.sender, std::move(done));
}

// The router has found the machine already.
Result<Target> find(Context&, const Captures&, const std::string&, Target t) {
  return t;
}

constexpr PropertyRow kProperties[] = {
    {&p::kMachineId, id},  {&p::kMachineName, name},        {&p::kBackend, backend},
    {&p::kStatus, status}, {&p::kSerialPorts, serialPorts},
};
constexpr MethodRow kMethods[] = {
    {&m::kStart, start},     {&m::kSuspend, suspend},     {&m::kStop, stop},
    {&m::kDelete, remove},   {&m::kDuplicate, duplicate}, {&m::kOpenFile, openFile},
    {&m::kExecute, execute}, {&m::kQueryIp, queryIp},     {&m::kWaitFor, waitFor},
};

}  // namespace

const Route kVirtualMachine{"vm/{vm}", ObjectClass::virtualMachine, find, kProperties, kMethods};

}  // namespace qor::host::objects
