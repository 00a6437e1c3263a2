#pragma once

#include <cstddef>
#include <vector>

#include "host/backend/completion.h"
#include "host/backend/objects.h"

namespace qor::host {

// USB devices of the computer the host runs on, lent to machines.
class UsbDevices {
 public:
  virtual ~UsbDevices() = default;
  // In the host's order; a device's path is its position here.
  virtual std::vector<UsbDeviceInfo> devices() = 0;
  // `device` is a position in devices().
  virtual void connect(std::size_t device, MachineKey machine, Completion<Done> done) = 0;
  virtual void disconnect(std::size_t device, Completion<Done> done) = 0;
};

}  // namespace qor::host
