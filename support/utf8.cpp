#include "support/utf8.h"

namespace qor::support {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

struct Range {
  unsigned char low;
  unsigned char high;
};

// The allowed range of the second byte after a lead byte (the later bytes are always 80..BF);
// the narrower ranges exclude overlong forms, surrogates and values above U+10FFFF.
Range secondByteRange(unsigned char lead) {
  if (lead == 0xE0) return {0xA0, 0xBF};
  if (lead == 0xED) return {0x80, 0x9F};
  if (lead == 0xF0) return {0x90, 0xBF};
  if (lead == 0xF4) return {0x80, 0x8F};
  return {0x80, 0xBF};
}

// 0 for a byte that cannot start a character.
std::size_t expectedLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// How many bytes from `i` on continue the character whose lead byte is at `i` (1 when only the
// lead byte is well formed); equal to expectedLength when the character is whole.
std::size_t wellFormedLength(std::string_view bytes, std::size_t i, std::size_t length) {
  const auto lead = static_cast<unsigned char>(bytes[i]);
  std::size_t valid = 1;
  while (valid < length && i + valid < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[i + valid]);
    const Range range = valid == 1 ? secondByteRange(lead) : Range{0x80, 0xBF};
    if (byte < range.low || byte > range.high) break;
    ++valid;
  }
  return valid;
}

}  // namespace

std::string sanitizeUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t length = expectedLength(static_cast<unsigned char>(bytes[i]));
    if (length == 0) {
      text += kReplacement;
      ++i;
      continue;
    }
    const std::size_t valid = wellFormedLength(bytes, i, length);
    if (valid == length) {
      text.append(bytes.substr(i, length));
    } else {
      text += kReplacement;  // the truncated prefix; the offending byte starts over
    }
    i += valid;
  }
  return text;
}

std::size_t utf8SequenceLength(unsigned char lead) {
  const std::size_t length = expectedLength(lead);
  return length == 0 ? 1 : length;
}

std::size_t utf8Length(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::size_t textPrefixLength(std::string_view bytes, bool& complete) {
  complete = true;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead == 0 ? 0 : expectedLength(lead);
    if (length == 0) break;
    const std::size_t valid = wellFormedLength(bytes, i, length);
    if (valid < length) {
      if (i + valid == bytes.size()) return i;  // a character cut by the end of the chunk
      break;
    }
    i += length;
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
    out += kReplacement;  // for the one byte that does not fit
    bytes.remove_prefix(n + 1);
  }
  return out;
}

}  // namespace qor::support
