#pragma once

#include <filesystem>

#include "host/backend/json.h"
#include "host/backend/result.h"

namespace qor::host {

// The world a fresh simulated host starts with, written once where no world file exists yet; it
// never overwrites a world that is there.

// The world a fresh host starts with: a small tour of every kind of object.
Json defaultWorldJson();

// Writes the default world to `file` (creating its folder) with a few files in the started
// guest.
Result<Done> createDefaultWorld(const std::filesystem::path& file);

}  // namespace qor::host
