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
  Watcher& watcher = domains_.watcher();
  auto parsed = watcher.ports(r->uuid, r->id, r->state);
  // Ports not read yet are waited for, unless a wait came to nothing a moment ago (libvirt is
  // slow to answer): then the reads go on without them.
  const auto now = Watcher::Clock::now();
  if (!parsed && (!gaveUpAt_ || now - *gaveUpAt_ >= kPortsPatience)) {
    parsed = watcher.waitForPorts(r->uuid, r->id, r->state, now + watcher.freshWait());
    if (!parsed) gaveUpAt_ = now;
  }
  if (!parsed) return std::nullopt;
  std::vector<SerialPortInfo> ports;
  for (const auto& p : *parsed) {
    SerialPortInfo info;
    info.id = p.id;
    info.interface = interfaceCode(p.kind);
    info.address = p.address;
    info.port = p.port;
    info.server = server_;
    ports.push_back(std::move(info));
  }
  return ports;
}

}  // namespace qor::host::libvirt
