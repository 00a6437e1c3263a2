#pragma once

#include "host/core/route.h"

namespace qor::host::objects {

// A serial port of a machine, by its position in the machine's list.
extern const Route kSerialPort;

}  // namespace qor::host::objects
