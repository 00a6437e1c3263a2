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

std::string_view errorNameOf(HostErrorKind kind) {
  using namespace error_names;
  switch (kind) {
    case HostErrorKind::invalidArgs:
      return kInvalidArgs;
    case HostErrorKind::invalidState:
      return kInvalidState;
    case HostErrorKind::noObject:
      return kUnknownObject;
    case HostErrorKind::noInterface:
      return kUnknownInterface;
    case HostErrorKind::noMethod:
      return kUnknownMethod;
    case HostErrorKind::noProperty:
      return kUnknownProperty;
    case HostErrorKind::readOnly:
      return kPropertyReadOnly;
    case HostErrorKind::noValue:
      return kNoValue;
    case HostErrorKind::notSupported:
      return kNotSupported;
    // A manager out of reach and an agent that does not answer are the host's own failures,
    // not the bus's NoReply: the client reads the host's words either way.
    case HostErrorKind::unavailable:
    case HostErrorKind::timeout:
    case HostErrorKind::failed:
      break;
  }
  return kHostFailed;
}

}  // namespace qor::contract
