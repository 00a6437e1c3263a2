#include "host/libvirt/worker.h"

namespace qor::host::libvirt {

Worker::Worker(unsigned threads) {
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { serve(); });
}

Worker::~Worker() {
  stop();
}

void Worker::stop() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    dropped.swap(queue_);
  }
  wake_.notify_all();
  for (auto& t : threads_) {
    if (t.joinable()) t.join();
  }
  // Dropped here, on the owner's thread, not under the lock: what a job holds may answer a
  // request as it goes.
  dropped.clear();
}

void Worker::submit(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
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
    // A job reports its own failures (WorkerJobs turns an exception into one); whatever still
    // escapes must not end the host.
    try {
      job();
    } catch (...) {
    }
  }
}

}  // namespace qor::host::libvirt
