#include "scripting/bridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "contract/object_path.h"
#include "scripting/api_command.h"
#include "scripting/object_model.h"
#include "support/base64.h"
#include "test_support.h"
#include "wire/value_codec.h"

namespace qor::scripting {
namespace {

namespace fs = std::filesystem;
using namespace testing;

const std::string kRoot = "/org/qor/Scripting1";
const std::string kMachine = kRoot + "/vm/id/A1";

// A bundle naming a fresh bus name on a private session bus, and its application object with a
// delegate that records every failure.
class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeBundle(bundle_, busName_, "host");
    application_ = applicationForBundle(bundle_);
    ASSERT_NE(application_, nullptr);
    application_->setDelegate(&delegate_);
  }
  QorVirtualMachine machine() { return QorVirtualMachine(application_->channel(), kMachine); }
  std::string onlyDescription() {
    EXPECT_EQ(delegate_.errors.size(), 1u);
    return delegate_.errors.empty() ? "" : delegate_.errors.front().localizedDescription;
  }

  PrivateBus bus_;
  TemporaryFolder folder_;
  const fs::path bundle_ = folder_.path() / "Qor.app";
  const std::string busName_ = uniqueBusName();
  RecordingDelegate delegate_;
  std::unique_ptr<QorApplication> application_;
};

TEST_F(BridgeTest, APropertyReadIsOneGetOfThatPropertyAndNothingElse) {
  ScriptedHost host(busName_, {{"Get.Status", replyVariant("u", [](sd_bus_message* m) {
                                  return sd_bus_message_append(m, "u", 0x53745363u);
                                })}});
  EXPECT_EQ(machine().status(), 0x53745363u);
  EXPECT_EQ(machine().status(), 0x53745363u);  // read again: nothing is cached
  host.stop();

  const auto received = host.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].path, kMachine);
  EXPECT_EQ(received[0].interface, "org.freedesktop.DBus.Properties");
  EXPECT_EQ(received[0].member, "Get");
  EXPECT_EQ(textArguments(received[0]),
            (std::vector<std::string>{"org.qor.Scripting1.VirtualMachine", "Status"}));
  EXPECT_TRUE(delegate_.errors.empty());
}

TEST_F(BridgeTest, MethodsCarryTheirArgumentsWithTheContractsTypes) {
  ScriptedHost host(busName_, {{"Execute",
                                [](sd_bus_message* call) {
                                  return sd_bus_reply_method_return(call, "o",
                                                                    "/org/qor/Scripting1/p/1");
                                }},
                               {"Close", replyNothing()},
                               {"Duplicate", replyNothing()},
                               {"Stop", replyNothing()},
                               {"Start", replyNothing()}});
  const auto process = machine().executeAt("/bin/echo", {"a b", ""}, {"X=1"}, "aGk=", true, true);
  ASSERT_TRUE(process);
  EXPECT_EQ(process->path(), "/org/qor/Scripting1/p/1");
  QorWindow(application_->channel(), kRoot + "/window/1").closeSaving(QorSaveOptions::no, {});
  machine().duplicateWithProperties(
      {{"configuration", RecordValue{Record{{"name", RecordValue{std::string("Copy")}}}}}});
  machine().stopBy(QorStopMethod::kill);
  machine().startSaving(false, true);
  host.stop();

  const auto received = host.received();
  ASSERT_EQ(received.size(), 5u);
  const char* signatures[] = {"sasassbb", "us", "a{sv}", "u", "bb"};
  for (std::size_t i = 0; i < received.size(); ++i) {
    EXPECT_EQ(received[i].signature, signatures[i]) << received[i].member;
  }
  std::uint32_t saving = 0;
  const char* file = nullptr;
  ASSERT_GE(sd_bus_message_read(received[1].message.get(), "us", &saving, &file), 0);
  EXPECT_EQ(saving, 0x6E6F2020u);
  EXPECT_STREQ(file, "");  // no file
  contract::Value sent;
  ASSERT_GE(wire::readValue(received[2].message.get(), sent), 0);
  const auto read = recordOf(sent);
  ASSERT_TRUE(read);
  const Record& properties = *read;
  const auto* configuration = std::get_if<Record>(&find(properties, "configuration")->value);
  ASSERT_NE(configuration, nullptr);
  EXPECT_EQ(*find(*configuration, "name")->text(), "Copy");
  std::uint32_t method = 0;
  ASSERT_GE(sd_bus_message_read(received[3].message.get(), "u", &method), 0);
  EXPECT_EQ(method, 0x4B694C6Cu);
  EXPECT_TRUE(delegate_.errors.empty());
}

