#pragma once

#include <string_view>

namespace qor::contract {

namespace error_names {
inline constexpr std::string_view kUnknownObject = "org.freedesktop.DBus.Error.UnknownObject";
inline constexpr std::string_view kUnknownInterface = "org.freedesktop.DBus.Error.UnknownInterface";
inline constexpr std::string_view kUnknownMethod = "org.freedesktop.DBus.Error.UnknownMethod";
inline constexpr std::string_view kUnknownProperty = "org.freedesktop.DBus.Error.UnknownProperty";
inline constexpr std::string_view kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr std::string_view kPropertyReadOnly = "org.freedesktop.DBus.Error.PropertyReadOnly";
inline constexpr std::string_view kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
inline constexpr std::string_view kNoReply = "org.freedesktop.DBus.Error.NoReply";
inline constexpr std::string_view kTimeout = "org.freedesktop.DBus.Error.Timeout";
inline constexpr std::string_view kServiceUnknown = "org.freedesktop.DBus.Error.ServiceUnknown";
inline constexpr std::string_view kNameHasNoOwner = "org.freedesktop.DBus.Error.NameHasNoOwner";
inline constexpr std::string_view kFailed = "org.freedesktop.DBus.Error.Failed";
// The host's own failures, each with a message written for the user.
inline constexpr std::string_view kHostFailed = "org.qor.Scripting1.Error.Failed";
inline constexpr std::string_view kInvalidState = "org.qor.Scripting1.Error.InvalidState";
inline constexpr std::string_view kNoValue = "org.qor.Scripting1.Error.NoValue";
inline constexpr std::string_view kNotSupported = "org.qor.Scripting1.Error.NotSupported";
}  // namespace error_names

// Why a host could not do what was asked. Hosts speak in these kinds; errorNameOf alone turns a
// kind into the error name a client reads, so that every backend answers one situation alike.
enum class HostErrorKind {
  invalidArgs,   // the arguments are wrong whatever the state
  invalidState,  // not now: the machine's state does not allow it
  noObject,      // the path names nothing (any more)
  noInterface,   // the object has no such interface
  noMethod,      // the object has no such method
  noProperty,    // the object has no such property
  readOnly,      // the property cannot be written
  noValue,       // the property has no value
  notSupported,  // this host's backend has nothing of that kind
  unavailable,   // the VM manager behind the host cannot be reached
  timeout,       // something the host waited for did not answer in time
  failed,        // anything else
};

std::string_view errorNameOf(HostErrorKind kind);

// What an error reply means to a client.
enum class FailureKind {
  notPermitted,   // AccessDenied (and, on the client's side, no session bus)
  noSuchObject,   // UnknownObject, UnknownInterface, UnknownMethod, UnknownProperty
  timedOut,       // NoReply, Timeout
  noOwner,        // the bus daemon's "nobody owns that name": the host is not running
  requestFailed,  // any other error reply
};

FailureKind failureKindOf(std::string_view errorName);

}  // namespace qor::contract
