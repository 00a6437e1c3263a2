// The manual page. Its reference parts (usage lines, abstracts, discussions, arguments, options and
// their help texts) are walked out of the command table; only the prose around them lives here.

#include "cli/manpage.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "cli/completion.h"
#include "cli/help.h"
#include "cli/parser.h"
#include "cli/usage.h"

namespace qor::cli {
namespace {

using roff::text;

std::string bold(std::string_view plain) {
  return "\\fB" + text(plain) + "\\fR";
}

std::string italic(std::string_view plain) {
  return "\\fI" + text(plain) + "\\fR";
}

// The page as it is written; `add` takes roff that is already escaped or marked up.
class Page {
 public:
  void add(const std::string& roffLine) { page_ += roffLine + "\n"; }
  void section(std::string_view title) { add(".SH " + roff::argument(title)); }
  void paragraph(const std::string& markup) { add(".PP\n" + markup); }
  void item(const std::string& label, const std::string& body) {
    add(".TP\n" + label);
    if (!body.empty()) add(body);
  }
  // A usage line with a hanging indent, so a long one wraps under its first argument.
  void usage(const std::string& line) {
    const std::size_t blank = line.find(' ');
    add(".SY " + roff::argument(line.substr(0, blank)));
    if (blank != std::string::npos) add(roff::usageMarkup(line.substr(blank + 1)));
    add(".YS");
  }
  std::string take() { return std::move(page_); }

