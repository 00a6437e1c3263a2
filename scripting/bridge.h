#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "scripting/bus_message.h"
#include "scripting/info_plist.h"

namespace qor::scripting {

class EventDelegate;

using ArgumentWriter = std::function<int(sd_bus_message*)>;
using ReplyReader = std::function<int(sd_bus_message*)>;

// One request to the host: a method of one of the object's interfaces, or the read of one of
// its properties (Properties.Get), with the D-Bus type its answer must have.
struct Request {
  std::string path;
  std::string interfaceName;  // the host's short name: "VirtualMachine", "Application", ...
  std::string member;         // the method, or the property's name
  bool isProperty = false;
  std::string replySignature;  // of the property's value, or of the method's whole reply
  ArgumentWriter writeArguments;

  static Request property(std::string path, std::string interfaceName, std::string name,
                          std::string signature);
  static Request method(std::string path, std::string interfaceName, std::string member,
                        std::string replySignature = "", ArgumentWriter writeArguments = {});
};

// Stands in for the platform's scripting framework: the application proxy's channel to the
// host over the session bus. One connection per run, opened on the first request; exactly one
// message to the host per request. Every failed request is told to the delegate (when there is
// one) as a PlatformError and yields an empty result.
class Bridge {
 public:
  // Sends nothing and does not connect.
  explicit Bridge(BundleInfo info);
  ~Bridge();
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  const BundleInfo& bundleInfo() const { return info_; }
  void setLaunchFlags(std::uint32_t flags) { launchFlags_ = flags; }
  std::uint32_t launchFlags() const { return launchFlags_; }
  void setDelegate(EventDelegate* delegate) { delegate_ = delegate; }
  EventDelegate* delegate() const { return delegate_; }
  // Off: a host that is not running is never started; requests to it fail as if the launch had.
  void setLaunchAllowed(bool allowed) { launchAllowed_ = allowed; }
  // How long each request (and each question to the bus daemon) waits for its answer; zero, the
  // default, is the bus library's own (25 s). Set before the first request.
  void setReplyTimeout(std::chrono::microseconds timeout) { replyTimeout_ = timeout; }

  // Asks the bus daemon whether the host's bus name has an owner now, connecting first if need
  // be; sends nothing to the host. Nullopt when the bus cannot be reached or asked.
  std::optional<bool> hostIsRunning();

  // Sends the request and, when the answer has the expected type, hands `read` the reply
  // positioned at the value. False when the request failed (already told to the delegate).
  bool call(const Request& request, const ReplyReader& read = {});

 private:
  struct Outcome {
    MessagePtr reply;
    std::string errorName;
    std::string errorMessage;
  };

  bool connect();
  Outcome deliver(const Request& request);
  bool launch();
  bool accept(const Request& request, sd_bus_message* reply, const ReplyReader& read);
  void fail(const Request& request, std::string_view reason, std::int64_t code,
            std::string_view errorString = {});

  enum class Connection { notYet, open, unreachable };

  BundleInfo info_;
  std::uint32_t launchFlags_ = 0;
  EventDelegate* delegate_ = nullptr;
  sd_bus* bus_ = nullptr;
  Connection connection_ = Connection::notYet;
  bool launched_ = false;
  bool launchAllowed_ = true;
  std::chrono::microseconds replyTimeout_{0};
};

}  // namespace qor::scripting
