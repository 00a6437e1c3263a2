#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_types.h"
#include "cli/usage.h"

namespace qor::cli {

enum class Shell { bash, zsh, fish };

std::optional<Shell> shellNamed(std::string_view name);

// The hidden query the completion scripts run: `qorctl --complete-values <kind> [<word>]` prints
// the host's values of that kind, one per line, for the word being typed. Not in the help.
inline constexpr std::string_view kCompleteValuesOption = "--complete-values";
// The kind's word on that command line ("identifier", "usb-device"); empty for none.
std::string_view suggestionsName(Suggestions suggestions);
std::optional<Suggestions> suggestionsNamed(std::string_view name);

// The completion script for the shell, derived from the command tree: each command offers its
// subcommands, flags and options, and nothing after `--` or an option that takes the rest of the
// line. Newline-terminated, ready for standard output.
std::string completionScript(const CommandSpec& root, Shell shell);

// Shared by the three generators.
namespace completion {

inline constexpr const char* kHelpSubcommandAbstract = "Show subcommand help information.";

// Every command of the tree, parents before their subcommands.
void forEachCommand(const CommandSpec& root, const std::function<void(const CommandPath&)>& visit);

// A shell function name for the command: "_qorctl_ip_address".
std::string functionName(const CommandPath& path);

// The option words a command accepts, in declaration order, help last ("-d", "--debug", ...).
std::vector<std::string> optionWords(const CommandSpec& command);

// The long names of the options that take their value in the next word ("--index", "--env").
std::vector<std::string> valueOptionWords(const CommandSpec& command);

// The command's positionals in order, with what each one's completion offers.
std::vector<Suggestions> positionalSuggestions(const CommandSpec& command);
bool suggestsValues(const CommandSpec& command);

std::string bashScript(const CommandSpec& root);
std::string zshScript(const CommandSpec& root);
std::string fishScript(const CommandSpec& root);

}  // namespace completion
}  // namespace qor::cli
