#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "host/core/backend.h"
#include "host/core/completion.h"
#include "host/core/faults.h"
#include "host/core/json.h"
#include "host/core/object_path.h"
#include "host/core/request.h"
#include "version.h"

namespace qor::host {

inline constexpr std::string_view kApplicationName = "Qor";
inline constexpr std::string_view kApplicationVersion = qor::kVersion;

// The bus side of the host, free of the bus library: resolves a request's path, checks its
// interface, member and arguments, asks the backend and builds the reply. Every request is
// answered through its Completion, at once or when the backend has finished; nothing a client
// sends can make it fail other than with an error reply.
class Dispatcher {
 public:
  explicit Dispatcher(Backend& backend) : backend_(backend) {}

  void handle(const Request& request, Completion<Reply> done);

  // What fault matching needs to know of a request.
  RequestFacts factsOf(const Request& request);
  // The reply of a fault that answers with a value of another type ("wrong-type"), or with the
  // path "/" ("no-object"), in place of what the request would answer.
  Reply substituteReply(const Request& request, FaultReply kind);
  // The reply of a fault that answers with a given value: its JSON converted to the type the
  // request's answer has (an error reply when it does not fit, or the request has no answer).
  Reply replyWithValue(const Request& request, const Json& value);

  // A guest file or process belongs to the connection that opened it: requests from another
  // connection find no object there, and when its connection leaves the bus it is released.
  void connectionLeft(const std::string& uniqueName);

  bool autoTerminate() const { return autoTerminate_; }

  // Whether a method of the contract has a handler here.
  static bool handles(const contract::Method& method);

 private:
  struct Target {
    PathKind kind = PathKind::kNone;
    std::optional<MachineInfo> machine;  // the machine, or the one the object lies below
    std::size_t index = 0;               // of a serial port, USB device or window in its list
    std::uint64_t element = 0;           // number of a guest file or process, key of a window
    std::optional<UsbDeviceInfo> device;
    std::optional<WindowInfo> window;
    MachineKey key() const { return machine->key; }
  };
  using Method = void (Dispatcher::*)(Target&, const Request&, Completion<Reply>);
  struct MethodEntry {
    const contract::Method* declared;
    Method method;
  };
  using PropertyEntry = contract::Property;
  static std::span<const MethodEntry> methodTable();
  static const MethodEntry* findMethod(PathKind kind, std::string_view member);
  static const PropertyEntry* findProperty(PathKind kind, std::string_view name);
  static std::vector<const PropertyEntry*> propertiesOf(PathKind kind);
  // The type of the request's answer ("" when unknown), and whether it is a property read,
  // whose answer goes inside a variant.
  static std::pair<std::string_view, bool> answerType(const Request& request);

  std::variant<Target, HostError> resolve(const ParsedPath& parsed, const std::string& sender);
  std::optional<MachineKey> resolveMachine(const ParsedPath& parsed);
  // The path a machine is listed under: by id, or by key when its id cannot name it.
  std::string pathOf(const MachineInfo& machine);
  bool ownedBy(std::map<GuestHandle, std::string>& owners, GuestHandle handle,
               const std::string& sender);
  void dispatch(Target& target, const Request& request, Completion<Reply> done);

  // Properties (properties.cpp).
  Reply properties(Target& target, const Request& request);
  std::variant<Value, HostError> property(const Target& target, const PropertyEntry& entry);
  Reply setProperty(Target& target, const PropertyEntry& entry, const Value& value);

  // Introspection (interface_xml.cpp).
  Reply introspect(const ParsedPath& parsed, const std::string& path, const std::string& sender);

  // Requests (requests.cpp).
  void setAutoTerminate(Target& target, const Request& request, Completion<Reply> done);
  void start(Target& target, const Request& request, Completion<Reply> done);
  void suspend(Target& target, const Request& request, Completion<Reply> done);
  void stop(Target& target, const Request& request, Completion<Reply> done);
  void deleteMachine(Target& target, const Request& request, Completion<Reply> done);
  void duplicate(Target& target, const Request& request, Completion<Reply> done);
  void openFile(Target& target, const Request& request, Completion<Reply> done);
  void execute(Target& target, const Request& request, Completion<Reply> done);
  void queryIp(Target& target, const Request& request, Completion<Reply> done);
  void readFile(Target& target, const Request& request, Completion<Reply> done);
  void writeFile(Target& target, const Request& request, Completion<Reply> done);
  void closeFile(Target& target, const Request& request, Completion<Reply> done);
  void getResult(Target& target, const Request& request, Completion<Reply> done);
  void connectDevice(Target& target, const Request& request, Completion<Reply> done);
  void disconnectDevice(Target& target, const Request& request, Completion<Reply> done);
  void closeWindow(Target& target, const Request& request, Completion<Reply> done);

  Backend& backend_;
  std::map<GuestHandle, std::string> fileOwners_;
  std::map<GuestHandle, std::string> processOwners_;
  bool autoTerminate_ = true;
};

// UnknownObject, with a message naming what is missing.
HostError unknownObject(PathKind kind);
HostError wrongSignature(std::string_view expected, std::string_view got);

// The class of the objects of a kind; nullopt for no object.
std::optional<contract::ObjectClass> classOf(PathKind kind);
// The interface of the objects of a kind ("org.qor.Scripting1.VirtualMachine"), or "".
std::string interfaceOf(PathKind kind);

}  // namespace qor::host
