#include "host/core/dispatcher.h"

#include <algorithm>

#include "host/core/record_json.h"

namespace qor::host {
namespace {


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

}  // namespace

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

HostError wrongSignature(std::string_view expected, std::string_view got) {
  return invalidArgs("Expected arguments of type '" + std::string(expected) + "', got '" +
                     std::string(got) + "'.");
}


std::optional<MachineKey> Dispatcher::resolveMachine(const ParsedPath& parsed) {
  switch (parsed.selector) {
    case MachineSelector::kId:
      return backend_.machineById(parsed.machineText);
    case MachineSelector::kName:
      return backend_.machineByName(parsed.machineText);
    case MachineSelector::kKey:
      if (auto key = parseElementNumber(parsed.machineText); key && backend_.machine(*key)) {
        return *key;
      }
      return std::nullopt;
  }
  return std::nullopt;
}

std::string Dispatcher::pathOf(const MachineInfo& machine) {
  // A machine without an id, or one whose id an earlier machine shares, cannot be named by id.
  if (machine.id && backend_.machineById(*machine.id) == machine.key) {
    return contract::machinePathWithID(*machine.id);
  }
  return machinePathByKey(machine.key);
}

bool Dispatcher::ownedBy(std::map<GuestHandle, std::string>& owners, GuestHandle handle,
                         const std::string& sender) {
  auto it = owners.find(handle);
  return it != owners.end() && it->second == sender;
}

std::variant<Dispatcher::Target, HostError> Dispatcher::resolve(const ParsedPath& parsed,
                                                                const std::string& sender) {
  Target t;
  t.kind = parsed.kind;
  t.element = parsed.element;
  switch (parsed.kind) {
    case PathKind::kApplication:
      return t;
    case PathKind::kMachine:
    case PathKind::kSerialPort:
    case PathKind::kGuestFile:
    case PathKind::kGuestProcess: {
      const auto key = resolveMachine(parsed);
      if (key) t.machine = backend_.machine(*key);
      if (!t.machine) return unknownObject(PathKind::kMachine);
      break;
    }
    case PathKind::kUsbDevice: {
      auto devices = backend_.usbDevices();
      if (parsed.element >= devices.size()) return unknownObject(parsed.kind);
      t.index = static_cast<std::size_t>(parsed.element);
      t.device = std::move(devices[t.index]);
      return t;
    }
    case PathKind::kWindow: {
      const auto windows = backend_.windows();
      for (std::size_t i = 0; i < windows.size(); ++i) {
        if (windows[i].key == parsed.element) {
          t.index = i;
          t.window = windows[i];
          return t;
        }
      }
      return unknownObject(parsed.kind);
    }
    default:
      return unknownObject(parsed.kind);
  }
  if (parsed.kind == PathKind::kSerialPort) {
    const auto& ports = t.machine->serialPorts;
    if (!ports || parsed.element >= ports->size()) return unknownObject(parsed.kind);
    t.index = static_cast<std::size_t>(parsed.element);
  }
  // A handle the backend no longer has is forgotten here too.
  const auto present = [&](std::vector<GuestHandle> handles,
                           std::map<GuestHandle, std::string>& owners) {
    if (std::find(handles.begin(), handles.end(), parsed.element) != handles.end()) {
      return ownedBy(owners, parsed.element, sender);
    }
    owners.erase(parsed.element);
    return false;
  };
  if (parsed.kind == PathKind::kGuestFile && !present(backend_.files(t.key()), fileOwners_)) {
    return unknownObject(parsed.kind);
  }
  if (parsed.kind == PathKind::kGuestProcess &&
      !present(backend_.processes(t.key()), processOwners_)) {
    return unknownObject(parsed.kind);
  }
  return t;
}

void Dispatcher::handle(const Request& request, Completion<Reply> done) {
  if (!argumentsMatchSignature(request)) {
    done(Reply::failure(invalidArgs("The arguments do not match their signature.")));
    return;
  }
  const ParsedPath parsed = parsePath(request.path);
  const std::string_view iface = request.interface ? std::string_view(*request.interface) : "";
  if (request.member == "Introspect" && (iface == kIntrospectableInterface || iface.empty())) {
    if (!request.signature.empty()) {
      done(Reply::failure(wrongSignature("", request.signature)));
      return;
    }
    if (parsed.kind != PathKind::kNone) {
      done(introspect(parsed, request.path, request.sender));
      return;
    }
  }
  if (iface == kPeerInterface && request.member == "Ping" && request.signature.empty()) {
    done(Reply::ok());
    return;
  }
  if (parsed.kind == PathKind::kNone || parsed.kind == PathKind::kNode) {
    done(Reply::failure(unknownObject(PathKind::kNone)));
    return;
  }
  // A VM manager the host cannot reach answers nothing, and says why.
  if (auto e = backend_.unavailable()) {
    done(Reply::failure(*e));
    return;
  }
  auto resolved = resolve(parsed, request.sender);
  if (auto* e = std::get_if<HostError>(&resolved)) {
    done(Reply::failure(*e));
    return;
  }
  dispatch(std::get<Target>(resolved), request, std::move(done));
}

void Dispatcher::connectionLeft(const std::string& uniqueName) {
  dropWaitsOf(uniqueName);
  // Copied first: releasing may call back into nothing here, but keeps the maps simple.
  for (auto it = fileOwners_.begin(); it != fileOwners_.end();) {
    if (it->second == uniqueName) {
      backend_.releaseFile(it->first);
      it = fileOwners_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = processOwners_.begin(); it != processOwners_.end();) {
    if (it->second == uniqueName) {
      backend_.releaseProcess(it->first);
      it = processOwners_.erase(it);
    } else {
      ++it;
    }
  }
}

void Dispatcher::dispatch(Target& target, const Request& request, Completion<Reply> done) {
  const std::string own = interfaceOf(target.kind);
  const std::string_view iface = request.interface ? std::string_view(*request.interface) : "";
  const bool propertyMember =
      request.member == "Get" || request.member == "GetAll" || request.member == "Set";
  if (iface == kPropertiesInterface ||
      (iface.empty() && propertyMember && !findMethod(target.kind, request.member))) {
    done(properties(target, request));
    return;
  }
  if (!iface.empty() && iface != own) {
    done(Reply::failure(error_names::kUnknownInterface,
                        "The object has no interface " + std::string(iface) + "."));
    return;
  }
  const MethodEntry* entry = findMethod(target.kind, request.member);
  if (!entry) {
    done(Reply::failure(error_names::kUnknownMethod,
                        "The object has no method " + request.member + "."));
    return;
  }
  if (request.signature != entry->declared->in) {
    done(Reply::failure(wrongSignature(entry->declared->in, request.signature)));
    return;
  }
  (this->*(entry->method))(target, request, std::move(done));
}

}  // namespace qor::host
