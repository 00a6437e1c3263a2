#include "cli/text_wrap.h"

#include <vector>

#include "support/utf8.h"

namespace qor::cli {
namespace {

// Byte offsets of every character of a UTF-8 text, and of its end.
std::vector<std::size_t> characterOffsets(std::string_view text) {
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < text.size();
       i += support::utf8SequenceLength(static_cast<unsigned char>(text[i]))) {
    offsets.push_back(i);
  }
  offsets.push_back(text.size());
  return offsets;
}

}  // namespace

std::string wrapText(std::string_view text, std::size_t width, std::size_t indent) {
  const std::vector<std::size_t> at = characterOffsets(text);
  const std::size_t count = at.size() - 1;
  const std::size_t columns = width > indent ? width - indent : count + 1;
  auto charAt = [&](std::size_t i) { return text[at[i]]; };
  auto slice = [&](std::size_t from, std::size_t to) {
    return text.substr(at[from], at[to] - at[from]);
  };

  std::vector<std::string_view> lines;
  std::size_t current = 0;
  while (true) {
    // Compared as a distance: current + columns overflows for a terminal width near SIZE_MAX
    // (COLUMNS may hold any number).
    std::size_t chunkEnd = columns < count - current ? current + columns : count;
    std::size_t lastNewline = count, lastBlank = count;
    for (std::size_t i = current; i < chunkEnd; ++i) {
      if (charAt(i) == '\n') lastNewline = i;
      if (charAt(i) == ' ') lastBlank = i;
    }
    if (lastNewline != count) {
      std::size_t start = current;
      for (std::size_t i = current; i <= lastNewline; ++i) {
        if (charAt(i) == '\n') {
          lines.push_back(slice(start, i));
          start = i + 1;
        }
      }
      current = lastNewline + 1;
    } else if (chunkEnd == count) {
      lines.push_back(slice(current, count));
      break;
    } else if (lastBlank != count) {
      lines.push_back(slice(current, lastBlank));
      current = lastBlank + 1;
    } else {
      // A word longer than the line: it stands alone up to the next blank or line break.
      std::size_t next = chunkEnd;
      while (next < count && charAt(next) != ' ' && charAt(next) != '\n') ++next;
      lines.push_back(slice(current, next));
      if (next == count) break;
      current = next + 1;
    }
  }

  std::string wrapped;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) wrapped += '\n';
    if (!lines[i].empty()) wrapped.append(indent, ' ');
    wrapped += lines[i];
  }
  return wrapped;
}

}  // namespace qor::cli
