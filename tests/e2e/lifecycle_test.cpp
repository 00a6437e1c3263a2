#include "tests/e2e/harness.h"

using namespace qor::e2e;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr const char* kId = "33333333-3333-4333-8333-333333333333";
constexpr const char* kOther = "44444444-4444-4444-8444-444444444444";

class LifecycleTest : public HostTest {
 protected:
  // The requests after the lookup (list, probe by id) that every command makes first.
  std::vector<std::string> commandRequests() {
    auto all = labels();
    EXPECT_GE(all.size(), 2u);
    EXPECT_EQ(all[0], "Get Application.VirtualMachines");
    EXPECT_EQ(all[1], "Get VirtualMachine.Id");
    return {all.begin() + 2, all.end()};
  }
};

TEST_F(LifecycleTest, EachFlagCombinationSendsItsRequest) {
  struct Case {
    std::vector<std::string> arguments;
    std::string status;  // the machine's state beforehand
    std::string request;
    std::string out;
  };
  const Case cases[] = {
      {{"start", kId}, "StSa", "VirtualMachine.Start [true,false]", ""},
      {{"start", "--disposable", "--recovery", kId},
       "StSa",
       "VirtualMachine.Start [false,true]",
       ""},
      {{"start", kId, "-a"},
       "StSe",
       "VirtualMachine.Start [true,false]",
       "WARNING: attach command is not implemented yet!\n"},
      {{"suspend", kId}, "StSc", "VirtualMachine.Suspend [false]", ""},
      {{"suspend", "-s", kId}, "StSc", "VirtualMachine.Suspend [true]", ""},
      {{"suspend", "--save-state", kId}, "StSc", "VirtualMachine.Suspend [true]", ""},
      {{"stop", kId}, "StSc", "VirtualMachine.Stop [1181700707]", ""},               // 'FoRc'
      {{"stop", "--force", kId}, "StSc", "VirtualMachine.Stop [1181700707]", ""},    // 'FoRc'
      {{"stop", "--kill", kId}, "StSc", "VirtualMachine.Stop [1265192044]", ""},     // 'KiLl'
      {{"stop", "--request", kId}, "StSe", "VirtualMachine.Stop [1382371701]", ""},  // 'ReQu'
      {{"delete", kId}, "StSa", "VirtualMachine.Delete", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    TearDown();
    SetUp();
    setWorld({{"machines", {vm(kId, "vm", c.status)}}});
    const auto result = run(c.arguments);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(commandRequests(), ElementsAre(c.request));
  }
}

TEST_F(LifecycleTest, StateChangesShowThroughStatus) {
  setWorld({{"machines", {vm(kId, "vm", "StSa")}}});
  const std::pair<std::vector<std::string>, std::string> steps[] = {
      {{"start", "vm"}, "started\n"},
      {{"suspend", "vm"}, "paused\n"},
      {{"start", "vm"}, "started\n"},
      {{"stop", "vm", "--request"}, "stopped\n"},
  };
  for (const auto& [command, expected] : steps) {
    ASSERT_EQ(run(command).status, 0) << command[0];
    EXPECT_EQ(run({"status", "vm"}).out, expected) << command[0];
  }
  ASSERT_EQ(run({"delete", "vm"}).status, 0);
  EXPECT_EQ(run({"list"}).out, "UUID                                 Status   Name\n");
}

TEST_F(LifecycleTest, CloneSendsExactlyTheConfigurationRecord) {
  setWorld({{"machines", {vm(kId, "vm", "StSa")}}});
  ASSERT_EQ(run({"clone", kId}).status, 0);
  ASSERT_EQ(run({"clone", kId, "--name", "my copy"}).status, 0);
  ASSERT_EQ(run({"clone", kId, "--name", ""}).status, 0);
  std::vector<json> records;
  for (const auto& request : requests()) {
    if (request.member == "Duplicate") records.push_back(request.args);
  }
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0], json::parse(R"([{"configuration": {}}])"));
  EXPECT_EQ(records[1], json::parse(R"([{"configuration": {"name": "my copy"}}])"));
  EXPECT_EQ(records[2], json::parse(R"([{"configuration": {"name": ""}}])"));

  const auto list = run({"list"}).out;
  EXPECT_THAT(list, HasSubstr(" stopped  my copy\n"));
  const auto machines = readWorld()["machines"];
  ASSERT_EQ(machines.size(), 4u);
  EXPECT_NE(machines[1]["id"], kId);
  EXPECT_NE(machines[1]["id"], machines[2]["id"]);
}

