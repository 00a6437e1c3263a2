#pragma once

#include <optional>
#include <string>

#include "host/backend/backend.h"

namespace qor::host::libvirt {

// The libvirt backend as the host program runs it, on the connection `uri` (nullopt:
// libvirt's default). libvirt need not be reachable at start: every request says so until it
// is, so building it never fails.
BackendFactory libvirtBackend(std::optional<std::string> uri);

}  // namespace qor::host::libvirt
