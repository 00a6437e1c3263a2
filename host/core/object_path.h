#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/core/vocabulary.h"

namespace qor::host {

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

std::string machinePathByKey(std::uint64_t key);

}  // namespace qor::host
