#include "host/core/router.h"

#include <gtest/gtest.h>

#include <map>

#include "contract/object_path.h"
#include "host/core/handles.h"
#include "host/core/held_waits.h"
#include "host/objects/routes.h"

namespace qor::host {
namespace {

using contract::ObjectClass;

// Two machines: "M1" named by its id, and one without an id, named by its key.
class TwoMachines : public Machines {
 public:
  Result<Done> reachable() override { return Done{}; }
  std::vector<MachineKey> list() override { return {1, 2}; }
  std::optional<MachineKey> byId(std::string_view id) override {
    return id == "M1" ? std::optional<MachineKey>(1) : std::nullopt;
  }
  std::optional<MachineKey> byName(std::string_view) override { return std::nullopt; }
  std::optional<MachineInfo> info(MachineKey key) override {
    if (key == 1) return MachineInfo{1, "M1", "One", {}, {}};
    if (key == 2) return MachineInfo{2, std::nullopt, "Two", {}, {}};
    return std::nullopt;
  }
  void start(MachineKey, bool, bool, Completion<Done>) override {}
  void suspend(MachineKey, bool, Completion<Done>) override {}
  void stop(MachineKey, std::uint32_t, Completion<Done>) override {}
  void remove(MachineKey, Completion<Done>) override {}
  void duplicate(MachineKey, std::optional<std::string>, Completion<Done>) override {}
};

class RouterTest : public ::testing::Test {
 protected:
  TwoMachines machines_;
  HandleOwners handles_;
  Backends backends_{&machines_};
  HeldWaits waits_{backends_, nullptr};
  ApplicationState application_;
  Router router_{objects::routes()};
  Context context_{backends_, handles_, waits_, application_, router_};
};

TEST_F(RouterTest, NamesTheObjectOfEveryForm) {
  struct Case {
    const char* path;
    std::optional<ObjectClass> objectClass;  // nullopt: an inner node
    const char* machineText;
    std::uint64_t element;
  };
  const Case cases[] = {
      {"/org/qor/Scripting1", ObjectClass::application, "", 0},
      {"/org/qor/Scripting1/vm/id/A1_2d2", ObjectClass::virtualMachine, "A1-2", 0},
      {"/org/qor/Scripting1/vm/name/_", ObjectClass::virtualMachine, "", 0},
      {"/org/qor/Scripting1/vm/key/7", ObjectClass::virtualMachine, "7", 0},
      {"/org/qor/Scripting1/vm/name/Debian/serial/1", ObjectClass::serialPort, "Debian", 1},
      {"/org/qor/Scripting1/vm/id/X/file/12", ObjectClass::guestFile, "X", 12},
      {"/org/qor/Scripting1/vm/id/X/process/3", ObjectClass::guestProcess, "X", 3},
      {"/org/qor/Scripting1/usb/0", ObjectClass::usbDevice, "", 0},
      {"/org/qor/Scripting1/window/4", ObjectClass::window, "", 4},
      {"/", std::nullopt, "", 0},
      {"/org/qor/Scripting1/vm/id", std::nullopt, "", 0},
      {"/org/qor/Scripting1/vm/id/X/serial", std::nullopt, "X", 0},
  };
  for (const auto& c : cases) {
    const ParsedPath p = router_.parse(c.path);
    if (c.objectClass) {
      ASSERT_EQ(p.kind, ParsedPath::Kind::object) << c.path;
      EXPECT_EQ(p.route->objectClass, *c.objectClass) << c.path;
    } else {
      EXPECT_EQ(p.kind, ParsedPath::Kind::node) << c.path;
    }
    EXPECT_EQ(p.captures.machineText, c.machineText) << c.path;
    EXPECT_EQ(p.captures.element, c.element) << c.path;
  }
}

TEST_F(RouterTest, MalformedPathsNameNothing) {
  for (const char* path :
       {"/org/qor/Scripting10", "/org/qor/Scripting1/", "/org/qor/Scripting1/vm/uuid/X",
        "/org/qor/Scripting1/vm/id/_zz", "/org/qor/Scripting1/vm/id/X/disk/1",
        "/org/qor/Scripting1/vm/id/X/serial/01", "/org/qor/Scripting1/vm/id/X/serial/-1",
        "/org/qor/Scripting1/vm/id/X/serial/1/2", "/org/qor/Scripting1/usb/x",
        "/org/qor/Scripting1/vm/key/abc", "/elsewhere", "", "/org/", "//",
        "/org/qor/Scripting1//vm", "/org/qor/Scripting1/usb/0/1"}) {
    EXPECT_EQ(router_.parse(path).kind, ParsedPath::Kind::none) << path;
  }
}

// Every path the host builds reads back as the same object, and the client's own path for a
// machine is the host's.
TEST_F(RouterTest, BuiltPathsParseBackToTheirObject) {
  for (const MachineKey key : {MachineKey{1}, MachineKey{2}}) {
    const auto machine = machines_.info(key);
    const std::string vm = router_.machinePath(context_, *machine);
    for (const auto& route : router_.routes()) {
      const std::string path = router_.pathOf(route.objectClass, vm, 42);
      const ParsedPath p = router_.parse(path);
      ASSERT_EQ(p.kind, ParsedPath::Kind::object) << path;
      EXPECT_EQ(p.route, &route) << path;
      if (p.namesMachine) {
        EXPECT_EQ(router_.machineOf(context_, p.captures), key) << path;
      }
    }
  }
  EXPECT_EQ(router_.machinePath(context_, *machines_.info(1)), contract::machinePathWithID("M1"));
  EXPECT_EQ(router_.machinePath(context_, *machines_.info(2)), "/org/qor/Scripting1/vm/key/2");
  EXPECT_EQ(router_.parse(contract::machinePathWithName("a b")).captures.machineText, "a b");
}

TEST_F(RouterTest, NodesListTheirChildrenFromTheTable) {
  const std::map<std::string, std::vector<std::string>> cases = {
      {"/", {"org"}},
      {"/org", {"qor"}},
      {"/org/qor", {"Scripting1"}},
      {"/org/qor/Scripting1", {"vm", "usb", "window"}},
      {"/org/qor/Scripting1/vm", {"id", "name", "key"}},
      {"/org/qor/Scripting1/vm/id", {"M1"}},
      {"/org/qor/Scripting1/vm/key", {"2"}},
      {"/org/qor/Scripting1/vm/name", {}},
      {"/org/qor/Scripting1/vm/id/M1", {"serial", "file", "process"}},
      {"/org/qor/Scripting1/vm/id/M1/serial", {}},  // no serial-port concern here
  };
  for (const auto& [path, children] : cases) {
    auto listed = router_.children(context_, router_.parse(path), "");
    ASSERT_TRUE(succeeded(listed)) << path;
    EXPECT_EQ(std::get<std::vector<std::string>>(listed), children) << path;
  }
  auto missing = router_.children(context_, router_.parse("/org/qor/Scripting1/vm/id/M9/file"), "");
  ASSERT_FALSE(succeeded(missing));
  EXPECT_EQ(failureOf(missing)->kind, HostErrorKind::noObject);
}

// Every member of the contract has its row, in the contract's order, and nothing else does.
TEST(RouteTableTest, EveryContractMemberHasARow) {
  std::vector<const contract::Property*> properties;
  std::vector<const contract::Method*> methods;
  for (const auto& route : objects::routes()) {
    for (const auto& row : route.properties) {
      EXPECT_EQ(row.declared->objectClass, route.objectClass) << row.declared->name;
      EXPECT_TRUE(row.get) << row.declared->name;
      EXPECT_EQ(row.set != nullptr, row.declared->settable) << row.declared->name;
      properties.push_back(row.declared);
    }
    for (const auto& row : route.methods) {
      EXPECT_EQ(row.declared->objectClass, route.objectClass) << row.declared->name;
      EXPECT_TRUE(row.handler) << row.declared->name;
      methods.push_back(row.declared);
    }
  }
  const auto allProperties = contract::allProperties();
  const auto allMethods = contract::allMethods();
  EXPECT_EQ(properties,
            std::vector<const contract::Property*>(allProperties.begin(), allProperties.end()));
  EXPECT_EQ(methods, std::vector<const contract::Method*>(allMethods.begin(), allMethods.end()));
}

}  // namespace
}  // namespace qor::host
