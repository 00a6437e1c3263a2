#include <gtest/gtest.h>

#include "cli/completion.h"
#include "entry/command_tree.h"

namespace qor::cli {
namespace {

// The table is the only place a command is declared: every leaf names the factory that builds it
// and the root and the groups, which only show help, name none.
TEST(CommandTree, EveryLeafNamesItsFactoryAndNoGroupDoes) {
  std::size_t leaves = 0;
  completion::forEachCommand(entry::rootCommand(), [&](const CommandPath& path) {
    const CommandSpec& command = *path.back();
    if (command.subcommands.empty()) {
      ++leaves;
      EXPECT_NE(command.run, nullptr) << command.typeName;
    } else {
      EXPECT_EQ(command.run, nullptr) << command.typeName;
    }
  });
  EXPECT_EQ(leaves, 16u);
}

}  // namespace
}  // namespace qor::cli
