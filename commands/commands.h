#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/parsed_arguments.h"
#include "scripting/api_command.h"

// The factories the command table names: each builds one leaf command from the parsed values
// and is defined in that command's own file.
namespace qor::commands {

using CommandPtr = std::unique_ptr<scripting::QorAPICommand>;

CommandPtr makeList(const cli::ParsedArguments&);
CommandPtr makeStatus(const cli::ParsedArguments&);
CommandPtr makeStart(const cli::ParsedArguments&);
CommandPtr makeSuspend(const cli::ParsedArguments&);
CommandPtr makeStop(const cli::ParsedArguments&);
CommandPtr makeWait(const cli::ParsedArguments&);
CommandPtr makeAttach(const cli::ParsedArguments&);
CommandPtr makeFilePull(const cli::ParsedArguments&);
CommandPtr makeFilePush(const cli::ParsedArguments&);
CommandPtr makeExec(const cli::ParsedArguments&);
CommandPtr makeIPAddress(const cli::ParsedArguments&);
CommandPtr makeClone(const cli::ParsedArguments&);
CommandPtr makeDelete(const cli::ParsedArguments&);
CommandPtr makeUSBList(const cli::ParsedArguments&);
CommandPtr makeUSBConnect(const cli::ParsedArguments&);
CommandPtr makeUSBDisconnect(const cli::ParsedArguments&);

// The words `wait --for` takes, the default first.
const std::vector<std::string>& waitConditionNames();

}  // namespace qor::commands
