#include "commands/command_base.h"
#include "commands/commands.h"
#include "contract/vocabulary.h"

namespace qor::commands {
namespace {

namespace keys = contract::record_keys;

class Clone final : public MachineCommand {
 public:
  explicit Clone(const cli::ParsedArguments& arguments)
      : MachineCommand(arguments), name_(arguments.value("name")) {}

  int execute(scripting::QorApplication& application) override {
    auto machine = findMachine(application);
    return statusOf(machine.duplicateWithProperties(properties()));
  }

 private:
  // Always exactly {"configuration": {}} or {"configuration": {"name": <text>}}; an empty name
  // is a name like any other.
  scripting::Record properties() const {
    scripting::Record configuration;
    if (name_) configuration.push_back({std::string(keys::kName), scripting::RecordValue{*name_}});
    return {{std::string(keys::kConfiguration), scripting::RecordValue{std::move(configuration)}}};
  }

  std::optional<std::string> name_;
};

class Delete final : public MachineCommand {
 public:
  using MachineCommand::MachineCommand;

  int execute(scripting::QorApplication& application) override {
    auto machine = findMachine(application);
    return statusOf(machine.deleteMachine());
  }
};

}  // namespace

CommandPtr makeClone(const cli::ParsedArguments& arguments) {
  return std::make_unique<Clone>(arguments);
}

CommandPtr makeDelete(const cli::ParsedArguments& arguments) {
  return std::make_unique<Delete>(arguments);
}

}  // namespace qor::commands
