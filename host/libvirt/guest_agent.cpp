#include "host/libvirt/guest_agent.h"

#include <utility>

namespace qor::host::libvirt {

GuestAgent::GuestAgent(AgentTransport& transport, AddressLookup lookup, int timeoutSeconds)
    : channel_(transport, timeoutSeconds), network_(channel_, std::move(lookup)) {}

void GuestAgent::machineStopped(const std::string& domainUuid) {
  channel_.restarted(domainUuid);
  const std::string domain = domainKey(domainUuid);
  files_.forgetMachine(domain);
  programs_.forgetMachine(domain);
}

}  // namespace qor::host::libvirt
