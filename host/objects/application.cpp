#include "host/objects/application.h"

#include <string>
#include <vector>

#include "host/core/router.h"
#include "version.h"

namespace qor::host::objects {
namespace {

using contract::ObjectClass;
using contract::Value;
namespace p = contract::properties;
namespace m = contract::methods;

constexpr std::string_view kName = "Qor";

Result<Value> name(Context&, const Target&) {
  return Value::string(std::string(kName));
}
Result<Value> version(Context&, const Target&) {
  return Value::string(std::string(qor::kVersion));
}
// It runs hidden.
Result<Value> frontmost(Context&, const Target&) {
  return Value::boolean(false);
}

Result<Value> machines(Context& c, const Target&) {
  std::vector<std::string> paths;
  for (const auto key : c.backends.machines->list()) {
    if (auto info = c.backends.machines->info(key)) paths.push_back(c.router.machinePath(c, *info));
  }
  return Value::objectPathArray(paths);
}

Result<Value> usbDevices(Context& c, const Target&) {
  std::vector<std::string> paths;
  const std::size_t count = c.backends.usb ? c.backends.usb->devices().size() : 0;
  for (std::size_t i = 0; i < count; ++i) {
    paths.push_back(c.router.pathOf(ObjectClass::usbDevice, "", i));
  }
  return Value::objectPathArray(paths);
}

Result<Value> windows(Context& c, const Target&) {
  std::vector<std::string> paths;
  if (c.backends.windows) {
    for (const auto& w : c.backends.windows->windows()) {
      paths.push_back(c.router.pathOf(ObjectClass::window, "", w.key));
    }
  }
  return Value::objectPathArray(paths);
}

Result<Value> unreachableConnections(Context& c, const Target&) {
  return Value::stringArray(c.backends.machines->unreachable());
}

void setAutoTerminate(Context& c, const Target&, const Request& request, Completion<Values> done) {
  c.application.autoTerminate = *contract::booleanOf(request.args[0]);
  done(Values{});
}

Result<Target> find(Context&, const Captures&, const std::string&, Target t) {
  return t;
}

constexpr PropertyRow kProperties[] = {
    {&p::kApplicationName, name},
    {&p::kFrontmost, frontmost},
    {&p::kVersion, version},
    {&p::kVirtualMachines, machines},
    {&p::kUsbDevices, usbDevices},
    {&p::kWindows, windows},
    {&p::kUnreachableConnections, unreachableConnections},
};
constexpr MethodRow kMethods[] = {
    {&m::kSetAutoTerminate, setAutoTerminate},
};

}  // namespace

const Route kApplication{"", ObjectClass::application, find, kProperties, kMethods};

}  // namespace qor::host::objects
