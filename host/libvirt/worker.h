#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qor::host::libvirt {

// A few threads for libvirt calls that block for seconds (managed save, destroy, shutdown, a
// disk copy, a guest-agent command), so that the host's loop goes on serving other clients.
// Several threads, so that one slow call (an agent that does not answer) does not hold up
// another machine's request.
//
// It owns its threads and its queue, nothing a job touches: a job brings what it needs and
// hands its outcome back through the loop (WorkerJobs). No exception leaves a thread.
class Worker {
 public:
  explicit Worker(unsigned threads);
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void submit(std::function<void()> job);
  // Waits for the jobs that run; jobs still queued are dropped unrun, and later ones too. The
  // owner calls it before anything the jobs use goes.
  void stop();

 private:
  void serve();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace qor::host::libvirt
