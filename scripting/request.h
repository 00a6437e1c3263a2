#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contract/members.h"
#include "contract/value.h"

namespace qor::scripting {

class EventDelegate;

// One request to the host: a method of one of the object's interfaces, or the read of one of
// its properties (Properties.Get), as the contract declares it.
struct Request {
  std::string path;
  contract::ObjectClass objectClass = contract::ObjectClass::application;
  std::string_view member;  // the method, or the property's name
  bool isProperty = false;
  std::string_view argumentSignature;  // of all the method's arguments together
  std::string_view replySignature;     // of the property's value, or of the method's whole reply
  std::vector<contract::Value> arguments;
  bool lengthy = false;  // waited for as long as the host is there, not for a fixed time
  // When set, the text argument at `base64Index` (an empty placeholder among `arguments`) goes
  // out as the base64 of `base64Bytes`, encoded straight into the message: a large input is held
  // as its bytes and once in the message, never also as a text of its own. The bytes must stay
  // alive until the call returns.
  std::size_t base64Index = SIZE_MAX;
  std::string_view base64Bytes;

  static Request property(std::string path, const contract::Property& declared);
  static Request method(std::string path, const contract::Method& declared,
                        std::vector<contract::Value> arguments = {});
  // "VirtualMachine", "Application", …
  std::string_view interfaceShortName() const { return contract::shortName(objectClass); }
};

// What the object model sends its requests through: the platform's scripting framework, which
// the bridge stands in for on the bus, or a fake in tests. Every failed request is told to the
// delegate (when there is one) and yields an empty result.
class ScriptingChannel {
 public:
  virtual ~ScriptingChannel() = default;

  // The answer's values (a property's value alone) when it came with the expected types;
  // nullopt when the request failed.
  virtual std::optional<std::vector<contract::Value>> call(const Request& request) = 0;

  // The most bytes the text argument at `index` of a method request may hold (the other
  // arguments as given) for the request to reach the host whole; larger ones cannot be sent.
  virtual std::size_t textCapacity(const Request& request, std::size_t index) const = 0;

  virtual void setDelegate(EventDelegate* delegate) = 0;
  virtual EventDelegate* delegate() const = 0;
  virtual void setLaunchFlags(std::uint32_t flags) = 0;
};

// The launch flags a channel is given, the platform's values: the bridge reads kLaunchAndHide,
// the run sequence sets kLaunchFlags.
inline constexpr std::uint32_t kLaunchDefaults = 0x00000001;
inline constexpr std::uint32_t kLaunchAndHide = 0x00100000;
inline constexpr std::uint32_t kLaunchFlags = kLaunchDefaults | kLaunchAndHide;

}  // namespace qor::scripting
