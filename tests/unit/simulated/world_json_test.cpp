#include "host/simulated/world_json.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "contract/codes.h"
#include "host/backend/manual_loop.h"
#include "host/simulated/default_world.h"
#include "host/simulated/simulated_backend.h"
#include "simulated_test_support.h"

namespace qor::host {
namespace {

using namespace testing;
using contract::code;
using contract::fourCharCode;
using contract::QorStatus;

TEST(CodeJsonTest, ReadsFourCharactersOrAny32BitInteger) {
  struct Case {
    const char* json;
    std::optional<std::uint32_t> code;
  };
  const Case cases[] = {
      {R"("StSa")", fourCharCode("StSa")},
      {R"("TcP ")", fourCharCode("TcP ")},
      {"1400132449", fourCharCode("StSa")},
      {"0", 0u},
      {"4294967295", 0xFFFFFFFFu},
      {"-1", 0xFFFFFFFFu},
      {"-2147483648", 0x80000000u},
      {"4294967296", std::nullopt},
      {"-2147483649", std::nullopt},
      {R"("StS")", std::nullopt},
      {R"("StSaa")", std::nullopt},
      {R"("St\u00e9")", std::nullopt},
      {"1.5", std::nullopt},
      {"true", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(codeFromJson(Json::parse(c.json)), c.code) << c.json;
  EXPECT_EQ(codeToJson(fourCharCode("no  ")), "no  ");
  EXPECT_EQ(codeToJson(12345), 12345);  // not printable: stays a number
}

constexpr const char* kFullWorld = R"({
  "machines": [
    {"id": "A", "name": "Debian", "status": "StSc", "backend": 7,
     "ipAddresses": ["192.168.64.3", "fe80::3"],
     "serialPorts": [{"id": 0, "interface": "PtTy", "address": "/dev/pts/9", "port": 0,
                      "baud": 9600},
                     {"id": 1, "interface": 305419896}],
     "guestRoot": "guests/debian",
     "processResults": [[{"hasExited": false},
                         {"hasExited": true, "exitCode": 3, "outputData": "aGk=",
                          "code": {"type": "u", "value": 7}}]],
     "lastStart": {"saving": false, "recovery": true},
     "lastStop": {"method": "KiLl"},
     "color": "blue"},
    {"status": "StSz"}
  ],
  "usbDevices": [{"id": -1, "name": "Keyboard", "vendorId": 1452, "productId": 591,
                  "connectedTo": "A", "speed": "high"},
                 {"id": 5, "connectedTo": null}],
  "windows": [{"name": "Qor", "visible": false}, {}],
  "faults": [{"member": "Start", "error": "org.qor.Scripting1.Error.Failed"}],
  "comment": "kept"
})";

TEST(WorldJsonTest, RoundTripKeepsEveryValueAndEveryUnknownKey) {
  TempFolder folder;
  const World world = worldFrom(kFullWorld, folder.path());
  EXPECT_EQ(worldToJson(world), Json::parse(kFullWorld));

  // And the same through a file.
  const auto file = folder.path() / "world.json";
  ASSERT_TRUE(succeeded(saveWorldFile(world, file)));
  auto loaded = loadWorldFile(file);
  ASSERT_TRUE(succeeded(loaded)) << failureOf(loaded)->message;
  EXPECT_EQ(worldToJson(std::get<World>(loaded)), Json::parse(kFullWorld));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1)
      << "no temporary file left behind";
}

// An absent value reaches the bus side as nullopt, which it answers as NoValue.
TEST(WorldJsonTest, LeftOutKeysReadAsAbsentValues) {
  TempFolder folder;
  FakeLauncher launcher;
  ManualLoop loop;
  SimulatedBackend backend(worldFrom(kFullWorld, folder.path()), launcher, loop);
  const Backends b = backend.concerns();
  const MachineKey second = b.machines->list().at(1);
  const auto info = b.machines->info(second);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->status, fourCharCode("StSz"));
  EXPECT_FALSE(info->id);
  EXPECT_FALSE(info->name);
  EXPECT_FALSE(info->backend);
  EXPECT_FALSE(b.serialPorts->serialPorts(second));

