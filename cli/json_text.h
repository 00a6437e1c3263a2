#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The JSON documents commands print for programs: one line, keys in the order they are added,
// ", " and ": " between items, text as UTF-8 with only what JSON requires escaped. Each function
// answers the text of one JSON value.
namespace qor::cli::json {

// A quoted string: quotes, backslashes and control characters escaped; bytes that are not
// valid UTF-8 become U+FFFD, so the document is always valid.
std::string string(std::string_view text);
std::string number(std::int64_t value);
inline constexpr std::string_view kNull = "null";

// A value the host did not give is null, never a made-up one.
std::string stringOrNull(const std::optional<std::string>& text);
std::string numberOrNull(const std::optional<std::int64_t>& value);

std::string array(const std::vector<std::string>& values);

class Object {
 public:
  Object& add(std::string_view key, std::string value);
  std::string text() const;

 private:
  std::string members_;
};

}  // namespace qor::cli::json
