#include "host/host.h"

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

std::variant<Value, HostError> Host::property(const Target& target,
                                              const PropertyEntry& entry) const {
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
        for (const auto& m : world_.machines) paths.push_back(world_.pathOf(m));
      } else if (name == "UsbDevices") {
        for (std::size_t i = 0; i < world_.usbDevices.size(); ++i) {
          paths.push_back(std::string(kRootPath) + "/usb/" + std::to_string(i));
        }
      } else {
        for (const auto& w : world_.windows) {
          paths.push_back(std::string(kRootPath) + "/window/" + std::to_string(w.key));
        }
      }
      return Value::objectPathArray(paths);
    }
    case PathKind::kMachine: {
      const Machine& m = *target.machine;
      if (name == "Id") return optionalValue(m.id, name, text);
      if (name == "Name") return optionalValue(m.name, name, text);
      if (name == "Backend") return optionalValue(m.backend, name, code);
      if (name == "Status") return optionalValue(m.status, name, code);
      if (!m.serialPorts) return noValue(name);
      std::vector<std::string> paths;
      const std::string base = world_.pathOf(m) + "/serial/";
      for (std::size_t i = 0; i < m.serialPorts->size(); ++i)
        paths.push_back(base + std::to_string(i));
      return Value::objectPathArray(paths);
    }
    case PathKind::kSerialPort: {
      const SerialPort& p = (*target.machine->serialPorts)[target.index];
      if (name == "Id") return optionalValue(p.id, name, integer);
      if (name == "Interface") return optionalValue(p.interface, name, code);
      if (name == "Address") return optionalValue(p.address, name, text);
      return optionalValue(p.port, name, integer);
    }
    case PathKind::kUsbDevice: {
      const UsbDevice& d = world_.usbDevices[target.index];
      if (name == "Id") return optionalValue(d.id, name, integer);
      if (name == "Name") return optionalValue(d.name, name, text);
      if (name == "ManufacturerName") return optionalValue(d.manufacturerName, name, text);
      if (name == "ProductName") return optionalValue(d.productName, name, text);
      if (name == "VendorId") return optionalValue(d.vendorId, name, integer);
      return optionalValue(d.productId, name, integer);
    }
    case PathKind::kWindow: {
      const Window& w = world_.windows[target.index];
      if (name == "Name") return optionalValue(w.name, name, text);
      if (name == "Index") return Value::int64(static_cast<std::int64_t>(target.index) + 1);
      return Value::boolean(w.visible.value_or(true));
    }
    default:
      return noValue(name);
  }
}

Reply Host::setProperty(Target& target, const PropertyEntry& entry, const Value& value) {
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
  auto& windows = world_.windows;
  if (entry.name == "Visible") {
    windows[target.index].visible = *booleanOf(*v);
  } else {
    const auto index = *signedOf(*v);
    if (index < 1 || index > static_cast<std::int64_t>(windows.size())) {
      return Reply::failure(
          invalidArgs("The index must be between 1 and " + std::to_string(windows.size()) + "."));
    }
    Window moved = std::move(windows[target.index]);
    windows.erase(windows.begin() + static_cast<std::ptrdiff_t>(target.index));
    windows.insert(windows.begin() + (index - 1), std::move(moved));
  }
  changed_ = true;
  return Reply::ok();
}

}  // namespace qor::host
