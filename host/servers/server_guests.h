#pragma once

#include <optional>
#include <vector>

#include "host/backend/guest_files.h"
#include "host/backend/guest_processes.h"
#include "host/backend/guest_readiness.h"
#include "host/backend/network.h"
#include "host/backend/serial_ports.h"
#include "host/servers/server_list.h"

namespace qor::host::servers {

// What lies inside a machine, on the machine's own server: serial ports, guest files and
// programs, readiness, addresses. Machine keys and guest handles are the composite's; a handle
// names its server as a machine key does, so a handle of one server never reaches another.
// A server without the concern answers as a backend without it would.
class ServerGuests final : public SerialPorts,
                           public GuestFiles,
                           public GuestProcesses,
                           public GuestReadiness,
                           public Network {
 public:
  explicit ServerGuests(const ServerList& servers) : servers_(servers) {}

  std::optional<std::vector<SerialPortInfo>> serialPorts(MachineKey key) override;

  std::vector<GuestHandle> files(MachineKey key) override;
  void open(MachineKey key, OpenFileArgs args, Completion<GuestHandle> done) override;
  void read(MachineKey key, GuestHandle file, ReadArgs args, Completion<std::string> done) override;
  void write(MachineKey key, GuestHandle file, WriteArgs args, Completion<Done> done) override;
  void close(MachineKey key, GuestHandle file, Completion<Done> done) override;
  void releaseFile(GuestHandle file) override;

  std::vector<GuestHandle> processes(MachineKey key) override;
  void execute(MachineKey key, ExecuteArgs args, Completion<GuestHandle> done) override;
  void result(MachineKey key, GuestHandle process, Completion<contract::Value> done) override;
  void releaseProcess(GuestHandle process) override;

  void ready(MachineKey key, std::uint32_t condition, Completion<bool> done) override;
  void addresses(MachineKey key, Completion<std::vector<std::string>> done) override;

 private:
  // The machine's server, its key there and its concerns; nullopt for a key of no server.
  struct Place {
    std::size_t server;
    MachineKey key;
    const Backends& concerns;
  };
  std::optional<Place> place(MachineKey key) const;
  // The server's own handle, when `handle` belongs to the machine's server.
  std::optional<GuestHandle> handleOn(const Place& p, GuestHandle handle) const;
  std::vector<GuestHandle> outerHandles(std::size_t server, std::vector<GuestHandle> inner) const;
  Completion<GuestHandle> outerHandle(std::size_t server, Completion<GuestHandle> done) const;

  const ServerList& servers_;
};

}  // namespace qor::host::servers
