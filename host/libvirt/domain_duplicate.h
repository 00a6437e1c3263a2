#pragma once

#include <optional>
#include <string>

#include "host/backend/result.h"
#include "host/libvirt/handles.h"

namespace qor::host::libvirt {

// Duplicate: a stopped machine's definition under a new name (`wanted`, else the first free
// "NAME copy"), UUID and MAC addresses, with a copy of each disk it writes to; read-only and
// shareable disks (ISO images) stay shared. A copy that fails leaves nothing behind.
//
// Blocks for as long as the disks take to copy: call it on a worker thread, never on the
// host's loop. It keeps nothing.
Result<Done> duplicateDomain(virConnectPtr conn, virDomainPtr d, const std::string& originalName,
                             const std::optional<std::string>& wanted);

}  // namespace qor::host::libvirt
