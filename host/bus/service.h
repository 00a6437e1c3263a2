#pragma once

#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "host/backend/backend.h"
#include "host/core/route.h"
#include "host/settings/settings.h"

namespace qor::host {

// Serves the host on the session bus until the connection closes, the host has been idle too
// long, or it is told to stop. Answers the process's exit status.
// `routes` is the object tree served. A fault list that cannot be used ends it at once with
// status 64.
int runHostService(const Settings& settings, const BackendFactory& makeBackend,
                   std::span<const Route> routes);

}  // namespace qor::host
