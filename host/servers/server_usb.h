#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "host/backend/usb_devices.h"
#include "host/servers/server_list.h"

namespace qor::host::servers {

// The USB devices of every server, the servers in the configured order: a device can be lent
// only to a machine on its own server, since it is plugged into that server.
class ServerUsb final : public UsbDevices {
 public:
  explicit ServerUsb(const ServerList& servers) : servers_(servers) {}

  std::vector<UsbDeviceInfo> devices() override;
  void connect(std::size_t device, MachineKey machine, Completion<Done> done) override;
  void disconnect(std::size_t device, Completion<Done> done) override;

 private:
  // The server a position in devices() belongs to and the position there.
  std::optional<std::pair<std::size_t, std::size_t>> place(std::size_t device);

  const ServerList& servers_;
};

}  // namespace qor::host::servers
