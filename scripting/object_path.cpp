#include "scripting/object_path.h"

namespace qor::scripting {

std::string hostInterface(std::string_view shortName) {
  std::string name(kInterfacePrefix);
  name += shortName;
  return name;
}

std::string escapePathElement(std::string_view text) {
  if (text.empty()) return "_";
  static constexpr char kHex[] = "0123456789abcdef";
  std::string element;
  element.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool kept = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                      (byte >= '0' && byte <= '9');
    if (kept) {
      element += c;
    } else {
      element += '_';
      element += kHex[byte >> 4];
      element += kHex[byte & 0x0f];
    }
  }
  return element;
}

std::string machinePathWithID(std::string_view id) {
  return std::string(kRootPath) + "/vm/id/" + escapePathElement(id);
}

std::string machinePathWithName(std::string_view name) {
  return std::string(kRootPath) + "/vm/name/" + escapePathElement(name);
}

}  // namespace qor::scripting
