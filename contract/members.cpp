#include "contract/members.h"

#include <array>

namespace qor::contract {
namespace {

constexpr std::array<std::pair<ObjectClass, std::string_view>, 7> kShortNames{{
    {ObjectClass::application, "Application"},
    {ObjectClass::virtualMachine, "VirtualMachine"},
    {ObjectClass::serialPort, "SerialPort"},
    {ObjectClass::guestFile, "GuestFile"},
    {ObjectClass::guestProcess, "GuestProcess"},
    {ObjectClass::usbDevice, "UsbDevice"},
    {ObjectClass::window, "Window"},
}};

using namespace properties;
using namespace methods;

constexpr std::array<const Property*, 27> kProperties{
    &kApplicationName,
    &kFrontmost,
    &kVersion,
    &kVirtualMachines,
    &kUsbDevices,
    &kWindows,
    &kUnreachableConnections,
    &kMachineId,
    &kMachineName,
    &kBackend,
    &kStatus,
    &kSerialPorts,
    &kPortId,
    &kPortInterface,
    &kPortAddress,
    &kPortNumber,
    &kPortServer,
    &kDeviceId,
    &kDeviceName,
    &kManufacturerName,
    &kProductName,
    &kVendorId,
    &kProductId,
    &kDeviceConnection,
    &kWindowName,
    &kWindowIndex,
    &kWindowVisible,
};

constexpr std::array<const Method*, 17> kMethods{
    &kSetAutoTerminate, &kStart,     &kSuspend, &kStop,       &kDelete,      &kDuplicate,
    &kOpenFile,         &kExecute,   &kQueryIp, &kWaitFor,    &kRead,        &kWrite,
    &kCloseFile,        &kGetResult, &kConnect, &kDisconnect, &kCloseWindow,
};

}  // namespace

std::string_view shortName(ObjectClass objectClass) {
  for (const auto& [c, name] : kShortNames) {
    if (c == objectClass) return name;
  }
  return {};
}

std::optional<ObjectClass> classOfShortName(std::string_view name) {
  for (const auto& [c, n] : kShortNames) {
    if (n == name) return c;
  }
  return std::nullopt;
}

std::span<const Property* const> allProperties() {
  return kProperties;
}
std::span<const Method* const> allMethods() {
  return kMethods;
}

const Property* findProperty(ObjectClass objectClass, std::string_view name) {
  for (const auto* p : kProperties) {
    if (p->objectClass == objectClass && p->name == name) return p;
  }
  return nullptr;
}

const Method* findMethod(ObjectClass objectClass, std::string_view name) {
  for (const auto* m : kMethods) {
    if (m->objectClass == objectClass && m->name == name) return m;
  }
  return nullptr;
}

}  // namespace qor::contract
