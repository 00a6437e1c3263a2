#pragma once

#include "host/backend/backend.h"
#include "host/backend/manual_loop.h"
#include "host/core/dispatcher.h"
#include "host/diagnostics/diagnostics.h"

namespace qor::host {

// The host without a bus, in front of any backend: what unit tests and the fuzzer drive.
// Requests come from the connection named in Request::sender ("" unless a test sets one).
class DirectHost {
 public:
  DirectHost(Backend& backend, ManualLoop& loop, std::span<const Route> routes);

  // The reply; an answer the backend holds
  // is waited for by letting the loop's timers run.
  Reply handle(const Request& request);

  Dispatcher& dispatcher() { return dispatcher_; }
  Diagnostics& diagnostics() { return diagnostics_; }
  bool autoTerminate() const { return dispatcher_.autoTerminate(); }

 private:
  ManualLoop& loop_;
  Backends backends_;
  Dispatcher dispatcher_;
  Diagnostics diagnostics_;
};

}  // namespace qor::host
