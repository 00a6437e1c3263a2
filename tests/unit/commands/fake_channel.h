#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "contract/value.h"
#include "scripting/event_error_handler.h"
#include "scripting/request.h"

namespace qor::commands::testing {

// A deliberately dumb host behind the object model's channel: answers each request from a
// handler keyed by "<Interface>.<Member>" ("VirtualMachine.Status", "GuestFile.Read"), records
// every request, and turns an unanswered one into a failed request, as the bridge would report
// an error reply. No bus, no process: a command's body runs against it directly.
class FakeChannel final : public scripting::ScriptingChannel {
 public:
  // The answer's values, or nullopt for a failed request (the host's message goes to the
  // delegate as its ErrorString).
  struct Answer {
    std::optional<std::vector<contract::Value>> values;
    std::string errorMessage = "The request failed.";
  };
  using Handler = std::function<Answer(const scripting::Request&)>;

  void on(const std::string& key, Handler handler) { handlers_[key] = std::move(handler); }
  void answer(const std::string& key, contract::Value value);  // always the same one value

  std::optional<std::vector<contract::Value>> call(const scripting::Request& request) override;
  std::size_t textCapacity(const scripting::Request&, std::size_t) const override {
    return SIZE_MAX;
  }
  void setDelegate(scripting::EventDelegate* delegate) override { delegate_ = delegate; }
  scripting::EventDelegate* delegate() const override { return delegate_; }
  void setLaunchFlags(std::uint32_t) override {}

  // "<Interface>.<Member>" of every request, in order.
  const std::vector<std::string>& requests() const { return requests_; }
  std::size_t count(const std::string& key) const;

 private:
  std::map<std::string, Handler> handlers_;
  std::vector<std::string> requests_;
  scripting::EventDelegate* delegate_ = nullptr;
};

// Runs `body` with descriptor 1 going to a file and answers what was written there.
std::string capturedStandardOutput(const std::function<void()>& body);

}  // namespace qor::commands::testing
