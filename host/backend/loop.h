#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace qor::host {

// A pending timer; dropping it cancels the timer.
class Timer {
 public:
  virtual ~Timer() = default;
};

// The host's event loop as a backend sees it. Everything a backend is called with, and every
// Completion it fires, belongs to the loop's thread; a backend that works on other threads
// comes back through post.
class Loop {
 public:
  virtual ~Loop() = default;
  // Runs `task` on the loop's thread soon. Safe to call from any thread.
  virtual void post(std::function<void()> task) = 0;
  // Runs `task` on the loop's thread once `delay` has passed, unless the Timer is dropped first.
  [[nodiscard]] virtual std::unique_ptr<Timer> after(std::chrono::milliseconds delay,
                                                     std::function<void()> task) = 0;
};

}  // namespace qor::host
