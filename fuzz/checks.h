#pragma once

// Invariant checks shared by the fuzz targets. They are written from the D-Bus naming rules and
// from Unicode itself, not taken from the code under test, so a fault there cannot hide in the
// check as well.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace qor::fuzz {

// Reports a broken invariant with the text that broke it, then stops the run so libFuzzer saves
// the input.
[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "invariant broken: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    std::fprintf(stderr, "  in: %.*s\n", static_cast<int>(detail.size()), detail.data());
  }
  std::abort();
}

inline void check(bool holds, std::string_view what, std::string_view detail = {}) {
  if (!holds) fail(what, detail);
}

// The length of the well-formed UTF-8 character at `at`, or 0: overlong forms, surrogates and
// values above U+10FFFF are not characters.
inline std::size_t utf8CharacterAt(std::string_view s, std::size_t at) {
  const auto lead = static_cast<unsigned char>(s[at]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint32_t value = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1Fu;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0Fu;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07u;
  } else {
    return 0;
  }
  if (s.size() - at < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(s[at + k]);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3Fu);
  }
  static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || value > 0x10FFFF) return 0;
  if (value >= 0xD800 && value <= 0xDFFF) return 0;
  return length;
}

inline bool isValidUtf8(std::string_view s) {
  for (std::size_t at = 0; at < s.size();) {
    const std::size_t length = utf8CharacterAt(s, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

// What D-Bus accepts as a text: valid UTF-8 without NUL.
inline bool isBusText(std::string_view s) {
  return isValidUtf8(s) && s.find('\0') == std::string_view::npos;
}

// `bytes` made into a bus text by replacing each offending byte with '?'.
inline std::string toBusText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = bytes[at] == '\0' ? 0 : utf8CharacterAt(bytes, at);
    if (length == 0) {
      out += '?';
      ++at;
    } else {
      out.append(bytes.substr(at, length));
      at += length;
    }
  }
  return out;
}

// Interface and error names ("org.qor.Scripting1.Error.Failed") and well-known bus names
// ("org.qor.Qor", which may also hold '-'): at most 255 bytes, two or more elements separated by
// dots, each non-empty, of ASCII letters, digits and '_' (and the extra characters), and not
// starting with a digit.
inline bool isDottedName(std::string_view s, std::string_view extra) {
  if (s.empty() || s.size() > 255) return false;
  std::size_t elements = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = s.find('.', start);
    const std::string_view element =
        s.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (element.empty() || (element[0] >= '0' && element[0] <= '9')) return false;
    for (const char c : element) {
      const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c >= '0' && c <= '9') || c == '_' ||
                         extra.find(c) != std::string_view::npos;
      if (!plain) return false;
    }
    ++elements;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return elements >= 2;
}

inline bool isWellKnownBusName(std::string_view s) {
  return isDottedName(s, "-");
}
inline bool isErrorName(std::string_view s) {
  return isDottedName(s, "");
}

}  // namespace qor::fuzz
