#include "entry/entry.h"

#include <fcntl.h>
#include <unistd.h>

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

#include "cli/command_types.h"
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

// A standard stream the caller closed stays closed: its number is taken by /dev/null opened the
// other way round, so a read (a write) fails as on a closed stream, and the bus connection or a
// file opened later cannot take that number and be read or written as if it were the stream.
void holdClosedStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
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
  holdClosedStandardStreams();

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
