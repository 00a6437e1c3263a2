#pragma once

#include <systemd/sd-bus.h>

#include "host/core/request.h"

namespace qor::host {

// The method call as a Request; a negative errno when it cannot be read.
int readRequest(sd_bus_message* message, Request& out);

// Appends one value of any type; a negative errno when the bus library refuses it (a text that
// is not UTF-8, say).
int appendValue(sd_bus_message* message, const Value& value);

}  // namespace qor::host
