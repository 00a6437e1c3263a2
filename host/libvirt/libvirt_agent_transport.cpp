#include "host/libvirt/libvirt_agent_transport.h"

#include <libvirt/libvirt-qemu.h>

namespace qor::host::libvirt {

AgentReply LibvirtAgentTransport::command(const std::string& domainUuid,
                                          const nlohmann::json& request, int timeoutSeconds) {
  AgentReply reply;
  auto c = connection_.get();
  if (auto* e = std::get_if<std::string>(&c)) {
    reply.error = *e;
    return reply;
  }
  const auto conn = std::get<ConnectionRef>(c);
  Domain d(virDomainLookupByUUIDString(conn.get(), domainUuid.c_str()));
  if (!d) {
    reply.error = lastErrorMessage();
    connection_.checkAlive();
    return reply;
  }
  const std::string text = request.dump();
  char* answer = virDomainQemuAgentCommand(d.get(), text.c_str(), timeoutSeconds, 0);
  if (!answer) {
    reply.error = lastErrorMessage();
    connection_.checkAlive();
    return reply;
  }
  const auto parsed = nlohmann::json::parse(takeString(answer), nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    reply.error = "The guest agent's reply is not a JSON object.";
  } else if (parsed.contains("return")) {
    reply.ret = parsed["return"];
  } else if (parsed.contains("error")) {
    const auto& error = parsed["error"];
    reply.error = error.is_object() && error.contains("desc") && error["desc"].is_string()
                      ? error["desc"].get<std::string>()
                      : error.dump();
  } else {
    reply.error = "The guest agent's reply holds neither a result nor an error.";
  }
  return reply;
}

}  // namespace qor::host::libvirt
