#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "host/backend/loop.h"

namespace qor::host {

// A Loop that runs nothing by itself: posted tasks and timers wait until runPending. Like any
// Loop, post may be called from any thread; everything else belongs to the test's thread.
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
  std::mutex postedMutex_;
  std::vector<std::function<void()>> posted_;
  std::vector<std::shared_ptr<Slot>> timers_;
};

}  // namespace qor::host
