#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
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

  // Sends the request and, when the answer has the expected type, hands `read` the reply
  // positioned at the value. False when the request failed (already told to the delegate).
  bool call(const Request& request, const ReplyReader& read = {});

 private:
  // Failures on this side of the bus: nothing, or nothing usable, came back from it.
  enum class LocalFailure { none, notBuilt, notSent, notReceived, timedOut, disconnected };

  // A reply; or an error reply, the answer of the host or of the bus daemon; or a local failure.
  struct Outcome {
    MessagePtr reply;
    std::string errorName;
    std::string errorMessage;
    LocalFailure local = LocalFailure::none;
    int error = 0;  // the errno of a local failure
  };

  bool connect();
  Outcome deliver(const Request& request);
  Outcome exchange(sd_bus_message* message);
  Outcome localFailure(LocalFailure failure, int error) const;
  std::string localReason(const Outcome& outcome) const;
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
};

}  // namespace qor::scripting
