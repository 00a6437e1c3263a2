#pragma once

#include "host/settings.h"

namespace qor::host {

// Serves the host on the session bus until the connection closes, the host has been idle too
// long, or it is told to stop. Answers the process's exit status.
int runHostService(const Settings& settings);

}  // namespace qor::host
