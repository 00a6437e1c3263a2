#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "contract/value.h"
#include "host/backend/result.h"

namespace qor::host {

// The name Duplicate's record asks for: {"configuration": <{}>} gives nullopt (the host picks
// one), {"configuration": <{"name": <s>}>} that name, an empty one included. Any other shape,
// key or type is refused with InvalidArgs.
Result<std::optional<std::string>> duplicateName(const contract::Value& properties);

// The texts of an "as" argument.
std::vector<std::string> textsOf(const contract::Value& array);

}  // namespace qor::host
