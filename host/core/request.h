#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/core/value.h"

namespace qor::host {

// A method call as the host received it, free of the bus library.
struct Request {
  std::string path;
  std::optional<std::string> interface;  // a call may leave it out
  std::string member;
  std::string signature;  // of all arguments together
  std::vector<Value> args;
  std::string sender;  // the unique bus name of the calling connection; not logged
};

struct HostError {
  std::string name;
  std::string message;
};

// What the host answers: the out values of a method return, or an error.
struct Reply {
  std::vector<Value> values;
  std::optional<HostError> error;

  static Reply ok() { return {}; }
  static Reply of(Value v) {
    Reply r;
    r.values.push_back(std::move(v));
    return r;
  }
  static Reply failure(std::string name, std::string message) {
    Reply r;
    r.error = HostError{std::move(name), std::move(message)};
    return r;
  }
  static Reply failure(HostError e) {
    Reply r;
    r.error = std::move(e);
    return r;
  }
};

namespace error_names {
inline constexpr const char* kUnknownObject = "org.freedesktop.DBus.Error.UnknownObject";
inline constexpr const char* kUnknownInterface = "org.freedesktop.DBus.Error.UnknownInterface";
inline constexpr const char* kUnknownMethod = "org.freedesktop.DBus.Error.UnknownMethod";
inline constexpr const char* kUnknownProperty = "org.freedesktop.DBus.Error.UnknownProperty";
inline constexpr const char* kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr const char* kPropertyReadOnly = "org.freedesktop.DBus.Error.PropertyReadOnly";
inline constexpr const char* kInvalidState = "org.qor.Scripting1.Error.InvalidState";
inline constexpr const char* kFailed = "org.qor.Scripting1.Error.Failed";
inline constexpr const char* kNoValue = "org.qor.Scripting1.Error.NoValue";
}  // namespace error_names

inline HostError invalidArgs(std::string message) {
  return {error_names::kInvalidArgs, std::move(message)};
}
inline HostError invalidState(std::string message) {
  return {error_names::kInvalidState, std::move(message)};
}
inline HostError failed(std::string message) {
  return {error_names::kFailed, std::move(message)};
}

}  // namespace qor::host
