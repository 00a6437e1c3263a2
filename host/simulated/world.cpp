#include "host/simulated/world.h"

#include "contract/object_path.h"
#include "support/text_equal.h"
#include "support/uuid.h"

namespace qor::host {

const World::Index& World::index() const {
  if (!index_.valid) {
    index_.byId.clear();
    index_.byUuid.clear();
    index_.byName.clear();
    for (std::size_t i = 0; i < machines.size(); ++i) {
      if (machines[i].id)
        index_.byId.emplace(support::canonicalText(*machines[i].id), i);  // first wins
      if (machines[i].id && support::isUuid(*machines[i].id)) {
        index_.byUuid.emplace(support::uuidKey(*machines[i].id), i);
      }
      if (machines[i].name) index_.byName.emplace(support::canonicalText(*machines[i].name), i);
    }
    index_.valid = true;
  }
  return index_;
}

const Machine* World::machineById(std::string_view id) const {
  const auto& byId = index().byId;
  if (auto it = byId.find(support::canonicalText(id)); it != byId.end())
    return &machines[it->second];
  // A UUID is found whatever the case of its letters; other ids are compared exactly.
  if (!support::isUuid(id)) return nullptr;
  const auto& byUuid = index().byUuid;
  auto it = byUuid.find(support::uuidKey(id));
  return it == byUuid.end() ? nullptr : &machines[it->second];
}

const Machine* World::machineByName(std::string_view name) const {
  const auto& byName = index().byName;
  auto it = byName.find(support::canonicalText(name));
  return it == byName.end() ? nullptr : &machines[it->second];
}

const Machine* World::machineByKey(std::uint64_t key) const {
  for (const auto& m : machines) {
    if (m.key == key) return &m;
  }
  return nullptr;
}

std::filesystem::path World::guestRootOf(const Machine& machine) const {
  if (machine.guestRoot) return folder / *machine.guestRoot;
  // The default folder is named after the id, unless the id could name another folder.
  const std::string id = machine.id.value_or("");
  const bool plain = !id.empty() && id != "." && id != ".." &&
                     id.find_first_not_of(
                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                         "0123456789.-_") == std::string::npos;
  return folder / "guests" / (plain ? id : contract::escapePathElement(id));
}

}  // namespace qor::host
