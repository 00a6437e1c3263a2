#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace qor::scripting {

inline constexpr const char* NSOSStatusErrorDomain = "NSOSStatusErrorDomain";

// The platform's error object for a failed request: a domain, a code, a description naming what
// failed, and a user-info dictionary whose "ErrorString" is the host's own message.
struct PlatformError {
  std::string domain;
  std::int64_t code = 0;
  std::string localizedDescription;
  std::map<std::string, std::variant<std::string, std::int64_t>> userInfo;
  // The D-Bus error name when the host (or the bus daemon) answered with an error; empty for a
  // failure on this side. Lets a caller tell "this host has no such property" from a fault.
  std::string errorName = {};
};

// Told of every request that fails while it is the application's delegate.
class EventDelegate {
 public:
  virtual ~EventDelegate() = default;
  virtual void eventDidFail(const PlatformError& error) = 0;
};

// Keeps the last failure instead of reporting it, while the caller decides whether it is one.
class FailureRecorder final : public EventDelegate {
 public:
  void eventDidFail(const PlatformError& error) override { last = error; }
  std::optional<PlatformError> last;
};

// Writes one line of text (standard error's writer, handed down by the entry point).
using LineWriter = std::function<void(std::string_view)>;

// Writes each failed request to standard error: "Error from event: " and the description, then
// the host's ErrorString when it is text, then the NOTE line for -1743 in NSOSStatusErrorDomain.
class EventErrorHandler final : public EventDelegate {
 public:
  void eventDidFail(const PlatformError& error) override;
  void setWriter(LineWriter writer) { writer_ = std::move(writer); }

 private:
  LineWriter writer_;
};

// The process's one handler, created on first use and never released.
EventErrorHandler& sharedEventErrorHandler();

}  // namespace qor::scripting
