#include "scripting/bridge.h"

#include <cerrno>
#include <cstring>

#include "contract/errors.h"
#include "contract/vocabulary.h"
#include "scripting/bus_errors.h"
#include "scripting/event_error_handler.h"
#include "scripting/host_launcher.h"
#include "wire/value_codec.h"

namespace qor::scripting {

namespace {

constexpr std::uint32_t kLaunchAndHide = 0x00100000;
constexpr const char* kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
constexpr const char* kDisconnected = "org.freedesktop.DBus.Error.Disconnected";

std::string signatureOf(const std::vector<contract::Value>& values) {
  std::string signature;
  for (const auto& value : values) signature += value.signature;
  return signature;
}

}  // namespace

Bridge::Bridge(BundleInfo info) : info_(std::move(info)) {}

Bridge::~Bridge() {
  if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
}

std::optional<std::vector<contract::Value>> Bridge::call(const Request& request) {
  if (!connect()) {
    fail(request, kNoSessionBus, kNotPermitted);
    return std::nullopt;
  }
  Outcome outcome = deliver(request);
  if (!outcome.reply && isNoOwnerError(outcome.errorName)) {
    // Nothing reached a host, so the request may go out once more after a launch.
    if (launched_ || !launch()) {
      fail(request, kNotLaunched, kHostNotRunning);
      return std::nullopt;
    }
    outcome = deliver(request);
    if (!outcome.reply && isNoOwnerError(outcome.errorName)) {
      fail(request, kNotLaunched, kHostNotRunning);
      return std::nullopt;
    }
  }
  if (!outcome.reply) {
    fail(request, outcome.errorName, statusForErrorName(outcome.errorName), outcome.errorMessage);
    return std::nullopt;
  }
  return accept(request, outcome.reply.get());
}

bool Bridge::connect() {
  if (connection_ != Connection::notYet) return connection_ == Connection::open;
  sd_bus* bus = nullptr;
  int r = sd_bus_open_user(&bus);
  // The unique name arrives with the bus daemon's answer to Hello: a connection that has it is
  // really up, not just a socket that was accepted.
  const char* unique = nullptr;
  if (r >= 0) r = sd_bus_get_unique_name(bus, &unique);
  if (r < 0) {
    if (bus != nullptr) sd_bus_flush_close_unref(bus);
    connection_ = Connection::unreachable;
    return false;
  }
  bus_ = bus;
  connection_ = Connection::open;
  return true;
}

Bridge::Outcome Bridge::deliver(const Request& request) {
  Outcome outcome;
  const std::string interface = contract::interfaceName(request.interfaceShortName());
  const std::string member(request.member);
  const std::string properties(contract::kPropertiesInterface);
  sd_bus_message* raw = nullptr;
  int r = sd_bus_message_new_method_call(bus_, &raw, info_.identifier.c_str(),
                                         request.path.c_str(),
                                         request.isProperty ? properties.c_str() : interface.c_str(),
                                         request.isProperty ? "Get" : member.c_str());
  MessagePtr message(raw);
  if (r >= 0 && request.isProperty) {
    r = sd_bus_message_append(message.get(), "ss", interface.c_str(), member.c_str());
  } else if (r >= 0) {
    // The arguments must be the ones the contract declares for this method.
    if (signatureOf(request.arguments) != request.argumentSignature) r = -EINVAL;
    for (const auto& argument : request.arguments) {
      if (r >= 0) r = wire::appendValue(message.get(), argument);
    }
  }
  if (r >= 0) r = sd_bus_message_set_auto_start(message.get(), 0);
  if (r < 0) {
    // The request cannot be expressed on the bus (a text that is not UTF-8, say); nothing is
    // sent.
    outcome.errorName = kInvalidArgs;
    return outcome;
  }

  sd_bus_error error{};  // SD_BUS_ERROR_NULL is a C compound literal
  sd_bus_message* reply = nullptr;
  r = sd_bus_call(bus_, message.get(), 0, &error, &reply);  // 0: the bus's default timeout
  if (r >= 0) {
    outcome.reply.reset(reply);
  } else if (sd_bus_is_open(bus_) <= 0) {
    outcome.errorName = kDisconnected;
  } else if (sd_bus_error_is_set(&error)) {
    outcome.errorName = error.name;
    // sd-bus describes its own failures (a timeout here, say) with the text of the errno; only
    // an error reply's message is the host's own words.
    const bool madeHere =
        error.message != nullptr && std::strcmp(error.message, std::strerror(-r)) == 0;
    if (error.message != nullptr && !madeHere) outcome.errorMessage = error.message;
  } else {
    outcome.errorName = "org.freedesktop.DBus.Error.Failed";
  }
  sd_bus_error_free(&error);
  return outcome;
}

bool Bridge::launch() {
  launched_ = true;
  const auto program = info_.program();
  if (!program) return false;
  return launchHost(bus_, info_.identifier, *program, (launchFlags_ & kLaunchAndHide) != 0);
}

std::optional<std::vector<contract::Value>> Bridge::accept(const Request& request,
                                                           sd_bus_message* reply) {
  const char* signature = sd_bus_message_get_signature(reply, 1);
  const std::string whole = signature != nullptr ? signature : "";
  std::vector<contract::Value> values;
  if (request.isProperty) {
    // Properties.Get answers a variant; it is its contents that must have the property's type.
    if (whole != "v") {
      fail(request, wrongTypeReason("v", whole), kWrongType);
      return std::nullopt;
    }
    char type = 0;
    const char* contents = nullptr;
    const int r = sd_bus_message_peek_type(reply, &type, &contents);
    const std::string inner = r > 0 && contents != nullptr ? contents : "";
    if (inner != request.replySignature) {
      fail(request, wrongTypeReason(request.replySignature, inner), kWrongType);
      return std::nullopt;
    }
    contract::Value value;
    if (sd_bus_message_enter_container(reply, SD_BUS_TYPE_VARIANT, contents) <= 0 ||
        wire::readValue(reply, value) < 0) {
      fail(request, "the reply could not be read", kWrongType);
      return std::nullopt;
    }
    values.push_back(std::move(value));
    return values;
  }
  if (whole != request.replySignature) {
    fail(request, wrongTypeReason(request.replySignature, whole), kWrongType);
    return std::nullopt;
  }
  if (wire::readValues(reply, values) < 0) {
    fail(request, "the reply could not be read", kWrongType);
    return std::nullopt;
  }
  return values;
}

void Bridge::fail(const Request& request, std::string_view reason, std::int64_t code,
                  std::string_view errorString) {
  if (delegate_ == nullptr) return;
  delegate_->eventDidFail(
      requestFailure(request.interfaceShortName(), request.member, reason, code, errorString));
}

}  // namespace qor::scripting
