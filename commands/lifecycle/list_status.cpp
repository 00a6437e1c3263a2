#include <string>
#include <vector>

#include "cli/json_text.h"
#include "cli/output.h"
#include "commands/command_base.h"
#include "commands/commands.h"
#include "scripting/event_error_handler.h"

namespace qor::commands {
namespace {

constexpr std::string_view kHeader = "UUID                                 Status   Name";
constexpr std::size_t kStatusWidth = 8;

std::string statusField(std::optional<std::uint32_t> status) {
  std::string word{scripting::statusWord(status.value_or(0))};
  word.resize(kStatusWidth, ' ');
  return word;
}

std::string statusOrNull(std::optional<std::uint32_t> status) {
  return status ? cli::json::string(scripting::statusWord(*status)) : std::string(cli::json::kNull);
}

std::string machineObject(const std::optional<std::string>& id,
                          const std::optional<std::string>& name,
                          std::optional<std::uint32_t> status) {
  return cli::json::Object()
      .add("id", cli::json::stringOrNull(id))
      .add("name", cli::json::stringOrNull(name))
      .add("status", statusOrNull(status))
      .text();
}

// The list is whole unless the host says that connections are missing from it; each is named
// on standard error and the status is 1, so a script never takes part of a list for all of it.
// Asked without the delegate: a host that does not know of connections has none missing.
bool reportMissingConnections(scripting::QorApplication& application) {
  scripting::EventDelegate* const remembered = application.delegate();
  application.setDelegate(nullptr);
  const auto missing = application.unreachableConnections();
  application.setDelegate(remembered);
  if (!missing || missing->empty()) return false;
  for (const auto& uri : *missing) {
    cli::standardErrorStream().write("Error: The machines on " + uri +
                                     " are not listed: it cannot be reached.");
  }
  return true;
}

class List final : public HostCommand {
 public:
  explicit List(const cli::ParsedArguments& arguments)
      : HostCommand(arguments), format_(cli::OutputFormat::from(arguments)) {}

  int execute(scripting::QorApplication& application) override {
    auto machines = application.virtualMachines();
    // A failed list is not an empty one: print nothing and fail.
    if (!machines) return kExitRequestFailed;
    if (format_.json) {
      const int status = printDocument(*machines);
      if (status != kExitSuccess) return status;
      return reportMissingConnections(application) ? kExitRequestFailed : status;
    }
    cli::print(kHeader);
    bool complete = true;
    // One row per machine, printed before the next is asked; reads in the order status, id, name.
    for (const auto& machine : machines->elements()) {
      auto status = machine.status();
      auto id = machine.id();
      auto name = machine.name();
      complete = complete && status && id && name;
      // A row the host answered nothing for (the machine went away meanwhile, or the host did)
      // would be made up of nothing received; the failures are reported already.
      if (!status && !id && !name) continue;
      cli::print(id.value_or("") + " " + statusField(status) + " " + name.value_or(""));
    }
    if (reportMissingConnections(application)) complete = false;
    return statusOf(complete);
  }

 private:
  // The same reads as the table, in the same order; the document is written only when every
  // one of them was answered, so a program never reads half a list.
  static int printDocument(const scripting::VirtualMachineList& machines) {
    std::vector<std::string> objects;
    bool complete = true;
    for (const auto& machine : machines.elements()) {
      auto status = machine.status();
      auto id = machine.id();
      auto name = machine.name();
      complete = complete && status && id && name;
      objects.push_back(machineObject(id, name, status));
    }
    if (!complete) return kExitRequestFailed;
    cli::print(cli::json::array(objects));
    return kExitSuccess;
  }

  cli::OutputFormat format_;
};

class Status final : public MachineCommand {
 public:
  explicit Status(const cli::ParsedArguments& arguments)
      : MachineCommand(arguments), format_(cli::OutputFormat::from(arguments)) {}

  int execute(scripting::QorApplication& application) override {
    auto machine = findMachine(application);
    auto status = machine.status();
    if (!format_.json) {
      cli::print(scripting::statusWord(status.value_or(0)));
      return statusOf(status.has_value());
    }
    if (!status) return kExitRequestFailed;
    auto id = machine.id();
    auto name = machine.name();
    if (!id || !name) return kExitRequestFailed;
    cli::print(machineObject(id, name, status));
    return kExitSuccess;
  }

 private:
  cli::OutputFormat format_;
};

}  // namespace

CommandPtr makeList(const cli::ParsedArguments& arguments) {
  return std::make_unique<List>(arguments);
}

CommandPtr makeStatus(const cli::ParsedArguments& arguments) {
  return std::make_unique<Status>(arguments);
}

}  // namespace qor::commands
