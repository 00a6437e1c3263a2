#pragma once

#include <string>
#include <variant>

#include "host/value.h"
#include "host/world.h"

namespace qor::host {

// A scripted GetResult record of the world file as an a{sv} value. Values are JSON booleans (b),
// integers (x, or t above the signed range), numbers with a fraction (d) and strings (s), or
// {"type": "<basic D-Bus type>", "value": …} for any other basic type. An error names the
// offending key.
std::variant<Value, std::string> recordFromJson(const Json& record);

}  // namespace qor::host
