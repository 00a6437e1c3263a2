#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qor::support {

// Base64 of the standard alphabet of RFC 4648 ("+", "/", "=" padding), one line.
std::string base64Encode(std::string_view bytes);

// Strict decoding: any character outside the alphabet, a line break, a length that is not a
// multiple of four, or a pad anywhere but at the end make the text undecodable (nullopt). The
// empty text decodes to no bytes.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace qor::support
