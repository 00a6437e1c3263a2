// The declarations of every command: names, abstracts, discussions, members and help texts. The
// parser, the help screens, the usage lines and the completion scripts are all derived from this
// one table, so a text changed here changes everywhere.

#include <cctype>
#include <string>
#include <vector>

#include "cli/command_table.h"
#include "cli/errors.h"

namespace qor::cli {
namespace {

ArgSpec flag(std::string property, std::string help, char shortName = 0) {
  return {ArgKind::flag, std::move(property), shortName, std::move(help)};
}

ArgSpec positional(std::string property, std::string help) {
  return {ArgKind::positional, std::move(property), 0, std::move(help), true};
}

// The option group `EnvironmentOptions`, expanded where a command holds its `environment`.
std::vector<ArgSpec> environment() {
  return {flag("debug", "Show debug logging.", 'd'), flag("hide", "Hide the main Qor window.")};
}

// The option group `VMIdentifier`, expanded where a command holds its `identifer`.
ArgSpec identifier() {
  ArgSpec member =
      positional("identifier", "Either the UUID or the complete name of the virtual machine.");
  member.suggestions = Suggestions::machines;
  return member;
}

std::vector<ArgSpec> members(std::vector<ArgSpec> own, bool withIdentifier = true) {
  std::vector<ArgSpec> all = environment();
  if (withIdentifier) all.push_back(identifier());
  for (auto& member : own) all.push_back(std::move(member));
  return all;
}

CommandSpec leaf(std::string typeName, std::string abstract, std::vector<ArgSpec> memberList,
                 std::string explicitName = "") {
  CommandSpec declared;
  declared.typeName = std::move(typeName);
  declared.explicitName = std::move(explicitName);
  declared.abstract = std::move(abstract);
  declared.members = std::move(memberList);
  return declared;
}

CommandSpec group(std::string typeName, std::string abstract, std::vector<CommandSpec> subs) {
  CommandSpec declared;
  declared.typeName = std::move(typeName);
  declared.abstract = std::move(abstract);
  declared.subcommands = std::move(subs);
  return declared;
}

// The three ways to stop are exclusive; with none given, --force is the default its help names.
void validateStopStyle(ParsedArguments& arguments) {
  int given = 0;
  for (const char* style : {"force", "kill", "request"}) {
    if (arguments.flag(style)) ++given;
  }
  if (given > 1) throw CommandError("You can only specify one of: --force, --kill, or --request");
  if (given == 0) arguments.setFlag("force", true);
}

CommandSpec stop() {
  CommandSpec declared =
      leaf("Stop", "Shuts down a running virtual machine.",
           members({flag("force", "Force stop by sending a power off event (default)"),
                    flag("kill", "Force kill the VM process"),
                    flag("request", "Request power down from guest operating system")}));
  declared.validate = validateStopStyle;
  return declared;
}

CommandSpec attach() {
  ArgSpec index{ArgKind::option, "index", 0, "Index of the serial device to attach to."};
  index.integer = true;
  return leaf("Attach", "Redirect the serial input/output to this terminal.", members({index}));
}

CommandSpec file() {
  return group(
      "File", "Guest agent file operations.",
      {leaf("FilePull", "Fetches a file from the guest and output it to stdout.",
            members({positional("path", "Path of the file to pull on the guest.")}), "pull"),
       leaf("FilePush", "Uploads the contents of stdin to the guest.",
            members({positional("path", "Destination path on the guest.")}), "push")});
}

CommandSpec exec() {
  CommandSpec declared = leaf(
      "Exec", "Execute an application on the guest.",
      members(
          {flag("input", "Read in standard input and forward it to the guest."),
           {ArgKind::repeatedOption, "env", 0,
            "Set a single environment variable in the format NAME=VALUE"},
           {ArgKind::remainingOption, "cmd", 0, "Command line to execute on the guest.", true}}));
  declared.discussion = "The return value of the command will be returned from this tool.";
  return declared;
}

CommandSpec ipAddress() {
  CommandSpec declared =
      leaf("IPAddress", "List all IP addresses associated with network interfaces on the guest.",
           members({}));
  declared.discussion = "IPv4 addresses (if available) will be listed before any IPv6 address.";
  return declared;
}

CommandSpec usb() {
  ArgSpec device = positional(
      "device",
      "Device identifier either as a VID:PID pair (e.g. DEAD:BEEF) or a location (e.g. 4).");
  device.suggestions = Suggestions::usbDevices;
  return group("USB", "USB device handling.",
               {leaf("USBList", "List connected devices.", members({}, false), "list"),
                leaf("USBConnect", "Connect a USB device to a virtual machine.", members({device}),
                     "connect"),
                leaf("USBDisconnect", "Disconnect a USB device from a virtual machine.",
                     members({device}, false), "disconnect")});
}

CommandSpec buildRoot() {
  CommandSpec root = group(
      "QorCtl", "CLI tool for controlling Qor virtual machines.",
      {leaf("List", "Enumerate all registered virtual machines.", members({}, false)),
       leaf("Status", "Query the status of a virtual machine.", members({})),
       leaf("Start", "Start a virtual machine or resume a suspended virtual machine.",
            members({flag("attach", "Attach to the first serial port after start.", 'a'),
                     flag("disposable", "Run VM as a snapshot and do not save changes to disk."),
                     flag("recovery", "Boot a VM in recovery mode.")})),
       leaf("Suspend", "Suspend running a virtual machine to memory.",
            members({flag("saveState", "Save the VM state to disk after suspending.", 's')})),
       stop(), attach(), file(), exec(), ipAddress(),
       leaf("Clone", "Clone an existing virtual machine.",
            members({{ArgKind::option, "name", 0, ""}})),
       leaf("Delete", "Delete a virtual machine (there is no confirmation).", members({})), usb()});
  root.explicitName = "qorctl";
  return root;
}

bool isUpper(char c) {
  return std::isupper(static_cast<unsigned char>(c)) != 0;
}
bool isLower(char c) {
  return std::islower(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

const CommandSpec& rootCommand() {
  static const CommandSpec root = buildRoot();
  return root;
}

std::string deriveName(const std::string& camelCase) {
  std::string name;
  for (std::size_t i = 0; i < camelCase.size(); ++i) {
    char c = camelCase[i];
    if (isUpper(c) && i > 0) {
      // A new word starts after a lower-case letter, or at the last capital of a run of capitals
      // that a lower-case letter follows ("IPAddress": the A of Address).
      bool afterLower = !isUpper(camelCase[i - 1]);
      bool endsRun = i + 1 < camelCase.size() && isLower(camelCase[i + 1]);
      if (afterLower || endsRun) name += '-';
    }
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

std::string CommandSpec::commandName() const {
  return explicitName.empty() ? deriveName(typeName) : explicitName;
}

}  // namespace qor::cli
