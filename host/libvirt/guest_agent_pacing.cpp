#include "host/libvirt/guest_agent_pacing.h"

#include <algorithm>

namespace qor::host::libvirt {

NextLook nextLook(std::chrono::steady_clock::duration age,
                  std::chrono::steady_clock::duration held) {
  using std::chrono::milliseconds;
  const auto interval =
      std::clamp(std::chrono::duration_cast<milliseconds>(age / 4), milliseconds(5), kResultHold);
  const auto heldMs = std::chrono::duration_cast<milliseconds>(held);
  if (heldMs + interval < kResultHold) return {interval, true};
  return {std::max(kResultHold - heldMs, milliseconds(0)), false};
}

}  // namespace qor::host::libvirt
