#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "host/backend/loop.h"
#include "host/core/handles.h"
#include "host/core/held_waits.h"
#include "host/core/router.h"

namespace qor::host {

// The bus side of the host, free of the bus library: reads a request's path against the route
// table, checks its interface, member and arguments, and hands it to the member's handler.
// Every request is answered through its Completion, at once or when the backend has finished;
// nothing a client sends can make it fail other than with an error reply. The loop's thread
// only; it never blocks.
class Dispatcher {
 public:
  // `loop` holds the requests that wait (WaitFor); without one they answer after one look.
  Dispatcher(Backends backends, std::span<const Route> routes, Loop* loop = nullptr);
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  void handle(const Request& request, Completion<Values> done);

  // A guest file or process belongs to the connection that opened it; when that connection
  // leaves the bus its handles are released.
  void connectionLeft(const std::string& uniqueName);

  bool autoTerminate() const { return application_.autoTerminate; }
  const Router& router() const { return router_; }
  Context& context() { return context_; }

  // The type of a request's answer ("" when it has none or is unknown), and whether it is a
  // property read, whose answer goes inside a variant.
  std::pair<std::string_view, bool> answerType(const Request& request) const;

 private:
  void dispatch(const Route& route, Target target, const Request& request, Completion<Values> done);

  Backends backends_;
  Router router_;
  HandleOwners handles_;
  HeldWaits waits_;
  ApplicationState application_;
  Context context_;
};

}  // namespace qor::host
