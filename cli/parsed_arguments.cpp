#include "cli/parsed_arguments.h"

namespace qor::cli {

bool ParsedArguments::flag(std::string_view property) const {
  auto it = flags_.find(property);
  return it != flags_.end() && it->second;
}

void ParsedArguments::setFlag(const std::string& property, bool value) {
  flags_[property] = value;
}

std::optional<std::string> ParsedArguments::value(std::string_view property) const {
  auto it = values_.find(property);
  if (it == values_.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

const std::vector<std::string>& ParsedArguments::values(std::string_view property) const {
  static const std::vector<std::string> none;
  auto it = values_.find(property);
  return it == values_.end() ? none : it->second;
}

bool ParsedArguments::has(std::string_view property) const {
  return values_.contains(property);
}

void ParsedArguments::append(const std::string& property, std::string value) {
  values_[property].push_back(std::move(value));
}

}  // namespace qor::cli
