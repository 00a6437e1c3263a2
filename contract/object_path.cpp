#include "contract/object_path.h"

#include "contract/vocabulary.h"

namespace qor::contract {
namespace {

bool isAlnum(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string machinePath(std::string_view selector, std::string_view text) {
  std::string path(kRootPath);
  path += '/';
  path += path_elements::kMachines;
  path += '/';
  path += selector;
  path += '/';
  path += escapePathElement(text);
  return path;
}

}  // namespace

std::string escapePathElement(std::string_view text) {
  if (text.empty()) return "_";
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (isAlnum(c)) {
      out += ch;
    } else {
      out += '_';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

std::optional<std::string> unescapePathElement(std::string_view element) {
  if (element == "_") return std::string();
  if (element.empty()) return std::nullopt;
  std::string out;
  out.reserve(element.size());
  for (std::size_t i = 0; i < element.size(); ++i) {
    const auto c = static_cast<unsigned char>(element[i]);
    if (isAlnum(c)) {
      out += element[i];
      continue;
    }
    if (c != '_' || i + 2 >= element.size()) return std::nullopt;
    const int hi = hexValue(element[i + 1]);
    const int lo = hexValue(element[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    const auto byte = static_cast<unsigned char>((hi << 4) | lo);
    if (byte == 0 || isAlnum(byte)) return std::nullopt;
    out += static_cast<char>(byte);
    i += 2;
  }
  return out;
}

std::string machinePathWithID(std::string_view id) {
  return machinePath(path_elements::kById, id);
}

std::string machinePathWithName(std::string_view name) {
  return machinePath(path_elements::kByName, name);
}

}  // namespace qor::contract
