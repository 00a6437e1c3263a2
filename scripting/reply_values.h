#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "contract/members.h"
#include "contract/value.h"
#include "scripting/request.h"

namespace qor::scripting {

// What the object model makes of the values of an answer. The channel has already checked their
// types against the contract, so these only unpack.
std::optional<std::string> replyText(const contract::Value& value);                // s, o
std::optional<bool> replyBoolean(const contract::Value& value);                    // b
std::optional<std::uint32_t> replyCode(const contract::Value& value);              // u
std::optional<std::int64_t> replyInteger(const contract::Value& value);            // x
std::optional<std::vector<std::string>> replyTexts(const contract::Value& value);  // ao, as

// One property read, unpacked by `unpack`; nullopt when the request failed.
template <typename Unpack>
auto readProperty(ScriptingChannel& channel, const std::string& path,
                  const contract::Property& property, Unpack unpack)
    -> decltype(unpack(std::declval<const contract::Value&>())) {
  const auto values = channel.call(Request::property(path, property));
  if (!values || values->size() != 1) return std::nullopt;
  return unpack(values->front());
}

// A text property the contract marks optional: a host that does not have it (an older one
// answers UnknownProperty) or has no value for it (NoValue) gives "", without a report. Any
// other failure reaches the delegate as always and gives nullopt.
std::optional<std::string> readOptionalText(ScriptingChannel& channel, const std::string& path,
                                            const contract::Property& property);

// A method without a result: true when it succeeded.
bool invoke(ScriptingChannel& channel, const std::string& path, const contract::Method& method,
            std::vector<contract::Value> arguments = {});

// A method with one result, unpacked by `unpack`.
template <typename Unpack>
auto invokeForResult(ScriptingChannel& channel, const std::string& path,
                     const contract::Method& method, std::vector<contract::Value> arguments,
                     Unpack unpack) -> decltype(unpack(std::declval<const contract::Value&>())) {
  const auto values = channel.call(Request::method(path, method, std::move(arguments)));
  if (!values || values->size() != 1) return std::nullopt;
  return unpack(values->front());
}

}  // namespace qor::scripting
