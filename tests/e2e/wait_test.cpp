#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "tests/e2e/harness.h"

using namespace qor::e2e;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kUp = "11111111-1111-4111-8111-111111111111";
constexpr const char* kDown = "22222222-2222-4222-8222-222222222222";
constexpr const char* kAsleep = "33333333-3333-4333-8333-333333333333";
constexpr const char* kNoAddress = "44444444-4444-4444-8444-444444444444";
constexpr const char* kSlow = "55555555-5555-4555-8555-555555555555";
constexpr int kAgentDelayMs = 1500;

class WaitTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    const json address = json::array({"10.0.2.15"});
    json up = vm(kUp, "up");
    up["ipAddresses"] = address;
    json asleep = vm(kAsleep, "asleep", "StSe");
    asleep["ipAddresses"] = address;
    json noAddress = vm(kNoAddress, "no address");
    noAddress["ipAddresses"] = json::array();
    json slow = vm(kSlow, "slow", "StSa");
    slow["agentDelayMs"] = kAgentDelayMs;
    slow["ipAddresses"] = address;
    setWorld({{"machines", {up, vm(kDown, "down", "StSa"), asleep, noAddress, slow}}});
  }

  std::size_t waitRequests() const {
    std::size_t n = 0;
    for (const auto& label : labels()) n += label.starts_with("VirtualMachine.WaitFor");
    return n;
  }

  // qorctl with the given words, started and left running; its streams go nowhere.
  pid_t spawn(const std::vector<std::string>& words) {
    ensureBus();
    std::vector<std::string> argv = {(bundle() / "Contents" / "MacOS" / "qorctl").string()};
    argv.insert(argv.end(), words.begin(), words.end());
    const auto env = childEnvironment();
    auto args = cStrings(argv);
    auto envp = cStrings(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
  }

  // Until the host has logged `count` WaitFor requests, for at most 10 seconds.
  bool awaitWaitRequests(std::size_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (waitRequests() < count) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
};

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Conditions that hold at once end the wait at once; those that cannot hold by themselves fail
// at once; the others run into the timeout.
TEST_F(WaitTest, EachConditionHoldsFailsOrTimesOut) {
  struct Case {
    std::vector<std::string> words;
    int status;
    std::string err;
  };
  const std::string stoppedAgent =
      "Error from event: The request VirtualMachine.WaitFor failed: "
      "org.qor.Scripting1.Error.InvalidState (OSStatus error -10000.)\n"
      "The virtual machine is stopped; its guest cannot become ready until it is started.\n";
  const Case cases[] = {
      {{"wait", "up"}, 0, ""},
      {{"wait", "--for", "agent", "up"}, 0, ""},
      {{"wait", "--for", "ip", "up"}, 0, ""},
      {{"wait", "--for", "started", "up"}, 0, ""},
      {{"wait", "--for", "stopped", "down"}, 0, ""},
      {{"wait", "--for", "paused", "asleep", "--timeout", "0"}, 0, ""},
      {{"wait", "--for", "agent", "no address"}, 0, ""},
      {{"wait", "down"}, 1, stoppedAgent},
      {{"wait", "--for", "ip", "asleep"}, 1, ""},
      {{"wait", "--for", "ip", "--timeout", "1", "no address"},
       124,
       "Error: The virtual machine's guest reported no IP address within 1 second.\n"},
      {{"wait", "--for", "stopped", "--timeout", "1", "up"},
       124,
       "Error: The virtual machine was not stopped within 1 second.\n"},
      {{"wait", "--for", "paused", "--timeout", "2", "down"},
       124,
       "Error: The virtual machine was not paused within 2 seconds.\n"},
      {{"wait", "nowhere"}, 1, ""},
  };
  for (const auto& c : cases) {
    const auto start = Clock::now();
    const auto result = run(c.words);
    const double took = secondsSince(start);
    const std::string what = c.words[c.words.size() - 1] + " " + c.words[1];
    EXPECT_EQ(result.status, c.status) << what << ": " << result.err;
    EXPECT_EQ(result.out, "") << what;
    if (!c.err.empty()) {
      EXPECT_EQ(result.err, c.err) << what;
    } else if (c.status == 1) {
      EXPECT_THAT(result.err, HasSubstr("Error")) << what;
    } else {
      EXPECT_EQ(result.err, "") << what;
    }
    // Holding or failing conditions answer at once; a timeout of N ends soon after N seconds.
    if (c.status != 124) {
      EXPECT_LT(took, 1.0) << what;
    } else {
      const double limit = std::stod(c.words[c.words.size() - 2]);
      EXPECT_GE(took, limit) << what;
      EXPECT_LT(took, limit + 1.0) << what;
    }
  }
}

// A started guest's agent answers after its start-up delay; the wait ends soon after that,
// with a handful of requests.
TEST_F(WaitTest, StartThenWaitEndsWhenTheAgentAnswers) {
  ASSERT_EQ(run({"start", "slow"}).status, 0);
  const auto started = Clock::now();
  clearRequests();
  const auto result = run({"wait", "slow", "--timeout", "10"});
  const double took = secondsSince(started);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_GE(took, kAgentDelayMs / 1000.0);
  // The host looks again every 150 ms while it holds a request.
  EXPECT_LT(took, kAgentDelayMs / 1000.0 + 0.5);
  EXPECT_LE(waitRequests(), 3u);
  // A paused machine's guest does not come up; a resumed one's agent answers at once.
  ASSERT_EQ(run({"suspend", "slow"}).status, 0);
  EXPECT_EQ(run({"wait", "slow"}).status, 1);
  ASSERT_EQ(run({"start", "slow"}).status, 0);
  EXPECT_EQ(run({"wait", "--for", "ip", "slow", "--timeout", "1"}).status, 0);
}

// The pace is the client's own too: a host that answers "not yet" at once is asked at most ten
// times a second.
TEST_F(WaitTest, AtMostTenRequestsASecondWhateverTheHostDoes) {
  json world = readWorld();
  world["faults"] = {{{"member", "WaitFor"}, {"value", false}}};
  setWorld(world);
  const auto start = Clock::now();
  const auto result = run({"wait", "up", "--timeout", "2"});
  const double took = secondsSince(start);
  EXPECT_EQ(result.status, 124);
  const std::size_t requests = waitRequests();
  EXPECT_GE(requests, 10u);
  EXPECT_LE(static_cast<double>(requests), 10.0 * took + 1.0) << requests << " in " << took;
}

TEST_F(WaitTest, TheHostHoldsEachRequestUpToASecond) {
  const auto start = Clock::now();
  EXPECT_EQ(run({"wait", "--for", "stopped", "up", "--timeout", "3"}).status, 124);
  const double took = secondsSince(start);
  EXPECT_LE(waitRequests(), 4u) << "in " << took << " s";
}

TEST_F(WaitTest, AStateReachedMeanwhileEndsTheWait) {
  const pid_t waiting = spawn({"wait", "--for", "stopped", "up", "--timeout", "20"});
  ASSERT_GT(waiting, 0);
  ASSERT_TRUE(awaitWaitRequests(1));
  const auto stopped = Clock::now();
  ASSERT_EQ(run({"stop", "up"}).status, 0);
  int status = 0;
  ASSERT_EQ(waitpid(waiting, &status, 0), waiting);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_LT(secondsSince(stopped), 0.5);
}

// Ctrl-C ends the wait at once with 130; the host forgets the held request and goes on.
TEST_F(WaitTest, InterruptEndsAtOnceAndLeavesNothingHeld) {
  const pid_t waiting = spawn({"wait", "--for", "stopped", "up", "--timeout", "0"});
  ASSERT_GT(waiting, 0);
  ASSERT_TRUE(awaitWaitRequests(1));
  const auto interrupted = Clock::now();
  ASSERT_EQ(kill(waiting, SIGINT), 0);
  int status = 0;
  ASSERT_EQ(waitpid(waiting, &status, 0), waiting);
  EXPECT_LT(secondsSince(interrupted), 0.3);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  // No request comes after the interrupt, and the host answers the next client at once.
  const std::size_t before = waitRequests();
  const auto asked = Clock::now();
  const auto result = run({"status", "up"});
  EXPECT_EQ(result.out, "started\n");
  EXPECT_LT(secondsSince(asked), 0.5);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(waitRequests(), before);
}

TEST_F(WaitTest, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"wait", "up", "--for", "ready"},
      {"wait", "up", "--for", "Agent"},
      {"wait", "up", "--timeout=-1"},
      {"wait", "up", "--timeout", "1.5"},
      {"wait", "up", "--timeout", "x"},
      {"wait", "up", "--timeout"},
      {"wait"},
      {"wait", "up", "down"},
  };
  for (const auto& words : cases) {
    const auto result = run(words);
    EXPECT_EQ(result.status, 64) << words.back();
    EXPECT_THAT(result.err, HasSubstr("Usage: qorctl wait")) << words.back();
  }
  EXPECT_EQ(waitRequests(), 0u);
  EXPECT_THAT(run({"wait", "up", "--for", "ready"}).err,
              HasSubstr("Error: The value 'ready' is invalid for '--for <condition>'. Choose one "
                        "of 'agent', 'ip', 'started', 'stopped', 'paused'"));
  EXPECT_THAT(run({"wait", "up", "--timeout=-1"}).err,
              HasSubstr("It must be a whole number of at least 0"));
}

}  // namespace
