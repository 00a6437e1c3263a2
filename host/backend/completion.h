#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <variant>

#include "host/backend/result.h"

namespace qor::host {

// How a backend hands back the outcome of a request, at once or later (from the loop's thread;
// a worker thread posts to the loop first). Copies share one outcome: the first call counts and
// later ones are ignored. A request whose completions are all dropped uncalled is answered with
// Failed, so a client never waits for an answer that cannot come.
template <class T>
class Completion {
 public:
  using Callback = std::function<void(Result<T>)>;

  explicit Completion(Callback callback) : state_(std::make_shared<State>(std::move(callback))) {}

  void operator()(Result<T> outcome) const { state_->fire(std::move(outcome)); }
  bool done() const { return !state_->callback; }

 private:
  struct State {
    explicit State(Callback c) : callback(std::move(c)) {}
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() {
      if (callback) fire(failed("The host gave up on the request."));
    }
    void fire(Result<T> outcome) {
      if (auto c = std::exchange(callback, nullptr)) c(std::move(outcome));
    }
    Callback callback;
  };
  std::shared_ptr<State> state_;
};

}  // namespace qor::host
