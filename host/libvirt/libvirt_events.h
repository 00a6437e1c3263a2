#pragma once

namespace qor::host::libvirt {

// libvirt delivers events (and keepalives) only through an event loop the program registers
// before it opens a connection. This one is libvirt's default loop on a thread of its own, never
// on the host's loop: its callbacks come back to the host with Loop::post. Started once per
// process; later calls do nothing.
void startLibvirtEvents();

}  // namespace qor::host::libvirt
