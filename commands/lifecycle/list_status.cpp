#include <string>

#include "cli/output.h"
#include "commands/command_base.h"
#include "commands/commands.h"

namespace qor::commands {
namespace {

constexpr std::string_view kHeader = "UUID                                 Status   Name";
constexpr std::size_t kStatusWidth = 8;

std::string statusField(std::optional<std::uint32_t> status) {
  std::string word{scripting::statusWord(status.value_or(0))};
  word.resize(kStatusWidth, ' ');
  return word;
}

class List final : public HostCommand {
 public:
  using HostCommand::HostCommand;

  int execute(scripting::QorApplication& application) override {
    auto machines = application.virtualMachines();
    // A failed list is not an empty one: print nothing and fail.
    if (!machines) return kExitRequestFailed;
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
    return statusOf(complete);
  }
};

class Status final : public MachineCommand {
 public:
  using MachineCommand::MachineCommand;

  int execute(scripting::QorApplication& application) override {
    auto machine = findMachine(application);
    auto status = machine.status();
    cli::print(scripting::statusWord(status.value_or(0)));
    return statusOf(status.has_value());
  }
};

}  // namespace

CommandPtr makeList(const cli::ParsedArguments& arguments) {
  return std::make_unique<List>(arguments);
}

CommandPtr makeStatus(const cli::ParsedArguments& arguments) {
  return std::make_unique<Status>(arguments);
}

}  // namespace qor::commands
