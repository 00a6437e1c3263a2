#pragma once

namespace qor::host::libvirt {

// libvirt's own event loop, which keepalive (and domain events) need: registered once per
// process and run on one thread of its own for the process's life. Safe to call again and from
// any thread; call it before the first connection is opened.
void startLibvirtEvents();

}  // namespace qor::host::libvirt
