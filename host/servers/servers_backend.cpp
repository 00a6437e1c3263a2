#include "host/servers/servers_backend.h"

namespace qor::host::servers {

ServersBackend::ServersBackend(std::vector<Server> servers) : servers_(std::move(servers)) {}

Backends ServersBackend::concerns() {
  Backends b;
  b.machines = &machines_;
  b.serialPorts = &guests_;
  b.files = &guests_;
  b.processes = &guests_;
  b.readiness = &guests_;
  b.network = &guests_;
  b.usb = &usb_;
  for (std::size_t i = 0; i < servers_.size(); ++i) {
    if (!b.windows) b.windows = servers_[i].concerns.windows;
    if (servers_[i].concerns.persistence) b.persistence = this;
  }
  return b;
}

Result<Done> ServersBackend::persist() {
  for (std::size_t i = 0; i < servers_.size(); ++i) {
    if (auto* p = servers_[i].concerns.persistence) {
      if (auto r = p->persist(); !succeeded(r)) return r;
    }
  }
  return Done{};
}

BackendFactory serversBackend(std::vector<ServerFactory> servers) {
  return [servers = std::move(servers)](EventLoop& loop) -> Result<BackendSetup> {
    std::vector<Server> built;
    Json faults = Json::array();
    for (const auto& s : servers) {
      auto setup = s.factory(loop);
      if (const auto* f = failureOf(setup)) return *f;
      auto& made = std::get<BackendSetup>(setup);
      for (auto& fault : made.faults) faults.push_back(std::move(fault));
      Server server{s.name, std::move(made.backend), {}};
      server.concerns = server.backend->concerns();
      built.push_back(std::move(server));
    }
    BackendSetup setup;
    setup.backend = std::make_unique<ServersBackend>(std::move(built));
    setup.faults = std::move(faults);
    return setup;
  };
}

}  // namespace qor::host::servers
