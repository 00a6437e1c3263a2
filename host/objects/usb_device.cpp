#include "host/objects/usb_device.h"

#include "host/core/router.h"
#include "host/objects/reply.h"

namespace qor::host::objects {
namespace {

using contract::ObjectClass;
using contract::Value;
namespace p = contract::properties;
namespace m = contract::methods;

Result<Value> id(Context&, const Target& t) {
  return valueOr(t.device->id, p::kDeviceId.name, Value::int64);
}
Result<Value> name(Context&, const Target& t) {
  return valueOr(t.device->name, p::kDeviceName.name, Value::string);
}
Result<Value> manufacturer(Context&, const Target& t) {
  return valueOr(t.device->manufacturerName, p::kManufacturerName.name, Value::string);
}
Result<Value> product(Context&, const Target& t) {
  return valueOr(t.device->productName, p::kProductName.name, Value::string);
}
Result<Value> vendorId(Context&, const Target& t) {
  return valueOr(t.device->vendorId, p::kVendorId.name, Value::int64);
}
Result<Value> productId(Context&, const Target& t) {
  return valueOr(t.device->productId, p::kProductId.name, Value::int64);
}

Result<Value> connection(Context&, const Target& t) {
  return Value::string(t.device->connection);
}

// The argument must name a machine that exists now.
void connect(Context& c, const Target& t, const Request& r, Completion<Values> done) {
  const ParsedPath parsed = c.router.parse(*contract::textOf(r.args[0]));
  const bool machinePath = parsed.kind == ParsedPath::Kind::object &&
                           parsed.route->objectClass == ObjectClass::virtualMachine;
  if (!machinePath) {
    done(parsed.kind == ParsedPath::Kind::none
             ? noObject("The virtual machine does not exist.")
             : invalidArgs("The object is not a virtual machine."));
    return;
  }
  const auto machine = c.router.machineOf(c, parsed.captures);
  if (!machine) {
    done(noObject("The virtual machine does not exist."));
    return;
  }
  c.backends.usb->connect(t.index, *machine, replyingNothing(std::move(done)));
}

void disconnect(Context& c, const Target& t, const Request&, Completion<Values> done) {
  c.backends.usb->disconnect(t.index, replyingNothing(std::move(done)));
}

Result<Target> find(Context& c, const Captures&, const std::string&, Target t) {
  auto devices = c.backends.usb ? c.backends.usb->devices() : std::vector<UsbDeviceInfo>();
  if (t.element >= devices.size()) return noObject("The USB device does not exist.");
  t.index = static_cast<std::size_t>(t.element);
  t.device = std::move(devices[t.index]);
  return t;
}

std::vector<std::uint64_t> elements(Context& c, const Target&, const std::string&) {
  std::vector<std::uint64_t> out;
  const std::size_t count = c.backends.usb ? c.backends.usb->devices().size() : 0;
  for (std::size_t i = 0; i < count; ++i) out.push_back(i);
  return out;
}

constexpr PropertyRow kProperties[] = {
    {&p::kDeviceId, id},
    {&p::kDeviceName, name},
    {&p::kManufacturerName, manufacturer},
    {&p::kProductName, product},
    {&p::kVendorId, vendorId},
    {&p::kProductId, productId},
    {&p::kDeviceConnection, connection},
};
constexpr MethodRow kMethods[] = {
    {&m::kConnect, connect},
    {&m::kDisconnect, disconnect},
};

}  // namespace

const Route kUsbDevice{"usb/{n}", ObjectClass::usbDevice, find, kProperties, kMethods, elements};

}  // namespace qor::host::objects
