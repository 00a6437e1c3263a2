#include "host/simulated/guest_access.h"

#include "contract/codes.h"

namespace qor::host {

Result<Machine*> runningGuest(World& world, MachineKey key) {
  Machine* m = world.machineByKey(key);
  if (!m) return noObject("The virtual machine does not exist.");
  if (m->status && *m->status == contract::code(contract::QorStatus::started)) return m;
  return invalidState("The guest agent is not running.");
}

}  // namespace qor::host
