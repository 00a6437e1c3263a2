#include "host/libvirt/libvirt_machines.h"

#include "contract/codes.h"
#include "host/libvirt/domain_duplicate.h"
#include "host/libvirt/domain_lifecycle.h"
#include "host/libvirt/mapping.h"
#include "support/text_equal.h"

namespace qor::host::libvirt {

using Target = Domains::Target;

Result<Done> LibvirtMachines::reachable() {
  const auto& look = domains_.look();
  if (look.error) return *look.error;
  return Done{};
}

std::vector<MachineKey> LibvirtMachines::list() {
  std::vector<MachineKey> keys;
  for (const auto& r : domains_.look().rows) keys.push_back(r.key);
  return keys;
}

std::optional<MachineKey> LibvirtMachines::byId(std::string_view id) {
  for (const auto& r : domains_.look().rows) {
    if (sameUuid(r.uuid, id)) return r.key;
  }
  return std::nullopt;
}

std::optional<MachineKey> LibvirtMachines::byName(std::string_view name) {
  for (const auto& r : domains_.look().rows) {
    if (support::canonicallyEqual(r.name, name)) return r.key;
  }
  return std::nullopt;
}

std::optional<MachineInfo> LibvirtMachines::info(MachineKey key) {
  const auto* r = domains_.row(key);
  if (!r) return std::nullopt;
  MachineInfo m;
  m.key = r->key;
  m.id = r->uuid;
  m.name = r->name;
  m.backend = contract::kQemuBackend;
  m.status = statusOf(r->state, r->reason, r->saved);
  return m;
}

void LibvirtMachines::start(MachineKey key, bool saving, bool recovery, Completion<Done> done) {
  if (recovery) {
    done(failed("These virtual machines have no recovery mode."));
    return;
  }
  domains_.onMachine(
      key,
      [saving](virConnectPtr conn, const Target& t) -> Result<Done> {
        auto d = lookupDomain(conn, t.uuid);
        return d ? startDomain(conn, d.get(), saving) : libvirtError();
      },
      std::move(done));
}

void LibvirtMachines::suspend(MachineKey key, bool saving, Completion<Done> done) {
  domains_.onMachine(
      key,
      [saving](virConnectPtr conn, const Target& t) -> Result<Done> {
        auto d = lookupDomain(conn, t.uuid);
        return d ? suspendDomain(d.get(), saving) : libvirtError();
      },
      std::move(done));
}

void LibvirtMachines::stop(MachineKey key, std::uint32_t method, Completion<Done> done) {
  const auto action = stopActionOf(method);
  if (!action) {
    done(invalidArgs("Unknown stop method."));
    return;
  }
  domains_.onMachine(
      key,
      [action = *action](virConnectPtr conn, const Target& t) -> Result<Done> {
        auto d = lookupDomain(conn, t.uuid);
        return d ? stopDomain(d.get(), action) : libvirtError();
      },
      std::move(done));
}

void LibvirtMachines::remove(MachineKey key, Completion<Done> done) {
  domains_.onMachine(
      key,
      [](virConnectPtr conn, const Target& t) -> Result<Done> {
        auto d = lookupDomain(conn, t.uuid);
        return d ? deleteDomain(conn, d.get()) : libvirtError();
      },
      std::move(done));
}

void LibvirtMachines::duplicate(MachineKey key, std::optional<std::string> name,
                                Completion<Done> done) {
  domains_.onMachine(
      key,
      [name](virConnectPtr conn, const Target& t) -> Result<Done> {
        auto d = lookupDomain(conn, t.uuid);
        return d ? duplicateDomain(conn, d.get(), t.name, name) : libvirtError();
      },
      std::move(done));
}

}  // namespace qor::host::libvirt
