#pragma once

#include <string>
#include <variant>
#include <vector>

#include "cli/command_types.h"
#include "cli/parser.h"
#include "entry/command_tree.h"

namespace qor::cli::testing {

// What a command line leads to, as the user sees it: the text on each stream and the status.
// A command line that would run a command shows "run <TypeName>" instead of output.
struct Seen {
  std::string out;
  std::string err;
  int status = 0;
};

inline ParseOutcome parse(const std::vector<std::string>& words, std::size_t width = 80) {
  return parseCommandLine(entry::rootCommand(), words, width);
}

inline Seen seen(const std::vector<std::string>& words, std::size_t width = 80) {
  ParseOutcome outcome = parse(words, width);
  if (auto* text = std::get_if<ShowText>(&outcome)) return {text->text, "", 0};
  if (auto* error = std::get_if<ReportError>(&outcome)) return {"", error->text, error->status};
  return {"run " + std::get<RunCommand>(outcome).command().typeName, "", 0};
}

// The first line of what went to standard error.
inline std::string message(const std::vector<std::string>& words) {
  std::string err = seen(words).err;
  return err.substr(0, err.find('\n'));
}

}  // namespace qor::cli::testing
