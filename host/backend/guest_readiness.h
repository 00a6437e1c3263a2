#pragma once

#include <cstdint>

#include "host/backend/completion.h"
#include "host/backend/objects.h"

namespace qor::host {

// Whether a running machine's guest is ready for guest requests: its agent answers (`agent`),
// or it also reports an address (`ip`); conditions are the contract's QorWaitCondition codes.
// One look, answered at once or later; the bus side asks again while a client waits, and only
// for a machine that runs.
class GuestReadiness {
 public:
  virtual ~GuestReadiness() = default;
  virtual void ready(MachineKey key, std::uint32_t condition, Completion<bool> done) = 0;
};

}  // namespace qor::host
