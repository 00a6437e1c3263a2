#include "host/bus/bus_message.h"

#include "wire/value_codec.h"

namespace qor::host {

int readRequest(sd_bus_message* message, Request& out) {
  const char* path = sd_bus_message_get_path(message);
  const char* interface = sd_bus_message_get_interface(message);
  const char* member = sd_bus_message_get_member(message);
  const char* signature = sd_bus_message_get_signature(message, true);
  out.path = path ? path : "";
  out.interface = interface ? std::optional<std::string>(interface) : std::nullopt;
  out.member = member ? member : "";
  out.signature = signature ? signature : "";
  const char* sender = sd_bus_message_get_sender(message);
  out.sender = sender ? sender : "";
  return wire::readValues(message, out.args);
}

}  // namespace qor::host
