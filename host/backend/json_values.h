#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "contract/value.h"
#include "host/backend/json.h"
#include "host/backend/result.h"

namespace qor::host {

// A four-character code in JSON: a string of four ASCII characters ("TcP ") or any 32-bit
// integer, so that codes outside every table can be written too.
std::optional<std::uint32_t> codeFromJson(const Json& value);
// Written as four characters when all are printable ASCII, else as an unsigned integer.
Json codeToJson(std::uint32_t code);

// A scripted GetResult record of the world file as an a{sv} value. Values are JSON booleans (b),
// integers (x, or t above the signed range), numbers with a fraction (d) and strings (s), or
// {"type": "<basic D-Bus type>", "value": …} for any other basic type. An error names the
// offending key.
Result<contract::Value> recordFromJson(const Json& record);

// A JSON value as a D-Bus value of the given complete type: booleans, numbers (range-checked),
// strings (an object path must be valid; `u` also takes a four-character code), arrays as JSON
// arrays, and `a{sv}` as a record (above). An error says what did not fit.
Result<contract::Value> valueFromJson(const Json& json, std::string_view signature);

// Natural JSON for logs and world files: a{s…} as an object, variants as their content, object
// paths and signatures as strings, structs and other arrays as arrays.
Json toJson(const contract::Value& v);

}  // namespace qor::host
