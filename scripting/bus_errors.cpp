#include "scripting/bus_errors.h"

#include "contract/errors.h"

namespace qor::scripting {

namespace {

std::string signatureText(std::string_view signature) {
  return signature.empty() ? std::string("nothing") : std::string(signature);
}

}  // namespace

std::int64_t statusForErrorName(std::string_view errorName) {
  switch (contract::failureKindOf(errorName)) {
    case contract::FailureKind::notPermitted:
      return kNotPermitted;
    case contract::FailureKind::noSuchObject:
      return kNoSuchObject;
    case contract::FailureKind::timedOut:
      return kTimedOut;
    case contract::FailureKind::noOwner:
    case contract::FailureKind::requestFailed:
      break;
  }
  return kRequestFailed;
}

bool isNoOwnerError(std::string_view errorName) {
  return contract::failureKindOf(errorName) == contract::FailureKind::noOwner;
}

std::string wrongTypeReason(std::string_view expected, std::string_view got) {
  return "the reply has an unexpected type (expected " + signatureText(expected) + ", got " +
         signatureText(got) + ")";
}

PlatformError requestFailure(std::string_view shortInterface, std::string_view member,
                             std::string_view reason, std::int64_t code,
                             std::string_view errorString) {
  PlatformError error;
  error.domain = NSOSStatusErrorDomain;
  error.code = code;
  error.localizedDescription = "The request " + std::string(shortInterface) + "." +
                               std::string(member) + " failed: " + std::string(reason) +
                               " (OSStatus error " + std::to_string(code) + ".)";
  if (!errorString.empty()) error.userInfo["ErrorString"] = std::string(errorString);
  return error;
}

}  // namespace qor::scripting
