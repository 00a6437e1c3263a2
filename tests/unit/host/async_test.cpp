// The bus side in front of the simulated backend: answers that come later, handles that belong
// to the connection that opened them, and a dispatch that covers the whole contract.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>

#include "contract/members.h"
#include "host_test_support.h"

namespace qor::host {
namespace {

using namespace testing;

constexpr const char* kProcessInterface = "org.qor.Scripting1.GuestProcess";
constexpr const char* kFileInterface = "org.qor.Scripting1.GuestFile";

class HeldRequestTest : public ::testing::Test {
 protected:
  HeldRequestTest()
      : host_(worldFrom(R"({"machines": [{"id": "M1", "status": "StSc"}]})", folder_.path()),
              launcher_) {}

  Request from(std::string sender, Request r) {
    r.sender = std::move(sender);
    return r;
  }
  std::string execute(const std::string& sender = "") {
    launcher_.next.exited = false;
    return *textOf(answer(host_.handle(from(
        sender, call(vmById("M1"), kVmInterface, "Execute",
                     {Value::string("/bin/sleep"), Value::stringArray({}), Value::stringArray({}),
                      Value::string(""), Value::boolean(true), Value::boolean(true)})))));
  }
  std::string openFile(const std::string& sender) {
    return *textOf(answer(host_.handle(
        from(sender, call(vmById("M1"), kVmInterface, "OpenFile",
                          {Value::string("/notes"), Value::uint32(fourCharCode("OpWo")),
                           Value::boolean(false)})))));
  }
  // Sent through the dispatcher itself, so that nothing waits for the answer.
  std::optional<Reply>& send(Request request) {
    auto& slot = pending_.emplace_back();
    host_.dispatcher().handle(request, Completion<Values>([&slot](Result<Values> outcome) {
                                slot = Reply::from(std::move(outcome));
                              }));
    return slot;
  }

  TempFolder folder_;
  FakeLauncher launcher_;
  Host host_;
  std::deque<std::optional<Reply>> pending_;
};

TEST_F(HeldRequestTest, AResultIsHeldUntilTheProgramEndsOrThePauseIsOver) {
  const std::string process = execute();
  auto& first = send(call(process, kProcessInterface, "GetResult"));
  EXPECT_FALSE(first) << "held while the program runs";
  EXPECT_EQ(host_.loop().armedTimers(), 1u);

  // Meanwhile every other request is answered at once.
  auto& other = send(get(vmById("M1"), kVmInterface, "Status"));
  EXPECT_TRUE(other && !other->error);

  // The pause is over: still running.
  host_.loop().runPending();
  ASSERT_TRUE(first);
  EXPECT_EQ(toJson(answer(*first)), Json::parse(R"({"hasExited": false})"));

  // The program ends while a request waits: it is answered at once, its timer dropped.
  auto& second = send(call(process, kProcessInterface, "GetResult"));
  ASSERT_FALSE(second);
  launcher_.started.back()->finish({true, 4, "out", "", true, false});
  ASSERT_TRUE(second);
  EXPECT_EQ(toJson(answer(*second)),
            Json::parse(R"({"hasExited": true, "exitCode": 4, "outputData": "b3V0",
                            "errorData": "", "outputTruncated": true})"));
  EXPECT_EQ(host_.loop().armedTimers(), 0u);
}

TEST_F(HeldRequestTest, StoppingTheMachineAnswersAHeldResult) {
  const std::string process = execute();
  auto& held = send(call(process, kProcessInterface, "GetResult"));
  ASSERT_FALSE(held);
  EXPECT_FALSE(
      host_.handle(call(vmById("M1"), kVmInterface, "Stop", {Value::uint32(fourCharCode("KiLl"))}))
          .error);
  ASSERT_TRUE(held);
  EXPECT_EQ(toJson(answer(*held)), Json::parse(R"({"hasExited": false})"));
  EXPECT_EQ(errorName(host_.handle(call(process, kProcessInterface, "GetResult"))),
            error_names::kUnknownObject);
}

TEST_F(HeldRequestTest, HandlesBelongToTheConnectionThatOpenedThem) {
  const std::string file = openFile(":1.7");
  const std::string process = execute(":1.7");
  const Request write =
      call(file, kFileInterface, "Write",
           {Value::string("aGk="), Value::int64(0), Value::uint32(fourCharCode("CuRr")),
            Value::boolean(true), Value::boolean(false)});
  // Another connection finds nothing there, and sees nothing when it lists them.
  EXPECT_EQ(errorName(host_.handle(from(":1.8", write))), error_names::kUnknownObject);
  EXPECT_EQ(errorName(host_.handle(from(":1.8", call(process, kProcessInterface, "GetResult")))),
            error_names::kUnknownObject);
  const auto listing = [&](const std::string& sender) {
    return *textOf(answer(
        host_.handle(from(sender, call(vmById("M1") + "/file",
                                       "org.freedesktop.DBus.Introspectable", "Introspect")))));
  };
  EXPECT_EQ(listing(":1.8").find("<node name=\"1\"/>"), std::string::npos);
  EXPECT_NE(listing(":1.7").find("<node name=\"1\"/>"), std::string::npos);
  EXPECT_FALSE(host_.handle(from(":1.7", write)).error);

  // Another connection leaving changes nothing; the owner leaving releases both.
  host_.dispatcher().connectionLeft(":1.8");
  EXPECT_FALSE(host_.handle(from(":1.7", write)).error);
  host_.dispatcher().connectionLeft(":1.7");
  EXPECT_EQ(errorName(host_.handle(from(":1.7", write))), error_names::kUnknownObject);
  EXPECT_EQ(errorName(host_.handle(from(":1.7", call(process, kProcessInterface, "GetResult")))),
            error_names::kUnknownObject);
  EXPECT_TRUE(launcher_.launched.size() == 1u);
}

// Every method has its row (router_test); every property answers with its contract type.
TEST(ContractCoverageTest, EveryPropertyAnswersWithItsType) {
  TempFolder folder;
  FakeLauncher launcher;
  Host host(worldFrom(R"({"machines": [{"id": "M1", "serialPorts": [{}]}],
                          "usbDevices": [{}], "windows": [{}]})",
                      folder.path()),
            launcher);
  const std::string root = kRoot;
  const std::map<contract::ObjectClass, std::string> objects = {
      {contract::ObjectClass::application, root},
      {contract::ObjectClass::virtualMachine, vmById("M1")},
      {contract::ObjectClass::serialPort, vmById("M1") + "/serial/0"},
      {contract::ObjectClass::usbDevice, root + "/usb/0"},
      {contract::ObjectClass::window, root + "/window/1"},
  };
  for (const auto* property : contract::allProperties()) {
    const std::string interface =
        contract::interfaceName(contract::shortName(property->objectClass));
    const Reply reply =
        host.handle(get(objects.at(property->objectClass), interface, std::string(property->name)));
    // Every value of this world is absent where it may be: a read answers it, or NoValue.
    if (reply.error) {
      EXPECT_EQ(reply.error->name, error_names::kNoValue) << property->name;
    } else {
      EXPECT_EQ(answer(reply).signature, property->type) << property->name;
    }
  }
}

}  // namespace
}  // namespace qor::host
