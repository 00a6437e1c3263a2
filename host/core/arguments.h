#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/core/request.h"
#include "host/core/value.h"

namespace qor::host {

// The name Duplicate's record asks for: {"configuration": <{}>} gives nullopt (the host picks
// one), {"configuration": <{"name": <s>}>} that name, an empty one included. Any other shape,
// key or type is refused with InvalidArgs.
std::variant<std::optional<std::string>, HostError> duplicateName(const Value& properties);

// The texts of an "as" argument.
std::vector<std::string> textsOf(const Value& array);

}  // namespace qor::host
