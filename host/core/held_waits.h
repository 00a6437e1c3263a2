#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "host/backend/backend.h"
#include "host/backend/loop.h"
#include "host/core/request.h"

namespace qor::host {

// WaitFor's requests, held while the machine is looked at again and again, so that a client
// waiting for a machine sends about a request a second instead of one every few milliseconds.
// The loop's thread only; a look never blocks (the guest's readiness answers later).
class HeldWaits {
 public:
  // Without a loop a wait answers after one look.
  HeldWaits(const Backends& backends, Loop* loop) : backends_(backends), loop_(loop) {}

  // Answers true as soon as `condition` holds for the machine, false once `hold` has passed,
  // or a failure: the machine went, or its guest cannot become ready by itself.
  void hold(MachineKey key, std::uint32_t condition, std::chrono::milliseconds hold,
            const std::string& sender, Completion<Values> done);
  // A client that left the bus is waiting no more.
  void connectionLeft(const std::string& uniqueName);

 private:
  struct Wait;
  void look(const std::shared_ptr<Wait>& wait);
  void settle(const std::shared_ptr<Wait>& wait, Result<bool> outcome);

  const Backends& backends_;
  Loop* loop_;
  std::map<std::uint64_t, std::shared_ptr<Wait>> waits_;
  std::uint64_t next_ = 1;
};

}  // namespace qor::host
