#pragma once

#include <filesystem>

#include "host/backend/backend.h"

namespace qor::host {

// The simulated backend as the host program runs it: the world read from `worldFile` (created
// from the default world when missing) and written back after every change, its programs run
// as real child processes on the loop. The factory only builds; it serves no request.
BackendFactory simulatedBackend(std::filesystem::path worldFile);

}  // namespace qor::host
