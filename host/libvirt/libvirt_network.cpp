#include "host/libvirt/libvirt_network.h"

#include <utility>

namespace qor::host::libvirt {

void LibvirtNetwork::addresses(MachineKey key, Completion<std::vector<std::string>> done) {
  jobs_.run<std::vector<std::string>>(
      key, [&agent = jobs_.agent()](const std::string& uuid) { return agent.addresses(uuid); },
      std::move(done));
}

}  // namespace qor::host::libvirt
