// A host that goes away, never answers, or hands its bus name on in the middle of a command.
#include <fstream>
#include <random>

#include "tests/e2e/fault_matrix.h"

using namespace qor::e2e;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace qor::e2e {

void FaultMatrixTest::writeGuestFile(const std::string& path, const std::string& bytes) const {
  std::ofstream(guestRoot(kGuestId) / path, std::ios::binary) << bytes;
}

std::string FaultMatrixTest::readGuestFile(const std::string& path) const {
  std::ifstream in(guestRoot(kGuestId) / path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> FaultMatrixTest::members() const {
  std::vector<std::string> out;
  for (const auto& request : requests()) out.push_back(request.member);
  return out;
}

void expectOrderlyEnd(const RunResult& result) {
  EXPECT_EQ(result.signal, 0) << "ended by a signal";
  EXPECT_THAT(result.err, ::testing::Not(HasSubstr("[harness: timed out")));
  EXPECT_THAT(result.err, ::testing::Not(HasSubstr("Sanitizer")));
  EXPECT_THAT(result.err, ::testing::Not(HasSubstr("runtime error:")));
}

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(random());
  return bytes;
}

}  // namespace qor::e2e

namespace {

// The bus's answer to a request whose receiver left without replying.
const std::string kRecipientLeft =
    eventLine("VirtualMachine.Status", "org.freedesktop.DBus.Error.NoReply", -1712) +
    "Message recipient disconnected from message bus without replying\n";

class HostExitTest : public FaultMatrixTest {};

TEST_F(HostExitTest, ListShowsTheRowsReceivedAndNoRowsForMachinesNeverAnswered) {
  json world = this->world({{{"member", "Get.Status"}, {"after", 1}, {"action", "exit"}}});
  world["machines"].push_back(vm("99999999-9999-4999-8999-999999999999", "third"));
  setWorld(world);
  const auto result = run({"list"});
  expectOrderlyEnd(result);
  EXPECT_EQ(result.out, std::string(kListHeader) + kGuestId + " started  guest\n");
  EXPECT_EQ(result.err,
            kRecipientLeft + hostGoneLine("VirtualMachine.Id") +
                hostGoneLine("VirtualMachine.Name") + hostGoneLine("VirtualMachine.Status") +
                hostGoneLine("VirtualMachine.Id") + hostGoneLine("VirtualMachine.Name"));
  EXPECT_EQ(result.status, 1);

  // The next command launches a fresh host.
  const auto again = run({"status", kGuestId});
  EXPECT_EQ(again.out, "started\n");
  EXPECT_EQ(again.status, 0);
}

TEST_F(HostExitTest, PullKeepsOnlyTheBytesReceived) {
  setUpWorld({{{"member", "Read"}, {"after", 1}, {"action", "exit"}}});
  const std::string bytes = randomBytes(10000, 1);
  writeGuestFile("big", bytes);
  const auto result = run({"file", "pull", kGuestId, "big"});
  expectOrderlyEnd(result);
  EXPECT_TRUE(result.out == bytes.substr(0, 4096));
  EXPECT_THAT(result.err,
              StartsWith(eventLine("GuestFile.Read", "org.freedesktop.DBus.Error.NoReply", -1712)));
  EXPECT_THAT(result.err, HasSubstr(hostGoneLine("GuestFile.Close")));
  EXPECT_THAT(result.err, EndsWith("Error: The transfer stopped after 4096 bytes; the output is "
                                   "incomplete.\n"));
  EXPECT_EQ(result.status, 1);
}

TEST_F(HostExitTest, PushStopsAndSaysTheGuestFileIsIncomplete) {
  setUpWorld({{{"member", "Write"}, {"after", 1}, {"action", "exit"}}});
  // More than a pipe holds, so qorctl leaves while input is still coming.
  const std::string bytes = randomBytes(1 << 20, 2);
  const auto result = run({"file", "push", kGuestId, "up"}, bytes);
  expectOrderlyEnd(result);
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, StartsWith(eventLine("GuestFile.Write",
                                               "org.freedesktop.DBus.Error.NoReply", -1712)));
  EXPECT_THAT(result.err, EndsWith("Error: The upload stopped after 4096 bytes; the guest file is "
                                   "incomplete.\n"));
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(readGuestFile("up") == bytes.substr(0, 4096));  // what the host wrote before
}

TEST_F(HostExitTest, ExecPollingEndsWithoutAnExitCode) {
  json world = this->world({{{"member", "GetResult"}, {"after", 2}, {"action", "exit"}}});
  world["machines"][0]["processResults"] = json::array({json::array({{{"hasExited", false}}})});
  setWorld(world);
  const auto result = run({"exec", kGuestId, "--cmd", "anything"});
  expectOrderlyEnd(result);
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, StartsWith(eventLine("GuestProcess.GetResult",
                                               "org.freedesktop.DBus.Error.NoReply", -1712)));
  EXPECT_THAT(result.err, EndsWith("Error: The result of the guest program could not be read.\n"));
  EXPECT_EQ(result.status, 1);
}

