#include "host/backend/manual_loop.h"

#include <utility>

namespace qor::host {
namespace {

struct ManualTimer : Timer {
  explicit ManualTimer(std::shared_ptr<bool> armed) : armed_(std::move(armed)) {}
  ~ManualTimer() override { *armed_ = false; }
  std::shared_ptr<bool> armed_;
};

}  // namespace

void ManualLoop::post(std::function<void()> task) {
  std::lock_guard lock(postedMutex_);
  posted_.push_back(std::move(task));
}

std::unique_ptr<Timer> ManualLoop::after(std::chrono::milliseconds, std::function<void()> task) {
  auto slot = std::make_shared<Slot>();
  slot->task = std::move(task);
  timers_.push_back(slot);
  // The timer shares the slot's flag, so dropping it disarms the slot.
  return std::make_unique<ManualTimer>(std::shared_ptr<bool>(slot, &slot->armed));
}

std::size_t ManualLoop::runPending() {
  std::size_t ran = 0;
  std::vector<std::function<void()>> posted;
  {
    std::lock_guard lock(postedMutex_);
    posted = std::exchange(posted_, {});
  }
  for (auto& task : posted) {
    task();
    ++ran;
  }
  for (auto timers = std::exchange(timers_, {}); auto& slot : timers) {
    if (!slot->armed) continue;
    slot->armed = false;
    slot->task();
    ++ran;
  }
  return ran;
}

std::size_t ManualLoop::armedTimers() const {
  std::size_t n = 0;
  for (const auto& slot : timers_) n += slot->armed ? 1 : 0;
  return n;
}

}  // namespace qor::host
