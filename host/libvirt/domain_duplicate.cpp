#include "host/libvirt/domain_duplicate.h"

#include <cstdlib>
#include <set>

#include "host/libvirt/disk_paths.h"
#include "host/libvirt/domain_xml.h"
#include "host/libvirt/mapping.h"

namespace qor::host::libvirt {
namespace {

std::set<std::string> namesOf(virConnectPtr conn) {
  std::set<std::string> names;
  virDomainPtr* all = nullptr;
  const int n = virConnectListAllDomains(conn, &all, 0);
  for (int i = 0; i < n; ++i) {
    if (const char* name = virDomainGetName(all[i])) names.insert(name);
    virDomainFree(all[i]);
  }
  std::free(all);
  return names;
}

void removeCopies(virConnectPtr conn, const std::vector<DiskCopy>& copies) {
  for (const auto& c : copies) (void)removeDisk(conn, c.path);
}

}  // namespace

Result<Done> duplicateDomain(virConnectPtr conn, virDomainPtr d, const std::string& originalName,
                             const std::optional<std::string>& wanted) {
  int state = 0;
  int reason = 0;
  if (virDomainGetState(d, &state, &reason, 0) < 0) return libvirtError();
  if (state != VIR_DOMAIN_SHUTOFF && state != VIR_DOMAIN_CRASHED) {
    return invalidState("Only a stopped virtual machine can be duplicated: stop it first.");
  }
  if (virDomainHasManagedSaveImage(d, 0) == 1) {
    return invalidState(
        "The virtual machine's state is saved: start and stop it, or stop it by force, before "
        "duplicating it.");
  }
  std::string name;
  if (wanted) {
    name = *wanted;
  } else {
    const auto taken = namesOf(conn);
    auto free = copyName(originalName, [&](const std::string& n) { return taken.count(n) > 0; });
    if (!free) return failed("No free name for the copy of " + originalName + ".");
    name = *free;
  }
  const auto xml =
      takeString(virDomainGetXMLDesc(d, VIR_DOMAIN_XML_INACTIVE | VIR_DOMAIN_XML_SECURE));
  if (xml.empty()) return libvirtError();
  const auto disks = disksOf(xml);
  if (!disks) return failed("The machine's definition cannot be read.");
  std::size_t writable = 0;
  for (const auto& disk : *disks) writable += disk.writable() ? 1 : 0;
  std::vector<DiskCopy> copies;
  for (const auto& disk : *disks) {
    if (!disk.writable()) continue;
    auto copy = copyDisk(conn, disk, name, writable == 1);
    if (auto* e = failureOf(copy)) {
      removeCopies(conn, copies);
      return *e;
    }
    copies.push_back(std::get<DiskCopy>(std::move(copy)));
  }
  const auto definition = copyDefinition(xml, name, copies);
  if (!definition) {
    removeCopies(conn, copies);
    return failed("The machine's definition cannot be read.");
  }
  Domain copy(virDomainDefineXML(conn, definition->c_str()));
  if (!copy) {
    Failure error = libvirtError();
    removeCopies(conn, copies);
    return error;
  }
  return Done{};
}

}  // namespace qor::host::libvirt
