#include <algorithm>

#include "host/core/vocabulary.h"
#include "support/text_equal.h"
#include "host/simulated/simulated_backend.h"

namespace qor::host {

void SimulatedBackend::connectUsb(std::size_t index, MachineKey key, Completion<Done> done) {
  const Machine* machine = find(key);
  if (!machine || !machine->status || *machine->status != code(QorStatus::started)) {
    done(invalidState("The virtual machine is not running."));
    return;
  }
  if (!machine->id) {
    done(invalidState("The virtual machine has no identifier to hold a device."));
    return;
  }
  UsbDevice& device = world_.usbDevices[index];
  if (device.connectedTo) {
    if (support::canonicallyEqual(*device.connectedTo, *machine->id)) {
      done(Done{});
      return;
    }
    // A holder that no longer exists holds nothing.
    if (world_.machineById(*device.connectedTo)) {
      done(invalidState("The device is connected to another virtual machine."));
      return;
    }
  }
  device.connectedTo = *machine->id;
  changed_ = true;
  done(Done{});
}

void SimulatedBackend::disconnectUsb(std::size_t index, Completion<Done> done) {
  UsbDevice& device = world_.usbDevices[index];
  if (!device.connectedTo) {
    done(invalidState("The device is not connected to a virtual machine."));
    return;
  }
  device.connectedTo.reset();
  changed_ = true;
  done(Done{});
}

Window* SimulatedBackend::findWindow(std::uint64_t key) {
  for (auto& w : world_.windows) {
    if (w.key == key) return &w;
  }
  return nullptr;
}

void SimulatedBackend::closeWindow(std::uint64_t key, std::uint32_t, std::string,
                                   Completion<Done> done) {
  // A window of the simulated host holds no document, so there is nothing to save in a file.
  std::erase_if(world_.windows, [key](const Window& w) { return w.key == key; });
  changed_ = true;
  done(Done{});
}

std::optional<HostError> SimulatedBackend::setWindowVisible(std::uint64_t key, bool visible) {
  Window* w = findWindow(key);
  if (!w) return HostError{error_names::kUnknownObject, "The window does not exist."};
  w->visible = visible;
  changed_ = true;
  return std::nullopt;
}

std::optional<HostError> SimulatedBackend::moveWindow(std::uint64_t key, std::int64_t index) {
  auto& windows = world_.windows;
  auto it = std::find_if(windows.begin(), windows.end(), [key](const Window& w) { return w.key == key; });
  if (it == windows.end()) return HostError{error_names::kUnknownObject, "The window does not exist."};
  Window moved = std::move(*it);
  windows.erase(it);
  windows.insert(windows.begin() + (index - 1), std::move(moved));
  changed_ = true;
  return std::nullopt;
}

}  // namespace qor::host
