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
  return member.placeholder.empty() ? deriveName(member.property) : member.placeholder;
}

bool takesValue(const ArgSpec& member) {
  return member.kind == ArgKind::option || member.kind == ArgKind::repeatedOption ||
         member.kind == ArgKind::remainingOption;
}

std::string memberHelp(const ArgSpec& member) {
  std::string help = member.help;
  const auto sentence = [&](const std::string& text) {
    help += (help.empty() ? "" : " ") + text + ".";
  };
  if (!member.choices.empty()) {
    std::string list;
    for (const std::string& choice : member.choices) {
      if (!list.empty()) list += ", ";
      list += choice == member.defaultValue ? choice + " (default)" : choice;
    }
    sentence("One of: " + list);
  } else if (!member.defaultValue.empty()) {
    sentence("Default: " + member.defaultValue);
  }
  return help;
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
