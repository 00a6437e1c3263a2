#pragma once

#include <string_view>

namespace qor::support {

// The shape D-Bus gives interface, error and well-known bus names: two or more dot-separated
// elements of letters, digits and "_" (and "-" where `allowDash`), none empty or starting with a
// digit, 255 bytes at most.
bool isDottedName(std::string_view name, bool allowDash);

// A well-known bus name ("org.qor.Qor"); unique names (":1.7") are not.
bool isWellKnownBusName(std::string_view name);

// An error name ("org.qor.Scripting1.Error.Failed"): dotted, without dashes.
bool isErrorName(std::string_view name);

}  // namespace qor::support
