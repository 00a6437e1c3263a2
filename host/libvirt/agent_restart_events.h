#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "host/backend/loop.h"

namespace qor::host::libvirt {

// Tells the loop when a machine's guest agent starts afresh, from libvirt's events: a guest
// reboot (the machine keeps its run, so the look at the machines cannot tell) and the agent
// connecting or going. It keeps a connection of its own for them, opened again when it is lost;
// an event missed meanwhile is caught by the guest agent's own checks of each hand-out
// (AgentChannel).
//
// Built and destroyed on the loop's thread; `restarted` runs there, with the machine's UUID.
// The connection is opened and closed on a thread of its own, detached when this goes (a libvirt
// call it is in may never return, and the host must still be able to end); libvirt's callbacks
// run on its event thread (libvirt_events.h) and only post to the loop.
class AgentRestartEvents {
 public:
  AgentRestartEvents(Loop& loop, std::optional<std::string> uri,
                     std::function<void(const std::string& uuid)> restarted);
  // Nothing reaches the loop from here on; the thread drops the callbacks, closes its
  // connection and ends on its own.
  ~AgentRestartEvents();
  AgentRestartEvents(const AgentRestartEvents&) = delete;
  AgentRestartEvents& operator=(const AgentRestartEvents&) = delete;

  // What libvirt's callbacks reach: the loop while this object lives.
  struct Shared {
    std::mutex mutex;
    Loop* loop = nullptr;  // null once the object is going
    std::shared_ptr<std::function<void(const std::string&)>> restarted;
    std::condition_variable wake;
    bool lost = false;  // the connection closed under us
    bool stopping = false;
  };

 private:
  static void watch(const std::shared_ptr<Shared>& shared, const std::optional<std::string>& uri);

  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

}  // namespace qor::host::libvirt
