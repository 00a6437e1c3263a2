#pragma once

#include "host/core/route.h"

namespace qor::host {

// org.freedesktop.DBus.Properties on an object of a route: Get, GetAll and Set, answered from
// the route's property rows. Reads answer at once.
Result<Values> serveProperties(Context& context, const Route& route, const Target& target,
                               const Request& request);

}  // namespace qor::host
