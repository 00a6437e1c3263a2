#include "host/libvirt/agent_restart_events.h"

#include <libvirt/libvirt.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "host/libvirt/libvirt_events.h"

namespace qor::host::libvirt {
namespace {

using Shared = AgentRestartEvents::Shared;

// How long to wait before opening a lost connection again.
constexpr std::chrono::seconds kReopenAfter{2};

// What libvirt's callbacks are handed. libvirt may call one while it is being deregistered and
// frees what it was given only on a later turn of its loop, perhaps after the process's end: the
// watchers it may reach are kept for the process's life instead, never freed under a callback.
std::mutex keptMutex;
std::vector<std::shared_ptr<Shared>> kept;

void* hold(const std::shared_ptr<Shared>& shared) {
  std::lock_guard guard(keptMutex);
  if (std::find(kept.begin(), kept.end(), shared) == kept.end()) kept.push_back(shared);
  return shared.get();
}
Shared& sharedOf(void* opaque) {
  return *static_cast<Shared*>(opaque);
}

void tell(virDomainPtr domain, void* opaque) {
  std::array<char, VIR_UUID_STRING_BUFLEN> uuid{};
  if (virDomainGetUUIDString(domain, uuid.data()) < 0) return;
  Shared& s = sharedOf(opaque);
  std::lock_guard guard(s.mutex);
  if (!s.loop) return;
  s.loop->post([weak = std::weak_ptr(s.restarted), uuid = std::string(uuid.data())] {
    if (auto restarted = weak.lock()) (*restarted)(uuid);
  });
}

template <class Register>
int registeredWith(const std::shared_ptr<Shared>& shared, Register&& call) {
  return call(hold(shared));
}

void onReboot(virConnectPtr, virDomainPtr domain, void* opaque) {
  tell(domain, opaque);
}

// Connected or disconnected: either way what the old agent handed out is gone.
void onAgentLifecycle(virConnectPtr, virDomainPtr domain, int, int, void* opaque) {
  tell(domain, opaque);
}

void onClose(virConnectPtr, int, void* opaque) {
  Shared& s = sharedOf(opaque);
  std::lock_guard guard(s.mutex);
  s.lost = true;
  s.wake.notify_all();
}

}  // namespace

AgentRestartEvents::AgentRestartEvents(Loop& loop, std::optional<std::string> uri,
                                       std::function<void(const std::string& uuid)> restarted) {
  startLibvirtEvents();
  shared_->loop = &loop;
  shared_->restarted =
      std::make_shared<std::function<void(const std::string&)>>(std::move(restarted));
  std::thread([shared = shared_, uri = std::move(uri)] { watch(shared, uri); }).detach();
}

AgentRestartEvents::~AgentRestartEvents() {
  {
    std::lock_guard guard(shared_->mutex);
    shared_->stopping = true;
    shared_->loop = nullptr;
    shared_->wake.notify_all();
  }
  // Tasks already posted find the function gone.
  shared_->restarted.reset();
}

void AgentRestartEvents::watch(const std::shared_ptr<Shared>& shared,
                               const std::optional<std::string>& uri) {
  std::unique_lock lock(shared->mutex);
  while (!shared->stopping) {
    shared->lost = false;
    lock.unlock();
    virConnectPtr conn = virConnectOpen(uri ? uri->c_str() : nullptr);
    int reboot = -1;
    int agent = -1;
    bool closeWatched = false;
    if (conn) {
      closeWatched = registeredWith(shared, [&](void* o) {
                       return virConnectRegisterCloseCallback(conn, onClose, o, nullptr);
                     }) >= 0;
      reboot = registeredWith(shared, [&](void* o) {
        return virConnectDomainEventRegisterAny(conn, nullptr, VIR_DOMAIN_EVENT_ID_REBOOT,
                                                VIR_DOMAIN_EVENT_CALLBACK(onReboot), o, nullptr);
      });
      agent = registeredWith(shared, [&](void* o) {
        return virConnectDomainEventRegisterAny(conn, nullptr, VIR_DOMAIN_EVENT_ID_AGENT_LIFECYCLE,
                                                VIR_DOMAIN_EVENT_CALLBACK(onAgentLifecycle), o,
                                                nullptr);
      });
    }
    lock.lock();
    // A connection that works is kept until it is lost; one that failed is tried again later.
    const bool working = conn && reboot >= 0 && agent >= 0;
    if (working) {
      // Without a close callback a lost connection goes unnoticed: look at it now and then.
      while (!shared->wake.wait_for(lock, kReopenAfter,
                                    [&shared] { return shared->stopping || shared->lost; })) {
        if (closeWatched) continue;
        lock.unlock();
        const bool alive = virConnectIsAlive(conn) == 1;
        lock.lock();
        if (!alive) break;
      }
    }
    lock.unlock();
    if (conn) {
      if (reboot >= 0) virConnectDomainEventDeregisterAny(conn, reboot);
      if (agent >= 0) virConnectDomainEventDeregisterAny(conn, agent);
      if (closeWatched) virConnectUnregisterCloseCallback(conn, onClose);
      virConnectClose(conn);
    }
    lock.lock();
    shared->wake.wait_for(lock, kReopenAfter, [&shared] { return shared->stopping; });
  }
}

}  // namespace qor::host::libvirt
