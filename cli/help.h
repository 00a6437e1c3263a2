#pragma once

#include <cstddef>
#include <string>

#include "cli/usage.h"

namespace qor::cli {

// The help screen of the last command of the path, exactly as it goes to standard output
// (newline-terminated), wrapped to `width` columns: overview, usage, then the ARGUMENTS, OPTIONS
// and SUBCOMMANDS sections, help texts in column 26.
std::string helpText(const CommandPath& path, std::size_t width);

inline constexpr const char* kHelpAbstract = "Show help information.";

}  // namespace qor::cli
