#pragma once

#include <string>
#include <string_view>

namespace qor::support {

// Texts are equal when they are canonically equivalent (the NFC of both is the same):
// case-sensitive, without trimming, no compatibility folding. Bytes that are not valid UTF-8 have
// no canonical form and are equal only to the very same bytes.
bool canonicallyEqual(std::string_view a, std::string_view b);

// The NFC form of `text`, or the text unchanged when it is not valid UTF-8.
std::string canonicalText(std::string_view text);

}  // namespace qor::support
