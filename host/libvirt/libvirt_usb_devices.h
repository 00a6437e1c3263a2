#pragma once

#include <cstdint>
#include <vector>

#include "host/backend/usb_devices.h"
#include "host/libvirt/domains.h"
#include "host/libvirt/usb_xml.h"

namespace qor::host::libvirt {

// The host computer's USB devices as libvirt's node devices, handed to a running machine as a
// <hostdev>. It owns the list read with the current look at the machines (read at most once
// per look, on the loop's connection); connecting and disconnecting run on the worker.
//
// The loop's thread only; it never blocks the loop on an attach or detach.
class LibvirtUsbDevices : public UsbDevices {
 public:
  LibvirtUsbDevices(Domains& domains, Connection& workerConnection)
      : domains_(domains), workerConnection_(workerConnection) {}

  std::vector<UsbDeviceInfo> devices() override;
  void connect(std::size_t device, MachineKey machine, Completion<Done> done) override;
  void disconnect(std::size_t device, Completion<Done> done) override;

 private:
  const std::vector<UsbDevice>& list();

  Domains& domains_;
  Connection& workerConnection_;
  std::vector<UsbDevice> list_;
  std::uint64_t listLook_ = 0;  // the look the list was read with; 0: none
};

}  // namespace qor::host::libvirt
