#include "commands/usb/device_identifier.h"

#include <limits>
#include <vector>

#include "scripting/api_error.h"

namespace qor::commands {
namespace {

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

std::vector<std::string_view> splitDroppingEmpty(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

}  // namespace

std::optional<std::int64_t> parseSignedInteger(std::string_view text, int base) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // Accumulate the magnitude as unsigned so that the most negative value still fits.
  const std::uint64_t limit =
      negative ? std::uint64_t{1} << 63 : std::uint64_t{std::numeric_limits<std::int64_t>::max()};
  std::uint64_t magnitude = 0;
  for (char c : text) {
    const int digit = digitValue(c);
    if (digit >= base) return std::nullopt;
    const auto b = static_cast<std::uint64_t>(base);
    const auto d = static_cast<std::uint64_t>(digit);
    if (magnitude > (limit - d) / b) return std::nullopt;
    magnitude = magnitude * b + d;
  }
  if (negative) return static_cast<std::int64_t>(~magnitude + 1);
  return static_cast<std::int64_t>(magnitude);
}

DeviceIdentifier parseDeviceIdentifier(std::string_view text) {
  const auto pieces = splitDroppingEmpty(text, ':');
  if (pieces.size() == 2) {
    auto vendor = parseSignedInteger(pieces[0], 16);
    auto product = parseSignedInteger(pieces[1], 16);
    if (vendor && product) return VendorProduct{*vendor, *product};
  }
  if (auto location = parseSignedInteger(text, 10)) return Location{*location};
  return InvalidIdentifier{};
}

scripting::QorUsbDevice findDevice(scripting::QorApplication& application,
                                   const std::string& text) {
  const DeviceIdentifier identifier = parseDeviceIdentifier(text);
  if (std::holds_alternative<InvalidIdentifier>(identifier)) {
    throw scripting::APIError::invalidIdentifier(text);
  }
  auto devices = application.usbDevices();
  if (!devices) throw scripting::APIError::deviceNotFound();
  for (const auto& device : *devices) {
    if (const auto* pair = std::get_if<VendorProduct>(&identifier)) {
      // productId is asked only of a device whose vendor matched.
      if (device.vendorId() == pair->vendorId && device.productId() == pair->productId) {
        return device;
      }
    } else if (device.id() == std::get<Location>(identifier).id) {
      return device;
    }
  }
  throw scripting::APIError::deviceNotFound();
}

}  // namespace qor::commands
