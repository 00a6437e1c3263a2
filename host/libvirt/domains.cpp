#include "host/libvirt/domains.h"

namespace qor::host::libvirt {

Domains::Domains(Loop& loop, Lanes& lanes, Connection& actions, Watcher& watcher)
    : actions_(actions), watcher_(watcher), changes_(lanes, loop) {}

MachineKey Domains::keyFor(const std::string& uuid) {
  auto [it, added] = keys_.emplace(uuid, nextKey_);
  if (added) ++nextKey_;
  return it->second;
}

const Look& Domains::look() {
  using Clock = Watcher::Clock;
  watcher_.want();
  const auto now = Clock::now();
  auto latest = watcher_.latest();
  const std::uint64_t number = latest ? latest->number : 0;
  const auto busy = watcher_.busyFor(now);
  const auto wait = watcher_.freshWait();
  // An old look is waited past once: if libvirt is slow, the next reads take what there is. A
  // look already under way for longer than the wait is not worth waiting for.
  if ((!latest || now - latest->begun >= kStaleAfter) && waitedOn_ != number && busy < wait) {
    waitedOn_ = number;
    latest = watcher_.waitForLook(now - kLookLife, now + wait);
  }
  install(latest);
  // A server that stopped answering (a stalled daemon, a link that dropped without a word) is
  // unreachable from now on, not only once keepalive gives its connection up: its machines'
  // requests fail at once instead of waiting in turn behind the look.
  if (busy >= kLongestWait) {
    unanswered_.error = actions_.unanswered(kLongestWait);
    return unanswered_;
  }
  return current_;
}

Failure Domains::missing() {
  const auto& current = look();
  if (current.error) return *current.error;
  return noObject("The virtual machine does not exist.");
}

void Domains::install(const std::shared_ptr<const Look>& latest) {
  if (!latest) {
    if (!current_.error && current_.rows.empty()) {
      current_.error = unavailable("libvirt has not answered yet" +
                                   (actions_.uri() ? " at " + *actions_.uri() : std::string()) +
                                   ": try again in a moment.");
    }
    return;
  }
  if (latest->number == installed_) return;
  current_ = *latest;
  for (auto& r : current_.rows) r.key = keyFor(r.uuid);
  installed_ = latest->number;
}

const Domains::Row* Domains::row(MachineKey key) {
  for (const auto& r : look().rows) {
    if (r.key == key) return &r;
  }
  return nullptr;
}

const Domains::Row* Domains::latestRow(MachineKey key) {
  const auto latest = watcher_.latest();
  if (!latest || Watcher::Clock::now() - latest->begun >= kGuestLookLife) return row(key);
  install(latest);
  for (const auto& r : current_.rows) {
    // Only a fresh look refuses: a machine just started may still read as paused in this one.
    if (r.key == key && r.state == VIR_DOMAIN_RUNNING) return &r;
  }
  // A refusal rests on a look begun after the request came: a machine started a moment ago
  // reads as paused in a look taken while it started.
  install(watcher_.lookNow(Watcher::Clock::now() + watcher_.freshWait()));
  for (const auto& r : current_.rows) {
    if (r.key == key) return &r;
  }
  return nullptr;
}

void Domains::lookAfter(Connection& connection, Watcher& watcher,
                        const std::optional<std::string>& uuid) {
  Look after = takeLook(connection);
  if (uuid) {
    for (const auto& r : after.rows) {
      if (r.uuid != *uuid) continue;
      auto c = connection.get();
      if (!succeeded(c)) break;
      if (auto ports = readSerialPorts(std::get<ConnectionRef>(c).get(), r.uuid, r.id >= 0)) {
        watcher.notePorts(r.uuid, r.id, r.state, std::move(*ports));
      }
    }
  }
  watcher.offer(std::move(after));
}

void Domains::onMachine(MachineKey key, MachineJob job, Completion<Done> done) {
  const Row* r = row(key);
  if (!r) {
    done(missing());
    return;
  }
  Target target{r->uuid, r->name};
  changes_.run<Done>(
      laneOf(target.uuid),
      [&connection = actions_, &watcher = watcher_, job = std::move(job),
       target]() -> Result<Done> {
        auto c = connection.get();
        if (auto* e = failureOf(c)) return *e;
        const auto conn = std::get<ConnectionRef>(c);
        Result<Done> outcome = job(conn.get(), target);
        if (const auto* f = failureOf(outcome); f && !connection.checkAlive()) {
          return connection.unreachable(f->message);  // no look to take: the server is gone
        }
        lookAfter(connection, watcher, target.uuid);
        return outcome;
      },
      [done](Result<Done> outcome) { done(std::move(outcome)); });
}

}  // namespace qor::host::libvirt
