#include "host/objects/serial_port.h"

#include "host/objects/reply.h"

namespace qor::host::objects {
namespace {

using contract::ObjectClass;
using contract::Value;
namespace p = contract::properties;

Result<Value> id(Context&, const Target& t) {
  return valueOr(t.port->id, p::kPortId.name, Value::int64);
}
Result<Value> interface(Context&, const Target& t) {
  return valueOr(t.port->interface, p::kPortInterface.name, Value::uint32);
}
Result<Value> address(Context&, const Target& t) {
  return valueOr(t.port->address, p::kPortAddress.name, Value::string);
}
Result<Value> port(Context&, const Target& t) {
  return valueOr(t.port->port, p::kPortNumber.name, Value::int64);
}

Result<Value> server(Context&, const Target& t) {
  return Value::string(t.port->server);
}

Result<Target> find(Context& c, const Captures&, const std::string&, Target t) {
  auto ports = c.backends.serialPorts ? c.backends.serialPorts->serialPorts(t.key())
                                      : std::optional<std::vector<SerialPortInfo>>();
  if (!ports || t.element >= ports->size()) {
    return noObject("The serial port does not exist.");
  }
  t.index = static_cast<std::size_t>(t.element);
  t.port = std::move((*ports)[t.index]);
  return t;
}

std::vector<std::uint64_t> elements(Context& c, const Target& machine, const std::string&) {
  std::vector<std::uint64_t> out;
  const auto ports = c.backends.serialPorts ? c.backends.serialPorts->serialPorts(machine.key())
                                            : std::optional<std::vector<SerialPortInfo>>();
  for (std::size_t i = 0; ports && i < ports->size(); ++i) out.push_back(i);
  return out;
}

constexpr PropertyRow kProperties[] = {
    {&p::kPortId, id},       {&p::kPortInterface, interface}, {&p::kPortAddress, address},
    {&p::kPortNumber, port}, {&p::kPortServer, server},
};

}  // namespace

const Route kSerialPort{
    "vm/{vm}/serial/{n}", ObjectClass::serialPort, find, kProperties, {}, elements};

}  // namespace qor::host::objects
