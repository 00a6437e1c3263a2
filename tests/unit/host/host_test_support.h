#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "contract/codes.h"
#include "contract/errors.h"
#include "contract/object_path.h"
#include "contract/vocabulary.h"
#include "host/backend/manual_loop.h"
#include "host/bus/direct_host.h"
#include "host/objects/routes.h"
#include "host/simulated/simulated_backend.h"
#include "host/simulated/world_json.h"
#include "tests/unit/simulated/simulated_test_support.h"

namespace qor::host {
// The contract's names, as the tests below spell them.
namespace error_names = contract::error_names;
using contract::booleanOf;
using contract::code;
using contract::dictionaryOf;
using contract::elementsOf;
using contract::escapePathElement;
using contract::fourCharCode;
using contract::QorOpenMode;
using contract::QorSaveOptions;
using contract::QorStatus;
using contract::QorStopMethod;
using contract::QorWhence;
using contract::RecordBuilder;
using contract::signedOf;
using contract::textOf;
using contract::uint32Of;
using contract::Value;
}  // namespace qor::host

namespace qor::host::testing {

// The bus side and the simulated backend without a bus, answering at once.
class Host {
 public:
  Host(World world, ProcessLauncher& launcher)
      : backend_(std::move(world), launcher, loop_), direct_(backend_, loop_, objects::routes()) {}

  Reply handle(const Request& request) { return direct_.handle(request); }
  RequestFacts factsOf(const Request& request) { return direct_.diagnostics().factsOf(request); }
  Reply substituteReply(const Request& request, FaultReply kind) {
    return direct_.diagnostics().substituteReply(request, kind);
  }
  Reply replyWithValue(const Request& request, const Json& value) {
    return direct_.diagnostics().replyWithValue(request, value);
  }
  bool takeChanged() { return backend_.takeChanged(); }
  const World& world() const { return backend_.world(); }
  bool autoTerminate() const { return direct_.autoTerminate(); }
  Dispatcher& dispatcher() { return direct_.dispatcher(); }
  ManualLoop& loop() { return loop_; }

 private:
  ManualLoop loop_;
  SimulatedBackend backend_;
  DirectHost direct_;
};

inline constexpr const char* kRoot = "/org/qor/Scripting1";
inline constexpr const char* kVmInterface = "org.qor.Scripting1.VirtualMachine";

inline Request call(std::string path, std::string interface, std::string member,
                    std::vector<Value> args = {}) {
  Request r;
  r.path = std::move(path);
  r.interface = std::move(interface);
  r.member = std::move(member);
  for (const auto& a : args) r.signature += a.signature;
  r.args = std::move(args);
  return r;
}

inline Request get(std::string path, std::string interface, std::string property) {
  return call(std::move(path), "org.freedesktop.DBus.Properties", "Get",
              {Value::string(std::move(interface)), Value::string(std::move(property))});
}

// The content of a Get reply, or the first value of any other reply (a copy, so it outlives
// the reply).
inline Value answer(const Reply& reply) {
  if (reply.values.empty()) return Value{"", false};
  const Value& v = reply.values.front();
  if (v.type() == 'v') return (*elementsOf(v))[0];
  return v;
}

inline std::string errorName(const Reply& reply) {
  return reply.error ? reply.error->name : "";
}

inline std::string vmById(const std::string& id) {
  return contract::machinePathWithID(id);
}
inline std::string vmByName(const std::string& name) {
  return std::string(kRoot) + "/vm/name/" + escapePathElement(name);
}

}  // namespace qor::host::testing
