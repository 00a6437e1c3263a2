#include "host/host.h"

namespace qor::host {

std::string interfaceOf(PathKind kind) {
  const char* name = nullptr;
  switch (kind) {
    case PathKind::kApplication:
      name = "Application";
      break;
    case PathKind::kMachine:
      name = "VirtualMachine";
      break;
    case PathKind::kSerialPort:
      name = "SerialPort";
      break;
    case PathKind::kGuestFile:
      name = "GuestFile";
      break;
    case PathKind::kGuestProcess:
      name = "GuestProcess";
      break;
    case PathKind::kUsbDevice:
      name = "UsbDevice";
      break;
    case PathKind::kWindow:
      name = "Window";
      break;
    default:
      return {};
  }
  return std::string(kInterfacePrefix) + name;
}

std::span<const Host::MethodEntry> Host::methodTable() {
  static const MethodEntry kMethods[] = {
      {PathKind::kApplication, "SetAutoTerminate", "b", "", &Host::setAutoTerminate},
      {PathKind::kMachine, "Start", "bb", "", &Host::start},
      {PathKind::kMachine, "Suspend", "b", "", &Host::suspend},
      {PathKind::kMachine, "Stop", "u", "", &Host::stop},
      {PathKind::kMachine, "Delete", "", "", &Host::deleteMachine},
      {PathKind::kMachine, "Duplicate", "a{sv}", "", &Host::duplicate},
      {PathKind::kMachine, "OpenFile", "sub", "o", &Host::openFile},
      {PathKind::kMachine, "Execute", "sasassbb", "o", &Host::execute},
      {PathKind::kMachine, "QueryIp", "", "as", &Host::queryIp},
      {PathKind::kGuestFile, "Read", "xuxbb", "s", &Host::readFile},
      {PathKind::kGuestFile, "Write", "sxubb", "", &Host::writeFile},
      {PathKind::kGuestFile, "Close", "", "", &Host::closeFile},
      {PathKind::kGuestProcess, "GetResult", "", "a{sv}", &Host::getResult},
      {PathKind::kUsbDevice, "Connect", "o", "", &Host::connectDevice},
      {PathKind::kUsbDevice, "Disconnect", "", "", &Host::disconnectDevice},
      {PathKind::kWindow, "Close", "us", "", &Host::closeWindow},
  };
  return kMethods;
}

std::span<const Host::PropertyEntry> Host::propertyTable() {
  static const PropertyEntry kProperties[] = {
      {PathKind::kApplication, "Name", "s", false},
      {PathKind::kApplication, "Frontmost", "b", false},
      {PathKind::kApplication, "Version", "s", false},
      {PathKind::kApplication, "VirtualMachines", "ao", false},
      {PathKind::kApplication, "UsbDevices", "ao", false},
      {PathKind::kApplication, "Windows", "ao", false},
      {PathKind::kMachine, "Id", "s", false},
      {PathKind::kMachine, "Name", "s", false},
      {PathKind::kMachine, "Backend", "u", false},
      {PathKind::kMachine, "Status", "u", false},
      {PathKind::kMachine, "SerialPorts", "ao", false},
      {PathKind::kSerialPort, "Id", "x", false},
      {PathKind::kSerialPort, "Interface", "u", false},
      {PathKind::kSerialPort, "Address", "s", false},
      {PathKind::kSerialPort, "Port", "x", false},
      {PathKind::kUsbDevice, "Id", "x", false},
      {PathKind::kUsbDevice, "Name", "s", false},
      {PathKind::kUsbDevice, "ManufacturerName", "s", false},
      {PathKind::kUsbDevice, "ProductName", "s", false},
      {PathKind::kUsbDevice, "VendorId", "x", false},
      {PathKind::kUsbDevice, "ProductId", "x", false},
      {PathKind::kWindow, "Name", "s", false},
      {PathKind::kWindow, "Index", "x", true},
      {PathKind::kWindow, "Visible", "b", true},
  };
  return kProperties;
}

const Host::MethodEntry* Host::findMethod(PathKind kind, std::string_view member) {
  for (const auto& m : methodTable()) {
    if (m.kind == kind && m.member == member) return &m;
  }
  return nullptr;
}

const Host::PropertyEntry* Host::findProperty(PathKind kind, std::string_view name) {
  for (const auto& p : propertyTable()) {
    if (p.kind == kind && p.name == name) return &p;
  }
  return nullptr;
}

}  // namespace qor::host
