#include "support/info_plist.h"

#include <plist/plist.h>

#include <fstream>
#include <iterator>
#include <memory>

namespace qor::support {
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

}  // namespace

std::optional<InfoPlist> readInfoPlist(const std::filesystem::path& file) {
  const auto bytes = readSmallFile(file);
  if (!bytes) return std::nullopt;
  const PlistPtr root = parsePlist(*bytes);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;
  return InfoPlist{stringEntry(root.get(), "CFBundleIdentifier"),
                   stringEntry(root.get(), "CFBundleExecutable")};
}

}  // namespace qor::support
