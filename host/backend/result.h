#pragma once

#include <string>
#include <utility>
#include <variant>

#include "contract/errors.h"

namespace qor::host {

using contract::HostErrorKind;

// Why a request failed: a kind from the contract's closed list and a message written for the
// user. Every layer of the host speaks this; only the bus edge turns the kind into an error
// name (contract::errorNameOf).
struct Failure {
  HostErrorKind kind = HostErrorKind::failed;
  std::string message;

  std::string_view errorName() const { return contract::errorNameOf(kind); }
  bool operator==(const Failure&) const = default;
};

inline Failure invalidArgs(std::string message) {
  return {HostErrorKind::invalidArgs, std::move(message)};
}
inline Failure invalidState(std::string message) {
  return {HostErrorKind::invalidState, std::move(message)};
}
inline Failure noObject(std::string message) {
  return {HostErrorKind::noObject, std::move(message)};
}
inline Failure notSupported(std::string message) {
  return {HostErrorKind::notSupported, std::move(message)};
}
inline Failure unavailable(std::string message) {
  return {HostErrorKind::unavailable, std::move(message)};
}
inline Failure timedOut(std::string message) {
  return {HostErrorKind::timeout, std::move(message)};
}
inline Failure failed(std::string message) {
  return {HostErrorKind::failed, std::move(message)};
}

// The value of a request that answers nothing but success or a failure.
struct Done {};

// A value or why there is none: the one shape of an outcome in the host.
template <class T>
using Result = std::variant<T, Failure>;

template <class T>
bool succeeded(const Result<T>& r) {
  return std::holds_alternative<T>(r);
}
template <class T>
const Failure* failureOf(const Result<T>& r) {
  return std::get_if<Failure>(&r);
}

}  // namespace qor::host