TEST_F(BridgeTest, AnObjectResultOfSlashIsNoObjectAndNoFailure) {
  ScriptedHost host(busName_, {{"OpenFile", [](sd_bus_message* call) {
                                  return sd_bus_reply_method_return(call, "o", "/");
                                }}});
  EXPECT_FALSE(machine().openFileAt("/etc/hostname", QorOpenMode::reading, false));
  EXPECT_TRUE(delegate_.errors.empty());
}

TEST_F(BridgeTest, ErrorRepliesBecomePlatformErrorsWithTheHostsMessage) {
  const struct {
    const char* name;
    const char* message;
    std::int64_t code;
  } cases[] = {
      {"org.freedesktop.DBus.Error.UnknownObject", "No machine with that id.", -1728},
      {"org.qor.Scripting1.Error.Failed", "The machine is busy.", -10000},
      {"org.freedesktop.DBus.Error.AccessDenied", "", -1743},
      {"org.freedesktop.DBus.Error.NoReply", "Message recipient disconnected.", -1712},
      // Replies that read like failures sd-bus makes itself are still the host's answers, with
      // its words.
      {"org.freedesktop.DBus.Error.Timeout", "Connection timed out", -1712},
      {"org.freedesktop.DBus.Error.Disconnected", "Connection reset by peer", -10000},
  };
  std::map<std::string, ScriptedHost::Handler> byMachine;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    byMachine[kRoot + "/vm/id/" + std::to_string(i)] = replyError(cases[i].name, cases[i].message);
  }
  ScriptedHost host(busName_, {{"Get.Name", byPath(byMachine)}});

  for (std::size_t i = 0; i < std::size(cases); ++i) {
    delegate_.errors.clear();
    const QorVirtualMachine vm(application_->channel(), kRoot + "/vm/id/" + std::to_string(i));
    EXPECT_FALSE(vm.name());
    ASSERT_EQ(delegate_.errors.size(), 1u) << cases[i].name;
    const PlatformError& error = delegate_.errors.front();
    EXPECT_EQ(error.domain, "NSOSStatusErrorDomain");
    EXPECT_EQ(error.code, cases[i].code) << cases[i].name;
    EXPECT_EQ(error.localizedDescription,
              "The request VirtualMachine.Name failed: " + std::string(cases[i].name) +
                  " (OSStatus error " + std::to_string(cases[i].code) + ".)");
    if (*cases[i].message == '\0') {
      EXPECT_EQ(error.userInfo.count("ErrorString"), 0u) << cases[i].name;
    } else {
      EXPECT_EQ(std::get<std::string>(error.userInfo.at("ErrorString")), cases[i].message);
    }
  }
}

TEST_F(BridgeTest, RepliesOfAnotherTypeAreFailedRequestsWithEmptyResults) {
  ScriptedHost host(
      busName_,
      {{"Get.VirtualMachines",
        replyVariant("s", [](sd_bus_message* m) { return sd_bus_message_append(m, "s", "x"); })},
       {"Get.Status",
        [](sd_bus_message* call) {  // the value itself, not in a variant
          return sd_bus_reply_method_return(call, "u", 1u);
        }},
       {"Start", [](sd_bus_message* call) { return sd_bus_reply_method_return(call, "s", "ok"); }},
       {"OpenFile",
        [](sd_bus_message* call) { return sd_bus_reply_method_return(call, "s", "/f/1"); }},
       {"GetResult", replyNothing()}});
  const auto expectWrongType = [&](bool emptyResult, const std::string& description) {
    EXPECT_TRUE(emptyResult) << description;
    ASSERT_EQ(delegate_.errors.size(), 1u) << description;
    EXPECT_EQ(delegate_.errors.front().code, -1700);
    EXPECT_EQ(delegate_.errors.front().localizedDescription, description);
    delegate_.errors.clear();
  };
  expectWrongType(!application_->virtualMachines(),
                  "The request Application.VirtualMachines failed: the reply has an unexpected "
                  "type (expected ao, got s) (OSStatus error -1700.)");
  expectWrongType(!machine().status(),
                  "The request VirtualMachine.Status failed: the reply has an unexpected type "
                  "(expected v, got u) (OSStatus error -1700.)");
  expectWrongType(!machine().startSaving(true, false),
                  "The request VirtualMachine.Start failed: the reply has an unexpected type "
                  "(expected nothing, got s) (OSStatus error -1700.)");
  expectWrongType(!machine().openFileAt("/f", QorOpenMode::writing, false),
                  "The request VirtualMachine.OpenFile failed: the reply has an unexpected type "
                  "(expected o, got s) (OSStatus error -1700.)");
  expectWrongType(!QorGuestProcess(application_->channel(), kRoot + "/p/1").getResult(),
                  "The request GuestProcess.GetResult failed: the reply has an unexpected type "
                  "(expected a{sv}, got nothing) (OSStatus error -1700.)");
}

