#include "host/core/object_path.h"

#include <vector>

namespace qor::host {
namespace {

namespace elements = contract::path_elements;

// "a/b" gives {"a", "b"}; "" gives {""} and "a/" gives {"a", ""}, so empty elements show.
std::vector<std::string_view> splitElements(std::string_view rest) {
  std::vector<std::string_view> out;
  for (;;) {
    const auto slash = rest.find('/');
    out.push_back(rest.substr(0, slash));
    if (slash == std::string_view::npos) return out;
    rest.remove_prefix(slash + 1);
  }
}

}  // namespace

std::optional<std::uint64_t> parseElementNumber(std::string_view element) {
  if (element.empty() || element.size() > 19) return std::nullopt;
  if (element.size() > 1 && element.front() == '0') return std::nullopt;
  std::uint64_t n = 0;
  for (char c : element) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return n;
}

std::string machinePathByKey(std::uint64_t key) {
  return std::string(kRootPath) + "/" + std::string(elements::kMachines) + "/key/" + std::to_string(key);
}

ParsedPath parsePath(std::string_view path) {
  ParsedPath out;
  if (path == "/" || path == "/org" || path == "/org/qor") {
    out.kind = PathKind::kNode;
    return out;
  }
  if (path.substr(0, kRootPath.size()) != kRootPath) return out;
  std::string_view rest = path.substr(kRootPath.size());
  if (rest.empty()) {
    out.kind = PathKind::kApplication;
    return out;
  }
  if (rest.front() != '/') return out;
  const auto parts = splitElements(rest.substr(1));
  for (auto p : parts) {
    if (p.empty()) return out;  // "//" or a trailing "/": no valid object path
  }
  const auto n = parts.size();
  if (parts[0] == elements::kUsbDevices || parts[0] == elements::kWindows) {
    if (n == 1) {
      out.kind = PathKind::kNode;
    } else if (n == 2) {
      const auto element = parseElementNumber(parts[1]);
      if (!element) return out;
      out.element = *element;
      out.kind = parts[0] == elements::kUsbDevices ? PathKind::kUsbDevice : PathKind::kWindow;
    }
    return out;
  }
  if (parts[0] != elements::kMachines) return out;
  if (n == 1) {
    out.kind = PathKind::kNode;
    return out;
  }
  if (parts[1] == elements::kById) {
    out.selector = MachineSelector::kId;
  } else if (parts[1] == elements::kByName) {
    out.selector = MachineSelector::kName;
  } else if (parts[1] == "key") {
    out.selector = MachineSelector::kKey;
  } else {
    return out;
  }
  if (n == 2) {
    out.kind = PathKind::kNode;
    return out;
  }
  if (out.selector == MachineSelector::kKey) {
    if (!parseElementNumber(parts[2])) return out;
    out.machineText = std::string(parts[2]);
  } else {
    auto text = unescapePathElement(parts[2]);
    if (!text) return out;
    out.machineText = std::move(*text);
  }
  out.machinePath =
      std::string(kRootPath) + "/" + std::string(parts[0]) + "/" + std::string(parts[1]) + "/" + std::string(parts[2]);
  if (n == 3) {
    out.kind = PathKind::kMachine;
    return out;
  }
  PathKind sub = PathKind::kNone;
  if (parts[3] == elements::kSerialPorts) sub = PathKind::kSerialPort;
  if (parts[3] == elements::kFiles) sub = PathKind::kGuestFile;
  if (parts[3] == elements::kProcesses) sub = PathKind::kGuestProcess;
  if (sub == PathKind::kNone) return out;
  if (n == 4) {
    out.kind = PathKind::kNode;
    return out;
  }
  if (n != 5) return out;
  const auto element = parseElementNumber(parts[4]);
  if (!element) return out;
  out.element = *element;
  out.kind = sub;
  return out;
}

}  // namespace qor::host
