#pragma once

#include "host/backend/objects.h"
#include "host/backend/result.h"
#include "host/simulated/world.h"

namespace qor::host {

// The one rule of who answers for a simulated guest: the machine must exist and be running, as
// only then would its agent answer. A lookup; it changes nothing.

// The running machine behind `key`; noObject when it has gone, invalidState when it does not run.
Result<Machine*> runningGuest(World& world, MachineKey key);

}  // namespace qor::host
