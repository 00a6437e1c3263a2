#include "host/libvirt/libvirt_agent_transport.h"

#include <libvirt/libvirt-qemu.h>

#include <cstdlib>
#include <functional>

namespace qor::host::libvirt {

Connection& LibvirtAgentTransport::connectionFor(const std::string& domainUuid) {
  std::lock_guard lock(mutex_);
  auto& connection = connections_[domainUuid];
  if (!connection) connection = std::make_unique<Connection>(uri_);
  return *connection;
}

Result<nlohmann::json> LibvirtAgentTransport::command(const std::string& domainUuid,
                                                      const nlohmann::json& request,
                                                      int timeoutSeconds) {
  Connection& connection = connectionFor(domainUuid);
  auto c = connection.get();
  if (auto* e = failureOf(c)) return *e;
  const auto conn = std::get<ConnectionRef>(c);
  Domain d(virDomainLookupByUUIDString(conn.get(), domainUuid.c_str()));
  if (!d) return connection.callFailed(lastErrorMessage());
  const std::string text = request.dump();
  char* answer = virDomainQemuAgentCommand(d.get(), text.c_str(), timeoutSeconds, 0);
  if (!answer) return connection.callFailed(lastErrorMessage());
  auto parsed = nlohmann::json::parse(takeString(answer), nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    return failed("The guest agent's reply is not a JSON object.");
  }
  if (parsed.contains("return"))
    return Result<nlohmann::json>(std::in_place_index<0>, std::move(parsed["return"]));
  if (parsed.contains("error")) {
    const auto& error = parsed["error"];
    return failed(error.is_object() && error.contains("desc") && error["desc"].is_string()
                      ? error["desc"].get<std::string>()
                      : error.dump());
  }
  return failed("The guest agent's reply holds neither a result nor an error.");
}

std::optional<std::vector<InterfaceAddress>> libvirtAddresses(Connection& connection,
                                                              const std::string& uuid,
                                                              AddressSource source) {
  auto c = connection.get();
  if (!succeeded(c)) return std::nullopt;
  auto d = lookupDomain(std::get<ConnectionRef>(c).get(), uuid);
  if (!d) return std::nullopt;
  virDomainInterfacePtr* interfaces = nullptr;
  const int n = virDomainInterfaceAddresses(d.get(), &interfaces,
                                            source == AddressSource::lease
                                                ? VIR_DOMAIN_INTERFACE_ADDRESSES_SRC_LEASE
                                                : VIR_DOMAIN_INTERFACE_ADDRESSES_SRC_ARP,
                                            0);
  if (n < 0) return std::nullopt;
  std::vector<InterfaceAddress> out;
  for (int i = 0; i < n; ++i) {
    const virDomainInterfacePtr iface = interfaces[i];
    for (unsigned j = 0; j < iface->naddrs; ++j) {
      const auto& a = iface->addrs[j];
      if (!a.addr) continue;
      out.push_back({iface->name ? iface->name : "", a.addr, a.type == VIR_IP_ADDR_TYPE_IPV6});
    }
    virDomainInterfaceFree(iface);
  }
  std::free(interfaces);
  return out;
}

}  // namespace qor::host::libvirt
