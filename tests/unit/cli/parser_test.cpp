#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "entry/command_tree.h"
#include "parse_support.h"
#include "support/utf8.h"

namespace qor::cli {

using entry::rootCommand;
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::message;
using testing::parse;
using testing::seen;

RunCommand run(const std::vector<std::string>& words) {
  ParseOutcome outcome = parse(words);
  if (auto* runCommand = std::get_if<RunCommand>(&outcome)) return std::move(*runCommand);
  ADD_FAILURE() << ::testing::PrintToString(words) << " did not parse: " << seen(words).err;
  return {{&rootCommand()}, {}};
}

TEST(Parser, UsageErrorsGoToStandardErrorWithUsageAndPointerToHelp) {
  EXPECT_EQ(seen({"status"}).err,
            "Error: Missing expected argument '<identifier>'\n"
            "Usage: qorctl status [--debug] [--hide] <identifier> [--format <format>]\n"
            "  See 'qorctl status --help' for more information.\n");
  EXPECT_EQ(seen({"usb", "connect", "vm"}).err,
            "Error: Missing expected argument '<device>'\n"
            "Usage: qorctl usb connect [--debug] [--hide] <identifier> <device>\n"
            "  See 'qorctl usb connect --help' for more information.\n");
  EXPECT_EQ(seen({"file", "nope"}).err,
            "Error: Unexpected argument 'nope'\n"
            "Usage: qorctl file <subcommand>\n"
            "  See 'qorctl file --help' for more information.\n");
}

TEST(Parser, MalformedCommandLinesEndWithStatus64AndTheParsersMessage) {
  struct Case {
    std::vector<std::string> words;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"status", "--"}, "Error: Missing expected argument '<identifier>'"},
      {{"file", "pull", "vm"}, "Error: Missing expected argument '<path>'"},
      {{"exec", "vm"}, "Error: Missing expected argument '--cmd <cmd> ...'"},
      {{"exec", "vm", "--cmd"}, "Error: Missing value for '--cmd <cmd> ...'"},
      {{"exec", "--cmd", "ls", "vm"}, "Error: Missing expected argument '<identifier>'"},
      {{"status", "--hdie", "vm"}, "Error: Unknown option '--hdie'. Did you mean '--hide'?"},
      {{"stop", "vm", "--forse"}, "Error: Unknown option '--forse'. Did you mean '--force'?"},
      {{"status", "--frobnicate", "vm"}, "Error: Unknown option '--frobnicate'"},
      {{"status", "-x", "vm"}, "Error: Unknown option '-x'"},
      {{"start", "-dz", "vm"}, "Error: Unknown option '-z'"},
      {{"--version"}, "Error: Unknown option '--version'"},
      {{"-d", "status", "vm"}, "Error: Unknown option '-d'"},
      {{"usb", "--debug"}, "Error: Unknown option '--debug'"},
      {{"frobnicate"}, "Error: Unexpected argument 'frobnicate'"},
      {{"--", "list"}, "Error: Unexpected argument 'list'"},
      {{"status", "vm", "extra"}, "Error: Unexpected argument 'extra'"},
      {{"list", "x", "y"}, "Error: 2 unexpected arguments: 'x', 'y'"},
      {{"status", "vm", "--debug=yes"},
       "Error: The option '--debug' does not take any value, but 'yes' was specified."},
      {{"status", "vm", "-d=yes"},
       "Error: The option '-d' does not take any value, but 'yes' was specified."},
      {{"clone", "vm", "--name"}, "Error: Missing value for '--name <name>'"},
      {{"clone", "vm", "--name", "--hide"}, "Error: Missing value for '--name <name>'"},
      {{"exec", "vm", "--env", "--cmd", "ls"}, "Error: Missing value for '--env <env>'"},
      {{"attach", "vm", "--index", "-3"}, "Error: Missing value for '--index <index>'"},
      {{"attach", "vm", "--index", "abc"},
       "Error: The value 'abc' is invalid for '--index <index>'"},
      {{"attach", "vm", "--index=3.0"}, "Error: The value '3.0' is invalid for '--index <index>'"},
      {{"attach", "vm", "--index=+-3"}, "Error: The value '+-3' is invalid for '--index <index>'"},
      {{"attach", "vm", "--index", "9223372036854775808"},
       "Error: The value '9223372036854775808' is invalid for '--index <index>'"},
      {{"attach", "vm", "--index="}, "Error: The value '' is invalid for '--index <index>'"},
      {{"--generate-completion-script"},
       "Error: Missing value for '--generate-completion-script <shell>'"},
      {{"--generate-completion-script", "tcsh"},
       "Error: The value 'tcsh' is invalid for '--generate-completion-script <shell>'"},
      {{"--generate-completion-script", "bash", "list"}, "Error: Unexpected argument 'list'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(message(c.words), c.message) << ::testing::PrintToString(c.words);
    EXPECT_EQ(seen(c.words).status, 64) << ::testing::PrintToString(c.words);
    EXPECT_EQ(seen(c.words).out, "");
  }
}

