#include "cli/usage.h"

namespace qor::cli {

std::string commandPathText(const CommandPath& path) {
  std::string text;
  for (const CommandSpec* command : path) {
    if (!text.empty()) text += ' ';
    text += command->commandName();
  }
  return text;
}

std::string longName(const ArgSpec& member) {
  return "--" + deriveName(member.property);
}

std::string valueName(const ArgSpec& member) {
  return deriveName(member.property);
}

bool takesValue(const ArgSpec& member) {
  return member.kind == ArgKind::option || member.kind == ArgKind::repeatedOption ||
         member.kind == ArgKind::remainingOption;
}

std::string synopsis(const ArgSpec& member) {
  const std::string placeholder = "<" + valueName(member) + ">";
  switch (member.kind) {
    case ArgKind::flag:
      return longName(member);
    case ArgKind::option:
      return longName(member) + " " + placeholder;
    case ArgKind::repeatedOption:
    case ArgKind::remainingOption:
      return longName(member) + " " + placeholder + " ...";
    case ArgKind::positional:
      return placeholder;
  }
  return placeholder;
}

std::string usageLine(const CommandPath& path) {
  std::string line = commandPathText(path);
  for (const ArgSpec& member : path.back()->members) {
    line += member.required ? " " + synopsis(member) : " [" + synopsis(member) + "]";
  }
  if (!path.back()->subcommands.empty()) line += " <subcommand>";
  return line;
}

}  // namespace qor::cli
