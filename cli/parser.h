#pragma once

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

#include "cli/command_types.h"
#include "cli/parsed_arguments.h"
#include "cli/usage.h"

namespace qor::cli {

// Run the selected leaf command with the values filled for it.
struct RunCommand {
  CommandPath path;
  ParsedArguments arguments;
  const CommandSpec& command() const { return *path.back(); }
};

// Help or a completion script: the text goes to standard output as it stands; status 0.
struct ShowText {
  std::string text;
};

// A command line that cannot run: the text goes to standard error as it stands. Status 64 for the
// parser's own errors (message, usage line, pointer to --help), 1 for an error a command's
// validation raised (message only).
struct ReportError {
  std::string text;
  int status;
};

using ParseOutcome = std::variant<RunCommand, ShowText, ReportError>;

inline constexpr int kUsageErrorStatus = 64;
inline constexpr int kValidationErrorStatus = 1;

// Parses the process arguments (without the program name) against the command tree, nothing else
// involved: help is wrapped to `width` columns. Arguments that are not valid UTF-8 have each bad
// sequence replaced by U+FFFD before anything looks at them.
ParseOutcome parseCommandLine(const CommandSpec& root, const std::vector<std::string>& arguments,
                              std::size_t width);

}  // namespace qor::cli