TEST(Parser, HelpAnywhereWinsOverErrorsButNotAfterTheEndOfOptions) {
  EXPECT_EQ(seen({"status", "--frobnicate", "-h"}).out, seen({"help", "status"}).out);
  EXPECT_EQ(seen({"stop", "vm", "--force", "--kill", "--help"}).status, 0);
  EXPECT_EQ(seen({"start", "-dh"}).out, seen({"start", "--help"}).out);
  EXPECT_EQ(seen({"status", "--", "-h"}).out, "run Status");
  EXPECT_THAT(run({"exec", "vm", "--cmd", "ls", "--help"}).arguments.values("cmd"),
              ElementsAre("ls", "--help"));
  EXPECT_EQ(message({"status", "vm", "--help=x"}),
            "Error: The option '--help' does not take any value, but 'x' was specified.");
}

TEST(Parser, FillsTheSelectedCommandsMembers) {
  RunCommand status = run({"status", "-d", "my vm"});
  EXPECT_EQ(status.command().typeName, "Status");
  EXPECT_TRUE(status.arguments.flag("debug"));
  EXPECT_FALSE(status.arguments.flag("hide"));
  EXPECT_EQ(status.arguments.value("identifier"), "my vm");
  EXPECT_EQ(run({"status", "my vm"}).arguments.value("identifier"), "my vm");

  RunCommand start = run({"start", "-da", "vm", "--recovery"});
  EXPECT_TRUE(start.arguments.flag("debug"));
  EXPECT_TRUE(start.arguments.flag("attach"));
  EXPECT_FALSE(start.arguments.flag("disposable"));
  EXPECT_TRUE(start.arguments.flag("recovery"));
  EXPECT_TRUE(run({"suspend", "vm", "--save-state"}).arguments.flag("saveState"));

  RunCommand push = run({"file", "push", "--hide", "vm", "/tmp/a b"});
  EXPECT_EQ(push.command().typeName, "FilePush");
  EXPECT_TRUE(push.arguments.flag("hide"));
  EXPECT_EQ(push.arguments.value("path"), "/tmp/a b");

  RunCommand connect = run({"usb", "connect", "vm", "DEAD:BEEF"});
  EXPECT_EQ(connect.command().typeName, "USBConnect");
  EXPECT_EQ(connect.arguments.value("device"), "DEAD:BEEF");
  RunCommand disconnect = run({"usb", "disconnect", "4"});
  EXPECT_EQ(disconnect.command().typeName, "USBDisconnect");
  EXPECT_FALSE(disconnect.arguments.has("identifier"));
  EXPECT_EQ(run({"usb", "list"}).command().typeName, "USBList");
  EXPECT_EQ(run({"ip-address", "vm"}).command().typeName, "IPAddress");
}

