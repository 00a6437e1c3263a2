#include "cli/help.h"

#include <vector>

#include "cli/text_wrap.h"
#include "support/utf8.h"

namespace qor::cli {
namespace {

constexpr std::size_t kPadding = 2;
constexpr std::size_t kLabelColumn = 26;

struct Entry {
  std::string label;
  std::string abstract;
};

std::string renderEntry(const Entry& entry, std::size_t width) {
  std::string padded = std::string(kPadding, ' ') + entry.label;
  if (entry.abstract.empty()) return padded + "\n";
  std::string wrapped = wrapText(entry.abstract, width, kLabelColumn);
  std::size_t labelWidth = support::utf8Length(padded);
  // The wrapped text starts with the indent of column 26; a short label is put over it.
  if (labelWidth < kLabelColumn &&
      wrapped.compare(0, labelWidth, std::string(labelWidth, ' ')) == 0) {
    return padded + wrapped.substr(labelWidth) + "\n";
  }
  return padded + "\n" + wrapped + "\n";
}

std::string renderSection(const char* header, const std::vector<Entry>& entries,
                          std::size_t width) {
  if (entries.empty()) return "";
  std::string section = std::string(header) + ":\n";
  for (const Entry& entry : entries) section += renderEntry(entry, width);
  return section;
}

std::string helpLabel(const ArgSpec& member) {
  switch (member.kind) {
    case ArgKind::positional:
      return "<" + valueName(member) + ">";
    case ArgKind::flag:
      return member.shortName != 0 ? std::string("-") + member.shortName + ", " + longName(member)
                                   : longName(member);
    default:
      return longName(member) + " <" + valueName(member) + ">";
  }
}

}  // namespace

std::string helpText(const CommandPath& path, std::size_t width) {
  const CommandSpec& command = *path.back();

  std::string overview = command.abstract;
  if (!command.discussion.empty()) {
    overview += (overview.empty() ? "\n" : "\n\n") + command.discussion;
  }
  std::string text;
  if (!overview.empty()) text += wrapText("OVERVIEW: " + overview, width) + "\n\n";
  text += "USAGE: " + usageLine(path) + "\n\n";

  std::vector<Entry> arguments, options, subcommands;
  for (const ArgSpec& member : command.members) {
    (member.kind == ArgKind::positional ? arguments : options)
        .push_back({helpLabel(member), memberHelp(member)});
  }
  options.push_back({"-h, --help", kHelpAbstract});
  for (const CommandSpec& sub : command.subcommands) {
    subcommands.push_back({sub.commandName(), sub.abstract});
  }

  std::string sections;
  for (const std::string& section :
       {renderSection("ARGUMENTS", arguments, width), renderSection("OPTIONS", options, width),
        renderSection("SUBCOMMANDS", subcommands, width)}) {
    if (section.empty()) continue;
    if (!sections.empty()) sections += "\n";
    sections += section;
  }
  text += sections;

  if (!command.subcommands.empty()) {
    // The path with `help` after the root: "qorctl help usb <subcommand>".
    std::string helpPath = path.front()->commandName() + " help";
    for (std::size_t i = 1; i < path.size(); ++i) helpPath += " " + path[i]->commandName();
    text += "\n  See '" + helpPath + " <subcommand>' for detailed help.";
  }
  return text + "\n";
}

}  // namespace qor::cli
