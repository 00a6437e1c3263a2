#include <charconv>

#include "cli/json_text.h"
#include "cli/output.h"
#include "commands/command_base.h"
#include "commands/commands.h"

namespace qor::commands {
namespace {

using scripting::QorSerialInterface;

constexpr std::string_view kWarning = "WARNING: attach command is not implemented yet!";

std::optional<std::int64_t> parseIndex(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc{} || end != text->data() + text->size()) return std::nullopt;
  return value;
}

class Attach final : public MachineCommand {
 public:
  explicit Attach(const cli::ParsedArguments& arguments)
      : MachineCommand(arguments), index_(parseIndex(arguments.value("index"))) {}

  int execute(scripting::QorApplication& application) override {
    auto machine = findMachine(application);
    auto ports = machine.serialPorts();
    if (!ports) return kExitRequestFailed;
    for (const auto& port : *ports) {
      if (index_) {
        // A port whose id cannot be read may be the one asked for: no choice can be made.
        const auto id = port.id();
        if (!id) return kExitRequestFailed;
        if (*id != *index_) continue;
      }
      cli::print(kWarning);
      auto interface = port.interface();
      if (!interface) return kExitRequestFailed;
      if (*interface == static_cast<std::uint32_t>(QorSerialInterface::unavailable)) continue;
      return describe(port, *interface);
    }
    return kExitSuccess;
  }

 private:
  // A port the host cannot give an address (or TCP port number) for is a failed read, already
  // reported: no half line is printed for it. Nor when it cannot say which computer the address
  // is on: a remote server's pty path opened here would be an unrelated local one.
  static int describe(const scripting::QorSerialPort& port, std::uint32_t interface) {
    if (interface == static_cast<std::uint32_t>(QorSerialInterface::ptty)) {
      auto address = port.address();
      if (!address) return kExitRequestFailed;
      auto where = whereIs(port);
      if (!where) return kExitRequestFailed;
      cli::print("PTTY: " + *address + *where);
    } else if (interface == static_cast<std::uint32_t>(QorSerialInterface::tcp)) {
      auto address = port.address();
      if (!address) return kExitRequestFailed;
      auto number = port.port();
      if (!number) return kExitRequestFailed;
      auto where = whereIs(port);
      if (!where) return kExitRequestFailed;
      cli::print("TCP: " + *address + ":" + std::to_string(*number) + *where);
    }
    return kExitSuccess;
  }

  // " on build-server" for an address on another computer; nothing for one on this computer.
  static std::optional<std::string> whereIs(const scripting::QorSerialPort& port) {
    auto server = port.server();
    if (!server) return std::nullopt;
    return server->empty() ? std::string() : " on " + *server;
  }

  std::optional<std::int64_t> index_;
};

class IPAddress final : public MachineCommand {
 public:
  explicit IPAddress(const cli::ParsedArguments& arguments)
      : MachineCommand(arguments), format_(cli::OutputFormat::from(arguments)) {}

  int execute(scripting::QorApplication& application) override {
    auto machine = findMachine(application);
    auto addresses = machine.queryIp();
    if (!addresses) return kExitRequestFailed;
    if (format_.json) {
      std::vector<std::string> texts;
      for (const auto& address : *addresses) texts.push_back(cli::json::string(address));
      cli::print(cli::json::array(texts));
      return kExitSuccess;
    }
    for (const auto& address : *addresses) cli::print(address);
    return kExitSuccess;
  }

 private:
  cli::OutputFormat format_;
};

}  // namespace

CommandPtr makeAttach(const cli::ParsedArguments& arguments) {
  return std::make_unique<Attach>(arguments);
}

CommandPtr makeIPAddress(const cli::ParsedArguments& arguments) {
  return std::make_unique<IPAddress>(arguments);
}

}  // namespace qor::commands
