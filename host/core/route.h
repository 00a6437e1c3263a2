#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "contract/members.h"
#include "contract/value.h"
#include "host/backend/backend.h"
#include "host/core/request.h"

namespace qor::host {

class HandleOwners;
class HeldWaits;
class Router;

// How the machine part of a path names its machine: R/vm/id/E(id), R/vm/name/E(name), or
// R/vm/key/<n> for a machine whose id cannot name it.
enum class MachineSelector { byId, byName, byKey };

// What a path's placeholders held: {vm} and {n}.
struct Captures {
  std::optional<MachineSelector> selector;
  std::string machineText;  // the unescaped id or name; the decimal key for byKey
  std::uint64_t element = 0;
};

// The object a request names, found afresh for every request.
struct Target {
  std::optional<MachineInfo> machine;  // the machine, or the one the object lies below
  std::uint64_t element = 0;           // the path's <n>
  std::size_t index = 0;               // position of a serial port, device or window in its list
  std::optional<SerialPortInfo> port;
  std::optional<UsbDeviceInfo> device;
  std::optional<WindowInfo> window;
  MachineKey key() const { return machine->key; }
};

// The application's own state: whether it leaves when idle.
struct ApplicationState {
  bool autoTerminate = true;
};

// What a finder or a member's handler works with; lives as long as the host.
struct Context {
  Backends backends;
  HandleOwners& handles;
  HeldWaits& waits;
  ApplicationState& application;
  const Router& router;
};

using Getter = Result<contract::Value> (*)(Context&, const Target&);
using Setter = Result<Done> (*)(Context&, const Target&, const contract::Value&);
// Arguments are checked against the member's signature before the handler runs.
using Handler = void (*)(Context&, const Target&, const Request&, Completion<Values>);

struct PropertyRow {
  const contract::Property* declared;
  Getter get;
  Setter set = nullptr;  // for the settable ones
};

struct MethodRow {
  const contract::Method* declared;
  Handler handler;
};

// One class of the object tree: where its objects live, how one is found, and its members.
// The route table is the only place a path is spelled; parsing, building, introspection and
// dispatch all read it.
struct Route {
  // Below the root, elements separated by "/": literals, "{vm}" (a selector and its text) and
  // "{n}" (a decimal number without leading zeros). "" is the root itself.
  std::string_view pattern;
  contract::ObjectClass objectClass;
  // Looks the object up; the machine of a path below one is already in `t`. Never blocks.
  Result<Target> (*find)(Context&, const Captures&, const std::string& sender, Target t);
  std::span<const PropertyRow> properties;
  std::span<const MethodRow> methods;
  // The {n} of the objects there are now below `parent`, for Introspect; null for no {n}.
  std::vector<std::uint64_t> (*elements)(Context&, const Target& parent,
                                         const std::string& sender) = nullptr;
};

// Failures every class shares.
Failure wrongSignature(std::string_view expected, std::string_view got);
Failure noValue(std::string_view property);

}  // namespace qor::host
