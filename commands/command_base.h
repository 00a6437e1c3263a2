#pragma once

#include "cli/options.h"
#include "cli/parsed_arguments.h"
#include "scripting/api_command.h"
#include "scripting/find_virtual_machine.h"
#include "scripting/object_model.h"

namespace qor::commands {

// What every leaf command holds: its environment options.
class HostCommand : public scripting::QorAPICommand {
 public:
  explicit HostCommand(const cli::ParsedArguments& arguments)
      : environment_{arguments.flag("debug"), arguments.flag("hide")} {}
  const scripting::Environment& environment() const override { return environment_; }

 private:
  scripting::Environment environment_;
};

// A command that names a virtual machine by its <identifier>.
class MachineCommand : public HostCommand {
 public:
  explicit MachineCommand(const cli::ParsedArguments& arguments)
      : HostCommand(arguments), identifer(cli::VMIdentifier::from(arguments)) {}

 protected:
  scripting::QorVirtualMachine findMachine(scripting::QorApplication& application) const {
    return scripting::findVirtualMachine(application, identifer.identifier);
  }

  cli::VMIdentifier identifer;
};

// Exit statuses of a command body. A request the command depends on that fails in the host has
// been reported by the event error handler already; the command then ends with kExitRequestFailed
// rather than reporting success.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitRequestFailed = 1;

inline int statusOf(bool requestSucceeded) {
  return requestSucceeded ? kExitSuccess : kExitRequestFailed;
}

}  // namespace qor::commands
