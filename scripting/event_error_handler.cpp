#include "scripting/event_error_handler.h"

namespace qor::scripting {

namespace {

constexpr std::int64_t kNotPermitted = -1743;

}  // namespace

void EventErrorHandler::eventDidFail(const PlatformError& error) {
  // Without a writer there is nowhere to report to; the entry point always hands one down.
  if (!writer_) return;
  const auto& stream = writer_;
  stream("Error from event: " + error.localizedDescription);
  if (const auto entry = error.userInfo.find("ErrorString"); entry != error.userInfo.end()) {
    if (const auto* text = std::get_if<std::string>(&entry->second)) stream(*text);
  }
  if (error.domain == NSOSStatusErrorDomain && error.code == kNotPermitted) {
    stream("NOTE: qorctl does not work from SSH sessions or before logging in.");
  }
}

EventErrorHandler& sharedEventErrorHandler() {
  // Never released: the handler must outlive every application object, up to process exit.
  static auto* const handler = new EventErrorHandler();
  return *handler;
}

}  // namespace qor::scripting
