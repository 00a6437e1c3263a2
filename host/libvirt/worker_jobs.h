#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "host/backend/loop.h"
#include "host/backend/result.h"
#include "host/libvirt/lanes.h"

namespace qor::host::libvirt {

// Requests of one kind under way on the lanes. A job runs on its lane's thread and yields a
// Result<T>; its finish then runs on the loop's thread with that Result, typed all the way.
//
// The finishes wait here, on the loop's side only: a worker thread never touches them, and
// never lets an exception out (it becomes a failure). A finish whose table has gone (its owner
// was destroyed) never runs; dropping the table drops the finishes, so their completions answer
// that the host gave up.
class WorkerJobs {
 public:
  WorkerJobs(Lanes& lanes, Loop& loop) : lanes_(lanes), loop_(loop) {}
  WorkerJobs(const WorkerJobs&) = delete;
  WorkerJobs& operator=(const WorkerJobs&) = delete;

  // `lane` orders the job after the others of that lane (a machine's lifecycle, its agent).
  template <class T>
  void run(const std::string& lane, std::function<Result<T>()> job,
           std::function<void(Result<T>)> finish);

  // Whether no job of this kind is under way (its finish not yet run).
  bool idle() const { return table_->waiting.empty(); }

 private:
  struct Table {
    std::uint64_t next = 1;
    std::map<std::uint64_t, std::function<void()>> waiting;
  };
  static void finishOnLoop(const std::weak_ptr<Table>& table, std::uint64_t number);

  Lanes& lanes_;
  Loop& loop_;
  std::shared_ptr<Table> table_ = std::make_shared<Table>();
};

// Runs `job` on the calling thread; an exception it throws becomes a failure.
template <class T>
Result<T> guarded(const std::function<Result<T>()>& job) {
  try {
    return job();
  } catch (const std::exception& e) {
    return failed(std::string("The host failed while working on the request: ") + e.what());
  } catch (...) {
    return failed("The host failed while working on the request.");
  }
}

template <class T>
void WorkerJobs::run(const std::string& lane, std::function<Result<T>()> job,
                     std::function<void(Result<T>)> finish) {
  // Written by the worker thread before it posts, read on the loop after: the post orders them.
  auto outcome = std::make_shared<std::optional<Result<T>>>();
  const std::uint64_t number = table_->next++;
  table_->waiting.emplace(number,
                          [outcome, finish = std::move(finish)] { finish(std::move(**outcome)); });
  lanes_.submit(lane, [&loop = loop_, table = std::weak_ptr<Table>(table_), number, outcome,
                       job = std::move(job)] {
    *outcome = guarded(job);
    loop.post([table, number] { finishOnLoop(table, number); });
  });
}

}  // namespace qor::host::libvirt
