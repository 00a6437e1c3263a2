#include "host/libvirt/libvirt_events.h"

#include <libvirt/libvirt.h>

#include <mutex>
#include <thread>

namespace qor::host::libvirt {

void startLibvirtEvents() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (virEventRegisterDefaultImpl() < 0) return;
    std::thread([] {
      for (;;) virEventRunDefaultImpl();
    }).detach();
  });
}

}  // namespace qor::host::libvirt
