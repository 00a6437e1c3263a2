#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "host/backend/manual_loop.h"
#include "host/core/dispatcher.h"
#include "host/simulated/simulated_backend.h"

namespace qor::host {

// The bus side and the simulated backend without a bus: what unit tests and the fuzzer drive.
// Requests come from the connection named in Request::sender ("" unless a test sets one).
class DirectHost {
 public:
  DirectHost(World world, ProcessLauncher& launcher);

  // The reply; an answer the backend holds is waited for by letting its timers run.
  Reply handle(const Request& request);

  RequestFacts factsOf(const Request& request) { return dispatcher_.factsOf(request); }
  Reply substituteReply(const Request& request, FaultReply kind) {
    return dispatcher_.substituteReply(request, kind);
  }
  Reply replyWithValue(const Request& request, const Json& value) {
    return dispatcher_.replyWithValue(request, value);
  }
  bool takeChanged() { return backend_.takeChanged(); }
  const World& world() const { return backend_.world(); }
  bool autoTerminate() const { return dispatcher_.autoTerminate(); }
  Dispatcher& dispatcher() { return dispatcher_; }
  ManualLoop& loop() { return loop_; }

 private:
  ManualLoop loop_;
  SimulatedBackend backend_;
  Dispatcher dispatcher_;
};

}  // namespace qor::host
