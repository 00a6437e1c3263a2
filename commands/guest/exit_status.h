#pragma once

#include <cstdint>

namespace qor::commands {

// The tool's exit status for a guest program's exit code. The operating system keeps only the
// low eight bits of a status, so 256 would read as success: 0 stays 0, 1-255 stay as they are,
// and every other code (negative, 256 and above, beyond 32 bits) becomes 255.
constexpr int exitStatusFor(std::int64_t exitCode) {
  if (exitCode >= 0 && exitCode <= 255) return static_cast<int>(exitCode);
  return 255;
}

}  // namespace qor::commands
