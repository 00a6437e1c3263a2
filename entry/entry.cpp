#include "entry/entry.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "cli/command_spec.h"
#include "cli/completion.h"
#include "cli/output.h"
#include "cli/parser.h"
#include "cli/terminal.h"
#include "commands/complete_values.h"
#include "entry/command_tree.h"

namespace qor::entry {
namespace {

using namespace cli;

// Standard error takes whole lines; the reports carry their own final newline.
void report(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  standardErrorStream().write(text);
}

int perform(ParseOutcome& outcome) {
  return std::visit(
      [](auto& value) -> int {
        using Outcome = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<Outcome, ShowText>) {
          std::fwrite(value.text.data(), 1, value.text.size(), stdout);
          return 0;
        } else if constexpr (std::is_same_v<Outcome, ReportError>) {
          report(value.text);
          return value.status;
        } else {
          return value.command().run(value.arguments);
        }
      },
      outcome);
}

}  // namespace

int runEntry(int argc, char** argv) {
  // A closed pipe must fail the write that meets it, and so be reported, not end the process.
  std::signal(SIGPIPE, SIG_IGN);

  int status = 1;
  try {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (!arguments.empty() && arguments.front() == kCompleteValuesOption) {
      // The completion scripts' hidden query: not a command of the tree, and never an error.
      status = commands::completeValues({arguments.begin() + 1, arguments.end()});
    } else {
      ParseOutcome outcome = parseCommandLine(rootCommand(), arguments, terminalWidth());
      status = perform(outcome);
    }
  } catch (const std::exception& error) {
    standardErrorStream().write("Error: " + std::string(error.what()));
    status = 1;
  }

  // Lines printed through buffered standard output leave here at the latest; losing them is a
  // failure, not a success.
  int flushed = std::fflush(stdout);
  int error = errno;
  if (flushed != 0 || std::ferror(stdout)) {
    std::string reason = flushed != 0 ? ": " + std::string(std::strerror(error)) : "";
    standardErrorStream().write("Error: Could not write to standard output" + reason);
    if (status == 0) status = 1;
  }
  return status;
}

}  // namespace qor::entry
