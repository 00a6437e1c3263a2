#include "contract/errors.h"

#include <array>
#include <utility>

namespace qor::contract {

FailureKind failureKindOf(std::string_view errorName) {
  using namespace error_names;
  static constexpr std::array<std::pair<std::string_view, FailureKind>, 9> kKinds{{
      {kAccessDenied, FailureKind::notPermitted},
      {kUnknownObject, FailureKind::noSuchObject},
      {kUnknownInterface, FailureKind::noSuchObject},
      {kUnknownMethod, FailureKind::noSuchObject},
      {kUnknownProperty, FailureKind::noSuchObject},
      {kNoReply, FailureKind::timedOut},
      {kTimeout, FailureKind::timedOut},
      {kServiceUnknown, FailureKind::noOwner},
      {kNameHasNoOwner, FailureKind::noOwner},
  }};
  for (const auto& [name, kind] : kKinds) {
    if (name == errorName) return kind;
  }
  return FailureKind::requestFailed;
}

}  // namespace qor::contract
