#pragma once

#include <string_view>

namespace qor::host {

// The shape D-Bus gives interface, error and well-known bus names: two or more dot-separated
// elements of letters, digits and "_" (and "-" where `allowDash`), none empty or starting with a
// digit, 255 bytes at most.
bool isDottedName(std::string_view name, bool allowDash);

}  // namespace qor::host
