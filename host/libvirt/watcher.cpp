#include "host/libvirt/watcher.h"

#include <algorithm>
#include <thread>

namespace qor::host::libvirt {

struct Watcher::Shared {
  explicit Shared(std::optional<std::string> uri) : connection(std::move(uri)) {}

  Connection connection;  // the thread's only
  std::mutex mutex;
  std::condition_variable wake;     // the thread: a look is wanted, or stop
  std::condition_variable arrived;  // readers: a look or ports came
  bool stopping = false;
  bool urgent = false;
  Clock::time_point lastWant;
  Clock::time_point nextLook;
  std::shared_ptr<const Look> latest;
  std::uint64_t published = 0;
  Clock::time_point usbRead;
  Clock::duration lastTook{};                  // by the last look this thread took
  std::optional<Clock::time_point> busySince;  // the current look's start, ports included
  struct Kept {
    int id = -1;
    int state = 0;
    Clock::time_point read;
    Ports ports;
  };
  std::map<std::string, Kept> ports;  // by UUID

  // With the mutex held.
  void publish(Look look) {
    if (latest && look.begun <= latest->begun) return;
    if (latest && look.usb.empty()) look.usb = latest->usb;
    look.number = ++published;
    latest = std::make_shared<const Look>(std::move(look));
    arrived.notify_all();
  }
  bool stale(Clock::time_point now) const { return !latest || now - latest->begun >= kLookLife; }
};

Watcher::Watcher(std::optional<std::string> uri)
    : shared_(std::make_shared<Shared>(std::move(uri))) {
  std::thread(run, shared_).detach();
}

Watcher::~Watcher() {
  std::lock_guard lock(shared_->mutex);
  shared_->stopping = true;
  shared_->wake.notify_all();
}

void Watcher::want() {
  std::lock_guard lock(shared_->mutex);
  const auto now = Clock::now();
  shared_->lastWant = now;
  if (shared_->stale(now)) {
    shared_->urgent = true;
    shared_->wake.notify_all();
  }
}

std::shared_ptr<const Look> Watcher::latest() {
  std::lock_guard lock(shared_->mutex);
  return shared_->latest;
}

Watcher::Clock::duration Watcher::busyFor(Clock::time_point now) {
  std::lock_guard lock(shared_->mutex);
  return shared_->busySince ? now - *shared_->busySince : Clock::duration{};
}

Watcher::Clock::duration Watcher::freshWait() {
  std::lock_guard lock(shared_->mutex);
  if (!shared_->latest) return kLongestWait;
  return std::min<Clock::duration>(kFreshWait + 2 * shared_->lastTook, kLongestWait);
}

std::shared_ptr<const Look> Watcher::waitForLook(Clock::time_point since, Clock::time_point until) {
  std::unique_lock lock(shared_->mutex);
  shared_->arrived.wait_until(lock, until,
                              [&] { return shared_->latest && shared_->latest->begun >= since; });
  return shared_->latest;
}

std::shared_ptr<const Look> Watcher::lookNow(Clock::time_point until) {
  const auto now = Clock::now();
  {
    std::lock_guard lock(shared_->mutex);
    shared_->lastWant = now;
    shared_->urgent = true;
    shared_->wake.notify_all();
  }
  return waitForLook(now, until);
}

void Watcher::offer(Look look) {
  std::lock_guard lock(shared_->mutex);
  shared_->publish(std::move(look));
}

std::optional<Watcher::Ports> Watcher::ports(const std::string& uuid, int id, int state) {
  std::lock_guard lock(shared_->mutex);
  const auto it = shared_->ports.find(uuid);
  if (it == shared_->ports.end() || it->second.id != id || it->second.state != state) {
    return std::nullopt;
  }
  return it->second.ports;
}

void Watcher::notePorts(const std::string& uuid, int id, int state, Ports ports) {
  std::lock_guard lock(shared_->mutex);
  shared_->ports[uuid] = Shared::Kept{id, state, Clock::now(), std::move(ports)};
  shared_->arrived.notify_all();
}

std::optional<Watcher::Ports> Watcher::waitForPorts(const std::string& uuid, int id, int state,
                                                    Clock::time_point until) {
  std::unique_lock lock(shared_->mutex);
  std::optional<Ports> found;
  shared_->arrived.wait_until(lock, until, [&] {
    const auto it = shared_->ports.find(uuid);
    if (it == shared_->ports.end() || it->second.id != id || it->second.state != state) {
      return false;
    }
    found = it->second.ports;
    return true;
  });
  return found;
}

void Watcher::run(std::shared_ptr<Shared> s) {
  std::unique_lock lock(s->mutex);
  while (!s->stopping) {
    const auto now = Clock::now();
    const bool watching = now - s->lastWant < kWatchWindow;
    if (!s->urgent && !(watching && now >= s->nextLook)) {
      if (watching) {
        s->wake.wait_until(lock, s->nextLook);
      } else {
        s->wake.wait(lock);
      }
      continue;
    }
    s->urgent = false;
    const bool usbDue = now - s->usbRead >= kUsbLife;
    s->busySince = now;
    lock.unlock();

    Look look = takeLook(s->connection);
    // What a reader waits for is the machines, not the USB devices read with them: a USB read
    // held up until keepalive gave the connection up must not make readers wait that long.
    const auto took = Clock::now() - look.begun;
    if (usbDue && !look.error) {
      if (auto c = s->connection.get(); succeeded(c)) {
        look.usb = readUsbDevices(std::get<ConnectionRef>(c).get());
      }
    }
    // The ports to read again: those of a run or state not read yet, or read long ago.
    std::vector<Look::Row> portsDue;
    {
      std::lock_guard relock(s->mutex);
      if (usbDue) s->usbRead = now;
      for (const auto& r : look.rows) {
        const auto it = s->ports.find(r.uuid);
        if (it == s->ports.end() || it->second.id != r.id || it->second.state != r.state ||
            now - it->second.read >= kPortsLife) {
          portsDue.push_back(r);
        }
      }
      s->nextLook = look.begun + kLookLife;
      // A failed look may have waited for a connection that never came: it says nothing of how
      // long a look takes, and must not make the readers wait that long for the next one.
      if (!look.error) s->lastTook = took;
      s->publish(std::move(look));
    }
    if (!portsDue.empty()) {
      if (auto c = s->connection.get(); succeeded(c)) {
        for (const auto& r : portsDue) {
          auto read = readSerialPorts(std::get<ConnectionRef>(c).get(), r.uuid, r.id >= 0);
          std::lock_guard relock(s->mutex);
          if (read) s->ports[r.uuid] = Shared::Kept{r.id, r.state, Clock::now(), std::move(*read)};
          s->arrived.notify_all();
        }
      }
    }
    lock.lock();
    s->busySince.reset();
  }
}

}  // namespace qor::host::libvirt
