#include "host/libvirt/libvirt_serial_ports.h"

#include "contract/codes.h"
#include "host/libvirt/domain_xml.h"

namespace qor::host::libvirt {
namespace {

std::uint32_t interfaceCode(SerialPort::Kind kind) {
  using contract::QorSerialInterface;
  switch (kind) {
    case SerialPort::Kind::pty:
      return contract::code(QorSerialInterface::ptty);
    case SerialPort::Kind::tcp:
      return contract::code(QorSerialInterface::tcp);
    case SerialPort::Kind::unavailable:
      break;
  }
  return contract::code(QorSerialInterface::unavailable);
}

}  // namespace

std::optional<std::vector<SerialPortInfo>> LibvirtSerialPorts::serialPorts(MachineKey key) {
  const auto* r = domains_.row(key);
  if (!r) return std::nullopt;
  const auto now = std::chrono::steady_clock::now();
  auto& cached = kept_[r->uuid];
  if (cached.ports && cached.id == r->id && cached.state == r->state &&
      now - cached.read < kPortsLife) {
    return cached.ports;
  }
  const bool running = r->id >= 0;
  auto xml = takeString(virDomainGetXMLDesc(r->domain.get(), 0));
  auto parsed = xml.empty() ? std::nullopt : serialPortsOf(xml, running);
  if (!parsed) return std::nullopt;
  std::vector<SerialPortInfo> ports;
  for (const auto& p : *parsed) {
    SerialPortInfo info;
    info.id = p.id;
    info.interface = interfaceCode(p.kind);
    info.address = p.address;
    info.port = p.port;
    ports.push_back(std::move(info));
  }
  cached = Kept{r->id, r->state, now, ports};
  return ports;
}

}  // namespace qor::host::libvirt