 private:
  std::string page_;
};

bool sameMember(const ArgSpec& a, const ArgSpec& b) {
  return a.kind == b.kind && a.property == b.property && a.shortName == b.shortName &&
         a.help == b.help;
}

bool holds(const CommandSpec& command, const ArgSpec& member) {
  return std::any_of(command.members.begin(), command.members.end(),
                     [&](const ArgSpec& own) { return sameMember(own, member); });
}

std::vector<const CommandSpec*> leafCommands(const CommandSpec& root) {
  std::vector<const CommandSpec*> leaves;
  completion::forEachCommand(root, [&](const CommandPath& path) {
    if (path.back()->subcommands.empty()) leaves.push_back(path.back());
  });
  return leaves;
}

// The options every leaf command holds (the shared option groups): described once, not fifteen
// times. Positionals stay with their commands, where their meaning is.
std::vector<ArgSpec> commonOptions(const CommandSpec& root) {
  const std::vector<const CommandSpec*> leaves = leafCommands(root);
  std::vector<ArgSpec> common;
  if (leaves.empty()) return common;
  for (const ArgSpec& member : leaves.front()->members) {
    if (member.kind == ArgKind::positional) continue;
    if (std::all_of(leaves.begin(), leaves.end(),
                    [&](const CommandSpec* leaf) { return holds(*leaf, member); })) {
      common.push_back(member);
    }
  }
  return common;
}

std::string memberLabel(const ArgSpec& member) {
  std::string label = roff::usageMarkup(synopsis(member));
  if (member.shortName != 0) label = bold(std::string("-") + member.shortName) + ", " + label;
  return label;
}

void describeMember(Page& page, const ArgSpec& member) {
  page.item(memberLabel(member), text(memberHelp(member)));
}

void nameAndSynopsis(Page& page, const CommandSpec& root) {
  const std::string tool = root.commandName();
  page.section("NAME");
  page.add(text(tool + " - " + root.abstract));

  page.section("SYNOPSIS");
  completion::forEachCommand(root, [&](const CommandPath& path) {
    if (path.back()->subcommands.empty()) page.usage(usageLine(path));
  });
  page.usage(tool + " help [<subcommand> ...]");
  page.usage(tool + " --generate-completion-script <shell>");
}

void description(Page& page, const CommandSpec& root) {
  const std::string tool = root.commandName();
  page.section("DESCRIPTION");
  page.add(text(root.abstract));
  page.paragraph(bold(tool) + text(" controls the virtual machines of Qor, a desktop "
                                   "virtual-machine manager. It never runs a "
                                   "machine itself: every command is a few scripting requests to "
                                   "the Qor host application over "
                                   "D-Bus, on the session bus. When the host is not running, " +
                                   tool + " launches it hidden."));
  page.paragraph(text("A virtual machine is named by its ") + italic("<identifier>") +
                 text(": its UUID or its complete name, compared exactly (case-sensitive, no "
                      "trimming)."));
  page.paragraph(
      text("Results go to standard output and diagnostics to standard error. A request that fails "
           "inside the host is reported there as \"Error from event: \" followed by the host's "
           "description."));
  page.paragraph(bold(tool + " help") + text(" followed by a command, or ") + bold("--help") +
                 text(" anywhere, shows the help of that command."));
}

void options(Page& page, const CommandSpec& root) {
  const std::string tool = root.commandName();
  page.section("OPTIONS");
  const std::vector<ArgSpec> common = commonOptions(root);
  if (!common.empty()) {
    page.paragraph(text("Every command that talks to the host accepts:"));
    for (const ArgSpec& member : common) describeMember(page, member);
  }
  page.paragraph(text("Every command, " + tool + " itself and the command groups included:"));
  describeMember(page, {ArgKind::flag, "help", 'h', kHelpAbstract});
  page.paragraph(text(tool + " alone, followed by nothing else:"));
  page.item(roff::usageMarkup("--generate-completion-script <shell>"),
            text("Print the completion script for ") + italic("<shell>") + text(": ") +
                bold("bash") + ", " + bold("zsh") + text(" or ") + bold("fish") + ".");
}

void commandsSection(Page& page, const CommandSpec& root) {
  const std::vector<ArgSpec> common = commonOptions(root);
  page.section("COMMANDS");
  completion::forEachCommand(root, [&](const CommandPath& path) {
    if (path.size() < 2) return;
    const CommandSpec& command = *path.back();
    page.add(".SS " + roff::argument(commandPathText(path)));
    page.usage(usageLine(path));
    if (!command.abstract.empty()) page.paragraph(text(command.abstract));
    if (!command.discussion.empty()) page.paragraph(text(command.discussion));
    if (!command.subcommands.empty()) {
      std::string names;
      for (const CommandSpec& sub : command.subcommands) {
        names += (names.empty() ? "" : ", ") + bold(sub.commandName());
      }
      page.paragraph(text("Subcommands: ") + names + ".");
    }
    for (const ArgSpec& member : command.members) {
      const bool isCommon = std::any_of(common.begin(), common.end(),
                                        [&](const ArgSpec& c) { return sameMember(c, member); });
      if (!isCommon) describeMember(page, member);
    }
  });
}

void outputForPrograms(Page& page) {
  page.section("OUTPUT FOR PROGRAMS");
  page.add(bold("--format json") +
           text(" makes list, status, ip-address and usb list print one JSON document on one "
                "line, followed by a newline; each command describes its document. Text is "
                "UTF-8, with quotes, backslashes and control characters escaped as JSON "
                "requires. No value is ever made up: one the host did not give would be null, "
                "but every field of these documents is one the table shows too, so a missing "
                "value fails the command. The document is complete or absent: on any failure "
                "nothing is written to standard output, and standard error and the exit status "
                "are those of the table. Fields "
                "may be added to the objects later; none is ever renamed or removed, so a "
                "program should ignore fields it does not know."));
}

void exitStatus(Page& page, const CommandSpec& root) {
  page.section("EXIT STATUS");
  page.item(bold("0"), text("The command did its work, or help or a completion script was shown."));
  page.item(bold(std::to_string(kValidationErrorStatus)),
            text("An error: \"Error: \" and a message on standard error (a machine or device not "
                 "found, an invalid device identifier, conflicting stop options, a failed standard "
                 "stream), or a request the command depends on failed in the host, whose report is "
                 "on standard error."));
  page.item(bold(std::to_string(kUsageErrorStatus)),
            text("The command line is wrong: \"Error: \", the usage line and a pointer to --help "
                 "on standard error."));
  page.item(bold("124"), text("wait: the timeout passed before the condition held; \"Error: \" "
                              "and what was waited for on standard error."));
  page.item(bold("130"), text("wait: ended by Ctrl-C (SIGINT)."));
  page.paragraph(
      bold(root.commandName() + " exec") +
      text(" ends with the exit code of the program it ran in the guest. Codes 1 to 255 pass "
           "unchanged; any other non-zero code (negative, 256 or more) becomes 255, so a failed "
           "guest "
           "program never reads as success."));
}

void environmentAndFiles(Page& page, const CommandSpec& root) {
  const std::string tool = root.commandName();
  page.section("ENVIRONMENT");
  page.add(text(tool + " reads no environment variable of its own. The D-Bus library finds the "
                       "session bus through:"));
  page.item(bold("DBUS_SESSION_BUS_ADDRESS"), text("the address of the session bus;"));
  page.item(bold("XDG_RUNTIME_DIR"), text("when that is unset, the session bus is the socket ") +
                                         italic("bus") + text(" in this folder."));
  page.paragraph(
      text("Without a session bus (an SSH login without a desktop session) every "
           "request fails with \"NOTE: " +
           tool +
           " does not work from SSH sessions "
           "or before logging in.\". A host that " +
           tool +
           " launches inherits its "
           "environment."));

  page.section("FILES");
  page.item(italic("Qor.app/Contents/MacOS/" + tool),
            text(tool + " uses the application bundle that contains it: the path of the running "
                        "program with symbolic links resolved, three folders up, when that "
                        "folder's name ends in .app. A link to the program, such as the one "
                        "installed in bin, therefore uses the bundle it points into."));
  page.item(italic("/Applications/Qor.app"), text("The bundle used otherwise."));
  page.item(italic("Qor.app/Contents/Info.plist"),
            bold("CFBundleIdentifier") + text(" is the host's bus name; ") +
                bold("CFBundleExecutable") +
                text(" names the program in Contents/MacOS that is launched, hidden, when that "
                     "name has no owner on the session bus."));

  page.section("SEE ALSO");
  page.add(bold("busctl") + "(1), " + bold("dbus-daemon") + "(1)");
}

std::string upperCase(std::string name) {
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

std::string manPage(const CommandSpec& root, std::string_view version) {
  const std::string tool = root.commandName();
  Page page;
  page.add(".\\\" Generated from the command table; change the table, not this page.");
  page.add(".TH " + roff::argument(upperCase(tool)) + " 1 \"\" " +
           roff::argument(tool + " " + std::string(version)) + " \"User Commands\"");
  nameAndSynopsis(page, root);
  description(page, root);
  options(page, root);
  commandsSection(page, root);
  outputForPrograms(page);
  exitStatus(page, root);
  environmentAndFiles(page, root);
  return page.take();
}

}  // namespace qor::cli
