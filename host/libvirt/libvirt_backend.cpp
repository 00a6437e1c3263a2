#include "host/libvirt/libvirt_backend.h"

namespace qor::host::libvirt {

LibvirtBackend::LibvirtBackend(Loop& loop, std::optional<std::string> uri)
    : workerConnection_(uri),
      domains_(loop, worker_, workerConnection_, uri),
      guestAgent_(agentTransport_,
                  [this](const std::string& uuid, AddressSource source) {
                    return libvirtAddresses(workerConnection_, uuid, source);
                  }),
      agentJobs_(loop, worker_, domains_, guestAgent_),
      processes_(loop, agentJobs_) {
  silenceLibvirtErrors();
}

LibvirtBackend::~LibvirtBackend() {
  // A job still running uses the agent and the connections below: it ends first.
  worker_.stop();
}

Backends LibvirtBackend::concerns() {
  Backends b;
  b.machines = &machines_;
  b.serialPorts = &serialPorts_;
  b.files = &files_;
  b.processes = &processes_;
  b.network = &network_;
  b.readiness = &readiness_;
  b.usb = &usb_;
  return b;
}

}  // namespace qor::host::libvirt
