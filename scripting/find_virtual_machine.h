#pragma once

#include <string>

#include "scripting/object_model.h"

namespace qor::scripting {

// The one lookup of a machine: the virtualMachines list is requested with the delegate in place,
// then, with the delegate removed, the identifier is tried as an id and then as a complete name
// (texts equal under canonical equivalence, case-sensitive, untrimmed). Raises
// APIError::virtualMachineNotFound when neither matches.
QorVirtualMachine findVirtualMachine(QorApplication& application, const std::string& identifier);

}  // namespace qor::scripting
