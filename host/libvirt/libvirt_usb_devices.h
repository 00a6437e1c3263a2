#pragma once

#include <cstdint>
#include <vector>

#include "host/backend/usb_devices.h"
#include "host/libvirt/domains.h"
#include "host/libvirt/usb_xml.h"

namespace qor::host::libvirt {

// The host computer's USB devices as libvirt's node devices, handed to a running machine as a
// <hostdev>. The list is the one the watcher read with its look at the machines; connecting
// runs on the machine's lane, disconnecting (from whichever machine holds it) on a lane of its
// own.
//
// The loop's thread only; it never calls libvirt.
class LibvirtUsbDevices : public UsbDevices {
 public:
  LibvirtUsbDevices(Domains& domains, Connection& actions) : domains_(domains), actions_(actions) {}

  std::vector<UsbDeviceInfo> devices() override;
  void connect(std::size_t device, MachineKey machine, Completion<Done> done) override;
  void disconnect(std::size_t device, Completion<Done> done) override;

 private:
  const std::vector<UsbDevice>& list();

  Domains& domains_;
  Connection& actions_;
};

}  // namespace qor::host::libvirt
