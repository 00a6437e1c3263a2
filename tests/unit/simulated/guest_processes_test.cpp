// Programs in the simulated guests through the GuestProcesses concern: scripted results, the
// record of a live program, and a GetResult held while the program runs.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "contract/codes.h"
#include "host/backend/json_values.h"
#include "host/backend/manual_loop.h"
#include "host/simulated/simulated_backend.h"
#include "simulated_test_support.h"
#include "support/base64.h"

namespace qor::host {
namespace {

using namespace testing;
using contract::Value;

class GuestProcessesTest : public ::testing::Test {
 protected:
  void makeBackend(const char* world) {
    backend_.emplace(worldFrom(world, folder_.path()), launcher_, loop_);
    b_ = backend_->concerns();
  }
  MachineKey m1() { return *b_.machines->byId("M1"); }

  Result<GuestHandle> execute(ExecuteArgs args) {
    std::optional<Result<GuestHandle>> out;
    b_.processes->execute(m1(), std::move(args),
                          Completion<GuestHandle>([&](Result<GuestHandle> r) { out = r; }));
    EXPECT_TRUE(out) << "answered at once";
    return out.value_or(failed("no answer"));
  }
  GuestHandle executeOk(ExecuteArgs args) {
    auto r = execute(std::move(args));
    EXPECT_TRUE(succeeded(r)) << failureOf(r)->message;
    return succeeded(r) ? std::get<GuestHandle>(r) : 0;
  }
  // The answer, once there is one; the slot stays empty while the request is held.
  std::shared_ptr<std::optional<Result<Value>>> result(GuestHandle process) {
    auto slot = std::make_shared<std::optional<Result<Value>>>();
    b_.processes->result(m1(), process,
                         Completion<Value>([slot](Result<Value> r) { *slot = std::move(r); }));
    return slot;
  }
  static Json recordOf(const std::optional<Result<Value>>& answer) {
    if (!answer || !succeeded(*answer)) return "(no record)";
    return toJson(std::get<Value>(*answer));
  }

  TempFolder folder_;
  FakeLauncher launcher_;
  ManualLoop loop_;
  std::optional<SimulatedBackend> backend_;
  Backends b_;
};

TEST_F(GuestProcessesTest, ScriptedResultsAnswerInOrderRepeatingTheLast) {
  makeBackend(R"({"machines": [{"id": "M1", "status": "StSc", "processResults": [
      [{"hasExited": false}, {"hasExited": true, "exitCode": 3, "outputData": "aGk="}],
      [{"exitCode": {"type": "i", "value": -1}}]]}]})");
  EXPECT_EQ(failureOf(execute({"prog", {"a"}, {}, "%%%", true, true}))->kind,
            HostErrorKind::invalidArgs);
  const GuestHandle first = executeOk({"prog", {"a"}, {}, "", true, true});
  EXPECT_TRUE(backend_->takeChanged());  // the sequence is used up, and saved so
  EXPECT_EQ(recordOf(*result(first)), Json::parse(R"({"hasExited": false})"));
  const auto ended = Json::parse(R"({"hasExited": true, "exitCode": 3, "outputData": "aGk="})");
  const auto again = result(first);
  EXPECT_EQ(recordOf(*again), ended);
  EXPECT_EQ(std::get<Value>(**again).signature, "a{sv}");
  EXPECT_EQ(recordOf(*result(first)), ended);

  const GuestHandle second = executeOk({"prog", {}, {}, "", true, true});
  EXPECT_EQ(recordOf(*result(second)), Json::parse(R"({"exitCode": -1})"));
  EXPECT_TRUE(backend_->world().machines[0].processResults.empty());
  EXPECT_TRUE(launcher_.launched.empty());
}

