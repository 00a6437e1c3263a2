#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor::cli {

// The values the parser filled for the selected command, keyed by property name ("saveState",
// "identifier", "cmd"). Flags absent from the command line read as false; options and positionals
// not given read as empty.
class ParsedArguments {
 public:
  bool flag(std::string_view property) const;
  void setFlag(const std::string& property, bool value);

  // The value of a single-value option or positional; the last occurrence wins.
  std::optional<std::string> value(std::string_view property) const;
  // Every value of a repeated option, or the words taken by a remaining option, in order.
  const std::vector<std::string>& values(std::string_view property) const;
  bool has(std::string_view property) const;

  void append(const std::string& property, std::string value);

 private:
  std::map<std::string, bool, std::less<>> flags_;
  std::map<std::string, std::vector<std::string>, std::less<>> values_;
};

}  // namespace qor::cli
