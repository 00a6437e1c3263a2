#include "support/uuid.h"

#include <array>
#include <cstddef>

#include "support/text_equal.h"

namespace qor::support {

namespace {

constexpr std::size_t kUuidLength = 36;
constexpr std::array<std::size_t, 4> kHyphens = {8, 13, 18, 23};

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool isUuid(std::string_view text) {
  if (text.size() != kUuidLength) return false;
  std::size_t next = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (next < kHyphens.size() && i == kHyphens[next]) {
      if (text[i] != '-') return false;
      ++next;
    } else if (!isHexDigit(text[i])) {
      return false;
    }
  }
  return true;
}

std::string uuidKey(std::string_view text) {
  std::string key(text);
  if (!isUuid(text)) return key;
  for (char& c : key) c = upper(c);
  return key;
}

bool sameIdentifier(std::string_view a, std::string_view b) {
  if (canonicallyEqual(a, b)) return true;
  return isUuid(a) && isUuid(b) && uuidKey(a) == uuidKey(b);
}

}  // namespace qor::support
