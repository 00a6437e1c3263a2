#pragma once

#include <filesystem>
#include <memory>

#include "scripting/event_error_handler.h"

namespace qor::scripting {

class Bridge;
class QorApplication;

// The values of the option group every leaf command holds in its member `environment`: the one
// type for them (commands::HostCommand reads them from the command line).
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

// The bridge to the host bundle at `bundle`, from its Contents/Info.plist; nullptr when no
// application can be addressed there (no folder, no readable Info.plist, no valid
// CFBundleIdentifier). Sends nothing and does not connect. Both entry paths, a command's run and
// the completions' value query, make their channel here.
std::unique_ptr<Bridge> bridgeForBundle(const std::filesystem::path& bundle);
// The application object over bridgeForBundle(bundle); nullptr when there is no bridge.
std::unique_ptr<QorApplication> applicationForBundle(const std::filesystem::path& bundle);

// The bundle that contains the running executable (links resolved, three levels up, extension
// "app" compared exactly), else /Applications/Qor.app.
std::filesystem::path locateHostApplication();
std::filesystem::path locateHostApplication(const std::filesystem::path& executable);

}  // namespace qor::scripting