TEST_F(LifecycleTest, StopStyleConflictsFailWhileParsing) {
  const std::vector<std::vector<std::string>> conflicts = {{"--force", "--kill"},
                                                           {"--force", "--request"},
                                                           {"--kill", "--request"},
                                                           {"--force", "--kill", "--request"}};
  for (const auto& flags : conflicts) {
    std::vector<std::string> arguments = {"stop", "no such machine"};
    arguments.insert(arguments.end(), flags.begin(), flags.end());
    const auto result = run(arguments);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: You can only specify one of: --force, --kill, or --request\n");
    EXPECT_EQ(result.status, 1);
  }
  EXPECT_TRUE(requests().empty());  // the host was never contacted
}

TEST_F(LifecycleTest, AnUnknownMachineSendsNothingToAnyMachine) {
  setWorld({{"machines", {vm(kId, "vm", "StSa")}}});
  for (const std::vector<std::string>& command : {std::vector<std::string>{"start", "-a", "nope"},
                                                  {"suspend", "nope"},
                                                  {"stop", "nope"},
                                                  {"clone", "nope"},
                                                  {"delete", "nope"}}) {
    clearRequests();
    const auto result = run(command);
    EXPECT_EQ(result.out, "") << command[0];  // no --attach warning either
    EXPECT_EQ(result.err, "Error: Virtual machine not found.\n");
    EXPECT_EQ(result.status, 1);
    for (const auto& request : requests()) {
      EXPECT_TRUE(request.member == "Get") << command[0] << ": " << request.label();
    }
  }
  EXPECT_EQ(readWorld()["machines"].size(), 1u);
}

TEST_F(LifecycleTest, ARejectedRequestIsReportedAndFails) {
  setWorld({{"machines", {vm(kId, "running", "StSc"), vm(kOther, "stopped", "StSa")}}});
  struct Case {
    std::vector<std::string> arguments;
    std::string request;
  };
  const Case cases[] = {{{"start", "-a", "running"}, "Start"},
                        {{"suspend", "stopped"}, "Suspend"},
                        {{"stop", "stopped"}, "Stop"},
                        {{"delete", "running"}, "Delete"},
                        {{"clone", "running"}, "Duplicate"}};
  for (const auto& c : cases) {
    const auto result = run(c.arguments);
    EXPECT_EQ(result.out, "") << c.request;  // no warning after a failed start
    EXPECT_THAT(result.err,
                testing::StartsWith("Error from event: The request VirtualMachine." + c.request +
                                    " failed: "
                                    "org.qor.Scripting1.Error.InvalidState"));
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
    EXPECT_EQ(result.status, 1) << c.request;
  }
}

TEST_F(LifecycleTest, AForcedFailureKeepsTheHostsOwnWords) {
  setWorld({{"machines", {vm(kId, "vm", "StSa")}},
            {"faults",
             {{{"member", "Start"},
               {"error", "org.qor.Scripting1.Error.Failed"},
               {"message", "The disk image is in use."}}}}});
  const auto result = run({"start", "vm"});
  EXPECT_EQ(result.err,
            "Error from event: The request VirtualMachine.Start failed: "
            "org.qor.Scripting1.Error.Failed (OSStatus error -10000.)\n"
            "The disk image is in use.\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(run({"status", "vm"}).out, "stopped\n");
}

}  // namespace
