#include "scripting/bridge.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "contract/errors.h"
#include "contract/vocabulary.h"
#include "scripting/bus_errors.h"
#include "scripting/event_error_handler.h"
#include "scripting/host_launcher.h"
#include "scripting/message_size.h"
#include "support/base64.h"
#include "wire/value_codec.h"

namespace qor::scripting {

namespace {

constexpr std::uint64_t kMicrosecondsPerSecond = 1000000;
constexpr std::uint64_t kForever = std::uint64_t{1} << 62;

// "25 seconds", "1.5 seconds".
std::string secondsText(std::uint64_t microseconds) {
  std::string text = std::to_string(microseconds / kMicrosecondsPerSecond);
  if (const auto rest = microseconds % kMicrosecondsPerSecond; rest != 0) {
    std::string fraction = std::to_string(rest + kMicrosecondsPerSecond).substr(1);
    fraction.erase(fraction.find_last_not_of('0') + 1);
    text += "." + fraction;
  }
  return text + (microseconds == kMicrosecondsPerSecond ? " second" : " seconds");
}

bool isReplyTo(sd_bus_message* message, std::uint64_t cookie) {
  std::uint8_t type = 0;
  std::uint64_t replyCookie = 0;
  return message != nullptr && sd_bus_message_get_type(message, &type) >= 0 &&
         (type == SD_BUS_MESSAGE_METHOD_RETURN || type == SD_BUS_MESSAGE_METHOD_ERROR) &&
         sd_bus_message_get_reply_cookie(message, &replyCookie) >= 0 && replyCookie == cookie;
}

// The text that is the base64 of `bytes`, encoded in place in the message.
int appendBase64Text(sd_bus_message* message, std::string_view bytes) {
  char* space = nullptr;
  const int r =
      sd_bus_message_append_string_space(message, support::base64Length(bytes.size()), &space);
  if (r < 0) return r;
  support::base64EncodeInto(bytes, space);
  return r;
}

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
  // Only a command's first request may launch the host: a host that has gone away later (killed
  // during a transfer, say) is not started again just to be told to close a file.
  const bool first = !asked_;
  asked_ = true;
  Outcome outcome = deliver(request);
  if (outcome.local == LocalFailure::none && !outcome.reply && isNoOwnerError(outcome.errorName)) {
    // Nothing reached a host, so the request may go out once more after a launch.
    if (!launchAllowed_ || !first || !launch()) {
      fail(request, kNotLaunched, kHostNotRunning, first ? launchReport_ : std::string());
      return std::nullopt;
    }
    outcome = deliver(request);
    if (outcome.local == LocalFailure::none && !outcome.reply &&
        isNoOwnerError(outcome.errorName)) {
      fail(request, kNotLaunched, kHostNotRunning);
      return std::nullopt;
    }
  }
  if (outcome.local != LocalFailure::none) {
    const bool timedOut = outcome.local == LocalFailure::timedOut;
    fail(request, localReason(outcome), timedOut ? kTimedOut : kRequestFailed);
    return std::nullopt;
  }
  if (!outcome.reply) {
    fail(request, outcome.errorName, statusForErrorName(outcome.errorName), outcome.errorMessage,
         outcome.errorName);
    return std::nullopt;
  }
  return accept(request, outcome.reply.get());
}

std::size_t Bridge::textCapacity(const Request& request, std::size_t index) const {
  const std::size_t header = methodCallHeaderSize(
      info_.identifier, request.path, contract::interfaceName(request.interfaceShortName()),
      request.member, request.argumentSignature);
  const auto base = bodySize(request.arguments, index, 0);
  if (!base) return SIZE_MAX;  // not a request whose size this measures
  if (header + *base >= kLargestMessage) return 0;
  // The arguments after the text may need padding that depends on its length: count down from
  // the room left until the whole message fits (a few steps at most).
  std::size_t capacity = kLargestMessage - header - *base;
  while (capacity > 0 && header + *bodySize(request.arguments, index, capacity) > kLargestMessage) {
    --capacity;
  }
  return capacity;
}

std::optional<bool> Bridge::hostIsRunning() {
  if (!connect()) return std::nullopt;
  return nameHasOwner(bus_, info_.identifier);
}

bool Bridge::connect() {
  if (connection_ != Connection::notYet) return connection_ == Connection::open;
  sd_bus* bus = nullptr;
  int r = sd_bus_open_user(&bus);
  // The unique name arrives with the bus daemon's answer to Hello: a connection that has it is
  // really up, not just a socket that was accepted.
  const char* unique = nullptr;
  if (r >= 0) r = sd_bus_get_unique_name(bus, &unique);
  // The default for every later call on the connection, those to the bus daemon too.
  if (r >= 0 && replyTimeout_.count() > 0) {
    r = sd_bus_set_method_call_timeout(bus, static_cast<std::uint64_t>(replyTimeout_.count()));
  }
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
  const std::string interface = contract::interfaceName(request.interfaceShortName());
  const std::string member(request.member);
  const std::string properties(contract::kPropertiesInterface);
  sd_bus_message* raw = nullptr;
  int r =
      sd_bus_message_new_method_call(bus_, &raw, info_.identifier.c_str(), request.path.c_str(),
                                     request.isProperty ? properties.c_str() : interface.c_str(),
                                     request.isProperty ? "Get" : member.c_str());
  MessagePtr message(raw);
  if (r >= 0 && request.isProperty) {
    r = sd_bus_message_append(message.get(), "ss", interface.c_str(), member.c_str());
  } else if (r >= 0) {
    // The arguments must be the ones the contract declares for this method.
    if (signatureOf(request.arguments) != request.argumentSignature) r = -EINVAL;
    for (std::size_t i = 0; i < request.arguments.size() && r >= 0; ++i) {
      r = i == request.base64Index ? appendBase64Text(message.get(), request.base64Bytes)
                                   : wire::appendValue(message.get(), request.arguments[i]);
    }
  }
  if (r >= 0) r = sd_bus_message_set_auto_start(message.get(), 0);
  // The request cannot be expressed on the bus (a text that is not UTF-8, say).
  if (r < 0) return localFailure(LocalFailure::notBuilt, -r);
  return exchange(message.get(), request.lengthy);
}

// Sends the message and waits for its reply: a quick request as long as the bus's default
// timeout allows, a lengthy one for as long as the host is on the bus. sd_bus_call would do the
// former, but it describes its own failures (a timeout, a lost connection) with error names as
// if they were replies; here only a message that answers the request is an answer.
Bridge::Outcome Bridge::exchange(sd_bus_message* message, bool lengthy) {
  std::uint64_t timeout = 0;
  if (sd_bus_get_method_call_timeout(bus_, &timeout) < 0) timeout = 25 * kMicrosecondsPerSecond;
  HostWatch watch;
  // Without a watch on the host, a lengthy request keeps the timeout: better a wrong "no reply"
  // than a wait that never ends.
  const bool watched = lengthy && watchHost(watch);
  std::uint64_t cookie = 0;
  if (const int r = sd_bus_send(bus_, message, &cookie); r < 0) {
    return localFailure(LocalFailure::notSent, -r);
  }
  // "infinity" in SYSTEMD_BUS_TIMEOUT reads as the largest value: no deadline then.
  const bool forever = watched || timeout >= kForever;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::microseconds(forever ? 0 : static_cast<std::int64_t>(timeout));
  for (;;) {
    sd_bus_message* raw = nullptr;
    int r = sd_bus_process(bus_, &raw);
    MessagePtr incoming(raw);
    if (r < 0) return localFailure(LocalFailure::notReceived, -r);
    if (isReplyTo(incoming.get(), cookie)) {
      Outcome outcome;
      if (const sd_bus_error* error = sd_bus_message_get_error(incoming.get())) {
        outcome.errorName = error->name != nullptr ? error->name : "";
        if (error->message != nullptr) outcome.errorMessage = error->message;
      } else {
        outcome.reply = std::move(incoming);
      }
      return outcome;
    }
    // The host's reply would have come before the bus daemon's word that it left.
    if (watch.left) return localFailure(LocalFailure::hostLeft, 0);
    if (r > 0) continue;  // something else came (a signal); there may be more queued
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!forever && left.count() <= 0) return localFailure(LocalFailure::timedOut, ETIMEDOUT);
    // A signal (Ctrl-C) ends the process as it would any other program's wait.
    r = sd_bus_wait(bus_, forever ? UINT64_MAX : static_cast<std::uint64_t>(left.count()));
    if (r < 0 && r != -EINTR) return localFailure(LocalFailure::notReceived, -r);
  }
}

