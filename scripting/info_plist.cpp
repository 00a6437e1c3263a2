#include "scripting/info_plist.h"

#include "support/dbus_names.h"
#include "support/info_plist.h"

namespace qor::scripting {

namespace {

bool isPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

}  // namespace

std::optional<std::filesystem::path> BundleInfo::program() const {
  if (!executable) return std::nullopt;
  return bundle / "Contents" / "MacOS" / *executable;
}

std::optional<BundleInfo> readBundleInfo(const std::filesystem::path& bundle) {
  std::error_code error;
  if (!std::filesystem::is_directory(bundle, error)) return std::nullopt;
  auto entries = support::readInfoPlist(bundle / "Contents" / "Info.plist");
  if (!entries || !entries->identifier || !support::isWellKnownBusName(*entries->identifier)) {
    return std::nullopt;
  }
  BundleInfo info;
  info.bundle = bundle;
  info.identifier = std::move(*entries->identifier);
  if (entries->executable && isPlainFileName(*entries->executable)) {
    info.executable = std::move(*entries->executable);
  }
  return info;
}

}  // namespace qor::scripting
