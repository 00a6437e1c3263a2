#pragma once

#include <span>

#include "host/core/route.h"

namespace qor::host::objects {

// The host's object tree: one row per class of the contract, in the order Introspect lists
// a node's children.
std::span<const Route> routes();

}  // namespace qor::host::objects
