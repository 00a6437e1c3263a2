// The world and the checks the fault matrix shares: every cell runs qorctl against a host told
// to fail in one way, and asserts what the user sees.
#pragma once

#include <string>

#include "tests/e2e/harness.h"

namespace qor::e2e {

inline constexpr const char* kGuestId = "77777777-7777-4777-8777-777777777777";
inline constexpr const char* kOffId = "88888888-8888-4888-8888-888888888888";
inline constexpr const char* kRootPath = "/org/qor/Scripting1";
inline constexpr const char* kListHeader = "UUID                                 Status   Name\n";
inline constexpr const char* kUsbHeader = "Name                             VID :PID  Location\n";
inline constexpr const char* kNotFound = "Error: Virtual machine not found.\n";

// The line the event error handler writes for a failed request ("VirtualMachine.Status").
inline std::string eventLine(const std::string& request, const std::string& reason, int code) {
  return "Error from event: The request " + request + " failed: " + reason + " (OSStatus error " +
         std::to_string(code) + ".)\n";
}
inline std::string wrongTypeLine(const std::string& request, const std::string& expected,
                                 const std::string& got) {
  return eventLine(request,
                   "the reply has an unexpected type (expected " + expected + ", got " + got + ")",
                   -1700);
}
inline std::string hostGoneLine(const std::string& request) {
  return eventLine(request, "the host is not running and could not be launched", -600);
}

// A started machine "guest" with two serial ports, addresses and a guest file "f.txt"; a
// stopped machine "off"; one USB device held by "guest"; one window named "Qor".
class FaultMatrixTest : public HostTest {
 protected:
  json world(const json& faults = json::array()) const {
    json guest = vm(kGuestId, "guest", "StSc");
    guest["serialPorts"] =
        json::array({{{"id", 0}, {"interface", "PtTy"}, {"address", "/dev/pts/7"}, {"port", 0}},
                     {{"id", 1}, {"interface", "TcP "}, {"address", "127.0.0.1"}, {"port", 4555}}});
    guest["ipAddresses"] = json::array({"192.168.64.9"});
    return {{"machines", {guest, vm(kOffId, "off", "StSa")}},
            {"usbDevices",
             {{{"id", 4},
               {"name", "Keyboard"},
               {"vendorId", 0x5AC},
               {"productId", 0x24F},
               {"connectedTo", kGuestId}}}},
            {"windows", {{{"name", "Qor"}}}},
            {"faults", faults}};
  }

  void setUpWorld(const json& faults) {
    setWorld(world(faults));
    std::filesystem::create_directories(guestRoot(kGuestId));
    writeGuestFile("f.txt", "hello");
  }

  void writeGuestFile(const std::string& path, const std::string& bytes) const;
  std::string readGuestFile(const std::string& path) const;
  std::vector<std::string> members() const;  // the member of every logged request, in order
};

// What every cell asserts whatever the fault: the tool ended by itself (no signal, no harness
// timeout) and no sanitizer reported anything.
void expectOrderlyEnd(const RunResult& result);

std::string randomBytes(std::size_t size, unsigned seed);

}  // namespace qor::e2e
