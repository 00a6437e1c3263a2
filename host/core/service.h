#pragma once

#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "host/core/backend.h"
#include "host/core/event_loop.h"
#include "host/core/json.h"
#include "host/core/settings.h"

namespace qor::host {

// What a backend brings to the bus side: itself, and the fault switches to put in front of it.
struct BackendSetup {
  std::unique_ptr<Backend> backend;
  Json faults = Json::array();
};

// Builds the backend on the host's loop; an error message when it cannot (a world file that
// cannot be read, say), and the host then exits with status 1.
using BackendFactory = std::function<std::variant<BackendSetup, std::string>(EventLoop& loop)>;

// Serves the host on the session bus until the connection closes, the host has been idle too
// long, or it is told to stop. Answers the process's exit status.
int runHostService(const Settings& settings, const BackendFactory& makeBackend);

}  // namespace qor::host
