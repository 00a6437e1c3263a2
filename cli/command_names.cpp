#include <cctype>
#include <string>

#include "cli/command_types.h"

namespace qor::cli {
namespace {

bool isUpper(char c) {
  return std::isupper(static_cast<unsigned char>(c)) != 0;
}
bool isLower(char c) {
  return std::islower(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::string deriveName(const std::string& camelCase) {
  std::string name;
  for (std::size_t i = 0; i < camelCase.size(); ++i) {
    char c = camelCase[i];
    if (isUpper(c) && i > 0) {
      // A new word starts after a lower-case letter, or at the last capital of a run of capitals
      // that a lower-case letter follows ("IPAddress": the A of Address).
      bool afterLower = !isUpper(camelCase[i - 1]);
      bool endsRun = i + 1 < camelCase.size() && isLower(camelCase[i + 1]);
      if (afterLower || endsRun) name += '-';
    }
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

std::string CommandSpec::commandName() const {
  return explicitName.empty() ? deriveName(typeName) : explicitName;
}

}  // namespace qor::cli
