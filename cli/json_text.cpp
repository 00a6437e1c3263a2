#include "cli/json_text.h"

#include "support/utf8.h"

namespace qor::cli::json {
namespace {

constexpr char kHex[] = "0123456789abcdef";

}  // namespace

std::string string(std::string_view text) {
  const std::string valid = support::sanitizeUtf8(text);
  std::string out = "\"";
  for (const char c : valid) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xf];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string number(std::int64_t value) {
  return std::to_string(value);
}

std::string stringOrNull(const std::optional<std::string>& text) {
  return text ? string(*text) : std::string(kNull);
}

std::string numberOrNull(const std::optional<std::int64_t>& value) {
  return value ? number(*value) : std::string(kNull);
}

std::string array(const std::vector<std::string>& values) {
  std::string out = "[";
  for (const std::string& value : values) {
    if (out.size() > 1) out += ", ";
    out += value;
  }
  return out + "]";
}

Object& Object::add(std::string_view key, std::string value) {
  if (!members_.empty()) members_ += ", ";
  members_ += string(key) + ": " + value;
  return *this;
}

std::string Object::text() const {
  return "{" + members_ + "}";
}

}  // namespace qor::cli::json
