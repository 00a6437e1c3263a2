#include "host/backend/event_loop.h"

#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

namespace qor::host {
namespace {

constexpr std::uint64_t kAccuracyUsec = 1000;

class EventTimer : public Timer {
 public:
  explicit EventTimer(std::function<void()> task)
      : task_(std::make_shared<std::function<void()>>(std::move(task))) {}
  ~EventTimer() override { sd_event_source_disable_unref(source_); }

  int arm(sd_event* event, std::chrono::milliseconds delay) {
    const auto usec = static_cast<std::uint64_t>(delay.count()) * 1000;
    // An accuracy of 0 would be sd-event's default of a quarter second.
    return sd_event_add_time_relative(event, &source_, CLOCK_MONOTONIC, usec, kAccuracyUsec,
                                      &EventTimer::onTime, this);
  }

  // The task once, unless the timer has been dropped by then.
  std::function<void()> runner() const {
    return [weak = std::weak_ptr(task_)] {
      if (auto task = weak.lock()) run(*task);
    };
  }

 private:
  static void run(std::function<void()>& task) {
    // The task may drop its timer; it runs from a copy.
    if (auto t = std::exchange(task, nullptr)) t();
  }
  static int onTime(sd_event_source*, uint64_t, void* userdata) {
    auto task = static_cast<EventTimer*>(userdata)->task_;
    run(*task);
    return 0;
  }

  std::shared_ptr<std::function<void()>> task_;
  sd_event_source* source_ = nullptr;
};

}  // namespace

EventLoop::EventLoop(sd_event* event) : event_(sd_event_ref(event)) {}

EventLoop::~EventLoop() {
  sd_event_source_disable_unref(wakeSource_);
  sd_event_unref(event_);
}

int EventLoop::start() {
  wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake_) return -errno;
  return sd_event_add_io(event_, &wakeSource_, wake_.get(), EPOLLIN, &EventLoop::onWake, this);
}

void EventLoop::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(task));
  }
  const std::uint64_t one = 1;
  // Only a full counter fails (EAGAIN), and then the loop is woken already.
  [[maybe_unused]] const auto n = ::write(wake_.get(), &one, sizeof one);
}

std::unique_ptr<Timer> EventLoop::after(std::chrono::milliseconds delay,
                                        std::function<void()> task) {
  auto timer = std::make_unique<EventTimer>(std::move(task));
  // Without a timer source the task runs on the next turn of the loop rather than never.
  if (timer->arm(event_, delay) < 0) post(timer->runner());
  return timer;
}

int EventLoop::onWake(sd_event_source*, int fd, uint32_t, void* userdata) {
  std::uint64_t count = 0;
  [[maybe_unused]] const auto n = ::read(fd, &count, sizeof count);
  static_cast<EventLoop*>(userdata)->runPosted();
  return 0;
}

void EventLoop::runPosted() {
  std::deque<std::function<void()>> tasks;
  {
    std::lock_guard lock(mutex_);
    tasks.swap(posted_);
  }
  for (auto& task : tasks) task();
}

}  // namespace qor::host
