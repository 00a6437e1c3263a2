#pragma once

#include <string>
#include <vector>

#include "host/backend/completion.h"
#include "host/backend/objects.h"

namespace qor::host {

// What the guest's network looks like from inside.
class Network {
 public:
  virtual ~Network() = default;
  // IPv4 addresses first, then IPv6, each in the guest's order.
  virtual void addresses(MachineKey key, Completion<std::vector<std::string>> done) = 0;
};

}  // namespace qor::host