TEST_F(GuestProcessesTest, ALiveProgramsRecordCarriesItsEndInTheEncodingItWasStartedWith) {
  makeBackend(R"({"machines": [{"id": "M1", "status": "StSc"}]})");
  launcher_.next = {true, 5, "out", "err"};
  const GuestHandle encoded =
      executeOk({"/bin/true", {}, {"A=1"}, support::base64Encode("in"), true, true});
  ASSERT_EQ(launcher_.launched.size(), 1u);
  EXPECT_EQ(launcher_.launched[0].input, "in");
  EXPECT_EQ(launcher_.launched[0].environment,
            (std::vector<std::string>{"A=1", std::string("PATH=") + kDefaultPath}));
  EXPECT_EQ(launcher_.launched[0].root, folder_.path() / "guests" / "M1");
  EXPECT_EQ(recordOf(*result(encoded)),
            Json::parse(R"({"hasExited": true, "exitCode": 5, "outputData": "b3V0",
                            "errorData": "ZXJy"})"));

  launcher_.next = {true, 0, "caf\xC3", "", false, true};
  const GuestHandle raw = executeOk({"/bin/true", {}, {}, "in", false, true});
  EXPECT_EQ(launcher_.launched[1].input, "in");
  EXPECT_EQ(recordOf(*result(raw)),
            Json::parse(R"({"hasExited": true, "exitCode": 0, "outputData": "caf\ufffd",
                            "errorData": "", "errorTruncated": true})"));
}

TEST_F(GuestProcessesTest, AResultIsHeldUntilTheProgramEndsThePauseIsOverOrTheMachineStops) {
  makeBackend(R"({"machines": [{"id": "M1", "status": "StSc"}]})");
  launcher_.next.exited = false;
  const GuestHandle process = executeOk({"/bin/sleep", {}, {}, "", true, true});
  auto first = result(process);
  EXPECT_FALSE(*first) << "held while the program runs";
  EXPECT_EQ(loop_.armedTimers(), 1u);
  loop_.runPending();  // the pause is over: still running
  EXPECT_EQ(recordOf(*first), Json::parse(R"({"hasExited": false})"));

  auto second = result(process);
  ASSERT_FALSE(*second);
  launcher_.started.back()->finish({true, 4, "out", "", true, false});
  EXPECT_EQ(recordOf(*second),
            Json::parse(R"({"hasExited": true, "exitCode": 4, "outputData": "b3V0",
                            "errorData": "", "outputTruncated": true})"));
  EXPECT_EQ(loop_.armedTimers(), 0u);

  const GuestHandle sleeping = executeOk({"/bin/sleep", {}, {}, "", true, true});
  auto held = result(sleeping);
  ASSERT_FALSE(*held);
  std::optional<Result<Done>> stopped;
  b_.machines->stop(m1(), contract::fourCharCode("KiLl"),
                    Completion<Done>([&](Result<Done> r) { stopped = r; }));
  ASSERT_TRUE(stopped && succeeded(*stopped));
  EXPECT_EQ(recordOf(*held), Json::parse(R"({"hasExited": false})"));
  EXPECT_TRUE(b_.processes->processes(m1()).empty());
}

TEST_F(GuestProcessesTest, KeepsTheNewestFinishedProcesses) {
  makeBackend(R"({"machines": [{"id": "M1", "status": "StSc"}]})");
  auto alive = [&](GuestHandle process) {
    const auto& handles = b_.processes->processes(m1());
    return std::find(handles.begin(), handles.end(), process) != handles.end();
  };
  launcher_.next.exited = false;
  const GuestHandle running = executeOk({"/bin/true", {}, {}, "", true, true});
  launcher_.next.exited = true;
  const GuestHandle oldest = executeOk({"/bin/true", {}, {}, "", true, true});
  for (std::size_t i = 0; i < kMaxFinishedProcesses; ++i) {
    executeOk({"/bin/true", {}, {}, "", true, true});
  }
  const GuestHandle newest = executeOk({"/bin/true", {}, {}, "", true, true});
  EXPECT_TRUE(alive(running));  // a running program is never forgotten
  EXPECT_FALSE(alive(oldest));
  EXPECT_TRUE(alive(newest));
}

}  // namespace
}  // namespace qor::host
