#pragma once

#include <string>
#include <string_view>

namespace qor::contract {

// The names every host shares, whatever its bus name.
inline constexpr std::string_view kRootPath = "/org/qor/Scripting1";
inline constexpr std::string_view kInterfacePrefix = "org.qor.Scripting1.";
inline constexpr std::string_view kPropertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr std::string_view kIntrospectableInterface = "org.freedesktop.DBus.Introspectable";
inline constexpr std::string_view kPeerInterface = "org.freedesktop.DBus.Peer";

// The full interface name of a class ("VirtualMachine" -> "org.qor.Scripting1.VirtualMachine").
std::string interfaceName(std::string_view shortName);
// The short name of one of the host's interfaces, or "" for any other name.
std::string_view shortInterfaceName(std::string_view interface);

// Keys of the records that cross the bus.
namespace record_keys {
// GetResult's answer.
inline constexpr std::string_view kHasExited = "hasExited";
inline constexpr std::string_view kExitCode = "exitCode";
inline constexpr std::string_view kOutputData = "outputData";
inline constexpr std::string_view kErrorData = "errorData";
inline constexpr std::string_view kOutputTruncated = "outputTruncated";
inline constexpr std::string_view kErrorTruncated = "errorTruncated";
// Duplicate's properties: {"configuration": {"name": <s>}}.
inline constexpr std::string_view kConfiguration = "configuration";
inline constexpr std::string_view kName = "name";
}  // namespace record_keys

}  // namespace qor::contract