// The bus answers for a host that never replies once its reply timeout has passed.
class HostHangTest : public FaultMatrixTest {
 protected:
  void SetUp() override {
    FaultMatrixTest::SetUp();
    setReplyTimeoutMs(1000);
  }
  static std::string noReply(const std::string& request) {
    return eventLine(request, "org.freedesktop.DBus.Error.NoReply", -1712);
  }
};

TEST_F(HostHangTest, EachHungRequestEndsItsCommandAsAFailure) {
  struct Case {
    std::vector<std::string> args;
    json fault;
    std::string request;  // the one that hangs
    std::string out;
    std::string errTail;  // the tool's own line after the report, if any
  };
  const std::string bytes = randomBytes(10000, 3);
  const Case cases[] = {
      {{"list"}, {{"member", "Get.VirtualMachines"}}, "Application.VirtualMachines", "", ""},
      {{"status", kGuestId}, {{"member", "Get.Status"}}, "VirtualMachine.Status", "unknown\n", ""},
      {{"stop", kGuestId}, {{"member", "Stop"}}, "VirtualMachine.Stop", "", ""},
      {{"file", "pull", kGuestId, "big"},
       {{"member", "Read"}, {"after", 1}},
       "GuestFile.Read",
       bytes.substr(0, 4096),
       "Error: The transfer stopped after 4096 bytes; the output is incomplete.\n"},
      {{"file", "push", kGuestId, "up"},
       {{"member", "Write"}},
       "GuestFile.Write",
       "",
       "Error: The upload stopped after 0 bytes; the guest file is incomplete.\n"},
      {{"exec", kGuestId, "--cmd", "true"},
       {{"member", "GetResult"}},
       "GuestProcess.GetResult",
       "",
       "Error: The result of the guest program could not be read.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    TearDown();
    SetUp();
    json fault = c.fault;
    fault["action"] = "hang";
    setUpWorld(json::array({fault}));
    writeGuestFile("big", bytes);
    const auto result = run(c.args, bytes);
    expectOrderlyEnd(result);
    EXPECT_TRUE(result.out == c.out) << result.out.size() << " bytes";
    EXPECT_THAT(result.err, StartsWith(noReply(c.request)));
    EXPECT_THAT(result.err, EndsWith(c.errTail));
    EXPECT_EQ(result.status, 1);
    // The host goes on serving: an open guest file is still closed.
    if (c.args[0] == "file") {
      EXPECT_EQ(members().back(), "Close");
    }
    if (c.args[0] == "stop") {
      EXPECT_EQ(readWorld()["machines"][0]["status"], "StSc");
    }
  }
}

class NameOwnerTest : public FaultMatrixTest {};

TEST_F(NameOwnerTest, AHostThatGivesUpItsNameIsNotAskedAgain) {
  // The lookup is answered, then the name has no owner: the stop never reaches a host.
  setUpWorld({{{"member", "Get.Id"}, {"action", "release-name"}}});
  const auto result = run({"stop", kGuestId});
  expectOrderlyEnd(result);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, hostGoneLine("VirtualMachine.Stop"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(readWorld()["machines"][0]["status"], "StSc");
}

TEST_F(NameOwnerTest, ANameLostMidCommandIsNotFilledByALaunch) {
  // The first host was running before qorctl. Only a command's first request may launch a host,
  // so when the name loses its owner later, the rest of the command fails instead of starting a
  // host that knows nothing of the first one's open file.
  setUpWorld({{{"member", "Read"}, {"after", 1}, {"times", 1}, {"action", "release-name"}}});
  const std::string bytes = randomBytes(10000, 4);
  writeGuestFile("big", bytes);
  startHost();
  const auto pull = run({"file", "pull", kGuestId, "big"});
  expectOrderlyEnd(pull);
  EXPECT_TRUE(pull.out == bytes.substr(0, 8192));
  EXPECT_EQ(pull.err, hostGoneLine("GuestFile.Read") + hostGoneLine("GuestFile.Close") +
                          "Error: The transfer stopped after 8192 bytes; the output is "
                          "incomplete.\n");
  EXPECT_EQ(pull.status, 1);
  EXPECT_FALSE(busNameHasOwner());

  // A lookup that spans the loss of the name does not find the machine through a new host.
  TearDown();
  SetUp();
  setUpWorld({{{"member", "Get.VirtualMachines"}, {"times", 1}, {"action", "release-name"}}});
  startHost();
  const auto status = run({"status", kGuestId});
  expectOrderlyEnd(status);
  EXPECT_EQ(status.out, "");
  EXPECT_EQ(status.err, kNotFound);
  EXPECT_EQ(status.status, 1);
  EXPECT_FALSE(busNameHasOwner());
}

}  // namespace
