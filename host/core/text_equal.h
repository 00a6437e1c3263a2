#pragma once

#include <string>
#include <string_view>

namespace qor::host {

// Texts are equal when they are canonically equivalent (NFC of both is the same): case-sensitive
// and without trimming. Bytes that are not valid UTF-8 compare as they are.
bool textEqual(std::string_view a, std::string_view b);

// The NFC form of `text`, or the text unchanged when it is not valid UTF-8.
std::string canonicalText(std::string_view text);

}  // namespace qor::host
