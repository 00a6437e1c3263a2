#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/core/value.h"
#include "host/core/vocabulary.h"

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
  HostError(std::string_view errorName, std::string text)
      : name(errorName), message(std::move(text)) {}
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
  static Reply failure(std::string_view name, std::string message) {
    Reply r;
    r.error = HostError{name, std::move(message)};
    return r;
  }
  static Reply failure(HostError e) {
    Reply r;
    r.error = std::move(e);
    return r;
  }
};


inline HostError invalidArgs(std::string message) {
  return {error_names::kInvalidArgs, std::move(message)};
}
inline HostError invalidState(std::string message) {
  return {error_names::kInvalidState, std::move(message)};
}
inline HostError failed(std::string message) {
  return {error_names::kHostFailed, std::move(message)};
}

}  // namespace qor::host
