#include "scripting/bus_errors.h"

#include <array>

namespace qor::scripting {

namespace {

constexpr std::string_view kStandardPrefix = "org.freedesktop.DBus.Error.";

std::string_view standardSuffix(std::string_view errorName) {
  if (errorName.substr(0, kStandardPrefix.size()) != kStandardPrefix) return {};
  return errorName.substr(kStandardPrefix.size());
}

std::string signatureText(std::string_view signature) {
  return signature.empty() ? std::string("nothing") : std::string(signature);
}

}  // namespace

std::int64_t statusForErrorName(std::string_view errorName) {
  const std::string_view suffix = standardSuffix(errorName);
  if (suffix.empty()) return kRequestFailed;
  if (suffix == "AccessDenied") return kNotPermitted;
  static constexpr std::array<std::string_view, 4> kMissing{"UnknownObject", "UnknownInterface",
                                                            "UnknownMethod", "UnknownProperty"};
  for (const auto name : kMissing) {
    if (suffix == name) return kNoSuchObject;
  }
  if (suffix == "NoReply" || suffix == "Timeout") return kTimedOut;
  return kRequestFailed;
}

bool isNoOwnerError(std::string_view errorName) {
  const std::string_view suffix = standardSuffix(errorName);
  return suffix == "ServiceUnknown" || suffix == "NameHasNoOwner";
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
