#pragma once

#include "host/core/route.h"

namespace qor::host::objects {

// A USB device of the computer, by its position in the host's list, lent to a machine.
extern const Route kUsbDevice;

}  // namespace qor::host::objects
