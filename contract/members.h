#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace qor::contract {

// The host's classes, each one interface under the shared prefix.
enum class ObjectClass {
  application,
  virtualMachine,
  serialPort,
  guestFile,
  guestProcess,
  usbDevice,
  window,
};

// "Application", "VirtualMachine", …: the interface's short name.
std::string_view shortName(ObjectClass objectClass);
std::optional<ObjectClass> classOfShortName(std::string_view shortName);

// A property, read with Properties.Get; `type` is the D-Bus type of its value. Optional ones may
// be left out by a host; settable ones may also be written with Properties.Set.
struct Property {
  ObjectClass objectClass;
  std::string_view name;
  std::string_view type;
  bool optional = false;
  bool settable = false;
};

// A method with the D-Bus signatures of all its in and all its out arguments.
struct Method {
  ObjectClass objectClass;
  std::string_view name;
  std::string_view in;
  std::string_view out;
  // The work may take minutes (a disk copied, memory saved): a client waits for the answer as
  // long as the host is there to give it, not for a fixed time.
  bool lengthy = false;
};

// Every property and method of every class, one entry each. Both sides use these entries: the
// client builds its requests from them and the host's dispatch is keyed by them.
namespace properties {
// Application
inline constexpr Property kApplicationName{ObjectClass::application, "Name", "s"};
inline constexpr Property kFrontmost{ObjectClass::application, "Frontmost", "b"};
inline constexpr Property kVersion{ObjectClass::application, "Version", "s"};
inline constexpr Property kVirtualMachines{ObjectClass::application, "VirtualMachines", "ao"};
inline constexpr Property kUsbDevices{ObjectClass::application, "UsbDevices", "ao"};
inline constexpr Property kWindows{ObjectClass::application, "Windows", "ao"};
// The connections whose machines are missing from VirtualMachines because they cannot be
// reached now, by URI; empty when the list is whole.
inline constexpr Property kUnreachableConnections{ObjectClass::application,
                                                  "UnreachableConnections", "as"};
// VirtualMachine
inline constexpr Property kMachineId{ObjectClass::virtualMachine, "Id", "s"};
inline constexpr Property kMachineName{ObjectClass::virtualMachine, "Name", "s"};
inline constexpr Property kBackend{ObjectClass::virtualMachine, "Backend", "u"};
inline constexpr Property kStatus{ObjectClass::virtualMachine, "Status", "u"};
inline constexpr Property kSerialPorts{ObjectClass::virtualMachine, "SerialPorts", "ao"};
// SerialPort
inline constexpr Property kPortId{ObjectClass::serialPort, "Id", "x"};
inline constexpr Property kPortInterface{ObjectClass::serialPort, "Interface", "u"};
inline constexpr Property kPortAddress{ObjectClass::serialPort, "Address", "s"};
inline constexpr Property kPortNumber{ObjectClass::serialPort, "Port", "x"};
// The host name of the computer the address is on, "" when it is the host's own: a pty of a
// machine on a remote server is a path on that server. A host without it has only its own.
inline constexpr Property kPortServer{ObjectClass::serialPort, "Server", "s", true};
// UsbDevice
inline constexpr Property kDeviceId{ObjectClass::usbDevice, "Id", "x"};
inline constexpr Property kDeviceName{ObjectClass::usbDevice, "Name", "s"};
inline constexpr Property kManufacturerName{ObjectClass::usbDevice, "ManufacturerName", "s"};
inline constexpr Property kProductName{ObjectClass::usbDevice, "ProductName", "s"};
inline constexpr Property kVendorId{ObjectClass::usbDevice, "VendorId", "x"};
inline constexpr Property kProductId{ObjectClass::usbDevice, "ProductId", "x"};
// The URI of the connection whose server the device is plugged into; "" when the host has only
// one (a host without it, too).
inline constexpr Property kDeviceConnection{ObjectClass::usbDevice, "Connection", "s", true};
// Window
inline constexpr Property kWindowName{ObjectClass::window, "Name", "s"};
inline constexpr Property kWindowIndex{ObjectClass::window, "Index", "x", true, true};
inline constexpr Property kWindowVisible{ObjectClass::window, "Visible", "b", true, true};
}  // namespace properties

namespace methods {
inline constexpr Method kSetAutoTerminate{ObjectClass::application, "SetAutoTerminate", "b", ""};
inline constexpr Method kStart{ObjectClass::virtualMachine, "Start", "bb", "", true};
inline constexpr Method kSuspend{ObjectClass::virtualMachine, "Suspend", "b", "", true};
inline constexpr Method kStop{ObjectClass::virtualMachine, "Stop", "u", "", true};
inline constexpr Method kDelete{ObjectClass::virtualMachine, "Delete", "", "", true};
inline constexpr Method kDuplicate{ObjectClass::virtualMachine, "Duplicate", "a{sv}", "", true};
inline constexpr Method kOpenFile{ObjectClass::virtualMachine, "OpenFile", "sub", "o"};
inline constexpr Method kExecute{ObjectClass::virtualMachine, "Execute", "sasassbb", "o"};
inline constexpr Method kQueryIp{ObjectClass::virtualMachine, "QueryIp", "", "as"};
// (condition, milliseconds) -> whether the condition holds: the host answers as soon as it does,
// else once the milliseconds (at most kWaitForLongestHoldMs) have passed.
inline constexpr Method kWaitFor{ObjectClass::virtualMachine, "WaitFor", "ux", "b"};
inline constexpr Method kRead{ObjectClass::guestFile, "Read", "xuxbb", "s"};
inline constexpr Method kWrite{ObjectClass::guestFile, "Write", "sxubb", ""};
inline constexpr Method kCloseFile{ObjectClass::guestFile, "Close", "", ""};
inline constexpr Method kGetResult{ObjectClass::guestProcess, "GetResult", "", "a{sv}"};
inline constexpr Method kConnect{ObjectClass::usbDevice, "Connect", "o", "", true};
inline constexpr Method kDisconnect{ObjectClass::usbDevice, "Disconnect", "", ""};
inline constexpr Method kCloseWindow{ObjectClass::window, "Close", "us", ""};
}  // namespace methods

// All of them, in the order above.
std::span<const Property* const> allProperties();
std::span<const Method* const> allMethods();

const Property* findProperty(ObjectClass objectClass, std::string_view name);
const Method* findMethod(ObjectClass objectClass, std::string_view name);

}  // namespace qor::contract
