#include "host/servers/servers_backend.h"

#include <gtest/gtest.h>

#include "host_test_support.h"

namespace qor::host {
namespace {

using namespace testing;

const std::filesystem::path& scratch() {
  static TempFolder folder;
  return folder.path();
}

constexpr const char* kA1 = "AAAAAAAA-0000-4000-8000-000000000001";
constexpr const char* kA2 = "AAAAAAAA-0000-4000-8000-000000000002";
constexpr const char* kB1 = "BBBBBBBB-0000-4000-8000-000000000001";
constexpr const char* kB2 = "BBBBBBBB-0000-4000-8000-000000000002";

std::string machine(const char* id, const char* name, const char* status = "StSa") {
  return std::string(R"({"id": ")") + id + R"(", "name": ")" + name + R"(", "status": ")" + status +
         R"("})";
}

// A server that cannot be reached: every look at it fails, as libvirt's does while it is down.
class DownMachines final : public Machines {
 public:
  Result<Done> reachable() override {
    return unavailable("Cannot reach libvirt at down:///: gone");
  }
  std::vector<MachineKey> list() override { return {}; }
  std::optional<MachineKey> byId(std::string_view) override { return std::nullopt; }
  std::optional<MachineKey> byName(std::string_view) override { return std::nullopt; }
  std::optional<MachineInfo> info(MachineKey) override { return std::nullopt; }
  void start(MachineKey, bool, bool, Completion<Done> d) override { d(failed("down")); }
  void suspend(MachineKey, bool, Completion<Done> d) override { d(failed("down")); }
  void stop(MachineKey, std::uint32_t, Completion<Done> d) override { d(failed("down")); }
  void remove(MachineKey, Completion<Done> d) override { d(failed("down")); }
  void duplicate(MachineKey, std::optional<std::string>, Completion<Done> d) override {
    d(failed("down"));
  }
};
class DownBackend final : public Backend {
 public:
  Backends concerns() override { return {.machines = &machines_}; }

 private:
  DownMachines machines_;
};

// Two simulated servers (and, when asked, one that is down between them) behind the composite,
// with the bus side in front.
class ServersTest : public ::testing::Test {
 protected:
  void build(const std::string& first, const std::string& second, bool downBetween = false) {
    std::vector<servers::Server> list;
    const auto add = [&](std::string name, std::unique_ptr<Backend> backend) {
      servers::Server s{std::move(name), std::move(backend), {}};
      s.concerns = s.backend->concerns();
      list.push_back(std::move(s));
    };
    const auto world = [&](const std::string& machines, const char* usbHolder) {
      return worldFrom(("{\"machines\": [" + machines + "], \"usbDevices\": [{\"id\": 1, " +
                        "\"connectedTo\": " + usbHolder + "}]}")
                           .c_str(),
                       scratch());
    };
    add("test:///one", std::make_unique<SimulatedBackend>(world(first, "null"), launcher_, loop_));
    if (downBetween) add("down:///", std::make_unique<DownBackend>());
    add("test:///two", std::make_unique<SimulatedBackend>(world(second, "null"), launcher_, loop_));
    backend_ = std::make_unique<servers::ServersBackend>(std::move(list));
    direct_ = std::make_unique<DirectHost>(*backend_, loop_, objects::routes());
  }

  Reply handle(const Request& r) { return direct_->handle(r); }
  std::vector<std::string> listed() {
    std::vector<std::string> ids;
    const Value list =
        answer(handle(get(kRoot, "org.qor.Scripting1.Application", "VirtualMachines")));
    for (const auto& path : *elementsOf(list)) {
      ids.push_back(*textOf(answer(handle(get(*textOf(path), kVmInterface, "Id")))));
    }
    return ids;
  }
  Value unreachable() {
    return answer(handle(get(kRoot, "org.qor.Scripting1.Application", "UnreachableConnections")));
  }

  FakeLauncher launcher_;
  ManualLoop loop_;
  std::unique_ptr<servers::ServersBackend> backend_;
  std::unique_ptr<DirectHost> direct_;
};

TEST_F(ServersTest, ListsEachServerInTurnAndSendsRequestsToTheMachinesOwn) {
  build(machine(kA1, "a1") + "," + machine(kA2, "a2"),
        machine(kB1, "b1") + "," + machine(kB2, "b2"));
  EXPECT_EQ(listed(), (std::vector<std::string>{kA1, kA2, kB1, kB2}));
  EXPECT_TRUE(elementsOf(unreachable())->empty());

  EXPECT_FALSE(handle(call(vmByName("b2"), kVmInterface, "Start",
                           {Value::boolean(false), Value::boolean(false)}))
                   .error);
  EXPECT_EQ(*uint32Of(answer(handle(get(vmById(kB2), kVmInterface, "Status")))),
            code(QorStatus::started));
  EXPECT_EQ(*uint32Of(answer(handle(get(vmById(kA2), kVmInterface, "Status")))),
            code(QorStatus::stopped));

  // A clone stays on its machine's server: it is listed with that server's machines.
  RecordBuilder record;
  record.add("configuration", RecordBuilder().build());
  EXPECT_FALSE(
      handle(call(vmByName("a1"), kVmInterface, "Duplicate", {std::move(record).build()})).error);
  const auto after = listed();
  ASSERT_EQ(after.size(), 5u);
  EXPECT_EQ(after[3], kB1);
  EXPECT_EQ(*textOf(answer(handle(get(vmById(after[2]), kVmInterface, "Name")))), "a1 Copy");
}