int Bridge::onOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
  const char* name = nullptr;
  const char* previous = nullptr;
  const char* now = nullptr;
  if (sd_bus_message_read(message, "sss", &name, &previous, &now) > 0 && now != nullptr &&
      *now == '\0') {
    static_cast<HostWatch*>(userdata)->left = true;
  }
  return 0;
}

bool Bridge::watchHost(HostWatch& watch) {
  // The host is the connection that owns the name now; unique names are never given out again,
  // so its NameOwnerChanged, once asked for, cannot be missed or mistaken.
  const std::string unique = nameOwner(bus_, info_.identifier);
  if (unique.empty()) return false;  // no host: the request comes back undeliverable at once
  const std::string rule =
      "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
      "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
      unique + "'";
  sd_bus_slot* slot = nullptr;
  if (sd_bus_add_match(bus_, &slot, rule.c_str(), &Bridge::onOwnerChanged, &watch) < 0) {
    return false;
  }
  watch.slot.reset(slot);
  // It may have gone before the match was in place; then no signal will tell.
  if (nameHasOwner(bus_, unique) != true) watch.left = true;
  return true;
}

Bridge::Outcome Bridge::localFailure(LocalFailure failure, int error) const {
  Outcome outcome;
  // However it shows, a connection that is gone is the one cause worth naming.
  outcome.local = sd_bus_is_open(bus_) <= 0 ? LocalFailure::disconnected : failure;
  outcome.error = error;
  return outcome;
}

