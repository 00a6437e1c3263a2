#include "host/servers/server_usb.h"

namespace qor::host::servers {

std::vector<UsbDeviceInfo> ServerUsb::devices() {
  std::vector<UsbDeviceInfo> all;
  for (std::size_t i = 0; i < servers_.size(); ++i) {
    if (auto* usb = servers_[i].concerns.usb) {
      for (auto& d : usb->devices()) {
        // With one server there is nothing to tell apart.
        if (servers_.size() > 1) d.connection = servers_[i].name;
        all.push_back(std::move(d));
      }
    }
  }
  return all;
}

std::optional<std::pair<std::size_t, std::size_t>> ServerUsb::place(std::size_t device) {
  for (std::size_t i = 0; i < servers_.size(); ++i) {
    auto* usb = servers_[i].concerns.usb;
    const std::size_t count = usb ? usb->devices().size() : 0;
    if (device < count) return std::pair{i, device};
    device -= count;
  }
  return std::nullopt;
}

void ServerUsb::connect(std::size_t device, MachineKey machine, Completion<Done> done) {
  const auto p = place(device);
  if (!p) return done(noObject("The USB device does not exist."));
  const auto [server, inner] = servers_.keys().inner(machine);
  if (server != p->first) {
    return done(invalidArgs("The USB device is plugged into " + servers_[p->first].name +
                            ", the virtual machine runs on " +
                            (server < servers_.size() ? servers_[server].name : "no server") +
                            "."));
  }
  servers_[p->first].concerns.usb->connect(p->second, inner, std::move(done));
}

void ServerUsb::disconnect(std::size_t device, Completion<Done> done) {
  const auto p = place(device);
  if (!p) return done(noObject("The USB device does not exist."));
  servers_[p->first].concerns.usb->disconnect(p->second, std::move(done));
}

}  // namespace qor::host::servers
