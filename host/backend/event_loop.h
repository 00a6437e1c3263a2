#pragma once

#include <systemd/sd-event.h>

#include <deque>
#include <functional>
#include <mutex>

#include "host/backend/loop.h"
#include "host/backend/unique_fd.h"

namespace qor::host {

// The Loop on an sd-event loop. post wakes the loop through an eventfd, so a worker thread can
// hand back a result without touching sd-event, which is not thread-safe.
class EventLoop : public Loop {
 public:
  explicit EventLoop(sd_event* event);
  ~EventLoop() override;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // A negative errno when the eventfd or its event source cannot be set up.
  int start();
  sd_event* event() const { return event_; }

  void post(std::function<void()> task) override;
  std::unique_ptr<Timer> after(std::chrono::milliseconds delay,
                               std::function<void()> task) override;

 private:
  static int onWake(sd_event_source* source, int fd, uint32_t events, void* userdata);
  void runPosted();

  sd_event* event_;
  UniqueFd wake_;
  sd_event_source* wakeSource_ = nullptr;
  std::mutex mutex_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace qor::host
