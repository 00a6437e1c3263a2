#include "host/simulated/simulated_usb.h"

#include "contract/codes.h"
#include "support/text_equal.h"

namespace qor::host {
namespace {

Failure deviceGone() {
  return noObject("The USB device does not exist.");
}

}  // namespace

std::vector<UsbDeviceInfo> SimulatedUsb::devices() {
  std::vector<UsbDeviceInfo> out;
  for (const auto& d : shared_.world.usbDevices) out.push_back(d);
  return out;
}

UsbDevice* SimulatedUsb::deviceAt(std::size_t index) {
  auto& devices = shared_.world.usbDevices;
  return index < devices.size() ? &devices[index] : nullptr;
}

void SimulatedUsb::connect(std::size_t index, MachineKey key, Completion<Done> done) {
  World& world = shared_.world;
  const Machine* machine = world.machineByKey(key);
  if (!machine || !machine->status ||
      *machine->status != contract::code(contract::QorStatus::started)) {
    return done(invalidState("The virtual machine is not running."));
  }
  if (!machine->id) {
    return done(invalidState("The virtual machine has no identifier to hold a device."));
  }
  UsbDevice* device = deviceAt(index);
  if (!device) return done(deviceGone());
  if (device->connectedTo) {
    if (support::canonicallyEqual(*device->connectedTo, *machine->id)) return done(Done{});
    // A holder that no longer exists holds nothing.
    if (world.machineById(*device->connectedTo)) {
      return done(invalidState("The device is connected to another virtual machine."));
    }
  }
  device->connectedTo = *machine->id;
  shared_.changed = true;
  done(Done{});
}

void SimulatedUsb::disconnect(std::size_t index, Completion<Done> done) {
  UsbDevice* device = deviceAt(index);
  if (!device) return done(deviceGone());
  if (!device->connectedTo) {
    return done(invalidState("The device is not connected to a virtual machine."));
  }
  device->connectedTo.reset();
  shared_.changed = true;
  done(Done{});
}

void SimulatedUsb::machineLost(const Machine& machine) {
  for (auto& d : shared_.world.usbDevices) {
    if (d.connectedTo && machine.id && *d.connectedTo == *machine.id) d.connectedTo.reset();
  }
}

}  // namespace qor::host
