#include "host/libvirt/libvirt_usb_devices.h"

#include <algorithm>
#include <cstdlib>

#include "host/libvirt/mapping.h"

namespace qor::host::libvirt {
namespace {

Result<Done> detachEverywhere(virConnectPtr conn, const UsbDevice& device) {
  virDomainPtr* active = nullptr;
  const int n = virConnectListAllDomains(conn, &active, VIR_CONNECT_LIST_DOMAINS_ACTIVE);
  if (n < 0) return libvirtError();
  std::optional<Result<Done>> outcome;
  for (int i = 0; i < n; ++i) {
    Domain d(active[i]);
    if (outcome) continue;
    const auto xml = takeString(virDomainGetXMLDesc(d.get(), 0));
    if (auto hostdev = heldUsbHostdev(xml, device)) {
      const int r = virDomainDetachDeviceFlags(d.get(), hostdev->c_str(), VIR_DOMAIN_AFFECT_LIVE);
      outcome = r < 0 ? Result<Done>(libvirtError()) : Result<Done>(Done{});
    }
  }
  std::free(active);
  if (outcome) return *outcome;
  return invalidState("The USB device is not connected to a virtual machine.");
}

}  // namespace

const std::vector<UsbDevice>& LibvirtUsbDevices::list() {
  return domains_.look().usb;
}

std::vector<UsbDeviceInfo> LibvirtUsbDevices::devices() {
  std::vector<UsbDeviceInfo> out;
  for (const auto& d : list()) {
    UsbDeviceInfo info;
    info.id = usbLocation(d.bus, d.device);
    info.name = d.productName ? d.productName : d.vendorName;
    info.manufacturerName = d.vendorName;
    info.productName = d.productName;
    info.vendorId = d.vendorId;
    info.productId = d.productId;
    out.push_back(std::move(info));
  }
  return out;
}

void LibvirtUsbDevices::connect(std::size_t index, MachineKey machine, Completion<Done> done) {
  const auto& devices = list();
  if (index >= devices.size()) {
    done(failed("The USB device is gone."));
    return;
  }
  const UsbDevice device = devices[index];
  domains_.onMachine(
      machine,
      [device](virConnectPtr conn, const Domains::Target& t) -> Result<Done> {
        auto d = lookupDomain(conn, t.uuid);
        if (!d) return libvirtError();
        const auto xml = usbHostdevXml(device);
        if (virDomainAttachDeviceFlags(d.get(), xml.c_str(), VIR_DOMAIN_AFFECT_LIVE) < 0) {
          return libvirtError();
        }
        return Done{};
      },
      std::move(done));
}

void LibvirtUsbDevices::disconnect(std::size_t index, Completion<Done> done) {
  const auto& devices = list();
  if (index >= devices.size()) {
    done(failed("The USB device is gone."));
    return;
  }
  const UsbDevice device = devices[index];
  domains_.change<Done>(
      "usb",
      [&connection = actions_, device]() -> Result<Done> {
        auto c = connection.get();
        if (auto* e = failureOf(c)) return *e;
        return detachEverywhere(std::get<ConnectionRef>(c).get(), device);
      },
      std::move(done));
}

}  // namespace qor::host::libvirt