TEST(Parser, ValuesKeepTheirTextAndOrder) {
  // The last of repeated single-value options wins; repeated --env collects in order.
  EXPECT_EQ(run({"clone", "vm", "--name", "a", "--name", "b c"}).arguments.value("name"), "b c");
  EXPECT_EQ(run({"clone", "vm", "--name="}).arguments.value("name"), "");
  EXPECT_EQ(run({"clone", "vm", "--name=x=y"}).arguments.value("name"), "x=y");
  EXPECT_FALSE(run({"clone", "vm"}).arguments.value("name").has_value());
  EXPECT_EQ(run({"attach", "vm", "--index", "1", "--index", "2"}).arguments.value("index"), "2");
  EXPECT_EQ(run({"attach", "vm", "--index=-3"}).arguments.value("index"), "-3");
  EXPECT_EQ(run({"attach", "vm", "--index", "+7"}).arguments.value("index"), "7");
  EXPECT_EQ(run({"status", ""}).arguments.value("identifier"), "");
  EXPECT_EQ(run({"status", "-"}).arguments.value("identifier"), "-");
  EXPECT_EQ(run({"status", "--", "--vm"}).arguments.value("identifier"), "--vm");
  EXPECT_EQ(message({"status", "--", "vm", "--"}), "Error: Unexpected argument '--'");

  RunCommand exec = run({"exec", "vm", "--env", "B=2", "--input", "--env=A=1", "--cmd", "sh", "-c",
                         "--input", "--", "-h", "--cmd"});
  EXPECT_TRUE(exec.arguments.flag("input"));
  EXPECT_THAT(exec.arguments.values("env"), ElementsAre("B=2", "A=1"));
  EXPECT_THAT(exec.arguments.values("cmd"),
              ElementsAre("sh", "-c", "--input", "--", "-h", "--cmd"));
  EXPECT_FALSE(run({"exec", "vm", "--cmd", "--input"}).arguments.flag("input"));
  EXPECT_THAT(run({"exec", "vm", "--cmd=ls", "-l"}).arguments.values("cmd"),
              ElementsAre("ls", "-l"));
}

