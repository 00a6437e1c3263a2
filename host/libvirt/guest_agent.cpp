#include "host/libvirt/guest_agent.h"

#include <utility>

namespace qor::host::libvirt {

GuestAgent::GuestAgent(AgentTransport& transport, AddressLookup lookup, int timeoutSeconds)
    : channel_(transport, timeoutSeconds), network_(channel_, std::move(lookup)) {}

void GuestAgent::forgetMachine(const std::string& domainUuid) {
  const std::string domain = domainKey(domainUuid);
  files_.forgetMachine(domain);
  programs_.forgetMachine(domain);
  channel_.forget(domain);
}

}  // namespace qor::host::libvirt
