#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qor::commands {

// The UTF-8 text padded with spaces, or cut, to `width` UTF-16 code units. A character outside
// the Basic Multilingual Plane counts two units and is never split: a cut that would split it
// stops before it (and pads the one unit left), so the result is always valid UTF-8.
std::string utf16Field(std::string_view text, std::size_t width);

// A vendor or product id as the device list shows it: "%04X" of the whole 64-bit value; a value
// the host did not give shows as "????".
std::string hexField(std::optional<std::int64_t> value);

}  // namespace qor::commands
