#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "host/backend/loop.h"

namespace qor::host::libvirt::testing {

// The test's own loop: posted tasks run when the test waits for an outcome; a timer's task is
// posted at once. Safe to post to from the worker's threads.
class QueueLoop : public Loop {
 public:
  void post(std::function<void()> task) override {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
  }
  std::unique_ptr<Timer> after(std::chrono::milliseconds, std::function<void()> task) override {
    post(std::move(task));
    return std::make_unique<Timer>();
  }
  // Runs posted tasks until `done` holds, for at most 30 s.
  bool runUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
      std::unique_lock lock(mutex_);
      if (!wake_.wait_until(lock, deadline, [&] { return !tasks_.empty(); })) return false;
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
    }
    return true;
  }
  // Waits, for at most 30 s, until a task has been posted, and runs nothing.
  bool waitForPost() {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, std::chrono::seconds(30), [&] { return !tasks_.empty(); });
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace qor::host::libvirt::testing
