#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "host/simulated/process_runner.h"
#include "host_test_support.h"
#include "support/base64.h"

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
    if (auto* e = std::get_if<HostError>(&found)) ADD_FAILURE() << e->message;
    if (auto* p = std::get_if<std::string>(&found)) s.executable = *p;
    return s;
  }

  ProcessSnapshot run(const ProgramLaunch& s) {
    auto launched = launcher_->launch(s);
    if (auto* e = std::get_if<HostError>(&launched)) {
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
    ASSERT_TRUE(std::holds_alternative<HostError>(found)) << missing;
    EXPECT_EQ(std::get<HostError>(found).name, error_names::kHostFailed);
  }
  auto notFound = launcher_->launch([&] {
    ProgramLaunch s = launchOf("/bin/echo", {});
    s.executable = (root / "nothing-here").string();
    return s;
  }());
  ASSERT_TRUE(std::holds_alternative<HostError>(notFound));
  EXPECT_NE(std::get<HostError>(notFound).message.find("No such file"), std::string::npos);
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

TEST(ExecuteTest, ScriptedResultsAnswerInOrderRepeatingTheLast) {
  TempFolder folder;
  FakeLauncher launcher;
  Host host(worldFrom(R"({"machines": [{"id": "M1", "status": "StSc", "processResults": [
                [{"hasExited": false}, {"hasExited": true, "exitCode": 3, "outputData": "aGk="}],
                [{"exitCode": {"type": "i", "value": -1}}]]}]})",
                      folder.path()),
            launcher);
  auto execute = [&](const char* input = "") {
    return host.handle(
        call(vmById("M1"), kVmInterface, "Execute",
             {Value::string("prog"), Value::stringArray({"a"}), Value::stringArray({}),
              Value::string(input), Value::boolean(true), Value::boolean(true)}));
  };
  auto results = [&](const std::string& process, int n) {
    std::vector<Value> out;
    for (int i = 0; i < n; ++i) {
      out.push_back(
          answer(host.handle(call(process, "org.qor.Scripting1.GuestProcess", "GetResult"))));
    }
    return out;
  };
  EXPECT_EQ(errorName(execute("%%%")), error_names::kInvalidArgs);
  const std::string first = *textOf(answer(execute()));
  EXPECT_TRUE(host.takeChanged());  // the sequence is used up, and saved so
  const auto r = results(first, 3);
  EXPECT_EQ(toJson(r[0]), Json::parse(R"({"hasExited": false})"));
  EXPECT_EQ(toJson(r[1]),
            Json::parse(R"({"hasExited": true, "exitCode": 3, "outputData": "aGk="})"));
  EXPECT_EQ(toJson(r[2]), toJson(r[1]));
  EXPECT_EQ(r[1].signature, "a{sv}");

  const std::string second = *textOf(answer(execute()));
  EXPECT_EQ(results(second, 1)[0].signature, "a{sv}");
  EXPECT_TRUE(host.world().machines[0].processResults.empty());
  EXPECT_TRUE(launcher.launched.empty());

  // Without a script the program really runs (here: the fake launcher is asked).
  launcher.next = {true, 5, "out", "err"};
  const std::string third = *textOf(answer(host.handle(
      call(vmById("M1"), kVmInterface, "Execute",
           {Value::string("/bin/true"), Value::stringArray({}), Value::stringArray({"A=1"}),
            Value::string(qor::support::base64Encode("in")), Value::boolean(true), Value::boolean(true)}))));
  ASSERT_EQ(launcher.launched.size(), 1u);
  EXPECT_EQ(launcher.launched[0].input, "in");
  EXPECT_EQ(launcher.launched[0].environment,
            (std::vector<std::string>{"A=1", std::string("PATH=") + kDefaultPath}));
  EXPECT_EQ(launcher.launched[0].root, folder.path() / "guests" / "M1");
  EXPECT_EQ(toJson(results(third, 1)[0]),
            Json::parse(R"({"hasExited": true, "exitCode": 5, "outputData": "b3V0",
                            "errorData": "ZXJy"})"));
}

TEST(ExecuteTest, KeepsTheNewestFinishedProcesses) {
  TempFolder folder;
  FakeLauncher launcher;
  Host host(worldFrom(R"({"machines": [{"id": "M1", "status": "StSc"}]})", folder.path()),
            launcher);
  auto execute = [&] {
    return *textOf(answer(host.handle(
        call(vmById("M1"), kVmInterface, "Execute",
             {Value::string("/bin/true"), Value::stringArray({}), Value::stringArray({}),
              Value::string(""), Value::boolean(true), Value::boolean(true)}))));
  };
  auto alive = [&](const std::string& process) {
    return !host.handle(call(process, "org.qor.Scripting1.GuestProcess", "GetResult")).error;
  };
  launcher.next.exited = false;
  const std::string running = execute();
  launcher.next.exited = true;
  const std::string oldest = execute();
  for (std::size_t i = 0; i < kMaxFinishedProcesses; ++i) execute();
  const std::string newest = execute();
  EXPECT_TRUE(alive(running));  // a running program is never forgotten
  EXPECT_FALSE(alive(oldest));
  EXPECT_TRUE(alive(newest));
}

}  // namespace
}  // namespace qor::host
