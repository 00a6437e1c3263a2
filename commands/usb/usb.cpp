#include <algorithm>

#include "cli/json_text.h"
#include "cli/output.h"
#include "commands/command_base.h"
#include "commands/commands.h"
#include "commands/usb/device_identifier.h"
#include "commands/usb/name_field.h"

namespace qor::commands {
namespace {

constexpr std::string_view kNoDevices =
    "No devices found. Make sure a USB sharing enabled VM is running.";
constexpr std::string_view kHeader = "Name                             VID :PID  Location";
constexpr std::string_view kConnectionHeader = "  Connection";
constexpr std::size_t kNameWidth = 32;
constexpr std::size_t kLocationWidth = 8;  // "Location"

// Each device's connection, read before anything is printed: whether the table has the column
// depends on all of them. nullopt for a read that failed (and was reported).
std::vector<std::optional<std::string>> connectionsOf(
    const std::vector<scripting::QorUsbDevice>& devices) {
  std::vector<std::optional<std::string>> connections;
  connections.reserve(devices.size());
  for (const auto& device : devices) connections.push_back(device.connection());
  return connections;
}

bool allRead(const std::vector<std::optional<std::string>>& connections) {
  return std::all_of(connections.begin(), connections.end(),
                     [](const auto& c) { return c.has_value(); });
}

class USBList final : public HostCommand {
 public:
  explicit USBList(const cli::ParsedArguments& arguments)
      : HostCommand(arguments), format_(cli::OutputFormat::from(arguments)) {}

  int execute(scripting::QorApplication& application) override {
    auto devices = application.usbDevices();
    if (!devices) return kExitRequestFailed;  // a failure, not an empty list
    const auto connections = connectionsOf(*devices);
    if (format_.json) return printDocument(*devices, connections);
    if (devices->empty()) {
      cli::print(kNoDevices);
      return kExitSuccess;
    }
    // Only a host with several connections names them; its table then says where each device
    // is plugged in, since one can be lent only to a machine on the same server.
    const bool withConnection =
        std::any_of(connections.begin(), connections.end(),
                    [](const auto& c) { return c.has_value() && !c->empty(); });
    cli::print(withConnection ? std::string(kHeader) + std::string(kConnectionHeader)
                              : std::string(kHeader));
    bool complete = allRead(connections);
    for (std::size_t i = 0; i < devices->size(); ++i) {
      const auto& device = (*devices)[i];
      auto name = device.name();
      auto vendor = device.vendorId();
      auto product = device.productId();
      auto location = device.id();
      complete = complete && name && vendor && product && location;
      // As in `list`: no row is made up of nothing received.
      if (!name && !vendor && !product && !location) continue;
      std::string row = utf16Field(name.value_or(""), kNameWidth) + " " + hexField(vendor) + ":" +
                        hexField(product) + " ";
      std::string place = location ? std::to_string(*location) : "?";
      if (withConnection) {
        place.resize(std::max(place.size(), kLocationWidth), ' ');
        place += "  " + connections[i].value_or("?");
      }
      cli::print(row + place);
    }
    return statusOf(complete);
  }

 private:
  // The reads of the table, written only when every one was answered. The ids are the hex
  // digits the table shows; the location is the number `usb disconnect` takes; the connection
  // is null where the host has only one.
  static int printDocument(const std::vector<scripting::QorUsbDevice>& devices,
                           const std::vector<std::optional<std::string>>& connections) {
    std::vector<std::string> objects;
    bool complete = allRead(connections);
    for (std::size_t i = 0; i < devices.size(); ++i) {
      const auto& device = devices[i];
      auto name = device.name();
      auto vendor = device.vendorId();
      auto product = device.productId();
      auto location = device.id();
      complete = complete && name && vendor && product && location;
      const auto hex = [](std::optional<std::int64_t> id) {
        return id ? cli::json::string(hexField(id)) : std::string(cli::json::kNull);
      };
      const auto& connection = connections[i];
      objects.push_back(cli::json::Object()
                            .add("name", cli::json::stringOrNull(name))
                            .add("vendorId", hex(vendor))
                            .add("productId", hex(product))
                            .add("location", cli::json::numberOrNull(location))
                            .add("connection", connection && !connection->empty()
                                                   ? cli::json::string(*connection)
                                                   : std::string(cli::json::kNull))
                            .text());
    }
    if (!complete) return kExitRequestFailed;
    cli::print(cli::json::array(objects));
    return kExitSuccess;
  }

  cli::OutputFormat format_;
};

class USBConnect final : public MachineCommand {
 public:
  explicit USBConnect(const cli::ParsedArguments& arguments)
      : MachineCommand(arguments), device_(arguments.value("device").value_or("")) {}

  int execute(scripting::QorApplication& application) override {
    auto machine = findMachine(application);  // before the device identifier is even read
    auto device = findDevice(application, device_);
    return statusOf(device.connectTo(machine));
  }

 private:
  std::string device_;
};

class USBDisconnect final : public HostCommand {
 public:
  explicit USBDisconnect(const cli::ParsedArguments& arguments)
      : HostCommand(arguments), device_(arguments.value("device").value_or("")) {}

  int execute(scripting::QorApplication& application) override {
    auto device = findDevice(application, device_);
    return statusOf(device.disconnect());
  }

 private:
  std::string device_;
};

}  // namespace

CommandPtr makeUSBList(const cli::ParsedArguments& arguments) {
  return std::make_unique<USBList>(arguments);
}

CommandPtr makeUSBConnect(const cli::ParsedArguments& arguments) {
  return std::make_unique<USBConnect>(arguments);
}

CommandPtr makeUSBDisconnect(const cli::ParsedArguments& arguments) {
  return std::make_unique<USBDisconnect>(arguments);
}

}  // namespace qor::commands
