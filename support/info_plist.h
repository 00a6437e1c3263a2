#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace qor::support {

// The entries of a bundle's Contents/Info.plist that the tool and the host read, as the file
// holds them (each nullopt when missing or not a string).
struct InfoPlist {
  std::optional<std::string> identifier;  // CFBundleIdentifier
  std::optional<std::string> executable;  // CFBundleExecutable
};

// Reads an XML or binary property list; nullopt when the file is missing, unreadable, far too
// large to be an Info.plist, or not a property list holding a dictionary.
std::optional<InfoPlist> readInfoPlist(const std::filesystem::path& file);

}  // namespace qor::support
