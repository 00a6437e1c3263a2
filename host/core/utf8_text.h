#pragma once

#include <string>
#include <string_view>

namespace qor::host {

// D-Bus texts are UTF-8 without NUL, so bytes sent as text must be made to fit.

// The length of the longest start of `bytes` that is valid UTF-8 without NUL and cut only at
// the end of a character; `complete` is false when invalid bytes follow it, not just a cut one.
std::size_t textPrefixLength(std::string_view bytes, bool& complete);

// `bytes` with every NUL and every byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string validText(std::string_view bytes);

}  // namespace qor::host
