#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/backend/serial_ports.h"
#include "host/libvirt/domains.h"

namespace qor::host::libvirt {

// A machine's serial ports are read again when it starts or stops, and after this long.
inline constexpr std::chrono::seconds kPortsLife{10};

// The serial ports and consoles of libvirt's machines, read from their live definitions on the
// loop's connection and kept per machine (by UUID) until the machine's run or state changes.
//
// The loop's thread only; one read is one quick libvirt call, so it does not hold up the loop.
class LibvirtSerialPorts : public SerialPorts {
 public:
  explicit LibvirtSerialPorts(Domains& domains) : domains_(domains) {}

  std::optional<std::vector<SerialPortInfo>> serialPorts(MachineKey key) override;

 private:
  struct Kept {
    int id = -1;
    int state = 0;
    std::chrono::steady_clock::time_point read;
    std::optional<std::vector<SerialPortInfo>> ports;
  };

  Domains& domains_;
  std::map<std::string, Kept> kept_;
};

}  // namespace qor::host::libvirt
