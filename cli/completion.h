#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_table.h"
#include "cli/usage.h"

namespace qor::cli {

enum class Shell { bash, zsh, fish };

std::optional<Shell> shellNamed(std::string_view name);

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

std::string bashScript(const CommandSpec& root);
std::string zshScript(const CommandSpec& root);
std::string fishScript(const CommandSpec& root);

}  // namespace completion
}  // namespace qor::cli
