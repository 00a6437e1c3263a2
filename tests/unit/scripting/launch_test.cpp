#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

#include "scripting/api_command.h"
#include "scripting/object_model.h"
#include "test_support.h"

namespace qor::scripting {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using Clock = std::chrono::steady_clock;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// A bundle whose host program is a script; the host itself, when there is one, is a
// ScriptedHost that takes the bus name once the script has run.
class LaunchTest : public ::testing::Test {
 protected:
  std::unique_ptr<QorApplication> application(const std::string& script,
                                              std::uint32_t flags = 0x00100001) {
    writeBundle(bundle_, busName_, "host");
    if (!script.empty()) writeFile(program_, "#!/bin/sh\n" + script, true);
    auto app = applicationForBundle(bundle_);
    app->setLaunchFlags(flags);
    app->setDelegate(&delegate_);
    return app;
  }

  PrivateBus bus_;
  TemporaryFolder folder_;
  const fs::path bundle_ = folder_.path() / "Qor.app";
  const fs::path program_ = bundle_ / "Contents" / "MacOS" / "host";
  const fs::path record_ = folder_.path() / "launches";
  const std::string busName_ = uniqueBusName();
  RecordingDelegate delegate_;
};

constexpr const char* kRecordAndExit =
    "streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
    "record=\"$(dirname \"$0\")/../../../launches\"\n"
    "echo \"$# $*\" >> \"$record\"\n"
    "echo \"$streams\" >> \"$record\"\n"
    "exit 3\n";

TEST_F(LaunchTest, AHostThatNeverAppearsIsLaunchedOnceAndFailsEarly) {
  auto app = application(kRecordAndExit);
  const auto start = Clock::now();
  EXPECT_FALSE(app->virtualMachines());
  // The program ended without taking the name: no need to wait out the ten seconds.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(app->setAutoTerminate(false));

  ASSERT_EQ(delegate_.errors.size(), 2u);
  EXPECT_EQ(delegate_.errors[0].code, -600);
  EXPECT_EQ(delegate_.errors[0].localizedDescription,
            "The request Application.VirtualMachines failed: the host is not running and could "
            "not be launched (OSStatus error -600.)");
  EXPECT_EQ(delegate_.errors[1].code, -600);
  // Standard error is a pipe qorctl reads while it waits, so the program can say why it ended.
  const auto recorded = lines(readFile(record_));
  ASSERT_EQ(recorded.size(), 4u);
  EXPECT_EQ(recorded[0], "1 --hidden");
  EXPECT_EQ(recorded[1], "/dev/null");
  EXPECT_EQ(recorded[2], "/dev/null");
  EXPECT_EQ(recorded[3].rfind("pipe:", 0), 0u) << recorded[3];
  // It said nothing; that is said once, with the first failure only.
  EXPECT_EQ(std::get<std::string>(delegate_.errors[0].userInfo.at("ErrorString")),
            "The host program " + program_.string() +
                " ended with status 3 before it took its bus name, and said nothing.");
  EXPECT_TRUE(delegate_.errors[1].userInfo.empty());
}

TEST_F(LaunchTest, AHostThatEndsAtStartIsShownWithItsFirstLines) {
  auto app = application(
      "echo \"host: /home/u/.config/qor/host.conf:2: unknown backend 'libvrt'\" >&2\n"
      "printf '\\n  \\n  not text: \\377\\n' >&2\n"
      "for i in 3 4 5 6 7 8; do echo \"line $i\" >&2; done\n"
      "exit 64\n");
  EXPECT_FALSE(app->virtualMachines());
  ASSERT_EQ(delegate_.errors.size(), 1u);
  // Blank lines left out, at most five lines, each valid text.
  EXPECT_EQ(std::get<std::string>(delegate_.errors[0].userInfo.at("ErrorString")),
            "The host program " + program_.string() +
                " ended with status 64 before it took its bus name; it said:\n"
                "  host: /home/u/.config/qor/host.conf:2: unknown backend 'libvrt'\n"
                "    not text: \xEF\xBF\xBD\n"
                "  line 3\n  line 4\n  line 5\n  \xE2\x80\xA6");
}

TEST_F(LaunchTest, WithoutTheHideFlagTheProgramGetsNoArgument) {
  auto app = application(kRecordAndExit, 0x00000001);
  EXPECT_FALSE(app->virtualMachines());
  EXPECT_EQ(lines(readFile(record_)).at(0), "0 ");
}

TEST_F(LaunchTest, NothingToLaunchFailsAtOnce) {
  for (const char* script : {"", "exit 0\n"}) {
    delegate_.errors.clear();
    auto app = application(script);
    if (*script == '\0') fs::remove(program_);
    if (*script != '\0') fs::permissions(program_, fs::perms::owner_read);  // not executable
    const auto start = Clock::now();
    EXPECT_FALSE(app->windows());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    ASSERT_EQ(delegate_.errors.size(), 1u);
    EXPECT_EQ(delegate_.errors[0].code, -600);
  }
}

TEST_F(LaunchTest, TheLaunchedHostGetsTheRequestAndKeepsNoneOfOurDescriptors) {
  const fs::path started = folder_.path() / "started";
  ScriptedHost host(
      busName_, {{"Get.VirtualMachines", replyPaths({"/org/qor/Scripting1/vm/id/A"})}}, started);
  auto app = application("echo $$ > \"" + started.string() + ".tmp\"\nmv \"" + started.string() +
                         ".tmp\" \"" + started.string() + "\"\nexec sleep 60\n");
  // A descriptor our caller handed down without close-on-exec, as a harness's pipe would be.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);

  const auto machines = app->virtualMachines();
  const pid_t launched = std::stoi(readFile(started));
  close(ends[1]);
  pollfd end{ends[0], POLLIN, 0};
  const bool closedEverywhere = poll(&end, 1, 2000) == 1;
  close(ends[0]);
  kill(launched, SIGTERM);

  ASSERT_TRUE(machines);
  ASSERT_EQ(machines->elements().size(), 1u);
  EXPECT_EQ(machines->elements()[0].path(), "/org/qor/Scripting1/vm/id/A");
  EXPECT_TRUE(delegate_.errors.empty());
  EXPECT_TRUE(closedEverywhere) << "the launched host holds a descriptor of ours";
  host.stop();
  EXPECT_EQ(host.count(), 1u);  // the request reached the host exactly once
}

}  // namespace
}  // namespace qor::scripting
