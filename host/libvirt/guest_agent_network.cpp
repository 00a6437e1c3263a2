#include "host/libvirt/guest_agent_network.h"

#include <utility>

namespace qor::host::libvirt {
namespace {

bool isLoopback(const InterfaceAddress& a) {
  if (a.interface == "lo") return true;
  if (a.ipv6) return a.address == "::1";
  return a.address.rfind("127.", 0) == 0;
}

std::vector<std::string> ordered(const std::vector<InterfaceAddress>& found) {
  std::vector<std::string> out;
  for (bool ipv6 : {false, true}) {
    for (const auto& a : found) {
      if (a.ipv6 == ipv6 && !isLoopback(a)) out.push_back(a.address);
    }
  }
  return out;
}

std::optional<std::vector<InterfaceAddress>> interfacesOf(const nlohmann::json& ret) {
  if (!ret.is_array()) return std::nullopt;
  std::vector<InterfaceAddress> out;
  for (const auto& interface : ret) {
    if (!interface.is_object()) return std::nullopt;
    auto name = interface.find("name");
    auto addresses = interface.find("ip-addresses");
    if (addresses == interface.end()) continue;  // an interface without addresses
    if (!addresses->is_array()) return std::nullopt;
    for (const auto& a : *addresses) {
      if (!a.is_object()) return std::nullopt;
      auto text = a.find("ip-address");
      auto type = a.find("ip-address-type");
      if (text == a.end() || !text->is_string() || type == a.end() || !type->is_string()) {
        return std::nullopt;
      }
      InterfaceAddress entry;
      if (name != interface.end() && name->is_string()) entry.interface = name->get<std::string>();
      entry.address = text->get<std::string>();
      entry.ipv6 = type->get<std::string>() == "ipv6";
      out.push_back(std::move(entry));
    }
  }
  return out;
}

}  // namespace

Result<std::vector<std::string>> AgentNetwork::addresses(const std::string& domainUuid) {
  auto reply = channel_.ask(domainUuid, "guest-network-get-interfaces", nullptr);
  const std::string_view context = "The guest agent cannot list the guest's addresses";
  if (const Failure* said = failureOf(reply)) {
    Failure failure = agentFailure(said->message, context);
    // A machine that is not running has no addresses to find elsewhere either.
    if (classifyAgentFailure(said->message) == AgentFault::notRunning) return failure;
    return fallback(domainUuid, failure);
  }
  auto found = interfacesOf(std::get<nlohmann::json>(reply));
  if (!found) {
    return malformedReply("guest-network-get-interfaces");
  }
  return ordered(*found);
}

Result<std::vector<std::string>> AgentNetwork::fallback(const std::string& domainUuid,
                                                        const Failure& agentFailure) {
  if (lookup_) {
    for (AddressSource source : {AddressSource::lease, AddressSource::arp}) {
      auto found = lookup_(domainUuid, source);
      if (!found) continue;
      auto addresses = ordered(*found);
      if (!addresses.empty()) return addresses;
    }
    Failure failure = agentFailure;
    failure.message += " Neither libvirt's DHCP leases nor its ARP table know an address.";
    return failure;
  }
  return agentFailure;
}

}  // namespace qor::host::libvirt
