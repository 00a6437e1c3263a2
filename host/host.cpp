#include "host/host.h"

#include "host/object_path.h"
#include "host/record_json.h"

namespace qor::host {
namespace {

constexpr std::string_view kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr std::string_view kIntrospectableInterface = "org.freedesktop.DBus.Introspectable";
constexpr std::string_view kPeerInterface = "org.freedesktop.DBus.Peer";

HostError unknownObject(PathKind kind) {
  const char* message = "There is no object at this path.";
  switch (kind) {
    case PathKind::kMachine:
      message = "The virtual machine does not exist.";
      break;
    case PathKind::kSerialPort:
      message = "The serial port does not exist.";
      break;
    case PathKind::kGuestFile:
      message = "The guest file is not open.";
      break;
    case PathKind::kGuestProcess:
      message = "The guest process does not exist.";
      break;
    case PathKind::kUsbDevice:
      message = "The USB device does not exist.";
      break;
    case PathKind::kWindow:
      message = "The window does not exist.";
      break;
    default:
      break;
  }
  return {error_names::kUnknownObject, message};
}

// A request whose arguments do not spell out its signature, or hold data of another kind than
// their types, came from no bus; it is refused like one of a wrong signature.
bool argumentsMatchSignature(const Request& request) {
  std::string joined;
  for (const auto& a : request.args) {
    if (!isWellFormed(a)) return false;
    joined += a.signature;
  }
  return joined == request.signature;
}

const std::string* textArg(const Request& request, std::size_t i) {
  return i < request.args.size() ? textOf(request.args[i]) : nullptr;
}

HostError wrongSignature(std::string_view expected, std::string_view got) {
  return invalidArgs("Expected arguments of type '" + std::string(expected) + "', got '" +
                     std::string(got) + "'.");
}

}  // namespace

Host::Host(World world, ProcessLauncher& launcher)
    : world_(std::move(world)), launcher_(launcher) {}

Machine* Host::resolveMachine(const ParsedPath& parsed) {
  switch (parsed.selector) {
    case MachineSelector::kId:
      return world_.machineById(parsed.machineText);
    case MachineSelector::kName:
      return world_.machineByName(parsed.machineText);
    case MachineSelector::kKey:
      if (auto key = parseElementNumber(parsed.machineText)) return world_.machineByKey(*key);
      return nullptr;
  }
  return nullptr;
}

std::variant<Host::Target, HostError> Host::resolve(const ParsedPath& parsed) {
  Target t;
  t.kind = parsed.kind;
  t.element = parsed.element;
  switch (parsed.kind) {
    case PathKind::kApplication:
      return t;
    case PathKind::kMachine:
    case PathKind::kSerialPort:
    case PathKind::kGuestFile:
    case PathKind::kGuestProcess:
      t.machine = resolveMachine(parsed);
      if (!t.machine) return unknownObject(PathKind::kMachine);
      break;
    case PathKind::kUsbDevice:
      if (parsed.element >= world_.usbDevices.size()) return unknownObject(parsed.kind);
      t.index = static_cast<std::size_t>(parsed.element);
      return t;
    case PathKind::kWindow:
      for (std::size_t i = 0; i < world_.windows.size(); ++i) {
        if (world_.windows[i].key == parsed.element) {
          t.index = i;
          return t;
        }
      }
      return unknownObject(parsed.kind);
    default:
      return unknownObject(parsed.kind);
  }
  if (parsed.kind == PathKind::kSerialPort) {
    const auto& ports = t.machine->serialPorts;
    if (!ports || parsed.element >= ports->size()) return unknownObject(parsed.kind);
    t.index = static_cast<std::size_t>(parsed.element);
  }
  if (parsed.kind == PathKind::kGuestFile && !files_.find(parsed.element, t.machine->key)) {
    return unknownObject(parsed.kind);
  }
  if (parsed.kind == PathKind::kGuestProcess) {
    auto it = processes_.find(parsed.element);
    if (it == processes_.end() || it->second.machineKey != t.machine->key) {
      return unknownObject(parsed.kind);
    }
  }
  return t;
}

Reply Host::handle(const Request& request) {
  if (!argumentsMatchSignature(request)) {
    return Reply::failure(invalidArgs("The arguments do not match their signature."));
  }
  const ParsedPath parsed = parsePath(request.path);
  const std::string_view iface = request.interface ? std::string_view(*request.interface) : "";
  if (request.member == "Introspect" && (iface == kIntrospectableInterface || iface.empty())) {
    if (!request.signature.empty()) return Reply::failure(wrongSignature("", request.signature));
    if (parsed.kind != PathKind::kNone) return introspect(parsed, request.path);
  }
  if (iface == kPeerInterface && request.member == "Ping" && request.signature.empty())
    return Reply::ok();
  if (parsed.kind == PathKind::kNone || parsed.kind == PathKind::kNode) {
    return Reply::failure(unknownObject(PathKind::kNone));
  }
  auto resolved = resolve(parsed);
  if (auto* e = std::get_if<HostError>(&resolved)) return Reply::failure(*e);
  return dispatch(std::get<Target>(resolved), request);
}

Reply Host::dispatch(Target& target, const Request& request) {
  const std::string own = interfaceOf(target.kind);
  const std::string_view iface = request.interface ? std::string_view(*request.interface) : "";
  const bool propertyMember =
      request.member == "Get" || request.member == "GetAll" || request.member == "Set";
  if (iface == kPropertiesInterface ||
      (iface.empty() && propertyMember && !findMethod(target.kind, request.member))) {
    return properties(target, request);
  }
  if (!iface.empty() && iface != own) {
    return Reply::failure(error_names::kUnknownInterface,
                          "The object has no interface " + std::string(iface) + ".");
  }
  const MethodEntry* entry = findMethod(target.kind, request.member);
  if (!entry) {
    return Reply::failure(error_names::kUnknownMethod,
                          "The object has no method " + request.member + ".");
  }
  if (request.signature != entry->in) {
    return Reply::failure(wrongSignature(entry->in, request.signature));
  }
  return (this->*(entry->method))(target, request);
}

Reply Host::properties(Target& target, const Request& request) {
  const std::string own = interfaceOf(target.kind);
  auto checkInterface = [&](const Value& v) -> std::optional<HostError> {
    const std::string* name = textOf(v);
    if (!name || name->empty() || *name == own) return std::nullopt;
    return HostError{error_names::kUnknownInterface, "The object has no interface " + *name + "."};
  };
  if (request.member == "GetAll") {
    if (request.signature != "s") return Reply::failure(wrongSignature("s", request.signature));
    if (auto e = checkInterface(request.args[0])) return Reply::failure(*e);
    RecordBuilder all;
    for (const auto& entry : propertyTable()) {
      if (entry.kind != target.kind) continue;
      auto value = property(target, entry);
      if (auto* v = std::get_if<Value>(&value)) all.add(std::string(entry.name), std::move(*v));
    }
    return Reply::of(std::move(all).build());
  }
  const bool get = request.member == "Get";
  if (!get && request.member != "Set") {
    return Reply::failure(error_names::kUnknownMethod,
                          "The properties interface has no method " + request.member + ".");
  }
  const std::string_view expected = get ? "ss" : "ssv";
  if (request.signature != expected) {
    return Reply::failure(wrongSignature(expected, request.signature));
  }
  if (auto e = checkInterface(request.args[0])) return Reply::failure(*e);
  const std::string& name = *textOf(request.args[1]);
  const PropertyEntry* entry = findProperty(target.kind, name);
  if (!entry) {
    return Reply::failure(error_names::kUnknownProperty,
                          "The object has no property " + name + ".");
  }
  if (!get) return setProperty(target, *entry, request.args[2]);
  auto value = property(target, *entry);
  if (auto* e = std::get_if<HostError>(&value)) return Reply::failure(*e);
  return Reply::of(Value::variant(std::get<Value>(std::move(value))));
}

RequestFacts Host::factsOf(const Request& request) {
  RequestFacts facts;
  facts.path = request.path;
  facts.member = request.member;
  const bool propertyCall = (request.member == "Get" && request.signature == "ss") ||
                            (request.member == "Set" && request.signature == "ssv");
  const std::string* name = textArg(request, 1);
  if (propertyCall && name && (!request.interface || *request.interface == kPropertiesInterface)) {
    facts.member += "." + *name;
  }
  const ParsedPath parsed = parsePath(request.path);
  if (!parsed.machinePath.empty()) {
    if (const Machine* m = resolveMachine(parsed); m && m->id) facts.machineId = *m->id;
  }
  return facts;
}

std::pair<std::string_view, bool> Host::answerType(const Request& request) {
  const ParsedPath parsed = parsePath(request.path);
  const std::string* name = textArg(request, 1);
  if (request.member == "Get" && request.signature == "ss" && name) {
    const auto* entry = findProperty(parsed.kind, *name);
    return {entry ? entry->type : std::string_view(), true};
  }
  const auto* entry = findMethod(parsed.kind, request.member);
  return {entry ? entry->out : std::string_view(), false};
}

Reply Host::substituteReply(const Request& request, FaultReply kind) {
  auto [type, get] = answerType(request);
  if (get && type.empty()) type = "s";
  Value value = kind == FaultReply::kNoObject ? Value::objectPath("/")
                : type == "s"                 ? Value::int32(0)
                                              : Value::string("a value of another type");
  return Reply::of(get ? Value::variant(std::move(value)) : std::move(value));
}

Reply Host::replyWithValue(const Request& request, const Json& json) {
  const auto [type, get] = answerType(request);
  if (type.empty()) {
    return Reply::failure(failed("The fault's value answers a request with no result."));
  }
  auto value = valueFromJson(json, type);
  if (auto* e = std::get_if<std::string>(&value)) {
    return Reply::failure(failed("The fault's value is no " + std::string(type) + ": " + *e));
  }
  Value answer = std::get<Value>(std::move(value));
  return Reply::of(get ? Value::variant(std::move(answer)) : std::move(answer));
}

}  // namespace qor::host
