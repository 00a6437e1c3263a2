#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/parsed_arguments.h"

namespace qor::cli {

enum class ArgKind {
  flag,             // --name / -n, a Boolean
  option,           // --name <name>, one value, the last occurrence wins
  repeatedOption,   // --env <env> ..., each occurrence takes one value
  remainingOption,  // --cmd <cmd> ..., takes every word that follows, dashes included
  positional,       // <identifier>
};

// Values a positional's completion offers from the host, when it is running.
enum class Suggestions {
  none,
  machines,    // the names of the virtual machines (and their UUIDs once one is begun)
  usbDevices,  // VID:PID pairs and locations, as `usb list` shows them
};

// One member of a command as declared: the parser, the help, the usage line and the completion
// scripts are all derived from it. Names derive from `property`: "saveState" gives --save-state
// and the value placeholder <save-state>; a positional "identifier" shows as <identifier>.
struct ArgSpec {
  ArgKind kind;
  std::string property;
  char shortName = 0;  // 'a' for -a; 0 when the member has only a long name
  std::string help;
  bool required = false;  // positionals and --cmd are required; flags and options are not
  bool integer = false;   // the value must read as a signed 64-bit integer; stored in decimal
  Suggestions suggestions = Suggestions::none;
  std::optional<std::int64_t> minimum{};  // an integer value below it is refused
  // The only values the option takes; completion offers them and the help lists them.
  std::vector<std::string> choices{};
  std::string placeholder{};  // the value's name in help and usage, when not the derived one
  // The value an option not given reads as (filled in by the parser); the help names it.
  std::string defaultValue{};
  bool assignment = false;  // the value must read NAME=VALUE with a NAME that is not empty
};

// Runs while the command line is parsed, before anything is sent; may change the values and may
// raise CommandError (reported with status 1 and no usage text).
using Validator = void (*)(ParsedArguments&);

// Builds a leaf command from the parsed values and runs it; answers the exit status.
using Runner = int (*)(const ParsedArguments&);

struct CommandSpec {
  std::string typeName;  // "IPAddress": the command name derives from it ("ip-address")
  std::string
      explicitName;  // given instead of deriving ("qorctl", "pull", "connect"); may be empty
  std::string abstract;
  std::string discussion;
  std::vector<ArgSpec> members;  // option groups already expanded at the member's position
  std::vector<CommandSpec> subcommands;
  Validator validate = nullptr;
  // Every leaf command (no subcommands) names the factory that builds it; the root and the
  // groups only show their help.
  Runner run = nullptr;

  std::string commandName() const;
};

// "IPAddress" -> "ip-address", "USB" -> "usb", "saveState" -> "save-state".
std::string deriveName(const std::string& camelCase);

}  // namespace qor::cli
