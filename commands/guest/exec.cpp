#include <limits>
#include <string>

#include "cli/errors.h"
#include "cli/output.h"
#include "commands/command_base.h"
#include "commands/commands.h"
#include "commands/guest/exit_status.h"
#include "contract/vocabulary.h"
#include "scripting/api_error.h"
#include "support/base64.h"

namespace qor::commands {
namespace {

namespace keys = contract::record_keys;
using scripting::find;
using scripting::Record;

// One of the guest program's streams, from the final result.
struct GuestStream {
  std::string_view name;             // "standard output", "standard error"
  std::optional<std::string> bytes;  // nothing when the key is missing, not text, or undecodable
  bool undecodable = false;
  bool cut = false;  // the host kept only the first part of what the program wrote
};

GuestStream streamOf(const Record& result, std::string_view dataKey, std::string_view cutKey,
                     std::string_view name) {
  GuestStream stream{name, std::nullopt};
  const auto* cut = find(result, cutKey);
  stream.cut = cut != nullptr && cut->boolean() != nullptr && *cut->boolean();
  const auto* value = find(result, dataKey);
  if (value == nullptr || value->text() == nullptr) return stream;
  stream.bytes = support::base64Decode(*value->text());
  stream.undecodable = !stream.bytes;
  return stream;
}

// Undecodable text is reported rather than dropped silently; true when the stream was written.
bool writeStream(const GuestStream& stream, void (*write)(std::string_view)) {
  if (stream.undecodable) {
    cli::standardErrorStream().write("Error: The guest program's " + std::string(stream.name) +
                                     " is not valid base64; it was not written.");
    return false;
  }
  if (stream.bytes) write(*stream.bytes);
  return true;
}

// A cut stream is lost data: said after both streams, so the guest's own error output stays whole.
bool reportCut(const GuestStream& stream) {
  if (!stream.cut || stream.undecodable) return false;
  const std::size_t received = stream.bytes ? stream.bytes->size() : 0;
  cli::standardErrorStream().write("Error: The guest program's " + std::string(stream.name) +
                                   " was cut after " + std::to_string(received) +
                                   " bytes by the host; the rest was not received.");
  return true;
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
    const std::vector<std::string> arguments(cmd_.begin() + 1, cmd_.end());
    const std::string input =
        input_ ? readInput(machine.executeInputCapacity(cmd_.front(), arguments, env_))
               : std::string();
    auto process = machine.executeWithInputBytes(cmd_.front(), arguments, env_, input, true);
    if (!process) throw scripting::APIError::virtualMachineNotFound();

    auto result = waitForExit(*process);
    const auto* code = find(result, keys::kExitCode);
    const std::int64_t exitCode = code != nullptr && code->integer() ? *code->integer() : 0;

    const auto out = streamOf(result, keys::kOutputData, keys::kOutputTruncated, "standard output");
    const auto err = streamOf(result, keys::kErrorData, keys::kErrorTruncated, "standard error");
    bool intact = writeStream(out, cli::writeStandardOutput);
    intact = writeStream(err, cli::writeStandardError) && intact;
    // Both run, so each cut stream is named.
    const bool outCut = reportCut(out);
    const bool errCut = reportCut(err);
    intact = intact && !outCut && !errCut;
    // Incomplete output never reads as success; a failed guest program keeps its own code.
    const int status = exitStatusFor(exitCode);
    return status == 0 && !intact ? kExitRequestFailed : status;
  }

 private:
  // All of standard input, when one request can carry it. A larger input is refused before
  // anything is sent (the bus would drop the connection instead of answering), and before it is
  // read whole: a regular file tells its size, anything else is read only up to the limit.
  static std::string readInput(std::size_t capacity) {
    const auto tooLarge = [&](const std::string& size) {
      return cli::CommandError("The input is too large: " + size +
                               ", and one request carries at most " + std::to_string(capacity) +
                               " bytes of input (the bus takes messages below 128 MiB, and "
                               "base64 makes the input a third larger). Nothing was sent.");
    };
    if (const auto remaining = cli::standardInputFileRemaining();
        remaining && *remaining > capacity) {
      throw tooLarge(std::to_string(*remaining) + " bytes");
    }
    std::string input = cli::readStandardInputToEnd(capacity);
    if (input.size() > capacity) throw tooLarge("more than " + std::to_string(capacity) + " bytes");
    return input;
  }

  // Polls with no pause until "hasExited" is anything but a false Boolean.
  static Record waitForExit(const scripting::QorGuestProcess& process) {
    for (;;) {
      auto result = process.getResult();
      if (!result) throw cli::CommandError("The result of the guest program could not be read.");
      const auto* exited = find(*result, keys::kHasExited);
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
