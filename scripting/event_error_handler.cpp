#include "scripting/event_error_handler.h"

#include "cli/output.h"

namespace qor::scripting {

namespace {

constexpr std::int64_t kNotPermitted = -1743;

}  // namespace

void EventErrorHandler::eventDidFail(const PlatformError& error) {
  const auto stream = cli::standardErrorStream();
  stream.write("Error from event: " + error.localizedDescription);
  if (const auto entry = error.userInfo.find("ErrorString"); entry != error.userInfo.end()) {
    if (const auto* text = std::get_if<std::string>(&entry->second)) stream.write(*text);
  }
  if (error.domain == NSOSStatusErrorDomain && error.code == kNotPermitted) {
    stream.write("NOTE: qorctl does not work from SSH sessions or before logging in.");
  }
}

EventErrorHandler& sharedEventErrorHandler() {
  // Never released: the handler must outlive every application object, up to process exit.
  static auto* const handler = new EventErrorHandler();
  return *handler;
}

}  // namespace qor::scripting
