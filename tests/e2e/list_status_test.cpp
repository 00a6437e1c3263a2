#include "tests/e2e/harness.h"

using namespace qor::e2e;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr const char* kHeader = "UUID                                 Status   Name\n";
constexpr const char* kIdA = "11111111-1111-4111-8111-111111111111";
constexpr const char* kIdB = "22222222-2222-4222-8222-222222222222";

class ListStatusTest : public HostTest {};

TEST_F(ListStatusTest, ListPrintsOneRowPerMachineInHostOrder) {
  const char* codes[] = {"StSa", "StSb", "StSc", "StSd", "StSe", "StSf", "StSg"};
  json machines = json::array();
  for (int i = 0; i < 7; ++i) {
    machines.push_back(vm("00000000-0000-4000-8000-00000000000" + std::to_string(i),
                          "vm " + std::to_string(i), codes[i]));
  }
  machines.push_back({{"id", "00000000-0000-4000-8000-000000000007"},
                      {"name", "Ünïcode \"quoted\" name"},
                      {"status", 0x12345678}});
  machines.push_back(vm("00000000-0000-4000-8000-000000000008", "vm 0", "StSa"));  // same name
  setWorld({{"machines", machines}});

  const auto result = run({"list"});
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            std::string(kHeader) +
                "00000000-0000-4000-8000-000000000000 stopped  vm 0\n"
                "00000000-0000-4000-8000-000000000001 starting vm 1\n"
                "00000000-0000-4000-8000-000000000002 started  vm 2\n"
                "00000000-0000-4000-8000-000000000003 pausing  vm 3\n"
                "00000000-0000-4000-8000-000000000004 paused   vm 4\n"
                "00000000-0000-4000-8000-000000000005 resuming vm 5\n"
                "00000000-0000-4000-8000-000000000006 stopping vm 6\n"
                "00000000-0000-4000-8000-000000000007 unknown  Ünïcode \"quoted\" name\n"
                "00000000-0000-4000-8000-000000000008 stopped  vm 0\n");
}

TEST_F(ListStatusTest, ListAsksStatusIdNameForEachMachineAndNothingElse) {
  setWorld({{"machines", {vm(kIdA, "a"), vm(kIdB, "b")}}});
  ASSERT_EQ(run({"list"}).status, 0);
  EXPECT_THAT(labels(),
              ElementsAre("Get Application.VirtualMachines", "Get VirtualMachine.Status",
                          "Get VirtualMachine.Id", "Get VirtualMachine.Name",
                          "Get VirtualMachine.Status", "Get VirtualMachine.Id",
                          "Get VirtualMachine.Name", "Get Application.UnreachableConnections"));
  EXPECT_EQ(requests()[1].path, machinePath(kIdA));
  EXPECT_EQ(requests()[4].path, machinePath(kIdB));
}

TEST_F(ListStatusTest, ListOfNoMachinesIsTheHeaderAlone) {
  setWorld({{"machines", json::array()}});
  const auto result = run({"list"});
  EXPECT_EQ(result.out, kHeader);
  EXPECT_EQ(result.status, 0);
}

TEST_F(ListStatusTest, AFailedListIsReportedAndFailsInsteadOfReadingAsEmpty) {
  setWorld({{"machines", {vm(kIdA, "a")}},
            {"faults",
             {{{"member", "Get.VirtualMachines"},
               {"error", "org.qor.Scripting1.Error.Failed"},
               {"message", "The library is locked."}}}}});
  const auto result = run({"list"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "Error from event: The request Application.VirtualMachines failed: "
            "org.qor.Scripting1.Error.Failed (OSStatus error -10000.)\n"
            "The library is locked.\n");
  EXPECT_EQ(result.status, 1);
}

TEST_F(ListStatusTest, AListOfTheWrongTypeIsAFailedRequest) {
  setWorld({{"machines", {vm(kIdA, "a")}},
            {"faults", {{{"member", "Get.VirtualMachines"}, {"reply", "wrong-type"}}}}});
  const auto result = run({"list"});
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, HasSubstr("(OSStatus error -1700.)"));
  EXPECT_EQ(result.status, 1);
}

TEST_F(ListStatusTest, StatusFindsByIdThenByNameExactly) {
  // The second machine is named with the first one's id: the id wins.
  setWorld({{"machines",
             {vm(kIdA, "alpha", "StSe"), vm(kIdB, kIdA, "StSa"), vm("x", "Café", "StSc"),
              vm("ABCDEF01-2345-4678-89AB-CDEF01234567", "upper", "StSc"),
              vm("fedcba98-7654-4321-8fed-cba987654321", "lower", "StSa")}}});
  struct Case {
    std::string identifier;
    std::string out;
    int status;
  };
  const Case cases[] = {
      {kIdA, "paused\n", 0},
      {"alpha", "paused\n", 0},
      {kIdB, "stopped\n", 0},
      {"Cafe\xCC\x81", "started\n", 0},  // canonically equivalent to "Café"
      {"Alpha", "", 1},                  // case differs
      {"alpha ", "", 1},                 // not trimmed
      {"", "", 1},
      // A UUID is found whatever the case of its letters (virsh prints lower case); other ids
      // and names are compared exactly.
      {"abcdef01-2345-4678-89ab-cdef01234567", "started\n", 0},
      {"AbCdEf01-2345-4678-89aB-CdEf01234567", "started\n", 0},
      {"FEDCBA98-7654-4321-8FED-CBA987654321", "stopped\n", 0},
      {"X", "", 1},
      {"UPPER", "", 1},
      {"abcdef01-2345-4678-89ab-cdef0123456", "", 1},  // one digit short
  };
  for (const auto& c : cases) {
    const auto result = run({"status", c.identifier});
    EXPECT_EQ(result.out, c.out) << c.identifier;
    EXPECT_EQ(result.status, c.status) << c.identifier;
    EXPECT_EQ(result.err, c.status == 0 ? "" : "Error: Virtual machine not found.\n")
        << c.identifier;
  }
}

