// Whole command lines through the parser. Whatever the words, the outcome is one the entry point
// can finish: text to show, an error report with its documented status and form, or a leaf
// command with every required value present. Everything that reaches the user, and every value
// handed to a command, is valid UTF-8 even when the words are not.
//
// Input: the first byte chooses the terminal width, the rest is split into words at NUL bytes
// ("a\0\0b" is "a", "", "b").
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/parser.h"
#include "entry/command_tree.h"
#include "fuzz/checks.h"

namespace {

using qor::fuzz::check;
using qor::fuzz::isValidUtf8;

// Widths as terminalWidth() can answer them: any positive column count, COLUMNS included.
std::size_t widthFrom(std::uint8_t byte) {
  if (byte == 255) return std::numeric_limits<std::size_t>::max();
  if (byte == 254) return 100000;
  return std::size_t{byte} + 1;
}

std::vector<std::string> wordsFrom(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words;
  if (size == 0) return words;
  const std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  for (;;) {
    const std::size_t nul = rest.find('\0', start);
    words.emplace_back(rest.substr(start, nul - start));
    if (nul == std::string_view::npos) break;
    start = nul + 1;
  }
  return words;
}

bool isSubcommandOf(const qor::cli::CommandSpec* child, const qor::cli::CommandSpec& parent) {
  for (const auto& sub : parent.subcommands) {
    if (&sub == child) return true;
  }
  return false;
}

void checkRun(const qor::cli::RunCommand& run, const qor::cli::CommandSpec& root) {
  check(!run.path.empty() && run.path.front() == &root, "the command path starts at the root");
  for (std::size_t i = 1; i < run.path.size(); ++i) {
    check(isSubcommandOf(run.path[i], *run.path[i - 1]), "each command is its parent's");
  }
  const qor::cli::CommandSpec& command = run.command();
  check(command.subcommands.empty(), "only a leaf command runs", command.typeName);
  for (const auto& member : command.members) {
    if (member.kind == qor::cli::ArgKind::flag) continue;
    const auto& values = run.arguments.values(member.property);
    if (member.required) check(!values.empty(), "a required value is present", member.property);
    for (const auto& value : values) {
      check(isValidUtf8(value), "a value is valid UTF-8", value);
      if (!member.integer) continue;
      std::int64_t number = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
      check(error == std::errc{} && end == value.data() + value.size() &&
                std::to_string(number) == value,
            "an integer value reaches the command in plain decimal", value);
    }
  }
}

void checkError(const qor::cli::ReportError& report) {
  check(report.status == qor::cli::kUsageErrorStatus ||
            report.status == qor::cli::kValidationErrorStatus,
        "an error ends with status 64 or 1");
  check(report.text.starts_with("Error: "), "an error report starts with \"Error: \"", report.text);
  check(report.text.ends_with('\n'), "an error report ends its line", report.text);
  check(isValidUtf8(report.text), "an error report is valid UTF-8", report.text);
  if (report.status == qor::cli::kUsageErrorStatus) {
    check(report.text.find("\nUsage: qorctl") != std::string::npos &&
              report.text.find(" --help' for more information.\n") != std::string::npos,
          "a usage error shows the usage line and the pointer to --help", report.text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t width = widthFrom(data[0]);
  const std::vector<std::string> words = wordsFrom(data + 1, size - 1);
  const qor::cli::CommandSpec& root = qor::entry::rootCommand();
  const qor::cli::ParseOutcome outcome = qor::cli::parseCommandLine(root, words, width);
  check(!outcome.valueless_by_exception(), "the outcome is one of the three kinds");
  if (const auto* run = std::get_if<qor::cli::RunCommand>(&outcome)) {
    checkRun(*run, root);
  } else if (const auto* text = std::get_if<qor::cli::ShowText>(&outcome)) {
    check(!text->text.empty(), "help or a script is never empty");
    check(isValidUtf8(text->text), "shown text is valid UTF-8", text->text);
  } else {
    checkError(std::get<qor::cli::ReportError>(outcome));
  }
  return 0;
}
