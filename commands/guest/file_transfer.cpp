#include <string>

#include "cli/errors.h"
#include "cli/output.h"
#include "commands/command_base.h"
#include "commands/commands.h"
#include "commands/guest/open_guest_file.h"
#include "scripting/api_error.h"
#include "support/base64.h"

namespace qor::commands {
namespace {

using scripting::QorGuestFile;
using scripting::QorOpenMode;
using scripting::QorWhence;

constexpr std::int64_t kChunkSize = 4096;

OpenGuestFile openGuestFile(const scripting::QorVirtualMachine& machine, const std::string& path,
                            QorOpenMode mode) {
  auto file = machine.openFileAt(path, mode, false);
  if (!file) throw scripting::APIError::virtualMachineNotFound();
  return OpenGuestFile(std::move(*file));
}

class FilePull final : public MachineCommand {
 public:
  explicit FilePull(const cli::ParsedArguments& arguments)
      : MachineCommand(arguments), path_(arguments.value("path").value_or("")) {}

  int execute(scripting::QorApplication& application) override {
    auto machine = findMachine(application);
    OpenGuestFile file = openGuestFile(machine, path_, QorOpenMode::reading);
    std::uint64_t received = 0;
    for (;;) {
      auto chunk = file->readAtOffset(0, QorWhence::current, kChunkSize, true, false);
      if (!chunk) {
        file.close();
        throw cli::CommandError(incomplete(received));
      }
      auto bytes = support::base64Decode(*chunk);
      if (!bytes) {
        file.close();
        throw cli::CommandError("The guest sent a chunk that is not valid base64. " +
                                incomplete(received));
      }
      if (bytes->empty()) break;
      cli::writeStandardOutput(*bytes);
      received += bytes->size();
    }
    return statusOf(file.close());
  }

 private:
  static std::string incomplete(std::uint64_t received) {
    return "The transfer stopped after " + std::to_string(received) +
           " bytes; the output is incomplete.";
  }

  std::string path_;
};

class FilePush final : public MachineCommand {
 public:
  explicit FilePush(const cli::ParsedArguments& arguments)
      : MachineCommand(arguments), path_(arguments.value("path").value_or("")) {}

  int execute(scripting::QorApplication& application) override {
    auto machine = findMachine(application);
    // Opening for writing empties the guest file: only once standard input has answered (an
    // empty input too, which asks for an empty file) may that happen. A folder or a closed
    // stream as input fails here, with the guest file untouched.
    std::string chunk = cli::readStandardInput(kChunkSize);
    OpenGuestFile file = openGuestFile(machine, path_, QorOpenMode::writing);
    std::uint64_t sent = 0;
    // Every push ends with one write of the empty text, which marks the end.
    for (;; chunk = cli::readStandardInput(kChunkSize)) {
      if (!file->writeWithData(support::base64Encode(chunk), 0, QorWhence::current, true, false)) {
        // Going on would leave a hole in the guest file.
        file.close();
        throw cli::CommandError("The upload stopped after " + std::to_string(sent) +
                                " bytes; the guest file is incomplete.");
      }
      if (chunk.empty()) break;
      sent += chunk.size();
    }
    return statusOf(file.close());
  }

 private:
  std::string path_;
};

}  // namespace

CommandPtr makeFilePull(const cli::ParsedArguments& arguments) {
  return std::make_unique<FilePull>(arguments);
}

CommandPtr makeFilePush(const cli::ParsedArguments& arguments) {
  return std::make_unique<FilePush>(arguments);
}

}  // namespace qor::commands
