#pragma once

#include <string>
#include <string_view>

namespace qor::scripting {

// The vocabulary every host shares, whatever its bus name.
inline constexpr std::string_view kRootPath = "/org/qor/Scripting1";
inline constexpr std::string_view kInterfacePrefix = "org.qor.Scripting1.";

// The full interface name of a class of the host ("VirtualMachine" ->
// "org.qor.Scripting1.VirtualMachine").
std::string hostInterface(std::string_view shortName);

// One object path element from any text: ASCII letters and digits stay, every other byte of the
// UTF-8 form becomes "_" and two lower-case hex digits, and the empty text becomes "_". The
// result is always a valid path element, whatever bytes the text holds.
std::string escapePathElement(std::string_view text);

// The specifiers of a machine by id and by name; the host resolves them at every request.
std::string machinePathWithID(std::string_view id);
std::string machinePathWithName(std::string_view name);

}  // namespace qor::scripting