TEST_F(BridgeTest, ARequestThatCannotBeExpressedIsReportedAndNotSent) {
  ScriptedHost host(busName_, {});
  EXPECT_FALSE(machine().openFileAt("caf\xe9", QorOpenMode::reading, false));  // not UTF-8
  EXPECT_FALSE(machine().executeAt("/bin/sh", {std::string("a\0b", 3)}, {}, "", true, true));
  host.stop();
  EXPECT_EQ(host.count(), 0u);
  ASSERT_EQ(delegate_.errors.size(), 2u);
  for (const auto& [error, request] :
       {std::pair{delegate_.errors[0], "OpenFile"}, std::pair{delegate_.errors[1], "Execute"}}) {
    EXPECT_EQ(error.code, -10000);
    EXPECT_EQ(error.localizedDescription,
              "The request VirtualMachine." + std::string(request) +
                  " failed: qorctl could not put the request into a D-Bus message (Invalid "
                  "argument); nothing was sent (OSStatus error -10000.)");
    EXPECT_TRUE(error.userInfo.empty());
  }
}

TEST_F(BridgeTest, WithoutADelegateAFailureIsSilentAndStillEmpty) {
  application_->setDelegate(nullptr);
  ScriptedHost host(busName_, {});
  EXPECT_FALSE(machine().id());
  EXPECT_FALSE(machine().stopBy(QorStopMethod::force));
  EXPECT_TRUE(delegate_.errors.empty());
}

TEST_F(BridgeTest, ALostConnectionIsReportedOnEveryLaterRequest) {
  ScriptedHost host(busName_, {{"Get.Name", replyText("Debian")}});
  EXPECT_EQ(machine().name(), "Debian");
  bus_.stop();
  EXPECT_FALSE(machine().name());
  EXPECT_FALSE(machine().name());
  ASSERT_EQ(delegate_.errors.size(), 2u);
  for (const auto& error : delegate_.errors) {
    EXPECT_EQ(error.code, -10000);
    EXPECT_EQ(error.localizedDescription,
              "The request VirtualMachine.Name failed: qorctl's connection to the session bus "
              "was lost (OSStatus error -10000.)");
    EXPECT_TRUE(error.userInfo.empty());  // no host said anything
  }
}

TEST_F(BridgeTest, AHostThatNeverRepliesTimesOutWithTheBusDefault) {
  // The bus's default reply timeout, shortened through sd-bus's own setting for the test.
  ScopedEnvironment timeout("SYSTEMD_BUS_TIMEOUT", "1");
  ScriptedHost host(busName_, {{"Get.Name", [](sd_bus_message*) { return 0; }}});
  EXPECT_FALSE(machine().name());
  ASSERT_EQ(delegate_.errors.size(), 1u);
  EXPECT_EQ(delegate_.errors[0].code, -1712);
  EXPECT_EQ(delegate_.errors[0].localizedDescription,
            "The request VirtualMachine.Name failed: no reply came within the bus's timeout of 1 "
            "second (OSStatus error -1712.)");
  // No error reply came, so there is no host message to show.
  EXPECT_TRUE(delegate_.errors[0].userInfo.empty());
}

