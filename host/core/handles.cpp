#include "host/core/handles.h"

#include <algorithm>

namespace qor::host {

void HandleOwners::claim(Kind kind, GuestHandle handle, const std::string& owner) {
  owners(kind)[handle] = owner;
}

bool HandleOwners::ownedBy(Kind kind, GuestHandle handle, const std::string& sender) const {
  const auto& map = owners(kind);
  const auto it = map.find(handle);
  return it != map.end() && it->second == sender;
}

bool HandleOwners::present(Kind kind, const std::vector<GuestHandle>& backendHas,
                           GuestHandle handle, const std::string& sender) {
  if (std::find(backendHas.begin(), backendHas.end(), handle) != backendHas.end()) {
    return ownedBy(kind, handle, sender);
  }
  owners(kind).erase(handle);
  return false;
}

void HandleOwners::connectionLeft(const std::string& uniqueName, const Backends& backends) {
  for (auto it = files_.begin(); it != files_.end();) {
    if (it->second != uniqueName) {
      ++it;
      continue;
    }
    if (backends.files) backends.files->releaseFile(it->first);
    it = files_.erase(it);
  }
  for (auto it = processes_.begin(); it != processes_.end();) {
    if (it->second != uniqueName) {
      ++it;
      continue;
    }
    if (backends.processes) backends.processes->releaseProcess(it->first);
    it = processes_.erase(it);
  }
}

}  // namespace qor::host
