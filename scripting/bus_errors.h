#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "scripting/event_error_handler.h"

namespace qor::scripting {

// OSStatus codes the bridge reports, in the platform's vocabulary.
inline constexpr std::int64_t kNotPermitted = -1743;   // no session bus, or AccessDenied
inline constexpr std::int64_t kHostNotRunning = -600;  // not running, could not be launched
inline constexpr std::int64_t kNoSuchObject = -1728;
inline constexpr std::int64_t kTimedOut = -1712;
inline constexpr std::int64_t kWrongType = -1700;
inline constexpr std::int64_t kRequestFailed = -10000;

// Reasons that are not D-Bus error names.
inline constexpr std::string_view kNoSessionBus = "no session bus";
inline constexpr std::string_view kNotLaunched =
    "the host is not running and could not be launched";

// The OSStatus code of an error reply, by its D-Bus error name.
std::int64_t statusForErrorName(std::string_view errorName);

// True for the bus daemon's answers that say the destination name has no owner.
bool isNoOwnerError(std::string_view errorName);

// "the reply has an unexpected type (expected ao, got s)"; an empty signature reads "nothing".
std::string wrongTypeReason(std::string_view expected, std::string_view got);

// The error object for a failed request: "The request <Short>.<Member> failed: <reason>
// (OSStatus error <code>.)", with the error reply's message as ErrorString when it is not empty.
PlatformError requestFailure(std::string_view shortInterface, std::string_view member,
                             std::string_view reason, std::int64_t code,
                             std::string_view errorString = {});

}  // namespace qor::scripting
