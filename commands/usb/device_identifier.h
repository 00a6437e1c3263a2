#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "scripting/object_model.h"

namespace qor::commands {

struct VendorProduct {
  std::int64_t vendorId;
  std::int64_t productId;
  bool operator==(const VendorProduct&) const = default;
};
struct Location {
  std::int64_t id;
  bool operator==(const Location&) const = default;
};
struct InvalidIdentifier {
  bool operator==(const InvalidIdentifier&) const = default;
};
using DeviceIdentifier = std::variant<VendorProduct, Location, InvalidIdentifier>;

// "DEAD:BEEF" (two base-16 pieces after splitting at every ":" and dropping empty pieces) names
// a vendor and product id; otherwise the whole text as a base-10 number names a location.
DeviceIdentifier parseDeviceIdentifier(std::string_view text);

// An optional sign, then one or more digits of the base, nothing else, within signed 64 bits.
std::optional<std::int64_t> parseSignedInteger(std::string_view text, int base);

// The device the identifier names: the first match in the host's order. Raises
// APIError::invalidIdentifier (with the text as typed) or APIError::deviceNotFound.
scripting::QorUsbDevice findDevice(scripting::QorApplication& application, const std::string& text);

}  // namespace qor::commands
