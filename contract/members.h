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
struct PropertySpec {
  ObjectClass objectClass;
  std::string_view name;
  std::string_view type;
  bool optional = false;
  bool settable = false;
};

// A method with the D-Bus signatures of all its in and all its out arguments.
struct MethodSpec {
  ObjectClass objectClass;
  std::string_view name;
  std::string_view in;
  std::string_view out;
};

// Every property and method of every class, one entry each. Both sides use these entries: the
// client builds its requests from them and the host's dispatch is keyed by them.
namespace properties {
// Application
inline constexpr PropertySpec kApplicationName{ObjectClass::application, "Name", "s"};
inline constexpr PropertySpec kFrontmost{ObjectClass::application, "Frontmost", "b"};
inline constexpr PropertySpec kVersion{ObjectClass::application, "Version", "s"};
inline constexpr PropertySpec kVirtualMachines{ObjectClass::application, "VirtualMachines", "ao"};
inline constexpr PropertySpec kUsbDevices{ObjectClass::application, "UsbDevices", "ao"};
inline constexpr PropertySpec kWindows{ObjectClass::application, "Windows", "ao"};
// VirtualMachine
inline constexpr PropertySpec kMachineId{ObjectClass::virtualMachine, "Id", "s"};
inline constexpr PropertySpec kMachineName{ObjectClass::virtualMachine, "Name", "s"};
inline constexpr PropertySpec kBackend{ObjectClass::virtualMachine, "Backend", "u"};
inline constexpr PropertySpec kStatus{ObjectClass::virtualMachine, "Status", "u"};
inline constexpr PropertySpec kSerialPorts{ObjectClass::virtualMachine, "SerialPorts", "ao"};
// SerialPort
inline constexpr PropertySpec kPortId{ObjectClass::serialPort, "Id", "x"};
inline constexpr PropertySpec kPortInterface{ObjectClass::serialPort, "Interface", "u"};
inline constexpr PropertySpec kPortAddress{ObjectClass::serialPort, "Address", "s"};
inline constexpr PropertySpec kPortNumber{ObjectClass::serialPort, "Port", "x"};
// UsbDevice
inline constexpr PropertySpec kDeviceId{ObjectClass::usbDevice, "Id", "x"};
inline constexpr PropertySpec kDeviceName{ObjectClass::usbDevice, "Name", "s"};
inline constexpr PropertySpec kManufacturerName{ObjectClass::usbDevice, "ManufacturerName", "s"};
inline constexpr PropertySpec kProductName{ObjectClass::usbDevice, "ProductName", "s"};
inline constexpr PropertySpec kVendorId{ObjectClass::usbDevice, "VendorId", "x"};
inline constexpr PropertySpec kProductId{ObjectClass::usbDevice, "ProductId", "x"};
// Window
inline constexpr PropertySpec kWindowName{ObjectClass::window, "Name", "s"};
inline constexpr PropertySpec kWindowIndex{ObjectClass::window, "Index", "x", true, true};
inline constexpr PropertySpec kWindowVisible{ObjectClass::window, "Visible", "b", true, true};
}  // namespace properties

namespace methods {
inline constexpr MethodSpec kSetAutoTerminate{ObjectClass::application, "SetAutoTerminate", "b",
                                              ""};
inline constexpr MethodSpec kStart{ObjectClass::virtualMachine, "Start", "bb", ""};
inline constexpr MethodSpec kSuspend{ObjectClass::virtualMachine, "Suspend", "b", ""};
inline constexpr MethodSpec kStop{ObjectClass::virtualMachine, "Stop", "u", ""};
inline constexpr MethodSpec kDelete{ObjectClass::virtualMachine, "Delete", "", ""};
inline constexpr MethodSpec kDuplicate{ObjectClass::virtualMachine, "Duplicate", "a{sv}", ""};
inline constexpr MethodSpec kOpenFile{ObjectClass::virtualMachine, "OpenFile", "sub", "o"};
inline constexpr MethodSpec kExecute{ObjectClass::virtualMachine, "Execute", "sasassbb", "o"};
inline constexpr MethodSpec kQueryIp{ObjectClass::virtualMachine, "QueryIp", "", "as"};
inline constexpr MethodSpec kRead{ObjectClass::guestFile, "Read", "xuxbb", "s"};
inline constexpr MethodSpec kWrite{ObjectClass::guestFile, "Write", "sxubb", ""};
inline constexpr MethodSpec kCloseFile{ObjectClass::guestFile, "Close", "", ""};
inline constexpr MethodSpec kGetResult{ObjectClass::guestProcess, "GetResult", "", "a{sv}"};
inline constexpr MethodSpec kConnect{ObjectClass::usbDevice, "Connect", "o", ""};
inline constexpr MethodSpec kDisconnect{ObjectClass::usbDevice, "Disconnect", "", ""};
inline constexpr MethodSpec kCloseWindow{ObjectClass::window, "Close", "us", ""};
}  // namespace methods

// All of them, in the order above.
std::span<const PropertySpec* const> allProperties();
std::span<const MethodSpec* const> allMethods();

const PropertySpec* findProperty(ObjectClass objectClass, std::string_view name);
const MethodSpec* findMethod(ObjectClass objectClass, std::string_view name);

}  // namespace qor::contract
