#pragma once

#include <optional>
#include <string>

#include "host/bus/service.h"

namespace qor::host::libvirt {

// The libvirt backend as the host program runs it, on the connection `uri` (nullopt:
// libvirt's default). libvirt need not be reachable at start: every request says so until it is.
BackendFactory libvirtBackend(std::optional<std::string> uri);

}  // namespace qor::host::libvirt
