#include "host/libvirt/domain_lifecycle.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "host/libvirt/disk_paths.h"
#include "host/libvirt/domain_xml.h"

namespace qor::host::libvirt {
namespace {

struct State {
  int state = 0;
  int reason = 0;
  bool active() const { return state != VIR_DOMAIN_SHUTOFF && state != VIR_DOMAIN_CRASHED; }
};

std::optional<State> stateOf(virDomainPtr d) {
  State s;
  if (virDomainGetState(d, &s.state, &s.reason, 0) < 0) return std::nullopt;
  return s;
}

bool hasSavedState(virDomainPtr d) {
  return virDomainHasManagedSaveImage(d, 0) == 1;
}

Result<Done> ok() {
  return Done{};
}

// Drivers give an action the machine's state does not allow different codes (the test driver
// an internal error, QEMU an invalid operation): the state the machine was in tells it for all.
Failure refused(const std::optional<State>& before, bool allowed) {
  return before && !allowed ? invalidState(lastErrorMessage()) : libvirtError();
}

}  // namespace

Result<Done> startDomain(virConnectPtr conn, virDomainPtr d, bool saving) {
  const auto s = stateOf(d);
  if (!s) return libvirtError();
  if (s->state == VIR_DOMAIN_PAUSED) {
    return virDomainResume(d) < 0 ? libvirtError() : ok();
  }
  if (s->state == VIR_DOMAIN_PMSUSPENDED) {
    return virDomainPMWakeup(d, 0) < 0 ? libvirtError() : ok();
  }
  if (saving || s->active()) {
    return virDomainCreate(d) < 0 ? refused(s, s->state != VIR_DOMAIN_RUNNING) : ok();
  }
  if (hasSavedState(d)) {
    return invalidState(
        "The virtual machine has a saved state, which a disposable run would lose: start it "
        "normally, or stop it by force to discard the saved state.");
  }
  // A defined machine started from another definition runs that one, and keeps its own.
  const auto xml =
      takeString(virDomainGetXMLDesc(d, VIR_DOMAIN_XML_INACTIVE | VIR_DOMAIN_XML_SECURE));
  if (xml.empty()) return libvirtError();
  const auto disposable = disposableDefinition(xml);
  if (!disposable) return failed("The machine's definition cannot be read.");
  Domain started(virDomainCreateXML(conn, disposable->c_str(), 0));
  return started ? ok() : libvirtError();
}

Result<Done> suspendDomain(virDomainPtr d, bool saving) {
  const auto before = stateOf(d);
  // QEMU takes a pause of a paused machine as done (the test driver refuses it): the caller
  // would think it paused what another had paused.
  if (!saving && before && before->state == VIR_DOMAIN_PAUSED) {
    return invalidState("The virtual machine is already suspended.");
  }
  // A saved machine comes back running: start is what resumes it.
  const int r = saving ? virDomainManagedSave(d, VIR_DOMAIN_SAVE_RUNNING) : virDomainSuspend(d);
  if (r == 0) return ok();
  return refused(before, before && (before->state == VIR_DOMAIN_RUNNING ||
                                    (saving && before->state == VIR_DOMAIN_PAUSED)));
}

Result<Done> stopDomain(virDomainPtr d, StopAction action) {
  const auto s = stateOf(d);
  if (!s) return libvirtError();
  if (!s->active() && hasSavedState(d)) {
    if (action == StopAction::shutdown) {
      return invalidState(
          "The virtual machine is not running: its state is saved. Start it, or stop it by "
          "force to discard the saved state.");
    }
    return virDomainManagedSaveRemove(d, 0) < 0 ? libvirtError() : ok();
  }
  switch (action) {
    case StopAction::shutdown: {
      if (virDomainShutdown(d) == 0) {
        // The agent's shutdown returns before the guest is off, and the next look at the
        // machine waits until it is: better here than on the host's loop.
        (void)stateOf(d);
        return ok();
      }
      const Failure error = libvirtError();
      // The agent may lose its socket as the guest powers off: the guest did stop.
      if (const auto after = stateOf(d); after && !after->active()) return ok();
      return error;
    }
    case StopAction::gracefulDestroy:
      return virDomainDestroyFlags(d, VIR_DOMAIN_DESTROY_GRACEFUL) < 0 ? libvirtError() : ok();
    case StopAction::destroy:
      return virDomainDestroy(d) < 0 ? libvirtError() : ok();
  }
  return ok();
}

namespace {

// The disk copies this host made for the machine that are still its disks and no other
// machine's: what deleting it removes.
std::vector<std::string> disksToRemove(virConnectPtr conn, virDomainPtr d, const std::string& xml) {
  const auto owned = ownedDiskPaths(xml);
  if (owned.empty()) return {};
  const auto mine = diskPathsOf(conn, xml);
  std::set<std::string> others;
  char ownUuid[VIR_UUID_STRING_BUFLEN] = {};
  virDomainGetUUIDString(d, ownUuid);
  virDomainPtr* all = nullptr;
  const int n = virConnectListAllDomains(conn, &all, 0);
  for (int i = 0; i < n; ++i) {
    Domain other(all[i]);
    char uuid[VIR_UUID_STRING_BUFLEN] = {};
    if (virDomainGetUUIDString(other.get(), uuid) == 0 && std::string(uuid) == ownUuid) continue;
    for (unsigned flags : {0u, unsigned{VIR_DOMAIN_XML_INACTIVE}}) {
      const auto otherXml = takeString(virDomainGetXMLDesc(other.get(), flags));
      for (auto& p : diskPathsOf(conn, otherXml)) others.insert(p);
    }
  }
  std::free(all);
  if (n < 0) return {};  // who else uses them is unknown: keep them all
  std::vector<std::string> out;
  for (const auto& path : owned) {
    if (std::find(mine.begin(), mine.end(), path) != mine.end() && !others.count(path)) {
      out.push_back(path);
    }
  }
  return out;
}

}  // namespace

Result<Done> deleteDomain(virConnectPtr conn, virDomainPtr d) {
  const auto s = stateOf(d);
  if (!s) return libvirtError();
  if (s->active()) {
    return invalidState("The virtual machine is running: stop it before deleting it.");
  }
  const auto xml = takeString(virDomainGetXMLDesc(d, VIR_DOMAIN_XML_INACTIVE));
  if (xml.empty()) return libvirtError();
  const auto remove = disksToRemove(conn, d, xml);
  // Its saved state, snapshot and checkpoint records and NVRAM go with it; a driver that knows
  // no NVRAM or checkpoints refuses those flags, and is asked again without them.
  const unsigned flags = VIR_DOMAIN_UNDEFINE_MANAGED_SAVE | VIR_DOMAIN_UNDEFINE_SNAPSHOTS_METADATA;
  if (virDomainUndefineFlags(
          d, flags | VIR_DOMAIN_UNDEFINE_CHECKPOINTS_METADATA | VIR_DOMAIN_UNDEFINE_NVRAM) < 0) {
    const virError* e = virGetLastError();
    if (!e || e->code != VIR_ERR_INVALID_ARG || virDomainUndefineFlags(d, flags) < 0) {
      return libvirtError();
    }
  }
  std::string failures;
  for (const auto& path : remove) {
    if (auto removed = removeDisk(conn, path); !succeeded(removed)) {
      failures += (failures.empty() ? "" : "; ") + std::get<Failure>(removed).message;
    }
  }
  if (!failures.empty()) {
    return failed("The virtual machine is deleted, but not all of its disk copies: " + failures);
  }
  return ok();
}

}  // namespace qor::host::libvirt
