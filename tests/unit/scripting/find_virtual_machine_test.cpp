#include "scripting/find_virtual_machine.h"

#include <gtest/gtest.h>

#include "contract/object_path.h"
#include "scripting/api_command.h"
#include "scripting/api_error.h"
#include "test_support.h"

namespace qor::scripting {
namespace {

namespace fs = std::filesystem;
using namespace testing;

struct Machine {
  std::string id;
  std::string name;
};

// A host that resolves R/vm/id/E(x) and R/vm/name/E(x) the way every host does: by id, and by
// the first machine in list order with that name.
std::map<std::string, ScriptedHost::Handler> machineHost(const std::vector<Machine>& machines) {
  std::vector<std::string> listed;
  std::map<std::string, ScriptedHost::Handler> ids;
  std::map<std::string, ScriptedHost::Handler> names;
  for (const auto& machine : machines) {
    listed.push_back(contract::machinePathWithID(machine.id));
    ids.emplace(contract::machinePathWithID(machine.id), replyText(machine.id));
    names.emplace(contract::machinePathWithID(machine.id), replyText(machine.name));
  }
  for (const auto& machine : machines) {  // emplace keeps the first machine of a name
    ids.emplace(contract::machinePathWithName(machine.name), replyText(machine.id));
    names.emplace(contract::machinePathWithName(machine.name), replyText(machine.name));
  }
  return {{"Get.VirtualMachines", replyPaths(listed)},
          {"Get.Id", byPath(ids)},
          {"Get.Name", byPath(names)}};
}

class FindVirtualMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeBundle(folder_.path() / "Qor.app", busName_, "host");
    application_ = applicationForBundle(folder_.path() / "Qor.app");
    application_->setDelegate(&delegate_);
  }

  PrivateBus bus_;
  TemporaryFolder folder_;
  const std::string busName_ = uniqueBusName();
  RecordingDelegate delegate_;
  std::unique_ptr<QorApplication> application_;
};

TEST_F(FindVirtualMachineTest, ByIdFirstThenByCompleteNameSilently) {
  ScriptedHost host(busName_, machineHost({{"A1", "Debian"},
                                           {"B2", "A1"},  // a name that is another's id
                                           {"C3", "my \"vm\" \xc3\xa9"}}));
  const struct {
    std::string identifier;
    std::string path;
    std::vector<std::string> requests;  // property read, in order
  } cases[] = {
      {"A1", "/org/qor/Scripting1/vm/id/A1", {"VirtualMachines", "Id"}},
      {"B2", "/org/qor/Scripting1/vm/id/B2", {"VirtualMachines", "Id"}},
      {"Debian", "/org/qor/Scripting1/vm/name/Debian", {"VirtualMachines", "Id", "Name"}},
      {"my \"vm\" \xc3\xa9",
       "/org/qor/Scripting1/vm/name/my_20_22vm_22_20_c3_a9",
       {"VirtualMachines", "Id", "Name"}},
  };
  for (const auto& c : cases) {
    const QorVirtualMachine machine = findVirtualMachine(*application_, c.identifier);
    EXPECT_EQ(machine.path(), c.path) << c.identifier;
    EXPECT_EQ(application_->delegate(), &delegate_) << "delegate put back";
  }
  // The probe by id fails for every name, and is not reported.
  EXPECT_TRUE(delegate_.errors.empty());

  host.stop();
  std::vector<std::string> properties;
  for (const auto& request : host.received()) properties.push_back(textArguments(request).at(1));
  std::vector<std::string> expected;
  for (const auto& c : cases) expected.insert(expected.end(), c.requests.begin(), c.requests.end());
  EXPECT_EQ(properties, expected);
}

TEST_F(FindVirtualMachineTest, NoMatchRaisesNotFoundWithoutAReport) {
  ScriptedHost host(busName_, machineHost({{"A1", "Debian"}}));
  for (const std::string identifier : {"debian", "Debian ", " Debian", "", "a1", "\xff\xfe"}) {
    application_->setDelegate(&delegate_);
    try {
      findVirtualMachine(*application_, identifier);
      ADD_FAILURE() << "found " << identifier;
    } catch (const APIError& error) {
      EXPECT_EQ(error.which(), APIError::Case::virtualMachineNotFound) << identifier;
    }
  }
  EXPECT_TRUE(delegate_.errors.empty());
}

