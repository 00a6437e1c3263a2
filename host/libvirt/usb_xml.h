#pragma once

// libvirt's XML for host USB devices and the <hostdev> that lends one to a machine: plain
// values, no state, no libvirt calls; safe on any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qor::host::libvirt {

// A host USB device as libvirt's node device XML (capability usb_device) describes it.
struct UsbDevice {
  unsigned bus = 0;
  unsigned device = 0;
  std::int64_t vendorId = 0;
  std::int64_t productId = 0;
  std::optional<std::string> vendorName;
  std::optional<std::string> productName;
};

std::optional<UsbDevice> usbDeviceOf(std::string_view nodeDeviceXml);

// The <hostdev> that hands this device to a machine; it names the device by bus and device
// number, so that of two equal devices the one asked for is taken.
std::string usbHostdevXml(const UsbDevice& device);

// The <hostdev> of a domain's (live) definition that holds this device, written out, so that it
// can be detached as it was attached; nullopt when the domain does not hold it.
std::optional<std::string> heldUsbHostdev(std::string_view domainXml, const UsbDevice& device);

}  // namespace qor::host::libvirt
