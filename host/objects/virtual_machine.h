#pragma once

#include "host/core/route.h"

namespace qor::host::objects {

// A machine, by id, name or key: what it is, its lifecycle, and the guest requests that open
// a file, start a program or ask for addresses (their objects are guest_file and
// guest_process).
extern const Route kVirtualMachine;

}  // namespace qor::host::objects
