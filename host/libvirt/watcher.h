#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/libvirt/look.h"

namespace qor::host::libvirt {

// How often looks are taken while requests come: a change made elsewhere (virsh) shows at once
// to a person.
inline constexpr std::chrono::milliseconds kLookLife{100};
// A look older than this was not taken ahead of the reads (none came for a while, or libvirt is
// slow): a read waits for a fresh one, at most kFreshWait and once. A look takes a few
// milliseconds; a libvirt that stalls costs a reader kFreshWait, once, and then the latest look.
// A look that takes longer (a remote server, a loaded one) is waited for as long as the last one
// took, twice over, up to kLongestWait; the first look of all (the connection is opened for it)
// up to kLongestWait too: until then there is nothing to answer from.
inline constexpr std::chrono::milliseconds kStaleAfter{1000};
inline constexpr std::chrono::milliseconds kFreshWait{50};
inline constexpr std::chrono::seconds kLongestWait{5};
// While requests come, looks are taken ahead of them, so that no request waits for one.
inline constexpr std::chrono::seconds kWatchWindow{3};
inline constexpr std::chrono::seconds kUsbLife{1};
// A machine's serial ports are read again when its run or state changes, and after this long.
inline constexpr std::chrono::seconds kPortsLife{10};

// Takes the looks at libvirt's machines on a thread and a connection of its own, so that a
// libvirt that is slow to answer (a machine in the middle of a save, a daemon that stalls)
// never holds up the host's loop: the loop reads the latest look, and waits for a fresh one at
// most kFreshWait. Looks taken by actions on their own threads are offered here too, so that
// a read after an action shows it.
//
// Safe from any thread. The thread is detached when the watcher goes: a libvirt call it is in
// may never return, and the host must still be able to end.
class Watcher {
 public:
  using Clock = std::chrono::steady_clock;
  using Ports = std::vector<SerialPort>;

  // nullopt: libvirt's default URI.
  explicit Watcher(std::optional<std::string> uri);
  ~Watcher();
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  // A request came: keep looking ahead for a while, and look at once if the latest is old.
  void want();
  // The latest look; nullptr before the first.
  std::shared_ptr<const Look> latest();
  // How long a reader waits for a fresh look: see kFreshWait.
  Clock::duration freshWait();
  // How long the thread has been at its current look (zero when it waits for work): a look
  // takes milliseconds, so one under way for seconds means libvirt is not answering.
  Clock::duration busyFor(Clock::time_point now);
  // The latest look once one begun after `since` is there, or at `until`.
  std::shared_ptr<const Look> waitForLook(Clock::time_point since, Clock::time_point until);
  // A look begun now, once it is there, or at `until`: for a refusal, which must not rest on a
  // look taken before the request came.
  std::shared_ptr<const Look> lookNow(Clock::time_point until);
  // A look an action took after it ended; it becomes the latest unless a later one is there.
  void offer(Look look);

  // A machine's serial ports as last read for this run and state; nullopt: not read yet.
  std::optional<Ports> ports(const std::string& uuid, int id, int state);
  void notePorts(const std::string& uuid, int id, int state, Ports ports);
  // The same, once they are read or at `until`.
  std::optional<Ports> waitForPorts(const std::string& uuid, int id, int state,
                                    Clock::time_point until);

 private:
  struct Shared;
  static void run(std::shared_ptr<Shared> shared);

  std::shared_ptr<Shared> shared_;
};

}  // namespace qor::host::libvirt
