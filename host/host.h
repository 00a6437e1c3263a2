#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "host/faults.h"
#include "host/guest_files.h"
#include "host/guest_process.h"
#include "host/object_path.h"
#include "host/request.h"
#include "host/world.h"

namespace qor::host {

inline constexpr std::string_view kApplicationName = "Qor";
inline constexpr std::string_view kApplicationVersion = "4.7.0";

// The host's answers to requests, free of the bus: a request value in, a reply value out, on a
// world. Nothing a client sends can make it fail other than with an error reply.
class Host {
 public:
  Host(World world, ProcessLauncher& launcher);

  Reply handle(const Request& request);

  // What fault matching needs to know of a request.
  RequestFacts factsOf(const Request& request);
  // The reply of a fault that answers with a value of another type ("wrong-type"), or with the
  // path "/" ("no-object"), in place of what the request would answer.
  Reply substituteReply(const Request& request, FaultReply kind);
  // The reply of a fault that answers with a given value: its JSON converted to the type the
  // request's answer has (an error reply when it does not fit, or the request has no answer).
  Reply replyWithValue(const Request& request, const Json& value);

  // True once after every request that changed the world, which must then be saved.
  bool takeChanged() { return std::exchange(changed_, false); }
  const World& world() const { return world_; }
  bool autoTerminate() const { return autoTerminate_; }

 private:
  struct Target {
    PathKind kind = PathKind::kNone;
    Machine* machine = nullptr;  // the machine, or the one the object lies below
    std::size_t index = 0;       // of a serial port, USB device or window in its list
    std::uint64_t element = 0;   // number of a guest file or process
  };
  using Method = Reply (Host::*)(Target&, const Request&);
  struct MethodEntry {
    PathKind kind;
    std::string_view member;
    std::string_view in;
    std::string_view out;
    Method method;
  };
  struct PropertyEntry {
    PathKind kind;
    std::string_view name;
    std::string_view type;
    bool settable;
  };
  static std::span<const MethodEntry> methodTable();
  static std::span<const PropertyEntry> propertyTable();
  static const MethodEntry* findMethod(PathKind kind, std::string_view member);
  static const PropertyEntry* findProperty(PathKind kind, std::string_view name);
  // The type of the request's answer ("" when unknown), and whether it is a property read,
  // whose answer goes inside a variant.
  static std::pair<std::string_view, bool> answerType(const Request& request);

  std::variant<Target, HostError> resolve(const ParsedPath& parsed);
  Machine* resolveMachine(const ParsedPath& parsed);
  Reply dispatch(Target& target, const Request& request);

  // Properties (host.cpp).
  Reply properties(Target& target, const Request& request);
  std::variant<Value, HostError> property(const Target& target, const PropertyEntry& entry) const;
  Reply setProperty(Target& target, const PropertyEntry& entry, const Value& value);

  // Introspection (host_interfaces_xml.cpp).
  Reply introspect(const ParsedPath& parsed, const std::string& path);

  // Virtual machines (host_machine.cpp).
  Reply start(Target& target, const Request& request);
  Reply suspend(Target& target, const Request& request);
  Reply stop(Target& target, const Request& request);
  Reply deleteMachine(Target& target, const Request& request);
  Reply duplicate(Target& target, const Request& request);
  void releaseGuest(const Machine& machine);

  // Guest agents (host_guest.cpp).
  Reply openFile(Target& target, const Request& request);
  Reply execute(Target& target, const Request& request);
  Reply queryIp(Target& target, const Request& request);
  Reply readFile(Target& target, const Request& request);
  Reply writeFile(Target& target, const Request& request);
  Reply closeFile(Target& target, const Request& request);
  Reply getResult(Target& target, const Request& request);
  void forgetOldProcesses();

  // The application, USB devices and windows (host_objects.cpp).
  Reply setAutoTerminate(Target& target, const Request& request);
  Reply connectDevice(Target& target, const Request& request);
  Reply disconnectDevice(Target& target, const Request& request);
  Reply closeWindow(Target& target, const Request& request);

  World world_;
  ProcessLauncher& launcher_;
  GuestFiles files_;
  std::map<std::uint64_t, GuestProcess> processes_;
  std::uint64_t nextProcess_ = 1;
  bool changed_ = false;
  bool autoTerminate_ = true;
};

// The interface of the objects of a kind ("org.qor.Scripting1.VirtualMachine"), or "".
std::string interfaceOf(PathKind kind);

}  // namespace qor::host
