#include "scripting/info_plist.h"

#include <plist/plist.h>
#include <systemd/sd-bus.h>

#include <fstream>
#include <iterator>
#include <memory>

namespace qor::scripting {

namespace {

// An Info.plist is a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t kMaximumPlistSize = 4 * 1024 * 1024;

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

std::optional<std::string> readSmallFile(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
  const auto size = std::filesystem::file_size(file, error);
  if (error || size > kMaximumPlistSize) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return std::nullopt;
  return bytes;
}

PlistPtr parsePlist(const std::string& bytes) {
  if (bytes.empty()) return nullptr;
  const auto length = static_cast<std::uint32_t>(bytes.size());
  plist_t root = nullptr;
  if (plist_is_binary(bytes.data(), length)) {
    plist_from_bin(bytes.data(), length, &root);
  } else {
    plist_from_xml(bytes.data(), length, &root);
  }
  return PlistPtr(root);
}

std::optional<std::string> stringEntry(plist_t dictionary, const char* key) {
  plist_t item = plist_dict_get_item(dictionary, key);
  if (item == nullptr || plist_get_node_type(item) != PLIST_STRING) return std::nullopt;
  std::uint64_t length = 0;
  const char* text = plist_get_string_ptr(item, &length);
  if (text == nullptr) return std::nullopt;
  return std::string(text, static_cast<std::size_t>(length));
}

bool isPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

}  // namespace

std::optional<std::filesystem::path> BundleInfo::program() const {
  if (!executable) return std::nullopt;
  return bundle / "Contents" / "MacOS" / *executable;
}

bool isWellKnownBusName(std::string_view name) {
  if (name.empty() || name.front() == ':') return false;
  const std::string text(name);
  if (text.find('\0') != std::string::npos) return false;
  return sd_bus_service_name_is_valid(text.c_str()) > 0;
}

std::optional<BundleInfo> readBundleInfo(const std::filesystem::path& bundle) {
  std::error_code error;
  if (!std::filesystem::is_directory(bundle, error)) return std::nullopt;
  const auto bytes = readSmallFile(bundle / "Contents" / "Info.plist");
  if (!bytes) return std::nullopt;
  const PlistPtr root = parsePlist(*bytes);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;

  auto identifier = stringEntry(root.get(), "CFBundleIdentifier");
  if (!identifier || !isWellKnownBusName(*identifier)) return std::nullopt;

  BundleInfo info;
  info.bundle = bundle;
  info.identifier = std::move(*identifier);
  if (auto executable = stringEntry(root.get(), "CFBundleExecutable");
      executable && isPlainFileName(*executable)) {
    info.executable = std::move(*executable);
  }
  return info;
}

}  // namespace qor::scripting
