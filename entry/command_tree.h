#pragma once

#include "cli/command_types.h"

namespace qor::entry {

// The whole tree, rooted at `qorctl`: every command's declaration and, for each leaf, its factory.
const cli::CommandSpec& rootCommand();

}  // namespace qor::entry
