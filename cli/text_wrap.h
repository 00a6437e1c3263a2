#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qor::cli {

// Wraps the text to `width` columns, every non-empty line indented by `indent` (the first line
// too, so a caller can put a label over the first line's indent). Lines break at the last blank
// that fits, keep the text's own newlines, and a word longer than the line stands alone. When the
// indent leaves no room at all, the lines are only indented, never cut.
std::string wrapText(std::string_view text, std::size_t width, std::size_t indent = 0);

}  // namespace qor::cli
