#pragma once

#include "host/core/router.h"

namespace qor::host {

// The introspection XML of a node or object: the standard interfaces, the class's interface
// from its route row, and the nodes below as they are now (only the caller's own guest files
// and processes). Built without a bus, from the route table alone.
Result<Values> introspect(Context& context, const ParsedPath& parsed, const std::string& sender);

}  // namespace qor::host
