#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qor::contract {

// The elements of the host's object tree below the root: R/vm/id/E(id), R/vm/name/E(name),
// <vm>/serial/<n>, <vm>/file/<n>, <vm>/process/<n>, R/usb/<n>, R/window/<n>.
namespace path_elements {
inline constexpr std::string_view kMachines = "vm";
inline constexpr std::string_view kById = "id";
inline constexpr std::string_view kByName = "name";
inline constexpr std::string_view kSerialPorts = "serial";
inline constexpr std::string_view kFiles = "file";
inline constexpr std::string_view kProcesses = "process";
inline constexpr std::string_view kUsbDevices = "usb";
inline constexpr std::string_view kWindows = "window";
}  // namespace path_elements

// One path element for any text: bytes in A-Z, a-z, 0-9 stay, every other byte of the UTF-8 form
// becomes "_" and two lower-case hex digits, and the empty text becomes "_" (GLib's object-path
// escaping). The result is always a valid path element, whatever bytes the text holds.
std::string escapePathElement(std::string_view text);

// The text an element stands for, or nullopt when it is no escaped element: an "_" not followed
// by two hex digits, an escaped NUL, or an escaped letter or digit (which must stand as itself).
std::optional<std::string> unescapePathElement(std::string_view element);

// The paths that name a machine by id and by name; the host resolves them at every request.
std::string machinePathWithID(std::string_view id);
std::string machinePathWithName(std::string_view name);

}  // namespace qor::contract
