#include <gtest/gtest.h>

#include "cli/command_types.h"
#include "entry/command_tree.h"
#include "support/utf8.h"

namespace qor::cli {

using entry::rootCommand;
namespace {

TEST(Names, DeriveFromTypeAndPropertyNames) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"IPAddress", "ip-address"},  {"USB", "usb"},   {"saveState", "save-state"},
      {"USBList", "usb-list"},      {"List", "list"}, {"FilePull", "file-pull"},
      {"identifier", "identifier"}, {"aB", "a-b"},    {"HTTPServerURL", "http-server-url"},
  };
  for (const auto& [camel, name] : cases) EXPECT_EQ(deriveName(camel), name) << camel;
}

TEST(Names, TheTreeUsesExplicitNamesWhereGiven) {
  const CommandSpec& root = rootCommand();
  EXPECT_EQ(root.commandName(), "qorctl");
  std::vector<std::string> names;
  for (const CommandSpec& sub : root.subcommands) {
    names.push_back(sub.commandName());
    for (const CommandSpec& leaf : sub.subcommands) names.push_back(leaf.commandName());
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"list", "status", "start", "suspend", "stop", "wait",
                                      "attach", "file", "pull", "push", "exec", "ip-address",
                                      "clone", "delete", "usb", "list", "connect", "disconnect"}));
}

TEST(Utf8, EachIllFormedSubsequenceBecomesOneReplacementCharacter) {
  const std::string r = "\xEF\xBF\xBD";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "plain"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},  // valid stays
      {"\xFF", r},
      {"\x80\x80", r + r},                       // lone continuation bytes
      {"\xC3", r},                               // truncated at the end
      {"\xE2\x82x", r + "x"},                    // truncated before an ASCII byte
      {"\xC0\xAF", r + r},                       // overlong lead
      {"\xE0\x80\x80", r + r + r},               // overlong three-byte form
      {"\xED\xA0\x80", r + r + r},               // surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},       // above U+10FFFF
      {"\xF0\x9F\x98", r},                       // one maximal subpart
      {"\xF0\x9F\x98\xC3\xA9", r + "\xC3\xA9"},  // the next character survives
  };
  for (const auto& [bytes, text] : cases) {
    EXPECT_EQ(support::sanitizeUtf8(bytes), text) << ::testing::PrintToString(bytes);
  }
}

}  // namespace
}  // namespace qor::cli
