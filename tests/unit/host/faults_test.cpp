#include "host/diagnostics/faults.h"

#include <gtest/gtest.h>

#include "host_test_support.h"

namespace qor::host {
namespace {

using namespace testing;

FaultTable tableOf(const char* json) {
  auto parsed = parseFaults(Json::parse(json));
  if (const auto* f = failureOf(parsed)) ADD_FAILURE() << f->message;
  return FaultTable(std::get<std::vector<Fault>>(std::move(parsed)));
}

RequestFacts facts(std::string member, std::string path = "/p",
                   std::optional<std::string> machine = std::nullopt) {
  return {std::move(member), std::move(path), std::move(machine)};
}

TEST(FaultTableTest, AfterLetsRequestsPassAndTimesUsesTheFaultUp) {
  FaultTable table = tableOf(R"([{"member": "Read", "after": 2, "times": 2, "error": "a.B"}])");
  std::string acted;
  for (int i = 0; i < 6; ++i) acted += table.match(facts("Read")) ? 'x' : '.';
  EXPECT_EQ(acted, "..xx..");
}

TEST(FaultTableTest, OnlyMatchingRequestsCount) {
  FaultTable table = tableOf(R"([
      {"member": "Get.Status", "machine": "M1", "after": 1, "error": "a.One"},
      {"member": "Get.Status", "path": "/exact", "error": "a.Two"},
      {"member": "Start", "error": "a.Three"}])");
  EXPECT_EQ(table.match(facts("Get.Name", "/p", "M1")), nullptr);
  EXPECT_EQ(table.match(facts("Get.Status", "/p", "M2")), nullptr);
  EXPECT_EQ(table.match(facts("Get.Status", "/p")), nullptr);
  EXPECT_EQ(table.match(facts("Get.Status", "/p", "M1")), nullptr);  // the first one passes
  const Fault* second = table.match(facts("Get.Status", "/p", "M1"));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->error, "a.One");
  // A request the first fault lets pass may still meet a later one.
  const Fault* exact = table.match(facts("Get.Status", "/exact"));
  ASSERT_NE(exact, nullptr);
  EXPECT_EQ(exact->error, "a.Two");
  EXPECT_EQ(table.match(facts("Start"))->error, "a.Three");
}

TEST(FaultTableTest, RefusesFaultsThatCannotWork) {
  const char* cases[] = {
      R"({})",
      R"([{"path": "/x"}])",
      R"([{"member": "Start", "times": -1}])",
      R"([{"member": "Start", "after": "2"}])",
      R"([{"member": "Start", "error": "NoDots"}])",
      R"([{"member": "Start", "error": "a..b"}])",
      R"([{"member": "Start", "reply": "garbage"}])",
      R"([{"member": "Start", "reply": "wrong-type", "error": "a.B"}])",
      R"([{"member": "Start", "action": "crash"}])",
      R"([{"member": "Start", "typo": 1}])",
      R"([{"member": "Read", "value": "AA==", "reply": "wrong-type"}])",
      R"([{"member": "Read", "value": "AA==", "error": "a.B"}])",
  };
  for (const char* c : cases) {
    EXPECT_TRUE(std::holds_alternative<Failure>(parseFaults(Json::parse(c)))) << c;
  }
}

TEST(FaultFactsTest, NamesPropertyReadsAndTheMachineBelowAPath) {
  TempFolder folder;
  FakeLauncher launcher;
  Host host(worldFrom(R"({"machines": [{"id": "M1", "name": "Debian", "status": "StSc"}]})",
                      folder.path()),
            launcher);
  const RequestFacts read = host.factsOf(get(vmByName("Debian"), kVmInterface, "Status"));
  EXPECT_EQ(read.member, "Get.Status");
  EXPECT_EQ(read.machineId, "M1");
  const RequestFacts below =
      host.factsOf(call(vmByName("Debian") + "/file/9", "org.qor.Scripting1.GuestFile", "Read"));
  EXPECT_EQ(below.member, "Read");
  EXPECT_EQ(below.machineId, "M1");
  EXPECT_FALSE(host.factsOf(call(kRoot, "", "SetAutoTerminate")).machineId);
}