TEST_F(ListStatusTest, StatusReadsListThenProbesThenStatus) {
  setWorld({{"machines", {vm(kIdA, "alpha", "StSg")}}});
  const auto result = run({"status", "-d", "alpha"});
  EXPECT_EQ(result.out, "stopping\n");
  EXPECT_EQ(result.err, "");  // the failed probe by id is silent
  EXPECT_THAT(labels(), ElementsAre("Get Application.VirtualMachines", "Get VirtualMachine.Id",
                                    "Get VirtualMachine.Name", "Get VirtualMachine.Status"));
  EXPECT_EQ(requests()[1].path, "/org/qor/Scripting1/vm/id/alpha");
  EXPECT_EQ(requests()[2].path, "/org/qor/Scripting1/vm/name/alpha");
}

TEST_F(ListStatusTest, StatusOfAnUnknownCodeIsUnknown) {
  setWorld({{"machines", {{{"id", kIdA}, {"name", "a"}, {"status", 7}}}}});
  const auto result = run({"status", kIdA});
  EXPECT_EQ(result.out, "unknown\n");
  EXPECT_EQ(result.status, 0);
}

TEST_F(ListStatusTest, AFailedStatusReadIsReportedAndFails) {
  setWorld({{"machines", {vm(kIdA, "a")}},
            {"faults",
             {{{"member", "Get.Status"},
               {"error", "org.qor.Scripting1.Error.Failed"},
               {"message", ""}}}}});
  const auto result = run({"status", kIdA});
  EXPECT_EQ(result.out, "unknown\n");
  EXPECT_EQ(result.err,
            "Error from event: The request VirtualMachine.Status failed: "
            "org.qor.Scripting1.Error.Failed (OSStatus error -10000.)\n");
  EXPECT_EQ(result.status, 1);
}

TEST_F(ListStatusTest, WithoutASessionBusEveryRequestCarriesTheNote) {
  RunOptions noBus;
  noBus.withBus = false;
  const auto list = run({"list"}, noBus);
  EXPECT_EQ(list.out, "");
  EXPECT_THAT(list.err, HasSubstr("Error from event: The request Application.VirtualMachines "
                                  "failed: no session bus (OSStatus error -1743.)\n"));
  EXPECT_THAT(list.err,
              HasSubstr("NOTE: qorctl does not work from SSH sessions or before logging in.\n"));
  EXPECT_EQ(list.status, 1);

  const auto status = run({"status", "alpha"}, noBus);
  EXPECT_THAT(status.err, HasSubstr("NOTE: qorctl does not work"));
  EXPECT_THAT(status.err, testing::EndsWith("Error: Virtual machine not found.\n"));
  EXPECT_EQ(status.status, 1);
}

TEST_F(ListStatusTest, HideClosesOnlyTheFirstWindowNamedQor) {
  setWorld({{"machines", {vm(kIdA, "a")}},
            {"windows", {{{"name", "Library"}}, {{"name", "Qor"}}, {{"name", "Qor"}}}}});
  const auto result = run({"status", "--hide", "--debug", kIdA});
  EXPECT_EQ(result.out, "started\n");
  EXPECT_EQ(result.status, 0);
  const auto all = labels();
  ASSERT_GE(all.size(), 6u);
  EXPECT_EQ(all[0], "Application.SetAutoTerminate [false]");
  EXPECT_EQ(all[1], "Get Application.Windows");
  EXPECT_EQ(all[2], "Get Window.Name");
  EXPECT_EQ(all[3], "Get Window.Name");
  EXPECT_EQ(all[4], "Window.Close [1852776480,\"\"]");  // 'no  '
  EXPECT_EQ(all[5], "Get Application.VirtualMachines");
  EXPECT_EQ(readWorld()["windows"].size(), 2u);
  EXPECT_EQ(readWorld()["windows"][1]["name"], "Qor");
}

TEST_F(ListStatusTest, HideWithoutAQorWindowStillTurnsOffAutoTermination) {
  setWorld({{"machines", json::array()}, {"windows", json::array()}});
  ASSERT_EQ(run({"list", "--hide"}).status, 0);
  EXPECT_THAT(labels(), ElementsAre("Application.SetAutoTerminate [false]",
                                    "Get Application.Windows", "Get Application.VirtualMachines",
                                    "Get Application.UnreachableConnections"));
}

}  // namespace
