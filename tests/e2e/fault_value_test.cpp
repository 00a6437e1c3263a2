// Answers of the right type with contents the tool cannot use: element lists naming objects of
// another class, a file or process object of another class, chunks that are not base64, and
// result records holding values of any type.
#include "tests/e2e/fault_matrix.h"

using namespace qor::e2e;
using ::testing::HasSubstr;

namespace {

const std::string kDevice = std::string(kRootPath) + "/usb/0";
const std::string kWarning = "WARNING: attach command is not implemented yet!\n";
const std::string kUnknownInterface =
    "org.freedesktop.DBus.Error.UnknownInterface (OSStatus "
    "error -1728.)";

class ValueFaultTest : public FaultMatrixTest {
 protected:
  RunResult runWith(const json& faults, const std::vector<std::string>& args) {
    TearDown();
    SetUp();
    setUpWorld(faults);
    const auto result = run(args);
    expectOrderlyEnd(result);
    return result;
  }
  static json answer(const std::string& member, const json& value) {
    return json::array({{{"member", member}, {"value", value}}});
  }
};

TEST_F(ValueFaultTest, ElementListsNamingObjectsOfAnotherClass) {
  const std::string guestRow = std::string(kGuestId) + " started  guest\n";
  // A device and a machine that does not exist are listed as machines: no row is made up for
  // them, and the list fails.
  auto result =
      runWith(answer("Get.VirtualMachines", {kDevice, machinePath(kGuestId), machinePath("gone")}),
              {"list"});
  EXPECT_EQ(result.out, kListHeader + guestRow);
  EXPECT_THAT(result.err, HasSubstr("Error from event: The request VirtualMachine.Status failed: " +
                                    kUnknownInterface));
  EXPECT_THAT(result.err, HasSubstr("Error from event: The request VirtualMachine.Name failed: "
                                    "org.freedesktop.DBus.Error.UnknownObject"));
  EXPECT_EQ(result.status, 1);

  result = runWith(answer("Get.UsbDevices", {machinePath(kGuestId)}), {"usb", "list"});
  EXPECT_EQ(result.out, kUsbHeader);
  EXPECT_THAT(result.err, HasSubstr("UsbDevice.Name failed: " + kUnknownInterface));
  EXPECT_EQ(result.status, 1);

  result = runWith(answer("Get.UsbDevices", {machinePath(kGuestId)}), {"usb", "disconnect", "4"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            eventLine("UsbDevice.Id", "org.freedesktop.DBus.Error.UnknownInterface", -1728) +
                "The object has no interface org.qor.Scripting1.UsbDevice.\n"
                "Error: Device not found.\n");
  EXPECT_EQ(result.status, 1);

  result = runWith(answer("Get.SerialPorts", {kDevice}), {"attach", kGuestId});
  EXPECT_EQ(result.out, kWarning);
  EXPECT_THAT(result.err, HasSubstr("SerialPort.Interface failed: " + kUnknownInterface));
  EXPECT_EQ(result.status, 1);

  // Hiding passes over what is no window; the command's own work decides.
  result = runWith(answer("Get.Windows", {machinePath(kGuestId)}), {"status", "--hide", kGuestId});
  EXPECT_EQ(result.out, "started\n");
  EXPECT_THAT(result.err, HasSubstr("Window.Name failed: " + kUnknownInterface));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readWorld()["windows"].size(), 1u);

  // An empty list is a list.
  result = runWith(answer("Get.VirtualMachines", json::array()), {"list"});
  EXPECT_EQ(result.out, kListHeader);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

TEST_F(ValueFaultTest, AFileOrProcessOfAnotherClassEndsTheCommandAsAFailure) {
  auto result = runWith(answer("OpenFile", machinePath(kGuestId)), {"file", "pull", kGuestId, "x"});
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, HasSubstr("GuestFile.Read failed: " + kUnknownInterface));
  EXPECT_THAT(result.err, testing::EndsWith("Error: The transfer stopped after 0 bytes; the "
                                            "output is incomplete.\n"));
  EXPECT_EQ(result.status, 1);

  result = runWith(answer("Execute", kDevice), {"exec", kGuestId, "--cmd", "true"});
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, HasSubstr("GuestProcess.GetResult failed: " + kUnknownInterface));
  EXPECT_THAT(result.err,
              testing::EndsWith("Error: The result of the guest program could not be read.\n"));
  EXPECT_EQ(result.status, 1);
}

TEST_F(ValueFaultTest, AChunkThatIsNotBase64StopsThePullAfterTheBytesReceived) {
  const std::string bytes = randomBytes(10000, 5);
  for (const char* chunk : {"not base64!", "aGVsbG8", "aGVs\nbG8=", "=aGVsbG8", "aGVs bG8="}) {
    SCOPED_TRACE(chunk);
    TearDown();
    SetUp();
    setUpWorld(json::array({{{"member", "Read"}, {"after", 1}, {"value", chunk}}}));
    writeGuestFile("big", bytes);
    const auto result = run({"file", "pull", kGuestId, "big"});
    expectOrderlyEnd(result);
    EXPECT_TRUE(result.out == bytes.substr(0, 4096));
    EXPECT_EQ(result.err,
              "Error: The guest sent a chunk that is not valid base64. The transfer stopped after "
              "4096 bytes; the output is incomplete.\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(members().back(), "Close");
  }
}

TEST_F(ValueFaultTest, ResultRecordsOfAnyTypeAreReadAsDocumented) {
  struct Case {
    json record;
    std::string out;
    int status;
  };
  const Case cases[] = {
      // An exit code beyond every signed type never reads as success.
      {{{"hasExited", true}, {"exitCode", {{"type", "t"}, {"value", 18446744073709551615u}}}},
       "",
       255},
      {{{"hasExited", true}, {"exitCode", {{"type", "d"}, {"value", 3.0}}}}, "", 0},
      // A hasExited that is no Boolean ends the waiting, also for a program still running.
      {{{"hasExited", {{"type", "y"}, {"value", 0}}}, {"exitCode", {{"type", "n"}, {"value", 9}}}},
       "",
       9},
      {{{"hasExited", true}, {"exitCode", 0}, {"outputData", {{"type", "o"}, {"value", "/aGk"}}}},
       "",
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.record.dump());
    const auto result = runWith(answer("GetResult", c.record), {"exec", kGuestId, "--cmd", "true"});
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, c.status);
  }
}

}  // namespace
