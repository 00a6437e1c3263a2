#include "scripting/event_error_handler.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace qor::scripting {
namespace {

constexpr const char* kNote =
    "NOTE: qorctl does not work from SSH sessions or before logging in.\n";

PlatformError error(std::string domain, std::int64_t code,
                    std::map<std::string, std::variant<std::string, std::int64_t>> userInfo = {}) {
  return {std::move(domain), code, "The request X.Y failed.", std::move(userInfo)};
}

TEST(EventErrorHandler, WritesOneTwoOrThreeLinesInOrder) {
  const struct {
    const char* label;
    PlatformError error;
    std::string expected;
  } cases[] = {
      {"not permitted, host message",
       error(NSOSStatusErrorDomain, -1743, {{"ErrorString", "Denied."}}),
       "Error from event: The request X.Y failed.\nDenied.\n" + std::string(kNote)},
      {"not permitted, no message", error(NSOSStatusErrorDomain, -1743),
       "Error from event: The request X.Y failed.\n" + std::string(kNote)},
      {"other code", error(NSOSStatusErrorDomain, -1728, {{"ErrorString", "No such VM."}}),
       "Error from event: The request X.Y failed.\nNo such VM.\n"},
      {"other domain with -1743", error("NSCocoaErrorDomain", -1743),
       "Error from event: The request X.Y failed.\n"},
      {"ErrorString that is a number", error(NSOSStatusErrorDomain, -10000, {{"ErrorString", 42}}),
       "Error from event: The request X.Y failed.\n"},
      {"only other user-info keys", error(NSOSStatusErrorDomain, -10000, {{"Reason", "x"}}),
       "Error from event: The request X.Y failed.\n"},
  };
  EventErrorHandler handler;
  std::string written;
  handler.setWriter([&](std::string_view line) {
    written += line;
    written += '\n';
  });
  for (const auto& c : cases) {
    written.clear();
    handler.eventDidFail(c.error);
    EXPECT_EQ(written, c.expected) << c.label;
  }
}

TEST(EventErrorHandler, OneSharedHandlerPerProcess) {
  EXPECT_EQ(&sharedEventErrorHandler(), &sharedEventErrorHandler());
}

}  // namespace
}  // namespace qor::scripting
