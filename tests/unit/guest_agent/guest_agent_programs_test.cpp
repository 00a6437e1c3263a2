#include <gtest/gtest.h>

#include "contract/errors.h"
#include "fake_agent.h"

namespace qor::host::libvirt {
namespace {

using namespace testing;
namespace names = contract::error_names;

class GuestExecTest : public ::testing::Test {
 protected:
  // Each program gets a pid of its own, as in a guest.
  GuestHandle start(bool base64 = true) {
    agent.script.push_back(ok({{"pid", ++pid}}));
    return value(guest.execute(kDomain, "/bin/sh", {"-c", "true"}, {}, "", base64, true));
  }

  std::int64_t pid = 4241;

  FakeAgent agent;
  GuestAgent guest{agent};
};

TEST_F(GuestExecTest, ExecuteSendsTheProgramAsTheAgentTakesIt) {
  agent.script.push_back(ok({{"pid", 7}}));
  value(guest.execute(kDomain, "/bin/cat", {"-n", "--"}, {"A=1", "B"}, "AAEC/w==", true, true));
  agent.script.push_back(ok({{"pid", 8}}));
  value(guest.execute(kDomain, "true", {}, {}, "", true, false));
  agent.script.push_back(ok({{"pid", 9}}));
  value(guest.execute(kDomain, "cat", {}, {}, "hi\n", false, true));
  ASSERT_EQ(agent.sent.size(), 3u);
  EXPECT_EQ(agent.sent[0], (nlohmann::json{{"execute", "guest-exec"},
                                           {"arguments",
                                            {{"path", "/bin/cat"},
                                             {"arg", {"-n", "--"}},
                                             {"env", {"A=1", "B"}},
                                             {"input-data", "AAEC/w=="},
                                             {"capture-output", true}}}}));
  EXPECT_EQ(agent.sent[1]["arguments"],
            (nlohmann::json{{"path", "true"}, {"capture-output", false}}));
  EXPECT_EQ(agent.sent[2]["arguments"]["input-data"], "aGkK");
  EXPECT_EQ(agent.timeouts, (std::vector<int>{10, 10, 10}));
}

TEST_F(GuestExecTest, ExecuteRefusesWhatCannotBeSent) {
  EXPECT_EQ(errorOf(guest.execute(kDomain, "", {}, {}, "", true, true)).errorName(),
            names::kInvalidArgs);
  EXPECT_EQ(errorOf(guest.execute(kDomain, "cat", {}, {}, "a=b", true, true)).errorName(),
            names::kInvalidArgs);
  const std::string huge = support::base64Encode(std::string(150000, 'x'));
  EXPECT_EQ(errorOf(guest.execute(kDomain, "cat", {}, {}, huge, true, true)).errorName(),
            names::kInvalidArgs);
  EXPECT_TRUE(agent.sent.empty());
  agent.script.push_back(ok({{"pid", 1}}));
  value(guest.execute(kDomain, "cat", {}, {}, support::base64Encode(std::string(140000, 'x')), true,
                      true));
  agent.script.push_back(agentRefusal(
      "guest-exec",
      "Failed to execute child process \xE2\x80\x9Cnope\xE2\x80\x9D (No such file or directory)"));
  auto e = errorOf(guest.execute(kDomain, "nope", {}, {}, "", true, true));
  EXPECT_EQ(e.errorName(), names::kHostFailed);
  EXPECT_EQ(e.message.rfind("Cannot run 'nope' in the guest: Failed to execute child process", 0),
            0u)
      << e.message;
}

TEST_F(GuestExecTest, StatusRepliesBecomeResults) {
  struct Case {
    const char* name;
    nlohmann::json reply;
    bool base64;
    ProcessState expected;
  } cases[] = {
      {"running", {{"exited", false}}, true, {false, 0, "", "", false, false}},
      {"exit 0 without output",
       {{"exited", true}, {"exitcode", 0}},
       true,
       {true, 0, "", "", false, false}},
      {"exit 1", {{"exited", true}, {"exitcode", 1}}, true, {true, 1, "", "", false, false}},
      {"exit 255 with both streams",
       {{"exited", true}, {"exitcode", 255}, {"out-data", "AP8K"}, {"err-data", "ZXJy"}},
       true,
       {true, 255, "AP8K", "ZXJy", false, false}},
      {"a signal", {{"exited", true}, {"signal", 9}}, true, {true, 137, "", "", false, false}},
      {"capped streams",
       {{"exited", true},
        {"exitcode", 0},
        {"out-data", "eA=="},
        {"out-truncated", true},
        {"err-data", "eQ=="},
        {"err-truncated", true}},
       true,
       {true, 0, "eA==", "eQ==", true, true}},
      {"text, with bytes that are not",
       {{"exited", true}, {"exitcode", 3}, {"out-data", "aGkK"}, {"err-data", "/2E="}},
       false,
       {true, 3, "hi\n",
        "\xEF\xBF\xBD"
        "a",
        false, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GuestHandle p = start(c.base64);
    agent.script.push_back(ok(c.reply));
    const ProcessState r = value(guest.status(kDomain, p));
    EXPECT_EQ(r.exited, c.expected.exited);
    EXPECT_EQ(r.exitCode, c.expected.exitCode);
    EXPECT_EQ(r.output, c.expected.output);
    EXPECT_EQ(r.error, c.expected.error);
    EXPECT_EQ(r.outputTruncated, c.expected.outputTruncated);
    EXPECT_EQ(r.errorTruncated, c.expected.errorTruncated);
    EXPECT_EQ(agent.sent.back(),
              (nlohmann::json{{"execute", "guest-exec-status"}, {"arguments", {{"pid", pid}}}}));
  }
}

TEST_F(GuestExecTest, TheEndIsKeptSinceTheAgentForgetsItAtOnce) {
  GuestHandle p = start();
  agent.script.push_back(ok({{"exited", false}}));
  agent.script.push_back(ok({{"exited", true}, {"exitcode", 4}, {"out-data", "aGk="}}));
  EXPECT_FALSE(value(guest.status(kDomain, p)).exited);
  EXPECT_EQ(value(guest.status(kDomain, p)).exitCode, 4);
  const auto asked = agent.sent.size();
  // The agent would now answer "Invalid parameter 'pid'".
  EXPECT_EQ(value(guest.status(kDomain, p)).output, "aGk=");
  EXPECT_EQ(agent.sent.size(), asked);
}

TEST_F(GuestExecTest, AnEndThatCannotComeThroughIsAnErrorForGood) {
  const char* tooLarge[] = {"Unable to encode message payload",
                            "internal error: No complete agent response found in 10485760 bytes"};
  for (const char* message : tooLarge) {
    SCOPED_TRACE(message);
    GuestHandle p = start();
    agent.script.push_back(failure(message));
    auto e = errorOf(guest.status(kDomain, p));
    EXPECT_EQ(e.errorName(), names::kHostFailed);
    EXPECT_NE(e.message.find("too large"), std::string::npos) << e.message;
    const auto asked = agent.sent.size();
    EXPECT_EQ(errorOf(guest.status(kDomain, p)).message, e.message);
    EXPECT_EQ(agent.sent.size(), asked);
  }
  // Without an end, or with an end the agent no longer knows, nothing reads as success.
  GuestHandle p = start();
  agent.script.push_back(ok({{"exited", true}}));
  EXPECT_EQ(errorOf(guest.status(kDomain, p)).errorName(), names::kHostFailed);
  p = start();
  agent.script.push_back(agentRefusal("guest-exec-status", "Invalid parameter 'pid'"));
  EXPECT_EQ(errorOf(guest.status(kDomain, p)).errorName(), names::kHostFailed);
  EXPECT_EQ(errorOf(guest.status(kDomain, p)).errorName(), names::kHostFailed);
}

TEST_F(GuestExecTest, AnAgentThatDoesNotAnswerIsAskedAgainLater) {
  GuestHandle p = start();
  agent.script.push_back(
      failure("Guest agent is not responding: Guest agent not available for now"));
  agent.script.push_back(ok({{"exited", true}, {"exitcode", 0}}));
  auto e = errorOf(guest.status(kDomain, p));
  EXPECT_EQ(e.message.rfind("The guest agent does not answer", 0), 0u) << e.message;
  EXPECT_TRUE(value(guest.status(kDomain, p)).exited);
}

TEST_F(GuestExecTest, ReleaseLetsTheAgentDropAnEndedProgram) {
  GuestHandle running = start();
  GuestHandle ended = start();
  agent.script.push_back(ok({{"exited", true}, {"exitcode", 0}}));
  value(guest.status(kDomain, ended));
  EXPECT_EQ(guest.processes(kDomain), (std::vector<GuestHandle>{running, ended}));
  const auto asked = agent.sent.size();
  agent.script.push_back(ok({{"exited", false}}));
  guest.releaseProcess(running);
  guest.releaseProcess(ended);
  EXPECT_EQ(agent.sent.size(), asked + 1);  // only the running one is looked at once more
  EXPECT_TRUE(guest.processes(kDomain).empty());
  EXPECT_EQ(errorOf(guest.status(kDomain, running)).errorName(), names::kUnknownObject);
}

TEST_F(GuestExecTest, OnlyTheNewestFinishedResultsAreKept) {
  std::vector<GuestHandle> handles;
  for (int i = 0; i < 105; ++i) {
    handles.push_back(start());
    agent.script.push_back(ok({{"exited", true}, {"exitcode", i % 256}}));
    value(guest.status(kDomain, handles.back()));
  }
  EXPECT_EQ(guest.processes(kDomain).size(), 100u);
  EXPECT_EQ(errorOf(guest.status(kDomain, handles.front())).errorName(), names::kUnknownObject);
  EXPECT_EQ(value(guest.status(kDomain, handles.back())).exitCode, 104);
}

// After a guest reboot the agent's pids start over: a program of the old run must never be
// looked up by its pid in the new one, where it may be another client's program (whose end
// the look would take). A program whose end was told keeps it.
TEST_F(GuestExecTest, AProgramOfAnEarlierAgentRunIsNoLongerKnown) {
  for (bool told : {true, false}) {
    SCOPED_TRACE(told ? "restart told" : "restart seen in a pid handed out again");
    FakeAgent fresh;
    GuestAgent g{fresh};
    fresh.script.push_back(ok({{"pid", 300}}));
    const GuestHandle running = value(g.execute(kDomain, "a", {}, {}, "", true, true));
    fresh.script.push_back(ok({{"pid", 301}}));
    const GuestHandle ended = value(g.execute(kDomain, "b", {}, {}, "", true, true));
    fresh.script.push_back(ok({{"exited", true}, {"exitcode", 3}}));
    value(g.status(kDomain, ended));

    if (told) g.agentRestarted(kDomain);
    fresh.script.push_back(ok({{"pid", 300}}));
    const GuestHandle other = value(g.execute(kDomain, "c", {}, {}, "", true, true));
    const auto sent = fresh.sent.size();
    const Failure e = errorOf(g.status(kDomain, running));
    EXPECT_EQ(e.errorName(), names::kUnknownObject);
    EXPECT_EQ(e.message, "The guest agent restarted; the process is no longer known.");
    EXPECT_EQ(errorOf(g.status(kDomain, running)).message, e.message);
    EXPECT_EQ(value(g.status(kDomain, ended)).exitCode, 3);
    g.releaseProcess(running);
    EXPECT_EQ(fresh.sent.size(), sent);
    fresh.script.push_back(ok({{"exited", true}, {"exitcode", 7}}));
    EXPECT_EQ(value(g.status(kDomain, other)).exitCode, 7);
  }
}

}  // namespace
}  // namespace qor::host::libvirt
