#pragma once

#include <cstddef>
#include <vector>

#include "host/backend/usb_devices.h"
#include "host/simulated/world.h"

namespace qor::host {

// The world's USB devices and which machine holds each (by the machine's id). A device goes
// only to a running machine and to one machine at a time. It changes nothing but the devices'
// holders, and answers at once.
class SimulatedUsb : public UsbDevices {
 public:
  explicit SimulatedUsb(SharedWorld& shared) : shared_(shared) {}

  std::vector<UsbDeviceInfo> devices() override;
  void connect(std::size_t device, MachineKey machine, Completion<Done> done) override;
  void disconnect(std::size_t device, Completion<Done> done) override;

  // The machine has stopped or is going: the devices it held go back to the host.
  void machineLost(const Machine& machine);

 private:
  UsbDevice* deviceAt(std::size_t index);

  SharedWorld& shared_;
};

}  // namespace qor::host
