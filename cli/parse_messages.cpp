#include "cli/parse_messages.h"

#include <algorithm>
#include <vector>

#include "cli/usage.h"
#include "support/utf8.h"

namespace qor::cli {
namespace {

// A long name closer than this to the unknown one is offered as "Did you mean".
constexpr std::size_t kSimilarityFloor = 4;

std::string quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

std::vector<std::string_view> characters(std::string_view text) {
  std::vector<std::string_view> list;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = support::utf8SequenceLength(static_cast<unsigned char>(text[i]));
    list.push_back(text.substr(i, length));
    i += length;
  }
  return list;
}

}  // namespace

std::size_t editDistance(std::string_view a, std::string_view b) {
  const std::vector<std::string_view> x = characters(a), y = characters(b);
  std::vector<std::size_t> previous(y.size() + 1), current(y.size() + 1);
  for (std::size_t j = 0; j <= y.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= x.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= y.size(); ++j) {
      std::size_t substitution = previous[j - 1] + (x[i - 1] == y[j - 1] ? 0 : 1);
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
    }
    std::swap(previous, current);
  }
  return previous[y.size()];
}

std::string unknownOptionMessage(std::string_view typed, const CommandSpec& command) {
  std::string message = "Unknown option " + quoted(typed);
  if (!typed.starts_with("--")) return message;  // short names are too short to guess from

  std::vector<std::string> candidates;
  for (const ArgSpec& member : command.members) {
    if (member.kind != ArgKind::positional) candidates.push_back(longName(member));
  }
  candidates.push_back("--help");
  const std::string* best = nullptr;
  std::size_t bestDistance = kSimilarityFloor;
  for (const std::string& candidate : candidates) {
    std::size_t distance = editDistance(typed, candidate);
    if (distance < bestDistance) {
      best = &candidate;
      bestDistance = distance;
    }
  }
  if (best != nullptr) message += ". Did you mean " + quoted(*best) + "?";
  return message;
}

std::string unexpectedArgumentsMessage(std::span<const std::string> values) {
  if (values.size() == 1) return "Unexpected argument " + quoted(values.front());
  std::string message = std::to_string(values.size()) + " unexpected arguments: ";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) message += ", ";
    message += quoted(values[i]);
  }
  return message;
}

std::string missingArgumentMessage(const ArgSpec& member) {
  return "Missing expected argument " + quoted(synopsis(member));
}

std::string missingValueMessage(std::string_view typed, const ArgSpec& member) {
  std::string form = std::string(typed) + " <" + valueName(member) + ">";
  if (member.kind == ArgKind::remainingOption) form += " ...";
  return "Missing value for " + quoted(form);
}

std::string invalidValueMessage(std::string_view value, std::string_view typed,
                                const ArgSpec& member) {
  std::string message = "The value " + quoted(value) + " is invalid for " +
                        quoted(std::string(typed) + " <" + valueName(member) + ">");
  if (!member.choices.empty()) {
    message += ". Choose one of";
    const char* separator = " ";
    for (const std::string& choice : member.choices) {
      message += separator + quoted(choice);
      separator = ", ";
    }
  } else if (member.minimum) {
    message += ". It must be a whole number of at least " + std::to_string(*member.minimum);
  }
  return message;
}

std::string flagWithValueMessage(std::string_view typed, std::string_view value) {
  return "The option " + quoted(typed) + " does not take any value, but " + quoted(value) +
         " was specified.";
}

std::string invalidTextMessage(const ArgSpec& member, std::size_t index, std::size_t count,
                               std::size_t offset, unsigned char byte) {
  std::string which;
  switch (member.kind) {
    case ArgKind::positional:
      which = "The argument " + quoted(synopsis(member));
      break;
    case ArgKind::remainingOption:
      which = "Word " + std::to_string(index + 1) + " of " + quoted(synopsis(member));
      break;
    default:
      which = "The value " + (count > 1 ? std::to_string(index + 1) + " " : std::string()) + "of " +
              quoted("--" + deriveName(member.property));
      break;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string hex = {'0', 'x', kHex[byte >> 4], kHex[byte & 0xf]};
  return which + " is not valid UTF-8 (byte " + hex + " at offset " + std::to_string(offset) +
         "); the host takes text only, so nothing was sent";
}

}  // namespace qor::cli
