#include <gtest/gtest.h>

#include "host_test_support.h"
#include "support/base64.h"

namespace qor::host {
namespace {

using namespace testing;

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