  const UsbDeviceInfo device = b.usb->devices().at(1);
  EXPECT_FALSE(device.name);
  EXPECT_FALSE(device.manufacturerName);
  EXPECT_FALSE(device.vendorId);
  EXPECT_FALSE(device.productId);

  const auto ports = b.serialPorts->serialPorts(*b.machines->byId("A"));
  ASSERT_TRUE(ports && ports->size() == 2);
  EXPECT_FALSE((*ports)[1].address);
}

TEST(WorldJsonTest, NamesTheKeyThatIsWrong) {
  struct Case {
    const char* json;
    const char* mentions;
  };
  const Case cases[] = {
      {R"([])", "JSON object"},
      {R"({"machines": {}})", "machines"},
      {R"({"machines": [{"status": "running"}]})", "machines[0]: status"},
      {R"({"machines": [{}, {"name": 5}]})", "machines[1]: name"},
      {R"({"machines": [{"serialPorts": [{"port": "22"}]}]})", "machines[0].serialPorts[0]: port"},
      {R"({"machines": [{"ipAddresses": ["a", 1]}]})", "ipAddresses"},
      {R"({"machines": [{"processResults": [[{"x": null}]]}]})", "processResults[0][0]: x"},
      {R"({"machines": [{"processResults": [[{"x": {"type": "y", "value": 300}}]]}]})",
       "processResults[0][0]: x"},
      {R"({"machines": [{"processResults": [[{"x": {"type": "as", "value": []}}]]}]})",
       "processResults[0][0]: x"},
      {R"({"usbDevices": [{"vendorId": 18446744073709551615}]})", "usbDevices[0]: vendorId"},
      {R"({"usbDevices": [{"connectedTo": 3}]})", "usbDevices[0]: connectedTo"},
      {R"({"windows": [{"visible": "yes"}]})", "windows[0]: visible"},
  };
  for (const auto& c : cases) {
    auto world = worldFromJson(Json::parse(c.json), "/tmp");
    ASSERT_TRUE(failureOf(world)) << c.json;
    EXPECT_NE(failureOf(world)->message.find(c.mentions), std::string::npos)
        << failureOf(world)->message;
  }
}

// The faults are the fault layer's to read and refuse; the world keeps them as written.
TEST(WorldJsonTest, KeepsTheFaultListAsWritten) {
  const Json faults = Json::parse(R"([{"member": 1}, "anything"])");
  auto world = worldFromJson(Json{{"faults", faults}}, "/tmp");
  ASSERT_TRUE(succeeded(world));
  EXPECT_EQ(std::get<World>(world).faults, faults);
}

TEST(WorldJsonTest, ABrokenFileIsReportedAndLeftAlone) {
  TempFolder folder;
  const auto file = folder.path() / "world.json";
  std::ofstream(file) << "{\"machines\": [";
  auto loaded = loadWorldFile(file);
  ASSERT_TRUE(failureOf(loaded));
  EXPECT_NE(failureOf(loaded)->message.find("not valid JSON"), std::string::npos);
}

TEST(WorldJsonTest, TheDefaultWorldIsATour) {
  TempFolder folder;
  const auto file = folder.path() / "state" / "world.json";
  ASSERT_TRUE(succeeded(createDefaultWorld(file)));
  auto loaded = loadWorldFile(file);
  ASSERT_TRUE(succeeded(loaded));
  const World& world = std::get<World>(loaded);
  std::set<std::uint32_t> states;
  for (const auto& m : world.machines) states.insert(*m.status);
  EXPECT_EQ(states, (std::set<std::uint32_t>{code(QorStatus::stopped), code(QorStatus::started),
                                             code(QorStatus::paused)}));
  const Machine& running = world.machines[0];
  EXPECT_EQ(running.status, code(QorStatus::started));
  EXPECT_FALSE(running.serialPorts->empty());
  EXPECT_TRUE(std::filesystem::exists(world.guestRootOf(running) / "etc" / "hostname"));
  EXPECT_EQ(world.usbDevices[0].vendorId, 0x05AC);
  EXPECT_EQ(world.windows.at(0).name, "Qor");
}

}  // namespace
}  // namespace qor::host
