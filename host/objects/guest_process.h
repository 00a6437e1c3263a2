#pragma once

#include "host/core/route.h"

namespace qor::host::objects {

// A program started in a machine's guest, owned by the connection that started it.
extern const Route kGuestProcess;

}  // namespace qor::host::objects
