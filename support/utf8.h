#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qor::support {

// The bytes as valid UTF-8: each maximal ill-formed subsequence becomes U+FFFD, as the platform
// does when it turns process arguments into text, so invalid UTF-8 never travels further.
std::string sanitizeUtf8(std::string_view bytes);

// On valid UTF-8: the byte length of the character that starts with `lead`, and the number of
// characters of a text (what the help layout counts as columns).
std::size_t utf8SequenceLength(unsigned char lead);
std::size_t utf8Length(std::string_view text);

// D-Bus texts are UTF-8 without NUL, so bytes sent as text must be made to fit.

// The length of the longest start of `bytes` that is valid UTF-8 without NUL and cut only at
// the end of a character; `complete` is false when invalid bytes follow it, not just a cut one.
std::size_t textPrefixLength(std::string_view bytes, bool& complete);

// `bytes` with every NUL and every byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string validText(std::string_view bytes);

}  // namespace qor::support