// A host that finds a UUID in either case (libvirt does) and answers its own spelling of it.
TEST_F(FindVirtualMachineTest, AUuidMatchesInEitherCaseANameDoesNot) {
  const std::string upper = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
  const std::string lower = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";
  const std::string mixed = "0f1E2d3C-4b5A-6978-8796-a5B4c3D2e1F0";
  auto handlers = machineHost({{upper, "Debian"}, {"B2", "Ubuntu"}});
  // The case-insensitive lookup by id, as the host does it.
  handlers["Get.Id"] = byPath({{contract::machinePathWithID(upper), replyText(upper)},
                               {contract::machinePathWithID(lower), replyText(upper)},
                               {contract::machinePathWithID(mixed), replyText(upper)},
                               {contract::machinePathWithID("b2"), replyText("B2")},
                               {contract::machinePathWithName("Debian"), replyText(upper)}});
  ScriptedHost host(busName_, handlers);
  for (const auto& identifier : {upper, lower, mixed}) {
    const QorVirtualMachine machine = findVirtualMachine(*application_, identifier);
    EXPECT_EQ(machine.path(), contract::machinePathWithID(identifier)) << identifier;
  }
  // "b2" is no UUID: an id the host folded to "B2" is still not the one asked for.
  for (const std::string& identifier :
       std::vector<std::string>{"b2", "debian", lower + " ", lower.substr(1)}) {
    EXPECT_THROW(findVirtualMachine(*application_, identifier), APIError) << identifier;
  }
}

// A host that can say why a name selects nothing (machines on two of its connections share it,
// a connection is out of reach): the reason of the name probe reaches the user, the id probe's
// "no such object" never does.
TEST_F(FindVirtualMachineTest, TheNameProbesReasonIsReportedThenNotFound) {
  const std::string shared = "Machines on a and b share the name 'web', so it names none of them";
  auto handlers = machineHost({{"A1", "web"}, {"B2", "web"}});
  handlers["Get.Id"] = byPath({{contract::machinePathWithName("web"),
                                replyError("org.freedesktop.DBus.Error.InvalidArgs", shared)}});
  handlers["Get.Name"] = handlers["Get.Id"];
  ScriptedHost host(busName_, handlers);
  try {
    findVirtualMachine(*application_, "web");
    ADD_FAILURE() << "found web";
  } catch (const APIError& error) {
    EXPECT_EQ(error.which(), APIError::Case::virtualMachineNotFound);
  }
  ASSERT_EQ(delegate_.errors.size(), 1u);
  EXPECT_NE(delegate_.errors[0].localizedDescription.find("VirtualMachine.Name"),
            std::string::npos);
  EXPECT_EQ(std::get<std::string>(delegate_.errors[0].userInfo.at("ErrorString")), shared);
  EXPECT_EQ(application_->delegate(), &delegate_);
}

TEST_F(FindVirtualMachineTest, AListThatCannotBeReadIsReportedThenNotFound) {
  for (const auto& answer :
       {replyError("org.qor.Scripting1.Error.Failed", "The host is shutting down."),
        replyVariant("s", [](sd_bus_message* m) { return sd_bus_message_append(m, "s", "A1"); })}) {
    const std::string name = uniqueBusName();
    writeBundle(folder_.path() / "Other.app", name, "host");
    auto application = applicationForBundle(folder_.path() / "Other.app");
    RecordingDelegate delegate;
    application->setDelegate(&delegate);
    ScriptedHost host(name, {{"Get.VirtualMachines", answer}});

    EXPECT_THROW(findVirtualMachine(*application, "A1"), APIError);
    ASSERT_EQ(delegate.errors.size(), 1u);
    EXPECT_NE(delegate.errors[0].localizedDescription.find("Application.VirtualMachines"),
              std::string::npos);
    host.stop();
    EXPECT_EQ(host.count(), 1u);  // no probe follows a missing list
  }
}

}  // namespace
}  // namespace qor::scripting
