// The declarations of every command: names, abstracts, discussions, members and help texts. The
// parser, the help screens, the usage lines and the completion scripts are all derived from this
// one table, so a text changed here changes everywhere.

#include <cctype>
#include <string>
#include <vector>

#include "cli/command_types.h"
#include "cli/errors.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "entry/command_tree.h"

namespace qor::entry {
namespace {

using namespace cli;

// Builds the leaf command with its factory and runs it, reporting on standard error.
template <commands::CommandPtr (*make)(const ParsedArguments&)>
int buildAndRun(const ParsedArguments& arguments) {
  return make(arguments)->run([](std::string_view line) { standardErrorStream().write(line); });
}

ArgSpec flag(std::string property, std::string help, char shortName = 0) {
  return {ArgKind::flag, std::move(property), shortName, std::move(help)};
}

ArgSpec positional(std::string property, std::string help) {
  return {ArgKind::positional, std::move(property), 0, std::move(help), true};
}

// The option group `scripting::Environment`, expanded where a command holds its `environment`.
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

CommandSpec leaf(std::string typeName, Runner run, std::string abstract,
                 std::vector<ArgSpec> memberList, std::string explicitName = "") {
  CommandSpec declared;
  declared.typeName = std::move(typeName);
  declared.run = run;
  declared.explicitName = std::move(explicitName);
  declared.abstract = std::move(abstract);
  declared.members = std::move(memberList);
  return declared;
}

// The option of the commands whose output a program may read.
ArgSpec format() {
  ArgSpec member{ArgKind::option, "format", 0,
                 "Print the table for people, or one JSON document for programs."};
  member.choices = {"text", "json"};
  member.defaultValue = "text";
  return member;
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
      leaf("Stop", buildAndRun<commands::makeStop>, "Shuts down a running virtual machine.",
           members({flag("force", "Force stop by sending a power off event (default)"),
                    flag("kill", "Force kill the VM process"),
                    flag("request", "Request power down from guest operating system")}));
  declared.validate = validateStopStyle;
  return declared;
}

CommandSpec list() {
  CommandSpec declared =
      leaf("List", buildAndRun<commands::makeList>, "Enumerate all registered virtual machines.",
           members({format()}, false));
  declared.discussion =
      "With --format json: an array, in the table's order, of objects {\"id\": UUID, \"name\": "
      "name, \"status\": status word}; [] when there are no machines.";
  return declared;
}

CommandSpec status() {
  CommandSpec declared = leaf("Status", buildAndRun<commands::makeStatus>,
                              "Query the status of a virtual machine.", members({format()}));
  declared.discussion =
      "The status is one of stopped, starting, started, pausing, paused, resuming, stopping or "
      "unknown. With --format json: the object {\"id\": UUID, \"name\": name, \"status\": "
      "status word} of that machine.";
  return declared;
}

CommandSpec wait() {
  ArgSpec condition{ArgKind::option, "for", 0, "What to wait for."};
  condition.choices = commands::waitConditionNames();
  condition.defaultValue = condition.choices.front();
  condition.placeholder = "condition";
  ArgSpec timeout{ArgKind::option, "timeout", 0, "Seconds to wait at most; 0 waits without limit."};
  timeout.integer = true;
  timeout.minimum = 0;
  timeout.defaultValue = "300";
  timeout.placeholder = "seconds";
  CommandSpec declared = leaf("Wait", buildAndRun<commands::makeWait>,
                              "Wait until a virtual machine is ready, or in a given state.",
                              members({condition, timeout}));
  declared.discussion =
      "agent: the guest agent answers, so exec, file and ip-address work. ip: the guest also "
      "reports an address ip-address would print. started, stopped, paused: the machine is in "
      "that state, whoever brings it there. Ends with 0 as soon as the condition holds, 124 when "
      "the timeout passes first, and 1 at once when the machine is stopped or paused while "
      "waiting for agent or ip.";
  return declared;
}

CommandSpec attach() {
  ArgSpec index{ArgKind::option, "index", 0, "Index of the serial device to attach to."};
  index.integer = true;
  return leaf("Attach", buildAndRun<commands::makeAttach>,
              "Redirect the serial input/output to this terminal.", members({index}));
}

CommandSpec file() {
  return group(
      "File", "Guest agent file operations.",
      {leaf("FilePull", buildAndRun<commands::makeFilePull>,
            "Fetches a file from the guest and output it to stdout.",
            members({positional("path", "Path of the file to pull on the guest.")}), "pull"),
       leaf("FilePush", buildAndRun<commands::makeFilePush>,
            "Uploads the contents of stdin to the guest.",
            members({positional("path", "Destination path on the guest.")}), "push")});
}

// A variable without a name, or without "=", would be missing in the guest: refused instead.
ArgSpec envOption() {
  ArgSpec member{ArgKind::repeatedOption, "env", 0,
                 "Set a single environment variable in the format NAME=VALUE"};
  member.assignment = true;
  return member;
}

CommandSpec exec() {
  CommandSpec declared = leaf(
      "Exec", buildAndRun<commands::makeExec>, "Execute an application on the guest.",
      members(
          {flag("input", "Read in standard input and forward it to the guest."),
           envOption(),
           {ArgKind::remainingOption, "cmd", 0, "Command line to execute on the guest.", true}}));
  declared.discussion = "The return value of the command will be returned from this tool.";
  return declared;
}

CommandSpec ipAddress() {
  CommandSpec declared =
      leaf("IPAddress", buildAndRun<commands::makeIPAddress>,
           "List all IP addresses associated with network interfaces on the guest.",
           members({format()}));
  declared.discussion =
      "IPv4 addresses (if available) will be listed before any IPv6 address. With --format json: "
      "an array of strings, in that order.";
  return declared;
}

CommandSpec usbList() {
  CommandSpec declared = leaf("USBList", buildAndRun<commands::makeUSBList>,
                              "List connected devices.", members({format()}, false), "list");
  declared.discussion =
      "With a host that serves several libvirt connections, the table has a Connection column: "
      "the URI of the connection each device is plugged into. With --format json: an array of "
      "objects {\"name\": name, \"vendorId\": \"05AC\", \"productId\": \"024F\", "
      "\"location\": 4, \"connection\": null}, the ids as the four hexadecimal digits of the "
      "table, the location the number usb connect and usb disconnect take, the connection that "
      "URI or null when the host has one; [] when there are no devices.";
  return declared;
}

CommandSpec usb() {
  ArgSpec device = positional(
      "device",
      "Device identifier either as a VID:PID pair (e.g. DEAD:BEEF) or a location (e.g. 4).");
  device.suggestions = Suggestions::usbDevices;
  return group("USB", "USB device handling.",
               {usbList(),
                leaf("USBConnect", buildAndRun<commands::makeUSBConnect>,
                     "Connect a USB device to a virtual machine.", members({device}), "connect"),
                leaf("USBDisconnect", buildAndRun<commands::makeUSBDisconnect>,
                     "Disconnect a USB device from a virtual machine.", members({device}, false),
                     "disconnect")});
}

CommandSpec buildRoot() {
  CommandSpec root = group(
      "QorCtl", "CLI tool for controlling Qor virtual machines.",
      {list(), status(),
       leaf("Start", buildAndRun<commands::makeStart>,
            "Start a virtual machine or resume a suspended virtual machine.",
            members({flag("attach", "Attach to the first serial port after start.", 'a'),
                     flag("disposable", "Run VM as a snapshot and do not save changes to disk."),
                     flag("recovery", "Boot a VM in recovery mode.")})),
       leaf("Suspend", buildAndRun<commands::makeSuspend>,
            "Suspend running a virtual machine to memory.",
            members({flag("saveState", "Save the VM state to disk after suspending.", 's')})),
       stop(), wait(), attach(), file(), exec(), ipAddress(),
       leaf("Clone", buildAndRun<commands::makeClone>, "Clone an existing virtual machine.",
            members({{ArgKind::option, "name", 0, ""}})),
       leaf("Delete", buildAndRun<commands::makeDelete>,
            "Delete a virtual machine (there is no confirmation).", members({})),
       usb()});
  root.explicitName = "qorctl";
  return root;
}

}  // namespace

const cli::CommandSpec& rootCommand() {
  static const CommandSpec root = buildRoot();
  return root;
}

}  // namespace qor::entry
