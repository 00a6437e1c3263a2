#pragma once

#include <systemd/sd-bus.h>

#include <vector>

#include "contract/value.h"

namespace qor::wire {

// The one translation between bus messages and values, for the tool and the host alike. Each
// returns a negative errno when the message cannot be read or the bus library refuses a value
// (a text that is not UTF-8, or holds NUL), else a non-negative number.

// The one complete value at the read position.
int readValue(sd_bus_message* message, contract::Value& out);
// Every value from the read position to the end of the message.
int readValues(sd_bus_message* message, std::vector<contract::Value>& out);

int appendValue(sd_bus_message* message, const contract::Value& value);

}  // namespace qor::wire
