#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "host/world.h"

namespace qor::host {

// A four-character code in the world file: a string of four ASCII characters ("TcP ") or any
// 32-bit integer, so that codes outside every table can be written too.
std::optional<std::uint32_t> codeFromJson(const Json& value);
// Written as four characters when all are printable ASCII, else as an unsigned integer.
Json codeToJson(std::uint32_t code);

// The world described by a parsed world file, or a message naming what is wrong in it. Keys
// are checked strictly, since a mistyped world would otherwise test something else than meant.
std::variant<World, std::string> worldFromJson(const Json& json, std::filesystem::path folder);
Json worldToJson(const World& world);

std::variant<World, std::string> loadWorldFile(const std::filesystem::path& file);
// Writes a temporary file beside `file` and renames it over, so a reader never sees half a
// world. Answers an error message, or nullopt.
std::optional<std::string> saveWorldFile(const World& world, const std::filesystem::path& file);

}  // namespace qor::host
