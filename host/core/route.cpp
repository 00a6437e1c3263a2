#include "host/core/route.h"

namespace qor::host {

Failure wrongSignature(std::string_view expected, std::string_view got) {
  return invalidArgs("Expected arguments of type '" + std::string(expected) + "', got '" +
                     std::string(got) + "'.");
}

Failure noValue(std::string_view property) {
  return {HostErrorKind::noValue, "The property " + std::string(property) + " has no value."};
}

}  // namespace qor::host
