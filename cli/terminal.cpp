#include "cli/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace qor::cli {

std::size_t terminalWidth() {
  if (const char* columns = std::getenv("COLUMNS")) {
    std::string_view text(columns);
    std::size_t width = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), width);
    if (error == std::errc{} && end == text.data() + text.size() && width > 0) return width;
  }
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace qor::cli
