#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/backend/backend.h"
#include "host/servers/server_guests.h"
#include "host/servers/server_list.h"
#include "host/servers/server_machines.h"
#include "host/servers/server_usb.h"

namespace qor::host::servers {

// The machines of several servers served as one host, each server through a backend of its own
// (its own connections and workers, so a server that hangs holds up only its own requests).
// Windows are the first server's that has any; every server that keeps state persists it.
class ServersBackend final : public Backend, private Persistence {
 public:
  explicit ServersBackend(std::vector<Server> servers);
  Backends concerns() override;

 private:
  Result<Done> persist() override;

  ServerList servers_;
  ServerMachines machines_{servers_};
  ServerGuests guests_{servers_};
  ServerUsb usb_{servers_};
};

// A server for serversBackend: its name (the URI) and the factory of its own backend.
struct ServerFactory {
  std::string name;
  BackendFactory factory;
};

// The host over every server in order. It fails as the first server's factory that fails; the
// fault switches of all servers are put in front of the whole.
BackendFactory serversBackend(std::vector<ServerFactory> servers);

}  // namespace qor::host::servers
