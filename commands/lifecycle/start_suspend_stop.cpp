#include "cli/output.h"
#include "commands/command_base.h"
#include "commands/commands.h"

namespace qor::commands {
namespace {

class Start final : public MachineCommand {
 public:
  explicit Start(const cli::ParsedArguments& arguments)
      : MachineCommand(arguments),
        attach_(arguments.flag("attach")),
        disposable_(arguments.flag("disposable")),
        recovery_(arguments.flag("recovery")) {}

  int execute(scripting::QorApplication& application) override {
    auto machine = findMachine(application);
    if (!machine.startSaving(!disposable_, recovery_)) return kExitRequestFailed;
    if (attach_) cli::print("WARNING: attach command is not implemented yet!");
    return kExitSuccess;
  }

 private:
  bool attach_;
  bool disposable_;
  bool recovery_;
};

class Suspend final : public MachineCommand {
 public:
  explicit Suspend(const cli::ParsedArguments& arguments)
      : MachineCommand(arguments), saveState_(arguments.flag("saveState")) {}

  int execute(scripting::QorApplication& application) override {
    auto machine = findMachine(application);
    return statusOf(machine.suspendSaving(saveState_));
  }

 private:
  bool saveState_;
};

class Stop final : public MachineCommand {
 public:
  explicit Stop(const cli::ParsedArguments& arguments)
      : MachineCommand(arguments), method_(chooseMethod(arguments)) {}

  int execute(scripting::QorApplication& application) override {
    auto machine = findMachine(application);
    return statusOf(machine.stopBy(method_));
  }

 private:
  // The first flag set wins, tested in the order request, force, kill; none means force.
  static scripting::QorStopMethod chooseMethod(const cli::ParsedArguments& arguments) {
    if (arguments.flag("request")) return scripting::QorStopMethod::request;
    if (arguments.flag("force")) return scripting::QorStopMethod::force;
    if (arguments.flag("kill")) return scripting::QorStopMethod::kill;
    return scripting::QorStopMethod::force;
  }

  scripting::QorStopMethod method_;
};

}  // namespace

CommandPtr makeStart(const cli::ParsedArguments& arguments) {
  return std::make_unique<Start>(arguments);
}

CommandPtr makeSuspend(const cli::ParsedArguments& arguments) {
  return std::make_unique<Suspend>(arguments);
}

CommandPtr makeStop(const cli::ParsedArguments& arguments) {
  return std::make_unique<Stop>(arguments);
}

}  // namespace qor::commands
