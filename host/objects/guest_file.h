#pragma once

#include "host/core/route.h"

namespace qor::host::objects {

// A file open in a machine's guest, owned by the connection that opened it.
extern const Route kGuestFile;

}  // namespace qor::host::objects
