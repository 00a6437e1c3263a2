#pragma once

#include <optional>
#include <span>
#include <string>

#include "cli/command_types.h"
#include "cli/parsed_arguments.h"

namespace qor::cli {

// Whether the words after a command's name ask for its help: -h or --help (alone or among
// grouped short flags) anywhere before a `--` terminator or an option that takes every remaining
// word, whose words belong to someone else.
bool asksForHelp(const CommandSpec& command, std::span<const std::string> words);

// Fills the command's members from the words after its name: options anywhere, positionals in
// order, a `--` making every later word a positional. Single-value options keep their last value.
// Returns the parser's message when the words do not fit the command.
std::optional<std::string> parseMembers(const CommandSpec& command,
                                        std::span<const std::string> words,
                                        ParsedArguments& arguments);

}  // namespace qor::cli
