// The device identifier reader never crashes, and what it reads agrees with a plain re-reading:
// a location prints back to a text that reads as the same location.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "commands/usb/device_identifier.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto identifier = qor::commands::parseDeviceIdentifier(text);
  if (const auto* location = std::get_if<qor::commands::Location>(&identifier)) {
    if (qor::commands::parseSignedInteger(std::to_string(location->id), 10) != location->id) {
      std::abort();
    }
    if (text.find(':') != std::string::npos) std::abort();  // a decimal number has no colon
  }
  return 0;
}
