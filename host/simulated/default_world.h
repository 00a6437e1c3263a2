#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "host/simulated/world.h"

namespace qor::host {

// The world a fresh host starts with: a small tour of every kind of object.
Json defaultWorldJson();

// Writes the default world to `file` (creating its folder) with a few files in the started
// guest. Answers an error message, or nullopt.
std::optional<std::string> createDefaultWorld(const std::filesystem::path& file);

}  // namespace qor::host
