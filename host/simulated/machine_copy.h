#pragma once

#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <variant>

#include "host/simulated/world.h"

namespace qor::host {

// How a machine is duplicated in the world: the copy's id, name and guest files. It never adds the
// copy to the world; its caller does.

// A fresh UUID (version 4) in upper case, in the usual 8-4-4-4-12 form.
std::string newUuid(std::mt19937_64& random);

// "<name> Copy", else "<name> Copy 2", "<name> Copy 3", … : the first no machine has.
std::string copyName(const World& world, const std::string& name);

// A stopped copy of `source` with a new id and the given (or a chosen) name; what the host
// scripted for the source's programs stays with the source.
Machine copyOfMachine(const Machine& source, World& world, const std::optional<std::string>& name,
                      std::mt19937_64& random);

// The copy's guest starts with the source's files; a source without files gives an empty one.
void copyGuestFiles(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace qor::host
