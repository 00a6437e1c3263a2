#include "host/libvirt/look.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <tuple>

#include "host/libvirt/mapping.h"

namespace qor::host::libvirt {
namespace {

std::vector<std::string> savedMachines(virConnectPtr conn) {
  std::vector<std::string> saved;
  virDomainPtr* withImage = nullptr;
  const int m = virConnectListAllDomains(conn, &withImage, VIR_CONNECT_LIST_DOMAINS_MANAGEDSAVE);
  for (int i = 0; i < m; ++i) {
    char uuid[VIR_UUID_STRING_BUFLEN];
    if (virDomainGetUUIDString(withImage[i], uuid) == 0) saved.push_back(uuidForHost(uuid));
    virDomainFree(withImage[i]);
  }
  if (m >= 0) std::free(withImage);
  return saved;
}

}  // namespace

Look takeLook(Connection& connection) {
  Look look;
  look.begun = std::chrono::steady_clock::now();
  for (int attempt = 0; attempt < 2; ++attempt) {
    look.rows.clear();
    look.error.reset();
    auto c = connection.get();
    if (auto* e = failureOf(c)) {
      look.error = *e;
      return look;
    }
    virConnectPtr conn = std::get<ConnectionRef>(c).get();
    virDomainPtr* all = nullptr;
    const int n = virConnectListAllDomains(conn, &all, 0);
    if (n < 0) {
      look.error = failed("libvirt cannot list its machines: " + lastErrorMessage());
      connection.checkAlive();
      continue;
    }
    std::vector<Domain> domains;
    for (int i = 0; i < n; ++i) domains.emplace_back(all[i]);
    std::free(all);
    const auto saved = savedMachines(conn);
    for (auto& d : domains) {
      Look::Row r;
      char uuid[VIR_UUID_STRING_BUFLEN];
      const char* name = virDomainGetName(d.get());
      if (virDomainGetUUIDString(d.get(), uuid) != 0 || !name) continue;
      // A machine that went away between the list and this call is left out.
      if (virDomainGetState(d.get(), &r.state, &r.reason, 0) < 0) continue;
      r.uuid = uuidForHost(uuid);
      r.name = name;
      r.saved = std::find(saved.begin(), saved.end(), r.uuid) != saved.end();
      r.id = static_cast<int>(virDomainGetID(d.get()));
      look.rows.push_back(std::move(r));
    }
    // A call after the list failed because the connection died under it (keepalive gave it up):
    // the machines it left out are not gone, the server is out of reach.
    if (!connection.checkAlive()) {
      look.rows.clear();
      look.error = connection.unreachable("the connection was lost");
      continue;
    }
    std::sort(look.rows.begin(), look.rows.end(), [](const Look::Row& a, const Look::Row& b) {
      return std::tie(a.name, a.uuid) < std::tie(b.name, b.uuid);
    });
    return look;
  }
  return look;
}

std::vector<UsbDevice> readUsbDevices(virConnectPtr conn) {
  std::vector<UsbDevice> out;
  virNodeDevicePtr* all = nullptr;
  const int n = virConnectListAllNodeDevices(conn, &all, VIR_CONNECT_LIST_NODE_DEVICES_CAP_USB_DEV);
  for (int i = 0; i < n; ++i) {
    NodeDevice device(all[i]);
    const auto xml = takeString(virNodeDeviceGetXMLDesc(device.get(), 0));
    if (auto usb = usbDeviceOf(xml)) out.push_back(*usb);
  }
  if (n >= 0) std::free(all);
  std::sort(out.begin(), out.end(), [](const UsbDevice& a, const UsbDevice& b) {
    return usbLocation(a.bus, a.device) < usbLocation(b.bus, b.device);
  });
  return out;
}

std::optional<std::vector<SerialPort>> readSerialPorts(virConnectPtr conn, const std::string& uuid,
                                                       bool running) {
  auto d = lookupDomain(conn, uuid);
  if (!d) return std::nullopt;
  const auto xml = takeString(virDomainGetXMLDesc(d.get(), 0));
  return xml.empty() ? std::nullopt : serialPortsOf(xml, running);
}

}  // namespace qor::host::libvirt
