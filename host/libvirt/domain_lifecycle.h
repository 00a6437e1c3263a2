#pragma once

#include "host/backend/result.h"
#include "host/libvirt/handles.h"
#include "host/libvirt/mapping.h"

namespace qor::host::libvirt {

// Start, suspend, stop and delete of one libvirt domain, as plain calls. Each blocks its thread
// for as long as libvirt takes (a managed save writes the machine's memory, a destroy waits for
// QEMU to end): call them on a worker thread, never on the host's loop. They own nothing and
// keep nothing; the domain is read afresh on every call.

Result<Done> startDomain(virConnectPtr conn, virDomainPtr d, bool saving);
Result<Done> suspendDomain(virDomainPtr d, bool saving);
Result<Done> stopDomain(virDomainPtr d, StopAction action);
// Deletes the definition, its saved state and metadata, and the disk copies this host made for
// it that no other machine uses.
Result<Done> deleteDomain(virConnectPtr conn, virDomainPtr d);

}  // namespace qor::host::libvirt
