#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "host/core/dispatcher.h"
#include "host/diagnostics/faults.h"
#include "host/diagnostics/request_log.h"

namespace qor::host {

// What tests and people see of the host, in front of any backend: every request goes into the
// request log before anything decides its fate (so a request that hangs or kills the host is on
// record), then the fault switches may answer it, fail it, hold it or end the host; else the
// dispatcher serves it. Backends know nothing of this. The loop's thread only.
class Diagnostics {
 public:
  // `releaseName` gives up the host's bus name (a fault's "release-name").
  Diagnostics(Dispatcher& dispatcher, std::vector<Fault> faults, std::function<void()> releaseName);

  Result<Done> openLog(const std::filesystem::path& file) { return log_.open(file); }
  // Written first for every request, readable or not.
  void record(const Request& request) { log_.write(request); }
  void serve(const Request& request, Completion<Reply> done);

  // What fault matching needs to know of a request.
  RequestFacts factsOf(const Request& request);
  // The reply of a fault that answers with a value of another type ("wrong-type"), or with the
  // path "/" ("no-object"), in place of what the request would answer.
  Reply substituteReply(const Request& request, FaultReply kind);
  // The reply of a fault that answers with a given value: its JSON converted to the type the
  // request's answer has (a failure when it does not fit, or the request has no answer).
  Reply replyWithValue(const Request& request, const Json& value);

 private:
  void dispatch(const Request& request, Completion<Reply> done);

  Dispatcher& dispatcher_;
  FaultTable faults_;
  std::function<void()> releaseName_;
  RequestLog log_;
  std::vector<Completion<Reply>> hung_;  // kept, so that they are never answered
};

}  // namespace qor::host
