#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "host/core/direct_host.h"
#include "tests/unit/simulated/simulated_test_support.h"

namespace qor::host::testing {

// The bus side and the simulated backend, answering at once.
using Host = DirectHost;

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
