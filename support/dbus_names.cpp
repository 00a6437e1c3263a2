#include "support/dbus_names.h"

namespace qor::support {

bool isDottedName(std::string_view name, bool allowDash) {
  if (name.empty() || name.size() > 255) return false;
  int elements = 0;
  bool atStart = true;
  for (char c : name) {
    const bool letter =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (allowDash && c == '-');
    const bool digit = c >= '0' && c <= '9';
    if (c == '.') {
      if (atStart) return false;
      atStart = true;
    } else if (letter || (digit && !atStart)) {
      if (atStart) ++elements;
      atStart = false;
    } else {
      return false;
    }
  }
  return !atStart && elements >= 2;
}

bool isWellKnownBusName(std::string_view name) {
  return isDottedName(name, true);
}

bool isErrorName(std::string_view name) {
  return isDottedName(name, false);
}

}  // namespace qor::support
