#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <memory>
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

  std::optional<std::vector<contract::Value>> call(const Request& request) override;

 private:
  struct Outcome {
    MessagePtr reply;
    std::string errorName;
    std::string errorMessage;
  };

  bool connect();
  Outcome deliver(const Request& request);
  bool launch();
  std::optional<std::vector<contract::Value>> accept(const Request& request,
                                                     sd_bus_message* reply);
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
