#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "cli/help.h"
#include "entry/command_tree.h"
#include "parse_support.h"

namespace qor::cli {

using entry::rootCommand;
namespace {

using testing::seen;

const char* const kRootHelp =
    "OVERVIEW: CLI tool for controlling Qor virtual machines.\n"
    "\n"
    "USAGE: qorctl <subcommand>\n"
    "\n"
    "OPTIONS:\n"
    "  -h, --help              Show help information.\n"
    "\n"
    "SUBCOMMANDS:\n"
    "  list                    Enumerate all registered virtual machines.\n"
    "  status                  Query the status of a virtual machine.\n"
    "  start                   Start a virtual machine or resume a suspended virtual\n"
    "                          machine.\n"
    "  suspend                 Suspend running a virtual machine to memory.\n"
    "  stop                    Shuts down a running virtual machine.\n"
    "  wait                    Wait until a virtual machine is ready, or in a given\n"
    "                          state.\n"
    "  attach                  Redirect the serial input/output to this terminal.\n"
    "  file                    Guest agent file operations.\n"
    "  exec                    Execute an application on the guest.\n"
    "  ip-address              List all IP addresses associated with network\n"
    "                          interfaces on the guest.\n"
    "  clone                   Clone an existing virtual machine.\n"
    "  delete                  Delete a virtual machine (there is no confirmation).\n"
    "  usb                     USB device handling.\n"
    "\n"
    "  See 'qorctl help <subcommand>' for detailed help.\n";

TEST(Help, RootHelpListsTheThirteenSubcommandsInOrderForEveryWayOfAsking) {
  for (const auto& words : std::vector<std::vector<std::string>>{
           {}, {"--help"}, {"-h"}, {"help"}, {"help", "no-such-command"}, {"--"}}) {
    testing::Seen result = seen(words);
    EXPECT_EQ(result.out, kRootHelp) << ::testing::PrintToString(words);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
}

TEST(Help, LeafHelpShowsDiscussionArgumentsOptionsAndHelpLast) {
  EXPECT_EQ(
      seen({"exec", "--help"}).out,
      "OVERVIEW: Execute an application on the guest.\n"
      "\n"
      "The return value of the command will be returned from this tool.\n"
      "\n"
      "USAGE: qorctl exec [--debug] [--hide] <identifier> [--input] [--env <env> ...] --cmd <cmd> "
      "...\n"
      "\n"
      "ARGUMENTS:\n"
      "  <identifier>            Either the UUID or the complete name of the virtual\n"
      "                          machine.\n"
      "\n"
      "OPTIONS:\n"
      "  -d, --debug             Show debug logging.\n"
      "  --hide                  Hide the main Qor window.\n"
      "  --input                 Read in standard input and forward it to the guest.\n"
      "  --env <env>             Set a single environment variable in the format\n"
      "                          NAME=VALUE\n"
      "  --cmd <cmd>             Command line to execute on the guest.\n"
      "  -h, --help              Show help information.\n"
      "\n");
}

TEST(Help, GroupsShowTheirOwnHelpWithTheHelpPathOfTheirSubcommands) {
  const std::string usbHelp =
      "OVERVIEW: USB device handling.\n"
      "\n"
      "USAGE: qorctl usb <subcommand>\n"
      "\n"
      "OPTIONS:\n"
      "  -h, --help              Show help information.\n"
      "\n"
      "SUBCOMMANDS:\n"
      "  list                    List connected devices.\n"
      "  connect                 Connect a USB device to a virtual machine.\n"
      "  disconnect              Disconnect a USB device from a virtual machine.\n"
      "\n"
      "  See 'qorctl help usb <subcommand>' for detailed help.\n";
  EXPECT_EQ(seen({"usb"}).out, usbHelp);
  EXPECT_EQ(seen({"help", "usb"}).out, usbHelp);
  EXPECT_EQ(seen({"usb", "-h"}).out, usbHelp);
  EXPECT_NE(seen({"file"}).out.find("  pull                    Fetches a file from the guest and "
                                    "output it to stdout.\n  push "),
            std::string::npos);
}

// The help texts quoted exactly, a few commands at a time.
TEST(Help, CommandsShowTheirExactTexts) {
  struct Case {
    std::vector<std::string> words;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"ip-address", "--help"},
       "OVERVIEW: List all IP addresses associated with network interfaces on the\nguest.\n\nIPv4 "
       "addresses (if available) will be listed before any IPv6 address. With\n--format json: an "
       "array of strings, in that order.\n\nUSAGE: qorctl ip-address [--debug] [--hide] "
       "<identifier> [--format <format>]\n"},
      {{"wait", "--help"},
       "USAGE: qorctl wait [--debug] [--hide] <identifier> [--for <condition>] [--timeout "
       "<seconds>]\n"},
      {{"help", "wait"},
       "  --for <condition>       What to wait for. One of: agent (default), ip,\n"
       "                          started, stopped, paused.\n"
       "  --timeout <seconds>     Seconds to wait at most; 0 waits without limit.\n"
       "                          Default: 300.\n"},
      {{"usb", "list", "-h"},
       "  --format <format>       Print the table for people, or one JSON document for\n"
       "                          programs. One of: text (default), json.\n"},
      {{"help", "stop"},
       "  --force                 Force stop by sending a power off event (default)\n"
       "  --kill                  Force kill the VM process\n"
       "  --request               Request power down from guest operating system\n"},
      {{"suspend", "-h"},
       "  -s, --save-state        Save the VM state to disk after suspending.\n"},
      {{"start", "vm", "--help"},
       "USAGE: qorctl start [--debug] [--hide] <identifier> [--attach] [--disposable] "
       "[--recovery]\n"},
      {{"attach", "-h"}, "  --index <index>         Index of the serial device to attach to.\n"},
      {{"clone", "-h"}, "  --name <name>\n  -h, --help"},
      {{"help", "file", "pull"},
       "  <path>                  Path of the file to pull on the guest.\n"},
      {{"file", "push", "-h"}, "  <path>                  Destination path on the guest.\n"},
      {{"usb", "disconnect", "--help"},
       "USAGE: qorctl usb disconnect [--debug] [--hide] <device>\n\nARGUMENTS:\n  <device>      "
       "          Device identifier either as a VID:PID pair (e.g.\n                          "
       "DEAD:BEEF) or a location (e.g. 4).\n"},
      {{"delete", "--help"}, "OVERVIEW: Delete a virtual machine (there is no confirmation).\n"},
  };
  for (const Case& c : cases) {
    EXPECT_NE(seen(c.words).out.find(c.expected), std::string::npos)
        << ::testing::PrintToString(c.words) << "\n"
        << seen(c.words).out;
  }
}

TEST(Help, WrapsToTheWidthWithoutLosingWords) {
  const CommandPath path{&rootCommand(), &rootCommand().subcommands[9]};
  ASSERT_EQ(path.back()->typeName, "IPAddress");
  for (std::size_t width : {120u, 60u, 30u, 20u, 5u, 1u}) {
    const std::string text = helpText(path, width);
    std::istringstream words(path.back()->discussion + " " + path.back()->abstract);
    for (std::string word; words >> word;) {
      EXPECT_NE(text.find(word), std::string::npos) << "width " << width << ": " << word;
    }
  }
  EXPECT_NE(helpText(path, 40).find("OVERVIEW: List all IP addresses\nassociated with network"),
            std::string::npos);
  EXPECT_NE(helpText(path, 40).find("  <identifier>            Either the\n"
                                    "                          UUID or the\n"),
            std::string::npos);
}

TEST(Help, AnyTerminalWidthKeepsEachParagraphOnOneLine) {
  const CommandPath path{&rootCommand(), &rootCommand().subcommands[9]};
  const std::string unwrapped = helpText(path, 100000);
  for (std::size_t width : {std::numeric_limits<std::size_t>::max(),
                            std::numeric_limits<std::size_t>::max() - 1, std::size_t{1} << 63}) {
    EXPECT_EQ(helpText(path, width), unwrapped) << "width " << width;
  }
}

}  // namespace
}  // namespace qor::cli
