#include "host/simulated/process_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "contract/errors.h"
#include "simulated_test_support.h"

namespace qor::host {
namespace {

using namespace testing;

// Real programs on a real event loop, as the host runs them.
class SpawnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sigset_t chld;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    sigprocmask(SIG_BLOCK, &chld, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    ASSERT_GE(sd_event_new(&event_), 0);
    launcher_ = std::make_unique<SpawnLauncher>(event_);
  }
  void TearDown() override {
    launcher_.reset();
    sd_event_unref(event_);
  }

  ProgramLaunch launchOf(std::string program, std::vector<std::string> args,
                         std::string input = "") {
    ProgramLaunch s;
    s.program = std::move(program);
    s.arguments = std::move(args);
    s.environment = programEnvironment({});
    s.input = std::move(input);
    s.root = folder_.path();
    auto found = locateProgram(s.program, s.environment, s.root);
    if (auto* e = failureOf(found)) ADD_FAILURE() << e->message;
    if (auto* p = std::get_if<std::string>(&found)) s.executable = *p;
    return s;
  }

  ProcessSnapshot run(const ProgramLaunch& s) {
    auto launched = launcher_->launch(s);
    if (auto* e = failureOf(launched)) {
      ADD_FAILURE() << e->message;
      return {};
    }
    auto& process = std::get<std::unique_ptr<RunningProcess>>(launched);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!process->snapshot().exited && std::chrono::steady_clock::now() < deadline) {
      sd_event_run(event_, 100000);
    }
    EXPECT_TRUE(process->snapshot().exited);
    return process->snapshot();
  }

  TempFolder folder_;
  sd_event* event_ = nullptr;
  std::unique_ptr<SpawnLauncher> launcher_;
};

TEST_F(SpawnTest, CapturesBothStreamsAndTheExitCode) {
  const auto state = run(launchOf("sh", {"-c", "echo hi; echo oops >&2; exit 3"}));
  EXPECT_EQ(state.exitCode, 3);
  EXPECT_EQ(state.output, "hi\n");
  EXPECT_EQ(state.error, "oops\n");

  EXPECT_EQ(run(launchOf("sh", {"-c", "kill -9 $$"})).exitCode, 128 + 9);
}

TEST_F(SpawnTest, LargeInputAndOutputDoNotStallEachOther) {
  std::string input(4 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<char>(i * 7 % 251);
  const auto state = run(launchOf("cat", {}, input));
  EXPECT_EQ(state.exitCode, 0);
  EXPECT_EQ(state.output.size(), input.size());
  EXPECT_TRUE(state.output == input);

  // A program that reads nothing still ends, and its input is dropped.
  EXPECT_EQ(run(launchOf("true", {}, input)).exitCode, 0);
}

TEST_F(SpawnTest, RunsInTheGuestRootWithOnlyTheGivenEnvironment) {
  ProgramLaunch s = launchOf("sh", {"-c", "pwd; env | sort"});
  s.environment = programEnvironment({"GREETING=hello world"});
  const auto state = run(s);
  EXPECT_EQ(state.output, folder_.path().string() + "\nGREETING=hello world\nPATH=" + kDefaultPath +
                              "\nPWD=" + folder_.path().string() + "\n");
}

TEST_F(SpawnTest, FindsProgramsByTheirKindOfPath) {
  const auto root = folder_.path();
  std::filesystem::create_directories(root / "bin");
  std::ofstream(root / "bin" / "tool") << "#!/bin/sh\necho tool \"$@\"\n";
  std::filesystem::permissions(root / "bin" / "tool", std::filesystem::perms::owner_all);
  EXPECT_EQ(run(launchOf("bin/tool", {"a"})).output, "tool a\n");  // relative: in the guest
  EXPECT_EQ(run(launchOf("./bin/../bin/tool", {})).output, "tool\n");
  EXPECT_EQ(run(launchOf("/bin/echo", {"abs"})).output, "abs\n");  // absolute: as it is

  const auto env = programEnvironment({"PATH=bin"});  // a relative PATH entry is the guest's
  EXPECT_TRUE(std::holds_alternative<std::string>(locateProgram("tool", env, root)));
  for (const char* missing : {"no-such-program", "../../bin/sh", "bin"}) {
    auto found = locateProgram(missing, programEnvironment({}), root);
    ASSERT_TRUE(failureOf(found)) << missing;
    EXPECT_EQ(failureOf(found)->errorName(), contract::error_names::kHostFailed);
  }
  auto notFound = launcher_->launch([&] {
    ProgramLaunch s = launchOf("/bin/echo", {});
    s.executable = (root / "nothing-here").string();
    return s;
  }());
  ASSERT_TRUE(failureOf(notFound));
  EXPECT_NE(failureOf(notFound)->message.find("No such file"), std::string::npos);
}

TEST_F(SpawnTest, DroppingARunningProgramEndsIt) {
  auto launched = launcher_->launch(launchOf("sleep", {"30"}));
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<RunningProcess>>(launched));
  auto& process = std::get<std::unique_ptr<RunningProcess>>(launched);
  sd_event_run(event_, 10000);
  EXPECT_FALSE(process->snapshot().exited);
  const auto before = std::chrono::steady_clock::now();
  process.reset();  // kills and reaps
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

TEST_F(SpawnTest, AStreamCutAtTheCaptureLimitSaysSo) {
  // Exactly the limit on standard output is whole; one byte more on standard error is cut.
  const auto state = run(launchOf(
      "sh", {"-c", "head -c " + std::to_string(kMaxCapturedBytes) + " /dev/zero; head -c " +
                       std::to_string(kMaxCapturedBytes + 1) + " /dev/zero >&2"}));
  EXPECT_EQ(state.output.size(), kMaxCapturedBytes);
  EXPECT_FALSE(state.outputTruncated);
  EXPECT_EQ(state.error.size(), kMaxCapturedBytes);
  EXPECT_TRUE(state.errorTruncated);
}

}  // namespace
}  // namespace qor::host
