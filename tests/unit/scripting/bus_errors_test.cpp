#include "scripting/bus_errors.h"

#include <gtest/gtest.h>

namespace qor::scripting {
namespace {

TEST(StatusForErrorName, MapsEachErrorNameToItsOSStatus) {
  const struct {
    const char* name;
    std::int64_t code;
  } cases[] = {
      {"org.freedesktop.DBus.Error.AccessDenied", -1743},
      {"org.freedesktop.DBus.Error.UnknownObject", -1728},
      {"org.freedesktop.DBus.Error.UnknownInterface", -1728},
      {"org.freedesktop.DBus.Error.UnknownMethod", -1728},
      {"org.freedesktop.DBus.Error.UnknownProperty", -1728},
      {"org.freedesktop.DBus.Error.NoReply", -1712},
      {"org.freedesktop.DBus.Error.Timeout", -1712},
      {"org.freedesktop.DBus.Error.Failed", -10000},
      {"org.freedesktop.DBus.Error.InvalidArgs", -10000},
      {"org.freedesktop.DBus.Error.Disconnected", -10000},
      {"org.qor.Scripting1.Error.Failed", -10000},
      {"org.qor.Scripting1.Error.NoValue", -10000},
      // Only the standard names count, whole: lookalikes are other errors.
      {"org.qor.Scripting1.Error.AccessDenied", -10000},
      {"org.freedesktop.DBus.Error.UnknownObjectX", -10000},
      {"org.freedesktop.DBus.Error.", -10000},
  };
  for (const auto& c : cases) EXPECT_EQ(statusForErrorName(c.name), c.code) << c.name;
}

TEST(IsNoOwnerError, OnlyTheDaemonsNoOwnerAnswers) {
  EXPECT_TRUE(isNoOwnerError("org.freedesktop.DBus.Error.ServiceUnknown"));
  EXPECT_TRUE(isNoOwnerError("org.freedesktop.DBus.Error.NameHasNoOwner"));
  EXPECT_FALSE(isNoOwnerError("org.freedesktop.DBus.Error.UnknownObject"));
  EXPECT_FALSE(isNoOwnerError("org.qor.Scripting1.Error.ServiceUnknown"));
}

TEST(RequestFailure, NamesTheRequestTheReasonAndTheCode) {
  const auto error =
      requestFailure("VirtualMachine", "Status", "org.freedesktop.DBus.Error.UnknownObject", -1728,
                     "No machine at that path.");
  EXPECT_EQ(error.domain, "NSOSStatusErrorDomain");
  EXPECT_EQ(error.code, -1728);
  EXPECT_EQ(error.localizedDescription,
            "The request VirtualMachine.Status failed: org.freedesktop.DBus.Error.UnknownObject "
            "(OSStatus error -1728.)");
  ASSERT_EQ(error.userInfo.count("ErrorString"), 1u);
  EXPECT_EQ(std::get<std::string>(error.userInfo.at("ErrorString")), "No machine at that path.");

  EXPECT_TRUE(requestFailure("Application", "Windows", "no session bus", -1743).userInfo.empty());
}

TEST(WrongTypeReason, ShowsBothSignatures) {
  EXPECT_EQ(wrongTypeReason("ao", "s"), "the reply has an unexpected type (expected ao, got s)");
  EXPECT_EQ(wrongTypeReason("", "s"), "the reply has an unexpected type (expected nothing, got s)");
  EXPECT_EQ(wrongTypeReason("o", ""), "the reply has an unexpected type (expected o, got nothing)");
}

}  // namespace
}  // namespace qor::scripting
