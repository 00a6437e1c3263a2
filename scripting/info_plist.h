#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qor::scripting {

// What the bridge needs from a bundle's Contents/Info.plist.
struct BundleInfo {
  std::filesystem::path bundle;
  std::string identifier;  // CFBundleIdentifier: the host's well-known bus name
  // CFBundleExecutable, kept only when it is a plain file name, so a launch cannot reach
  // outside Contents/MacOS.
  std::optional<std::string> executable;

  // Contents/MacOS/<executable>, or nullopt when the bundle names no launchable program.
  std::optional<std::filesystem::path> program() const;
};

// Reads Contents/Info.plist (XML or binary). Nullopt when the folder or the file is missing or
// unreadable, the file is not a property list holding a dictionary, or CFBundleIdentifier is not
// a string that is a valid well-known bus name.
std::optional<BundleInfo> readBundleInfo(const std::filesystem::path& bundle);

}  // namespace qor::scripting
