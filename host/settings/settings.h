#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/settings/host_conf.h"

namespace qor::host {

inline constexpr const char* kDefaultBusName = "org.qor.Qor";
inline constexpr unsigned kDefaultIdleSeconds = 600;

inline constexpr const char* kDefaultBackend = "simulated";

struct Settings {
  std::string backend = kDefaultBackend;  // where the machines live; main knows the names
  // The libvirt URIs, in the order the user gave them; none: libvirt's default.
  std::vector<std::string> connect;
  bool hidden = false;  // accepted and only recorded: the simulated host shows no windows
  std::filesystem::path world;
  std::optional<std::filesystem::path> log;
  std::string busName;
  unsigned idleSeconds = kDefaultIdleSeconds;
  bool help = false;
};

using Environment = std::function<std::optional<std::string>(const char* name)>;

// Options win over the environment (QOR_SIM_WORLD, QOR_SIM_LOG, QOR_SIM_BUS_NAME,
// QOR_SIM_IDLE_TIMEOUT), which wins over the defaults. Answers a usage error message on bad
// options.
// `conf` (the user's host.conf) fills in what the options leave out; --connect, given once or
// more, replaces the file's connections.
Result<Settings> parseSettings(const std::vector<std::string>& args, const Environment& environment,
                               const HostConf& conf = {});

// $XDG_STATE_HOME/qor-sim/world.json, else ~/.local/state/qor-sim/world.json.
std::filesystem::path defaultWorldPath(const Environment& environment);

// CFBundleIdentifier of an Info.plist, when it is readable and a valid bus name.
std::optional<std::string> bundleIdentifier(const std::filesystem::path& infoPlist);

inline constexpr const char* kUsage =
    "usage: qor-host [--backend simulated|libvirt] [--connect URI ...] [--hidden] [--world FILE] "
    "[--log FILE] [--bus-name NAME] "
    "[--idle-timeout SECONDS]\n";

}  // namespace qor::host
