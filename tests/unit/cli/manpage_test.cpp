#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <variant>

#include "cli/completion.h"
#include "cli/manpage.h"
#include "entry/command_tree.h"
#include "parse_support.h"

namespace qor::cli {

using entry::rootCommand;
namespace {

// What a reader sees of a marked-up fragment once the fonts and escapes are applied.
std::string plain(const std::string& marked) {
  std::string out;
  for (std::size_t i = 0; i < marked.size(); ++i) {
    if (marked[i] != '\\' || i + 1 >= marked.size()) {
      out += marked[i];
      continue;
    }
    char next = marked[++i];
    if (next == 'f') {
      ++i;  // \fB, \fI, \fR
    } else if (next == '~') {
      out += ' ';
    } else if (next == '-') {
      out += '-';
    } else if (next == 'e') {
      out += '\\';
    } else if (next != '&') {
      out += '\\';
      out += next;
    }
  }
  return out;
}

TEST(ManpageEscaping, TextAndArguments) {
  struct Case {
    const char* input;
    const char* text;
    const char* argument;
  };
  const Case cases[] = {
      {"--save-state", "\\-\\-save\\-state", "\"\\-\\-save\\-state\""},
      {"C:\\dir\\", "C:\\edir\\e", "\"C:\\edir\\e\""},
      {".so /etc/passwd", "\\&.so /etc/passwd", "\".so /etc/passwd\""},
      {"'br", "\\&'br", "\"'br\""},
      {"mid.dot it's", "mid.dot it's", "\"mid.dot it's\""},
      {"one\n.two\n'three", "one\n\\&.two\n\\&'three", "\"one .two 'three\""},
      {"say \"hi\"", "say \"hi\"", "\"say \\(dqhi\\(dq\""},
      {"\\fBbold", "\\efBbold", "\"\\efBbold\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(roff::text(c.input), c.text) << c.input;
    EXPECT_EQ(roff::argument(c.input), c.argument) << c.input;
  }
}

TEST(ManpageEscaping, UsageMarkupKeepsEveryUsageLineAndGroupsBrackets) {
  completion::forEachCommand(rootCommand(), [](const CommandPath& path) {
    const std::string usage = usageLine(path);
    EXPECT_EQ(plain(roff::usageMarkup(usage)), usage);
  });
  EXPECT_EQ(roff::usageMarkup("qorctl [--env <env> ...] <identifier>"),
            "\\fBqorctl\\fR [\\fB\\-\\-env\\fR\\~\\fI<env>\\fR\\~\\&...] \\fI<identifier>\\fR");
}

// Every line the page starts with a dot is one of the page's own macros: no text of the table
// can become a roff request.
void expectOnlyOwnRequests(const std::string& page) {
  std::istringstream lines(page);
  std::string line;
  const std::array<const char*, 8> macros = {".TH ", ".SH ", ".SS ", ".SY ",
                                             ".YS",  ".PP",  ".TP",  ".\\\" "};
  while (std::getline(lines, line)) {
    if (line.empty() || (line[0] != '.' && line[0] != '\'')) continue;
    bool known = false;
    for (const char* macro : macros) known = known || line.rfind(macro, 0) == 0;
    EXPECT_TRUE(known) << "stray request: " << line;
  }
}

TEST(Manpage, DescribesEveryCommandOfTheTable) {
  const std::string page = manPage(rootCommand(), "9.8.7");
  EXPECT_NE(page.find(".TH \"QORCTL\" 1 \"\" \"qorctl 9.8.7\""), std::string::npos);
  for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "COMMANDS",
                              "EXIT STATUS", "ENVIRONMENT", "FILES", "SEE ALSO"}) {
    EXPECT_NE(page.find(".SH \"" + std::string(section) + "\"\n"), std::string::npos) << section;
  }
  int commands = 0;
  completion::forEachCommand(rootCommand(), [&](const CommandPath& path) {
    if (path.size() < 2) return;
    ++commands;
    const CommandSpec& command = *path.back();
    const std::string name = commandPathText(path);
    EXPECT_NE(page.find(".SS " + roff::argument(name) + "\n"), std::string::npos) << name;
    const std::string usage = usageLine(path);
    EXPECT_NE(page.find(roff::usageMarkup(usage.substr(usage.find(' ') + 1))), std::string::npos)
        << usage;
    EXPECT_NE(page.find(roff::text(command.abstract)), std::string::npos) << name;
    if (!command.discussion.empty()) {
      EXPECT_NE(page.find(roff::text(command.discussion)), std::string::npos) << name;
    }
    for (const ArgSpec& member : command.members) {
      EXPECT_NE(page.find(roff::usageMarkup(synopsis(member))), std::string::npos) << name;
      EXPECT_NE(page.find(roff::text(member.help)), std::string::npos) << name;
    }
  });
  EXPECT_EQ(commands, 18);
  expectOnlyOwnRequests(page);
}

// The two lines of the synopsis that do not come from the table must still be what the parser
// accepts.
TEST(Manpage, SynopsisExtrasAreAcceptedByTheParser) {
  const std::string page = manPage(rootCommand(), "1");
  EXPECT_NE(page.find(roff::usageMarkup("help [<subcommand> ...]")), std::string::npos);
  EXPECT_NE(page.find(roff::usageMarkup("--generate-completion-script <shell>")),
            std::string::npos);
  EXPECT_TRUE(std::holds_alternative<ShowText>(testing::parse({"help", "usb", "connect"})));
  for (const char* shell : {"bash", "zsh", "fish"}) {
    EXPECT_TRUE(
        std::holds_alternative<ShowText>(testing::parse({"--generate-completion-script", shell})))
        << shell;
  }
}

// Help texts that would be roff requests or escapes, and two leaves that share only part of
// their options: the page renders every text literally and loses no option.
CommandSpec hostileTree() {
  CommandSpec first;
  first.typeName = "First";
  first.abstract = ".so /etc/passwd";
  first.discussion = "'bp and \\fBnot bold\\fR";
  first.members = {{ArgKind::flag, "debug", 'd', "Shared."},
                   {ArgKind::flag, "only", 0, ".\\\" not a comment"}};
  CommandSpec second;
  second.typeName = "SecondOne";
  second.abstract = "Second \"quoted\" --dashed";
  second.members = {{ArgKind::flag, "debug", 'd', "Shared."},
                    {ArgKind::positional, "identifier", 0, "-- a-b", true}};
  CommandSpec root;
  root.typeName = "Tool";
  root.explicitName = "tool";
  root.abstract = "A tool.";
  root.subcommands = {first, second};
  return root;
}

std::string render(const std::string& page) {
  char path[] = "/tmp/qorctl-manpage-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "";
  std::ofstream(path) << page;
  close(fd);
  std::string output;
  const std::string command = "groff -man -Tutf8 -P-cbou -ww -z " + std::string(path) +
                              " 2>&1 && groff -man -Tutf8 -P-cbou " + std::string(path);
  if (FILE* pipe = popen(command.c_str(), "r")) {
    std::array<char, 4096> buffer;
    std::size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
      output.append(buffer.data(), got);
    pclose(pipe);
  }
  std::remove(path);
  return output;
}

TEST(Manpage, HostileTextsRenderLiterally) {
  const std::string page = manPage(hostileTree(), "1");
  expectOnlyOwnRequests(page);
  EXPECT_NE(page.find("\\fB\\-d\\fR, \\fB\\-\\-debug\\fR\nShared."), std::string::npos);
  EXPECT_NE(page.find("\\fB\\-\\-only\\fR"), std::string::npos);

  if (std::system("command -v groff >/dev/null 2>&1") != 0) GTEST_SKIP() << "groff missing";
  const std::string shown = render(page);
  EXPECT_EQ(shown.find("warning"), std::string::npos) << shown;
  for (const char* literal : {".so /etc/passwd", "'bp and \\fBnot bold\\fR", ".\\\" not a comment",
                              "Second \"quoted\" --dashed", "-- a-b", "tool second-one"}) {
    EXPECT_NE(shown.find(literal), std::string::npos) << literal << " in\n" << shown;
  }
}

}  // namespace
}  // namespace qor::cli
