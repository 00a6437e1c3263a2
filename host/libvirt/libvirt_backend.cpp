#include "host/libvirt/libvirt_backend.h"

#include "host/libvirt/uri_server.h"

namespace qor::host::libvirt {

LibvirtBackend::LibvirtBackend(Loop& loop, std::optional<std::string> uri)
    : actions_(uri),
      watcher_(uri),
      domains_(loop, lanes_, actions_, watcher_),
      agentTransport_(uri),
      guestAgent_(agentTransport_,
                  [this](const std::string& uuid, AddressSource source) {
                    return libvirtAddresses(actions_, uuid, source);
                  }),
      agentJobs_(loop, lanes_, domains_, guestAgent_),
      serialPorts_(domains_, serverOfConnection(uri)),
      processes_(loop, agentJobs_),
      restarts_(loop, uri, [this](const std::string& uuid) { guestAgent_.agentRestarted(uuid); }) {
  silenceLibvirtErrors();
}

LibvirtBackend::~LibvirtBackend() {
  // A job still running uses the agent and the connections below: it ends first.
  lanes_.stop();
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
