#pragma once

#include "contract/value.h"
#include "host/backend/objects.h"

namespace qor::host {

// GetResult's record of a program: hasExited, and once it has ended exitCode, outputData and
// errorData (already in the encoding the program was started with), and a truncation flag only
// for a stream that was cut.
contract::Value processRecord(const ProcessState& state);

}  // namespace qor::host
