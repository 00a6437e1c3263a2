#include "host/libvirt/worker.h"

namespace qor::host::libvirt {

Worker::Worker(unsigned threads) {
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { serve(); });
}

Worker::~Worker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  for (auto& t : threads_) t.join();
}

void Worker::submit(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void Worker::serve() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    job();
  }
}

}  // namespace qor::host::libvirt
