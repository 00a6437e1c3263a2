#pragma once

#include "host/backend/machines.h"
#include "host/libvirt/domains.h"

namespace qor::host::libvirt {

// libvirt's machines as the host's Machines: lookups and reads from the look Domains keeps,
// lifecycle, duplicate and delete as jobs on the worker.
//
// The loop's thread only; it keeps no state of its own and never blocks the loop on a request
// that may take a while.
class LibvirtMachines : public Machines {
 public:
  explicit LibvirtMachines(Domains& domains) : domains_(domains) {}

  Result<Done> reachable() override;
  std::vector<MachineKey> list() override;
  std::optional<MachineKey> byId(std::string_view id) override;
  std::optional<MachineKey> byName(std::string_view name) override;
  std::optional<MachineInfo> info(MachineKey key) override;

  void start(MachineKey key, bool saving, bool recovery, Completion<Done> done) override;
  void suspend(MachineKey key, bool saving, Completion<Done> done) override;
  void stop(MachineKey key, std::uint32_t method, Completion<Done> done) override;
  void remove(MachineKey key, Completion<Done> done) override;
  void duplicate(MachineKey key, std::optional<std::string> name, Completion<Done> done) override;

 private:
  Domains& domains_;
};

}  // namespace qor::host::libvirt
