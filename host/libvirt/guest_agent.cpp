#include "host/libvirt/guest_agent.h"

#include <utility>

namespace qor::host::libvirt {

GuestAgent::GuestAgent(AgentTransport& transport, AddressLookup lookup, int timeoutSeconds)
    : channel_(transport, timeoutSeconds), network_(channel_, std::move(lookup)) {}

}  // namespace qor::host::libvirt
