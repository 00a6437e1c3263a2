// Replies of the wrong D-Bus type to every property and result the tool reads, and to the
// requests whose answer it does not use; "no object" where it expects a guest file or process.
#include "tests/e2e/fault_matrix.h"

using namespace qor::e2e;

namespace {

const std::string kWarning = "WARNING: attach command is not implemented yet!\n";
const std::string kTransferStopped =
    "Error: The transfer stopped after 0 bytes; the output is incomplete.\n";
const std::string kUploadStopped =
    "Error: The upload stopped after 0 bytes; the guest file is incomplete.\n";
const std::string kNoResult = "Error: The result of the guest program could not be read.\n";
const std::string kNoDevice = "Error: Device not found.\n";

std::string serialPort(int n) {
  return machinePath(kGuestId) + "/serial/" + std::to_string(n);
}
const std::string kDevice = std::string(kRootPath) + "/usb/0";
const std::string kWindow = std::string(kRootPath) + "/window/1";

// A command line, its words separated by single spaces.
std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t space; (space = line.find(' ', start)) != std::string::npos; start = space + 1) {
    out.push_back(line.substr(start, space - start));
  }
  out.push_back(line.substr(start));
  return out;
}

struct Case {
  std::string command;
  std::string member;  // of the fault
  std::string path;    // the fault's path, when the member alone would catch too much
  std::string out;
  std::string err;
  int status;
  bool worldKept = true;
};

// The request's answer is replaced, so the host did nothing it was asked: the world is as it
// was, unless a later request of the command changed it.
class WrongTypeTest : public FaultMatrixTest {
 protected:
  void check(const Case& c) {
    SCOPED_TRACE(c.command + " / " + c.member + " " + c.path);
    TearDown();
    SetUp();
    json fault = {{"member", c.member}, {"reply", "wrong-type"}};
    if (!c.path.empty()) fault["path"] = c.path;
    setUpWorld(json::array({fault}));
    const json before = readWorld();
    const auto result = run(words(c.command), "data");
    expectOrderlyEnd(result);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
    if (c.worldKept) {
      EXPECT_EQ(readWorld(), before);
    }
    EXPECT_EQ(readGuestFile("f.txt"), "hello");
  }
};

TEST_F(WrongTypeTest, ListsAndTheirProperties) {
  const std::string guestRow = std::string(kGuestId) + " started  guest\n";
  const std::string offRow = std::string(kOffId) + " stopped  off\n";
  const std::string usbRow = " 05AC:024F 4\n";
  const std::string keyboard = "Keyboard" + std::string(24, ' ');
  const Case cases[] = {
      {"list", "Get.VirtualMachines", "", "",
       wrongTypeLine("Application.VirtualMachines", "ao", "s"), 1},
      {"list", "Get.Status", machinePath(kGuestId),
       kListHeader + std::string(kGuestId) + " unknown  guest\n" + offRow,
       wrongTypeLine("VirtualMachine.Status", "u", "s"), 1},
      {"list", "Get.Id", machinePath(kGuestId),
       kListHeader + std::string(" started  guest\n") + offRow,
       wrongTypeLine("VirtualMachine.Id", "s", "i"), 1},
      {"list", "Get.Name", machinePath(kGuestId),
       kListHeader + std::string(kGuestId) + " started  \n" + offRow,
       wrongTypeLine("VirtualMachine.Name", "s", "i"), 1},
      {"usb list", "Get.UsbDevices", "", "", wrongTypeLine("Application.UsbDevices", "ao", "s"), 1},
      {"usb list", "Get.Name", kDevice, kUsbHeader + std::string(32, ' ') + usbRow,
       wrongTypeLine("UsbDevice.Name", "s", "i"), 1},
      {"usb list", "Get.VendorId", "", kUsbHeader + keyboard + " ????:024F 4\n",
       wrongTypeLine("UsbDevice.VendorId", "x", "s"), 1},
      {"usb list", "Get.ProductId", "", kUsbHeader + keyboard + " 05AC:???? 4\n",
       wrongTypeLine("UsbDevice.ProductId", "x", "s"), 1},
      {"usb list", "Get.Id", kDevice, kUsbHeader + keyboard + " 05AC:024F ?\n",
       wrongTypeLine("UsbDevice.Id", "x", "s"), 1},
      {"attach guest", "Get.SerialPorts", "", "",
       wrongTypeLine("VirtualMachine.SerialPorts", "ao", "s"), 1},
      // The port asked for cannot be told: not "no such port", which would end with 0.
      {"attach --index 0 guest", "Get.Id", serialPort(0), "",
       wrongTypeLine("SerialPort.Id", "x", "s"), 1},
      {"attach guest", "Get.Interface", "", kWarning,
       wrongTypeLine("SerialPort.Interface", "u", "s"), 1},
      {"attach guest", "Get.Address", "", kWarning, wrongTypeLine("SerialPort.Address", "s", "i"),
       1},
      {"attach --index 1 guest", "Get.Port", "", kWarning,
       wrongTypeLine("SerialPort.Port", "x", "s"), 1},
  };
  for (const auto& c : cases) check(c);
}

