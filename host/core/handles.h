#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/backend/backend.h"

namespace qor::host {

// Which bus connection opened which guest file and started which guest process. A handle
// belongs to its connection: another connection finds no object there, and when its
// connection leaves the bus the backend is told to release it. The loop's thread only.
class HandleOwners {
 public:
  enum class Kind { file, process };

  void claim(Kind kind, GuestHandle handle, const std::string& owner);
  bool ownedBy(Kind kind, GuestHandle handle, const std::string& sender) const;
  // Whether `handle` is among those the backend still has and belongs to `sender`; a handle
  // the backend no longer has is forgotten here too.
  bool present(Kind kind, const std::vector<GuestHandle>& backendHas, GuestHandle handle,
               const std::string& sender);
  // The connection has left the bus: its handles are released through the backend.
  void connectionLeft(const std::string& uniqueName, const Backends& backends);

 private:
  std::map<GuestHandle, std::string>& owners(Kind kind) {
    return kind == Kind::file ? files_ : processes_;
  }
  const std::map<GuestHandle, std::string>& owners(Kind kind) const {
    return kind == Kind::file ? files_ : processes_;
  }

  std::map<GuestHandle, std::string> files_;
  std::map<GuestHandle, std::string> processes_;
};

}  // namespace qor::host
