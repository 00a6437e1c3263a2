#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "scripting/info_plist.h"
#include "scripting/request.h"

namespace qor::scripting {

struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

// Stands in for the platform's scripting framework: the application proxy's channel to the
// host over the session bus. One connection per run, opened on the first request; exactly one
// message to the host per request. Every failed request is told to the delegate (when there is
// one) as a PlatformError and yields an empty result.
class Bridge final : public ScriptingChannel {
 public:
  // Sends nothing and does not connect.
  explicit Bridge(BundleInfo info);
  ~Bridge() override;
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  const BundleInfo& bundleInfo() const { return info_; }
  void setLaunchFlags(std::uint32_t flags) override { launchFlags_ = flags; }
  std::uint32_t launchFlags() const { return launchFlags_; }
  void setDelegate(EventDelegate* delegate) override { delegate_ = delegate; }
  EventDelegate* delegate() const override { return delegate_; }
  // Off: a host that is not running is never started; requests to it fail as if the launch had.
  void setLaunchAllowed(bool allowed) { launchAllowed_ = allowed; }
  // How long each request (and each question to the bus daemon) waits for its answer; zero, the
  // default, is the bus library's own (25 s, or SYSTEMD_BUS_TIMEOUT). Set before the first
  // request. A lengthy request (Request::lengthy) has no such limit: it is waited for as long as
  // the host that took it is on the bus.
  void setReplyTimeout(std::chrono::microseconds timeout) { replyTimeout_ = timeout; }

  // Asks the bus daemon whether the host's bus name has an owner now, connecting first if need
  // be; sends nothing to the host. Nullopt when the bus cannot be reached or asked.
  std::optional<bool> hostIsRunning();

  std::optional<std::vector<contract::Value>> call(const Request& request) override;
  std::size_t textCapacity(const Request& request, std::size_t index) const override;

 private:
  // Failures on this side of the bus: nothing, or nothing usable, came back from it.
  enum class LocalFailure {
    none,
    notBuilt,
    notSent,
    notReceived,
    timedOut,
    disconnected,
    hostLeft
  };

  // A reply; or an error reply, the answer of the host or of the bus daemon; or a local failure.
  struct Outcome {
    MessagePtr reply;
    std::string errorName;
    std::string errorMessage;
    LocalFailure local = LocalFailure::none;
    int error = 0;  // the errno of a local failure
  };

  // A lengthy request's watch on the host that took it: set when that connection leaves the bus.
  struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
  };
  struct HostWatch {
    std::unique_ptr<sd_bus_slot, SlotUnref> slot;
    bool left = false;
  };
  static int onOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);
  // False when the host cannot be watched (it has no owner, or the bus daemon cannot be asked).
  bool watchHost(HostWatch& watch);

  bool connect();
  Outcome deliver(const Request& request);
  Outcome exchange(sd_bus_message* message, bool lengthy);
  Outcome localFailure(LocalFailure failure, int error) const;
  std::string localReason(const Outcome& outcome) const;
  bool launch();
  std::optional<std::vector<contract::Value>> accept(const Request& request, sd_bus_message* reply);
  void fail(const Request& request, std::string_view reason, std::int64_t code,
            std::string_view errorString = {}, std::string_view errorName = {});

  enum class Connection { notYet, open, unreachable };

  BundleInfo info_;
  std::uint32_t launchFlags_ = 0;
  EventDelegate* delegate_ = nullptr;
  sd_bus* bus_ = nullptr;
  Connection connection_ = Connection::notYet;
  bool asked_ = false;  // a request has been made: no later one may launch the host
  std::string launchReport_;
  bool launchAllowed_ = true;
  std::chrono::microseconds replyTimeout_{0};
};

}  // namespace qor::scripting
