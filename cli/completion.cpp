#include "cli/completion.h"

namespace qor::cli {

std::optional<Shell> shellNamed(std::string_view name) {
  if (name == "bash") return Shell::bash;
  if (name == "zsh") return Shell::zsh;
  if (name == "fish") return Shell::fish;
  return std::nullopt;
}

std::string completionScript(const CommandSpec& root, Shell shell) {
  switch (shell) {
    case Shell::bash:
      return completion::bashScript(root);
    case Shell::zsh:
      return completion::zshScript(root);
    case Shell::fish:
      return completion::fishScript(root);
  }
  return "";
}

std::string_view suggestionsName(Suggestions suggestions) {
  switch (suggestions) {
    case Suggestions::none:
      return "";
    case Suggestions::machines:
      return "identifier";
    case Suggestions::usbDevices:
      return "usb-device";
  }
  return "";
}

std::optional<Suggestions> suggestionsNamed(std::string_view name) {
  for (Suggestions kind : {Suggestions::machines, Suggestions::usbDevices}) {
    if (name == suggestionsName(kind)) return kind;
  }
  return std::nullopt;
}

namespace completion {
namespace {

void visitFrom(CommandPath& path, const std::function<void(const CommandPath&)>& visit) {
  visit(path);
  for (const CommandSpec& sub : path.back()->subcommands) {
    path.push_back(&sub);
    visitFrom(path, visit);
    path.pop_back();
  }
}

}  // namespace

void forEachCommand(const CommandSpec& root, const std::function<void(const CommandPath&)>& visit) {
  CommandPath path{&root};
  visitFrom(path, visit);
}

std::string functionName(const CommandPath& path) {
  std::string name = "_" + path.front()->commandName();
  for (std::size_t i = 1; i < path.size(); ++i) name += "_" + path[i]->commandName();
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
}

std::vector<std::string> optionWords(const CommandSpec& command) {
  std::vector<std::string> words;
  for (const ArgSpec& member : command.members) {
    if (member.kind == ArgKind::positional) continue;
    if (member.shortName != 0) words.push_back(std::string("-") + member.shortName);
    words.push_back(longName(member));
  }
  words.push_back("-h");
  words.push_back("--help");
  return words;
}

std::vector<std::string> valueOptionWords(const CommandSpec& command) {
  std::vector<std::string> words;
  for (const ArgSpec& member : command.members) {
    if (member.kind == ArgKind::option || member.kind == ArgKind::repeatedOption) {
      words.push_back(longName(member));
    }
  }
  return words;
}

std::vector<Suggestions> positionalSuggestions(const CommandSpec& command) {
  std::vector<Suggestions> kinds;
  for (const ArgSpec& member : command.members) {
    if (member.kind == ArgKind::positional) kinds.push_back(member.suggestions);
  }
  return kinds;
}

bool suggestsValues(const CommandSpec& command) {
  for (Suggestions kind : positionalSuggestions(command)) {
    if (kind != Suggestions::none) return true;
  }
  return false;
}

}  // namespace completion
}  // namespace qor::cli
