#pragma once

#include <cstdint>
#include <filesystem>

#include "host/backend/json_values.h"
#include "host/backend/result.h"
#include "host/simulated/world.h"

namespace qor::host {

// The world file: JSON to World and back, read and written whole. It checks what a world may
// hold and names the key that is wrong; it never decides what a request does.

// The world described by a parsed world file, or a failure whose message names what is wrong in
// it. Keys are checked strictly, since a mistyped world would otherwise test something else than
// meant. The fault list is kept as written: the layer that acts on faults reads it.
Result<World> worldFromJson(const Json& json, std::filesystem::path folder);
Json worldToJson(const World& world);

Result<World> loadWorldFile(const std::filesystem::path& file);
// Writes a temporary file beside `file` and renames it over, so a reader never sees half a
// world.
Result<Done> saveWorldFile(const World& world, const std::filesystem::path& file);

}  // namespace qor::host
