#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qor::cli {

// The bytes as valid UTF-8: each maximal ill-formed subsequence becomes U+FFFD, as the platform
// does when it turns process arguments into text, so invalid UTF-8 never travels further.
std::string sanitizeUtf8(std::string_view bytes);

// On valid UTF-8: the byte length of the character that starts with `lead`, and the number of
// characters of a text (what the help layout counts as columns).
std::size_t utf8SequenceLength(unsigned char lead);
std::size_t utf8Length(std::string_view text);

}  // namespace qor::cli
