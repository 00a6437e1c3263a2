#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "host/backend/loop.h"

namespace qor::host {

// A Loop that runs nothing by itself: posted tasks and timers wait until runPending.
class ManualLoop : public Loop {
 public:
  void post(std::function<void()> task) override;
  std::unique_ptr<Timer> after(std::chrono::milliseconds delay,
                               std::function<void()> task) override;
  // Runs what was posted, then every timer still armed, as if their time had come; answers
  // how many tasks ran.
  std::size_t runPending();
  std::size_t armedTimers() const;

 private:
  struct Slot {
    std::function<void()> task;
    bool armed = true;
  };
  std::vector<std::function<void()>> posted_;
  std::vector<std::shared_ptr<Slot>> timers_;
};

}  // namespace qor::host
