#include "tests/e2e/harness.h"

using namespace qor::e2e;
using ::testing::HasSubstr;

namespace {

constexpr const char* kId = "77777777-7777-4777-8777-777777777777";
constexpr const char* kWarning = "WARNING: attach command is not implemented yet!\n";

json port(int id, const std::string& interface, const std::string& address, int number = 0) {
  return {{"id", id}, {"interface", interface}, {"address", address}, {"port", number}};
}

class AttachIpTest : public HostTest {
 protected:
  void machineWith(const json& key, const json& value, const std::string& status = "StSc") {
    json machine = vm(kId, "guest", status);
    machine[key.get<std::string>()] = value;
    setWorld({{"machines", {machine}}});
  }
};

TEST_F(AttachIpTest, AttachWalksThePortsAsDocumented) {
  struct Case {
    const char* name;
    json ports;
    std::vector<std::string> extra;
    std::string out;
  };
  const std::string w = kWarning;
  const Case cases[] = {
      {"first usable port",
       {port(0, "PtTy", "/dev/pts/3"), port(1, "PtTy", "/dev/pts/4")},
       {},
       w + "PTTY: /dev/pts/3\n"},
      {"index names the id, not the position",
       {port(1, "PtTy", "/dev/pts/4"), port(0, "PtTy", "/dev/pts/3")},
       {"--index", "0"},
       w + "PTTY: /dev/pts/3\n"},
      {"no port with that id", json::array({port(0, "PtTy", "/dev/pts/3")}), {"--index", "7"}, ""},
      {"unavailable then tcp",
       {port(0, "IUnA", ""), port(1, "TcP ", "127.0.0.1", 4555)},
       {},
       w + w + "TCP: 127.0.0.1:4555\n"},
      {"only unavailable", json::array({port(0, "IUnA", "")}), {}, w},
      {"no ports", json::array(), {}, ""},
      {"another interface code shows nothing more", json::array({port(0, "XxXx", "x")}), {}, w},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    machineWith("serialPorts", c.ports);
    std::vector<std::string> arguments = {"attach", kId};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    const auto result = run(arguments);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
}

// The host says which computer a port's address is on: a remote server's pty is not a path on
// this computer. A host that does not say (an older one) has only this computer's.
TEST_F(AttachIpTest, AttachNamesTheServerOfARemotePort) {
  struct Case {
    const char* name;
    json server;  // the fault that answers SerialPort.Server; null: the host's own answer
    json port;
    std::string out;
    int status;
    std::string err;  // a part of standard error; "" for none at all
  };
  const std::string w = kWarning;
  const json pty = port(0, "PtTy", "/dev/pts/3");
  const json tcp = port(0, "TcP ", "127.0.0.1", 4555);
  const auto says = [](const std::string& server) {
    return json{{"member", "Get.Server"}, {"value", server}};
  };
  const json older = {{"member", "Get.Server"},
                      {"error", "org.freedesktop.DBus.Error.UnknownProperty"},
                      {"message", "The object has no property Server."}};
  const json noValue = {{"member", "Get.Server"}, {"error", "org.qor.Scripting1.Error.NoValue"}};
  const json failed = {
      {"member", "Get.Server"}, {"error", "org.qor.Scripting1.Error.Failed"}, {"message", "boom"}};
  const Case cases[] = {
      {"pty on a server", says("build-server"), pty, w + "PTTY: /dev/pts/3 on build-server\n", 0,
       ""},
      {"tcp on a server", says("build-server"), tcp, w + "TCP: 127.0.0.1:4555 on build-server\n", 0,
       ""},
      {"this computer", nullptr, pty, w + "PTTY: /dev/pts/3\n", 0, ""},
      {"a host without the property", older, tcp, w + "TCP: 127.0.0.1:4555\n", 0, ""},
      {"no value", noValue, pty, w + "PTTY: /dev/pts/3\n", 0, ""},
      // Not knowing where the address is, no line is better than a wrong one.
      {"the host cannot say", failed, pty, w, 1, "SerialPort.Server failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    json machine = vm(kId, "guest");
    machine["serialPorts"] = json::array({c.port});
    json world = {{"machines", {machine}}};
    if (!c.server.is_null()) world["faults"] = json::array({c.server});
    setWorld(world);
    const auto result = run({"attach", kId});
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.status, c.status);
    if (c.err.empty()) {
      EXPECT_EQ(result.err, "");
    } else {
      EXPECT_THAT(result.err, HasSubstr(c.err));
    }
  }
}

TEST_F(AttachIpTest, AttachFailsWhenThePortsCannotBeRead) {
  json machine = vm(kId, "guest");
  machine["serialPorts"] = json::array({port(0, "PtTy", "/dev/pts/3")});
  setWorld({{"machines", {machine}},
            {"faults",
             {{{"member", "Get.SerialPorts"}, {"error", "org.qor.Scripting1.Error.Failed"}}}}});
  const auto result = run({"attach", kId});
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, HasSubstr("VirtualMachine.SerialPorts failed"));
  EXPECT_EQ(result.status, 1);
}

TEST_F(AttachIpTest, AttachOfAPortWithoutAddressPrintsNoHalfLine) {
  machineWith("serialPorts", json::array({{{"id", 0}, {"interface", "PtTy"}}}));
  const auto result = run({"attach", kId});
  EXPECT_EQ(result.out, kWarning);
  EXPECT_THAT(result.err, HasSubstr("SerialPort.Address failed"));
  EXPECT_EQ(result.status, 1);
}

TEST_F(AttachIpTest, IpAddressPrintsTheHostsListUnchanged) {
  const std::pair<json, std::string> cases[] = {
      {{"192.168.64.3", "10.0.0.2", "fe80::3"}, "192.168.64.3\n10.0.0.2\nfe80::3\n"},
      {{"fe80::3", "192.168.64.3"}, "fe80::3\n192.168.64.3\n"},
      {json::array(), ""},
  };
  for (const auto& [addresses, out] : cases) {
    TearDown();
    SetUp();
    machineWith("ipAddresses", addresses);
    const auto result = run({"ip-address", kId});
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.status, 0);
  }
}

TEST_F(AttachIpTest, IpAddressOfAStoppedGuestFails) {
  machineWith("ipAddresses", {"192.168.64.3"}, "StSa");
  const auto result = run({"ip-address", "guest"});
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err,
              testing::StartsWith("Error from event: The request VirtualMachine.QueryIp failed: "));
  EXPECT_EQ(result.status, 1);
}

}  // namespace
