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
constexpr std::size_t kNameWidth = 32;

class USBList final : public HostCommand {
 public:
  using HostCommand::HostCommand;

  int execute(scripting::QorApplication& application) override {
    auto devices = application.usbDevices();
    if (!devices) return kExitRequestFailed;  // a failure, not an empty list
    if (devices->empty()) {
      cli::print(kNoDevices);
      return kExitSuccess;
    }
    cli::print(kHeader);
    bool complete = true;
    for (const auto& device : *devices) {
      auto name = device.name();
      auto vendor = device.vendorId();
      auto product = device.productId();
      auto location = device.id();
      complete = complete && name && vendor && product && location;
      // As in `list`: no row is made up of nothing received.
      if (!name && !vendor && !product && !location) continue;
      cli::print(utf16Field(name.value_or(""), kNameWidth) + " " + hexField(vendor) + ":" +
                 hexField(product) + " " + (location ? std::to_string(*location) : "?"));
    }
    return statusOf(complete);
  }
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
