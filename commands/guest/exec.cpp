#include <limits>
#include <string>

#include "cli/errors.h"
#include "cli/output.h"
#include "commands/command_base.h"
#include "commands/commands.h"
#include "commands/guest/exit_status.h"
#include "scripting/api_error.h"
#include "scripting/base64.h"

namespace qor::commands {
namespace {

using scripting::find;
using scripting::Record;

// The guest's stream from a final result: nothing when the key is missing or not text.
// Undecodable text is reported rather than dropped silently.
std::optional<std::string> streamOf(const Record& result, std::string_view key,
                                    std::string_view stream, bool& intact) {
  const auto* value = find(result, key);
  if (value == nullptr || value->text() == nullptr) return std::nullopt;
  auto bytes = base64Decode(*value->text());
  if (!bytes) {
    intact = false;
    cli::standardErrorStream().write("Error: The guest program's " + std::string(stream) +
                                     " is not valid base64; it was not written.");
  }
  return bytes;
}

class Exec final : public MachineCommand {
 public:
  explicit Exec(const cli::ParsedArguments& arguments)
      : MachineCommand(arguments),
        input_(arguments.flag("input")),
        env_(arguments.values("env")),
        cmd_(arguments.values("cmd")) {}

  int execute(scripting::QorApplication& application) override {
    // The program is the first word; without one, or with an empty one, nothing may be sent
    // (the host would refuse it, and the refusal would read as a missing machine).
    if (cmd_.empty()) throw cli::CommandError("No command to execute: --cmd needs the program.");
    if (cmd_.front().empty()) {
      throw cli::CommandError(
          "The program to execute is an empty word: the first word after --cmd must name it.");
    }
    auto machine = findMachine(application);
    const std::string input = input_ ? cli::readStandardInputToEnd() : std::string();
    const std::vector<std::string> arguments(cmd_.begin() + 1, cmd_.end());
    auto process =
        machine.executeAt(cmd_.front(), arguments, env_, base64Encode(input), true, true);
    if (!process) throw scripting::APIError::virtualMachineNotFound();

    auto result = waitForExit(*process);
    const auto* code = find(result, "exitCode");
    const std::int64_t exitCode = code != nullptr && code->integer() ? *code->integer() : 0;

    bool intact = true;
    if (auto out = streamOf(result, "outputData", "standard output", intact))
      cli::writeStandardOutput(*out);
    if (auto err = streamOf(result, "errorData", "standard error", intact))
      cli::writeStandardError(*err);
    const int status = exitStatusFor(exitCode);
    return status == 0 && !intact ? kRequestFailed : status;
  }

 private:
  // Polls with no pause until "hasExited" is anything but a false Boolean.
  static Record waitForExit(const scripting::QorGuestProcess& process) {
    for (;;) {
      auto result = process.getResult();
      if (!result) throw cli::CommandError("The result of the guest program could not be read.");
      const auto* exited = find(*result, "hasExited");
      if (exited == nullptr || exited->boolean() == nullptr || *exited->boolean()) {
        return std::move(*result);
      }
    }
  }

  bool input_;
  std::vector<std::string> env_;
  std::vector<std::string> cmd_;
};

}  // namespace

CommandPtr makeExec(const cli::ParsedArguments& arguments) {
  return std::make_unique<Exec>(arguments);
}

}  // namespace qor::commands
