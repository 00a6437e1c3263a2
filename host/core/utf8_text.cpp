#include "host/core/utf8_text.h"

namespace qor::host {

std::size_t textPrefixLength(std::string_view bytes, bool& complete) {
  complete = true;
  std::size_t i = 0;
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  while (i < bytes.size()) {
    const unsigned char c = at(i);
    if (c == 0) break;
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    if (c >= 0xE0 && c <= 0xEF) len = 3;
    if (c >= 0xF0 && c <= 0xF4) len = 4;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;  // no surrogates
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
    if (len == 0) break;
    bool ok = true;
    std::size_t k = 1;
    for (; k < len && i + k < bytes.size(); ++k) {
      const unsigned char b = at(i + k);
      ok = ok && (k == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF));
    }
    if (!ok) break;
    if (k < len) return i;  // a character cut by the end of the chunk
    i += len;
  }
  if (i < bytes.size()) complete = false;
  return i;
}

std::string validText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    bool complete = true;
    const auto n = textPrefixLength(bytes, complete);
    out.append(bytes.substr(0, n));
    if (n == bytes.size()) break;
    out += "\xEF\xBF\xBD";  // U+FFFD for the one byte that does not fit
    bytes.remove_prefix(n + 1);
  }
  return out;
}

}  // namespace qor::host
