#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qor::host {

inline constexpr std::string_view kRootPath = "/org/qor/Scripting1";
inline constexpr std::string_view kInterfacePrefix = "org.qor.Scripting1.";

// One path element for any text: bytes in A-Z, a-z, 0-9 stay, every other byte becomes "_" and
// two lower-case hex digits, and the empty text becomes "_" (GLib's object-path escaping).
std::string escapePathElement(std::string_view text);

// The text an element stands for, or nullopt when it is no escaped element: an "_" not followed
// by two hex digits, an escaped NUL, or an escaped letter or digit (which must stand as itself).
std::optional<std::string> unescapePathElement(std::string_view element);

// What a path under the root names, before it is looked up in the world.
enum class PathKind {
  kNone,         // outside the host's tree, or malformed
  kNode,         // an inner node with no object of its own ("/org", R + "/vm", …)
  kApplication,  // R
  kMachine,
  kSerialPort,
  kGuestFile,
  kGuestProcess,
  kUsbDevice,
  kWindow,
};

enum class MachineSelector { kId, kName, kKey };

struct ParsedPath {
  PathKind kind = PathKind::kNone;
  MachineSelector selector = MachineSelector::kId;
  std::string machineText;    // the unescaped id or name; the decimal key for kKey
  std::uint64_t element = 0;  // <n> of a serial port, file, process, device or window
  std::string machinePath;    // the path of the machine part, for objects below a machine
};

ParsedPath parsePath(std::string_view path);

// "<n>" elements are plain decimal numbers without leading zeros.
std::optional<std::uint64_t> parseElementNumber(std::string_view element);

std::string machinePathById(std::string_view id);
std::string machinePathByKey(std::uint64_t key);

}  // namespace qor::host
