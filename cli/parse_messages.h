#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "cli/command_types.h"

namespace qor::cli {

// The parser's messages, worded as users of such tools know them. `typed` is the option name as
// it appeared on the command line ("--name", "-a").
std::string unknownOptionMessage(std::string_view typed, const CommandSpec& command);
std::string unexpectedArgumentsMessage(std::span<const std::string> values);
std::string missingArgumentMessage(const ArgSpec& member);
std::string missingValueMessage(std::string_view typed, const ArgSpec& member);
std::string invalidValueMessage(std::string_view value, std::string_view typed,
                                const ArgSpec& member);
// A value that is not valid UTF-8: which member (the `index`th of its `count` values), and the
// offset of the first byte that belongs to no character.
std::string invalidTextMessage(const ArgSpec& member, std::size_t index, std::size_t count,
                               std::size_t offset, unsigned char byte);
std::string flagWithValueMessage(std::string_view typed, std::string_view value);

// Levenshtein distance in characters.
std::size_t editDistance(std::string_view a, std::string_view b);

}  // namespace qor::cli
