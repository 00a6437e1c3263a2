#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "host/backend/serial_ports.h"
#include "host/libvirt/domains.h"

namespace qor::host::libvirt {

// The serial ports and consoles of libvirt's machines, as the watcher read them from their
// definitions (the live one while a machine runs) for the machine's current run and state.
//
// The loop's thread only; it never calls libvirt.
class LibvirtSerialPorts : public SerialPorts {
 public:
  // `server`: the computer the connection reaches ("" for this one), which every address is on.
  LibvirtSerialPorts(Domains& domains, std::string server)
      : domains_(domains), server_(std::move(server)) {}

  std::optional<std::vector<SerialPortInfo>> serialPorts(MachineKey key) override;

 private:
  static constexpr std::chrono::seconds kPortsPatience{1};

  Domains& domains_;
  std::string server_;
  std::optional<Watcher::Clock::time_point> gaveUpAt_;
};

}  // namespace qor::host::libvirt
