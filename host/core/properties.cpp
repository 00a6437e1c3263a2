#include "host/core/dispatcher.h"

namespace qor::host {
namespace {

HostError noValue(std::string_view name) {
  return {error_names::kNoValue, "The property " + std::string(name) + " has no value."};
}

template <class T, class Make>
std::variant<Value, HostError> optionalValue(const std::optional<T>& v, std::string_view name,
                                             Make make) {
  if (!v) return noValue(name);
  return make(*v);
}

}  // namespace

Reply Dispatcher::properties(Target& target, const Request& request) {
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
    for (const auto* entry : propertiesOf(target.kind)) {
      auto value = property(target, *entry);
      if (auto* v = std::get_if<Value>(&value)) all.add(std::string(entry->name), std::move(*v));
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

std::variant<Value, HostError> Dispatcher::property(const Target& target,
                                                    const PropertyEntry& entry) {
  const std::string_view name = entry.name;
  auto text = [](const std::string& s) { return Value::string(s); };
  auto integer = [](std::int64_t i) { return Value::int64(i); };
  auto code = [](std::uint32_t c) { return Value::uint32(c); };
  switch (target.kind) {
    case PathKind::kApplication: {
      if (name == "Name") return Value::string(std::string(kApplicationName));
      if (name == "Version") return Value::string(std::string(kApplicationVersion));
      if (name == "Frontmost") return Value::boolean(false);  // it runs hidden
      std::vector<std::string> paths;
      if (name == "VirtualMachines") {
        for (const auto key : backend_.machines()) {
          if (auto m = backend_.machine(key)) paths.push_back(pathOf(*m));
        }
      } else if (name == "UsbDevices") {
        const std::size_t count = backend_.usbDevices().size();
        for (std::size_t i = 0; i < count; ++i) {
          paths.push_back(std::string(kRootPath) + "/usb/" + std::to_string(i));
        }
      } else {
        for (const auto& w : backend_.windows()) {
          paths.push_back(std::string(kRootPath) + "/window/" + std::to_string(w.key));
        }
      }
      return Value::objectPathArray(paths);
    }
    case PathKind::kMachine: {
      const MachineInfo& m = *target.machine;
      if (name == "Id") return optionalValue(m.id, name, text);
      if (name == "Name") return optionalValue(m.name, name, text);
      if (name == "Backend") return optionalValue(m.backend, name, code);
      if (name == "Status") return optionalValue(m.status, name, code);
      if (!m.serialPorts) return noValue(name);
      std::vector<std::string> paths;
      const std::string base = pathOf(m) + "/serial/";
      for (std::size_t i = 0; i < m.serialPorts->size(); ++i) {
        paths.push_back(base + std::to_string(i));
      }
      return Value::objectPathArray(paths);
    }
    case PathKind::kSerialPort: {
      const SerialPortInfo& p = (*target.machine->serialPorts)[target.index];
      if (name == "Id") return optionalValue(p.id, name, integer);
      if (name == "Interface") return optionalValue(p.interface, name, code);
      if (name == "Address") return optionalValue(p.address, name, text);
      return optionalValue(p.port, name, integer);
    }
    case PathKind::kUsbDevice: {
      const UsbDeviceInfo& d = *target.device;
      if (name == "Id") return optionalValue(d.id, name, integer);
      if (name == "Name") return optionalValue(d.name, name, text);
      if (name == "ManufacturerName") return optionalValue(d.manufacturerName, name, text);
      if (name == "ProductName") return optionalValue(d.productName, name, text);
      if (name == "VendorId") return optionalValue(d.vendorId, name, integer);
      return optionalValue(d.productId, name, integer);
    }
    case PathKind::kWindow: {
      const WindowInfo& w = *target.window;
      if (name == "Name") return optionalValue(w.name, name, text);
      if (name == "Index") return Value::int64(static_cast<std::int64_t>(target.index) + 1);
      return Value::boolean(w.visible);
    }
    default:
      return noValue(name);
  }
}

Reply Dispatcher::setProperty(Target& target, const PropertyEntry& entry, const Value& value) {
  if (!entry.settable) {
    return Reply::failure(error_names::kPropertyReadOnly,
                          "The property " + std::string(entry.name) + " cannot be changed.");
  }
  const auto* inner = elementsOf(value);
  const Value* v = inner && inner->size() == 1 ? &(*inner)[0] : nullptr;
  if (!v || v->signature != entry.type) {
    return Reply::failure(invalidArgs("The property " + std::string(entry.name) +
                                      " takes a value of type '" + std::string(entry.type) + "'."));
  }
  // Only windows have settable properties: Visible, and Index (1-based) to reorder them.
  std::optional<HostError> error;
  if (entry.name == "Visible") {
    error = backend_.setWindowVisible(target.window->key, *booleanOf(*v));
  } else {
    const auto index = *signedOf(*v);
    const auto count = backend_.windows().size();
    if (index < 1 || index > static_cast<std::int64_t>(count)) {
      return Reply::failure(
          invalidArgs("The index must be between 1 and " + std::to_string(count) + "."));
    }
    error = backend_.moveWindow(target.window->key, index);
  }
  return error ? Reply::failure(*error) : Reply::ok();
}

}  // namespace qor::host
