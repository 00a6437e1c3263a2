#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qor::support {

// Base64 of the standard alphabet of RFC 4648 ("+", "/", "=" padding), one line.
std::string base64Encode(std::string_view bytes);
// The same, written to `out`, which has room for base64Length(bytes.size()) characters.
std::size_t base64Length(std::size_t byteCount);
void base64EncodeInto(std::string_view bytes, char* out);

// Strict decoding: any character outside the alphabet, a line break, a length that is not a
// multiple of four, or a pad anywhere but at the end make the text undecodable (nullopt). The
// empty text decodes to no bytes.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace qor::support