std::string Bridge::localReason(const Outcome& outcome) const {
  const std::string cause = std::strerror(outcome.error);
  switch (outcome.local) {
    case LocalFailure::notBuilt:
      return "qorctl could not put the request into a D-Bus message (" + cause +
             "); nothing was sent";
    case LocalFailure::notSent:
      return "qorctl could not send the request (" + cause + ")";
    case LocalFailure::notReceived:
      return "qorctl could not receive the reply (" + cause + ")";
    case LocalFailure::timedOut: {
      std::uint64_t timeout = 0;
      if (sd_bus_get_method_call_timeout(bus_, &timeout) < 0) timeout = 0;
      return "no reply came within the bus's timeout of " + secondsText(timeout);
    }
    case LocalFailure::disconnected:
      return "qorctl's connection to the session bus was lost";
    case LocalFailure::hostLeft:
      return "the host left the bus before it answered (it ended or lost its connection); "
             "whether the request was carried out is unknown";
    case LocalFailure::none:
      break;
  }
  return cause;
}

bool Bridge::launch() {
  const auto program = info_.program();
  if (!program) return false;
  auto outcome = launchHost(bus_, info_.identifier, *program, (launchFlags_ & kLaunchAndHide) != 0);
  launchReport_ = std::move(outcome.report);
  return outcome.running;
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
                  std::string_view errorString, std::string_view errorName) {
  if (delegate_ == nullptr) return;
  PlatformError error =
      requestFailure(request.interfaceShortName(), request.member, reason, code, errorString);
  error.errorName = errorName;
  delegate_->eventDidFail(error);
}

}  // namespace qor::scripting
