#pragma once

#include <vector>

#include "contract/value.h"
#include "host/backend/completion.h"
#include "host/backend/objects.h"

namespace qor::host {

// Programs run inside a machine's guest. A handle is never reused for the host's whole run.
class GuestProcesses {
 public:
  virtual ~GuestProcesses() = default;
  virtual std::vector<GuestHandle> processes(MachineKey key) = 0;
  virtual void execute(MachineKey key, ExecuteArgs args, Completion<GuestHandle> done) = 0;
  // The record (a{sv}) GetResult answers (processRecord builds it). A backend may hold it while
  // the program runs, for a short while, so that a client asking without pause does not spin.
  virtual void result(MachineKey key, GuestHandle process, Completion<contract::Value> done) = 0;
  // The client that started the program has left the bus: forget it (the program may go on).
  virtual void releaseProcess(GuestHandle process) = 0;
};

}  // namespace qor::host
