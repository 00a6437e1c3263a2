#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qor::host::libvirt {

// Where libvirt calls that may block for seconds run (a managed save, a destroy, a disk copy, a
// guest-agent command), off the host's loop. Work is queued in lanes: one lane runs its jobs
// one at a time, in order, on a thread of its own; lanes never wait for each other. The backend
// gives each machine a lane for its lifecycle and one for its guest agent, so a silent agent
// holds up only that agent's requests, and one machine never delays another.
//
// Jobs must not throw and must come back to the loop by Loop::post; they never touch the
// loop's state directly.
class Lanes {
 public:
  // At most `maxThreads` lanes run at once; a lane beyond that waits for a thread.
  explicit Lanes(std::size_t maxThreads = 64);
  // stop()s.
  ~Lanes();
  Lanes(const Lanes&) = delete;
  Lanes& operator=(const Lanes&) = delete;

  // Dropped unrun once stopped.
  void submit(const std::string& lane, std::function<void()> job);
  // Waits for the jobs that run; jobs still queued are dropped unrun, and later ones too. The
  // owner calls it before anything the jobs use goes.
  void stop();

  // Lanes with work queued or running, for tests.
  std::size_t busyLanes();

 private:
  struct Lane {
    std::deque<std::function<void()>> jobs;
    bool running = false;  // a thread drains it
  };
  void startThreads();  // with mutex_ held
  void drain(const std::string& name);

  const std::size_t maxThreads_;
  std::mutex mutex_;
  std::condition_variable idle_;
  std::map<std::string, Lane> lanes_;
  std::deque<std::string> waiting_;  // lanes with work and no thread yet, in order
  std::size_t running_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
  std::vector<std::thread::id> finished_;  // threads that are done, to be joined
};

}  // namespace qor::host::libvirt
