#pragma once

#include <nlohmann/json.hpp>

namespace qor::host {

// Key order is kept, so a world file or log line reads back as it was written.
using Json = nlohmann::ordered_json;

}  // namespace qor::host
