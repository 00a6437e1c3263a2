#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/backend/machines.h"
#include "host/servers/server_list.h"

namespace qor::host::servers {

// The machines of every server as one list: each server's machines in its own order, the
// servers in the configured order. A request goes to the server its machine lives on.
//
// A name that machines on two servers share selects none of them: the request is refused, and
// the message names the servers and says to use the machine's UUID. Ids are looked up across
// all servers alike. A machine found on no server while a server cannot be reached is reported
// as that server's failure, not as a machine that does not exist.
class ServerMachines final : public Machines {
 public:
  explicit ServerMachines(const ServerList& servers) : servers_(servers) {}

  // Reachable while any server is; the first server's failure when none is.
  Result<Done> reachable() override;
  std::vector<MachineKey> list() override;
  std::optional<MachineKey> byId(std::string_view id) override;
  std::optional<MachineKey> byName(std::string_view name) override;
  Result<std::optional<MachineKey>> findById(std::string_view id) override;
  Result<std::optional<MachineKey>> findByName(std::string_view name) override;
  std::optional<MachineInfo> info(MachineKey key) override;
  std::vector<std::string> unreachable() override;

  void start(MachineKey key, bool saving, bool recovery, Completion<Done> done) override;
  void suspend(MachineKey key, bool saving, Completion<Done> done) override;
  void stop(MachineKey key, std::uint32_t method, Completion<Done> done) override;
  void remove(MachineKey key, Completion<Done> done) override;
  // The copy is made on the machine's own server.
  void duplicate(MachineKey key, std::optional<std::string> name, Completion<Done> done) override;

 private:
  enum class By { id, name };
  Result<std::optional<MachineKey>> find(By by, std::string_view text);
  // The machine's server and its own key there; nullopt for a key of no server.
  std::optional<std::pair<Machines*, MachineKey>> route(MachineKey key) const;

  const ServerList& servers_;
};

}  // namespace qor::host::servers
