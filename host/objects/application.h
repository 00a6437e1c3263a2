#pragma once

#include "host/core/route.h"

namespace qor::host::objects {

// The application object at the root: its name and version, the lists of machines, USB
// devices and windows, and whether it leaves when idle.
extern const Route kApplication;

}  // namespace qor::host::objects
