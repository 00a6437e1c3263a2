#pragma once

#include <string>
#include <vector>

#include "cli/command_types.h"

namespace qor::cli {

// The commands named on a command line, from the root down to the selected one.
using CommandPath = std::vector<const CommandSpec*>;

// "qorctl file pull"
std::string commandPathText(const CommandPath& path);

// How a member is written: "--save-state", the placeholder "save-state", and its synopsis
// ("--debug", "--name <name>", "--env <env> ...", "--cmd <cmd> ...", "<identifier>").
std::string longName(const ArgSpec& member);
std::string valueName(const ArgSpec& member);
std::string synopsis(const ArgSpec& member);
bool takesValue(const ArgSpec& member);
// The member's help with what the table declares of its values: "Output format. One of: text
// (default), json." or "… Default: 300."
std::string memberHelp(const ArgSpec& member);

// "qorctl exec [--debug] [--hide] <identifier> [--input] [--env <env> ...] --cmd <cmd> ...";
// a command with subcommands ends in " <subcommand>".
std::string usageLine(const CommandPath& path);

}  // namespace qor::cli