TEST_F(ServersTest, ANameTwoServersShareSelectsNoneAndSaysWhy) {
  build(machine(kA1, "web") + "," + machine(kA2, "a2", "StSc"), machine(kB1, "web", "StSc"));
  for (const auto& r : {get(vmByName("web"), kVmInterface, "Id"),
                        call(vmByName("web"), kVmInterface, "Start",
                             {Value::boolean(false), Value::boolean(false)})}) {
    const Reply reply = handle(r);
    ASSERT_TRUE(reply.error) << r.member;
    EXPECT_EQ(reply.error->name, error_names::kInvalidArgs);
    EXPECT_EQ(reply.error->message,
              "Machines on test:///one and test:///two share the name 'web', so it names none of "
              "them: use the machine's UUID.");
  }
  // Nothing was started; by UUID each is its own.
  EXPECT_EQ(*uint32Of(answer(handle(get(vmById(kA1), kVmInterface, "Status")))),
            code(QorStatus::stopped));
  EXPECT_EQ(*textOf(answer(handle(get(vmById(kB1), kVmInterface, "Name")))), "web");
  // A name only one server has is that server's machine.
  EXPECT_EQ(*textOf(answer(handle(get(vmByName("a2"), kVmInterface, "Id")))), kA2);
}

TEST_F(ServersTest, AServerThatIsDownIsNamedAndTheOthersStillAnswer) {
  build(machine(kA1, "a1"), machine(kB1, "b1"), /*downBetween=*/true);
  EXPECT_EQ(listed(), (std::vector<std::string>{kA1, kB1}));
  const Value down = unreachable();
  ASSERT_EQ(elementsOf(down)->size(), 1u);
  EXPECT_EQ(*textOf((*elementsOf(down))[0]), "down:///");
  // A machine no reachable server has may be on the one that is down: it says so.
  const Reply missing = handle(get(vmByName("elsewhere"), kVmInterface, "Id"));
  ASSERT_TRUE(missing.error);
  EXPECT_EQ(missing.error->name, error_names::kHostFailed);
  EXPECT_EQ(missing.error->message, "Cannot reach libvirt at down:///: gone");
  EXPECT_EQ(*textOf(answer(handle(get(vmByName("b1"), kVmInterface, "Id")))), kB1);
}

TEST_F(ServersTest, GuestHandlesAndDevicesStayOnTheirServer) {
  build(machine(kA1, "a1", "StSc"), machine(kB1, "b1", "StSc"));
  const auto open = [&](const char* id) {
    return handle(call(
        vmById(id), kVmInterface, "OpenFile",
        {Value::string("/f"), Value::uint32(code(QorOpenMode::writing)), Value::boolean(false)}));
  };
  const Reply a = open(kA1);
  const Reply b = open(kB1);
  ASSERT_FALSE(a.error);
  ASSERT_FALSE(b.error);
  const std::string fileA = *textOf(answer(a));
  const std::string fileB = *textOf(answer(b));
  EXPECT_NE(fileA.substr(fileA.rfind('/')), fileB.substr(fileB.rfind('/')));
  // A's file number under B's machine names nothing.
  const std::string crossed = vmById(kB1) + fileA.substr(fileA.rfind("/file/"));
  EXPECT_EQ(errorName(handle(call(crossed, "org.qor.Scripting1.GuestFile", "Close"))),
            error_names::kUnknownObject);
  EXPECT_FALSE(handle(call(fileB, "org.qor.Scripting1.GuestFile", "Close")).error);

  // Each server brings its device, named by its connection; one is lent only to a machine of
  // its own server.
  const Value devices = answer(handle(get(kRoot, "org.qor.Scripting1.Application", "UsbDevices")));
  ASSERT_EQ(elementsOf(devices)->size(), 2u);
  const std::string first = *textOf((*elementsOf(devices))[0]);
  const std::string second = *textOf((*elementsOf(devices))[1]);
  EXPECT_EQ(*textOf(answer(handle(get(first, "org.qor.Scripting1.UsbDevice", "Connection")))),
            "test:///one");
  EXPECT_EQ(*textOf(answer(handle(get(second, "org.qor.Scripting1.UsbDevice", "Connection")))),
            "test:///two");
  const Reply refused = handle(
      call(second, "org.qor.Scripting1.UsbDevice", "Connect", {Value::objectPath(vmById(kA1))}));
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->message,
            "The USB device is plugged into test:///two, the virtual machine runs on test:///one.");
  EXPECT_FALSE(handle(call(second, "org.qor.Scripting1.UsbDevice", "Connect",
                           {Value::objectPath(vmById(kB1))}))
                   .error);
}

}  // namespace
}  // namespace qor::host
