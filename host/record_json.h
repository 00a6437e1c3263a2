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

// A JSON value as a D-Bus value of the given complete type: booleans, numbers (range-checked),
// strings (an object path must be valid; `u` also takes a four-character code), arrays as JSON
// arrays, and `a{sv}` as a record (above). An error says what did not fit.
std::variant<Value, std::string> valueFromJson(const Json& json, std::string_view signature);

}  // namespace qor::host
