#pragma once

#include "host/backend/result.h"

namespace qor::host {

// A backend that keeps state of its own (the simulated world file) writes what changed after
// every request, before its reply goes out, so a client that has its answer finds the change.
class Persistence {
 public:
  virtual ~Persistence() = default;
  // A failure turns the reply into one.
  virtual Result<Done> persist() = 0;
};

}  // namespace qor::host
