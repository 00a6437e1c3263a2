#include "host/libvirt/lanes.h"

#include <algorithm>

namespace qor::host::libvirt {

Lanes::Lanes(std::size_t maxThreads) : maxThreads_(std::max<std::size_t>(maxThreads, 1)) {}

Lanes::~Lanes() {
  stop();
}

void Lanes::stop() {
  std::vector<std::thread> threads;
  {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    waiting_.clear();
    for (auto& [name, lane] : lanes_) lane.jobs.clear();
    idle_.wait(lock, [this] { return running_ == 0; });
    threads = std::move(threads_);
  }
  for (auto& t : threads) t.join();
}

void Lanes::submit(const std::string& lane, std::function<void()> job) {
  std::lock_guard lock(mutex_);
  if (stopping_) return;
  Lane& l = lanes_[lane];
  l.jobs.push_back(std::move(job));
  if (!l.running && std::find(waiting_.begin(), waiting_.end(), lane) == waiting_.end()) {
    waiting_.push_back(lane);
  }
  startThreads();
}

void Lanes::startThreads() {
  // Threads that have finished are joined here: never by themselves.
  for (const auto id : finished_) {
    const auto it = std::find_if(threads_.begin(), threads_.end(),
                                 [id](const std::thread& t) { return t.get_id() == id; });
    if (it != threads_.end() && id != std::this_thread::get_id()) {
      it->join();
      threads_.erase(it);
    }
  }
  std::erase_if(finished_, [](std::thread::id id) { return id != std::this_thread::get_id(); });
  while (!waiting_.empty() && running_ < maxThreads_) {
    lanes_[waiting_.front()].running = true;
    ++running_;
    threads_.emplace_back([this, name = waiting_.front()] { drain(name); });
    waiting_.pop_front();
  }
}

void Lanes::drain(const std::string& name) {
  for (;;) {
    std::function<void()> job;
    {
      std::lock_guard lock(mutex_);
      Lane& l = lanes_[name];
      if (l.jobs.empty() || stopping_) {
        lanes_.erase(name);
        --running_;
        // A lane that waited for a thread gets this one's place.
        if (!stopping_) startThreads();
        finished_.push_back(std::this_thread::get_id());
        idle_.notify_all();
        return;
      }
      job = std::move(l.jobs.front());
      l.jobs.pop_front();
    }
    job();
  }
}

std::size_t Lanes::busyLanes() {
  std::lock_guard lock(mutex_);
  return lanes_.size();
}

}  // namespace qor::host::libvirt
