#include "host/settings/settings.h"
#include "support/dbus_names.h"
#include "support/info_plist.h"

#include <algorithm>
#include <cstdint>

namespace qor::host {
namespace {

std::optional<unsigned> parseSeconds(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  unsigned n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  return n;
}

// The bus name of the bundle the program lies in: argv[0] as given, two folders up.
std::string bundleBusName(const std::string& argv0) {
  if (argv0.find('/') == std::string::npos) return kDefaultBusName;
  const auto contents = std::filesystem::path(argv0).parent_path().parent_path();
  return bundleIdentifier(contents / "Info.plist").value_or(kDefaultBusName);
}

}  // namespace

std::optional<std::string> bundleIdentifier(const std::filesystem::path& infoPlist) {
  auto plist = support::readInfoPlist(infoPlist);
  if (!plist || !plist->identifier || !support::isWellKnownBusName(*plist->identifier)) {
    return std::nullopt;
  }
  return plist->identifier;
}

std::filesystem::path defaultWorldPath(const Environment& environment) {
  std::filesystem::path state;
  if (auto xdg = environment("XDG_STATE_HOME"); xdg && !xdg->empty() && xdg->front() == '/') {
    state = *xdg;
  } else {
    state = std::filesystem::path(environment("HOME").value_or("/")) / ".local" / "state";
  }
  return state / "qor-sim" / "world.json";
}

Result<Settings> parseSettings(const std::vector<std::string>& args, const Environment& environment,
                               const HostConf& conf) {
  Settings s;
  std::optional<std::string> world = environment("QOR_SIM_WORLD");
  std::optional<std::string> log = environment("QOR_SIM_LOG");
  std::optional<std::string> busName = environment("QOR_SIM_BUS_NAME");
  std::optional<std::string> idle = environment("QOR_SIM_IDLE_TIMEOUT");
  std::optional<std::string> backend = conf.backend;
  std::vector<std::string> connect = conf.connect;
  bool connectGiven = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> value;
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    if (arg == "--hidden" || arg == "--help" || arg == "-h") {
      if (value) return invalidArgs("option " + arg + " takes no value");
      (arg == "--hidden" ? s.hidden : s.help) = true;
      continue;
    }
    std::optional<std::string>* target = nullptr;
    std::optional<std::string> uri;
    if (arg == "--backend") target = &backend;
    if (arg == "--connect") target = &uri;
    if (arg == "--world") target = &world;
    if (arg == "--log") target = &log;
    if (arg == "--bus-name") target = &busName;
    if (arg == "--idle-timeout") target = &idle;
    if (!target) return invalidArgs("unknown option '" + args[i] + "'");
    if (!value) {
      if (i + 1 >= args.size()) return invalidArgs("option " + arg + " needs a value");
      value = args[++i];
    }
    *target = *value;
    if (uri && !uri->empty()) {
      if (!connectGiven) connect.clear();
      connectGiven = true;
      if (std::find(connect.begin(), connect.end(), *uri) != connect.end())
        return invalidArgs("'" + *uri + "' is given twice");
      connect.push_back(*uri);
    }
  }
  s.world =
      world && !world->empty() ? std::filesystem::path(*world) : defaultWorldPath(environment);
  if (log && !log->empty()) s.log = *log;
  if (backend) s.backend = *backend;
  s.connect = std::move(connect);
  s.busName = busName && !busName->empty() ? *busName
                                           : bundleBusName(args.empty() ? std::string() : args[0]);
  if (!support::isWellKnownBusName(s.busName))
    return invalidArgs("'" + s.busName + "' is not a valid bus name");
  if (idle && !idle->empty()) {
    auto seconds = parseSeconds(*idle);
    if (!seconds) return invalidArgs("the idle timeout must be a number of seconds");
    s.idleSeconds = *seconds;
  }
  return s;
}

}  // namespace qor::host
