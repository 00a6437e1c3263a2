#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "cli/completion.h"

namespace qor::cli {
namespace {

// A tree whose texts hold every character the shells quote specially.
CommandSpec awkwardTree() {
  const std::string text = "It's [odd]: a \"quoted\" \\ $HOME `x` (e.g. A:B)";
  CommandSpec leaf;
  leaf.typeName = "IPAddress";
  leaf.abstract = text;
  // Positionals that offer the host's values, with an option taking a value between them.
  leaf.members = {{ArgKind::flag, "saveState", 's', text},
                  {ArgKind::positional, "identifier", 0, text, true, false, Suggestions::machines},
                  {ArgKind::repeatedOption, "env", 0, text},
                  {ArgKind::positional, "device", 0, text, true, false, Suggestions::usbDevices},
                  {ArgKind::positional, "path", 0, text, true},
                  {ArgKind::remainingOption, "cmd", 0, text, true}};
  CommandSpec root;
  root.typeName = "QorCtl";
  root.explicitName = "qorctl";
  root.abstract = text;
  root.subcommands = {leaf};
  return root;
}

bool installed(const std::string& shell) {
  return std::system(("command -v " + shell + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs the shell's syntax check on the script; the check's diagnostics, empty when it passes.
std::string syntaxErrors(const std::string& checkCommand, const std::string& script) {
  char path[] = "/tmp/qorctl-completion-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "mkstemp failed";
  ::close(fd);
  std::ofstream(path) << script;
  std::string command = checkCommand + " " + path + " 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    if (pclose(pipe) != 0 && output.empty()) output = "check failed";
  }
  std::remove(path);
  return output;
}

TEST(Completion, ScriptsStaySyntacticallyValidWhateverTheTextsHold) {
  const CommandSpec root = awkwardTree();
  struct Case {
    Shell shell;
    const char* program;
    const char* check;
  };
  for (const Case& c : {Case{Shell::bash, "bash", "bash -n"}, Case{Shell::zsh, "zsh", "zsh -n"},
                        Case{Shell::fish, "fish", "fish --no-execute"}}) {
    if (!installed(c.program)) {
      ADD_FAILURE() << c.program << " is not installed";
      continue;
    }
    const std::string script = completionScript(root, c.shell);
    EXPECT_EQ(syntaxErrors(c.check, script), "") << c.program << " script:\n" << script;
    EXPECT_EQ(script.back(), '\n');
  }
}

TEST(Completion, FishAndZshKeepTheDescriptionsIntact) {
  const CommandSpec root = awkwardTree();
  // fish reads back exactly the text; zsh sees the brackets escaped inside the explanation.
  EXPECT_NE(completionScript(root, Shell::fish)
                .find("-d 'It\\'s [odd]: a \"quoted\" \\\\ $HOME `x` (e.g. A:B)'"),
            std::string::npos);
  EXPECT_NE(completionScript(root, Shell::zsh).find("[It'\\''s \\[odd\\]: a"), std::string::npos);
}

TEST(Completion, ShellNamesAreExact) {
  EXPECT_EQ(shellNamed("bash"), Shell::bash);
  EXPECT_EQ(shellNamed("zsh"), Shell::zsh);
  EXPECT_EQ(shellNamed("fish"), Shell::fish);
  EXPECT_FALSE(shellNamed("Bash").has_value());
  EXPECT_FALSE(shellNamed("").has_value());
}

}  // namespace
}  // namespace qor::cli