TEST_F(BridgeTest, InputBytesGoOutAsTheirBase64) {
  ScriptedHost host(busName_, {{"Execute", [](sd_bus_message* call) {
                                  return sd_bus_reply_method_return(call, "o",
                                                                    "/org/qor/Scripting1/p/1");
                                }}});
  for (const std::size_t size : {0u, 1u, 2u, 3u, 256u, 70000u}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + size);
    EXPECT_TRUE(machine().executeWithInputBytes("cat", {"-"}, {"A=1"}, bytes, true));
  }
  host.stop();
  std::size_t index = 0;
  for (auto& received : host.received()) {
    const std::size_t size = std::vector<std::size_t>{0, 1, 2, 3, 256, 70000}.at(index++);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + size);
    std::vector<contract::Value> values;
    ASSERT_GE(wire::readValues(received.message.get(), values), 0);
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(*contract::textOf(values[3]), support::base64Encode(bytes)) << size;
    EXPECT_EQ(*contract::textOf(values[0]), "cat");
    EXPECT_EQ(contract::booleanOf(values[4]), true);  // the input is base64
  }
  EXPECT_EQ(index, 6u);
  EXPECT_TRUE(delegate_.errors.empty());
}

// A request that may take minutes is waited for as long as the host is there; a quick one keeps
// the bus's timeout (here shortened to one second through sd-bus's own setting).
TEST_F(BridgeTest, ALengthyRequestOutlastsTheTimeoutAQuickOneDoesNot) {
  ScopedEnvironment timeout("SYSTEMD_BUS_TIMEOUT", "1");
  const auto slowly = [](sd_bus_message* call) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    return replyNothing()(call);
  };
  ScriptedHost host(busName_, {{"Duplicate", slowly}, {"Start", slowly}, {"Close", slowly}});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(machine().duplicateWithProperties({}));
  EXPECT_TRUE(machine().startSaving(false, false));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(delegate_.errors.empty());
  EXPECT_FALSE(QorGuestFile(application_->channel(), kMachine + "/file/1").close());
  ASSERT_EQ(delegate_.errors.size(), 1u);
  EXPECT_EQ(delegate_.errors[0].code, -1712);
}

// The wait ends when the host that took the request leaves the bus without answering.
TEST_F(BridgeTest, ALengthyRequestFailsPromptlyWhenTheHostLeaves) {
  std::optional<ScriptedHost> host;
  host.emplace(busName_, std::map<std::string, ScriptedHost::Handler>{
                             {"Delete", [](sd_bus_message*) { return 0; }}});
  std::thread leaving([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    host.reset();  // its connection closes
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(machine().deleteMachine());
  const auto waited = std::chrono::steady_clock::now() - start;
  leaving.join();
  EXPECT_LT(waited, std::chrono::seconds(5));
  ASSERT_EQ(delegate_.errors.size(), 1u);
  EXPECT_EQ(delegate_.errors[0].localizedDescription,
            "The request VirtualMachine.Delete failed: the host left the bus before it answered "
            "(it ended or lost its connection); whether the request was carried out is unknown "
            "(OSStatus error -10000.)");
}

TEST(BridgeWithoutBus, EveryRequestFailsAsNotPermitted) {
  TemporaryFolder folder;
  writeBundle(folder.path() / "Qor.app", "org.qor.Qor", "host");
  const struct {
    const char* label;
    std::optional<std::string> address;
    std::optional<std::string> runtimeFolder;
  } cases[] = {
      {"no address at all", std::nullopt, std::nullopt},
      {"an address nobody listens on", "unix:path=" + (folder.path() / "bus").string(),
       std::nullopt},
      {"a runtime folder without a bus", std::nullopt, folder.path().string()},
  };
  for (const auto& c : cases) {
    ScopedEnvironment address("DBUS_SESSION_BUS_ADDRESS", c.address);
    ScopedEnvironment runtime("XDG_RUNTIME_DIR", c.runtimeFolder);
    const auto application = applicationForBundle(folder.path() / "Qor.app");
    RecordingDelegate delegate;
    application->setDelegate(&delegate);
    EXPECT_FALSE(application->virtualMachines()) << c.label;
    EXPECT_FALSE(application->setAutoTerminate(false)) << c.label;
    ASSERT_EQ(delegate.errors.size(), 2u) << c.label;
    EXPECT_EQ(delegate.errors[0].code, -1743);
    EXPECT_EQ(delegate.errors[0].localizedDescription,
              "The request Application.VirtualMachines failed: no session bus (OSStatus error "
              "-1743.)");
    EXPECT_EQ(delegate.errors[1].localizedDescription,
              "The request Application.SetAutoTerminate failed: no session bus (OSStatus error "
              "-1743.)");
    EXPECT_TRUE(delegate.errors[0].userInfo.empty());
  }
}

}  // namespace
}  // namespace qor::scripting
