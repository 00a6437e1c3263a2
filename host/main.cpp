#include <cstdlib>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "host/bus/service.h"
#include "host/libvirt/libvirt_factory.h"
#include "host/objects/routes.h"
#include "host/servers/servers_backend.h"
#include "host/settings/settings.h"
#include "host/simulated/spawning_backend.h"

namespace {

// Every backend the host can serve from; the first is the default.
std::optional<qor::host::BackendFactory> backendFor(const qor::host::Settings& s) {
  if (s.backend == "simulated") return qor::host::simulatedBackend(s.world);
  if (s.backend == "libvirt") {
    if (s.connect.size() <= 1) {
      return qor::host::libvirt::libvirtBackend(
          s.connect.empty() ? std::nullopt : std::optional<std::string>(s.connect.front()));
    }
    // Each connection its own backend, with its own workers: one server never holds up another.
    std::vector<qor::host::servers::ServerFactory> servers;
    for (const auto& uri : s.connect) {
      servers.push_back({uri, qor::host::libvirt::libvirtBackend(uri)});
    }
    return qor::host::servers::serversBackend(std::move(servers));
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  const auto environment = [](const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  // The user's choice for a host that qorctl launches; options given here win.
  const auto conf = qor::host::readHostConf(qor::host::hostConfPath(environment));
  if (const auto* failure = qor::host::failureOf(conf)) {
    std::cerr << "qor-host: " << failure->message << "\n";
    return 64;
  }
  auto settings = qor::host::parseSettings(args, environment, std::get<qor::host::HostConf>(conf));
  if (const auto* failure = qor::host::failureOf(settings)) {
    std::cerr << "qor-host: " << failure->message << "\n" << qor::host::kUsage;
    return 64;
  }
  const auto& s = std::get<qor::host::Settings>(settings);
  if (s.help) {
    std::cout << qor::host::kUsage;
    return 0;
  }
  const auto backend = backendFor(s);
  if (!backend) {
    std::cerr << "qor-host: unknown backend '" << s.backend << "' (known: simulated, libvirt)\n"
              << qor::host::kUsage;
    return 64;
  }
  return qor::host::runHostService(s, *backend, qor::host::objects::routes());
}
