#pragma once

#include <systemd/sd-bus.h>

#include "host/core/request.h"

namespace qor::host {

// The method call as a Request; a negative errno when it cannot be read.
int readRequest(sd_bus_message* message, Request& out);

}  // namespace qor::host
