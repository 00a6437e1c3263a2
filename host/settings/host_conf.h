#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "host/backend/result.h"

namespace qor::host {

// The user's choice of machines for a host that qorctl launches (it passes no options then):
// $XDG_CONFIG_HOME/qor/host.conf, lines "key = value", "#" comments and blank lines.
struct HostConf {
  std::optional<std::string> backend;  // "backend = libvirt"
  // "connect = qemu:///session", once per libvirt connection, in the order given
  std::vector<std::string> connect;
};

// An error message naming the line for anything else: an unknown key, a line without "=", an
// empty value, a key other than connect given twice, one URI given twice.
Result<HostConf> parseHostConf(std::string_view text);

// $XDG_CONFIG_HOME/qor/host.conf (an absolute XDG_CONFIG_HOME only), else
// ~/.config/qor/host.conf.
std::filesystem::path hostConfPath(
    const std::function<std::optional<std::string>(const char*)>& environment);

// No file: an empty HostConf. A file that cannot be read or parsed: the message, with its path.
Result<HostConf> readHostConf(const std::filesystem::path& file);

}  // namespace qor::host
