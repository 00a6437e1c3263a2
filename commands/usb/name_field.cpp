#include "commands/usb/name_field.h"

#include <cinttypes>
#include <cstdio>

namespace qor::commands {
namespace {

// Length in bytes of the UTF-8 sequence that starts with `lead`; the input is valid UTF-8 (it
// came over D-Bus, which checks it).
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead >> 5) == 0x6) return 2;
  if ((lead >> 4) == 0xE) return 3;
  return 4;
}

}  // namespace

std::string utf16Field(std::string_view text, std::size_t width) {
  std::string field;
  std::size_t units = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t length = sequenceLength(static_cast<unsigned char>(text[i]));
    const std::size_t cost = length == 4 ? 2 : 1;
    if (units + cost > width) break;
    field.append(text.substr(i, length));
    units += cost;
    i += length;
  }
  field.append(width - units, ' ');
  return field;
}

std::string hexField(std::optional<std::int64_t> value) {
  if (!value) return "????";
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%04" PRIX64, static_cast<std::uint64_t>(*value));
  return buffer;
}

}  // namespace qor::commands
