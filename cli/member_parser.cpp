#include "cli/member_parser.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

#include "cli/parse_messages.h"
#include "cli/usage.h"
#include "support/utf8.h"

namespace qor::cli {
namespace {

// Built in on every command; reaching it while filling members means it was given a value.
const ArgSpec kHelpFlag{ArgKind::flag, "help", 'h', "Show help information."};

// A word that can be an option's value: anything that does not look like an option ("-" alone
// and the empty word included). So `--index -3` lacks its value; `--index=-3` has one.
bool isValueWord(const std::string& word) {
  return word.size() < 2 || word[0] != '-';
}

const ArgSpec* findLong(const CommandSpec& command, std::string_view typed) {
  for (const ArgSpec& member : command.members) {
    if (member.kind != ArgKind::positional && longName(member) == typed) return &member;
  }
  return typed == "--help" ? &kHelpFlag : nullptr;
}

const ArgSpec* findShort(const CommandSpec& command, std::string_view letter) {
  if (letter.size() != 1) return nullptr;
  for (const ArgSpec& member : command.members) {
    if (member.shortName != 0 && member.shortName == letter[0]) return &member;
  }
  return letter == "h" ? &kHelpFlag : nullptr;
}

// Swift-style integer reading: optional sign, decimal digits, no blanks, fits in 64 bits.
std::optional<std::int64_t> readInteger(std::string_view text) {
  if (text.starts_with('+')) {
    text.remove_prefix(1);
    if (text.starts_with('-')) return std::nullopt;
  }
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

class MemberParser {
 public:
  MemberParser(const CommandSpec& command, std::span<const std::string> words,
               ParsedArguments& arguments)
      : command_(command), words_(words), arguments_(arguments) {}

  std::optional<std::string> run() {
    bool terminated = false;
    for (i_ = 0; i_ < words_.size(); ++i_) {
      const std::string& word = words_[i_];
      std::optional<std::string> error;
      if (terminated || isValueWord(word)) {
        values_.push_back(word);
      } else if (word == "--") {
        terminated = true;
      } else if (word.starts_with("--")) {
        error = longOption(word);
      } else {
        error = shortOptions(word);
      }
      if (error) return error;
    }
    return assignPositionals();
  }

 private:
  std::optional<std::string> longOption(const std::string& word) {
    std::size_t equals = word.find('=');
    std::string typed = word.substr(0, equals);
    std::optional<std::string> attached;
    if (equals != std::string::npos) attached = word.substr(equals + 1);
    const ArgSpec* member = findLong(command_, typed);
    if (member == nullptr) return unknownOptionMessage(typed, command_);
    return apply(*member, typed, attached);
  }

  // "-da" is -d and -a; "-x=value" names one short option with an attached value.
  std::optional<std::string> shortOptions(const std::string& word) {
    std::size_t equals = word.find('=');
    if (equals != std::string::npos) {
      std::string typed = word.substr(0, equals);
      const ArgSpec* member = findShort(command_, typed.substr(1));
      if (member == nullptr) return unknownOptionMessage(typed, command_);
      return apply(*member, typed, word.substr(equals + 1));
    }
    for (std::size_t at = 1; at < word.size();) {
      std::size_t length = support::utf8SequenceLength(static_cast<unsigned char>(word[at]));
      std::string letter = word.substr(at, length);
      at += length;
      const ArgSpec* member = findShort(command_, letter);
      if (member == nullptr) return unknownOptionMessage("-" + letter, command_);
      std::optional<std::string> attached;
      if (takesValue(*member) && at < word.size()) {
        attached = word.substr(at);  // "-n5": the rest of the group is the value
        at = word.size();
      }
      if (auto error = apply(*member, "-" + letter, attached)) return error;
    }
    return std::nullopt;
  }

  std::optional<std::string> apply(const ArgSpec& member, const std::string& typed,
                                   const std::optional<std::string>& attached) {
    if (member.kind == ArgKind::flag) {
      if (attached) return flagWithValueMessage(typed, *attached);
      arguments_.setFlag(member.property, true);
      return std::nullopt;
    }
    if (member.kind == ArgKind::remainingOption) {
      // Every later word belongs to the option, dashes and terminators included.
      if (!attached && i_ + 1 == words_.size()) return missingValueMessage(typed, member);
      if (attached) arguments_.append(member.property, *attached);
      while (++i_ < words_.size()) arguments_.append(member.property, words_[i_]);
      return std::nullopt;
    }
    std::string value;
    if (attached) {
      value = *attached;
    } else if (i_ + 1 < words_.size() && isValueWord(words_[i_ + 1])) {
      value = words_[++i_];
    } else {
      return missingValueMessage(typed, member);
    }
    if (member.integer) {
      std::optional<std::int64_t> number = readInteger(value);
      if (!number) return invalidValueMessage(value, typed, member);
      if (member.minimum && *number < *member.minimum) {
        return invalidValueMessage(value, typed, member);
      }
      value = std::to_string(*number);  // "+3" reaches the command as "3"
    }
    if (!member.choices.empty() &&
        std::find(member.choices.begin(), member.choices.end(), value) == member.choices.end()) {
      return invalidValueMessage(value, typed, member);
    }
    if (member.assignment &&
        (value.empty() || value.front() == '=' || value.find('=') == std::string::npos)) {
      return invalidValueMessage(value, typed, member) +
             ": it must read NAME=VALUE, with a name before the '='";
    }
    arguments_.append(member.property, std::move(value));
    return std::nullopt;
  }

  std::optional<std::string> assignPositionals() {
    std::size_t next = 0;
    for (const ArgSpec& member : command_.members) {
      if (member.kind == ArgKind::positional && next < values_.size()) {
        arguments_.append(member.property, values_[next++]);
      } else if (member.required && !arguments_.has(member.property)) {
        return missingArgumentMessage(member);
      }
    }
    if (next < values_.size()) {
      return unexpectedArgumentsMessage(std::span(values_).subspan(next));
    }
    for (const ArgSpec& member : command_.members) {
      if (!member.defaultValue.empty() && !arguments_.has(member.property)) {
        arguments_.append(member.property, member.defaultValue);
      }
    }
    return std::nullopt;
  }

  const CommandSpec& command_;
  std::span<const std::string> words_;
  ParsedArguments& arguments_;
  std::vector<std::string> values_;
  std::size_t i_ = 0;
};

const ArgSpec* remainingOption(const CommandSpec& command, std::string_view word) {
  const ArgSpec* member = findLong(command, word.substr(0, word.find('=')));
  return member != nullptr && member->kind == ArgKind::remainingOption ? member : nullptr;
}

}  // namespace

bool asksForHelp(const CommandSpec& command, std::span<const std::string> words) {
  for (const std::string& word : words) {
    if (word == "--" || (word.starts_with("--") && remainingOption(command, word))) return false;
    if (word == "--help") return true;
    bool shortGroup = word.size() > 1 && word[0] == '-' && word[1] != '-';
    if (shortGroup && word.find('=') == std::string::npos && word.find('h') != std::string::npos) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> parseMembers(const CommandSpec& command,
                                        std::span<const std::string> words,
                                        ParsedArguments& arguments) {
  return MemberParser(command, words, arguments).run();
}

}  // namespace qor::cli
