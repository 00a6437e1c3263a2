#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/backend/backend.h"
#include "host/servers/server_keys.h"

namespace qor::host::servers {

// One server the host serves machines from: its name for the user (the connection's URI) and
// the backend that reaches it.
struct Server {
  std::string name;
  std::unique_ptr<Backend> backend;
  Backends concerns;
};

// The servers in the order the user configured them, and the numbering across them.
class ServerList {
 public:
  explicit ServerList(std::vector<Server> servers)
      : servers_(std::move(servers)), keys_(servers_.size()) {}

  std::size_t size() const { return servers_.size(); }
  const Server& operator[](std::size_t i) const { return servers_[i]; }
  const ServerKeys& keys() const { return keys_; }

 private:
  std::vector<Server> servers_;
  ServerKeys keys_;
};

}  // namespace qor::host::servers