TEST(FaultFactsTest, SubstituteRepliesHaveAnotherTypeOrNoObject) {
  TempFolder folder;
  FakeLauncher launcher;
  Host host(worldFrom(R"({"machines": [{"id": "M1", "status": "StSc"}]})", folder.path()),
            launcher);
  const Request list = get(kRoot, "org.qor.Scripting1.Application", "VirtualMachines");
  const Reply wrong = host.substituteReply(list, FaultReply::kWrongType);
  ASSERT_EQ(wrong.values.size(), 1u);
  EXPECT_EQ(wrong.values[0].signature, "v");
  EXPECT_NE(answer(wrong).signature, "ao");
  const Request read = call(vmById("M1") + "/file/1", "org.qor.Scripting1.GuestFile", "Read");
  EXPECT_NE(answer(host.substituteReply(read, FaultReply::kWrongType)).signature, "s");
  const Reply none =
      host.substituteReply(call(vmById("M1"), kVmInterface, "OpenFile"), FaultReply::kNoObject);
  EXPECT_EQ(answer(none).signature, "o");
  EXPECT_EQ(*textOf(answer(none)), "/");
}

TEST(FaultValueTest, AValueIsAnsweredInTheTypeOfTheRequestsAnswer) {
  TempFolder folder;
  FakeLauncher launcher;
  Host host(worldFrom(R"({"machines": [{"id": "M1", "status": "StSc"}]})", folder.path()),
            launcher);
  const std::string file = vmById("M1") + "/file/1";
  const std::string process = vmById("M1") + "/process/1";
  struct Case {
    Request request;
    const char* json;
    const char* signature;
    bool inVariant;
  };
  const Case cases[] = {
      // A list of paths of another class, as an element list.
      {get(kRoot, "org.qor.Scripting1.Application", "VirtualMachines"),
       R"(["/org/qor/Scripting1/usb/0", "/"])", "ao", true},
      {get(vmById("M1"), kVmInterface, "Status"), R"("StSz")", "u", true},
      {get(vmById("M1"), kVmInterface, "Status"), "7", "u", true},
      {call(file, "org.qor.Scripting1.GuestFile", "Read"), R"("not base64!")", "s", false},
      {call(process, "org.qor.Scripting1.GuestProcess", "GetResult"),
       R"({"hasExited": {"type": "s", "value": "no"}, "exitCode": {"type": "t", "value": 1}})",
       "a{sv}", false},
      {call(vmById("M1"), kVmInterface, "QueryIp"), R"(["10.0.0.1"])", "as", false},
      {call(vmById("M1"), kVmInterface, "OpenFile"), R"("/org/qor/Scripting1/usb/0")", "o", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    const Reply reply = host.replyWithValue(c.request, Json::parse(c.json));
    ASSERT_FALSE(reply.error) << reply.error->message;
    ASSERT_EQ(reply.values.size(), 1u);
    EXPECT_EQ(reply.values[0].signature, c.inVariant ? "v" : c.signature);
    EXPECT_EQ(answer(reply).signature, c.signature);
    EXPECT_TRUE(isWellFormed(reply.values[0]));
  }
  const Value list = answer(
      host.replyWithValue(cases[0].request, Json::parse(R"(["/org/qor/Scripting1/usb/0"])")));
  EXPECT_EQ(*textOf((*elementsOf(list))[0]), "/org/qor/Scripting1/usb/0");
  EXPECT_EQ(uint32Of(answer(host.replyWithValue(cases[1].request, Json::parse(R"("StSz")")))),
            0x5374537Au);
}

TEST(FaultValueTest, AValueThatDoesNotFitIsAnErrorReply) {
  TempFolder folder;
  FakeLauncher launcher;
  Host host(worldFrom(R"({"machines": [{"id": "M1", "status": "StSc"}]})", folder.path()),
            launcher);
  const std::pair<Request, const char*> cases[] = {
      {get(kRoot, "org.qor.Scripting1.Application", "VirtualMachines"), R"(["no path"])"},
      {get(kRoot, "org.qor.Scripting1.Application", "VirtualMachines"), R"("/")"},
      {get(vmById("M1"), kVmInterface, "Id"), "5"},
      {get(vmById("M1"), kVmInterface, "Status"), "-1"},
      {get(vmById("M1"), kVmInterface, "Status"), R"("toolong")"},
      {call(vmById("M1"), kVmInterface, "Start"), "true"},  // no answer to replace
      {call(vmById("M1") + "/process/1", "org.qor.Scripting1.GuestProcess", "GetResult"), "[]"},
  };
  for (const auto& [request, json] : cases) {
    EXPECT_EQ(errorName(host.replyWithValue(request, Json::parse(json))), error_names::kHostFailed)
        << json;
  }
}

}  // namespace
}  // namespace qor::host