TEST(Parser, StopStylesAreExclusiveAndForceIsTheDefault) {
  for (const auto& styles :
       std::vector<std::vector<std::string>>{{"--force", "--kill"},
                                             {"--kill", "--request"},
                                             {"--request", "--force"},
                                             {"--force", "--kill", "--request"}}) {
    std::vector<std::string> words{"stop", "vm"};
    words.insert(words.end(), styles.begin(), styles.end());
    testing::Seen result = seen(words);
    EXPECT_EQ(result.err, "Error: You can only specify one of: --force, --kill, or --request\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
  }
  EXPECT_TRUE(run({"stop", "vm"}).arguments.flag("force"));
  RunCommand kill = run({"stop", "vm", "--kill"});
  EXPECT_TRUE(kill.arguments.flag("kill"));
  EXPECT_FALSE(kill.arguments.flag("force"));
  EXPECT_TRUE(run({"stop", "vm", "--force", "--force"}).arguments.flag("force"));
  // A command line the parser rejects fails as a usage error before any validation.
  EXPECT_EQ(seen({"stop", "--force", "--kill"}).status, 64);
}

// Every value reaches the host as text; one that is not UTF-8 would arrive as another text.
TEST(Parser, ValuesThatAreNotUtf8AreRefusedNamingWhereTheyFail) {
  const struct {
    std::vector<std::string> words;
    std::string error;
  } cases[] = {
      {{"status",
        "a\xff"
        "b"},
       "Error: The argument '<identifier>' is not valid UTF-8 (byte 0xff at offset 1)"},
      {{"exec", "vm", "--cmd", "printf",
        "a\xff"
        "b"},
       "Error: Word 2 of '--cmd <cmd> ...' is not valid UTF-8 (byte 0xff at offset 1)"},
      {{"exec", "vm", "--env", "A=1", "--env", "B=\xc3", "--cmd", "env"},
       "Error: The value 2 of '--env' is not valid UTF-8 (byte 0xc3 at offset 2)"},
      {{"clone", "--name", "caf\xc3\xa9 \xe2\x82", "vm"},
       "Error: The value of '--name' is not valid UTF-8 (byte 0xe2 at offset 6)"},
      {{"file", "push", "vm", "/tmp/\xc0\xaf"},
       "Error: The argument '<path>' is not valid UTF-8 (byte 0xc0 at offset 5)"},
      {{"file", "pull", "vm\xed\xa0\x80", "/etc/hosts"},  // an encoded surrogate
       "Error: The argument '<identifier>' is not valid UTF-8 (byte 0xed at offset 2)"},
  };
  for (const auto& c : cases) {
    const testing::Seen result = seen(c.words);
    EXPECT_EQ(result.status, 64) << ::testing::PrintToString(c.words);
    EXPECT_EQ(result.err.rfind(c.error + "; the host takes text only, so nothing was sent\n", 0),
              0u)
        << result.err;
    EXPECT_NE(result.err.find("\nUsage: "), std::string::npos) << result.err;
  }
  // Valid UTF-8 passes unchanged, whatever the script.
  EXPECT_EQ(run({"status", "caf\xc3\xa9 \xf0\x9f\x96\xa5"}).arguments.value("identifier"),
            "caf\xc3\xa9 \xf0\x9f\x96\xa5");

  // A message that quotes a word shows it as valid UTF-8.
  std::string err = seen({"status",
                          "--h\xc3"
                          "de",
                          "vm"})
                        .err;
  EXPECT_EQ(support::sanitizeUtf8(err), err);
  EXPECT_NE(err.find("'--h\xEF\xBF\xBD"
                     "de'"),
            std::string::npos)
      << err;
  EXPECT_EQ(message({"status", "-\xfe", "vm"}), "Error: Unknown option '-\xEF\xBF\xBD'");
}

// A variable without a name, or without '=', would be missing in the guest.
TEST(Parser, AnEnvironmentEntryNeedsANameAndAnEqualsSign) {
  for (const std::string entry : {"A", "=x", "=", ""}) {
    const testing::Seen result = seen({"exec", "vm", "--env", entry, "--cmd", "env"});
    EXPECT_EQ(result.status, 64) << entry;
    EXPECT_EQ(result.err.rfind("Error: The value '" + entry +
                                   "' is invalid for '--env <env>': it must read NAME=VALUE, "
                                   "with a name before the '='\n",
                               0),
              0u)
        << result.err;
  }
  EXPECT_THAT(
      run({"exec", "vm", "--env", "A=", "--env=B==", "--cmd", "env"}).arguments.values("env"),
      ElementsAre("A=", "B=="));
}

TEST(Parser, CopesWithEnormousArgumentCounts) {
  const std::size_t count = 200000;
  std::vector<std::string> words{"list"};
  words.resize(count + 1, "x");
  EXPECT_EQ(message(words).rfind("Error: 200000 unexpected arguments: 'x', 'x', ", 0), 0u);

  words = {"exec", "vm", "--cmd"};
  words.resize(count + 3, "-y");
  EXPECT_EQ(run(words).arguments.values("cmd").size(), count);

  words = {"exec", "vm"};
  for (std::size_t i = 0; i < count; ++i) {
    words.push_back("--env");
    words.push_back("V" + std::to_string(i) + "=");
  }
  words.push_back("--cmd");
  words.push_back("env");
  RunCommand exec = run(words);
  const auto& env = exec.arguments.values("env");
  ASSERT_EQ(env.size(), count);
  EXPECT_EQ(env.back(), "V199999=");

  std::string longName = "--" + std::string(100000, 'q');
  EXPECT_EQ(message({"status", longName}).size(), longName.size() + 24);
}

TEST(Parser, CompletionScriptsGoToStandardOutput) {
  for (const char* shell : {"bash", "zsh", "fish"}) {
    testing::Seen spaced = seen({"--generate-completion-script", shell});
    EXPECT_EQ(spaced.status, 0);
    EXPECT_NE(spaced.out.find("qorctl"), std::string::npos);
    EXPECT_EQ(seen({std::string("--generate-completion-script=") + shell}).out, spaced.out);
  }
  // Only the root offers it; elsewhere it is an unknown option.
  EXPECT_EQ(message({"status", "--generate-completion-script", "bash"}),
            "Error: Unknown option '--generate-completion-script'");
}

}  // namespace
}  // namespace qor::cli
