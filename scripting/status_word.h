#pragma once

#include <cstdint>
#include <string_view>

#include "contract/codes.h"

namespace qor::scripting {

// The object model's enumerations are the contract's codes.
using contract::QorBackend;
using contract::QorOpenMode;
using contract::QorSaveOptions;
using contract::QorSerialInterface;
using contract::QorStatus;
using contract::QorStopMethod;
using contract::QorWaitCondition;
using contract::QorWhence;

// The word `list` and `status` print for a status value: the whole 32-bit value is compared with
// the seven codes; anything else is "unknown".
std::string_view statusWord(std::uint32_t status);

}  // namespace qor::scripting
