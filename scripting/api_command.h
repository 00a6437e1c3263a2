#pragma once

#include <filesystem>

#include "scripting/event_error_handler.h"

namespace qor::scripting {

class QorApplication;

// The values of the option group every leaf command holds in its member `environment`.
struct Environment {
  bool debug = false;  // accepted and stored; nothing depends on it
  bool hide = false;   // close the host's main window before the command's own work
};

// The contract of every leaf command: its environment options and its own body. The run
// operation is the one shared run sequence; no command supplies its own.
class QorAPICommand {
 public:
  virtual ~QorAPICommand() = default;
  virtual const Environment& environment() const = 0;

  // The command's own body. Returns the process's exit status: 0 on success, 1 when a request
  // the command depends on failed in the host (already reported by the event error handler), or
  // the guest program's status for exec. Program errors are raised (APIError, CommandError).
  virtual int execute(QorApplication& application) = 0;

  // Locate the host, create the application object, set launch flags and delegate (the shared
  // event error handler, writing through `errors`), apply --hide, then execute.
  int run(const LineWriter& errors);
  // The same sequence for the host bundle at `bundle`; run() passes locateHostApplication().
  int runWithHost(const std::filesystem::path& bundle, const LineWriter& errors);
};

// The bundle that contains the running executable (links resolved, three levels up, extension
// "app" compared exactly), else /Applications/Qor.app.
std::filesystem::path locateHostApplication();
std::filesystem::path locateHostApplication(const std::filesystem::path& executable);

}  // namespace qor::scripting
