#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "host/core/record_json.h"
#include "host/simulated/world.h"

namespace qor::host {

// The world described by a parsed world file, or a message naming what is wrong in it. Keys
// are checked strictly, since a mistyped world would otherwise test something else than meant.
std::variant<World, std::string> worldFromJson(const Json& json, std::filesystem::path folder);
Json worldToJson(const World& world);

std::variant<World, std::string> loadWorldFile(const std::filesystem::path& file);
// Writes a temporary file beside `file` and renames it over, so a reader never sees half a
// world. Answers an error message, or nullopt.
std::optional<std::string> saveWorldFile(const World& world, const std::filesystem::path& file);

}  // namespace qor::host
