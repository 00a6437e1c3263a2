// Escaping and font markup for the manual page. Everything that reaches the page from the command
// table passes through here, so a help text may hold any character without breaking the page.

#include <cctype>

#include "cli/manpage.h"

namespace qor::cli::roff {
namespace {

std::string escapeCharacters(std::string_view plain) {
  std::string escaped;
  escaped.reserve(plain.size());
  for (char c : plain) {
    if (c == '\\') {
      escaped += "\\e";
    } else if (c == '-') {
      escaped += "\\-";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string font(char which, std::string_view plain) {
  return std::string("\\f") + which + text(plain) + "\\fR";
}

// Command words and option names are typed as shown; placeholders stand for a value.
std::string markWord(std::string_view word) {
  if (word.empty()) return "";
  if (word.front() == '<' && word.back() == '>') return font('I', word);
  const auto first = static_cast<unsigned char>(word.front());
  if (word.front() == '-' || std::isalnum(first) != 0) return font('B', word);
  return text(word);
}

}  // namespace

std::string text(std::string_view plain) {
  std::string escaped = escapeCharacters(plain);
  std::string result;
  result.reserve(escaped.size() + 4);
  bool lineStart = true;
  for (char c : escaped) {
    if (lineStart && (c == '.' || c == '\'')) result += "\\&";
    result += c;
    lineStart = c == '\n';
  }
  return result;
}

std::string argument(std::string_view plain) {
  std::string quoted = "\"";
  for (char c : escapeCharacters(plain)) {
    if (c == '"') {
      quoted += "\\(dq";
    } else if (c == '\n') {
      quoted += ' ';
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string usageMarkup(std::string_view usage) {
  std::string marked;
  int depth = 0;
  std::size_t start = 0;
  while (start <= usage.size()) {
    std::size_t end = usage.find(' ', start);
    if (end == std::string_view::npos) end = usage.size();
    std::string_view word = usage.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;

    std::size_t opening = 0;
    while (opening < word.size() && word[opening] == '[') ++opening;
    std::size_t closing = 0;
    while (closing < word.size() - opening && word[word.size() - 1 - closing] == ']') ++closing;
    std::string_view core = word.substr(opening, word.size() - opening - closing);

    if (!marked.empty()) marked += depth > 0 ? "\\~" : " ";
    marked += std::string(opening, '[') + markWord(core) + std::string(closing, ']');
    depth += static_cast<int>(opening) - static_cast<int>(closing);
  }
  return marked;
}

}  // namespace qor::cli::roff
