#pragma once

#include <optional>
#include <vector>

#include "host/backend/objects.h"

namespace qor::host {

// The serial ports of a machine, in its order; nullopt when the backend cannot tell (read as
// NoValue). Answers at once.
class SerialPorts {
 public:
  virtual ~SerialPorts() = default;
  virtual std::optional<std::vector<SerialPortInfo>> serialPorts(MachineKey key) = 0;
};

}  // namespace qor::host