TEST_F(WrongTypeTest, TheLookupsOfAMachineAndADevice) {
  const Case cases[] = {
      {"status guest", "Get.VirtualMachines", "", "",
       wrongTypeLine("Application.VirtualMachines", "ao", "s") + kNotFound, 1},
      // The probes of the lookup fail silently, whatever the reason.
      {"status " + std::string(kGuestId), "Get.Id", "", "", kNotFound, 1},
      {"status guest", "Get.Name", "", "", kNotFound, 1},
      {"status guest", "Get.Status", "", "unknown\n",
       wrongTypeLine("VirtualMachine.Status", "u", "s"), 1},
      {"usb connect guest 5ac:24f", "Get.UsbDevices", "", "",
       wrongTypeLine("Application.UsbDevices", "ao", "s") + kNoDevice, 1},
      {"usb connect guest 5ac:24f", "Get.VendorId", "", "",
       wrongTypeLine("UsbDevice.VendorId", "x", "s") + kNoDevice, 1},
      {"usb disconnect 5ac:24f", "Get.ProductId", "", "",
       wrongTypeLine("UsbDevice.ProductId", "x", "s") + kNoDevice, 1},
      {"usb disconnect 4", "Get.Id", kDevice, "",
       wrongTypeLine("UsbDevice.Id", "x", "s") + kNoDevice, 1},
  };
  for (const auto& c : cases) check(c);
}

TEST_F(WrongTypeTest, GuestFilesProcessesAndAddresses) {
  const Case cases[] = {
      {"file pull guest f.txt", "OpenFile", "", "",
       wrongTypeLine("VirtualMachine.OpenFile", "o", "s") + kNotFound, 1},
      {"file push guest f.txt", "OpenFile", "", "",
       wrongTypeLine("VirtualMachine.OpenFile", "o", "s") + kNotFound, 1},
      {"file pull guest f.txt", "Read", "", "",
       wrongTypeLine("GuestFile.Read", "s", "i") + kTransferStopped, 1},
      {"file push guest new.txt", "Write", "", "",
       wrongTypeLine("GuestFile.Write", "nothing", "s") + kUploadStopped, 1},
      // Every byte arrived, but the file could not be closed.
      {"file pull guest f.txt", "Close", "", "hello",
       wrongTypeLine("GuestFile.Close", "nothing", "s"), 1},
      {"exec guest --cmd true", "Execute", "", "",
       wrongTypeLine("VirtualMachine.Execute", "o", "s") + kNotFound, 1},
      {"exec guest --cmd echo hi", "GetResult", "", "",
       wrongTypeLine("GuestProcess.GetResult", "a{sv}", "s") + kNoResult, 1},
      {"ip-address guest", "QueryIp", "", "", wrongTypeLine("VirtualMachine.QueryIp", "as", "s"),
       1},
  };
  for (const auto& c : cases) check(c);
}

TEST_F(WrongTypeTest, RequestsWhoseAnswerIsNotUsedStillFailWhenItIsWrong) {
  const Case cases[] = {
      {"start off", "Start", "", "", wrongTypeLine("VirtualMachine.Start", "nothing", "s"), 1},
      {"suspend guest", "Suspend", "", "", wrongTypeLine("VirtualMachine.Suspend", "nothing", "s"),
       1},
      {"stop guest", "Stop", "", "", wrongTypeLine("VirtualMachine.Stop", "nothing", "s"), 1},
      {"clone off", "Duplicate", "", "", wrongTypeLine("VirtualMachine.Duplicate", "nothing", "s"),
       1},
      {"delete off", "Delete", "", "", wrongTypeLine("VirtualMachine.Delete", "nothing", "s"), 1},
      {"usb connect guest 4", "Connect", "", "", wrongTypeLine("UsbDevice.Connect", "nothing", "s"),
       1},
      {"usb disconnect 4", "Disconnect", "", "",
       wrongTypeLine("UsbDevice.Disconnect", "nothing", "s"), 1},
  };
  for (const auto& c : cases) check(c);
}

TEST_F(WrongTypeTest, HidingTheWindowIsReportedButDoesNotFailTheCommand) {
  // --hide is a courtesy before the command's own work: that work still happens and decides.
  const Case cases[] = {
      {"status --hide guest", "Get.Windows", "", "started\n",
       wrongTypeLine("Application.Windows", "ao", "s"), 0},
      {"status --hide guest", "Get.Name", kWindow, "started\n",
       wrongTypeLine("Window.Name", "s", "i"), 0},
      {"status --hide guest", "Close", kWindow, "started\n",
       wrongTypeLine("Window.Close", "nothing", "s"), 0},
      // The window is still closed.
      {"status --hide guest", "SetAutoTerminate", "", "started\n",
       wrongTypeLine("Application.SetAutoTerminate", "nothing", "s"), 0, false},
  };
  for (const auto& c : cases) check(c);
}

TEST_F(WrongTypeTest, NoObjectForAFileOrProcessIsNoMachineAndSendsNothingMore) {
  const std::pair<const char*, const char*> cases[] = {{"file pull guest f.txt", "OpenFile"},
                                                       {"file push guest f.txt", "OpenFile"},
                                                       {"exec guest --cmd true", "Execute"}};
  for (const auto& [command, member] : cases) {
    SCOPED_TRACE(command);
    TearDown();
    SetUp();
    setUpWorld(json::array({{{"member", member}, {"reply", "no-object"}}}));
    const auto result = run(words(command), "data");
    expectOrderlyEnd(result);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, kNotFound);  // "no object" is an empty answer, not a failed request
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(members().back(), member);
    EXPECT_EQ(readGuestFile("f.txt"), "hello");
  }
}

}  // namespace
