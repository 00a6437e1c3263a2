#include <gtest/gtest.h>

#include <regex>

#include "host/core/arguments.h"
#include "host/simulated/machine_copy.h"
#include "host_test_support.h"

namespace qor::host {
namespace {

using namespace testing;

constexpr const char* kId = "A1B2C3D4-0000-4000-8000-000000000001";

// Guest folders of these worlds land in a temporary folder.
const std::filesystem::path& scratch() {
  static TempFolder folder;
  return folder.path();
}

World oneMachine(const std::string& status) {
  return worldFrom(
      (R"({"machines": [{"id": ")" + std::string(kId) + R"(", "name": "Debian", "status": )" +
       status + R"(}], "usbDevices": [{"id": 4, "connectedTo": ")" + kId + R"("}]})")
          .c_str(),
      scratch());
}

Request lifecycle(const std::string& member) {
  if (member == "Start") {
    return call(vmById(kId), kVmInterface, member, {Value::boolean(false), Value::boolean(true)});
  }
  if (member == "Suspend") return call(vmById(kId), kVmInterface, member, {Value::boolean(true)});
  if (member == "Stop")
    return call(vmById(kId), kVmInterface, member, {Value::uint32(fourCharCode("KiLl"))});
  return call(vmById(kId), kVmInterface, member);
}

TEST(LifecycleTest, TransitionsAndTheirRefusals) {
  struct Case {
    const char* status;
    const char* member;
    const char* error;  // empty: accepted
    std::uint32_t after;
  };
  const Case cases[] = {
      {R"("StSa")", "Start", "", code(QorStatus::started)},
      {R"("StSe")", "Start", "", code(QorStatus::started)},  // resume
      {R"("StSc")", "Start", "The virtual machine is already running.", code(QorStatus::started)},
      {R"("StSg")", "Start", "The virtual machine cannot be started in its current state.",
       code(QorStatus::stopping)},
      {"12345", "Start", "The virtual machine cannot be started in its current state.", 12345},
      {R"("StSc")", "Suspend", "", code(QorStatus::paused)},
      {R"("StSa")", "Suspend", "The virtual machine is not running.", code(QorStatus::stopped)},
      {R"("StSe")", "Suspend", "The virtual machine is already suspended.",
       code(QorStatus::paused)},
      {R"("StSc")", "Stop", "", code(QorStatus::stopped)},
      {R"("StSe")", "Stop", "", code(QorStatus::stopped)},
      {R"("StSa")", "Stop", "The virtual machine is not running.", code(QorStatus::stopped)},
      {R"("StSc")", "Delete", "The virtual machine must be stopped before it can be deleted.",
       code(QorStatus::started)},
  };
  for (const auto& c : cases) {
    FakeLauncher launcher;
    Host host(oneMachine(c.status), launcher);
    const Reply reply = host.handle(lifecycle(c.member));
    const std::string what = std::string(c.member) + " on " + c.status;
    if (*c.error) {
      EXPECT_EQ(errorName(reply), error_names::kInvalidState) << what;
      EXPECT_EQ(reply.error ? reply.error->message : "", c.error) << what;
      EXPECT_FALSE(host.takeChanged()) << what;
    } else {
      EXPECT_FALSE(reply.error) << what << ": " << reply.error->message;
      EXPECT_TRUE(host.takeChanged()) << what;
    }
    EXPECT_EQ(host.world().machines[0].status, c.after) << what;
  }
}

TEST(LifecycleTest, RecordsWhatTheRequestsAskedFor) {
  FakeLauncher launcher;
  Host host(oneMachine(R"("StSa")"), launcher);
  ASSERT_FALSE(host.handle(lifecycle("Start")).error);
  ASSERT_FALSE(host.handle(lifecycle("Suspend")).error);
  ASSERT_FALSE(host.handle(lifecycle("Stop")).error);
  const Machine& m = host.world().machines[0];
  ASSERT_TRUE(m.lastStart);
  EXPECT_FALSE(m.lastStart->saving);  // a snapshot run
  EXPECT_TRUE(m.lastStart->recovery);
  EXPECT_EQ(m.lastSuspendSaving, true);
  EXPECT_EQ(m.lastStopMethod, fourCharCode("KiLl"));
}

TEST(LifecycleTest, StopRefusesUnknownMethodsAndReleasesTheGuest) {
  FakeLauncher launcher;
  Host host(oneMachine(R"("StSc")"), launcher);
  const Reply bad = host.handle(call(vmById(kId), kVmInterface, "Stop", {Value::uint32(7)}));
  EXPECT_EQ(errorName(bad), error_names::kInvalidArgs);
  EXPECT_EQ(host.world().machines[0].status, code(QorStatus::started));

  launcher.next.exited = false;
  const Reply started =
      host.handle(call(vmById(kId), kVmInterface, "Execute",
                       {Value::string("/bin/true"), Value::stringArray({}), Value::stringArray({}),
                        Value::string(""), Value::boolean(true), Value::boolean(true)}));
  ASSERT_FALSE(started.error);
  const std::string process = *textOf(answer(started));
  ASSERT_FALSE(host.handle(call(process, "org.qor.Scripting1.GuestProcess", "GetResult")).error);

  ASSERT_FALSE(host.handle(lifecycle("Stop")).error);
  EXPECT_FALSE(host.world().usbDevices[0].connectedTo);  // the device went back to the host
  EXPECT_EQ(errorName(host.handle(call(process, "org.qor.Scripting1.GuestProcess", "GetResult"))),
            error_names::kUnknownObject);
}

TEST(LifecycleTest, DeleteRemovesAStoppedMachine) {
  FakeLauncher launcher;
  Host host(oneMachine(R"("StSa")"), launcher);
  ASSERT_FALSE(host.handle(lifecycle("Delete")).error);
  EXPECT_TRUE(host.world().machines.empty());
  EXPECT_EQ(errorName(host.handle(lifecycle("Delete"))), error_names::kUnknownObject);
}

Value record(std::vector<std::pair<std::string, Value>> entries) {
  RecordBuilder b;
  for (auto& [k, v] : entries) b.add(k, std::move(v));
  return std::move(b).build();
}

TEST(DuplicateTest, AcceptsOnlyTheConfigurationRecord) {
  struct Case {
    const char* what;
    Value properties;
    std::optional<std::optional<std::string>> name;  // nullopt: refused
  };
  const std::vector<Case> cases = {
      {"empty configuration", record({{"configuration", record({})}}),
       std::optional<std::string>()},
      {"a name", record({{"configuration", record({{"name", Value::string("Copy A")}})}}),
       std::optional<std::string>("Copy A")},
      {"an empty name", record({{"configuration", record({{"name", Value::string("")}})}}),
       std::optional<std::string>("")},
      {"no configuration", record({}), std::nullopt},
      {"another key", record({{"config", record({})}}), std::nullopt},
      {"two keys", record({{"configuration", record({})}, {"name", Value::string("x")}}),
       std::nullopt},
      {"configuration not a record", record({{"configuration", Value::string("x")}}), std::nullopt},
      {"name not a string", record({{"configuration", record({{"name", Value::int32(3)}})}}),
       std::nullopt},
      {"another inner key",
       record({{"configuration",
                record({{"name", Value::string("x")}, {"notes", Value::string("y")}})}}),
       std::nullopt},
      {"not a record at all", Value::stringArray({"configuration"}), std::nullopt},
  };
  for (const auto& c : cases) {
    auto name = duplicateName(c.properties);
    if (!c.name) {
      ASSERT_TRUE(std::holds_alternative<Failure>(name)) << c.what;
      EXPECT_EQ(std::get<Failure>(name).kind, HostErrorKind::invalidArgs) << c.what;
    } else {
      ASSERT_TRUE(std::holds_alternative<std::optional<std::string>>(name)) << c.what;
      EXPECT_EQ(std::get<std::optional<std::string>>(name), *c.name) << c.what;
    }
  }
}

TEST(DuplicateTest, CopiesGetNewIdsAndFreeNames) {
  FakeLauncher launcher;
  Host host(worldFrom(R"({"machines": [
      {"id": "A", "name": "Debian", "status": "StSa", "backend": "QeMu", "ipAddresses": ["10.0.0.1"],
       "processResults": [[{"hasExited": true}]]},
      {"id": "B", "name": "Debian Copy", "status": "StSa"}]})",
                      scratch()),
            launcher);
  const Value noName = record({{"configuration", record({})}});
  for (int i = 0; i < 2; ++i) {
    ASSERT_FALSE(host.handle(call(vmById("A"), kVmInterface, "Duplicate", {noName})).error);
  }
  const Value named = record({{"configuration", record({{"name", Value::string("")}})}});
  ASSERT_FALSE(host.handle(call(vmById("A"), kVmInterface, "Duplicate", {named})).error);

  const auto& machines = host.world().machines;
  ASSERT_EQ(machines.size(), 5u);
  EXPECT_EQ(machines[2].name, "Debian Copy 2");
  EXPECT_EQ(machines[3].name, "Debian Copy 3");
  EXPECT_EQ(machines[4].name, "");
  const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  for (std::size_t i = 2; i < machines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(*machines[i].id, uuid)) << *machines[i].id;
    EXPECT_EQ(machines[i].status, code(QorStatus::stopped));
    EXPECT_EQ(machines[i].backend, fourCharCode("QeMu"));
    EXPECT_TRUE(machines[i].processResults.empty());
  }
  EXPECT_NE(machines[2].id, machines[3].id);
}

TEST(DuplicateTest, RefusesARunningMachineAndABadRecord) {
  FakeLauncher launcher;
  Host host(oneMachine(R"("StSc")"), launcher);
  const Value ok = record({{"configuration", record({})}});
  EXPECT_EQ(errorName(host.handle(call(vmById(kId), kVmInterface, "Duplicate", {ok}))),
            error_names::kInvalidState);
  EXPECT_EQ(errorName(host.handle(call(vmById(kId), kVmInterface, "Duplicate", {record({})}))),
            error_names::kInvalidArgs);
  EXPECT_EQ(host.world().machines.size(), 1u);
}

}  // namespace
}  // namespace qor::host
