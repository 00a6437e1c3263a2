#pragma once

#include "host/core/route.h"

namespace qor::host::objects {

// A window of the host application, by its key.
extern const Route kWindow;

}  // namespace qor::host::objects
