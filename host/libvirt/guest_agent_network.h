#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/libvirt/guest_agent_channel.h"

namespace qor::host::libvirt {

struct InterfaceAddress {
  std::string interface;
  std::string address;
  bool ipv6 = false;
};

// Where libvirt finds a machine's addresses without the agent.
enum class AddressSource { lease, arp };

// nullopt: that source failed or is not there; an empty list: it knows no address.
using AddressLookup = std::function<std::optional<std::vector<InterfaceAddress>>(
    const std::string& domainUuid, AddressSource source)>;

// The guest's addresses: guest-network-get-interfaces, and libvirt's own sources (`lookup`)
// when the agent cannot answer. Keeps nothing; blocks on the agent (worker threads only).
class AgentNetwork {
 public:
  AgentNetwork(AgentChannel& channel, AddressLookup lookup)
      : channel_(channel), lookup_(std::move(lookup)) {}

  // IPv4 addresses first, then IPv6, each in the guest's order; loopback left out.
  Result<std::vector<std::string>> addresses(const std::string& domainUuid);

 private:
  Result<std::vector<std::string>> fallback(const std::string& domainUuid,
                                            const Failure& agentFailure);

  AgentChannel& channel_;
  AddressLookup lookup_;
};

}  // namespace qor::host::libvirt
