#include "host/codes.h"
#include "host/host.h"
#include "host/text_equal.h"

namespace qor::host {

Reply Host::setAutoTerminate(Target&, const Request& request) {
  autoTerminate_ = *booleanOf(request.args[0]);
  return Reply::ok();
}

Reply Host::connectDevice(Target& target, const Request& request) {
  const ParsedPath parsed = parsePath(*textOf(request.args[0]));
  if (parsed.kind != PathKind::kMachine) {
    if (parsed.kind == PathKind::kNone) {
      return Reply::failure(error_names::kUnknownObject, "The virtual machine does not exist.");
    }
    return Reply::failure(invalidArgs("The object is not a virtual machine."));
  }
  const Machine* machine = resolveMachine(parsed);
  if (!machine) {
    return Reply::failure(error_names::kUnknownObject, "The virtual machine does not exist.");
  }
  if (!machine->status || *machine->status != status::kStarted) {
    return Reply::failure(invalidState("The virtual machine is not running."));
  }
  if (!machine->id) {
    return Reply::failure(invalidState("The virtual machine has no identifier to hold a device."));
  }
  UsbDevice& device = world_.usbDevices[target.index];
  if (device.connectedTo) {
    if (textEqual(*device.connectedTo, *machine->id)) return Reply::ok();
    // A holder that no longer exists holds nothing.
    if (world_.machineById(*device.connectedTo)) {
      return Reply::failure(invalidState("The device is connected to another virtual machine."));
    }
  }
  device.connectedTo = *machine->id;
  changed_ = true;
  return Reply::ok();
}

Reply Host::disconnectDevice(Target& target, const Request&) {
  UsbDevice& device = world_.usbDevices[target.index];
  if (!device.connectedTo) {
    return Reply::failure(invalidState("The device is not connected to a virtual machine."));
  }
  device.connectedTo.reset();
  changed_ = true;
  return Reply::ok();
}

Reply Host::closeWindow(Target& target, const Request& request) {
  const std::uint32_t saving = *uint32Of(request.args[0]);
  if (saving != save_option::kNo && saving != save_option::kYes && saving != save_option::kAsk) {
    return Reply::failure(invalidArgs("The saving option must be 'yes ', 'no  ' or 'ask '."));
  }
  // A window of the host holds no document, so there is nothing to save in a file.
  world_.windows.erase(world_.windows.begin() + static_cast<std::ptrdiff_t>(target.index));
  changed_ = true;
  return Reply::ok();
}

}  // namespace qor::host
