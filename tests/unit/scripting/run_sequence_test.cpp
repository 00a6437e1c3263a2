#include <gtest/gtest.h>

#include <cstdio>

#include "scripting/api_command.h"
#include "scripting/api_error.h"
#include "scripting/bridge.h"
#include "scripting/event_error_handler.h"
#include "scripting/object_model.h"
#include "test_support.h"

namespace qor::scripting {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// Failed requests land on standard error, as they do in qorctl.
void toStandardError(std::string_view line) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

class ProbeCommand : public QorAPICommand {
 public:
  explicit ProbeCommand(Environment options) : options_(options) {}
  const Environment& environment() const override { return options_; }
  int execute(QorApplication& application) override {
    executed = true;
    delegate = application.delegate();
    launchFlags = dynamic_cast<Bridge&>(application.channel()).launchFlags();
    return 7;
  }

  bool executed = false;
  EventDelegate* delegate = nullptr;
  std::uint32_t launchFlags = 0;

 private:
  Environment options_;
};

TEST(RunSequence, NoApplicationObjectRaisesBeforeAnythingElse) {
  TemporaryFolder folder;
  ProbeCommand command({});
  try {
    command.runWithHost(folder.path() / "Missing.app", toStandardError);
    ADD_FAILURE() << "no error";
  } catch (const APIError& error) {
    EXPECT_EQ(error.which(), APIError::Case::applicationNotFound);
    EXPECT_STREQ(error.what(), "Application not found.");
  }
  EXPECT_FALSE(command.executed);
}

class RunSequenceWithHost : public ::testing::Test {
 protected:
  void SetUp() override { writeBundle(bundle_, busName_, "host"); }

  PrivateBus bus_;
  TemporaryFolder folder_;
  const fs::path bundle_ = folder_.path() / "Qor.app";
  const std::string busName_ = uniqueBusName();
};

TEST_F(RunSequenceWithHost, WithoutHideTheBodyRunsWithFlagsAndHandlerAndNothingSent) {
  ScriptedHost host(busName_, {});
  ProbeCommand command({.debug = true, .hide = false});
  EXPECT_EQ(command.runWithHost(bundle_, toStandardError), 7);
  EXPECT_TRUE(command.executed);
  EXPECT_EQ(command.delegate, &sharedEventErrorHandler());
  EXPECT_EQ(command.launchFlags, 0x00100001u);
  host.stop();
  EXPECT_EQ(host.count(), 0u);
}

TEST_F(RunSequenceWithHost, HideClosesOnlyTheFirstWindowNamedQor) {
  const std::string window = "/org/qor/Scripting1/window/";
  ScriptedHost host(
      busName_,
      {{"SetAutoTerminate", replyNothing()},
       {"Get.Windows", replyPaths({window + "1", window + "2", window + "3", window + "4"})},
       {"Get.Name", byPath({{window + "1", replyText("Qor ")},
                            // window 2 has no name: passed over, after the handler's report
                            {window + "3", replyText("Qor")},
                            {window + "4", replyText("Qor")}})},
       {"Close", replyNothing()}});
  ProbeCommand command({.debug = true, .hide = true});
  StandardErrorCapture capture;
  EXPECT_EQ(command.runWithHost(bundle_, toStandardError), 7);
  EXPECT_EQ(capture.finish(),
            "Error from event: The request Window.Name failed: "
            "org.freedesktop.DBus.Error.UnknownObject (OSStatus error -1728.)\n"
            "Nothing at this path.\n");
  host.stop();

  std::vector<std::string> requests;
  for (const auto& request : host.received()) {
    requests.push_back(request.member + " " + request.path.substr(request.path.rfind('/') + 1));
  }
  EXPECT_EQ(requests, (std::vector<std::string>{"SetAutoTerminate Scripting1", "Get Scripting1",
                                                "Get 1", "Get 2", "Get 3", "Close 3"}));
  EXPECT_TRUE(command.executed);
}

TEST_F(RunSequenceWithHost, HideWithoutAWindowListStillSwitchesOffAutoTerminationAndRuns) {
  ScriptedHost host(busName_, {{"SetAutoTerminate", replyNothing()},
                               {"Get.Windows", replyError("org.qor.Scripting1.Error.Failed", "")}});
  ProbeCommand command({.debug = false, .hide = true});
  StandardErrorCapture capture;
  EXPECT_EQ(command.runWithHost(bundle_, toStandardError), 7);
  capture.finish();
  host.stop();
  const auto received = host.received();
  ASSERT_EQ(received.size(), 2u);
  int enabled = 1;
  ASSERT_GE(sd_bus_message_read(received[0].message.get(), "b", &enabled), 0);
  EXPECT_EQ(enabled, 0);
  EXPECT_TRUE(command.executed);
}

}  // namespace
}  // namespace qor::scripting
