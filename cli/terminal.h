#pragma once

#include <cstddef>

namespace qor::cli {

// The width help is wrapped to: COLUMNS when it holds a positive number, else the width of the
// terminal on standard output, else 80.
std::size_t terminalWidth();

}  // namespace qor::cli
